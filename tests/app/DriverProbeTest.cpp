#include "app/DriverProbe.h"

#include <gtest/gtest.h>

#include "app/DriverFolder.h"

namespace {

TEST(DriverProbe, VersionsDecideTheResult) {
    struct Case {
        const char* driver;
        const char* panel;
        int expected;
    };
    const Case cases[] = {
        {"6.0.2175", "1.0.10", kDriverTooOld}, {"6.0.2176", "1.0.10", kDriverOk},
        {"6.0.2176", "1.0.9", kDriverTooOld},  {"6.0.9999", "2.11", kDriverOk},
        {"2176", "1.0.10", kDriverTooOld},  // no '.': counts as 0
        {"6.0.2176", "10", kDriverTooOld},     {"", "", kDriverTooOld},
    };
    for (const Case& c : cases) {
        DriverFolder folder;
        folder.Configure(1, c.driver, c.panel);
        EXPECT_EQ(ProbeDriver(folder.Folder()), c.expected) << c.driver << " / " << c.panel;
        EXPECT_EQ(folder.UninitCalls(), 1) << c.driver;
    }
}

TEST(DriverProbe, FailedVersionReadCountsAsTooOld) {
    DriverFolder folder;
    folder.Configure(1, "6.0.2176", "1.0.10", /*versions=*/0);
    EXPECT_EQ(ProbeDriver(folder.Folder()), kDriverTooOld);
    EXPECT_EQ(folder.UninitCalls(), 1);
}

TEST(DriverProbe, MissingLibraryFunctionOrInitialisationGivesOne) {
    DriverFolder none(nullptr);
    EXPECT_EQ(ProbeDriver(none.Folder()), kDriverMissing);
    DriverFolder partial(TEST_MENDRA_PARTIAL_PATH);
    EXPECT_EQ(ProbeDriver(partial.Folder()), kDriverMissing);
    EXPECT_EQ(partial.UninitCalls(), 0);

    DriverFolder refused;
    refused.Configure(0, "6.0.2176", "1.0.10");
    EXPECT_EQ(ProbeDriver(refused.Folder()), kDriverMissing);
    EXPECT_EQ(refused.UninitCalls(), 0);  // not initialised, so not uninitialised
}

TEST(DriverProbe, AFaultInsideTheLibraryKeepsTheResultSoFar) {
    DriverFolder folder;
    folder.Configure(1, "6.0.2176", "1.0.10", 1, /*throwInVersions=*/1);
    EXPECT_EQ(ProbeDriver(folder.Folder()), kDriverMissing);
}

TEST(DriverProbe, VersionNumberTable) {
    struct Case {
        const char* text;
        int number;
    };
    const Case cases[] = {{"x.2175", 2175},
                          {"1.2.3", 3},
                          {"none", 0},
                          {"1.", 0},
                          {"1.abc", 0},
                          {"1.12beta", 12},
                          {"1.0123456789", 12345678},  // only nine characters are read
                          {"", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(VersionNumber(c.text), c.number) << c.text;
    }
}

}  // namespace
