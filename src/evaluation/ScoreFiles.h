#pragma once
// The six score data files of a performance, written into its record folder
// when the performance stops and read back when it is shown again from the
// history:
//
//   "PitchData.txt"          one line per 16 ms frame-table row
//   "Score.txt"              the pitch score, then one line per phrase
//   "VocalFeatureTrack.txt"  expression counts, events, loudness, radar values
//   "PitchData2.txt"         the live pitch timeline
//   "VolumeData.txt"         the live volume track
//   "MaxFeatureCount.txt"    the number of live expression events
//
// Plain text, tab separated, every line ending in CR LF; the readers also
// take LF alone. Each file is written under a temporary name and renamed
// into place, so a failed write never leaves a half file behind.
#include <string>
#include <string_view>
#include <vector>

#include "evaluation/FrameRow.h"
#include "evaluation/TotalScore.h"
#include "evaluation/VocalFeatureTracker.h"

namespace evaluation {

inline constexpr const wchar_t* kPitchDataFile = L"PitchData.txt";
inline constexpr const wchar_t* kScoreFile = L"Score.txt";
inline constexpr const wchar_t* kFeatureTrackFile = L"VocalFeatureTrack.txt";
inline constexpr const wchar_t* kPitchData2File = L"PitchData2.txt";
inline constexpr const wchar_t* kVolumeDataFile = L"VolumeData.txt";
inline constexpr const wchar_t* kMaxFeatureCountFile = L"MaxFeatureCount.txt";

struct PhraseScore {
    int startMs = 0;
    int endMs = 0;
    float score = 0;
    bool operator==(const PhraseScore&) const = default;
};

// One live pitch or volume point.
struct LivePitchPoint {
    int timeMs = 0;
    int sung = kNoPitch;
    bool operator==(const LivePitchPoint&) const = default;
};
struct VolumePoint {
    int timeMs = 0;
    float level = 0;
    bool operator==(const VolumePoint&) const = default;
};

// A row as read back: the frame-table row with its time.
struct ScoreRow {
    int timeMs = 0;
    int reference = kNoPitch;
    int sung = kNoPitch;
    int notePitch = kNoPitch;  // kNoPitch where the line has none
    int mark = kNoMark;
    float noteScore = 0;
    bool operator==(const ScoreRow&) const = default;
};

// An event as the result views use it: 1 up, 2 down portamento, 3 vibrato,
// 0 struck off by the validation.
struct ScoreEvent {
    int timeMs = 0;
    int type = 0;
    bool operator==(const ScoreEvent&) const = default;
};

struct LoudnessPoint {
    int timeMs = 0;
    float level = 0;
    bool operator==(const LoudnessPoint&) const = default;
};

// Everything the six files hold, as the readers rebuild it.
struct ScoreFileSet {
    std::vector<ScoreRow> rows;  // sung replaced by the live timeline when present
    float pitchScore = 0;
    std::vector<PhraseScore> phrases;
    float performance = 0;  // from the counts line
    std::vector<ScoreEvent> events;
    std::vector<LoudnessPoint> loudness;
    RadarValues radar;
    std::vector<LivePitchPoint> timeline;  // empty when "PitchData2.txt" is missing
    std::vector<VolumePoint> volume;
    int maxFeatureCount = -1;  // -1 when "MaxFeatureCount.txt" is missing or unreadable
};

// Text builders: the exact bytes of each file (CR LF line ends).
//
// rows/count: the frame table; meanOffset lines the sung column up with the
// reference (row j shows the sung code of row min(j + meanOffset, count - 1)).
std::string PitchDataText(const FrameRow* rows, int count, int meanOffset);
std::string ScoreText(float pitchScore, const std::vector<PhraseScore>& phrases);
std::string FeatureTrackText(const FeatureReport& report);
std::string PitchData2Text(const LivePitchPoint* points, int count);
std::string VolumeDataText(const VolumePoint* points, int count);
std::string MaxFeatureCountText(int count);

// Writes text to path through a temporary file in the same folder; false
// when it cannot be created or written (nothing is left behind then).
bool WriteScoreFile(std::wstring_view path, std::string_view text);

// Readers. Each parses one file's text; the set is filled in the order the
// result views need it.
void ParsePitchData(std::string_view text, std::vector<ScoreRow>& rows);
void ParseFeatureTrack(std::string_view text, ScoreFileSet& set);
void ParseScore(std::string_view text, float& pitchScore, std::vector<PhraseScore>& phrases);
void ParsePitchData2(std::string_view text, std::vector<LivePitchPoint>& timeline);
void ParseVolumeData(std::string_view text, std::vector<VolumePoint>& volume);
int ParseMaxFeatureCount(std::string_view text);  // -1 when there is no number

enum class ScoreReadResult {
    kOk,
    kNoPitchData,     // "PitchData.txt" cannot be read: no evaluation to show
    kNoFeatureTrack,  // "VocalFeatureTrack.txt" cannot be read
    kNoScore,         // "Score.txt" cannot be read
};

// Reads the files of folder (ends with '/') in the order PitchData,
// VocalFeatureTrack, Score, then the three optional ones; stops at the first
// of the three required files that cannot be read. The live timeline
// replaces the rows' sung codes, and a feature count below the number of
// events limits the events.
ScoreReadResult ReadScoreFiles(std::wstring_view folder, ScoreFileSet& set);

// The number after "Total Score" in a feature report; false when the file
// or the line is missing.
bool ReadTotalScore(std::wstring_view featureTrackPath, float& total);

}  // namespace evaluation
