#pragma once
// Owns the audio engine of one karaoke window: the mixer, the capture and
// render clients (with the decoders behind the render client), and the
// watcher thread that turns the render thread's end into "end of song".
// Runs on the user-interface thread except for the watcher.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio/AudioClients.h"
#include "audio/SoundMixer.h"
#include "karaoke/KaraokeEngine.h"
#include "platform/thread/Event.h"

class KaraokePlayer {
  public:
    static constexpr int kStatePlaying = 1;
    static constexpr int kStatePaused = 2;
    static constexpr int kStateStopped = 3;

    explicit KaraokePlayer(IKaraokeEngineFactory& factory);
    ~KaraokePlayer();
    KaraokePlayer(const KaraokePlayer&) = delete;
    KaraokePlayer& operator=(const KaraokePlayer&) = delete;

    void SetListener(IKaraokePlayerListener* listener);

    // First call starts the performance, later calls toggle pause/resume.
    // A start that fails undoes what it did (recordings closed, the card's
    // effect restored) and leaves the state stopped.
    AudioResult Play();
    AudioResult Pause();
    AudioResult Resume();
    AudioResult Stop();

    // Opens the sources and starts decoding. Whatever fails, the ready flags
    // end up set, so a window waiting for IsReady never waits for ever.
    void Open();
    void CloseSources();
    bool IsReady() const;
    // Before the first start: probes the music file again on every call.
    std::int64_t GetDuration();

    int State() const { return state_; }
    bool IsStarted() const { return !notStarted_; }
    SoundMixer* Mixer() const { return mixer_.get(); }
    bool HasClients() const { return capture_ != nullptr && render_ != nullptr; }

  private:
    AudioResult Start();
    void RollBack(bool captureStarted, bool renderStarted);
    void StartWatcher();
    void JoinWatcher();
    void Watch();

    IKaraokeEngineFactory& factory_;
    std::unique_ptr<SoundMixer> mixer_;
    std::unique_ptr<ICaptureClient> capture_;
    std::unique_ptr<IRenderClient> render_;
    std::int64_t duration_ = 0;
    bool notStarted_ = true;
    bool live_ = true;
    std::unique_ptr<platform::Event> startEvent_;
    int state_ = kStateStopped;
    std::atomic<IKaraokePlayerListener*> listener_{nullptr};
    std::thread watcher_;
};
