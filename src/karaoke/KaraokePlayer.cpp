#include "karaoke/KaraokePlayer.h"

#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"

KaraokePlayer::KaraokePlayer(IKaraokeEngineFactory& factory) : factory_(factory) {
    mixer_ = factory_.CreateMixer();
    if (mixer_ == nullptr) {
        return;
    }
    auto capture = factory_.CreateCapture(*mixer_);
    auto render = factory_.CreateRender(*mixer_);
    if (capture != nullptr && render != nullptr) {
        capture_ = std::move(capture);
        render_ = std::move(render);
    }
}

KaraokePlayer::~KaraokePlayer() {
    Stop();
    JoinWatcher();
    CloseSources();
    render_.reset();
    capture_.reset();
    mixer_.reset();
}

void KaraokePlayer::SetListener(IKaraokePlayerListener* listener) {
    listener_.store(listener);
    if (capture_ != nullptr) {
        capture_->SetListener(listener);
    }
    if (render_ != nullptr) {
        render_->SetListener(listener);
    }
}

void KaraokePlayer::Open() {
    CKaraokeContext* context = GetKaraokeContext();
    if (mixer_ == nullptr || context == nullptr) {
        return;
    }
    const bool replay = context->IsReplay();
    if (render_ == nullptr) {
        // Nothing will decode: the window must not wait for the sources.
        duration_ = 0;
        mixer_->SetSourceReady(false, true);
        mixer_->SetSourceReady(true, true);
        return;
    }
    std::shared_ptr<const platform::MediaSource> music;
    std::int64_t duration = 0;
    const AudioResult musicResult =
        factory_.ResolveMedia(context->GetMusicPath(), &music, &duration);
    platform::DebugOutput("MFCreateSourceResolver() Succeed.\n");
    platform::DebugOutput("CreateObjectFromURL() Succeed.\n");
    if (!AudioSucceeded(musicResult)) {
        mixer_->SetSourceReady(false, true);
        mixer_->SetSourceReady(true, true);
        duration_ = 0;
        return;
    }
    duration_ = duration;
    render_->SetSource(music, 0);
    if (replay) {
        std::shared_ptr<const platform::MediaSource> vocal;
        std::int64_t ignored = 0;
        if (!AudioSucceeded(factory_.ResolveMedia(context->GetVocalPath(), &vocal, &ignored))) {
            mixer_->SetSourceReady(true, true);
            duration_ = 0;
        } else {
            render_->SetSource(vocal, 1);
        }
    }
    if (!AudioSucceeded(render_->StartSources())) {
        mixer_->SetSourceReady(false, true);
        mixer_->SetSourceReady(true, true);
    }
}

void KaraokePlayer::CloseSources() {
    if (render_ != nullptr) {
        render_->StopSources();
    }
}

bool KaraokePlayer::IsReady() const {
    if (mixer_ == nullptr || render_ == nullptr) {
        return true;
    }
    CKaraokeContext* context = GetKaraokeContext();
    const bool replay = context != nullptr && context->IsReplay();
    return mixer_->IsMusicReady() && (!replay || mixer_->IsVocalReady());
}

std::int64_t KaraokePlayer::GetDuration() {
    if (notStarted_) {
        CKaraokeContext* context = GetKaraokeContext();
        std::shared_ptr<const platform::MediaSource> source;
        std::int64_t duration = 0;
        if (context == nullptr ||
            !AudioSucceeded(factory_.ResolveMedia(context->GetMusicPath(), &source, &duration))) {
            if (mixer_ != nullptr) {
                mixer_->SetSourceReady(false, true);
            }
            duration = 0;
        }
        duration_ = duration;
    }
    return duration_;
}

AudioResult KaraokePlayer::Play() {
    if (!notStarted_) {
        if (state_ == kStatePlaying) {
            return Pause();
        }
        if (state_ == kStatePaused) {
            return Resume();
        }
        return kAudioOk;
    }
    return Start();
}

