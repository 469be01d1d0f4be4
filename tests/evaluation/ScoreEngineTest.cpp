#include "evaluation/ScoreEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "evaluation/ScoreFiles.h"
#include "platform/text/Utf.h"

namespace {

using namespace evaluation;

constexpr double kPi = 3.14159265358979323846;

struct TempFolder {
    TempFolder() {
        std::random_device rd;
        path =
            std::filesystem::temp_directory_path() / ("vokari-scoreengine-" + std::to_string(rd()));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::wstring Folder() const { return platform::FromUtf8(path.string() + "/"); }
    std::filesystem::path path;
};

// A voice at 48 kHz stereo: six harmonics with 1/m amplitudes, following
// the melody's notes (shifted by `semitones`), silent in its rests.
std::vector<short> Voice(const std::vector<MelodyEntry>& melody, double semitones, double seconds,
                         double amplitude = 8000) {
    const std::size_t frames = static_cast<std::size_t>(seconds * 48000);
    std::vector<short> out(frames * 2, 0);
    double phase = 0;
    std::size_t entry = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double ms = i / 48.0;
        while (entry + 1 < melody.size() && MelodyTime(melody[entry + 1]) <= ms) {
            ++entry;
        }
        if (ms < MelodyTime(melody[0]) || IsRest(melody[entry])) {
            continue;
        }
        const double hz =
            440.0 * std::pow(2.0, (MelodyPitch(melody[entry]) / 4.0 + semitones) / 12);
        phase += 2 * kPi * hz / 48000;
        double v = 0;
        for (int m = 1; m <= 6; ++m) {
            v += std::sin(m * phase) / m;
        }
        const short s = static_cast<short>(amplitude / 2.45 * v);
        out[2 * i] = s;
        out[2 * i + 1] = s;
    }
    return out;
}

// Runs a whole performance through a score engine.
void Perform(ScoreEngine& engine, const std::vector<short>& voice) {
    std::vector<short> block(2 * kCaptureHop);
    std::vector<short> monitor(2 * kCaptureHop);
    for (std::size_t at = 0; at + block.size() <= voice.size(); at += block.size()) {
        std::copy(voice.begin() + at, voice.begin() + at + block.size(), block.begin());
        std::fill(monitor.begin(), monitor.end(), 0);
        engine.ProcessBlock(block.data(), block.data(), kCaptureHop, monitor.data());
    }
}

std::vector<MelodyEntry> SongMelody() {
    // Two phrases of notes with a rest between them, then the closing rest.
    const wchar_t* text =
        L"[00:01.00]<00:01.00>la(E4)<00:01.60>la(G4)<00:02.20>la(A4)<00:03.40>la(G4)"
        L"<00:04.00>(X)\r\n"
        L"[00:04.60]<00:04.60>lo(C5)<00:05.20>lo(B4)<00:05.80>lo(A4)<00:07.00>lo(E4)"
        L"<00:08.00>(X)\r\n";
    return ParseMelody(text);
}

TEST(EvaluationEngine, RefusesBadFormatsAndBlocks) {
    const std::vector<MelodyEntry> melody = SongMelody();
    CEvaluationEngine engine;
    std::vector<short> block(2 * kCaptureHop, 123);
    int live = 7;
    unsigned event = 9;
    int level = 5;
    EXPECT_EQ(
        engine.ProcessBlock(block.data(), block.data(), kCaptureHop, live, event, level, nullptr),
        kEvalNotStarted);
    EXPECT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 44100, 2), kEvalBadRate);
    EXPECT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 48000, 3),
              kEvalBadChannels);
    EXPECT_EQ(engine.Init(melody.data(), 0, 48000, 2), kEvalEmptyMelody);
    const MelodyEntry rests[] = {MakeMelodyEntry(100, kNoPitch), MakeMelodyEntry(200, kNoPitch)};
    EXPECT_EQ(engine.Init(rests, 2, 48000, 2), kEvalEmptyMelody);
    EXPECT_FALSE(engine.Started());

    ASSERT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 48000, 2), kEvalOk);
    for (int frames : {0, 256, 767, 769, 1536}) {
        EXPECT_EQ(
            engine.ProcessBlock(block.data(), block.data(), frames, live, event, level, nullptr),
            kEvalBadBlock)
            << frames;
    }
    EXPECT_EQ(live, 7);
    EXPECT_EQ(level, 5);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](short s) { return s == 123; }));

    // At 16 kHz the block must be 256 frames: a short one is refused, not
    // read past its end.
    ASSERT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 16000, 1), kEvalOk);
    std::vector<short> shortBlock(100, 1);
    EXPECT_EQ(
        engine.ProcessBlock(shortBlock.data(), shortBlock.data(), 100, live, event, level, nullptr),
        kEvalBadBlock);
    std::vector<short> hop(256, 0);
    EXPECT_EQ(engine.ProcessBlock(hop.data(), hop.data(), 256, live, event, level, nullptr),
              kEvalOk);
    EXPECT_EQ(live, kNoPitch) << "silence shows no pitch";
    EXPECT_EQ(level, 0);
}

