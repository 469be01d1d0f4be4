#include "dsp/ReverbUnits.h"

#include <algorithm>
#include <new>

namespace {
constexpr int kMaxFrame = 128;
constexpr float kPi = 3.14159265358979f;
}  // namespace

// ------------------------------------------------------------- CAudUnitBase2

CAudUnitBase2::~CAudUnitBase2() = default;

void CAudUnitBase2::SetBlockSize(int frames) {
    block_ = frames;
}

int CAudUnitBase2::GetBlockSize() const {
    return block_;
}

int CAudUnitBase2::Initialize(const AudFormat& format) {
    if (format.channels < 1 || format.channels > 2 || format.sampleRate <= 0) {
        error_ = true;
        return -1;
    }
    input_ = format;
    output_ = format;
    error_ = false;
    return 0;
}

AudFormat CAudUnitBase2::GetInputFormat() const {
    return input_;
}

AudFormat CAudUnitBase2::GetOutputFormat() const {
    return output_;
}

void CAudUnitBase2::SetIntProperty(int value) {
    property_ = value;
}

int CAudUnitBase2::GetIntProperty() const {
    return property_;
}

void CAudUnitBase2::ClearError() {
    error_ = false;
}

// ------------------------------------------------------------ CFirstOrderIIR

int CFirstOrderIIR::Initialize(const AudFormat& format) {
    if (CAudUnitBase2::Initialize(format) != 0) {
        return -1;
    }
    try {
        previous_.assign(static_cast<size_t>(format.channels), 0.0f);
    } catch (const std::bad_alloc&) {
        error_ = true;
        return -1;
    }
    return 0;
}

void CFirstOrderIIR::SetCoefficients(float b, float a) {
    b_ = b;
    a_ = a;
}

void CFirstOrderIIR::Clear() {
    std::fill(previous_.begin(), previous_.end(), 0.0f);
}

void CFirstOrderIIR::Process(int channel, float* samples, int frames) {
    if (channel < 0 || channel >= static_cast<int>(previous_.size())) {
        return;
    }
    float y = previous_[channel];
    for (int i = 0; i < frames; ++i) {
        y = FlushTiny(b_ * samples[i] + a_ * y);
        samples[i] = y;
    }
    previous_[channel] = y;
}

// -------------------------------------------------------------- CDelayBuffer

int CDelayBuffer::Initialize(const AudFormat& format) {
    if (CAudUnitBase2::Initialize(format) != 0 || length_ < 1) {
        error_ = true;
        return -1;
    }
    try {
        lines_.assign(static_cast<size_t>(format.channels), Line{});
        for (auto& line : lines_) {
            line.data.assign(static_cast<size_t>(length_), 0.0f);
        }
    } catch (const std::bad_alloc&) {
        lines_.clear();
        error_ = true;
        return -1;
    }
    return 0;
}

void CDelayBuffer::Clear() {
    for (auto& line : lines_) {
        std::fill(line.data.begin(), line.data.end(), 0.0f);
        line.write = 0;
        line.last = 0;
    }
}

void CDelayBuffer::Write(int channel, const float* samples, int frames) {
    Line& line = lines_[channel];
    int w = line.write;
    for (int i = 0; i < frames; ++i) {
        line.data[w] = samples[i];
        if (++w == length_) {
            w = 0;
        }
    }
    line.write = w;
    line.last = frames;
}

void CDelayBuffer::Read(int channel, float* out, int frames, int delay) const {
    const Line& line = lines_[channel];
    int r = line.write - line.last - delay;
    while (r < 0) {
        r += length_;
    }
    for (int i = 0; i < frames; ++i) {
        out[i] = line.data[r];
        if (++r == length_) {
            r = 0;
        }
    }
}

// --------------------------------------------------------------- CDFIRFilter

int CDFIRFilter::Initialize(const AudFormat& format) {
    if (CAudUnitBase2::Initialize(format) != 0) {
        return -1;
    }
    // Taps reach 15 ms; a whole frame is written before they are read.
    buffer_.SetLength(static_cast<int>(static_cast<long long>(format.sampleRate) * 16 / 1000) +
                      kMaxFrame + 1);
    if (buffer_.Initialize(AudFormat{1, format.sampleRate}) != 0) {
        error_ = true;
        return -1;
    }
    try {
        tap_.assign(kMaxFrame, 0.0f);
    } catch (const std::bad_alloc&) {
        error_ = true;
        return -1;
    }
    return 0;
}

void CDFIRFilter::SetTaps(const int* delays, const float* gains) {
    const int limit = buffer_.Length() - kMaxFrame;
    for (int k = 0; k < kTaps; ++k) {
        delays_[k] = std::clamp(delays[k], 0, std::max(0, limit));
        gains_[k] = gains[k];
    }
}

void CDFIRFilter::Clear() {
    buffer_.Clear();
}

void CDFIRFilter::Process(const float* in, float* out, int frames) {
    if (error_ || tap_.empty()) {
        return;
    }
    buffer_.Write(0, in, frames);
    std::fill(out, out + frames, 0.0f);
    for (int k = 0; k < kTaps; ++k) {
        buffer_.Read(0, tap_.data(), frames, delays_[k]);
        const float g = gains_[k];
        for (int i = 0; i < frames; ++i) {
            out[i] += g * tap_[i];
        }
    }
}

// ----------------------------------------------------------------- CERFilter

int CERFilter::Initialize(const AudFormat& format) {
    if (CAudUnitBase2::Initialize(format) != 0 || left_.Initialize(format) != 0 ||
        right_.Initialize(format) != 0) {
        error_ = true;
        return -1;
    }
    Configure(format.sampleRate);
    return 0;
}

