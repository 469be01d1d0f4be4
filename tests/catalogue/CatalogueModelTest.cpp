#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <filesystem>

#include "TransferFixture.h"
#include "catalogue/CatalogueJson.h"
#include "catalogue/CatalogueNames.h"
#include "catalogue/DownloadManager.h"
#include "catalogue/HistoryPerformanceStore.h"
#include "karaoke/CHistorySealer.h"
#include "platform/folders/Folders.h"
#include "platform/net/ChildProcess.h"
#include "platform/text/Utf.h"

using namespace catalogue;
using testnet::TempFolder;

TEST(CatalogueNames, BuildsRequestsAndCacheNames) {
    EXPECT_EQ(SongListCacheName(1, 10, 5), L"songlist_5_1_10.jsn");
    EXPECT_EQ(SongListQuery(1, 10, 5),
              L"/api/v3/GetSongList?channel_id=909005&platform=1&page=1&page_size=10&model=5");
    EXPECT_EQ(SongsByTypeQuery(2, 20, 3),
              L"/api/v3/GetSongInfoBySongType?channel_id=909005&platform=1&page=2&page_size=20"
              L"&song_type=3");
    EXPECT_EQ(SongsByTypeCacheName(2, 20, 3), L"songlistbytype_3_2_20.jsn");
    const std::wstring ab = EscapeText(L"a&b");
    EXPECT_EQ(ab, L"a%26b");
    EXPECT_EQ(SearchResultCacheName(1, 10, ab), L"search_result_a%26b_1_10.jsn");
    EXPECT_EQ(SearchResultQuery(1, 10, ab),
              L"/api/v3/GetSongListByQuery?channel_id=909005&platform=1&word=a%26b&page=1"
              L"&page_size=10&net_song=0");
    EXPECT_EQ(SingerSongsQuery(1, 10, EscapeText(L"A B")),
              L"/api/v3/GetSongListBySinger?channel_id=909005&platform=1&artist=A%20B&page=1"
              L"&page_size=10");
    EXPECT_EQ(SearchWordsCacheName(1, 10, L"x"), L"search_word_x_1_10.jsn");
    EXPECT_EQ(VersionQuery(L"0.38 &"), L"/api/GetVersion?version=0.38 &");
    EXPECT_EQ(TypeGroupCacheName(), L"typegroup.jsn");
    EXPECT_EQ(VersionCacheName(), L"checkversion.jsn");
}

TEST(CatalogueNames, EscapesEachClassOfByte) {
    EXPECT_EQ(EscapeText(L"\u00e9"), L"%C3%A9");               // upper-case hex above 0x7F
    EXPECT_EQ(EscapeText(L"+/:~ \""), L"%2b%2f%3a%7e%20%22");  // lower-case hex
    EXPECT_EQ(EscapeText(L"Az09!()*-._"), L"Az09!()*-._");     // copied
    EXPECT_EQ(EscapeText(L"\x01"), L"\x01");
}

TEST(CatalogueNames, CacheNamesAreSafeFileNames) {
    // "*" stays in the query but cannot stay in the file name; the engine
    // writes the same name.
    EXPECT_EQ(SingerSongsCacheName(1, 10, EscapeText(L"Kai*Star")),
              L"songlistbyartist_Kai_Star_1_10.jsn");
    // 40 CJK characters: 360 escaped characters, too long for a file name.
    const std::wstring longWord(40, L'\u4e2d');
    const std::wstring other = longWord + L"x";
    const std::wstring a = SearchResultCacheName(1, 10, EscapeText(longWord));
    const std::wstring b = SearchResultCacheName(1, 10, EscapeText(other));
    EXPECT_NE(a, b);
    EXPECT_LE(platform::ToUtf8(a + L".DownloadTemp").size(), 255u);
    EXPECT_EQ(a, SearchResultCacheName(1, 10, EscapeText(longWord)));
}

TEST(CatalogueNames, SongsShareBucketsByHundreds) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"12345", L"123"}, {L"12", L"0"}, {L"1234", L"12"}, {L"1299", L"12"},
        {L"100", L"1"},     {L"99", L"0"}, {L"abc", L"0"}};
    for (const auto& [id, bucket] : cases) {
        EXPECT_EQ(SongBucket(id), bucket) << platform::ToUtf8(id);
    }
}

