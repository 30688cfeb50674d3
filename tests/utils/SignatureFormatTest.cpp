// The DER forms of keys and signatures: one reading for each input, and every near miss a
// publisher tool or an attacker could produce is refused.
#include "stubframework/utils/SignatureFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stubframework::utils;

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string Repeat(const std::string& pair, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += pair;
    return text;
}

} // namespace

TEST(SignatureFormat, EcdsaSignaturesParseOnlyInStrictDer) {
    const std::string r32 = Repeat("11", 32), s32 = Repeat("22", 32);
    const struct {
        const char* name;
        std::string hex;
        SignatureParse expected;
    } cases[] = {
        {"two 32-byte integers", "3044" "0220" + r32 + "0220" + s32, SignatureParse::Ok},
        {"high bit padded with a zero", "3046" "022100" + Repeat("ff", 32) + "022100" + Repeat("80", 32), SignatureParse::Ok},
        {"short integers", "3006" "020101" "020102", SignatureParse::Ok},
        {"48-byte integers: another curve", "3064" "0230" + Repeat("11", 48) + "0230" + Repeat("22", 48), SignatureParse::OtherCurve},
        {"negative integer", "3006" "020181" "020102", SignatureParse::BadFormat},
        {"zero", "3006" "020100" "020102", SignatureParse::BadFormat},
        {"needless leading zero", "3007" "02020001" "020102", SignatureParse::BadFormat},
        {"empty integer", "3005" "0200" "020102", SignatureParse::BadFormat},
        {"long form for a short length", "308106" "020101" "020102", SignatureParse::BadFormat},
        {"trailing byte inside", "3007" "020101" "020102" "00", SignatureParse::BadFormat},
        {"trailing byte outside", "3006" "020101" "020102" "00", SignatureParse::BadFormat},
        {"length past the end", "3008" "020101" "020102", SignatureParse::BadFormat},
        {"one integer", "3003" "020101", SignatureParse::BadFormat},
        {"not a sequence", "3106" "020101" "020102", SignatureParse::BadFormat},
        {"empty", "", SignatureParse::BadFormat},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> der = Hex(c.hex);
        EcSignature rs{};
        EXPECT_EQ(ParseEcdsaSignature(der.data(), der.size(), rs), c.expected) << c.name;
        if (c.expected == SignatureParse::Ok) {
            EXPECT_EQ(EncodeEcdsaSignature(rs), der) << c.name << ": written back";
        }
    }
}

TEST(SignatureFormat, PublicKeysAreP256PointsOnly) {
    EcPoint point;
    for (size_t i = 0; i < point.size(); ++i) point[i] = static_cast<uint8_t>(i + 1);
    const std::vector<uint8_t> good = EncodeEcPublicKey(point);
    EXPECT_EQ(good.size(), 91u) << "what openssl ec -pubout -outform DER writes";
    EcPoint read{};
    ASSERT_TRUE(ParseEcPublicKey(good.data(), good.size(), read));
    EXPECT_EQ(read, point);

    const struct {
        const char* name;
        size_t at;         // byte changed
        uint8_t value;
    } broken[] = {
        {"another algorithm", 12, 0x02},   // last byte of id-ecPublicKey
        {"another curve", 22, 0x08},       // last byte of prime256v1
        {"unused bits in the point", 25, 0x01},
        {"compressed point", 26, 0x02},
    };
    for (const auto& b : broken) {
        std::vector<uint8_t> der = good;
        der[b.at] = b.value;
        EXPECT_FALSE(ParseEcPublicKey(der.data(), der.size(), read)) << b.name;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ParseEcPublicKey(longer.data(), longer.size(), read)) << "trailing byte";
    EXPECT_FALSE(ParseEcPublicKey(good.data(), good.size() - 1, read)) << "cut short";
}

TEST(SignatureFormat, PrivateKeysRoundTripAndPemArmourIsRead) {
    EcScalar secret;
    EcPoint point;
    for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<uint8_t>(0xA0 + i);
    for (size_t i = 0; i < point.size(); ++i) point[i] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> der = EncodeEcPrivateKey(secret, point);
    EcScalar readSecret{};
    EcPoint readPoint{};
    bool hasPoint = false;
    ASSERT_TRUE(ParseEcPrivateKey(der.data(), der.size(), readSecret, readPoint, hasPoint));
    EXPECT_TRUE(hasPoint);
    EXPECT_EQ(readSecret, secret);
    EXPECT_EQ(readPoint, point);

    // The same bytes in PEM armour, with CRLF lines, come out unchanged; bad base64 does not.
    const std::string pem = "-----BEGIN PUBLIC KEY-----\r\nAAEC/w==\r\n-----END PUBLIC KEY-----\r\n";
    std::vector<uint8_t> out;
    ASSERT_TRUE(UnarmourPem(std::vector<uint8_t>(pem.begin(), pem.end()), out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x01, 0x02, 0xff}));
    const std::string bad = "-----BEGIN X-----\nAA*C\n-----END X-----\n";
    EXPECT_FALSE(UnarmourPem(std::vector<uint8_t>(bad.begin(), bad.end()), out));
    EXPECT_TRUE(UnarmourPem(der, out));
    EXPECT_EQ(out, der) << "DER passes through";
}
