#include "dsp/PitchShifter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "dsp/PitchShifterDetail.h"

using namespace pitch_shifter_detail;

namespace {

// 2^(k/12) as 16.16, k = -12 ... 12. Rounded, with the two entries -11 and
// +11 one above the rounded value: kept exactly as they are.
constexpr uint32_t kStepTable[25] = {
    32768, 34717, 36781, 38968, 41285, 43740, 46341, 49097,  52016,  55109,  58386,  61858,  65536,
    69433, 73562, 77936, 82570, 87480, 92682, 98193, 104032, 110218, 116772, 123716, 131072,
};

constexpr int kHistory = 2;
constexpr int kChannelStride = kHistory + kChunkFrames + kIntermediateSize + kOutputSize;  // 6130

int ClampKey(int key) {
    return std::clamp(key, -kPitchShifterMaxKey, kPitchShifterMaxKey);
}

struct ShifterState {
    std::unique_ptr<int16_t[]> store;
    unsigned channels = 0;
    int inputCount = 0;
    uint32_t phase = 0;  // 16.16, signed integer half
    int intermediateFill = 0;
    int outputFill = kPitchShifterDelayFrames;
    int copyLength = 0;
    int lag = kMaxLag;
    int remaining = 0;
    uint64_t dropped = 0;
    uint64_t silent = 0;

    int16_t* Input(unsigned c) { return store.get() + c * kChannelStride + kHistory; }
    int16_t* Intermediate(unsigned c) { return Input(c) + kChunkFrames; }
    int16_t* Output(unsigned c) { return Intermediate(c) + kIntermediateSize; }
};

ShifterState g_state;
std::atomic<bool> g_initialized{false};
std::atomic<bool> g_on{false};
std::atomic<int> g_key{0};

// Appends n samples to every output buffer at the same fill, cut to the free
// space; returns the count kept per channel.
int AppendableCount(int n) {
    const int room = kOutputSize - g_state.outputFill;
    const int kept = std::max(0, std::min(n, room));
    g_state.dropped += static_cast<uint64_t>(n - kept);
    return kept;
}

void AppendCopy(int b, int n) {
    const int kept = AppendableCount(n);
    for (unsigned c = 0; c < g_state.channels; ++c) {
        std::memcpy(g_state.Output(c) + g_state.outputFill, g_state.Intermediate(c) + b,
                    sizeof(int16_t) * static_cast<size_t>(kept));
    }
    g_state.outputFill += kept;
}

// Appends P samples fading from `from` into `to` (offsets into the
// intermediate buffers).
void AppendCrossfade(int from, int to, int p) {
    const int kept = AppendableCount(p);
    const int32_t span = p - 1;
    for (unsigned c = 0; c < g_state.channels; ++c) {
        const int16_t* in = g_state.Intermediate(c);
        int16_t* out = g_state.Output(c) + g_state.outputFill;
        for (int i = 0; i < kept; ++i) {
            const int32_t a = in[from + i];
            const int32_t z = in[to + i];
            out[i] = static_cast<int16_t>((a * (span - i) + z * i) / span);
        }
    }
    g_state.outputFill += kept;
}

void Resample(uint32_t step, int n) {
    int f = g_state.intermediateFill;
    uint32_t phase = g_state.phase;
    int idx = static_cast<int32_t>(phase) >> 16;
    while (idx < n - 1) {
        const int32_t frac = static_cast<int32_t>(phase & 0xFFFFu);
        if (f < kIntermediateSize) {
            for (unsigned c = 0; c < g_state.channels; ++c) {
                const int16_t* in = g_state.Input(c);
                const int32_t v = (in[idx + 1] * frac + in[idx] * (65536 - frac)) >> 16;
                g_state.Intermediate(c)[f] = static_cast<int16_t>(v);
            }
            ++f;
        } else {
            ++g_state.dropped;
        }
        phase += step;
        idx = static_cast<int32_t>(phase) >> 16;
    }
    for (unsigned c = 0; c < g_state.channels; ++c) {
        int16_t* in = g_state.Input(c);
        const int16_t beforeLast = in[n - 2];
        in[-1] = in[n - 1];
        in[-2] = beforeLast;
    }
    g_state.phase = phase - (static_cast<uint32_t>(n) << 16);
    g_state.intermediateFill = f;
}

void Splice(int key) {
    ShifterState& s = g_state;
    if (key == 0) {
        const int move = std::min(s.intermediateFill, kOutputSize - s.outputFill);
        for (unsigned c = 0; c < s.channels; ++c) {
            int16_t* inter = s.Intermediate(c);
            std::memcpy(s.Output(c) + s.outputFill, inter, sizeof(int16_t) * move);
            std::memmove(inter, inter + move,
                         sizeof(int16_t) * static_cast<size_t>(s.intermediateFill - move));
        }
        s.intermediateFill -= move;
        s.outputFill += move;
        return;
    }
    const int fill = s.intermediateFill;
    int b = 0;
    while (fill - b >= kSpliceWindow || (fill - b > 0 && s.remaining > 0)) {
        if (s.remaining == 0) {
            // The lag is measured where the splice happens, at the read
            // position (the window there is complete: fill - b >= 1200).
            const int p = FindLag(s.Intermediate(0) + b);
            const int l = CopyLength(key, p);
            s.lag = p;
            s.copyLength = l;
            if (key > 0) {
                AppendCopy(b, p);
                AppendCrossfade(b + p, b, p);
                b += p;
            } else {
                AppendCrossfade(b, b + p, p);
                b += 2 * p;
            }
            s.remaining = std::max(0, l - p);
        }
        const int d = std::min(fill - b, s.remaining);
        AppendCopy(b, d);
        b += d;
        s.remaining -= d;
    }
    if (b > 0) {
        for (unsigned c = 0; c < s.channels; ++c) {
            int16_t* inter = s.Intermediate(c);
            std::memmove(inter, inter + b, sizeof(int16_t) * static_cast<size_t>(fill - b));
        }
        s.intermediateFill = fill - b;
    }
}

void Drain(short* samples, int n) {
    ShifterState& s = g_state;
    const int take = std::min(s.outputFill, n);
    const unsigned ch = s.channels;
    for (unsigned c = 0; c < ch; ++c) {
        int16_t* out = s.Output(c);
        for (int i = 0; i < take; ++i) {
            samples[static_cast<size_t>(i) * ch + c] = out[i];
        }
        for (int i = take; i < n; ++i) {
            samples[static_cast<size_t>(i) * ch + c] = 0;
        }
        std::memmove(out, out + take, sizeof(int16_t) * static_cast<size_t>(s.outputFill - take));
    }
    s.silent += static_cast<uint64_t>(n - take);
    s.outputFill -= take;
}

}  // namespace