TEST(CatalogueJson, ReadsSongsWithTheirTypeRules) {
    RawSongList list;
    ASSERT_TRUE(ParseSongList(
        R"({"o":"0","b":"http://alt/m/","c":"","a":[
            {"a1":12,"a3":"T\u00e9","a6":"123abc","a10":45,"a31":"1","a16":"S","a14":true},
            {"a1":"12345","a6":null}]})",
        list));
    ASSERT_EQ(list.songs.size(), 2u);
    EXPECT_EQ(list.songs[0].songId, L"12");
    EXPECT_EQ(list.songs[0].name, L"T\u00e9");
    EXPECT_EQ(list.songs[0].musicSize, 123);
    EXPECT_EQ(list.songs[0].lyricSize, 45);
    EXPECT_EQ(list.songs[0].alternativeBases, 1);
    EXPECT_EQ(list.songs[0].a14, 1);
    EXPECT_EQ(list.musicBase, L"http://alt/m/");
    EXPECT_EQ(list.songs[1].songId, L"12345");
    EXPECT_EQ(list.songs[1].musicSize, 0);
}

TEST(CatalogueJson, RefusesHostileAnswersWithoutThrowing) {
    const char* bad[] = {
        "[1,2]",
        "\"text\"",
        "",
        "{\"o\":\"0\",\"a\":[",
        "{\"o\":\"00\",\"a\":[]}",
        "{\"o\":\"\",\"a\":[]}",
        "{\"a\":[]}",
        "{\"o\":0,\"a\":[]}",
        "{\"o\":\"0\",\"a\":\"x\"}",
        "{\"o\":\"0\",\"a\":[\"x\"]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":\"1\",\"a6\":3000000000}]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":\"1\",\"a6\":1e300}]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":\"1\",\"a6\":2.5}]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":[1]}]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":\"1\",\"a3\":{\"x\":1}}]}",
        "{\"o\":\"0\",\"a\":[],\"b\":[1]}",
        "{\"o\":\"0\",\"a\":[{\"a1\":-99999999999}]}",
    };
    for (const char* text : bad) {
        RawSongList list;
        EXPECT_FALSE(ParseSongList(text, list)) << text;
    }
    // The same envelope rules hold for words and categories.
    for (const char* text : {"[1,2]", "{\"o\":\"00\",\"a\":[]}", "{\"o\":0,\"a\":[]}",
                             "{\"o\":\"0\",\"a\":\"x\"}", "{\"o\":\"0\",\"a\":[{\"a1\":5}]}"}) {
        std::vector<std::wstring> words;
        EXPECT_FALSE(ParseSearchWords(text, words)) << text;
    }
    for (const char* text : {"[1,2]", "{\"o\":\"1\"}", "{\"o\":\"0\",\"b\":[1]}",
                             "{\"o\":\"0\",\"c\":{}}", "{\"o\":\"0\",\"a\":[{\"a1\":[]}]}"}) {
        std::vector<CSongTypeEntry> entries;
        EXPECT_FALSE(ParseTypeGroup(text, 4, entries)) << text;
        EXPECT_TRUE(entries.empty());
    }
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    RawSongList list;
    EXPECT_FALSE(ParseSongList("{\"o\":\"0\",\"a\":" + deep + "}", list));
}

TEST(CatalogueJson, LeavesOutSongsWhoseIdsCannotNameFiles) {
    RawSongList list;
    ASSERT_TRUE(ParseSongList(
        R"({"o":"0","a":[{"a1":"../../x"},{"a1":"a/b"},{"a1":"..\\y"},{"a1":"a\u0001"},
                         {"a1":""},{"a1":"ok_1-2"},{"a1":"*"}]})",
        list));
    ASSERT_EQ(list.songs.size(), 1u);
    EXPECT_EQ(list.songs[0].songId, L"ok_1-2");
    EXPECT_EQ(list.rejected, 6);
}

