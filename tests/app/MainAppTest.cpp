#include "app/MainApp.h"

#include <gtest/gtest.h>
#include <time.h>

#include <filesystem>

#include "app/DriverFolder.h"
#include "app/RecordingSeams.h"
#include "platform/TestSupport.h"
#include "platform/instance/SingleInstance.h"
#include "platform/thread/Event.h"

namespace {

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteBytes;
using Calls = std::vector<std::string>;

// Data folder below a dot-folder, as on a real desktop; a private runtime
// folder; a fixed time zone; a program folder with a good driver.
class MainAppTest : public ::testing::Test {
  protected:
    void SetUp() override { tzset(); }
    void TearDown() override {
        tz_.reset();
        tzset();
    }

    std::string DataHome() const { return home_.File(".local/share"); }
    std::string DataFolder() const { return DataHome() + "/Vokari/"; }

    Calls Run(std::vector<std::wstring> args, unsigned extraFlags = 0) {
        CMainApp::Options options;
        options.programFolder = program_.Folder();
        options.extraStartFlags = extraFlags;
        CMainApp app(seams_, options);
        EXPECT_EQ(GetMainApp(), &app);
        EXPECT_EQ(app.Run(args), 0);
        flags_ = app.StartFlags();
        installerPath_ = app.InstallerPath();
        return seams_.Calls();
    }

    // The calls of a complete start-up and its mirrored shut-down.
    Calls FullRun() const {
        return {"StartDrawing",
                "LoadDictionary zh-TW",
                "CreateMarkupController",
                "CreateVersionManager",
                "FinishPendingUpdate",
                "ClearCatalogueCache " + DataFolder(),
                "KaraokeSystemStartup " + DataFolder() + "KTV/",
                "RunMainWindow",
                "main window closed",
                "DestroyVersionManager",
                "ReleaseMarkupController",
                "FreeDictionary",
                "ShutdownSkinToolkit",
                "KaraokeSystemShutdown",
                "StopDrawing"};
    }

    std::unique_ptr<ScopedEnv> tz_ = std::make_unique<ScopedEnv>("TZ", "CST-8");
    TempDir home_;
    TempDir runtime_;
    ScopedEnv data_{"XDG_DATA_HOME", DataHome()};
    ScopedEnv run_{"XDG_RUNTIME_DIR", runtime_.Path()};
    ScopedEnv lang_{"LC_ALL", "zh_TW.UTF-8"};
    DriverFolder program_;
    RecordingSeams seams_;
    unsigned flags_ = 0;
    std::wstring installerPath_;
};

TEST_F(MainAppTest, FullStartAndMirroredShutDown) {
    EXPECT_EQ(Run({}), FullRun());
    EXPECT_TRUE(std::filesystem::is_directory(DataFolder() + "KTV"));
    // The settings were created, so they are written, with the sync time
    // set by the cache reset.
    const std::string settings = ReadBytes(DataFolder() + "setting.ini");
    EXPECT_NE(settings.find("MultiLanguage=zh-TW\r\n"), std::string::npos);
    EXPECT_NE(settings.find("LastWebSyncTime=2023-10-15 6:13:20\r\n"), std::string::npos);
    EXPECT_EQ(GetMainApp(), nullptr);
}

TEST_F(MainAppTest, FoldersFollowTheProgramAndTheDataHome) {
    CMainApp::Options options;
    options.programFolder = program_.Folder();
    CMainApp app(seams_, options);
    app.InitInstance({L"/q"});
    EXPECT_EQ(app.ProgramFolder(), program_.Folder());
    EXPECT_EQ(app.SkinFolder(), program_.Folder() + L"Skin/Vokari/");
    EXPECT_EQ(app.DataFolder(), platform::FromUtf8(DataFolder()));
    EXPECT_TRUE(std::filesystem::is_directory(DataFolder()));
    app.ExitInstance();
}

TEST_F(MainAppTest, EarlyEndsUndoOnlyWhatWasReached) {
    struct Case {
        const char* name;
        std::function<void(RecordingSeams&, DriverFolder&)> arrange;
        Calls expected;
    };
    const std::string data = DataFolder();
    const Case cases[] = {
        {"no dictionary at all",
         [](RecordingSeams& s, DriverFolder&) { s.culturesThatLoad.clear(); },
         {"StartDrawing", "LoadDictionary zh-TW", "LoadDictionary en-US",
          "ShowPlainMessageBox Failed to find language resource!", "FreeDictionary",
          "StopDrawing"}},
        {"driver too old",
         [](RecordingSeams&, DriverFolder& d) { d.Configure(1, "6.0.2175", "1.0.10"); },
         {"StartDrawing", "LoadDictionary zh-TW", "CreateMarkupController",
          "ShowMessageBox 4 <ml_Error_Invalid_CPL_Driver> <ml_Message_Caption> 0",
          "ReleaseMarkupController", "FreeDictionary", "ShutdownSkinToolkit", "StopDrawing"}},
        {"installer started by the update check",
         [](RecordingSeams& s, DriverFolder&) { s.installerStarted = true; },
         {"StartDrawing", "LoadDictionary zh-TW", "CreateMarkupController", "CreateVersionManager",
          "FinishPendingUpdate", "ReleaseDownloaderManager", "DestroyVersionManager",
          "ReleaseMarkupController", "FreeDictionary", "ShutdownSkinToolkit", "StopDrawing"}},
        {"subsystems that did not start are not stopped",
         [](RecordingSeams& s, DriverFolder&) {
             s.drawing = false;
             s.markup = false;
             s.versionManager = false;
             s.karaokeResult = -1;
         },
         {"StartDrawing", "LoadDictionary zh-TW", "CreateMarkupController", "CreateVersionManager",
          "ClearCatalogueCache " + data, "KaraokeSystemStartup " + data + "KTV/", "RunMainWindow",
          "main window closed", "FreeDictionary"}},
    };
    for (const Case& c : cases) {
        RecordingSeams seams;
        DriverFolder program;
        c.arrange(seams, program);
        std::filesystem::remove(data + "setting.ini");
        CMainApp::Options options;
        options.programFolder = program.Folder();
        CMainApp app(seams, options);
        EXPECT_EQ(app.Run({}), 0) << c.name;
        EXPECT_EQ(seams.Calls(), c.expected) << c.name;
        // Created settings are always written, however early the end.
        EXPECT_TRUE(Exists(data + "setting.ini")) << c.name;
    }
}

TEST_F(MainAppTest, MissingDriverShowsTheInstallMessage) {
    RecordingSeams seams;
    DriverFolder noDriver(nullptr);
    CMainApp::Options options;
    options.programFolder = noDriver.Folder();
    CMainApp app(seams, options);
    app.Run({});
    const Calls calls = seams.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[3], "ShowMessageBox 3 <ml_Error_Install_Driver> <ml_Message_Caption> 0");
}

