#include "evaluation/ScoreFiles.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/folders/Folders.h"

namespace evaluation {

namespace {

// printf onto the end of out. Every format here is fixed and short.
[[gnu::format(printf, 2, 3)]] void Append(std::string& out, const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
    }
}

constexpr const char* kEnd = "\r\n";

// The lines of a text, without their CR LF or LF.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') {
            --stop;
        }
        lines.emplace_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

bool Contains(const std::string& line, const char* what) {
    return line.find(what) != std::string::npos;
}

std::wstring Join(std::wstring_view folder, const wchar_t* name) {
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'/') {
        path += L'/';
    }
    return path + name;
}

}  // namespace

std::string PitchDataText(const FrameRow* rows, int count, int meanOffset) {
    std::string out;
    if (rows == nullptr || count <= 0) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(count) * 40);
    for (int j = 0; j < count; ++j) {
        const FrameRow& row = rows[j];
        long long shifted = static_cast<long long>(j) + meanOffset;
        if (shifted > count - 1) {
            shifted = count - 1;
        }
        if (shifted < 0) {
            shifted = 0;
        }
        Append(out, "%7d\t%7d\t%7d\t", 16 * j, row.reference, rows[shifted].sung);
        if (row.notePitch == kUnfilled) {
            out += "     ";
        } else {
            Append(out, "%7d", row.notePitch);
        }
        if (row.mark == kNoteStart) {
            Append(out, "\t(\t%5.1f%s", static_cast<double>(row.noteScore), kEnd);
        } else if (row.mark == kNoteEnd) {
            Append(out, "\t)%s", kEnd);
        } else {
            out += kEnd;
        }
    }
    return out;
}

std::string ScoreText(float pitchScore, const std::vector<PhraseScore>& phrases) {
    std::string out;
    Append(out, "%.2f%s", static_cast<double>(pitchScore), kEnd);
    for (const PhraseScore& p : phrases) {
        Append(out, "%8d\t%8d\t%.2f%s", p.startMs, p.endMs, static_cast<double>(p.score), kEnd);
    }
    return out;
}

std::string FeatureTrackText(const FeatureReport& report) {
    std::string out;
    out += "Loudness\t\tVibrato\tUp Portamento\tDown Portamento\tRiffs and Runs";
    out += kEnd;
    Append(out, "[%g]\t\t[%d]\t[%d]\t\t[%d]\t\t[%d]%s", static_cast<double>(report.performance),
           report.vibratoDetected, report.upDetected, report.downDetected, report.riffs, kEnd);
    out += "//Time (ms) \tV=Vibrato , P=Portamento";
    out += kEnd;
    for (const FeatureEventLine& e : report.events) {
        switch (e.kind) {
            case FeatureEventLine::kUp:
                Append(out, "<%d>\t\t%s\t\t%g%s", e.timeMs, e.struckOff ? "(UPX)" : "(UP)",
                       static_cast<double>(e.size), kEnd);
                break;
            case FeatureEventLine::kDown:
                Append(out, "<%d>\t\t%s\t\t%g%s", e.timeMs, e.struckOff ? "(DPX)" : "(DP)",
                       static_cast<double>(e.size), kEnd);
                break;
            case FeatureEventLine::kVibrato:
                Append(out, "<%d>\t\t%s%s", e.timeMs, e.struckOff ? "(VX)" : "(V)", kEnd);
                break;
        }
    }
    out += "\r\n\r\n\r\nLoudness Chart\r\n";
    for (std::size_t k = 0; k < report.loudnessChart.size(); ++k) {
        Append(out, "<%d>\t\t%g%s", static_cast<int>(1024 * (k + 1)),
               static_cast<double>(report.loudnessChart[k]), kEnd);
    }
    out += "\r\n\r\n\r\nRadar Chart\r\n";
    const RadarValues& r = report.radar;
    Append(out, "Pitch    \t%g%s", static_cast<double>(r.pitch), kEnd);
    Append(out, "Vibrato  \t%g%s", static_cast<double>(r.vibrato), kEnd);
    Append(out, "Portamento\t%g%s", static_cast<double>(r.portamento), kEnd);
    Append(out, "Performance\t%g%s", static_cast<double>(r.performance), kEnd);
    Append(out, "Stability\t%g%s", static_cast<double>(r.stability), kEnd);
    Append(out, "Total Score\t%g%s", static_cast<double>(r.total), kEnd);
    return out;
}

