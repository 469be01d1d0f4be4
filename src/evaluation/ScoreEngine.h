#pragma once
// Where a performance's microphone meets the singing evaluation.
//
// CEvaluationEngine holds one performance: every 16 ms block of captured
// voice is converted to 16 kHz, pitch-tracked against the reference melody
// (CPitchEvaluator: frame table, note scorer, live pitch), analysed for
// expression (CVocalFeatureTracker), given echo and reverb, and converted
// back to the capture rate. Finish writes "PitchData.txt", "Score.txt" and
// "VocalFeatureTrack.txt".
//
// ScoreEngine is the process-wide object the player and the karaoke window
// use: it copies the reference melody when a performance starts, keeps the
// live pitch timeline, the expression events and the volume track for the
// views, and writes the three live files at the end.
//
// Threads: Start, SaveResults and ApplyKey run on the thread that drives
// the player while capture is stopped; ProcessBlock on the capture thread
// (no allocation, no file, no lock). The views read the live data from the
// user-interface thread at any time: the storage is allocated by Start and
// never moves while a performance runs; counts are published with release
// stores and every timeline cell is an atomic.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/SampleRateConverter.h"
#include "dsp/VoiceEffectChain.h"
#include "evaluation/FrameRow.h"
#include "evaluation/LivePitch.h"
#include "evaluation/Melody.h"
#include "evaluation/MelodyEntry.h"
#include "evaluation/NoteScorer.h"
#include "evaluation/PitchDetector.h"
#include "evaluation/ScoreFiles.h"
#include "evaluation/VocalFeatureTracker.h"

namespace evaluation {

inline constexpr int kEvalRate = 16000;
inline constexpr int kEvalHop = 256;     // frames per 16 ms at 16 kHz
inline constexpr int kCaptureHop = 768;  // frames per 16 ms at 48 kHz
inline constexpr int kBlockMs = 16;
inline constexpr int kLiveFloor = 2000;  // envelope peak below which nothing is shown
inline constexpr int kEventDelayMs = 560;

// Results of EvalInit / CEvaluationEngine::Init.
inline constexpr int kEvalOk = 0;
inline constexpr int kEvalEmptyMelody = 1;
inline constexpr int kEvalBadRate = 2;
inline constexpr int kEvalBadChannels = 3;
inline constexpr int kEvalNoMemory = -1;
// Results of ProcessBlock.
inline constexpr int kEvalBadBlock = 1;
inline constexpr int kEvalNotStarted = -1;
// Result of Finish when one of its three files could not be written.
inline constexpr int kEvalWriteFailed = 1;

// Frame-table rows for a melody whose last entry is at lastMs.
int FrameTableRows(int lastMs);

}  // namespace evaluation

// The pitch side of one performance at 16 kHz: the detector, the reference
// walk, the frame table and the note scorer, and the live pitch.
class CPitchEvaluator {
  public:
    CPitchEvaluator() = default;
    CPitchEvaluator(const CPitchEvaluator&) = delete;
    CPitchEvaluator& operator=(const CPitchEvaluator&) = delete;

    // 0, kEvalBadChannels, kEvalEmptyMelody or kEvalNoMemory. noteScores:
    // one float per entry (owned by the caller, filled with -1).
    int Init(const MelodyEntry* melody, int count, int channels, float* noteScores);

    // One hop of 256 interleaved 16-bit frames; returns the live pitch code.
    int ProcessHop(const short* hop);

    int Rows() const { return rowCount_; }
    const evaluation::FrameRow* Table() const { return rows_.get(); }
    const CNoteScorer* Scorer() const { return scorer_.get(); }
    int Hops() const { return hops_; }
    // The reference code in force after the last row (for tests).
    int CurrentReference() const { return reference_; }

  private:
    void AdvanceReference();
    int LivePitch(float hz, float peak);

    const MelodyEntry* melody_ = nullptr;
    int count_ = 0;
    int channels_ = 1;
    std::unique_ptr<evaluation::FrameRow[]> rows_;
    int rowCount_ = 0;
    std::unique_ptr<CPitchDetector> detector_;
    std::unique_ptr<CNoteScorer> scorer_;
    float input_[evaluation::kEvalHop] = {};
    float blockHz_[5] = {};
    float blockVoicing_[5] = {};
    float blockPeak_[5] = {};
    int hops_ = 0;
    int elapsed_ = 0;
    int current_ = 0;
    int next_ = 1;
    int reference_ = evaluation::kNoPitch;
    evaluation::CLivePitch live_;
};

