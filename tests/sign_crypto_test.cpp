// The signing library's building blocks against published test vectors: Base64 (RFC 4648),
// BLAKE2b (RFC 7693), Ed25519 (RFC 8032), scrypt (RFC 7914), and how minisign's scrypt
// limits become scrypt's cost.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sign/base64.h"
#include "sign/crypto.h"
#include "sign/minisign.h"
#include "support/test_util.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += std::string{digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

bool Decode(const std::string& text, Bytes* out) {
    out->assign(text.size(), 0);
    size_t n = 0;
    if (!Base64Decode(text.data(), text.size(), out->data(), out->size(), &n)) return false;
    out->resize(n);
    return true;
}

}  // namespace

TEST(SignBase64, Rfc4648Vectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        const Bytes b = ToBytes(plain[i]);
        EXPECT_EQ(Base64Encode(b.data(), b.size()), coded[i]);
        Bytes back;
        ASSERT_TRUE(Decode(coded[i], &back)) << coded[i];
        EXPECT_EQ(FromBytes(back), plain[i]);
    }
}

TEST(SignBase64, RoundTripsEveryLengthAndByte) {
    for (size_t n = 0; n < 100; ++n) {
        const Bytes data = RandomBytes(n, static_cast<uint32_t>(n + 1));
        Bytes back;
        ASSERT_TRUE(Decode(Base64Encode(data.data(), data.size()), &back)) << n;
        EXPECT_EQ(back, data) << n;
    }
}

TEST(SignBase64, RefusesAnythingButExactBase64) {
    Bytes out;
    for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v\n", " Zm9v", "Zm9v====", "Zg==Zg==", "Zm-v", "Zm_v", "Zh==",
                            "Zm9=", "=Zm9"})
        EXPECT_FALSE(Decode(bad, &out)) << bad;
    uint8_t small[2];
    size_t n = 0;
    EXPECT_FALSE(Base64Decode("Zm9v", 4, small, sizeof small, &n)) << "three bytes do not fit two";
}

TEST(SignCrypto, Blake2bVectorsWholeAndInParts) {
    uint8_t digest[64], part_digest[64], short_digest[32];
    crypto::Blake2b512 whole;
    whole.Update("abc", 3);
    ASSERT_TRUE(whole.Final(digest));
    EXPECT_EQ(Hex(digest, 64),
              "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d17d87c5392aab792dc252d5de4533cc9518d38"
              "aa8dbf1925ab92386edd4009923");
    const Bytes data = RandomBytes(300000, 7);
    crypto::Blake2b512 once, parts;
    once.Update(data.data(), data.size());
    for (size_t i = 0; i < data.size(); i += 7919) parts.Update(data.data() + i, std::min<size_t>(7919, data.size() - i));
    ASSERT_TRUE(once.Final(digest) && parts.Final(part_digest));
    EXPECT_EQ(Hex(digest, 64), Hex(part_digest, 64));
    ASSERT_TRUE(crypto::Blake2b256("abc", 3, short_digest));
    EXPECT_EQ(Hex(short_digest, 32), "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
}

TEST(SignCrypto, Ed25519Rfc8032Vectors) {
    struct Vector {
        const char* seed;
        const char* public_key;
        const char* message;
        const char* signature;
    } vectors[] = {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bb"
         "e24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302"
         "aeeb00d291612bb0c00"},
    };
    for (const Vector& v : vectors) {
        const Bytes seed = FromHex(v.seed), message = FromHex(v.message), expected = FromHex(v.signature);
        uint8_t public_key[32], signature[64];
        ASSERT_TRUE(crypto::Ed25519PublicKey(seed.data(), public_key));
        EXPECT_EQ(Hex(public_key, 32), v.public_key);
        ASSERT_TRUE(crypto::Ed25519Sign(seed.data(), public_key, message.data(), message.size(), signature));
        EXPECT_EQ(Hex(signature, 64), v.signature);
        EXPECT_TRUE(crypto::Ed25519Verify(public_key, message.data(), message.size(), expected.data()));
        for (size_t bit : {0u, 255u, 256u, 511u}) {  // in R and in S
            Bytes flipped = expected;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            EXPECT_FALSE(crypto::Ed25519Verify(public_key, message.data(), message.size(), flipped.data())) << bit;
        }
        const Bytes other = ToBytes("another message");
        EXPECT_FALSE(crypto::Ed25519Verify(public_key, other.data(), other.size(), expected.data()));
    }
}

