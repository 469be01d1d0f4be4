#include "karaoke/LrcManager.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "platform/debug/DebugLog.h"
#include "platform/text/Utf.h"

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
bool IsLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Reads a leading float the way "%f" does (blanks, sign, digits, fraction,
// exponent), in the "C" locale; 0 when there is none.
float LeadingFloat(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;
    std::string ascii;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        if (text[i] == L'-')
            ascii += '-';
        ++i;
    }
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (!(IsDigit(c) || c == L'.' || c == L'e' || c == L'E' || c == L'+' || c == L'-'))
            break;
        ascii += static_cast<char>(c);
    }
    float value = 0.0f;
    const auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (r.ec != std::errc() || !std::isfinite(value))
        return r.ec == std::errc::result_out_of_range ? 1e30f : 0.0f;
    return value;
}

int LeadingInt(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';
    long long v = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        v = std::min<long long>(v * 10 + (text[i] - L'0'), 1'000'000'000LL);
    }
    return static_cast<int>(negative ? -v : v);
}

const std::wstring_view kSectionMarks[] = {L"{1}", L"{2}", L"{3}", L"{4}"};
const std::wstring_view kPartMarks[] = {L"{M}", L"{W}", L"{C}"};

bool LooksLikeTimeTag(std::wstring_view s) {
    return s.size() >= 3 && (s.front() == L'[' || s.front() == L'<') &&
           (s.back() == L']' || s.back() == L'>') && IsDigit(s[1]);
}

}  // namespace

int LyricEntry::End() const {
    int end = parts[0].end;
    if (partCount > 1)
        end = std::max(end, parts[1].end);
    return end;
}

LrcManager::~LrcManager() {
    platform::DebugOutput(std::wstring_view(L"~LrcManager()!!\n"));
}

void LrcManager::Clear() {
    source_.clear();
    rawLines_.clear();
    idTags_.clear();
    timedTexts_.clear();
    entries_.clear();
    display_.clear();
    partSwitch_ = 0;
}

int LrcManager::TagTimeMs(std::wstring_view tag) {
    const std::size_t colon = tag.find(L':');
    float seconds;
    int minutes = 0;
    if (colon != std::wstring_view::npos) {
        minutes = LeadingInt(tag.substr(0, colon));
        seconds = LeadingFloat(tag.substr(colon + 1));
    } else {
        seconds = LeadingFloat(tag);
    }
    // Single precision throughout: [00:00.29] must give 290 ms, as it does
    // in float and not in double.
    const float total = (seconds + static_cast<float>(minutes) * 60.0f) * 1000.0f;
    if (!(total > 0.0f))
        return 0;
    if (total >= static_cast<float>(kMaxTimeMs))
        return kMaxTimeMs;
    return static_cast<int>(std::trunc(total));
}

void LrcManager::ParseLine(int number, std::wstring line) {
    for (std::wstring_view mark : kSectionMarks) {
        if (line.find(mark) != std::wstring::npos) {
            line = std::wstring(mark);
            break;
        }
    }
    if (std::size_t s = line.find(L"{S}"); s != std::wstring::npos) {
        partSwitch_ = 1;
        // The switch itself is no text and no part mark.
        for (; s != std::wstring::npos; s = line.find(L"{S}"))
            line.erase(s, 3);
        // The first part mark of the line continues through later copies of
        // itself: each later copy goes, with the time tag just before it.
        std::size_t first = std::wstring::npos;
        std::wstring_view mark;
        for (std::wstring_view m : kPartMarks) {
            const std::size_t p = line.find(m);
            if (p < first) {
                first = p;
                mark = m;
            }
        }
        if (first != std::wstring::npos) {
            std::size_t p = line.find(mark, first + mark.size());
            while (p != std::wstring::npos) {
                std::size_t tag = (p >= 11 && line[p - 11] == L'-') ? 9 : 10;
                // Only a real time tag in front goes; never reach before the
                // line's start.
                if (p < tag || !LooksLikeTimeTag(std::wstring_view(line).substr(p - tag, tag)))
                    tag = 0;
                line.erase(p - tag, tag + mark.size());
                p = line.find(mark, p - tag);
            }
        }
    }
    rawLines_[number] = line;

    std::vector<int> times;
    std::wstring text;
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t c = line[i];
        if (c == L'\n' || c == L'\r')
            continue;
        if (c == L'[' && i + 1 < n && IsDigit(line[i + 1])) {
            std::size_t close = line.find(L']', i + 1);
            while (close != std::wstring::npos && !IsDigit(line[close - 1]))
                close = line.find(L']', close + 1);
            if (close != std::wstring::npos) {
                times.push_back(TagTimeMs(std::wstring_view(line).substr(i + 1, close - i - 1)));
                i = close;
                continue;
            }
        } else if (c == L'[' && i + 1 < n && IsLetter(line[i + 1])) {
            const std::size_t close = line.find(L']', i + 1);
            if (close != std::wstring::npos) {
                const std::wstring_view body = std::wstring_view(line).substr(i + 1, close - i - 1);
                const std::size_t colon = body.find(L':');
                if (colon != std::wstring_view::npos && colon > 0 && colon + 1 < body.size()) {
                    idTags_[std::wstring(body.substr(0, colon))] =
                        std::wstring(body.substr(colon + 1));
                }
                i = close;
                continue;
            }
        }
        text += c;
    }
    for (int t : times)
        timedTexts_[t] = text;
}

