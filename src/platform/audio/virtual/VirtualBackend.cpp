// The virtual audio backend: a sound card in memory (VirtualAudioDevice.h).
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/media/MediaReader.h"
#include "platform/media/PcmResampler.h"
#include "platform/thread/Event.h"

namespace platform {

namespace {

std::int64_t NowNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void PutLe(std::FILE* f, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
    }
}

// A plain 44-byte RIFF/WAVE header and the samples, written to a temporary
// name and renamed into place.
bool WriteWav(const std::string& path, const AudioFormat& format, const std::int16_t* samples,
              std::size_t count) {
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const auto dataBytes = static_cast<std::uint32_t>(count * 2);
    std::fwrite("RIFF", 1, 4, f);
    PutLe(f, 36 + dataBytes, 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    PutLe(f, 16, 4);
    PutLe(f, 1, 2);
    PutLe(f, format.channels, 2);
    PutLe(f, format.sampleRate, 4);
    PutLe(f, format.BytesPerSecond(), 4);
    PutLe(f, format.BytesPerFrame(), 2);
    PutLe(f, 16, 2);
    std::fwrite("data", 1, 4, f);
    PutLe(f, dataBytes, 4);
    bool ok = count == 0 || std::fwrite(samples, 2, count, f) == count;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

// Any audio file as interleaved 16-bit frames of the format.
HResult DecodeFile(const std::string& path, const AudioFormat& format,
                   std::vector<std::int16_t>* out) {
    std::shared_ptr<MediaSource> source;
    HResult hr = MediaSource::Open(path, &source);
    if (Failed(hr)) {
        return hr;
    }
    MediaReaderOptions options;
    options.channels = format.channels;
    std::unique_ptr<MediaReader> reader;
    hr = MediaReader::Create(*source, options, &reader);
    if (Failed(hr)) {
        return hr;
    }
    std::unique_ptr<PcmResampler> resampler;
    hr = PcmResampler::Create(reader->OutputFormat(), format, &resampler);
    if (Failed(hr)) {
        return hr;
    }
    std::vector<std::byte> decoded, converted;
    for (;;) {
        hr = reader->Read(&decoded);
        if (hr != kOk) {
            break;
        }
        resampler->Process(decoded, &converted);
    }
    resampler->Drain(&converted);
    out->resize(converted.size() / 2);
    std::memcpy(out->data(), converted.data(), out->size() * 2);
    return hr == kMediaEndOfStream ? kOk : hr;
}

}  // namespace

// The virtual backend's state for one stream.
struct VirtualStream {
    VirtualAudioDevice* device = nullptr;
    AudioDirection direction = AudioDirection::Render;
    AudioFormat format{};
    std::uint32_t periodFrames = 0;
    std::shared_ptr<VirtualAudioClock> clock;
    unsigned num = 1;
    unsigned den = 1;
    std::uint64_t stallAfter = 0;
    std::uint64_t loseAfter = 0;
    HResult failStart = kOk;

    Event tick{Event::Mode::AutoReset};
    std::atomic<std::uint64_t> ticks{0};  // clock ticks since Start
    std::atomic<std::uint64_t> moved{0};  // periods moved since Start
    std::atomic<bool> waiting{false};
    std::atomic<bool> running{false};
    std::int64_t startNs = 0;
    std::int64_t periodNs = 0;

    std::uint64_t Due() const noexcept {
        if (clock) {
            return ticks.load() * num / den;
        }
        const std::int64_t elapsed = NowNs() - startNs;
        return elapsed <= 0 ? 0 : static_cast<std::uint64_t>(elapsed / periodNs);
    }

    // Idle for the manual clock: everything due is moved and the thread is
    // back in its wait (or the stream does not run).
    bool Idle() const noexcept {
        return !running.load() || (moved.load() >= Due() && waiting.load());
    }
};

// ---- VirtualAudioClock ----

VirtualAudioClock::VirtualAudioClock() = default;
VirtualAudioClock::~VirtualAudioClock() = default;

void VirtualAudioClock::Attach(VirtualStream* stream) {
    std::lock_guard lock(mutex_);
    streams_.push_back(stream);
}

void VirtualAudioClock::Detach(VirtualStream* stream) {
    std::lock_guard lock(mutex_);
    streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

bool VirtualAudioClock::Tick(unsigned periods, int timeoutMs) {
    std::lock_guard lock(mutex_);  // streams stay attached while ticking
    const std::int64_t deadline = NowNs() + std::int64_t{timeoutMs} * 1000000;
    bool allIdle = true;
    for (unsigned p = 0; p < periods; ++p) {
        ++ticks_;
        // Capture first, so that what is captured in a period can be
        // rendered in the same period.
        for (AudioDirection direction : {AudioDirection::Capture, AudioDirection::Render}) {
            for (VirtualStream* s : streams_) {
                if (s->direction == direction && s->running.load()) {
                    ++s->ticks;
                    s->tick.Set();
                }
            }
            for (VirtualStream* s : streams_) {
                if (s->direction != direction) {
                    continue;
                }
                while (!s->Idle()) {
                    if (NowNs() > deadline) {
                        allIdle = false;
                        break;
                    }
                    timespec pause{0, 100000};
                    nanosleep(&pause, nullptr);
                }
            }
        }
    }
    return allIdle;
}

// ---- VirtualAudioDevice ----

VirtualAudioDevice::VirtualAudioDevice(std::string name) : name_(std::move(name)) {}
VirtualAudioDevice::~VirtualAudioDevice() = default;

void VirtualAudioDevice::SetCaptureSamples(std::vector<std::int16_t> samples, bool loop) {
    std::lock_guard lock(mutex_);
    captureSamples_ = std::move(samples);
    capturePath_.clear();
    decodedPath_.clear();
    captureLoop_ = loop;
    capturePos_ = 0;
}

void VirtualAudioDevice::SetCaptureFile(std::string path, bool loop) {
    std::lock_guard lock(mutex_);
    capturePath_ = std::move(path);
    decodedPath_.clear();
    captureLoop_ = loop;
    capturePos_ = 0;
}

void VirtualAudioDevice::SetRenderCapacity(std::size_t capacityFrames) {
    std::lock_guard lock(mutex_);
    renderCapacity_ = capacityFrames;
}

void VirtualAudioDevice::SetRenderFile(std::string wavPath) {
    std::lock_guard lock(mutex_);
    renderPath_ = std::move(wavPath);
}

std::vector<std::int16_t> VirtualAudioDevice::Rendered() const {
    const std::size_t frames = renderedFrames_.load(std::memory_order_acquire);
    if (!rendered_) {
        return {};
    }
    return std::vector<std::int16_t>(rendered_.get(), rendered_.get() + frames * renderChannels_);
}

void VirtualAudioDevice::UseClock(std::shared_ptr<VirtualAudioClock> clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

void VirtualAudioDevice::SetRate(unsigned num, unsigned den) {
    std::lock_guard lock(mutex_);
    rateNum_ = num == 0 ? 1 : num;
    rateDen_ = den == 0 ? 1 : den;
}

void VirtualAudioDevice::RefuseFormat(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseFormat_ = refuse;
}
void VirtualAudioDevice::FailInitialize(HResult error) {
    std::lock_guard lock(mutex_);
    failInitialize_ = error;
}
void VirtualAudioDevice::FailStart(HResult error) {
    std::lock_guard lock(mutex_);
    failStart_ = error;
}
void VirtualAudioDevice::StallAfter(std::uint64_t periods) {
    std::lock_guard lock(mutex_);
    stallAfter_ = periods;
}
void VirtualAudioDevice::LoseAfter(std::uint64_t periods) {
    std::lock_guard lock(mutex_);
    loseAfter_ = periods;
}

// ---- the backend table ----

struct VirtualBackendOps {
    static HResult VirtualCheckFormat(const AudioOpenRequest& request) {
        VirtualAudioDevice* device = request.virtualDevice;
        if (device == nullptr) {
            return kAudioDeviceNotFound;
        }
        std::lock_guard lock(device->mutex_);
        if (Failed(device->failInitialize_)) {
            return device->failInitialize_;
        }
        return device->refuseFormat_ ? kAudioUnsupportedFormat : kOk;
    }

    static HResult Open(const AudioOpenRequest& request, AudioBackendState** out) {
        HResult hr = VirtualCheckFormat(request);
        if (Failed(hr)) {
            return hr;
        }
        VirtualAudioDevice* device = request.virtualDevice;
        auto stream = std::make_unique<VirtualStream>();
        stream->device = device;
        stream->direction = request.direction;
        stream->format = request.format;
        stream->periodFrames = request.periodFrames;
        {
            std::lock_guard lock(device->mutex_);
            if (request.direction == AudioDirection::Capture && !device->capturePath_.empty() &&
                (device->decodedPath_ != device->capturePath_ ||
                 !(device->decodedFormat_ == request.format))) {
                std::vector<std::int16_t> decoded;
                hr = DecodeFile(device->capturePath_, request.format, &decoded);
                if (Failed(hr)) {
                    return hr;
                }
                device->captureSamples_ = std::move(decoded);
                device->decodedPath_ = device->capturePath_;
                device->decodedFormat_ = request.format;
            }
            if (request.direction == AudioDirection::Render && !device->rendered_) {
                device->renderChannels_ = request.format.channels;
                device->renderStoreFrames_ = device->renderCapacity_;
                device->rendered_ = std::make_unique<std::int16_t[]>(device->renderStoreFrames_ *
                                                                     device->renderChannels_);
            }
            stream->clock = device->clock_;
            stream->num = device->rateNum_;
            stream->den = device->rateDen_;
            stream->stallAfter = device->stallAfter_;
            stream->loseAfter = device->loseAfter_;
            stream->failStart = device->failStart_;
        }
        stream->periodNs = static_cast<std::int64_t>(stream->periodFrames) * 1000000000 *
                           stream->den /
                           (static_cast<std::int64_t>(stream->format.sampleRate) * stream->num);
        if (stream->periodNs <= 0) {
            stream->periodNs = 1;
        }
        if (stream->clock) {
            stream->clock->Attach(stream.get());
        }
        ++device->inits_;
        *out = reinterpret_cast<AudioBackendState*>(stream.release());
        return kOk;
    }

    static VirtualStream* Of(AudioBackendState* state) {
        return reinterpret_cast<VirtualStream*>(state);
    }

    static HResult CheckFormat(const AudioOpenRequest& request) {
        return VirtualCheckFormat(request);
    }

    static HResult Start(AudioBackendState* state) {
        VirtualStream* s = Of(state);
        if (Failed(s->failStart)) {
            return s->failStart;
        }
        s->ticks = 0;
        s->moved = 0;
        s->startNs = NowNs();
        s->running = true;
        s->device->running_ = true;
        ++s->device->starts_;
        return kOk;
    }

    static HResult Stop(AudioBackendState* state) {
        VirtualStream* s = Of(state);
        s->running = false;
        s->device->running_ = false;
        return kOk;
    }

    static AudioWait Wait(AudioBackendState* state, int stopFd, int timeoutMs, HResult* error,
                          std::uint32_t* /*xruns*/) {
        VirtualStream* s = Of(state);
        const std::int64_t deadline =
            timeoutMs < 0 ? -1 : NowNs() + std::int64_t{timeoutMs} * 1000000;
        for (;;) {
            pollfd stop{stopFd, POLLIN, 0};
            if (poll(&stop, 1, 0) > 0 && (stop.revents & POLLIN) != 0) {
                return AudioWait::Shutdown;  // shutdown wins over a ready period
            }
            const std::uint64_t moved = s->moved.load();
            if (s->loseAfter != 0 && moved >= s->loseAfter) {
                s->waiting = true;
                *error = kAudioDeviceInvalidated;
                return AudioWait::Failed;
            }
            const bool stalled = s->stallAfter != 0 && moved >= s->stallAfter;
            if (!stalled && s->Due() > moved) {
                s->waiting = false;
                return AudioWait::Ready;
            }
            s->waiting = true;
            int wait = -1;
            if (!s->clock && !stalled) {
                const std::int64_t next =
                    s->startNs + static_cast<std::int64_t>(moved + 1) * s->periodNs;
                wait = static_cast<int>(
                    std::max<std::int64_t>(0, (next - NowNs() + 999999) / 1000000));
            }
            if (deadline >= 0) {
                const std::int64_t left = (deadline - NowNs()) / 1000000;
                if (left <= 0) {
                    return AudioWait::TimedOut;
                }
                wait =
                    wait < 0 ? static_cast<int>(left) : std::min<int>(wait, static_cast<int>(left));
            }
            pollfd fds[2] = {{stopFd, POLLIN, 0}, {s->tick.Fd(), POLLIN, 0}};
            const int n = poll(fds, 2, wait);
            if (n > 0 && (fds[0].revents & POLLIN) != 0) {
                return AudioWait::Shutdown;
            }
            if (n > 0 && (fds[1].revents & POLLIN) != 0) {
                s->tick.Claim();
            }
        }
    }

    static HResult Read(AudioBackendState* state, std::byte* period, bool* silent) {
        VirtualStream* s = Of(state);
        if (s->Due() <= s->moved.load()) {
            return kAudioBufferEmpty;
        }
        VirtualAudioDevice* d = s->device;
        const std::size_t channels = s->format.channels;
        const std::size_t total = d->captureSamples_.size() / channels;
        auto* out = reinterpret_cast<std::int16_t*>(period);
        std::size_t pos = d->capturePos_.load();
        bool any = false;
        for (std::size_t i = 0; i < s->periodFrames; ++i) {
            if (pos >= total && d->captureLoop_ && total > 0) {
                pos = 0;
            }
            if (pos < total) {
                std::memcpy(out + i * channels, d->captureSamples_.data() + pos * channels,
                            channels * 2);
                ++pos;
                any = true;
            } else {
                std::memset(out + i * channels, 0, channels * 2);
            }
        }
        d->capturePos_ = pos;
        *silent = !any;
        ++s->moved;
        ++d->moved_;
        return kOk;
    }

    static HResult Write(AudioBackendState* state, const std::byte* period) {
        VirtualStream* s = Of(state);
        VirtualAudioDevice* d = s->device;
        if (s->running.load()) {
            ++s->moved;
            ++d->moved_;
        }
        const std::size_t frames = s->periodFrames;
        const std::size_t have = d->renderedFrames_.load(std::memory_order_relaxed);
        if (d->rendered_ && d->renderChannels_ == s->format.channels &&
            have + frames <= d->renderStoreFrames_) {
            std::memcpy(d->rendered_.get() + have * d->renderChannels_, period,
                        frames * s->format.BytesPerFrame());
            d->renderedFrames_.store(have + frames, std::memory_order_release);
        } else {
            d->droppedFrames_ += frames;
        }
        return kOk;
    }

    static void Close(AudioBackendState* state) {
        VirtualStream* s = Of(state);
        if (s->clock) {
            s->clock->Detach(s);
        }
        VirtualAudioDevice* d = s->device;
        if (s->direction == AudioDirection::Render) {
            std::lock_guard lock(d->mutex_);
            if (!d->renderPath_.empty() && d->rendered_) {
                WriteWav(d->renderPath_, s->format, d->rendered_.get(),
                         d->renderedFrames_.load() * d->renderChannels_);
            }
        }
        delete s;
    }
};

const AudioBackend kVirtualAudioBackend = {
    "virtual",
    &VirtualBackendOps::CheckFormat,
    &VirtualBackendOps::Open,
    &VirtualBackendOps::Start,
    &VirtualBackendOps::Stop,
    &VirtualBackendOps::Wait,
    &VirtualBackendOps::Read,
    &VirtualBackendOps::Write,
    &VirtualBackendOps::Close,
};

}  // namespace platform
