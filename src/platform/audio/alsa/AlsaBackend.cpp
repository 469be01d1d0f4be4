// The ALSA backend: hw devices and the plugin devices ("default", "pulse",
// "null", "file:..."). Opened non-blocking, so a busy or missing device is
// an error, never a hang; woken by poll on the device's descriptors and the
// client's stop descriptor. The device's own period is whatever it grants:
// the wake-up threshold (avail_min) is one client period, and reads and
// writes move exactly one client period, which re-blocks any device period
// to the client's 768 frames.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/AudioBackend.h"

namespace platform {

namespace {

constexpr int kMaxPollFds = 16;

struct AlsaStream {
    snd_pcm_t* pcm = nullptr;
    AudioDirection direction = AudioDirection::Render;
    std::uint32_t periodFrames = 0;
    std::uint32_t bytesPerFrame = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    pollfd fds[kMaxPollFds + 1] = {};
    int deviceFds = 0;
    std::uint32_t pendingXruns = 0;
    std::uint32_t partialFrames = 0;       // capture: frames of the period read so far
    std::unique_ptr<std::byte[]> silence;  // one period, for restarts after an underrun
};

AlsaStream* Of(AudioBackendState* state) {
    return reinterpret_cast<AlsaStream*>(state);
}

void SilentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsaLog() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&SilentErrorHandler); });
}

HResult FromOpenError(int err) {
    switch (-err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
        case ECONNREFUSED:  // a sound-server device with no server running
        case EHOSTDOWN:
            return kAudioDeviceNotFound;
        case EBUSY:
        case EAGAIN:
            return kAudioDeviceInUse;
        case EACCES:
        case EPERM:
            return kAccessDenied;
        case ENOMEM:
            return kOutOfMemory;
        default:
            return kFail;
    }
}

HResult FromIoError(int err) {
    switch (-err) {
        case ENODEV:
        case EBADFD:
        case ENXIO:
        case EIO:
        case ESHUTDOWN:
            return kAudioDeviceInvalidated;
        default:
            return kFail;
    }
}

void CloseStream(AlsaStream* s) {
    if (s->pcm != nullptr) {
        snd_pcm_close(s->pcm);
    }
    delete s;
}

