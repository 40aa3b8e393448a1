// minisign's key and signature files, and the signing and checking of what they cover.
#include "sign/minisign.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sign/base64.h"

namespace minisign {
namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
constexpr uint8_t kKeyAlgorithm[2] = {'E', 'd'};
constexpr uint8_t kLegacyAlgorithm[2] = {'E', 'd'};
constexpr uint8_t kPrehashedAlgorithm[2] = {'E', 'D'};
constexpr uint8_t kScrypt[2] = {'S', 'c'};
constexpr uint8_t kNoKdf[2] = {0, 0};
constexpr uint8_t kChecksumBlake2b[2] = {'B', '2'};
// Algorithm, key id and key.
constexpr size_t kPublicKeyBytes = 2 + kKeyIdSize + crypto::kPublicKeySize;
// Algorithm, key id and signature.
constexpr size_t kSignatureBytes = 2 + kKeyIdSize + crypto::kSignatureSize;
// Signature, KDF and checksum algorithms, salt, opslimit, memlimit, the secret part.
constexpr size_t kSecretKeyBytes = 6 + kSaltSize + 8 + 8 + kSealedSize;
constexpr size_t kSealedChecksumAt = kKeyIdSize + crypto::kSeedSize + crypto::kPublicKeySize;

// The lines of a file's text (LF or CR LF), with trailing empty lines dropped.
std::vector<std::string> Lines(const char* text, size_t n) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < n) {
        const void* lf = std::memchr(text + start, '\n', n - start);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) : n;
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.emplace_back(text + start, stop - start);
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool StartsWith(const std::string& line, const char* prefix) { return line.compare(0, std::strlen(prefix), prefix) == 0; }

// Decodes a Base64 line that must give exactly `size` bytes.
bool DecodeExactly(const std::string& line, uint8_t* out, size_t size) {
    size_t got = 0;
    return Base64Decode(line.data(), line.size(), out, size, &got) && got == size;
}

uint64_t ReadLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void WriteLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// BLAKE2b-256 over the key algorithm, key id, seed and public key, as the secret part holds it.
bool SealedChecksum(const uint8_t* plain, uint8_t checksum[32]) {
    uint8_t input[2 + kSealedChecksumAt];
    std::memcpy(input, kKeyAlgorithm, 2);
    std::memcpy(input + 2, plain, kSealedChecksumAt);
    const bool ok = crypto::Blake2b256(input, sizeof input, checksum);
    WipeMemory(input, sizeof input);
    return ok;
}

// XORs the secret part with the scrypt stream of the password.
bool ApplyPassword(const uint8_t salt[kSaltSize], uint64_t ops, uint64_t mem, const SecretBytes& password,
                   uint8_t* sealed, std::string* error) {
    uint64_t n = 0;
    uint32_t p = 0;
    if (!ScryptCost(ops, mem, &n, &p)) {
        *error = "its password protection asks for more memory or work than this program spends";
        return false;
    }
    SecretBytes stream(kSealedSize);
    if (!stream.Ok() ||
        !crypto::Scrypt(password.Data(), password.Size(), salt, kSaltSize, n, p, stream.Data(), kSealedSize)) {
        *error = "the key could not be derived from the password (scrypt needs " + std::to_string(n / 1024) +
                 " MiB of memory)";
        return false;
    }
    for (size_t i = 0; i < kSealedSize; ++i) sealed[i] ^= stream.Data()[i];
    return true;
}

bool AllZero(const uint8_t* p, size_t n) {
    uint8_t any = 0;
    for (size_t i = 0; i < n; ++i) any |= p[i];
    return any == 0;
}

}  // namespace

PublicKey SecretKey::Public() const {
    PublicKey key;
    std::memcpy(key.key_id, key_id, kKeyIdSize);
    std::memcpy(key.key, public_key, sizeof key.key);
    return key;
}

std::string KeyIdText(const uint8_t key_id[kKeyIdSize]) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIX64, ReadLe64(key_id));
    return text;
}

