// Opening an upgrade package: outer form, header, strings and the entry table, plus the
// target folder and the checks that refuse a package before anything is touched.
#include "package/package.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "io/codepage.h"
#include "package/entry_name.h"
#include "package/zlib_stream.h"

namespace {

// Read-ahead of the package file: the reader and the rebuild read it byte by byte.
constexpr uint32_t kPackageReadBuffer = 64 * 1024;

}  // namespace

std::unique_ptr<UpgradePackage> UpgradePackage::OpenHeader(const char* path) {
    std::unique_ptr<UpgradePackage> package(new UpgradePackage());
    package->Description.reset(new char[kDescriptionSize]());

    std::unique_ptr<TCVLFStream> file(new TCVLFStream(TCVLFStream::ModeRead, path ? path : ""));
    if (file->IsOpen()) file->EnableBuffering(kPackageReadBuffer);
    if (IsCompressedPackage(*file)) {
        package->compressed_ = true;
        package->stream.reset(new TCVLZLibInStream(file.release(), true));
    } else {
        file->Rewind();
        package->stream = std::move(file);
    }

    TCVLStream& s = *package->stream;
    uint8_t header[kHeaderSize] = {};
    s.Read(header, kHeaderSize);  // a short file shows up as an error in the strings below
    std::memcpy(package->Marker, header, sizeof package->Marker);
    package->FormatVersion = header[8];
    package->EntryCount = static_cast<int16_t>(header[9] | (header[10] << 8));
    s.ReadString(package->Title, kTitleSize);
    s.ReadString(package->Description.get(), kDescriptionSize);
    return package;
}

std::unique_ptr<UpgradePackage> UpgradePackage::OpenFull(const char* path, const char* target) {
    std::unique_ptr<UpgradePackage> package = OpenHeader(path);
    package->full_ = true;
    package->ProgressDone = 1;
    // A package whose header fails has no table worth reading; name the first reason.
    if (std::memcmp(package->Marker, kPlainMarker, sizeof package->Marker) != 0) {
        package->RefuseTable(package->stream->HasError()
                                 ? "the package cannot be read (missing, in use or too short)"
                                 : "not an upgrade package (marker missing)");
    } else if (package->FormatVersion > kMaxFormatVersion) {
        package->RefuseTable("format version " + std::to_string(package->FormatVersion) + " is not supported");
    } else if (package->stream->HasError()) {
        package->RefuseTable("the package ends inside its title or description");
    } else {
        package->ProgressTotal = package->ReadEntryTable();
    }
    package->SetTargetFolder(target);
    return package;
}

bool UpgradePackage::IsValid() const {
    if (std::memcmp(Marker, kPlainMarker, sizeof Marker) != 0) return false;
    if (FormatVersion > kMaxFormatVersion) return false;
    if (!stream || stream->HasError()) return false;
    if (full_ && (ProgressTotal == 0 || table_refused_ || target_refused_)) return false;
    return true;
}

const char* UpgradePackage::Message(int line) const { return messages_ ? messages_->Line(line) : ""; }

const char* UpgradePackage::MessageItem(int line, int item) const {
    return messages_ ? messages_->SubItem(line, item) : "";
}

bool UpgradePackage::SetTargetFolder(const char* folder) {
    if (folder == nullptr) folder = "";
    const size_t len = std::strlen(folder);
    // An empty folder is refused: names would resolve against whatever the current folder
    // is, and it must not become the root of the drive either.
    const bool append = len > 0 && !os::IsSeparator(folder[len - 1]);
    if (len == 0 || len + (append ? 1 : 0) + 1 > sizeof target_folder) {
        target_folder[0] = '\0';
        target_refused_ = true;
        if (refusal_.empty()) {
            refusal_ = len == 0 ? "no target folder was given"
                                : "the target folder is too long (" + std::to_string(len) + " characters)";
            refusal_is_target_ = true;
        }
        return false;
    }
    std::memcpy(target_folder, folder, len);
    size_t end = len;
    if (append) target_folder[end++] = os::kSeparator;
    target_folder[end] = '\0';
    target_refused_ = false;
    if (refusal_is_target_) {
        refusal_.clear();
        refusal_is_target_ = false;
    }
    return true;
}

