#include "audio/CWASAPICapture.h"

#include <cstring>

#include "audio/SoundMixer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Format.h"
#include "platform/thread/ThreadPriority.h"

CWASAPICapture::CWASAPICapture(SoundMixer* mixer, std::shared_ptr<platform::AudioEndpoint> endpoint)
    : mixer_(mixer), endpoint_(std::move(endpoint)) {}

CWASAPICapture::~CWASAPICapture() {
    StopClient(false);
    ReleaseClient();
}

AudioResult CWASAPICapture::InitializeClient(int blockDurationMs, platform::Event* startEvent) {
    ReleaseClient();
    startEvent_ = startEvent;
    blockDurationMs_ = blockDurationMs;
    shutdown_ = std::make_unique<platform::Event>(platform::Event::Mode::AutoReset);
    if (endpoint_ == nullptr || mixer_ == nullptr) {
        return kAudioNoDevice;
    }
    AudioResult hr = endpoint_->Activate(&stream_);
    if (platform::Failed(hr)) {
        platform::DebugOutput(platform::Format("Unable to initialize capture audio client: {:x}.\n",
                                               static_cast<std::uint32_t>(hr)));
        return hr;
    }
    WaveFormat wave;
    if (CKaraokeContext* context = GetKaraokeContext()) {
        wave = *context->GetAudioFormat();
        threshold_ = context->GetCaptureStartThreshold();
    }
    const platform::AudioFormat format = ToEndpointFormat(wave);
    frameSize_ = format.BytesPerFrame();
    hr = stream_->Initialize(format, static_cast<std::uint32_t>(blockDurationMs));
    if (platform::Failed(hr)) {
        platform::DebugOutput(platform::Format("Unable to initialize capture audio client: {:x}.\n",
                                               static_cast<std::uint32_t>(hr)));
        stream_.reset();
        return hr;
    }
    bufferFrames_ = stream_->BufferFrames();
    silence_.reset(new std::uint8_t[bufferFrames_ * frameSize_]());
    platform::DebugOutput("Capture audio client initialized.\n");
    return kAudioOk;
}

void CWASAPICapture::ReleaseClient() {
    if (thread_.joinable()) {
        return;  // still running: StopClient releases
    }
    stream_.reset();
}

void CWASAPICapture::Raise(int event) {
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(event);
    }
}

AudioResult CWASAPICapture::StartClient(bool resume) {
    if (resume) {
        const AudioResult hr = InitializeClient(blockDurationMs_, startEvent_);
        if (platform::Failed(hr)) {
            return hr;
        }
    }
    if (stream_ == nullptr || thread_.joinable()) {
        return kAudioWrongState;
    }
    blockCount_ = 0;
    threadError_ = kAudioOk;
    try {
        thread_ = std::thread([this] { CaptureLoop(); });
    } catch (const std::system_error&) {
        return kAudioFail;
    }
    const AudioResult hr = stream_->Start();
    if (platform::Failed(hr)) {
        platform::DebugOutput(platform::Format("Unable to start capture client : {:x}.\n",
                                               static_cast<std::uint32_t>(hr)));
        // A thread left waiting would never be joined.
        shutdown_->Set();
        thread_.join();
        return hr;
    }
    platform::DebugOutput("Capture client started.\n");
    Raise(kPlayerEventStarted);
    return hr;
}

AudioResult CWASAPICapture::StopClient(bool pause) {
    if (!thread_.joinable()) {
        return kAudioOk;
    }
    shutdown_->Set();
    const AudioResult hr = stream_->Stop();
    thread_.join();  // whatever Stop said: the thread must not outlive the stream
    if (platform::Failed(hr)) {
        platform::DebugOutput(platform::Format("Unable to stop capture client: {:x}\n",
                                               static_cast<std::uint32_t>(hr)));
    }
    Raise(pause ? kPlayerEventPaused : kPlayerEventStopped);
    stream_.reset();
    platform::DebugOutput("Capture client stopped.\n");
    return hr;
}

void CWASAPICapture::CaptureLoop() {
    platform::SetCurrentThreadPriority(platform::ThreadPriority::ProAudio);
    for (;;) {
        const platform::AudioWait w = stream_->Wait(*shutdown_);
        if (w == platform::AudioWait::Shutdown) {
            break;
        }
        if (w == platform::AudioWait::TimedOut) {
            continue;
        }
        if (w == platform::AudioWait::Failed) {
            threadError_ = stream_->LastError();
            break;  // the device is gone: end instead of waiting for ever
        }
        const std::byte* data = nullptr;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
        const AudioResult hr = stream_->AcquireCapture(&data, &frames, &flags);
        if (hr != platform::kOk) {
            if (platform::Failed(hr)) {
                threadError_ = hr;
                break;
            }
            continue;  // no whole period yet
        }
        if (frames > 0) {
            const std::uint8_t* block =
                (flags & platform::kAudioBufferSilent) != 0 || data == nullptr
                    ? silence_.get()
                    : reinterpret_cast<const std::uint8_t*>(data);
            mixer_->OnCaptureBlock(block, frames * frameSize_);
            const int count = blockCount_.fetch_add(1, std::memory_order_relaxed) + 1;
            if (count > threshold_ && startEvent_ != nullptr) {
                startEvent_->Set();
            }
        }
        stream_->ReleaseCapture(frames);
    }
}
