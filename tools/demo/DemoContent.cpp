// vokari-demo-content: writes the demo songs from nothing but this code.
//
//   vokari-demo-content OUTDIR
//
// For each song OUTDIR/<id>/ receives
//   music.mp3          the backing track (48 kHz stereo, MP3)
//   lyric.lrc          the lyric file (code page 936) with line and word tags
//                      and a note annotation on every word, or lyric.hlf, the
//                      same file in the enciphered container
//   singer-good.wav    a synthetic singer on pitch, with vibrato on the long
//                      notes and one glide between two distant notes
//   singer-off.wav     a synthetic singer on the same words, off pitch
// and OUTDIR/silence.wav is one second of silence (a singer who does not
// sing). The melodies, words and arrangements are this project's own.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "karaoke/context/HlfContainer.h"
#include "platform/media/MediaEncoder.h"
#include "platform/text/CodePage936.h"

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

struct Note {
    const wchar_t* word;
    int midi;      // 0: a rest
    double beats;  // length
};

struct Song {
    std::string id;
    std::wstring title;
    double bpm;
    double introBeats;
    std::vector<std::vector<Note>> lines;  // lines are separated by two beats of rest
    std::vector<int> chordRoots;           // one per bar of four beats, cycled (MIDI)
    std::vector<bool> chordMinor;
    bool enciphered;
};

std::vector<Song> Songs() {
    Song walk;
    walk.id = "morning-walk";
    walk.title = L"Morning Walk";
    walk.bpm = 100;
    walk.introBeats = 4;
    walk.lines = {
        {{L"Sun", 64, 1}, {L"light ", 67, 1}, {L"on ", 69, 1}, {L"the ", 67, 1}, {L"hill", 72, 3}},
        {{L"I ", 71, 1}, {L"walk ", 69, 1}, {L"a", 67, 1}, {L"long ", 64, 1}, {L"slow", 62, 3}},
        {{L"Birds ", 60, 1},
         {L"sing ", 67, 1},
         {L"the ", 67, 1},
         {L"day ", 69, 1},
         {L"a", 71, 1},
         {L"wake", 72, 3}},
        {{L"and ", 71, 1}, {L"home ", 67, 1}, {L"I ", 64, 1}, {L"go", 60, 4}},
    };
    walk.chordRoots = {48, 45, 41, 43};
    walk.chordMinor = {false, true, false, false};
    walk.enciphered = true;

    Song river;
    river.id = "lantern-river";
    river.title = L"\u706f\u6cb3";  // "Lantern River"
    river.bpm = 90;
    river.introBeats = 4;
    river.lines = {
        // 河上灯火 / 一盏一盏 / 风吹过桥 / 照我回家
        {{L"\u6cb3", 62, 1}, {L"\u4e0a", 66, 1}, {L"\u706f", 69, 1}, {L"\u706b", 74, 3}},
        {{L"\u4e00", 73, 1}, {L"\u76cf", 71, 1}, {L"\u4e00", 69, 1}, {L"\u76cf", 66, 3}},
        {{L"\u98ce", 64, 1}, {L"\u5439", 66, 1}, {L"\u8fc7", 69, 1}, {L"\u6865", 71, 3}},
        {{L"\u7167", 69, 1}, {L"\u6211", 66, 1}, {L"\u56de", 64, 1}, {L"\u5bb6", 62, 4}},
    };
    river.chordRoots = {50, 47, 43, 45};
    river.chordMinor = {false, true, false, false};
    river.enciphered = false;
    return {walk, river};
}

// A note as timed in the song.
struct Timed {
    std::wstring word;
    int midi;
    double start;  // seconds
    double length;
};

std::vector<std::vector<Timed>> Schedule(const Song& song, double& endSeconds) {
    const double beat = 60.0 / song.bpm;
    double t = song.introBeats * beat;
    std::vector<std::vector<Timed>> lines;
    for (const auto& line : song.lines) {
        std::vector<Timed> timed;
        for (const Note& n : line) {
            timed.push_back({n.word, n.midi, t, n.beats * beat});
            t += n.beats * beat;
        }
        lines.push_back(timed);
        t += 2 * beat;
    }
    endSeconds = t + 2 * beat;
    return lines;
}

std::wstring NoteName(int midi) {
    static const wchar_t* const kNames[] = {L"C",  L"C#", L"D",  L"D#", L"E",  L"F",
                                            L"F#", L"G",  L"G#", L"A",  L"A#", L"B"};
    return std::wstring(kNames[midi % 12]) + std::to_wstring(midi / 12 - 1);
}

std::wstring Tag(double seconds, wchar_t open, wchar_t close) {
    const int cs = static_cast<int>(std::lround(seconds * 100));
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"%c%02d:%02d.%02d%c", open, cs / 6000, cs / 100 % 60, cs % 100,
                  close);
    return buffer;
}

std::wstring LyricText(const Song& song, const std::vector<std::vector<Timed>>& lines,
                       double endSeconds) {
    std::wstring text = L"[ti:" + song.title + L"]\r\n[ar:Vokari demo]\r\n";
    for (const auto& line : lines) {
        text += Tag(line.front().start, L'[', L']');
        for (const Timed& n : line) {
            text += Tag(n.start, L'<', L'>') + n.word + L"(" + NoteName(n.midi) + L")";
        }
        const Timed& last = line.back();
        text += Tag(last.start + last.length, L'<', L'>') + L"(X)\r\n";
    }
    text += Tag(endSeconds, L'[', L']') + Tag(endSeconds, L'<', L'>') + L"(X)\r\n";
    return text;
}