void LrcManager::ParseWords(int lineStart, int lineEnd, const std::wstring& raw, LyricPart& part) {
    part.words.clear();
    part.text.clear();
    LyricWord current{lineStart, {}};
    bool tagged = false;  // current word began at a word tag
    const std::size_t n = raw.size();
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t c = raw[i];
        if (c == L'<' && i + 1 < n && IsDigit(raw[i + 1])) {
            std::size_t close = raw.find(L'>', i + 1);
            while (close != std::wstring::npos && !IsDigit(raw[close - 1]))
                close = raw.find(L'>', close + 1);
            if (close != std::wstring::npos) {
                if (tagged || !current.text.empty())
                    part.words.push_back(std::move(current));
                current =
                    LyricWord{TagTimeMs(std::wstring_view(raw).substr(i + 1, close - i - 1)), {}};
                tagged = true;
                i = close;
                continue;
            }
        }
        current.text += c;
        part.text += c;
    }
    if (tagged || !current.text.empty() || part.words.empty())
        part.words.push_back(std::move(current));
    const int last = part.words.back().start;
    part.end = last == lineStart ? lineEnd : last;
}

bool LrcManager::ParseEntry(int start, int end, const std::wstring& text, LyricEntry& entry) const {
    entry = LyricEntry{};
    entry.start = start;
    std::vector<std::pair<int, std::wstring>> parts;
    std::wstring collected;
    int code = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == L'{' && i + 1 < n && IsLetter(text[i + 1])) {
            // A mark closes the part before it only when that part has text,
            // so "{M}Oh{W}Ah" is two parts, not an empty one and two.
            if (!collected.empty()) {
                parts.emplace_back(code, std::move(collected));
                collected.clear();
            }
            const wchar_t letter = text[i + 1];
            code = (letter == L'w' || letter == L'W')   ? 1
                   : (letter == L'c' || letter == L'C') ? 2
                                                        : 0;
            std::size_t close = i + 1;
            while (close < n && !(text[close] == L'}' && IsLetter(text[close - 1])))
                ++close;
            i = close;  // past the end when the mark never closes
            continue;
        }
        collected += text[i];
    }
    if (!collected.empty() || parts.empty())
        parts.emplace_back(code, std::move(collected));
    if (parts.size() > 2)
        return false;
    entry.partCount = static_cast<int>(parts.size());
    for (std::size_t p = 0; p < parts.size(); ++p) {
        entry.parts[p].code = parts[p].first;
        ParseWords(start, end, parts[p].second, entry.parts[p]);
    }
    return true;
}

bool LrcManager::Load(std::wstring_view text) {
    Clear();
    if (!text.empty() && text.front() == L'\xFEFF')
        text.remove_prefix(1);
    if (text.empty() || text.front() != L'[')
        return false;
    source_ = std::wstring(text);

    int number = 0;
    std::size_t pos = 0;
    while (pos < source_.size()) {
        const std::size_t end = source_.find_first_of(L"\r\n", pos);
        const std::size_t stop = end == std::wstring::npos ? source_.size() : end;
        if (stop > pos)
            ParseLine(++number, source_.substr(pos, stop - pos));
        if (end == std::wstring::npos)
            break;
        pos = source_.find_first_not_of(L"\r\n", end);
        if (pos == std::wstring::npos)
            break;
    }

    for (auto it = timedTexts_.begin(); it != timedTexts_.end(); ++it) {
        const auto next = std::next(it);
        const int end = next == timedTexts_.end() ? kLastEndMs : next->first;
        LyricEntry entry;
        if (!ParseEntry(it->first, end, it->second, entry)) {
            Clear();
            return false;
        }
        entries_.emplace(it->first, std::move(entry));
    }
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        const auto next = std::next(it);
        const LyricEntry* nextEntry = next == entries_.end() ? nullptr : &next->second;
        for (int p = 0; p < it->second.partCount; ++p)
            display_.push_back({&it->second, p, nextEntry});
    }
    return true;
}