TEST_F(MainAppTest, QuietRunEndsWithoutWindowOrSettings) {
    EXPECT_EQ(Run({L"/q"}), Calls{});
    EXPECT_EQ(flags_, kQuietRun);
    EXPECT_TRUE(std::filesystem::is_directory(DataFolder()));
    EXPECT_FALSE(Exists(DataFolder() + "setting.ini"));
}

TEST_F(MainAppTest, CleaningDeletesOnlyPlainFilesOfTheDataFolder) {
    std::filesystem::create_directories(DataFolder() + "song");
    for (const char* name : {"a.jsn", "setting.ini", ".keep", "song/inside.mp3"}) {
        WriteBytes(DataFolder() + name, "x");
    }
    // The quiet run cleans even below a dot-folder.
    EXPECT_EQ(Run({L"/q"}, kCleanDataFolder), Calls{});
    EXPECT_FALSE(Exists(DataFolder() + "a.jsn"));
    EXPECT_FALSE(Exists(DataFolder() + "setting.ini"));
    EXPECT_TRUE(Exists(DataFolder() + ".keep"));
    EXPECT_TRUE(Exists(DataFolder() + "song/inside.mp3"));
    EXPECT_EQ(CleanDataFolder(platform::FromUtf8(DataFolder())), 0);
}

TEST_F(MainAppTest, InstallerSwitchAsTheLastArgumentStartsNormally) {
    EXPECT_EQ(Run({L"/q", L"/i"}), FullRun());
    EXPECT_EQ(flags_, kRunInstaller);
    EXPECT_EQ(installerPath_, L"");
}

TEST_F(MainAppTest, SecondStartHandsOverItsFlagsAndTouchesNothing) {
    std::filesystem::create_directories(DataFolder());
    WriteBytes(DataFolder() + "a.jsn", "kept");
    platform::SingleInstance running(L"Vokari");
    ASSERT_EQ(running.Acquire(), platform::SingleInstance::State::Owner);
    std::atomic<unsigned> received{0};
    platform::Event arrived;
    ASSERT_TRUE(running.Listen([&](std::uint32_t f) {
        received = f;
        arrived.Set();
    }));
    // Hidden and clean flags: the hidden one is not passed on, and the
    // second instance cleans nothing.
    EXPECT_EQ(Run({L"/h", L"/u", L"/q"}, kStartHidden | kCleanDataFolder), Calls{});
    ASSERT_TRUE(arrived.Wait(30000));
    EXPECT_EQ(received.load(), kQuietRun | kCleanDataFolder);
    EXPECT_FALSE(Exists(DataFolder() + "setting.ini"));
    EXPECT_EQ(ReadBytes(DataFolder() + "a.jsn"), "kept");
}