bool ParsePublicKey(const std::string& text, PublicKey* key, std::string* error) {
    const std::vector<std::string> lines = Lines(text.data(), text.size());
    uint8_t raw[kPublicKeyBytes];
    if (lines.size() != 2 || !StartsWith(lines[0], kUntrustedPrefix)) {
        *error = "not a minisign public key (two lines: an untrusted comment and the key)";
    } else if (!DecodeExactly(lines[1], raw, sizeof raw)) {
        *error = "its key line is not " + std::to_string(kPublicKeyBytes) + " bytes of Base64";
    } else if (std::memcmp(raw, kKeyAlgorithm, 2) != 0) {
        *error = "its key is not an Ed25519 key";
    } else {
        std::memcpy(key->key_id, raw + 2, kKeyIdSize);
        std::memcpy(key->key, raw + 2 + kKeyIdSize, sizeof key->key);
        return true;
    }
    return false;
}

std::string FormatPublicKey(const PublicKey& key) {
    uint8_t raw[kPublicKeyBytes];
    std::memcpy(raw, kKeyAlgorithm, 2);
    std::memcpy(raw + 2, key.key_id, kKeyIdSize);
    std::memcpy(raw + 2 + kKeyIdSize, key.key, sizeof key.key);
    return std::string(kUntrustedPrefix) + "minisign public key " + KeyIdText(key.key_id) + "\n" +
           Base64Encode(raw, sizeof raw) + "\n";
}

bool ParseSignature(const std::string& text, Signature* signature, std::string* error) {
    const std::vector<std::string> lines = Lines(text.data(), text.size());
    uint8_t raw[kSignatureBytes];
    if (lines.size() != 4 || !StartsWith(lines[0], kUntrustedPrefix) || !StartsWith(lines[2], kTrustedPrefix)) {
        *error = "not a minisign signature (four lines: untrusted comment, signature, trusted comment, "
                 "comment signature)";
    } else if (!DecodeExactly(lines[1], raw, sizeof raw)) {
        *error = "its signature line is not " + std::to_string(kSignatureBytes) + " bytes of Base64";
    } else if (std::memcmp(raw, kPrehashedAlgorithm, 2) != 0 && std::memcmp(raw, kLegacyAlgorithm, 2) != 0) {
        *error = "its signature algorithm is not Ed25519";
    } else if (lines[2].size() - std::strlen(kTrustedPrefix) > kMaxTrustedComment) {
        *error = "its trusted comment is longer than " + std::to_string(kMaxTrustedComment) + " bytes";
    } else if (!DecodeExactly(lines[3], signature->global_signature, sizeof signature->global_signature)) {
        *error = "its comment signature line is not " + std::to_string(crypto::kSignatureSize) + " bytes of Base64";
    } else {
        signature->form = std::memcmp(raw, kPrehashedAlgorithm, 2) == 0 ? Form::kPrehashed : Form::kLegacy;
        std::memcpy(signature->key_id, raw + 2, kKeyIdSize);
        std::memcpy(signature->signature, raw + 2 + kKeyIdSize, sizeof signature->signature);
        signature->trusted_comment = lines[2].substr(std::strlen(kTrustedPrefix));
        return true;
    }
    return false;
}

std::string FormatSignature(const Signature& signature, const std::string& untrusted_comment) {
    uint8_t raw[kSignatureBytes];
    std::memcpy(raw, signature.form == Form::kPrehashed ? kPrehashedAlgorithm : kLegacyAlgorithm, 2);
    std::memcpy(raw + 2, signature.key_id, kKeyIdSize);
    std::memcpy(raw + 2 + kKeyIdSize, signature.signature, sizeof signature.signature);
    return std::string(kUntrustedPrefix) + untrusted_comment + "\n" + Base64Encode(raw, sizeof raw) + "\n" +
           kTrustedPrefix + signature.trusted_comment + "\n" +
           Base64Encode(signature.global_signature, sizeof signature.global_signature) + "\n";
}

