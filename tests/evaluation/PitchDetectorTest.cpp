#include "evaluation/PitchDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluation/PitchCode.h"
#include "evaluation/Signals.h"

using evaluation::HopPitchCode;
using evaluation::RoundedPitchCode;
using namespace testsignals;

namespace {

struct HopOut {
    float hz;
    float voicing;
    float peak;
    float noise;
    bool voiced;
    // What the tracker reports as the sung code: no pitch when unvoiced.
    int Code() const { return voiced ? HopPitchCode(hz) : evaluation::kNoPitch; }
};

std::vector<HopOut> Track(CPitchDetector& d, const std::vector<float>& signal) {
    std::vector<HopOut> out;
    float hz = -1;
    float r = -1;
    for (size_t i = 0; i + 256 <= signal.size(); i += 256) {
        d.ProcessHop(signal.data() + i, hz, r);
        out.push_back({hz, r, d.EnvelopePeak(), d.NoiseFloor(), d.LastHopVoiced()});
    }
    return out;
}

CPitchDetector MakeDetector() {
    return CPitchDetector(16.0f, 32768.0f, 16000, CPitchDetector::kDefaultOptions);
}

}  // namespace

TEST(PitchCode, PerHopCodeTruncatesAndRoundedCodeRounds) {
    struct Case {
        float hz;
        int hop;
        int rounded;
    } cases[] = {
        {440.0f, 0, 0},      {880.0f, 48, 48},     {220.0f, -47, -48},  // truncation below 440
        {329.63f, -19, -20}, {466.16f, 4, 4},      {110.0f, -95, -96},
        {10.0f, -127, -127}, {20000.0f, 127, 127}, {0.0f, -128, -127},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HopPitchCode(c.hz), c.hop) << c.hz;
        EXPECT_EQ(RoundedPitchCode(c.hz), c.rounded) << c.hz;
    }
}

TEST(PitchDetector, DerivedTablesFollowTheOptionWord) {
    CPitchDetector d = MakeDetector();
    ASSERT_TRUE(d.Usable());
    EXPECT_EQ(d.HopLength(), 256);
    EXPECT_EQ(d.TransformSize(), 512);
    EXPECT_EQ(d.CandidateCount(), 114);
    EXPECT_EQ(d.PathLength(), 5);
    EXPECT_NEAR(d.CandidateFrequency(0), 65.406f, 0.001f);
    EXPECT_NEAR(d.CandidateFrequency(113), 1709.894f, 0.01f);
    EXPECT_EQ(d.CandidateFrequency(114), 0.0f);
    // The sums reach bin 58 (359.46 Hz, 5th harmonic), so 59 bins are magnitudes.
    EXPECT_EQ(d.MagnitudeBins(), 59);

    // 49 groups: group 0 is 65.4-92.5 Hz (below the 93.75 Hz bin), group 1
    // holds 13-22, and from candidate 92 (932 Hz) every group is one candidate.
    const std::vector<int> expected{0,   12,  22,  30,  36,  41,  46,  50,  54,  57,  60,  63,  65,
                                    68,  70,  72,  74,  76,  78,  79,  81,  82,  84,  85,  87,  88,
                                    89,  91,  92,  93,  94,  95,  96,  97,  98,  99,  100, 101, 102,
                                    103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113};
    ASSERT_EQ(d.GroupCount(), 49);
    auto bounds = d.GroupBoundaries();
    EXPECT_EQ(std::vector<int>(bounds.begin(), bounds.end()), expected);
    EXPECT_LE(d.CandidateFrequency(12), 93.75f);
    EXPECT_GT(d.CandidateFrequency(13), 93.75f);
    EXPECT_EQ(d.GroupMiddles()[0], 6);
    EXPECT_EQ(d.GroupMiddles()[1], 17);  // (12 + 22 + 1) / 2
    EXPECT_EQ(d.GroupMiddles()[48], 113);
}

TEST(PitchDetector, SteadyHarmonicTonesGiveTheirCodes) {
    // Notes across the sung range; the per-hop code shows the truncation
    // below 440 Hz (odd codes). Above 900 Hz a candidate has one harmonic
    // left, and 1046.5 Hz shares its bin with the candidate a semitone lower,
    // which wins the tie as the lower group.
    struct Case {
        double hz;
        int code;
    } cases[] = {{233.08, -43}, {261.63, -35}, {329.63, -19}, {392.0, -7}, {440.0, 0},
                 {523.25, 12},  {659.26, 28},  {783.99, 40},  {880.0, 48}, {987.77, 56},
                 {1046.5, 58},  {1108.73, 64}, {1174.66, 68}};
    for (const Case& c : cases) {
        CPitchDetector d = MakeDetector();
        const auto hops = Track(d, Steady(c.hz, 0.5));
        for (size_t h = 2; h < hops.size(); ++h) {
            ASSERT_EQ(hops[h].Code(), c.code) << c.hz << " Hz, hop " << h;
            ASSERT_GT(hops[h].voicing, 0.8f) << c.hz << " Hz, hop " << h;
        }
        // The block path covers the five hops before the current one.
        auto path = d.BlockPath();
        ASSERT_EQ(path.size(), 5u);
        for (int idx : path) {
            EXPECT_EQ(HopPitchCode(d.CandidateFrequency(idx)), c.code) << c.hz;
        }
    }
}

