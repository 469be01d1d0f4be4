#pragma once
// Feedback echo with a damping low-pass in the loop and an undamped tap for
// the effect-only signal. Mono, planar floats in 16-bit units.
//
// Prepare allocates; Process never allocates, locks or logs. One thread at a
// time (the capture thread).
#include <vector>

class CEchoUnit {
  public:
    static constexpr int kDelayMs = 160;
    static constexpr int kBufferMs = 250;
    static constexpr int kTapLeadMs = 50;  // the tap reads 50 ms ahead of the loop
    static constexpr float kFeedback = 0.45f;
    static constexpr float kOutputGain = 0.4f;
    static constexpr float kTapGain = 0.18f;
    static constexpr float kDampingCutoff = 4000.0f;

    // Allocates and zeroes the delay buffer, computes the damping filter.
    // Returns false for a rate not above 0 or a failed allocation.
    bool Prepare(int sampleRate);
    bool IsPrepared() const { return delay_ > 0; }

    // main[i] = x[i] + 0.4 * damped echo; tap[i] = 0.18 * the loop entry
    // written (delay - 50 ms) ago. `main` may be `in`; `tap` may be nullptr.
    void Process(const float* in, float* main, float* tap, int frames);

    int Delay() const { return delay_; }
    int TapOffset() const { return tapOffset_; }
    float DampingA() const { return a_; }
    float DampingB() const { return b_; }

  private:
    std::vector<float> buffer_;
    int delay_ = 0;  // effective delay: the smaller of delay and buffer length
    int tapOffset_ = 0;
    int pos_ = 0;
    float a_ = 0.0f;
    float b_ = 1.0f;
    float xPrev_ = 0.0f;
    float yPrev_ = 0.0f;
};
