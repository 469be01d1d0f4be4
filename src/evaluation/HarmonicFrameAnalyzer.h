#pragma once
// The frame analysis behind Track2ndHmn: a Hann-windowed transform, a
// three-harmonic product that peaks at the fundamental and a two-harmonic
// product that peaks at the second harmonic. The analyzer owns its work area,
// so the feature tracker can run it on the capture thread without allocating;
// the exported function builds one per call.
#include <memory>

#include "evaluation/Fft.h"

namespace evaluation {

struct HarmonicFrame {
    float fundamentalPos = 0.0f;  // 1-based bin position, 0 when no peak above 1
    float secondPos = 0.0f;       // 1-based bin position of the second harmonic
    float magnitudeSum = 0.0f;
};

class CHarmonicFrameAnalyzer {
  public:
    explicit CHarmonicFrameAnalyzer(int frameLength);
    bool Usable() const { return usable_; }
    int FrameLength() const { return n_; }

    // Returns false (and a zero frame) when the analyzer is unusable, samples
    // is null or the rate puts the search range outside the spectrum.
    bool Analyze(const float* samples, int sampleRate, HarmonicFrame& out);

  private:
    bool usable_ = false;
    int n_ = 0;
    CFft fft_;
    std::unique_ptr<float[]> work_;
    float* window_ = nullptr;
    float* re_ = nullptr;
    float* im_ = nullptr;
    float* triple_ = nullptr;
    float* pair_ = nullptr;
};

}  // namespace evaluation