TEST(EvaluationEngine, LevelOfAFullScaleBlockIsAHundred) {
    const std::vector<MelodyEntry> melody = SongMelody();
    CEvaluationEngine engine;
    engine.SetEffects(false, false);
    ASSERT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 48000, 2), kEvalOk);
    struct Case {
        short peak;
        int level;
    };
    for (const Case c : {Case{-32768, 100}, Case{32767, 100}, Case{16384, 50}, Case{163, 0},
                         Case{164, 1}, Case{0, 0}}) {
        std::vector<short> block(2 * kCaptureHop, 0);
        block[101] = c.peak;
        std::vector<short> out(block.size(), 0);
        std::vector<short> monitor(block.size(), 77);
        int live = 0;
        unsigned event = 0;
        int level = -1;
        ASSERT_EQ(engine.ProcessBlock(block.data(), out.data(), kCaptureHop, live, event, level,
                                      monitor.data()),
                  kEvalOk);
        EXPECT_EQ(level, c.level) << c.peak;
        EXPECT_EQ(out, block) << "without effects the voice passes unchanged";
        EXPECT_EQ(monitor[0], 77) << "and the second output is left as it was";
    }
}

// Reference of each frame-table row for a melody, walked one row per 16 ms.
std::vector<int> References(const std::vector<MelodyEntry>& melody, int rows) {
    CEvaluationEngine engine;
    EXPECT_EQ(engine.Init(melody.data(), static_cast<int>(melody.size()), 16000, 1), kEvalOk);
    std::vector<short> hop(256, 0);
    int live = 0;
    unsigned event = 0;
    int level = 0;
    for (int k = 0; k < rows; ++k) {
        engine.ProcessBlock(hop.data(), hop.data(), 256, live, event, level, nullptr);
    }
    std::vector<int> out;
    for (int j = 0; j < rows; ++j) {
        out.push_back(engine.Evaluator()->Table()[j].reference);
    }
    return out;
}

TEST(EvaluationEngine, ReferenceWalkConsumesSharedTimesTogetherAndStopsAtTheEnd) {
    // A at 100 ms; B and C share 200 ms (C wins); a rest at 400 ms.
    const std::vector<MelodyEntry> shared = {MakeMelodyEntry(100, 0), MakeMelodyEntry(200, 8),
                                             MakeMelodyEntry(200, 16),
                                             MakeMelodyEntry(400, kNoPitch)};
    const std::vector<int> refs = References(shared, 40);
    for (int j = 0; j < 40; ++j) {
        // Row j holds the reference in force before the walk reaches
        // 16 * (j + 1) ms.
        const int expected = j < 7 ? kNoPitch : j < 13 ? 0 : j < 25 ? 16 : kNoPitch;
        EXPECT_EQ(refs[j], expected) << "row " << j;
    }
    // The last two entries share a time: the walk ends there instead of
    // reading past the melody.
    const std::vector<MelodyEntry> tail = {MakeMelodyEntry(100, 4), MakeMelodyEntry(300, 12),
                                           MakeMelodyEntry(300, kNoPitch)};
    const std::vector<int> end = References(tail, 60);
    EXPECT_EQ(end[7], 4);
    EXPECT_EQ(end[19], kNoPitch) << "the pair at 300 ms ends in its rest";
    for (int j = 19; j < 60; ++j) {
        EXPECT_EQ(end[j], kNoPitch) << "row " << j;
    }
}

