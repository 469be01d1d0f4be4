#include <gtest/gtest.h>

#include "karaoke/CLyric.h"
#include "karaoke/LrcManager.h"
#include "karaoke/LyricLoader.h"
#include "karaoke/TempDir.h"
#include "karaoke/context/HlfContainer.h"

namespace {

struct ParseCase {
    const char* name;
    std::wstring text;
    bool loads;
    std::vector<int> times;  // the timed texts' start times
    int displayLines;
};

TEST(LyricTest, ParsesTimeTagsPartsAndMarks) {
    const ParseCase cases[] = {
        {"one line", L"[00:12.50]Hello", true, {12500}, 1},
        {"two tags, one text", L"[01:02.00][02:30.00]La", true, {62000, 150000}, 2},
        {"ID tag only adds a tag", L"[ti:Song]\r\n[00:01.00]x", true, {1000}, 1},
        {"duet", L"[00:10.00]{M}Oh{W}Ah", true, {10000}, 2},
        {"section mark line", L"[00:01.00]a\n[00:05.00]{2}\n\n[00:09.00]b", true, {1000, 9000}, 2},
        {"three parts", L"[00:01.00]{M}a{W}b{C}c", false, {}, 0},
        {"not a lyric", L"hello [00:01.00]x", false, {}, 0},
        {"byte-order mark", L"\xFEFF[00:01.00]x", true, {1000}, 1},
        {"single precision", L"[00:00.29]a\n[01:02.01]b", true, {290, 62010}, 2},
        {"seconds only", L"[12.5]a", true, {12500}, 1},
        {"absurd time clamped", L"[99999999:00]x", true, {LrcManager::kMaxTimeMs}, 1},
        {"empty text", L"[00:01.00]\n[00:03.00]b", true, {1000, 3000}, 2},
        {"empty", L"", false, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LrcManager m;
        EXPECT_EQ(m.Load(c.text), c.loads);
        std::vector<int> times;
        for (const auto& [t, text] : m.TimedTexts())
            times.push_back(t);
        EXPECT_EQ(times, c.times);
        EXPECT_EQ(m.DisplayLineCount(), c.displayLines);
    }
}

TEST(LyricTest, EntryDetails) {
    LrcManager m;
    ASSERT_TRUE(
        m.Load(L"[ti:Song]\n[00:10.00]{M}Oh{W}Ah\n[00:12.50]Hello\n[00:14.00]{2}\n[00:20.00]<00:20."
               L"00>A<00:21.00>BC"));
    EXPECT_EQ(m.IdTags().at(L"ti"), L"Song");
    EXPECT_EQ(m.RawLines().at(4), L"{2}");
    const LyricEntry& duet = m.Entries().at(10000);
    ASSERT_EQ(duet.partCount, 2);
    EXPECT_EQ(duet.parts[0].code, 0);
    EXPECT_EQ(duet.parts[0].text, L"Oh");
    EXPECT_EQ(duet.parts[1].code, 1);
    EXPECT_EQ(duet.parts[1].text, L"Ah");
    EXPECT_EQ(duet.parts[0].end, 12500) << "a part without word tags ends at the next line";
    const LyricEntry& hello = m.Entries().at(12500);
    ASSERT_EQ(hello.parts[0].words.size(), 1u);
    EXPECT_EQ(hello.parts[0].words[0].start, 12500);
    const LyricEntry& words = m.Entries().at(20000);
    ASSERT_EQ(words.parts[0].words.size(), 2u);
    EXPECT_EQ(words.parts[0].words[1].start, 21000);
    EXPECT_EQ(words.parts[0].words[1].text, L"BC");
    EXPECT_EQ(words.parts[0].end, 21000);
    EXPECT_EQ(m.LineText(-1), L"(男)Oh (女)Ah\r\nHello\r\nABC");
    EXPECT_EQ(m.LineText(1), L"Oh");
    EXPECT_EQ(m.LineText(2), L"Ah");
    EXPECT_EQ(m.LineText(0), L"");
    EXPECT_EQ(m.LineText(99), L"");
}

TEST(LyricTest, PartSwitchJoinsRepeatedMarksWithoutReachingBeforeTheLine) {
    LrcManager m;
    ASSERT_TRUE(m.Load(L"[00:01.00]{S}{M}Oh[00:02.00]{M}Yeah{W}La\n{S}{W}x{W}y"));
    EXPECT_TRUE(m.PartSwitch());
    const LyricEntry& e = m.Entries().at(1000);
    ASSERT_EQ(e.partCount, 2);
    EXPECT_EQ(e.parts[0].text, L"OhYeah");
    EXPECT_EQ(e.parts[1].text, L"La");
    EXPECT_EQ(m.RawLines().at(2), L"{W}xy")
        << "a mark near the line's start loses no text before it";
}

struct ProgressCase {
    const char* name;
    const wchar_t* text;
    int t;
    std::array<int, 6> expected;  // line, progress, part, next line, next progress, next part
};

TEST(LyricTest, ProgressTable) {
    const wchar_t* three = L"[00:01.00]One\n[00:03.00]Two\n[00:05.00]Three";
    const ProgressCase cases[] = {
        {"word times", L"[00:10.00]<00:10.00>A<00:11.00>BC<00:12.00>", 10500, {1, 17, 0, 0, 0, 0}},
        {"before the first line", three, 0, {1, 0, 0, 0, 0, 0}},
        {"at the first start", three, 1000, {1, 0, 0, 0, 0, 0}},
        {"half the first line", three, 2000, {1, 50, 0, 2, 0, 0}},
        {"at a line edge", three, 3000, {1, 100, 0, 2, 0, 0}},
        {"next not started", three, 4000, {2, 50, 0, 3, 0, 0}},
        {"after the last", three, 99999999, {2, 100, 0, 3, 100, 0}},
        {"duet parts together",
         L"[00:10.00]{M}Oh{W}Ah\n[00:20.00]End",
         15000,
         {1, 50, 0, 2, 50, 1}},
        {"equal word times",
         L"[00:05.00]x\n[00:10.00]<00:10.00>A<00:10.00>B",
         10000,
         {1, 100, 0, 2, 50, 0}},
        {"words without text", L"[00:10.00]<00:10.00><00:11.00>", 10500, {1, 100, 0, 0, 0, 0}},
        {"one line, after it", L"[00:01.00]Solo<00:02.00>", 5000, {1, 100, 0, 0, 0, 0}},
        {"chorus first", L"[00:01.00]{C}All", 0, {1, 0, 2, 0, 0, 0}},
        {"no entries", L"not a lyric", 5000, {1, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLyric lyric;
        lyric.LoadLyric(c.text, -1);
        std::array<int, 6> got{};
        lyric.QueryProgress(c.t, got[0], got[1], got[2], got[3], got[4], got[5]);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(LyricTest, LineTextIsCutToTheBuffer) {
    CLyric lyric;
    ASSERT_TRUE(lyric.LoadLyric(L"[00:01.00]Hello\n[00:02.00]", -1));
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    ASSERT_TRUE(lyric.GetFirstLineText(buffer, 4));
    EXPECT_EQ(std::wstring(buffer), L"Hel");
    ASSERT_TRUE(lyric.GetSecondLineText(buffer, 4));
    EXPECT_EQ(std::wstring(buffer), L" ") << "an empty line reads as one blank";
    EXPECT_FALSE(lyric.GetLineText(1, buffer, 0));
    EXPECT_FALSE(lyric.GetLineText(1, nullptr, 4));
}

TEST(LyricTest, StripsNoteAnnotationsAtTheFront) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"[00:01.00](A4)Hi", L"[00:01.00]Hi"},
        {L"[00:01.00](D#4)Hi(E4)yo", L"[00:01.00]Hiyo"},
        {L"[00:01.00](oh)(A4)Hi", L"[00:01.00](oh)(A4)Hi"},
        {L"[00:01.00](Abcdefgh)Hi", L"[00:01.00](Abcdefgh)Hi"},
        {L"x) [00:01.00](A4)", L"x) [00:01.00](A4)"},
        {L"[00:01.00](A", L"[00:01.00](A"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(StripNoteAnnotations(in), out) << std::string(in.begin(), in.end());
}

TEST(LyricTest, LoadsCodePage936FilesPlainOrSealed) {
    testing_support::TempDir dir;
    // "[00:01.00]歌曲：男(A4)" then a stray 0xFF, in code page 936.
    const std::string cp936 =
        std::string("[00:01.00](A4)\xB8\xE8\xC7\xFA\xA3\xBA\xC4\xD0") + "\xFF" + "x\r\n[00:02.00]b";
    const std::vector<std::uint8_t> plain(cp936.begin(), cp936.end());
    testing_support::WriteBytes(dir.Path() / "plain.lrc", plain);
    std::vector<std::uint8_t> sealed;
    ASSERT_EQ(hlf::EncipherContainer(plain, sealed), hlf::Status::Ok);
    testing_support::WriteBytes(dir.Path() / "sealed.lrc", sealed);
    for (const wchar_t* name : {L"plain.lrc", L"sealed.lrc"}) {
        CLyric lyric;
        const LyricLoadResult r = LoadLyricFile(lyric, dir.WFolder() + name);
        ASSERT_TRUE(r.valid);
        wchar_t line[64];
        lyric.GetFirstLineText(line, 64);
        EXPECT_EQ(std::wstring(line), L"歌曲：男\xFFFDx");
        EXPECT_EQ(r.musicTitle, L"男\xFFFDx");
    }
    CLyric lyric;
    LyricLoadResult missing = LoadLyricFile(lyric, dir.WFolder() + L"missing.lrc");
    EXPECT_FALSE(missing.valid);
    EXPECT_EQ(missing.read, hlf::Status::ReadFailure);
    EXPECT_TRUE(missing.musicTitle.empty());
}

}  // namespace
