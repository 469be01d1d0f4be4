#include "karaoke/ScoreEngineEvaluation.h"

#include "audio/SoundMixer.h"
#include "karaoke/KaraokeController.h"
#include "karaoke/KaraokePlayer.h"

CScoreEngineEvaluation::CScoreEngineEvaluation(ScoreEngine& engine) : engine_(engine) {}

bool CScoreEngineEvaluation::Start() {
    // The player calls this while capture is stopped: the mixer and the
    // duration are settled and stay so for the whole performance.
    SoundMixer* mixer = nullptr;
    duration_ = 0;
    if (KaraokeController* controller = GetKaraokeController()) {
        if (KaraokePlayer* player = controller->Player()) {
            mixer = player->Mixer();
            duration_ = player->GetDuration();
        }
    }
    mixer_.store(mixer, std::memory_order_release);
    engine_.SetClock(this);
    return engine_.Start();
}

void CScoreEngineEvaluation::ProcessBlock(const short* input, short* output, int frames,
                                          short* output2) {
    engine_.ProcessBlock(input, output, frames, output2);
}

void CScoreEngineEvaluation::SaveResults(const std::wstring& folder) {
    saved_ = engine_.SaveResults(folder);
    mixer_.store(nullptr, std::memory_order_release);
}

void CScoreEngineEvaluation::ApplyKey() {
    engine_.ApplyKey();
}

void CScoreEngineEvaluation::SetKey(int semitones) {
    engine_.SetKey(semitones);
}

void CScoreEngineEvaluation::SetEffects(bool on) {
    engine_.SetEchoOn(on);
    engine_.SetReverbOn(on);
}

bool CScoreEngineEvaluation::EffectsOn() const {
    return engine_.EchoOn() || engine_.ReverbOn();
}

std::int64_t CScoreEngineEvaluation::PositionMs() {
    SoundMixer* mixer = mixer_.load(std::memory_order_acquire);
    return mixer != nullptr ? mixer->GetPosition() : 0;
}

CScoreEngineEvaluation& GetScoreEngineEvaluation() {
    static CScoreEngineEvaluation evaluation(GetScoreEngine());
    return evaluation;
}
