// The subcommands of the built vokari-cli.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/TestSupport.h"

namespace {

using testing_support::Child;
using testing_support::TempDir;
using testing_support::WriteBytes;

const std::string kCli = std::string(VOKARI_BIN_DIR) + "/vokari-cli";

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Cli(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), kCli);
    Child child(args, env);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

TEST(CliSubcommands, HelpListsThemAndEachHasItsOwnUsage) {
    const Result help = Cli({"--help"});
    EXPECT_NE(help.out.find("settings"), std::string::npos);
    EXPECT_NE(help.out.find("driver-probe"), std::string::npos);
    const Result own = Cli({"settings", "--help"});
    EXPECT_EQ(own.code, 0);
    EXPECT_NE(own.out.find("usage: vokari-cli settings"), std::string::npos);
}

TEST(CliSubcommands, SettingsShowsWhatTheProgramWouldLoad) {
    TempDir data, program;
    WriteBytes(data.File("setting.ini"),
               "[Setting]\r\nSkin=Dark\r\nForceUpdate=5\r\nLastWebSyncTime=2015-2-5 14:7:9\r\n");
    const Result r =
        Cli({"settings", "--data-folder", data.Path(), "--program-folder", program.Path()},
            {"TZ=CST-8", "LC_ALL=zh_CN.UTF-8"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Skin=Dark\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MultiLanguage=zh-CN\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ForceUpdate=1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LastWebSyncTime=2015-2-5 14:7:9\n"), std::string::npos) << r.out;
}

TEST(CliSubcommands, DriverProbeReportsTheResult) {
    TempDir program;
    const Result missing = Cli({"driver-probe", "--program-folder", program.Path()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out.rfind("1 ", 0), 0u) << missing.out;

    std::filesystem::create_directories(program.File("Driver"));
    std::filesystem::copy_file(TEST_MENDRA_PATH, program.File("Driver/libMendra.so"));
    const Result ready = Cli({"driver-probe", "--program-folder", program.Path()});
    EXPECT_EQ(ready.code, 0) << ready.out << ready.err;
    EXPECT_EQ(ready.out.rfind("0 driver ready", 0), 0u) << ready.out;
}

TEST(CliSubcommands, BadOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"settings", "--bogus", "x"}, {"settings", "--data-folder"}, {"driver-probe", "stray"}};
    for (const auto& args : cases) {
        const Result r = Cli(args);
        EXPECT_EQ(r.code, 2) << args[1];
        EXPECT_FALSE(r.err.empty()) << args[1];
    }
}

}  // namespace
