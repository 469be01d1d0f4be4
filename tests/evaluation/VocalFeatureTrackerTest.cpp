#include "evaluation/VocalFeatureTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluation/Signals.h"

using namespace testsignals;
using evaluation::FeatureEventLine;
using evaluation::FeatureReport;
using evaluation::MakeMelodyEntry;

namespace {

struct EventRun {
    std::vector<unsigned> events;  // one per block
    int Count(unsigned code) const {
        int n = 0;
        for (unsigned e : events) {
            n += e == code ? 1 : 0;
        }
        return n;
    }
};

EventRun Feed(CVocalFeatureTracker& t, const std::vector<float>& signal) {
    EventRun run;
    const std::vector<short> pcm = ToShort(signal);
    for (size_t i = 0; i + 256 <= pcm.size(); i += 256) {
        unsigned event = 99;
        EXPECT_EQ(t.ProcessBlock(pcm.data() + i, event), 0);
        run.events.push_back(event);
    }
    return run;
}

constexpr long long kCapacity = 16000LL * 8;  // 8 s

}  // namespace

TEST(VocalFeatureTracker, VibratoOfAboutSixHertzAndOneSemitoneIsDetected) {
    struct Case {
        double rate;
        double depth;  // semitones
        bool detected;
    } cases[] = {
        {6.5, 1.0, true},  {6.5, 1.5, true}, {6.5, 0.25, false},  // too shallow
        {6.5, 2.0, false},                                        // too deep
        {4.0, 1.0, false},                                        // too slow
    };
    for (const Case& c : cases) {
        CVocalFeatureTracker t(1, kCapacity);
        ASSERT_TRUE(t.Usable());
        const EventRun run = Feed(t, Harmonic(Vibrato(300.0, c.rate, c.depth), 4.2));
        // 4.2 s gives 64 frames, 8 blocks of 512 ms.
        ASSERT_EQ(t.FramesAnalysed(), 64);
        const int vibrato = run.Count(evaluation::kEventVibrato);
        if (c.detected) {
            EXPECT_GE(vibrato, 6) << c.rate << " Hz " << c.depth;
        } else {
            EXPECT_EQ(vibrato, 0) << c.rate << " Hz " << c.depth;
        }
    }
    // A steady note has no vibrato.
    CVocalFeatureTracker t(1, kCapacity);
    EXPECT_EQ(Feed(t, Steady(300.0, 4.2)).Count(evaluation::kEventVibrato), 0);
}

TEST(VocalFeatureTracker, AFastGlideCountsExactlyOnce) {
    struct Case {
        double semitones;
        unsigned event;
    } cases[] = {{5, evaluation::kEventUpPortamento},    {7, evaluation::kEventUpPortamento},
                 {11, evaluation::kEventUpPortamento},   {-5, evaluation::kEventDownPortamento},
                 {-7, evaluation::kEventDownPortamento}, {-11, evaluation::kEventDownPortamento}};
    for (const Case& c : cases) {
        CVocalFeatureTracker t(1, kCapacity);
        const double to = 500.0 * std::pow(2.0, c.semitones / 12.0);
        const EventRun run = Feed(t, Harmonic(Glide(500.0, to, 1.0, 0.08), 3.0));
        const unsigned other = c.event == evaluation::kEventUpPortamento
                                   ? evaluation::kEventDownPortamento
                                   : evaluation::kEventUpPortamento;
        EXPECT_EQ(run.Count(c.event), 1) << c.semitones;
        EXPECT_EQ(run.Count(other), 0) << c.semitones;
        EXPECT_EQ(run.Count(evaluation::kEventRiff), 0) << c.semitones;

        FeatureReport report;
        const MelodyEntry melody[] = {MakeMelodyEntry(0, 0), MakeMelodyEntry(8000, -128)};
        const float scores[] = {95.0f, -1.0f};
        ASSERT_EQ(t.Finish(melody, scores, 2, 95.0f, 100.0f, report), 0);
        ASSERT_EQ(report.events.size(), 1u) << c.semitones;
        EXPECT_NEAR(report.events[0].size, c.semitones, 0.6) << c.semitones;
        EXPECT_FALSE(report.events[0].struckOff);
        EXPECT_EQ(report.upCount + report.downCount, 1);
    }
}

