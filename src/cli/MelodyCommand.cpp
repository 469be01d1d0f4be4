// vokari-cli melody FILE [--key K]: the reference melody of a lyric file as
// the evaluation sees it, as JSON.
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "evaluation/Melody.h"
#include "evaluation/NoteScorer.h"
#include "platform/text/Number.h"
#include "platform/text/Utf.h"

namespace {

constexpr int kExitUnreadable = 3;
constexpr int kExitNoMelody = 4;

const char kUsage[] =
    "usage: vokari-cli melody FILE [--key K]\n"
    "\n"
    "Prints the reference melody carried by the note annotations of a lyric\n"
    "file (plain code page 936 text or an enciphered container) as JSON: the\n"
    "entries (start ms, pitch code in quarter tones from 440 Hz, -128 for a\n"
    "rest, end ms), the phrases the note scorer uses, and the song's duration\n"
    "as the melody sees it (the time of the closing rest).\n"
    "\n"
    "  --key K   transpose by K semitones (-12 to 12) as the key change does\n"
    "\n"
    "exit codes: 0 done, 2 usage, 3 the file cannot be read, 4 no melody\n";

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string file;
    int key = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key") {
            const auto value =
                i + 1 < args.size() ? platform::ParseInt64(args[i + 1]) : std::nullopt;
            if (!value || *value < -CMelody::kMaxKey || *value > CMelody::kMaxKey) {
                err << "vokari-cli melody: --key needs a whole number of semitones from -12 to "
                       "12\n";
                return cli::kExitUsage;
            }
            key = static_cast<int>(*value);
            ++i;
        } else if (args[i].starts_with("-") || !file.empty()) {
            err << "vokari-cli melody: unexpected argument '" << args[i] << "'\n" << kUsage;
            return cli::kExitUsage;
        } else {
            file = args[i];
        }
    }
    if (file.empty()) {
        err << kUsage;
        return cli::kExitUsage;
    }
    CMelody melody;
    melody.SetKey(key);
    const bool loaded = melody.Load(platform::FromUtf8(file));
    if (melody.LastReadResult() != hlf::Status::Ok) {
        err << "vokari-cli melody: cannot read '" << file
            << "': " << hlf::StatusText(melody.LastReadResult()) << "\n";
        return kExitUnreadable;
    }
    if (!loaded || !melody.HasNotes()) {
        err << "vokari-cli melody: '" << file
            << "' carries no reference melody (no note annotations)\n";
        return kExitNoMelody;
    }
    const std::vector<MelodyEntry>& entries = melody.ShiftedEntries();
    const int count = melody.Count();
    std::vector<float> scores(count, -1.0f);
    const CNoteScorer scorer(entries.data(), count, 16.0f, 300.0f, scores.data());

    out << "{\"key\":" << key << ",\"duration\":" << evaluation::MelodyTime(entries.back())
        << ",\n \"entries\":[";
    for (int j = 0; j < count; ++j) {
        const int end = j + 1 < count ? evaluation::MelodyTime(entries[j + 1])
                                      : evaluation::MelodyTime(entries[j]);
        out << (j ? ",\n  " : "\n  ") << "{\"start\":" << evaluation::MelodyTime(entries[j])
            << ",\"pitch\":" << evaluation::MelodyPitch(entries[j]) << ",\"end\":" << end << "}";
    }
    out << "],\n \"phrases\":[";
    const auto& phrases = scorer.Phrases();
    for (size_t p = 0; p < phrases.size(); ++p) {
        out << (p ? ",\n  " : "\n  ") << "{\"first\":" << phrases[p].firstEntry
            << ",\"count\":" << phrases[p].entryCount
            << ",\"start\":" << scorer.PhraseStart(static_cast<int>(p))
            << ",\"end\":" << scorer.PhraseEnd(static_cast<int>(p)) << "}";
    }
    out << "]}\n";
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"melody", "print the reference melody of a lyric file as JSON", kUsage, &Run});

}  // namespace