AudioResult KaraokePlayer::Start() {
    CKaraokeContext* context = GetKaraokeContext();
    if (mixer_ == nullptr || context == nullptr || !HasClients()) {
        return kAudioNoDevice;  // nothing to play on; the state stays stopped
    }
    JoinWatcher();
    live_ = !context->IsReplay();
    const int blockDuration = context->GetBlockDuration();
    IKaraokeEvaluation* evaluation = factory_.Evaluation();
    IKeyShifterModule* shifter = factory_.KeyShifter();

    if (live_) {
        const std::wstring temp = context->GetTempFolder();
        if (temp.empty() || !platform::MakeWholePath(temp)) {
            return kAudioFileError;
        }
        for (const platform::FoundFile& f : platform::FindFiles(temp, L"*")) {
            if (!f.isFolder) {
                platform::DeleteFile(temp + f.name);
            }
        }
        context->SetRecordFolder(temp);
        startEvent_ = std::make_unique<platform::Event>(platform::Event::Mode::AutoReset);
    }
    // The render thread reads only this value: the duration is settled now,
    // before any audio thread runs.
    GetDuration();
    render_->SetSongDuration(duration_);
    mixer_->SetVoiceProcessor(live_ ? evaluation : nullptr);
    mixer_->SetKeyShifter(live_ ? shifter : nullptr);

    AudioResult hr = mixer_->Initialize();
    if (!AudioSucceeded(hr)) {
        startEvent_.reset();
        return hr;
    }
    bool captureInitialized = false;
    bool renderInitialized = false;
    auto fail = [&](AudioResult error) {
        if (captureInitialized) {
            capture_->ReleaseClient();
        }
        if (renderInitialized) {
            render_->ReleaseClient();
        }
        RollBack(false, false);
        return error;
    };
    if (live_) {
        hr = capture_->InitializeClient(blockDuration, startEvent_.get());
        if (!AudioSucceeded(hr)) {
            return fail(hr);
        }
        captureInitialized = true;
    }
    hr = render_->InitializeClient(blockDuration, live_ ? startEvent_.get() : nullptr);
    if (!AudioSucceeded(hr)) {
        return fail(hr);
    }
    renderInitialized = true;
    if (live_) {
        if (evaluation != nullptr && !evaluation->Start()) {
            platform::DebugOutput("ScoreEngine Start failed: the performance is not scored.\n");
        }
        const unsigned channels = context->GetAudioFormat()->channels;
        if (shifter != nullptr && (channels == 1 || channels == 2)) {
            shifter->InitPitchShifter(channels);
        }
        if (evaluation != nullptr) {
            evaluation->ApplyKey();
        } else if (shifter != nullptr) {
            shifter->ApplyCurrentKey();
        }
    }
    hr = mixer_->Start();
    if (!AudioSucceeded(hr)) {
        return fail(hr);
    }
    bool captureStarted = false;
    if (live_) {
        hr = capture_->StartClient(false);
        if (!AudioSucceeded(hr)) {
            return fail(hr);
        }
        captureStarted = true;
    }
    hr = render_->StartClient(false);
    if (!AudioSucceeded(hr)) {
        RollBack(captureStarted, false);
        return hr;
    }
    try {
        StartWatcher();
    } catch (const std::system_error&) {
        RollBack(captureStarted, true);
        return kAudioFail;
    }
    notStarted_ = false;
    state_ = kStatePlaying;
    return kAudioOk;
}

void KaraokePlayer::RollBack(bool captureStarted, bool renderStarted) {
    if (captureStarted) {
        capture_->StopClient(false);
    }
    if (renderStarted) {
        render_->StopClient(false);
    }
    JoinWatcher();
    mixer_->Stop();  // closes the recordings and gives the card its effect back
    startEvent_.reset();
    notStarted_ = true;
    state_ = kStateStopped;
}

AudioResult KaraokePlayer::Pause() {
    if (notStarted_ || state_ != kStatePlaying) {
        return kAudioWrongState;
    }
    if (live_) {
        capture_->StopClient(true);
    }
    const AudioResult hr = render_->StopClient(true);
    if (AudioSucceeded(hr)) {
        state_ = kStatePaused;
    }
    return hr;
}

AudioResult KaraokePlayer::Resume() {
    if (notStarted_ || state_ != kStatePaused) {
        return kAudioWrongState;
    }
    JoinWatcher();
    IKeyShifterModule* shifter = factory_.KeyShifter();
    CKaraokeContext* context = GetKaraokeContext();
    const unsigned channels = context != nullptr ? context->GetAudioFormat()->channels : 2;
    if (live_ && shifter != nullptr && (channels == 1 || channels == 2)) {
        shifter->InitPitchShifter(channels);
    }
    if (live_) {
        const AudioResult hr = capture_->StartClient(true);
        if (!AudioSucceeded(hr)) {
            Stop();  // the device is gone: end the performance properly
            return hr;
        }
    }
    const AudioResult hr = render_->StartClient(true);
    if (!AudioSucceeded(hr)) {
        Stop();
        return hr;
    }
    StartWatcher();
    state_ = kStatePlaying;
    return kAudioOk;
}

AudioResult KaraokePlayer::Stop() {
    if (state_ == kStateStopped) {
        return kAudioOk;
    }
    if (live_) {
        capture_->StopClient(false);
    }
    const AudioResult hr = render_->StopClient(false);
    mixer_->Stop();  // also when the render client could not
    if (live_) {
        if (IKaraokeEvaluation* evaluation = factory_.Evaluation()) {
            if (CKaraokeContext* context = GetKaraokeContext()) {
                evaluation->SaveResults(context->GetRecordFolder());
            }
        }
    }
    notStarted_ = true;
    state_ = kStateStopped;
    startEvent_.reset();
    return hr;
}

void KaraokePlayer::StartWatcher() {
    watcher_ = std::thread([this] { Watch(); });
}

void KaraokePlayer::JoinWatcher() {
    if (!watcher_.joinable()) {
        return;
    }
    if (watcher_.get_id() == std::this_thread::get_id()) {
        watcher_.detach();  // called from its own end-of-song event
        return;
    }
    watcher_.join();
}

void KaraokePlayer::Watch() {
    // The render client joins its thread; the watcher only waits for its end.
    if (render_->WaitForThreadEnd() != 0) {
        if (IKaraokePlayerListener* listener = listener_.load()) {
            listener->OnPlayerEvent(kPlayerEventEndOfSong);
        }
    }
}
