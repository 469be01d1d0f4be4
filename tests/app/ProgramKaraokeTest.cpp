// The karaoke subsystem as the program starts and stops it: the history
// is loaded at start-up, a replay unseals through the program's seams and
// shut-down waits for a performance that is still being sealed.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/ProgramSubsystems.h"
#include "evaluation/Melody.h"
#include "evaluation/ScoreEngine.h"
#include "karaoke/HistoryService.h"
#include "karaoke/KaraokeController.h"
#include "karaoke/context/KaraokeContext.h"
#include "karaoke/context/SingleTon.h"
#include "platform/TestSupport.h"
#include "platform/text/Utf.h"

namespace {

using testing_support::ReadBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteBytes;

class ProgramKaraokeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // An earlier shut-down closed the context for good.
        SetKaraokeContextClosed(false);
        SetKaraokeControllerClosed(false);
        std::filesystem::create_directories(dir_.File("KTV_Temp"));
        std::filesystem::create_directories(dir_.File("KTV"));
        WriteBytes(dir_.File("song.lrc"), "[00:01.00]Moon\n");
    }
    void TearDown() override {
        SetKaraokeSystemSeams({});
        DeleteHistorySealer();
        DeleteKaraokeContext();
        GetMelody().Clear();
    }

    // A finished performance in the temp folder, as the player leaves it.
    std::string PutPerformance(const std::string& title, std::size_t bytes) {
        std::string mixed(bytes, '\0');
        for (std::size_t i = 0; i < bytes; ++i) {
            mixed[i] = static_cast<char>((i * 131 + title.size()) & 0xFF);
        }
        WriteBytes(dir_.File("KTV_Temp/Mixed.wav"), mixed);
        WriteBytes(dir_.File("KTV_Temp/VocalFeatureTrack.txt"), "Total Score\t71.5\r\n");
        CKaraokeContext* context = GetKaraokeContext();
        context->SetTempFolder(Temp());
        context->SetRecordFolder(Temp());
        context->SetLyricPath(dir_.WFile("song.lrc"));
        context->SetMusicTitle(platform::FromUtf8(title));
        context->SetSongId(L"S1");
        return mixed;
    }

    std::wstring Temp() const { return dir_.Folder() + L"KTV_Temp/"; }
    std::wstring Root() const { return dir_.Folder() + L"KTV/"; }

    TempDir runtime_;
    ScopedEnv run_{"XDG_RUNTIME_DIR", runtime_.Path()};
    TempDir dir_;
};

TEST_F(ProgramKaraokeTest, StartUpLoadsTheHistoryAndShutDownFinishesSealing) {
    // An earlier run of the program kept one performance.
    {
        CHistorySealer earlier(Root(), Temp());
        PutPerformance("Moon", 1000);
        ASSERT_TRUE(CHistorySealer::WriteInfoFile(Temp(), L"Moon", dir_.WFile("song.lrc"), L"S1"));
        ASSERT_EQ(earlier.Seal(Temp()), Root() + L"0000000001/");
        earlier.WaitSealed();
    }
    DeleteKaraokeContext();

    ProgramSubsystems subsystems;
    GetKaraokeContext()->SetTempFolder(Temp());
    ASSERT_EQ(subsystems.KaraokeSystemStartup(Root()), 0);
    CHistorySealer* sealer = SingleTon<CHistorySealer>::PeekInstance();
    ASSERT_NE(sealer, nullptr) << "start-up did not load the history";
    EXPECT_EQ(sealer->HistoryRoot(), Root());
    const auto loaded = sealer->CachedHistory();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(std::wstring(loaded[0].musicTitle), L"Moon");

    // A large performance still being sealed when the program ends.
    const std::string mixed = PutPerformance("Sun", 8 << 20);
    ASSERT_EQ(KeepPerformance(*GetKaraokeContext()), Root() + L"0000000002/");
    ASSERT_EQ(subsystems.KaraokeSystemShutdown(), 0);
    EXPECT_EQ(SingleTon<CHistorySealer>::PeekInstance(), nullptr);
    EXPECT_EQ(GetKaraokeSystemSeams().loadHistory, nullptr);

    // The next run finds both records whole.
    std::filesystem::remove_all(dir_.File("KTV_Temp"));
    std::filesystem::create_directories(dir_.File("KTV_Temp"));
    CHistorySealer next(Root(), Temp());
    const auto listed = next.LoadHistory();
    ASSERT_EQ(listed.size(), 2u);
    ASSERT_TRUE(next.Unseal(Root() + L"0000000002/"));
    EXPECT_EQ(next.WaitUnsealed()[0], CHistorySealer::kDone);
    EXPECT_EQ(ReadBytes(dir_.File("KTV_Temp/Mixed.wav")), mixed);
}

