#pragma once
// Pieces of the pitch shifter exposed for tests and diagnostics.
#include <cstdint>

namespace pitch_shifter_detail {

inline constexpr int kChunkFrames = 128;
inline constexpr int kIntermediateSize = 2000;
inline constexpr int kOutputSize = 4000;
inline constexpr int kSpliceWindow = 1200;
inline constexpr int kMinLag = 300;
inline constexpr int kMaxLag = 600;

// 16.16 step of key k (clamped to -12 ... 12), from the fixed table.
uint32_t StepForKey(int key);
// 1.15 inverse ratio 2^31 / step.
uint32_t InverseRatioForKey(int key);
// Copy length L of a splice cycle with lag P at key k (k != 0).
int CopyLength(int key, int lag);
// Average-squared-difference lag search over samples[0 ... 1199].
int FindLag(const int16_t* samples);

// State snapshot; read only while no ShiftPitch call runs.
struct Probe {
    bool initialized;
    unsigned channels;
    int intermediateFill;
    int outputFill;
    int copyLength;
    int lag;
    int remaining;
    uint64_t droppedSamples;  // output appends that did not fit (per channel)
    uint64_t silentSamples;   // drained places filled with silence (per channel)
};
Probe GetProbe();

}  // namespace pitch_shifter_detail
