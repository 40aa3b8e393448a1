// The signature options of the commands: --key and --signature on apply, verify and info
// (the check, and the private copy the rest of the command reads), and the secret key,
// password and trusted comment of keygen, sign and build --sign.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "sign/minisign.h"
#include "sign/verified_package.h"

struct CheckOptions {
    std::string key;        // public key file; empty: no check
    std::string signature;  // empty: PACKAGE.minisig
};
// Adds --key and --signature (which needs --key) to a command.
void AddCheckOptions(CLI::App* command, CheckOptions* options);

// The file a command reads as its package. Without --key that is the package itself; with
// it, the package is checked against its signature before anything else is read from it,
// and the command reads the private copy of the checked bytes from then on.
class PackageSource {
public:
    // Without a key, notes on stderr that a signature beside the package was not checked.
    // With one, runs the check; false when it failed, after saying why on stderr: the
    // command then ends with ExitCode() and reads nothing more.
    bool Open(const std::string& package, const CheckOptions& options);
    const char* Path() const { return checked_ ? verified_.Path() : package_.c_str(); }
    bool Checked() const { return checked_; }
    const sign::VerifiedPackage& Verified() const { return verified_; }
    int ExitCode() const;
    // "Signature: good ..." and the trusted comment, escaped for the terminal; nothing
    // when no check was made.
    void PrintSignature(std::FILE* out) const;

private:
    std::string package_;
    bool checked_ = false;
    sign::VerifiedPackage verified_;
};

// The password source of a command that opens or makes a secret key.
struct PasswordOptions {
    std::string password_file;  // the first line is the password; empty: ask on the terminal
};
void AddPasswordFileOption(CLI::App* command, PasswordOptions* options);

// Reads and opens a secret key file, asking for its password when it has one. False, with
// *error saying why (a wrong password among others).
bool LoadSecretKey(const std::string& path, const PasswordOptions& options, minisign::SecretKey* key,
                   std::string* error);
// The password for a new key: from the password file, or asked twice on the terminal.
bool NewKeyPassword(const PasswordOptions& options, SecretBytes* password, std::string* error);

// minisign's trusted comment for a prehashed signature: the time and the file's name.
std::string DefaultTrustedComment(const std::string& path);
// Signs PACKAGE into the signature file (default PACKAGE.minisig) and says so on stdout.
bool SignPackage(const std::string& package, const std::string& signature_file, const minisign::SecretKey& key,
                 const std::string& trusted_comment, std::string* error);
