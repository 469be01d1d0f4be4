#include "cli/NetCommands.h"

#include "cli/Subcommand.h"

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "catalogue/CatalogueJson.h"
#include "catalogue/CatalogueNames.h"
#include "catalogue/DownloadMTR.h"
#include "catalogue/DownloadManager.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"
#include "platform/thread/Event.h"

namespace cli {

namespace {

constexpr int kUsage = 2;
constexpr int kListWaitSeconds = 120;

platform::Event& Interrupt() {
    static platform::Event event(platform::Event::Mode::ManualReset);
    return event;
}

// Ctrl-C only sets the event (a write(2)); a thread turns it into a stop.
void OnInterrupt(int) {
    Interrupt().Set();
}

const char* Explain(int result) {
    switch (result) {
        case kDownloadOk:
            return "done";
        case kDownloadNotConnected:
            return "no internet connection";
        case kDownloadFailed:
            return "the transfer failed";
        case kDownloadRefused:
            return "the server refused the request";
        case kDownloadStopped:
            return "stopped";
        case kDownloadFileError:
            return "local file error";
        default:
            return "failed";
    }
}

void PrintProgress(std::int64_t done, std::int64_t total) {
    if (total > 0) {
        std::fprintf(stderr, "\r%3d%%  %lld / %lld bytes ", static_cast<int>(done * 100 / total),
                     static_cast<long long>(done), static_cast<long long>(total));
    } else {
        std::fprintf(stderr, "\r%lld bytes ", static_cast<long long>(done));
    }
    std::fflush(stderr);
}

class FetchProgress final : public IDownloadTaskListener {
  public:
    void OnDownloadEvent(const DownloadEvent& e) override {
        if (e.code == kEventSize) {
            total_ = e.value;
        } else if (e.code == kEventProgress) {
            PrintProgress(e.value, total_);
        }
    }

  private:
    std::int64_t total_ = -1;
};

Json::Value SongJson(const CSongItem& s) {
    Json::Value v(Json::objectValue);
    v["id"] = platform::ToUtf8(s.songId);
    v["name"] = platform::ToUtf8(s.name);
    v["singer"] = platform::ToUtf8(s.singer);
    v["status"] = s.status;
    v["music"] = platform::ToUtf8(s.musicLocation);
    v["musicSize"] = s.musicSize;
    v["lyric"] = platform::ToUtf8(s.lyricLocation);
    v["lyricSize"] = s.lyricSize;
    v["icon"] = platform::ToUtf8(s.iconLocation);
    v["iconOnDisk"] = s.iconOnDisk;
    return v;
}

void Print(std::ostream& out, const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    b["emitUTF8"] = true;
    out << Json::writeString(b, v) << "\n";
}

// Waits for the manager's answers on behalf of a command.
class Waiter final : public IDownloadManagerListener {
  public:
    void OnListDownloaded(int result, const std::wstring& name) override { Put(name, result); }
    void OnSongProgress(const std::wstring&, const std::wstring&, std::int64_t done,
                        std::int64_t total) override {
        PrintProgress(done, total);
    }
    void OnSongDownloaded(int result, const std::wstring&, const std::wstring& id) override {
        Put(id, result);
    }
    std::optional<int> Wait(const std::wstring& key) {
        std::unique_lock lock(mutex_);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(kListWaitSeconds);
        while (results_.find(key) == results_.end()) {
            if (Interrupt().Claim()) {
                return kDownloadStopped;
            }
            if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                                 std::chrono::milliseconds(100))) ==
                    std::cv_status::timeout &&
                std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
        }
        const int r = results_[key];
        results_.erase(key);
        return r;
    }

  private:
    void Put(const std::wstring& key, int result) {
        {
            std::lock_guard lock(mutex_);
            results_[key] = result;
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::wstring, int> results_;
};

struct Session {
    IDownloadManager* manager;
    Waiter waiter;
    Session() : manager(GetDownloadManager(platform::CommonDataFolder())) {
        manager->AddListener(&waiter);
    }
    ~Session() {
        manager->RemoveListener(&waiter);
        manager->ReleaseInstance();
    }
};

bool Number(const std::string& text, int& value) {
    try {
        std::size_t used = 0;
        value = std::stoi(text, &used);
        return used == text.size() && value >= 0;
    } catch (...) {
        return false;
    }
}

}  // namespace

int Fetch(std::span<const std::string> args, std::ostream& /*out*/, std::ostream& err) {
    if (args.size() != 2) {
        err << "usage: vokari-cli fetch URL FILE\n";
        return kUsage;
    }
    const std::filesystem::path file = std::filesystem::absolute(args[1]);
    std::signal(SIGINT, OnInterrupt);
    FetchProgress progress;
    CDownloadMTR mtr(&progress, 0);
    mtr.SetUrl(platform::FromUtf8(args[0]));
    mtr.SetFolder(platform::FromUtf8(file.parent_path().string() + "/"));
    mtr.SetFileName(platform::FromUtf8(file.filename().string()));
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!finished) {
            if (Interrupt().Wait(100)) {
                mtr.Stop();
                return;
            }
        }
    });
    const int result = mtr.Run();
    finished = true;
    watcher.join();
    err << "\n";
    if (result == kDownloadOk) {
        err << "saved " << platform::ToUtf8(mtr.FinalPath()) << "\n";
    } else if (result == kDownloadStopped) {
        err << "stopped; run the same command again to resume\n";
    } else {
        err << "fetch failed: " << Explain(result) << "\n";
    }
    return result;
}

