#include "dsp/SrcStages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

int RoundDown4(long long v) {
    return v < 0 ? 0 : static_cast<int>(v & ~3LL);
}

double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < 1e-17 * sum) {
            break;
        }
    }
    return sum;
}

// Kaiser-windowed sinc prototype of up * taps coefficients at the high rate,
// cut off just below the lower of the two Nyquist frequencies, split into
// `up` output phases that each have a DC gain of exactly 1.
std::vector<float> DesignPolyphase(int up, int down, int taps) {
    const int n = up * taps;
    const double cutoff = 0.45 / std::max(up, down);  // cycles per high-rate sample
    const double beta = 7.0;
    const double centre = (n - 1) / 2.0;
    std::vector<double> proto(n);
    for (int i = 0; i < n; ++i) {
        const double t = i - centre;
        const double arg = 2.0 * cutoff * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(M_PI * arg) / (M_PI * arg);
        const double r = centre > 0 ? t / centre : 0.0;
        const double window =
            BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(beta);
        proto[i] = sinc * window;
    }
    std::vector<float> rows(static_cast<size_t>(n));
    for (int phase = 0; phase < up; ++phase) {
        double sum = 0.0;
        for (int m = 0; m < taps; ++m) {
            sum += proto[phase + m * up];
        }
        for (int m = 0; m < taps; ++m) {
            rows[phase * taps + m] = static_cast<float>(proto[phase + m * up] / sum);
        }
    }
    return rows;
}

}  // namespace

// ---------------------------------------------------------------- CSrcCommon

CSrcCommon::~CSrcCommon() = default;

bool CSrcCommon::InitRates(int, int, int, float*, float*) {
    return false;
}

bool CSrcCommon::InitDirection(int, int, float*, float*) {
    return false;
}

void CSrcCommon::Clear() {
    for (auto& s : storage_) {
        std::fill(s.begin(), s.end(), 0.0f);
    }
    for (int c = 0; c < channels_; ++c) {
        std::fill(out_[c], out_[c] + block_, 0.0f);
    }
    pos_ = 0;
    count_ = 0;
}

bool CSrcCommon::Allocate(int history, int capacity, int block, float* outLeft, float* outRight) {
    if (block < 1 || capacity < 1 || outLeft == nullptr) {
        return false;
    }
    channels_ = outRight != nullptr ? 2 : 1;
    history_ = history;
    capacity_ = capacity;
    block_ = block;
    out_[0] = outLeft;
    out_[1] = outRight;
    outEnd_ = outLeft + block;
    try {
        for (int c = 0; c < 2; ++c) {
            storage_[c].clear();
            if (c < channels_) {
                storage_[c].assign(static_cast<size_t>(kSlack + history + capacity + kTail), 0.0f);
                in_[c] = storage_[c].data() + kSlack + history;
            } else {
                storage_[c].shrink_to_fit();
                in_[c] = nullptr;
            }
        }
    } catch (const std::bad_alloc&) {
        in_[0] = in_[1] = nullptr;
        return false;
    }
    pos_ = 0;
    count_ = 0;
    return true;
}

void CSrcCommon::Advance(int count) {
    const int keep = kSlack + history_;
    for (int c = 0; c < channels_; ++c) {
        float* base = storage_[c].data();
        std::memmove(base, base + count, sizeof(float) * static_cast<size_t>(keep));
    }
    pos_ = std::max(pos_ - count, -kSlack);
}

// -------------------------------------------------------------------- CSrc3x