double MidiHz(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

// The backing track: a chord pad, a plucked bass on every beat and a soft
// click, in stereo.
std::vector<float> Backing(const Song& song, double endSeconds) {
    const std::size_t frames = static_cast<std::size_t>(endSeconds * kRate);
    std::vector<float> out(frames * 2, 0.0f);
    const double beat = 60.0 / song.bpm;
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int beatIndex = static_cast<int>(t / beat);
        const double inBeat = t - beatIndex * beat;
        const std::size_t bar = static_cast<std::size_t>(beatIndex / 4) % song.chordRoots.size();
        const int root = song.chordRoots[bar];
        const int third = root + (song.chordMinor[bar] ? 3 : 4);
        double pad = 0;
        for (int m : {root + 12, third + 12, root + 19}) {
            pad += std::sin(2 * kPi * MidiHz(m) * t);
        }
        pad *= 0.05;
        const double bass = 0.22 * std::exp(-inBeat * 5.0) * std::sin(2 * kPi * MidiHz(root) * t);
        const double click = inBeat < 0.01 ? 0.06 * uniform(noise) : 0.0;
        out[2 * i] = static_cast<float>(pad * 0.9 + bass + click);
        out[2 * i + 1] = static_cast<float>(pad * 1.1 + bass * 0.8 + click);
    }
    return out;
}

// A sung voice: six harmonics with 1/m amplitudes along the note curve.
// offsets: detuning of each note in semitones (0 for on pitch).
std::vector<float> Singer(const std::vector<std::vector<Timed>>& lines, double endSeconds,
                          bool expressive, const std::vector<double>& offsets) {
    const std::size_t frames = static_cast<std::size_t>(endSeconds * kRate);
    std::vector<float> out(frames, 0.0f);
    double phase = 0;
    std::size_t noteIndex = 0;
    for (const auto& line : lines) {
        for (std::size_t k = 0; k < line.size(); ++k, ++noteIndex) {
            const Timed& n = line[k];
            const double detune = offsets.empty() ? 0.0 : offsets[noteIndex % offsets.size()];
            const double target = n.midi + detune;
            const double previous =
                k > 0 ? line[k - 1].midi +
                            (offsets.empty() ? 0.0 : offsets[(noteIndex - 1) % offsets.size()])
                      : target;
            // The expressive singer slides into a note a fifth or more away
            // from the last one.
            const bool glide = expressive && k > 0 && std::abs(target - previous) >= 5;
            const std::size_t first = static_cast<std::size_t>(n.start * kRate);
            const std::size_t last =
                std::min(frames, static_cast<std::size_t>((n.start + n.length) * kRate));
            for (std::size_t i = first; i < last; ++i) {
                const double t = static_cast<double>(i - first) / kRate;
                double midi = target;
                if (glide && t < 0.08) {
                    midi = previous + (target - previous) * (t / 0.08);
                }
                if (expressive && n.length >= 1.2 && t > 0.35) {
                    midi += std::sin(2 * kPi * 6.5 * (t - 0.35));
                }
                phase += 2 * kPi * MidiHz(midi) / kRate;
                double v = 0;
                for (int m = 1; m <= 6; ++m) {
                    v += std::sin(m * phase) / m;
                }
                const double left = n.length - t;
                const double envelope = std::min({1.0, t / 0.02, left > 0 ? left / 0.04 : 0.0});
                out[i] = static_cast<float>(0.2 * envelope * v);
            }
        }
    }
    return out;
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool Encode(const std::filesystem::path& path, const platform::MediaEncodeOptions& options,
            const std::vector<float>& samples) {
    if (platform::Failed(platform::EncodeAudioFile(path.string(), options, samples))) {
        std::fprintf(stderr, "vokari-demo-content: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vokari-demo-content OUTDIR\n");
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (!platform::HasAudioEncoder("libmp3lame")) {
        std::fprintf(stderr, "vokari-demo-content: FFmpeg has no MP3 encoder (libmp3lame)\n");
        return 1;
    }
    platform::MediaEncodeOptions mp3;
    mp3.container = "mp3";
    mp3.codec = "libmp3lame";
    mp3.channels = 2;
    mp3.bitRate = 160000;
    platform::MediaEncodeOptions wav;
    wav.channels = 1;

    for (const Song& song : Songs()) {
        const std::filesystem::path dir = root / song.id;
        std::filesystem::create_directories(dir, ec);
        double end = 0;
        const auto lines = Schedule(song, end);

        const std::string lyric = platform::ToCodePage936(LyricText(song, lines, end));
        if (song.enciphered) {
            std::vector<std::uint8_t> sealed;
            const std::vector<std::uint8_t> plain(lyric.begin(), lyric.end());
            if (hlf::EncipherContainer(plain, sealed, 7) != hlf::Status::Ok ||
                !WriteBytes(dir / "lyric.hlf", std::string(sealed.begin(), sealed.end()))) {
                std::fprintf(stderr, "vokari-demo-content: cannot write %s/lyric.hlf\n",
                             dir.c_str());
                return 1;
            }
        } else if (!WriteBytes(dir / "lyric.lrc", lyric)) {
            std::fprintf(stderr, "vokari-demo-content: cannot write %s/lyric.lrc\n", dir.c_str());
            return 1;
        }
        if (!Encode(dir / "music.mp3", mp3, Backing(song, end)) ||
            !Encode(dir / "singer-good.wav", wav, Singer(lines, end, true, {})) ||
            !Encode(dir / "singer-off.wav", wav,
                    Singer(lines, end, false, {2.5, -1.5, 3.0, -2.0, 1.5, -3.0}))) {
            return 1;
        }
    }
    if (!Encode(root / "silence.wav", wav, std::vector<float>(kRate, 0.0f))) {
        return 1;
    }
    return 0;
}