std::string PitchData2Text(const LivePitchPoint* points, int count) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count > 0 ? count : 0) * 14);
    for (int i = 0; i < count; ++i) {
        Append(out, "<%d>\t%d%s", points[i].timeMs, points[i].sung, kEnd);
    }
    return out;
}

std::string VolumeDataText(const VolumePoint* points, int count) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count > 0 ? count : 0) * 20);
    for (int i = 0; i < count; ++i) {
        Append(out, "<%d>\t%f%s", points[i].timeMs, static_cast<double>(points[i].level), kEnd);
    }
    return out;
}

std::string MaxFeatureCountText(int count) {
    std::string out;
    Append(out, "%d%s", count, kEnd);
    return out;
}

bool WriteScoreFile(std::wstring_view path, std::string_view text) {
    return platform::WriteFileAtomically(path, text);
}

void ParsePitchData(std::string_view text, std::vector<ScoreRow>& rows) {
    const std::vector<std::string> lines = Lines(text);
    rows.assign(lines.size(), ScoreRow{});
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        ScoreRow& row = rows[k];
        row.timeMs = 0;
        const std::size_t open = line.find('(');
        if (open == std::string::npos) {
            std::sscanf(line.c_str(), "%d%d%d%d%f", &row.timeMs, &row.reference, &row.sung,
                        &row.notePitch, &row.noteScore);
            if (Contains(line, ")")) {
                row.mark = kNoteEnd;
            }
        } else {
            const std::string before = line.substr(0, open);
            std::sscanf(before.c_str(), "%d%d%d%d", &row.timeMs, &row.reference, &row.sung,
                        &row.notePitch);
            std::sscanf(line.c_str() + open + 1, "%f", &row.noteScore);
            row.mark = kNoteStart;
        }
    }
}

void ParseFeatureTrack(std::string_view text, ScoreFileSet& set) {
    const std::vector<std::string> lines = Lines(text);
    set.events.clear();
    set.loudness.clear();
    set.performance = 0;
    set.radar = RadarValues{};
    if (lines.size() > 1) {
        std::sscanf(lines[1].c_str(), "[%f]", &set.performance);
    }
    enum { kEvents, kChart, kRadar } section = kEvents;
    for (std::size_t k = 2; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (section == kEvents) {
            if (Contains(line, "Loudness Chart")) {
                section = kChart;
                continue;
            }
            static const char* const kTokens[] = {"(V)",  "(VX)",  "(UP)", "(UPX)",
                                                  "(DP)", "(DPX)", "(RP)", "(RPX)"};
            bool event = false;
            for (const char* token : kTokens) {
                event = event || Contains(line, token);
            }
            if (!event) {
                continue;
            }
            ScoreEvent e;
            std::sscanf(line.c_str(), "<%d>", &e.timeMs);
            if (Contains(line, "P")) {
                e.type = Contains(line, "X") ? 0 : (Contains(line, "U") ? 1 : 2);
            } else if (Contains(line, "V")) {
                e.type = Contains(line, "X") ? 0 : 3;
            }
            set.events.push_back(e);
        } else if (section == kChart) {
            if (Contains(line, "Radar Chart")) {
                section = kRadar;
                continue;
            }
            if (line.empty()) {
                continue;
            }
            LoudnessPoint p;
            std::sscanf(line.c_str(), "<%d>%f", &p.timeMs, &p.level);
            set.loudness.push_back(p);
        } else {
            RadarValues& r = set.radar;
            if (Contains(line, "Total Score")) {
                std::sscanf(line.c_str(), "%*s%*s%f", &r.total);
            } else if (Contains(line, "Pitch")) {
                std::sscanf(line.c_str(), "%*s%f", &r.pitch);
            } else if (Contains(line, "Vibrato")) {
                std::sscanf(line.c_str(), "%*s%f", &r.vibrato);
            } else if (Contains(line, "Portamento")) {
                std::sscanf(line.c_str(), "%*s%f", &r.portamento);
            } else if (Contains(line, "Performance")) {
                std::sscanf(line.c_str(), "%*s%f", &r.performance);
            } else if (Contains(line, "Stability")) {
                std::sscanf(line.c_str(), "%*s%f", &r.stability);
            }
        }
    }
}

