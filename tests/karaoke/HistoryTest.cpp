#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "karaoke/CHistorySealer.h"
#include "karaoke/TempDir.h"
#include "karaoke/context/HlfContainer.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Utf.h"

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

namespace {

// A temp folder with the plain members of one performance, a history root
// and the sealer over both.
struct Fixture {
    TempDir dir;
    std::wstring root = dir.WFolder() + L"KTV/";
    std::wstring temp = dir.WFolder() + L"run/KTV_Temp/";
    std::wstring work = dir.WFolder() + L"work/";
    fs::path Path(const std::wstring& s) const { return fs::path(platform::ToUtf8(s)); }

    // Writes all members but `skip` into the work folder; returns them.
    std::vector<std::vector<std::uint8_t>> MakePerformance(const std::wstring& title, int skip = -1,
                                                           std::size_t wavBytes = 5000) {
        fs::create_directories(Path(work));
        std::vector<std::vector<std::uint8_t>> members(CHistorySealer::kMemberCount);
        WriteText(Path(work) / "VocalFeatureTrack.txt", "Pitch\t1\r\nTotal Score\t78.5753\r\n");
        EXPECT_TRUE(CHistorySealer::WriteInfoFile(work, title, L"/songs/a.lrc", L"S42",
                                                  130647171090000000ull));
        for (int i = 0; i < CHistorySealer::kMemberCount; ++i) {
            const fs::path p = Path(work + CHistorySealer::PlainName(i));
            if (i == skip) {
                fs::remove(p);
                continue;
            }
            if (i != 2 && i != 5)
                WriteBytes(p, PatternBytes(i < 2 ? wavBytes : 100 + i, i + 1));
            members[i] = ReadBytes(p);
        }
        return members;
    }
};

TEST(HistoryTest, RecordIdsAreTenDigitNamesOnly) {
    const std::pair<std::wstring, std::optional<std::uint32_t>> cases[] = {
        {L"0000000007", 7u},           {L"4294967295", 4294967295u}, {L"4294967296", std::nullopt},
        {L"7", std::nullopt},          {L"7abc", std::nullopt},      {L"000000007a", std::nullopt},
        {L"-000000001", std::nullopt}, {L"abc", std::nullopt},       {L"00000000007", std::nullopt},
    };
    for (const auto& [name, id] : cases)
        EXPECT_EQ(CHistorySealer::ParseRecordId(name), id) << platform::ToUtf8(name);
    EXPECT_EQ(CHistorySealer::RecordFolder(L"/h", 3), L"/h/0000000003/");
}

TEST(HistoryTest, NextRecordFolderTakesTheLowestFreeIdAndNeverLoops) {
    TempDir dir;
    const std::wstring root = dir.WFolder() + L"KTV/";
    EXPECT_EQ(CHistorySealer::NextRecordFolder(root), root + L"0000000001/")
        << "a missing root is created later";
    for (const char* n : {"0000000001", "0000000002", "0000000004"})
        fs::create_directories(dir.Path() / "KTV" / n);
    EXPECT_EQ(CHistorySealer::NextRecordFolder(root), root + L"0000000003/");
    WriteText(dir.Path() / "file", "x");
    EXPECT_EQ(CHistorySealer::NextRecordFolder(dir.WFolder() + L"file/"), L"")
        << "a root that is a file";
    if (::geteuid() != 0) {
        fs::permissions(dir.Path() / "KTV", fs::perms::none);
        EXPECT_EQ(CHistorySealer::NextRecordFolder(root), L"") << "a root that cannot be searched";
        fs::permissions(dir.Path() / "KTV", fs::perms::owner_all);
    }
}

TEST(HistoryTest, TotalScoreComesFromTheLastScoreLine) {
    TempDir dir;
    const std::pair<std::string, std::wstring> cases[] = {
        {"Total Score\t78.5753\r\n", L"78.5753"},
        {"Total Score\t10\nx\nTotal Score\t91.5\n", L"91.5"},
        {"Total Score\n", L"0"},
        {"Total Score", L"0"},
        {"Pitch\t3\n", L"0"},
        {"", L"0"},
    };
    for (const auto& [text, expected] : cases) {
        WriteText(dir.Path() / "f.txt", text);
        EXPECT_EQ(CHistorySealer::ExtractTotalScore(dir.WFolder() + L"f.txt"), expected) << text;
    }
    EXPECT_EQ(CHistorySealer::ExtractTotalScore(dir.WFolder() + L"missing.txt"), L"0");
}

TEST(HistoryTest, FileTimesAreLocalCalendarTimes) {
    const SystemTime t = FileTimeToSystemTime(130647171090000000ull);
    EXPECT_EQ(t, (SystemTime{2015, 1, 6, 3, 0, 5, 9, 0}));
    EXPECT_EQ(SystemTimeToFileTime(t), 130647171090000000ull);
    EXPECT_EQ(SystemTimeToFileTime(SystemTime{1970, 1, 4, 1, 0, 0, 0, 0}), 116444736000000000ull);
    EXPECT_EQ(FileTimeToSystemTime(0), SystemTime{});
    EXPECT_EQ(SystemTimeToFileTime(SystemTime{2020, 13, 0, 1, 0, 0, 0, 0}), 0u);
    const SystemTime now = FileTimeToSystemTime(LocalFileTimeNow());
    EXPECT_GE(now.year, 2024);
}

TEST(HistoryTest, InfoFileIsUtf16WithItsKeys) {
    Fixture f;
    fs::create_directories(f.Path(f.work));
    WriteText(f.Path(f.work) / "VocalFeatureTrack.txt", "Total Score\t66.5\r\n");
    ASSERT_TRUE(CHistorySealer::WriteInfoFile(f.work, L"月亮代表我的心", L"/s/a.lrc", L"S1",
                                              116444736000000000ull));
    const auto bytes = ReadBytes(f.Path(f.work) / "ResultInfo.ini");
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes[2], '[');
    EXPECT_EQ(bytes[3], 0) << "UTF-16LE";
    const std::wstring ini = f.work + L"ResultInfo.ini";
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"MusicTitle", L"", 260),
              L"月亮代表我的心");
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"LyricPath", L"", 260),
              L"/s/a.lrc");
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"KaraokeTime", L"", 260),
              L"116444736000000000");
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"TotalScore", L"", 260), L"66.5");
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"SongID", L"", 260), L"S1");
    // An existing file still gets the keys.
    ASSERT_TRUE(CHistorySealer::WriteInfoFile(f.work, L"Other", L"/s/b.lrc", L"S2", 0));
    EXPECT_EQ(platform::ReadProfileString(ini, L"information", L"MusicTitle", L"", 260), L"Other");
    EXPECT_EQ(ReadBytes(f.Path(f.work) / "ResultInfo.ini")[0], 0xFF);
}

