#pragma once
// LRC lyric text: [mm:ss.xx] line time tags, <mm:ss.xx> word time tags,
// [key:value] ID tags, duet part marks {M} {W} {C}, the part switch {S},
// and the section marks {1} to {4}. Times are computed in single precision
// and truncated to milliseconds.
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct LyricWord {
    int start = 0;  // ms
    std::wstring text;
};

struct LyricPart {
    int code = 0;       // 0 {M} or no mark, 1 {W}, 2 {C}
    int end = 0;        // ms
    std::wstring text;  // without tags
    std::vector<LyricWord> words;
};

struct LyricEntry {
    int start = 0;
    int partCount = 1;
    std::array<LyricPart, 2> parts;
    // The later of the parts' end times.
    int End() const;
};

class LrcManager {
  public:
    static constexpr int kLastEndMs = 9999999;

    LrcManager() = default;
    ~LrcManager();

    // Empties everything, then parses. False when the text (after an
    // optional byte-order mark) does not begin with '[' or a timed text has
    // more than two parts; the document is then empty.
    bool Load(std::wstring_view text);

    void QueryProgress(int timeMs, int& line, int& progress, int& part, int& nextLine,
                       int& nextProgress, int& nextPart) const;

    // Line -1: the whole lyric; n >= 1: display line n (" " when its text
    // is empty); anything else or past the end: empty. Without any timed
    // text, line n is raw line n.
    std::wstring LineText(int line) const;

    int DisplayLineCount() const { return static_cast<int>(display_.size()); }
    const std::map<int, std::wstring>& RawLines() const { return rawLines_; }
    const std::map<std::wstring, std::wstring>& IdTags() const { return idTags_; }
    const std::map<int, std::wstring>& TimedTexts() const { return timedTexts_; }
    const std::map<int, LyricEntry>& Entries() const { return entries_; }
    bool PartSwitch() const { return partSwitch_ != 0; }

    // A tag's text ("mm:ss.xx" or "ss.xx") as milliseconds, in single
    // precision, clamped to 0..kMaxTimeMs.
    static int TagTimeMs(std::wstring_view tag);
    static constexpr int kMaxTimeMs = 0x7FFFFFFF / 2;

  private:
    struct DisplayLine {
        const LyricEntry* entry;
        int part;
        const LyricEntry* nextEntry;  // null for the last entry
    };

    void Clear();
    void ParseLine(int number, std::wstring line);
    bool ParseEntry(int start, int end, const std::wstring& text, LyricEntry& entry) const;
    static void ParseWords(int lineStart, int lineEnd, const std::wstring& raw, LyricPart& part);
    static int Progress(const LyricEntry& entry, const LyricPart& part, int t);

    std::wstring source_;
    std::map<int, std::wstring> rawLines_;
    std::map<std::wstring, std::wstring> idTags_;
    std::map<int, std::wstring> timedTexts_;
    std::map<int, LyricEntry> entries_;
    std::vector<DisplayLine> display_;
    int partSwitch_ = 0;
};