// One performance's evaluation state (the engine functions).
class CEvaluationEngine {
  public:
    CEvaluationEngine();
    ~CEvaluationEngine();
    CEvaluationEngine(const CEvaluationEngine&) = delete;
    CEvaluationEngine& operator=(const CEvaluationEngine&) = delete;

    // Releases any previous performance first; on failure nothing is kept.
    int Init(const MelodyEntry* melody, int count, int sampleRate, int channels);
    // input and output may be the same buffer; output2 may be null. Outputs
    // are untouched unless the result is 0.
    int ProcessBlock(const short* input, short* output, int frames, int& livePitch, unsigned& event,
                     int& level, short* output2);
    // Writes the three result files (paths may be empty to skip one) and
    // releases the performance in any case. 0, kEvalWriteFailed, or
    // kEvalNotStarted.
    int Finish(std::wstring_view pitchDataPath, std::wstring_view scorePath,
               std::wstring_view featurePath);
    void Release();

    bool Started() const { return started_; }
    void SetEffects(bool echo, bool reverb);
    // Results of the last Finish (valid until the next Init).
    float LastPitchScore() const { return lastPitchScore_; }
    const evaluation::FeatureReport& LastReport() const { return lastReport_; }
    const std::vector<evaluation::PhraseScore>& LastPhrases() const { return lastPhrases_; }
    const std::vector<evaluation::FrameRow>& LastTable() const { return lastTable_; }
    int LastMeanOffset() const { return lastMeanOffset_; }
    const CPitchEvaluator* Evaluator() const { return evaluator_.get(); }

  private:
    void Effects(short* output, short* output2);
    std::vector<evaluation::PhraseScore> PhraseScores() const;

    bool started_ = false;
    int rate_ = 0;
    int channels_ = 0;
    const MelodyEntry* melody_ = nullptr;
    int count_ = 0;
    std::unique_ptr<float[]> noteScores_;
    std::unique_ptr<CPitchEvaluator> evaluator_;
    std::unique_ptr<CVocalFeatureTracker> tracker_;
    CVoiceEffectChain effects_;  // lives as long as the engine
    std::unique_ptr<CSampleRateConverter> down_;
    std::unique_ptr<CSampleRateConverter> up_;
    std::unique_ptr<CSampleRateConverter> up2_;
    SrcOutputRing downRing_{};
    SrcOutputRing upRing_{};
    SrcOutputRing up2Ring_{};
    std::unique_ptr<std::uint8_t[]> buffers_;
    short* hop16_ = nullptr;     // 256 frames, interleaved
    short* voice16_ = nullptr;   // effected voice, interleaved
    short* effect16_ = nullptr;  // effect only, interleaved
    float* planar_[2] = {};      // voice per channel
    float* planarFx_[2] = {};    // effect per channel
    std::uint8_t* upOut_ = nullptr;
    std::uint8_t* up2Out_ = nullptr;
    std::atomic<bool> echo_{true};
    std::atomic<bool> reverb_{true};

    float lastPitchScore_ = 0;
    int lastMeanOffset_ = 0;
    evaluation::FeatureReport lastReport_;
    std::vector<evaluation::PhraseScore> lastPhrases_;
    std::vector<evaluation::FrameRow> lastTable_;
};

namespace evaluation {

struct TimelineItem {
    int timeMs = 0;
    int reference = kNoPitch;
    int sung = kNoPitch;
};
struct EventItem {
    int timeMs = 0;
    int type = 0;  // 1 up portamento, 2 down portamento, 3 vibrato
};

}  // namespace evaluation

// Song position and duration as the player knows them.
class IPerformanceClock {
  public:
    virtual ~IPerformanceClock() = default;
    // Called on the capture thread: must not block.
    virtual std::int64_t PositionMs() = 0;
    virtual std::int64_t DurationMs() = 0;
};

class ScoreEngine {
  public:
    ScoreEngine();
    ~ScoreEngine();
    ScoreEngine(const ScoreEngine&) = delete;
    ScoreEngine& operator=(const ScoreEngine&) = delete;

