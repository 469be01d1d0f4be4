#pragma once
// The start-up check of the sound-card driver through the device-effect
// library in the program folder.
#include <string>
#include <string_view>

// Where the library lies, relative to the program folder.
inline constexpr const wchar_t* kDeviceLibraryPath = L"Driver/libMendra.so";

inline constexpr int kDriverOk = 0;
inline constexpr int kDriverMissing = 1;  // library, function or initialisation missing
inline constexpr int kDriverTooOld = 3;   // driver or control-panel version too old

inline constexpr int kMinimumDriverVersion = 2176;
inline constexpr int kMinimumPanelVersion = 10;

// Loads the library (never unloaded again), initialises it, reads the two
// versions and compares their last components with the minimums.
int ProbeDriver(const std::wstring& programFolder);

// The number after the last '.' of a version text (at most 9 digits are
// looked at); a text without '.' counts as 0.
int VersionNumber(std::string_view version);
