// Runs the built vokari-cli.
#include <gtest/gtest.h>

#include "platform/TestSupport.h"

namespace {

using testing_support::Child;

const std::string kCli = std::string(VOKARI_BIN_DIR) + "/vokari-cli";

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), kCli);
    Child child(args);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

TEST(Cli, HelpAndVersionSucceedOnStdout) {
    for (const char* help : {"--help", "-h"}) {
        const CliRun r = RunCli({help});
        EXPECT_EQ(r.code, 0) << help;
        EXPECT_NE(r.out.find("usage: vokari-cli"), std::string::npos) << help;
        EXPECT_NE(r.out.find("--version"), std::string::npos) << help;
        EXPECT_EQ(r.err, "") << help;
    }
    const CliRun v = RunCli({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out, "vokari-cli " VOKARI_TEST_VERSION "\n");
    EXPECT_EQ(v.err, "");
}

TEST(Cli, BadCommandLinesGiveUsageAndExitCodeTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--bogus"}, {"no-such-command"}, {"--version", "extra"}, {"--help", "extra"}};
    for (const auto& args : cases) {
        const CliRun r = RunCli(args);
        const std::string shown = args.empty() ? "(none)" : args.front();
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << shown;
    }
    EXPECT_NE(RunCli({"--bogus"}).err.find("unknown option '--bogus'"), std::string::npos);
    EXPECT_NE(RunCli({"frobnicate"}).err.find("unknown command 'frobnicate'"), std::string::npos);
}

}  // namespace
