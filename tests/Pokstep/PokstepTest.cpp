// Runs the built Pokstep with a stand-in opener on PATH that records what
// it was asked to open.
#include <gtest/gtest.h>

#include "platform/TestSupport.h"

namespace {

using testing_support::Child;
using testing_support::FakeOpener;
using testing_support::TempDir;
using testing_support::WaitFor;

const std::string kPokstep = std::string(VOKARI_BIN_DIR) + "/Pokstep";

// Anything under this shows the program did not sit through its two-second
// delay; it is not a speed requirement.
constexpr double kWithoutWaitingMs = 1900;

TEST(Pokstep, WrongArgumentCountsReturnAtOnceAndOpenNothing) {
    FakeOpener opener;
    const std::vector<std::vector<std::string>> commandLines = {
        {kPokstep}, {kPokstep, "/tmp/a", "/tmp/b"}, {kPokstep, "a", "b", "c"}};
    for (const auto& argv : commandLines) {
        Child child(argv, {"PATH=" + opener.Folder()});
        ASSERT_TRUE(child.Started());
        EXPECT_EQ(child.Wait(), 0) << argv.size();
        EXPECT_LT(child.ElapsedMs(), kWithoutWaitingMs) << argv.size();
        EXPECT_EQ(child.Out() + child.Err(), "");
    }
    EXPECT_EQ(opener.Opened(), "");
}

TEST(Pokstep, OneArgumentIsOpenedAfterTwoSeconds) {
    FakeOpener opener;
    TempDir dir;
    const std::string missing = dir.File("no such installer.run");
    Child child({kPokstep, missing}, {"PATH=" + opener.Folder()});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_GE(child.ElapsedMs(), 1990);
    EXPECT_EQ(child.Out() + child.Err(), "");
    ASSERT_TRUE(WaitFor([&] { return !opener.Opened().empty(); }));
    EXPECT_EQ(opener.Opened(), missing + "\n");
}

TEST(Pokstep, NoOpenerInstalledStillEndsWithZero) {
    TempDir empty;
    Child child({kPokstep, "/tmp/x"}, {"PATH=" + empty.Path()});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_GE(child.ElapsedMs(), 1990);
}

}  // namespace
