#pragma once
// The live pitch shown while singing: the hop's code folded to within half an
// octave of the reference, smoothed over a ring of three values. The ring
// stores the averages, not the inputs, so a steady code is approached from
// 0 and stops a little short of it (integer truncation).

namespace evaluation {

class CLivePitch {
  public:
    static constexpr float kLeastEnvelope = 2000.0f;

    // hopCode: per-hop code of this hop's pitch. reference: code in force
    // (kNoPitch during a rest). nextNote: the next note's code from the
    // current entry on, kNoPitch when there is none. Returns the live code,
    // kNoPitch when the hop is too quiet.
    int Next(int hopCode, int reference, int nextNote, float envelopePeak);

    // The smoothing ring alone.
    int Smooth(int code);

  private:
    int ring_[3] = {0, 0, 0};
    int index_ = 0;
};

}  // namespace evaluation