TEST(PitchDetector, SilenceHoldsTheLowestCandidateWithZeroLevels) {
    CPitchDetector d = MakeDetector();
    for (const HopOut& h : Track(d, Silence(0.2))) {
        EXPECT_EQ(h.voicing, 0.0f);
        EXPECT_NEAR(h.hz, 65.406f, 0.001f);
        EXPECT_EQ(h.peak, 0.0f);
        EXPECT_EQ(h.Code(), evaluation::kNoPitch);
    }
    EXPECT_EQ(d.NoiseFloor(), 0.0f);
    EXPECT_EQ(d.VoicedLevel(), 0.0f);
}

TEST(PitchDetector, NoiseAfterAToneHoldsThePitchWhileTheFloorRises) {
    CPitchDetector d = MakeDetector();
    std::vector<float> signal = Steady(440.0, 0.4);
    Append(signal, Noise(0.5, 6000.0));
    const auto hops = Track(d, signal);
    const size_t toneHops = static_cast<size_t>(0.4 * kRate / 256);
    const float floorAtSwitch = hops[toneHops].noise;
    for (size_t h = toneHops + 2; h < hops.size(); ++h) {
        EXPECT_LT(hops[h].voicing, 0.5f) << h;
        EXPECT_EQ(HopPitchCode(hops[h].hz), 0) << h;
        EXPECT_EQ(hops[h].Code(), evaluation::kNoPitch) << h;
    }
    EXPECT_GT(hops.back().noise, floorAtSwitch);
}

TEST(PitchDetector, NoteChangeShowsAfterOneHopOfLatency) {
    // The new note starts exactly at hop 10.
    CPitchDetector d = MakeDetector();
    std::vector<float> signal = Steady(440.0, 10 * 256.0 / kRate);
    Append(signal, Steady(523.25, 0.3));
    const auto hops = Track(d, signal);
    EXPECT_EQ(HopPitchCode(hops[9].hz), 0);
    // Hop 10's frame straddles both notes: it is not voiced enough and holds.
    EXPECT_LT(hops[10].voicing, 0.8f);
    EXPECT_EQ(HopPitchCode(hops[10].hz), 0);
    for (size_t h = 12; h < hops.size(); ++h) {
        EXPECT_EQ(HopPitchCode(hops[h].hz), 12) << h;
    }
}

TEST(PitchDetector, AfterALevelDropOfTwelveDecibelsHopsAreUnvoiced) {
    // The noise floor only falls on hops with r < 0.5 and never below a
    // quarter of the voiced level, so after a loud note a clean note 12 dB
    // quieter counts as unvoiced: the pitch is held and a later change of
    // the quiet note is not followed.
    CPitchDetector d = MakeDetector();
    std::vector<float> signal = Steady(440.0, 0.5, 8000);
    Append(signal, Steady(523.25, 0.3, 2000));
    Append(signal, Steady(587.33, 0.3, 2000));
    const auto hops = Track(d, signal);
    const size_t quietStart = static_cast<size_t>(0.5 * kRate / 256) + 3;
    const int held = HopPitchCode(hops[quietStart].hz);
    for (size_t h = quietStart; h < hops.size(); ++h) {
        EXPECT_GT(hops[h].voicing, 0.8f) << h;
        EXPECT_EQ(HopPitchCode(hops[h].hz), held) << h;
        EXPECT_EQ(hops[h].Code(), evaluation::kNoPitch) << "below the noise floor, hop " << h;
    }
    EXPECT_NE(held, 20);
    // A drop of a few dB is followed.
    CPitchDetector e = MakeDetector();
    std::vector<float> near = Steady(440.0, 0.5, 8000);
    Append(near, Steady(523.25, 0.3, 6000));
    Append(near, Steady(587.33, 0.3, 6000));
    EXPECT_EQ(HopPitchCode(Track(e, near).back().hz), 20);
}

TEST(PitchDetector, UnusableDetectorLeavesOutputsUntouched) {
    CPitchDetector d(16.0f, 32768.0f, 0, CPitchDetector::kDefaultOptions);
    EXPECT_FALSE(d.Usable());
    float hz = 123.0f;
    float r = 0.5f;
    const std::vector<float> samples(256, 1000.0f);
    d.ProcessHop(samples.data(), hz, r);
    EXPECT_EQ(hz, 123.0f);
    EXPECT_EQ(r, 0.5f);
}
