#include "app/ProgramSubsystems.h"

#include <gtest/gtest.h>

#include "karaoke/context/KaraokeContext.h"
#include "platform/TestSupport.h"
#include "platform/debug/DebugLog.h"

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(ProgramSubsystems, KaraokeStepsStartAndStopTheRealSubsystem) {
    TempDir runtime, history;
    ScopedEnv run("XDG_RUNTIME_DIR", runtime.Path());
    ProgramSubsystems subsystems;
    ASSERT_EQ(subsystems.KaraokeSystemStartup(history.Folder()), 0);
    ASSERT_NE(GetKaraokeContext(), nullptr);
    EXPECT_EQ(GetKaraokeContext()->GetHistoryRoot(), history.Folder());
    EXPECT_EQ(subsystems.KaraokeSystemShutdown(), 0);
}

TEST(ProgramSubsystems, MissingSubsystemsSayNoAndSaySo) {
    platform::CapturedDebugOutput log;
    ProgramSubsystems subsystems;
    EXPECT_FALSE(subsystems.LoadDictionary(L"en-US"));
    EXPECT_FALSE(subsystems.CreateMarkupController());
    EXPECT_FALSE(subsystems.CreateVersionManager());
    EXPECT_TRUE(log.Contains("language dictionary"));
    EXPECT_EQ(subsystems.LookUpText(L"ml_Main_Title"), L"");
}

}  // namespace
