// libgcrypt behind the small interface of crypto.h. S-expressions and contexts are held by
// owners that release them on every path; libgcrypt copies what it needs of secret input
// into its own secure memory when the input lies there (see secret_bytes.h).
#include "sign/crypto.h"

#include <gcrypt.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace crypto {
namespace {

// The oldest libgcrypt with everything used here (EdDSA flags, BLAKE2b, scrypt).
constexpr char kMinimumVersion[] = "1.8.0";

struct SexpRelease {
    void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpRelease>;
struct MpiRelease {
    void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiRelease>;
struct ContextRelease {
    void operator()(gcry_ctx_t c) const { gcry_ctx_release(c); }
};
using Context = std::unique_ptr<gcry_context, ContextRelease>;

// The public-key S-expression of an Ed25519 key.
Sexp PublicKeySexp(const uint8_t public_key[kPublicKeySize]) {
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        static_cast<int>(kPublicKeySize), public_key) != 0)
        return nullptr;
    return Sexp(s);
}

Sexp DataSexp(const void* message, size_t n) {
    gcry_sexp_t s = nullptr;
    // %b with a length of zero is fine: the empty message.
    if (gcry_sexp_build(&s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))", static_cast<int>(n),
                        n == 0 ? "" : message) != 0)
        return nullptr;
    return Sexp(s);
}

// Copies the value of token `name` inside `sexp` into out, right-aligned in `size` bytes
// (a value given as a number may have lost leading zero bytes). False when it is missing
// or longer.
bool TokenBytes(gcry_sexp_t sexp, const char* name, uint8_t* out, size_t size) {
    Sexp token(gcry_sexp_find_token(sexp, name, 0));
    if (!token) return false;
    size_t length = 0;
    const char* data = gcry_sexp_nth_data(token.get(), 1, &length);
    if (data == nullptr || length > size) return false;
    std::memset(out, 0, size - length);
    std::memcpy(out + (size - length), data, length);
    return true;
}

// libgcrypt's notes for its own developers (such as the Windows entropy gatherer's hint
// about disk statistics) are dropped; warnings and errors go to stderr.
extern "C" void OnLibraryLog(void*, int level, const char* format, va_list args) {
    static bool dropping = false;
    if (level == GCRY_LOG_CONT ? dropping : (dropping = level < GCRY_LOG_WARN || level == GCRY_LOG_DEBUG)) return;
    if (level != GCRY_LOG_CONT) std::fputs("libgcrypt: ", stderr);
    std::vfprintf(stderr, format, args);
}

}  // namespace

bool Ready(std::string* error) {
    static const bool ready = [] {
        gcry_set_log_handler(OnLibraryLog, nullptr);
        if (gcry_check_version(kMinimumVersion) == nullptr) return false;
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            gcry_control(GCRYCTL_DISABLE_SECMEM_WARN);
            gcry_control(GCRYCTL_INIT_SECMEM, 65536, 0);
            gcry_control(GCRYCTL_AUTO_EXPAND_SECMEM, 65536, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        return true;
    }();
    if (!ready && error != nullptr)
        *error = std::string("libgcrypt ") + gcry_check_version(nullptr) + " is too old; " + kMinimumVersion +
                 " or later is needed";
    return ready;
}

Blake2b512::Blake2b512() {
    gcry_md_hd_t h = nullptr;
    if (Ready() && gcry_md_open(&h, GCRY_MD_BLAKE2B_512, 0) == 0) handle_ = h;
}

Blake2b512::~Blake2b512() {
    if (handle_ != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Blake2b512::Update(const void* data, size_t n) {
    if (handle_ != nullptr && n != 0) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, n);
}

bool Blake2b512::Final(uint8_t digest[kPrehashSize]) {
    if (handle_ == nullptr) return false;
    const unsigned char* d = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_BLAKE2B_512);
    if (d == nullptr) return false;
    std::memcpy(digest, d, kPrehashSize);
    return true;
}

bool Blake2b256(const void* data, size_t n, uint8_t digest[32]) {
    if (!Ready()) return false;
    gcry_md_hash_buffer(GCRY_MD_BLAKE2B_256, digest, data, n);
    return true;
}

bool Ed25519PublicKey(const uint8_t seed[kSeedSize], uint8_t public_key[kPublicKeySize]) {
    if (!Ready()) return false;
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                        static_cast<int>(kSeedSize), seed) != 0)
        return false;
    Sexp key(s);
    gcry_ctx_t c = nullptr;
    if (gcry_mpi_ec_new(&c, key.get(), nullptr) != 0) return false;
    Context context(c);
    Mpi q(gcry_mpi_ec_get_mpi("q@eddsa", context.get(), 1));
    if (!q || !gcry_mpi_get_flag(q.get(), GCRYMPI_FLAG_OPAQUE)) return false;
    unsigned int bits = 0;
    const void* bytes = gcry_mpi_get_opaque(q.get(), &bits);
    if (bytes == nullptr || bits != 8 * kPublicKeySize) return false;
    std::memcpy(public_key, bytes, kPublicKeySize);
    return true;
}

bool Ed25519Sign(const uint8_t seed[kSeedSize], const uint8_t public_key[kPublicKeySize], const void* message,
                 size_t n, uint8_t signature[kSignatureSize]) {
    if (!Ready() || n > kMaxMessage) return false;
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                        static_cast<int>(kPublicKeySize), public_key, static_cast<int>(kSeedSize), seed) != 0)
        return false;
    Sexp key(s);
    Sexp data = DataSexp(message, n);
    if (!data) return false;
    gcry_sexp_t result = nullptr;
    if (gcry_pk_sign(&result, data.get(), key.get()) != 0) return false;
    Sexp sig(result);
    return TokenBytes(sig.get(), "r", signature, 32) && TokenBytes(sig.get(), "s", signature + 32, 32);
}

bool Ed25519Verify(const uint8_t public_key[kPublicKeySize], const void* message, size_t n,
                   const uint8_t signature[kSignatureSize]) {
    if (!Ready() || n > kMaxMessage) return false;
    Sexp key = PublicKeySexp(public_key);
    Sexp data = DataSexp(message, n);
    gcry_sexp_t s = nullptr;
    if (!key || !data ||
        gcry_sexp_build(&s, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature, 32, signature + 32) != 0)
        return false;
    Sexp sig(s);
    return gcry_pk_verify(sig.get(), data.get(), key.get()) == 0;
}

bool Scrypt(const void* password, size_t password_size, const uint8_t* salt, size_t salt_size, uint64_t n,
            uint32_t p, uint8_t* out, size_t out_size) {
    if (!Ready() || n < 2 || (n & (n - 1)) != 0 || n > (1u << 30) || p == 0) return false;
    return gcry_kdf_derive(password, password_size, GCRY_KDF_SCRYPT, static_cast<int>(n), salt, salt_size, p,
                           out_size, out) == 0;
}

bool RandomBytes(void* out, size_t n) {
    if (!Ready()) return false;
    gcry_randomize(out, n, GCRY_VERY_STRONG_RANDOM);
    // Closes the random sources until the next call, which also releases the jitter
    // entropy collector that libgcrypt would otherwise hold to the end of the process.
    gcry_control(GCRYCTL_CLOSE_RANDOM_DEVICE, 0);
    return true;
}

}  // namespace crypto
