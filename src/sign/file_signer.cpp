// Prehashed signatures of files, written as minisign writes them.
#include "sign/file_signer.h"

#include <memory>
#include <new>

#include "sign/files.h"

namespace sign {

bool SignFile(const char* path, const minisign::SecretKey& key, const std::string& trusted_comment,
              minisign::Signature* signature, std::string* error) {
    FileOwner file(os::OpenFile(path, os::kModeRead | os::kShareRead));
    if (!file.Open()) {
        *error = std::string(path) + " cannot be read";
        return false;
    }
    constexpr uint32_t kChunk = 1u << 20;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kChunk]);
    crypto::Blake2b512 hash;
    if (!chunk || !hash.Ok()) {
        *error = "not enough memory to hash " + std::string(path);
        return false;
    }
    for (;;) {
        uint32_t got = 0;
        if (!os::ReadFile(file.Get(), chunk.get(), kChunk, &got)) {
            *error = std::string(path) + " cannot be read";
            return false;
        }
        if (got == 0) break;
        hash.Update(chunk.get(), got);
    }
    uint8_t digest[crypto::kPrehashSize];
    return hash.Final(digest) &&
           minisign::Sign(key, minisign::Form::kPrehashed, digest, sizeof digest, trusted_comment, signature, error);
}

bool WriteSignatureFile(const char* path, const char* signature_file, const minisign::SecretKey& key,
                        const std::string& trusted_comment, std::string* error) {
    minisign::Signature signature;
    if (!SignFile(path, key, trusted_comment, &signature, error)) return false;
    if (!ReplaceFileText(signature_file, minisign::FormatSignature(signature, kSignatureComment), error)) {
        *error = "the signature file " + std::string(signature_file) + " " + *error;
        return false;
    }
    return true;
}

}  // namespace sign
