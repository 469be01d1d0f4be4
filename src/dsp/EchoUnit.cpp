#include "dsp/EchoUnit.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "dsp/ReverbUnits.h"

bool CEchoUnit::Prepare(int sampleRate) {
    delay_ = 0;
    if (sampleRate <= 0) {
        return false;
    }
    const int length = static_cast<int>(static_cast<long long>(sampleRate) * kBufferMs / 1000);
    const int delay = static_cast<int>(static_cast<long long>(sampleRate) * kDelayMs / 1000);
    const int effective = std::min(delay, length);
    if (effective < 1) {
        return false;
    }
    try {
        buffer_.assign(static_cast<size_t>(length), 0.0f);
    } catch (const std::bad_alloc&) {
        buffer_.clear();
        return false;
    }
    tapOffset_ =
        static_cast<int>(static_cast<long long>(sampleRate) * kTapLeadMs / 1000) % effective;
    const double t = std::tan(M_PI * kDampingCutoff / sampleRate);
    double a = (t - 1.0) / (t + 1.0);
    if (std::fabs(a) < 1e-12) {
        a = 0.0;  // tan(pi/4) rounds just below 1 at a quarter of the rate
    }
    a_ = static_cast<float>(a);
    b_ = static_cast<float>((a + 1.0) / 2.0);
    xPrev_ = 0.0f;
    yPrev_ = 0.0f;
    pos_ = 0;
    delay_ = effective;
    return true;
}

void CEchoUnit::Process(const float* in, float* main, float* tap, int frames) {
    if (delay_ <= 0) {
        return;
    }
    float* buf = buffer_.data();
    for (int i = 0; i < frames; ++i) {
        const float x = in[i];
        const float fed = buf[pos_] * kFeedback;
        const float c = FlushTiny(b_ * (fed + xPrev_) - a_ * yPrev_);
        xPrev_ = fed;
        yPrev_ = c;
        if (tap != nullptr) {
            int t = pos_ + tapOffset_;
            if (t >= delay_) {
                t -= delay_;
            }
            tap[i] = kTapGain * buf[t];
        }
        buf[pos_] = FlushTiny(x + c);
        if (++pos_ == delay_) {
            pos_ = 0;
        }
        main[i] = x + kOutputGain * c;
    }
}
