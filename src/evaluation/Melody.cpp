#include "evaluation/Melody.h"

#include <algorithm>
#include <cstdint>

#include "karaoke/context/LyricFile.h"

namespace evaluation {

namespace {

constexpr int kEndRunMs = 100;

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// One "%d" field: optional white space and sign, then digits. Values that
// do not fit are refused rather than wrapped.
bool ReadNumber(std::wstring_view text, size_t& pos, long long& value) {
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) {
        return false;
    }
    value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        value = value * 10 + (text[pos] - L'0');
        if (value > 1000000000LL) {
            return false;
        }
        ++pos;
    }
    if (negative) {
        value = -value;
    }
    return true;
}

// "mm:ss.ff" right after a '<'; the fraction counts hundredths whatever its
// number of digits. A negative field or a time past kLatestTagMs makes it no
// time tag.
bool ReadTagTime(std::wstring_view text, size_t pos, long long& ms) {
    long long minutes = 0;
    long long seconds = 0;
    long long fraction = 0;
    if (!ReadNumber(text, pos, minutes) || pos >= text.size() || text[pos] != L':') {
        return false;
    }
    ++pos;
    if (!ReadNumber(text, pos, seconds) || pos >= text.size() || text[pos] != L'.') {
        return false;
    }
    ++pos;
    if (!ReadNumber(text, pos, fraction)) {
        return false;
    }
    if (minutes < 0 || seconds < 0 || fraction < 0) {
        return false;
    }
    ms = minutes * 60000 + seconds * 1000 + fraction * 10;
    return ms <= kLatestTagMs;
}

int Semitone(wchar_t letter) {
    switch (letter) {
        case L'C':
            return 0;
        case L'D':
            return 2;
        case L'E':
            return 4;
        case L'F':
            return 5;
        case L'G':
            return 7;
        case L'A':
            return 9;
        case L'B':
            return 11;
        default:
            return -1;
    }
}

// The annotation between '(' at open and ')' at close.
int AnnotationCode(std::wstring_view text, size_t open, size_t close) {
    const wchar_t letter = open + 1 < close ? text[open + 1] : L')';
    int semitone = Semitone(letter);
    if (semitone < 0) {
        return kNoPitch;
    }
    if (letter != L'E' && letter != L'B' && open + 2 < close && text[open + 2] == L'#') {
        ++semitone;
    }
    const wchar_t last = text[close - 1];
    if (!IsDigit(last)) {
        return semitone;  // no octave: the bare semitone number
    }
    const int octave = last - L'0';
    return SaturatePitchCode(4 * (12 * octave + semitone - 57));
}

// Entries that share a time are spread evenly up to the next later time; a
// run at the end moves 100 ms later. Times that go backwards are first raised
// to the time before them, so a run never has a later time below it.
void SpreadEqualTimes(std::vector<std::uint32_t>& t) {
    for (size_t i = 1; i < t.size(); ++i) {
        t[i] = std::max(t[i], t[i - 1]);
    }
    size_t i = 1;
    while (i < t.size()) {
        if (t[i] > t[i - 1]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < t.size() && t[j] <= t[j - 1]) {
            ++j;
        }
        if (j == t.size()) {
            for (size_t k = i; k < j; ++k) {
                t[k] += kEndRunMs;
            }
            break;
        }
        const std::uint32_t from = t[i - 1];
        const std::uint32_t step = (t[j] - from) / static_cast<std::uint32_t>(j - i + 1);
        for (size_t k = i; k < j; ++k) {
            t[k] = from + static_cast<std::uint32_t>(k - i + 1) * step;
        }
        i = j + 1;
    }
}

}  // namespace

std::vector<MelodyEntry> ParseMelody(std::wstring_view text) {
    const size_t parens = static_cast<size_t>(std::count(text.begin(), text.end(), L'(') +
                                              std::count(text.begin(), text.end(), L')'));
    if (parens < 2) {
        return {};
    }
    const size_t capacity = parens / 2 + 1;
    std::vector<std::uint32_t> times;
    std::vector<int> codes;
    size_t pos = 0;
    while (times.size() + 1 < capacity) {
        // The next '<' followed by a digit that reads as a time.
        size_t lt = text.find(L'<', pos);
        long long ms = 0;
        while (lt != std::wstring_view::npos &&
               !(lt + 1 < text.size() && IsDigit(text[lt + 1]) && ReadTagTime(text, lt + 1, ms))) {
            lt = text.find(L'<', lt + 1);
        }
        if (lt == std::wstring_view::npos) {
            break;
        }
        const size_t gt = text.find(L'>', lt);
        if (gt == std::wstring_view::npos) {
            break;
        }
        const size_t open = text.find(L'(', gt);
        if (open == std::wstring_view::npos) {
            break;
        }
        const size_t close = text.find(L')', open);
        if (close == std::wstring_view::npos) {
            break;
        }
        times.push_back(static_cast<std::uint32_t>(ms));
        codes.push_back(AnnotationCode(text, open, close));
        pos = close + 1;
    }
    if (times.empty()) {
        return {};
    }
    times.push_back(times.back());  // the closing rest
    codes.push_back(kNoPitch);
    SpreadEqualTimes(times);
    std::vector<MelodyEntry> entries(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        entries[i] = MakeMelodyEntry(std::min(times[i], kMaxMelodyTimeMs), codes[i]);
    }
    return entries;
}

std::vector<MelodyEntry> ShiftMelody(const std::vector<MelodyEntry>& entries, int key) {
    std::vector<MelodyEntry> shifted(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const int code = MelodyPitch(entries[i]);
        const int moved = code == kNoPitch ? kNoPitch : SaturatePitchCode(code + 4 * key);
        shifted[i] = MakeMelodyEntry(static_cast<std::uint32_t>(MelodyTime(entries[i])), moved);
    }
    return shifted;
}

}  // namespace evaluation

bool CMelody::Load(const std::wstring& lyricPath) {
    Clear();
    std::wstring text;
    lastRead_ = ReadLyricText(lyricPath, text);
    if (lastRead_ != hlf::Status::Ok) {
        return false;
    }
    return LoadText(text);
}

bool CMelody::LoadText(std::wstring_view text) {
    entries_ = evaluation::ParseMelody(text);
    shifted_ = evaluation::ShiftMelody(entries_, key_);
    return !entries_.empty();
}

void CMelody::Clear() {
    entries_.clear();
    shifted_.clear();
    lastRead_ = hlf::Status::Ok;
}

void CMelody::SetKey(int semitones) {
    key_ = std::clamp(semitones, -kMaxKey, kMaxKey);
    shifted_ = evaluation::ShiftMelody(entries_, key_);
}

bool CMelody::HasNotes() const {
    return std::any_of(shifted_.begin(), shifted_.end(),
                       [](MelodyEntry e) { return !evaluation::IsRest(e); });
}

void CMelody::PitchRange(int& lowest, int& highest) const {
    lowest = evaluation::kNoPitch;
    highest = evaluation::kNoPitch;
    for (MelodyEntry e : shifted_) {
        if (evaluation::IsRest(e)) {
            continue;
        }
        const int code = evaluation::MelodyPitch(e);
        if (lowest == evaluation::kNoPitch || code < lowest) {
            lowest = code;
        }
        if (highest == evaluation::kNoPitch || code > highest) {
            highest = code;
        }
    }
}
