#include "app/CLanguageDictionary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text/Utf.h"

namespace {

TEST(LanguageCulture, LocaleNamesMapToCultures) {
    const struct {
        const char* locale;
        const wchar_t* culture;
    } cases[] = {
        {"zh_CN.UTF-8", L"zh-CN"},  {"zh_CN", L"zh-CN"},       {"zh_cn.gb18030", L"zh-CN"},
        {"zh-Hans", L"zh-CN"},      {"zh_TW.UTF-8", L"zh-TW"}, {"zh_HK.UTF-8", L"zh-TW"},
        {"zh_SG.GB2312", L"zh-TW"}, {"zh", L"zh-TW"},          {"zh_TW@radical", L"zh-TW"},
        {"da_DK.UTF-8", L"en-US"},  {"en_US.UTF-8", L"en-US"}, {"en_GB", L"en-US"},
        {"de_DE@euro", L"en-US"},   {"C", L"en-US"},           {"POSIX", L"en-US"},
        {"C.UTF-8", L"en-US"},      {"zhx_CN", L"en-US"},      {"", L"en-US"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CLanguageDictionary::CultureForLocale(c.locale), c.culture) << c.locale;
    }
}

class Environment {
  public:
    Environment(const char* all, const char* messages, const char* lang) {
        Set("LC_ALL", all);
        Set("LC_MESSAGES", messages);
        Set("LANG", lang);
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value.first) {
                ::setenv(name.c_str(), value.second.c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

  private:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, {old != nullptr, old ? old : ""}});
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

TEST(LanguageCulture, EnvironmentIsReadInLocalePrecedence) {
    const struct {
        const char* all;
        const char* messages;
        const char* lang;
        const wchar_t* culture;
    } cases[] = {
        {"zh_CN.UTF-8", "zh_TW.UTF-8", "da_DK.UTF-8", L"zh-CN"},
        {"", "zh_TW.UTF-8", "zh_CN.UTF-8", L"zh-TW"},
        {nullptr, nullptr, "zh_CN.UTF-8", L"zh-CN"},
        {nullptr, "da_DK.UTF-8", "zh_CN.UTF-8", L"en-US"},
        {nullptr, nullptr, nullptr, L"en-US"},
    };
    for (const auto& c : cases) {
        Environment environment(c.all, c.messages, c.lang);
        EXPECT_EQ(CLanguageDictionary::DefaultCulture(), c.culture)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
    EXPECT_EQ(CLanguageDictionary::CurrentCulture(L""), L"en-US");
    EXPECT_EQ(CLanguageDictionary::CurrentCulture(L"zh-TW"), L"zh-TW");
}

// A program folder with lang/<culture>/ files written by each test.
class Dictionary : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::path(VOKARI_BINARY_DIR) / "tmp" /
               ("Dictionary_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::string Entry(const std::string& key, const std::string& text) {
        return "  <sys:String x:Key=\"" + key + "\">" + text + "</sys:String>\n";
    }
    void File(const std::string& culture, const std::string& name, const std::string& body,
              bool wrap = true) {
        const auto folder = dir_ / "lang" / culture;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / name, std::ios::binary)
            << (wrap ? "<ResourceDictionary>\n" + body + "</ResourceDictionary>\n" : body);
    }
    std::wstring ProgramFolder() const { return platform::FromUtf8(dir_.string() + "/"); }

