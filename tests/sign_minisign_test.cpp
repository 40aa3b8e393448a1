// minisign's files as the signing library reads and writes them: real files made by the
// minisign program, keys sealed and opened, and the check of a package with its private
// copy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/os.h"
#include "sign/files.h"
#include "sign/file_signer.h"
#include "sign/minisign.h"
#include "sign/verified_package.h"
#include "support/test_util.h"

namespace {

// Made by `minisign -G -W` (a key without a password) and `minisign -S [-l]` of "hello\n".
const char kMinisignPublic[] =
    "untrusted comment: minisign public key 713444E6CD4C9D63\n"
    "RWRjnUzN5kQ0cb33Rfj2GrYEdptV1ipzWB3Mg51BixX38kyEJAbzFAQj\n";
const char kMinisignSecret[] =
    "untrusted comment: minisign encrypted secret key\n"
    "RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAY51MzeZENHEr9qqGNyLLzO0YSQN0J/kcFOc2zDJ90v+"
    "1bySC1qsPbr33Rfj2GrYEdptV1ipzWB3Mg51BixX38kyEJAbzFAQjAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
const char kPrehashedSignature[] =
    "untrusted comment: signature from minisign secret key\n"
    "RURjnUzN5kQ0cZYb9YkhchMGheEetoHRkx19QJne8x/c2KVa1Ni/829vabb7klpS2/Cev+KqymZtEuXQMMFUSFilXlmxLEaHtwc=\n"
    "trusted comment: timestamp:1796712290\tfile:f.txt\thashed\n"
    "9TvF3Wk6ABu6w4EEB8EeQRPZE5o6UlB4Ayfx05FN+ZVy5zUHnBjUwGdVj/WvhMi2eygMf1PPojnIzOFDn3KlAg==\n";
const char kLegacySignature[] =
    "untrusted comment: signature from minisign secret key\n"
    "RWRjnUzN5kQ0cZeNY8XTuOJkcdgruR44tUyY65RCqW8SXtet9CE+4Xt7vCHSDo1sTBoCL6DXpZp2p8SceltL8uc7ZWHWXU3JxQA=\n"
    "trusted comment: timestamp:1796712290\tfile:f.txt\n"
    "H51Lvj5TrOTdCxAIEeYwwFERzhELN/PRWCumAv/qDmnScjDAAmvYk39tcMguOG52X9fnRdriEI+syY3poJnWAg==\n";
const char kSigned[] = "hello\n";

SecretBytes Secret(const std::string& text) {
    SecretBytes s(text.size());
    std::memcpy(s.Data(), text.data(), text.size());
    return s;
}

minisign::SecretKey OpenPlain(const std::string& text) {
    minisign::StoredSecretKey stored;
    minisign::SecretKey key;
    std::string error;
    const SecretBytes bytes = Secret(text);
    EXPECT_TRUE(minisign::ParseSecretKey(bytes.Data(), bytes.Size(), &stored, &error)) << error;
    EXPECT_TRUE(minisign::OpenSecretKey(stored, nullptr, &key, &error)) << error;
    return key;
}

// Replaces the first occurrence of `from` in `text`.
std::string Edit(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(SignFormats, MinisignFilesAreRead) {
    minisign::PublicKey key;
    minisign::Signature signature;
    std::string error;
    ASSERT_TRUE(minisign::ParsePublicKey(kMinisignPublic, &key, &error)) << error;
    EXPECT_EQ(minisign::KeyIdText(key.key_id), "713444E6CD4C9D63");
    EXPECT_EQ(minisign::FormatPublicKey(key), kMinisignPublic) << "written back byte for byte";
    ASSERT_TRUE(minisign::ParseSignature(kPrehashedSignature, &signature, &error)) << error;
    EXPECT_EQ(signature.form, minisign::Form::kPrehashed);
    EXPECT_EQ(signature.trusted_comment, "timestamp:1796712290\tfile:f.txt\thashed");
    EXPECT_EQ(minisign::FormatSignature(signature, "signature from minisign secret key"), kPrehashedSignature);
    // Lines ending in CR LF, as an editor on Windows may leave them, read the same.
    std::string crlf;
    for (char c : std::string(kLegacySignature)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(minisign::ParseSignature(crlf + "\r\n", &signature, &error)) << error;
    EXPECT_EQ(signature.form, minisign::Form::kLegacy);
    EXPECT_EQ(signature.trusted_comment, "timestamp:1796712290\tfile:f.txt");
}

TEST(SignFormats, MalformedFilesAreRefusedWithTheirReason) {
    minisign::PublicKey key;
    minisign::Signature signature;
    std::string error;
    EXPECT_FALSE(minisign::ParsePublicKey("", &key, &error));
    EXPECT_FALSE(minisign::ParsePublicKey(Edit(kMinisignPublic, "untrusted", "trusted"), &key, &error));
    EXPECT_FALSE(minisign::ParsePublicKey(Edit(kMinisignPublic, "FAQj", "FAQ"), &key, &error));
    EXPECT_NE(error.find("42 bytes"), std::string::npos) << error;
    EXPECT_FALSE(minisign::ParsePublicKey(Edit(kMinisignPublic, "RWRj", "RURj"), &key, &error)) << "algorithm ED";
    EXPECT_FALSE(minisign::ParsePublicKey(std::string(kMinisignPublic) + "extra\n", &key, &error));
    EXPECT_FALSE(minisign::ParseSignature(Edit(kPrehashedSignature, "trusted comment: ", "comment: "), &signature, &error));
    EXPECT_FALSE(minisign::ParseSignature(Edit(kPrehashedSignature, "RURj", "RXRj"), &signature, &error));
    EXPECT_FALSE(minisign::ParseSignature(Edit(kPrehashedSignature, "Dn3KlAg==", "Dn3KlA=="), &signature, &error));
    const std::string long_comment = "trusted comment: " + std::string(minisign::kMaxTrustedComment + 1, 'x');
    EXPECT_FALSE(minisign::ParseSignature(Edit(kPrehashedSignature, "trusted comment: timestamp:1796712290\tfile:f.txt"
                                                                    "\thashed", long_comment),
                                          &signature, &error));
    const std::string three_lines = std::string(kPrehashedSignature).substr(0, std::string(kPrehashedSignature).rfind("9Tv"));
    EXPECT_FALSE(minisign::ParseSignature(three_lines, &signature, &error)) << "cut before its last line";
}

TEST(SignFormats, MinisignSignaturesCheckAndEveryChangeIsCaught) {
    minisign::PublicKey key;
    minisign::Signature prehashed, legacy;
    std::string error;
    ASSERT_TRUE(minisign::ParsePublicKey(kMinisignPublic, &key, &error));
    ASSERT_TRUE(minisign::ParseSignature(kPrehashedSignature, &prehashed, &error));
    ASSERT_TRUE(minisign::ParseSignature(kLegacySignature, &legacy, &error));
    const Bytes message = ToBytes(kSigned);
    uint8_t digest[64];
    crypto::Blake2b512 hash;
    hash.Update(message.data(), message.size());
    ASSERT_TRUE(hash.Final(digest));
    EXPECT_EQ(minisign::Verify(key, prehashed, digest, sizeof digest), minisign::Verdict::kGood);
    EXPECT_EQ(minisign::Verify(key, legacy, message.data(), message.size()), minisign::Verdict::kGood);
    EXPECT_EQ(minisign::Verify(key, prehashed, message.data(), message.size()), minisign::Verdict::kMessageMismatch)
        << "a prehashed signature does not cover the file itself";
    minisign::Signature changed = prehashed;
    changed.trusted_comment += " ";
    EXPECT_EQ(minisign::Verify(key, changed, digest, sizeof digest), minisign::Verdict::kCommentMismatch);
    changed = prehashed;
    changed.global_signature[10] ^= 1;
    EXPECT_EQ(minisign::Verify(key, changed, digest, sizeof digest), minisign::Verdict::kCommentMismatch);
    changed = prehashed;
    changed.key_id[0] ^= 1;
    EXPECT_EQ(minisign::Verify(key, changed, digest, sizeof digest), minisign::Verdict::kOtherKey);
    digest[63] ^= 0x80;
    EXPECT_EQ(minisign::Verify(key, prehashed, digest, sizeof digest), minisign::Verdict::kMessageMismatch);
}

TEST(SignKeys, MinisignKeyWithoutPasswordSignsWhatItsPublicKeyChecks) {
    minisign::SecretKey key = OpenPlain(kMinisignSecret);
    EXPECT_EQ(minisign::KeyIdText(key.key_id), "713444E6CD4C9D63");
    minisign::PublicKey public_key;
    std::string error;
    ASSERT_TRUE(minisign::ParsePublicKey(kMinisignPublic, &public_key, &error));
    EXPECT_EQ(std::memcmp(key.public_key, public_key.key, 32), 0);
    const Bytes message = ToBytes("a package");
    minisign::Signature signature;
    ASSERT_TRUE(minisign::Sign(key, minisign::Form::kLegacy, message.data(), message.size(), "comment", &signature, &error));
    EXPECT_EQ(minisign::Verify(public_key, signature, message.data(), message.size()), minisign::Verdict::kGood);
    EXPECT_FALSE(minisign::Sign(key, minisign::Form::kLegacy, message.data(), message.size(), "two\nlines", &signature,
                                &error));
}

TEST(SignKeys, SealedKeyOpensWithItsPasswordOnly) {
    minisign::SecretKey key;
    std::string error;
    ASSERT_TRUE(minisign::NewSecretKey(&key, &error)) << error;
    const SecretBytes password = Secret("correct horse");
    SecretBytes text;
    // libsodium's interactive limits: 16 MiB, so that the test stays quick.
    ASSERT_TRUE(minisign::SealSecretKey(key, &password, &text, &error, 524288, 16777216)) << error;
    minisign::StoredSecretKey stored;
    ASSERT_TRUE(minisign::ParseSecretKey(text.Data(), text.Size(), &stored, &error)) << error;
    EXPECT_TRUE(stored.encrypted);
    minisign::SecretKey opened;
    ASSERT_TRUE(minisign::OpenSecretKey(stored, &password, &opened, &error)) << error;
    EXPECT_EQ(std::memcmp(opened.seed.Data(), key.seed.Data(), 32), 0);
    EXPECT_EQ(std::memcmp(opened.key_id, key.key_id, 8), 0);
    const SecretBytes wrong = Secret("correct horsf");
    EXPECT_FALSE(minisign::OpenSecretKey(stored, &wrong, &opened, &error));
    EXPECT_NE(error.find("wrong password"), std::string::npos) << error;
    EXPECT_FALSE(minisign::OpenSecretKey(stored, nullptr, &opened, &error)) << "no password at all";
}

TEST(SignKeys, DamagedPlainKeysAreRefused) {
    minisign::SecretKey key;
    std::string error;
    ASSERT_TRUE(minisign::NewSecretKey(&key, &error));
    SecretBytes text;
    ASSERT_TRUE(minisign::SealSecretKey(key, nullptr, &text, &error));
    const std::string ours(reinterpret_cast<const char*>(text.Data()), text.Size());
    OpenPlain(ours);  // a checksum that is right opens
    struct Damage {
        std::string text;
        size_t at;  // a Base64 character of the key line
        const char* reason;
    } damages[] = {
        {ours, 80, "checksum"},                  // the key id, which the checksum covers
        {ours, 200, "checksum"},                 // the checksum itself
        {kMinisignSecret, 90, "public key"},     // the seed, where minisign wrote no checksum
    };
    for (const Damage& d : damages) {
        std::string bad = d.text;
        const size_t at = bad.find('\n') + 1 + d.at;
        bad[at] = bad[at] == 'A' ? 'B' : 'A';
        minisign::StoredSecretKey stored;
        minisign::SecretKey opened;
        const SecretBytes bytes = Secret(bad);
        ASSERT_TRUE(minisign::ParseSecretKey(bytes.Data(), bytes.Size(), &stored, &error)) << error;
        EXPECT_FALSE(minisign::OpenSecretKey(stored, nullptr, &opened, &error)) << d.at;
        EXPECT_NE(error.find(d.reason), std::string::npos) << error;
    }
    minisign::StoredSecretKey stored;
    const SecretBytes garbage = Secret("untrusted comment: x\nnot base64 at all\n");
    EXPECT_FALSE(minisign::ParseSecretKey(garbage.Data(), garbage.Size(), &stored, &error));
}
