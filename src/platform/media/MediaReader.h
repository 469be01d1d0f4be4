#pragma once
// Reads the first audio stream of a source as interleaved PCM, one decoded
// frame at a time, until the decoder is drained at the end of the stream.
//
// The output keeps the source's sample rate (rate conversion is
// PcmResampler's job) in the layout asked for: by default 2 channels of
// 16-bit integers. Mono is copied to both channels at full level; more
// channels are mixed down by FFmpeg's matrix. A mid-stream change of rate
// or layout is converted back to the first one, so the output format never
// changes. Not thread-safe: one thread reads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"
#include "platform/media/MediaSource.h"

namespace platform {

struct MediaReaderOptions {
    std::uint16_t channels = 2;
    std::uint16_t bitsPerSample = 16;  // 16, or 32 with floatingPoint
    bool floatingPoint = false;
};

class MediaReader {
  public:
    ~MediaReader();
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;

    // kMediaNoAudioStream, kMediaUnsupportedType (no decoder), kInvalidArg
    // (a layout not offered above), or the error of opening the file.
    static HResult Create(const MediaSource& source, const MediaReaderOptions& options,
                          std::unique_ptr<MediaReader>* reader);

    // The source's rate in the requested layout.
    const AudioFormat& OutputFormat() const noexcept { return output_; }

    // Replaces *pcm with the next decoded samples (possibly none: call
    // again). kMediaEndOfStream once everything, the decoder's delay
    // included, has been delivered. A read or decode error that ends the
    // stream early is returned once as its own error; after it, and after
    // the end, every call returns kMediaEndOfStream.
    HResult Read(std::vector<std::byte>* pcm);

    // Frames delivered so far.
    std::uint64_t FramesRead() const noexcept { return framesRead_; }

  private:
    struct Impl;
    explicit MediaReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    AudioFormat output_{};
    std::uint64_t framesRead_ = 0;
};

}  // namespace platform
