#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/AudioEndpoint.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaReader.h"
#include "platform/media/MediaSource.h"
#include "platform/thread/Event.h"

namespace {

using namespace platform;

constexpr std::uint32_t kFrames = 768;
constexpr std::size_t kSamplesPerPeriod = kFrames * 2;

// Period k of a stamped stream: every sample of period k is k + 1.
std::vector<std::int16_t> Stamped(std::size_t periods) {
    std::vector<std::int16_t> samples(periods * kSamplesPerPeriod);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(i / kSamplesPerPeriod + 1);
    }
    return samples;
}

std::unique_ptr<AudioStream> OpenStream(const std::shared_ptr<VirtualAudioDevice>& device,
                                        AudioDirection direction, HResult expected = kOk) {
    std::unique_ptr<AudioStream> stream;
    EXPECT_EQ(AudioEndpoint::Virtual(direction, device)->Activate(&stream), kOk);
    EXPECT_EQ(stream->Initialize(kEngineAudioFormat, 16), expected);
    return stream;
}

// A capture client and a render client in the shape the engine uses: the
// capture thread queues every period, the render thread plays the oldest
// queued one (or silence).
class Loop {
  public:
    Loop(AudioStream& capture, AudioStream& render) : capture_(capture), render_(render) {}
    ~Loop() { Stop(); }

    void Start() {
        ASSERT_EQ(capture_.Start(), kOk);
        ASSERT_EQ(render_.Start(), kOk);
        captureThread_ = std::thread([this] { CaptureLoop(); });
        renderThread_ = std::thread([this] { RenderLoop(); });
    }
    void Stop() {
        captureStop_.Set();
        renderStop_.Set();
        if (captureThread_.joinable()) {
            captureThread_.join();
        }
        if (renderThread_.joinable()) {
            renderThread_.join();
        }
        capture_.Stop();
        render_.Stop();
    }
    std::vector<std::vector<std::int16_t>> Captured() {
        std::lock_guard lock(mutex_);
        return captured_;
    }
    std::vector<std::uint32_t> CaptureFlags() {
        std::lock_guard lock(mutex_);
        return flags_;
    }
    int SilentRenders() const { return silentRenders_; }

  private:
    void CaptureLoop() {
        for (;;) {
            if (capture_.Wait(captureStop_) != AudioWait::Ready) {
                return;
            }
            const std::byte* data;
            std::uint32_t frames, flags;
            if (capture_.AcquireCapture(&data, &frames, &flags) != kOk) {
                continue;
            }
            std::vector<std::int16_t> period(frames * 2);
            std::memcpy(period.data(), data, frames * 4);
            {
                std::lock_guard lock(mutex_);
                captured_.push_back(period);
                flags_.push_back(flags);
                queue_.push_back(std::move(period));
            }
            capture_.ReleaseCapture(frames);
        }
    }
    void RenderLoop() {
        for (;;) {
            if (render_.Wait(renderStop_) != AudioWait::Ready) {
                return;
            }
            std::byte* data;
            ASSERT_EQ(render_.AcquireRender(render_.BufferFrames(), &data), kOk);
            bool wrote = false;
            {
                std::lock_guard lock(mutex_);
                if (!queue_.empty()) {
                    std::memcpy(data, queue_.front().data(), queue_.front().size() * 2);
                    queue_.erase(queue_.begin());
                    wrote = true;
                }
            }
            if (!wrote) {
                ++silentRenders_;
            }
            render_.ReleaseRender(render_.BufferFrames(), wrote ? 0 : kAudioBufferSilent);
        }
    }

    AudioStream& capture_;
    AudioStream& render_;
    Event captureStop_;
    Event renderStop_;
    std::thread captureThread_;
    std::thread renderThread_;
    std::mutex mutex_;
    std::vector<std::vector<std::int16_t>> captured_;
    std::vector<std::uint32_t> flags_;
    std::vector<std::vector<std::int16_t>> queue_;
    std::atomic<int> silentRenders_{0};
};

std::vector<std::int16_t> Period(const std::vector<std::int16_t>& samples, std::size_t k) {
    return std::vector<std::int16_t>(
        samples.begin() + static_cast<std::ptrdiff_t>(k * kSamplesPerPeriod),
        samples.begin() + static_cast<std::ptrdiff_t>((k + 1) * kSamplesPerPeriod));
}

