#include "evaluation/Melody.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "evaluation/NoteScorer.h"
#include "karaoke/context/HlfContainer.h"
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

    // Direct shift of a code near the top: 125 + 8 saturates at 127.
    const auto top = evaluation::ShiftMelody(
        {evaluation::MakeMelodyEntry(0, 125), evaluation::MakeMelodyEntry(10, -125),
         evaluation::MakeMelodyEntry(20, kNoPitch)},
        2);
    EXPECT_EQ(Notes(top), (std::vector<Note>{{0, 127}, {10, -117}, {20, kNoPitch}}));
    EXPECT_EQ(MelodyPitch(evaluation::ShiftMelody({evaluation::MakeMelodyEntry(0, -125)}, -1)[0]),
              -127);

    CMelody restsOnly;
    ASSERT_TRUE(restsOnly.LoadText(L"<00:01.00>a(X)<00:02.00>b(Y)"));
    EXPECT_FALSE(restsOnly.HasNotes());
    restsOnly.PitchRange(lo, hi);
    EXPECT_EQ(lo, kNoPitch);
    EXPECT_EQ(hi, kNoPitch);
}

TEST(CMelody, ReadsAPlainCodePage936LyricFileIntoEntriesAndPhrases) {
    TempDir dir;
    const std::wstring text =
        L"[ti:\u6d4b\u8bd5]\r\n"
        L"[00:01.00]<00:01.00>\u6211(E4)<00:01.50>\u4eec(G4)<00:02.00>\u5531(A4)<00:03.20>(X)\r\n"
        L"[00:05.00]<00:05.00>\u6b4c(C5)<00:05.80>\u5427(X)<00:06.00>\r\n";
    const std::string bytes = platform::ToCodePage936(text);
    ASSERT_NE(bytes.size(), text.size());  // double-byte characters
    CMelody m;
    ASSERT_TRUE(m.Load(Wide(dir.File("song.lrc", bytes))));
    EXPECT_EQ(m.LastReadResult(), hlf::Status::Ok);
    EXPECT_EQ(Notes(m.Entries()), (std::vector<Note>{{1000, -20},
                                                     {1500, -8},
                                                     {2000, 0},
                                                     {3200, kNoPitch},
                                                     {5000, 12},
                                                     {5800, kNoPitch},
                                                     {5900, kNoPitch}}));
    // The 1.8 s rest after 2.2 s of singing ends the first phrase.
    std::vector<float> scores(m.Count(), -1.0f);
    CNoteScorer scorer(m.ShiftedEntries().data(), m.Count(), 16.0f, 300.0f, scores.data());
    ASSERT_EQ(scorer.Phrases().size(), 2u);
    EXPECT_EQ(scorer.Phrases()[0].firstEntry, 0);
    EXPECT_EQ(scorer.Phrases()[0].entryCount, 3);
    EXPECT_EQ(scorer.Phrases()[1].firstEntry, 4);
    EXPECT_EQ(scorer.Phrases()[1].entryCount, 3);
    EXPECT_EQ(scorer.PhraseEnd(0), 5000);
    EXPECT_EQ(scorer.PhraseEnd(1), 5900);
}

TEST(CMelody, AnEncipheredLyricFileGivesTheSameMelody) {
    TempDir dir;
    const std::string plain = platform::ToCodePage936(
        L"[00:01.00]<00:01.00>\u6211(E4)<00:01.50>\u4eec(G4)<00:02.00>\u5531(A4)<00:03.20>(X)\r\n"
        L"[00:05.00]<00:05.00>\u6b4c(C5)<00:05.80>\u5427(X)\r\n");
    std::vector<std::uint8_t> sealed;
    ASSERT_EQ(hlf::EncipherContainer(
                  std::span(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()),
                  sealed, 7),
              hlf::Status::Ok);
    CMelody fromPlain;
    CMelody fromContainer;
    ASSERT_TRUE(fromPlain.Load(Wide(dir.File("song.lrc", plain))));
    ASSERT_TRUE(
        fromContainer.Load(Wide(dir.File("song.hlf", std::string(sealed.begin(), sealed.end())))));
    EXPECT_EQ(Notes(fromContainer.Entries()), Notes(fromPlain.Entries()));
    EXPECT_EQ(fromContainer.Count(), 7);

    // A damaged container gives no melody and says why.
    std::string damaged(sealed.begin(), sealed.end());
    damaged.pop_back();
    CMelody m;
    EXPECT_FALSE(m.Load(Wide(dir.File("bad.hlf", damaged))));
    EXPECT_NE(m.LastReadResult(), hlf::Status::Ok);
    EXPECT_TRUE(m.Empty());
}

TEST(CMelody, UnreadableFileDropsTheOldMelody) {
    CMelody m;
    ASSERT_TRUE(m.LoadText(L"<00:01.00>a(A4)"));
    EXPECT_FALSE(m.Load(L"/nonexistent/song.lrc"));
    EXPECT_TRUE(m.Empty());
    EXPECT_EQ(m.LastReadResult(), hlf::Status::ReadFailure);
    // Text without annotations: read, but no melody.
    EXPECT_FALSE(m.LoadText(L"[00:01.00]just words"));
    EXPECT_TRUE(m.Empty());
}
