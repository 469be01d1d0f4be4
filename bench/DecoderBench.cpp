// The music decoder against the ffmpeg command line, side by side in one
// run: a 4-minute MP3 (44100 Hz stereo) decoded to 48000 Hz stereo 16-bit
// PCM. Goals: at least 0.8 of ffmpeg's speed ("speed_vs_ffmpeg" >= 0.8),
// and the first 10 s ready for a live performance in under 100 ms
// ("ready_ms").
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "audio/MFSampleGenerator.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaSource.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path& Folder() {
    static const fs::path folder = [] {
        fs::path f =
            fs::temp_directory_path() / ("vokari_decoder_bench_" + std::to_string(::getpid()));
        fs::create_directories(f);
        return f;
    }();
    return folder;
}

// A 4-minute song-like signal: a few tones that move, in both channels.
const std::string& Song() {
    static const std::string path = [] {
        const std::string p = (Folder() / "song.mp3").string();
        constexpr std::uint32_t kRate = 44100;
        const std::size_t frames = std::size_t{kRate} * 240;
        std::vector<float> samples(frames * 2);
        for (std::size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double f = 220.0 * std::pow(2.0, std::floor(std::fmod(t, 8.0)) / 12.0);
            const double v = 0.3 * std::sin(2 * M_PI * f * t) +
                             0.15 * std::sin(2 * M_PI * 3 * f * t) +
                             0.05 * std::sin(2 * M_PI * 5000 * t);
            samples[2 * i] = static_cast<float>(v);
            samples[2 * i + 1] = static_cast<float>(0.8 * v);
        }
        platform::MediaEncodeOptions options;
        options.container = "mp3";
        options.codec = "libmp3lame";
        options.sampleRate = kRate;
        options.bitRate = 192000;
        if (platform::EncodeAudioFile(p, options, samples) != platform::kOk) {
            std::fprintf(stderr, "cannot encode the benchmark song\n");
        }
        return p;
    }();
    return path;
}

class Sink final : public IMFSampleGeneratorSink {
  public:
    void SetSourceFile(std::FILE* file, bool) override {
        std::lock_guard lock(mutex_);
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        file_ = file;
    }
    void SetSourceReady(bool, bool ready) override {
        std::lock_guard lock(mutex_);
        if (ready && !ready_) {
            readyAt_ = Clock::now();
        }
        ready_ = ready;
        changed_.notify_all();
    }
    Clock::time_point WaitReady() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_; });
        return readyAt_;
    }
    ~Sink() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::FILE* file_ = nullptr;
    bool ready_ = false;
    Clock::time_point readyAt_{};
};

double DecodeSeconds(bool early, double* readyMs) {
    Sink sink;
    MFSampleGenerator::Options options;
    options.tempFolder = (Folder() / "KTV_Temp2").string() + "/";
    options.earlyHandOver = early;
    MFSampleGenerator generator(&sink, false, options);
    const auto start = Clock::now();
    std::shared_ptr<platform::MediaSource> source;
    if (platform::MediaSource::Open(Song(), &source) != platform::kOk ||
        generator.Configure(source, 768, platform::kEngineAudioFormat) != platform::kOk ||
        generator.StartSource() != platform::kOk) {
        return -1;
    }
    if (readyMs != nullptr) {
        *readyMs = std::chrono::duration<double, std::milli>(sink.WaitReady() - start).count();
    }
    generator.WaitUntilDone(-1);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double FfmpegSeconds() {
    const std::string out = (Folder() / "out.pcm").string();
    std::vector<std::string> args = {"ffmpeg", "-v",  "error", "-y",  "-i", Song(), "-f",
                                     "s16le",  "-ar", "48000", "-ac", "2",  out};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One iteration decodes the song with both, so that both see the same load.
void BM_DecodeSongVsFfmpeg(benchmark::State& state) {
    Song();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double a = DecodeSeconds(false, nullptr);
        const double b = FfmpegSeconds();
        if (a < 0 || b < 0) {
            state.SkipWithError("decoding failed (is ffmpeg installed?)");
            return;
        }
        ours += a;
        theirs += b;
        state.SetIterationTime(a);
    }
    state.counters["ours_s"] = ours / static_cast<double>(state.iterations());
    state.counters["ffmpeg_s"] = theirs / static_cast<double>(state.iterations());
    state.counters["speed_vs_ffmpeg"] = theirs / ours;
    state.counters["x_realtime"] = 240.0 * static_cast<double>(state.iterations()) / ours;
}
BENCHMARK(BM_DecodeSongVsFfmpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// From opening the file to the mixer holding 10 s: what the window waits
// before a live performance can start.
void BM_TimeToFirstTenSeconds(benchmark::State& state) {
    Song();
    double total = 0;
    for (auto _ : state) {
        double ready = 0;
        if (DecodeSeconds(true, &ready) < 0) {
            state.SkipWithError("decoding failed");
            return;
        }
        total += ready;
        state.SetIterationTime(ready / 1000.0);
    }
    state.counters["ready_ms"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TimeToFirstTenSeconds)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
