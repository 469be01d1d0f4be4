#pragma once
// The one object the karaoke window talks to. It forwards the player's
// events to the window, maps the window's requests onto the player and the
// mixer, and keeps the performance-wide key, effect and replay-source
// switches. All operations run on the user-interface thread; event 4 (end
// of song) arrives on the player's watcher thread.
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/AudioClients.h"
#include "audio/VolumeRequest.h"
#include "karaoke/KaraokeEngine.h"

class KaraokePlayer;

class IKaraokeControllerListener {
  public:
    virtual ~IKaraokeControllerListener() = default;
    virtual void OnPlayerEvent(int event) = 0;
    virtual void OnPlayerNotify(int a, int b, int c) = 0;
};

class IKaraokeController {
  public:
    virtual ~IKaraokeController() = default;
    virtual void SetListener(IKaraokeControllerListener* listener) = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual void Stop() = 0;
    // 0 done, -1 invalid request, -2 no mixer, -3 no player.
    virtual int Volume(VolumeRequest* request) = 0;
    virtual std::int64_t GetPosition() = 0;
    virtual std::int64_t GetDuration() = 0;
    virtual void Seek(int blocks) = 0;
    virtual void Open() = 0;
    virtual void CloseSources() = 0;
    virtual bool IsReady() = 0;
    // 0, or -1 without player or mixer.
    virtual int CloseSourceFiles() = 0;
};

// The key table: 2^(k/12) in 16.16 fixed point for k = -12 ... 12, as the
// key shifter uses it (not computed: several entries are rounded by hand).
std::uint32_t KeyRatio(int semitones);
// 2^31 / KeyRatio: the inverse ratio in 1.15 fixed point.
std::uint32_t InverseKeyRatio(int semitones);

class KaraokeController final : public IKaraokeController, public IKaraokePlayerListener {
  public:
    static constexpr int kKeySteps = 9;
    static constexpr int kKeyStepZero = 4;

    KaraokeController();
    ~KaraokeController() override;

    // A new listener is a new window: it gets a fresh player (the previous
    // window's one is gone with CloseSourceFiles), the key back at "0" and
    // the remembered volume levels.
    void SetListener(IKaraokeControllerListener* listener) override;
    void Play() override;
    void Pause() override;
    void Resume() override;
    void Stop() override;
    int Volume(VolumeRequest* request) override;
    std::int64_t GetPosition() override;
    std::int64_t GetDuration() override;
    void Seek(int blocks) override;
    void Open() override;
    void CloseSources() override;
    bool IsReady() override;
    // Also ends the window's player: the next window gets a new one.
    int CloseSourceFiles() override;

    void OnPlayerEvent(int event) override;
    void OnPlayerNotify(int a, int b, int c) override;

    // Key steps 0 ... 8 with the labels "-4" ... "4"; step 4 is "0". Live
    // performances only: in a replay the key does not change the audio.
    int KeyStep() const { return keyStep_; }
    int KeySemitones() const { return keyStep_ - kKeyStepZero; }
    bool CanKeyUp() const { return keyStep_ < kKeySteps - 1; }
    bool CanKeyDown() const { return keyStep_ > 0; }
    bool KeyUp();
    bool KeyDown();
    bool SetKeyStep(int step);

    // The effect button: live, echo and reverb together off and on again;
    // replay, the choice between the mixed recording and the voice alone.
    void ToggleEffect();
    bool EffectsOn() const { return effectsOn_; }
    bool ReplayVoiceOnly() const { return replayVoiceOnly_; }
    void SetReplayVoiceOnly(bool voiceOnly);

    KaraokePlayer* Player() const { return player_.get(); }
    int PlayerState() const;

  private:
    void EnsurePlayer();
    IKaraokeControllerListener* CurrentListener();
    void ApplyKeyStep();
    void ApplyRememberedVolumes();

    std::mutex listenerMutex_;
    IKaraokeControllerListener* listener_ = nullptr;
    std::unique_ptr<KaraokePlayer> player_;
    int keyStep_ = kKeyStepZero;
    bool effectsOn_ = true;
    bool replayVoiceOnly_ = false;
    int musicLevel_ = 100;
    int replayLevel_ = 100;
};

// The controller, created on first use; null while the karaoke subsystem
// shuts down.
KaraokeController* GetKaraokeController();
void DeleteKaraokeController();
// While closed, GetKaraokeController creates nothing (subsystem shut-down).
void SetKaraokeControllerClosed(bool closed);
