#include "platform/profile/ProfileFile.h"

#include <gtest/gtest.h>

#include "platform/TestSupport.h"
#include "platform/text/Utf.h"

namespace platform {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

std::string Utf16Le(const std::wstring& text) {
    std::string out = "\xFF\xFE";
    for (const char16_t u : ToUtf16(text)) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

class ProfileFileTest : public ::testing::Test {
  protected:
    std::wstring Path() const { return dir_.WFile("test.ini"); }
    std::string RawPath() const { return dir_.File("test.ini"); }
    TempDir dir_;
};

TEST_F(ProfileFileTest, ReadsTheWayPrivateProfilesRead) {
    WriteBytes(RawPath(),
               "; a comment=not a key\r\n"
               "[Setting]\r\n"
               "  Skin =  Vokari  \r\n"
               "Quoted=\"  spaced  \"\r\n"
               "Single='x'\r\n"
               "Half=\"open\r\n"
               "Dup=first\r\n"
               "dup=second\r\n"
               "Empty=\r\n"
               "Equals=a=b\r\n"
               "[other]\n"
               "Skin=Other\n"
               "[SETTING]\n"
               "Late=ignored, the first section of a name wins\n");
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"Setting", L"Skin", L"Vokari"},     {L"setting", L"SKIN", L"Vokari"},
        {L" Setting ", L" skin ", L"Vokari"}, {L"Setting", L"Quoted", L"  spaced  "},
        {L"Setting", L"Single", L"x"},        {L"Setting", L"Half", L"\"open"},
        {L"Setting", L"DUP", L"first"},       {L"Setting", L"Empty", L""},
        {L"Setting", L"Equals", L"a=b"},      {L"Other", L"skin", L"Other"},
        {L"Setting", L"Late", L"<default>"},  {L"Setting", L"; a comment", L"<default>"},
        {L"Missing", L"Skin", L"<default>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadProfileString(Path(), c.section, c.key, L"<default>", 100), c.expected)
            << ToUtf8(c.section) << "/" << ToUtf8(c.key);
    }
}

TEST_F(ProfileFileTest, BufferLimitCutsValuesAndDefaults) {
    WriteBytes(RawPath(), "[s]\nk=" + std::string(150, 'x') + "\n");
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"k", L"", 100), std::wstring(99, L'x'));
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"k", L"", 1), L"");
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"k", L"", 0), L"");
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"none", L"abcdef  ", 4), L"abc");
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"none", L"ab  ", 100), L"ab");
    EXPECT_EQ(ReadProfileString(dir_.WFile("absent.ini"), L"s", L"k", L"d", 100), L"d");
}

TEST_F(ProfileFileTest, IntegersTable) {
    WriteBytes(RawPath(), "[s]\nplain=5\nneg=-3\nlead= 12abc\nword=abc\nempty=\nbig=99999999999\n");
    struct Case {
        const wchar_t* key;
        int expected;
    };
    const Case cases[] = {{L"plain", 5}, {L"NEG", -3},   {L"lead", 12},       {L"word", 0},
                          {L"empty", 7}, {L"absent", 7}, {L"big", 2147483647}};
    for (const Case& c : cases) {
        EXPECT_EQ(ReadProfileInt(Path(), L"s", c.key, 7), c.expected) << ToUtf8(c.key);
    }
    EXPECT_EQ(ReadProfileInt(dir_.WFile("absent.ini"), L"s", L"plain", -1), -1);
}

TEST_F(ProfileFileTest, FirstWriteCreatesTheFileWithCrlf) {
    ASSERT_TRUE(WriteProfileString(Path(), L"Setting", L"UITransparent", L"0"));
    ASSERT_TRUE(WriteProfileString(Path(), L"Setting", L"Skin", L"Vokari"));
    EXPECT_EQ(ReadBytes(RawPath()), "[Setting]\r\nUITransparent=0\r\nSkin=Vokari\r\n");
}

