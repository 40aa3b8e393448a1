// `ambrel sign PACKAGE -s SECRET`: writes PACKAGE.minisig, a minisign signature (prehashed)
// with a trusted comment, that `ambrel apply --key` and `minisign -V` check.
#include <cstdio>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/signing.h"
#include "package/package.h"

namespace {

struct SignOptions {
    std::string package;
    std::string secret_file;
    std::string trusted_comment;
    bool has_comment = false;
    std::string signature;
    PasswordOptions password;
};

int RunSign(SignOptions& o) {
    if (!ArgumentsInCodePage({&o.package, &o.secret_file, &o.signature, &o.password.password_file}, "sign"))
        return kExitInvalid;
    {
        auto package = UpgradePackage::OpenFull(o.package.c_str(), ".");
        if (!package->IsValid()) {
            ReportInvalidPackage(package.get());
            std::fprintf(stderr, "Nothing was signed.\n");
            return kExitInvalid;
        }
    }
    std::string error;
    minisign::SecretKey key;
    const std::string comment = o.has_comment ? o.trusted_comment : DefaultTrustedComment(o.package);
    if (!LoadSecretKey(o.secret_file, o.password, &key, &error) ||
        !SignPackage(o.package, o.signature, key, comment, &error)) {
        std::fprintf(stderr, "ambrel sign: error: %s; nothing was signed\n", Printable(error).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void AddSignCommand(CLI::App& app, int& exit_code) {
    auto o = std::make_shared<SignOptions>();
    CLI::App* cmd = app.add_subcommand("sign", "Sign a package (writes PACKAGE.minisig, minisign's format)");
    cmd->add_option("PACKAGE", o->package, "The upgrade package (.upg)")->required();
    cmd->add_option("-s,--secret", o->secret_file, "The secret key file (ambrel keygen or minisign -G)")->required();
    cmd->add_option("-t,--trusted-comment", o->trusted_comment,
                    "One line signed with the package and shown when it is checked (default: the time and the "
                    "package's name)")
        ->each([o](const std::string&) { o->has_comment = true; });
    cmd->add_option("--signature", o->signature, "The signature file to write (default: PACKAGE.minisig)");
    AddPasswordFileOption(cmd, &o->password);
    cmd->footer(
        "The package is hashed with BLAKE2b-512 and the hash signed with Ed25519 (minisign's\n"
        "prehashed form); the trusted comment is signed with it. An earlier signature file is\n"
        "replaced whole. A password-protected key asks for its password on the terminal.\n"
        "Exit codes: 0 signed, 1 not signed (key unreadable, wrong password, file not written),\n"
        "2 invalid package or usage error.");
    cmd->callback([o, &exit_code] { exit_code = RunSign(*o); });
}