TEST(CatalogueJson, ReadsCategoriesWordsAndVersions) {
    const char* groups = R"({"o":"0","a":[{"a1":"Ann","a2":"ann"}],"b":[{"b1":"Bo","b2":"bo"}],
                            "c":[{"c1":"Cy"}]})";
    std::vector<CSongTypeEntry> all, second;
    ASSERT_TRUE(ParseTypeGroup(groups, 4, all));
    ASSERT_TRUE(ParseTypeGroup(groups, 2, second));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].group, 3);
    EXPECT_EQ(all[2].singer, L"Cy");
    EXPECT_EQ(all[2].indexText, L"");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].singer, L"Bo");

    std::vector<std::wstring> words;
    ASSERT_TRUE(ParseSearchWords(R"({"o":"0","a":[{"a1":"one"},{"x":1},{"a1":"two"}]})", words));
    EXPECT_EQ(words, (std::vector<std::wstring>{L"one", L"two"}));

    const std::pair<const char*, bool> forces[] = {
        {"\"1\"", true}, {"1", true}, {"\"true\"", false}, {"2", false}, {"\"0\"", false}};
    for (const auto& [force, forced] : forces) {
        CVersionRecord r;
        ASSERT_TRUE(ParseVersion(std::string("{\"current_version\":\"0.40\",\"force\":") + force +
                                     ",\"app_url\":\"http://h/p.zip\"}",
                                 r))
            << force;
        EXPECT_EQ(r.forced, forced) << force;
        EXPECT_EQ(r.version, L"0.40");
    }
    CVersionRecord kept;
    kept.version = L"0.1";
    EXPECT_FALSE(ParseVersion("[\"0.40\"]", kept));
    EXPECT_FALSE(ParseVersion("{\"current_version\":40}", kept));
    EXPECT_EQ(kept.version, L"0.1");
}

TEST(CatalogueJson, DownloadListRoundTripsInCompactForm) {
    CSongItem s;
    s.songId = L"12345";
    s.a2 = L"x";
    s.name = L"N\u00e9";
    s.musicLocation = L"/d/Vokari/song/123/12345.mp3";
    s.musicSize = 98339;
    s.lyricLocation = L"/d/Vokari/song/123/12345.lrc";
    s.lyricSize = 84;
    s.iconLocation = L"/d/Vokari/song/123/12345.png";
    s.a14 = 7;
    s.singer = L"S";
    s.a20 = L"t";
    s.a21 = L"u";
    s.alternativeBases = 1;
    const std::string text = WriteDownloadList({s});
    EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line
    EXPECT_EQ(text.find(' '), std::string::npos);
    std::vector<CSongItem> back;
    ASSERT_TRUE(ParseDownloadList(text, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].status, 2);
    EXPECT_EQ(back[0].name, s.name);
    EXPECT_EQ(back[0].musicLocation, s.musicLocation);
    EXPECT_EQ(back[0].lyricSize, 84);
    EXPECT_EQ(back[0].a14, 7);
    EXPECT_EQ(back[0].alternativeBases, 1);
    EXPECT_EQ(back[0].a21, L"u");
    std::vector<CSongItem> none;
    EXPECT_TRUE(ParseDownloadList("{}", none));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(ParseDownloadList("{\"a\":5}", none));
}

namespace {

CSongItem StoredSong(const std::wstring& songFolder, int id, const std::wstring& singer) {
    CSongItem s;
    s.songId = std::to_wstring(id);
    s.name = L"Song " + std::to_wstring(id);
    s.singer = singer;
    s.musicLocation = songFolder + L"0/" + s.songId + L".mp3";
    s.lyricLocation = songFolder + L"0/" + s.songId + L".lrc";
    return s;
}

struct Manager : testing::Test {
    TempFolder dir;
    platform::FixedConnectivity offline{false};

    std::unique_ptr<CDownloaderManager> Make(IPerformanceStore* store = nullptr) {
        DownloadManagerSettings settings;
        settings.transfer = testnet::TestOptions(offline);
        settings.performances = store;
        return std::make_unique<CDownloaderManager>(dir.Folder(), 2, 1, settings);
    }
    std::wstring SongFolder() const { return dir.Folder() + L"Vokari/song/"; }
    std::string ListPath() const { return dir.File("Vokari/download/downloaditem.jsn"); }
};

}  // namespace

