#include "platform/media/PcmResampler.h"

#include "platform/media/FfmpegCommon.h"

namespace platform {

struct PcmResampler::Impl {
    media::SwrPtr swr;
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;
    AVSampleFormat outFormat = AV_SAMPLE_FMT_NONE;
    bool drained = false;

    ~Impl() {
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
    }
};

PcmResampler::PcmResampler(std::unique_ptr<Impl> impl, const AudioFormat& input,
                           const AudioFormat& output)
    : impl_(std::move(impl)), input_(input), output_(output) {}
PcmResampler::~PcmResampler() = default;

HResult PcmResampler::Create(const AudioFormat& input, const AudioFormat& output,
                             std::unique_ptr<PcmResampler>* resampler) {
    if (resampler == nullptr || input.channels == 0 || output.channels == 0 || input.channels > 8 ||
        output.channels > 8 || input.sampleRate == 0 || output.sampleRate == 0 ||
        input.sampleRate > 1000000 || output.sampleRate > 1000000) {
        return kInvalidArg;
    }
    auto impl = std::make_unique<Impl>();
    impl->inFormat = media::PackedSampleFormat(input);
    impl->outFormat = media::PackedSampleFormat(output);
    if (impl->inFormat == AV_SAMPLE_FMT_NONE || impl->outFormat == AV_SAMPLE_FMT_NONE) {
        return kInvalidArg;
    }
    av_channel_layout_default(&impl->inLayout, input.channels);
    av_channel_layout_default(&impl->outLayout, output.channels);
    HResult hr = media::MakeSwr(impl->inLayout, impl->inFormat, static_cast<int>(input.sampleRate),
                                impl->outLayout, impl->outFormat,
                                static_cast<int>(output.sampleRate), &impl->swr);
    if (Failed(hr)) {
        return hr;
    }
    resampler->reset(new PcmResampler(std::move(impl), input, output));
    return kOk;
}

HResult PcmResampler::Process(std::span<const std::byte> input, std::vector<std::byte>* out) {
    if (out == nullptr || input.size() % input_.BytesPerFrame() != 0) {
        return kInvalidArg;
    }
    if (impl_->drained) {
        // A drained converter starts a new stream from a clean filter.
        if (swr_init(impl_->swr.get()) < 0) {
            return kFail;
        }
        impl_->drained = false;
    }
    const std::uint64_t frames = input.size() / input_.BytesPerFrame();
    // One call converts at most what an int counts; big inputs go in parts.
    constexpr std::uint64_t kMaxFramesPerCall = 1u << 20;
    const std::uint8_t* src = reinterpret_cast<const std::uint8_t*>(input.data());
    std::uint64_t left = frames;
    do {
        const int n = static_cast<int>(left < kMaxFramesPerCall ? left : kMaxFramesPerCall);
        const int room = swr_get_out_samples(impl_->swr.get(), n);
        if (room < 0) {
            return kFail;
        }
        const std::size_t used = out->size();
        out->resize(used + static_cast<std::size_t>(room) * output_.BytesPerFrame());
        std::uint8_t* dst = reinterpret_cast<std::uint8_t*>(out->data() + used);
        const std::uint8_t* in[1] = {src};
        const int got = swr_convert(impl_->swr.get(), &dst, room, n == 0 ? nullptr : in, n);
        if (got < 0) {
            out->resize(used);
            return kFail;
        }
        out->resize(used + static_cast<std::size_t>(got) * output_.BytesPerFrame());
        src += static_cast<std::size_t>(n) * input_.BytesPerFrame();
        left -= static_cast<std::uint64_t>(n);
    } while (left > 0);
    return kOk;
}

HResult PcmResampler::Drain(std::vector<std::byte>* out) {
    if (out == nullptr) {
        return kInvalidArg;
    }
    for (;;) {
        const int room = swr_get_out_samples(impl_->swr.get(), 0);
        if (room <= 0) {
            break;
        }
        const std::size_t used = out->size();
        out->resize(used + static_cast<std::size_t>(room) * output_.BytesPerFrame());
        std::uint8_t* dst = reinterpret_cast<std::uint8_t*>(out->data() + used);
        const int got = swr_convert(impl_->swr.get(), &dst, room, nullptr, 0);
        if (got < 0) {
            out->resize(used);
            return kFail;
        }
        out->resize(used + static_cast<std::size_t>(got) * output_.BytesPerFrame());
        if (got == 0) {
            break;
        }
    }
    impl_->drained = true;
    return kOk;
}

}  // namespace platform
