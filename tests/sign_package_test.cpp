// The check of a signed package through its private copy, and signing files: what is
// refused, in which order, and that the copy holds exactly the checked bytes and is gone
// afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "io/os.h"
#include "sign/file_signer.h"
#include "sign/files.h"
#include "sign/minisign.h"
#include "sign/verified_package.h"
#include "support/test_util.h"

namespace {

// A key pair, a package of random bytes and its signature in a scratch folder.
class SignedPackage {
public:
    // By default more than one chunk of the copy (1 MiB).
    explicit SignedPackage(size_t size = 3 * 1024 * 1024 + 17) {
        std::string error;
        EXPECT_TRUE(minisign::NewSecretKey(&key_, &error)) << error;
        WriteFileText(dir_ / "key.pub", minisign::FormatPublicKey(key_.Public()));
        WriteFileBytes(dir_ / "p.upg", RandomBytes(size, 5));
        Sign(minisign::Form::kPrehashed, "for the tests");
    }
    void Sign(minisign::Form form, const std::string& comment) {
        const Bytes data = ReadFileBytes(dir_ / "p.upg");
        uint8_t digest[64];
        crypto::Blake2b512 hash;
        hash.Update(data.data(), data.size());
        ASSERT_TRUE(hash.Final(digest));
        minisign::Signature s;
        std::string error;
        const bool legacy = form == minisign::Form::kLegacy;
        if (legacy && data.size() > crypto::kMaxMessage) {  // made up: no key could sign it here
            ASSERT_TRUE(minisign::Sign(key_, form, data.data(), 100, comment, &s, &error)) << error;
        } else {
            ASSERT_TRUE(minisign::Sign(key_, form, legacy ? data.data() : digest, legacy ? data.size() : 64, comment, &s,
                                       &error)) << error;
        }
        WriteFileText(dir_ / "p.upg.minisig", minisign::FormatSignature(s, "test"));
    }
    sign::CheckFailure Check(sign::VerifiedPackage* v) {
        v->Check((dir_ / "p.upg").c_str(), (dir_ / "p.upg.minisig").c_str(), (dir_ / "key.pub").c_str());
        return v->Failure();
    }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    const minisign::SecretKey& Key() const { return key_; }

private:
    TempDir dir_;
    minisign::SecretKey key_;
};

void FlipByte(const std::string& path, size_t at) {
    Bytes data = ReadFileBytes(path);
    data[at] ^= 0x01;
    WriteFileBytes(path, data);
}

}  // namespace

TEST(SignCheck, GoodPackageIsCopiedPrivatelyAndTheCopyGoesAway) {
    SignedPackage p;
    std::string copy;
    {
        sign::VerifiedPackage v;
        ASSERT_EQ(p.Check(&v), sign::CheckFailure::kNone) << v.Reason();
        copy = v.Path();
        EXPECT_NE(copy, p / "p.upg");
        EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(p / "p.upg"));
        EXPECT_EQ(v.Signature().trusted_comment, "for the tests");
        // What happens to the package on disk now does not reach the checked copy.
        const Bytes checked = ReadFileBytes(copy);
        FlipByte(p / "p.upg", 100);
        EXPECT_EQ(ReadFileBytes(copy), checked);
        if (IsPosix()) {
            const std::string folder = copy.substr(0, copy.rfind('/'));
            EXPECT_EQ(os::GetAttributes(folder.c_str()) & os::kAttrDirectory, os::kAttrDirectory);
            EXPECT_EQ(std::system(("test \"$(stat -c %a '" + folder + "')\" = 700").c_str()), 0);
            EXPECT_EQ(std::system(("test \"$(stat -c %a '" + copy + "')\" = 600").c_str()), 0);
        }
    }
    EXPECT_FALSE(FileExists(copy));
    EXPECT_FALSE(FolderExists(copy.substr(0, copy.find_last_of("/\\"))));
}

TEST(SignCheck, LegacyFormChecksTheWholeFileUpToItsLimit) {
    SignedPackage p(sign::kMaxLegacyPackage);
    p.Sign(minisign::Form::kLegacy, "legacy");
    sign::VerifiedPackage v;
    ASSERT_EQ(p.Check(&v), sign::CheckFailure::kNone) << v.Reason();
    EXPECT_EQ(v.Signature().form, minisign::Form::kLegacy);
    FlipByte(p / "p.upg", sign::kMaxLegacyPackage - 1);  // the last byte
    EXPECT_EQ(p.Check(&v), sign::CheckFailure::kPackageChanged);
    // One byte more is refused as such, before libgcrypt sees it.
    SignedPackage larger(sign::kMaxLegacyPackage + 1);
    larger.Sign(minisign::Form::kLegacy, "legacy");
    EXPECT_EQ(larger.Check(&v), sign::CheckFailure::kTooLarge);
    EXPECT_NE(v.Reason().find("prehashed"), std::string::npos) << v.Reason();
}

