#pragma once
// CNoteScorer scores one performance against the reference melody. It cuts
// the melody into phrases, keeps the singer's hop records of the current
// phrase, and when the phrase has passed finds the time offset and octave at
// which it was sung, then locates and scores each note.
//
// All buffers are sized at construction; Feed never allocates, so it runs on
// the capture thread. Results are read after capture has stopped.
#include <cstdint>
#include <vector>

#include "evaluation/FrameRow.h"
#include "evaluation/MelodyEntry.h"

namespace evaluation {

// One hop of the singer, as the pitch tracker saw it.
struct HopRecord {
    float hz = 0;       // pitch in Hz (held on unvoiced hops)
    float voicing = 0;  // 0 .. 1
    float level = 0;    // envelope peak, 0 .. 32768
};

struct PhraseRecord {
    int firstEntry = 0;
    int entryCount = 0;
    int offset = 0;        // alignment offset in hops
    int octaveOffset = 0;  // sung minus reference, whole octaves (multiple of 48)
    int weightSum = 0;
    float weightedScoreSum = 0;  // 0 when the phrase was not sung loud enough
    int splitFlag = 0;           // how the phrase was closed (informational)
    float vocalLevel = 0;        // mean level over the aligned phrase
    float alignmentError = 0;    // mean absolute deviation of the chosen offset
    bool scored = false;
};

}  // namespace evaluation

class CNoteScorer {
  public:
    static constexpr int kMinPhraseMs = 2000;
    static constexpr int kMinBreakMs = 100;
    static constexpr int kMaxPhraseMs = 10000;
    static constexpr float kLeastVocalLevel = 700.0f;

    // entries/count: the shifted melody. noteScores: one float per entry,
    // written as notes are scored (the caller fills it with -1). rows and
    // rowCount: the performance's frame table, or null. Resets the score
    // function to its defaults.
    CNoteScorer(const MelodyEntry* entries, int count, float hopMs, float searchSpanMs,
                float* noteScores, evaluation::FrameRow* rows = nullptr, int rowCount = 0);

    bool Usable() const { return usable_; }

    // n hop records, oldest first.
    void Feed(const evaluation::HopRecord* records, int n);

    // Sum of weighted scores over sum of weights of the phrases scored so far
    // (0 to 100), 0 when nothing was scored.
    float PitchScore() const;
    // Average phrase offset over all phrases, rounded; 0 when negative or
    // when there is no phrase.
    int MeanOffset() const;
    // Note frames sung stably over note frames expected, in percent (may
    // exceed 100 slightly); 0 when no frame was expected.
    float Stability() const;
    long long ExpectedFrames() const { return expectedFrames_; }
    long long StableFrames() const { return stableFrames_; }

    const std::vector<evaluation::PhraseRecord>& Phrases() const { return phrases_; }
    // Start and end (ms) of phrase p's window.
    int PhraseStart(int p) const;
    int PhraseEnd(int p) const;
    bool Done() const { return done_; }
    int LearnedOctaveOffset() const { return learnedOctave_; }
    bool OctaveLocked() const { return octaveLock_; }

  private:
    int Time(int j) const { return times_[j]; }
    int Pitch(int j) const { return pitches_[j]; }
    bool Rest(int j) const { return pitches_[j] == evaluation::kNoPitch; }
    void Segment();
    void AddPhrase(int first, int count, int flag);
    void MarkRows();
    void OpenWindow(int p);
    void Store(const evaluation::HopRecord& r);
    void ScorePhrase(int p);
    void Align(evaluation::PhraseRecord& ph, int start);
    void ScoreNotes(evaluation::PhraseRecord& ph, int start);
    int NoteWeight(int pitch) const;
    void SetRowPitch(int fromMs, int toMs, int sung);

    bool usable_ = false;
    int count_ = 0;
    std::vector<int> times_;
    std::vector<int> pitches_;
    float* noteScores_ = nullptr;
    evaluation::FrameRow* rows_ = nullptr;
    int rowCount_ = 0;
    float hopMs_ = 16.0f;
    int hop_ = 16;
    int search_ = 19;
    int lowest_ = 0;
    int highest_ = 0;

    std::vector<evaluation::PhraseRecord> phrases_;
    int current_ = 0;
    int windowStart_ = 0;
    int windowEnd_ = 0;
    double elapsed_ = 0;
    bool done_ = true;

    int capacity_ = 0;
    int frames_ = 0;
    std::vector<float> voicing_;
    std::vector<float> level_;
    std::vector<std::int8_t> pitch_;
    std::vector<std::int16_t> reference_;
    std::vector<std::int16_t> difference_;

    bool alignLock_ = false;
    bool octaveLock_ = false;
    int learnedOctave_ = 0;
    int learnDuration_ = 0;
    int learnPhrases_ = 0;
    int learnOffsetSum_ = 0;

    long long expectedFrames_ = 0;
    long long stableFrames_ = 0;
};
