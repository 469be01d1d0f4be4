#include <gtest/gtest.h>

#include <filesystem>

#include "karaoke/HistoryService.h"
#include "karaoke/TempDir.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/text/Utf.h"

namespace fs = std::filesystem;

namespace {

// A live performance kept at its end, listed, replayed through the replay
// step and deleted, as the karaoke subsystem drives it.
TEST(HistoryServiceTest, KeepListReplayDelete) {
    testing_support::TempDir dir;
    const std::wstring temp = dir.WFolder() + L"KTV_Temp/";
    const std::wstring root = dir.WFolder() + L"KTV/";
    fs::create_directories(dir.Path() / "KTV_Temp");
    testing_support::WriteText(dir.Path() / "song.lrc", "[00:01.00]Song:Moon");
    const auto mixed = testing_support::PatternBytes(10000);
    testing_support::WriteBytes(dir.Path() / "KTV_Temp" / "Mixed.wav", mixed);
    testing_support::WriteText(dir.Path() / "KTV_Temp" / "VocalFeatureTrack.txt",
                               "Total Score\t88.5\r\n");

    CKaraokeContext* context = GetKaraokeContext();
    ASSERT_NE(context, nullptr);
    context->SetTempFolder(temp);
    context->SetHistoryRoot(root);
    context->SetRecordFolder(temp);
    context->SetLyricPath(dir.WFolder() + L"song.lrc");
    context->SetMusicTitle(L"Moon");
    context->SetSongId(L"S7");
    DeleteHistorySealer();  // a sealer of an earlier test knows other folders

    KaraokeSystemSeams seams;
    AddHistorySeams(seams);
    const std::wstring record = KeepPerformance(*context);
    ASSERT_EQ(record, root + L"0000000001/");
    EXPECT_EQ(context->GetRecordFolder(), record);
    seams.finishHistoryWork();

    const auto list = GetHistoryList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(std::wstring(list[0].musicTitle), L"Moon");
    EXPECT_EQ(std::wstring(list[0].songId), L"S7");
    EXPECT_FLOAT_EQ(list[0].totalScore, 88.5f);

    const std::wstring unpacked = seams.unsealRecord(1, record);
    EXPECT_EQ(unpacked, temp);
    EXPECT_EQ(testing_support::ReadBytes(dir.Path() / "KTV_Temp" / "Mixed.wav"), mixed);
    EXPECT_EQ(seams.unsealRecord(5, root + L"0000000005/"), L"") << "nothing to replay";

    EXPECT_TRUE(DeleteRecord(1));
    EXPECT_TRUE(GetHistoryList().empty());
    seams.deleteHistorySealer();
    DeleteKaraokeContext();
}

}  // namespace