TEST(SignCheck, EachRefusalIsNamedAndLeavesNoCopy) {
    struct Case {
        const char* what;
        void (*spoil)(SignedPackage&);
        sign::CheckFailure expected;
    } cases[] = {
        {"first byte changed", [](SignedPackage& p) { FlipByte(p / "p.upg", 0); }, sign::CheckFailure::kPackageChanged},
        {"middle byte changed", [](SignedPackage& p) { FlipByte(p / "p.upg", 1500000); },
         sign::CheckFailure::kPackageChanged},
        {"cut short", [](SignedPackage& p) {
             Bytes d = ReadFileBytes(p / "p.upg");
             d.pop_back();
             WriteFileBytes(p / "p.upg", d);
         }, sign::CheckFailure::kPackageChanged},
        {"comment changed", [](SignedPackage& p) {
             std::string s = ReadFileText(p / "p.upg.minisig");
             s.replace(s.find("for the tests"), 3, "FOR");
             WriteFileText(p / "p.upg.minisig", s);
         }, sign::CheckFailure::kCommentChanged},
        {"signature missing", [](SignedPackage& p) { os::DeleteFile((p / "p.upg.minisig").c_str()); },
         sign::CheckFailure::kSignatureMissing},
        {"signature garbage", [](SignedPackage& p) { WriteFileText(p / "p.upg.minisig", "garbage\n"); },
         sign::CheckFailure::kSignatureMalformed},
        {"key garbage", [](SignedPackage& p) { WriteFileText(p / "key.pub", "untrusted comment: x\n@@@@\n"); },
         sign::CheckFailure::kKeyFile},
        {"another key", [](SignedPackage& p) {
             minisign::SecretKey other;
             std::string error;
             ASSERT_TRUE(minisign::NewSecretKey(&other, &error));
             WriteFileText(p / "key.pub", minisign::FormatPublicKey(other.Public()));
         }, sign::CheckFailure::kOtherKey},
        {"package missing", [](SignedPackage& p) { os::DeleteFile((p / "p.upg").c_str()); },
         sign::CheckFailure::kPackageUnreadable},
    };
    for (const Case& c : cases) {
        SignedPackage p;
        c.spoil(p);
        sign::VerifiedPackage v;
        EXPECT_EQ(p.Check(&v), c.expected) << c.what << ": " << v.Reason();
        EXPECT_FALSE(v.Reason().empty()) << c.what;
        EXPECT_STREQ(v.Path(), "") << c.what << ": a refused package leaves no copy";
    }
}

// The key and the signature are read first: with the wrong key the package is never
// opened (here it cannot be, and the refusal still names the key).
TEST(SignCheck, KeyIdIsComparedBeforeThePackageIsRead) {
    SignedPackage p;
    minisign::SecretKey other;
    std::string error;
    ASSERT_TRUE(minisign::NewSecretKey(&other, &error));
    WriteFileText(p / "key.pub", minisign::FormatPublicKey(other.Public()));
    os::DeleteFile((p / "p.upg").c_str());
    sign::VerifiedPackage v;
    EXPECT_EQ(p.Check(&v), sign::CheckFailure::kOtherKey);
    EXPECT_NE(v.Reason().find(minisign::KeyIdText(other.key_id)), std::string::npos) << v.Reason();
}

TEST(SignFiles, SignatureFileIsReplacedWholeAndChecks) {
    SignedPackage p;
    std::string error;
    WriteFileText(p / "p.upg.minisig", "an earlier signature\n");
    ASSERT_TRUE(sign::WriteSignatureFile((p / "p.upg").c_str(), (p / "p.upg.minisig").c_str(), p.Key(), "made here",
                                         &error)) << error;
    EXPECT_FALSE(FileExists(p / "p.upg.minisig.ambrel-new"));
    sign::VerifiedPackage v;
    ASSERT_EQ(p.Check(&v), sign::CheckFailure::kNone) << v.Reason();
    EXPECT_EQ(v.Signature().trusted_comment, "made here");
    EXPECT_FALSE(sign::WriteSignatureFile((p / "missing.upg").c_str(), (p / "x.minisig").c_str(), p.Key(), "c", &error));
    EXPECT_FALSE(FileExists(p / "x.minisig"));
}

TEST(SignFiles, NewFilesNeverReplaceAndSmallReadsHaveLimits) {
    TempDir dir;
    std::string error, text;
    const std::string path = dir / "secret.key";
    ASSERT_TRUE(sign::WriteNewFile(path.c_str(), "abc", 3, true, &error)) << error;
    EXPECT_FALSE(sign::WriteNewFile(path.c_str(), "xyz", 3, true, &error));
    EXPECT_EQ(error, "already exists");
    EXPECT_EQ(ReadFileText(path), "abc");
    if (IsPosix()) {
        EXPECT_EQ(std::system(("test \"$(stat -c %a '" + path + "')\" = 600").c_str()), 0);
    }
    EXPECT_TRUE(sign::ReadSmallFile(path.c_str(), 3, &text, &error));
    EXPECT_EQ(text, "abc");
    EXPECT_FALSE(sign::ReadSmallFile(path.c_str(), 2, &text, &error));
    EXPECT_NE(error.find("larger than 2"), std::string::npos) << error;
    EXPECT_FALSE(sign::ReadSmallFile((dir / "none").c_str(), 10, &text, &error));
    EXPECT_EQ(error, "does not exist");
}
