#include "platform/media/FfmpegCommon.h"

#include <cerrno>
#include <mutex>
#include <vector>

namespace platform::media {

void QuietLibraryLog() noexcept {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

HResult FromAvError(int averror) noexcept {
    switch (averror) {
        case AVERROR(ENOENT):
        case AVERROR(ENOTDIR):
            return kNotFound;
        case AVERROR(EACCES):
        case AVERROR(EPERM):
            return kAccessDenied;
        case AVERROR(ENOMEM):
            return kOutOfMemory;
        case AVERROR_INVALIDDATA:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_EOF:
            return kMediaInvalidFile;
        case AVERROR_DECODER_NOT_FOUND:
            return kMediaUnsupportedType;
        default:
            return kFail;
    }
}

HResult OpenInput(const char* path, InputPtr* input, int* audioStream) {
    QuietLibraryLog();
    AVFormatContext* raw = nullptr;
    // Demuxers answer a file they cannot parse with assorted errors
    // (EINVAL, EIO...); to the caller all of them mean "not a media file".
    const auto fileError = [](int err) {
        const HResult hr = FromAvError(err);
        return hr == kFail ? kMediaInvalidFile : hr;
    };
    int err = avformat_open_input(&raw, path, nullptr, nullptr);
    if (err < 0) {
        return fileError(err);
    }
    InputPtr ctx(raw);
    err = avformat_find_stream_info(ctx.get(), nullptr);
    if (err < 0) {
        return fileError(err);
    }
    // The first audio stream, as the file lists it.
    *audioStream = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            *audioStream = static_cast<int>(i);
            break;
        }
    }
    *input = std::move(ctx);
    return kOk;
}

AVSampleFormat PackedSampleFormat(const AudioFormat& format) noexcept {
    if (format.floatingPoint) {
        return format.bitsPerSample == 32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_NONE;
    }
    return format.bitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_NONE;
}

HResult MakeSwr(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate,
                const AVChannelLayout& outLayout, AVSampleFormat outFormat, int outRate,
                SwrPtr* swr) {
    SwrContext* raw = nullptr;
    // swr_alloc_set_opts2 only reads the layouts but is declared without const.
    if (swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(&outLayout), outFormat, outRate,
                            const_cast<AVChannelLayout*>(&inLayout), inFormat, inRate, 0,
                            nullptr) < 0 ||
        raw == nullptr) {
        swr_free(&raw);
        return kFail;
    }
    SwrPtr ctx(raw);
    if (inLayout.nb_channels == 1 && outLayout.nb_channels == 2) {
        const double matrix[2] = {1.0, 1.0};  // out x in, stride = input channels
        if (swr_set_matrix(ctx.get(), matrix, 1) < 0) {
            return kFail;
        }
    }
    if (swr_init(ctx.get()) < 0) {
        return kFail;
    }
    *swr = std::move(ctx);
    return kOk;
}

}  // namespace platform::media
