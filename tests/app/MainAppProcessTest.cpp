// The application object across real processes: the built Vokari program
// and a host process running the same application object over recording
// stand-ins (its main window waits for other instances).
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <filesystem>

#include "app/DriverFolder.h"
#include "platform/TestSupport.h"

namespace {

using testing_support::Child;
using testing_support::Exists;
using testing_support::FakeOpener;
using testing_support::TempDir;

const std::string kVokari = std::string(VOKARI_BIN_DIR) + "/Vokari";
const std::string kHost = APP_INSTANCE_HOST_PATH;

// Under this a run did not wait for the installer delay; not a speed goal.
constexpr double kWithoutWaitingMs = 1900;

class MainAppProcessTest : public ::testing::Test {
  protected:
    std::vector<std::string> Env() const {
        return {"XDG_DATA_HOME=" + data_.Path(), "XDG_RUNTIME_DIR=" + runtime_.Path(),
                "XDG_CONFIG_HOME=" + config_.Path(), "TZ=CST-8", "LC_ALL=en_US.UTF-8"};
    }
    std::string DataFolder() const { return data_.Path() + "/Vokari/"; }
    std::string SettingsFile() const { return DataFolder() + "setting.ini"; }

    std::unique_ptr<Child> StartHost(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {kHost, program_.Path()});
        auto host = std::make_unique<Child>(args, Env());
        EXPECT_TRUE(host->WaitForOutput("RunMainWindow")) << host->Out() << host->Err();
        return host;
    }

    // The program and its language files in a folder without Driver/.
    std::string CopyWithoutDriver() {
        const std::filesystem::path bin(VOKARI_BIN_DIR);
        std::filesystem::copy_file(bin / "Vokari", bare_.File("Vokari"));
        std::filesystem::copy(bin / "lang", bare_.File("lang"),
                              std::filesystem::copy_options::recursive);
        return bare_.File("Vokari");
    }

    TempDir data_;
    TempDir runtime_;
    TempDir config_;  // the sound-card layer's registry and state files
    TempDir bare_;
    DriverFolder program_;
};

TEST_F(MainAppProcessTest, QuietRunWithoutAnInstanceEndsAtOnce) {
    Child vokari({kVokari, "/q"}, Env());
    ASSERT_EQ(vokari.Wait(), 0) << vokari.Err();
    EXPECT_LT(vokari.ElapsedMs(), kWithoutWaitingMs);
    EXPECT_TRUE(std::filesystem::is_directory(DataFolder()));
    EXPECT_FALSE(Exists(SettingsFile()));
    EXPECT_EQ(vokari.Out(), "");
}

TEST_F(MainAppProcessTest, PlainStartRunsUpToTheMainWindowAndWritesTheSettings) {
    // With its language files and the sound-card layer beside it, the
    // program passes the dictionary and the driver steps, resets the
    // catalogue cache of a first run, and ends where the main window would
    // run; the settings it created are written all the same.
    Child vokari({kVokari}, Env());
    ASSERT_EQ(vokari.Wait(), 0);
    EXPECT_EQ(vokari.Err().find("Failed to find language resource!"), std::string::npos)
        << vokari.Err();
    EXPECT_EQ(vokari.Err().find("sound card driver"), std::string::npos) << vokari.Err();
    EXPECT_NE(vokari.Err().find("The main window is not part of this build yet."),
              std::string::npos)
        << vokari.Err();
    const std::string settings = testing_support::ReadBytes(SettingsFile());
    EXPECT_NE(settings.find("[Setting]\r\nMultiLanguage=en-US\r\nSkin=Vokari\r\n"),
              std::string::npos)
        << settings;
    EXPECT_NE(settings.find("LastWebSyncTime="), std::string::npos);
    EXPECT_EQ(settings.find("LastWebSyncTime=1970-0-1 8:0:0\r\n"), std::string::npos)
        << "the cache reset of a first run records its time";
}

TEST_F(MainAppProcessTest, WithoutTheDriverTheProgramEndsAtTheDriverStep) {
    const std::string copy = CopyWithoutDriver();
    Child vokari({copy}, Env());
    ASSERT_EQ(vokari.Wait(), 0);
    EXPECT_NE(vokari.Err().find("The sound card driver is not installed. Please install the "
                                "driver first. (Vokari cannot start."),
              std::string::npos)
        << vokari.Err();
    const std::string settings = testing_support::ReadBytes(SettingsFile());
    EXPECT_NE(settings.find("LastWebSyncTime=1970-0-1 8:0:0\r\n"), std::string::npos)
        << "the driver step comes before the cache reset";
}

