// vokari-cli perform: a whole live performance without the window, through
// the real controller, player, decoder, mixer, evaluation and writers, on
// virtual sound cards: the microphone reads the voice file, the speakers are
// written to Speakers.wav.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "audio/SoundMixer.h"
#include "cli/ArgumentReader.h"
#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "evaluation/ScoreEngine.h"
#include "evaluation/ScoreFiles.h"
#include "karaoke/CLyric.h"
#include "karaoke/HistoryService.h"
#include "karaoke/KaraokeController.h"
#include "karaoke/KaraokeEngine.h"
#include "karaoke/KaraokePlayer.h"
#include "karaoke/LyricLoader.h"
#include "karaoke/ScoreEngineEvaluation.h"
#include "karaoke/context/HlfContainer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/clock/Clock.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/media/MediaSource.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"
#include "platform/thread/Event.h"

namespace {

constexpr int kExitMissingInput = 3;
constexpr int kExitNoMelody = 4;
constexpr int kExitUnwritable = 5;
constexpr int kReadyTimeoutMs = 120000;
constexpr int kTickTimeoutMs = 50;
// Periods per tick of the virtual sound cards when running as fast as
// possible: the microphone moves them all, then the speakers.
constexpr unsigned kPeriodsPerTick = 4;
constexpr int kStallLimitMs = 30000;

const char kUsage[] =
    "usage: vokari-cli perform --music FILE --lyric FILE --voice FILE --out DIR\n"
    "                          [--key K] [--effects on|off] [--realtime]\n"
    "                          [--keep [--data DIR]]\n"
    "\n"
    "Runs a live performance of the song without the window: the backing track\n"
    "is decoded and played, the voice file is the microphone (any format the\n"
    "decoder reads; silence after its end), the voice is scored against the\n"
    "lyric file's reference melody, and everything the speakers get is kept.\n"
    "\n"
    "  --music FILE     the backing track\n"
    "  --lyric FILE     the lyric file with note annotations (plain or enciphered)\n"
    "  --voice FILE     what the singer sings\n"
    "  --out DIR        receives Mixed.wav, Vocal.wav, Speakers.wav and the six\n"
    "                   score data files (created when missing)\n"
    "  --key K          key change of the music in semitones, -4 to 4 (default 0)\n"
    "  --effects on|off echo and reverb on the voice (default on)\n"
    "  --realtime       run at the pace of real sound cards (16 ms blocks on the\n"
    "                   wall clock); by default it runs as fast as the machine allows\n"
    "  --keep           also keep the performance in the history as the karaoke\n"
    "                   window does: writes ResultInfo.ini into DIR of --out and\n"
    "                   seals everything into a new record\n"
    "  --data DIR       the data folder whose \"KTV/\" holds the history (default:\n"
    "                   the program's own, $XDG_DATA_HOME/Vokari/)\n"
    "\n"
    "Prints one JSON object: the total, the five partial scores, the blocks\n"
    "evaluated, the voice blocks dropped and the wall-clock seconds; with\n"
    "--realtime also the lateness of the monitored voice in ms (median, 99th\n"
    "percentile, largest); with --keep the record folder.\n"
    "\n"
    "exit codes: 0 done, 1 the performance failed, 2 usage, 3 an input file is\n"
    "missing or cannot be decoded, 4 the lyric file has no reference melody,\n"
    "5 the output folder cannot be written\n";

std::wstring W(const std::string& s) {
    return platform::FromUtf8(s);
}

class EndOfSong final : public IKaraokeControllerListener {
  public:
    void OnPlayerEvent(int event) override {
        if (event == kPlayerEventEndOfSong) {
            ended_.Set();
        }
    }
    void OnPlayerNotify(int, int, int) override {}
    platform::Event& Ended() { return ended_; }

