#pragma once
// Writes audio files with FFmpeg's muxers and encoders: test fixtures and
// generated content (WAV in several sample formats, MP3, FLAC, Ogg...).
#include <cstdint>
#include <span>
#include <string>

#include "platform/audio/AudioResult.h"

namespace platform {

struct MediaEncodeOptions {
    std::string container = "wav";  // a muxer name: "wav", "mp3", "flac", "ogg"
    std::string codec =
        "pcm_s16le";  // an encoder: "pcm_u8", "pcm_s24le", "pcm_f32le", "libmp3lame"...
    std::uint32_t sampleRate = 48000;
    std::uint16_t channels = 2;
    std::int64_t bitRate = 0;  // compressed codecs; 0 = the encoder's default
};

// True when this FFmpeg has the encoder (by name).
bool HasAudioEncoder(const std::string& codec);

// Encodes interleaved float samples in -1..1 (channels per frame as in the
// options) into a new file at path (replaced if it exists).
HResult EncodeAudioFile(const std::string& path, const MediaEncodeOptions& options,
                        std::span<const float> samples);

}  // namespace platform
