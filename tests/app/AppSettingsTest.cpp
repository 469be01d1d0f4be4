#include "app/AppSettings.h"

#include <gtest/gtest.h>
#include <time.h>

#include "platform/TestSupport.h"

namespace {

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteBytes;

// UTC+8 without daylight saving, so local-time arithmetic is fixed.
class AppSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { tzset(); }
    void TearDown() override {
        tz_.reset();
        tzset();
    }

    CAppSettings Make(std::wstring language = L"zh-CN") const {
        return CAppSettings(data_.Folder(), program_.Folder(), std::move(language));
    }
    CAppSettings Loaded(const std::string& dataFile) const {
        WriteBytes(data_.File("setting.ini"), dataFile);
        CAppSettings s = Make();
        s.Load();
        return s;
    }
    std::string DataFile() const { return ReadBytes(data_.File("setting.ini")); }

    std::unique_ptr<ScopedEnv> tz_ = std::make_unique<ScopedEnv>("TZ", "CST-8");
    TempDir data_;
    TempDir program_;
};

TEST_F(AppSettingsTest, NoFileAnywhereGivesDefaultsAndSaveWritesTheFullFile) {
    CAppSettings s = Make(L"en-US");
    s.Load();
    EXPECT_EQ(s.audioDevice, L"");
    EXPECT_EQ(s.language, L"en-US");
    EXPECT_EQ(s.skin, L"Vokari");
    EXPECT_EQ(s.uiTransparent, 0);
    EXPECT_EQ(s.systemTray, 0);
    EXPECT_EQ(s.lastWebSyncTime, 0);
    EXPECT_EQ(s.forceUpdate, 0);
    EXPECT_EQ(s.cacheDownload, 0);
    ASSERT_TRUE(s.Save());
    // Every number, the time and the non-empty strings, in the fixed order;
    // a stored 0 is the epoch in local time.
    EXPECT_EQ(DataFile(),
              "[Setting]\r\n"
              "MultiLanguage=en-US\r\n"
              "Skin=Vokari\r\n"
              "UITransparent=0\r\n"
              "SystemTray=0\r\n"
              "LastWebSyncTime=1970-0-1 8:0:0\r\n"
              "ForceUpdate=0\r\n"
              "CacheDownload=0\r\n"
              "AutoUpdate=0\r\n");
    CAppSettings again = Make(L"zh-TW");
    again.Load();
    EXPECT_EQ(again.lastWebSyncTime, 0);
    EXPECT_EQ(again.language, L"en-US");
}

TEST_F(AppSettingsTest, ReadsEveryKey) {
    const CAppSettings s = Loaded(
        "[Setting]\n"
        "AudioDevice=USB Audio\n"
        "MultiLanguage=zh-TW\n"
        "Skin=Dark\n"
        "UITransparent=200\n"
        "SystemTray=1\n"
        "ServerIP=127.0.0.1\n"
        "LastWebSyncTime=2015-2-5 14:7:9\n"
        "LastDownloadVersion=0.39\n"
        "ForceUpdate=5\n"
        "CacheDownload=3\n"
        "AutoUpdate=1\n");
    EXPECT_EQ(s.audioDevice, L"USB Audio");
    EXPECT_EQ(s.language, L"zh-TW");
    EXPECT_EQ(s.skin, L"Dark");
    EXPECT_EQ(s.uiTransparent, 200);
    EXPECT_EQ(s.systemTray, 1);
    EXPECT_EQ(s.serverIp, L"127.0.0.1");
    // 5 March 2015 14:07:09 at UTC+8.
    EXPECT_EQ(s.lastWebSyncTime, 1425535629);
    EXPECT_EQ(s.lastDownloadVersion, L"0.39");
    EXPECT_EQ(s.forceUpdate, 1);
    EXPECT_EQ(s.cacheDownload, 3);
    EXPECT_EQ(s.autoUpdate, 0);  // never read back
}

TEST_F(AppSettingsTest, DataFolderFileHidesTheProgramFolderFileEntirely) {
    WriteBytes(program_.File("setting.ini"),
               "[Setting]\nSkin=FromProgram\nSystemTray=1\nCacheDownload=1\n");
    {
        CAppSettings s = Make();
        s.Load();
        EXPECT_EQ(s.skin, L"FromProgram");
        EXPECT_EQ(s.cacheDownload, 1);
        ASSERT_TRUE(s.Save());  // to the data folder, not back to the program folder
        EXPECT_EQ(ReadBytes(program_.File("setting.ini")),
                  "[Setting]\nSkin=FromProgram\nSystemTray=1\nCacheDownload=1\n");
    }
    const CAppSettings s = Loaded("[Setting]\nUITransparent=4\n");
    EXPECT_EQ(s.uiTransparent, 4);
    EXPECT_EQ(s.skin, L"Vokari");
    EXPECT_EQ(s.systemTray, 0);
    EXPECT_EQ(s.cacheDownload, 0);
}

