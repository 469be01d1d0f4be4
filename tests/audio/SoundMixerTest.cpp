#include "audio/SoundMixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/text/Utf.h"

namespace {

using audiotest::StampedBlock;
using audiotest::StampOf;

class SoundMixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context_ = GetKaraokeContext();
        ASSERT_NE(context_, nullptr);
        context_->SetReplay(false);
        context_->SetBlockDuration(16);
        context_->SetRecordFolder(tmp_.Folder());
        context_->SetProgramFolder(tmp_.Folder());
    }

    // A mixer without the device library.
    std::unique_ptr<SoundMixer> NewMixer() { return std::make_unique<SoundMixer>(clock_, nullptr); }
    // A mixer that binds the test double from its program folder.
    std::unique_ptr<SoundMixer> NewMixerWithLibrary() {
        context_->SetProgramFolder(platform::FromUtf8(AUDIO_TEST_PROGRAM_DIR));
        auto mixer = std::make_unique<SoundMixer>(clock_);
        context_->SetProgramFolder(tmp_.Folder());
        EXPECT_TRUE(mixer->IsDeviceLibraryLoaded());
        return mixer;
    }

    // One captured block; waits first until the recordings' queues have
    // room, as they would have at the device's pace.
    static void Capture(SoundMixer& mixer, std::int16_t voice) {
        while (mixer.QueuedRecordingBlocks() > 50) {
            std::this_thread::yield();
        }
        const auto block = StampedBlock(voice);
        mixer.OnCaptureBlock(block.data(), static_cast<std::uint32_t>(block.size()));
    }

    // One render request as the render thread makes it; the stamp of what
    // the speakers get, or nothing when the mixer wrote nothing.
    static std::optional<int> Render(SoundMixer& mixer) {
        std::vector<std::uint8_t> out(audiotest::kBlockBytes, 0);
        std::uint32_t written = 0;
        mixer.Lock();
        mixer.FillRenderBlock(out.data(), &written);
        if (written == 0) {
            return std::nullopt;
        }
        EXPECT_EQ(written, audiotest::kBlockBytes);
        return StampOf(out.data());
    }

    // Waits until the reader thread has done every refill asked for so far.
    static void AwaitRefills(SoundMixer& mixer, std::uint64_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (mixer.CompletedRefills() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(mixer.CompletedRefills(), count);
    }

    audiotest::TempFolder tmp_;
    platform::FakeClock clock_{5000};
    CKaraokeContext* context_ = nullptr;
};

TEST_F(SoundMixerTest, BlockLengthFollowsTheBlockDuration) {
    const WaveFormat format;
    EXPECT_EQ(BlockLengthBytes(format, 16), 3072u);
    EXPECT_EQ(BlockLengthBytes(format, 32), 6144u);
    EXPECT_EQ(NewMixer()->BlockLength(), 3072u);
}

TEST_F(SoundMixerTest, MusicBlocksComeOutInOrderAcrossRefillsAndSeeks) {
    const int kMusicBlocks = 330;
    auto mixer = NewMixer();
    mixer->SetSourceFile(
        audiotest::OpenForMixer(audiotest::WriteStampedMusic(tmp_.Path(), kMusicBlocks)), false);
    ASSERT_TRUE(mixer->IsMusicReady());
    ASSERT_EQ(mixer->Initialize(), kAudioOk);
    ASSERT_EQ(mixer->Start(), kAudioOk);

    std::uint64_t refillsAsked = 0;
    auto play = [&](int blocks, int firstStamp) {
        for (int i = 0; i < blocks; ++i) {
            Capture(*mixer, 0);
            const auto stamp = Render(*mixer);
            ASSERT_TRUE(stamp.has_value());
            const int expected = firstStamp + i <= kMusicBlocks ? firstStamp + i : 0;
            ASSERT_EQ(*stamp, expected) << "render " << i << " after block " << firstStamp;
            if (mixer->BlockCounter() % 50 == 0) {
                AwaitRefills(*mixer, ++refillsAsked);
            }
        }
    };
    play(160, 1);
    mixer->Seek(149);  // rounds to block 100
    EXPECT_EQ(mixer->BlockCounter(), 100u);
    EXPECT_EQ(mixer->GetPosition(), 1600);
    play(60, 101);
    mixer->Seek(150);  // rounds half up to block 200
    EXPECT_EQ(mixer->BlockCounter(), 200u);
    play(150, 201);  // the file ends after block 330: silence, and the clock runs on
    EXPECT_EQ(mixer->GetPosition(), 350 * 16);
    mixer->Stop();
    EXPECT_EQ(mixer->GetPosition(), 0);
}