void ParseScore(std::string_view text, float& pitchScore, std::vector<PhraseScore>& phrases) {
    const std::vector<std::string> lines = Lines(text);
    pitchScore = 0;
    phrases.clear();
    if (lines.empty()) {
        return;
    }
    pitchScore = std::strtof(lines[0].c_str(), nullptr);
    for (std::size_t k = 1; k < lines.size(); ++k) {
        PhraseScore p;
        if (std::sscanf(lines[k].c_str(), "%d%d%f", &p.startMs, &p.endMs, &p.score) >= 1) {
            phrases.push_back(p);
        }
    }
}

void ParsePitchData2(std::string_view text, std::vector<LivePitchPoint>& timeline) {
    const std::vector<std::string> lines = Lines(text);
    timeline.assign(lines.size(), LivePitchPoint{0, kNoPitch});
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::sscanf(lines[k].c_str(), "<%d>%d", &timeline[k].timeMs, &timeline[k].sung);
    }
}

void ParseVolumeData(std::string_view text, std::vector<VolumePoint>& volume) {
    const std::vector<std::string> lines = Lines(text);
    volume.clear();
    for (const std::string& line : lines) {
        VolumePoint p;
        if (std::sscanf(line.c_str(), "<%d>%f", &p.timeMs, &p.level) >= 1) {
            volume.push_back(p);
        }
    }
}

int ParseMaxFeatureCount(std::string_view text) {
    const std::vector<std::string> lines = Lines(text);
    int count = -1;
    if (lines.empty() || std::sscanf(lines[0].c_str(), "%d", &count) != 1) {
        return -1;
    }
    return count;
}

ScoreReadResult ReadScoreFiles(std::wstring_view folder, ScoreFileSet& set) {
    set = ScoreFileSet{};
    std::string text;
    if (!platform::ReadWholeFile(Join(folder, kPitchDataFile), text)) {
        return ScoreReadResult::kNoPitchData;
    }
    ParsePitchData(text, set.rows);
    if (!platform::ReadWholeFile(Join(folder, kFeatureTrackFile), text)) {
        return ScoreReadResult::kNoFeatureTrack;
    }
    ParseFeatureTrack(text, set);
    if (!platform::ReadWholeFile(Join(folder, kScoreFile), text)) {
        return ScoreReadResult::kNoScore;
    }
    ParseScore(text, set.pitchScore, set.phrases);
    if (platform::ReadWholeFile(Join(folder, kPitchData2File), text)) {
        ParsePitchData2(text, set.timeline);
        for (std::size_t k = 0; k < set.timeline.size() && k < set.rows.size(); ++k) {
            set.rows[k].sung = set.timeline[k].sung;
        }
    }
    if (platform::ReadWholeFile(Join(folder, kVolumeDataFile), text)) {
        ParseVolumeData(text, set.volume);
    }
    if (platform::ReadWholeFile(Join(folder, kMaxFeatureCountFile), text)) {
        set.maxFeatureCount = ParseMaxFeatureCount(text);
        if (set.maxFeatureCount >= 0 &&
            static_cast<std::size_t>(set.maxFeatureCount) < set.events.size()) {
            set.events.resize(static_cast<std::size_t>(set.maxFeatureCount));
        }
    }
    return ScoreReadResult::kOk;
}

bool ReadTotalScore(std::wstring_view featureTrackPath, float& total) {
    std::string text;
    if (!platform::ReadWholeFile(featureTrackPath, text)) {
        return false;
    }
    for (const std::string& line : Lines(text)) {
        const std::size_t at = line.find("Total Score");
        if (at != std::string::npos) {
            char* end = nullptr;
            const char* start = line.c_str() + at + std::strlen("Total Score");
            const float value = std::strtof(start, &end);
            if (end == start) {
                return false;
            }
            total = value;
            return true;
        }
    }
    return false;
}

}  // namespace evaluation
