#pragma once
// CMelody: the reference melody of the current song, read from the note
// annotations of its lyric file ("<mm:ss.xx> ... (C#4)"), with a copy shifted
// by the user's key change. Loaded on the user-interface thread; the
// evaluation copies the shifted entries when a performance starts.
#include <string>
#include <string_view>
#include <vector>

#include "evaluation/MelodyEntry.h"
#include "karaoke/context/HlfContainer.h"

namespace evaluation {

// Tags later than this are not taken as time tags: no song is that long, and
// the frame table and voice buffer of a performance grow with the melody.
constexpr int kLatestTagMs = 3600000;  // one hour

// Parses note annotations into entries (closing rest included, equal times
// spread). An empty result means no melody.
std::vector<MelodyEntry> ParseMelody(std::wstring_view text);

// Shifts every note by 4 * key quarter tones, saturating at -127 and 127.
std::vector<MelodyEntry> ShiftMelody(const std::vector<MelodyEntry>& entries, int key);

}  // namespace evaluation

class CMelody {
  public:
    static constexpr int kMaxKey = 12;

    // Reads the lyric file through the shared lyric reader (a container is
    // deciphered, any other file is used as it is) and parses it; the old
    // entries are dropped first. True when at least one entry was read.
    bool Load(const std::wstring& lyricPath);
    // The same on text already read.
    bool LoadText(std::wstring_view text);
    void Clear();
    // Why the last Load read no text (Ok when the file was read).
    hlf::Status LastReadResult() const { return lastRead_; }

    // Semitones, clamped to -12 .. 12; rebuilds the shifted copy.
    void SetKey(int semitones);
    int Key() const { return key_; }

    const std::vector<MelodyEntry>& Entries() const { return entries_; }
    const std::vector<MelodyEntry>& ShiftedEntries() const { return shifted_; }
    int Count() const { return static_cast<int>(shifted_.size()); }
    bool Empty() const { return shifted_.empty(); }
    // False for an empty melody and for one of rests only.
    bool HasNotes() const;
    // Lowest and highest note codes of the shifted entries; kNoPitch for both
    // when there is no note.
    void PitchRange(int& lowest, int& highest) const;

  private:
    std::vector<MelodyEntry> entries_;
    std::vector<MelodyEntry> shifted_;
    int key_ = 0;
    hlf::Status lastRead_ = hlf::Status::Ok;
};
