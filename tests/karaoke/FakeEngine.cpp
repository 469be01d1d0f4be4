#include "FakeEngine.h"

#include <cstring>

#include "platform/text/Utf.h"

namespace karaoketest {

namespace {
std::mutex g_callsMutex;
std::vector<std::string> g_calls;
void Note(const char* call) {
    std::lock_guard<std::mutex> guard(g_callsMutex);
    g_calls.emplace_back(call);
}
const DeviceLibraryFunctions kLibrary{
    [] {
        Note("ConfLibInit");
        return 1;
    },
    [] {
        Note("ConfLibUnInit");
        return 1;
    },
    [] {
        Note("DisabletKaraokeEffect");
        return 1;
    },
    [] {
        Note("RecoverKaraokeEffect");
        return 1;
    },
    nullptr,
    nullptr,
    nullptr,
};
}  // namespace

std::vector<std::string> TakeLibraryCalls() {
    std::lock_guard<std::mutex> guard(g_callsMutex);
    std::vector<std::string> calls;
    calls.swap(g_calls);
    return calls;
}

FakeCapture::~FakeCapture() {
    StopClient(false);
}

AudioResult FakeCapture::InitializeClient(int blockDurationMs, platform::Event* startEvent) {
    ++initializeCalls;
    if (failInitialize != kAudioOk) {
        return failInitialize;
    }
    blockDurationMs_ = blockDurationMs;
    startEvent_ = startEvent;
    initialized_ = true;
    return kAudioOk;
}

AudioResult FakeCapture::StartClient(bool resume) {
    if (resume) {
        const AudioResult hr = InitializeClient(blockDurationMs_, startEvent_);
        if (hr != kAudioOk) {
            return hr;
        }
    }
    if (!initialized_ || thread_.joinable()) {
        return kAudioWrongState;
    }
    stop_ = false;
    thread_ = std::thread([this] { Loop(); });
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(kPlayerEventStarted);
    }
    return kAudioOk;
}

AudioResult FakeCapture::StopClient(bool pause) {
    if (!thread_.joinable()) {
        return kAudioOk;
    }
    stop_ = true;
    thread_.join();
    initialized_ = false;
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(pause ? kPlayerEventPaused : kPlayerEventStopped);
    }
    return kAudioOk;
}

void FakeCapture::Loop() {
    std::vector<std::uint8_t> block(mixer_.BlockLength());
    for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
        std::memcpy(&block[i], &voiceValue, 2);
    }
    while (!stop_) {
        // The device's period, shortened: what counts is its clock, which
        // the mixer reads.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        while (mixer_.QueuedRecordingBlocks() > 60 && !stop_) {
            std::this_thread::yield();
        }
        clock_.Advance(static_cast<std::uint64_t>(blockDurationMs_));
        mixer_.OnCaptureBlock(block.data(), static_cast<std::uint32_t>(block.size()));
        ++blocks;
        if (startEvent_ != nullptr) {
            startEvent_->Set();
        }
    }
}

FakeRender::~FakeRender() {
    StopClient(true);
}

AudioResult FakeRender::InitializeClient(int, platform::Event* startEvent) {
    if (failInitialize != kAudioOk) {
        return failInitialize;
    }
    startEvent_ = startEvent;
    initialized_ = true;
    return kAudioOk;
}

AudioResult FakeRender::StartClient(bool resume) {
    if (resume) {
        initialized_ = true;
    }
    if (failStart != kAudioOk) {
        return failStart;
    }
    if (!initialized_ || thread_.joinable()) {
        return kAudioWrongState;
    }
    stop_ = false;
    {
        std::lock_guard<std::mutex> guard(endMutex_);
        running_ = true;
        exitCode_ = 0;
    }
    thread_ = std::thread([this] { Loop(); });
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(kPlayerEventStarted);
    }
    return kAudioOk;
}