// Manual ticks: each tick moves exactly one period on each device, capture
// before render, so what is captured in a tick is played in that tick; the
// render device starts on one period of silence; after its content the
// capture device delivers silence and says so.
TEST(AudioVirtualEndpoint, ManualTicksMoveOnePeriodEachCaptureFirst) {
    auto clock = std::make_shared<VirtualAudioClock>();
    auto mic = std::make_shared<VirtualAudioDevice>("mic");
    auto speakers = std::make_shared<VirtualAudioDevice>("speakers");
    mic->UseClock(clock);
    speakers->UseClock(clock);
    mic->SetCaptureSamples(Stamped(5));
    auto capture = OpenStream(mic, AudioDirection::Capture);
    auto render = OpenStream(speakers, AudioDirection::Render);
    EXPECT_EQ(capture->BufferFrames(), kFrames);
    Loop loop(*capture, *render);
    loop.Start();

    ASSERT_TRUE(clock->Tick(7));
    EXPECT_EQ(mic->PeriodsMoved(), 7u);
    EXPECT_EQ(speakers->PeriodsMoved(), 7u);
    EXPECT_EQ(loop.SilentRenders(), 0) << "render ran before capture in a tick";
    loop.Stop();

    const auto captured = loop.Captured();
    ASSERT_EQ(captured.size(), 7u);
    const auto flags = loop.CaptureFlags();
    for (std::size_t k = 0; k < 7; ++k) {
        if (k < 5) {
            EXPECT_EQ(captured[k], Period(Stamped(5), k)) << k;
            EXPECT_EQ(flags[k], 0u);
        } else {
            EXPECT_EQ(captured[k], std::vector<std::int16_t>(kSamplesPerPeriod, 0));
            EXPECT_EQ(flags[k], kAudioBufferSilent);
        }
    }
    const auto rendered = speakers->Rendered();
    ASSERT_EQ(rendered.size(), 8 * kSamplesPerPeriod);
    EXPECT_EQ(Period(rendered, 0), std::vector<std::int16_t>(kSamplesPerPeriod, 0))
        << "the starting silence";
    for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(Period(rendered, k + 1), captured[k]) << k;
    }
}

// Drift: a render device whose clock runs 3 periods per 2 of the capture
// device gets silent periods, none are lost or invented on capture.
TEST(AudioVirtualEndpoint, RateSimulatesClockDrift) {
    auto clock = std::make_shared<VirtualAudioClock>();
    auto mic = std::make_shared<VirtualAudioDevice>();
    auto speakers = std::make_shared<VirtualAudioDevice>();
    mic->UseClock(clock);
    speakers->UseClock(clock);
    speakers->SetRate(3, 2);
    mic->SetCaptureSamples(Stamped(100));
    auto capture = OpenStream(mic, AudioDirection::Capture);
    auto render = OpenStream(speakers, AudioDirection::Render);
    Loop loop(*capture, *render);
    loop.Start();
    ASSERT_TRUE(clock->Tick(20));
    loop.Stop();
    EXPECT_EQ(mic->PeriodsMoved(), 20u);
    EXPECT_EQ(speakers->PeriodsMoved(), 30u);
    EXPECT_EQ(loop.SilentRenders(), 10);
}

TEST(AudioVirtualEndpoint, LoopedCaptureWrapsAround) {
    auto clock = std::make_shared<VirtualAudioClock>();
    auto mic = std::make_shared<VirtualAudioDevice>();
    auto speakers = std::make_shared<VirtualAudioDevice>();
    mic->UseClock(clock);
    speakers->UseClock(clock);
    mic->SetCaptureSamples(Stamped(2), true);
    auto capture = OpenStream(mic, AudioDirection::Capture);
    auto render = OpenStream(speakers, AudioDirection::Render);
    Loop loop(*capture, *render);
    loop.Start();
    ASSERT_TRUE(clock->Tick(5));
    loop.Stop();
    const auto captured = loop.Captured();
    ASSERT_EQ(captured.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(captured[k], Period(Stamped(2), k % 2)) << k;
    }
}

// Without a clock the device keeps the wall clock's pace.
TEST(AudioVirtualEndpoint, WallClockPacesPeriods) {
    auto mic = std::make_shared<VirtualAudioDevice>();
    mic->SetCaptureSamples(Stamped(20));
    auto capture = OpenStream(mic, AudioDirection::Capture);
    ASSERT_EQ(capture->Start(), kOk);
    Event shutdown;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < 10; ++k) {
        ASSERT_EQ(capture->Wait(shutdown, 5000), AudioWait::Ready);
        const std::byte* data;
        std::uint32_t frames, flags;
        ASSERT_EQ(capture->AcquireCapture(&data, &frames, &flags), kOk);
        capture->ReleaseCapture(frames);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10 * 16 - 2))
        << "periods came faster than the wall clock allows";
}

