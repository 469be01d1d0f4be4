#include "karaoke/KaraokeController.h"

#include <array>
#include <atomic>

#include "karaoke/KaraokePlayer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"

namespace {

constexpr std::array<std::uint32_t, 25> kKeyRatios = {
    32768, 34717, 36781, 38968, 41285, 43740, 46341, 49097,  52016,  55109,  58386,  61858, 65536,
    69433, 73562, 77936, 82570, 87480, 92682, 98193, 104032, 110218, 116772, 123716, 131072};

std::atomic<KaraokeController*> g_controller{nullptr};
std::mutex g_controllerMutex;

bool IsReplay() {
    CKaraokeContext* context = GetKaraokeContext();
    return context != nullptr && context->IsReplay();
}

}  // namespace

std::uint32_t KeyRatio(int semitones) {
    const int k = semitones < -12 ? -12 : (semitones > 12 ? 12 : semitones);
    return kKeyRatios[static_cast<std::size_t>(k + 12)];
}

std::uint32_t InverseKeyRatio(int semitones) {
    return 0x80000000u / KeyRatio(semitones);
}

KaraokeController::KaraokeController() {
    if (IKaraokeEvaluation* evaluation = GetKaraokeEngineFactory().Evaluation()) {
        evaluation->SetEffects(true);
    }
    platform::DebugOutput("EnableEcho&EnableReverb() Succeed.\n");
}

KaraokeController::~KaraokeController() {
    player_.reset();
}

void KaraokeController::EnsurePlayer() {
    if (player_ == nullptr) {
        player_ = std::make_unique<KaraokePlayer>(GetKaraokeEngineFactory());
        ApplyRememberedVolumes();
    }
}

void KaraokeController::ApplyRememberedVolumes() {
    if (player_ == nullptr || player_->Mixer() == nullptr) {
        return;
    }
    VolumeRequest music{true, kVolumeMusic, musicLevel_};
    VolumeRequest replay{true, kVolumeReplay, replayLevel_};
    player_->Mixer()->Volume(&music);
    player_->Mixer()->Volume(&replay);
    player_->Mixer()->SetReplayVoiceOnly(replayVoiceOnly_);
}

void KaraokeController::SetListener(IKaraokeControllerListener* listener) {
    {
        std::lock_guard<std::mutex> guard(listenerMutex_);
        listener_ = listener;
    }
    if (listener != nullptr) {
        EnsurePlayer();
        // A new window shows the key at "0": the audio and the scoring start
        // there too, whatever the last window left.
        keyStep_ = kKeyStepZero;
        ApplyKeyStep();
        effectsOn_ = true;
        if (IKaraokeEvaluation* evaluation = GetKaraokeEngineFactory().Evaluation()) {
            evaluation->SetEffects(true);
        }
    }
}

void KaraokeController::Play() {
    EnsurePlayer();
    player_->SetListener(this);
    player_->Play();
}

void KaraokeController::Pause() {
    if (player_ != nullptr) {
        player_->Pause();
    }
}

void KaraokeController::Resume() {
    if (player_ != nullptr) {
        player_->Resume();
    }
}

void KaraokeController::Stop() {
    if (player_ != nullptr) {
        player_->Stop();
    }
}

int KaraokeController::Volume(VolumeRequest* request) {
    if (request == nullptr) {
        return -1;
    }
    if (player_ == nullptr) {
        return -3;
    }
    SoundMixer* mixer = player_->Mixer();
    if (mixer == nullptr) {
        return -2;
    }
    const int result = mixer->Volume(request);
    if (result == 0 && request->set) {
        if (request->channel == kVolumeMusic) {
            musicLevel_ = request->value;
        } else if (request->channel == kVolumeReplay) {
            replayLevel_ = request->value;
        }
    }
    return result;
}

std::int64_t KaraokeController::GetPosition() {
    if (player_ == nullptr || player_->Mixer() == nullptr || !player_->HasClients()) {
        return 0;
    }
    return player_->Mixer()->GetPosition();
}

std::int64_t KaraokeController::GetDuration() {
    return player_ != nullptr ? player_->GetDuration() : 0;
}

