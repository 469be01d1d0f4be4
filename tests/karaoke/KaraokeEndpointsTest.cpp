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

class VirtualCards : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        tmp_ = std::filesystem::temp_directory_path() /
               ("vokari-virtual-cards-" + std::to_string(rd()));
        std::filesystem::create_directories(tmp_);
        track_ = tmp_ / "track.wav";
        CWaveFileWriter writer(WaveFormat{}, false);
        ASSERT_TRUE(writer.Open(W(track_)));
        std::vector<std::uint8_t> block(3072, 0);
        for (int k = 0; k < 250; ++k) {  // 4 s of silence
            while (!writer.PushBlock(block.data())) {
                std::this_thread::yield();
            }
        }
        writer.Close();
        microphone_->SetCaptureSamples(std::vector<std::int16_t>(2 * 4800, 500), true);
        using platform::AudioDirection;
        using platform::AudioEndpoint;
        AudioEndpoint::SetDefault(AudioDirection::Capture,
                                  AudioEndpoint::Virtual(AudioDirection::Capture, microphone_));
        AudioEndpoint::SetDefault(AudioDirection::Render,
                                  AudioEndpoint::Virtual(AudioDirection::Render, speakers_));
        SetKaraokeEngineFactory(nullptr);
        CKaraokeContext* context = GetKaraokeContext();
        context->SetReplay(false);
        context->SetBlockDuration(16);
        context->SetTempFolder(W(tmp_ / "KTV_Temp"));
        context->SetProgramFolder(W(tmp_));
        context->SetMusicPath(W(track_));
    }
    void TearDown() override {
        platform::AudioEndpoint::SetDefault(platform::AudioDirection::Capture, nullptr);
        platform::AudioEndpoint::SetDefault(platform::AudioDirection::Render, nullptr);
        std::error_code ec;
        std::filesystem::remove_all(tmp_, ec);
    }
    void OpenReady(KaraokeController& controller) {
        controller.SetListener(&events_);
        controller.Open();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!controller.IsReady() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(controller.IsReady());
    }

    std::filesystem::path tmp_;
    std::filesystem::path track_;
    std::shared_ptr<platform::VirtualAudioDevice> microphone_ =
        std::make_shared<platform::VirtualAudioDevice>("microphone");
    std::shared_ptr<platform::VirtualAudioDevice> speakers_ =
        std::make_shared<platform::VirtualAudioDevice>("speakers");
    Events events_;
};

TEST_F(VirtualCards, ARefusedFormatFailsThePlayAndLeavesNothingOpen) {
    struct Case {
        const char* name;
        bool refuseCapture;
        bool refuseRender;
    };
    for (const Case c : {Case{"microphone", true, false}, Case{"speakers", false, true}}) {
        SCOPED_TRACE(c.name);
        microphone_->RefuseFormat(c.refuseCapture);
        speakers_->RefuseFormat(c.refuseRender);
        KaraokeController controller;
        OpenReady(controller);
        controller.Play();
        EXPECT_EQ(controller.PlayerState(), KaraokePlayer::kStateStopped);
        EXPECT_EQ(std::filesystem::file_size(tmp_ / "KTV_Temp" / "Mixed.wav"), 46u)
            << "the recording was closed with its header";
        EXPECT_FALSE(microphone_->Running());
        EXPECT_FALSE(speakers_->Running());
        microphone_->RefuseFormat(false);
        speakers_->RefuseFormat(false);
        controller.Play();  // the devices are free again
        EXPECT_EQ(controller.PlayerState(), KaraokePlayer::kStatePlaying);
        controller.Stop();
        controller.CloseSources();
        controller.CloseSourceFiles();
    }
}

TEST_F(VirtualCards, PauseGivesTheDevicesUpAndResumeOpensThemAgain) {
    KaraokeController controller;
    OpenReady(controller);
    controller.Play();
    ASSERT_EQ(controller.PlayerState(), KaraokePlayer::kStatePlaying);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (controller.GetPosition() < 320 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    controller.Pause();
    EXPECT_EQ(controller.PlayerState(), KaraokePlayer::kStatePaused);
    EXPECT_FALSE(microphone_->Running());
    EXPECT_FALSE(speakers_->Running());
    const std::int64_t at = controller.GetPosition();
    EXPECT_GE(at, 320);
    controller.Resume();
    EXPECT_EQ(controller.PlayerState(), KaraokePlayer::kStatePlaying);
    EXPECT_EQ(microphone_->Initializations(), 2u);
    EXPECT_EQ(speakers_->Initializations(), 2u);
    while (controller.GetPosition() < at + 160 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GE(controller.GetPosition(), at + 160) << "the music goes on from where it paused";
    controller.Stop();
    EXPECT_EQ(events_.All(), (std::vector<int>{1, 1, 2, 2, 1, 1, 3, 3}));
    controller.CloseSources();
    controller.CloseSourceFiles();
}

}  // namespace