class FakeClock final : public IPerformanceClock {
  public:
    std::int64_t PositionMs() override { return position; }
    std::int64_t DurationMs() override { return duration; }
    std::int64_t position = 0;
    std::int64_t duration = 0;
};

TEST(ScoreEngine, TimelineFollowsTheMelodyAndKeepsUpWithThePlayer) {
    const std::vector<MelodyEntry> melody = SongMelody();
    FakeClock clock;
    clock.duration = 9000;
    ScoreEngine engine;
    engine.SetClock(&clock);
    ASSERT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), clock.duration));
    ASSERT_EQ(engine.TimelineCount(), 9000 / 16 + 1);
    EXPECT_EQ(engine.CurrentIndex(), -1);
    // Item t carries the entry i with t_i - 16 <= t < t_(i+1) - 16.
    EXPECT_EQ(engine.TimelineAt(62).reference, kNoPitch);   // 992 ms, before the first note
    EXPECT_EQ(engine.TimelineAt(63).reference, -20);        // 1008 ms: E4
    EXPECT_EQ(engine.TimelineAt(98).reference, -20);        // 1568 ms
    EXPECT_EQ(engine.TimelineAt(99).reference, -8);         // G4 from 1600 - 16 ms
    EXPECT_EQ(engine.TimelineAt(260).reference, kNoPitch);  // the rest at 4000 ms

    std::vector<short> block(2 * kCaptureHop, 0);
    engine.ProcessBlock(block.data(), block.data(), kCaptureHop, nullptr);
    EXPECT_EQ(engine.CurrentIndex(), 0);
    clock.position = 160;  // the player ran ahead: the engine catches up
    engine.ProcessBlock(block.data(), block.data(), kCaptureHop, nullptr);
    EXPECT_EQ(engine.CurrentIndex(), 10);
    EXPECT_EQ(engine.CurrentTimeMs(), 176);
    EXPECT_EQ(engine.VolumeCount(), 2);
    EXPECT_EQ(engine.VolumeAt(1).timeMs, 160);
}

TEST(ScoreEngine, VolumeSmoothsWithTheSecondToFifthNewestValues) {
    const std::vector<MelodyEntry> melody = SongMelody();
    ScoreEngine engine;
    engine.SetEchoOn(false);
    engine.SetReverbOn(false);
    ASSERT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), 9000));
    const std::vector<int> levels = {100, 0, 50, 20, 80, 40, 60, 100, 3, 97};
    std::vector<float> expected;
    for (int level : levels) {
        std::vector<short> block(2 * kCaptureHop, 0);
        block[0] = static_cast<short>(std::lround(level * 327.67));
        engine.ProcessBlock(block.data(), block.data(), kCaptureHop, nullptr);
        const std::size_t n = expected.size();
        if (n < 5) {
            expected.push_back(static_cast<float>(level));
        } else {
            const int sum = level + static_cast<int>(expected[n - 2]) +
                            static_cast<int>(expected[n - 3]) + static_cast<int>(expected[n - 4]) +
                            static_cast<int>(expected[n - 5]);
            expected.push_back(static_cast<float>(sum / 5));
        }
    }
    ASSERT_EQ(engine.VolumeCount(), static_cast<int>(levels.size()));
    for (int i = 0; i < engine.VolumeCount(); ++i) {
        EXPECT_EQ(engine.VolumeAt(i).level, expected[i]) << i;
        EXPECT_EQ(engine.VolumeAt(i).timeMs, 16 * i);
    }
    EXPECT_EQ(engine.NewestVolume(), expected.back());
}