    // Not owned; set before Start. Without one the song lasts as long as
    // the melody and the position is never ahead of the blocks.
    void SetClock(IPerformanceClock* clock) { clock_ = clock; }
    // The melody a performance copies (not owned). Null: GetMelody().
    void SetMelody(CMelody* melody) { melody_ = melody; }

    // Clears the previous performance's live data, then copies the shifted
    // melody, builds the timeline and starts the engine (48000 Hz stereo).
    // False on an empty melody or an engine failure; the performance then
    // runs unscored and ProcessBlock only copies the voice.
    bool Start(std::wstring_view path = {});
    bool Start(const MelodyEntry* melody, int count, std::int64_t durationMs,
               int sampleRate = 48000, int channels = 2);
    // Capture thread: one 16 ms block.
    void ProcessBlock(const short* input, short* output, int frames, short* output2);
    // Writes the six files into folder; false when the engine was not
    // started or a file could not be written (the three live files are only
    // written after the other three succeeded).
    bool SaveResults(std::wstring_view folder);

    // Key in semitones (-12 .. 12): stored here, transposes the melody of
    // the next Start (through CMelody) and is what ApplyKey gives the key
    // shifter.
    void SetKey(int semitones);
    int Key() const { return key_.load(); }
    // Switches the music's key shifter on with the stored key.
    void ApplyKey();
    void SetEchoOn(bool on);
    void SetReverbOn(bool on);
    bool EchoOn() const { return echoOn_.load(); }
    bool ReverbOn() const { return reverbOn_.load(); }

    // Views: counts are published after the item is complete.
    int TimelineCount() const { return timelineCount_.load(std::memory_order_acquire); }
    evaluation::TimelineItem TimelineAt(int i) const;
    int CurrentIndex() const { return currentIndex_.load(std::memory_order_acquire); }
    int EventCount() const { return eventCount_.load(std::memory_order_acquire); }
    evaluation::EventItem EventAt(int i) const;
    int VolumeCount() const { return volumeCount_.load(std::memory_order_acquire); }
    evaluation::VolumePoint VolumeAt(int i) const;
    // The newest volume value, 0 before the first block.
    float NewestVolume() const;
    int CurrentTimeMs() const { return currentTime_.load(std::memory_order_relaxed); }
    std::uint64_t BlocksProcessed() const { return blocks_.load(std::memory_order_relaxed); }

    const CEvaluationEngine& Engine() const { return engine_; }
    CEvaluationEngine& MutableEngine() { return engine_; }
    // The melody copy of the running performance (empty after SaveResults).
    int MelodyCount() const { return melodyCount_; }

  private:
    void AppendEvent(int timeMs, int type);
    void AppendVolume(int level);

    CEvaluationEngine engine_;
    IPerformanceClock* clock_ = nullptr;
    CMelody* melody_ = nullptr;
    std::unique_ptr<MelodyEntry[]> melodyCopy_;
    int melodyCount_ = 0;

    // Live data: allocated by Start while no block runs.
    std::unique_ptr<int[]> timelineTimes_;
    std::unique_ptr<int[]> timelineReference_;
    std::unique_ptr<std::atomic<int>[]> timelineSung_;
    int timelineCapacity_ = 0;
    std::atomic<int> timelineCount_{0};
    std::unique_ptr<evaluation::EventItem[]> events_;
    std::unique_ptr<evaluation::VolumePoint[]> volume_;
    int itemCapacity_ = 0;
    std::atomic<int> eventCount_{0};
    std::atomic<int> volumeCount_{0};
    std::atomic<int> currentIndex_{-1};
    std::atomic<int> currentTime_{0};
    std::atomic<std::uint64_t> blocks_{0};
    mutable std::mutex storageMutex_;  // Start against readers, never the capture thread

    std::atomic<int> key_{0};
    std::atomic<bool> echoOn_{true};
    std::atomic<bool> reverbOn_{true};
};

// The reference melody of the current song (loaded by the performance
// entry) and the process-wide score engine.
CMelody& GetMelody();
ScoreEngine& GetScoreEngine();

// The engine functions on the process-wide score engine's state.
int EvalInit(const MelodyEntry* melody, int count, int sampleRate, int channels);
int EvalProcessBlock(const short* input, short* output, int frames, int& livePitch, unsigned& event,
                     int& level, short* output2);
int EvalFinish(std::wstring_view pitchDataPath, std::wstring_view scorePath,
               std::wstring_view featurePath);
