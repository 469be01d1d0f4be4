#include "audio/MFResampler.h"

#include "platform/debug/DebugLog.h"
#include "platform/media/PcmResampler.h"

using platform::HResult;

MFResampler::MFResampler() = default;
MFResampler::~MFResampler() = default;

HResult MFResampler::Initialize(const platform::AudioFormat& input,
                                const platform::AudioFormat& output) {
    resampler_.reset();
    initialized_ = false;
    HResult hr = platform::PcmResampler::Create(input, output, &resampler_);
    if (platform::Failed(hr)) {
        return hr;
    }
    inputRate_ = input.sampleRate;
    outputRate_ = output.sampleRate;
    initialized_ = true;
    return platform::kOk;
}

std::uint64_t MFResampler::OutputCapacity(std::uint64_t inputBytes, std::uint32_t inputRate,
                                          std::uint32_t outputRate) noexcept {
    if (inputRate == 0) {
        return 0;
    }
    return inputBytes * outputRate / inputRate + 480;
}

HResult MFResampler::Resample(std::span<const std::byte> input, std::vector<std::byte>* out) {
    if (!initialized_) {
        platform::DebugOutput("MFResampler::Resample failed,  m_bIsInitialized = FALSE.\n");
        return platform::kUnexpected;
    }
    out->clear();
    out->reserve(static_cast<std::size_t>(OutputCapacity(input.size(), inputRate_, outputRate_)));
    return resampler_->Process(input, out);
}

HResult MFResampler::Drain(std::vector<std::byte>* out) {
    out->clear();
    if (!initialized_) {
        return platform::kUnexpected;
    }
    return resampler_->Drain(out);
}