int LrcManager::Progress(const LyricEntry& entry, const LyricPart& part, int t) {
    const auto clamp = [](long long v) {
        return static_cast<int>(std::clamp<long long>(v, 0, 100));
    };
    if (part.words.size() <= 1) {
        const long long span = static_cast<long long>(part.end) - entry.start;
        if (span <= 0)
            return t >= part.end ? 100 : 0;
        return clamp((static_cast<long long>(t) - entry.start) * 100 / span);
    }
    const auto& words = part.words;
    if (t < words.front().start)
        return 0;
    if (t > words.back().start)
        return 100;
    std::size_t total = 0;
    for (const auto& w : words)
        total += w.text.size();
    if (total == 0)
        return 100;
    std::size_t before = 0;
    for (std::size_t j = 0; j + 1 < words.size(); ++j) {
        const int s0 = words[j].start;
        const int s1 = words[j + 1].start;
        if (s0 <= t && t <= s1) {
            // Equal (or backward) word times: the word is simply sung.
            const float fraction =
                s1 > s0 ? static_cast<float>(t - s0) / static_cast<float>(s1 - s0) : 1.0f;
            const float p = (100.0f * static_cast<float>(before) + 0.5f +
                             100.0f * static_cast<float>(words[j].text.size()) * fraction) /
                            static_cast<float>(total);
            return clamp(static_cast<long long>(std::trunc(p + 0.5f)));
        }
        before += words[j].text.size();
    }
    return 100;  // word times out of order and t between them
}

void LrcManager::QueryProgress(int t, int& line, int& progress, int& part, int& nextLine,
                               int& nextProgress, int& nextPart) const {
    line = 1;
    progress = part = nextLine = nextProgress = nextPart = 0;
    if (display_.empty())
        return;
    const int count = static_cast<int>(display_.size());
    const auto codeOf = [&](int l) {
        return display_[l - 1].entry->parts[display_[l - 1].part].code;
    };
    const LyricEntry& first = entries_.begin()->second;
    if (t <= first.start) {
        part = first.parts[0].code;
        return;
    }
    const LyricEntry& lastEntry = std::prev(entries_.end())->second;
    if (t >= lastEntry.End()) {
        if (count == 1) {
            line = 1;
            progress = 100;
            part = codeOf(1);
            return;
        }
        line = count - 1;
        nextLine = count;
        progress = nextProgress = 100;
        part = codeOf(line);
        nextPart = codeOf(nextLine);
        return;
    }
    int current = count;
    for (int l = 1; l <= count; ++l) {
        const DisplayLine& d = display_[l - 1];
        const int partEnd = d.entry->parts[d.part].end;
        const int limit = d.nextEntry ? std::max(partEnd, d.nextEntry->start) : partEnd;
        if (t > limit)
            continue;
        current = l;
        break;
    }
    const DisplayLine& c = display_[current - 1];
    line = current;
    part = codeOf(current);
    progress = t < c.entry->start ? 0 : Progress(*c.entry, c.entry->parts[c.part], t);
    if (current < count) {
        const DisplayLine& n = display_[current];
        nextLine = current + 1;
        nextPart = codeOf(nextLine);
        nextProgress = t < n.entry->start ? 0 : Progress(*n.entry, n.entry->parts[n.part], t);
    }
}

std::wstring LrcManager::LineText(int line) const {
    static const wchar_t* const kLabels[] = {L"男", L"女", L"合"};
    if (line == -1) {
        std::wstring all;
        bool firstEntry = true;
        for (const auto& [start, e] : entries_) {
            if (!firstEntry)
                all += L"\r\n";
            firstEntry = false;
            const bool labelled = e.partCount == 2 || e.parts[0].code != 0;
            for (int p = 0; p < e.partCount; ++p) {
                if (p > 0)
                    all += L" ";
                if (labelled)
                    all += std::wstring(L"(") + kLabels[std::clamp(e.parts[p].code, 0, 2)] + L")";
                all += e.parts[p].text;
            }
        }
        return all;
    }
    if (line < 1)
        return {};
    if (timedTexts_.empty()) {
        const auto it = rawLines_.find(line);
        return it == rawLines_.end() ? std::wstring() : it->second;
    }
    if (line > static_cast<int>(display_.size()))
        return {};
    const DisplayLine& d = display_[line - 1];
    const std::wstring& text = d.entry->parts[d.part].text;
    return text.empty() ? std::wstring(L" ") : text;
}
