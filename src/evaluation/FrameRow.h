#pragma once
// One 16 ms row of a performance's frame table. The evaluation engine owns
// the table; the note scorer marks the melody's notes in it and writes the
// singer's note pitches and note scores.

namespace evaluation {

constexpr int kUnfilled = -256;

enum FrameMark { kNoMark = 0, kNoteStart = 1, kNoteEnd = 2 };

struct FrameRow {
    int reference = kUnfilled;  // reference code in force (kNoPitch for a rest)
    int sung = kUnfilled;       // singer's per-hop code
    int notePitch = kUnfilled;  // singer's averaged, octave-corrected note pitch
    int mark = kNoMark;
    float noteScore = 0.0f;  // score of the note starting at this row
};

}  // namespace evaluation
