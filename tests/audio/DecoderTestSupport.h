#pragma once
// Fixtures for the decoder tests: tones encoded with FFmpeg's encoders into
// a fresh folder per test, and the measurements the tests make on PCM.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/media/MediaEncoder.h"

namespace decoder_test {

// Interleaved float tone: every channel carries the same sine.
inline std::vector<float> Tone(std::uint32_t rate, std::uint16_t channels, double seconds,
                               double hz = 1000.0, double amplitude = 0.5) {
    const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(
            amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate));
        for (std::uint16_t c = 0; c < channels; ++c) {
            samples[i * channels + c] = v;
        }
    }
    return samples;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        path_ = std::filesystem::path(::testing::TempDir()) / ("vk_" + name);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    // With a trailing '/'.
    std::string Folder() const { return path_.string() + "/"; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline std::string Encode(const TempFolder& folder, const std::string& name,
                          const platform::MediaEncodeOptions& options,
                          const std::vector<float>& samples) {
    const std::string path = folder.File(name);
    const platform::HResult hr = platform::EncodeAudioFile(path, options, samples);
    EXPECT_EQ(hr, platform::kOk) << "encoding " << name << " with " << options.codec;
    return path;
}

inline std::vector<std::int16_t> ReadPcm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

inline std::vector<std::int16_t> ReadAll(std::FILE* file) {
    std::vector<std::int16_t> samples;
    std::int16_t buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, sizeof(std::int16_t), 4096, file)) > 0) {
        samples.insert(samples.end(), buffer, buffer + n);
    }
    return samples;
}

// One channel of interleaved samples, frames [from, to).
inline std::vector<double> Channel(const std::vector<std::int16_t>& pcm, unsigned channels,
                                   unsigned channel, std::size_t from, std::size_t to) {
    std::vector<double> out;
    for (std::size_t i = from; i < to && i * channels + channel < pcm.size(); ++i) {
        out.push_back(pcm[i * channels + channel]);
    }
    return out;
}

// Frequency from the rising zero crossings (interpolated), in Hz.
inline double Frequency(const std::vector<double>& x, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) {
                first = t;
            } else {
                ++crossings;
            }
            last = t;
        }
    }
    return crossings > 0 ? crossings * rate / (last - first) : 0.0;
}

// Peak of a sine from its RMS.
inline double SinePeak(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) {
        sum += v * v;
    }
    return x.empty() ? 0.0 : std::sqrt(2.0 * sum / static_cast<double>(x.size()));
}

}  // namespace decoder_test
