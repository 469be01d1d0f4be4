#pragma once
// Result codes of the audio engine and its platform facilities (audio
// endpoints, media decoding). 32-bit values with the usual layout: negative
// is a failure, 0 and small positive values are success. The numbers are
// fixed because diagnostic lines print them in hex.
#include <cstdint>

namespace platform {

using HResult = std::int32_t;

constexpr bool Failed(HResult hr) noexcept {
    return hr < 0;
}
constexpr bool Succeeded(HResult hr) noexcept {
    return hr >= 0;
}

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;  // success, nothing done ("already running")
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kUnexpected = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
inline constexpr HResult kNotFound = static_cast<HResult>(0x80070002u);  // file not found
inline constexpr HResult kAccessDenied = static_cast<HResult>(0x80070005u);
inline constexpr HResult kNotImplemented = static_cast<HResult>(0x80004001u);

// Audio endpoints.
inline constexpr HResult kAudioNotInitialized = static_cast<HResult>(0x88890001u);
inline constexpr HResult kAudioAlreadyInitialized = static_cast<HResult>(0x88890002u);
inline constexpr HResult kAudioDeviceInvalidated = static_cast<HResult>(0x88890004u);  // lost
inline constexpr HResult kAudioNotRunning = static_cast<HResult>(0x88890005u);
inline constexpr HResult kAudioUnsupportedFormat = static_cast<HResult>(0x88890008u);
inline constexpr HResult kAudioDeviceInUse = static_cast<HResult>(0x8889000Au);
inline constexpr HResult kAudioBufferError = static_cast<HResult>(0x88890018u);
inline constexpr HResult kAudioDeviceNotFound = static_cast<HResult>(0x80070490u);
inline constexpr HResult kAudioBufferEmpty = static_cast<HResult>(0x08890001u);  // success code

// Media decoding.
inline constexpr HResult kMediaUnsupportedType = static_cast<HResult>(0xC00D36B4u);
inline constexpr HResult kMediaNoAudioStream = static_cast<HResult>(0xC00D36B3u);
inline constexpr HResult kMediaEndOfStream = static_cast<HResult>(0xC00D3E84u);
inline constexpr HResult kMediaInvalidFile = static_cast<HResult>(0xC00D36C4u);

}  // namespace platform
