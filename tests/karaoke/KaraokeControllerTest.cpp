#include "karaoke/KaraokeController.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "FakeEngine.h"
#include "karaoke/KaraokePlayer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/text/Utf.h"

namespace {

using karaoketest::FakeEngineFactory;
using karaoketest::TakeLibraryCalls;

class EventRecorder final : public IKaraokeControllerListener {
  public:
    void OnPlayerEvent(int event) override {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    void OnPlayerNotify(int, int, int) override {}

    std::vector<int> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<int> out;
        out.swap(events_);
        return out;
    }
    bool WaitFor(int event, int timeoutMs = 60000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> events_;
};

std::string RunShell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
        output.pop_back();
    }
    return output;
}

class KaraokeControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        tmp_ = std::filesystem::temp_directory_path() /
               ("vokari-karaoke-test-" + std::to_string(rd()));
        std::filesystem::create_directories(tmp_);
        context_ = GetKaraokeContext();
        ASSERT_NE(context_, nullptr);
        context_->SetReplay(false);
        context_->SetBlockDuration(16);
        context_->SetTempFolder(W(tmp_ / "KTV_Temp"));
        musicPath_ = tmp_ / "music.pcm";
        WriteMusic(musicPath_, kMusicBlocks);
        context_->SetMusicPath(W(musicPath_));
        factory_.musicFile = musicPath_;
        factory_.durationMs = kMusicBlocks * 16;
        SetKaraokeEngineFactory(&factory_);
        TakeLibraryCalls();
        controller_ = std::make_unique<KaraokeController>();
    }

    void TearDown() override {
        controller_.reset();
        SetKaraokeEngineFactory(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(tmp_, ec);
    }

    static std::wstring W(const std::filesystem::path& p) { return platform::FromUtf8(p.string()); }

    // Block k of the backing track carries the value k + 1.
    static void WriteMusic(const std::filesystem::path& path, int blocks) {
        std::ofstream out(path, std::ios::binary);
        std::vector<std::int16_t> block(1536);
        for (int k = 0; k < blocks; ++k) {
            std::fill(block.begin(), block.end(), static_cast<std::int16_t>(k + 1));
            out.write(reinterpret_cast<const char*>(block.data()), 3072);
        }
    }

    void OpenAndWaitReady() {
        controller_->Open();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!controller_->IsReady() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(controller_->IsReady());
    }

    void WaitForPosition(std::int64_t ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (controller_->GetPosition() < ms && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(controller_->GetPosition(), ms);
    }

    static constexpr int kMusicBlocks = 400;  // 6.4 s
    std::filesystem::path tmp_;
    std::filesystem::path musicPath_;
    CKaraokeContext* context_ = nullptr;
    FakeEngineFactory factory_;
    std::unique_ptr<KaraokeController> controller_;
    EventRecorder events_;
};

TEST_F(KaraokeControllerTest, AWholeShortPerformanceLeavesTwoWellFormedRecordings) {
    controller_->SetListener(&events_);
    OpenAndWaitReady();
    controller_->Play();
    ASSERT_EQ(controller_->PlayerState(), KaraokePlayer::kStatePlaying);
    EXPECT_EQ(events_.Take(), (std::vector<int>{1, 1})) << "capture and render each started";
    WaitForPosition(800);

    controller_->Play();  // a second press pauses
    EXPECT_EQ(controller_->PlayerState(), KaraokePlayer::kStatePaused);
    EXPECT_EQ(events_.Take(), (std::vector<int>{2, 2}));
    const std::int64_t pausedAt = controller_->GetPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(controller_->GetPosition(), pausedAt) << "a paused performance stays put";

    controller_->Resume();
    EXPECT_EQ(controller_->PlayerState(), KaraokePlayer::kStatePlaying);
    EXPECT_EQ(events_.Take(), (std::vector<int>{1, 1}));
    controller_->Seek(150);  // 2.4 s
    EXPECT_GE(controller_->GetPosition(), 2400);

    ASSERT_TRUE(events_.WaitFor(kPlayerEventEndOfSong)) << "the song ends by itself";
    EXPECT_EQ(events_.Take(), (std::vector<int>{4}));
    controller_->Stop();  // what the window does on event 4
    EXPECT_EQ(controller_->PlayerState(), KaraokePlayer::kStateStopped);
    EXPECT_EQ(events_.Take(), (std::vector<int>{3, 3}));
    EXPECT_GE(controller_->GetDuration(), kMusicBlocks * 16);

    EXPECT_EQ(factory_.evaluation.starts, 1);
    EXPECT_EQ(factory_.evaluation.applyKeys, 1);
    EXPECT_EQ(factory_.evaluation.saves, 1);
    EXPECT_EQ(factory_.shifter.inits, 2) << "start and resume prepare the key shifter";
    EXPECT_EQ(factory_.shifter.channels, 2u);
    EXPECT_EQ(TakeLibraryCalls(), (std::vector<std::string>{"ConfLibInit", "DisabletKaraokeEffect",
                                                            "RecoverKaraokeEffect"}));

    const auto folder = tmp_ / "KTV_Temp";
    EXPECT_EQ(factory_.evaluation.savedTo, W(folder) + L"/");
    const int captured = factory_.capture->blocks.load();
    const int rendered = factory_.render->blocks.load();
    ASSERT_GT(rendered, 0);
    for (const auto& [name, blocks] :
         {std::pair<const char*, int>{"Mixed.wav", rendered}, {"Vocal.wav", captured}}) {
        SCOPED_TRACE(name);
        const auto wav = folder / name;
        ASSERT_TRUE(std::filesystem::exists(wav));
        EXPECT_EQ(std::filesystem::file_size(wav), 46u + 3072u * static_cast<unsigned>(blocks));
        // An independent reader agrees on rate, channels and length.
        EXPECT_EQ(RunShell("sox --i -r '" + wav.string() + "'"), "48000");
        EXPECT_EQ(RunShell("sox --i -c '" + wav.string() + "'"), "2");
        EXPECT_EQ(RunShell("sox --i -s '" + wav.string() + "'"), std::to_string(768 * blocks));
    }

    // What was heard: voice 1000 over the music blocks in order, with the
    // jump of the seek and nothing else skipped or repeated.
    const auto heard = factory_.render->Heard();
    ASSERT_FALSE(heard.empty());
    int jumps = 0;
    for (std::size_t i = 1; i < heard.size(); ++i) {
        if (heard[i] != heard[i - 1] + 1) {
            ++jumps;
            EXPECT_EQ(heard[i], 1000 + 201) << "the only jump is the seek to block 200";
        }
    }
    EXPECT_EQ(jumps, 1);
    EXPECT_EQ(heard.front(), 1000 + 1);
    EXPECT_EQ(heard.back(), 1000 + kMusicBlocks);

    controller_->CloseSources();
    EXPECT_EQ(controller_->CloseSourceFiles(), 0);
    EXPECT_EQ(controller_->Player(), nullptr) << "the window's player ends with it";
}

TEST_F(KaraokeControllerTest, AStartThatFailsUndoesItselfAndTheNextOneWorks) {
    struct Case {
        const char* name;
        AudioResult capture;
        AudioResult render;
    };
    for (const Case c : {Case{"capture refused", kAudioUnsupportedFormat, kAudioOk},
                         Case{"render refused", kAudioOk, kAudioUnsupportedFormat}}) {
        SCOPED_TRACE(c.name);
        factory_.captureInitFailure = c.capture;
        factory_.renderInitFailure = c.render;
        auto controller = std::make_unique<KaraokeController>();
        controller->SetListener(&events_);
        controller->Open();
        TakeLibraryCalls();
        controller->Play();
        EXPECT_EQ(controller->PlayerState(), KaraokePlayer::kStateStopped);
        EXPECT_EQ(TakeLibraryCalls(),
                  (std::vector<std::string>{"DisabletKaraokeEffect", "RecoverKaraokeEffect"}))
            << "the card gets its effect back";
        const auto mixed = tmp_ / "KTV_Temp" / "Mixed.wav";
        ASSERT_TRUE(std::filesystem::exists(mixed));
        EXPECT_EQ(std::filesystem::file_size(mixed), 46u) << "closed, with its header";

        factory_.captureInitFailure = kAudioOk;
        factory_.renderInitFailure = kAudioOk;
        factory_.capture->failInitialize = kAudioOk;
        factory_.render->failInitialize = kAudioOk;
        controller->Play();
        EXPECT_EQ(controller->PlayerState(), KaraokePlayer::kStatePlaying);
        controller->Stop();
        EXPECT_EQ(controller->PlayerState(), KaraokePlayer::kStateStopped);
        controller->Stop();  // stopping a stopped player does nothing
        events_.Take();
        TakeLibraryCalls();
    }
}

TEST_F(KaraokeControllerTest, WithoutDevicesNothingHangsAndPlayStaysStopped) {
    factory_.withDevices = false;
    controller_->SetListener(&events_);
    controller_->Open();
    EXPECT_TRUE(controller_->IsReady()) << "the window must not wait for ever";
    controller_->Play();
    EXPECT_EQ(controller_->PlayerState(), KaraokePlayer::kStateStopped);
    EXPECT_EQ(controller_->GetPosition(), 0);
    EXPECT_TRUE(events_.Take().empty());
}

TEST_F(KaraokeControllerTest, ASourceThatCannotBeOpenedGivesDurationZeroAndReady) {
    factory_.resolveFails = true;
    controller_->SetListener(&events_);
    controller_->Open();
    EXPECT_TRUE(controller_->IsReady());
    EXPECT_EQ(controller_->GetDuration(), 0);
}

TEST_F(KaraokeControllerTest, DurationIsProbedAgainOnlyUntilTheFirstStart) {
    controller_->SetListener(&events_);
    OpenAndWaitReady();
    const int before = factory_.resolves.load();
    EXPECT_EQ(controller_->GetDuration(), kMusicBlocks * 16);
    EXPECT_EQ(controller_->GetDuration(), kMusicBlocks * 16);
    EXPECT_EQ(factory_.resolves.load(), before + 2);
    controller_->Play();
    const int started = factory_.resolves.load();
    factory_.durationMs = 5;  // the file changed: a started player keeps its value
    EXPECT_EQ(controller_->GetDuration(), kMusicBlocks * 16);
    EXPECT_EQ(factory_.resolves.load(), started);
    controller_->Stop();
}

TEST_F(KaraokeControllerTest, VolumeRequestsAndTheirReadBack) {
    struct Case {
        VolumeRequest request;
        int result;
        int valueAfter;
    };
    VolumeRequest early{true, kVolumeMusic, 50};
    EXPECT_EQ(controller_->Volume(&early), -3) << "no player before a window";
    controller_->SetListener(&events_);
    const Case cases[] = {
        {{true, 2, 101}, -1, 101}, {{true, 0, 100}, 0, 100}, {{false, 0, 0}, 0, 100},
        {{true, 0, 29}, 0, 29},    {{false, 0, 0}, 0, 29},   {{false, 7, 5}, 0, 5},
        {{true, 2, 64}, 0, 64},    {{false, 2, 0}, 0, 64},   {{false, 1, 9}, 0, 0},
    };
    for (Case c : cases) {
        EXPECT_EQ(controller_->Volume(&c.request), c.result);
        EXPECT_EQ(c.request.value, c.valueAfter);
    }
    // The next window's mixer starts with the levels the user chose.
    controller_->CloseSourceFiles();
    controller_->SetListener(&events_);
    VolumeRequest music{false, kVolumeMusic, 0};
    VolumeRequest replay{false, kVolumeReplay, 0};
    EXPECT_EQ(controller_->Volume(&music), 0);
    EXPECT_EQ(controller_->Volume(&replay), 0);
    EXPECT_EQ(music.value, 29);
    EXPECT_EQ(replay.value, 64);
}

TEST_F(KaraokeControllerTest, KeyStepsFollowTheTableAndANewWindowStartsAtZero) {
    struct Entry {
        int semitones;
        std::uint32_t ratio;
    };
    for (const Entry e :
         {Entry{-12, 0x8000}, Entry{-11, 34717}, Entry{0, 0x10000}, Entry{4, 0x1428A},
          Entry{11, 123716}, Entry{12, 0x20000}, Entry{13, 0x20000}, Entry{-40, 0x8000}}) {
        EXPECT_EQ(KeyRatio(e.semitones), e.ratio) << e.semitones;
    }
    EXPECT_EQ(InverseKeyRatio(0), 32768u);
    EXPECT_EQ(InverseKeyRatio(12), 16384u);

    controller_->SetListener(&events_);
    EXPECT_EQ(controller_->KeyStep(), KaraokeController::kKeyStepZero);
    while (controller_->KeyUp()) {
    }
    EXPECT_EQ(controller_->KeySemitones(), 4);
    EXPECT_FALSE(controller_->CanKeyUp());
    EXPECT_EQ(factory_.evaluation.key, 4);
    EXPECT_EQ(factory_.shifter.value, 4);
    EXPECT_TRUE(controller_->KeyDown());
    EXPECT_EQ(factory_.shifter.value, 3);

    controller_->CloseSourceFiles();
    controller_->SetListener(&events_);  // the next window
    EXPECT_EQ(controller_->KeySemitones(), 0);
    EXPECT_EQ(factory_.evaluation.key, 0) << "scored at the key that is shown";
    EXPECT_EQ(factory_.shifter.value, 0);

    context_->SetReplay(true);
    EXPECT_FALSE(controller_->KeyUp()) << "a replay has no key change";
    EXPECT_EQ(controller_->KeySemitones(), 0);
    context_->SetReplay(false);
}

TEST_F(KaraokeControllerTest, TheEffectButtonSwitchesEffectsLiveAndTheSourceInAReplay) {
    controller_->SetListener(&events_);
    EXPECT_TRUE(factory_.evaluation.effects);
    controller_->ToggleEffect();
    EXPECT_FALSE(factory_.evaluation.effects);
    controller_->ToggleEffect();
    EXPECT_TRUE(factory_.evaluation.effects);

    context_->SetReplay(true);
    controller_->ToggleEffect();
    EXPECT_TRUE(factory_.evaluation.effects) << "untouched in a replay";
    EXPECT_TRUE(controller_->ReplayVoiceOnly());
    EXPECT_TRUE(controller_->Player()->Mixer()->IsReplayVoiceOnly());
    controller_->ToggleEffect();
    EXPECT_FALSE(controller_->Player()->Mixer()->IsReplayVoiceOnly());
    context_->SetReplay(false);
}

TEST_F(KaraokeControllerTest, AReplayPlaysBothRecordingsWithoutCaptureOrRecording) {
    const auto vocal = tmp_ / "vocal.pcm";
    WriteMusic(vocal, kMusicBlocks);
    factory_.vocalFile = vocal;
    context_->SetReplay(true);
    context_->SetVocalPath(W(vocal));
    controller_->SetListener(&events_);
    OpenAndWaitReady();
    controller_->Play();
    EXPECT_EQ(events_.Take(), (std::vector<int>{1})) << "only the render client runs";
    ASSERT_TRUE(events_.WaitFor(kPlayerEventEndOfSong));
    controller_->Stop();
    EXPECT_EQ(factory_.capture->blocks.load(), 0);
    EXPECT_EQ(factory_.evaluation.starts, 0);
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "KTV_Temp" / "Mixed.wav"));
    const auto heard = factory_.render->Heard();
    ASSERT_EQ(heard.size(), static_cast<std::size_t>(kMusicBlocks));
    EXPECT_EQ(heard.back(), kMusicBlocks) << "the mixed recording, in order";
    context_->SetReplay(false);
}

}  // namespace
