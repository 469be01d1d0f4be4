// vokari-cli history list | unseal ID DIR | delete ID: the kept
// performances under the program's history root ("KTV/" in its data
// folder), through the same sealer the program uses.
#include <json/json.h>

#include <filesystem>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <system_error>

#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "karaoke/CHistorySealer.h"
#include "platform/folders/Folders.h"
#include "platform/text/Format.h"
#include "platform/text/Number.h"
#include "platform/text/Utf.h"

namespace {

const char kUsage[] =
    "usage: vokari-cli history [--data DIR] list\n"
    "       vokari-cli history [--data DIR] unseal ID DIR\n"
    "       vokari-cli history [--data DIR] delete ID\n"
    "\n"
    "list prints the kept performances as JSON (id, title, song id, total\n"
    "score, time); unseal deciphers the nine files of record ID into the\n"
    "folder DIR, which must be new or empty; delete removes record ID.\n"
    "\n"
    "  --data DIR   the data folder whose \"KTV/\" holds the history (default:\n"
    "               the program's own, $XDG_DATA_HOME/Vokari/)\n"
    "\n"
    "exit codes: 0 done, 1 no such record or it cannot be read or deleted,\n"
    "2 usage\n";

int Usage(std::ostream& err, const std::string& problem) {
    err << "vokari-cli history: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
}

std::wstring AsFolder(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'/') {
        folder += L'/';
    }
    return folder;
}

std::wstring ProgramDataFolder() {
    const std::wstring common = platform::CommonDataFolder();
    return common.empty() ? std::wstring() : AsFolder(common) + L"Vokari/";
}

std::string TimeText(const SystemTime& t) {
    if (t.year == 0) {
        return {};
    }
    return platform::Format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", t.year, t.month, t.day, t.hour,
                            t.minute, t.second);
}

// The sealer rescans through a scratch folder inside its temp folder; the
// command keeps it out of the program's own temp folder, where a running
// program may be recording.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 16 && path_.empty() && !ec; ++attempt) {
            const auto candidate = base / platform::Format("vokari-cli-{:08x}", random());
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
            }
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    std::wstring Folder() const { return AsFolder(platform::FromUtf8(path_.string())); }

  private:
    std::filesystem::path path_;
};

void Print(std::ostream& out, const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    b["emitUTF8"] = true;
    out << Json::writeString(b, v) << "\n";
}

int List(CHistorySealer& sealer, std::ostream& out) {
    Json::Value list(Json::arrayValue);
    for (const HistoryEntry& e : sealer.LoadHistory()) {
        Json::Value v(Json::objectValue);
        v["id"] = e.recordId;
        v["title"] = platform::ToUtf8(e.musicTitle);
        v["songId"] = platform::ToUtf8(e.songId);
        v["totalScore"] = e.totalScore;
        v["time"] = TimeText(e.karaokeTime);
        v["folder"] =
            platform::ToUtf8(CHistorySealer::RecordFolder(sealer.HistoryRoot(), e.recordId));
        list.append(v);
    }
    Print(out, list);
    return cli::kExitOk;
}

// The record must be one the history lists: only those are whole.
bool Listed(CHistorySealer& sealer, std::uint32_t id) {
    for (const HistoryEntry& e : sealer.LoadHistory()) {
        if (e.recordId == id) {
            return true;
        }
    }
    return false;
}

int Unseal(const std::wstring& root, std::uint32_t id, const std::string& dir, std::ostream& out,
           std::ostream& err) {
    // The unsealer empties its folder first: never point it at files of the
    // user's.
    std::error_code ec;
    const std::filesystem::path target(dir);
    if (std::filesystem::exists(target, ec) &&
        (!std::filesystem::is_directory(target, ec) || !std::filesystem::is_empty(target, ec))) {
        err << "vokari-cli history unseal: '" << dir << "' is not an empty folder\n";
        return cli::kExitFailure;
    }
    {
        ScratchFolder scratch;
        CHistorySealer lister(root, scratch.Folder());
        if (!scratch.Ok() || !Listed(lister, id)) {
            err << "vokari-cli history unseal: no record " << id << " in " << platform::ToUtf8(root)
                << "\n";
            return cli::kExitFailure;
        }
    }
    CHistorySealer sealer(root, AsFolder(platform::FromUtf8(dir)));
    if (!sealer.Unseal(CHistorySealer::RecordFolder(root, id))) {
        err << "vokari-cli history unseal: cannot create '" << dir << "'\n";
        return cli::kExitFailure;
    }
    const auto results = sealer.WaitUnsealed();
    int failures = 0;
    for (int m = 0; m < CHistorySealer::kMemberCount; ++m) {
        const std::string name = platform::ToUtf8(CHistorySealer::PlainName(m));
        if (results[m] == CHistorySealer::kDone) {
            out << name << "\n";
        } else if (results[m] == CHistorySealer::kFailed) {
            err << "vokari-cli history unseal: " << name << " could not be deciphered\n";
            ++failures;
        }
    }
    return failures == 0 ? cli::kExitOk : cli::kExitFailure;
}

std::optional<std::uint32_t> RecordId(const std::string& text) {
    const auto value = platform::ParseInt64(text);
    if (!value || *value < 1 || *value > 9999999999LL || *value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::wstring dataFolder;
    std::size_t i = 0;
    if (i < args.size() && args[i] == "--data") {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            return Usage(err, "--data needs a folder");
        }
        dataFolder = AsFolder(platform::FromUtf8(args[i + 1]));
        i += 2;
    } else {
        dataFolder = ProgramDataFolder();
    }
    if (i >= args.size()) {
        return Usage(err, "missing action (list, unseal or delete)");
    }
    if (dataFolder.empty()) {
        err << "vokari-cli history: no data folder (set HOME or XDG_DATA_HOME, or give --data)\n";
        return cli::kExitFailure;
    }
    const std::wstring root = dataFolder + L"KTV/";
    const std::string action = args[i++];
    const std::span<const std::string> rest = args.subspan(i);
    if (action == "list") {
        if (!rest.empty()) {
            return Usage(err, "list takes no arguments");
        }
        ScratchFolder scratch;
        if (!scratch.Ok()) {
            err << "vokari-cli history: cannot create a scratch folder\n";
            return cli::kExitFailure;
        }
        CHistorySealer sealer(root, scratch.Folder());
        return List(sealer, out);
    }
    if (action == "unseal" || action == "delete") {
        const std::size_t wanted = action == "unseal" ? 2 : 1;
        if (rest.size() != wanted) {
            return Usage(err, action + (wanted == 2 ? " needs ID and DIR" : " needs ID"));
        }
        const auto id = RecordId(rest[0]);
        if (!id) {
            return Usage(err, "'" + rest[0] + "' is no record id");
        }
        if (action == "unseal") {
            return Unseal(root, *id, rest[1], out, err);
        }
        ScratchFolder scratch;
        CHistorySealer sealer(root, scratch.Folder());
        if (!scratch.Ok() || !sealer.DeleteRecord(*id)) {
            err << "vokari-cli history delete: no record " << *id << " in "
                << platform::ToUtf8(root) << " or it cannot be deleted\n";
            return cli::kExitFailure;
        }
        out << "deleted " << *id << "\n";
        return cli::kExitOk;
    }
    return Usage(err, "unknown action '" + action + "'");
}

const bool registered =
    cli::RegisterSubcommand({"history", "list, unseal or delete kept performances", kUsage, &Run});

}  // namespace
