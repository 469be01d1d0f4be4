#pragma once
// Audio endpoints: the capture and render devices that the engine's clients
// open in the engine's format with fixed, event-driven periods.
//
// The client owns the thread, the loop and the timing. An endpoint only
// opens its device, waits until one period can be moved, moves exactly one
// period, and closes. A period is always the length asked for at
// Initialize (16 ms = 768 frames at 48000 Hz); when the device grants
// another period size the backend re-blocks, so BufferFrames() is always
// that length and no alignment retry is ever needed.
//
// Backends: ALSA (the default; "default", "pulse", "hw:0,0", ...) and a
// virtual device (VirtualAudioDevice.h) that captures from a buffer or file
// and renders into one, for tests and headless runs. A "hw:" device is
// used exclusively and must take the format as it is (a refusal is
// kAudioUnsupportedFormat); plugin devices may convert. A device behind a
// sound server may take half a second or more before it drains its first
// periods: a time-out that detects a stalled device should be seconds long.
//
// A capture thread:
//     for (;;) {
//         AudioWait w = stream.Wait(shutdown);
//         if (w == AudioWait::Shutdown) break;
//         if (w != AudioWait::Ready) { hr = stream.LastError(); break; }
//         const std::byte* data; std::uint32_t frames; std::uint32_t flags;
//         if (stream.AcquireCapture(&data, &frames, &flags) != kOk) continue;
//         ... frames * format.BytesPerFrame() bytes at data ...
//         stream.ReleaseCapture(frames);
//     }
// A render thread: Wait as above, AcquireRender(BufferFrames(), &data),
// fill it, ReleaseRender(BufferFrames(), written ? 0 : kAudioBufferSilent).
//
// Threads: Activate, IsFormatSupported, Initialize, Start, Stop and the
// destructor run on the controlling thread. Wait, Acquire* and Release* run
// on the one audio thread of the stream; they never allocate, log, touch
// files or take locks. Stop may be called while the audio thread is inside
// Wait (signal the shutdown event first, then Stop, then join the thread);
// the stream is destroyed only after its audio thread has ended.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {

class Event;
class VirtualAudioDevice;
struct AudioBackend;
struct AudioBackendState;

enum class AudioDirection { Capture, Render };

// Release flag: the period holds nothing; the endpoint plays zeros.
// Capture flag: the device delivered silence (the data is zeros).
inline constexpr std::uint32_t kAudioBufferSilent = 0x2;

enum class AudioWait {
    Ready,     // one period can be read (capture) or written (render)
    Shutdown,  // the shutdown event was set; the wait claimed it
    TimedOut,  // nothing within the time-out
    Failed,    // the device failed (lost, not started); LastError() says why
};

class AudioStream;

// Names one device in one direction (what the system's default capture or
// render device is to the player). Cheap to copy around; opens nothing.
class AudioEndpoint : public std::enable_shared_from_this<AudioEndpoint> {
  public:
    // The device the player uses: ALSA "default" unless SetDefault chose
    // another (the program's settings, or a test's virtual device).
    static std::shared_ptr<AudioEndpoint> Default(AudioDirection direction);
    // nullptr restores ALSA "default". Call before any player exists.
    static void SetDefault(AudioDirection direction, std::shared_ptr<AudioEndpoint> endpoint);

    static std::shared_ptr<AudioEndpoint> Alsa(AudioDirection direction, std::string deviceName);
    static std::shared_ptr<AudioEndpoint> Virtual(AudioDirection direction,
                                                  std::shared_ptr<VirtualAudioDevice> device);

    AudioDirection Direction() const noexcept { return direction_; }
    // "alsa:default", "virtual:<name>" ...
    std::string Describe() const;

    // A stream on this endpoint, not yet initialised. Opens no device.
    HResult Activate(std::unique_ptr<AudioStream>* stream) const;

    AudioEndpoint(const AudioBackend& backend, AudioDirection direction, std::string deviceName,
                  std::shared_ptr<VirtualAudioDevice> device);

  private:
    friend class AudioStream;
    const AudioBackend* backend_;
    AudioDirection direction_;
    std::string deviceName_;
    std::shared_ptr<VirtualAudioDevice> virtual_;
};

// One opened device. See the top of this file for the loop and threads.
class AudioStream {
  public:
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // kOk when the device takes the format exactly (no conversion by the
    // system), kAudioUnsupportedFormat when it refuses, or the error that
    // kept the device from opening (kAudioDeviceNotFound, kAudioDeviceInUse).
    HResult IsFormatSupported(const AudioFormat& format);

    // Opens the device in the format with periods of periodMs (whole
    // frames). Errors: kAudioAlreadyInitialized, kInvalidArg (not 16-bit,
    // no channels, a period under 1 ms), kAudioUnsupportedFormat,
    // kAudioDeviceNotFound, kAudioDeviceInUse, kFail. Never blocks on a busy
    // or missing device.
    HResult Initialize(const AudioFormat& format, std::uint32_t periodMs);

    // Frames in one period (768 for 16 ms at 48000 Hz); 0 before Initialize.
    std::uint32_t BufferFrames() const noexcept { return periodFrames_; }
    const AudioFormat& Format() const noexcept { return format_; }

    // Starts the device. A render stream plays first what was written
    // before Start (AcquireRender/ReleaseRender work before Start), or one
    // period of silence when nothing was. kAudioNotInitialized before
    // Initialize. Start after Stop restarts.
    HResult Start();
    // Stops the device. kOk also when it was not running.
    HResult Stop();

    // Waits until one period can be moved or the shutdown event is set
    // (shutdown wins when both are). timeoutMs < 0 waits for ever. Recovers
    // over- and underruns by itself (counted in XrunCount()).
    AudioWait Wait(Event& shutdown, int timeoutMs = -1) noexcept;
    HResult LastError() const noexcept { return lastError_.load(std::memory_order_relaxed); }

    // One whole period: kOk with *frames = BufferFrames(); kAudioBufferEmpty
    // when no whole period is there yet (wait again, release nothing);
    // kAudioDeviceInvalidated when the device is gone; kAudioNotRunning when
    // the stream is not started. The data stays valid until ReleaseCapture.
    HResult AcquireCapture(const std::byte** data, std::uint32_t* frames,
                           std::uint32_t* flags) noexcept;
    HResult ReleaseCapture(std::uint32_t frames) noexcept;

    // frames must be BufferFrames() (else kInvalidArg). The buffer holds
    // stale data: the caller writes all of it or releases it silent.
    // Releasing 0 frames sends nothing.
    HResult AcquireRender(std::uint32_t frames, std::byte** data) noexcept;
    // Sends the period to the device; kAudioBufferSilent sends zeros.
    HResult ReleaseRender(std::uint32_t frames, std::uint32_t flags) noexcept;

    // Over- and underruns recovered since Initialize.
    std::uint32_t XrunCount() const noexcept { return xruns_.load(std::memory_order_relaxed); }

  private:
    friend class AudioEndpoint;
    explicit AudioStream(std::shared_ptr<const AudioEndpoint> endpoint);

    std::shared_ptr<const AudioEndpoint> endpoint_;
    AudioBackendState* state_ = nullptr;
    AudioFormat format_{};
    std::uint32_t periodFrames_ = 0;
    std::unique_ptr<std::byte[]> period_;
    std::atomic<bool> running_{false};
    bool acquired_ = false;
    std::uint32_t queued_ = 0;  // render periods written ahead of Start
    std::atomic<HResult> lastError_{kOk};
    std::atomic<std::uint32_t> xruns_{0};
};

}  // namespace platform
