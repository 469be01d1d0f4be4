#pragma once
// CPitchDetector follows the singer's fundamental every hop (16 ms at
// 16 kHz): subharmonic summation over a quarter-tone grid of candidates,
// a maximum per group of candidates that share a transform bin, a two-hop
// dynamic-programming choice (one hop of latency), a voicing figure from the
// normalized autocorrelation at one period, and level estimates that decide
// when a hop is unvoiced and the last pitch is held. Every fifth hop it also
// publishes the best path through the last five hops.
//
// All tables and buffers are built at construction in one block; ProcessHop
// never allocates, so it can run on the capture thread.
#include <array>
#include <memory>
#include <span>

#include "evaluation/Fft.h"

class CPitchDetector {
  public:
    // The option word the evaluation uses: two-hop choice on, quarter-tone
    // grid of 114 candidates from 65.406 Hz, jumps of one group, 5-hop paths.
    static constexpr unsigned kDefaultOptions = 33997;  // 0x84CD
    static constexpr int kMaxPathLength = 16;

    CPitchDetector(float hopMs, float fullScale, int sampleRate, unsigned options);
    ~CPitchDetector();
    CPitchDetector(const CPitchDetector&) = delete;
    CPitchDetector& operator=(const CPitchDetector&) = delete;

    bool Usable() const { return usable_; }

    // Analyses one hop of HopLength() new samples (16-bit sample values held
    // as floats, not scaled). Leaves the outputs untouched when not usable.
    void ProcessHop(const float* samples, float& pitchHz, float& voicing);

    float EnvelopePeak() const { return envelopePeak_; }
    float NoiseFloor() const { return noiseFloor_; }
    float VoicedLevel() const { return voicedLevel_; }
    // False when the last hop was judged unvoiced (its pitch output is the
    // held last pitch): silence, noise, or a voice below the noise floor.
    bool LastHopVoiced() const { return lastVoiced_; }

    // Candidate indexes of the path completed at the last block end, oldest
    // first (PathLength() entries).
    std::span<const int> BlockPath() const {
        return {path_.data(), static_cast<size_t>(pathLength_)};
    }
    float CandidateFrequency(int index) const;

    // The derived configuration, for the per-hop pipeline and for tests.
    int HopLength() const { return hop_; }
    int TransformSize() const { return size_; }
    int CandidateCount() const { return count_; }
    int GroupCount() const { return groups_; }
    int PathLength() const { return pathLength_; }
    int MagnitudeBins() const { return magnitudeBins_; }
    // b[0 .. GroupCount()]: group 0 holds candidates b[0] .. b[1], group m >= 1
    // holds b[m] + 1 .. b[m + 1].
    std::span<const int> GroupBoundaries() const {
        return {bounds_, static_cast<size_t>(groups_ + 1)};
    }
    std::span<const int> GroupMiddles() const { return {middles_, static_cast<size_t>(groups_)}; }

  private:
    struct Scored {
        int candidate;
        float score;
    };
    void Configure(float hopMs, float fullScale, int sampleRate, unsigned options);
    bool Allocate();
    // One dynamic-programming step over groups: for each group the best
    // predecessor within +-jump in `scores` (ties keep the lowest), then
    // scores[i] = scores[pred] + hop[i]. `scratch` receives the old scores.
    void Step(float* scores, const float* hop, int* back, float* scratch) const;

    bool usable_ = false;
    // configuration
    int rate_ = 0;
    int hop_ = 0;
    int size_ = 0;
    int carried_ = 0;
    double binsPerHz_ = 0;
    int count_ = 0;
    int groups_ = 0;
    int harmonics_ = 0;
    int magnitudeBins_ = 0;
    int corrWindow_ = 0;
    float corrFloor_ = 0;
    float attack_ = 0;
    float release_ = 0;
    float smoothing_ = 0;
    bool twoHop_ = false;
    int jump_ = 1;
    int pathLength_ = 5;

    evaluation::CFft fft_;
    std::unique_ptr<unsigned char[]> block_;
    // views into block_
    float* overlap_ = nullptr;
    float* frame_ = nullptr;
    float* imag_ = nullptr;
    float* raw_ = nullptr;
    float* window_ = nullptr;
    float* weights_ = nullptr;
    float* candidates_ = nullptr;
    int* binIndex_ =
        nullptr;  // count_ * harmonics_: bin read for candidate k, harmonic m (-1 none)
    int* bounds_ = nullptr;
    int* middles_ = nullptr;
    float* groupScore_ = nullptr;
    int* groupChoice_ = nullptr;
    float* prevScore_ = nullptr;
    int* prevChoice_ = nullptr;
    int* prevBack_ = nullptr;
    float* pathScore_ = nullptr;
    int* pathBack_ = nullptr;    // pathLength_ rows x groups_
    int* pathChoice_ = nullptr;  // pathLength_ rows x groups_
    float* scratch_ = nullptr;
    float* combined_ = nullptr;
    int fill_ = 1;
    std::array<int, kMaxPathLength> path_{};

    // level tracker
    float envelope_ = 0;
    float envelopePeak_ = 0;
    float noiseFloor_ = 0;
    float voicedLevel_ = 0;
    bool firstVoiced_ = true;
    float lastPitch_ = 0;
    int voicedRun_ = 10;
    bool lastVoiced_ = false;
};
