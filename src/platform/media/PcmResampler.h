#pragma once
// Sample-rate (and layout) conversion of interleaved PCM on libswresample.
// Formats: 16-bit integers or 32-bit floats, any channel count; mono to
// stereo copies at full level. Equal formats pass through bit-exact. The
// filter's delay comes out at Drain, so no sample is lost at the end.
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {

class PcmResampler {
  public:
    ~PcmResampler();
    PcmResampler(const PcmResampler&) = delete;
    PcmResampler& operator=(const PcmResampler&) = delete;

    // kInvalidArg for a format this class does not take; kFail when
    // libswresample refuses.
    static HResult Create(const AudioFormat& input, const AudioFormat& output,
                          std::unique_ptr<PcmResampler>* resampler);

    const AudioFormat& Input() const noexcept { return input_; }
    const AudioFormat& Output() const noexcept { return output_; }

    // Converts whole input frames and appends what comes out to *out.
    // kInvalidArg when the input is not a whole number of frames.
    HResult Process(std::span<const std::byte> input, std::vector<std::byte>* out);
    // Appends the samples still held in the filter. Process may follow
    // (a new stream).
    HResult Drain(std::vector<std::byte>* out);

  private:
    struct Impl;
    PcmResampler(std::unique_ptr<Impl> impl, const AudioFormat& input, const AudioFormat& output);
    std::unique_ptr<Impl> impl_;
    AudioFormat input_;
    AudioFormat output_;
};

}  // namespace platform
