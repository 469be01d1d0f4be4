#pragma once
// The singing evaluation as the karaoke player sees it: the process-wide
// ScoreEngine, with the song's duration and position taken from the
// controller's player. The player's mixer calls ProcessBlock for every
// captured block on the capture thread.
#include <atomic>
#include <string>

#include "evaluation/ScoreEngine.h"
#include "karaoke/KaraokeEngine.h"

class SoundMixer;

class CScoreEngineEvaluation final : public IKaraokeEvaluation, public IPerformanceClock {
  public:
    explicit CScoreEngineEvaluation(ScoreEngine& engine);

    bool Start() override;
    void ProcessBlock(const short* input, short* output, int frames, short* output2) override;
    void SaveResults(const std::wstring& folder) override;
    void ApplyKey() override;
    void SetKey(int semitones) override;
    void SetEffects(bool on) override;
    bool EffectsOn() const override;

    std::int64_t PositionMs() override;
    std::int64_t DurationMs() override { return duration_; }

    // True when the last SaveResults wrote all six files.
    bool LastSaveSucceeded() const { return saved_; }
    ScoreEngine& Engine() { return engine_; }

  private:
    ScoreEngine& engine_;
    std::atomic<SoundMixer*> mixer_{nullptr};
    std::int64_t duration_ = 0;
    bool saved_ = false;
};

// The evaluation the program's engine factory hands the player.
CScoreEngineEvaluation& GetScoreEngineEvaluation();
