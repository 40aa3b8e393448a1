// Helpers of the apply engine's tests: a reference check value, packages assembled from
// planned entries with the package writer, and opening a package ready for an apply.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/writer.h"
#include "support/test_util.h"

// The check value computed literally by its definition: 512-byte chunks, and in a chunk
// of n bytes the byte at offset k goes to the low byte when n - k is odd.
uint16_t ReferenceCheck(const Bytes& data);
FileIdentity IdentityOf(const Bytes& data, uint32_t stamp);

// A few fixed stamps (local time) used as old and new time stamps.
uint32_t OldStamp();
uint32_t NewStamp();

// Collects entry records and their scripts and writes them as a package file.
class PackagePlan {
public:
    // An Add entry whose script carries `content` as literals.
    EntryRecord& Add(const std::string& name, const Bytes& content, int warning = 0, int error = 0);
    // An Update entry from `old_content` to `new_content`: copies the common prefix from the
    // old file and carries the rest as literals.
    EntryRecord& Update(const std::string& name, const Bytes& old_content, const Bytes& new_content,
                        int warning = 0, int error = 0);
    EntryRecord& Remove(const std::string& name, const Bytes& old_content, int warning = 0, int error = 0);
    // Any record with an explicit script (none for Remove or undefined operations).
    EntryRecord& Raw(const EntryRecord& record, const Bytes& script);

    void Write(const std::string& path, int compression = 0) const;

    std::vector<EntryRecord> records;
    std::vector<Bytes> scripts;
};

std::unique_ptr<MessageTable> LoadShippedMessages();
// Opens the package fully with `target`, attaches the shipped message table.
std::unique_ptr<UpgradePackage> OpenForApply(const std::string& package, const std::string& target);

// The state code of every entry, in table order.
std::vector<int> EntryStates(const UpgradePackage& package);

// The shipped texts of the message lines the tests compare with.
extern const char* const kLine[21];
