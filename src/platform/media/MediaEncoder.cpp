#include "platform/media/MediaEncoder.h"

#include <cstdio>

#include "platform/media/FfmpegCommon.h"

namespace platform {

namespace {

struct OutputCloser {
    void operator()(AVFormatContext* c) const noexcept {
        if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&c->pb);
        }
        avformat_free_context(c);
    }
};

HResult WritePackets(AVCodecContext* codec, AVFormatContext* out, AVStream* stream,
                     AVPacket* packet) {
    for (;;) {
        int err = avcodec_receive_packet(codec, packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return kOk;
        }
        if (err < 0) {
            return kFail;
        }
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        err = av_interleaved_write_frame(out, packet);
        if (err < 0) {
            return media::FromAvError(err);
        }
    }
}

}  // namespace

bool HasAudioEncoder(const std::string& codec) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(codec.c_str());
    return encoder != nullptr && encoder->type == AVMEDIA_TYPE_AUDIO;
}

HResult EncodeAudioFile(const std::string& path, const MediaEncodeOptions& options,
                        std::span<const float> samples) {
    media::QuietLibraryLog();
    if (options.channels == 0 || options.sampleRate == 0 ||
        samples.size() % options.channels != 0) {
        return kInvalidArg;
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name(options.codec.c_str());
    if (encoder == nullptr || encoder->type != AVMEDIA_TYPE_AUDIO) {
        return kMediaUnsupportedType;
    }
    AVFormatContext* rawOut = nullptr;
    if (avformat_alloc_output_context2(&rawOut, nullptr, options.container.c_str(), path.c_str()) <
            0 ||
        rawOut == nullptr) {
        return kMediaUnsupportedType;
    }
    std::unique_ptr<AVFormatContext, OutputCloser> out(rawOut);
    AVStream* stream = avformat_new_stream(out.get(), nullptr);
    media::CodecPtr codec(avcodec_alloc_context3(encoder));
    media::PacketPtr packet(av_packet_alloc());
    media::FramePtr frame(av_frame_alloc());
    if (stream == nullptr || !codec || !packet || !frame) {
        return kOutOfMemory;
    }
    codec->sample_rate = static_cast<int>(options.sampleRate);
    av_channel_layout_default(&codec->ch_layout, options.channels);
    codec->sample_fmt =
        encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    codec->time_base = AVRational{1, codec->sample_rate};
    if (options.bitRate > 0) {
        codec->bit_rate = options.bitRate;
    }
    if (out->oformat->flags & AVFMT_GLOBALHEADER) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(codec.get(), encoder, nullptr) < 0) {
        return kMediaUnsupportedType;
    }
    if (avcodec_parameters_from_context(stream->codecpar, codec.get()) < 0) {
        return kFail;
    }
    stream->time_base = codec->time_base;
    std::remove(path.c_str());
    int err = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) {
        return media::FromAvError(err);
    }
    if (avformat_write_header(out.get(), nullptr) < 0) {
        return kFail;
    }

    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, options.channels);
    media::SwrPtr swr;
    HResult hr = media::MakeSwr(inLayout, AV_SAMPLE_FMT_FLT, codec->sample_rate, codec->ch_layout,
                                codec->sample_fmt, codec->sample_rate, &swr);
    av_channel_layout_uninit(&inLayout);
    if (Failed(hr)) {
        return hr;
    }

    const bool variable = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    const bool smallLast = (encoder->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    const int frameSize = codec->frame_size > 0 && !variable ? codec->frame_size : 1024;
    const std::size_t totalFrames = samples.size() / options.channels;
    std::int64_t pts = 0;
    for (std::size_t at = 0; at < totalFrames; at += static_cast<std::size_t>(frameSize)) {
        const std::size_t left = totalFrames - at;
        int n = left < static_cast<std::size_t>(frameSize) ? static_cast<int>(left) : frameSize;
        const int allocated = (n < frameSize && !variable && !smallLast) ? frameSize : n;
        av_frame_unref(frame.get());
        frame->format = codec->sample_fmt;
        frame->sample_rate = codec->sample_rate;
        frame->nb_samples = allocated;
        if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0) {
            return kOutOfMemory;
        }
        av_samples_set_silence(frame->extended_data, 0, allocated, options.channels,
                               codec->sample_fmt);
        const std::uint8_t* in[1] = {
            reinterpret_cast<const std::uint8_t*>(samples.data() + at * options.channels)};
        if (swr_convert(swr.get(), frame->extended_data, n, in, n) < 0) {
            return kFail;
        }
        frame->pts = pts;
        pts += allocated;
        if (avcodec_send_frame(codec.get(), frame.get()) < 0) {
            return kFail;
        }
        hr = WritePackets(codec.get(), out.get(), stream, packet.get());
        if (Failed(hr)) {
            return hr;
        }
    }
    avcodec_send_frame(codec.get(), nullptr);
    hr = WritePackets(codec.get(), out.get(), stream, packet.get());
    if (Failed(hr)) {
        return hr;
    }
    if (av_write_trailer(out.get()) < 0) {
        return kFail;
    }
    return kOk;
}

}  // namespace platform