TEST_F(Manager, PagesAndSearchesTheDownloadedSongs) {
    std::vector<CSongItem> songs;
    for (int i = 0; i < 25; ++i) {
        songs.push_back(StoredSong(SongFolder(), i, i % 5 == 0 ? L"Ann" : L"Bo"));
    }
    std::filesystem::create_directories(dir.Path() / "Vokari/download");
    testnet::WriteFile(ListPath(), WriteDownloadList(songs));
    auto m = Make();
    struct Case {
        int page, size;
        std::size_t first, count;
        bool last;
    };
    const Case cases[] = {{3, 10, 20, 5, true},
                          {4, 10, 0, 0, true},
                          {2, 10, 10, 10, false},
                          {1, 25, 0, 25, true},
                          {0, 10, 0, 25, false}};
    for (const Case& c : cases) {
        std::vector<CSongItem> page;
        bool last = false;
        EXPECT_TRUE(m->GetDownloadedSongs(c.page, c.size, page, last));
        ASSERT_EQ(page.size(), c.count) << c.page;
        EXPECT_EQ(last, c.last) << c.page;
        if (c.count > 0) {
            EXPECT_EQ(page[0].songId, std::to_wstring(c.first));
            EXPECT_EQ(page[0].status, 2);
        }
    }
    std::vector<CSongItem> found;
    bool last = false;
    EXPECT_TRUE(m->SearchDownloadedSongs(1, 3, L"Ann", found, last));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_FALSE(last);
    EXPECT_EQ(found[1].songId, L"5");
    EXPECT_TRUE(m->SearchDownloadedSongs(1, 10, L"ann", found, last));
    EXPECT_TRUE(found.empty());  // case-sensitive
    CSongItem one;
    EXPECT_TRUE(m->FindDownloadedSong(L"7", one));
    EXPECT_EQ(one.name, L"Song 7");
    EXPECT_FALSE(m->DownloadSong(one));  // already downloaded
}

TEST_F(Manager, DeletesOnlyInsideTheSongFolder) {
    const std::string outside = dir.File("outside.mp3");
    testnet::WriteFile(outside, "keep me");
    CSongItem evil = StoredSong(SongFolder(), 1, L"x");
    evil.musicLocation = SongFolder() + L"0/../../../outside.mp3";
    CSongItem good = StoredSong(SongFolder(), 2, L"x");
    std::filesystem::create_directories(dir.Path() / "Vokari/song/0");
    testnet::WriteFile(platform::ToUtf8(good.musicLocation), "m");
    testnet::WriteFile(platform::ToUtf8(good.lyricLocation), "l");
    std::filesystem::create_directories(dir.Path() / "Vokari/download");
    testnet::WriteFile(ListPath(), WriteDownloadList({evil, good}));
    auto m = Make();
    std::vector<CSongItem> all;
    bool last = false;
    m->GetDownloadedSongs(0, 0, all, last);
    ASSERT_EQ(all.size(), 1u);  // the stored path leaving the folder is refused
    EXPECT_FALSE(m->DeleteDownloadedSong(evil, true));
    EXPECT_EQ(testnet::ReadFile(outside), "keep me");
    EXPECT_TRUE(m->DeleteDownloadedSong(good, true));
    EXPECT_FALSE(platform::FileExists(good.musicLocation));
    EXPECT_FALSE(platform::FileExists(good.lyricLocation));
    EXPECT_EQ(testnet::SizeOf(ListPath()), -1);  // the last song went: no list file
}

TEST_F(Manager, KeepsACorruptListAside) {
    std::filesystem::create_directories(dir.Path() / "Vokari/download");
    testnet::WriteFile(ListPath(), "{\"a\":[{\"a1\":");
    auto m = Make();
    std::vector<CSongItem> all;
    bool last = false;
    m->GetDownloadedSongs(0, 0, all, last);
    EXPECT_TRUE(all.empty());
    EXPECT_EQ(testnet::ReadFile(ListPath() + ".corrupt"), "{\"a\":[{\"a1\":");
}

