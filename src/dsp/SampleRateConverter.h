#pragma once
// Converts interleaved 16-, 24- or 32-bit PCM (1 or 2 channels) between sample
// rates and appends the result to a ring buffer that the caller owns.
//
// Usage (the evaluation engine, capture thread):
//   SrcOutputRing ring{buffer, 1024, 0, {1, 2, 16000, 64000, 4, 16}};
//   CSampleRateConverter down;
//   down.Init({&ring, {1, 2, 48000, 192000, 4, 16}, 0});   // 48000 -> 16000
//   down.Convert(block, 768);   // 768 frames in, 256 frames appended to ring
//
// The ring's size fixes the output block: frames per Convert call at most
// size / (bytes per sample x channels). 48000 -> 16000 with a 256-frame ring
// turns each 768-frame call into exactly 256 frames; 16000 -> 48000 with a
// 768-frame ring turns each 256-frame call into exactly 768 frames. History
// carries across calls, so successive blocks are filtered as one stream.
//
// Threads: no locking; one thread at a time. Init allocates; Convert never
// allocates, locks or logs.
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/SrcStages.h"

// The leading fields of a wave format record.
struct SrcWaveFormat {
    uint16_t formatTag = 1;  // PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;  // 16, 24 or 32
};

// Output ring, owned by the caller. Only the output format's rate and bits per
// sample are used; the output has the input's channel count.
struct SrcOutputRing {
    uint8_t* buffer = nullptr;
    int size = 0;         // bytes; a whole number of output frames
    int writeOffset = 0;  // byte offset of the next write, wraps to 0 at size
    SrcWaveFormat format;
};

struct SrcConvertParams {
    SrcOutputRing* output = nullptr;
    SrcWaveFormat input;
    uint16_t extraSize = 0;
};

// The integer a float output sample (16-bit units) is stored as at `bits`
// (16, 24 or 32): limited, then 16-bit rounds half away from zero and the
// wider depths truncate.
int32_t SrcQuantizeSample(float value, int bits);

class CSampleRateConverter {
  public:
    static constexpr int kOk = 0;
    static constexpr int kError = 0x10000000;

    CSampleRateConverter();
    ~CSampleRateConverter();
    CSampleRateConverter(const CSampleRateConverter&) = delete;
    CSampleRateConverter& operator=(const CSampleRateConverter&) = delete;

    // 0 on success, and 0 without doing anything when already initialized.
    // kError for: no ring or buffer; a ring size that is not a positive whole
    // number of frames or a write offset off a frame boundary; channels other
    // than 1 or 2; bit depths other than 16, 24 or 32; rates not above 0; a
    // failed allocation or a stage that refuses its setup. A converter whose
    // Init failed converts nothing and may be initialized again.
    int Init(const SrcConvertParams& params);

    // Converts `frames` interleaved input frames (input format of Init) and
    // appends the result to the ring at its write offset. More frames than
    // InputCapacity() are cut to the last InputCapacity() frames. Returns 0.
    int Convert(const void* input, int frames);

    bool IsInitialized() const { return initialized_; }
    // Frames the last Convert call appended to the ring.
    int LastOutputFrames() const { return lastOutput_; }
    // Input frames one call can take (for equal rates: unlimited, 0 here).
    int InputCapacity() const { return inputCapacity_; }
    // Output frames per call at most (the ring's size in frames).
    int Block() const { return block_; }
    // Stages chosen by Init, nullptr where there is none.
    const CSrcCommon* FirstStage() const { return first_.get(); }
    const CSrcCommon* SecondStage() const { return second_.get(); }

  private:
    void WriteOutput(int frames);
    void CopyEqualRate(const uint8_t* input, int frames);

    SrcOutputRing* output_ = nullptr;
    SrcWaveFormat inputFormat_;
    std::unique_ptr<CSrcCommon> first_;
    std::unique_ptr<CSrcCommon> second_;
    float* stageInput_[2] = {nullptr, nullptr};
    int inputCapacity_ = 0;
    std::vector<float> outputFloat_;
    float* outLeft_ = nullptr;
    float* outRight_ = nullptr;
    int channels_ = 0;
    int block_ = 0;
    int lastOutput_ = 0;
    bool initialized_ = false;
};