TEST_F(ProgramKaraokeTest, ReplayUnsealsThroughTheProgramsSeams) {
    ProgramSubsystems subsystems;
    GetKaraokeContext()->SetTempFolder(Temp());
    ASSERT_EQ(subsystems.KaraokeSystemStartup(Root()), 0);
    const std::string mixed = PutPerformance("Moon", 4000);
    ASSERT_EQ(KeepPerformance(*GetKaraokeContext()), Root() + L"0000000001/");
    GetKaraokeSystemSeams().finishHistoryWork();
    std::filesystem::remove(dir_.File("KTV_Temp/Mixed.wav"));

    const KaraokeSystemSeams& seams = GetKaraokeSystemSeams();
    ASSERT_TRUE(seams.unsealRecord);
    EXPECT_EQ(seams.unsealRecord(1, Root() + L"0000000001/"), Temp());
    EXPECT_EQ(ReadBytes(dir_.File("KTV_Temp/Mixed.wav")), mixed);
    EXPECT_EQ(seams.unsealRecord(9, Root() + L"0000000009/"), L"");
    EXPECT_EQ(subsystems.KaraokeSystemShutdown(), 0);
}

TEST_F(ProgramKaraokeTest, DownloadManagerPagesAndDeletesTheKeptPerformances) {
    // Whether the manager exists before the karaoke subsystem starts (the
    // cache expiry of start-up creates it) or is opened afterwards.
    for (const bool managerFirst : {true, false}) {
        SCOPED_TRACE(managerFirst);
        SetKaraokeContextClosed(false);
        std::filesystem::remove_all(dir_.File("KTV"));
        const std::wstring data = dir_.Folder() + L"Vokari/";  // as the program's data folder
        ProgramSubsystems subsystems;
        if (managerFirst) {
            subsystems.ClearCatalogueCache(data);
        }
        GetKaraokeContext()->SetTempFolder(Temp());
        ASSERT_EQ(subsystems.KaraokeSystemStartup(Root()), 0);
        PutPerformance("Moon", 100);
        ASSERT_FALSE(KeepPerformance(*GetKaraokeContext()).empty());
        // Sealing reads the temp folder on its own threads: let it finish
        // before the next performance is put there.
        GetKaraokeSystemSeams().finishHistoryWork();
        PutPerformance("Sun", 100);
        ASSERT_FALSE(KeepPerformance(*GetKaraokeContext()).empty());
        GetKaraokeSystemSeams().finishHistoryWork();

        IDownloadManager* manager = subsystems.OpenDownloadManager(data);
        ASSERT_NE(manager, nullptr);
        EXPECT_TRUE(std::filesystem::is_directory(dir_.File("Vokari/song")))
            << "downloaded songs live in the data folder's song/";
        EXPECT_FALSE(std::filesystem::exists(dir_.File("Vokari/Vokari")));
        std::vector<CSongItem> records;
        bool lastPage = false;
        ASSERT_TRUE(manager->GetPerformances(1, 10, records, lastPage));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_TRUE(lastPage);
        EXPECT_EQ(records[0].title, L"Moon");
        EXPECT_EQ(records[1].title, L"Sun");
        EXPECT_TRUE(manager->DeletePerformance(records[0]));
        EXPECT_FALSE(std::filesystem::exists(dir_.File("KTV/0000000001")));
        ASSERT_TRUE(manager->GetPerformances(1, 10, records, lastPage));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].title, L"Sun");

        // After shut-down the manager no longer reaches the deleted sealer.
        ASSERT_EQ(subsystems.KaraokeSystemShutdown(), 0);
        ASSERT_EQ(PeekDownloadManager(), manager);
        ASSERT_TRUE(manager->GetPerformances(1, 10, records, lastPage));
        EXPECT_TRUE(records.empty());
        subsystems.ReleaseDownloaderManager();
        EXPECT_EQ(PeekDownloadManager(), nullptr);
    }
}

TEST_F(ProgramKaraokeTest, MelodyStepsFillAndEmptyTheSharedMelody) {
    const KaraokeSystemSeams seams = ProgramSubsystems().ComposeKaraokeSeams();
    ASSERT_TRUE(seams.loadMelody);
    ASSERT_TRUE(seams.deleteMelody);
    WriteBytes(dir_.File("melody.lrc"), "<00:01.00>a(A4)<00:02.00>b(C5)");
    seams.loadMelody(dir_.WFile("melody.lrc"));
    EXPECT_TRUE(GetMelody().HasNotes());
    seams.deleteMelody();
    EXPECT_TRUE(GetMelody().Empty());
    // A lyric file without a melody leaves it empty and is no error.
    seams.loadMelody(dir_.WFile("song.lrc"));
    EXPECT_TRUE(GetMelody().Empty());
}

}  // namespace
