#pragma once
// Runs one scenario of the device effect library in a child process of its
// own: the library keeps one state per process and loads the vendor layer
// once, so every scenario needs a fresh process. The child loads
// libMendra.so from the given folder (with whatever layer lies beside it),
// points the user's configuration at a fresh folder, runs the body and
// reports its assertion failures through its exit code.
#include <functional>
#include <string>

#include "double/ZeltoDouble.h"

struct MendraApi {
    int (*ConfLibInit)();
    int (*ConfLibUnInit)();
    int (*DisabletKaraokeEffect)();
    int (*RecoverKaraokeEffect)();
    int (*GetRecordVolumeScalar)(int*);
    int (*SetRecordVolumeScalar)(int);
    int (*GetVersions)(char*, int, char*, int);
    int (*DumpMSG)(wchar_t*, int);

    // The message store as DumpMSG gives it, in a buffer of 4096.
    std::wstring Messages() const;

    // With the test double beside the library: its controls.
    DoubleState* hw = nullptr;
    void (*Reset)() = nullptr;
    void (*Fail)(const char*, int) = nullptr;
    void (*FailAll)(int) = nullptr;

    std::string configHome;  // XDG_CONFIG_HOME of the child
};

struct ScenarioOptions {
    std::string folder;           // holds libMendra.so
    bool withDouble = true;       // bind the double's controls
    std::string platformVersion;  // VOKARI_PLATFORM_VERSION when set
    // Runs before the library is loaded (for example to fill the registry).
    std::function<void(const std::string& configHome)> prepare;
};

void RunScenario(const ScenarioOptions& options, const std::function<void(MendraApi&)>& body);
