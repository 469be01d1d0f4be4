#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "evaluation/ScoringExports.h"

namespace {

// Values 100 * (1 + depth * sign) for a pattern of '+' and '-'; '0' is an
// unvoiced frame.
std::vector<float> Oscillation(const std::string& pattern, float depth) {
    std::vector<float> v;
    for (char c : pattern) {
        v.push_back(c == '0' ? 0.0f : 100.0f * (1.0f + (c == '+' ? depth : -depth)));
    }
    return v;
}

// Positions along a melody given in semitones above 100.
std::vector<float> Positions(const std::vector<double>& semitones) {
    std::vector<float> v;
    for (double s : semitones) {
        v.push_back(s < -100 ? 0.0f : static_cast<float>(100.0 * std::pow(2.0, s / 12.0)));
    }
    return v;
}

int Vibrato(std::vector<float> v) {
    int found = -1;
    EXPECT_EQ(VibratoTrack(v.data(), static_cast<int>(v.size()), found, 8, 5, 0.07f, 0.02f), 1);
    return found;
}

}  // namespace

TEST(VibratoTrack, CrossingAndDepthLimits) {
    struct Case {
        const char* pattern;
        float depth;
        int found;
    } cases[] = {
        {"+-+-+-+-", 0.04f, 1},   // 7 crossings
        {"++-+-+--", 0.04f, 1},   // 5 crossings: lower bound inclusive
        {"++--++--", 0.04f, 0},   // 3 crossings
        {"+-+-+-+-+", 0.04f, 0},  // 8 crossings: upper bound exclusive
        {"+-+-+-+-", 0.019f, 0},  // too shallow
        {"+-+-+-+-", 0.021f, 1},  {"+-+-+-+-", 0.069f, 1}, {"+-+-+-+-", 0.071f, 0},  // too deep
        {"+0-+-0+-+-", 0.04f, 1},  // unvoiced frames are skipped, not crossings
        {"00000000", 0.04f, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Vibrato(Oscillation(c.pattern, c.depth)), c.found) << c.pattern << " " << c.depth;
    }
    EXPECT_EQ(Vibrato(std::vector<float>(8, 57.0f)), 0);  // all equal: depth 0
}

TEST(VibratoTrack, BadInputIsRefused) {
    int found = 7;
    EXPECT_EQ(VibratoTrack(nullptr, 8, found, 8, 5, 0.07f, 0.02f), 0);
    EXPECT_EQ(found, 0);
    float v[8] = {};
    found = 7;
    EXPECT_EQ(VibratoTrack(v, -1, found, 8, 5, 0.07f, 0.02f), 0);
    EXPECT_EQ(found, 0);
}

