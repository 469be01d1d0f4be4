#include "karaoke/KaraokeSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "karaoke/KaraokeController.h"
#include "karaoke/context/CxSkinControlsException.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Utf.h"

namespace {

std::wstring W(const std::filesystem::path& p) {
    return platform::FromUtf8(p.string());
}

class KaraokeSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        tmp_ =
            std::filesystem::temp_directory_path() / ("vokari-entry-test-" + std::to_string(rd()));
        std::filesystem::create_directories(tmp_);
        Touch(tmp_ / "song.mp3");
        Touch(tmp_ / "song.lrc");
        KaraokeSystemSeams seams;
        seams.showMessage = [this](const std::wstring& m) { messages_.push_back(m); };
        seams.runKaraokeWindow = [this] {
            ++windows_;
            return 0;
        };
        seams.loadMelody = [this](const std::wstring& path) { melodies_.push_back(path); };
        SetKaraokeSystemSeams(seams);
        ASSERT_EQ(KaraokeSystemStartup(W(tmp_ / "KTV")), 0);
    }

    void TearDown() override {
        KaraokeSystemShutdown();
        SetKaraokeSystemSeams({});
        // Other tests of this binary reach the context without a start-up.
        SetKaraokeContextClosed(false);
        SetKaraokeControllerClosed(false);
        std::error_code ec;
        std::filesystem::remove_all(tmp_, ec);
    }

    static void Touch(const std::filesystem::path& p) { std::ofstream(p) << "x"; }

    std::filesystem::path tmp_;
    std::vector<std::wstring> messages_;
    std::vector<std::wstring> melodies_;
    int windows_ = 0;
};

TEST_F(KaraokeSystemTest, StartKaraokeStoresTheSongAndOpensTheWindow) {
    platform::CapturedDebugOutput log;
    const std::wstring music = W(tmp_ / "song.mp3");
    const std::wstring lyric = W(tmp_ / "song.lrc");
    GetKaraokeContext()->SetReplay(true);
    GetKaraokeContext()->SetMusicTitle(L"old title");
    StartKaraoke({L"S\u00e9001", music, lyric});
    EXPECT_EQ(windows_, 1);
    EXPECT_TRUE(messages_.empty());
    CKaraokeContext* context = GetKaraokeContext();
    EXPECT_EQ(context->GetMusicPath(), music);
    EXPECT_EQ(context->GetLyricPath(), lyric);
    EXPECT_EQ(context->GetSongId(), L"S\u00e9001");
    EXPECT_FALSE(context->IsReplay());
    EXPECT_EQ(context->GetMusicTitle(), L"") << "no title left over from the last song";
    EXPECT_EQ(melodies_, std::vector<std::wstring>{lyric});
    // Wide arguments are printed as text, not as pointers or narrow garbage.
    EXPECT_TRUE(log.Contains(platform::ToUtf8(L"StartKaraoke : Music: " + music + L", Lyric: " +
                                              lyric + L", SongID : S\u00e9001.\n")));
}

TEST_F(KaraokeSystemTest, AMissingFileIsReportedAndNoWindowOpens) {
    struct Case {
        std::wstring music;
        std::wstring lyric;
        std::wstring reported;
        std::wstring musicAfter;
    };
    const std::wstring music = W(tmp_ / "song.mp3");
    const std::wstring lyric = W(tmp_ / "song.lrc");
    const std::wstring noLyric = W(tmp_ / "\u6b4c.lrc");
    const std::wstring noMusic = W(tmp_ / "gone.mp3");
    const std::wstring folder = W(tmp_);
    const Case cases[] = {
        {music, noLyric, noLyric + L" not exist.", music},  // the music path is already stored
        {noMusic, lyric, noMusic + L" not exist.", L""},
        {folder, lyric, folder + L" not exist.", L""},  // a folder is no file
    };
    for (const Case& c : cases) {
        GetKaraokeContext()->SetMusicPath(music);
        messages_.clear();
        if (c.musicAfter.empty()) {
            // Start from a context without a music path.
            KaraokeSystemShutdown();
            KaraokeSystemStartup(W(tmp_ / "KTV"));
        }
        StartKaraoke({L"1", c.music, c.lyric});
        EXPECT_EQ(windows_, 0);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0], c.reported);
        EXPECT_EQ(GetKaraokeContext()->GetMusicPath(), c.musicAfter);
    }
}

