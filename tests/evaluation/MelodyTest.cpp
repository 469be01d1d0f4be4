#include "evaluation/Melody.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text/CodePage936.h"

using evaluation::kNoPitch;
using evaluation::MelodyPitch;
using evaluation::MelodyTime;
using evaluation::ParseMelody;

namespace {

struct Note {
    int time;
    int code;
    bool operator==(const Note&) const = default;
};

std::vector<Note> Notes(const std::vector<MelodyEntry>& entries) {
    std::vector<Note> out;
    for (MelodyEntry e : entries) {
        out.push_back({MelodyTime(e), MelodyPitch(e)});
    }
    return out;
}

std::vector<Note> Parse(const wchar_t* text) {
    return Notes(ParseMelody(text));
}

void PrintTo(const Note& n, std::ostream* os) {
    *os << "{" << n.time << ", " << n.code << "}";
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/vk-melody-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name, const std::string& bytes) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

  private:
    std::string path_;
};

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

TEST(ParseMelody, AnnotationCodes) {
    struct Case {
        const wchar_t* text;
        int code;
    } cases[] = {
        {L"<00:01.00>a(A4)", 0},     {L"<00:01.00>a(C#4)", -32},     {L"<00:01.00>a(B3)", -40},
        {L"<00:01.00>a(G#5)", 44},   {L"<00:01.00>a(X4)", kNoPitch}, {L"<00:01.00>a(A)", 9},
        {L"<00:01.00>a(E#4)", -20},   // no sharp on E: the '#' is ignored
        {L"<00:01.00>a(C2)", -127},   // saturates instead of wrapping to +124
        {L"<00:01.00>a(C#2)", -127},  // would wrap into a rest
        {L"<00:01.00>a(B9)", 127},
    };
    for (const Case& c : cases) {
        const auto notes = Parse(c.text);
        ASSERT_EQ(notes.size(), 2u) << c.text;
        EXPECT_EQ(notes[0], (Note{1000, c.code}));
        EXPECT_EQ(notes[1], (Note{1100, kNoPitch})) << "closing rest 100 ms after the last note";
    }
}

TEST(ParseMelody, TagsTimesAndStructure) {
    // Minutes, seconds, hundredths (the fraction counts hundredths whatever
    // its digits); a tag without an annotation takes the next one and the
    // tags in between are skipped; square line tags are not word tags.
    EXPECT_EQ(Parse(L"[00:01.00]<01:02.5>la(A4) <01:03.00>x <01:04.00>y(B4) <01:05.00>"),
              (std::vector<Note>{{62050, 0}, {63000, 8}, {63100, kNoPitch}}));
    EXPECT_TRUE(Parse(L"no annotations <00:01.00>here").empty());
    EXPECT_TRUE(Parse(L"<00:01.00>one paren (").empty());
    EXPECT_TRUE(Parse(L"(A4) without any tag").empty());
}

TEST(ParseMelody, SharedTimesAreSpread) {
    // Three entries at 10000 before one at 10400: 10000, 10133, 10266.
    EXPECT_EQ(
        Parse(L"<00:10.00>a(A4)<00:10.00>b(B4)<00:10.00>c(C5)<00:10.40>d(D5)"),
        (std::vector<Note>{{10000, 0}, {10133, 8}, {10266, 12}, {10400, 20}, {10500, kNoPitch}}));
    // A run at the end moves 100 ms later, with the closing rest.
    EXPECT_EQ(Parse(L"<00:01.00>a(A4)<00:02.00>b(B4)<00:02.00>c(C5)"),
              (std::vector<Note>{{1000, 0}, {2000, 8}, {2100, 12}, {2100, kNoPitch}}));
}

TEST(ParseMelody, BackwardNegativeAndHugeTagsNeverWrap) {
    // Backward tags are raised to the time before them, then spread.
    const auto back = Parse(L"<00:01.00>a(A4)<00:00.90>b(B4)<00:00.95>c(C5)<00:02.00>d(D5)");
    ASSERT_EQ(back.size(), 5u);
    for (size_t i = 1; i < back.size(); ++i) {
        EXPECT_GE(back[i].time, back[i - 1].time) << i;
        EXPECT_LE(back[i].time, 2100);
    }
    EXPECT_EQ(back[3], (Note{2000, 20}));
    // A negative field or a time past one hour is no time tag, so its
    // annotation, which lies before the next valid tag, is not used.
    EXPECT_EQ(Parse(L"<00:-5.00>a(A4)<00:03.00>b(B4)"),
              (std::vector<Note>{{3000, 8}, {3100, kNoPitch}}));
    EXPECT_EQ(Parse(L"<999:00.00>a(A4)<00:03.00>b(B4)"),
              (std::vector<Note>{{3000, 8}, {3100, kNoPitch}}));
    EXPECT_EQ(Parse(L"<99999999999:00.00>a(A4)"), std::vector<Note>{});
}

