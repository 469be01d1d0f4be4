#pragma once
// An audio engine without devices: capture and render clients whose threads
// behave like the real ones (a block every few milliseconds, the render
// thread woken by the start event, the end-of-song exit code), a resolver
// that probes nothing, and an evaluation that records what it is asked.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/SoundMixer.h"
#include "karaoke/KaraokeEngine.h"
#include "platform/clock/Clock.h"
#include "platform/thread/Event.h"

namespace karaoketest {

class FakeCapture final : public ICaptureClient {
  public:
    FakeCapture(SoundMixer& mixer, platform::FakeClock& clock) : mixer_(mixer), clock_(clock) {}
    ~FakeCapture() override;
    AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) override;
    AudioResult StartClient(bool resume) override;
    AudioResult StopClient(bool pause) override;
    void ReleaseClient() override { initialized_ = false; }
    void SetListener(IKaraokePlayerListener* listener) override { listener_ = listener; }

    std::atomic<int> blocks{0};  // captured since construction
    std::atomic<int> initializeCalls{0};
    AudioResult failInitialize = kAudioOk;
    std::int16_t voiceValue = 1000;

  private:
    void Loop();
    SoundMixer& mixer_;
    platform::FakeClock& clock_;
    IKaraokePlayerListener* listener_ = nullptr;
    platform::Event* startEvent_ = nullptr;
    int blockDurationMs_ = 16;
    bool initialized_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class FakeRender final : public IRenderClient {
  public:
    explicit FakeRender(SoundMixer& mixer) : mixer_(mixer) {}
    ~FakeRender() override;
    AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) override;
    AudioResult StartClient(bool resume) override;
    AudioResult StopClient(bool pause) override;
    void ReleaseClient() override { initialized_ = false; }
    void SetListener(IKaraokePlayerListener* listener) override { listener_ = listener; }
    void SetSongDuration(std::int64_t ms) override { duration_.store(ms); }
    int WaitForThreadEnd() override;
    AudioResult SetSource(std::shared_ptr<const platform::MediaSource>, int index) override;
    AudioResult StartSources() override;
    AudioResult StopSources() override;

    // What the speakers got, block by block (first sample of each).
    std::vector<int> Heard();
    std::atomic<int> blocks{0};
    std::atomic<int> silentBlocks{0};
    AudioResult failInitialize = kAudioOk;
    AudioResult failStart = kAudioOk;
    std::filesystem::path musicFile;  // what StartSources "decodes"
    std::filesystem::path vocalFile;
    std::atomic<int> sourcesSet{0};

  private:
    void Loop();
    SoundMixer& mixer_;
    IKaraokePlayerListener* listener_ = nullptr;
    platform::Event* startEvent_ = nullptr;
    bool initialized_ = false;
    std::atomic<std::int64_t> duration_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool running_ = false;
    int exitCode_ = 0;
    std::mutex heardMutex_;
    std::vector<int> heard_;
};

class FakeEvaluation final : public IKaraokeEvaluation {
  public:
    void ProcessBlock(const short* input, short* output, int frames, short* output2) override;
    bool Start() override {
        ++starts;
        return true;
    }
    void SaveResults(const std::wstring& folder) override {
        ++saves;
        savedTo = folder;
    }
    void ApplyKey() override { ++applyKeys; }
    void SetKey(int semitones) override { key = semitones; }
    void SetEffects(bool on) override { effects = on; }
    bool EffectsOn() const override { return effects; }

    std::atomic<int> processed{0};
    int starts = 0;
    int saves = 0;
    int applyKeys = 0;
    int key = 99;
    bool effects = false;
    std::wstring savedTo;
};

class FakeKeyShifter final : public IKeyShifterModule {
  public:
    bool IsOn() const override { return false; }
    void Shift(short*, unsigned) override {}
    int InitPitchShifter(unsigned channels) override {
        ++inits;
        this->channels = channels;
        return 1;
    }
    void SetPitchShifterValue(int semitones) override { value = semitones; }
    void ApplyCurrentKey() override { ++applied; }
    int applied = 0;
    int inits = 0;
    unsigned channels = 0;
    int value = 99;
};

// Device-library calls of the factory's mixers, in order.
std::vector<std::string> TakeLibraryCalls();

class FakeEngineFactory final : public IKaraokeEngineFactory {
  public:
    std::unique_ptr<SoundMixer> CreateMixer() override;
    std::unique_ptr<ICaptureClient> CreateCapture(SoundMixer& mixer) override;
    std::unique_ptr<IRenderClient> CreateRender(SoundMixer& mixer) override;
    AudioResult ResolveMedia(const std::wstring& path,
                             std::shared_ptr<const platform::MediaSource>* source,
                             std::int64_t* durationMs) override;
    IKaraokeEvaluation* Evaluation() override { return &evaluation; }
    IKeyShifterModule* KeyShifter() override { return &shifter; }

    platform::FakeClock clock{1000};
    bool withDevices = true;
    std::int64_t durationMs = 0;
    bool resolveFails = false;
    std::atomic<int> resolves{0};
    AudioResult captureInitFailure = kAudioOk;
    AudioResult renderInitFailure = kAudioOk;
    std::filesystem::path musicFile;
    std::filesystem::path vocalFile;
    FakeEvaluation evaluation;
    FakeKeyShifter shifter;
    FakeCapture* capture = nullptr;  // the latest ones made
    FakeRender* render = nullptr;
};

}  // namespace karaoketest