void KaraokeController::Seek(int blocks) {
    if (player_ != nullptr && player_->Mixer() != nullptr) {
        player_->Mixer()->Seek(blocks);
    }
}

void KaraokeController::Open() {
    EnsurePlayer();
    player_->Open();
}

void KaraokeController::CloseSources() {
    if (player_ != nullptr) {
        player_->CloseSources();
    }
}

bool KaraokeController::IsReady() {
    return player_ == nullptr || player_->IsReady();
}

int KaraokeController::CloseSourceFiles() {
    if (player_ == nullptr || player_->Mixer() == nullptr) {
        return -1;
    }
    player_->Mixer()->CloseSourceFiles();
    player_.reset();
    return 0;
}

IKaraokeControllerListener* KaraokeController::CurrentListener() {
    std::lock_guard<std::mutex> guard(listenerMutex_);
    return listener_;
}

void KaraokeController::OnPlayerEvent(int event) {
    // Called outside the lock: the listener may call back into the controller.
    if (IKaraokeControllerListener* listener = CurrentListener()) {
        listener->OnPlayerEvent(event);
    }
}

void KaraokeController::OnPlayerNotify(int a, int b, int c) {
    if (IKaraokeControllerListener* listener = CurrentListener()) {
        listener->OnPlayerNotify(a, b, c);
    }
}

bool KaraokeController::SetKeyStep(int step) {
    if (step < 0 || step >= kKeySteps || IsReplay()) {
        return false;
    }
    if (step != keyStep_) {
        keyStep_ = step;
        ApplyKeyStep();
    }
    return true;
}

bool KaraokeController::KeyUp() {
    return CanKeyUp() && SetKeyStep(keyStep_ + 1);
}

bool KaraokeController::KeyDown() {
    return CanKeyDown() && SetKeyStep(keyStep_ - 1);
}

void KaraokeController::ApplyKeyStep() {
    const int semitones = KeySemitones();
    IKaraokeEngineFactory& factory = GetKaraokeEngineFactory();
    if (IKaraokeEvaluation* evaluation = factory.Evaluation()) {
        evaluation->SetKey(semitones);
    }
    if (IKeyShifterModule* shifter = factory.KeyShifter()) {
        shifter->SetPitchShifterValue(semitones);
    }
    platform::DebugOutput("SetPitchShifterValue() Succeed.\n");
    platform::DebugOutput("UpdatePitchShifterValue() Succeed.\n");
}

void KaraokeController::ToggleEffect() {
    if (IsReplay()) {
        SetReplayVoiceOnly(!replayVoiceOnly_);
        return;
    }
    effectsOn_ = !effectsOn_;
    if (IKaraokeEvaluation* evaluation = GetKaraokeEngineFactory().Evaluation()) {
        evaluation->SetEffects(effectsOn_);
    }
}

void KaraokeController::SetReplayVoiceOnly(bool voiceOnly) {
    replayVoiceOnly_ = voiceOnly;
    if (player_ != nullptr && player_->Mixer() != nullptr) {
        player_->Mixer()->SetReplayVoiceOnly(voiceOnly);
    }
}

int KaraokeController::PlayerState() const {
    return player_ != nullptr ? player_->State() : KaraokePlayer::kStateStopped;
}

namespace {
std::atomic<bool> g_controllerClosed{false};
}

KaraokeController* GetKaraokeController() {
    KaraokeController* controller = g_controller.load(std::memory_order_acquire);
    if (controller != nullptr || g_controllerClosed.load()) {
        return controller;
    }
    std::lock_guard<std::mutex> guard(g_controllerMutex);
    controller = g_controller.load(std::memory_order_relaxed);
    if (controller == nullptr) {
        controller = new (std::nothrow) KaraokeController();
        g_controller.store(controller, std::memory_order_release);
    }
    return controller;
}

void DeleteKaraokeController() {
    std::lock_guard<std::mutex> guard(g_controllerMutex);
    delete g_controller.exchange(nullptr, std::memory_order_acq_rel);
}

void SetKaraokeControllerClosed(bool closed) {
    g_controllerClosed.store(closed);
}