// Sets the reason for refusing the entry table unless an earlier reason is known.
void UpgradePackage::RefuseTable(const std::string& reason) {
    table_refused_ = true;
    if (refusal_.empty() || refusal_is_target_) {
        refusal_ = reason;
        refusal_is_target_ = false;
    }
}

// Reads EntryCount records; returns 1 + the sum of the new sizes of Add and Update
// entries (saturating, so a huge total never reads as 0), or 0 when the table is refused:
// too many entries, a record cut off (no complete identity), or an unsafe name.
uint32_t UpgradePackage::ReadEntryTable() {
    entries.clear();
    if (EntryCount > kMaxEntries) {
        RefuseTable("the entry count " + std::to_string(EntryCount) + " exceeds " + std::to_string(kMaxEntries));
        return 0;
    }
    const int count = EntryCount > 0 ? EntryCount : 0;
    entries.reserve(static_cast<size_t>(count));
    TCVLStream& s = *stream;
    uint64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        entries.emplace_back();
        FileEntry& e = entries.back();
        const uint8_t flags = s.GetByte();
        e.Operation = flags & 3;
        e.WarningPolicy = (flags >> 2) & 3;
        e.ErrorPolicy = (flags >> 4) & 3;
        const uint32_t name_length = s.ReadString(e.name, kNameSize);
        // A name cut to its buffer would name another file.
        if (name_length >= static_cast<uint32_t>(kNameSize)) {
            RefuseTable("entry " + std::to_string(i) + " has a name of " + std::to_string(name_length) +
                        " characters; at most " + std::to_string(kNameSize - 1) + " fit");
            return 0;
        }
        s.ReadString(e.Description, kEntryDescriptionSize);
        uint8_t bytes[kIdentitySize];
        // A partly read identity counts as missing: the record was cut off.
        if (HasOldIdentity(e.Operation)) {
            std::memset(bytes, 0, sizeof bytes);
            if (s.Read(bytes, kIdentitySize) != kIdentitySize) {
                RefuseTable("entry " + std::to_string(i) + " is cut off");
                return 0;
            }
            e.OldIdentity = DecodeIdentity(bytes);
        }
        if (HasNewIdentity(e.Operation)) {
            std::memset(bytes, 0, sizeof bytes);
            if (s.Read(bytes, kIdentitySize) != kIdentitySize) {
                RefuseTable("entry " + std::to_string(i) + " is cut off");
                return 0;
            }
            e.NewIdentity = DecodeIdentity(bytes);
            sum += e.NewIdentity.size;
        }
    }
    if (s.HasError()) {
        RefuseTable("the entry table is cut off or damaged");
        return 0;
    }
    // Names are checked in their plain form, and no two entries may name the same file in
    // any spelling: either could make a verified file be overwritten by unverified bytes.
    std::unordered_map<std::string, int> seen;
    for (int i = 0; i < count; ++i) {
        char* name = entries[static_cast<size_t>(i)].name;
        const std::string original = name;
        NormalizeEntryName(name);
        const std::string problem = EntryNameProblem(name);
        if (!problem.empty()) {
            RefuseTable("entry " + std::to_string(i) + " has an unsafe name \"" + original + "\": " + problem);
            return 0;
        }
        // A name must be text of the code page: bytes that are no character of it would be
        // read as some other name, differently on every system.
        std::string text;
        if (!os::ToUtf8(name, &text)) {
            RefuseTable("entry " + std::to_string(i) + " has a name that is no text of code page " +
                        std::to_string(os::CodePage()) + " (the package may be meant for another code page)");
            return 0;
        }
        auto inserted = seen.emplace(EntryNameKey(name), i);
        if (!inserted.second) {
            RefuseTable("entries " + std::to_string(inserted.first->second) + " and " + std::to_string(i) +
                        " name the same file \"" + name + "\"");
            return 0;
        }
    }
    return sum >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sum + 1);
}
