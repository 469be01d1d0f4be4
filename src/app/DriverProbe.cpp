#include "app/DriverProbe.h"

#include <array>
#include <cstring>

#include "platform/debug/DebugLog.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/text/Number.h"

namespace {

constexpr std::size_t kVersionBufferSize = 260;
constexpr std::size_t kVersionDigits = 9;

using ConfLibInitFunction = int();
using ConfLibUnInitFunction = int();
using GetVersionsFunction = int(char*, int, char*, int);

}  // namespace

int VersionNumber(std::string_view version) {
    const auto dot = version.rfind('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    return platform::ParseLeadingInt(version.substr(dot + 1, kVersionDigits));
}

int ProbeDriver(const std::wstring& programFolder) {
    int result = kDriverMissing;
    platform::DynamicLibrary library;
    if (!library.Open(programFolder + kDeviceLibraryPath)) {
        platform::DebugOutput("Device library not loaded: " + library.LastError() + "\n");
        return result;
    }
    // Never freed: the mixer loads the same library again later.
    library.Keep();
    auto* init = library.Find<ConfLibInitFunction>("ConfLibInit");
    auto* uninit = library.Find<ConfLibUnInitFunction>("ConfLibUnInit");
    auto* getVersions = library.Find<GetVersionsFunction>("GetVersions");
    if (init == nullptr || uninit == nullptr || getVersions == nullptr) {
        return result;
    }
    try {
        if (init() != 1) {
            return result;
        }
        // Zero-filled, with room for a terminator the library may not write:
        // a failed read leaves empty texts, which count as version 0.
        std::array<char, kVersionBufferSize + 1> driver{};
        std::array<char, kVersionBufferSize + 1> panel{};
        const int read = getVersions(driver.data(), static_cast<int>(kVersionBufferSize),
                                     panel.data(), static_cast<int>(kVersionBufferSize));
        const int driverNumber = read != 0 ? VersionNumber(driver.data()) : 0;
        const int panelNumber = read != 0 ? VersionNumber(panel.data()) : 0;
        if (driverNumber < kMinimumDriverVersion || panelNumber < kMinimumPanelVersion) {
            result = kDriverTooOld;
        } else {
            result = kDriverOk;
        }
        uninit();
    } catch (...) {
        platform::DebugOutput("Device library failed during the driver probe\n");
    }
    return result;
}
