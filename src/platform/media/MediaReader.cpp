#include "platform/media/MediaReader.h"

#include <limits>

#include "platform/media/FfmpegCommon.h"

namespace platform {

namespace {

// A damaged frame is skipped, as players do; a stream that keeps failing
// ends where it fails.
constexpr int kMaxBadPacketsInARow = 32;

}  // namespace

struct MediaReader::Impl {
    media::InputPtr input;
    media::CodecPtr codec;
    media::SwrPtr swr;
    media::PacketPtr packet;
    media::FramePtr frame;
    int stream = -1;
    AVChannelLayout outLayout{};
    AVSampleFormat outFormat = AV_SAMPLE_FMT_S16;
    int outRate = 0;
    // What the resampler was built for; a frame that differs rebuilds it.
    AVChannelLayout inLayout{};
    AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;
    int inRate = 0;
    bool draining = false;  // the demuxer is at its end, the decoder empties
    bool done = false;
    HResult pendingError = kOk;
    int badPackets = 0;

    ~Impl() {
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&inLayout);
    }

    HResult Convert(const AVFrame* in, std::vector<std::byte>* out);
    HResult FlushSwr(std::vector<std::byte>* out);
    HResult AppendSwr(const std::uint8_t* const* data, int frames, std::vector<std::byte>* out);
};

HResult MediaReader::Impl::AppendSwr(const std::uint8_t* const* data, int frames,
                                     std::vector<std::byte>* out) {
    int room = swr_get_out_samples(swr.get(), frames);
    if (room < 0) {
        return kFail;
    }
    if (room == 0) {
        return kOk;
    }
    const std::size_t bytesPerFrame = static_cast<std::size_t>(av_get_bytes_per_sample(outFormat)) *
                                      static_cast<std::size_t>(outLayout.nb_channels);
    const std::size_t used = out->size();
    out->resize(used + static_cast<std::size_t>(room) * bytesPerFrame);
    std::uint8_t* dst = reinterpret_cast<std::uint8_t*>(out->data() + used);
    int got = swr_convert(swr.get(), &dst, room, const_cast<const std::uint8_t**>(data), frames);
    if (got < 0) {
        out->resize(used);
        return kFail;
    }
    out->resize(used + static_cast<std::size_t>(got) * bytesPerFrame);
    return kOk;
}

HResult MediaReader::Impl::FlushSwr(std::vector<std::byte>* out) {
    if (!swr) {
        return kOk;
    }
    for (;;) {
        const std::size_t before = out->size();
        HResult hr = AppendSwr(nullptr, 0, out);
        if (Failed(hr)) {
            return hr;
        }
        if (out->size() == before) {
            return kOk;
        }
    }
}

HResult MediaReader::Impl::Convert(const AVFrame* in, std::vector<std::byte>* out) {
    auto format = static_cast<AVSampleFormat>(in->format);
    if (!swr || format != inFormat || in->sample_rate != inRate ||
        av_channel_layout_compare(&in->ch_layout, &inLayout) != 0) {
        // A new layout or rate mid-stream: empty the old converter, then
        // convert the new input to the same output.
        HResult hr = FlushSwr(out);
        if (Failed(hr)) {
            return hr;
        }
        AVChannelLayout layout{};
        if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || in->ch_layout.nb_channels <= 0) {
            av_channel_layout_default(
                &layout, in->ch_layout.nb_channels > 0 ? in->ch_layout.nb_channels : 1);
        } else if (av_channel_layout_copy(&layout, &in->ch_layout) < 0) {
            return kOutOfMemory;
        }
        hr = media::MakeSwr(layout, format, in->sample_rate, outLayout, outFormat, outRate, &swr);
        if (Failed(hr)) {
            av_channel_layout_uninit(&layout);
            return hr;
        }
        av_channel_layout_uninit(&inLayout);
        inLayout = layout;
        inFormat = format;
        inRate = in->sample_rate;
    }
    return AppendSwr(in->extended_data, in->nb_samples, out);
}

MediaReader::MediaReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaReader::~MediaReader() = default;

