// The check of a signed package and its private copy.
#include "sign/verified_package.h"

#include <cstring>
#include <memory>
#include <new>

#include "sign/files.h"

namespace sign {
namespace {

// Key and signature files are a few lines; anything larger is not one.
constexpr size_t kMaxKeyFile = 4096;
constexpr size_t kMaxSignatureFile = 8192;
constexpr uint32_t kCopyChunk = 1u << 20;

}  // namespace

VerifiedPackage::~VerifiedPackage() { RemoveCopy(); }

bool VerifiedPackage::Fail(CheckFailure failure, const std::string& reason) {
    RemoveCopy();
    failure_ = failure;
    reason_ = reason;
    return false;
}

void VerifiedPackage::RemoveCopy() {
    if (!copy_.empty()) os::DeleteFile(copy_.c_str());
    if (!folder_.empty()) os::RemoveFolder(folder_.c_str());
    copy_.clear();
    folder_.clear();
}

bool VerifiedPackage::Check(const char* package, const char* signature_file, const char* public_key_file) {
    RemoveCopy();
    failure_ = CheckFailure::kNone;
    reason_.clear();
    std::string error;
    if (!crypto::Ready(&error)) return Fail(CheckFailure::kKeyFile, error);
    return ReadKeyAndSignature(signature_file, public_key_file) && CopyAndCheck(package);
}

bool VerifiedPackage::ReadKeyAndSignature(const char* signature_file, const char* public_key_file) {
    std::string text, error;
    const std::string key_name = std::string("the public key file ") + public_key_file;
    if (!ReadSmallFile(public_key_file, kMaxKeyFile, &text, &error))
        return Fail(CheckFailure::kKeyFile, key_name + " " + error);
    if (!minisign::ParsePublicKey(text, &key_, &error))
        return Fail(CheckFailure::kKeyFile, key_name + " is unusable: " + error);
    const std::string signature_name = std::string("the signature file ") + signature_file;
    if (!ReadSmallFile(signature_file, kMaxSignatureFile, &text, &error)) {
        if (error == "does not exist")
            return Fail(CheckFailure::kSignatureMissing,
                        std::string("the package has no signature: ") + signature_file + " does not exist");
        return Fail(CheckFailure::kSignatureMalformed, signature_name + " " + error);
    }
    if (!minisign::ParseSignature(text, &signature_, &error))
        return Fail(CheckFailure::kSignatureMalformed, signature_name + " is unusable: " + error);
    if (std::memcmp(key_.key_id, signature_.key_id, minisign::kKeyIdSize) != 0)
        return Fail(CheckFailure::kOtherKey, "the package was signed with another key: the signature's key ID is " +
                                                 minisign::KeyIdText(signature_.key_id) + ", the public key's is " +
                                                 minisign::KeyIdText(key_.key_id));
    return true;
}

bool VerifiedPackage::CopyAndCheck(const char* package) {
    const std::string package_name = std::string("the package ") + package;
    FileOwner source(os::OpenFile(package, os::kModeRead | os::kShareRead));
    const int64_t size = source.Open() ? os::FileSize(source.Get()) : -1;
    if (size < 0)
        return Fail(CheckFailure::kPackageUnreadable,
                    package_name + (os::GetAttributes(package) == os::kInvalidAttributes ? " does not exist"
                                                                                          : " cannot be read"));
    const bool legacy = signature_.form == minisign::Form::kLegacy;
    if (size > 0xFFFFFFFFll || (legacy && static_cast<uint64_t>(size) > kMaxLegacyPackage))
        return Fail(CheckFailure::kTooLarge,
                    legacy ? package_name + " has " + std::to_string(size) + " bytes and is signed in minisign's "
                             "legacy form (-l), which libgcrypt checks only up to " + std::to_string(kMaxLegacyPackage) +
                             " bytes: sign it in the default, prehashed form"
                           : package_name + " is larger than 4 GiB, which no package can be");
    if (!os::CreatePrivateFolder("ambrel-", &folder_))
        return Fail(CheckFailure::kPrivateCopy, "no private folder for the checked copy could be made in the "
                                                "temporary folder");
    copy_ = folder_ + "package.upg";
    FileOwner copy(os::CreatePrivateFile(copy_.c_str()));
    if (!copy.Open()) {
        copy_.clear();
        return Fail(CheckFailure::kPrivateCopy, "the checked copy of the package cannot be created in " + folder_);
    }
    // The legacy form signs the file itself: its bytes are kept as they are read.
    std::unique_ptr<uint8_t[]> whole(legacy ? new (std::nothrow) uint8_t[size + 1] : nullptr);
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kCopyChunk]);
    if ((legacy && !whole) || !chunk) return Fail(CheckFailure::kTooLarge, "not enough memory to check the package");
    crypto::Blake2b512 hash;
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (!os::ReadFile(source.Get(), chunk.get(), kCopyChunk, &got))
            return Fail(CheckFailure::kPackageUnreadable, package_name + " cannot be read");
        if (got == 0) break;
        if (total + got > static_cast<uint64_t>(size))  // it grew while being read: not the bytes signed
            return Fail(CheckFailure::kPackageChanged, package_name + " changed while it was being checked");
        hash.Update(chunk.get(), got);
        if (legacy) std::memcpy(whole.get() + total, chunk.get(), got);
        if (!WriteAll(copy.Get(), chunk.get(), got))
            return Fail(CheckFailure::kPrivateCopy, "the checked copy of the package cannot be written in " + folder_ +
                                                        " (is the disk full?)");
        total += got;
    }
    copy.Close();
    source.Close();
    uint8_t digest[crypto::kPrehashSize];
    if (!hash.Final(digest)) return Fail(CheckFailure::kPackageUnreadable, "libgcrypt could not hash the package");
    switch (minisign::Verify(key_, signature_, legacy ? whole.get() : digest,
                             legacy ? static_cast<size_t>(total) : sizeof digest)) {
    case minisign::Verdict::kGood: return true;
    case minisign::Verdict::kOtherKey: return Fail(CheckFailure::kOtherKey, "the package was signed with another key");
    case minisign::Verdict::kMessageMismatch:
        return Fail(CheckFailure::kPackageChanged, "the signature does not match the package: the package, or its "
                                                   "signature, was changed after signing");
    case minisign::Verdict::kCommentMismatch: break;
    }
    return Fail(CheckFailure::kCommentChanged,
                "the trusted comment does not match its signature: it was changed after signing");
}

}  // namespace sign
