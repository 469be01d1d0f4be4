// vokari-cli pitch, run as a program on generated voices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/TestSupport.h"

namespace {

using testing_support::Child;

struct PitchRun {
    int code;
    std::string out;
    std::string err;
};

PitchRun Pitch(std::vector<std::string> args) {
    args.insert(args.begin(), {std::string(VOKARI_BIN_DIR) + "/vokari-cli", "pitch"});
    Child child(args);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

// A harmonic voice (six harmonics) at 44100 Hz mono, so that the decoder
// resamples it: 0.5 s of silence, 440 Hz, at 2.0 s a 80 ms glide up 7
// semitones, and from 3.8 s noise.
void WriteVoice(const std::string& path, double seconds) {
    const int rate = 44100;
    const int n = static_cast<int>(seconds * rate);
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + 2 * n);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(2 * n);
    double phase = 0;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double semis = t < 2.0 ? 0.0 : (t < 2.08 ? 7.0 * (t - 2.0) / 0.08 : 7.0);
        double v = 0;
        for (int m = 1; m <= 6; ++m) {
            v += std::sin(2 * M_PI * m * phase) / m;
        }
        if (t < 0.5) {
            v = 0;
        } else if (t >= 3.8) {
            v = noise(gen);
        }
        phase += 440.0 * std::pow(2.0, semis / 12.0) / rate;
        phase -= std::floor(phase);
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(5000 * v)));
    }
}

class PitchCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vk-cli-pitch-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

}  // namespace

TEST_F(PitchCommand, TracksAVoiceFileHopByHop) {
    const std::string wav = dir_ + "/voice.wav";
    WriteVoice(wav, 4.5);
    const PitchRun r = Pitch({wav});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream lines(r.out);
    std::string line;
    int hops = 0;
    int at440 = 0;
    int at659 = 0;
    int silenceSung = 0;
    int noiseSung = 0;
    bool upEvent = false;
    std::string section = "hops";
    while (std::getline(lines, line)) {
        if (line.starts_with("# events")) {
            section = "events";
        } else if (line.starts_with("# loudness")) {
            section = "loudness";
        } else if (!line.starts_with("#")) {
            std::istringstream f(line);
            int time = 0;
            int code = 0;
            f >> time >> code;
            if (section == "hops") {
                EXPECT_EQ(time, 16 * hops);
                ++hops;
                silenceSung += (time < 450 && code != -128) ? 1 : 0;
                at440 += (time > 700 && time < 1900 && code == 0) ? 1 : 0;
                at659 += (time > 2300 && time < 3700 && code == 28) ? 1 : 0;
                noiseSung += (time > 3900 && code != -128) ? 1 : 0;
            } else if (section == "events") {
                upEvent = upEvent || code == 1;
            }
        }
    }
    EXPECT_EQ(hops, 282);  // 4.5 s of 16 ms hops, the last block padded
    EXPECT_EQ(silenceSung, 0) << "silence gives -128";
    EXPECT_GE(at440, 70);  // nearly all of 0.7-1.9 s
    EXPECT_GE(at659, 82);
    EXPECT_EQ(noiseSung, 0) << "noise gives -128";
    EXPECT_TRUE(upEvent) << r.out.substr(r.out.find("# events"));

    const PitchRun j = Pitch({wav, "--json"});
    ASSERT_EQ(j.code, 0);
    EXPECT_TRUE(j.out.starts_with("{\"hops\":["));
    EXPECT_NE(j.out.find("{\"time\":992,\"code\":0,\"hz\":440.00,"), std::string::npos);
    EXPECT_NE(j.out.find("{\"time\":96,\"code\":-128,\"hz\":null,"), std::string::npos);
    EXPECT_NE(j.out.find("\"loudness\":{\"mean\":"), std::string::npos);
    EXPECT_NE(j.out.find("\"type\":1"), std::string::npos);
}

TEST_F(PitchCommand, MissingOrUndecodableFilesExitWithThree) {
    const std::string text = dir_ + "/notes.txt";
    std::ofstream(text) << "not audio at all\n";
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{dir_ + "/missing.wav"}, 3, "does not exist"},
        {{text}, 3, "notes.txt"},
        {{dir_}, 3, "does not exist"},
        {{}, 2, "usage"},
        {{text, "--fast"}, 2, "unexpected"},
    };
    for (const Case& c : cases) {
        const PitchRun r = Pitch(c.args);
        EXPECT_EQ(r.code, c.code) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
