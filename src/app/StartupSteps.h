#pragma once
// Pieces of the start-up and shut-down that stand on their own: the command
// line, cleaning the data folder and the catalogue cache's age.
#include <cstdint>
#include <span>
#include <string>

// Start flags: bits of CMainApp's start flags, also what a second instance
// sends to the running one.
inline constexpr unsigned kStartHidden = 2;      // the main window hides itself
inline constexpr unsigned kCleanDataFolder = 4;  // delete the data folder's files
inline constexpr unsigned kQuietRun = 8;         // no window; a running instance exits
inline constexpr unsigned kRunInstaller = 16;    // open the installer path and end

struct StartCommandLine {
    unsigned flags = 0;
    std::wstring installerPath;
};

// The arguments after the program's name, compared case-sensitively: "/h"
// and "/u" are accepted and change nothing; "/q" adds the quiet flag; "/i"
// sets the flags to exactly the installer flag, takes the next argument (if
// any) as the installer path and ends the parsing. Anything else is ignored.
StartCommandLine ParseCommandLine(std::span<const std::wstring> args);

// Deletes the plain files directly in the data folder whose names do not
// start with '.'; folders (and what is in them) stay. Returns how many
// files were deleted.
int CleanDataFolder(const std::wstring& dataFolder);

// The catalogue cache is reset when the last reset is more than four hours
// old. A last reset in the future (a clock set back) is not expired.
inline constexpr std::int64_t kCatalogueCacheLifetimeSeconds = 14400;
bool CatalogueCacheExpired(std::int64_t now, std::int64_t lastSync);