  private:
    platform::Event ended_{platform::Event::Mode::ManualReset};
};

// Collects the mixer's lateness lines ("... Elapsed N.") while it lives and
// drops the other diagnostic lines.
class LatenessSink final : public platform::DebugSink {
  public:
    LatenessSink() : previous_(platform::SetDebugSink(this)) {}
    ~LatenessSink() override { platform::SetDebugSink(previous_); }
    void Write(std::string_view line) override {
        const std::size_t at = line.find("Elapsed ");
        if (line.starts_with("Capture add buffer at") && at != std::string_view::npos) {
            std::lock_guard<std::mutex> guard(mutex_);
            values_.push_back(std::atoi(std::string(line.substr(at + 8)).c_str()));
        }
    }
    std::vector<int> Values() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return values_;
    }

  private:
    platform::DebugSink* previous_;
    mutable std::mutex mutex_;
    std::vector<int> values_;
};

// Restores the process-wide settings the performance changed.
struct Restore {
    ~Restore() {
        SetKaraokeEngineFactory(nullptr);
        platform::AudioEndpoint::SetDefault(platform::AudioDirection::Capture, nullptr);
        platform::AudioEndpoint::SetDefault(platform::AudioDirection::Render, nullptr);
        if (!staging.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(staging, ec);
        }
    }
    std::filesystem::path staging;
};

std::string Number(double v) {
    if (!std::isfinite(v)) {
        return "0";
    }
    return platform::Format("{:.4f}", v);
}

int Fail(std::ostream& err, int code, const std::string& message) {
    err << "vokari-cli perform: " << message << "\n";
    return code;
}

// --keep: the data folder given, else the program's own.
std::wstring KeepDataFolder(const std::string& given) {
    std::wstring folder = given.empty() ? std::wstring() : W(given);
    if (folder.empty()) {
        const std::wstring common = platform::CommonDataFolder();
        if (common.empty()) {
            return {};
        }
        folder = common + (common.back() == L'/' ? L"" : L"/") + L"Vokari/";
    }
    return folder.back() == L'/' ? folder : folder + L'/';
}

// The end of the performance as the karaoke window has it: the results in
// the output folder get their "ResultInfo.ini" and are sealed into a new
// record of the history, waited for. The record folder, empty on failure.
std::wstring KeepInHistory(CKaraokeContext& context, const std::filesystem::path& outDir,
                           const std::wstring& dataFolder, const std::string& lyric) {
    const std::wstring results = W(outDir.string() + "/");
    const std::wstring root = dataFolder + L"KTV/";
    if (!platform::MakeWholePath(root)) {
        return {};
    }
    CLyric document;
    context.SetMusicTitle(LoadLyricFile(document, W(lyric)).musicTitle);
    context.SetHistoryRoot(root);
    context.SetTempFolder(results);
    context.SetRecordFolder(results);
    std::wstring record = KeepPerformance(context);
    if (CHistorySealer* sealer = GetHistorySealer(); sealer != nullptr && !record.empty()) {
        for (const int result : sealer->WaitSealed()) {
            if (result != CHistorySealer::kDone) {
                record.clear();
            }
        }
    }
    DeleteHistorySealer();
    return record;
}

std::string JsonEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += platform::Format("\\u{:04x}", static_cast<int>(c));
        } else {
            out += c;
        }
    }
    return out;
}

bool Decodable(const std::string& path, std::string& why) {
    std::shared_ptr<platform::MediaSource> source;
    const platform::HResult hr = platform::MediaSource::Open(path, &source);
    if (platform::Failed(hr) || source == nullptr) {
        why = "cannot be decoded";
        return false;
    }
    return true;
}

