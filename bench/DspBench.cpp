// Per-block cost of the signal processing on the audio threads: the
// evaluation's rate converters (one 16 ms block each way), the key change on
// a render block and the voice effects on a 16 kHz hop. The converters are
// also measured side by side with libsoxr at its quick setting on the same
// signal, as a ratio (soxr is a reference here, never part of the program).
#include <benchmark/benchmark.h>
#include <soxr.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/PitchShifter.h"
#include "dsp/SampleRateConverter.h"
#include "dsp/VoiceEffectChain.h"

namespace {

std::vector<int16_t> Signal(size_t frames, int channels, double rate) {
    std::vector<int16_t> out(frames * channels);
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> noise(-300, 300);
    for (size_t i = 0; i < frames; ++i) {
        const double v = 6000 * std::sin(2 * M_PI * 220 * i / rate) +
                         3000 * std::sin(2 * M_PI * 1830 * i / rate) + noise(gen);
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<int16_t>(v);
        }
    }
    return out;
}

SrcWaveFormat Pcm(int rate) {
    SrcWaveFormat f;
    f.channels = 2;
    f.samplesPerSec = static_cast<uint32_t>(rate);
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    f.avgBytesPerSec = f.samplesPerSec * 4;
    return f;
}

// One engine converter: `inFrames` stereo frames per call.
struct Ours {
    Ours(int inRate, int outRate, int outFrames) : ring(static_cast<size_t>(outFrames) * 4) {
        desc.buffer = ring.data();
        desc.size = static_cast<int>(ring.size());
        desc.format = Pcm(outRate);
        ok = src.Init({&desc, Pcm(inRate), 0}) == 0;
    }
    void Run(const int16_t* in, int frames) { src.Convert(in, frames); }
    std::vector<uint8_t> ring;
    SrcOutputRing desc;
    CSampleRateConverter src;
    bool ok;
};

struct Soxr {
    Soxr(int inRate, int outRate, int outFrames) : out(static_cast<size_t>(outFrames) * 2 + 64) {
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_QQ, 0);
        soxr_error_t error = nullptr;
        handle = soxr_create(inRate, outRate, 2, &error, &io, &quality, nullptr);
        ok = error == nullptr && handle != nullptr;
    }
    ~Soxr() { soxr_delete(handle); }
    void Run(const int16_t* in, int frames) {
        size_t done = 0, produced = 0;
        soxr_process(handle, in, static_cast<size_t>(frames), &done, out.data(), out.size() / 2,
                     &produced);
        benchmark::DoNotOptimize(produced);
    }
    soxr_t handle = nullptr;
    std::vector<int16_t> out;
    bool ok;
};

struct Direction {
    int inRate, outRate, inFrames, outFrames;
};
constexpr Direction kDown{48000, 16000, 768, 256};
constexpr Direction kUp{16000, 48000, 256, 768};

