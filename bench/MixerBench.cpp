// The render side of the mixer per 16-ms block: FillRenderBlock with its
// MixBlock (voice + music for the speakers and for "Mixed.wav"), with the
// key shifter off and on. A block has 16 ms; the figures show how little of
// it the render thread spends in the mixer.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "audio/SoundMixer.h"
#include "dsp/PitchShifter.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Utf.h"

namespace {

class DspShifter final : public IMusicKeyShifter {
  public:
    bool IsOn() const override { return true; }
    void Shift(short* samples, unsigned frames) override { ShiftPitch(samples, frames); }
};

class MixerBench {
  public:
    explicit MixerBench(bool shift) {
        std::random_device rd;
        folder_ =
            std::filesystem::temp_directory_path() / ("vokari-mixer-bench-" + std::to_string(rd()));
        std::filesystem::create_directories(folder_);
        const auto music = folder_ / "music.pcm";
        {
            std::ofstream out(music, std::ios::binary);
            std::vector<std::int16_t> block(1536);
            std::mt19937 noise(7);
            for (int k = 0; k < 3000; ++k) {
                for (auto& s : block) {
                    s = static_cast<std::int16_t>(noise() % 20000) - 10000;
                }
                out.write(reinterpret_cast<const char*>(block.data()), 3072);
            }
        }
        CKaraokeContext* context = GetKaraokeContext();
        context->SetReplay(false);
        context->SetRecordFolder(platform::FromUtf8(folder_.string()));
        mixer_ = std::make_unique<SoundMixer>(platform::SystemClock(), nullptr);
        if (shift) {
            InitPitchShifter(2);
            SetPitchShifterValue(3);
            mixer_->SetKeyShifter(&shifter_);
        }
        mixer_->SetSourceFile(std::fopen(music.string().c_str(), "rb"), false);
        mixer_->Initialize();
        mixer_->Start();
        voice_.assign(mixer_->BlockLength(), 0);
        out_.assign(mixer_->BlockLength(), 0);
    }

    ~MixerBench() {
        mixer_->Stop();
        mixer_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    // Queues voice blocks and lets the reader thread and the writers catch
    // up: the part of the loop that belongs to other threads.
    void Prepare(int blocks) {
        while (mixer_->QueuedRecordingBlocks() > 20) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto refillDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        const std::uint64_t asked = mixer_->BlockCounter() / 50;
        while (mixer_->CompletedRefills() < asked &&
               std::chrono::steady_clock::now() < refillDeadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (mixer_->BlockCounter() > 2800) {
            mixer_->Seek(0);
        }
        for (int i = 0; i < blocks; ++i) {
            mixer_->OnCaptureBlock(voice_.data(), static_cast<std::uint32_t>(voice_.size()));
        }
    }

    std::uint32_t RenderOne() {
        std::uint32_t written = 0;
        mixer_->Lock();
        mixer_->FillRenderBlock(out_.data(), &written);
        return written;
    }

  private:
    std::filesystem::path folder_;
    DspShifter shifter_;
    std::unique_ptr<SoundMixer> mixer_;
    std::vector<std::uint8_t> voice_;
    std::vector<std::uint8_t> out_;
};

void RenderBlocks(benchmark::State& state, bool shift) {
    platform::SetDebugSink(nullptr);  // the per-block latency lines
    MixerBench bench(shift);
    constexpr int kBatch = 40;  // under the 50-block refill step
    int left = 0;
    std::uint64_t written = 0;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            bench.Prepare(kBatch);
            left = kBatch;
            state.ResumeTiming();
        }
        written += bench.RenderOne();
        --left;
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["silent"] =
        static_cast<double>(state.iterations()) - static_cast<double>(written) / 3072.0;
}

void BM_FillRenderBlock(benchmark::State& state) {
    RenderBlocks(state, false);
}
void BM_FillRenderBlockWithKeyShift(benchmark::State& state) {
    RenderBlocks(state, true);
}

BENCHMARK(BM_FillRenderBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FillRenderBlockWithKeyShift)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
