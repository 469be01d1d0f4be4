// vokari-cli perform --keep: a performance kept in the history as the
// karaoke window keeps it, then found, unsealed and compared through
// vokari-cli history.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "cli/CliRun.h"
#include "platform/media/MediaEncoder.h"

namespace fs = std::filesystem;

namespace {

using cli_test::CliRun;
using cli_test::RunCli;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

class PerformKeep : public ::testing::Test {
  protected:
    void SetUp() override {
        // Three seconds of a tone as the music, silence as the voice.
        std::vector<float> music(3 * 48000 * 2);
        for (std::size_t i = 0; i < music.size() / 2; ++i) {
            music[2 * i] = music[2 * i + 1] =
                static_cast<float>(0.3 * std::sin(2 * 3.14159265358979 * 440.0 * i / 48000.0));
        }
        ASSERT_TRUE(platform::Succeeded(platform::EncodeAudioFile(
            dir_.File("music.wav"), platform::MediaEncodeOptions{}, music)));
        platform::MediaEncodeOptions mono;
        mono.channels = 1;
        ASSERT_TRUE(platform::Succeeded(platform::EncodeAudioFile(dir_.File("silence.wav"), mono,
                                                                  std::vector<float>(4800, 0.0f))));
        WriteBytes(dir_.File("lyric.lrc"),
                   "[00:00.20]Song:Tone\r\n"
                   "[00:01.00]<00:01.00>la(A4)<00:02.00>la(B4)<00:02.50>(X)\r\n");
    }

    std::vector<std::string> Perform(const std::string& out) const {
        return {"perform",
                "--music",
                dir_.File("music.wav"),
                "--lyric",
                dir_.File("lyric.lrc"),
                "--voice",
                dir_.File("silence.wav"),
                "--out",
                out,
                "--effects",
                "off"};
    }

    TempDir dir_;
};

TEST_F(PerformKeep, KeptPerformanceIsSealedIntoTheHistory) {
    const std::string data = dir_.File("data");
    std::vector<std::string> args = Perform(dir_.File("out"));
    args.insert(args.end(), {"--keep", "--data", data});
    const CliRun kept = RunCli(args);
    ASSERT_EQ(kept.code, 0) << kept.err;
    const std::string record = data + "/KTV/0000000001/";
    EXPECT_NE(kept.out.find("\"record\":\"" + record + "\""), std::string::npos) << kept.out;
    EXPECT_TRUE(fs::exists(dir_.File("out/ResultInfo.ini")));
    for (const char* member :
         {"Mixed", "Vocal", "ResultInfo", "PitchData", "Score", "VocalFeatureTrack", "PitchData2",
          "VolumeData", "MaxFeatureCount"}) {
        EXPECT_TRUE(fs::exists(record + member + ".hlf")) << member;
    }

    const CliRun list = RunCli({"history", "--data", data, "list"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("\"id\" : 1,"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\"title\" : \"Tone\""), std::string::npos) << list.out;

    const CliRun unsealed = RunCli({"history", "--data", data, "unseal", "1", dir_.File("replay")});
    ASSERT_EQ(unsealed.code, 0) << unsealed.err;
    for (const char* file : {"Mixed.wav", "Vocal.wav", "Score.txt", "ResultInfo.ini"}) {
        EXPECT_EQ(ReadBytes(dir_.File(std::string("replay/") + file)),
                  ReadBytes(dir_.File(std::string("out/") + file)))
            << file;
    }

    // A second performance becomes the next record.
    args = Perform(dir_.File("out2"));
    args.insert(args.end(), {"--keep", "--data", data});
    const CliRun second = RunCli(args);
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_TRUE(fs::exists(data + "/KTV/0000000002/Mixed.hlf"));
}

TEST_F(PerformKeep, WithoutKeepNothingIsKeptAndDataNeedsKeep) {
    const std::string data = dir_.File("data");
    const CliRun plain = RunCli(Perform(dir_.File("out")), {"XDG_DATA_HOME=" + data});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_FALSE(fs::exists(dir_.File("out/ResultInfo.ini")));
    EXPECT_FALSE(fs::exists(data + "/Vokari/KTV"));
    EXPECT_EQ(plain.out.find("\"record\""), std::string::npos);

    std::vector<std::string> args = Perform(dir_.File("out"));
    args.insert(args.end(), {"--data", data});
    EXPECT_EQ(RunCli(args).code, 2);
}

}  // namespace
