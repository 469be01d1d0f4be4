#include "app/ProgramSubsystems.h"

#include <gtest/gtest.h>

#include "app/MainApp.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/TestSupport.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Utf.h"

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(ProgramSubsystems, KaraokeStepsStartAndStopTheRealSubsystem) {
    TempDir runtime, history;
    ScopedEnv run("XDG_RUNTIME_DIR", runtime.Path());
    ProgramSubsystems subsystems;
    // Loading the history rescans through the temp folder: keep it here
    // (the context of an earlier shut-down is closed for good).
    SetKaraokeContextClosed(false);
    GetKaraokeContext()->SetTempFolder(runtime.Folder() + L"KTV_Temp/");
    ASSERT_EQ(subsystems.KaraokeSystemStartup(history.Folder()), 0);
    ASSERT_NE(GetKaraokeContext(), nullptr);
    EXPECT_EQ(GetKaraokeContext()->GetHistoryRoot(), history.Folder());
    EXPECT_EQ(subsystems.KaraokeSystemShutdown(), 0);
}

TEST(ProgramSubsystems, MissingSubsystemsSayNoAndSaySo) {
    platform::CapturedDebugOutput log;
    ProgramSubsystems subsystems;
    EXPECT_FALSE(subsystems.CreateMarkupController());
    EXPECT_FALSE(subsystems.CreateVersionManager());
    EXPECT_TRUE(log.Contains("markup controller"));
    EXPECT_TRUE(log.Contains("version manager"));
}

// The program's own language files, as laid out beside the program.
const std::wstring kProgramFolder = platform::FromUtf8(VOKARI_BIN_DIR) + L"/";

TEST(ProgramSubsystems, DictionaryStepLoadsTheProgramsLanguageFiles) {
    struct Case {
        const wchar_t* culture;
        bool loads;
        const wchar_t* installDriver;
    };
    const Case cases[] = {
        {L"en-US", true,
         L"The sound card driver is not installed. Please install the driver first."},
        {L"zh-CN", true, L"未安装声卡驱动程序，请先安装驱动程序。"},
        {L"zh-TW", true, L"未安裝音效卡驅動程式，請先安裝驅動程式。"},
        // The application object asks for the fallback itself.
        {L"da-DK", false, L""},
        {L"", false, L""},
        {L"../en-US", false, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.culture));
        ProgramSubsystems subsystems(kProgramFolder);
        EXPECT_EQ(subsystems.LookUpText(L"ml_Error_Install_Driver"), L"");
        EXPECT_EQ(subsystems.LoadDictionary(c.culture), c.loads);
        EXPECT_EQ(subsystems.LookUpText(L"ml_Error_Install_Driver"), c.installDriver);
        EXPECT_EQ(subsystems.Dictionary() != nullptr, c.loads);
    }
}

TEST(ProgramSubsystems, FailedLoadKeepsTheLoadedDictionaryAndFreeEmptiesIt) {
    ProgramSubsystems subsystems(kProgramFolder);
    ASSERT_TRUE(subsystems.LoadDictionary(L"zh-CN"));
    EXPECT_FALSE(subsystems.LoadDictionary(L"xx-XX"));
    EXPECT_EQ(subsystems.LookUpText(L"ml_Error_Install_Driver"),
              L"未安装声卡驱动程序，请先安装驱动程序。");
    EXPECT_EQ(subsystems.LookUpText(L"ml_No_Such_Key"), L"");
    subsystems.FreeDictionary();
    EXPECT_EQ(subsystems.Dictionary(), nullptr);
    EXPECT_EQ(subsystems.LookUpText(L"ml_Error_Install_Driver"), L"");
}

TEST(ProgramSubsystems, FolderWithoutLanguageFilesLoadsNothing) {
    TempDir program;
    ProgramSubsystems subsystems(program.Folder());
    EXPECT_FALSE(subsystems.LoadDictionary(L"en-US"));
    EXPECT_EQ(subsystems.LookUpText(L"ml_Message_Caption"), L"");
}

TEST(ProgramSubsystems, MainAppLooksTextsUpInTheLoadedDictionary) {
    ProgramSubsystems subsystems(kProgramFolder);
    CMainApp app(subsystems);
    EXPECT_EQ(app.LookUpText(L"ml_Message_Caption"), L"");
    ASSERT_TRUE(subsystems.LoadDictionary(L"en-US"));
    EXPECT_EQ(app.LookUpText(L"ml_Message_Caption"),
              L"Vokari cannot start. Please reinstall the program or contact support.");
}

}  // namespace
