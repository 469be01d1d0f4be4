#pragma once
// Private to the media facility: FFmpeg headers, owners for its objects,
// and the mapping of its errors to the facility's result codes.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <memory>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"
#include "platform/media/MediaSource.h"

namespace platform::media {

struct FormatInputCloser {
    void operator()(AVFormatContext* c) const noexcept { avformat_close_input(&c); }
};
struct CodecContextCloser {
    void operator()(AVCodecContext* c) const noexcept { avcodec_free_context(&c); }
};
struct SwrCloser {
    void operator()(SwrContext* c) const noexcept { swr_free(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};

using InputPtr = std::unique_ptr<AVFormatContext, FormatInputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecContextCloser>;
using SwrPtr = std::unique_ptr<SwrContext, SwrCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;

// Keeps FFmpeg's own log quiet (it would write to stderr) once per process.
void QuietLibraryLog() noexcept;

// An AVERROR of opening or reading a file as the facility's code.
HResult FromAvError(int averror) noexcept;

// Opens and probes a file; the first audio stream's index in *audioStream
// (-1 when there is none).
HResult OpenInput(const char* path, InputPtr* input, int* audioStream);

// Packed FFmpeg sample format of an AudioFormat, AV_SAMPLE_FMT_NONE when
// there is none (16-bit integers and 32-bit floats are offered).
AVSampleFormat PackedSampleFormat(const AudioFormat& format) noexcept;

// A resampler between two layouts and rates. Mono to stereo copies the
// channel at full level on both sides (FFmpeg's own matrix would lower it
// by 3 dB).
HResult MakeSwr(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate,
                const AVChannelLayout& outLayout, AVSampleFormat outFormat, int outRate,
                SwrPtr* swr);

}  // namespace platform::media

namespace platform {
struct MediaSource::Demuxer {
    media::InputPtr input;
};
}  // namespace platform
