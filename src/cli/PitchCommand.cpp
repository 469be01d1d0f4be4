// vokari-cli pitch FILE [--json]: tracks the voice in any audio file the
// decoder reads, converted exactly as the evaluation engine converts the
// microphone (48000 Hz stereo blocks of 16 ms, then 48 -> 16 kHz), and prints
// one record per 16 ms hop, the expression events and the loudness.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "audio/MFSampleGenerator.h"
#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "dsp/SampleRateConverter.h"
#include "evaluation/PitchCode.h"
#include "evaluation/PitchDetector.h"
#include "evaluation/VocalFeatureTracker.h"
#include "platform/audio/AudioFormat.h"
#include "platform/debug/DebugLog.h"
#include "platform/media/MediaSource.h"
#include "platform/text/Number.h"

namespace {

constexpr int kExitUnreadable = 3;
constexpr int kDecodeTimeoutMs = 600000;
constexpr int kBlockFrames = 768;  // 16 ms at 48 kHz
constexpr int kHopFrames = 256;    // 16 ms at 16 kHz
constexpr int kChannels = 2;
// The score engine stamps an event this long before the block that
// reported it, where the movement began.
constexpr int kEventLeadMs = 560;

const char kUsage[] =
    "usage: vokari-cli pitch FILE [--json]\n"
    "\n"
    "Tracks the singer in an audio file as the evaluation does: decoded to\n"
    "48000 Hz stereo, converted to 16 kHz block by block, pitch-tracked every\n"
    "16 ms. Prints per hop the time (ms), the pitch code (quarter tones from\n"
    "440 Hz; -128 when the tracker judged the hop unvoiced), the frequency in Hz\n"
    "and the level (percent of full scale); then the expression events (time,\n"
    "type 1 up portamento, 2 down portamento, 3 vibrato) and the loudness.\n"
    "\n"
    "  --json   one JSON object instead of tab-separated text\n"
    "\n"
    "exit codes: 0 done, 2 usage, 3 the file is missing or cannot be decoded\n";

// Receives the decoded PCM file.
class PcmSink final : public IMFSampleGeneratorSink {
  public:
    ~PcmSink() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    void SetSourceFile(std::FILE* file, bool) override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        file_ = file;
    }
    void SetSourceReady(bool, bool) override {}
    std::FILE* File() const { return file_; }

  private:
    std::FILE* file_ = nullptr;
};

struct TempFolder {
    TempFolder() {
        char tmpl[] = "/tmp/vokari-cli-pitch-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) {
            path = std::string(tmpl) + "/";
        }
    }
    ~TempFolder() {
        if (!path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    }
    std::string path;
};

bool Decode(const std::string& file, std::vector<short>& pcm, std::string& why) {
    std::shared_ptr<platform::MediaSource> source;
    if (platform::Failed(platform::MediaSource::Open(file, &source)) || !source) {
        why = "not a media file the decoder reads";
        return false;
    }
    if (!source->HasAudio()) {
        why = "no audio stream";
        return false;
    }
    TempFolder temp;
    if (temp.path.empty()) {
        why = "no temporary folder";
        return false;
    }
    PcmSink sink;
    MFSampleGenerator::Options options;
    options.tempFolder = temp.path;
    options.earlyHandOver = false;
    {
        MFSampleGenerator generator(&sink, false, options);
        if (platform::Failed(generator.Configure(source, platform::kEnginePeriodFrames,
                                                 platform::kEngineAudioFormat)) ||
            platform::Failed(generator.StartSource()) ||
            !generator.WaitUntilDone(kDecodeTimeoutMs)) {
            why = "cannot be decoded";
            return false;
        }
    }
    std::FILE* f = sink.File();
    if (f == nullptr || std::fseek(f, 0, SEEK_SET) != 0) {
        why = "cannot be decoded";
        return false;
    }
    short chunk[8192];
    size_t n = 0;
    while ((n = std::fread(chunk, sizeof(short), 8192, f)) > 0) {
        pcm.insert(pcm.end(), chunk, chunk + n);
    }
    return true;
}