// Third-band filter: symmetric about 35, every third coefficient away from the
// centre is zero, h[35] = 1 and h[71] = 0.
const float CSrc3x::kFilter[CSrc3x::kTaps] = {
    -0.000867418945f, -0.00123605167f, 0.0f, 0.00220144331f,  0.00281503983f,   0.0f,
    -0.0043501975f,   -0.0052921148f,  0.0f, 0.00758141698f,  0.00895449892f,   0.0f,
    -0.0122319106f,   -0.0141714504f,  0.0f, 0.0187599249f,   0.0214630365f,    0.0f,
    -0.0278644636f,   -0.031658452f,   0.0f, 0.0407711491f,   0.0462868772f,    0.0f,
    -0.0599990897f,   -0.0686847642f,  0.0f, 0.0918641016f,   0.107959546f,     0.0f,
    -0.15799664f,     -0.200787514f,   0.0f, 0.410489917f,    0.82548666f,      1.0f,
    0.82548666f,      0.410489917f,    0.0f, -0.200787514f,   -0.15799664f,     0.0f,
    0.107959546f,     0.0918641016f,   0.0f, -0.0686847642f,  -0.0599990897f,   0.0f,
    0.0462868772f,    0.0407711491f,   0.0f, -0.031658452f,   -0.0278644636f,   0.0f,
    0.0214630365f,    0.0187599249f,   0.0f, -0.0141714504f,  -0.0122319106f,   0.0f,
    0.00895449892f,   0.00758141698f,  0.0f, -0.0052921148f,  -0.0043501975f,   0.0f,
    0.00281503983f,   0.00220144331f,  0.0f, -0.00123605167f, -0.000867418945f, 0.0f,
};

bool CSrc3x::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    if (direction != 0 && direction != 1) {
        return false;
    }
    direction_ = direction;
    const long long capacity = direction == 1 ? block / 3 + 2 : 3LL * block + 2;
    return Allocate(kTaps, RoundDown4(capacity), block, outLeft, outRight);
}

// Outputs are computed kLanes at a time, each with its own accumulator and its
// taps added in the documented order, so the results are those of one output
// at a time while the lanes vectorize.
namespace {
constexpr int kLanes = 8;
}

int CSrc3x::Process(int count) {
    count_ = count;
    const float* h = kFilter;
    int o = 0;
    if (direction_ == 1) {
        const int steps = std::max(0, std::min((block_ - o) / 3, count - pos_));
        for (int c = 0; c < channels_; ++c) {
            const float* x = in_[c] + pos_;
            float* y = out_[c];
            for (int i0 = 0; i0 < steps; i0 += kLanes) {
                const int lanes = std::min(kLanes, steps - i0);
                for (int r = 0; r < 3; ++r) {
                    float acc[kLanes] = {};
                    for (int m = 0; m < 24; ++m) {
                        const float g = h[3 * m + r];
                        const float* xm = x + i0 - m;
                        for (int j = 0; j < kLanes; ++j) {
                            acc[j] += g * xm[j];
                        }
                    }
                    for (int j = 0; j < lanes; ++j) {
                        y[3 * (i0 + j) + r] = acc[j];
                    }
                }
            }
        }
        o = 3 * steps;
        pos_ += steps;
    } else {
        const int available = pos_ < count ? (count - pos_ + 2) / 3 : 0;
        const int steps = std::min(block_, available);
        for (int c = 0; c < channels_; ++c) {
            const float* x = in_[c] + pos_;
            float* y = out_[c];
            for (int i0 = 0; i0 < steps; i0 += kLanes) {
                const int lanes = std::min(kLanes, steps - i0);
                float acc[kLanes] = {};
                for (int k = 0; k < 36; ++k) {
                    const float g = h[k];
                    const float* a = x + 3 * i0 - k;
                    const float* b = x + 3 * i0 - 71 + k;
                    for (int j = 0; j < kLanes; ++j) {
                        acc[j] += g * (a[3 * j] + b[3 * j]);
                    }
                }
                for (int j = 0; j < lanes; ++j) {
                    y[i0 + j] = 0.25f * acc[j];
                }
            }
        }
        o = steps;
        pos_ += 3 * steps;
    }
    Advance(count);
    return o;
}

// ------------------------------------------------------------- CSrcPolyphase

bool CSrcPolyphase::Setup(int up, int down, int tapsPerPhase, int history, int capacity, int block,
                          float* outLeft, float* outRight) {
    up_ = up;
    down_ = down;
    taps_ = tapsPerPhase;
    phase_ = 0;
    try {
        coeffs_ = DesignPolyphase(up, down, tapsPerPhase);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return Allocate(history, capacity, block, outLeft, outRight);
}

void CSrcPolyphase::Clear() {
    CSrcCommon::Clear();
    phase_ = 0;
}

int CSrcPolyphase::Process(int count) {
    count_ = count;
    int o = 0;
    while (o < block_ && pos_ < count) {
        const float* row = coeffs_.data() + static_cast<size_t>(phase_) * taps_;
        for (int c = 0; c < channels_; ++c) {
            const float* x = in_[c] + pos_;
            float acc = 0.0f;
            for (int m = 0; m < taps_; ++m) {
                acc += row[m] * x[-m];
            }
            out_[c][o] = acc;
        }
        ++o;
        phase_ += down_;
        while (phase_ >= up_) {
            phase_ -= up_;
            ++pos_;
        }
    }
    Advance(count);
    return o;
}

bool CSrc2x::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    direction_ = direction;
    if (direction == 1) {
        return Setup(2, 1, 33, 66, RoundDown4(block / 2 + 2), block, outLeft, outRight);
    }
    if (direction == 0) {
        return Setup(1, 2, 66, 66, RoundDown4(2LL * block + 2), block, outLeft, outRight);
    }
    return false;
}