// The shutdown event ends a wait at once: before Start, during a stall, and
// it is claimed (auto-reset) by the wait that saw it.
TEST(AudioVirtualEndpoint, ShutdownEndsEveryWait) {
    auto clock = std::make_shared<VirtualAudioClock>();
    auto mic = std::make_shared<VirtualAudioDevice>();
    mic->UseClock(clock);
    auto capture = OpenStream(mic, AudioDirection::Capture);
    Event shutdown;
    shutdown.Set();
    EXPECT_EQ(capture->Wait(shutdown, 10000), AudioWait::Shutdown) << "not started";
    EXPECT_EQ(capture->Wait(shutdown, 20), AudioWait::TimedOut)
        << "the wait must have claimed the event";
    ASSERT_EQ(capture->Start(), kOk);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        shutdown.Set();
    });
    EXPECT_EQ(capture->Wait(shutdown), AudioWait::Shutdown) << "started, no tick";
    stopper.join();
}

// A stalled device delivers nothing more (waits time out, shutdown still
// works); a lost device fails the wait with its error.
TEST(AudioVirtualEndpoint, StallAndLossAreInjected) {
    struct Case {
        bool lose;
        AudioWait fourth;
        HResult error;
    };
    for (const Case c : {Case{false, AudioWait::TimedOut, kOk},
                         Case{true, AudioWait::Failed, kAudioDeviceInvalidated}}) {
        SCOPED_TRACE(c.lose ? "lose" : "stall");
        auto mic = std::make_shared<VirtualAudioDevice>();
        if (c.lose) {
            mic->LoseAfter(3);
        } else {
            mic->StallAfter(3);
        }
        auto capture = OpenStream(mic, AudioDirection::Capture);
        ASSERT_EQ(capture->Start(), kOk);
        Event shutdown;
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(capture->Wait(shutdown, 5000), AudioWait::Ready);
            const std::byte* data;
            std::uint32_t frames, flags;
            ASSERT_EQ(capture->AcquireCapture(&data, &frames, &flags), kOk);
            capture->ReleaseCapture(frames);
        }
        EXPECT_EQ(capture->Wait(shutdown, 100), c.fourth);
        EXPECT_EQ(capture->LastError(), c.error);
        shutdown.Set();
        if (!c.lose) {
            EXPECT_EQ(capture->Wait(shutdown, 5000), AudioWait::Shutdown);
        }
    }
}

TEST(AudioVirtualEndpoint, RefusedFormatMissingDeviceAndFailedStartAreReported) {
    auto refusing = std::make_shared<VirtualAudioDevice>();
    refusing->RefuseFormat(true);
    std::unique_ptr<AudioStream> stream;
    ASSERT_EQ(AudioEndpoint::Virtual(AudioDirection::Render, refusing)->Activate(&stream), kOk);
    EXPECT_EQ(stream->IsFormatSupported(kEngineAudioFormat), kAudioUnsupportedFormat);
    EXPECT_EQ(stream->Initialize(kEngineAudioFormat, 16), kAudioUnsupportedFormat);
    EXPECT_EQ(stream->BufferFrames(), 0u);
    EXPECT_EQ(stream->Start(), kAudioNotInitialized);

    auto missing = std::make_shared<VirtualAudioDevice>();
    missing->FailInitialize(kAudioDeviceNotFound);
    OpenStream(missing, AudioDirection::Capture, kAudioDeviceNotFound);

    auto failing = std::make_shared<VirtualAudioDevice>();
    failing->FailStart(kAudioDeviceInUse);
    auto s = OpenStream(failing, AudioDirection::Capture);
    EXPECT_EQ(s->Start(), kAudioDeviceInUse);
    EXPECT_FALSE(failing->Running());
}

// Misuse gets an error, never a crash or a silent success.
TEST(AudioVirtualEndpoint, ArgumentAndStateErrors) {
    auto device = std::make_shared<VirtualAudioDevice>();
    std::unique_ptr<AudioStream> render;
    ASSERT_EQ(AudioEndpoint::Virtual(AudioDirection::Render, device)->Activate(&render), kOk);
    EXPECT_EQ(render->Initialize(AudioFormat{48000, 2, 8}, 16), kInvalidArg);
    EXPECT_EQ(render->Initialize(AudioFormat{48000, 0, 16}, 16), kInvalidArg);
    EXPECT_EQ(render->Initialize(kEngineAudioFormat, 0), kInvalidArg);
    ASSERT_EQ(render->Initialize(kEngineAudioFormat, 32), kOk);
    EXPECT_EQ(render->BufferFrames(), 1536u);
    EXPECT_EQ(render->Initialize(kEngineAudioFormat, 16), kAudioAlreadyInitialized);
    std::byte* data = nullptr;
    EXPECT_EQ(render->AcquireRender(768, &data), kInvalidArg);
    EXPECT_EQ(render->ReleaseRender(1536, 0), kAudioBufferError) << "nothing acquired";
    const std::byte* in;
    std::uint32_t frames, flags;
    EXPECT_EQ(render->AcquireCapture(&in, &frames, &flags), kInvalidArg) << "a render stream";

    auto mic = std::make_shared<VirtualAudioDevice>();
    auto capture = OpenStream(mic, AudioDirection::Capture);
    EXPECT_EQ(capture->AcquireCapture(&in, &frames, &flags), kAudioNotRunning);
    EXPECT_EQ(capture->ReleaseCapture(768), kAudioBufferError);
    EXPECT_EQ(capture->Stop(), kOk) << "stopping a stream that does not run";
}

