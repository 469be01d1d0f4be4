// The decoder feeding the real mixer: a live song handed over after 10 s is
// streamed by the mixer's reader thread through the early read handle,
// block after block, without a gap, a repeat or a false end.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "audio/DecoderTestSupport.h"
#include "audio/MFSampleGenerator.h"
#include "audio/SoundMixer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaSource.h"

namespace {

// The mixer as the generator's receiver.
class MixerSink final : public IMFSampleGeneratorSink {
  public:
    explicit MixerSink(SoundMixer& mixer) : mixer_(mixer) {}
    void SetSourceFile(std::FILE* file, bool voice) override { mixer_.SetSourceFile(file, voice); }
    void SetSourceReady(bool voice, bool ready) override { mixer_.SetSourceReady(voice, ready); }

  private:
    SoundMixer& mixer_;
};

TEST(DecoderMixer, LiveSongStreamsFromTheGrowingFileWithoutGaps) {
    audiotest::TempFolder tmp;
    decoder_test::TempFolder folder;
    CKaraokeContext* context = GetKaraokeContext();
    ASSERT_NE(context, nullptr);
    context->SetReplay(false);
    context->SetBlockDuration(16);
    context->SetRecordFolder(tmp.Folder());
    context->SetProgramFolder(tmp.Folder());

    // 25 s of music in the engine's format; block k carries the value k + 1
    // on every sample (exact through 16-bit WAV), so order and gaps show.
    constexpr int kBlocks = 1560;
    std::vector<float> music(std::size_t{kBlocks} * 1536);
    for (std::size_t i = 0; i < music.size(); ++i) {
        music[i] = static_cast<float>(i / 1536 + 1) / 32768.0f;
    }
    const std::string song =
        decoder_test::Encode(folder, "song.wav", platform::MediaEncodeOptions{}, music);

    platform::FakeClock clock(5000);
    SoundMixer mixer(clock, nullptr);
    MixerSink sink(mixer);
    MFSampleGenerator::Options options;
    options.tempFolder = folder.Folder() + "KTV_Temp2/";
    MFSampleGenerator generator(&sink, false, options);
    std::shared_ptr<platform::MediaSource> source;
    ASSERT_EQ(platform::MediaSource::Open(song, &source), platform::kOk);
    ASSERT_EQ(generator.Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    ASSERT_EQ(generator.StartSource(), platform::kOk);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!mixer.IsMusicReady() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(mixer.IsMusicReady());

    ASSERT_EQ(mixer.Initialize(), kAudioOk);
    ASSERT_EQ(mixer.Start(), kAudioOk);
    std::vector<int> heard;
    std::uint64_t refillsAsked = 0;
    const auto silence = audiotest::StampedBlock(0);
    for (int i = 0; i < kBlocks + 20; ++i) {
        while (mixer.QueuedRecordingBlocks() > 50) {
            std::this_thread::yield();
        }
        mixer.OnCaptureBlock(silence.data(), static_cast<std::uint32_t>(silence.size()));
        std::vector<std::uint8_t> out(audiotest::kBlockBytes, 0);
        std::uint32_t written = 0;
        mixer.Lock();
        mixer.FillRenderBlock(out.data(), &written);
        ASSERT_EQ(written, audiotest::kBlockBytes);
        heard.push_back(audiotest::StampOf(out.data()));
        if (mixer.BlockCounter() % 50 == 0) {
            // The render side never outruns the refills at the device's pace.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            ++refillsAsked;
            while (mixer.CompletedRefills() < refillsAsked &&
                   std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ASSERT_GE(mixer.CompletedRefills(), refillsAsked);
        }
    }
    mixer.Stop();
    ASSERT_TRUE(generator.WaitUntilDone(60000));

    std::vector<int> expected;
    for (int k = 1; k <= kBlocks; ++k) {
        expected.push_back(k);
    }
    expected.insert(expected.end(), 20, 0);  // the song is over: silence
    EXPECT_EQ(heard, expected);
    mixer.CloseSourceFiles();
}

}  // namespace