TEST(HistoryTest, SealListUnsealDelete) {
    Fixture f;
    const auto members = f.MakePerformance(L"Song A", /*skip=*/7);
    CHistorySealer sealer(f.root, f.temp);
    const std::wstring record = sealer.Seal(f.work);
    ASSERT_EQ(record, f.root + L"0000000001/");
    const auto sealed = sealer.WaitSealed();
    for (int i = 0; i < CHistorySealer::kMemberCount; ++i) {
        EXPECT_EQ(sealed[i], i == 7 ? CHistorySealer::kMissing : CHistorySealer::kDone) << i;
        EXPECT_EQ(fs::exists(f.Path(record + CHistorySealer::SealedName(i))), i != 7) << i;
    }
    EXPECT_TRUE(hlf::IsContainer(ReadBytes(f.Path(record) / "Mixed.hlf")));

    // Folders that are no records, or whose information does not decipher.
    fs::create_directories(f.Path(f.root) / "7abc");
    fs::copy_file(f.Path(record) / "ResultInfo.hlf", f.Path(f.root) / "7abc" / "ResultInfo.hlf");
    fs::create_directories(f.Path(f.root) / "0000000009");
    auto broken = ReadBytes(f.Path(record) / "ResultInfo.hlf");
    broken.back() ^= 0x40;
    WriteBytes(f.Path(f.root) / "0000000009" / "ResultInfo.hlf", broken);

    f.MakePerformance(L"Song B");
    ASSERT_EQ(sealer.Seal(f.work), f.root + L"0000000002/");
    sealer.WaitSealed();

    const auto list = sealer.GetHistoryList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].recordId, 1u);
    EXPECT_EQ(std::wstring(list[0].musicTitle), L"Song A");
    EXPECT_EQ(std::wstring(list[0].songId), L"S42");
    EXPECT_FLOAT_EQ(list[0].totalScore, 78.5753f);
    EXPECT_EQ(list[0].karaokeTime, (SystemTime{2015, 1, 6, 3, 0, 5, 9, 0}));
    EXPECT_EQ(list[1].recordId, 2u);
    EXPECT_EQ(std::wstring(list[1].musicTitle), L"Song B");

    // Replay: the temp folder did not exist; a stale file in it goes.
    ASSERT_TRUE(sealer.Unseal(record));
    auto unsealed = sealer.WaitUnsealed();
    for (int i = 0; i < CHistorySealer::kMemberCount; ++i) {
        const fs::path p = f.Path(f.temp + CHistorySealer::PlainName(i));
        if (i == 7) {
            EXPECT_EQ(unsealed[i], CHistorySealer::kMissing);
            EXPECT_FALSE(fs::exists(p));
        } else {
            EXPECT_EQ(unsealed[i], CHistorySealer::kDone) << i;
            EXPECT_EQ(ReadBytes(p), members[i]) << i;
        }
    }
    WriteText(f.Path(f.temp) / "stale.txt", "x");
    ASSERT_TRUE(sealer.Unseal(f.root + L"0000000002/"));
    unsealed = sealer.WaitUnsealed();
    EXPECT_FALSE(fs::exists(f.Path(f.temp) / "stale.txt"));
    EXPECT_EQ(unsealed[7], CHistorySealer::kDone);

    EXPECT_TRUE(sealer.DeleteRecord(1));
    EXPECT_FALSE(fs::exists(f.Path(record)));
    EXPECT_TRUE(fs::exists(f.Path(f.root) / "7abc")) << "only the ten-digit folder of that id";
    const auto after = sealer.CachedHistory();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].recordId, 2u);
    EXPECT_FALSE(sealer.DeleteRecord(1)) << "already gone";
    // The deleted id is used again.
    f.MakePerformance(L"Song C");
    EXPECT_EQ(sealer.Seal(f.work), record);
}

