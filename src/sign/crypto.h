// The cryptography of signatures, all of it from libgcrypt: Ed25519, BLAKE2b-512 and -256,
// scrypt and random bytes. This file only hands bytes to the library and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace crypto {

constexpr size_t kSeedSize = 32;       // an Ed25519 secret key is this seed
constexpr size_t kPublicKeySize = 32;
constexpr size_t kSignatureSize = 64;
constexpr size_t kPrehashSize = 64;    // BLAKE2b-512
// Longest message Ed25519Sign and Ed25519Verify take: libgcrypt hands the message over in
// one S-expression atom, and atoms stay below 64 KiB (longer ones make libgcrypt 1.10 stop
// the program). Prehashed signatures cover 64 bytes; only the legacy form meets the limit.
constexpr size_t kMaxMessage = 65000;

// Initializes libgcrypt once: version check and the secure memory pool. False when the
// library is older than this program needs; *error then says so.
bool Ready(std::string* error = nullptr);

// BLAKE2b-512 over data given in parts.
class Blake2b512 {
public:
    Blake2b512();
    ~Blake2b512();
    Blake2b512(const Blake2b512&) = delete;
    Blake2b512& operator=(const Blake2b512&) = delete;

    bool Ok() const { return handle_ != nullptr; }
    void Update(const void* data, size_t n);
    // The digest of everything given; false when the hasher could not be made.
    bool Final(uint8_t digest[kPrehashSize]);

private:
    void* handle_ = nullptr;  // gcry_md_hd_t
};

// BLAKE2b-256 of one buffer.
bool Blake2b256(const void* data, size_t n, uint8_t digest[32]);

// The public key that belongs to a seed.
bool Ed25519PublicKey(const uint8_t seed[kSeedSize], uint8_t public_key[kPublicKeySize]);
// Signs a message of at most kMaxMessage bytes (pure Ed25519: the message itself).
bool Ed25519Sign(const uint8_t seed[kSeedSize], const uint8_t public_key[kPublicKeySize], const void* message,
                 size_t n, uint8_t signature[kSignatureSize]);
// True only for a valid signature of the message by the key; false for a message longer
// than kMaxMessage.
bool Ed25519Verify(const uint8_t public_key[kPublicKeySize], const void* message, size_t n,
                   const uint8_t signature[kSignatureSize]);

// scrypt with cost N (a power of two), block size r = 8 and parallelism p. False when the
// library refuses the parameters or cannot get the memory (128 * 8 * N bytes).
bool Scrypt(const void* password, size_t password_size, const uint8_t* salt, size_t salt_size, uint64_t n,
            uint32_t p, uint8_t* out, size_t out_size);

// Fills a buffer from the library's strongest random source; false (and nothing written)
// when the library is not usable.
bool RandomBytes(void* out, size_t n);

}  // namespace crypto