bool ParseSecretKey(const uint8_t* text, size_t n, StoredSecretKey* stored, std::string* error) {
    std::vector<std::string> lines = Lines(reinterpret_cast<const char*>(text), n);
    SecretBytes raw(kSecretKeyBytes);
    bool ok = false;
    if (!raw.Ok() || !stored->sealed.Ok()) {
        *error = "no secure memory for the key";
    } else if (lines.size() != 2 || !StartsWith(lines[0], kUntrustedPrefix)) {
        *error = "not a minisign secret key (two lines: an untrusted comment and the key)";
    } else if (!DecodeExactly(lines[1], raw.Data(), kSecretKeyBytes)) {
        *error = "its key line is not " + std::to_string(kSecretKeyBytes) + " bytes of Base64";
    } else if (std::memcmp(raw.Data(), kKeyAlgorithm, 2) != 0 || std::memcmp(raw.Data() + 4, kChecksumBlake2b, 2) != 0) {
        *error = "its algorithms are not minisign's (Ed25519 with a BLAKE2b checksum)";
    } else if (std::memcmp(raw.Data() + 2, kScrypt, 2) != 0 && std::memcmp(raw.Data() + 2, kNoKdf, 2) != 0) {
        *error = "its password protection is neither scrypt nor none";
    } else {
        stored->encrypted = std::memcmp(raw.Data() + 2, kScrypt, 2) == 0;
        std::memcpy(stored->salt, raw.Data() + 6, kSaltSize);
        stored->ops_limit = ReadLe64(raw.Data() + 6 + kSaltSize);
        stored->mem_limit = ReadLe64(raw.Data() + 6 + kSaltSize + 8);
        std::memcpy(stored->sealed.Data(), raw.Data() + 6 + kSaltSize + 16, kSealedSize);
        ok = true;
    }
    for (std::string& line : lines) WipeMemory(&line[0], line.size());
    return ok;
}

bool ScryptCost(uint64_t ops_limit, uint64_t mem_limit, uint64_t* n, uint32_t* p) {
    constexpr uint64_t r = 8;
    const uint64_t ops = ops_limit < 32768 ? 32768 : ops_limit;
    const bool ops_bound = ops < mem_limit / 32;
    const uint64_t max_n = ops_bound ? ops / (4 * r) : mem_limit / (128 * r);
    int log_n = 1;
    while (log_n < 63 && (uint64_t{1} << log_n) <= max_n / 2) ++log_n;
    *n = uint64_t{1} << log_n;
    if (ops_bound) {
        *p = 1;
    } else {
        uint64_t max_rp = (ops / 4) / *n;
        if (max_rp > 0x3FFFFFFF) max_rp = 0x3FFFFFFF;
        *p = static_cast<uint32_t>(max_rp / r);
    }
    return *p >= 1 && *n <= (uint64_t{1} << 21) && *n * *p <= (uint64_t{1} << 24);
}

bool OpenSecretKey(const StoredSecretKey& stored, const SecretBytes* password, SecretKey* key,
                   std::string* error) {
    SecretBytes plain(kSealedSize);
    if (!plain.Ok() || !stored.sealed.Ok() || !key->seed.Ok()) {
        *error = "no secure memory for the key";
        return false;
    }
    std::memcpy(plain.Data(), stored.sealed.Data(), kSealedSize);
    if (stored.encrypted) {
        if (password == nullptr || !password->Ok()) {
            *error = "the key is protected by a password, and none was given";
            return false;
        }
        if (!ApplyPassword(stored.salt, stored.ops_limit, stored.mem_limit, *password, plain.Data(), error))
            return false;
    }
    uint8_t checksum[32];
    const uint8_t* stored_checksum = plain.Data() + kSealedChecksumAt;
    // minisign writes a key without a password with a checksum of zeros.
    const bool unchecked = !stored.encrypted && AllZero(stored_checksum, 32);
    if (!SealedChecksum(plain.Data(), checksum) || (!unchecked && std::memcmp(checksum, stored_checksum, 32) != 0)) {
        *error = stored.encrypted ? "wrong password (or a damaged secret key file)"
                                  : "the secret key file is damaged (its checksum does not match)";
        return false;
    }
    std::memcpy(key->key_id, plain.Data(), kKeyIdSize);
    std::memcpy(key->seed.Data(), plain.Data() + kKeyIdSize, crypto::kSeedSize);
    std::memcpy(key->public_key, plain.Data() + kKeyIdSize + crypto::kSeedSize, crypto::kPublicKeySize);
    uint8_t derived[crypto::kPublicKeySize];
    if (!crypto::Ed25519PublicKey(key->seed.Data(), derived) ||
        std::memcmp(derived, key->public_key, sizeof derived) != 0) {
        *error = "the secret key file is damaged (its public key does not belong to its secret key)";
        return false;
    }
    return true;
}

