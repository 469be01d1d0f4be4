#include <gtest/gtest.h>

#include <vector>

#include "evaluation/ScoringExports.h"
#include "evaluation/Signals.h"

using namespace testsignals;

namespace {

std::vector<float> Scaled(const std::vector<float>& v) {
    std::vector<float> out(v.begin(), v.begin() + 2048);
    for (float& x : out) {
        x /= 32768.0f;
    }
    return out;
}

}  // namespace

TEST(Track2ndHmn, PositionsOfFundamentalAndSecondHarmonic) {
    struct Case {
        double hz;
        float fundamental;
        float second;
    } cases[] = {
        {300.0, 39, 78},
        {440.0, 57, 114},
        {150.0, 39, 40},  // below the 220 Hz search floor: the octave is found
    };
    for (const Case& c : cases) {
        std::vector<float> frame = Scaled(Steady(c.hz, 0.2));
        float f = -1;
        float s = -1;
        float sum = -1;
        EXPECT_EQ(Track2ndHmn(frame.data(), f, s, sum, 16000, 2048), 1);
        EXPECT_EQ(f, c.fundamental) << c.hz;
        EXPECT_EQ(s, c.second) << c.hz;
        EXPECT_GT(sum, 100.0f);
    }
}

TEST(Track2ndHmn, SilenceAndFaintFramesGiveZeroPositions) {
    std::vector<float> frame(2048, 0.0f);
    float f = -1;
    float s = -1;
    float sum = -1;
    EXPECT_EQ(Track2ndHmn(frame.data(), f, s, sum, 16000, 2048), 1);
    EXPECT_EQ(f, 0.0f);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(sum, 0.0f);
    // A faint tone: products stay at or below 1.
    std::vector<float> faint = Scaled(Steady(440.0, 0.2, 20.0));
    EXPECT_EQ(Track2ndHmn(faint.data(), f, s, sum, 16000, 2048), 1);
    EXPECT_EQ(f, 0.0f);
    EXPECT_EQ(s, 0.0f);
}

TEST(Track2ndHmn, BadInputGivesStatusZeroAndZeroOutputs) {
    std::vector<float> frame = Scaled(Steady(440.0, 0.2));
    struct Case {
        float* samples;
        int rate;
        int length;
    } cases[] = {
        {nullptr, 16000, 2048},     {frame.data(), 16000, 2000},  // not a power of two
        {frame.data(), 16000, 0},   {frame.data(), 16000, -2048},
        {frame.data(), 2000, 2048},  // search range beyond the spectrum
        {frame.data(), 0, 2048},
    };
    for (const Case& c : cases) {
        float f = -1;
        float s = -1;
        float sum = -1;
        EXPECT_EQ(Track2ndHmn(c.samples, f, s, sum, c.rate, c.length), 0)
            << c.rate << " " << c.length;
        EXPECT_EQ(f, 0.0f);
        EXPECT_EQ(s, 0.0f);
        EXPECT_EQ(sum, 0.0f);
    }
}
