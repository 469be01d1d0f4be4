#pragma once
// The capture and render clients as the player drives them, and the
// listener they report to. The engine's clients sit on the platform's audio
// endpoints; tests put their own behind the same interfaces.
#include <cstdint>
#include <memory>

#include "audio/AudioResult.h"
#include "karaoke/context/WaveFormat.h"
#include "platform/audio/AudioFormat.h"

namespace platform {
class Event;
class MediaSource;
}  // namespace platform

// The endpoint format that carries the engine's wave format.
inline platform::AudioFormat ToEndpointFormat(const WaveFormat& wave) {
    platform::AudioFormat format;
    format.sampleRate = wave.samplesPerSec;
    format.channels = wave.channels;
    format.bitsPerSample = wave.bitsPerSample;
    return format;
}

inline constexpr int kPlayerEventStarted = 1;
inline constexpr int kPlayerEventPaused = 2;
inline constexpr int kPlayerEventStopped = 3;
inline constexpr int kPlayerEventEndOfSong = 4;

class IKaraokePlayerListener {
  public:
    virtual ~IKaraokePlayerListener() = default;
    virtual void OnPlayerEvent(int event) = 0;
    virtual void OnPlayerNotify(int a, int b, int c) = 0;
};

// Both clients: InitializeClient opens the device (periods of the block
// duration); StartClient starts the thread and the device (resume: opens it
// again first, a pause gave it up); StopClient stops and joins the thread
// and releases the device (pause: the mixer keeps its place). Events 1 to 3
// go to the listener on the calling thread. ReleaseClient gives up what
// InitializeClient took without any event, for a start that failed later.
class ICaptureClient {
  public:
    virtual ~ICaptureClient() = default;
    // startEvent (not owned) is signalled after every captured block.
    virtual AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) = 0;
    virtual AudioResult StartClient(bool resume) = 0;
    virtual AudioResult StopClient(bool pause) = 0;
    virtual void ReleaseClient() = 0;
    virtual void SetListener(IKaraokePlayerListener* listener) = 0;
};

class IRenderClient {
  public:
    virtual ~IRenderClient() = default;
    // startEvent null: a replay, the render side starts on its own.
    virtual AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) = 0;
    virtual AudioResult StartClient(bool resume) = 0;
    // Without the pause flag this also stops the mixer.
    virtual AudioResult StopClient(bool pause) = 0;
    virtual void ReleaseClient() = 0;
    virtual void SetListener(IKaraokePlayerListener* listener) = 0;

    // The song's length: the render thread ends by itself, with exit code
    // 1, once the mixer's position reaches it. Set before StartClient; the
    // render thread reads only this value, never the controller.
    virtual void SetSongDuration(std::int64_t ms) = 0;
    // Blocks until the render thread of the latest start has ended and
    // returns its exit code (1: the song ended; 0: stopped or failed). Only
    // waits; joining the thread stays with StopClient. Returns 0 at once
    // when no thread was started.
    virtual int WaitForThreadEnd() = 0;

    // The decoders of the backing track (index 0) and, in a replay, of the
    // voice recording (index 1).
    virtual AudioResult SetSource(std::shared_ptr<const platform::MediaSource> source,
                                  int index) = 0;
    virtual AudioResult StartSources() = 0;
    virtual AudioResult StopSources() = 0;
};
