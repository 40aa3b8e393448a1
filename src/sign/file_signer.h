// Signing a file in minisign's prehashed form and writing its signature file.
#pragma once

#include <string>

#include "sign/minisign.h"

namespace sign {

// The untrusted comment of the signatures this program writes.
constexpr char kSignatureComment[] = "signature from ambrel secret key";

// Hashes the file with BLAKE2b-512 and signs the digest together with the trusted comment.
bool SignFile(const char* path, const minisign::SecretKey& key, const std::string& trusted_comment,
              minisign::Signature* signature, std::string* error);
// Signs the file and puts the signature file in place (replacing an earlier one whole).
bool WriteSignatureFile(const char* path, const char* signature_file, const minisign::SecretKey& key,
                        const std::string& trusted_comment, std::string* error);

}  // namespace sign