namespace pitch_shifter_detail {

uint32_t StepForKey(int key) {
    return kStepTable[ClampKey(key) + kPitchShifterMaxKey];
}

uint32_t InverseRatioForKey(int key) {
    return 0x80000000u / StepForKey(key);
}

int CopyLength(int key, int lag) {
    const int32_t inv = static_cast<int32_t>(InverseRatioForKey(key));
    if (inv == 32768) {
        return lag;  // key 0 never splices; no division by zero either way
    }
    if (ClampKey(key) < 0) {
        return (lag * 32768) / (inv - 32768);
    }
    return (inv * lag) / (32768 - inv);
}

int FindLag(const int16_t* in) {
    int best = kMinLag;
    int32_t bestError = 0;
    for (int lag = kMinLag; lag <= kMaxLag; lag += 2) {
        const int m = lag & ~3;
        int32_t sum = 0;
        for (int j = 0; j < m; ++j) {
            const int32_t d = (in[j] >> 1) - (in[j + lag] >> 1);
            sum += (d * d) >> 10;
        }
        const int32_t error = sum / m;
        if (lag == kMinLag || error < bestError) {
            best = lag;
            bestError = error;
        }
    }
    return best;
}

Probe GetProbe() {
    return Probe{g_initialized.load(std::memory_order_acquire),
                 g_state.channels,
                 g_state.intermediateFill,
                 g_state.outputFill,
                 g_state.copyLength,
                 g_state.lag,
                 g_state.remaining,
                 g_state.dropped,
                 g_state.silent};
}

}  // namespace pitch_shifter_detail

int InitPitchShifter(unsigned channels) {
    if (!g_initialized.load(std::memory_order_acquire)) {
        if (channels < 1 || channels > kPitchShifterMaxChannels) {
            return 0;
        }
        g_state.store.reset(new (std::nothrow) int16_t[channels * kChannelStride]);
        if (!g_state.store) {
            return 0;
        }
        g_state.channels = channels;
        g_initialized.store(true, std::memory_order_release);
    }
    ResetPitchShifter();
    return 1;
}

void ResetPitchShifter() {
    if (!g_initialized.load(std::memory_order_acquire)) {
        return;
    }
    ShifterState& s = g_state;
    std::memset(s.store.get(), 0, sizeof(int16_t) * s.channels * kChannelStride);
    s.inputCount = 0;
    s.phase = 0;
    s.intermediateFill = 0;
    s.remaining = 0;
    s.copyLength = 0;
    s.outputFill = kPitchShifterDelayFrames;
    s.lag = kMaxLag;
    s.dropped = 0;
    s.silent = 0;
}

void SetPitchShifterValue(int semitones) {
    g_key.store(ClampKey(semitones), std::memory_order_relaxed);
}

void ApplyKey(int semitones) {
    SetPitchShifterValue(semitones);
    g_on.store(true, std::memory_order_release);
}

bool IsPitchShifterOn() {
    return g_on.load(std::memory_order_acquire);
}

int GetPitchShifterKey() {
    return g_key.load(std::memory_order_relaxed);
}

unsigned ShiftPitch(short* samples, unsigned frames) {
    if (samples == nullptr || !g_initialized.load(std::memory_order_acquire)) {
        return frames;
    }
    ShifterState& s = g_state;
    const unsigned ch = s.channels;
    for (unsigned done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<unsigned>(kChunkFrames, frames - done));
        short* chunk = samples + static_cast<size_t>(done) * ch;
        // One snapshot of the key per chunk: step, ratio and splice mode
        // always belong together.
        const int key = g_key.load(std::memory_order_relaxed);
        for (unsigned c = 0; c < ch; ++c) {
            int16_t* in = s.Input(c);
            for (int i = 0; i < n; ++i) {
                in[i] = chunk[static_cast<size_t>(i) * ch + c];
            }
        }
        s.inputCount = n;
        Resample(StepForKey(key), n);
        Splice(key);
        Drain(chunk, n);
        done += static_cast<unsigned>(n);
    }
    return frames;
}
