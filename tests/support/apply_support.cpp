// Helpers of the apply engine's tests (reference check value, package plans).
#include "support/apply_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "io/os.h"

const char* const kLine[21] = {
    "English",
    "Add|Update|Remove|",
    "Operation: |Filename: |Description: |",
    "Upgrade Processing",
    "Cancel",
    "Initalizing...",
    "Installing Files (Cannot Cancel)",
    "Do you wish to continue with the update?",
    "The update has not been performed. Are you sure you want to cancel?",
    "** Warning: This file currently exists, and will be overwritten by a new and potentially different file in this upgrade.",
    "** Warning: This file's time or date stamp does not match the original file. This file may get corrupted by the upgrade process.",
    "** Warning: This file will be removed by the upgrade, but appears to have been changed. Your changes will be lost.",
    "** Error: This file already exists and is marked read-only. It cannot be created.",
    "** Error: This file cannot be found. It will not be updated.",
    "** File Size/CRC Error: This file has been changed. It will not be updated.",
    "** Error: This file is marked read-only. It cannot be updated.",
    "** Error: This file is critical to the upgrade, but cannot currently be updated. The upgrade process will be aborted.",
    "** Error: This file is critical to this upgrade, but failed to update properly. The update will be aborted.",
    "** Error: This file cannot be updated properly, so it will be skipped. Note that this could indicate that the upgrade file has been corrupted.",
    "Would you like more information about the error?",
    "A critical error was detected, forcing an abort of the upgrade. Make sure you have the correct version of the files on your system and then try again.",
};

uint16_t ReferenceCheck(const Bytes& data) {
    uint16_t check = 0;
    for (size_t start = 0; start < data.size(); start += 512) {
        size_t n = std::min<size_t>(512, data.size() - start);
        for (size_t k = 0; k < n; ++k) {
            uint8_t b = data[start + k];
            if ((n - k) % 2 == 1) check ^= b;
            else check ^= static_cast<uint16_t>(b << 8);
        }
    }
    return check;
}

FileIdentity IdentityOf(const Bytes& data, uint32_t stamp) {
    FileIdentity id;
    id.stamp = stamp;
    id.size = static_cast<uint32_t>(data.size());
    id.check = ReferenceCheck(data);
    return id;
}

uint32_t OldStamp() { return DosStamp(2001, 3, 14, 15, 9, 26); }
// A summer date: in zones with daylight saving the local and standard offsets differ.
uint32_t NewStamp() { return DosStamp(2004, 7, 21, 8, 30, 0); }

// The fields every planned record sets.
static EntryRecord Record(uint8_t operation, const std::string& name, const std::string& description, int warning,
                          int error) {
    EntryRecord r;
    r.operation = operation;
    r.warning_policy = static_cast<uint8_t>(warning);
    r.error_policy = static_cast<uint8_t>(error);
    r.name = name;
    r.description = description;
    return r;
}

EntryRecord& PackagePlan::Add(const std::string& name, const Bytes& content, int warning, int error) {
    EntryRecord r = Record(kOpAdd, name, "new " + name, warning, error);
    r.new_identity = IdentityOf(content, NewStamp());
    ScriptWriter w;
    w.Literal(content.data(), static_cast<uint32_t>(content.size()));
    w.End();
    return Raw(r, w.bytes());
}

EntryRecord& PackagePlan::Update(const std::string& name, const Bytes& old_content, const Bytes& new_content,
                                 int warning, int error) {
    EntryRecord r = Record(kOpUpdate, name, "changed " + name, warning, error);
    r.old_identity = IdentityOf(old_content, OldStamp());
    r.new_identity = IdentityOf(new_content, NewStamp());
    size_t common = 0;
    while (common < old_content.size() && common < new_content.size() && old_content[common] == new_content[common])
        ++common;
    ScriptWriter w;
    if (common > 0) w.CopyFar(0, static_cast<uint32_t>(common));
    if (common < new_content.size())
        w.Literal(new_content.data() + common, static_cast<uint32_t>(new_content.size() - common));
    w.End();
    return Raw(r, w.bytes());
}

EntryRecord& PackagePlan::Remove(const std::string& name, const Bytes& old_content, int warning, int error) {
    EntryRecord r = Record(kOpRemove, name, "old " + name, warning, error);
    r.old_identity = IdentityOf(old_content, OldStamp());
    return Raw(r, {});
}

EntryRecord& PackagePlan::Raw(const EntryRecord& record, const Bytes& script) {
    records.push_back(record);
    if (record.operation == kOpAdd || record.operation == kOpUpdate) scripts.push_back(script);
    return records.back();
}

void PackagePlan::Write(const std::string& path, int compression) const {
    PackageHeader header;
    header.title = "Test upgrade";
    header.description = "Brings the test folder up to date.";
    WriteFileBytes(path, BuildPackageBytes(header, records, scripts, compression));
}

std::unique_ptr<MessageTable> LoadShippedMessages() {
    return MessageTable::LoadFromResource(nullptr, os::ResourceName{MessageTable::kResourceId, nullptr});
}

std::unique_ptr<UpgradePackage> OpenForApply(const std::string& package, const std::string& target) {
    std::unique_ptr<UpgradePackage> p = UpgradePackage::OpenFull(package.c_str(), target.c_str());
    p->AttachMessages(LoadShippedMessages());
    return p;
}

std::vector<int> EntryStates(const UpgradePackage& package) {
    std::vector<int> states;
    for (const FileEntry& e : package.entries) states.push_back(e.state);
    return states;
}