TEST_F(MainAppTest, ActivationsReachTheMainWindowAndTheExitFlagEndsIt) {
    seams_.mainWindowTimeoutMs = 60000;
    std::thread other([&] {
        // Once the window runs, a second start asks it to come forward,
        // a third one to exit.
        testing_support::WaitFor([&] {
            const Calls calls = seams_.Calls();
            return std::find(calls.begin(), calls.end(), "RunMainWindow") != calls.end();
        });
        platform::SingleInstance second(L"Vokari");
        EXPECT_EQ(second.Acquire(), platform::SingleInstance::State::AnotherRuns);
        EXPECT_TRUE(second.Notify(0));
        testing_support::WaitFor([&] {
            const Calls calls = seams_.Calls();
            return std::find(calls.begin(), calls.end(), "activated 0") != calls.end();
        });
        EXPECT_TRUE(second.Notify(kQuietRun));
    });
    const Calls calls = Run({});
    other.join();
    const auto window = std::find(calls.begin(), calls.end(), "RunMainWindow");
    ASSERT_NE(window, calls.end());
    EXPECT_EQ(*(window + 1), "activated 0");
    EXPECT_EQ(*(window + 2), "activated 8");
    EXPECT_EQ(*(window + 3), "exit command");
}

TEST_F(MainAppTest, CatalogueCacheIsResetAfterMoreThanFourHours) {
    struct Case {
        std::int64_t age;
        bool cleared;
    };
    const Case cases[] = {{14400, false}, {14401, true}, {-1, false}, {-100000, false}};
    for (const Case& c : cases) {
        RecordingSeams seams;
        const std::int64_t lastSync = seams.now - c.age;
        std::filesystem::create_directories(DataFolder());
        WriteBytes(
            DataFolder() + "setting.ini",
            "[Setting]\r\nLastWebSyncTime=" + platform::ToUtf8(FormatSyncTime(lastSync)) + "\r\n");
        CMainApp::Options options;
        options.programFolder = program_.Folder();
        CMainApp app(seams, options);
        app.Run({});
        const Calls calls = seams.Calls();
        const bool cleared = std::find(calls.begin(), calls.end(),
                                       "ClearCatalogueCache " + DataFolder()) != calls.end();
        EXPECT_EQ(cleared, c.cleared) << c.age;
        const std::wstring stored = FormatSyncTime(c.cleared ? seams.now : lastSync);
        EXPECT_NE(ReadBytes(DataFolder() + "setting.ini")
                      .find("LastWebSyncTime=" + platform::ToUtf8(stored) + "\r\n"),
                  std::string::npos)
            << c.age;
    }
}

TEST(StartupSteps, CommandLineTable) {
    struct Case {
        std::vector<std::wstring> args;
        unsigned flags;
        std::wstring installer;
    };
    const Case cases[] = {
        {{}, 0, L""},
        {{L"/q"}, kQuietRun, L""},
        {{L"/Q"}, 0, L""},  // case-sensitive
        {{L"/h", L"/u", L"other"}, 0, L""},
        {{L"/q", L"/i", L"/tmp/setup.run"}, kRunInstaller, L"/tmp/setup.run"},
        {{L"/i", L"/tmp/a", L"/q"}, kRunInstaller, L"/tmp/a"},  // parsing ends at /i
        {{L"/q", L"/i"}, kRunInstaller, L""},
        {{L"/q", L"/q"}, kQuietRun, L""},
    };
    for (const Case& c : cases) {
        const StartCommandLine parsed = ParseCommandLine(c.args);
        EXPECT_EQ(parsed.flags, c.flags) << c.args.size();
        EXPECT_EQ(parsed.installerPath, c.installer);
    }
}

TEST(StartupSteps, CacheExpiryArithmetic) {
    const std::int64_t now = 1700000000;
    EXPECT_FALSE(CatalogueCacheExpired(now, now - 14400));
    EXPECT_TRUE(CatalogueCacheExpired(now, now - 14401));
    EXPECT_FALSE(CatalogueCacheExpired(now, now + 1));      // clock set back
    EXPECT_FALSE(CatalogueCacheExpired(now, now + 20000));  // ... even far back
    EXPECT_TRUE(CatalogueCacheExpired(now, 0));
    EXPECT_TRUE(CatalogueCacheExpired(INT64_MAX, INT64_MIN));
    EXPECT_FALSE(CatalogueCacheExpired(INT64_MIN, INT64_MAX));
}

}  // namespace