namespace {

struct Store final : IPerformanceStore {
    std::vector<PerformanceRecord> records;
    std::vector<PerformanceRecord> ListPerformances() override { return records; }
    bool DeletePerformance(std::uint32_t id) override {
        const auto n = records.size();
        std::erase_if(records, [&](const auto& r) { return r.recordId == id; });
        return records.size() != n;
    }
};

}  // namespace

TEST_F(Manager, PagesKeptPerformancesAndDeletesThemWithTheirSong) {
    Store store;
    for (std::uint32_t i = 1; i <= 5; ++i) {
        store.records.push_back({i, L"Take " + std::to_wstring(i), i % 2 ? L"2" : L"3",
                                 80.0f + static_cast<float>(i), SongDate{2026, 12, 11, 10, 0, 0}});
    }
    CSongItem song = StoredSong(SongFolder(), 2, L"x");
    std::filesystem::create_directories(dir.Path() / "Vokari/download");
    testnet::WriteFile(ListPath(), WriteDownloadList({song}));
    auto m = Make(&store);
    std::vector<CSongItem> page;
    bool last = false;
    ASSERT_TRUE(m->GetPerformances(2, 2, page, last));
    ASSERT_EQ(page.size(), 2u);
    EXPECT_FALSE(last);
    EXPECT_EQ(page[0].kind, 1);
    EXPECT_EQ(page[0].recordNumber, 3u);
    EXPECT_EQ(page[0].title, L"Take 3");
    EXPECT_FLOAT_EQ(page[0].score, 83.0f);
    EXPECT_TRUE(m->DeletePerformance(page[1]));
    EXPECT_TRUE(m->DeleteDownloadedSong(song, true));
    ASSERT_EQ(store.records.size(), 1u);  // take 4 deleted; 1, 3, 5 went with song 2
    EXPECT_EQ(store.records[0].recordId, 2u);
}

TEST_F(Manager, NeverCallsAListenerAfterItsRemovalReturned) {
    auto m = Make();
    struct Slow final : IDownloadManagerListener {
        std::atomic<bool> removed{false};
        std::atomic<int> lateCalls{0};
        std::atomic<int> calls{0};
        void OnListDownloaded(int, const std::wstring&) override {
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (removed) {
                ++lateCalls;
            }
        }
    };
    for (int round = 0; round < 5; ++round) {
        Slow slow;
        m->AddListener(&slow);
        std::atomic<bool> go{true};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                while (go) {
                    m->OnTaskListFinished(2, L"x.jsn");
                }
            });
        }
        while (slow.calls < 10) {
            std::this_thread::yield();
        }
        m->RemoveListener(&slow);
        slow.removed = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        go = false;
        for (auto& w : workers) {
            w.join();
        }
        EXPECT_EQ(slow.lateCalls, 0);
    }
    // A listener may remove itself from inside its own notification.
    struct SelfRemoving final : IDownloadManagerListener {
        IDownloadManager* manager = nullptr;
        int calls = 0;
        void OnListDownloaded(int, const std::wstring&) override {
            ++calls;
            manager->RemoveListener(this);
        }
    } self;
    self.manager = m.get();
    m->AddListener(&self);
    m->OnTaskListFinished(2, L"x.jsn");
    m->OnTaskListFinished(2, L"x.jsn");
    EXPECT_EQ(self.calls, 1);
}

TEST_F(Manager, CancellingAQueuedSongFreesItAtOnce) {
    auto m = Make();
    // The one song thread is kept busy by a download that cannot connect
    // for a while; the next song waits in the queue.
    platform::TcpListener silent;
    ASSERT_TRUE(silent.Listen());
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(silent.Port());
    CSongItem first;
    first.songId = L"1";
    first.musicLocation = base + L"/a.mp3";
    first.lyricLocation = base + L"/a.lrc";
    CSongItem second = first;
    second.songId = L"2";
    ASSERT_TRUE(m->DownloadSong(first));
    ASSERT_TRUE(m->DownloadSong(second));
    EXPECT_FALSE(m->DownloadSong(second));  // already queued
    EXPECT_TRUE(m->CancelSongDownload(second));
    EXPECT_TRUE(m->DownloadSong(second));  // may be asked for again
    EXPECT_TRUE(m->CancelSongDownload(first));
    EXPECT_TRUE(m->CancelSongDownload(second));
    EXPECT_FALSE(m->CancelSongDownload(second));
}

