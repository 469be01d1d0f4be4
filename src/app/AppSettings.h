#pragma once
// The user's settings and a few bookkeeping values, kept in "setting.ini",
// section "Setting". Read once at start-up, written once at shut-down; in
// between other parts of the program change the record in memory only. The
// user-interface thread is the only one that touches it.
#include <cstdint>
#include <string>
#include <string_view>

class CAppSettings {
  public:
    // Values longer than this are cut when read (the buffer holds 100
    // characters with the terminator).
    static constexpr std::size_t kMaxValueChars = 99;

    // dataFolder and programFolder end with '/'. defaultLanguage is the
    // culture derived from the system language, used while the file has none.
    CAppSettings(std::wstring dataFolder, std::wstring programFolder, std::wstring defaultLanguage);

    // Starts from the in-memory defaults and reads the data folder's file,
    // or the program folder's when the data folder has none.
    void Load();
    // Always writes to the data folder's file, whichever file was read.
    // False when the file could not be written.
    bool Save() const;

    std::wstring DataFilePath() const;
    std::wstring ProgramFilePath() const;

    std::wstring audioDevice;          // "AudioDevice"
    std::wstring language;             // "MultiLanguage"
    std::wstring skin = L"Vokari";     // "Skin"
    int uiTransparent = 0;             // "UITransparent"
    int systemTray = 0;                // "SystemTray"
    std::wstring serverIp;             // "ServerIP"
    std::int64_t lastWebSyncTime = 0;  // "LastWebSyncTime", seconds since 1970 UTC
    std::wstring lastDownloadVersion;  // "LastDownloadVersion"
    int forceUpdate = 0;               // "ForceUpdate", 0 or 1
    int cacheDownload = 0;             // "CacheDownload"
    int autoUpdate = 0;                // "AutoUpdate", written, never read

  private:
    std::wstring dataFolder_;
    std::wstring programFolder_;
};

// "LastWebSyncTime" is local time written "year-month-day h:m:s" without
// zero padding, the month counted from 0. A text that does not scan, or
// whose year is outside 1971..2029, reads as 0.
std::int64_t ParseSyncTime(std::wstring_view text);
std::wstring FormatSyncTime(std::int64_t time);