TEST(PortamentoTrack, GlidesRiffsAndLimits) {
    const double off = -1000;  // an unvoiced frame
    struct Case {
        const char* name;
        std::vector<double> semitones;
        int type;
        float size;  // a semitone reads 1.0004
    } cases[] = {
        {"up 6", {0, 0, 0, 0, 0, 0, 3, 6, 6, 6, 6, 6, 6, 6, 6, 6}, 1, 6.0024f},
        {"down 7", {7, 7, 7, 7, 7, 3.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1, -7.0028f},
        {"up 11", {0, 0, 0, 0, 6, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11}, 1, 11.0044f},
        {"octave is too large", {0, 0, 0, 0, 6, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12}, 0, 0},
        {"3 is too small", {0, 0, 0, 0, 1.5, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}, 0, 0},
        {"one-step jump", {0, 0, 0, 0, 0, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, 1, 5.002f},
        {"riff up 3 and back", {0, 0, 0, 1.5, 3, 1.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 3.0012f},
        {"riff then glide: the glide wins",
         {0, 0, 0, 1.5, 3, 1.5, 0, 0, 0, 3, 6, 6, 6, 6, 6, 6},
         1,
         6.0024f},
        {"six voiced frames",
         {0, 0, 0, 3, 6, 6, off, off, off, off, off, off, off, off, off, off},
         0,
         0},
        {"unvoiced frames are skipped",
         {0, 0, off, 0, 0, off, 3, 6, off, 6, 6, 6, 6, 6, off, 6},
         1,
         6.0024f},
    };
    for (const Case& c : cases) {
        std::vector<float> v = Positions(c.semitones);
        int type = 9;
        const float size = PortamentoTrack(v.data(), static_cast<int>(v.size()), type, 12, 4, 8, 2);
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_NEAR(size, c.size, 0.002f) << c.name;
    }
    int type = 9;
    EXPECT_EQ(PortamentoTrack(nullptr, 16, type, 12, 4, 8, 2), 0.0f);
    EXPECT_EQ(type, 0);
}

TEST(LoudnessTrack, LevelsMeanAndVariation) {
    // Five blocks of 16 values; windows of 32 overlap by half, so three
    // windows with levels 40, 46, 46 dB: mean 44, relative deviations -1/11,
    // 1/22, 1/22, and one sign change (< 10) quarters the variation.
    auto block = [](double db) {
        return std::vector<float>(16, static_cast<float>(std::pow(10.0, db / 20.0)));
    };
    std::vector<float> v;
    for (double db : {40.0, 40.0, 46.0, 46.0, 0.0}) {
        auto b = block(db);
        v.insert(v.end(), b.begin(), b.end());
    }
    float mean = -1;
    float variation = -1;
    EXPECT_EQ(LoudnessTrack(v.data(), static_cast<int>(v.size()), 16, mean, variation, 0, 1, 1), 1);
    EXPECT_NEAR(mean, 44.0f, 1e-4);
    EXPECT_NEAR(variation, 0.25 * std::sqrt(6.0 / 1452.0), 1e-5);

    // Levels above 72 dB are capped: all windows equal, no variation.
    std::vector<float> loud(16 * 6, 1e5f);
    EXPECT_EQ(
        LoudnessTrack(loud.data(), static_cast<int>(loud.size()), 16, mean, variation, 0, 1, 1), 1);
    EXPECT_FLOAT_EQ(mean, 72.0f);
    EXPECT_FLOAT_EQ(variation, 0.0f);

    // Silence: no window selected, a finite zero variation.
    std::vector<float> quiet(16 * 6, 0.0f);
    EXPECT_EQ(
        LoudnessTrack(quiet.data(), static_cast<int>(quiet.size()), 16, mean, variation, 0, 1, 1),
        1);
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(variation, 0.0f);
}

TEST(LoudnessTrack, ManySignChangesKeepTheFullVariation) {
    // Window i covers blocks i and i + 1. A loud value in every fourth block
    // makes the 40 windows read loud, quiet, quiet, loud, loud, quiet, ...:
    // 20 at 46 dB, 20 at 40 dB, about 20 sign changes, so no quartering.
    const float loud = static_cast<float>(std::pow(10.0, 46.0 / 20.0));
    const float quiet = static_cast<float>(std::pow(10.0, 40.0 / 20.0));
    const int blocks = 42;
    std::vector<float> v(blocks * 16, quiet);
    for (int b = 0; b < blocks; b += 4) {
        v[b * 16] = loud;
    }
    float mean = -1;
    float variation = -1;
    ASSERT_EQ(LoudnessTrack(v.data(), static_cast<int>(v.size()), 16, mean, variation, 0, 1, 1), 1);
    EXPECT_NEAR(mean, 43.0f, 1e-4);
    EXPECT_NEAR(variation, 3.0 / 43.0, 1e-5);
}

TEST(LoudnessTrack, BadInputIsRefused) {
    float v[64] = {};
    float mean = 5;
    float variation = 5;
    EXPECT_EQ(LoudnessTrack(nullptr, 64, 16, mean, variation, 0, 1, 1), 0);
    EXPECT_EQ(LoudnessTrack(v, 64, 0, mean, variation, 0, 1, 1), 0);
    EXPECT_EQ(LoudnessTrack(v, 64, -16, mean, variation, 0, 1, 1), 0);
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(variation, 0.0f);
    // Too short for one window: a defined zero result.
    mean = variation = 5;
    EXPECT_EQ(LoudnessTrack(v, 20, 16, mean, variation, 0, 1, 1), 1);
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(variation, 0.0f);
}
