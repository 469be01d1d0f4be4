#pragma once
// Status codes of the audio engine: the platform's result codes (negative is
// a failure), under the names the engine's own code uses.
#include "platform/audio/AudioResult.h"

using AudioResult = platform::HResult;

inline constexpr AudioResult kAudioOk = platform::kOk;
inline constexpr AudioResult kAudioFail = platform::kFail;
inline constexpr AudioResult kAudioOutOfMemory = platform::kOutOfMemory;
inline constexpr AudioResult kAudioUnsupportedFormat = platform::kAudioUnsupportedFormat;
inline constexpr AudioResult kAudioNoDevice = platform::kAudioDeviceNotFound;
inline constexpr AudioResult kAudioFileError =
    platform::kAccessDenied;  // a recording cannot be created
inline constexpr AudioResult kAudioWrongState = platform::kUnexpected;  // call not valid now

inline constexpr bool AudioSucceeded(AudioResult r) {
    return platform::Succeeded(r);
}
