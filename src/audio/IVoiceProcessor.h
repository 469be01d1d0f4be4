#pragma once
// What the mixer asks of the singing evaluation for every captured block, on
// the capture thread under the mixer lock: track and effect the voice.
// input and output may be the same buffer; output2 receives the signal the
// singer hears. Implementations must not allocate or block.
class IVoiceProcessor {
  public:
    virtual ~IVoiceProcessor() = default;
    virtual void ProcessBlock(const short* input, short* output, int frames, short* output2) = 0;
};

// The key change of the backing track, on the render thread under the mixer
// lock. Shift works in place on interleaved frames.
class IMusicKeyShifter {
  public:
    virtual ~IMusicKeyShifter() = default;
    virtual bool IsOn() const = 0;
    virtual void Shift(short* samples, unsigned frames) = 0;
};
