// Per-hop cost of the pitch tracker and the expression trackers, and a side
// by side run against aubio's YIN (the aubiopitch tool, run as a separate
// program on the same generated signals; used only as a reference).
//
//   bench_PitchTracker [--benchmark_filter=...]
//
// The comparison prints, for both trackers, the time per second of audio,
// their ratio, and the share of hops within a quarter tone of the known
// frequency.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "evaluation/NoteScorer.h"
#include "evaluation/PitchDetector.h"
#include "evaluation/ScoringExports.h"
#include "evaluation/VocalFeatureTracker.h"

namespace {

constexpr int kRate = 16000;
constexpr int kHop = 256;

struct Signal {
    std::vector<float> samples;  // 16-bit sample values
    std::vector<double> truth;   // Hz at each sample
};

// Six harmonics with 1/m amplitudes, phase-continuous along the curve.
template <typename Curve>
void AppendHarmonic(Signal& s, double seconds, Curve hz, double amplitude = 8000) {
    const int n = static_cast<int>(seconds * kRate);
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        const double f = hz(static_cast<double>(i) / kRate);
        double v = 0.0;
        for (int m = 1; m <= 6; ++m) {
            v += std::sin(2.0 * M_PI * m * phase) / m;
        }
        s.samples.push_back(static_cast<float>(amplitude * v / 2.45 * 1.6));
        s.truth.push_back(f);
        phase += f / kRate;
        phase -= std::floor(phase);
    }
}

// Steady notes across the sung range, then slow glides (an octave in 5 s)
// up and down, so that a hop of latency never matters.
const Signal& TestSignal() {
    static const Signal signal = [] {
        Signal s;
        for (double hz : {233.08, 277.18, 329.63, 392.0, 440.0, 523.25, 659.26, 783.99, 880.0,
                          1046.5, 1174.66}) {
            AppendHarmonic(s, 3.0, [hz](double) { return hz; });
        }
        AppendHarmonic(s, 5.0, [](double t) { return 250.0 * std::pow(2.0, t / 5.0); });
        AppendHarmonic(s, 5.0, [](double t) { return 1100.0 * std::pow(2.0, -t / 5.0); });
        return s;
    }();
    return signal;
}

bool WithinQuarterTone(double hz, double truth) {
    return hz > 0.0 && std::fabs(1200.0 * std::log2(hz / truth)) <= 50.0;
}

void WriteWav(const std::string& path, const std::vector<float>& samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (float v : samples) {
        const long s = std::lround(std::fmax(-32768.0, std::fmin(32767.0, v)));
        u16(static_cast<uint16_t>(static_cast<int16_t>(s)));
    }
}