template <typename Converter>
void ConvertBlocks(benchmark::State& state, const Direction& d) {
    const auto signal = Signal(static_cast<size_t>(d.inFrames) * 64, 2, d.inRate);
    Converter conv(d.inRate, d.outRate, d.outFrames);
    if (!conv.ok) {
        state.SkipWithError("converter set-up failed");
        return;
    }
    size_t block = 0;
    for (auto _ : state) {
        conv.Run(signal.data() + (block % 64) * d.inFrames * 2, d.inFrames);
        ++block;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Convert48To16(benchmark::State& s) {
    ConvertBlocks<Ours>(s, kDown);
}
void BM_Convert16To48(benchmark::State& s) {
    ConvertBlocks<Ours>(s, kUp);
}
void BM_Soxr48To16(benchmark::State& s) {
    ConvertBlocks<Soxr>(s, kDown);
}
void BM_Soxr16To48(benchmark::State& s) {
    ConvertBlocks<Soxr>(s, kUp);
}
BENCHMARK(BM_Convert48To16);
BENCHMARK(BM_Soxr48To16);
BENCHMARK(BM_Convert16To48);
BENCHMARK(BM_Soxr16To48);

// Both converters on the same blocks in one loop; the counters give the time
// per block of each and ours / soxr.
void SideBySide(benchmark::State& state, const Direction& d) {
    const auto signal = Signal(static_cast<size_t>(d.inFrames) * 64, 2, d.inRate);
    Ours ours(d.inRate, d.outRate, d.outFrames);
    Soxr soxr(d.inRate, d.outRate, d.outFrames);
    if (!ours.ok || !soxr.ok) {
        state.SkipWithError("converter set-up failed");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration oursTime{}, soxrTime{};
    size_t block = 0;
    for (auto _ : state) {
        const int16_t* in = signal.data() + (block % 64) * d.inFrames * 2;
        auto t0 = Clock::now();
        ours.Run(in, d.inFrames);
        auto t1 = Clock::now();
        soxr.Run(in, d.inFrames);
        auto t2 = Clock::now();
        oursTime += t1 - t0;
        soxrTime += t2 - t1;
        ++block;
    }
    const double n = static_cast<double>(state.iterations());
    const double oursUs = std::chrono::duration<double, std::micro>(oursTime).count() / n;
    const double soxrUs = std::chrono::duration<double, std::micro>(soxrTime).count() / n;
    state.counters["ours_us"] = oursUs;
    state.counters["soxr_quick_us"] = soxrUs;
    state.counters["ours_per_soxr"] = soxrUs > 0 ? oursUs / soxrUs : 0.0;
}
void BM_SideBySide48To16(benchmark::State& s) {
    SideBySide(s, kDown);
}
void BM_SideBySide16To48(benchmark::State& s) {
    SideBySide(s, kUp);
}
BENCHMARK(BM_SideBySide48To16);
BENCHMARK(BM_SideBySide16To48);

// Key change on one render block (768 stereo frames); the argument is the key.
void BM_ShiftPitch768(benchmark::State& state) {
    InitPitchShifter(2);
    SetPitchShifterValue(static_cast<int>(state.range(0)));
    const auto signal = Signal(768 * 64, 2, 48000);
    std::vector<int16_t> block(768 * 2);
    size_t b = 0;
    for (auto _ : state) {
        std::copy_n(signal.begin() + (b % 64) * 768 * 2, 768 * 2, block.begin());
        ShiftPitch(block.data(), 768);
        benchmark::DoNotOptimize(block.data());
        ++b;
    }
    SetPitchShifterValue(0);
}
BENCHMARK(BM_ShiftPitch768)->Arg(0)->Arg(1)->Arg(4)->Arg(-4)->Arg(12);

// Echo and reverb on one 16 kHz hop (256 frames, two channels).
void EffectChain(benchmark::State& state, bool afterSilence) {
    CVoiceEffectChain chain;
    chain.Configure(16000, 2);
    chain.SetEchoOn(true);
    chain.SetReverbOn(true);
    std::vector<float> v[2], e[2];
    for (auto& x : v) {
        x.assign(256, 0.0f);
    }
    for (auto& x : e) {
        x.assign(256, 0.0f);
    }
    const auto signal = Signal(256 * 64, 1, 16000);
    float* vp[2] = {v[0].data(), v[1].data()};
    float* ep[2] = {e[0].data(), e[1].data()};
    if (afterSilence) {
        // A loud passage, then 20 s of digital silence: the tails decay
        // towards the denormal range, which must not slow the hops down.
        for (int b = 0; b < 1875; ++b) {
            std::copy_n(signal.begin() + (b % 64) * 256, 256, v[0].begin());
            chain.Process(vp, ep, 256);
        }
        for (int b = 0; b < 1250; ++b) {
            std::fill(v[0].begin(), v[0].end(), 0.0f);
            chain.Process(vp, ep, 256);
        }
    }
    size_t b = 0;
    for (auto _ : state) {
        if (afterSilence) {
            std::fill(v[0].begin(), v[0].end(), 0.0f);
        } else {
            std::copy_n(signal.begin() + (b % 64) * 256, 256, v[0].begin());
        }
        chain.Process(vp, ep, 256);
        benchmark::DoNotOptimize(e[0].data());
        ++b;
    }
}
void BM_EffectChain256(benchmark::State& s) {
    EffectChain(s, false);
}
void BM_EffectChain256AfterLongSilence(benchmark::State& s) {
    EffectChain(s, true);
}
BENCHMARK(BM_EffectChain256);
BENCHMARK(BM_EffectChain256AfterLongSilence);

}  // namespace

BENCHMARK_MAIN();