int RunPerform(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> rest;
    bool realtime = false;
    bool keep = false;
    for (const std::string& a : args) {
        if (a == "--realtime") {
            realtime = true;
        } else if (a == "--keep") {
            keep = true;
        } else {
            rest.push_back(a);
        }
    }
    const cli::ArgumentReader options(
        rest, {"--music", "--lyric", "--voice", "--out", "--key", "--effects", "--data"});
    if (!options.Ok()) {
        err << "vokari-cli perform: " << options.Error() << "\n\n" << kUsage;
        return cli::kExitUsage;
    }
    for (const char* required : {"--music", "--lyric", "--voice", "--out"}) {
        if (!options.Has(required) || options.Get(required).empty()) {
            err << "vokari-cli perform: " << required << " is required\n\n" << kUsage;
            return cli::kExitUsage;
        }
    }
    int key = 0;
    {
        const std::string k = options.Get("--key", "0");
        char* end = nullptr;
        const long v = std::strtol(k.c_str(), &end, 10);
        if (k.empty() || *end != '\0' || v < -4 || v > 4) {
            err << "vokari-cli perform: --key takes a whole number from -4 to 4, not '" << k
                << "'\n";
            return cli::kExitUsage;
        }
        key = static_cast<int>(v);
    }
    if (options.Has("--data") && (!keep || options.Get("--data").empty())) {
        err << "vokari-cli perform: --data needs a folder and goes with --keep\n";
        return cli::kExitUsage;
    }
    std::wstring dataFolder;
    if (keep) {
        dataFolder = KeepDataFolder(options.Get("--data"));
        if (dataFolder.empty()) {
            return Fail(err, cli::kExitFailure,
                        "no data folder for the history (set HOME or XDG_DATA_HOME, or give "
                        "--data)");
        }
    }
    const std::string effects = options.Get("--effects", "on");
    if (effects != "on" && effects != "off") {
        err << "vokari-cli perform: --effects takes on or off, not '" << effects << "'\n";
        return cli::kExitUsage;
    }
    const std::string music = options.Get("--music");
    const std::string lyric = options.Get("--lyric");
    const std::string voice = options.Get("--voice");
    const std::filesystem::path outDir = options.Get("--out");

    // Inputs: each must exist and be what it claims to be.
    for (const auto& [what, path] :
         {std::pair{"music", music}, {"lyric", lyric}, {"voice", voice}}) {
        if (!platform::FileExists(W(path))) {
            return Fail(err, kExitMissingInput,
                        std::string(what) + " file '" + path + "' does not exist");
        }
    }
    std::string why;
    if (!Decodable(music, why)) {
        return Fail(err, kExitMissingInput, "music file '" + music + "' " + why);
    }
    if (!Decodable(voice, why)) {
        return Fail(err, kExitMissingInput, "voice file '" + voice + "' " + why);
    }
    Restore restore;
    // The engine's diagnostic lines are not for the user: only the lateness
    // of the monitored voice is kept from them.
    auto lateness = std::make_unique<LatenessSink>();
    CMelody& melody = GetMelody();
    melody.SetKey(0);
    if (!melody.Load(W(lyric)) || !melody.HasNotes()) {
        const hlf::Status read = melody.LastReadResult();
        if (read == hlf::Status::Ok) {
            return Fail(err, kExitNoMelody,
                        "lyric file '" + lyric + "' has no reference melody (no note annotations)");
        }
        if (read == hlf::Status::ReadFailure) {
            return Fail(err, kExitMissingInput, "lyric file '" + lyric + "' cannot be read");
        }
        return Fail(err, kExitMissingInput,
                    "lyric file '" + lyric + "' is a damaged enciphered container (" +
                        hlf::StatusText(read) + ")");
    }

    // Output: the results are made in a private folder inside it and moved
    // in only when the performance is complete.
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    const std::filesystem::path staging =
        outDir / (".vokari-perform-" + std::to_string(static_cast<long>(::getpid())));
    if (!std::filesystem::is_directory(outDir) || !platform::MakeWholePath(W(staging.string())) ||
        !platform::WriteFileAtomically(W((staging / "probe").string()), "probe")) {
        std::filesystem::remove_all(staging, ec);
        return Fail(err, kExitUnwritable,
                    "output folder '" + outDir.string() + "' cannot be written");
    }
    restore.staging = staging;
    std::filesystem::remove(staging / "probe", ec);

    std::int64_t durationMs = 0;
    {
        std::shared_ptr<platform::MediaSource> source;
        platform::MediaSource::Open(music, &source);
        durationMs = source != nullptr ? source->DurationMs() : 0;
    }

    // The sound cards.
    auto clock = realtime ? nullptr : std::make_shared<platform::VirtualAudioClock>();
    auto microphone = std::make_shared<platform::VirtualAudioDevice>("microphone");
    microphone->SetCaptureFile(voice, false);
    auto speakers = std::make_shared<platform::VirtualAudioDevice>("speakers");
    speakers->SetRenderCapacity(static_cast<std::size_t>((durationMs + 10000) * 48));
    speakers->SetRenderFile((staging / "Speakers.wav").string());
    if (clock != nullptr) {
        microphone->UseClock(clock);
        speakers->UseClock(clock);
    }
    using platform::AudioDirection;
    using platform::AudioEndpoint;
    AudioEndpoint::SetDefault(AudioDirection::Capture,
                              AudioEndpoint::Virtual(AudioDirection::Capture, microphone));
    AudioEndpoint::SetDefault(AudioDirection::Render,
                              AudioEndpoint::Virtual(AudioDirection::Render, speakers));
    SetKaraokeEngineFactory(nullptr);  // the program's own parts, the score engine with them

    CKaraokeContext* context = GetKaraokeContext();
    KaraokeController* controller = GetKaraokeController();
    if (context == nullptr || controller == nullptr) {
        return Fail(err, cli::kExitFailure, "the karaoke subsystem is not available");
    }
    try {
        context->SetReplay(false);
        context->SetBlockDuration(16);
        context->SetTempFolder(W(staging.string() + "/"));
        context->SetMusicPath(W(music));
        context->SetLyricPath(W(lyric));
    } catch (...) {
        return Fail(err, kExitMissingInput, "the input files cannot be opened");
    }

    EndOfSong listener;
    const auto started = std::chrono::steady_clock::now();
    controller->SetListener(&listener);
    controller->SetKeyStep(KaraokeController::kKeyStepZero + key);
    if (effects == "off" && controller->EffectsOn()) {
        controller->ToggleEffect();
    }
    controller->Open();
    const auto readyBy = started + std::chrono::milliseconds(kReadyTimeoutMs);
    while (!controller->IsReady() && std::chrono::steady_clock::now() < readyBy) {
        platform::SleepMs(2);
    }
    const std::int64_t songMs = controller->GetDuration();
    if (!controller->IsReady() || songMs <= 0) {
        controller->CloseSources();
        controller->CloseSourceFiles();
        controller->SetListener(nullptr);
        return Fail(err, kExitMissingInput, "music file '" + music + "' cannot be decoded");
    }
    controller->Play();
    if (controller->PlayerState() != KaraokePlayer::kStatePlaying) {
        controller->CloseSources();
        controller->CloseSourceFiles();
        controller->SetListener(nullptr);
        return Fail(err, cli::kExitFailure, "the performance could not start");
    }
    bool ended = false;
    if (clock != nullptr) {
        // As fast as the machine allows, a few periods at a time.
        // A tick that times out is the render side having ended at the
        // song's end (it moves nothing more); only a long run of them is a
        // stall.
        // The mixer's reader thread refills half the music ring every 50
        // blocks; faster than real time it must be waited for, or the music
        // would pause and the speakers get silence.
        SoundMixer* mixer = controller->Player()->Mixer();
        const std::uint64_t refillBase = mixer->CompletedRefills();
        int stalls = 0;
        while (!(ended = listener.Ended().Wait(0))) {
            const std::uint64_t requested = mixer->BlockCounter() / SoundMixer::kRefillBlocks;
            const auto waitUntil =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallLimitMs);
            while (mixer->CompletedRefills() - refillBase < requested &&
                   std::chrono::steady_clock::now() < waitUntil) {
                std::this_thread::yield();
            }
            // Near the end one period at a time: the microphone is not to
            // run ahead of the song's end by more than the last block.
            const std::int64_t left = songMs - mixer->GetPosition();
            const unsigned periods = left > 16 * (kPeriodsPerTick + 1) ? kPeriodsPerTick : 1;
            if (clock->Tick(periods, kTickTimeoutMs)) {
                stalls = 0;
            } else if (++stalls * kTickTimeoutMs > kStallLimitMs) {
                break;
            }
        }
    } else {
        ended = listener.Ended().Wait(static_cast<int>(songMs + 60000));
    }
    const std::uint64_t dropped =
        controller->Player() != nullptr && controller->Player()->Mixer() != nullptr
            ? controller->Player()->Mixer()->DroppedBlocks()
            : 0;
    controller->Stop();
    const bool saved = GetScoreEngineEvaluation().LastSaveSucceeded();
    const std::uint64_t blocks = GetScoreEngine().BlocksProcessed();
    controller->CloseSources();
    controller->CloseSourceFiles();  // ends the player: the speakers' file is written
    controller->SetListener(nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<int> late = lateness->Values();
    lateness.reset();
    if (!ended) {
        return Fail(err, cli::kExitFailure, "the performance did not reach the end of the song");
    }
    if (!saved) {
        return Fail(err, kExitUnwritable, "the score data files could not be written");
    }

    // Into place, the recordings last: whoever sees Mixed.wav sees a whole
    // performance.
    const wchar_t* const names[] = {evaluation::kPitchDataFile,
                                    evaluation::kScoreFile,
                                    evaluation::kFeatureTrackFile,
                                    evaluation::kPitchData2File,
                                    evaluation::kVolumeDataFile,
                                    evaluation::kMaxFeatureCountFile,
                                    L"Speakers.wav",
                                    L"Vocal.wav",
                                    L"Mixed.wav"};
    for (const wchar_t* name : names) {
        const std::string n = platform::ToUtf8(name);
        std::filesystem::rename(staging / n, outDir / n, ec);
        if (ec) {
            return Fail(err, kExitUnwritable,
                        "cannot move " + n + " into '" + outDir.string() + "': " + ec.message());
        }
    }

    evaluation::ScoreFileSet results;
    if (evaluation::ReadScoreFiles(W(outDir.string()), results) !=
        evaluation::ScoreReadResult::kOk) {
        return Fail(err, kExitUnwritable, "the score data files cannot be read back");
    }
    std::wstring record;
    if (keep) {
        record = KeepInHistory(*context, outDir, dataFolder, lyric);
        if (record.empty()) {
            return Fail(err, cli::kExitFailure,
                        "the performance could not be kept in the history under '" +
                            platform::ToUtf8(dataFolder) + "KTV/'");
        }
    }
    const evaluation::RadarValues& r = results.radar;
    out << "{\"total\":" << Number(r.total) << ",\"pitch\":" << Number(r.pitch)
        << ",\"vibrato\":" << Number(r.vibrato) << ",\"portamento\":" << Number(r.portamento)
        << ",\"performance\":" << Number(r.performance) << ",\"stability\":" << Number(r.stability)
        << ",\"blocks\":" << blocks << ",\"dropped\":" << dropped
        << ",\"seconds\":" << Number(seconds);
    if (realtime) {
        std::sort(late.begin(), late.end());
        auto at = [&late](double q) {
            return late.empty()
                       ? 0
                       : late[std::min(late.size() - 1, static_cast<std::size_t>(q * late.size()))];
        };
        out << ",\"lateness_ms\":[" << at(0.5) << "," << at(0.99) << ","
            << (late.empty() ? 0 : late.back()) << "]";
    }
    if (keep) {
        out << ",\"record\":\"" << JsonEscaped(platform::ToUtf8(record)) << "\"";
    }
    out << "}\n";
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"perform", "a whole live performance of a song on virtual sound cards, with its scores",
     kUsage, &RunPerform});

}  // namespace