void BM_PitchDetectorHop(benchmark::State& state) {
    const Signal& s = TestSignal();
    CPitchDetector detector(16.0f, 32768.0f, kRate, CPitchDetector::kDefaultOptions);
    size_t pos = 0;
    float hz = 0;
    float r = 0;
    for (auto _ : state) {
        detector.ProcessHop(s.samples.data() + pos, hz, r);
        benchmark::DoNotOptimize(hz);
        pos += kHop;
        if (pos + kHop > s.samples.size()) {
            pos = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PitchDetectorHop);

void BM_FeatureTrackerBlock(benchmark::State& state) {
    const Signal& s = TestSignal();
    std::vector<short> pcm(s.samples.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<short>(std::lround(s.samples[i]));
    }
    const long long capacity = static_cast<long long>(pcm.size());
    auto tracker = std::make_unique<CVocalFeatureTracker>(1, capacity);
    size_t pos = 0;
    for (auto _ : state) {
        unsigned event = 0;
        tracker->ProcessBlock(pcm.data() + pos, event);
        benchmark::DoNotOptimize(event);
        pos += kHop;
        if (pos + kHop > pcm.size()) {
            state.PauseTiming();
            tracker = std::make_unique<CVocalFeatureTracker>(1, capacity);
            pos = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FeatureTrackerBlock);

void BM_Track2ndHmnFrame(benchmark::State& state) {
    const Signal& s = TestSignal();
    std::vector<float> frame(s.samples.begin() + 16000, s.samples.begin() + 16000 + 2048);
    for (float& v : frame) {
        v /= 32768.0f;
    }
    float f = 0;
    float sec = 0;
    float sum = 0;
    for (auto _ : state) {
        Track2ndHmn(frame.data(), f, sec, sum, kRate, 2048);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_Track2ndHmnFrame);

void BM_ExpressionDetectors(benchmark::State& state) {
    float values[16];
    for (int i = 0; i < 16; ++i) {
        values[i] = 57.0f * std::pow(2.0f, (i > 7 ? 6.0f : 0.0f) / 12.0f) + 0.3f * (i % 3);
    }
    for (auto _ : state) {
        int found = 0;
        int type = 0;
        VibratoTrack(values, 8, found, 8, 5, 0.07f, 0.02f);
        const float size = PortamentoTrack(values, 16, type, 12, 4, 8, 2);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_ExpressionDetectors);

// Every per-hop path the capture thread runs for the evaluation (pitch hop,
// note scorer feed every fifth hop, feature tracker block), timed hop by hop
// over five minutes of voice: mean, 99th percentile and maximum.
void BM_EvaluationHopPercentiles(benchmark::State& state) {
    const Signal& base = TestSignal();
    std::vector<float> voice;
    while (voice.size() < static_cast<size_t>(300 * kRate)) {
        voice.insert(voice.end(), base.samples.begin(), base.samples.end());
    }
    voice.resize(300 * kRate);
    std::vector<short> pcm(voice.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<short>(std::lround(voice[i]));
    }
    // A melody of 400 ms notes in phrases of 4 s, so that phrases are scored
    // on the way.
    std::vector<MelodyEntry> melody;
    for (int t = 0; t < 300000; t += 4000) {
        for (int k = 0; k < 8; ++k) {
            melody.push_back(evaluation::MakeMelodyEntry(t + 400 * k, (k % 4) * 4 - 8));
        }
        melody.push_back(evaluation::MakeMelodyEntry(t + 3200, evaluation::kNoPitch));
    }
    melody.push_back(evaluation::MakeMelodyEntry(300100, evaluation::kNoPitch));
    std::vector<double> micros;
    for (auto _ : state) {
        std::vector<float> scores(melody.size(), -1.0f);
        CPitchDetector detector(16.0f, 32768.0f, kRate, CPitchDetector::kDefaultOptions);
        CVocalFeatureTracker tracker(1, static_cast<long long>(pcm.size()));
        CNoteScorer scorer(melody.data(), static_cast<int>(melody.size()), 16.0f, 300.0f,
                           scores.data());
        evaluation::HopRecord block[5];
        micros.clear();
        micros.reserve(pcm.size() / kHop);
        for (size_t h = 0; h + 1 < pcm.size() / kHop; ++h) {
            const auto t0 = std::chrono::steady_clock::now();
            float hz = 0;
            float r = 0;
            detector.ProcessHop(voice.data() + h * kHop, hz, r);
            block[h % 5] = {hz, r, detector.EnvelopePeak()};
            if (h % 5 == 4) {
                scorer.Feed(block, 5);
            }
            unsigned event = 0;
            tracker.ProcessBlock(pcm.data() + h * kHop, event);
            benchmark::DoNotOptimize(event);
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
    }
    std::vector<double> sorted = micros;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double v : sorted) {
        sum += v;
    }
    state.counters["hop_mean_us"] = sum / sorted.size();
    state.counters["hop_p99_us"] = sorted[sorted.size() * 99 / 100];
    state.counters["hop_max_us"] = sorted.back();
}
BENCHMARK(BM_EvaluationHopPercentiles)->Iterations(1)->Unit(benchmark::kMillisecond);

// Both trackers on the same signal, once: time per second of audio and the
// share of hops within a quarter tone of the truth.
void BM_CompareWithAubioYin(benchmark::State& state) {
    const Signal& s = TestSignal();
    const double audioSeconds = static_cast<double>(s.samples.size()) / kRate;
    double oursSeconds = 0;
    double oursShare = 0;
    double yinSeconds = 0;
    double yinShare = 0;
    for (auto _ : state) {
        // Ours: the per-hop output is the pitch of the previous hop.
        CPitchDetector detector(16.0f, 32768.0f, kRate, CPitchDetector::kDefaultOptions);
        std::vector<float> hz(s.samples.size() / kHop);
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t h = 0; h < hz.size(); ++h) {
            float r = 0;
            detector.ProcessHop(s.samples.data() + h * kHop, hz[h], r);
        }
        oursSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        int good = 0;
        int total = 0;
        for (size_t h = 1; h < hz.size(); ++h) {
            good += WithinQuarterTone(hz[h], s.truth[(h - 1) * kHop + kHop / 2]) ? 1 : 0;
            ++total;
        }
        oursShare = static_cast<double>(good) / total;

        // aubio's YIN as a separate program on the same samples.
        char tmpl[] = "/tmp/vk-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            state.SkipWithError("no temp folder");
            return;
        }
        const std::string wav = std::string(tmpl) + "/voice.wav";
        WriteWav(wav, s.samples);
        const std::string command =
            "aubiopitch -p yin -r 16000 -B 1024 -H 256 -T seconds -i '" + wav + "' 2>/dev/null";
        const auto t1 = std::chrono::steady_clock::now();
        FILE* pipe = popen(command.c_str(), "r");
        std::vector<std::pair<double, double>> yin;
        if (pipe != nullptr) {
            double t = 0;
            double f = 0;
            while (fscanf(pipe, "%lf %lf", &t, &f) == 2) {
                yin.emplace_back(t, f);
            }
        }
        const int rc = pipe != nullptr ? pclose(pipe) : -1;
        yinSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        std::filesystem::remove_all(tmpl);
        if (rc != 0 || yin.empty()) {
            state.SkipWithError("aubiopitch (Debian aubio-tools) did not run");
            return;
        }
        good = 0;
        total = 0;
        for (const auto& [t, f] : yin) {
            // aubio stamps the start of its window; the truth is taken at the
            // window's middle.
            const size_t at = static_cast<size_t>((t * kRate) + 512);
            if (at >= s.truth.size()) {
                continue;
            }
            good += WithinQuarterTone(f, s.truth[at]) ? 1 : 0;
            ++total;
        }
        yinShare = total > 0 ? static_cast<double>(good) / total : 0.0;
    }
    state.counters["ours_ms_per_audio_s"] = oursSeconds / audioSeconds * 1000.0;
    state.counters["yin_ms_per_audio_s"] = yinSeconds / audioSeconds * 1000.0;
    state.counters["time_ratio_ours_to_yin"] = oursSeconds / yinSeconds;
    state.counters["ours_within_quarter_tone"] = oursShare;
    state.counters["yin_within_quarter_tone"] = yinShare;
    std::printf(
        "\n%.0f s of harmonic tones and glides at 16 kHz:\n"
        "  tracker     %8.3f ms per s of audio, %5.1f %% of hops within a quarter tone\n"
        "  aubio yin   %8.3f ms per s of audio, %5.1f %% of hops within a quarter tone "
        "(separate process, file read included)\n"
        "  time ratio tracker / yin: %.3f\n\n",
        audioSeconds, oursSeconds / audioSeconds * 1000.0, oursShare * 100.0,
        yinSeconds / audioSeconds * 1000.0, yinShare * 100.0, oursSeconds / yinSeconds);
}
BENCHMARK(BM_CompareWithAubioYin)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
