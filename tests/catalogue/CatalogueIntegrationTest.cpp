#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "RealServers.h"
#include "TransferFixture.h"
#include "catalogue/CatalogueJson.h"
#include "catalogue/DownloadManager.h"
#include "platform/folders/Folders.h"
#include "platform/text/Utf.h"

using namespace testnet;
namespace fs = std::filesystem;

namespace {

// Records the listener calls and lets a test wait for one.
class Recorder final : public IDownloadManagerListener {
  public:
    struct Call {
        std::string what;
        int result = 0;
        std::wstring name;
        std::wstring key;
    };

    void OnListDownloaded(int result, const std::wstring& name) override {
        Add({"list", result, name, L""});
    }
    void OnIconDownloaded(int result, const std::wstring& id, const std::wstring& path) override {
        Add({"icon", result, path, id});
    }
    void OnSongProgress(const std::wstring& name, const std::wstring& id, std::int64_t,
                        std::int64_t) override {
        if (onProgress) {
            onProgress(id);
        }
        Add({"progress", 0, name, id});
    }
    void OnSongDownloaded(int result, const std::wstring& name, const std::wstring& id) override {
        Add({"song", result, name, id});
    }

    // Waits (at most 60 s) for a call `what` about `name` (or key).
    std::optional<Call> WaitFor(const std::string& what, const std::wstring& name) {
        std::unique_lock lock(mutex_);
        std::optional<Call> found;
        changed_.wait_for(lock, std::chrono::seconds(60), [&] {
            for (const auto& c : calls_) {
                if (c.what == what && (c.name == name || c.key == name)) {
                    found = c;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    int Count(const std::string& what) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                              [&](const Call& c) { return c.what == what; }));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }
    std::function<void(const std::wstring&)> onProgress;

  private:
    void Add(Call c) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(c));
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

struct Catalogue : testing::Test {
    DemoService demo;
    TempFolder root;
    platform::FixedConnectivity online{true};
    Recorder recorder;
    std::unique_ptr<CDownloaderManager> manager;

    void SetUp() override {
        ASSERT_TRUE(demo.Start()) << demo.Error();
        MakeManager();
    }
    void MakeManager() {
        DownloadManagerSettings settings;
        const std::wstring host = L"http://127.0.0.1:";
        settings.servers.catalogue = host + std::to_wstring(demo.Port());
        settings.servers.file = host + std::to_wstring(demo.FilePort());
        settings.servers.music = host + std::to_wstring(demo.MusicPort());
        settings.transfer = TestOptions(online, 1500);
        manager = std::make_unique<CDownloaderManager>(Data(), 20, 3, settings);
        manager->AddListener(&recorder);
    }
    void TearDown() override {
        if (manager) {
            manager->RemoveListener(&recorder);
            manager.reset();
        }
    }
    std::wstring Data() const { return root.Folder() + L"data/"; }
    std::string ListFile(const std::wstring& name) const {
        return platform::ToUtf8(Data() + L"Vokari/list/" + name);
    }

    // A request, then the wait for its answer, then the read of the cache.
    std::vector<CSongItem> Songs(int page, int size, bool& last, int* result = nullptr) {
        std::wstring name;
        std::vector<CSongItem> songs;
        recorder.Clear();
        EXPECT_FALSE(manager->RequestSongList(name, page, size, 5, songs, last, false));
        const auto call = recorder.WaitFor("list", name);
        EXPECT_TRUE(call.has_value());
        if (result != nullptr) {
            *result = call ? call->result : -1;
        }
        EXPECT_TRUE(manager->RequestSongList(name, page, size, 5, songs, last, false));
        return songs;
    }
};

bool LogHas(const std::vector<std::string>& log, const std::string& target) {
    return std::find(log.begin(), log.end(), target) != log.end();
}

}  // namespace

TEST_F(Catalogue, SendsEachRequestWithItsPathAndQuery) {
    struct Case {
        std::function<bool(std::wstring&)> request;
        const wchar_t* cacheName;
        const char* target;
    };
    std::vector<CSongItem> songs;
    std::vector<CSongTypeEntry> entries;
    std::vector<std::wstring> words;
    CVersionRecord version;
    bool last = false;
    IDownloadManager& m = *manager;
    const Case cases[] = {
        {[&](std::wstring& n) { return m.RequestSongList(n, 1, 10, 5, songs, last, false); },
         L"songlist_5_1_10.jsn",
         "/api/v3/GetSongList?channel_id=909005&platform=1&page=1&page_size=10&model=5"},
        {[&](std::wstring& n) { return m.RequestTypeGroup(n, 4, entries, false); },
         L"typegroup.jsn", "/api/v3/GetSongTypeGroup"},
        {[&](std::wstring& n) { return m.RequestSongsByType(n, 2, 5, 3, songs, last, false); },
         L"songlistbytype_3_2_5.jsn",
         "/api/v3/GetSongInfoBySongType?channel_id=909005&platform=1&page=2&page_size=5"
         "&song_type=3"},
        {[&](std::wstring& n) {
             return m.RequestSingerSongs(n, 1, 10, L"a&b", songs, last, false);
         },
         L"songlistbyartist_a%26b_1_10.jsn",
         "/api/v3/GetSongListBySinger?channel_id=909005&platform=1&artist=a%26b&page=1"
         "&page_size=10"},
        {[&](std::wstring& n) {
             return m.RequestSearchResult(n, 1, 10, L"Zo\u00eb", songs, last, false);
         },
         L"search_result_Zo%C3%AB_1_10.jsn",
         "/api/v3/GetSongListByQuery?channel_id=909005&platform=1&word=Zo%C3%AB&page=1"
         "&page_size=10&net_song=0"},
        {[&](std::wstring& n) {
             return m.RequestSingerSongs(n, 1, 10, L"Kai*Star", songs, last, false);
         },
         L"songlistbyartist_Kai_Star_1_10.jsn",
         "/api/v3/GetSongListBySinger?channel_id=909005&platform=1&artist=Kai*Star&page=1"
         "&page_size=10"},
        {[&](std::wstring& n) {
             return m.RequestSearchWords(n, 1, 10, L"Demo", words, last, false);
         },
         L"search_word_Demo_1_10.jsn",
         "/api/v3/GetSearchWordList?channel_id=909005&platform=1&word=Demo&page=1&page_size=10"},
        {[&](std::wstring& n) { return m.RequestVersion(n, L"0.38", version, false); },
         L"checkversion.jsn", "/api/GetVersion?version=0.38"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::wstring name;
        EXPECT_FALSE(c.request(name));
        EXPECT_EQ(name, c.cacheName);
        const auto call = recorder.WaitFor("list", name);
        ASSERT_TRUE(call);
        EXPECT_EQ(call->result, kDownloadOk);
        EXPECT_TRUE(LogHas(demo.Log(), c.target));
        EXPECT_GT(SizeOf(ListFile(name)), 0);
        EXPECT_TRUE(c.request(name));  // now read from the cache
    }
    EXPECT_EQ(version.version, L"0.38");
    EXPECT_FALSE(words.empty());
    EXPECT_EQ(entries.size(), 5u);
}

TEST_F(Catalogue, CachesPagesAndRequestsAgainWhenForcedOrExpired) {
    bool last = false;
    auto first = Songs(1, 10, last);
    ASSERT_EQ(first.size(), 10u);
    EXPECT_FALSE(last);  // a full page is not the last
    EXPECT_EQ(first[0].songId, L"12300");
    EXPECT_EQ(first[0].status, 0);
    EXPECT_EQ(first[0].musicLocation, L"http://127.0.0.1:" + std::to_wstring(demo.MusicPort()) +
                                          L"/mp3/bgmusic_64k/12300.mp3");
    last = false;
    EXPECT_EQ(Songs(3, 10, last).size(), 5u);
    EXPECT_TRUE(last);

    const std::size_t before = demo.Log().size();
    std::wstring name = L"songlist_5_1_10.jsn";
    std::vector<CSongItem> again;
    EXPECT_TRUE(manager->RequestSongList(name, 1, 10, 5, again, last, false));
    EXPECT_EQ(again.size(), 10u);
    const auto log = demo.Log();
    EXPECT_EQ(std::count_if(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(),
                            [](const std::string& t) { return t.rfind("/api/", 0) == 0; }),
              0);
    recorder.Clear();
    EXPECT_FALSE(manager->RequestSongList(name, 1, 10, 5, again, last, true));
    ASSERT_TRUE(recorder.WaitFor("list", name));
    EXPECT_TRUE(ExpireListCache(*manager, 0, 14401));
    EXPECT_EQ(SizeOf(ListFile(name)), -1);
}

TEST_F(Catalogue, DownloadsASongWithItsThreeFilesAndDeletesIt) {
    bool last = false;
    const auto songs = Songs(1, 10, last);
    ASSERT_FALSE(songs.empty());
    const CSongItem song = songs[0];
    recorder.WaitFor("icon", song.songId);  // the listing fetched the icon already
    ASSERT_TRUE(manager->DownloadSong(song));
    EXPECT_FALSE(manager->DownloadSong(song));
    const auto done = recorder.WaitFor("song", song.songId);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->result, kDownloadOk);
    EXPECT_EQ(done->name, L"12300_mp3lrc");
    EXPECT_GT(recorder.Count("progress"), 0);

    const std::wstring bucket = Data() + L"Vokari/song/123/";
    EXPECT_EQ(SizeOf(platform::ToUtf8(bucket + L"12300.mp3")), song.musicSize);
    EXPECT_EQ(SizeOf(platform::ToUtf8(bucket + L"12300.lrc")), song.lyricSize);
    EXPECT_GT(SizeOf(platform::ToUtf8(bucket + L"12300.png")), 0);

    std::vector<CSongItem> stored;
    ASSERT_TRUE(catalogue::ParseDownloadList(
        ReadFile(platform::ToUtf8(manager->DownloadListPath())), stored));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].musicLocation, bucket + L"12300.mp3");
    EXPECT_EQ(stored[0].lyricLocation, bucket + L"12300.lrc");
    EXPECT_EQ(stored[0].iconLocation, bucket + L"12300.png");
    EXPECT_FALSE(manager->DownloadSong(song));  // already downloaded

