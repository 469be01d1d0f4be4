// vokari-cli melody, run as a program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/TestSupport.h"

namespace {

using testing_support::Child;

struct MelodyRun {
    int code;
    std::string out;
    std::string err;
};

MelodyRun Melody(std::vector<std::string> args) {
    args.insert(args.begin(), {std::string(VOKARI_BIN_DIR) + "/vokari-cli", "melody"});
    Child child(args);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

class MelodyCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vk-cli-melody-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string dir_;
};

}  // namespace

TEST_F(MelodyCommand, PrintsEntriesPhrasesAndDuration) {
    const std::string lyric =
        Write("song.lrc",
              "[00:01.00]<00:01.00>la(E4)<00:01.50>la(G4)<00:02.00>la(A4)<00:03.20>(X)\r\n"
              "[00:05.00]<00:05.00>la(C5)<00:05.80>(X)\r\n");
    const MelodyRun r = Melody({lyric});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"duration\":5900"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"start\":1000,\"pitch\":-20,\"end\":1500}"), std::string::npos);
    EXPECT_NE(r.out.find("{\"start\":3200,\"pitch\":-128,\"end\":5000}"), std::string::npos);
    EXPECT_NE(r.out.find("{\"first\":0,\"count\":3,\"start\":1000,\"end\":5000}"),
              std::string::npos);
    EXPECT_NE(r.out.find("{\"first\":4,\"count\":3,\"start\":5000,\"end\":5900}"),
              std::string::npos);

    const MelodyRun up = Melody({lyric, "--key", "2"});
    ASSERT_EQ(up.code, 0);
    EXPECT_NE(up.out.find("{\"start\":1000,\"pitch\":-12,\"end\":1500}"), std::string::npos)
        << up.out;
}

TEST_F(MelodyCommand, ExitCodesForBadInput) {
    const std::string words = Write("words.lrc", "[00:01.00]only words\r\n");
    const std::string rests = Write("rests.lrc", "<00:01.00>a(X)<00:02.00>b(Y)\r\n");
    const std::string good = Write("good.lrc", "<00:01.00>a(A4)\r\n");
    std::string damaged("\xFF\xFF\x01\x03", 4);
    damaged.append(12, '\0');
    damaged.append(5, 'x');  // not whole cipher blocks
    const std::string container = Write("bad.hlf", damaged);
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{dir_ + "/missing.lrc"}, 3, "cannot read"},
        {{container}, 3, "cannot read"},
        {{words}, 4, "no reference melody"},
        {{rests}, 4, "no reference melody"},
        {{}, 2, "usage"},
        {{good, "--key", "13"}, 2, "--key"},
        {{good, "--key"}, 2, "--key"},
        {{good, "--key", "x"}, 2, "--key"},
        {{good, good}, 2, "unexpected"},
    };
    for (const Case& c : cases) {
        const MelodyRun r = Melody(c.args);
        EXPECT_EQ(r.code, c.code) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
