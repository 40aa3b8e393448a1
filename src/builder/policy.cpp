// Reading the builder's per-file policy overrides.
#include "builder/policy.h"

#include "package/format.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// Takes the next word of the line (a double-quoted one may hold spaces); false at the end
// of the line or at an unterminated quote (*bad set).
bool NextWord(const std::string& line, size_t* at, std::string* word, bool* bad) {
    size_t i = *at;
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (i >= line.size()) return false;
    word->clear();
    if (line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        if (close == std::string::npos) {
            *bad = true;
            return false;
        }
        *word = line.substr(i + 1, close - i - 1);
        *at = close + 1;
        return true;
    }
    while (i < line.size() && !IsSpace(line[i])) word->push_back(line[i++]);
    *at = i;
    return true;
}

bool ParsePolicy(const std::string& word, uint8_t* value) {
    if (word.size() != 1 || word[0] < '0' || word[0] > '3') return false;
    *value = static_cast<uint8_t>(word[0] - '0');
    return true;
}

}  // namespace

bool ParsePolicies(const std::string& text, const std::string& source, std::vector<PolicyRule>* rules,
                   std::vector<std::string>* errors) {
    const size_t errors_before = errors->size();
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = 0;
        while (first < line.size() && IsSpace(line[first])) ++first;
        if (first == line.size() || line[first] == '#') continue;

        const std::string where = source + ":" + std::to_string(number) + ": ";
        size_t at = 0;
        bool bad = false;
        std::string pattern, warning, error;
        if (!NextWord(line, &at, &pattern, &bad) || pattern.empty()) {
            errors->push_back(where + (bad ? "unterminated quote" : "missing pattern"));
            continue;
        }
        uint8_t w = 0, e = 0;
        if (!NextWord(line, &at, &warning, &bad) || !NextWord(line, &at, &error, &bad)) {
            errors->push_back(where + "expected PATTERN WARNING ERROR [DESCRIPTION]");
            continue;
        }
        if (!ParsePolicy(warning, &w) || !ParsePolicy(error, &e)) {
            errors->push_back(where + "policies must be 0, 1, 2 or 3");
            continue;
        }
        while (at < line.size() && IsSpace(line[at])) ++at;
        std::string description = line.substr(at);
        while (!description.empty() && IsSpace(description.back())) description.pop_back();
        if (description.size() > static_cast<size_t>(kEntryDescriptionSize - 1)) {
            errors->push_back(where + "the description has " + std::to_string(description.size()) +
                              " characters; an entry description holds at most " +
                              std::to_string(kEntryDescriptionSize - 1));
            continue;
        }
        rules->push_back(PolicyRule{Glob(pattern), w, e, description, number});
    }
    return errors->size() == errors_before;
}

EntryPolicy PolicyFor(const std::vector<PolicyRule>& rules, const std::string& name, const EntryPolicy& defaults) {
    for (auto it = rules.rbegin(); it != rules.rend(); ++it)
        if (it->pattern.Matches(name)) return EntryPolicy{it->warning_policy, it->error_policy, it->description};
    return defaults;
}
