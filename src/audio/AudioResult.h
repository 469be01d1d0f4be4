#pragma once
// Status codes of the audio engine: 0 is success, negative values are
// failures (the engine's counterpart of the platform's result codes).
#include <cstdint>

using AudioResult = std::int32_t;

inline constexpr AudioResult kAudioOk = 0;
inline constexpr AudioResult kAudioFail = -1;  // unspecified failure
inline constexpr AudioResult kAudioOutOfMemory = -2;
inline constexpr AudioResult kAudioUnsupportedFormat = -3;  // device refused the format
inline constexpr AudioResult kAudioNoDevice = -4;           // no such endpoint
inline constexpr AudioResult kAudioFileError = -5;          // a recording cannot be created
inline constexpr AudioResult kAudioWrongState = -6;         // call not valid now

inline constexpr bool AudioSucceeded(AudioResult r) {
    return r >= 0;
}
