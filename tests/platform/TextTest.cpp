#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "platform/text/CodePage936.h"
#include "platform/text/Number.h"

namespace platform {
namespace {

TEST(CodePage936, DecodesTable) {
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring text;
    };
    const Case cases[] = {
        {"ascii", "[00:01.20]la", L"[00:01.20]la"},
        {"two chinese characters", "\xD6\xD0\xCE\xC4", L"\u4E2D\u6587"},
        {"bad byte in the middle keeps going", "a\xFF\xD6\xD0z", L"a\uFFFD\u4E2Dz"},
        {"lead byte cut off at the end", "ab\xD6", L"ab\uFFFD"},
        {"bad trail byte replaces the lead only", "\xD6\x0A\xD6\xD0", L"\uFFFD\n\u4E2D"},
        {"euro sign of the code page", "\x80", L"\u20AC"},
        {"empty", "", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FromCodePage936(c.bytes), c.text) << c.name;
    }
}

TEST(CodePage936, EncodesAndReplacesWhatItCannotHold) {
    EXPECT_EQ(ToCodePage936(L"\u4E2D\u6587 ok"), "\xD6\xD0\xCE\xC4 ok");
    // U+1F3A4 has no code page 936 form.
    EXPECT_EQ(ToCodePage936(L"a\U0001F3A4b"), "a?b");
    const std::wstring text = L"\u6211\u7684\u6B4C [01:02.03]";
    EXPECT_EQ(FromCodePage936(ToCodePage936(text)), text);
}

TEST(Number, LeadingIntegersReadLikeAtoiButSaturate) {
    struct Case {
        std::string text;
        std::int64_t value;
    };
    const Case cases[] = {
        {"42", 42},
        {"  -17xyz", -17},
        {"+8", 8},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"12.9", 12},
        {"99999999999999999999999", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseLeadingInt64(c.text), c.value) << c.text;
    }
    EXPECT_EQ(ParseLeadingInt("5000000000"), std::numeric_limits<int>::max());
    EXPECT_EQ(ParseLeadingInt(L" 2176 "), 2176);
    EXPECT_EQ(ParseLeadingInt(L"\u4E2D12"), 0);
}

TEST(Number, WholeTextParsersRejectTrailingJunk) {
    EXPECT_EQ(ParseInt64(" 14400 "), 14400);
    EXPECT_FALSE(ParseInt64("14400s"));
    EXPECT_FALSE(ParseInt64(""));
    EXPECT_EQ(ParseDouble(L"0.38"), 0.38);
    EXPECT_FALSE(ParseDouble("0,38"));
}

TEST(Number, DoublesUseADotWhateverTheLocaleSays) {
    // A comma-decimal locale must not change how numbers are read or written.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no comma-decimal locale here (scripts/setup.sh generates de_DE.UTF-8)";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(ParseLeadingDouble("0.38abc"), 0.38);
    EXPECT_EQ(ParseLeadingDouble(" -2.5e2"), -250.0);
    EXPECT_EQ(ParseLeadingDouble("x"), 0.0);
    EXPECT_TRUE(std::isinf(ParseLeadingDouble("1e999")));
    EXPECT_EQ(FormatFixed(87.456, 2), "87.46");
    EXPECT_EQ(FormatFixedW(3.0, 1), L"3.0");
    EXPECT_EQ(FormatIntW(-12), L"-12");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace platform