// Opens and sets the device up for the request; exclusive hw devices must
// take the format as it is, plugin devices may convert.
HResult OpenStream(const AudioOpenRequest& request, AlsaStream** out) {
    QuietAlsaLog();
    auto s = std::make_unique<AlsaStream>();
    s->direction = request.direction;
    s->periodFrames = request.periodFrames;
    s->bytesPerFrame = request.format.BytesPerFrame();
    const snd_pcm_stream_t dir = request.direction == AudioDirection::Capture
                                     ? SND_PCM_STREAM_CAPTURE
                                     : SND_PCM_STREAM_PLAYBACK;
    const std::string& name =
        request.deviceName.empty() ? std::string("default") : request.deviceName;
    int err = snd_pcm_open(&s->pcm, name.c_str(), dir, SND_PCM_NONBLOCK);
    if (err < 0) {
        s->pcm = nullptr;
        return FromOpenError(err);
    }
    struct Cleanup {
        std::unique_ptr<AlsaStream>& s;
        ~Cleanup() {
            if (s) {
                if (s->pcm != nullptr) {
                    snd_pcm_close(s->pcm);
                }
                s->pcm = nullptr;
            }
        }
    } cleanup{s};

    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(s->pcm, hw) < 0) {
        return kFail;
    }
    const bool exclusive = name.rfind("hw:", 0) == 0;
    if (exclusive) {
        snd_pcm_hw_params_set_rate_resample(s->pcm, hw, 0);
    }
    if (snd_pcm_hw_params_set_access(s->pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(s->pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(s->pcm, hw, request.format.channels) < 0 ||
        snd_pcm_hw_params_set_rate(s->pcm, hw, request.format.sampleRate, 0) < 0) {
        return kAudioUnsupportedFormat;
    }
    snd_pcm_uframes_t period = request.periodFrames;
    int subdir = 0;
    snd_pcm_hw_params_set_period_size_near(s->pcm, hw, &period, &subdir);
    // Room for the period in flight, the one being moved, and a spare.
    snd_pcm_uframes_t buffer = std::max<snd_pcm_uframes_t>(3 * request.periodFrames, 2 * period);
    snd_pcm_hw_params_set_buffer_size_near(s->pcm, hw, &buffer);
    err = snd_pcm_hw_params(s->pcm, hw);
    if (err < 0) {
        return err == -EINVAL ? kAudioUnsupportedFormat : FromOpenError(err);
    }
    snd_pcm_hw_params_get_buffer_size(hw, &s->bufferFrames);
    if (s->bufferFrames < 2 * static_cast<snd_pcm_uframes_t>(request.periodFrames)) {
        return kAudioUnsupportedFormat;  // cannot hold two client periods
    }

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(s->pcm, sw);
    snd_pcm_sw_params_set_avail_min(s->pcm, sw, request.periodFrames);
    // Started explicitly: capture at Start, render after its first period.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    snd_pcm_sw_params_set_start_threshold(s->pcm, sw, boundary);
    snd_pcm_sw_params_set_stop_threshold(s->pcm, sw, s->bufferFrames);
    if (snd_pcm_sw_params(s->pcm, sw) < 0) {
        return kFail;
    }
    const int count = snd_pcm_poll_descriptors_count(s->pcm);
    if (count <= 0 || count > kMaxPollFds) {
        return kFail;
    }
    s->deviceFds = snd_pcm_poll_descriptors(s->pcm, s->fds + 1, static_cast<unsigned>(count));
    if (s->deviceFds <= 0) {
        return kFail;
    }
    s->silence =
        std::make_unique<std::byte[]>(std::size_t{request.periodFrames} * s->bytesPerFrame);
    std::memset(s->silence.get(), 0, std::size_t{request.periodFrames} * s->bytesPerFrame);
    *out = s.release();
    return kOk;
}

// After an over- or underrun (or a suspend) the device is prepared and
// started again; a render device first gets a period of silence.
bool Recover(AlsaStream* s, int err) {
    if (snd_pcm_recover(s->pcm, err, 1) < 0) {
        return false;
    }
    ++s->pendingXruns;
    s->partialFrames = 0;
    if (s->direction == AudioDirection::Render) {
        if (snd_pcm_writei(s->pcm, s->silence.get(), s->periodFrames) < 0) {
            return false;
        }
    }
    const int state = snd_pcm_state(s->pcm);
    if (state == SND_PCM_STATE_PREPARED) {
        return snd_pcm_start(s->pcm) >= 0;
    }
    return true;
}

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

HResult AlsaCheckFormat(const AudioOpenRequest& request) {
    AlsaStream* s = nullptr;
    const HResult hr = OpenStream(request, &s);
    if (Succeeded(hr)) {
        CloseStream(s);
    }
    return hr;
}

HResult AlsaOpen(const AudioOpenRequest& request, AudioBackendState** state) {
    AlsaStream* s = nullptr;
    const HResult hr = OpenStream(request, &s);
    if (Succeeded(hr)) {
        *state = reinterpret_cast<AudioBackendState*>(s);
    }
    return hr;
}

HResult AlsaStart(AudioBackendState* state) {
    AlsaStream* s = Of(state);
    if (snd_pcm_state(s->pcm) == SND_PCM_STATE_SETUP) {
        snd_pcm_prepare(s->pcm);
    }
    int err = snd_pcm_start(s->pcm);
    if (err < 0 && !Recover(s, err)) {
        return FromIoError(err);
    }
    return kOk;
}

HResult AlsaStop(AudioBackendState* state) {
    AlsaStream* s = Of(state);
    snd_pcm_drop(s->pcm);
    s->partialFrames = 0;
    const int err = snd_pcm_prepare(s->pcm);  // ready for the next Start
    return err < 0 ? FromIoError(err) : kOk;
}

AudioWait AlsaWait(AudioBackendState* state, int stopFd, int timeoutMs, HResult* error,
                   std::uint32_t* xruns) {
    AlsaStream* s = Of(state);
    const std::int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    auto finish = [&](AudioWait result) {
        *xruns = s->pendingXruns;
        s->pendingXruns = 0;
        return result;
    };
    for (;;) {
        // Shutdown wins over a ready device.
        pollfd stop{stopFd, POLLIN, 0};
        if (poll(&stop, 1, 0) > 0 && (stop.revents & POLLIN) != 0) {
            return finish(AudioWait::Shutdown);
        }
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(s->pcm);
        if (avail < 0) {
            if (!Recover(s, static_cast<int>(avail))) {
                *error = FromIoError(static_cast<int>(avail));
                return finish(AudioWait::Failed);
            }
            continue;
        }
        if (static_cast<std::uint32_t>(avail) >= s->periodFrames) {
            return finish(AudioWait::Ready);
        }
        const int state = snd_pcm_state(s->pcm);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED) {
            if (!Recover(s, state == SND_PCM_STATE_XRUN ? -EPIPE : -ESTRPIPE)) {
                *error = kAudioDeviceInvalidated;
                return finish(AudioWait::Failed);
            }
            continue;
        }
        if (state == SND_PCM_STATE_DISCONNECTED) {
            *error = kAudioDeviceInvalidated;
            return finish(AudioWait::Failed);
        }
        int wait = -1;
        if (deadline >= 0) {
            const std::int64_t left = deadline - NowMs();
            if (left <= 0) {
                return finish(AudioWait::TimedOut);
            }
            wait = static_cast<int>(left);
        }
        s->fds[0] = pollfd{stopFd, POLLIN, 0};
        for (int i = 1; i <= s->deviceFds; ++i) {
            s->fds[i].revents = 0;
        }
        const int n = poll(s->fds, static_cast<nfds_t>(s->deviceFds + 1), wait);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = kFail;
            return finish(AudioWait::Failed);
        }
        if (n == 0) {
            continue;  // the deadline check above answers
        }
        if ((s->fds[0].revents & POLLIN) != 0) {
            return finish(AudioWait::Shutdown);
        }
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(s->pcm, s->fds + 1, static_cast<unsigned>(s->deviceFds),
                                         &revents);
        if ((revents & POLLNVAL) != 0) {
            *error = kAudioDeviceInvalidated;
            return finish(AudioWait::Failed);
        }
        // POLLERR (an xrun) and readiness are both sorted out by the checks
        // at the top of the loop.
    }
}

