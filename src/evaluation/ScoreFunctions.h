#pragma once
// The program-wide note score function and its parameters. The setters are
// exported (ScoringExports.h); the note scorer restores the defaults when a
// performance starts. The settings are atomics: a tool may change them from
// another thread while the capture thread scores.

namespace evaluation {

enum ScoreFunctionKind { kLinearScore = 0, kAsymmetricSine = 1, kSymmetricSine = 2 };

struct ScoreFunctionSettings {
    int function = kSymmetricSine;
    int tolerance = 0;  // quarter tones
    int slope = 25;     // points per quarter tone (linear)
    int range = 12;     // quarter tones (sine)
};

constexpr int kShortNotePenaltyPercent = 40;

void ResetScoreFunction();
ScoreFunctionSettings CurrentScoreFunction();
float NoteScore(int deviation, const ScoreFunctionSettings& settings);

}  // namespace evaluation
