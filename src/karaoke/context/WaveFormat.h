#pragma once
// The one audio format of the engine, field for field as the WAV header
// stores it. Never written to a file with sizeof: the in-memory layout has
// padding, the file's 18-byte record has none.
#include <cstdint>

struct WaveFormat {
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 48000;
    std::uint32_t avgBytesPerSec = 192000;
    std::uint16_t blockAlign = 4;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraBytes = 0;
};

inline constexpr std::uint16_t kWaveFormatPcm = 1;

// Bytes of one block of blockDurationMs: round(blockAlign * rate * seconds),
// the seconds reached through 100-ns units as the audio clients count them.
inline std::uint32_t BlockLengthBytes(const WaveFormat& format, int blockDurationMs) {
    const double seconds =
        static_cast<double>(static_cast<std::int64_t>(blockDurationMs) * 1000000 / 100) /
        10000000.0;
    return static_cast<std::uint32_t>(
        static_cast<double>(format.blockAlign) * format.samplesPerSec * seconds + 0.5);
}