struct HopLine {
    int time;
    int code;
    float hz;
    int level;
};

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string file;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a.starts_with("-") || !file.empty()) {
            err << "vokari-cli pitch: unexpected argument '" << a << "'\n" << kUsage;
            return cli::kExitUsage;
        } else {
            file = a;
        }
    }
    if (file.empty()) {
        err << kUsage;
        return cli::kExitUsage;
    }
    if (!std::filesystem::is_regular_file(file)) {
        err << "vokari-cli pitch: '" << file << "' does not exist\n";
        return kExitUnreadable;
    }
    std::vector<short> pcm;
    std::string why;
    // The decoder's diagnostic lines are not part of this command's output.
    platform::DebugSink* previous = platform::SetDebugSink(nullptr);
    const bool decoded = Decode(file, pcm, why);
    platform::SetDebugSink(previous);
    if (!decoded) {
        err << "vokari-cli pitch: '" << file << "' " << why << "\n";
        return kExitUnreadable;
    }

    // The engine's first converter: 768 frames at 48 kHz in, 256 at 16 kHz out.
    std::vector<std::uint8_t> ring(kHopFrames * kChannels * sizeof(short));
    SrcOutputRing output{
        ring.data(), static_cast<int>(ring.size()), 0, {1, kChannels, 16000, 16000 * 4, 4, 16}};
    CSampleRateConverter down;
    if (down.Init({&output, {1, kChannels, 48000, 48000 * 4, 4, 16}, 0}) != 0) {
        err << "vokari-cli pitch: the rate converter cannot be set up\n";
        return cli::kExitFailure;
    }
    const size_t blocks = (pcm.size() / kChannels + kBlockFrames - 1) / kBlockFrames;
    pcm.resize(blocks * kBlockFrames * kChannels, 0);

    CPitchDetector detector(16.0f, 32768.0f, 16000, CPitchDetector::kDefaultOptions);
    CVocalFeatureTracker tracker(kChannels, static_cast<long long>(blocks) * kHopFrames);
    std::vector<HopLine> hops;
    std::vector<std::pair<int, unsigned>> events;
    std::vector<float> hop(kHopFrames);
    for (size_t b = 0; b < blocks; ++b) {
        down.Convert(pcm.data() + b * kBlockFrames * kChannels, kBlockFrames);
        const short* block = reinterpret_cast<const short*>(ring.data());
        for (int i = 0; i < kHopFrames; ++i) {
            hop[i] = block[i * kChannels];
        }
        float hz = 0;
        float voicing = 0;
        detector.ProcessHop(hop.data(), hz, voicing);
        const float peak = detector.EnvelopePeak();
        const bool heard = detector.LastHopVoiced();
        const int time = static_cast<int>(b) * 16;
        hops.push_back({time, heard ? evaluation::HopPitchCode(hz) : evaluation::kNoPitch, hz,
                        static_cast<int>(peak / 327.68f + 0.5f)});
        unsigned event = 0;
        tracker.ProcessBlock(block, event);
        if (event >= 1 && event <= 3) {
            events.emplace_back(time > kEventLeadMs ? time - kEventLeadMs : time, event);
        }
    }
    evaluation::FeatureReport report;
    tracker.Finish(nullptr, nullptr, 0, 0.0f, 0.0f, report);

    if (json) {
        out << "{\"hops\":[";
        for (size_t i = 0; i < hops.size(); ++i) {
            const HopLine& h = hops[i];
            out << (i ? ",\n  " : "\n  ") << "{\"time\":" << h.time << ",\"code\":" << h.code
                << ",\"hz\":"
                << (h.code == evaluation::kNoPitch ? std::string("null")
                                                   : platform::FormatFixed(h.hz, 2))
                << ",\"level\":" << h.level << "}";
        }
        out << "],\n \"events\":[";
        for (size_t i = 0; i < events.size(); ++i) {
            out << (i ? "," : "") << "{\"time\":" << events[i].first
                << ",\"type\":" << events[i].second << "}";
        }
        out << "],\n \"loudness\":{\"mean\":" << platform::FormatFixed(report.meanLevel, 4)
            << ",\"variation\":" << platform::FormatFixed(report.variation, 6) << ",\"chart\":[";
        for (size_t k = 0; k < report.loudnessChart.size(); ++k) {
            out << (k ? "," : "") << "{\"time\":" << 1024 * (k + 1)
                << ",\"level\":" << platform::FormatFixed(report.loudnessChart[k], 4) << "}";
        }
        out << "]}}\n";
        return cli::kExitOk;
    }
    out << "# time_ms\tcode\thz\tlevel\n";
    for (const HopLine& h : hops) {
        out << h.time << "\t" << h.code << "\t"
            << (h.code == evaluation::kNoPitch ? std::string("-") : platform::FormatFixed(h.hz, 2))
            << "\t" << h.level << "\n";
    }
    out << "# events: time_ms\ttype (1 up portamento, 2 down portamento, 3 vibrato)\n";
    for (const auto& [time, type] : events) {
        out << time << "\t" << type << "\n";
    }
    out << "# loudness: mean " << platform::FormatFixed(report.meanLevel, 4) << " dB, variation "
        << platform::FormatFixed(report.variation, 6) << "\n";
    for (size_t k = 0; k < report.loudnessChart.size(); ++k) {
        out << 1024 * (k + 1) << "\t" << platform::FormatFixed(report.loudnessChart[k], 4) << "\n";
    }
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"pitch", "track the pitch, expression and loudness of a voice in an audio file", kUsage,
     &Run});

}  // namespace