TEST(HistoryTest, ClosingRightAfterSealingKeepsTheWholeRecord) {
    Fixture f;
    const auto members = f.MakePerformance(L"Song", -1, 8u << 20);
    std::wstring record;
    {
        CHistorySealer sealer(f.root, f.temp);
        record = sealer.Seal(f.work);
    }  // shut-down joins the sealing threads
    CHistorySealer reader(f.root, f.temp);
    ASSERT_EQ(reader.LoadHistory().size(), 1u);
    ASSERT_TRUE(reader.Unseal(record));
    reader.WaitUnsealed();
    EXPECT_EQ(ReadBytes(f.Path(f.temp) / "Mixed.wav"), members[0]);
    EXPECT_EQ(ReadBytes(f.Path(f.temp) / "Vocal.wav"), members[1]);
}

TEST(HistoryTest, CleaningTheTempFolderWaitsForSealing) {
    Fixture f;
    f.work = f.temp;  // a live performance seals straight from the temp folder
    const auto members = f.MakePerformance(L"Song", -1, 8u << 20);
    CHistorySealer sealer(f.root, f.temp);
    const std::wstring record = sealer.Seal(f.temp);
    ASSERT_TRUE(sealer.CleanTempFolder());
    EXPECT_FALSE(fs::exists(f.Path(f.temp) / "Mixed.wav"));
    ASSERT_TRUE(sealer.Unseal(record));
    sealer.WaitUnsealed();
    EXPECT_EQ(ReadBytes(f.Path(f.temp) / "Mixed.wav"), members[0]);
}

// kill -9 while the members are being sealed: no half record may list.
TEST(HistoryTest, KilledWhileSealingLeavesNoHalfRecord) {
    Fixture f;
    f.MakePerformance(L"Song", -1, 32u << 20);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CHistorySealer sealer(f.root, f.temp);
        sealer.Seal(f.work);
        sealer.WaitSealed();
        ::_exit(0);
    }
    const fs::path staging = f.Path(f.root) / ".0000000001.sealing";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool sawWork = false;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (fs::exists(staging / "ResultInfo.hlf", ec)) {
            sawWork = true;
            break;
        }
        if (fs::exists(f.Path(f.root) / "0000000001", ec))
            break;  // too fast to catch
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    CHistorySealer sealer(f.root, f.temp);
    const auto list = sealer.LoadHistory();
    if (fs::exists(f.Path(f.root) / "0000000001")) {
        // The child finished before it was killed: the record is whole.
        ASSERT_EQ(list.size(), 1u);
        for (int i = 0; i < CHistorySealer::kMemberCount; ++i)
            EXPECT_TRUE(fs::exists(f.Path(f.root) / "0000000001" /
                                   platform::ToUtf8(CHistorySealer::SealedName(i))));
    } else {
        EXPECT_TRUE(sawWork);
        EXPECT_TRUE(list.empty()) << "a half record never lists";
        // The next performance takes the id and finishes the job.
        ASSERT_EQ(sealer.Seal(f.work), f.root + L"0000000001/");
        sealer.WaitSealed();
        EXPECT_EQ(sealer.LoadHistory().size(), 1u);
        EXPECT_FALSE(fs::exists(staging));
    }
}

}  // namespace

namespace {

// The download manager lists from its worker threads while the user
// interface keeps and deletes performances.
TEST(HistoryTest, ListingFromOtherThreadsWhileSealingAndDeleting) {
    Fixture f;
    f.MakePerformance(L"Song");
    CHistorySealer sealer(f.root, f.temp);
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            while (!stop) {
                for (const auto& e : sealer.GetHistoryList())
                    ASSERT_GE(e.recordId, 1u);
            }
        });
    }
    for (int i = 0; i < 5; ++i) {
        ASSERT_FALSE(sealer.Seal(f.work).empty());
        sealer.WaitSealed();
    }
    EXPECT_TRUE(sealer.DeleteRecord(2));
    stop = true;
    for (auto& t : workers)
        t.join();
    const auto list = sealer.GetHistoryList();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].recordId, 3u);
}

}  // namespace
