#include "platform/crypto/BlockCipher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::BlockCipher;

std::vector<std::uint8_t> Hex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

struct EcbCase {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 Appendix B and Appendix C.1 to C.3.
const EcbCase kEcbCases[] = {
    {"AppendixB", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"Aes128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"Aes192", "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"Aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(CryptoBlockCipherTest, FipsVectorsBothWays) {
    for (const auto& c : kEcbCases) {
        SCOPED_TRACE(c.name);
        const auto key = Hex(c.key);
        const auto plain = Hex(c.plain);
        const auto expected = Hex(c.cipher);
        std::vector<std::uint8_t> out(16);

        BlockCipher enc;
        ASSERT_TRUE(enc.Init(BlockCipher::Direction::Encrypt, BlockCipher::Mode::Ecb, key));
        ASSERT_TRUE(enc.Update(plain, out));
        EXPECT_EQ(out, expected);

        BlockCipher dec;
        ASSERT_TRUE(dec.Init(BlockCipher::Direction::Decrypt, BlockCipher::Mode::Ecb, key));
        ASSERT_TRUE(dec.Update(expected, out));
        EXPECT_EQ(out, plain);
    }
}

// NIST SP 800-38A F.2.1/F.2.2: four chained blocks, fed whole and block by
// block, so that the chain must carry across calls.
TEST(CryptoBlockCipherTest, CbcVectorChainsAcrossCalls) {
    const auto key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const auto iv = Hex("000102030405060708090a0b0c0d0e0f");
    const auto plain =
        Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const auto cipher =
        Hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
            "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");

    BlockCipher enc;
    ASSERT_TRUE(enc.Init(BlockCipher::Direction::Encrypt, BlockCipher::Mode::Cbc, key, iv));
    std::vector<std::uint8_t> out(plain.size());
    for (std::size_t i = 0; i < plain.size(); i += 16) {
        ASSERT_TRUE(enc.Update(std::span(plain).subspan(i, 16), std::span(out).subspan(i, 16)));
    }
    EXPECT_EQ(out, cipher);

    BlockCipher dec;
    ASSERT_TRUE(dec.Init(BlockCipher::Direction::Decrypt, BlockCipher::Mode::Cbc, key, iv));
    std::vector<std::uint8_t> back = cipher;
    ASSERT_TRUE(dec.Update(back, back)) << "in-place deciphering";
    EXPECT_EQ(back, plain);
}

TEST(CryptoBlockCipherTest, RejectsBadSizes) {
    BlockCipher c;
    const std::vector<std::uint8_t> key15(15), key16(16), iv8(8), iv16(16);
    EXPECT_FALSE(c.Init(BlockCipher::Direction::Encrypt, BlockCipher::Mode::Ecb, key15));
    EXPECT_FALSE(c.Init(BlockCipher::Direction::Encrypt, BlockCipher::Mode::Cbc, key16, iv8));
    std::vector<std::uint8_t> data(17), out(32);
    EXPECT_FALSE(c.Update(data, out)) << "not initialised";
    ASSERT_TRUE(c.Init(BlockCipher::Direction::Encrypt, BlockCipher::Mode::Cbc, key16, iv16));
    EXPECT_FALSE(c.Update(data, out)) << "17 bytes are not whole blocks";
    std::vector<std::uint8_t> small(8);
    EXPECT_FALSE(c.Update(std::span(data).first(16), small)) << "output too small";
}

}  // namespace
