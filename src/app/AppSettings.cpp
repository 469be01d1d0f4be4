#include "app/AppSettings.h"

#include <time.h>

#include <array>
#include <limits>

#include "platform/folders/Folders.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Format.h"

namespace {

constexpr const wchar_t* kFileName = L"setting.ini";
constexpr const wchar_t* kSection = L"Setting";
constexpr std::size_t kBufferChars = CAppSettings::kMaxValueChars + 1;
constexpr int kFirstYear = 1971;
constexpr int kLastYear = 2029;

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

// Scans "%d-%d-%d %d:%d:%d" the way the C library does: blanks before a
// number are skipped, the blank in the format matches any run of blanks
// (or none), and scanning stops at the first thing that does not fit,
// leaving the remaining fields 0.
std::array<int, 6> ScanFields(std::wstring_view t) {
    std::array<int, 6> fields{};
    constexpr std::array<wchar_t, 5> separators = {L'-', L'-', L' ', L':', L':'};
    std::size_t pos = 0;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        while (pos < t.size() && IsSpace(t[pos])) {
            ++pos;
        }
        bool negative = false;
        if (pos < t.size() && (t[pos] == L'-' || t[pos] == L'+')) {
            negative = t[pos] == L'-';
            ++pos;
        }
        const std::size_t digits = pos;
        long long value = 0;
        while (pos < t.size() && t[pos] >= L'0' && t[pos] <= L'9') {
            if (value < std::numeric_limits<int>::max()) {
                value = value * 10 + (t[pos] - L'0');
            }
            ++pos;
        }
        if (pos == digits) {
            return fields;
        }
        if (value > std::numeric_limits<int>::max()) {
            value = std::numeric_limits<int>::max();
        }
        fields[f] = static_cast<int>(negative ? -value : value);
        if (f + 1 == fields.size()) {
            break;
        }
        const wchar_t sep = separators[f];
        if (sep == L' ') {
            while (pos < t.size() && IsSpace(t[pos])) {
                ++pos;
            }
        } else if (pos < t.size() && t[pos] == sep) {
            ++pos;
        } else {
            return fields;
        }
    }
    return fields;
}

}  // namespace

std::int64_t ParseSyncTime(std::wstring_view text) {
    if (text.empty()) {
        return 0;
    }
    const std::array<int, 6> f = ScanFields(text);
    if (f[0] < kFirstYear || f[0] > kLastYear) {
        return 0;
    }
    tm t{};
    t.tm_year = f[0] - 1900;
    t.tm_mon = f[1];  // stored 0-based, as the C time structure counts
    t.tm_mday = f[2];
    t.tm_hour = f[3];
    t.tm_min = f[4];
    t.tm_sec = f[5];
    t.tm_isdst = -1;
    const time_t value = mktime(&t);
    return value == static_cast<time_t>(-1) ? 0 : static_cast<std::int64_t>(value);
}

std::wstring FormatSyncTime(std::int64_t time) {
    const time_t value = static_cast<time_t>(time);
    tm t{};
    if (localtime_r(&value, &t) == nullptr) {
        t = tm{};
        t.tm_year = 70;
        t.tm_mday = 1;
    }
    return platform::Format(L"{}-{}-{} {}:{}:{}", t.tm_year + 1900, t.tm_mon, t.tm_mday, t.tm_hour,
                            t.tm_min, t.tm_sec);
}

CAppSettings::CAppSettings(std::wstring dataFolder, std::wstring programFolder,
                           std::wstring defaultLanguage)
    : language(std::move(defaultLanguage)),
      dataFolder_(std::move(dataFolder)),
      programFolder_(std::move(programFolder)) {}

std::wstring CAppSettings::DataFilePath() const {
    return dataFolder_ + kFileName;
}
std::wstring CAppSettings::ProgramFilePath() const {
    return programFolder_ + kFileName;
}

void CAppSettings::Load() {
    const std::wstring path =
        platform::FileExists(DataFilePath()) ? DataFilePath() : ProgramFilePath();

    const auto readString = [&](const wchar_t* key, std::wstring& member) {
        std::wstring value = platform::ReadProfileString(path, kSection, key, L"", kBufferChars);
        if (!value.empty()) {
            member = std::move(value);
        }
    };
    readString(L"AudioDevice", audioDevice);
    readString(L"MultiLanguage", language);
    readString(L"Skin", skin);
    readString(L"ServerIP", serverIp);
    readString(L"LastDownloadVersion", lastDownloadVersion);

    uiTransparent = platform::ReadProfileInt(path, kSection, L"UITransparent", 0);
    systemTray = platform::ReadProfileInt(path, kSection, L"SystemTray", 0);
    lastWebSyncTime = ParseSyncTime(
        platform::ReadProfileString(path, kSection, L"LastWebSyncTime", L"", kBufferChars));
    forceUpdate = platform::ReadProfileInt(path, kSection, L"ForceUpdate", 0) != 0 ? 1 : 0;
    cacheDownload = platform::ReadProfileInt(path, kSection, L"CacheDownload", 0);
}

bool CAppSettings::Save() const {
    platform::ProfileFile file;
    if (!file.Load(DataFilePath())) {
        return false;
    }
    bool ok = true;
    const auto writeString = [&](const wchar_t* key, const std::wstring& value) {
        // An empty member leaves whatever the file holds.
        if (!value.empty()) {
            ok = file.Set(kSection, key, value) && ok;
        }
    };
    const auto writeInt = [&](const wchar_t* key, int value) {
        ok = file.Set(kSection, key, platform::Format(L"{}", value)) && ok;
    };
    writeString(L"AudioDevice", audioDevice);
    writeString(L"MultiLanguage", language);
    writeString(L"Skin", skin);
    writeInt(L"UITransparent", uiTransparent);
    writeInt(L"SystemTray", systemTray);
    writeString(L"ServerIP", serverIp);
    ok = file.Set(kSection, L"LastWebSyncTime", FormatSyncTime(lastWebSyncTime)) && ok;
    writeString(L"LastDownloadVersion", lastDownloadVersion);
    writeInt(L"ForceUpdate", forceUpdate);
    writeInt(L"CacheDownload", cacheDownload);
    writeInt(L"AutoUpdate", autoUpdate);
    return file.Save(DataFilePath()) && ok;
}