AudioResult FakeRender::StopClient(bool pause) {
    if (!thread_.joinable()) {
        return kAudioOk;
    }
    stop_ = true;
    if (startEvent_ != nullptr) {
        startEvent_->Set();
    }
    thread_.join();
    initialized_ = false;
    if (!pause) {
        mixer_.Stop();
    }
    if (listener_ != nullptr) {
        listener_->OnPlayerEvent(pause ? kPlayerEventPaused : kPlayerEventStopped);
    }
    return kAudioOk;
}

int FakeRender::WaitForThreadEnd() {
    std::unique_lock<std::mutex> lock(endMutex_);
    endChanged_.wait(lock, [this] { return !running_; });
    return exitCode_;
}

void FakeRender::Loop() {
    std::vector<std::uint8_t> out(mixer_.BlockLength());
    int code = 0;
    while (!stop_) {
        if (startEvent_ != nullptr) {
            startEvent_->Wait(50);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (stop_) {
            break;
        }
        if (mixer_.GetPosition() >= duration_.load()) {
            code = 1;
            break;
        }
        std::uint32_t written = 0;
        mixer_.Lock();
        mixer_.FillRenderBlock(out.data(), &written);
        if (written == 0) {
            ++silentBlocks;
            continue;
        }
        ++blocks;
        std::int16_t first;
        std::memcpy(&first, out.data(), 2);
        std::lock_guard<std::mutex> guard(heardMutex_);
        heard_.push_back(first);
    }
    std::lock_guard<std::mutex> guard(endMutex_);
    running_ = false;
    exitCode_ = code;
    endChanged_.notify_all();
}

std::vector<int> FakeRender::Heard() {
    std::lock_guard<std::mutex> guard(heardMutex_);
    return heard_;
}

AudioResult FakeRender::SetSource(std::shared_ptr<const platform::MediaSource>, int) {
    ++sourcesSet;
    return kAudioOk;
}

AudioResult FakeRender::StartSources() {
    if (musicFile.empty()) {
        return kAudioFail;
    }
    mixer_.SetSourceFile(std::fopen(musicFile.string().c_str(), "rb"), false);
    if (!vocalFile.empty()) {
        mixer_.SetSourceFile(std::fopen(vocalFile.string().c_str(), "rb"), true);
    }
    return kAudioOk;
}

AudioResult FakeRender::StopSources() {
    return kAudioOk;
}

void FakeEvaluation::ProcessBlock(const short* input, short* output, int frames, short* output2) {
    ++processed;
    std::memmove(output, input, static_cast<std::size_t>(frames) * 4);
    std::memcpy(output2, input, static_cast<std::size_t>(frames) * 4);
}

std::unique_ptr<SoundMixer> FakeEngineFactory::CreateMixer() {
    return std::make_unique<SoundMixer>(clock, &kLibrary);
}

std::unique_ptr<ICaptureClient> FakeEngineFactory::CreateCapture(SoundMixer& mixer) {
    if (!withDevices) {
        return nullptr;
    }
    auto c = std::make_unique<FakeCapture>(mixer, clock);
    c->failInitialize = captureInitFailure;
    capture = c.get();
    return c;
}

std::unique_ptr<IRenderClient> FakeEngineFactory::CreateRender(SoundMixer& mixer) {
    if (!withDevices) {
        return nullptr;
    }
    auto r = std::make_unique<FakeRender>(mixer);
    r->failInitialize = renderInitFailure;
    r->musicFile = musicFile;
    r->vocalFile = vocalFile;
    render = r.get();
    return r;
}

AudioResult FakeEngineFactory::ResolveMedia(const std::wstring& path,
                                            std::shared_ptr<const platform::MediaSource>* source,
                                            std::int64_t* duration) {
    ++resolves;
    if (source != nullptr) {
        source->reset();
    }
    if (resolveFails || path.empty()) {
        *duration = 0;
        return kAudioFail;
    }
    *duration = durationMs;
    return kAudioOk;
}

}  // namespace karaoketest
