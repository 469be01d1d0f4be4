#pragma once
// Key change of the music: one process-wide time-domain pitch shifter for
// interleaved 16-bit PCM, -12 ... +12 semitones, same tempo, fixed start-up
// delay of kPitchShifterDelayFrames at key 0.
//
// Threads:
// - InitPitchShifter, ResetPitchShifter and ApplyKey: the thread that starts
//   or resumes a live performance, while the render thread is not inside
//   ShiftPitch (before it asks for music).
// - ShiftPitch: the render thread, inside the mixer lock; no allocation, no
//   lock of its own, no logging.
// - SetPitchShifterValue: any thread (the key buttons), at any time. Only the
//   clamped key is published, as one atomic value; ShiftPitch takes one
//   snapshot of it per chunk of 128 frames and derives step and ratio from the
//   table, so it never sees a torn key/step/ratio triple.
#include <cstdint>

inline constexpr int kPitchShifterDelayFrames = 2000;
inline constexpr int kPitchShifterMaxKey = 12;
inline constexpr unsigned kPitchShifterMaxChannels = 6;

// First call: allocates the sample store for `channels` (1 ... 6) and resets;
// later calls keep the first channel count and store and only reset. Returns 1,
// or 0 when the store cannot be allocated or the channel count is out of range
// (the shifter then stays uninitialized).
int InitPitchShifter(unsigned channels);

// Zeroes the buffers and counters (2000 frames of silence queued). Keeps the
// key. Does nothing before InitPitchShifter.
void ResetPitchShifter();

// Key in semitones, clamped to -12 ... 12; takes effect at the next chunk
// (resampling) and the next splice cycle. Never resets the state.
void SetPitchShifterValue(int semitones);

// Key application at the start of a live performance: sets the on flag (never
// cleared afterwards) and the key.
void ApplyKey(int semitones);

// True once ApplyKey ran: the mixer then passes every music block through
// ShiftPitch.
bool IsPitchShifterOn();

// The key as last set (clamped).
int GetPitchShifterKey();

// Shifts `frames` interleaved frames in place (channel count of the first
// InitPitchShifter; the mixer sends 768 stereo frames per 16 ms block) and
// returns frames. Leaves the block unchanged before initialization.
unsigned ShiftPitch(short* samples, unsigned frames);
