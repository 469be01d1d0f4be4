// vokari-cli perform: whole performances of the demo songs and of small
// songs made here, through the built program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "evaluation/ScoreFiles.h"
#include "platform/TestSupport.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaSource.h"
#include "platform/text/Utf.h"

namespace {

using testing_support::Child;
namespace fs = std::filesystem;

const std::string kCli = std::string(VOKARI_BIN_DIR) + "/vokari-cli";
const fs::path kDemo = fs::path(VOKARI_BIN_DIR) / "demo";

struct PerformRun {
    int code;
    std::string out;
    std::string err;
};

PerformRun Perform(std::vector<std::string> args) {
    args.insert(args.begin(), {kCli, "perform"});
    Child child(args);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

double Field(const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"" + name + "\":");
    EXPECT_NE(at, std::string::npos) << name << " in " << json;
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + name.size() + 3);
}

struct TempFolder {
    TempFolder() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("vokari-perform-test-" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

struct Wav {
    bool ok = false;
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<std::int16_t> samples;
};

// A PCM file whose chunk sizes agree with the file.
Wav ReadWav(const fs::path& path) {
    Wav w;
    std::ifstream f(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0 ||
        u32(4) != bytes.size() - 8) {
        return w;
    }
    bool format = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = u32(at + 4);
        if (at + 8 + size > bytes.size()) {
            return w;
        }
        if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16 && u16(at + 8) == 1) {
            w.channels = u16(at + 10);
            w.rate = static_cast<int>(u32(at + 12));
            w.bits = u16(at + 22);
            format = true;
        } else if (bytes.compare(at, 4, "data") == 0 && format) {
            if (at + 8 + size != bytes.size()) {
                return w;  // the data runs to the end of the file
            }
            w.samples.resize(size / 2);
            std::memcpy(w.samples.data(), bytes.data() + at + 8, w.samples.size() * 2);
            w.ok = true;
            return w;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

std::int64_t DurationMs(const fs::path& path) {
    std::shared_ptr<platform::MediaSource> source;
    platform::MediaSource::Open(path.string(), &source);
    return source != nullptr ? source->DurationMs() : -1;
}

std::vector<std::string> Args(const fs::path& song, const std::string& lyric, const fs::path& voice,
                              const fs::path& out) {
    return {"--music", (song / "music.mp3").string(),
            "--lyric", (song / lyric).string(),
            "--voice", voice.string(),
            "--out",   out.string()};
}

TEST(PerformCommand, DemoSingersScoreInOrderAndLeaveWholeRecordings) {
    struct Case {
        const char* song;
        const char* lyric;
    };
    for (const Case c : {Case{"lantern-river", "lyric.lrc"}, Case{"morning-walk", "lyric.hlf"}}) {
        SCOPED_TRACE(c.song);
        const fs::path song = kDemo / c.song;
        ASSERT_TRUE(fs::exists(song / c.lyric)) << "the demo content is generated at build time";
        TempFolder good;
        TempFolder off;
        TempFolder quiet;
        const PerformRun g = Perform(Args(song, c.lyric, song / "singer-good.wav", good.path));
        const PerformRun o = Perform(Args(song, c.lyric, song / "singer-off.wav", off.path));
        const PerformRun s = Perform(Args(song, c.lyric, kDemo / "silence.wav", quiet.path));
        ASSERT_EQ(g.code, 0) << g.err;
        ASSERT_EQ(o.code, 0) << o.err;
        ASSERT_EQ(s.code, 0) << s.err;
        EXPECT_GT(Field(g.out, "total"), Field(o.out, "total") + 20) << g.out << o.out;
        EXPECT_GT(Field(g.out, "pitch"), 90) << g.out;
        EXPECT_GT(Field(g.out, "vibrato"), 0) << "the good singer's vibrato counts";
        EXPECT_EQ(Field(s.out, "total"), 0) << s.out;
        EXPECT_EQ(Field(g.out, "dropped"), 0);

        // The printed total is the one in the score files.
        evaluation::ScoreFileSet set;
        ASSERT_EQ(evaluation::ReadScoreFiles(platform::FromUtf8(good.path.string() + "/"), set),
                  evaluation::ScoreReadResult::kOk);
        EXPECT_NEAR(set.radar.total, Field(g.out, "total"), 1e-3);

        const std::int64_t songMs = DurationMs(song / "music.mp3");
        ASSERT_GT(songMs, 10000);
        for (const char* name : {"Mixed.wav", "Vocal.wav", "Speakers.wav"}) {
            const Wav w = ReadWav(good.path / name);
            ASSERT_TRUE(w.ok) << name;
            EXPECT_EQ(w.rate, 48000) << name;
            EXPECT_EQ(w.channels, 2) << name;
            EXPECT_EQ(w.bits, 16) << name;
            // The recordings run until the controller stops them after the
            // end of the song, a few 16 ms blocks later on a busy machine.
            const double ms = w.samples.size() / 2 / 48.0;
            EXPECT_NEAR(ms, static_cast<double>(songMs), 160.0) << name;
        }
        int files = 0;
        for (const auto& e : fs::directory_iterator(good.path)) {
            EXPECT_TRUE(e.is_regular_file()) << "no working folder is left: " << e.path();
            ++files;
        }
        EXPECT_EQ(files, 9);
    }
}

// A pure tone as the music, silence as the voice, a one-phrase melody.
struct ToneSong {
    explicit ToneSong(const fs::path& dir) {
        std::vector<float> music(6 * 48000 * 2);
        for (std::size_t i = 0; i < music.size() / 2; ++i) {
            music[2 * i] = music[2 * i + 1] =
                static_cast<float>(0.3 * std::sin(2 * 3.14159265358979 * 440.0 * i / 48000.0));
        }
        platform::MediaEncodeOptions stereo;
        EXPECT_TRUE(platform::Succeeded(
            platform::EncodeAudioFile((dir / "music.wav").string(), stereo, music)));
        platform::MediaEncodeOptions mono;
        mono.channels = 1;
        EXPECT_TRUE(platform::Succeeded(platform::EncodeAudioFile(
            (dir / "silence.wav").string(), mono, std::vector<float>(4800, 0.0f))));
        std::ofstream(dir / "lyric.lrc", std::ios::binary)
            << "[00:01.00]<00:01.00>la(A4)<00:02.00>la(B4)<00:03.00>la(A4)<00:04.00>(X)\r\n";
    }
};

// Frequency of the left channel over [from, from + seconds) by zero crossings.
double Frequency(const Wav& w, double from, double seconds) {
    const std::size_t first = static_cast<std::size_t>(from * 48000);
    const std::size_t last = static_cast<std::size_t>((from + seconds) * 48000);
    int crossings = 0;
    for (std::size_t i = first + 1; i < last && 2 * i < w.samples.size(); ++i) {
        crossings += (w.samples[2 * (i - 1)] < 0) != (w.samples[2 * i] < 0);
    }
    return crossings / 2.0 / seconds;
}

TEST(PerformCommand, KeyChangeRaisesTheMusicInTheSpeakers) {
    TempFolder dir;
    const ToneSong tone(dir.path);
    struct Case {
        const char* key;
        double hz;
    };
    for (const Case c : {Case{"0", 440.0}, Case{"2", 440.0 * std::pow(2.0, 2 / 12.0)},
                         Case{"-3", 440.0 * std::pow(2.0, -3 / 12.0)}}) {
        const fs::path out = dir.path / (std::string("key") + c.key);
        const PerformRun r = Perform({"--music", (dir.path / "music.wav").string(), "--lyric",
                                      (dir.path / "lyric.lrc").string(), "--voice",
                                      (dir.path / "silence.wav").string(), "--out", out.string(),
                                      "--key", c.key, "--effects", "off"});
        ASSERT_EQ(r.code, 0) << r.err;
        const Wav speakers = ReadWav(out / "Speakers.wav");
        ASSERT_TRUE(speakers.ok);
        EXPECT_NEAR(Frequency(speakers, 1.0, 4.0), c.hz, c.hz * 0.01) << "key " << c.key;
    }
}

TEST(PerformCommand, BadInputGivesItsExitCodeAndLeavesNothing) {
    TempFolder dir;
    const ToneSong tone(dir.path);
    const std::string music = (dir.path / "music.wav").string();
    const std::string lyric = (dir.path / "lyric.lrc").string();
    const std::string voice = (dir.path / "silence.wav").string();
    std::ofstream(dir.path / "notes.txt") << "this is not audio\n";
    std::ofstream(dir.path / "plain.lrc") << "[00:01.00]<00:01.00>la <00:02.00>la\r\n";
    std::ofstream(dir.path / "broken.hlf", std::ios::binary)
        << std::string("\xFF\xFF\x01\x03", 4) << std::string(12, '\0') << std::string(20, 'x');
    std::ofstream(dir.path / "a-file") << "x";
    const std::string text = (dir.path / "notes.txt").string();
    const std::string missing = (dir.path / "missing.wav").string();
    const std::string out = (dir.path / "out").string();
    const std::string blocked = (dir.path / "a-file" / "out").string();

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--music", missing, "--lyric", lyric, "--voice", voice, "--out", out}, 3, missing},
        {{"--music", music, "--lyric", missing, "--voice", voice, "--out", out}, 3, missing},
        {{"--music", music, "--lyric", lyric, "--voice", missing, "--out", out}, 3, missing},
        {{"--music", text, "--lyric", lyric, "--voice", voice, "--out", out}, 3, text},
        {{"--music", music, "--lyric", lyric, "--voice", text, "--out", out}, 3, text},
        {{"--music", music, "--lyric", (dir.path / "broken.hlf").string(), "--voice", voice,
          "--out", out},
         3,
         "broken.hlf"},
        {{"--music", music, "--lyric", (dir.path / "plain.lrc").string(), "--voice", voice, "--out",
          out},
         4,
         "no reference melody"},
        {{"--music", music, "--lyric", lyric, "--voice", voice, "--out", blocked}, 5, blocked},
        {{"--music", music, "--lyric", lyric, "--voice", voice}, 2, "--out is required"},
        {{"--music", music, "--lyric", lyric, "--voice", voice, "--out", out, "--key", "5"},
         2,
         "--key"},
        {{"--music", music, "--lyric", lyric, "--voice", voice, "--out", out, "--effects", "x"},
         2,
         "--effects"},
        {{"--music", music, "--lyric", lyric, "--voice", voice, "--out", out, "--bogus", "1"},
         2,
         "unknown option '--bogus'"},
    };
    for (const Case& c : cases) {
        const PerformRun r = Perform(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        if (fs::exists(out)) {
            EXPECT_TRUE(fs::is_empty(out)) << "nothing is left in the output folder";
        }
    }
}

}  // namespace
