#pragma once
// Interleaved signed little-endian PCM as the engine exchanges it: with the
// engine's format one frame is 4 bytes and one 16-ms period 768 frames.
#include <cstdint>

namespace platform {

struct AudioFormat {
    std::uint32_t sampleRate = 48000;
    std::uint16_t channels = 2;
    std::uint16_t bitsPerSample = 16;
    bool floatingPoint = false;  // 32-bit float samples instead of integers

    constexpr std::uint32_t BytesPerFrame() const noexcept {
        return channels * (bitsPerSample / 8u);
    }
    constexpr std::uint32_t BytesPerSecond() const noexcept { return sampleRate * BytesPerFrame(); }
    // Frames in a period of the given length; 16 ms at 48000 Hz is 768.
    constexpr std::uint32_t FramesIn(std::uint32_t ms) const noexcept {
        return static_cast<std::uint32_t>(std::uint64_t{sampleRate} * ms / 1000u);
    }
    friend constexpr bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// 48000 Hz, 2 channels, 16 bits.
inline constexpr AudioFormat kEngineAudioFormat{};
inline constexpr std::uint32_t kEnginePeriodMs = 16;
inline constexpr std::uint32_t kEnginePeriodFrames = 768;

}  // namespace platform
