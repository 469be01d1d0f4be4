// The evaluation engine and whole performances.
//
//   ProcessBlock        one 16 ms capture block through ScoreEngine (48 kHz
//                       stereo in, 16 kHz tracking, effects, 48 kHz out):
//                       mean, 99th percentile and largest, in microseconds
//   OfflinePerformance  `vokari-cli perform` on a 4-minute song, as fast as
//                       the machine allows: realtime_x = song / wall clock
//                       (goal: at least 100)
//   RealtimeLateness    `vokari-cli perform --realtime` on a 20-second song:
//                       lateness of the monitored voice in blocks (median,
//                       99th percentile, largest; goal: at most 2 at steady
//                       state) and the voice blocks dropped (goal: none)
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "evaluation/ScoreEngine.h"
#include "platform/media/MediaEncoder.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A melody of `seconds`: phrases of eight half-second notes and a rest.
std::wstring LyricText(double seconds) {
    static const char* const kNotes[] = {"E4", "G4", "A4", "B4", "C5", "B4", "A4", "G4"};
    std::wstring text;
    int ms = 1000;
    int n = 0;
    wchar_t tag[32];
    while (ms + 5000 < seconds * 1000) {
        std::swprintf(tag, 32, L"[%02d:%02d.%02d]", ms / 60000, ms / 1000 % 60, ms % 1000 / 10);
        text += tag;
        for (int k = 0; k < 8; ++k, ms += 500, ++n) {
            std::swprintf(tag, 32, L"<%02d:%02d.%02d>la(%s)", ms / 60000, ms / 1000 % 60,
                          ms % 1000 / 10, kNotes[(n + k / 3) % 8]);
            text += tag;
        }
        std::swprintf(tag, 32, L"<%02d:%02d.%02d>(X)\r\n", ms / 60000, ms / 1000 % 60,
                      ms % 1000 / 10);
        text += tag;
        ms += 500;
    }
    return text;
}

// Six harmonics following the melody, `channels` interleaved, -1 .. 1.
std::vector<float> Voice(const std::vector<MelodyEntry>& melody, double seconds, int channels) {
    const std::size_t frames = static_cast<std::size_t>(seconds * 48000);
    std::vector<float> out(frames * channels, 0.0f);
    double phase = 0;
    std::size_t entry = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double ms = i / 48.0;
        while (entry + 1 < melody.size() && evaluation::MelodyTime(melody[entry + 1]) <= ms) {
            ++entry;
        }
        if (ms < evaluation::MelodyTime(melody[0]) || evaluation::IsRest(melody[entry])) {
            continue;
        }
        phase +=
            2 * kPi * 440.0 * std::pow(2.0, evaluation::MelodyPitch(melody[entry]) / 48.0) / 48000;
        double v = 0;
        for (int m = 1; m <= 6; ++m) {
            v += std::sin(m * phase) / m;
        }
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<float>(0.1 * v);
        }
    }
    return out;
}

void ProcessBlock(benchmark::State& state) {
    const double seconds = 300;
    const std::vector<MelodyEntry> melody = evaluation::ParseMelody(LyricText(seconds));
    const std::vector<float> voice = Voice(melody, seconds, 2);
    std::vector<short> pcm(voice.size());
    for (std::size_t i = 0; i < voice.size(); ++i) {
        pcm[i] = static_cast<short>(voice[i] * 32767);
    }
    std::vector<double> us;
    std::vector<double> cpuUs;  // this thread's CPU time: what load on the machine does not move
    auto threadCpuUs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
    };
    for (auto _ : state) {
        ScoreEngine engine;
        if (!engine.Start(melody.data(), static_cast<int>(melody.size()), seconds * 1000)) {
            state.SkipWithError("Start failed");
            return;
        }
        std::vector<short> block(2 * evaluation::kCaptureHop);
        std::vector<short> monitor(block.size());
        us.clear();
        cpuUs.clear();
        for (std::size_t at = 0; at + block.size() <= pcm.size(); at += block.size()) {
            std::copy(pcm.begin() + at, pcm.begin() + at + block.size(), block.begin());
            std::fill(monitor.begin(), monitor.end(), 0);
            const double c0 = threadCpuUs();
            const auto t0 = std::chrono::steady_clock::now();
            engine.ProcessBlock(block.data(), block.data(), evaluation::kCaptureHop,
                                monitor.data());
            us.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                    .count());
            cpuUs.push_back(threadCpuUs() - c0);
        }
        benchmark::DoNotOptimize(engine.VolumeCount());
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) {
        sum += v;
    }
    state.counters["blocks"] = static_cast<double>(us.size());
    state.counters["mean_us"] = sum / us.size();
    state.counters["p99_us"] = us[static_cast<std::size_t>(0.99 * us.size())];
    state.counters["max_us"] = us.back();
    std::sort(cpuUs.begin(), cpuUs.end());
    double cpuSum = 0;
    for (double v : cpuUs) {
        cpuSum += v;
    }
    state.counters["cpu_mean_us"] = cpuSum / cpuUs.size();
    state.counters["cpu_p99_us"] = cpuUs[static_cast<std::size_t>(0.99 * cpuUs.size())];
    state.counters["cpu_max_us"] = cpuUs.back();
}
BENCHMARK(ProcessBlock)->Iterations(1)->Unit(benchmark::kMillisecond);