HResult MediaReader::Create(const MediaSource& source, const MediaReaderOptions& options,
                            std::unique_ptr<MediaReader>* reader) {
    if (reader == nullptr || options.channels == 0 || options.channels > 8) {
        return kInvalidArg;
    }
    AudioFormat out{0, options.channels, options.bitsPerSample, options.floatingPoint};
    AVSampleFormat outFormat = media::PackedSampleFormat(out);
    if (outFormat == AV_SAMPLE_FMT_NONE) {
        return kInvalidArg;
    }
    auto impl = std::make_unique<Impl>();
    if (auto demuxer = source.TakeDemuxer()) {
        impl->input = std::move(demuxer->input);
        impl->stream = source.AudioStreamIndex();
    } else {
        HResult hr = media::OpenInput(source.Path().c_str(), &impl->input, &impl->stream);
        if (Failed(hr)) {
            return hr;
        }
    }
    if (impl->stream < 0) {
        return kMediaNoAudioStream;
    }
    for (unsigned i = 0; i < impl->input->nb_streams; ++i) {
        if (static_cast<int>(i) != impl->stream) {
            impl->input->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    AVStream* stream = impl->input->streams[impl->stream];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr || stream->codecpar->sample_rate <= 0) {
        return kMediaUnsupportedType;
    }
    impl->codec.reset(avcodec_alloc_context3(decoder));
    if (!impl->codec) {
        return kOutOfMemory;
    }
    if (avcodec_parameters_to_context(impl->codec.get(), stream->codecpar) < 0) {
        return kMediaUnsupportedType;
    }
    impl->codec->pkt_timebase = stream->time_base;
    if (avcodec_open2(impl->codec.get(), decoder, nullptr) < 0) {
        return kMediaUnsupportedType;
    }
    impl->packet.reset(av_packet_alloc());
    impl->frame.reset(av_frame_alloc());
    if (!impl->packet || !impl->frame) {
        return kOutOfMemory;
    }
    av_channel_layout_default(&impl->outLayout, options.channels);
    impl->outFormat = outFormat;
    impl->outRate = stream->codecpar->sample_rate;
    out.sampleRate = static_cast<std::uint32_t>(impl->outRate);

    reader->reset(new MediaReader(std::move(impl)));
    (*reader)->output_ = out;
    return kOk;
}

HResult MediaReader::Read(std::vector<std::byte>* pcm) {
    if (pcm == nullptr) {
        return kInvalidArg;
    }
    pcm->clear();
    Impl& d = *impl_;
    const std::size_t bytesPerFrame = output_.BytesPerFrame();
    for (;;) {
        if (d.done) {
            if (d.pendingError != kOk) {
                HResult error = d.pendingError;
                d.pendingError = kOk;
                return error;
            }
            return kMediaEndOfStream;
        }
        int err = avcodec_receive_frame(d.codec.get(), d.frame.get());
        if (err == 0) {
            HResult hr = d.Convert(d.frame.get(), pcm);
            av_frame_unref(d.frame.get());
            if (Failed(hr)) {
                d.done = true;
                d.pendingError = hr;
                continue;
            }
            framesRead_ += pcm->size() / bytesPerFrame;
            return kOk;
        }
        if (err == AVERROR_EOF || (err == AVERROR(EAGAIN) && d.draining)) {
            // Decoder drained: what the converter still holds ends the stream.
            d.done = true;
            HResult hr = d.FlushSwr(pcm);
            if (Failed(hr) && d.pendingError == kOk) {
                d.pendingError = hr;
            }
            if (!pcm->empty()) {
                framesRead_ += pcm->size() / bytesPerFrame;
                return kOk;
            }
            continue;
        }
        if (err != AVERROR(EAGAIN)) {
            // A decoder that fails outright: drain what it has and end.
            if (++d.badPackets > kMaxBadPacketsInARow) {
                d.done = true;
                d.pendingError = kMediaInvalidFile;
                continue;
            }
            continue;
        }
        err = av_read_frame(d.input.get(), d.packet.get());
        if (err < 0) {
            // End of the file, or a read error (a truncated file): decode
            // what was read, then end.
            if (err != AVERROR_EOF) {
                d.pendingError = media::FromAvError(err);
            }
            d.draining = true;
            avcodec_send_packet(d.codec.get(), nullptr);
            continue;
        }
        if (d.packet->stream_index != d.stream) {
            av_packet_unref(d.packet.get());
            continue;
        }
        err = avcodec_send_packet(d.codec.get(), d.packet.get());
        av_packet_unref(d.packet.get());
        if (err == AVERROR_INVALIDDATA) {
            if (++d.badPackets > kMaxBadPacketsInARow) {
                d.pendingError = kMediaInvalidFile;
                d.draining = true;
                avcodec_send_packet(d.codec.get(), nullptr);
            }
            continue;
        }
        if (err < 0 && err != AVERROR(EAGAIN)) {
            d.pendingError = media::FromAvError(err);
            d.draining = true;
            avcodec_send_packet(d.codec.get(), nullptr);
            continue;
        }
        if (err == 0) {
            d.badPackets = 0;
        }
    }
}

}  // namespace platform
