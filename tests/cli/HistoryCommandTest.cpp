// vokari-cli history, run as a program against a data folder of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliRun.h"

namespace fs = std::filesystem;

namespace {

using cli_test::CliRun;
using cli_test::RunCli;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

// ASCII text as UTF-16LE with a byte-order mark, as "ResultInfo.ini" is kept.
std::string Utf16(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (const char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

class HistoryCommand : public ::testing::Test {
  protected:
    std::string Root() const { return data_.File("KTV"); }

    // A kept performance as the sealer leaves it: each member enciphered
    // into "<name>.hlf" of the ten-digit record folder.
    void PutRecord(const std::string& id, const std::string& title, const std::string& mixed) {
        const std::string plain = scratch_.File(id);
        const std::string record = Root() + "/" + id;
        fs::create_directories(plain);
        fs::create_directories(record);
        WriteBytes(plain + "/Mixed.wav", mixed);
        WriteBytes(plain + "/ResultInfo.ini",
                   Utf16("[information]\r\nMusicTitle=" + title +
                         "\r\nLyricPath=/songs/a.lrc\r\nKaraokeTime=133485408000000000\r\n"
                         "TotalScore=88.5\r\nSongID=S" +
                         id.substr(9) + "\r\n"));
        WriteBytes(plain + "/VocalFeatureTrack.txt", "Total Score\t88.5\r\n");
        for (const char* name : {"Mixed", "ResultInfo", "VocalFeatureTrack"}) {
            const std::string ext = std::string(name) == "Mixed"        ? ".wav"
                                    : std::string(name) == "ResultInfo" ? ".ini"
                                                                        : ".txt";
            const auto r =
                RunCli({"hlf", "seal", plain + "/" + name + ext, record + "/" + name + ".hlf"});
            ASSERT_EQ(r.code, 0) << r.err;
        }
    }

    CliRun History(std::vector<std::string> args) {
        args.insert(args.begin(), {"history", "--data", data_.Path()});
        return RunCli(args);
    }

    TempDir data_;
    TempDir scratch_;
};

TEST_F(HistoryCommand, ListsUnsealsAndDeletesRecords) {
    PutRecord("0000000001", "Moon", std::string(3000, 'm'));
    PutRecord("0000000004", "Sun", std::string(20000, 's'));
    fs::create_directories(Root() + "/notes");  // no record: never listed or touched
    WriteBytes(Root() + "/notes/keep.txt", "mine");

    const CliRun list = History({"list"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("\"id\" : 1,"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\"title\" : \"Moon\""), std::string::npos);
    EXPECT_NE(list.out.find("\"songId\" : \"S1\""), std::string::npos);
    EXPECT_NE(list.out.find("\"totalScore\" : 88.5"), std::string::npos);
    EXPECT_NE(list.out.find("\"time\" : \"2024-01-01 00:00:00\""), std::string::npos);
    EXPECT_NE(list.out.find("\"id\" : 4,"), std::string::npos);
    EXPECT_LT(list.out.find("\"Moon\""), list.out.find("\"Sun\""));
    EXPECT_EQ(list.out.find("notes"), std::string::npos);

    const std::string out = scratch_.File("replay");
    const CliRun unsealed = History({"unseal", "4", out});
    ASSERT_EQ(unsealed.code, 0) << unsealed.err;
    EXPECT_EQ(ReadBytes(out + "/Mixed.wav"), std::string(20000, 's'));
    EXPECT_NE(unsealed.out.find("ResultInfo.ini"), std::string::npos);
    EXPECT_FALSE(fs::exists(out + "/Vocal.wav")) << "a member the record lacks";

    const CliRun deleted = History({"delete", "1"});
    ASSERT_EQ(deleted.code, 0) << deleted.err;
    EXPECT_FALSE(fs::exists(Root() + "/0000000001"));
    EXPECT_TRUE(fs::exists(Root() + "/0000000004/Mixed.hlf"));
    EXPECT_EQ(ReadBytes(Root() + "/notes/keep.txt"), "mine");
    const CliRun after = History({"list"});
    EXPECT_EQ(after.out.find("\"Moon\""), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("\"Sun\""), std::string::npos);
}

TEST_F(HistoryCommand, EmptyHistoryListsNothing) {
    const CliRun list = History({"list"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.out, "[]\n");
}

TEST_F(HistoryCommand, ProgramsDataFolderIsTheDefault) {
    const CliRun list = RunCli({"history", "list"}, {"XDG_DATA_HOME=" + data_.Path() + "/xdg"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.out, "[]\n");
    PutRecord("0000000002", "Star", "x");
    fs::create_directories(data_.File("xdg/Vokari"));
    fs::rename(Root(), data_.File("xdg/Vokari/KTV"));
    const CliRun found = RunCli({"history", "list"}, {"XDG_DATA_HOME=" + data_.Path() + "/xdg"});
    EXPECT_NE(found.out.find("\"Star\""), std::string::npos) << found.out << found.err;
}

TEST_F(HistoryCommand, UnsealNeverEmptiesAFolderOfTheUsers) {
    PutRecord("0000000001", "Moon", "abc");
    const std::string busy = scratch_.File("busy");
    fs::create_directories(busy);
    WriteBytes(busy + "/work.doc", "precious");
    const CliRun r = History({"unseal", "1", busy});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not an empty folder"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(busy + "/work.doc"), "precious");
}

TEST_F(HistoryCommand, MissingRecordsAndBadUsage) {
    PutRecord("0000000001", "Moon", "abc");
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{"unseal", "9", scratch_.File("x")}, 1},
        {{"delete", "9"}, 1},
        {{}, 2},
        {{"list", "extra"}, 2},
        {{"unseal", "1"}, 2},
        {{"delete"}, 2},
        {{"delete", "one"}, 2},
        {{"delete", "0"}, 2},
        {{"delete", "-1"}, 2},
        {{"delete", "99999999999"}, 2},
        {{"rename", "1"}, 2},
    };
    for (const Case& c : cases) {
        const CliRun r = History(c.args);
        EXPECT_EQ(r.code, c.code) << (c.args.empty() ? "" : c.args[0]) << " " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(RunCli({"history", "--data"}).code, 2);
    EXPECT_TRUE(fs::exists(Root() + "/0000000001/Mixed.hlf"));
    EXPECT_FALSE(fs::exists(scratch_.File("x")));
}

}  // namespace
