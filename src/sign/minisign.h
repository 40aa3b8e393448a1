// minisign's formats: public keys, secret keys (plain, or sealed with a password through
// scrypt) and signatures (prehashed or legacy) whose trusted comment is signed with them.
// Text in and text out, and the signing and checking of messages; no file access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sign/crypto.h"
#include "sign/secret_bytes.h"

namespace minisign {

constexpr size_t kKeyIdSize = 8;
constexpr size_t kSaltSize = 32;
// The secret part of a secret key file: key id, seed and public key, BLAKE2b-256 checksum.
constexpr size_t kSealedSize = kKeyIdSize + crypto::kSeedSize + crypto::kPublicKeySize + 32;
// Longest trusted comment this program writes or reads (minisign keeps to one line too).
constexpr size_t kMaxTrustedComment = 1024;
// minisign's cost for a password-protected key: scrypt with 1 GiB of memory.
constexpr uint64_t kDefaultOpsLimit = 33554432;
constexpr uint64_t kDefaultMemLimit = 1073741824;

struct PublicKey {
    uint8_t key_id[kKeyIdSize] = {};
    uint8_t key[crypto::kPublicKeySize] = {};
};

// An opened secret key: what signing needs, the seed in secret memory.
struct SecretKey {
    uint8_t key_id[kKeyIdSize] = {};
    SecretBytes seed{crypto::kSeedSize};
    uint8_t public_key[crypto::kPublicKeySize] = {};
    PublicKey Public() const;
};

// A secret key file as stored: its scrypt parameters and the (maybe sealed) secret part.
struct StoredSecretKey {
    bool encrypted = false;
    uint8_t salt[kSaltSize] = {};
    uint64_t ops_limit = 0;
    uint64_t mem_limit = 0;
    SecretBytes sealed{kSealedSize};
};

// Prehashed ("ED"): the signature covers the BLAKE2b-512 digest of the file. Legacy ("Ed"):
// it covers the file itself.
enum class Form { kPrehashed, kLegacy };

struct Signature {
    Form form = Form::kPrehashed;
    uint8_t key_id[kKeyIdSize] = {};
    uint8_t signature[crypto::kSignatureSize] = {};
    std::string trusted_comment;
    // Covers `signature` followed by the trusted comment's bytes.
    uint8_t global_signature[crypto::kSignatureSize] = {};
};

// A key id as minisign prints it: the eight bytes read as a little-endian number, in
// uppercase hexadecimal without leading zeros.
std::string KeyIdText(const uint8_t key_id[kKeyIdSize]);

// Each parser takes a whole file's text (lines may end in LF or CR LF) and says what is
// wrong in a few words when it fails.
bool ParsePublicKey(const std::string& text, PublicKey* key, std::string* error);
std::string FormatPublicKey(const PublicKey& key);
bool ParseSignature(const std::string& text, Signature* signature, std::string* error);
std::string FormatSignature(const Signature& signature, const std::string& untrusted_comment);
bool ParseSecretKey(const uint8_t* text, size_t n, StoredSecretKey* stored, std::string* error);

// scrypt's cost N and parallelism p for minisign's opslimit and memlimit, chosen the way
// libsodium chooses them (block size 8). False when the cost is beyond what this program
// spends on a key (more than 2 GiB of memory or 2^32 block operations).
bool ScryptCost(uint64_t ops_limit, uint64_t mem_limit, uint64_t* n, uint32_t* p);

// Opens a stored key; `password` is ignored for a plain key. Fails for a wrong password
// or a damaged file (the checksum, or the public key that the seed gives, differs).
bool OpenSecretKey(const StoredSecretKey& stored, const SecretBytes* password, SecretKey* key,
                   std::string* error);
// The text of a secret key file: sealed with the password at the given scrypt cost
// (minisign's by default) when one is given, else plain.
bool SealSecretKey(const SecretKey& key, const SecretBytes* password, SecretBytes* text, std::string* error,
                   uint64_t ops_limit = kDefaultOpsLimit, uint64_t mem_limit = kDefaultMemLimit);
// A new key pair with a random key id.
bool NewSecretKey(SecretKey* key, std::string* error);

// Signs a message (for the prehashed form: the file's BLAKE2b-512 digest) together with
// the trusted comment, and checks the result with the key's public half.
bool Sign(const SecretKey& key, Form form, const uint8_t* message, size_t n, const std::string& trusted_comment,
          Signature* signature, std::string* error);

enum class Verdict { kGood, kOtherKey, kMessageMismatch, kCommentMismatch };
// Checks a signature of a message (the digest, or the whole file for the legacy form) and
// its trusted comment, in that order.
Verdict Verify(const PublicKey& key, const Signature& signature, const uint8_t* message, size_t n);

}  // namespace minisign