TEST_F(KaraokeSystemTest, StartPlaybackFindsTheRecordingsAndTheLyricOfTheRecord) {
    const auto record = tmp_ / "KTV" / "0000000042";
    std::filesystem::create_directories(record);
    Touch(record / "Mixed.wav");
    {
        platform::ProfileFile info;
        info.SetEncoding(platform::ProfileEncoding::Utf16Le);
        info.Set(L"information", L"LyricPath", W(tmp_ / "song.lrc"));
        ASSERT_TRUE(info.Save(W(record / "ResultInfo.ini")));
    }
    StartPlayback(42);
    EXPECT_EQ(windows_, 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], W(record / "Vocal.wav") + L" not exist.");

    Touch(record / "Vocal.wav");
    messages_.clear();
    StartPlayback(42);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(windows_, 1);
    CKaraokeContext* context = GetKaraokeContext();
    EXPECT_TRUE(context->IsReplay());
    EXPECT_EQ(context->GetRecordFolder(), W(record) + L"/");
    EXPECT_EQ(context->GetMusicPath(), W(record / "Mixed.wav"));
    EXPECT_EQ(context->GetVocalPath(), W(record / "Vocal.wav"));
    EXPECT_EQ(context->GetLyricPath(), W(tmp_ / "song.lrc"));
}

TEST_F(KaraokeSystemTest, HistoryRootComesFromTheArgumentOrTheProgramFolder) {
    EXPECT_EQ(GetKaraokeContext()->GetHistoryRoot(), W(tmp_ / "KTV") + L"/");
    KaraokeSystemShutdown();
    KaraokeSystemStartup(W(tmp_ / "KTV") + L"/");
    EXPECT_EQ(GetKaraokeContext()->GetHistoryRoot(), W(tmp_ / "KTV") + L"/")
        << "no doubled separator";
    KaraokeSystemShutdown();
    KaraokeSystemStartup(L"");
    CKaraokeContext* context = GetKaraokeContext();
    EXPECT_EQ(context->GetHistoryRoot(), context->GetProgramFolder() + L"History/");
}

TEST_F(KaraokeSystemTest, ShutDownDeletesInOrderAndNothingIsCreatedAgainMeanwhile) {
    std::vector<std::string> order;
    const KaraokeSystemSeams plain = GetKaraokeSystemSeams();
    KaraokeSystemSeams seams = plain;
    seams.finishHistoryWork = [&] {
        order.push_back("finish history");
        EXPECT_NE(GetKaraokeContext(), nullptr) << "the sealer still reads the context";
    };
    seams.deleteScoreEngine = [&] { order.push_back("score engine"); };
    seams.deleteWindowTexts = [&] { order.push_back("window texts"); };
    seams.deleteHistorySealer = [&] { order.push_back("sealer"); };
    seams.deleteMelody = [&] { order.push_back("melody"); };
    seams.deleteVolumeAndPlayerSettings = [&] {
        order.push_back("settings");
        EXPECT_EQ(GetKaraokeContext(), nullptr) << "a late caller gets nothing, creates nothing";
        EXPECT_EQ(GetKaraokeController(), nullptr);
    };
    SetKaraokeSystemSeams(seams);
    ASSERT_NE(GetKaraokeController(), nullptr);
    ASSERT_NE(CKaraokeMainWndManager::GetInstance(), nullptr);
    KaraokeSystemShutdown();
    EXPECT_EQ(order, (std::vector<std::string>{"finish history", "score engine", "window texts",
                                               "sealer", "melody", "settings"}));
    EXPECT_EQ(CKaraokeInstance::PeekInstance(), nullptr);
    EXPECT_EQ(CKaraokeMainWndManager::PeekInstance(), nullptr);
    SetKaraokeSystemSeams(plain);
    KaraokeSystemStartup(W(tmp_ / "KTV"));
    EXPECT_NE(GetKaraokeContext(), nullptr) << "a new start-up opens the accessors again";
}

class FakeDialog final : public IKaraokeDialog {
  public:
    void EndDialog(int result) override { results.push_back(result); }
    std::vector<int> results;
};

TEST_F(KaraokeSystemTest, CloseKaraokeWindowEndsTheOpenDialogOnly) {
    EXPECT_EQ(CloseKaraokeWindow(), 0) << "no dialog: nothing happens";
    FakeDialog dialog;
    const KaraokeSystemSeams plain = GetKaraokeSystemSeams();
    KaraokeSystemSeams seams = plain;
    seams.runKaraokeWindow = [&] {
        CKaraokeMainWndManager::GetInstance()->SetDialog(&dialog);
        CloseKaraokeWindow();  // the main window closes while the karaoke window is open
        return 0;
    };
    SetKaraokeSystemSeams(seams);
    StartKaraoke({L"1", W(tmp_ / "song.mp3"), W(tmp_ / "song.lrc")});
    EXPECT_EQ(dialog.results, std::vector<int>{0});
    EXPECT_EQ(CKaraokeMainWndManager::GetInstance()->GetDialog(), nullptr);

    // A dialog that ended by itself leaves no pointer behind either.
    seams.runKaraokeWindow = [&] {
        CKaraokeMainWndManager::GetInstance()->SetDialog(&dialog);
        return 0;
    };
    SetKaraokeSystemSeams(seams);
    StartKaraoke({L"1", W(tmp_ / "song.mp3"), W(tmp_ / "song.lrc")});
    EXPECT_EQ(CKaraokeMainWndManager::GetInstance()->GetDialog(), nullptr);
    EXPECT_EQ(CloseKaraokeWindow(), 0);
    EXPECT_EQ(dialog.results.size(), 1u);
    SetKaraokeSystemSeams(plain);
}