    // A fresh listing now finds the song on disk.
    auto again = Songs(1, 10, last);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].status, 2);
    EXPECT_EQ(again[0].musicLocation, bucket + L"12300.mp3");

    // A manager created later reads the list back.
    manager->RemoveListener(&recorder);
    manager.reset();
    MakeManager();
    CSongItem found;
    ASSERT_TRUE(manager->FindDownloadedSong(L"12300", found));
    EXPECT_TRUE(found.iconOnDisk);
    EXPECT_TRUE(manager->DeleteDownloadedSong(found, true));
    EXPECT_FALSE(platform::FileExists(bucket + L"12300.mp3"));
    EXPECT_FALSE(platform::FileExists(bucket + L"12300.lrc"));
    EXPECT_FALSE(platform::FileExists(manager->DownloadListPath()));
}

TEST_F(Catalogue, AStoppedSongResumesFromItsTemporaryFile) {
    bool last = false;
    const auto songs = Songs(1, 10, last);
    const CSongItem song = songs[1];
    recorder.onProgress = [&](const std::wstring& id) {
        if (id == song.songId) {
            manager->CancelSongDownload(song);
        }
    };
    ASSERT_TRUE(manager->DownloadSong(song));
    for (int i = 0; i < 600 && manager->IsSongDownloadBusy(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    recorder.onProgress = nullptr;
    EXPECT_EQ(recorder.Count("song"), 0);  // a cancelled song is not reported
    const std::string temp =
        platform::ToUtf8(Data() + L"Vokari/song/123/" + song.songId + L".mp3.DownloadTemp");
    EXPECT_EQ(SizeOf(temp), song.musicSize + 16);
    ASSERT_TRUE(manager->DownloadSong(song));
    const auto done = recorder.WaitFor("song", song.songId);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->result, kDownloadOk);
    EXPECT_EQ(SizeOf(temp), -1);
    EXPECT_EQ(SizeOf(platform::ToUtf8(Data() + L"Vokari/song/123/" + song.songId + L".mp3")),
              song.musicSize);
}

TEST_F(Catalogue, HostileAnswersAreRefusedAndWriteNothingOutside) {
    struct Case {
        const char* mode;
        int result;
    };
    const Case cases[] = {{"malformed", kDownloadRefused},   {"arrayroot", kDownloadRefused},
                          {"hugenumbers", kDownloadRefused}, {"wrongtypes", kDownloadRefused},
                          {"refuse", kDownloadRefused},      {"stall", kDownloadFailed},
                          {"drop", kDownloadFailed},         {"traversal", kDownloadOk}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        demo.Fail(c.mode);
        recorder.Clear();
        std::wstring name;
        std::vector<CSongItem> songs;
        bool last = false;
        EXPECT_FALSE(manager->RequestSongList(name, 1, 100000, 5, songs, last, true));
        const auto call = recorder.WaitFor("list", name);
        ASSERT_TRUE(call);
        EXPECT_EQ(call->result, c.result);
        if (c.result != kDownloadOk) {
            EXPECT_EQ(SizeOf(ListFile(name)), -1);  // not kept
        } else {
            EXPECT_TRUE(manager->RequestSongList(name, 1, 100000, 5, songs, last, false));
            EXPECT_TRUE(songs.empty());  // every id tried to leave the song folder
        }
    }
    demo.Fail("none");
    // Nothing outside the data folder, and nothing named after the hostile ids.
    for (const auto& e : fs::recursive_directory_iterator(root.Path())) {
        const std::string p = e.path().string();
        EXPECT_EQ(p.rfind(platform::ToUtf8(Data()).substr(0, p.size()), 0), 0u) << p;
        EXPECT_EQ(e.path().filename().string().find("evil"), std::string::npos) << p;
    }
}
