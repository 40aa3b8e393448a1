// The closing texts of an apply, written once for the console and the Win32 front end.
#include "apply/outcome.h"

std::string RefusalText(const std::string& apply_failure) {
    return "The upgrade cannot be applied: " + apply_failure + ".";
}

std::vector<std::string> IncompleteCommitReport(const std::vector<CommitFailure>& failures, size_t listed,
                                                std::string (*shown)(const std::string&)) {
    std::vector<std::string> lines{"The upgrade has been applied, but these files could not be put in place:"};
    bool kept = false, left = false, lost = false;
    for (size_t i = 0; i < failures.size(); ++i) {
        const CommitFailure& failure = failures[i];
        const bool has_kept = !failure.kept_file.empty();
        kept = kept || has_kept;
        left = left || failure.removal;
        lost = lost || (!has_kept && !failure.removal);
        if (listed != 0 && i == listed) {
            lines.push_back("... and " + std::to_string(failures.size() - listed) + " more");
        } else if (listed == 0 || i < listed) {
            std::string line = shown(failure.name) + (has_kept           ? ": its new version is kept as " + shown(failure.kept_file)
                                                      : failure.removal ? ": could not be removed"
                                                                        : ": keeps its old version");
            if (!failure.reason.empty()) line += " (" + failure.reason + ")";
            lines.push_back(line);
        }
    }
    lines.push_back("");
    lines.push_back("No other file was changed from what the upgrade intends.");
    if (kept) lines.push_back("Move the kept files into place once whatever held the old ones is closed.");
    if (left) lines.push_back("Delete the files that could not be removed once whatever holds them is closed.");
    if (lost) lines.push_back("Apply the upgrade again to bring the files that keep their old versions up to date.");
    return lines;
}
