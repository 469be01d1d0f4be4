#pragma once
// Media decoding on FFmpeg: opening a media file, reading its first audio
// stream as PCM, rate conversion, and (for fixtures and tools) encoding.
//
// MediaSource is an opened, probed file: what a player resolves from a
// path and hands to a decoder. Each MediaReader opens its own demuxer on
// the source's path, so one source may feed several readers on several
// threads; the source itself is immutable after Open.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {

struct MediaAudioInfo {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;  // of the decoded samples (0 when unknown)
    bool pcm = false;                 // the stream is uncompressed PCM
    bool floatingPoint = false;       // the decoded samples are floats
    std::string codec;                // "mp3", "pcm_s16le", ...
};

class MediaSource {
  public:
    // Opens and probes a file (UTF-8 path). kNotFound when it does not
    // exist, kAccessDenied when it cannot be read, kMediaInvalidFile when no
    // demuxer recognises it. A file without an audio stream opens; readers
    // on it fail with kMediaNoAudioStream.
    static HResult Open(const std::string& path, std::shared_ptr<MediaSource>* source);

    const std::string& Path() const noexcept { return path_; }
    bool HasAudio() const noexcept { return audioStream_ >= 0; }
    // The first audio stream in the file (not the "best" one).
    int AudioStreamIndex() const noexcept { return audioStream_; }
    const MediaAudioInfo& Audio() const noexcept { return audio_; }
    // Of the container, or of the audio stream; 0 when unknown.
    std::int64_t DurationMs() const noexcept { return durationMs_; }

    // The demuxer that probed the file, for the first reader to take over
    // (it saves a second probe); nullptr once taken. Private to the facility.
    struct Demuxer;
    std::unique_ptr<Demuxer> TakeDemuxer() const;

    MediaSource();
    ~MediaSource();
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

  private:
    mutable std::mutex demuxerMutex_;
    mutable std::unique_ptr<Demuxer> demuxer_;
    std::string path_;
    int audioStream_ = -1;
    MediaAudioInfo audio_;
    std::int64_t durationMs_ = 0;
};

}  // namespace platform