bool CSrc4x::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    direction_ = direction;
    if (direction == 1) {
        return Setup(4, 1, 33, 132, RoundDown4(block / 4 + 2), block, outLeft, outRight);
    }
    if (direction == 0) {
        return Setup(1, 4, 132, 132, RoundDown4(4LL * block + 2), block, outLeft, outRight);
    }
    return false;
}

bool CSrc6x::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    direction_ = direction;
    if (direction == 1) {
        return Setup(6, 1, 12, 72, RoundDown4(block / 6 + 2), block, outLeft, outRight);
    }
    if (direction == 0) {
        return Setup(1, 6, 72, 72, RoundDown4(6LL * block + 2), block, outLeft, outRight);
    }
    return false;
}

bool CSrc32_48::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    direction_ = direction;
    if (direction == 1) {
        return Setup(3, 2, 24, 36, RoundDown4(block * 32000LL / 48000 + 4), block, outLeft,
                     outRight);
    }
    if (direction == 0) {
        return Setup(2, 3, 36, 36, RoundDown4(block * 48000LL / 32000 + 4), block, outLeft,
                     outRight);
    }
    return false;
}

bool CSrc44_48::InitDirection(int direction, int block, float* outLeft, float* outRight) {
    direction_ = direction;
    if (direction == 1) {
        return Setup(160, 147, 20, 24, RoundDown4(block * 44100LL / 48000 + 4), block, outLeft,
                     outRight);
    }
    if (direction == 0) {
        return Setup(147, 160, 24, 24, RoundDown4(block * 48000LL / 44100 + 4), block, outLeft,
                     outRight);
    }
    return false;
}

// -------------------------------------------------------------------- CSrcAny

bool CSrcAny::InitRates(int inputRate, int outputRate, int block, float* outLeft, float* outRight) {
    if (inputRate <= 0 || outputRate <= 0 || block < 1) {
        return false;
    }
    const long long step = static_cast<long long>(inputRate) * 65536 / outputRate;
    if (step < 1 || step > 0x7FFFFFFF) {
        return false;
    }
    step_ = static_cast<int>(step);
    direction_ = outputRate > inputRate ? 1 : 0;
    phase_ = 0;
    const long long capacity = static_cast<long long>(block) * inputRate / outputRate + 2;
    if (capacity > 0x7FFFFFF) {
        return false;
    }
    return Allocate(1, RoundDown4(capacity), block, outLeft, outRight);
}

void CSrcAny::Clear() {
    CSrcCommon::Clear();
    phase_ = 0;
}

int CSrcAny::Process(int count) {
    count_ = count;
    int o = 0;
    // 64-bit so that long blocks at extreme ratios cannot overflow; the values
    // are those of a 32-bit 16.16 phase wherever that one does not overflow.
    long long phase = phase_;
    long long index = phase >> 16;
    while (o < block_ && index < count - 1) {
        const float f = static_cast<float>(phase & 0xFFFF) / 65536.0f;
        const int i = static_cast<int>(index);
        for (int c = 0; c < channels_; ++c) {
            const float* x = in_[c];
            out_[c][o] = x[i + 1] * f + x[i] * (1.0f - f);
        }
        ++o;
        phase += step_;
        index = phase >> 16;
    }
    phase -= static_cast<long long>(count) << 16;
    if ((phase >> 16) < -kSlack) {
        phase = static_cast<long long>(-kSlack) << 16;
    }
    phase_ = static_cast<int>(phase);
    pos_ = 0;
    Advance(count);
    pos_ = 0;
    return o;
}