TEST_F(SoundMixerTest, NoVoiceBlockMeansSilenceAndTheMusicWaits) {
    auto mixer = NewMixer();
    mixer->SetSourceFile(audiotest::OpenForMixer(audiotest::WriteStampedMusic(tmp_.Path(), 10)),
                         false);
    ASSERT_EQ(mixer->Initialize(), kAudioOk);
    ASSERT_EQ(mixer->Start(), kAudioOk);
    EXPECT_FALSE(Render(*mixer).has_value());
    EXPECT_EQ(mixer->BlockCounter(), 0u);
    Capture(*mixer, 0);
    EXPECT_EQ(Render(*mixer), 1);
}

TEST_F(SoundMixerTest, LateVoiceIsDroppedAndTheRecordingKeepsStepWithWhatWasHeard) {
    struct Case {
        int latenessMs;
        std::uint64_t dropsAtFirstRender;
    };
    for (const Case c : {Case{0, 0}, Case{50, 0}, Case{51, 1}, Case{210, 1}, Case{211, 2}}) {
        SCOPED_TRACE("lateness " + std::to_string(c.latenessMs));
        audiotest::TempFolder folder;
        context_->SetRecordFolder(folder.Folder());
        auto mixer = NewMixer();
        ASSERT_EQ(mixer->Initialize(), kAudioOk);
        ASSERT_EQ(mixer->Start(), kAudioOk);
        for (int v = 1; v <= 8; ++v) {
            Capture(*mixer, static_cast<std::int16_t>(v));  // all stamped at time 0
        }
        clock_.Advance(static_cast<std::uint64_t>(c.latenessMs));
        std::vector<int> heard;
        const auto first = Render(*mixer);
        ASSERT_EQ(first, 1);
        heard.push_back(*first);
        EXPECT_EQ(mixer->DroppedBlocks(), c.dropsAtFirstRender);
        while (const auto next = Render(*mixer)) {
            heard.push_back(*next);
        }
        mixer->Stop();
        EXPECT_EQ(heard.size() + mixer->DroppedBlocks(), 8u);
        const auto mixed = audiotest::ReadWav(folder.Path() / "Mixed.wav");
        EXPECT_EQ(audiotest::BlockStamps(mixed.data), heard) << "Mixed.wav is what was heard";
        const auto vocal = audiotest::ReadWav(folder.Path() / "Vocal.wav");
        EXPECT_EQ(audiotest::BlockStamps(vocal.data), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}))
            << "Vocal.wav keeps every raw block";
    }
}

TEST_F(SoundMixerTest, AFullMonitorRingStillGivesTheVoiceRecordingTheRawBlock) {
    auto mixer = NewMixer();
    ASSERT_EQ(mixer->Initialize(), kAudioOk);
    ASSERT_EQ(mixer->Start(), kAudioOk);
    for (int v = 1; v <= 101; ++v) {
        Capture(*mixer, static_cast<std::int16_t>(v));
    }
    std::vector<int> heard;
    while (const auto next = Render(*mixer)) {
        heard.push_back(*next);
    }
    mixer->Stop();
    ASSERT_EQ(heard.size(), 100u) << "the 101st block found the monitor ring full";
    EXPECT_EQ(heard.back(), 100);
    const auto vocal = audiotest::ReadWav(tmp_.Path() / "Vocal.wav");
    ASSERT_EQ(vocal.dataSize, 101u * 3072u);
    EXPECT_EQ(audiotest::BlockStamps(vocal.data).back(), 101);
    const auto mixed = audiotest::ReadWav(tmp_.Path() / "Mixed.wav");
    EXPECT_EQ(mixed.dataSize, 100u * 3072u);
}

TEST_F(SoundMixerTest, CapturedBytesAreProcessedOnlyAsWholeBlocks) {
    auto mixer = NewMixer();
    ASSERT_EQ(mixer->Initialize(), kAudioOk);
    ASSERT_EQ(mixer->Start(), kAudioOk);
    const auto a = StampedBlock(7);
    mixer->OnCaptureBlock(a.data(), 1000);
    EXPECT_FALSE(Render(*mixer).has_value()) << "a third of a block is not a block";
    mixer->OnCaptureBlock(a.data() + 1000, 2072);
    EXPECT_EQ(Render(*mixer), 7);
    // A longer period: one block and the start of the next.
    std::vector<std::uint8_t> longer(4000);
    std::memcpy(longer.data(), StampedBlock(9).data(), 3072);
    std::memcpy(longer.data() + 3072, StampedBlock(11).data(), 928);
    mixer->OnCaptureBlock(longer.data(), 4000);
    EXPECT_EQ(Render(*mixer), 9);
    EXPECT_FALSE(Render(*mixer).has_value());
}

