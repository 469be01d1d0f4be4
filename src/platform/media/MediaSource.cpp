#include "platform/media/MediaSource.h"

#include "platform/media/FfmpegCommon.h"

namespace platform {

namespace {

bool IsPcmCodec(AVCodecID id) noexcept {
    // FFmpeg numbers the PCM codecs first in the audio range.
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

}  // namespace

MediaSource::MediaSource() = default;
MediaSource::~MediaSource() = default;

std::unique_ptr<MediaSource::Demuxer> MediaSource::TakeDemuxer() const {
    std::lock_guard lock(demuxerMutex_);
    return std::move(demuxer_);
}

HResult MediaSource::Open(const std::string& path, std::shared_ptr<MediaSource>* source) {
    if (source == nullptr || path.empty()) {
        return kInvalidArg;
    }
    media::InputPtr input;
    int audio = -1;
    HResult hr = media::OpenInput(path.c_str(), &input, &audio);
    if (Failed(hr)) {
        return hr;
    }
    auto result = std::make_shared<MediaSource>();
    result->path_ = path;
    result->audioStream_ = audio;
    if (audio >= 0) {
        const AVStream* stream = input->streams[audio];
        const AVCodecParameters* par = stream->codecpar;
        result->audio_.sampleRate =
            par->sample_rate > 0 ? static_cast<std::uint32_t>(par->sample_rate) : 0;
        result->audio_.channels = static_cast<std::uint16_t>(par->ch_layout.nb_channels);
        auto format = static_cast<AVSampleFormat>(par->format);
        if (format != AV_SAMPLE_FMT_NONE) {
            result->audio_.bitsPerSample =
                static_cast<std::uint16_t>(av_get_bytes_per_sample(format) * 8);
            AVSampleFormat packed = av_get_packed_sample_fmt(format);
            result->audio_.floatingPoint =
                packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
        }
        if (par->bits_per_raw_sample > 0 && IsPcmCodec(par->codec_id)) {
            result->audio_.bitsPerSample = static_cast<std::uint16_t>(par->bits_per_raw_sample);
        }
        result->audio_.pcm = IsPcmCodec(par->codec_id);
        result->audio_.codec = avcodec_get_name(par->codec_id);
        if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
            result->durationMs_ = av_rescale(input->duration, 1000, AV_TIME_BASE);
        } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            result->durationMs_ =
                av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
        }
    } else if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        result->durationMs_ = av_rescale(input->duration, 1000, AV_TIME_BASE);
    }
    result->demuxer_ = std::make_unique<Demuxer>();
    result->demuxer_->input = std::move(input);
    *source = std::move(result);
    return kOk;
}

}  // namespace platform