TEST(VocalFeatureTracker, NoPortamentoBeforeTheFirstFullWindow) {
    // The first window (frames 0-15) is examined after frame 23: a glide in
    // the first second is recorded at block 2 (1024 ms), never 0 or 1.
    CVocalFeatureTracker t(1, kCapacity);
    const EventRun run = Feed(t, Harmonic(Glide(500.0, 750.0, 0.5, 0.08), 2.5));
    ASSERT_EQ(run.Count(evaluation::kEventUpPortamento), 1);
    FeatureReport report;
    ASSERT_EQ(t.Finish(nullptr, nullptr, 0, 0.0f, 0.0f, report), 0);
    ASSERT_EQ(report.events.size(), 1u);
    EXPECT_EQ(report.events[0].timeMs, 1024);
}

TEST(VocalFeatureTracker, ValidationStrikesOffDetectionsOverPoorNotes) {
    struct Case {
        float noteScore;
        bool struck;
    } cases[] = {{79.0f, true}, {80.0f, false}, {100.0f, false}};
    for (const Case& c : cases) {
        CVocalFeatureTracker t(1, kCapacity);
        Feed(t, Harmonic(Vibrato(300.0, 6.5, 1.0), 4.2));
        const MelodyEntry melody[] = {MakeMelodyEntry(0, -128), MakeMelodyEntry(100, -20),
                                      MakeMelodyEntry(5000, -128)};
        const float scores[] = {-1.0f, c.noteScore, -1.0f};
        FeatureReport report;
        ASSERT_EQ(t.Finish(melody, scores, 3, 90.0f, 100.0f, report), 0);
        ASSERT_GE(report.vibratoDetected, 6);
        int struck = 0;
        for (const FeatureEventLine& line : report.events) {
            EXPECT_EQ(line.kind, FeatureEventLine::kVibrato);
            struck += line.struckOff ? 1 : 0;
        }
        // Every block but the last is validated.
        const int validated = static_cast<int>(report.events.size());
        EXPECT_EQ(struck, c.struck ? validated : 0) << c.noteScore;
        EXPECT_EQ(report.vibratoStruck, struck);
        EXPECT_EQ(report.vibratoCount, report.vibratoDetected - struck);
        EXPECT_NEAR(report.radar.vibrato, std::min(report.vibratoCount / 15.0f * 100.0f, 100.0f),
                    1e-4);
    }
}

TEST(VocalFeatureTracker, SilenceAndNoiseGiveNoExpression) {
    for (const auto& signal : {Silence(4.0), Noise(4.0, 6000.0)}) {
        CVocalFeatureTracker t(1, kCapacity);
        const EventRun run = Feed(t, signal);
        for (unsigned e : run.events) {
            EXPECT_EQ(e, evaluation::kEventNone);
        }
    }
}

TEST(VocalFeatureTracker, LoudnessChartCoversTheFrameCapacity) {
    CVocalFeatureTracker t(1, kCapacity);
    Feed(t, Steady(440.0, 4.0));
    FeatureReport report;
    ASSERT_EQ(t.Finish(nullptr, nullptr, 0, 50.0f, 50.0f, report), 0);
    // 125 frames of capacity: 125 / 16 - 2 = 5 windows; the sung 4 s are loud,
    // the unsung tail is 0 dB.
    ASSERT_EQ(report.loudnessChart.size(), 5u);
    EXPECT_GT(report.loudnessChart[0], 40.0f);
    EXPECT_GT(report.meanLevel, 30.0f);
    EXPECT_GE(report.variation, 0.0f);
    EXPECT_FLOAT_EQ(report.performance, report.meanLevel * report.variation);
}

TEST(VocalFeatureTracker, AFullBufferStopsTheAnalysisWithoutOverrun) {
    // A capacity that is not a multiple of the block: the last block is cut.
    CVocalFeatureTracker t(2, 5000);
    ASSERT_TRUE(t.Usable());
    std::vector<short> stereo(512, 1000);
    unsigned event = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(t.ProcessBlock(stereo.data(), event), 0);
        EXPECT_EQ(event, evaluation::kEventNone);
    }
    EXPECT_EQ(t.SamplesReceived(), 5000);
    EXPECT_EQ(t.FramesAnalysed(), 3);  // frames end at 2048, 3072 and 4096
}

TEST(VocalFeatureTracker, RefusesBadConstructionAndInput) {
    EXPECT_FALSE(CVocalFeatureTracker(3, kCapacity).Usable());
    EXPECT_FALSE(CVocalFeatureTracker(1, 0).Usable());
    CVocalFeatureTracker unusable(0, kCapacity);
    unsigned event = 0;
    short block[256] = {};
    EXPECT_EQ(unusable.ProcessBlock(block, event), -1);
    FeatureReport report;
    EXPECT_EQ(unusable.Finish(nullptr, nullptr, 0, 0, 0, report), -1);
    CVocalFeatureTracker t(1, kCapacity);
    EXPECT_EQ(t.ProcessBlock(nullptr, event), -1);
}