TEST(ScoreEngine, AFailedStartClearsTheLastPerformanceAndRecordsNothing) {
    const std::vector<MelodyEntry> melody = SongMelody();
    ScoreEngine engine;
    ASSERT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), 9000));
    std::vector<short> block(2 * kCaptureHop, 4000);
    for (int k = 0; k < 10; ++k) {
        engine.ProcessBlock(block.data(), block.data(), kCaptureHop, nullptr);
    }
    ASSERT_GT(engine.VolumeCount(), 0);

    EXPECT_FALSE(engine.Start(nullptr, 0, 9000));
    EXPECT_EQ(engine.TimelineCount(), 0);
    EXPECT_EQ(engine.VolumeCount(), 0);
    EXPECT_EQ(engine.EventCount(), 0);
    EXPECT_EQ(engine.CurrentIndex(), -1);
    std::vector<short> voice(2 * kCaptureHop, 1234);
    engine.ProcessBlock(voice.data(), voice.data(), kCaptureHop, nullptr);
    EXPECT_EQ(engine.VolumeCount(), 0) << "an unscored block records nothing";
    EXPECT_EQ(engine.CurrentIndex(), -1);
    EXPECT_TRUE(std::all_of(voice.begin(), voice.end(), [](short s) { return s == 1234; }));
    TempFolder dir;
    EXPECT_FALSE(engine.SaveResults(dir.Folder()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path)) << "nothing is written for it";
}

struct Outcome {
    float pitch = 0;
    float total = 0;
};

Outcome PerformAndSave(const std::vector<short>& voice, const std::filesystem::path& folder,
                       ScoreFileSet* readBack = nullptr) {
    const std::vector<MelodyEntry> melody = SongMelody();
    ScoreEngine engine;
    EXPECT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), 9000));
    Perform(engine, voice);
    const int events = engine.EventCount();
    const int items = engine.TimelineCount();
    std::vector<TimelineItem> timeline;
    for (int k = 0; k < items; ++k) {
        timeline.push_back(engine.TimelineAt(k));
    }
    std::vector<VolumePoint> volume;
    for (int k = 0; k < engine.VolumeCount(); ++k) {
        volume.push_back(engine.VolumeAt(k));
    }
    const std::wstring dir = platform::FromUtf8(folder.string() + "/");
    EXPECT_TRUE(engine.SaveResults(dir));
    const CEvaluationEngine& e = engine.Engine();

    ScoreFileSet set;
    EXPECT_EQ(ReadScoreFiles(dir, set), ScoreReadResult::kOk);
    // What the files hold is what the engine held, to the files' precision.
    const std::vector<FrameRow>& rows = e.LastTable();
    EXPECT_EQ(static_cast<int>(rows.size()), FrameTableRows(MelodyTime(melody.back())));
    EXPECT_EQ(set.rows.size(), rows.size());
    const int m = e.LastMeanOffset();
    for (std::size_t j = 0; j < rows.size() && j < set.rows.size(); ++j) {
        EXPECT_EQ(set.rows[j].reference, rows[j].reference) << j;
        EXPECT_EQ(set.rows[j].notePitch,
                  rows[j].notePitch == kUnfilled ? kNoPitch : rows[j].notePitch)
            << j;
        EXPECT_EQ(set.rows[j].mark, rows[j].mark) << j;
        if (rows[j].mark == kNoteStart) {
            EXPECT_NEAR(set.rows[j].noteScore, rows[j].noteScore, 0.051) << j;
        }
        // The sung column was replaced by the live timeline.
        EXPECT_EQ(set.rows[j].sung, j < timeline.size()
                                        ? timeline[j].sung
                                        : rows[std::min(j + m, rows.size() - 1)].sung)
            << j;
    }
    EXPECT_NEAR(set.pitchScore, e.LastPitchScore(), 0.005);
    EXPECT_EQ(set.phrases.size(), e.LastPhrases().size());
    for (std::size_t p = 0; p < set.phrases.size(); ++p) {
        EXPECT_EQ(set.phrases[p].startMs, e.LastPhrases()[p].startMs);
        EXPECT_EQ(set.phrases[p].endMs, e.LastPhrases()[p].endMs);
        EXPECT_NEAR(set.phrases[p].score, e.LastPhrases()[p].score, 0.005);
    }
    const RadarValues& r = e.LastReport().radar;
    EXPECT_NEAR(set.radar.total, r.total, 1e-4 * (1 + r.total));
    EXPECT_NEAR(set.radar.pitch, r.pitch, 1e-4 * (1 + r.pitch));
    EXPECT_EQ(set.maxFeatureCount, events);
    EXPECT_EQ(set.timeline.size(), timeline.size());
    for (std::size_t k = 0; k < timeline.size() && k < set.timeline.size(); ++k) {
        EXPECT_EQ(set.timeline[k].timeMs, timeline[k].timeMs);
        EXPECT_EQ(set.timeline[k].sung, timeline[k].sung);
    }
    EXPECT_EQ(set.volume, volume);
    if (readBack != nullptr) {
        *readBack = set;
    }
    return {set.pitchScore, set.radar.total};
}

