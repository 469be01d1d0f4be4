#pragma once
// Fixed-ratio polyphase FIR stages and the linear interpolator behind
// CSampleRateConverter. A stage works on planar float samples (one buffer per
// channel, 1 or 2 channels). Its caller writes up to InputCapacity() new
// samples per channel at InputLeft()/InputRight() and calls Process(count);
// the stage appends at most Block() output frames to the output buffers given
// at initialization and keeps its history and read position for the next call,
// so successive calls filter one continuous stream.
//
// Not thread-safe: one thread at a time. Initialization allocates; Process
// never does.
#include <memory>
#include <vector>

class CSrcCommon {
  public:
    virtual ~CSrcCommon();

    // Any pair of rates (only CSrcAny). The base refuses.
    virtual bool InitRates(int inputRate, int outputRate, int block, float* outLeft,
                           float* outRight);
    // Fixed ratio: direction 1 = interpolate (rate up), 0 = decimate (rate
    // down). The base refuses.
    virtual bool InitDirection(int direction, int block, float* outLeft, float* outRight);
    // Filters `count` new input frames (count <= InputCapacity()) and returns
    // the output frames written, from the output buffers' first place.
    virtual int Process(int count) = 0;
    // Zeroes histories and buffers, read position 0.
    virtual void Clear();

    float* InputLeft() const { return in_[0]; }
    float* InputRight() const { return in_[1]; }
    int InputCapacity() const { return capacity_; }
    int Block() const { return block_; }
    int Channels() const { return channels_; }
    int Direction() const { return direction_; }

  protected:
    // Allocates per channel `history` samples before `capacity` input places
    // (plus a small margin, see kSlack) and stores the output side.
    bool Allocate(int history, int capacity, int block, float* outLeft, float* outRight);
    // Keeps the last history samples of this call as the next call's history
    // and moves the read position back by count.
    void Advance(int count);

    // A stage whose output fills before its input is used up carries a
    // negative read position into the next call; these extra history places
    // keep the samples it still has to read.
    static constexpr int kSlack = 16;
    // Places after the input capacity that batched filters may read (and
    // discard) past the last input sample.
    static constexpr int kTail = 32;

    std::vector<float> storage_[2];
    float* in_[2] = {nullptr, nullptr};
    float* out_[2] = {nullptr, nullptr};
    float* outEnd_ = nullptr;
    int history_ = 0;
    int capacity_ = 0;
    int block_ = 0;
    int pos_ = 0;
    int count_ = 0;
    int channels_ = 0;
    int direction_ = 0;
};

// Third-band stage, 48000 <-> 16000 Hz, with the fixed 72-tap table.
class CSrc3x : public CSrcCommon {
  public:
    static constexpr int kTaps = 72;
    static const float kFilter[kTaps];

    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
    int Process(int count) override;
};

// Rational polyphase stage: `up` phase sets of `tapsPerPhase` taps, `down`
// high-rate steps per output. The members below only choose the ratio, the tap
// counts and the history; their windowed-sinc filters are designed at
// initialization with unit gain in every output phase.
class CSrcPolyphase : public CSrcCommon {
  public:
    int Process(int count) override;
    void Clear() override;

  protected:
    bool Setup(int up, int down, int tapsPerPhase, int history, int capacity, int block,
               float* outLeft, float* outRight);

    int up_ = 1;
    int down_ = 1;
    int taps_ = 0;
    int phase_ = 0;
    std::vector<float> coeffs_;  // up_ rows of taps_, row = output phase
};

class CSrc2x : public CSrcPolyphase {
  public:
    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
};

class CSrc4x : public CSrcPolyphase {
  public:
    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
};

class CSrc6x : public CSrcPolyphase {
  public:
    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
};

// 32000 <-> 48000 Hz (direction 1: 32000 to 48000).
class CSrc32_48 : public CSrcPolyphase {
  public:
    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
};

// 44100 <-> 48000 Hz (direction 1: 44100 to 48000).
class CSrc44_48 : public CSrcPolyphase {
  public:
    bool InitDirection(int direction, int block, float* outLeft, float* outRight) override;
};

// Linear interpolation between any two rates, 16.16 fixed-point step.
class CSrcAny : public CSrcCommon {
  public:
    bool InitRates(int inputRate, int outputRate, int block, float* outLeft,
                   float* outRight) override;
    int Process(int count) override;
    void Clear() override;

    int Step() const { return step_; }

  private:
    int step_ = 0;
    int phase_ = 0;  // 16.16: integer half = read index (may be -1)
};
