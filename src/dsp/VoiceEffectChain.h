#pragma once
// Echo and room reverberation for the singer's voice, at the evaluation rate.
//
// The evaluation engine (capture thread) configures the chain at every
// performance start and then calls Process once per 16 ms hop: 256 frames per
// channel at 16000 Hz, planar floats in 16-bit units (any frame count works;
// longer calls are processed 256 frames at a time).
//
// Threads: Configure and Process on one thread (the capture thread, or the
// thread that starts the performance before capture runs). SetEchoOn and
// SetReverbOn from any thread (the effect button); they are atomics and take
// effect at the next Process call. Process never allocates, locks or logs.
#include <atomic>
#include <memory>

#include "dsp/EchoUnit.h"
#include "dsp/ReverbConfig.h"

class CVoiceEffectChain {
  public:
    static constexpr int kBlockFrames = 256;

    CVoiceEffectChain();
    ~CVoiceEffectChain();
    CVoiceEffectChain(const CVoiceEffectChain&) = delete;
    CVoiceEffectChain& operator=(const CVoiceEffectChain&) = delete;

    // Prepares the echo for the rate (buffer cleared) and initializes the
    // reverb with environment 24 ("KTV"), every parameter group dirty (new
    // random line lengths at the first frame). channels: 1 or 2. Returns 0, or
    // -1 when a unit is missing or cannot be set up (Process then skips it).
    int Configure(int sampleRate, int channels);

    // voice[c] (in/out): the voice; effect[c] (out): the effects alone, for
    // c < channels. Afterwards voice = dry + reverb of (voice + damped echo) +
    // echo tap, effect = the same without the dry voice. With two channels the
    // right voice channel is replaced by the left one (the voice is mono).
    void Process(float* const* voice, float* const* effect, int frames);
    // Without effect buffers: voice = voice with echo, then dry plus reverb.
    void Process(float* const* voice, int frames);

    void SetEchoOn(bool on) { echoOn_.store(on, std::memory_order_relaxed); }
    void SetReverbOn(bool on) { reverbOn_.store(on, std::memory_order_relaxed); }
    bool EchoOn() const { return echoOn_.load(std::memory_order_relaxed); }
    bool ReverbOn() const { return reverbOn_.load(std::memory_order_relaxed); }

    int Channels() const { return channels_; }
    const CEchoUnit* Echo() const { return echo_.get(); }
    CReverbWrap* Reverb() { return reverb_.get(); }

  private:
    void ProcessBlock(float* const* voice, float* const* effect, int frames);
    void ProcessBlockInPlace(float* const* voice, int frames);
    bool EchoReady() const { return echo_ && echo_->IsPrepared(); }
    bool ReverbReady() const { return reverb_ && reverbReady_; }

    std::atomic<bool> echoOn_{false};
    std::atomic<bool> reverbOn_{false};
    int channels_ = 0;
    std::unique_ptr<CEchoUnit> echo_;
    std::unique_ptr<CReverbWrap> reverb_;
    bool reverbReady_ = false;
    float work_[2][kBlockFrames] = {};
};
