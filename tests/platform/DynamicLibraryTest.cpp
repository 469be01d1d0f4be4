#include "platform/dynlib/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "platform/TestSupport.h"
#include "platform/text/Utf.h"

namespace platform {
namespace {

TEST(DynamicLibrary, BindsFunctionsByName) {
    DynamicLibrary lib;
    ASSERT_TRUE(lib.Open(FromUtf8(PLATFORM_TESTLIB_PATH))) << lib.LastError();
    auto* answer = lib.Find<int()>("TestLibraryAnswer");
    auto* twice = lib.Find<int(int)>("TestLibraryTwice");
    ASSERT_NE(answer, nullptr);
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(twice(21), 42);
    EXPECT_EQ(lib.Find<int()>("NoSuchFunction"), nullptr);
    EXPECT_FALSE(lib.LastError().empty());
}

TEST(DynamicLibrary, MissingOrBrokenFilesFailCleanly) {
    testing_support::TempDir dir;
    testing_support::WriteBytes(dir.File("libBroken.so"), "not an ELF file");
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Open(dir.WFile("libMissing.so")));
    EXPECT_FALSE(lib.Open(dir.WFile("libBroken.so")));
    EXPECT_FALSE(lib.LastError().empty());
    // A bare name would be looked up on the library path; it is refused.
    EXPECT_FALSE(lib.Open(L"libc.so.6"));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_EQ(lib.Symbol("anything"), nullptr);
}

TEST(DynamicLibrary, MovedOwnerKeepsTheLibrary) {
    DynamicLibrary a;
    ASSERT_TRUE(a.Open(FromUtf8(PLATFORM_TESTLIB_PATH)));
    DynamicLibrary b = std::move(a);
    EXPECT_FALSE(a.IsOpen());
    ASSERT_TRUE(b.IsOpen());
    EXPECT_EQ(b.Find<int()>("TestLibraryAnswer")(), 42);
}

}  // namespace
}  // namespace platform
