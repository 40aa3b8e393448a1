// A signed package checked against its minisign signature and kept, as exactly the bytes
// that were checked, in a private file for the rest of the run: the package is read once,
// through one open handle, into a new file that only this user can open, and hashed on
// the way. Whatever happens to the original afterwards, the copy is what gets read.
#pragma once

#include <cstdint>
#include <string>

#include "sign/minisign.h"

namespace sign {

enum class CheckFailure {
    kNone,
    kKeyFile,             // the public key file is missing, unreadable or malformed
    kSignatureMissing,    // no signature file
    kSignatureMalformed,  // the signature file is unreadable or not minisign's
    kOtherKey,            // signed by a key with another key id
    kPackageChanged,      // the signature does not cover these bytes
    kCommentChanged,      // the trusted comment is not the one that was signed
    kPackageUnreadable,   // the package is missing or cannot be read
    kTooLarge,            // too large for the legacy form, or for any package
    kPrivateCopy,         // the private copy could not be written (the check itself never ran)
};

// Packages signed in the legacy form are checked up to this size (see crypto::kMaxMessage).
constexpr uint64_t kMaxLegacyPackage = crypto::kMaxMessage;

class VerifiedPackage {
public:
    VerifiedPackage() = default;
    // Deletes the private copy and its folder.
    ~VerifiedPackage();
    VerifiedPackage(const VerifiedPackage&) = delete;
    VerifiedPackage& operator=(const VerifiedPackage&) = delete;

    // Reads the public key and the signature, compares their key ids, then copies and
    // hashes the package and checks the signature and its trusted comment, in that order;
    // nothing is read from the package before the key and the signature are known to be
    // well-formed and of the same key. False on the first failure, which Failure() and
    // Reason() name; the private copy is gone then.
    bool Check(const char* package, const char* signature_file, const char* public_key_file);

    CheckFailure Failure() const { return failure_; }
    const std::string& Reason() const { return reason_; }
    // After a good check: the private copy, to be opened instead of the package.
    const char* Path() const { return copy_.c_str(); }
    const minisign::Signature& Signature() const { return signature_; }
    const minisign::PublicKey& Key() const { return key_; }

private:
    bool Fail(CheckFailure failure, const std::string& reason);
    bool ReadKeyAndSignature(const char* signature_file, const char* public_key_file);
    bool CopyAndCheck(const char* package);
    void RemoveCopy();

    CheckFailure failure_ = CheckFailure::kNone;
    std::string reason_;
    minisign::PublicKey key_;
    minisign::Signature signature_;
    std::string folder_;  // the private folder, with a final separator
    std::string copy_;
};

}  // namespace sign
