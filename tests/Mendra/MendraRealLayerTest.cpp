#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "Scenario.h"

namespace {

// The number after the last '.', as the start-up probe reads a version.
int LastNumber(const char* text) {
    const char* dot = std::strrchr(text, '.');
    return dot == nullptr ? 0 : std::atoi(dot + 1);
}

bool HasSoundCard() {
    std::ifstream cards("/proc/asound/cards");
    std::string line;
    return std::getline(cards, line) && line.find("no soundcards") == std::string::npos &&
           !line.empty();
}

ScenarioOptions RealLayer() {
    ScenarioOptions o;
    o.folder = std::string(VOKARI_BIN_DIR) + "/Driver/";
    o.withDouble = false;
    return o;
}

// The start-up probe's view: the library initialises and reports versions
// new enough, on any machine with the layer installed.
TEST(MendraRealLayerTest, ProbeSucceedsWithTheLayer) {
    RunScenario(RealLayer(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1) << std::string(m.Messages().begin(), m.Messages().end());
        char driver[260] = {}, panel[260] = {};
        ASSERT_EQ(m.GetVersions(driver, 260, panel, 260), 1);
        EXPECT_GE(LastNumber(driver), 2176) << driver;
        EXPECT_GE(LastNumber(panel), 10) << panel;
        EXPECT_EQ(m.ConfLibUnInit(), 1);
    });
}

TEST(MendraRealLayerTest, DisableAndRecoverThroughTheStateFile) {
    RunScenario(RealLayer(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1);
        const std::string state = m.configHome + "/Vokari/zelto-state.ini";
        const bool card = HasSoundCard();
        const int disabled = m.DisabletKaraokeEffect();
        if (!card) {
            EXPECT_EQ(disabled, 1) << std::string(m.Messages().begin(), m.Messages().end());
            std::ifstream in(state);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_NE(text.find("KaraokeState=0"), std::string::npos) << text;
            EXPECT_NE(text.find("SampleRate=8"), std::string::npos) << text;
            EXPECT_NE(text.find("AudioMonitor=1"), std::string::npos) << text;
            EXPECT_NE(text.find("MixWithWave=0"), std::string::npos) << text;
        }
        EXPECT_EQ(m.RecoverKaraokeEffect(), disabled);
        std::ifstream in(state);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(text.find("KaraokeState=1"), std::string::npos) << text;
        EXPECT_NE(text.find("SampleRate=6"), std::string::npos) << text;
        EXPECT_NE(text.find("EnvState=1"), std::string::npos) << text;
        if (!card) {
            EXPECT_NE(text.find("AudioMonitor=0"), std::string::npos) << text;
            EXPECT_NE(text.find("MixWithWave=1"), std::string::npos) << text;
        }
    });
}

TEST(MendraRealLayerTest, LevelsWithoutACardFailCleanly) {
    if (HasSoundCard())
        GTEST_SKIP() << "this machine has a sound card";
    RunScenario(RealLayer(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1);
        int level = -1;
        EXPECT_EQ(m.GetRecordVolumeScalar(&level), 0);
        EXPECT_EQ(m.Messages(), L"Can't Get Record Volume\n");
        EXPECT_EQ(m.SetRecordVolumeScalar(40), 0);
        EXPECT_EQ(m.Messages(), L"Can't Set Record Volume\n");
    });
}

}  // namespace