void CERFilter::Configure(int sampleRate) {
    // Tap times in tenths of a millisecond.
    static constexpr int kLeft[CDFIRFilter::kTaps] = {40, 55, 80, 98, 117, 136};
    static constexpr int kRight[CDFIRFilter::kTaps] = {50, 77, 90, 110, 134, 150};
    auto setup = [sampleRate](CDFIRFilter& filter, const int* times) {
        int delays[CDFIRFilter::kTaps];
        float gains[CDFIRFilter::kTaps];
        for (int k = 0; k < CDFIRFilter::kTaps; ++k) {
            delays[k] = static_cast<int>(static_cast<long long>(sampleRate) * times[k] / 10000);
        }
        const float span = static_cast<float>(delays[CDFIRFilter::kTaps - 1] - delays[0]);
        for (int k = 0; k < CDFIRFilter::kTaps; ++k) {
            gains[k] =
                span > 0.0f ? 1.0f - static_cast<float>(delays[k] - delays[0]) * 0.5f / span : 1.0f;
        }
        filter.SetTaps(delays, gains);
    };
    setup(left_, kLeft);
    setup(right_, kRight);
}

void CERFilter::Clear() {
    left_.Clear();
    right_.Clear();
}

void CERFilter::Process(const float* left, const float* right, float* outLeft, float* outRight,
                        int frames) {
    left_.Process(left, outLeft, frames);
    right_.Process(right, outRight, frames);
}

// ---------------------------------------------------------------- CReverbNet

int CReverbNet::Initialize(const AudFormat& format) {
    if (CAudUnitBase2::Initialize(format) != 0) {
        return -1;
    }
    // 1.2 s, in whole frames of 128 with one to spare.
    const long long samples = static_cast<long long>(format.sampleRate) * 12 / 10;
    capacity_ = static_cast<int>(kMaxFrame * (samples / kMaxFrame + 1));
    try {
        for (auto& line : lines_) {
            line.assign(static_cast<size_t>(capacity_), 0.0f);
        }
    } catch (const std::bad_alloc&) {
        for (auto& line : lines_) {
            line.clear();
        }
        capacity_ = 0;
        error_ = true;
        return -1;
    }
    write_ = 0;
    return 0;
}

void CReverbNet::Configure(float decayTime, float decayHfRatio, float diffusion, float density,
                           float hfReference, int (*random)(void*), void* randomContext) {
    static constexpr float kBase[kLines] = {0.746f, 0.0f, 0.273f, 0.638f};
    const float fs = static_cast<float>(input_.sampleRate);
    const float f =
        std::clamp((2.0f - density / 100.0f) * ((decayTime - 1.0f) * 5.0f), 1.0f, 60.0f);
    const float factor = f < 2.5f ? (f + 1.0f) * 5.0f : f + 15.0f;
    const float decay = std::max(decayTime, 0.001f);
    for (int i = 0; i < kLines; ++i) {
        const int r = std::clamp(random != nullptr ? random(randomContext) : 16384, 0, 32767);
        const float jitter = 1.0f + 0.05f * (2.0f * static_cast<float>(r) / 32767.0f - 1.0f);
        const float spread = std::trunc((kBase[i] * jitter * diffusion / 100.0f + 1.0f) * fs);
        int m = static_cast<int>(factor * spread / 330.0f);
        m = std::clamp(m, 1, std::max(1, capacity_ - 1));
        delay_[i] = m;
        const float g = std::pow(10.0f, -3.0f * static_cast<float>(m) / (fs * decay));
        float d = 0.0f;
        if (decayHfRatio < 0.99f && decayHfRatio > 0.0f) {
            const float w = 2.0f * kPi * hfReference / fs;
            const float t = std::pow(g, 2.0f * (1.0f - 1.0f / decayHfRatio));
            const float u = (1.0f - std::cos(w)) / (t - 1.0f) + 1.0f;
            d = (u - std::sqrt(u * u - 1.0f)) * 0.99f;
        }
        gain_[i] = g;
        damping_[i] = d;
        outGain_[i] = (1.0f - d) * g;
    }
    Clear();
}

int CReverbNet::ShortestLine() const {
    return *std::min_element(delay_, delay_ + kLines);
}

void CReverbNet::Clear() {
    for (auto& line : lines_) {
        std::fill(line.begin(), line.end(), 0.0f);
    }
    std::fill(state_, state_ + kLines, 0.0f);
    write_ = 0;
}

void CReverbNet::Process(const float* in, const float* const* w, float* const* e, int frames) {
    if (error_ || capacity_ == 0) {
        return;
    }
    for (int s = 0; s < frames; ++s) {
        float v[kLines];
        for (int i = 0; i < kLines; ++i) {
            int r = write_ - delay_[i];
            if (r < 0) {
                r += capacity_;
            }
            const float y = FlushTiny(outGain_[i] * lines_[i][r] + damping_[i] * state_[i]);
            state_[i] = y;
            v[i] = y + 0.5f * w[i][s];
        }
        const float n = in[s];
        for (int i = 0; i < kLines; ++i) {
            float others = 0.0f;
            for (int j = 0; j < kLines; ++j) {
                if (j != i) {
                    others += v[j];
                }
            }
            lines_[i][write_] = FlushTiny(n + 0.5f * others - 0.5f * v[i]);
            e[i][s] = v[i];
        }
        if (++write_ == capacity_) {
            write_ = 0;
        }
    }
}