TEST_F(ProfileFileTest, WritingChangesOnlyItsOwnLine) {
    const std::string original =
        "; kept comment\n"
        "[Setting]\n"
        "  skin = Old  \n"
        "Odd=\xFF\xFE bytes that are not UTF-8\n"
        "\n"
        "[Other]\n"
        "Skin=untouched\n";
    WriteBytes(RawPath(), original);
    ASSERT_TRUE(WriteProfileString(Path(), L"SETTING", L"Skin", L"New"));
    ASSERT_TRUE(WriteProfileString(Path(), L"Setting", L"Added", L"1"));
    ASSERT_TRUE(WriteProfileString(Path(), L"Third", L"K", L"v"));
    EXPECT_EQ(ReadBytes(RawPath()),
              "; kept comment\n"
              "[Setting]\n"
              "skin=New\n"
              "Odd=\xFF\xFE bytes that are not UTF-8\n"
              "Added=1\n"
              "\n"
              "[Other]\n"
              "Skin=untouched\n"
              "[Third]\n"
              "K=v\n");
}

TEST_F(ProfileFileTest, AppendingToAFileWithoutAFinalLineEnd) {
    WriteBytes(RawPath(), "[s]\r\na=1");
    ASSERT_TRUE(WriteProfileString(Path(), L"s", L"b", L"2"));
    EXPECT_EQ(ReadBytes(RawPath()), "[s]\r\na=1\r\nb=2\r\n");
}

TEST_F(ProfileFileTest, RefusesWhatAnIniLineCannotHold) {
    WriteBytes(RawPath(), "[s]\na=1\n");
    EXPECT_FALSE(WriteProfileString(Path(), L"s", L"a", L"two\nlines"));
    EXPECT_FALSE(WriteProfileString(Path(), L"s", L"k=v", L"x"));
    EXPECT_FALSE(WriteProfileString(Path(), L"s]", L"k", L"x"));
    EXPECT_FALSE(WriteProfileString(Path(), L"s", L"", L"x"));
    EXPECT_FALSE(WriteProfileString(Path(), L"s", L"[k", L"x"));
    EXPECT_EQ(ReadBytes(RawPath()), "[s]\na=1\n");
    EXPECT_FALSE(WriteProfileString(dir_.WFile("no/such/folder.ini"), L"s", L"k", L"v"));
}

TEST_F(ProfileFileTest, Utf16FileWithBomStaysUtf16) {
    // Created the way the history writer creates its information file: the
    // byte-order mark alone, then keys written one by one.
    ASSERT_TRUE(CreateUtf16Profile(Path()));
    EXPECT_FALSE(CreateUtf16Profile(Path()));  // only a new file
    ASSERT_TRUE(WriteProfileString(Path(), L"information", L"MusicTitle", L"\u6211\u7684\u6B4C"));
    ASSERT_TRUE(WriteProfileString(Path(), L"information", L"TotalScore", L"87.5"));
    EXPECT_EQ(ReadBytes(RawPath()),
              Utf16Le(L"[information]\r\nMusicTitle=\u6211\u7684\u6B4C\r\nTotalScore=87.5\r\n"));
    EXPECT_EQ(ReadProfileString(Path(), L"Information", L"musictitle", L"", 260),
              L"\u6211\u7684\u6B4C");

    // A file another program wrote: the rewrite keeps every other line and
    // the encoding.
    WriteBytes(RawPath(), Utf16Le(L"[information]\r\nSongID=12\r\n; \U0001F3A4 note\r\n"));
    ASSERT_TRUE(WriteProfileString(Path(), L"information", L"SongID", L"13"));
    EXPECT_EQ(ReadBytes(RawPath()),
              Utf16Le(L"[information]\r\nSongID=13\r\n; \U0001F3A4 note\r\n"));
    EXPECT_EQ(ReadProfileInt(Path(), L"information", L"SongID", 0), 13);
}

TEST_F(ProfileFileTest, Utf8ByteOrderMarkIsKept) {
    WriteBytes(RawPath(), "\xEF\xBB\xBF[s]\r\nk=\xE4\xB8\xAD\r\n");
    EXPECT_EQ(ReadProfileString(Path(), L"s", L"k", L"", 10), L"\u4E2D");
    ASSERT_TRUE(WriteProfileString(Path(), L"s", L"j", L"2"));
    EXPECT_EQ(ReadBytes(RawPath()), "\xEF\xBB\xBF[s]\r\nk=\xE4\xB8\xAD\r\nj=2\r\n");
}

