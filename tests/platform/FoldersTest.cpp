#include "platform/folders/Folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/TestSupport.h"
#include "platform/text/Utf.h"

namespace platform {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(Folders, ProgramFolderHoldsTheRunningProgram) {
    const std::wstring folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), L'/');
    EXPECT_EQ(ProgramPath().substr(0, folder.size()), folder);
    EXPECT_TRUE(FileExists(ProgramPath()));
}

TEST(Folders, CommonDataFolderFollowsXdgDataHome) {
    {
        ScopedEnv data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(CommonDataFolder(), L"/srv/data/");
    }
    {
        // A relative value is not a usable folder: the default applies.
        ScopedEnv data("XDG_DATA_HOME", "relative/dir");
        ScopedEnv home("HOME", "/home/singer");
        EXPECT_EQ(CommonDataFolder(), L"/home/singer/.local/share/");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        ScopedEnv home("HOME", std::nullopt);
        EXPECT_EQ(CommonDataFolder(), L"");
    }
}

TEST(Folders, UserTempFolderIsPrivate) {
    TempDir runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path());
    const std::wstring folder = UserTempFolder();
    ASSERT_EQ(folder, runtime.Folder() + L"vokari/");
    struct stat st {};
    ASSERT_EQ(stat(ToUtf8(folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A folder left too open is narrowed again.
    chmod(ToUtf8(folder).c_str(), 0777);
    EXPECT_EQ(UserTempFolder(), folder);
    ASSERT_EQ(stat(ToUtf8(folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Folders, UserTempFolderRefusesALinkOrAFile) {
    TempDir runtime, elsewhere;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path());
    ASSERT_EQ(symlink(elsewhere.Path().c_str(), runtime.File("vokari").c_str()), 0);
    EXPECT_EQ(UserTempFolder(), L"");
    unlink(runtime.File("vokari").c_str());
    testing_support::WriteBytes(runtime.File("vokari"), "x");
    EXPECT_EQ(UserTempFolder(), L"");
}

TEST(Folders, UserTempFolderRefusesAFolderAnotherUserOwns) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to hand a folder to another user";
    }
    TempDir runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path());
    const std::string folder = runtime.File("vokari");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_EQ(UserTempFolder(), L"");
}

TEST(Folders, MakeWholePathCreatesEveryLevel) {
    TempDir dir;
    const std::wstring deep = dir.Folder() + L"Vokari/KTV/\u6B4C/";
    EXPECT_TRUE(MakeWholePath(deep));
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(MakeWholePath(deep));  // already there
    testing_support::WriteBytes(dir.File("file"), "x");
    EXPECT_FALSE(MakeWholePath(dir.WFile("file")));
    EXPECT_FALSE(MakeWholePath(L""));
}

TEST(Folders, FindFilesListsSortedMatches) {
    TempDir dir;
    for (const char* name : {"b.jsn", "A.JSN", "c.txt", ".hidden", "noext"}) {
        testing_support::WriteBytes(dir.File(name), "x");
    }
    std::filesystem::create_directory(dir.File("sub.jsn"));

    std::vector<std::wstring> names;
    for (const FoundFile& f : FindFiles(dir.Folder(), L"*.*")) {
        names.push_back(f.name + (f.isFolder ? L"/" : L""));
    }
    const std::vector<std::wstring> all = {L".hidden", L"A.JSN", L"b.jsn",
                                           L"c.txt",   L"noext", L"sub.jsn/"};
    EXPECT_EQ(names, all);

    names.clear();
    for (const FoundFile& f : FindFiles(dir.Folder(), L"*.jsn")) {
        names.push_back(f.name);
    }
    const std::vector<std::wstring> jsn = {L"A.JSN", L"b.jsn", L"sub.jsn"};
    EXPECT_EQ(names, jsn);
    EXPECT_TRUE(FindFiles(dir.Folder() + L"missing/", L"*").empty());
}

TEST(Folders, WildcardTable) {
    struct Case {
        const wchar_t* pattern;
        const wchar_t* name;
        bool match;
    };
    const Case cases[] = {
        {L"*", L"anything", true},
        {L"*.*", L"noext", true},
        {L"*.xaml", L"common.xaml", true},
        {L"*.xaml", L"common.xaml.bak", false},
        {L"K?EMP1", L"KTEMP1", true},
        {L"K?EMP1", L"KEMP1", false},
        {L"a*b*c", L"aXXbYYc", true},
        {L"a*b*c", L"aXXbYY", false},
        {L"*.HLF", L"Mixed.hlf", true},
        {L"", L"", true},
        {L"", L"x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match)
            << ToUtf8(c.pattern) << " vs " << ToUtf8(c.name);
    }
}

TEST(Folders, DeleteFileLeavesFoldersAlone) {
    TempDir dir;
    testing_support::WriteBytes(dir.File("f"), "x");
    std::filesystem::create_directory(dir.File("d"));
    EXPECT_TRUE(DeleteFile(dir.WFile("f")));
    EXPECT_FALSE(FileExists(dir.WFile("f")));
    EXPECT_FALSE(DeleteFile(dir.WFile("f")));
    EXPECT_FALSE(DeleteFile(dir.WFile("d")));
    EXPECT_TRUE(FolderExists(dir.WFile("d")));
    testing_support::WriteBytes(dir.File("d/inner"), "x");
    EXPECT_TRUE(DeleteFolderTree(dir.WFile("d")));
    EXPECT_FALSE(PathExists(dir.WFile("d")));
}

TEST(Folders, WriteFileAtomicallyReplacesWholeFiles) {
    TempDir dir;
    const std::wstring path = dir.WFile("data.bin");
    ASSERT_TRUE(WriteFileAtomically(path, std::string("one\0two", 7)));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, std::string("one\0two", 7));
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    ASSERT_TRUE(ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, "new");
    // Nothing is left beside it.
    EXPECT_EQ(FindFiles(dir.Folder(), L"*").size(), 1u);
    EXPECT_FALSE(WriteFileAtomically(dir.WFile("missing/x"), "y"));
}

TEST(Folders, JoinPathPutsOneSlash) {
    EXPECT_EQ(JoinPath(L"/a/", L"b"), L"/a/b");
    EXPECT_EQ(JoinPath(L"/a", L"/b"), L"/a/b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
}

}  // namespace
}  // namespace platform