// Messages beyond what libgcrypt takes in one piece are refused, never handed over.
TEST(SignCrypto, Ed25519RefusesMessagesBeyondItsLimit) {
    const Bytes seed = RandomBytes(32, 9);
    const Bytes message = RandomBytes(crypto::kMaxMessage + 1, 9);
    uint8_t public_key[32], signature[64];
    ASSERT_TRUE(crypto::Ed25519PublicKey(seed.data(), public_key));
    EXPECT_FALSE(crypto::Ed25519Sign(seed.data(), public_key, message.data(), message.size(), signature));
    ASSERT_TRUE(crypto::Ed25519Sign(seed.data(), public_key, message.data(), crypto::kMaxMessage, signature));
    EXPECT_TRUE(crypto::Ed25519Verify(public_key, message.data(), crypto::kMaxMessage, signature));
    EXPECT_FALSE(crypto::Ed25519Verify(public_key, message.data(), message.size(), signature));
}

// Signatures whose R or S starts with zero bytes must keep their 64 bytes.
TEST(SignCrypto, Ed25519SignaturesOfManyMessagesVerify) {
    const Bytes seed = RandomBytes(32, 3);
    uint8_t public_key[32], signature[64];
    ASSERT_TRUE(crypto::Ed25519PublicKey(seed.data(), public_key));
    int leading_zero = 0;
    for (uint32_t i = 0; i < 800; ++i) {
        const Bytes message = RandomBytes(i % 97, i);
        ASSERT_TRUE(crypto::Ed25519Sign(seed.data(), public_key, message.data(), message.size(), signature));
        ASSERT_TRUE(crypto::Ed25519Verify(public_key, message.data(), message.size(), signature)) << i;
        leading_zero += signature[0] == 0 || signature[32] == 0;
    }
    EXPECT_GT(leading_zero, 0) << "no signature began with a zero byte: the case went untested";
}

TEST(SignCrypto, ScryptRfc7914Vector) {
    uint8_t out[64];
    const Bytes salt = ToBytes("NaCl");
    ASSERT_TRUE(crypto::Scrypt("password", 8, salt.data(), salt.size(), 1024, 16, out, sizeof out));
    EXPECT_EQ(Hex(out, 64),
              "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b3731622eaf30d92e22a3886ff109279d9830dac727afb94a8"
              "3ee6d8360cbdfa2cc0640");
    EXPECT_FALSE(crypto::Scrypt("password", 8, salt.data(), salt.size(), 1000, 1, out, sizeof out)) << "N not a power of 2";
}

TEST(SignCrypto, ScryptCostOfMinisignLimits) {
    uint64_t n = 0;
    uint32_t p = 0;
    ASSERT_TRUE(minisign::ScryptCost(33554432, 1073741824, &n, &p));  // minisign's, 1 GiB
    EXPECT_EQ(n, uint64_t{1} << 20);
    EXPECT_EQ(p, 1u);
    ASSERT_TRUE(minisign::ScryptCost(524288, 16777216, &n, &p));  // libsodium's interactive limits
    EXPECT_EQ(n, uint64_t{1} << 14);
    EXPECT_EQ(p, 1u);
    ASSERT_TRUE(minisign::ScryptCost(1000, 1u << 30, &n, &p));  // work-bound: opslimit taken as 32768
    EXPECT_EQ(n, uint64_t{1} << 10);
    EXPECT_EQ(p, 1u);
    ASSERT_TRUE(minisign::ScryptCost(uint64_t{1} << 26, 1u << 24, &n, &p));  // memory-bound, more work: p grows
    EXPECT_EQ(n, uint64_t{1} << 14);
    EXPECT_EQ(p, 128u);
    EXPECT_FALSE(minisign::ScryptCost(uint64_t{1} << 40, uint64_t{1} << 40, &n, &p)) << "1 TiB of memory";
    EXPECT_FALSE(minisign::ScryptCost(uint64_t{1} << 40, 1u << 24, &n, &p)) << "far too much work";
}