    std::filesystem::path dir_;
};

TEST_F(Dictionary, OnlyCommonLoadsAndParsingItTwiceChangesNothing) {
    File("en-US", "common.xaml", Entry("ml_A", "Alpha") + Entry("LanguageName", "English"));
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    EXPECT_EQ(dictionary.Size(), 2u);
    EXPECT_EQ(dictionary.Lookup(L"ml_A"), L"Alpha");
    EXPECT_EQ(dictionary.LanguageName(), L"English");
    EXPECT_EQ(dictionary.Culture(), L"en-US");
}

TEST_F(Dictionary, FileSortedLastWinsAndCommonIsReadFirstAndInItsPlace) {
    // Written in an order unlike the sorted one, so the directory's own order
    // would give another winner.
    File("en-US", "zeta.xaml", Entry("ml_Z", "from zeta"));
    File("en-US", "common.xaml", Entry("ml_C", "from common") + Entry("ml_Z", "from common"));
    File("en-US", "Beta.xaml", Entry("ml_B", "from Beta") + Entry("ml_C", "from Beta"));
    File("en-US", "alpha.xaml", Entry("ml_B", "from alpha") + Entry("ml_C", "from alpha"));
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    EXPECT_EQ(dictionary.Lookup(L"ml_B"), L"from Beta") << "names sort without regard to case";
    EXPECT_EQ(dictionary.Lookup(L"ml_C"), L"from common") << "common.xaml is parsed again";
    EXPECT_EQ(dictionary.Lookup(L"ml_Z"), L"from zeta");
}

TEST_F(Dictionary, OnlyDirectStringChildrenWithAKeyFirstMakeEntries) {
    File("en-US", "common.xaml",
         Entry("ml_Kept", "kept") + Entry("ml_Spaces", "   ") + Entry("ml_Blank", "\t\r\n") +
             Entry("ml_Empty", "") + Entry("", "no key") +
             "  <sys:String Other=\"1\" x:Key=\"ml_Second\">second</sys:String>\n"
             "  <String x:Key=\"ml_Name\">wrong name</String>\n"
             "  <Group>" +
             Entry("ml_Deep", "deep") + "</Group>\n" + Entry("ml_Entities", "a &amp; &lt;b&gt;"));
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    std::vector<std::wstring> keys;
    for (const auto& entry : dictionary.Entries()) {
        keys.push_back(entry.first);
    }
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"ml_Entities", L"ml_Kept", L"ml_Spaces"}));
    EXPECT_EQ(dictionary.Lookup(L"ml_Spaces"), L"   ");
    EXPECT_EQ(dictionary.Lookup(L"ml_Entities"), L"a & <b>");
    EXPECT_EQ(dictionary.TranslateMarkupValue(L"ml_Empty"), L"ml_Empty")
        << "markup shows the key of an entry that was not stored";
}

TEST_F(Dictionary, LanguageNameAndDescription) {
    File(
        "en-US", "a.xaml",
        Entry("LanguageName", "English") + Entry("LanguageDescription", "English (United States)"));
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    EXPECT_EQ(dictionary.Lookup(L"English"), L"English (United States)");
    EXPECT_EQ(dictionary.Lookup(L"LanguageName"), L"English");
    EXPECT_EQ(dictionary.Lookup(L"LanguageDescription"), L"");

    File("en-US", "b.xaml", "<r>" + Entry("LanguageDescription", "from a later file") + "</r>",
         false);
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    EXPECT_EQ(dictionary.Lookup(L"English"), L"from a later file")
        << "the name read in one file holds for the files after it";

    File("zh-CN", "a.xaml", Entry("LanguageDescription", "first") + Entry("LanguageName", "N"));
    ASSERT_TRUE(dictionary.LoadCulture(L"zh-CN"));
    EXPECT_EQ(dictionary.Lookup(L""), L"first") << "no name read yet: stored under the empty key";
    EXPECT_EQ(dictionary.Lookup(L"English"), L"") << "a new load empties the dictionary";
    EXPECT_EQ(dictionary.LanguageName(), L"N");
}

