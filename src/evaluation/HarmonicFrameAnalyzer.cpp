#include "evaluation/HarmonicFrameAnalyzer.h"

#include <cmath>
#include <new>

#include "evaluation/ScoringExports.h"

namespace evaluation {

namespace {

// First index of the largest value in [lo, hi); 0 unless that value is above
// 1 (above 0 dB), else the 1-based position.
float PeakPosition(const float* v, int lo, int hi) {
    int best = lo;
    for (int i = lo + 1; i < hi; ++i) {
        if (v[i] > v[best]) {
            best = i;
        }
    }
    return 20.0f * std::log10(v[best]) > 0.0f ? static_cast<float>(best + 1) : 0.0f;
}

}  // namespace

CHarmonicFrameAnalyzer::CHarmonicFrameAnalyzer(int frameLength)
    : fft_(CFft::IsPowerOfTwo(frameLength) && frameLength >= 8 ? frameLength : 0) {
    if (!fft_.Valid()) {
        return;
    }
    n_ = frameLength;
    const int half = n_ / 2;
    work_.reset(new (std::nothrow) float[3 * static_cast<size_t>(n_) + 2 * half]);
    if (!work_) {
        return;
    }
    window_ = work_.get();
    re_ = window_ + n_;
    im_ = re_ + n_;
    triple_ = im_ + n_;
    pair_ = triple_ + half;
    for (int i = 0; i < n_; ++i) {
        window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 1) / (n_ + 1)));
    }
    usable_ = true;
}

bool CHarmonicFrameAnalyzer::Analyze(const float* samples, int sampleRate, HarmonicFrame& out) {
    out = HarmonicFrame{};
    if (!usable_ || samples == nullptr || sampleRate <= 0) {
        return false;
    }
    const int half = n_ / 2;
    const int lo = static_cast<int>(static_cast<long long>(n_) * 220 / sampleRate);
    const int hi = static_cast<int>(static_cast<long long>(n_) * 1200 / sampleRate);
    if (hi > half || lo >= hi) {
        return false;
    }
    for (int i = 0; i < n_; ++i) {
        re_[i] = samples[i] * window_[i];
        im_[i] = 0.0f;
    }
    fft_.Transform(re_, im_);
    float* mag = re_;  // the first half becomes the magnitude spectrum
    float sum = 0.0f;
    for (int k = 0; k < half; ++k) {
        mag[k] = std::sqrt(re_[k] * re_[k] + im_[k] * im_[k]);
        sum += mag[k];
    }
    for (int i = 0; i < half; ++i) {
        triple_[i] = 0.0f;
        pair_[i] = 0.0f;
    }
    for (int i = 0; i < n_ / 6; ++i) {
        triple_[i] = mag[i] * mag[2 * i + 1] * mag[3 * i + 2];
    }
    for (int i = 0; i < n_ / 4; ++i) {
        pair_[2 * i + 1] = mag[i] * mag[2 * i + 1];
    }
    out.fundamentalPos = PeakPosition(triple_, lo, hi);
    out.secondPos = PeakPosition(pair_, lo, hi);
    out.magnitudeSum = sum;
    return true;
}

}  // namespace evaluation

int Track2ndHmn(float* samples, float& fundamentalPos, float& secondPos, float& magnitudeSum,
                int sampleRate, int frameLength) {
    fundamentalPos = 0.0f;
    secondPos = 0.0f;
    magnitudeSum = 0.0f;
    if (samples == nullptr || !evaluation::CFft::IsPowerOfTwo(frameLength) || frameLength < 8 ||
        frameLength > (1 << 20)) {
        return 0;
    }
    evaluation::CHarmonicFrameAnalyzer analyzer(frameLength);
    evaluation::HarmonicFrame frame;
    if (!analyzer.Analyze(samples, sampleRate, frame)) {
        return 0;
    }
    fundamentalPos = frame.fundamentalPos;
    secondPos = frame.secondPos;
    magnitudeSum = frame.magnitudeSum;
    return 1;
}