TEST(ScoreEngine, WholePerformancesScoreAndReadBackEqual) {
    const std::vector<MelodyEntry> melody = SongMelody();
    TempFolder good;
    TempFolder off;
    TempFolder quiet;
    ScoreFileSet goodSet;
    const Outcome onPitch = PerformAndSave(Voice(melody, 0, 9.0), good.path, &goodSet);
    const Outcome offPitch = PerformAndSave(Voice(melody, 2.5, 9.0), off.path);
    const Outcome silence = PerformAndSave(std::vector<short>(9 * 48000 * 2, 0), quiet.path);
    EXPECT_GT(onPitch.pitch, 80.0f);
    EXPECT_GT(onPitch.total, offPitch.total + 20.0f);
    EXPECT_EQ(silence.total, 0.0f);
    EXPECT_EQ(silence.pitch, 0.0f);
    std::printf("on pitch %.2f / %.2f, off pitch %.2f / %.2f\n", onPitch.pitch, onPitch.total,
                offPitch.pitch, offPitch.total);
    for (const wchar_t* name : {kPitchDataFile, kScoreFile, kFeatureTrackFile, kPitchData2File,
                                kVolumeDataFile, kMaxFeatureCountFile}) {
        EXPECT_TRUE(std::filesystem::exists(good.path / platform::ToUtf8(name)));
    }
    // The live pitch of a singer on E4 (-20) reads -19 per hop (the code
    // truncates) and the ring settles a step short of that.
    int onNote = 0;
    for (const LivePitchPoint& p : goodSet.timeline) {
        onNote += p.timeMs >= 1200 && p.timeMs < 1500 && std::abs(p.sung + 20) <= 2;
    }
    EXPECT_GT(onNote, 10);
}

TEST(ScoreEngine, SinglePhraseScoreFileStartsItsOnlyPhraseAtZero) {
    const std::vector<MelodyEntry> melody =
        ParseMelody(L"<00:01.00>a(A4)<00:01.50>b(B4)<00:02.00>c(A4)<00:02.50>(X)");
    ScoreEngine engine;
    ASSERT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), 3000));
    Perform(engine, Voice(melody, 0, 3.0));
    TempFolder dir;
    ASSERT_TRUE(engine.SaveResults(dir.Folder()));
    ScoreFileSet set;
    ASSERT_EQ(ReadScoreFiles(dir.Folder(), set), ScoreReadResult::kOk);
    ASSERT_EQ(set.phrases.size(), 1u);
    EXPECT_EQ(set.phrases[0].startMs, 0);
    EXPECT_EQ(set.phrases[0].endMs, MelodyTime(melody.back()));
}

TEST(ScoreEngine, AnUnwritableFolderFailsTheSaveAndWritesNoLiveFiles) {
    const std::vector<MelodyEntry> melody = SongMelody();
    ScoreEngine engine;
    ASSERT_TRUE(engine.Start(melody.data(), static_cast<int>(melody.size()), 9000));
    Perform(engine, Voice(melody, 0, 2.0));
    TempFolder dir;
    EXPECT_FALSE(engine.SaveResults(dir.Folder() + L"missing/"));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "missing"));
    EXPECT_EQ(engine.MelodyCount(), 0) << "the melody copy is freed all the same";
}

}  // namespace
