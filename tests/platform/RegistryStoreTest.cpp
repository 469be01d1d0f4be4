#include "platform/registry/RegistryStore.h"

#include <gtest/gtest.h>

#include "platform/TestSupport.h"

namespace platform {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(RegistryStore, ValuesRoundTripExactly) {
    TempDir dir;
    RegistryStore store(dir.WFile("sub/registry.ini"));
    EXPECT_FALSE(store.ReadString(L"Software\\Norvane\\Setting", L"CPLVersion"));
    const wchar_t* values[] = {L"1.0.10", L"  blanks kept  ", L"\"quoted\"", L"", L"a=b;c"};
    for (const wchar_t* v : values) {
        ASSERT_TRUE(store.WriteString(L"Software\\Norvane\\Setting", L"CPLVersion", v));
        EXPECT_EQ(store.ReadString(L"software\\norvane\\setting", L"cplversion"), v);
    }
    // A second store over the same file sees the value.
    EXPECT_EQ(RegistryStore(dir.WFile("sub/registry.ini"))
                  .ReadString(L"Software\\Norvane\\Setting", L"CPLVersion"),
              L"a=b;c");
    EXPECT_TRUE(store.DeleteValue(L"Software\\Norvane\\Setting", L"CPLVersion"));
    EXPECT_FALSE(store.ReadString(L"Software\\Norvane\\Setting", L"CPLVersion"));
}

TEST(RegistryStore, RefusesUnstorableValues) {
    TempDir dir;
    RegistryStore store(dir.WFile("registry.ini"));
    EXPECT_FALSE(store.WriteString(L"Key", L"Name", L"line\nbreak"));
    EXPECT_FALSE(store.WriteString(L"Key", L"Na=me", L"x"));
    EXPECT_FALSE(store.ReadString(L"Key", L"Name"));
}

TEST(RegistryStore, DefaultPathFollowsXdgConfigHome) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(RegistryStore::DefaultPath(), L"/cfg/Vokari/registry.ini");
    }
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(RegistryStore::DefaultPath(), L"/home/u/.config/Vokari/registry.ini");
}

}  // namespace
}  // namespace platform
