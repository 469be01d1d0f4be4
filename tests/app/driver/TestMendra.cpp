// A stand-in for the device-effect library with the three functions the
// start-up probe binds. Tests set what it answers through
// TestMendraConfigure; built a second time without GetVersions to show a
// missing function.
#include <cstring>
#include <stdexcept>
#include <string>

namespace {
int initResult = 1;
int versionsResult = 1;
std::string driverVersion = "6.0.2176";
std::string panelVersion = "1.0.10";
bool throwInGetVersions = false;
int uninitCalls = 0;
}  // namespace

extern "C" void TestMendraConfigure(int init, const char* driver, const char* panel, int versions,
                                    int throwInVersions) {
    initResult = init;
    driverVersion = driver;
    panelVersion = panel;
    versionsResult = versions;
    throwInGetVersions = throwInVersions != 0;
}

extern "C" int TestMendraUninitCalls() {
    return uninitCalls;
}

extern "C" int ConfLibInit() {
    return initResult;
}

extern "C" int ConfLibUnInit() {
    ++uninitCalls;
    return 1;
}

#ifndef TEST_MENDRA_WITHOUT_GET_VERSIONS
extern "C" int GetVersions(char* driver, int driverSize, char* panel, int panelSize) {
    if (throwInGetVersions) {
        throw std::runtime_error("driver fault");
    }
    if (versionsResult == 0) {
        return 0;  // fails without writing either buffer
    }
    if (static_cast<int>(driverVersion.size()) < driverSize) {
        std::memcpy(driver, driverVersion.c_str(), driverVersion.size() + 1);
    }
    if (static_cast<int>(panelVersion.size()) < panelSize) {
        std::memcpy(panel, panelVersion.c_str(), panelVersion.size() + 1);
    }
    return 1;
}
#endif