TEST_F(SoundMixerTest, MixSaturatesAndAppliesTheMusicGain) {
    struct Case {
        int gain;
        std::int16_t voice;
        std::int16_t music;
        std::int16_t expected;
    };
    auto mixer = NewMixer();
    for (const Case c : {Case{100, 30000, 30000, 32767}, Case{100, -30000, -30000, -32768},
                         Case{100, 1, -1, 0}, Case{50, 1000, 333, 1166}, Case{50, 0, -3, -1},
                         Case{0, 1234, 32767, 1234}, Case{50, -1001, 32767, 15382}}) {
        VolumeRequest set{true, kVolumeMusic, c.gain};
        ASSERT_EQ(mixer->Volume(&set), 0);
        std::int16_t a[2] = {c.voice, c.voice};
        const std::int16_t b[2] = {c.music, c.music};
        ASSERT_EQ(mixer->Mix(reinterpret_cast<std::uint8_t*>(a),
                             reinterpret_cast<const std::uint8_t*>(b), 4, 16),
                  kAudioOk);
        EXPECT_EQ(a[0], c.expected) << c.voice << " + " << c.music << " x " << c.gain << "%";
        EXPECT_EQ(a[1], c.expected);
    }
    std::uint8_t a8[2] = {200, 10};
    const std::uint8_t b8[2] = {100, 128};
    ASSERT_EQ(mixer->Mix(a8, b8, 2, 8), kAudioOk);
    EXPECT_EQ(a8[0], 172);
    EXPECT_EQ(a8[1], 10);
    std::uint8_t a24[3] = {1, 2, 3};
    EXPECT_EQ(mixer->Mix(a24, a24, 3, 24), kAudioFail);
    EXPECT_EQ(a24[2], 3);
}

TEST_F(SoundMixerTest, ReplayPlaysTheChosenRecordingScaledByTheReplayGain) {
    struct Case {
        int gain;
        bool voiceOnly;
        std::int16_t mixed;
        std::int16_t vocal;
        int expected;
    };
    context_->SetReplay(true);
    for (const Case c :
         {Case{100, false, 32767, 5, 32767}, Case{50, false, 3, 5, 1}, Case{50, false, -3, 5, -1},
          Case{50, false, 32767, 5, 16383}, Case{0, false, 1000, 5, 0},
          Case{100, true, 1000, -32768, -32768}, Case{50, true, 1000, -7, -3}}) {
        SCOPED_TRACE("gain " + std::to_string(c.gain));
        audiotest::TempFolder folder;
        auto write = [&](const char* name, std::int16_t v) {
            const auto path = folder.Path() / name;
            std::FILE* f = std::fopen(path.string().c_str(), "wb");
            const auto block = StampedBlock(v);
            std::fwrite(block.data(), 1, block.size(), f);
            std::fclose(f);
            return audiotest::OpenForMixer(path);
        };
        auto mixer = NewMixer();
        mixer->SetSourceFile(write("m.pcm", c.mixed), false);
        mixer->SetSourceFile(write("v.pcm", c.vocal), true);
        mixer->SetReplayVoiceOnly(c.voiceOnly);
        VolumeRequest set{true, kVolumeReplay, c.gain};
        ASSERT_EQ(mixer->Volume(&set), 0);
        ASSERT_EQ(mixer->Initialize(), kAudioOk);
        ASSERT_EQ(mixer->Start(), kAudioOk);
        mixer->OnCaptureBlock(StampedBlock(99).data(), 3072);  // no capture in a replay
        EXPECT_EQ(Render(*mixer), c.expected);
        mixer->Stop();
    }
    EXPECT_FALSE(std::filesystem::exists(tmp_.Path() / "Mixed.wav")) << "a replay records nothing";
}

// The calls the device-library double saw, in order; clears them.
// The test holds its own reference, so that the double's notes outlive the
// mixers that load and unload it.
std::vector<std::string> TakeLibraryCalls() {
    static platform::DynamicLibrary library;
    if (!library.IsOpen()) {
        EXPECT_TRUE(library.Open(platform::FromUtf8(AUDIO_TEST_PROGRAM_DIR "Driver/libMendra.so")))
            << library.LastError();
    }
    auto calls = library.Find<const char*()>("DeviceLibraryDoubleCalls");
    auto clear = library.Find<void()>("DeviceLibraryDoubleClear");
    std::vector<std::string> out;
    if (calls == nullptr || clear == nullptr) {
        return out;
    }
    std::string all = calls();
    clear();
    for (std::size_t start = 0, end; (end = all.find(';', start)) != std::string::npos;
         start = end + 1) {
        out.push_back(all.substr(start, end - start));
    }
    return out;
}