// The song's files in a folder of their own.
struct Song {
    explicit Song(double seconds) {
        folder = std::filesystem::temp_directory_path() /
                 ("vokari-engine-bench-" + std::to_string(::getpid()) + "-" +
                  std::to_string(static_cast<int>(seconds)));
        std::filesystem::create_directories(folder);
        const std::wstring text = LyricText(seconds);
        std::ofstream(folder / "lyric.lrc", std::ios::binary)
            << std::string(text.begin(), text.end());  // ASCII
        const std::vector<MelodyEntry> melody = evaluation::ParseMelody(text);
        platform::MediaEncodeOptions mono;
        mono.channels = 1;
        ok = platform::Succeeded(platform::EncodeAudioFile((folder / "voice.wav").string(), mono,
                                                           Voice(melody, seconds, 1)));
        std::vector<float> music(static_cast<std::size_t>(seconds * 48000) * 2);
        for (std::size_t i = 0; i < music.size() / 2; ++i) {
            music[2 * i] = music[2 * i + 1] =
                static_cast<float>(0.2 * std::sin(2 * kPi * 220 * i / 48000.0));
        }
        platform::MediaEncodeOptions stereo;
        ok = ok && platform::Succeeded(
                       platform::EncodeAudioFile((folder / "music.wav").string(), stereo, music));
    }
    ~Song() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    std::filesystem::path folder;
    bool ok = false;
};

std::string CliPath() {
    return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin" /
            "vokari-cli")
        .string();
}

// Runs perform and returns its JSON line (empty on failure).
std::string Perform(const Song& song, bool realtime) {
    const std::string command =
        CliPath() + " perform --music '" + (song.folder / "music.wav").string() + "' --lyric '" +
        (song.folder / "lyric.lrc").string() + "' --voice '" +
        (song.folder / "voice.wav").string() + "' --out '" + (song.folder / "out").string() + "'" +
        (realtime ? " --realtime" : "") + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    return ::pclose(pipe) == 0 ? out : std::string();
}

double Field(const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"" + name + "\":");
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + name.size() + 3);
}

void OfflinePerformance(benchmark::State& state) {
    const double seconds = 240;
    const Song song(seconds);
    if (!song.ok) {
        state.SkipWithError("cannot write the song");
        return;
    }
    std::string json;
    rusage before{};
    ::getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        json = Perform(song, false);
        if (json.empty()) {
            state.SkipWithError("perform failed");
            return;
        }
    }
    rusage after{};
    ::getrusage(RUSAGE_CHILDREN, &after);
    auto cpu = [](const rusage& r) {
        return r.ru_utime.tv_sec + r.ru_stime.tv_sec +
               (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    const double cpuSeconds = cpu(after) - cpu(before);
    const double wall = Field(json, "seconds");
    // On a loaded machine the wall clock also counts other processes' time;
    // the CPU time of the program is the figure that load does not move.
    state.counters["cpu_s"] = cpuSeconds;
    state.counters["realtime_x_cpu"] = cpuSeconds > 0 ? seconds / cpuSeconds : 0;
    state.counters["song_s"] = seconds;
    state.counters["wall_s"] = wall;
    state.counters["realtime_x"] = wall > 0 ? seconds / wall : 0;
    state.counters["dropped"] = Field(json, "dropped");
    state.counters["total"] = Field(json, "total");
}
BENCHMARK(OfflinePerformance)->Iterations(1)->Unit(benchmark::kSecond);

void RealtimeLateness(benchmark::State& state) {
    const Song song(20);
    if (!song.ok) {
        state.SkipWithError("cannot write the song");
        return;
    }
    std::string json;
    for (auto _ : state) {
        json = Perform(song, true);
        if (json.empty()) {
            state.SkipWithError("perform failed");
            return;
        }
    }
    const std::size_t at = json.find("\"lateness_ms\":[");
    int median = -1;
    int p99 = -1;
    int largest = -1;
    if (at != std::string::npos) {
        std::sscanf(json.c_str() + at + 15, "%d,%d,%d", &median, &p99, &largest);
    }
    state.counters["late_median_blocks"] = median / 16.0;
    state.counters["late_p99_blocks"] = p99 / 16.0;
    state.counters["late_max_blocks"] = largest / 16.0;
    state.counters["dropped"] = Field(json, "dropped");
}
BENCHMARK(RealtimeLateness)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
