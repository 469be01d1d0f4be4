#pragma once
// The small audio-unit family the reverb is built from. Samples are planar
// floats in 16-bit units. Initialize allocates; processing never allocates,
// locks or logs. One thread at a time.
#include <cmath>
#include <vector>

struct AudFormat {
    int channels = 0;
    int sampleRate = 0;
};

// Values this small are far below one 16-bit step; recursive paths flush them
// to zero so that decaying tails end in exact zeros instead of denormals,
// which cost x86 cores a hundred times the normal time.
inline float FlushTiny(float v) {
    return std::fabs(v) < 1e-15f ? 0.0f : v;
}

class CAudUnitBase2 {
  public:
    virtual ~CAudUnitBase2();
    virtual void SetBlockSize(int frames);
    virtual int GetBlockSize() const;
    // Returns 0, or -1 (and the error state) for a format it cannot take or a
    // failed allocation.
    virtual int Initialize(const AudFormat& format);
    virtual AudFormat GetInputFormat() const;
    virtual AudFormat GetOutputFormat() const;
    virtual void SetIntProperty(int value);
    virtual int GetIntProperty() const;
    virtual void ClearError();

    bool HasError() const { return error_; }

  protected:
    AudFormat input_;
    AudFormat output_;
    int block_ = 0;
    int property_ = 2;
    bool error_ = false;
};

class CProUnitBase2 : public CAudUnitBase2 {};

// One-pole filter y = b * x + a * y_prev per channel.
class CFirstOrderIIR : public CProUnitBase2 {
  public:
    int Initialize(const AudFormat& format) override;
    void SetCoefficients(float b, float a);
    void Clear();
    // In place, channel `channel`.
    void Process(int channel, float* samples, int frames);
    float B() const { return b_; }
    float A() const { return a_; }

  private:
    float b_ = 1.0f;
    float a_ = 0.0f;
    std::vector<float> previous_;
};

// Per-channel ring; a block is written, then blocks delayed against it are
// read: sample i of a read delayed by n is the one written n samples before
// sample i of the last written block.
class CDelayBuffer : public CProUnitBase2 {
  public:
    void SetLength(int samples) { length_ = samples; }
    int Length() const { return length_; }
    int Initialize(const AudFormat& format) override;
    void Clear();
    void Write(int channel, const float* samples, int frames);
    // delay + frames <= Length(); `frames` as in the last Write.
    void Read(int channel, float* out, int frames, int delay) const;

  private:
    struct Line {
        std::vector<float> data;
        int write = 0;  // next write place
        int last = 0;   // frames of the last written block
    };
    int length_ = 0;
    std::vector<Line> lines_;
};

// Sparse tap filter: six taps of delay (samples) and gain over its own delay
// buffer, mono.
class CDFIRFilter : public CProUnitBase2 {
  public:
    static constexpr int kTaps = 6;
    int Initialize(const AudFormat& format) override;
    void SetTaps(const int* delays, const float* gains);
    void Clear();
    void Process(const float* in, float* out, int frames);
    int Delay(int k) const { return delays_[k]; }
    float Gain(int k) const { return gains_[k]; }

  private:
    int delays_[kTaps] = {};
    float gains_[kTaps] = {};
    CDelayBuffer buffer_;
    std::vector<float> tap_;
};

// Early reflections: one tap filter per side.
class CERFilter : public CProUnitBase2 {
  public:
    int Initialize(const AudFormat& format) override;
    // Taps from times in milliseconds, gains falling from 1 to 0.5.
    void Configure(int sampleRate);
    void Clear();
    void Process(const float* left, const float* right, float* outLeft, float* outRight,
                 int frames);
    const CDFIRFilter& Left() const { return left_; }
    const CDFIRFilter& Right() const { return right_; }

  private:
    CDFIRFilter left_;
    CDFIRFilter right_;
};

// Late reverberation: four delay lines with damping and a lossless feedback
// matrix.
class CReverbNet : public CProUnitBase2 {
  public:
    static constexpr int kLines = 4;
    int Initialize(const AudFormat& format) override;
    // `random` gives values 0 ... 32767 for the length jitter.
    void Configure(float decayTime, float decayHfRatio, float diffusion, float density,
                   float hfReference, int (*random)(void*), void* randomContext);
    void Clear();
    // in: mono input; w: four tap signals; e: four outputs.
    void Process(const float* in, const float* const* w, float* const* e, int frames);

    int LineLength(int i) const { return delay_[i]; }
    float LineGain(int i) const { return gain_[i]; }
    float Damping(int i) const { return damping_[i]; }
    float OutputGain(int i) const { return outGain_[i]; }
    int ShortestLine() const;
    int Capacity() const { return capacity_; }

  private:
    int capacity_ = 0;
    int write_ = 0;
    int delay_[kLines] = {};
    float gain_[kLines] = {};
    float damping_[kLines] = {};
    float outGain_[kLines] = {};
    float state_[kLines] = {};
    std::vector<float> lines_[kLines];
};
