#include "evaluation/ScoreFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/text/Utf.h"

namespace {

using namespace evaluation;

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

struct TempFolder {
    TempFolder() {
        std::random_device rd;
        path =
            std::filesystem::temp_directory_path() / ("vokari-scorefiles-" + std::to_string(rd()));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::wstring Folder() const { return platform::FromUtf8(path.string() + "/"); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
    }
    std::filesystem::path path;
};

TEST(ScoreFiles, PitchDataLinesCarryMarksScoresAndTheAlignedSungColumn) {
    std::vector<FrameRow> rows(5);
    rows[0] = {-20, -18, -20, kNoteStart, 93.3f};
    rows[1] = {-20, -21, -20, kNoMark, 0};
    rows[2] = {-20, -22, -20, kNoteEnd, 0};
    rows[3] = {kNoPitch, -30, kUnfilled, kNoMark, 0};
    rows[4] = {};  // never reached
    const auto lines = LinesOf(PitchDataText(rows.data(), 5, 2));
    ASSERT_EQ(lines.size(), 5u);
    // Sung of row j comes from row min(j + 2, 4).
    EXPECT_EQ(lines[0], "      0\t    -20\t    -22\t    -20\t(\t 93.3");
    EXPECT_EQ(lines[1], "     16\t    -20\t    -30\t    -20");
    EXPECT_EQ(lines[2], "     32\t    -20\t   -256\t    -20\t)");
    EXPECT_EQ(lines[3], "     48\t   -128\t   -256\t     ");
    EXPECT_EQ(lines[4], "     64\t   -256\t   -256\t     ");
}

TEST(ScoreFiles, PitchDataReadsBackWithItsMarksAndBlanks) {
    std::vector<FrameRow> rows(4);
    rows[0] = {4, 5, 4, kNoteStart, 7.25f};
    rows[1] = {4, 6, 4, kNoteEnd, 0};
    rows[2] = {kNoPitch, kNoPitch, kUnfilled, kNoMark, 0};
    rows[3] = {kNoPitch, 12, kUnfilled, kNoteEnd, 0};
    std::vector<ScoreRow> back;
    ParsePitchData(PitchDataText(rows.data(), 4, 0), back);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[0], (ScoreRow{0, 4, 5, 4, kNoteStart, 7.2f}));  // "%5.1f" keeps one decimal
    EXPECT_EQ(back[1], (ScoreRow{16, 4, 6, 4, kNoteEnd, 0}));
    // A blank note pitch reads as "no pitch".
    EXPECT_EQ(back[2], (ScoreRow{32, kNoPitch, kNoPitch, kNoPitch, kNoMark, 0}));
    EXPECT_EQ(back[3], (ScoreRow{48, kNoPitch, 12, kNoPitch, kNoteEnd, 0}));
}

TEST(ScoreFiles, ScoreTextAndItsReader) {
    const std::vector<PhraseScore> phrases = {{1000, 5200, 87.5f}, {5200, 9000, 0}};
    const std::string text = ScoreText(85.2731f, phrases);
    EXPECT_EQ(text, "85.27\r\n    1000\t    5200\t87.50\r\n    5200\t    9000\t0.00\r\n");
    float score = 0;
    std::vector<PhraseScore> back;
    ParseScore(text, score, back);
    EXPECT_FLOAT_EQ(score, 85.27f);
    EXPECT_EQ(back, phrases);
}

FeatureReport ExampleReport() {
    FeatureReport r;
    r.performance = 4.8375f;
    r.vibratoDetected = 6;
    r.upDetected = 2;
    r.downDetected = 1;
    r.riffs = 1;
    r.events = {{1536, FeatureEventLine::kUp, false, 5.01f},
                {1536, FeatureEventLine::kVibrato, true, 0},
                {3072, FeatureEventLine::kDown, true, -7.5f},
                {4096, FeatureEventLine::kVibrato, false, 0}};
    r.loudnessChart = {60.5f, 0.0f, 72.0f};
    r.radar = {85.2731f, 33.3333f, 10.0f, 64.5f, 72.0513f, 78.5753f};
    return r;
}

TEST(ScoreFiles, FeatureReportLayout) {
    const auto lines = LinesOf(FeatureTrackText(ExampleReport()));
    const std::vector<std::string> expected = {
        "Loudness\t\tVibrato\tUp Portamento\tDown Portamento\tRiffs and Runs",
        "[4.8375]\t\t[6]\t[2]\t\t[1]\t\t[1]",
        "//Time (ms) \tV=Vibrato , P=Portamento",
        "<1536>\t\t(UP)\t\t5.01",
        "<1536>\t\t(VX)",
        "<3072>\t\t(DPX)\t\t-7.5",
        "<4096>\t\t(V)",
        "",
        "",
        "",
        "Loudness Chart",
        "<1024>\t\t60.5",
        "<2048>\t\t0",
        "<3072>\t\t72",
        "",
        "",
        "",
        "Radar Chart",
        "Pitch    \t85.2731",
        "Vibrato  \t33.3333",
        "Portamento\t10",
        "Performance\t64.5",
        "Stability\t72.0513",
        "Total Score\t78.5753",
    };
    EXPECT_EQ(lines, expected);
}

TEST(ScoreFiles, FeatureReportWithoutExpressionHasZeroCountsAndNoEvents) {
    const auto lines = LinesOf(FeatureTrackText(FeatureReport{}));
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[1], "[0]\t\t[0]\t[0]\t\t[0]\t\t[0]");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[6], "Loudness Chart");
}