TEST_F(Dictionary, WhichFilesAreReadAndWhichFolderFails) {
    File("en-US", "good.XAML", Entry("ml_Upper", "upper-case suffix"));
    File("en-US", "broken.xaml", Entry("ml_Broken", "x") + "<unclosed><a>");
    File("en-US", ".hidden.xaml", Entry("ml_Hidden", "hidden"));
    File("en-US", "notes.txt", Entry("ml_Text", "text"));
    std::filesystem::create_directories(dir_ / "lang" / "en-US" / "folder.xaml");
    File("empty", "readme.txt", "nothing");
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US")) << "a broken file does not stop the others";
    EXPECT_EQ(dictionary.Size(), 1u);
    EXPECT_EQ(dictionary.Lookup(L"ml_Upper"), L"upper-case suffix");
    EXPECT_FALSE(dictionary.LoadCulture(L"empty")) << "no *.xaml in the folder";
    EXPECT_EQ(dictionary.Size(), 0u);
    EXPECT_FALSE(dictionary.LoadCulture(L"missing"));
    EXPECT_FALSE(dictionary.LoadCulture(L"../lang/en-US")) << "a culture is a name, not a path";
}

TEST_F(Dictionary, StartUpFallsBackToEnglishThenReports) {
    File("en-US", "common.xaml", Entry("ml_Main_Title", "Vokari"));
    std::vector<std::wstring> reported;
    const auto report = [&](const std::wstring& message) { reported.push_back(message); };
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadAtStartup(L"fr-FR", report));
    EXPECT_EQ(dictionary.Culture(), L"en-US");
    EXPECT_TRUE(reported.empty());

    CLanguageDictionary nothing(platform::FromUtf8((dir_ / "none").string() + "/"));
    EXPECT_FALSE(nothing.LoadAtStartup(L"zh-CN", report));
    EXPECT_EQ(reported, std::vector<std::wstring>{L"Failed to find language resource!"});
}

TEST_F(Dictionary, LookupsAndMarkupTranslation) {
    File("en-US", "common.xaml",
         Entry("ml_", "bare prefix") + Entry("ml_Main_Title", "Title") + Entry("ml_B", "Same") +
             Entry("ml_A", "Same"));
    CLanguageDictionary dictionary(ProgramFolder());
    EXPECT_EQ(dictionary.Lookup(L"ml_A"), L"") << "nothing loaded yet";
    EXPECT_EQ(dictionary.TranslateMarkupValue(L"ml_A"), L"ml_A");
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    const struct {
        const wchar_t* value;
        const wchar_t* shown;
    } cases[] = {
        {L"ml_Main_Title", L"Title"},
        {L"ml_", L"bare prefix"},
        {L"ML_Main_Title", L"ML_Main_Title"},
        {L"ml_Missing", L"ml_Missing"},
        {L"plain text", L"plain text"},
        {L"ml", L"ml"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dictionary.TranslateMarkupValue(c.value), c.shown) << c.value;
    }
    EXPECT_EQ(dictionary.LookupByText(L"Same"), L"ml_A") << "first key in key order";
    EXPECT_EQ(dictionary.LookupByText(L"absent"), L"");
    dictionary.SetEntry(L"ml_Message_Text_1", L"Hello");
    dictionary.SetEntry(L"ml_Message_Text_1", L"Replaced");
    EXPECT_EQ(dictionary.Lookup(L"ml_Message_Text_1"), L"Replaced");
}

TEST_F(Dictionary, MessageButtonOverridesAreOneShotAndKeepTheFileTexts) {
    File("en-US", "common.xaml",
         Entry("ml_Message_Btn_1", "OK") + Entry("ml_Message_Btn_2", "Cancel"));
    CLanguageDictionary dictionary(ProgramFolder());
    ASSERT_TRUE(dictionary.LoadCulture(L"en-US"));
    EXPECT_EQ(dictionary.TakeOneShot(L"ml_Message_Btn_1"), L"") << "no override pending";
    EXPECT_EQ(dictionary.Lookup(L"ml_Message_Btn_1"), L"OK");

    dictionary.SetEntry(L"ml_Message_Btn_1", L"Install");
    EXPECT_EQ(dictionary.Lookup(L"ml_Message_Btn_1"), L"Install") << "the next box shows it";
    EXPECT_EQ(dictionary.TranslateMarkupValue(L"ml_Message_Btn_1"), L"Install");
    EXPECT_EQ(dictionary.TakeOneShot(L"ml_Message_Btn_1"), L"Install");
    EXPECT_EQ(dictionary.TakeOneShot(L"ml_Message_Btn_1"), L"") << "used once";
    EXPECT_EQ(dictionary.Lookup(L"ml_Message_Btn_1"), L"OK") << "later boxes keep the file text";
    EXPECT_EQ(dictionary.Lookup(L"ml_Message_Btn_2"), L"Cancel");
    EXPECT_EQ(dictionary.LookupByText(L"OK"), L"ml_Message_Btn_1");
}

