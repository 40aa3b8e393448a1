// `ambrel keygen`: a new Ed25519 key pair in minisign's format, the secret key protected
// by a password unless --no-password.
#include <cstdio>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/signing.h"
#include "io/os.h"
#include "sign/files.h"

namespace {

struct KeygenOptions {
    std::string public_file;
    std::string secret_file;
    bool no_password = false;
    PasswordOptions password;
};

// Writes the secret key first (owner-only) and the public key after it; when the second
// cannot be written the first is deleted again, so that no half pair is left.
bool WriteKeyPair(const KeygenOptions& o, const minisign::SecretKey& key, const SecretBytes& secret_text,
                  std::string* error) {
    if (!sign::WriteNewFile(o.secret_file.c_str(), secret_text.Data(), secret_text.Size(), true, error)) {
        *error = "the secret key file " + o.secret_file + " " + *error;
        return false;
    }
    const std::string public_text = minisign::FormatPublicKey(key.Public());
    if (!sign::WriteNewFile(o.public_file.c_str(), public_text.data(), public_text.size(), false, error)) {
        os::DeleteFile(o.secret_file.c_str());
        *error = "the public key file " + o.public_file + " " + *error;
        return false;
    }
    return true;
}

int RunKeygen(KeygenOptions& o) {
    if (!ArgumentsInCodePage({&o.public_file, &o.secret_file, &o.password.password_file}, "keygen"))
        return kExitInvalid;
    for (const std::string* path : {&o.secret_file, &o.public_file}) {
        if (os::GetAttributes(path->c_str()) != os::kInvalidAttributes) {
            std::fprintf(stderr, "ambrel keygen: error: %s exists already; nothing was written\n",
                         Printable(*path).c_str());
            return kExitFailed;
        }
    }
    std::string error;
    SecretBytes password;
    minisign::SecretKey key;
    SecretBytes secret_text;
    if ((!o.no_password && !NewKeyPassword(o.password, &password, &error)) || !minisign::NewSecretKey(&key, &error) ||
        !minisign::SealSecretKey(key, o.no_password ? nullptr : &password, &secret_text, &error) ||
        !WriteKeyPair(o, key, secret_text, &error)) {
        std::fprintf(stderr, "ambrel keygen: error: %s; nothing was written\n", Printable(error).c_str());
        return kExitFailed;
    }
    std::printf("Key ID %s\n", minisign::KeyIdText(key.key_id).c_str());
    std::printf("The secret key is in %s (%s). Keep it secret.\n", Printable(o.secret_file).c_str(),
                o.no_password ? "without a password" : "protected by the password");
    std::printf("The public key is in %s. Packages signed with the secret key are checked with\n"
                "  ambrel apply PACKAGE --key %s\n", Printable(o.public_file).c_str(), Printable(o.public_file).c_str());
    return kExitOk;
}

}  // namespace

void AddKeygenCommand(CLI::App& app, int& exit_code) {
    auto o = std::make_shared<KeygenOptions>();
    CLI::App* cmd = app.add_subcommand("keygen", "Make a key pair for signing packages (minisign's format)");
    cmd->add_option("-p,--public", o->public_file, "The public key file to write")->required();
    cmd->add_option("-s,--secret", o->secret_file, "The secret key file to write (readable by you alone)")->required();
    CLI::Option* none = cmd->add_flag("--no-password", o->no_password, "Do not protect the secret key with a password");
    AddPasswordFileOption(cmd, &o->password);
    cmd->get_option("--password-file")->excludes(none);
    cmd->footer(
        "The password is asked twice on the terminal, without echo; without a terminal it is the\n"
        "first line of --password-file. The secret key is sealed as minisign seals it (scrypt with\n"
        "1 GiB of memory), so minisign -S signs with it and minisign -V checks with the public key.\n"
        "Existing files are never overwritten.\n"
        "Exit codes: 0 written, 1 nothing written (a file exists, no password), 2 usage error.");
    cmd->callback([o, &exit_code] { exit_code = RunKeygen(*o); });
}