TEST(ScoreFiles, FeatureReportReadsBackEventsChartAndRadar) {
    ScoreFileSet set;
    ParseFeatureTrack(FeatureTrackText(ExampleReport()), set);
    EXPECT_FLOAT_EQ(set.performance, 4.8375f);
    EXPECT_EQ(set.events, (std::vector<ScoreEvent>{{1536, 1}, {1536, 0}, {3072, 0}, {4096, 3}}));
    EXPECT_EQ(set.loudness, (std::vector<LoudnessPoint>{{1024, 60.5f}, {2048, 0}, {3072, 72}}));
    EXPECT_FLOAT_EQ(set.radar.pitch, 85.2731f);
    EXPECT_FLOAT_EQ(set.radar.vibrato, 33.3333f);
    EXPECT_FLOAT_EQ(set.radar.portamento, 10);
    EXPECT_FLOAT_EQ(set.radar.performance, 64.5f);
    EXPECT_FLOAT_EQ(set.radar.stability, 72.0513f);
    EXPECT_FLOAT_EQ(set.radar.total, 78.5753f);
}

TEST(ScoreFiles, LiveFilesFormats) {
    const LivePitchPoint pitch[] = {{0, -128}, {16, 12}};
    EXPECT_EQ(PitchData2Text(pitch, 2), "<0>\t-128\r\n<16>\t12\r\n");
    const VolumePoint volume[] = {{0, 0}, {16, 37}};
    EXPECT_EQ(VolumeDataText(volume, 2), "<0>\t0.000000\r\n<16>\t37.000000\r\n");
    EXPECT_EQ(MaxFeatureCountText(3), "3\r\n");
}

TEST(ScoreFiles, FolderReadsTolerateLineFeedsAndLimitTheEvents) {
    TempFolder dir;
    auto lf = [](std::string text) {
        std::string out;
        for (char c : text) {
            if (c != '\r') {
                out += c;
            }
        }
        return out;
    };
    std::vector<FrameRow> rows(3);
    rows[0] = {0, 1, 0, kNoteStart, 50};
    rows[1] = {0, 2, 0, kNoteEnd, 0};
    rows[2] = {kNoPitch, kNoPitch, kUnfilled, kNoMark, 0};
    dir.Write("PitchData.txt", lf(PitchDataText(rows.data(), 3, 0)));
    dir.Write("VocalFeatureTrack.txt", lf(FeatureTrackText(ExampleReport())));
    dir.Write("Score.txt", lf(ScoreText(50, {{0, 48, 50}})));
    dir.Write("PitchData2.txt", "<0>\t7\n<16>\t8\n<32>\t9\n<48>\t10\n");
    dir.Write("MaxFeatureCount.txt", "2\n");

    ScoreFileSet set;
    ASSERT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kOk);
    ASSERT_EQ(set.rows.size(), 3u);
    // The live timeline replaces the sung codes, only as far as the rows go.
    EXPECT_EQ(set.rows[0].sung, 7);
    EXPECT_EQ(set.rows[2].sung, 9);
    EXPECT_EQ(set.rows[0].mark, kNoteStart);
    EXPECT_EQ(set.loudness.size(), 3u) << "blank lines before the radar are not chart points";
    EXPECT_EQ(set.events.size(), 2u) << "the feature count limits the events";
    EXPECT_TRUE(set.volume.empty()) << "the volume file is optional";
    EXPECT_FLOAT_EQ(set.pitchScore, 50);
    EXPECT_FLOAT_EQ(set.radar.total, 78.5753f);

    float total = 0;
    EXPECT_TRUE(ReadTotalScore(dir.Folder() + L"VocalFeatureTrack.txt", total));
    EXPECT_FLOAT_EQ(total, 78.5753f);
}

TEST(ScoreFiles, AMissingRequiredFileStopsTheReading) {
    TempFolder dir;
    ScoreFileSet set;
    EXPECT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kNoPitchData);
    dir.Write("PitchData.txt", "      0\t      1\t      2\t     \r\n");
    EXPECT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kNoFeatureTrack);
    dir.Write("VocalFeatureTrack.txt", FeatureTrackText(ExampleReport()));
    EXPECT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kNoScore);
    dir.Write("Score.txt", "12.5\r\n");
    EXPECT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kOk);
    EXPECT_EQ(set.maxFeatureCount, -1);
    EXPECT_EQ(set.events.size(), 4u);
}

TEST(ScoreFiles, AFileThatCannotBeCreatedLeavesNothing) {
    TempFolder dir;
    const std::wstring missing = dir.Folder() + L"no-such-folder/Score.txt";
    EXPECT_FALSE(WriteScoreFile(missing, "1.00\r\n"));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "no-such-folder"));
    // Replacing an existing file leaves no temporary beside it.
    ASSERT_TRUE(WriteScoreFile(dir.Folder() + L"Score.txt", "1.00\r\n"));
    ASSERT_TRUE(WriteScoreFile(dir.Folder() + L"Score.txt", "2.00\r\n"));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