HResult AlsaRead(AudioBackendState* state, std::byte* period, bool* silent) {
    AlsaStream* s = Of(state);
    *silent = false;
    while (s->partialFrames < s->periodFrames) {
        const snd_pcm_sframes_t n =
            snd_pcm_readi(s->pcm, period + std::size_t{s->partialFrames} * s->bytesPerFrame,
                          s->periodFrames - s->partialFrames);
        if (n == -EAGAIN) {
            return kAudioBufferEmpty;  // the rest of the period is not there yet
        }
        if (n < 0) {
            if (Recover(s, static_cast<int>(n))) {
                return kAudioBufferEmpty;
            }
            return FromIoError(static_cast<int>(n));
        }
        s->partialFrames += static_cast<std::uint32_t>(n);
    }
    s->partialFrames = 0;
    return kOk;
}

HResult AlsaWrite(AudioBackendState* state, const std::byte* period) {
    AlsaStream* s = Of(state);
    std::uint32_t done = 0;
    int waits = 0;
    while (done < s->periodFrames) {
        const snd_pcm_sframes_t n = snd_pcm_writei(
            s->pcm, period + std::size_t{done} * s->bytesPerFrame, s->periodFrames - done);
        if (n == -EAGAIN) {
            // Wait() said a period fits; a device that takes less gets a
            // short, bounded wait for the rest.
            if (++waits > 4 || snd_pcm_wait(s->pcm, 10) < 0) {
                return kAudioBufferError;
            }
            continue;
        }
        if (n < 0) {
            if (!Recover(s, static_cast<int>(n))) {
                return FromIoError(static_cast<int>(n));
            }
            continue;
        }
        done += static_cast<std::uint32_t>(n);
    }
    return kOk;
}

void AlsaClose(AudioBackendState* state) {
    CloseStream(Of(state));
}

}  // namespace

const AudioBackend kAlsaAudioBackend = {
    "alsa",    &AlsaCheckFormat, &AlsaOpen,  &AlsaStart, &AlsaStop,
    &AlsaWait, &AlsaRead,        &AlsaWrite, &AlsaClose,
};

}  // namespace platform