TEST_F(MainAppProcessTest, DictionaryStepUsesTheConfiguredCultureElseEnglish) {
    struct Case {
        const char* culture;
        const char* installDriver;
    };
    const Case cases[] = {
        {"zh-CN", "未安装声卡驱动程序，请先安装驱动程序。"},
        {"zh-TW", "未安裝音效卡驅動程式，請先安裝驅動程式。"},
        {"fr-FR", "The sound card driver is not installed. Please install the driver first."},
    };
    const std::string copy = CopyWithoutDriver();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.culture);
        std::filesystem::create_directories(DataFolder());
        testing_support::WriteBytes(
            SettingsFile(), std::string("[Setting]\r\nMultiLanguage=") + c.culture + "\r\n");
        Child vokari({copy}, Env());
        ASSERT_EQ(vokari.Wait(), 0);
        EXPECT_NE(vokari.Err().find(c.installDriver), std::string::npos) << vokari.Err();
        EXPECT_EQ(vokari.Err().find("Failed to find language resource!"), std::string::npos);
    }
}

TEST_F(MainAppProcessTest, ProgramWithoutLanguageFilesEndsAtTheDictionaryStep) {
    // The same program in a folder of its own, without "lang/".
    TempDir bare;
    const std::string copy = bare.File("Vokari");
    std::filesystem::copy_file(kVokari, copy);
    Child vokari({copy}, Env());
    ASSERT_EQ(vokari.Wait(), 0);
    EXPECT_NE(vokari.Err().find("Failed to find language resource!"), std::string::npos)
        << vokari.Err();
    EXPECT_EQ(vokari.Err().find("sound card driver"), std::string::npos);
    EXPECT_TRUE(Exists(SettingsFile()));
}

TEST_F(MainAppProcessTest, InstallerIsOpenedAfterTwoSeconds) {
    FakeOpener opener;
    const std::string installer = data_.File("setup dir/Setup.run");
    std::vector<std::string> env = Env();
    env.push_back("PATH=" + opener.Folder());
    Child vokari({kVokari, "/q", "/i", installer}, env);
    ASSERT_EQ(vokari.Wait(), 0);
    EXPECT_GE(vokari.ElapsedMs(), 1990);
    ASSERT_TRUE(testing_support::WaitFor([&] { return !opener.Opened().empty(); }));
    EXPECT_EQ(opener.Opened(), installer + "\n");
    EXPECT_FALSE(Exists(SettingsFile()));
}

TEST_F(MainAppProcessTest, SecondInstanceNotifiesTheFirstAndQuietRunEndsIt) {
    auto first = StartHost();
    ASSERT_TRUE(first->Started());

    // A second start hands its flags over and ends without touching the
    // settings (the first instance writes them only when it ends).
    Child second({kVokari, "/h"}, Env());
    ASSERT_EQ(second.Wait(), 0);
    EXPECT_TRUE(first->WaitForOutput("activated 0\n"));
    EXPECT_FALSE(Exists(SettingsFile()));

    Child quiet({kVokari, "/q"}, Env());
    ASSERT_EQ(quiet.Wait(), 0);
    EXPECT_TRUE(first->WaitForOutput("activated 8\nexit command\n"));
    ASSERT_EQ(first->Wait(), 0) << first->Err();
    EXPECT_NE(first->Out().find("KaraokeSystemShutdown\n"), std::string::npos);
    EXPECT_TRUE(Exists(SettingsFile()));
}

TEST_F(MainAppProcessTest, CrashedInstanceDoesNotBlockTheNextStart) {
    {
        auto crashed = StartHost();
        crashed->Kill(SIGKILL);
        EXPECT_EQ(crashed->Wait(), -SIGKILL);
    }
    EXPECT_TRUE(Exists(runtime_.File("vokari/Vokari.sock")));  // left behind

    auto next = StartHost();
    EXPECT_NE(next->Out().find("RunMainWindow"), std::string::npos);
    Child quiet({kVokari, "/q"}, Env());
    ASSERT_EQ(quiet.Wait(), 0);
    ASSERT_EQ(next->Wait(), 0);
    EXPECT_NE(next->Out().find("exit command"), std::string::npos);
}

}  // namespace