TEST_F(Manager, ExpiresTheListCacheAfterFourHours) {
    auto m = Make();
    testnet::WriteFile(dir.File("Vokari/list/songlist_5_1_10.jsn"), "{}");
    EXPECT_FALSE(ExpireListCache(*m, 1000, 1000 + 14400));
    EXPECT_EQ(testnet::SizeOf(dir.File("Vokari/list/songlist_5_1_10.jsn")), 2);
    EXPECT_TRUE(ExpireListCache(*m, 1000, 1000 + 14401));
    EXPECT_EQ(testnet::SizeOf(dir.File("Vokari/list/songlist_5_1_10.jsn")), -1);
}

// The body of the child process of the next test: rewrites the list until
// it is killed (bounded to a minute in case nobody does).
TEST(DownloadListChild, RewritesUntilKilled) {
    const char* path = std::getenv("VOKARI_REWRITE_LIST");
    if (path == nullptr) {
        GTEST_SKIP() << "runs only as the child of KillDuringARewriteKeepsTheList";
    }
    std::vector<CSongItem> small(1), large(400);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i].songId = std::to_wstring(i);
        large[i].name = std::wstring(200, L'x');
    }
    small[0].songId = L"1";
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; std::chrono::steady_clock::now() - start < std::chrono::seconds(60); ++i) {
        platform::WriteFileAtomically(platform::FromUtf8(path),
                                      WriteDownloadList(i % 2 ? small : large));
    }
}

TEST(DownloadList, KillDuringARewriteKeepsTheList) {
    TempFolder dir;
    const std::string path = dir.File("downloaditem.jsn");
    std::vector<CSongItem> first(1);
    first[0].songId = L"1";
    ASSERT_TRUE(platform::WriteFileAtomically(platform::FromUtf8(path), WriteDownloadList(first)));
    ::setenv("VOKARI_REWRITE_LIST", path.c_str(), 1);
    for (int round = 0; round < 3; ++round) {
        platform::ChildProcess child;
        ASSERT_TRUE(child.Start({platform::ToUtf8(platform::ProgramPath()),
                                 "--gtest_filter=DownloadListChild.RewritesUntilKilled"}));
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + 70 * round));
        child.Kill();
        std::vector<CSongItem> songs;
        ASSERT_TRUE(ParseDownloadList(testnet::ReadFile(path), songs));
        EXPECT_TRUE(songs.size() == 1 || songs.size() == 400) << songs.size();
    }
    ::unsetenv("VOKARI_REWRITE_LIST");
}

TEST_F(Manager, PagesTheKaraokeHistory) {
    const std::wstring root = dir.Folder() + L"KTV/";
    const std::wstring temp = dir.Folder() + L"temp/";
    const std::wstring source = dir.Folder() + L"take/";
    platform::MakeWholePath(root);
    platform::MakeWholePath(source);
    CHistorySealer sealer(root, temp);
    for (const wchar_t* id : {L"12300", L"12301"}) {
        ASSERT_TRUE(CHistorySealer::WriteInfoFile(source, L"Title " + std::wstring(id),
                                                  source + L"x.lrc", id));
        ASSERT_FALSE(sealer.Seal(source).empty());
        sealer.WaitSealed();
    }
    CHistoryPerformanceStore store(sealer);
    auto m = Make(&store);
    std::vector<CSongItem> page;
    bool last = false;
    ASSERT_TRUE(m->GetPerformances(1, 10, page, last));
    ASSERT_EQ(page.size(), 2u);
    EXPECT_TRUE(last);
    EXPECT_EQ(page[1].kind, 1);
    EXPECT_EQ(page[1].songId, L"12301");
    EXPECT_EQ(page[1].title, L"Title 12301");
    EXPECT_EQ(page[1].recordNumber, 2u);
    EXPECT_TRUE(m->DeletePerformance(page[0]));
    ASSERT_TRUE(m->GetPerformances(0, 0, page, last));
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].songId, L"12301");
}
