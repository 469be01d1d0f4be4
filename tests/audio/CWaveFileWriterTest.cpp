#include "audio/CWaveFileWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "AudioTestSupport.h"
#include "platform/text/Utf.h"

namespace {

using audiotest::StampedBlock;

std::wstring W(const std::filesystem::path& p) {
    return platform::FromUtf8(p.string());
}

TEST(CWaveFileWriter, ThousandBlocksGiveTheExactHeaderAndSizes) {
    audiotest::TempFolder tmp;
    const auto path = tmp.Path() / "Mixed.wav";
    CWaveFileWriter writer(WaveFormat{}, false);
    ASSERT_EQ(writer.BlockLength(), 3072u);
    ASSERT_TRUE(writer.Open(W(path)));
    for (int k = 0; k < 1000; ++k) {
        const auto block = StampedBlock(static_cast<std::int16_t>(k % 30000));
        while (!writer.PushBlock(block.data())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // queue full: wait
        }
    }
    writer.Close();

    EXPECT_EQ(std::filesystem::file_size(path), 46u + 3072000u);
    const auto wav = audiotest::ReadWav(path);
    ASSERT_TRUE(wav.ok);
    const std::uint8_t golden[46] = {
        'R', 'I', 'F', 'F', 0x26, 0xE0, 0x2E, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',
        18,  0,   0,   0,   1,    0,    2,    0,    0x80, 0xBB, 0,    0,    0x00, 0xEE, 0x02, 0x00,
        4,   0,   16,  0,   0,    0,    'd',  'a',  't',  'a',  0x00, 0xE0, 0x2E, 0x00};
    EXPECT_EQ(wav.header, std::vector<std::uint8_t>(golden, golden + 46));
    EXPECT_EQ(wav.dataSize, 3072000u);
    EXPECT_EQ(wav.riffSize, 3072038u);
    const auto stamps = audiotest::BlockStamps(wav.data);
    ASSERT_EQ(stamps.size(), 1000u);
    for (int k = 0; k < 1000; ++k) {
        ASSERT_EQ(stamps[k], k % 30000) << "block " << k << " out of order";
    }

    // An independent reader agrees on rate, channels and length.
    EXPECT_EQ(audiotest::SoxInfo(path), "48000 2 768000 16-bit Signed Integer PCM");
}

TEST(CWaveFileWriter, CloseWritesEveryQueuedBlockBeforeTheSizes) {
    audiotest::TempFolder tmp;
    const auto path = tmp.Path() / "Vocal.wav";
    CWaveFileWriter writer(WaveFormat{}, true);
    ASSERT_TRUE(writer.Open(W(path)));
    int queued = 0;
    for (int k = 0; k < 100; ++k) {
        queued += writer.PushBlock(StampedBlock(static_cast<std::int16_t>(k + 1)).data()) ? 1 : 0;
    }
    writer.Close();  // at once: the thread has likely not caught up yet
    const auto wav = audiotest::ReadWav(path);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.dataSize, static_cast<std::uint32_t>(queued) * 3072u);
    EXPECT_EQ(wav.data.size(), wav.dataSize);
    const auto stamps = audiotest::BlockStamps(wav.data);
    for (std::size_t k = 1; k < stamps.size(); ++k) {
        ASSERT_LT(stamps[k - 1], stamps[k]) << "blocks must keep their order";
    }
}

TEST(CWaveFileWriter, VoiceFileIsFlushedOnceAtHalfAMebibyteAndTheMixedFileNever) {
    audiotest::TempFolder tmp;
    const auto voicePath = tmp.Path() / "Vocal.wav";
    const auto mixedPath = tmp.Path() / "Mixed.wav";
    CWaveFileWriter voice(WaveFormat{}, true);
    CWaveFileWriter mixed(WaveFormat{}, false);
    ASSERT_TRUE(voice.Open(W(voicePath)));
    ASSERT_TRUE(mixed.Open(W(mixedPath)));
    const auto block = StampedBlock(5);
    for (int k = 0; k < 171; ++k) {  // 171 blocks = 525,312 bytes, just past 524,288
        while (!voice.PushBlock(block.data())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (!mixed.PushBlock(block.data())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::filesystem::file_size(voicePath) < 46u + 525312u &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(std::filesystem::file_size(voicePath), 46u + 525312u);
    EXPECT_EQ(std::filesystem::file_size(mixedPath), 0u) << "all of it still in the 1 MiB buffer";
    voice.Close();
    mixed.Close();
    EXPECT_EQ(std::filesystem::file_size(mixedPath), 46u + 525312u);
}

TEST(CWaveFileWriter, AFileThatCannotBeCreatedIsReportedAndNothingCrashes) {
    audiotest::TempFolder tmp;
    CWaveFileWriter writer(WaveFormat{}, false);
    EXPECT_FALSE(writer.Open(W(tmp.Path() / "missing-folder" / "Mixed.wav")));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.PushBlock(StampedBlock(1).data()));
    writer.Close();
}

TEST(CWaveFileWriter, OpeningAgainClosesTheFirstFileWithItsSizes) {
    audiotest::TempFolder tmp;
    CWaveFileWriter writer(WaveFormat{}, false);
    ASSERT_TRUE(writer.Open(W(tmp.Path() / "a.wav")));
    ASSERT_TRUE(writer.PushBlock(StampedBlock(1).data()));
    ASSERT_TRUE(writer.Open(W(tmp.Path() / "b.wav")));
    writer.Close();
    const auto a = audiotest::ReadWav(tmp.Path() / "a.wav");
    const auto b = audiotest::ReadWav(tmp.Path() / "b.wav");
    EXPECT_EQ(a.dataSize, 3072u);
    EXPECT_EQ(a.data.size(), 3072u) << "no second header inside the data";
    EXPECT_EQ(b.dataSize, 0u);
    EXPECT_EQ(b.data.size(), 0u);
}

}  // namespace
