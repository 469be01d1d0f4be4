#pragma once
// What an audio backend does, as one small table of operations. The core
// (AudioEndpoint.cpp) owns the period buffer, the flags and the argument
// checks; a backend only talks to its device, always in whole periods.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioEndpoint.h"

namespace platform {

struct AudioBackendState;  // each backend's private state

struct AudioOpenRequest {
    AudioDirection direction;
    const std::string& deviceName;
    VirtualAudioDevice* virtualDevice;  // the virtual backend only
    AudioFormat format;
    std::uint32_t periodFrames;
};

struct AudioBackend {
    const char* name;
    // Format test without keeping the device (kOk / kAudioUnsupportedFormat
    // / the error of opening it).
    HResult (*checkFormat)(const AudioOpenRequest& request);
    // Opens the device for the request; on success *state is the backend's.
    HResult (*open)(const AudioOpenRequest& request, AudioBackendState** state);
    // Render: silence is already queued by the core's first write.
    HResult (*start)(AudioBackendState* state);
    HResult (*stop)(AudioBackendState* state);
    // Until one whole period can move, the stop descriptor is readable, or
    // the time-out passes. *error is set with Failed. Counts recovered
    // over- and underruns in *xruns.
    AudioWait (*wait)(AudioBackendState* state, int stopFd, int timeoutMs, HResult* error,
                      std::uint32_t* xruns);
    // Exactly one period. read: kOk, kAudioBufferEmpty, or an error; *silent
    // when the device marked the period silent.
    HResult (*read)(AudioBackendState* state, std::byte* period, bool* silent);
    HResult (*write)(AudioBackendState* state, const std::byte* period);
    void (*close)(AudioBackendState* state);
};

extern const AudioBackend kAlsaAudioBackend;
extern const AudioBackend kVirtualAudioBackend;

}  // namespace platform