int Catalogue(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    int page = 1, size = 10;
    bool cached = false;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--page" || args[i] == "--size") && i + 1 < args.size()) {
            if (!Number(args[i + 1], args[i] == "--page" ? page : size)) {
                err << args[i] << " needs a number\n";
                return kUsage;
            }
            ++i;
        } else if (args[i] == "--cached") {
            cached = true;
        } else {
            words.push_back(args[i]);
        }
    }
    const std::string kind = words.empty() ? "" : words[0];
    std::string text;
    for (std::size_t i = 1; i < words.size(); ++i) {
        text += (i > 1 ? " " : "") + words[i];
    }
    const std::wstring wide = platform::FromUtf8(text);
    const bool needsText =
        kind == "type" || kind == "singer" || kind == "search" || kind == "words";
    if ((kind != "new" && kind != "hot" && kind != "types" && !needsText) ||
        (needsText && text.empty())) {
        err << "usage: vokari-cli catalogue new|hot|types|type ID|singer NAME|search WORDS|words "
               "WORDS [--page N] [--size N] [--cached]\n";
        return kUsage;
    }
    int typeId = 0;
    if (kind == "type" && !Number(text, typeId)) {
        err << "type needs a number\n";
        return kUsage;
    }
    Session s;
    IDownloadManager& m = *s.manager;
    std::vector<CSongItem> songs;
    std::vector<CSongTypeEntry> entries;
    std::vector<std::wstring> found;
    bool last = false;
    const std::wstring escaped = catalogue::EscapeText(wide);
    auto request = [&](std::wstring& name) {
        if (kind == "new" || kind == "hot") {
            return m.RequestSongList(name, page, size, kind == "new" ? 5 : 2, songs, last, false);
        }
        if (kind == "types") {
            return m.RequestTypeGroup(name, 4, entries, false);
        }
        if (kind == "type") {
            return m.RequestSongsByType(name, page, size, typeId, songs, last, false);
        }
        if (kind == "singer") {
            return m.RequestSingerSongs(name, page, size, wide, songs, last, false);
        }
        if (kind == "search") {
            return m.RequestSearchResult(name, page, size, wide, songs, last, false);
        }
        return m.RequestSearchWords(name, page, size, wide, found, last, false);
    };
    std::wstring name;
    if (cached) {
        if (kind == "new" || kind == "hot") {
            m.GetSongListCacheName(name, page, size, kind == "new" ? 5 : 2);
        } else if (kind == "types") {
            m.GetTypeGroupCacheName(name);
        } else if (kind == "type") {
            m.GetSongsByTypeCacheName(name, page, size, typeId);
        } else if (kind == "singer") {
            m.GetSingerSongsCacheName(name, page, size, escaped);
        } else if (kind == "search") {
            m.GetSearchResultCacheName(name, page, size, escaped);
        } else {
            m.GetSearchWordsCacheName(name, page, size, escaped);
        }
    }
    if (!request(name)) {
        const auto result = s.waiter.Wait(name);
        if (!result || *result != kDownloadOk) {
            const int code = result ? *result : kDownloadFailed;
            err << "catalogue request failed: " << Explain(code) << "\n";
            return code;
        }
        if (!request(name)) {
            err << "catalogue request failed: " << Explain(kDownloadFileError) << "\n";
            return kDownloadFileError;
        }
    }
    Json::Value out_(Json::arrayValue);
    for (const auto& song : songs) {
        out_.append(SongJson(song));
    }
    for (const auto& e : entries) {
        Json::Value v(Json::objectValue);
        v["group"] = e.group;
        v["singer"] = platform::ToUtf8(e.singer);
        v["index"] = platform::ToUtf8(e.indexText);
        out_.append(v);
    }
    for (const auto& w : found) {
        out_.append(platform::ToUtf8(w));
    }
    Print(out, out_);
    return kDownloadOk;
}