// Capture from any audio file (converted to the stream's format) and
// render into a WAV file that reads back as what was played.
TEST(AudioVirtualEndpoint, CaptureFromAFileAndRenderIntoAWavFile) {
    const auto folder = std::filesystem::path(::testing::TempDir()) / "vk_virtual_files";
    std::filesystem::create_directories(folder);
    const std::string voice = (folder / "voice.wav").string();
    const std::string out = (folder / "speakers.wav").string();
    MediaEncodeOptions options;
    options.sampleRate = 24000;
    options.channels = 1;
    std::vector<float> ramp(24000);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = 0.25f;  // a constant survives any rate conversion
    }
    ASSERT_EQ(EncodeAudioFile(voice, options, ramp), kOk);

    auto clock = std::make_shared<VirtualAudioClock>();
    auto mic = std::make_shared<VirtualAudioDevice>();
    auto speakers = std::make_shared<VirtualAudioDevice>();
    mic->UseClock(clock);
    speakers->UseClock(clock);
    mic->SetCaptureFile(voice);
    speakers->SetRenderFile(out);
    {
        auto capture = OpenStream(mic, AudioDirection::Capture);
        auto render = OpenStream(speakers, AudioDirection::Render);
        Loop loop(*capture, *render);
        loop.Start();
        ASSERT_TRUE(clock->Tick(10));
        loop.Stop();
        const auto captured = loop.Captured();
        ASSERT_EQ(captured.size(), 10u);
        EXPECT_EQ(captured[5][100], 8192) << "0.25 of full scale, on both channels";
        EXPECT_EQ(captured[5][101], 8192);
    }  // streams closed: the WAV file is written

    std::shared_ptr<MediaSource> source;
    ASSERT_EQ(MediaSource::Open(out, &source), kOk);
    std::unique_ptr<MediaReader> reader;
    ASSERT_EQ(MediaReader::Create(*source, {}, &reader), kOk);
    EXPECT_EQ(reader->OutputFormat(), kEngineAudioFormat);
    std::vector<std::int16_t> fromFile;
    std::vector<std::byte> chunk;
    while (reader->Read(&chunk) == kOk) {
        const std::size_t at = fromFile.size();
        fromFile.resize(at + chunk.size() / 2);
        std::memcpy(fromFile.data() + at, chunk.data(), chunk.size());
    }
    EXPECT_EQ(fromFile, speakers->Rendered());
    EXPECT_EQ(fromFile.size(), 11 * kSamplesPerPeriod);
    std::filesystem::remove_all(folder);
}

TEST(AudioVirtualEndpoint, RenderStoreKeepsItsCapacityAndCountsTheRest) {
    auto clock = std::make_shared<VirtualAudioClock>();
    auto speakers = std::make_shared<VirtualAudioDevice>();
    speakers->UseClock(clock);
    speakers->SetRenderCapacity(3 * kFrames);
    auto render = OpenStream(speakers, AudioDirection::Render);
    ASSERT_EQ(render->Start(), kOk);  // the starting silence is period 1
    Event shutdown;
    for (int k = 0; k < 4; ++k) {
        std::byte* data;
        ASSERT_EQ(render->AcquireRender(kFrames, &data), kOk);
        std::memset(data, 1, kFrames * 4);
        ASSERT_EQ(render->ReleaseRender(kFrames, 0), kOk);
    }
    EXPECT_EQ(speakers->RenderedFrames(), 3 * kFrames);
    EXPECT_EQ(speakers->DroppedFrames(), 2 * kFrames);
}

// The player opens whatever the defaults name; tests put a virtual device there.
TEST(AudioVirtualEndpoint, DefaultEndpointCanBeReplaced) {
    EXPECT_EQ(AudioEndpoint::Default(AudioDirection::Capture)->Describe(), "alsa:default");
    auto mic = std::make_shared<VirtualAudioDevice>("test-mic");
    AudioEndpoint::SetDefault(AudioDirection::Capture,
                              AudioEndpoint::Virtual(AudioDirection::Capture, mic));
    EXPECT_EQ(AudioEndpoint::Default(AudioDirection::Capture)->Describe(), "virtual:test-mic");
    EXPECT_EQ(AudioEndpoint::Default(AudioDirection::Render)->Describe(), "alsa:default");
    AudioEndpoint::SetDefault(AudioDirection::Capture, nullptr);
    EXPECT_EQ(AudioEndpoint::Default(AudioDirection::Capture)->Describe(), "alsa:default");
}

}  // namespace