TEST_F(SoundMixerTest, VolumeChannelsTable) {
    struct Case {
        VolumeRequest request;
        int result;
        int valueAfter;
    };
    TakeLibraryCalls();
    auto mixer = NewMixerWithLibrary();
    const Case cases[] = {
        {{true, 2, 101}, -1, 101},   {{true, 0, -1}, -1, -1},  {{true, 3, 50}, -1, 50},
        {{true, 0, 100}, 0, 100},    {{false, 0, -5}, 0, 100}, {{true, 0, 29}, 0, 29},
        {{false, 0, 0}, 0, 29},      {{true, 2, 57}, 0, 57},   {{false, 2, 0}, 0, 57},
        {{false, 5, 1234}, 0, 1234}, {{true, 1, 40}, 0, 40},   {{false, 1, 0}, 0, 40},
    };
    for (Case c : cases) {
        EXPECT_EQ(mixer->Volume(&c.request), c.result)
            << c.request.set << " " << c.request.channel << " " << c.request.value;
        EXPECT_EQ(c.request.value, c.valueAfter);
    }
    const auto calls = TakeLibraryCalls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetRecordVolumeScalar 40"), calls.end());

    auto unbound = std::make_unique<SoundMixer>(clock_);  // no Driver/ in this program folder
    EXPECT_FALSE(unbound->IsDeviceLibraryLoaded());
    VolumeRequest set{true, kVolumeRecord, 40};
    EXPECT_EQ(unbound->Volume(&set), 0) << "a missing library is skipped";
    VolumeRequest get{false, kVolumeRecord, 77};
    EXPECT_EQ(unbound->Volume(&get), 0);
    EXPECT_EQ(get.value, 0);
}

TEST_F(SoundMixerTest, DeviceLibraryIsCalledInOrderAndOnlyForLivePerformances) {
    TakeLibraryCalls();
    {
        auto mixer = NewMixerWithLibrary();
        EXPECT_EQ(mixer->LibraryMessage(), L"double ok");
        ASSERT_EQ(mixer->Initialize(), kAudioOk);
        ASSERT_EQ(mixer->Start(), kAudioOk);
        mixer->Stop();
        mixer->Stop();  // a second stop restores nothing twice
        context_->SetReplay(true);
        ASSERT_EQ(mixer->Initialize(), kAudioOk);
        ASSERT_EQ(mixer->Start(), kAudioOk);
        mixer->Stop();
        context_->SetReplay(false);
    }
    const std::vector<std::string> expected = {
        "ConfLibInit",           "DumpMSG",  // construction
        "DisabletKaraokeEffect", "DumpMSG",  // live Initialize
        "RecoverKaraokeEffect",  "DumpMSG",  // live Stop; the replay calls nothing
        "ConfLibUnInit",         "DumpMSG",  // destruction
    };
    EXPECT_EQ(TakeLibraryCalls(), expected);
}

TEST_F(SoundMixerTest, AFailedInitializeLeavesTheCardAloneAndTheMixerStopped) {
    TakeLibraryCalls();
    context_->SetRecordFolder(tmp_.Folder() + L"no-such-folder/");
    auto mixer = NewMixerWithLibrary();
    EXPECT_EQ(mixer->Initialize(), kAudioFileError);
    EXPECT_EQ(mixer->Start(), kAudioWrongState);
    mixer->Stop();
    const auto calls = TakeLibraryCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "DisabletKaraokeEffect"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "RecoverKaraokeEffect"), 0);
    context_->SetRecordFolder(tmp_.Folder());
    EXPECT_EQ(mixer->Initialize(), kAudioOk) << "the next start works";
    mixer->Stop();
}

TEST_F(SoundMixerTest, ReadyIsPublishedWithTheFileAndClearedWhenTheFilesClose) {
    auto mixer = NewMixer();
    EXPECT_FALSE(mixer->IsMusicReady());
    mixer->SetSourceReady(false, true);  // opening failed: the window must not wait for ever
    EXPECT_TRUE(mixer->IsMusicReady());
    EXPECT_EQ(mixer->CloseSourceFiles(), 0);
    EXPECT_FALSE(mixer->IsMusicReady());

    // A decoder on its own thread: whoever sees the flag finds the file.
    const auto path = audiotest::WriteStampedMusic(tmp_.Path(), 3);
    std::thread decoder([&] { mixer->SetSourceFile(audiotest::OpenForMixer(path), false); });
    while (!mixer->IsMusicReady()) {
        std::this_thread::yield();
    }
    ASSERT_EQ(mixer->Initialize(), kAudioOk);
    ASSERT_EQ(mixer->Start(), kAudioOk);
    Capture(*mixer, 0);
    EXPECT_EQ(Render(*mixer), 1);
    decoder.join();
    mixer->Stop();
    EXPECT_EQ(mixer->CloseSourceFiles(), 0);
    EXPECT_FALSE(mixer->IsMusicReady());
}

}  // namespace