// The language files shipped beside the program.
TEST(ShippedLanguages, EveryCultureHoldsEveryKeyTheProgramUses) {
    const std::vector<std::wstring> keys = {
        L"ml_Main_Title",
        L"ml_Message_Caption",
        L"ml_Error_NotSupport_WinXP",
        L"ml_Error_Install_Driver",
        L"ml_Error_Invalid_CPL_Driver",
        L"ml_Exit_Application",
        L"ml_Error_Empty_Search_Key",
        L"ml_Error_Network_Disconnect_Title",
        L"ml_Error_Network_Disconnect_Text",
        L"ml_Error_Network_Busy_Title",
        L"ml_Error_Network_Busy_Text",
        L"ml_Error_File_Hash",
        L"ml_Error_Network_Unknown",
        L"ml_Error_song_download",
        L"ml_Error_Empty_MyDownload_Search_Key",
        L"ml_Error_mydownload_search_song_empty_title",
        L"ml_Error_mydownload_search_song_emtpy_text",
        L"ml_Song_Newest_Prompt",
        L"ml_Song_Ranking_Prompt",
        L"ml_Song_All_Prompt",
        L"ml_Song_MyDownload_Prompt",
        L"ml_Song_MyKTV_Prompt",
        L"ml_Song_Prompt",
        L"ml_Song_Singer_Prompt",
        L"ml_Song_Search_Prompt",
        L"ml_Singer_Prompt",
        L"ml_Song_Search_Result",
        L"ml_Singer_Male",
        L"ml_Singer_Female",
        L"ml_Singer_All",
        L"ml_Song_Download",
        L"ml_Song_Download_Cancel_Prompt",
        L"ml_Song_Add_Prompt",
        L"ml_Song_DeleteSong_Prompt",
        L"ml_Song_DeleteKTV_Prompt",
        L"ml_Message_Btn_1",
        L"ml_Message_Btn_2",
        L"ml_About_CurrentVersion",
        L"ml_About_GetWebVersion",
        L"ml_About_DownloadVersion",
        L"ml_About_NewVersion",
        L"ml_About_Install_Prompt",
        L"ml_About_Install_Force",
        L"LanguageName",
    };
    const struct {
        const wchar_t* culture;
        const wchar_t* name;
    } cultures[] = {{L"en-US", L"English"}, {L"zh-CN", L"简体中文"}, {L"zh-TW", L"繁體中文"}};
    CLanguageDictionary english(platform::FromUtf8(VOKARI_SOURCE_DIR "/"));
    ASSERT_TRUE(english.LoadCulture(L"en-US"));
    for (const auto& c : cultures) {
        CLanguageDictionary dictionary(platform::FromUtf8(VOKARI_SOURCE_DIR "/"));
        ASSERT_TRUE(dictionary.LoadCulture(c.culture)) << platform::ToUtf8(c.culture);
        EXPECT_EQ(dictionary.LanguageName(), c.name);
        EXPECT_FALSE(dictionary.Lookup(c.name).empty()) << "a description under the name";
        for (const std::wstring& key : keys) {
            EXPECT_FALSE(dictionary.Lookup(key).empty())
                << platform::ToUtf8(c.culture) << " lacks " << platform::ToUtf8(key);
            if (std::wstring(c.culture) != L"en-US" && key != L"ml_Main_Title") {
                EXPECT_NE(dictionary.Lookup(key), english.Lookup(key))
                    << platform::ToUtf8(c.culture) << " leaves " << platform::ToUtf8(key)
                    << " untranslated";
            }
        }
    }
}

}  // namespace