TEST_F(AppSettingsTest, StringsReplaceDefaultsOnlyWhenNotEmptyAndAreCut) {
    const CAppSettings empty = Loaded("[Setting]\nMultiLanguage=\nSkin=  \n");
    EXPECT_EQ(empty.language, L"zh-CN");
    EXPECT_EQ(empty.skin, L"Vokari");
    const CAppSettings longer = Loaded("[Setting]\nMultiLanguage=" + std::string(150, 'x') + "\n");
    EXPECT_EQ(longer.language, std::wstring(99, L'x'));
}

TEST_F(AppSettingsTest, SyncTimeTable) {
    struct Case {
        const wchar_t* text;
        std::int64_t expected;
    };
    const Case cases[] = {
        {L"2015-2-5 14:7:9", 1425535629},
        {L"2029-11-31 23:59:59", 1893427199},  // 31 December 2029, the last accepted year
        {L"2030-0-1 0:0:0", 0},
        {L"1971-0-1 0:0:0", 31507200},
        {L"1970-11-31 23:59:59", 0},
        {L"2015-2-5", 1425484800},        // fields that do not scan stay 0
        {L"2015/2/5 1:2:3", 1419955200},  // month and day 0: the last day of 2014
        {L"garbage", 0},
        {L"", 0},
        {L"  2015-2-5   14:7:9", 1425535629},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSyncTime(c.text), c.expected) << platform::ToUtf8(c.text);
    }
}

TEST_F(AppSettingsTest, SyncTimeRoundTripsToTheSecondWithAZeroBasedMonth) {
    const std::int64_t times[] = {1425535629, 1893427199, 1700000000, 31507200};
    for (const std::int64_t t : times) {
        EXPECT_EQ(ParseSyncTime(FormatSyncTime(t)), t) << t;
    }
    EXPECT_EQ(FormatSyncTime(1425535629), L"2015-2-5 14:7:9");
    CAppSettings s = Make();
    s.lastWebSyncTime = 1425535629;
    ASSERT_TRUE(s.Save());
    CAppSettings back = Make();
    back.Load();
    EXPECT_EQ(back.lastWebSyncTime, 1425535629);
}

TEST_F(AppSettingsTest, ForceUpdateIsNormalisedAndWrittenBackAsOne) {
    CAppSettings s = Loaded("[Setting]\nForceUpdate=5\n");
    EXPECT_EQ(s.forceUpdate, 1);
    ASSERT_TRUE(s.Save());
    EXPECT_NE(DataFile().find("ForceUpdate=1\n"), std::string::npos);
    EXPECT_EQ(Loaded("[Setting]\nForceUpdate=-2\n").forceUpdate, 1);
    EXPECT_EQ(Loaded("[Setting]\nForceUpdate=abc\n").forceUpdate, 0);
}

TEST_F(AppSettingsTest, SaveKeepsKeysOfEmptyMembersAndForeignLines) {
    WriteBytes(data_.File("setting.ini"),
               "[Setting]\nServerIP=10.0.0.1\nExtra=kept\n[Other]\nx=1\n");
    CAppSettings s = Make();
    s.Load();
    s.serverIp.clear();
    s.autoUpdate = 1;
    s.lastDownloadVersion = L"0.40";
    ASSERT_TRUE(s.Save());
    const std::string file = DataFile();
    EXPECT_NE(file.find("ServerIP=10.0.0.1\n"), std::string::npos);
    EXPECT_NE(file.find("Extra=kept\n"), std::string::npos);
    EXPECT_NE(file.find("[Other]\nx=1\n"), std::string::npos);
    EXPECT_NE(file.find("LastDownloadVersion=0.40\n"), std::string::npos);
    EXPECT_NE(file.find("AutoUpdate=1\n"), std::string::npos);
}

TEST_F(AppSettingsTest, AnUnwritableDataFolderIsReportedAndLosesNothing) {
    CAppSettings s(data_.Folder() + L"missing/", program_.Folder(), L"en-US");
    s.Load();
    EXPECT_FALSE(s.Save());
    EXPECT_FALSE(Exists(data_.File("missing")));
}

}  // namespace