TEST_F(ProfileFileTest, SectionLinesAndTheirBufferLimit) {
    WriteBytes(RawPath(), "[STRING]\nIDS_A = Total score\n; note\nIDS_B=x=y\n\n[next]\nc=1\n");
    const std::vector<std::wstring> all = {L"IDS_A=Total score", L"IDS_B=x=y"};
    EXPECT_EQ(ReadProfileSection(Path(), L"string", 80240), all);
    // 17 characters and a terminator fit, the second line does not.
    EXPECT_EQ(ReadProfileSection(Path(), L"string", 20), std::vector<std::wstring>{all[0]});
    EXPECT_TRUE(ReadProfileSection(Path(), L"none", 100).empty());
}

TEST_F(ProfileFileTest, DeletingKeysAndSections) {
    WriteBytes(RawPath(), "[a]\r\nx=1\r\ny=2\r\n[b]\r\nz=3\r\n");
    EXPECT_TRUE(DeleteProfileKey(Path(), L"A", L"X"));
    EXPECT_TRUE(DeleteProfileSection(Path(), L"b"));
    EXPECT_FALSE(DeleteProfileKey(Path(), L"a", L"missing"));
    EXPECT_EQ(ReadBytes(RawPath()), "[a]\r\ny=2\r\n");
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// Random small documents: after any write, the written key reads back and
// every other key of the document reads as before.
TEST(ProfileFileRandom, WritesChangeOnlyTheirOwnKey) {
    std::uint32_t seed = 12345;
    const auto next = [&](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    const wchar_t* sections[] = {L"a", L"B", L"c"};
    const wchar_t* keys[] = {L"x", L"Y", L"z", L"w"};
    for (int round = 0; round < 200; ++round) {
        std::wstring text;
        for (int line = 0, lines = static_cast<int>(next(12)); line < lines; ++line) {
            switch (next(5)) {
                case 0:
                    text += L"[" + std::wstring(sections[next(3)]) + L"]";
                    break;
                case 1:
                    text += L"; comment";
                    break;
                case 2:
                    break;
                default:
                    text += std::wstring(keys[next(4)]) + L"=" + std::to_wstring(next(100));
            }
            text += next(2) != 0 ? L"\r\n" : L"\n";
        }
        ProfileFile file;
        testing_support::TempDir dir;
        const std::wstring path = dir.WFile("r.ini");
        testing_support::WriteBytes(dir.File("r.ini"), ToUtf8(text));
        ASSERT_TRUE(file.Load(path));
        const std::wstring section = sections[next(3)];
        const std::wstring key = keys[next(4)];
        const std::wstring value = L"v" + std::to_wstring(round);

        ProfileFile before;
        before.Load(path);
        ASSERT_TRUE(file.Set(section, key, value));
        ASSERT_TRUE(file.Save(path));
        ProfileFile after;
        ASSERT_TRUE(after.Load(path));
        EXPECT_EQ(after.Get(section, key), value) << ToUtf8(text);
        for (const wchar_t* s : sections) {
            for (const wchar_t* k : keys) {
                if (ProfileNamesEqual(s, section) && ProfileNamesEqual(k, key)) {
                    continue;
                }
                EXPECT_EQ(after.Get(s, k), before.Get(s, k)) << ToUtf8(text);
            }
        }
    }
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST(ProfileFileBytes, UnchangedDocumentsSerialiseToTheirOwnBytes) {
    const std::string cases[] = {
        "",
        "[s]",
        "[s]\r\nk=v\r\n",
        "mixed\nline\r\nends\n\n\r\n",
        "\xEF\xBB\xBF[s]\nk=\xFF bad utf-8\n",
        "\r\r\n\r",
        std::string("\xFF\xFE[\0s\0]\0\r\0\n\0", 10),
        std::string("\xFF\xFE\r\0", 4),
    };
    for (const std::string& bytes : cases) {
        ProfileFile file;
        file.Parse(bytes);
        EXPECT_EQ(file.Serialize(), bytes) << bytes;
    }
}

}  // namespace
}  // namespace platform
