// The signature options shared by the commands, and how they reach the signing library.
#include "cli/signing.h"

#include <cstring>
#include <ctime>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/password.h"
#include "io/codepage.h"
#include "io/os.h"
#include "sign/file_signer.h"
#include "sign/files.h"

namespace {

constexpr char kSignatureSuffix[] = ".minisig";
constexpr size_t kMaxSecretKeyFile = 4096;

bool Exists(const std::string& path) { return os::GetAttributes(path.c_str()) != os::kInvalidAttributes; }

// The first line of a password file, without its line break.
bool ReadPasswordFile(const std::string& path, SecretBytes* password, std::string* error) {
    if (!sign::ReadSecretFile(path.c_str(), kMaxPassword + 2, password, error)) {
        *error = "the password file " + path + " " + *error;
        return false;
    }
    size_t n = 0;
    while (n < password->Size() && password->Data()[n] != '\n') ++n;
    if (n > 0 && password->Data()[n - 1] == '\r') --n;
    password->Resize(n);
    if (n == 0 || n > kMaxPassword) {
        *error = "the password file " + path + (n == 0 ? " has an empty first line" : " holds a password that is too long");
        return false;
    }
    return true;
}

// The password from the option's file, else from the terminal.
bool GetPassword(const PasswordOptions& options, const char* prompt, SecretBytes* password, std::string* error) {
    if (!options.password_file.empty()) return ReadPasswordFile(options.password_file, password, error);
    if (!CanAskPassword()) {
        *error = "there is no terminal to ask for the password on: give it in a file with --password-file FILE";
        return false;
    }
    return AskPassword(prompt, password, error);
}

}  // namespace

void AddCheckOptions(CLI::App* command, CheckOptions* options) {
    CLI::Option* key = command->add_option(
        "--key", options->key,
        "Public key file (minisign's format): the package must carry a valid signature by this key, "
        "checked before anything else is read from it");
    command->add_option("--signature", options->signature, "The signature file (default: PACKAGE.minisig)")
        ->needs(key);
}

bool PackageSource::Open(const std::string& package, const CheckOptions& options) {
    package_ = package;
    const std::string signature = options.signature.empty() ? package + kSignatureSuffix : options.signature;
    if (options.key.empty()) {
        if (Exists(signature))
            std::fprintf(stderr, "Note: %s lies beside the package, but its signature was not checked (give --key "
                                 "PUBLIC_FILE to check it).\n", Printable(signature).c_str());
        return true;
    }
    if (!verified_.Check(package.c_str(), signature.c_str(), options.key.c_str())) {
        std::fprintf(stderr, "Signature check failed: %s.\n", Printable(verified_.Reason()).c_str());
        std::fprintf(stderr, "The package was not used: nothing was searched or changed.\n");
        return false;
    }
    checked_ = true;
    return true;
}

int PackageSource::ExitCode() const {
    return verified_.Failure() == sign::CheckFailure::kPrivateCopy ? kExitFailed : kExitInvalid;
}

void PackageSource::PrintSignature(std::FILE* out) const {
    if (!checked_) return;
    const minisign::Signature& s = verified_.Signature();
    std::fprintf(out, "Signature:   good, by key ID %s (%s)\n", minisign::KeyIdText(s.key_id).c_str(),
                 s.form == minisign::Form::kPrehashed ? "prehashed" : "legacy form");
    std::fprintf(out, "Trusted comment: %s\n", Printable(s.trusted_comment).c_str());
}

void AddPasswordFileOption(CLI::App* command, PasswordOptions* options) {
    command->add_option("--password-file", options->password_file,
                        "Read the key's password from the first line of FILE (for use without a terminal); "
                        "otherwise it is asked on the terminal, without echo");
}

bool LoadSecretKey(const std::string& path, const PasswordOptions& options, minisign::SecretKey* key,
                   std::string* error) {
    SecretBytes text;
    minisign::StoredSecretKey stored;
    if (!sign::ReadSecretFile(path.c_str(), kMaxSecretKeyFile, &text, error)) {
        *error = "the secret key file " + path + " " + *error;
        return false;
    }
    if (!minisign::ParseSecretKey(text.Data(), text.Size(), &stored, error)) {
        *error = "the secret key file " + path + " is unusable: " + *error;
        return false;
    }
    SecretBytes password;
    if (stored.encrypted && !GetPassword(options, "Password of the secret key: ", &password, error)) return false;
    if (!minisign::OpenSecretKey(stored, stored.encrypted ? &password : nullptr, key, error)) {
        *error = "the secret key " + path + " cannot be opened: " + *error;
        return false;
    }
    return true;
}

bool NewKeyPassword(const PasswordOptions& options, SecretBytes* password, std::string* error) {
    if (!GetPassword(options, "Password for the new secret key: ", password, error)) return false;
    if (!options.password_file.empty()) return true;
    if (password->Size() == 0) {
        *error = "the password is empty (use --no-password for a key without one)";
        return false;
    }
    SecretBytes again;
    if (!AskPassword("The same password again: ", &again, error)) return false;
    if (again.Size() != password->Size() || std::memcmp(again.Data(), password->Data(), again.Size()) != 0) {
        *error = "the two passwords differ";
        return false;
    }
    return true;
}

std::string DefaultTrustedComment(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // The path is text of the code page; a comment is read as UTF-8, as minisign writes it.
    std::string utf8;
    if (os::ToUtf8(name, &utf8)) name = utf8;
    return "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) + "\tfile:" + name + "\thashed";
}

bool SignPackage(const std::string& package, const std::string& signature_file, const minisign::SecretKey& key,
                 const std::string& trusted_comment, std::string* error) {
    const std::string target = signature_file.empty() ? package + kSignatureSuffix : signature_file;
    if (!sign::WriteSignatureFile(package.c_str(), target.c_str(), key, trusted_comment, error)) return false;
    std::printf("Signed %s with key ID %s: wrote %s\n", Printable(package).c_str(),
                minisign::KeyIdText(key.key_id).c_str(), Printable(target).c_str());
    std::printf("Trusted comment: %s\n", Printable(trusted_comment).c_str());
    return true;
}
