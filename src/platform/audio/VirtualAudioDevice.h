#pragma once
// A sound card in memory: the virtual backend of the audio endpoints.
//
// Capture delivers frames from a buffer or an audio file (loaded and
// converted to the stream's format when the stream is initialised), then
// silence, or loops. Render keeps every period written, up to a capacity
// fixed before the stream starts, and can write them to a WAV file when the
// stream is destroyed. Nothing on the audio thread allocates or touches a
// file.
//
// Pacing: by the wall clock (one period every period length, by default)
// or by a VirtualAudioClock that the test ticks by hand. A rate of num/den
// periods per period length (or per tick) simulates clock drift between a
// capture and a render device. Faults: refuse the format, a missing or busy
// device, a stall or a device loss after some periods, a failing start.
//
// The settings are read when a stream initialises or starts; change them
// only while no stream of the device runs. Counters and Rendered() may be
// read at any time.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {

class VirtualAudioDevice;
struct VirtualStream;
struct VirtualBackendOps;

// Manual pacing shared by several virtual devices. Tick() makes one more
// period due on every device that uses the clock: first on the capture
// devices, and once their threads have moved it, on the render devices; it
// returns when every running device has moved what is due and is waiting
// again (or when timeoutMs passed: false).
class VirtualAudioClock {
  public:
    VirtualAudioClock();
    ~VirtualAudioClock();
    VirtualAudioClock(const VirtualAudioClock&) = delete;
    VirtualAudioClock& operator=(const VirtualAudioClock&) = delete;

    bool Tick(unsigned periods = 1, int timeoutMs = 10000);
    std::uint64_t Ticks() const noexcept { return ticks_.load(); }

  private:
    friend struct VirtualStream;
    friend struct VirtualBackendOps;
    void Attach(VirtualStream* stream);
    void Detach(VirtualStream* stream);

    std::atomic<std::uint64_t> ticks_{0};
    std::mutex mutex_;
    std::vector<VirtualStream*> streams_;
};

class VirtualAudioDevice {
  public:
    explicit VirtualAudioDevice(std::string name = "virtual");
    ~VirtualAudioDevice();
    VirtualAudioDevice(const VirtualAudioDevice&) = delete;
    VirtualAudioDevice& operator=(const VirtualAudioDevice&) = delete;

    const std::string& Name() const noexcept { return name_; }

    // Capture content: interleaved 16-bit frames in the stream's format.
    // Delivery goes on where the last stream of the device stopped (a
    // pause and resume does not start again from the top).
    void SetCaptureSamples(std::vector<std::int16_t> samples, bool loop = false);
    // Any file the media decoder reads; decoded (to the stream's format)
    // when a stream initialises; one that cannot be read makes Initialize
    // fail with its error.
    void SetCaptureFile(std::string path, bool loop = false);
    // Frames delivered by capture streams so far.
    std::size_t CapturedFrames() const noexcept { return capturePos_.load(); }

    // Render sink: keeps up to capacityFrames frames over all streams of
    // the device (further periods are counted in DroppedFrames()); the
    // store is allocated when the first stream initialises. A non-empty
    // path rewrites everything kept as a WAV file whenever a stream is
    // destroyed. The silent period a render stream starts on is kept too.
    void SetRenderCapacity(std::size_t capacityFrames);
    void SetRenderFile(std::string wavPath);
    // Everything rendered so far (interleaved 16-bit); copies.
    std::vector<std::int16_t> Rendered() const;
    std::size_t RenderedFrames() const noexcept { return renderedFrames_.load(); }
    std::size_t DroppedFrames() const noexcept { return droppedFrames_.load(); }

    // Pacing. Without a clock the device runs on the wall clock.
    void UseClock(std::shared_ptr<VirtualAudioClock> clock);
    // num periods per den period lengths (or ticks); 1/1 by default.
    void SetRate(unsigned num, unsigned den);

    // Faults.
    void RefuseFormat(bool refuse);      // Initialize/IsFormatSupported: kAudioUnsupportedFormat
    void FailInitialize(HResult error);  // kOk clears; e.g. kAudioDeviceNotFound
    void FailStart(HResult error);       // kOk clears
    void StallAfter(std::uint64_t periods);  // no period is ready after that many; 0 clears
    void LoseAfter(std::uint64_t periods);   // kAudioDeviceInvalidated after that many; 0 clears

    // Counters since construction.
    std::uint64_t PeriodsMoved() const noexcept { return moved_.load(); }
    unsigned Initializations() const noexcept { return inits_.load(); }
    unsigned Starts() const noexcept { return starts_.load(); }
    bool Running() const noexcept { return running_.load(); }

  private:
    friend class VirtualAudioClock;
    friend struct VirtualStream;
    friend struct VirtualBackendOps;

    std::string name_;
    mutable std::mutex mutex_;  // settings and the render sink's copy-out

    std::vector<std::int16_t> captureSamples_;
    std::string capturePath_;
    std::string decodedPath_;  // captureSamples_ hold this file, decoded
    AudioFormat decodedFormat_{};
    bool captureLoop_ = false;
    std::atomic<std::size_t> capturePos_{0};  // frames

    std::size_t renderCapacity_ = 48000 * 60;
    std::string renderPath_;
    std::unique_ptr<std::int16_t[]> rendered_;  // renderStoreFrames_ x renderChannels_
    std::size_t renderStoreFrames_ = 0;
    unsigned renderChannels_ = 0;
    std::atomic<std::size_t> renderedFrames_{0};
    std::atomic<std::size_t> droppedFrames_{0};

    std::shared_ptr<VirtualAudioClock> clock_;
    unsigned rateNum_ = 1;
    unsigned rateDen_ = 1;

    bool refuseFormat_ = false;
    HResult failInitialize_ = kOk;
    HResult failStart_ = kOk;
    std::uint64_t stallAfter_ = 0;
    std::uint64_t loseAfter_ = 0;

    std::atomic<std::uint64_t> moved_{0};
    std::atomic<unsigned> inits_{0};
    std::atomic<unsigned> starts_{0};
    std::atomic<bool> running_{false};
};

}  // namespace platform