TEST(CMelody, KeyShiftSaturatesAndRestsStay) {
    CMelody m;
    ASSERT_TRUE(m.LoadText(L"<00:01.00>a(A4)<00:02.00>b(X)<00:03.00>c(A#9)"));
    // A#9 is 4 * (108 + 10 - 57) = 244, saturated to 127 by the parser.
    m.SetKey(2);
    EXPECT_EQ(Notes(m.ShiftedEntries()),
              (std::vector<Note>{{1000, 8}, {2000, kNoPitch}, {3000, 127}, {3100, kNoPitch}}));
    m.SetKey(-40);  // clamped to -12
    EXPECT_EQ(m.Key(), -12);
    EXPECT_EQ(MelodyPitch(m.ShiftedEntries()[0]), -48);
    int lo = 0;
    int hi = 0;
    m.PitchRange(lo, hi);
    EXPECT_EQ(lo, -48);
    EXPECT_EQ(hi, 79);
    EXPECT_EQ(Notes(m.Entries())[0], (Note{1000, 0}));  // the parsed entries are kept

    CMelody restsOnly;
    ASSERT_TRUE(restsOnly.LoadText(L"<00:01.00>a(X)<00:02.00>b(Y)"));
    EXPECT_FALSE(restsOnly.HasNotes());
    restsOnly.PitchRange(lo, hi);
    EXPECT_EQ(lo, kNoPitch);
    EXPECT_EQ(hi, kNoPitch);
}

TEST(CMelody, ReadsAPlainCodePage936LyricFile) {
    TempDir dir;
    const std::wstring text =
        L"[ti:\u6d4b\u8bd5]\r\n"
        L"[00:01.00]<00:01.00>\u6211(E4)<00:01.50>\u4eec(G4)<00:02.00>\u5531(A4)\r\n"
        L"[00:05.00]<00:05.00>\u6b4c(C5)<00:05.80>\u5427(X)<00:06.00>\r\n";
    const std::string bytes = platform::ToCodePage936(text);
    ASSERT_NE(bytes.size(), text.size());  // double-byte characters
    CMelody m;
    ASSERT_TRUE(m.Load(Wide(dir.File("song.lrc", bytes))));
    EXPECT_EQ(m.LastReadResult(), evaluation::LyricTextResult::kOk);
    EXPECT_EQ(
        Notes(m.Entries()),
        (std::vector<Note>{
            {1000, -20}, {1500, -8}, {2000, 0}, {5000, 12}, {5800, kNoPitch}, {5900, kNoPitch}}));
}

TEST(CMelody, UnreadableFilesAndContainersWithoutDecipherGiveNoMelody) {
    TempDir dir;
    CMelody m;
    ASSERT_TRUE(m.LoadText(L"<00:01.00>a(A4)"));
    EXPECT_FALSE(m.Load(L"/nonexistent/song.lrc"));
    EXPECT_TRUE(m.Empty()) << "the old entries are dropped";
    EXPECT_EQ(m.LastReadResult(), evaluation::LyricTextResult::kUnreadable);

    std::string container("\xFF\xFF\x01\x05", 4);
    container.append(12, '\0');
    const std::string payload = "<00:01.00>a(A4)";
    const std::string path = dir.File("song.hlf", container + payload);
    evaluation::SetLyricContainerDecipher(nullptr);
    EXPECT_FALSE(m.Load(Wide(path)));
    EXPECT_EQ(m.LastReadResult(), evaluation::LyricTextResult::kContainerNoKey);

    // With a decipher installed the container's text is parsed; a refused
    // container gives no melody.
    evaluation::SetLyricContainerDecipher([](std::string_view c, std::string& plain) {
        plain.assign(c.substr(16));
        return true;
    });
    EXPECT_TRUE(m.Load(Wide(path)));
    EXPECT_EQ(Notes(m.Entries())[0], (Note{1000, 0}));
    evaluation::SetLyricContainerDecipher([](std::string_view, std::string&) { return false; });
    EXPECT_FALSE(m.Load(Wide(path)));
    EXPECT_EQ(m.LastReadResult(), evaluation::LyricTextResult::kContainerInvalid);
    evaluation::SetLyricContainerDecipher(nullptr);

    // A header with a key index past 19 is not a container: read as text.
    std::string notContainer("\xFF\xFF\x01\x14", 4);
    notContainer.append(12, '\0');
    EXPECT_FALSE(evaluation::IsLyricContainer(notContainer));
    EXPECT_TRUE(evaluation::IsLyricContainer(container));
}
