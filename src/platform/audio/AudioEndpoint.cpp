#include "platform/audio/AudioEndpoint.h"

#include <poll.h>
#include <time.h>

#include <cstring>
#include <mutex>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/thread/Event.h"

namespace platform {

namespace {

std::mutex defaultsMutex;
std::shared_ptr<AudioEndpoint> defaults[2];

int Index(AudioDirection direction) {
    return direction == AudioDirection::Capture ? 0 : 1;
}

HResult CheckFormat(const AudioFormat& format, std::uint32_t periodMs) {
    if (format.bitsPerSample != 16 || format.floatingPoint || format.channels == 0 ||
        format.channels > 8 || format.sampleRate < 8000 || format.sampleRate > 384000 ||
        periodMs == 0 || periodMs > 1000 || format.FramesIn(periodMs) == 0) {
        return kInvalidArg;
    }
    return kOk;
}

std::int64_t NowMs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

AudioEndpoint::AudioEndpoint(const AudioBackend& backend, AudioDirection direction,
                             std::string deviceName, std::shared_ptr<VirtualAudioDevice> device)
    : backend_(&backend),
      direction_(direction),
      deviceName_(std::move(deviceName)),
      virtual_(std::move(device)) {}

std::shared_ptr<AudioEndpoint> AudioEndpoint::Default(AudioDirection direction) {
    {
        std::lock_guard lock(defaultsMutex);
        if (defaults[Index(direction)]) {
            return defaults[Index(direction)];
        }
    }
    return Alsa(direction, "default");
}

void AudioEndpoint::SetDefault(AudioDirection direction, std::shared_ptr<AudioEndpoint> endpoint) {
    std::lock_guard lock(defaultsMutex);
    defaults[Index(direction)] = std::move(endpoint);
}

std::shared_ptr<AudioEndpoint> AudioEndpoint::Alsa(AudioDirection direction,
                                                   std::string deviceName) {
    return std::make_shared<AudioEndpoint>(kAlsaAudioBackend, direction, std::move(deviceName),
                                           nullptr);
}

std::shared_ptr<AudioEndpoint> AudioEndpoint::Virtual(AudioDirection direction,
                                                      std::shared_ptr<VirtualAudioDevice> device) {
    if (!device) {
        return nullptr;
    }
    std::string name = device->Name();
    return std::make_shared<AudioEndpoint>(kVirtualAudioBackend, direction, std::move(name),
                                           std::move(device));
}

std::string AudioEndpoint::Describe() const {
    return std::string(backend_->name) + ":" + deviceName_;
}

HResult AudioEndpoint::Activate(std::unique_ptr<AudioStream>* stream) const {
    if (stream == nullptr) {
        return kInvalidArg;
    }
    stream->reset(new AudioStream(shared_from_this()));
    return kOk;
}

AudioStream::AudioStream(std::shared_ptr<const AudioEndpoint> endpoint)
    : endpoint_(std::move(endpoint)) {}

AudioStream::~AudioStream() {
    if (state_ != nullptr) {
        Stop();
        endpoint_->backend_->close(state_);
        state_ = nullptr;
    }
}

HResult AudioStream::IsFormatSupported(const AudioFormat& format) {
    if (Failed(CheckFormat(format, kEnginePeriodMs))) {
        return kAudioUnsupportedFormat;
    }
    const AudioOpenRequest request{endpoint_->direction_, endpoint_->deviceName_,
                                   endpoint_->virtual_.get(), format,
                                   format.FramesIn(kEnginePeriodMs)};
    return endpoint_->backend_->checkFormat(request);
}

HResult AudioStream::Initialize(const AudioFormat& format, std::uint32_t periodMs) {
    if (state_ != nullptr) {
        return kAudioAlreadyInitialized;
    }
    HResult hr = CheckFormat(format, periodMs);
    if (Failed(hr)) {
        return hr;
    }
    const std::uint32_t frames = format.FramesIn(periodMs);
    const AudioOpenRequest request{endpoint_->direction_, endpoint_->deviceName_,
                                   endpoint_->virtual_.get(), format, frames};
    hr = endpoint_->backend_->open(request, &state_);
    if (Failed(hr)) {
        state_ = nullptr;
        return hr;
    }
    format_ = format;
    periodFrames_ = frames;
    period_ = std::make_unique<std::byte[]>(std::size_t{frames} * format.BytesPerFrame());
    std::memset(period_.get(), 0, std::size_t{frames} * format.BytesPerFrame());
    queued_ = 0;
    return kOk;
}

HResult AudioStream::Start() {
    if (state_ == nullptr) {
        return kAudioNotInitialized;
    }
    if (running_.load()) {
        return kOk;
    }
    if (endpoint_->direction_ == AudioDirection::Render && queued_ == 0) {
        // The device starts on one period of silence, so the first real
        // period has a whole period to arrive.
        std::memset(period_.get(), 0, std::size_t{periodFrames_} * format_.BytesPerFrame());
        HResult hr = endpoint_->backend_->write(state_, period_.get());
        if (Failed(hr)) {
            return hr;
        }
    }
    HResult hr = endpoint_->backend_->start(state_);
    if (Failed(hr)) {
        return hr;
    }
    lastError_ = kOk;
    running_ = true;
    return kOk;
}

HResult AudioStream::Stop() {
    if (state_ == nullptr || !running_.exchange(false)) {
        return kOk;
    }
    queued_ = 0;
    return endpoint_->backend_->stop(state_);
}

AudioWait AudioStream::Wait(Event& shutdown, int timeoutMs) noexcept {
    if (state_ == nullptr) {
        lastError_ = kAudioNotInitialized;
        return AudioWait::Failed;
    }
    const std::int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    // Until Start, only the shutdown event can end the wait (the device has
    // no periods yet); look again every few milliseconds.
    while (!running_.load()) {
        constexpr int kSliceMs = 2;
        int slice = kSliceMs;
        if (deadline >= 0) {
            const std::int64_t left = deadline - NowMs();
            if (left <= 0) {
                return AudioWait::TimedOut;
            }
            slice = left < kSliceMs ? static_cast<int>(left) : kSliceMs;
        }
        pollfd fd{shutdown.Fd(), POLLIN, 0};
        if (poll(&fd, 1, slice) > 0 && (fd.revents & POLLIN) != 0) {
            shutdown.Claim();
            return AudioWait::Shutdown;
        }
    }
    int left = timeoutMs;
    if (deadline >= 0) {
        const std::int64_t rest = deadline - NowMs();
        left = rest < 0 ? 0 : static_cast<int>(rest);
    }
    HResult error = kOk;
    std::uint32_t xruns = 0;
    const AudioWait result = endpoint_->backend_->wait(state_, shutdown.Fd(), left, &error, &xruns);
    if (xruns != 0) {
        xruns_.fetch_add(xruns, std::memory_order_relaxed);
    }
    if (result == AudioWait::Shutdown) {
        shutdown.Claim();
    } else if (result == AudioWait::Failed) {
        lastError_ = Failed(error) ? error : kFail;
    }
    return result;
}

HResult AudioStream::AcquireCapture(const std::byte** data, std::uint32_t* frames,
                                    std::uint32_t* flags) noexcept {
    if (data == nullptr || frames == nullptr || flags == nullptr) {
        return kInvalidArg;
    }
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    if (state_ == nullptr) {
        return kAudioNotInitialized;
    }
    if (endpoint_->direction_ != AudioDirection::Capture) {
        return kInvalidArg;
    }
    if (!running_.load()) {
        return kAudioNotRunning;
    }
    if (acquired_) {
        return kAudioBufferError;
    }
    bool silent = false;
    const HResult hr = endpoint_->backend_->read(state_, period_.get(), &silent);
    if (hr != kOk) {
        if (Failed(hr)) {
            lastError_ = hr;
        }
        return hr;
    }
    acquired_ = true;
    *data = period_.get();
    *frames = periodFrames_;
    *flags = silent ? kAudioBufferSilent : 0;
    return kOk;
}

HResult AudioStream::ReleaseCapture(std::uint32_t frames) noexcept {
    if (!acquired_) {
        return kAudioBufferError;
    }
    if (frames != 0 && frames != periodFrames_) {
        return kInvalidArg;
    }
    acquired_ = false;
    return kOk;
}

HResult AudioStream::AcquireRender(std::uint32_t frames, std::byte** data) noexcept {
    if (data == nullptr) {
        return kInvalidArg;
    }
    *data = nullptr;
    if (state_ == nullptr) {
        return kAudioNotInitialized;
    }
    if (endpoint_->direction_ != AudioDirection::Render || frames != periodFrames_) {
        return kInvalidArg;
    }
    if (acquired_) {
        return kAudioBufferError;
    }
    acquired_ = true;
    *data = period_.get();
    return kOk;
}

HResult AudioStream::ReleaseRender(std::uint32_t frames, std::uint32_t flags) noexcept {
    if (!acquired_) {
        return kAudioBufferError;
    }
    if (frames != 0 && frames != periodFrames_) {
        return kInvalidArg;
    }
    acquired_ = false;
    if (frames == 0) {
        return kOk;
    }
    if ((flags & kAudioBufferSilent) != 0) {
        std::memset(period_.get(), 0, std::size_t{periodFrames_} * format_.BytesPerFrame());
    }
    const HResult hr = endpoint_->backend_->write(state_, period_.get());
    if (Failed(hr)) {
        lastError_ = hr;
        return hr;
    }
    if (!running_.load()) {
        ++queued_;  // written ahead of Start
    }
    return kOk;
}

}  // namespace platform
