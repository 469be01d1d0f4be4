#include "audio/CWASAPIRender.h"

#include "audio/SoundMixer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Format.h"
#include "platform/thread/ThreadPriority.h"

namespace {

platform::AudioFormat EngineFormat() {
    WaveFormat wave;
    if (CKaraokeContext* context = GetKaraokeContext()) {
        wave = *context->GetAudioFormat();
    }
    return ToEndpointFormat(wave);
}

bool IsReplay() {
    CKaraokeContext* context = GetKaraokeContext();
    return context != nullptr && context->IsReplay();
}

std::string Hex(AudioResult hr) {
    return platform::Format("{:x}", static_cast<std::uint32_t>(hr));
}

}  // namespace

CWASAPIRender::CWASAPIRender(SoundMixer* mixer, std::shared_ptr<platform::AudioEndpoint> endpoint)
    : mixer_(mixer), endpoint_(std::move(endpoint)) {}

CWASAPIRender::~CWASAPIRender() {
    StopClient(true);
    ReleaseClient();
    StopSources();
}

AudioResult CWASAPIRender::InitializeClient(int blockDurationMs, platform::Event* startEvent) {
    ReleaseClient();
    startEvent_ = startEvent;
    blockDurationMs_ = blockDurationMs;
    shutdown_ = std::make_unique<platform::Event>(platform::Event::Mode::AutoReset);
    if (endpoint_ == nullptr || mixer_ == nullptr) {
        return kAudioNoDevice;
    }
    AudioResult hr = endpoint_->Activate(&stream_);
    if (platform::Failed(hr)) {
        platform::DebugOutput("Unable to initialize render audio client: " + Hex(hr) + ".\n");
        return hr;
    }
    const platform::AudioFormat format = EngineFormat();
    if (stream_->IsFormatSupported(format) != platform::kAudioUnsupportedFormat) {
        frameSize_ = format.BytesPerFrame();
    }
    hr = stream_->Initialize(format, static_cast<std::uint32_t>(blockDurationMs));
    if (platform::Failed(hr)) {
        platform::DebugOutput("Unable to initialize render audio client: " + Hex(hr) + ".\n");
        stream_.reset();
        return hr;
    }
    bufferFrames_ = stream_->BufferFrames();
    // The endpoint re-blocks to the period asked for; a period that is not
    // one mixer block would overrun or underfill the device buffer.
    if (bufferFrames_ * frameSize_ != mixer_->BlockLength()) {
        platform::DebugOutput("Unable to initialize render audio client: " +
                              Hex(platform::kAudioBufferError) + ".\n");
        stream_.reset();
        return platform::kAudioBufferError;
    }
    platform::DebugOutput("Render audio client initialized.\n");
    return kAudioOk;
}

void CWASAPIRender::ReleaseClient() {
    if (thread_.joinable()) {
        return;
    }
    stream_.reset();
}

void CWASAPIRender::Raise(int event) {
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(event);
    }
}

AudioResult CWASAPIRender::StartClient(bool resume) {
    if (resume) {
        const AudioResult hr = InitializeClient(blockDurationMs_, startEvent_);
        if (platform::Failed(hr)) {
            return hr;
        }
    }
    if (stream_ == nullptr || thread_.joinable()) {
        return kAudioWrongState;
    }
    {
        std::lock_guard<std::mutex> guard(endMutex_);
        threadRunning_ = true;
        exitCode_ = 0;
    }
    try {
        thread_ = std::thread([this] { RenderLoop(); });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> guard(endMutex_);
        threadRunning_ = false;
        endChanged_.notify_all();
        return kAudioFail;
    }
    const AudioResult hr = stream_->Start();  // the device starts on one period of silence
    if (platform::Failed(hr)) {
        platform::DebugOutput("Unable to start render client: " + Hex(hr) + ".\n");
        shutdown_->Set();
        thread_.join();
        return hr;
    }
    platform::DebugOutput("Render client started.\n");
    Raise(kPlayerEventStarted);
    return hr;
}