bool SealSecretKey(const SecretKey& key, const SecretBytes* password, SecretBytes* text, std::string* error,
                   uint64_t ops_limit, uint64_t mem_limit) {
    SecretBytes raw(kSecretKeyBytes);
    if (!raw.Ok() || !key.seed.Ok()) {
        *error = "no secure memory for the key";
        return false;
    }
    uint8_t* p = raw.Data();
    std::memcpy(p, kKeyAlgorithm, 2);
    std::memcpy(p + 2, password ? kScrypt : kNoKdf, 2);
    std::memcpy(p + 4, kChecksumBlake2b, 2);
    uint8_t* salt = p + 6;
    uint8_t* sealed = p + 6 + kSaltSize + 16;
    if (password != nullptr) {
        if (!crypto::RandomBytes(salt, kSaltSize)) {
            *error = "no random bytes for the salt";
            return false;
        }
        WriteLe64(p + 6 + kSaltSize, ops_limit);
        WriteLe64(p + 6 + kSaltSize + 8, mem_limit);
    }
    std::memcpy(sealed, key.key_id, kKeyIdSize);
    std::memcpy(sealed + kKeyIdSize, key.seed.Data(), crypto::kSeedSize);
    std::memcpy(sealed + kKeyIdSize + crypto::kSeedSize, key.public_key, crypto::kPublicKeySize);
    if (!SealedChecksum(sealed, sealed + kSealedChecksumAt)) {
        *error = "the checksum could not be computed";
        return false;
    }
    if (password != nullptr &&
        !ApplyPassword(salt, ops_limit, mem_limit, *password, sealed, error))
        return false;
    const std::string head = std::string(kUntrustedPrefix) +
                             (password ? "minisign encrypted secret key" : "minisign secret key without a password") +
                             "\n";
    *text = SecretBytes(head.size() + Base64EncodedSize(kSecretKeyBytes) + 1);
    if (!text->Ok()) {
        *error = "no secure memory for the key";
        return false;
    }
    std::memcpy(text->Data(), head.data(), head.size());
    Base64Encode(raw.Data(), kSecretKeyBytes, reinterpret_cast<char*>(text->Data() + head.size()));
    text->Data()[text->Size() - 1] = '\n';
    return true;
}

bool NewSecretKey(SecretKey* key, std::string* error) {
    if (!key->seed.Ok() || !crypto::RandomBytes(key->key_id, kKeyIdSize) ||
        !crypto::RandomBytes(key->seed.Data(), crypto::kSeedSize) ||
        !crypto::Ed25519PublicKey(key->seed.Data(), key->public_key)) {
        *error = "libgcrypt could not make a key";
        return false;
    }
    return true;
}

bool Sign(const SecretKey& key, Form form, const uint8_t* message, size_t n, const std::string& trusted_comment,
          Signature* signature, std::string* error) {
    if (trusted_comment.size() > kMaxTrustedComment ||
        trusted_comment.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        *error = "the trusted comment must be one line of at most " + std::to_string(kMaxTrustedComment) + " bytes";
        return false;
    }
    signature->form = form;
    std::memcpy(signature->key_id, key.key_id, kKeyIdSize);
    signature->trusted_comment = trusted_comment;
    if (!crypto::Ed25519Sign(key.seed.Data(), key.public_key, message, n, signature->signature)) {
        *error = "libgcrypt could not sign";
        return false;
    }
    std::vector<uint8_t> global(signature->signature, signature->signature + crypto::kSignatureSize);
    global.insert(global.end(), trusted_comment.begin(), trusted_comment.end());
    if (!crypto::Ed25519Sign(key.seed.Data(), key.public_key, global.data(), global.size(),
                             signature->global_signature)) {
        *error = "libgcrypt could not sign the trusted comment";
        return false;
    }
    if (Verify(key.Public(), *signature, message, n) != Verdict::kGood) {
        *error = "the new signature does not check out with the key's public half";
        return false;
    }
    return true;
}

Verdict Verify(const PublicKey& key, const Signature& signature, const uint8_t* message, size_t n) {
    if (std::memcmp(key.key_id, signature.key_id, kKeyIdSize) != 0) return Verdict::kOtherKey;
    if (!crypto::Ed25519Verify(key.key, message, n, signature.signature)) return Verdict::kMessageMismatch;
    std::vector<uint8_t> global(signature.signature, signature.signature + crypto::kSignatureSize);
    global.insert(global.end(), signature.trusted_comment.begin(), signature.trusted_comment.end());
    if (!crypto::Ed25519Verify(key.key, global.data(), global.size(), signature.global_signature))
        return Verdict::kCommentMismatch;
    return Verdict::kGood;
}

}  // namespace minisign