int Download(std::span<const std::string> args, std::ostream& /*out*/, std::ostream& err) {
    if (args.empty()) {
        err << "usage: vokari-cli download SONGID...\n";
        return kUsage;
    }
    std::signal(SIGINT, OnInterrupt);
    Session s;
    IDownloadManager& m = *s.manager;
    int worst = kDownloadOk;
    for (const std::string& id8 : args) {
        const std::wstring id = platform::FromUtf8(id8);
        // The record comes from the newest list, page by page.
        std::optional<CSongItem> song;
        for (int page = 1; page <= 20 && !song; ++page) {
            std::wstring name;
            std::vector<CSongItem> songs;
            bool last = false;
            m.GetSongListCacheName(name, page, 50, 5);
            if (!m.RequestSongList(name, page, 50, 5, songs, last, false)) {
                const auto r = s.waiter.Wait(name);
                if (!r || *r != kDownloadOk ||
                    !m.RequestSongList(name, page, 50, 5, songs, last, false)) {
                    break;
                }
            }
            for (const auto& candidate : songs) {
                if (candidate.songId == id) {
                    song = candidate;
                }
            }
            if (last) {
                break;
            }
        }
        if (!song) {
            err << id8 << ": no such song in the catalogue\n";
            worst = std::max(worst, static_cast<int>(kDownloadRefused));
            continue;
        }
        if (!m.DownloadSong(*song)) {
            err << id8 << ": already downloaded or downloading\n";
            continue;
        }
        const auto r = s.waiter.Wait(id);
        if (!r) {
            err << "\n" << id8 << ": no answer\n";
            worst = std::max(worst, static_cast<int>(kDownloadFailed));
            continue;
        }
        if (*r == kDownloadStopped) {
            m.CancelSongDownload(*song);
            err << "\n" << id8 << ": stopped; run again to resume\n";
            return kDownloadStopped;
        }
        err << "\n" << id8 << ": " << Explain(*r) << "\n";
        worst = std::max(worst, *r);
    }
    return worst;
}

int Downloads(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    Session s;
    IDownloadManager& m = *s.manager;
    if (args.size() == 2 && args[0] == "delete") {
        CSongItem song;
        if (!m.FindDownloadedSong(platform::FromUtf8(args[1]), song)) {
            err << args[1] << " is not downloaded\n";
            return kDownloadFileError;
        }
        m.DeleteDownloadedSong(song, true);
        err << "deleted " << args[1] << "\n";
        return kDownloadOk;
    }
    std::vector<CSongItem> songs;
    bool last = false;
    if (args.size() >= 2 && args[0] == "--search") {
        std::string text;
        for (std::size_t i = 1; i < args.size(); ++i) {
            text += (i > 1 ? " " : "") + args[i];
        }
        m.SearchDownloadedSongs(0, 0, platform::FromUtf8(text), songs, last);
    } else if (args.empty()) {
        m.GetDownloadedSongs(0, 0, songs, last);
    } else {
        err << "usage: vokari-cli downloads [--search WORDS] | delete SONGID\n";
        return kUsage;
    }
    Json::Value out_(Json::arrayValue);
    for (const auto& song : songs) {
        out_.append(SongJson(song));
    }
    Print(out, out_);
    return kDownloadOk;
}

namespace {

const bool kRegistered =
    RegisterSubcommand({"fetch", "download one file over HTTP or FTP, resuming a partial one",
                        "usage: vokari-cli fetch URL FILE\n"
                        "Exit code: 0 done, 1 no internet connection, 2 transfer failed,\n"
                        "3 refused by the server, 4 stopped (Ctrl-C), 5 local file error.\n",
                        &Fetch}) &&
    RegisterSubcommand({"catalogue", "print catalogue records as JSON",
                        "usage: vokari-cli catalogue new|hot|types|type ID|singer NAME|"
                        "search WORDS|words WORDS [--page N] [--size N] [--cached]\n"
                        "Exit code: the request's result code (0 done, 1-5 as for fetch).\n",
                        &Catalogue}) &&
    RegisterSubcommand({"download", "download songs of the catalogue by id",
                        "usage: vokari-cli download SONGID...\n", &Download}) &&
    RegisterSubcommand({"downloads", "list, search or delete the downloaded songs",
                        "usage: vokari-cli downloads [--search WORDS] | delete SONGID\n",
                        &Downloads});

}  // namespace

}  // namespace cli
