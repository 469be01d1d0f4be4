// vokari-cli lyrics FILE [--at MS]: a lyric file as the karaoke window reads
// it (deciphered when it is a container, code page 936 text otherwise), as
// JSON: the timed entries with their parts and word times; with --at the
// lines sung at that moment and how far their wipe has come.
#include <json/json.h>

#include <ostream>
#include <span>
#include <string>

#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "karaoke/CLyric.h"
#include "karaoke/LyricLoader.h"
#include "platform/text/Number.h"
#include "platform/text/Utf.h"

namespace {

const char kUsage[] =
    "usage: vokari-cli lyrics FILE [--at MS]\n"
    "\n"
    "Prints the parsed lyric document as JSON: the music title, the ID tags,\n"
    "and every timed entry (start and end in ms) with its parts (0 male or\n"
    "unmarked, 1 female, 2 chorus), their texts and word start times.\n"
    "\n"
    "  --at MS   instead, the display line sung at MS ms and the next one,\n"
    "            each with its text, part and wipe progress in percent\n"
    "\n"
    "exit codes: 0 done, 1 the file cannot be read or is no lyric document,\n"
    "2 usage\n";

void Print(std::ostream& out, const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    b["emitUTF8"] = true;
    out << Json::writeString(b, v) << "\n";
}

Json::Value DocumentJson(const LrcManager& doc, const std::wstring& title) {
    Json::Value v(Json::objectValue);
    v["title"] = platform::ToUtf8(title);
    Json::Value tags(Json::objectValue);
    for (const auto& [key, value] : doc.IdTags()) {
        tags[platform::ToUtf8(key)] = platform::ToUtf8(value);
    }
    v["tags"] = tags;
    v["partSwitch"] = doc.PartSwitch();
    v["displayLines"] = doc.DisplayLineCount();
    Json::Value entries(Json::arrayValue);
    for (const auto& [start, entry] : doc.Entries()) {
        Json::Value e(Json::objectValue);
        e["start"] = entry.start;
        e["end"] = entry.End();
        Json::Value parts(Json::arrayValue);
        for (int p = 0; p < entry.partCount && p < static_cast<int>(entry.parts.size()); ++p) {
            const LyricPart& part = entry.parts[p];
            Json::Value pj(Json::objectValue);
            pj["part"] = part.code;
            pj["end"] = part.end;
            pj["text"] = platform::ToUtf8(part.text);
            Json::Value words(Json::arrayValue);
            for (const LyricWord& w : part.words) {
                Json::Value wj(Json::objectValue);
                wj["start"] = w.start;
                wj["text"] = platform::ToUtf8(w.text);
                words.append(wj);
            }
            pj["words"] = words;
            parts.append(pj);
        }
        e["parts"] = parts;
        entries.append(e);
    }
    v["entries"] = entries;
    return v;
}

Json::Value LineJson(const LrcManager& doc, int line, int progress, int part) {
    if (line <= 0) {
        return Json::Value(Json::nullValue);
    }
    Json::Value v(Json::objectValue);
    v["line"] = line;
    v["text"] = platform::ToUtf8(doc.LineText(line));
    v["part"] = part;
    v["progress"] = progress;
    return v;
}

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string file;
    std::optional<std::int64_t> at;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--at") {
            at = i + 1 < args.size() ? platform::ParseInt64(args[i + 1]) : std::nullopt;
            if (!at || *at < 0 || *at > LrcManager::kMaxTimeMs) {
                err << "vokari-cli lyrics: --at needs a time in ms from 0 to "
                    << LrcManager::kMaxTimeMs << "\n";
                return cli::kExitUsage;
            }
            ++i;
        } else if (args[i].starts_with("-") || !file.empty()) {
            err << "vokari-cli lyrics: unexpected argument '" << args[i] << "'\n" << kUsage;
            return cli::kExitUsage;
        } else {
            file = args[i];
        }
    }
    if (file.empty()) {
        err << kUsage;
        return cli::kExitUsage;
    }
    CLyric lyric;
    const LyricLoadResult loaded = LoadLyricFile(lyric, platform::FromUtf8(file));
    if (loaded.read != hlf::Status::Ok) {
        err << "vokari-cli lyrics: cannot read '" << file << "': " << hlf::StatusText(loaded.read)
            << "\n";
        return cli::kExitFailure;
    }
    if (!loaded.valid) {
        err << "vokari-cli lyrics: '" << file
            << "' is no lyric document (it must begin with a [..] tag)\n";
        return cli::kExitFailure;
    }
    const LrcManager& doc = lyric.Document();
    if (!at) {
        Print(out, DocumentJson(doc, loaded.musicTitle));
        return cli::kExitOk;
    }
    int line = 0, progress = 0, part = 0, nextLine = 0, nextProgress = 0, nextPart = 0;
    doc.QueryProgress(static_cast<int>(*at), line, progress, part, nextLine, nextProgress,
                      nextPart);
    Json::Value v(Json::objectValue);
    v["at"] = static_cast<Json::Int64>(*at);
    v["current"] = doc.DisplayLineCount() > 0 ? LineJson(doc, line, progress, part)
                                              : Json::Value(Json::nullValue);
    v["next"] = LineJson(doc, nextLine, nextProgress, nextPart);
    Print(out, v);
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"lyrics", "print a lyric file's parsed document, or its lines at a moment", kUsage, &Run});

}  // namespace
