// vokari-cli lyrics, run as a program.
#include <gtest/gtest.h>

#include "cli/CliRun.h"

namespace {

using cli_test::CliRun;
using cli_test::RunCli;
using testing_support::TempDir;
using testing_support::WriteBytes;

// A duet in code page 936: a title line, a sung line with word times, a
// line in two parts and a Chinese line ("moon" as GBK bytes).
const char kSong[] =
    "[ti:Moon]\r\n"
    "[00:01.00]Song:Moon\r\n"
    "[00:02.00]<00:02.00>la <00:02.50>li<00:03.00>\r\n"
    "[00:04.00]{M}one{W}two\r\n"
    "[00:06.00]\xD4\xC2\xC1\xC1\r\n";

class LyricsCommand : public ::testing::Test {
  protected:
    void SetUp() override { WriteBytes(dir_.File("song.lrc"), kSong); }
    std::string Song() const { return dir_.File("song.lrc"); }
    TempDir dir_;
};

// The JSON without its layout (no text in these fixtures holds a space
// that matters).
std::string Compact(const std::string& json) {
    std::string out;
    for (const char c : json) {
        if (c != ' ' && c != '\n') {
            out += c;
        }
    }
    return out;
}

TEST_F(LyricsCommand, PrintsTheParsedDocument) {
    const CliRun r = RunCli({"lyrics", Song()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string json = Compact(r.out);
    for (const char* part : {
             "\"title\":\"Moon\"",
             "\"tags\":{\"ti\":\"Moon\"}",
             "\"displayLines\":5",
             "{\"end\":2000,\"parts\":[{\"end\":2000,\"part\":0,\"text\":\"Song:Moon\"",
             "\"words\":[{\"start\":2000,\"text\":\"la\"},{\"start\":2500,\"text\":\"li\"},"
             "{\"start\":3000,\"text\":\"\"}]}],\"start\":2000}",
             "\"part\":0,\"text\":\"one\"",
             "\"part\":1,\"text\":\"two\"",
             "\"text\":\"\xE6\x9C\x88\xE4\xBA\xAE\"",  // decoded from code page 936
             "\"partSwitch\":false",
         }) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << r.out;
    }
    EXPECT_LT(json.find("Song:Moon"), json.find("\"one\""));
}

TEST_F(LyricsCommand, AtGivesTheCurrentAndNextLineWithTheirWipe) {
    struct Case {
        const char* at;
        const char* current;
        const char* next;
    };
    const Case cases[] = {
        {"0", "{\"line\":1,\"part\":0,\"progress\":0,\"text\":\"Song:Moon\"}", "null"},
        {"1500", "{\"line\":1,\"part\":0,\"progress\":50,\"text\":\"Song:Moon\"}",
         "{\"line\":2,\"part\":0,\"progress\":0,\"text\":\"lali\"}"},
        // Word by word: half of "la " is 1.5 of the line's 5 characters.
        {"2250", "{\"line\":2,\"part\":0,\"progress\":30,\"text\":\"lali\"}",
         "{\"line\":3,\"part\":0,\"progress\":0,\"text\":\"one\"}"},
        {"2750", "{\"line\":2,\"part\":0,\"progress\":80,\"text\":\"lali\"}",
         "{\"line\":3,\"part\":0,\"progress\":0,\"text\":\"one\"}"},
        {"3500", "{\"line\":2,\"part\":0,\"progress\":100,\"text\":\"lali\"}",
         "{\"line\":3,\"part\":0,\"progress\":0,\"text\":\"one\"}"},
        // Both parts of the duet line are wiped together.
        {"5000", "{\"line\":3,\"part\":0,\"progress\":50,\"text\":\"one\"}",
         "{\"line\":4,\"part\":1,\"progress\":50,\"text\":\"two\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        const CliRun r = RunCli({"lyrics", Song(), "--at", c.at});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Compact(r.out), std::string("{\"at\":") + c.at + ",\"current\":" + c.current +
                                      ",\"next\":" + c.next + "}");
    }
}

TEST_F(LyricsCommand, SealedLyricFileReadsTheSame) {
    ASSERT_EQ(RunCli({"hlf", "seal", Song(), dir_.File("song.hlf")}).code, 0);
    const CliRun plain = RunCli({"lyrics", Song()});
    const CliRun sealed = RunCli({"lyrics", dir_.File("song.hlf")});
    ASSERT_EQ(sealed.code, 0) << sealed.err;
    EXPECT_EQ(sealed.out, plain.out);
}

TEST_F(LyricsCommand, UnreadableFilesAndBadUsage) {
    WriteBytes(dir_.File("notes.txt"), "no tags here\r\n");
    WriteBytes(dir_.File("broken.hlf"), std::string("\xFF\xFF\x01\x02", 4) + std::string(20, 'x'));
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {{"lyrics", dir_.File("missing.lrc")}, 1, "cannot read"},
        {{"lyrics", dir_.File("notes.txt")}, 1, "no lyric document"},
        {{"lyrics", dir_.File("broken.hlf")}, 1, "cannot read"},
        {{"lyrics"}, 2, "usage: vokari-cli lyrics"},
        {{"lyrics", Song(), "--at"}, 2, "--at"},
        {{"lyrics", Song(), "--at", "-5"}, 2, "--at"},
        {{"lyrics", Song(), "--at", "soon"}, 2, "--at"},
        {{"lyrics", Song(), Song()}, 2, "unexpected"},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCli(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << " " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