AudioResult CWASAPIRender::StopClient(bool pause) {
    if (!thread_.joinable()) {
        return kAudioOk;
    }
    shutdown_->Set();
    const AudioResult hr = stream_ != nullptr ? stream_->Stop() : kAudioOk;
    // The one join of the render thread; the watcher only waits for its end.
    thread_.join();
    if (platform::Failed(hr)) {
        platform::DebugOutput("Unable to stop render client: " + Hex(hr) + "\n");
    }
    stream_.reset();
    platform::DebugOutput("Render client stopped.\n");
    if (!pause) {
        mixer_->Stop();
        platform::DebugOutput("SoundMixer stopped.\n");
    }
    Raise(pause ? kPlayerEventPaused : kPlayerEventStopped);
    return hr;
}

int CWASAPIRender::WaitForThreadEnd() {
    std::unique_lock<std::mutex> lock(endMutex_);
    endChanged_.wait(lock, [this] { return !threadRunning_; });
    return exitCode_;
}

void CWASAPIRender::RenderLoop() {
    if (startEvent_ != nullptr) {
        startEvent_->Wait(10);  // begin with the first captured block
    }
    platform::SetCurrentThreadPriority(platform::ThreadPriority::ProAudio);
    int result = 0;
    for (;;) {
        const platform::AudioWait w = stream_->Wait(*shutdown_);
        if (w == platform::AudioWait::Shutdown || w == platform::AudioWait::Failed) {
            break;
        }
        if (w == platform::AudioWait::TimedOut) {
            continue;
        }
        if (mixer_->GetPosition() >= duration_.load(std::memory_order_relaxed)) {
            result = 1;
            break;
        }
        std::byte* data = nullptr;
        if (platform::Failed(stream_->AcquireRender(bufferFrames_, &data))) {
            break;
        }
        mixer_->Lock();
        if (data == nullptr) {
            mixer_->Unlock();
            break;
        }
        std::uint32_t written = 0;
        mixer_->FillRenderBlock(reinterpret_cast<std::uint8_t*>(data), &written);  // unlocks
        if (platform::Failed(stream_->ReleaseRender(
                bufferFrames_, written == 0 ? platform::kAudioBufferSilent : 0))) {
            break;
        }
    }
    // The thread ends here: taking a lock to publish the result is fine now.
    std::lock_guard<std::mutex> guard(endMutex_);
    exitCode_ = result;
    threadRunning_ = false;
    endChanged_.notify_all();
}

AudioResult CWASAPIRender::SetSource(std::shared_ptr<const platform::MediaSource> source,
                                     int index) {
    if (index == 0) {
        musicSource_ = std::move(source);
    } else if (index == 1) {
        vocalSource_ = std::move(source);
    } else {
        return platform::kInvalidArg;
    }
    return kAudioOk;
}

AudioResult CWASAPIRender::StartSources() {
    StopSources();
    const bool replay = IsReplay();
    MFSampleGenerator::Options options;
    options.tempFolder = decoderTemp_;
    options.earlyHandOver = !replay;
    musicGenerator_ = std::make_unique<MFSampleGenerator>(mixer_, false, options);
    platform::DebugOutput("new MFSampleGenerator(_m_pSoundMixer,false) Succeed.\n");
    if (replay) {
        vocalGenerator_ = std::make_unique<MFSampleGenerator>(mixer_, true, options);
    }
    const platform::AudioFormat format = EngineFormat();
    const std::uint32_t frames = format.FramesIn(static_cast<std::uint32_t>(blockDurationMs_));
    AudioResult hr = musicGenerator_->Configure(musicSource_, frames, format);
    if (platform::Failed(hr)) {
        return hr;
    }
    hr = musicGenerator_->StartSource();
    platform::DebugOutput("_m_pMFSource->StartSource() Succeed.\n");
    if (platform::Failed(hr) || !replay) {
        return hr;
    }
    hr = vocalGenerator_->Configure(vocalSource_, frames, format);
    if (platform::Failed(hr)) {
        return hr;
    }
    return vocalGenerator_->StartSource();
}

AudioResult CWASAPIRender::StopSources() {
    for (auto* generator : {&musicGenerator_, &vocalGenerator_}) {
        if (*generator != nullptr) {
            (*generator)->StopSource();
            (*generator)->Shutdown();
        }
    }
    return kAudioOk;
}
