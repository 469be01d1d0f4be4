#include "platform/crypto/Sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Sha1;

TEST(CryptoSha1Test, StandardVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20));
        EXPECT_EQ(Sha1::ToHex(Sha1::Of(c.input)), c.digest);
    }
}

TEST(CryptoSha1Test, PiecewiseEqualsWholeAndFinalStartsOver) {
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha1 sha;
    for (std::size_t i = 0; i < text.size(); i += 7)
        sha.Update(std::string_view(text).substr(i, 7));
    EXPECT_EQ(Sha1::ToHex(sha.Final()), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    sha.Update("abc");
    EXPECT_EQ(Sha1::ToHex(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