struct Screen {
    int width;
    int height;
};
Screen g_screen;

TEST(KaraokeContext, LargeLayoutNeedsAtLeast1600By900) {
    struct Case {
        Screen screen;
        bool large;
    };
    SetScreenSizeQuery([](int& w, int& h) {
        w = g_screen.width;
        h = g_screen.height;
        return true;
    });
    for (const Case c : {Case{{1600, 900}, true}, Case{{1920, 1080}, true},
                         Case{{1599, 900}, false}, Case{{1920, 899}, false}, Case{{0, 0}, false}}) {
        g_screen = c.screen;
        CKaraokeContext context;
        EXPECT_EQ(context.IsLargeLayout(), c.large) << c.screen.width << "x" << c.screen.height;
        EXPECT_EQ(context.GetScreenWidth(), c.screen.width);
    }
    SetScreenSizeQuery(nullptr);
}

TEST(KaraokeContext, FixedFormatFoldersAndBlockDuration) {
    CKaraokeContext context;
    const WaveFormat* f = context.GetAudioFormat();
    EXPECT_EQ(f->formatTag, 1);
    EXPECT_EQ(f->channels, 2);
    EXPECT_EQ(f->samplesPerSec, 48000u);
    EXPECT_EQ(f->avgBytesPerSec, 192000u);
    EXPECT_EQ(f->blockAlign, 4);
    EXPECT_EQ(f->bitsPerSample, 16);
    EXPECT_EQ(f->extraBytes, 0);
    EXPECT_EQ(context.GetCaptureStartThreshold(), 0);
    EXPECT_EQ(context.GetBlockDuration(), 16);
    EXPECT_FALSE(context.SetBlockDuration(20));
    EXPECT_TRUE(context.SetBlockDuration(32));
    EXPECT_EQ(context.GetBlockDuration(), 32);
    const std::wstring temp = context.GetTempFolder();
    ASSERT_GE(temp.size(), 10u);
    EXPECT_EQ(temp.substr(temp.size() - 9), L"KTV_Temp/");
    EXPECT_EQ(temp.find(L"//"), std::wstring::npos);
    EXPECT_EQ(context.GetProgramFolder().back(), L'/');
    EXPECT_TRUE(context.GetLyricPath().empty());
    context.SetRecordFolder(L"C:\\rec\\\\");
    EXPECT_EQ(context.GetRecordFolder(), L"C:/rec/");
}

TEST(KaraokeContext, ExceptionMessageIsCutToTheBuffer) {
    CxSkinControlsException e(L"/x/\u6b4c.mp3 not exist.");
    wchar_t buffer[6];
    ASSERT_TRUE(e.GetErrorMessage(buffer, 6));
    EXPECT_EQ(std::wstring(buffer), L"/x/\u6b4c.");
    EXPECT_FALSE(e.GetErrorMessage(buffer, 0));
    EXPECT_STREQ(e.what(), "/x/\xe6\xad\x8c.mp3 not exist.");
}

struct Counted : SingleTon<Counted> {
    Counted() { ++made; }
    static inline std::atomic<int> made{0};
};

TEST(SingleTonTest, OneInstanceUntilReleasedThenAFreshOne) {
    const int before = Counted::made.load();
    Counted* a = nullptr;
    Counted* b = nullptr;
    std::thread t1([&] { a = Counted::GetInstance(); });
    std::thread t2([&] { b = Counted::GetInstance(); });
    t1.join();
    t2.join();
    EXPECT_EQ(a, b);
    EXPECT_EQ(Counted::made.load(), before + 1);
    Counted::ReleaseInstance();
    EXPECT_EQ(Counted::PeekInstance(), nullptr);
    EXPECT_NE(Counted::GetInstance(), nullptr);
    EXPECT_EQ(Counted::made.load(), before + 2);
    Counted::ReleaseInstance();
}

}  // namespace
