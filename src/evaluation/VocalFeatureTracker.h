#pragma once
// CVocalFeatureTracker keeps a performance's voice at 16 kHz and, every 1024
// samples, analyses the newest 2048-sample frame into three tracks
// (fundamental position, second-harmonic position, magnitude sum). It runs
// the vibrato detector on blocks of 8 frames and the portamento detector on
// windows of 16 frames every 8 frames, and reports what it finds per 16 ms
// block. Finish measures the loudness, strikes off detections over poorly
// sung passages and builds the feature report and the total.
//
// Everything is allocated at construction; ProcessBlock never allocates.
#include <memory>
#include <vector>

#include "evaluation/HarmonicFrameAnalyzer.h"
#include "evaluation/MelodyEntry.h"
#include "evaluation/TotalScore.h"

namespace evaluation {

// Event codes of ProcessBlock.
enum FeatureEvent : unsigned {
    kEventNone = 0,
    kEventUpPortamento = 1,
    kEventDownPortamento = 2,
    kEventVibrato = 3,
    kEventRiff = 4,
};

// One validated detection, in block order (portamento before vibrato).
struct FeatureEventLine {
    enum Kind { kUp, kDown, kVibrato };
    int timeMs = 0;  // 512 * block
    Kind kind = kUp;
    bool struckOff = false;
    float size = 0;  // glide size in semitones (portamento only)
};

struct FeatureReport {
    float meanLevel = 0;
    float variation = 0;
    float performance = 0;  // meanLevel * variation
    // counts before validation
    int vibratoDetected = 0;
    int upDetected = 0;
    int downDetected = 0;
    int riffs = 0;
    // counts after validation
    int vibratoCount = 0;
    int upCount = 0;
    int downCount = 0;
    int vibratoStruck = 0;
    int upStruck = 0;
    int downStruck = 0;
    std::vector<FeatureEventLine> events;
    // loudness chart: level of window k, labelled 1024 * (k + 1)
    std::vector<float> loudnessChart;
    RadarValues radar;
};

}  // namespace evaluation

class CVocalFeatureTracker {
  public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kFrameLength = 2048;
    static constexpr int kFrameHop = 1024;
    static constexpr int kVibratoBlock = 8;
    static constexpr int kPortamentoStep = 8;
    static constexpr int kPortamentoWindow = 16;
    static constexpr int kLoudnessBlock = 16;
    static constexpr int kBlockFrames = 256;
    static constexpr float kLeastValidScore = 80.0f;

    // channels 1 or 2 (only the first channel is kept); capacity in samples.
    CVocalFeatureTracker(int channels, long long capacitySamples);
    bool Usable() const { return usable_; }

    // One block of 256 interleaved 16-bit frames at 16 kHz. event receives a
    // FeatureEvent code. Returns 0; -1 when the tracker is unusable or input
    // is null.
    int ProcessBlock(const short* input, unsigned& event);

    // End of the performance: loudness, validation against the note scores
    // (one per melody entry, -1 where unscored), the total. Returns 0; -1
    // when the tracker is unusable.
    int Finish(const MelodyEntry* melody, const float* noteScores, int count, float pitchScore,
               float stability, evaluation::FeatureReport& report) const;

    long long SamplesReceived() const { return received_; }
    int FramesAnalysed() const { return frames_; }
    int FrameCapacity() const { return frameCapacity_; }
    const float* FundamentalTrack() const { return fundamental_; }
    const float* SecondHarmonicTrack() const { return second_; }
    const float* MagnitudeTrack() const { return magnitude_; }

  private:
    bool usable_ = false;
    int channels_ = 1;
    long long capacity_ = 0;
    int frameCapacity_ = 0;
    int blockCapacity_ = 0;
    std::unique_ptr<float[]> store_;
    float* samples_ = nullptr;
    float* fundamental_ = nullptr;
    float* second_ = nullptr;
    float* magnitude_ = nullptr;
    float* vibratoFlags_ = nullptr;
    float* portamentoTypes_ = nullptr;
    float* portamentoSizes_ = nullptr;
    evaluation::CHarmonicFrameAnalyzer analyzer_;

    long long received_ = 0;
    long long frameStart_ = 0;
    int vibratoStart_ = 0;
    int portamentoStart_ = 0;
    int frames_ = 0;
    int upCount_ = 0;
    int downCount_ = 0;
    int riffCount_ = 0;
    int vibratoCount_ = 0;
    int previousType_ = 0;
};
