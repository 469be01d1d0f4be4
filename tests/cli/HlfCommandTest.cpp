// vokari-cli hlf, run as a program.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliRun.h"

namespace {

using cli_test::RunCli;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(HlfCommand, SealAndOpenRoundTripWithTheChosenKey) {
    TempDir dir;
    // Sizes around the cipher block: none, less than one, exactly one, more.
    for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 5000u}) {
        SCOPED_TRACE(size);
        std::string plain(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            plain[i] = static_cast<char>(i * 7 + 3);
        }
        WriteBytes(dir.File("plain"), plain);
        const auto sealed =
            RunCli({"hlf", "seal", dir.File("plain"), dir.File("sealed.hlf"), "--key", "7"});
        ASSERT_EQ(sealed.code, 0) << sealed.err;
        const std::string container = ReadBytes(dir.File("sealed.hlf"));
        ASSERT_EQ(container.size(), 16 + size + 16 - size % 16);
        EXPECT_EQ(static_cast<unsigned char>(container[0]), 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(container[1]), 0xFF);
        EXPECT_EQ(container[2], 1);
        EXPECT_EQ(container[3], 7);
        if (size > 0) {
            EXPECT_EQ(container.find(plain), std::string::npos) << "not enciphered";
        }

        const auto opened = RunCli({"hlf", "open", dir.File("sealed.hlf"), dir.File("back")});
        ASSERT_EQ(opened.code, 0) << opened.err;
        EXPECT_EQ(ReadBytes(dir.File("back")), plain);
    }
}

TEST(HlfCommand, OpeningWhatIsNoContainerFailsAndKeepsTheOutput) {
    TempDir dir;
    WriteBytes(dir.File("plain.lrc"), "[00:01.00]not sealed at all, just text\n");
    WriteBytes(dir.File("out"), "keep me");
    const auto r = RunCli({"hlf", "open", dir.File("plain.lrc"), dir.File("out")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("plain.lrc"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(dir.File("out")), "keep me");

    const auto missing = RunCli({"hlf", "seal", dir.File("nothing"), dir.File("out")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(ReadBytes(dir.File("out")), "keep me");
}

TEST(HlfCommand, BadUsageExitsWithTwo) {
    TempDir dir;
    WriteBytes(dir.File("in"), "x");
    const std::vector<std::vector<std::string>> cases = {
        {"hlf"},
        {"hlf", "crush", dir.File("in"), dir.File("out")},
        {"hlf", "seal", dir.File("in")},
        {"hlf", "seal", dir.File("in"), dir.File("out"), dir.File("more")},
        {"hlf", "seal", dir.File("in"), dir.File("out"), "--key", "20"},
        {"hlf", "seal", dir.File("in"), dir.File("out"), "--key", "-1"},
        {"hlf", "seal", dir.File("in"), dir.File("out"), "--key"},
        {"hlf", "open", dir.File("in"), dir.File("out"), "--key", "3"},
        {"hlf", "seal", dir.File("in"), dir.File("in")},
    };
    for (const auto& args : cases) {
        const auto r = RunCli(args);
        EXPECT_EQ(r.code, 2) << args.size() << " " << args.back();
        EXPECT_NE(r.err.find("usage: vokari-cli hlf"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
    EXPECT_EQ(ReadBytes(dir.File("in")), "x");
}

}  // namespace
