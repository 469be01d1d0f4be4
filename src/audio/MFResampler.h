#pragma once
// Converts the decoder's PCM (at the source's rate) to the target format.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {
class PcmResampler;
}

class MFResampler {
  public:
    MFResampler();
    ~MFResampler();
    MFResampler(const MFResampler&) = delete;
    MFResampler& operator=(const MFResampler&) = delete;

    platform::HResult Initialize(const platform::AudioFormat& input,
                                 const platform::AudioFormat& output);
    bool IsInitialized() const noexcept { return initialized_; }
    std::uint32_t InputRate() const noexcept { return inputRate_; }
    std::uint32_t OutputRate() const noexcept { return outputRate_; }

    // Converts one decoded sample's bytes into *out (replaced). Fails with
    // kUnexpected (and logs) before Initialize: the caller must never pass
    // the unconverted sample on.
    platform::HResult Resample(std::span<const std::byte> input, std::vector<std::byte>* out);
    // The filter's last samples at the end of the stream, into *out (replaced).
    platform::HResult Drain(std::vector<std::byte>* out);

    // Bytes of output room for input bytes (64-bit: no overflow on big samples).
    static std::uint64_t OutputCapacity(std::uint64_t inputBytes, std::uint32_t inputRate,
                                        std::uint32_t outputRate) noexcept;

  private:
    std::unique_ptr<platform::PcmResampler> resampler_;
    std::uint32_t inputRate_ = 0;
    std::uint32_t outputRate_ = 0;
    bool initialized_ = false;
};
