// The program's own engine end to end on virtual sound cards: the capture
// and render clients on the platform's endpoints, the decoder reading a
// real WAV backing track, the mixer, the recordings and the key shifter.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

#include "audio/CWaveFileWriter.h"
#include "karaoke/KaraokeController.h"
#include "karaoke/KaraokePlayer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/text/Utf.h"

namespace {

std::wstring W(const std::filesystem::path& p) {
    return platform::FromUtf8(p.string());
}

class Events final : public IKaraokeControllerListener {
  public:
    void OnPlayerEvent(int event) override {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    void OnPlayerNotify(int, int, int) override {}
    bool WaitFor(int event) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
    }
    std::vector<int> All() {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> events_;
};

std::vector<std::int16_t> ReadWavSamples(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples;
    if (bytes.size() > 46) {
        samples.resize((bytes.size() - 46) / 2);
        std::memcpy(samples.data(), bytes.data() + 46, samples.size() * 2);
    }
    return samples;
}

TEST(KaraokeEndpoints, ALivePerformanceOnVirtualCardsRecordsVoiceOverTheDecodedTrack) {
    std::random_device rd;
    const auto tmp =
        std::filesystem::temp_directory_path() / ("vokari-endpoints-test-" + std::to_string(rd()));
    std::filesystem::create_directories(tmp);

    // A 2-second backing track: every frame of block k carries k + 1.
    const auto track = tmp / "track.wav";
    constexpr int kBlocks = 125;
    {
        CWaveFileWriter writer(WaveFormat{}, false);
        ASSERT_TRUE(writer.Open(W(track)));
        std::vector<std::int16_t> block(1536);
        for (int k = 0; k < kBlocks; ++k) {
            std::fill(block.begin(), block.end(), static_cast<std::int16_t>(k + 1));
            while (!writer.PushBlock(reinterpret_cast<const std::uint8_t*>(block.data()))) {
                std::this_thread::yield();
            }
        }
        writer.Close();
    }

    auto microphone = std::make_shared<platform::VirtualAudioDevice>("microphone");
    microphone->SetCaptureSamples(std::vector<std::int16_t>(2 * 48000, 1000), true);
    auto speakers = std::make_shared<platform::VirtualAudioDevice>("speakers");
    using platform::AudioDirection;
    using platform::AudioEndpoint;
    AudioEndpoint::SetDefault(AudioDirection::Capture,
                              AudioEndpoint::Virtual(AudioDirection::Capture, microphone));
    AudioEndpoint::SetDefault(AudioDirection::Render,
                              AudioEndpoint::Virtual(AudioDirection::Render, speakers));
    SetKaraokeEngineFactory(nullptr);  // the program's own parts

    CKaraokeContext* context = GetKaraokeContext();
    ASSERT_NE(context, nullptr);
    context->SetReplay(false);
    context->SetBlockDuration(16);
    context->SetTempFolder(W(tmp / "KTV_Temp"));
    context->SetProgramFolder(W(tmp));
    context->SetMusicPath(W(track));

    Events events;
    {
        KaraokeController controller;
        controller.SetListener(&events);
        controller.Open();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!controller.IsReady() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(controller.IsReady());
        EXPECT_EQ(controller.GetDuration(), 2000);
        controller.Play();
        ASSERT_EQ(controller.PlayerState(), KaraokePlayer::kStatePlaying);
        ASSERT_TRUE(events.WaitFor(kPlayerEventEndOfSong)) << "the song ends by itself";
        controller.Stop();
        EXPECT_EQ(controller.GetPosition(), 0);
        controller.CloseSources();
        controller.CloseSourceFiles();
    }
    EXPECT_EQ(events.All(), (std::vector<int>{1, 1, 4, 3, 3}));

    const auto vocal = ReadWavSamples(tmp / "KTV_Temp" / "Vocal.wav");
    ASSERT_GE(vocal.size(), static_cast<std::size_t>(kBlocks) * 1536);
    for (std::size_t i = 0; i < vocal.size(); ++i) {
        ASSERT_EQ(vocal[i], 1000) << "Vocal.wav holds the raw microphone, sample " << i;
    }
    // Mixed.wav: the voice over the music, which the key shifter delays by
    // exactly 2000 frames at key 0.
    const auto mixed = ReadWavSamples(tmp / "KTV_Temp" / "Mixed.wav");
    ASSERT_EQ(mixed.size(), static_cast<std::size_t>(kBlocks) * 1536);
    for (std::size_t frame = 0; frame < mixed.size() / 2; ++frame) {
        const int music = frame < 2000 ? 0 : static_cast<int>((frame - 2000) / 768) + 1;
        ASSERT_EQ(mixed[2 * frame], 1000 + music) << "frame " << frame;
        ASSERT_EQ(mixed[2 * frame + 1], 1000 + music) << "frame " << frame;
    }
    EXPECT_GE(speakers->RenderedFrames(), static_cast<std::size_t>(kBlocks) * 768);

    AudioEndpoint::SetDefault(AudioDirection::Capture, nullptr);
    AudioEndpoint::SetDefault(AudioDirection::Render, nullptr);
    std::error_code ec;
    std::filesystem::remove_all(tmp, ec);
}

}  // namespace
