#include "dsp/VoiceEffectChain.h"

#include <algorithm>
#include <new>

CVoiceEffectChain::CVoiceEffectChain()
    : echo_(new (std::nothrow) CEchoUnit), reverb_(new (std::nothrow) CReverbWrap) {}

CVoiceEffectChain::~CVoiceEffectChain() = default;

int CVoiceEffectChain::Configure(int sampleRate, int channels) {
    channels_ = std::clamp(channels, 1, 2);
    int result = channels == channels_ ? 0 : -1;
    if (!echo_ || !echo_->Prepare(sampleRate)) {
        result = -1;
    }
    reverbReady_ = false;
    if (reverb_) {
        // The reverb always works on the two-channel work buffer.
        reverbReady_ = reverb_->Initialize(AudFormat{2, sampleRate}) == 0;
        if (reverbReady_) {
            reverb_->Config().SetEnvironment(kReverbEnvironmentKtv);
        }
    }
    if (!reverbReady_) {
        result = -1;
    }
    return result;
}

void CVoiceEffectChain::Process(float* const* voice, float* const* effect, int frames) {
    if (voice == nullptr || voice[0] == nullptr || channels_ == 0) {
        return;
    }
    if (effect == nullptr || effect[0] == nullptr) {
        Process(voice, frames);
        return;
    }
    for (int done = 0; done < frames; done += kBlockFrames) {
        const int n = std::min(kBlockFrames, frames - done);
        float* v[2] = {voice[0] + done, channels_ == 2 ? voice[1] + done : nullptr};
        float* e[2] = {effect[0] + done, channels_ == 2 ? effect[1] + done : nullptr};
        ProcessBlock(v, e, n);
    }
}

void CVoiceEffectChain::Process(float* const* voice, int frames) {
    if (voice == nullptr || voice[0] == nullptr || channels_ == 0) {
        return;
    }
    for (int done = 0; done < frames; done += kBlockFrames) {
        const int n = std::min(kBlockFrames, frames - done);
        float* v[2] = {voice[0] + done, channels_ == 2 ? voice[1] + done : nullptr};
        ProcessBlockInPlace(v, n);
    }
}

void CVoiceEffectChain::ProcessBlock(float* const* voice, float* const* effect, int n) {
    float* x = voice[0];
    // 1. Echo into the work buffer; its undamped tap into the effect buffer.
    if (echoOn_.load(std::memory_order_relaxed) && EchoReady()) {
        echo_->Process(x, work_[0], effect[0], n);
        std::copy(work_[0], work_[0] + n, work_[1]);
    } else {
        std::copy(x, x + n, work_[0]);
        std::copy(x, x + n, work_[1]);
        std::fill(effect[0], effect[0] + n, 0.0f);
    }
    // 2. The voice is mono.
    if (channels_ == 2) {
        std::copy(x, x + n, voice[1]);
        std::copy(effect[0], effect[0] + n, effect[1]);
    }
    // 3. Reverberation alone (no dry signal), or silence.
    if (reverbOn_.load(std::memory_order_relaxed) && ReverbReady()) {
        reverb_->Config().SetDryPass(false);
        float* work[2] = {work_[0], work_[1]};
        reverb_->Process(work, n);
    } else {
        std::fill(work_[0], work_[0] + n, 0.0f);
        std::fill(work_[1], work_[1] + n, 0.0f);
    }
    // 4. Mix.
    for (int c = 0; c < channels_; ++c) {
        float* e = effect[c];
        float* v = voice[c];
        const float* w = work_[c];
        for (int i = 0; i < n; ++i) {
            e[i] = w[i] + e[i];
            v[i] = v[i] + e[i];
        }
    }
}

void CVoiceEffectChain::ProcessBlockInPlace(float* const* voice, int n) {
    float* x = voice[0];
    if (echoOn_.load(std::memory_order_relaxed) && EchoReady()) {
        echo_->Process(x, x, nullptr, n);
    }
    if (channels_ == 2) {
        std::copy(x, x + n, voice[1]);
    }
    if (reverbOn_.load(std::memory_order_relaxed) && ReverbReady()) {
        reverb_->Config().SetDryPass(true);
        if (channels_ == 2) {
            reverb_->Process(voice, n);
        } else {
            std::copy(x, x + n, work_[0]);
            std::copy(x, x + n, work_[1]);
            float* work[2] = {work_[0], work_[1]};
            reverb_->Process(work, n);
            std::copy(work_[0], work_[0] + n, x);
        }
    }
}
