#pragma once
// One kept performance as the history page shows it, and the calendar
// time of "ResultInfo.ini": a FILETIME count (100 ns since 1601-01-01) of
// the local wall-clock time, not of UTC.
#include <cstdint>
#include <string_view>

struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;      // 1-12
    std::uint16_t dayOfWeek = 0;  // 0 = Sunday
    std::uint16_t day = 0;        // 1-31
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

inline constexpr std::size_t kHistoryTextChars = 256;

struct HistoryEntry {
    std::uint32_t recordId = 0;
    wchar_t musicTitle[kHistoryTextChars] = {};  // NUL-terminated
    wchar_t songId[kHistoryTextChars] = {};      // NUL-terminated
    float totalScore = 0.0f;
    SystemTime karaokeTime;
};

// Copies text into a history text field, cut to 255 characters.
void CopyHistoryText(wchar_t (&field)[kHistoryTextChars], std::wstring_view text);

// 0 gives an all-zero SystemTime, as an absent key does.
SystemTime FileTimeToSystemTime(std::uint64_t fileTime);
// A SystemTime outside the calendar gives 0.
std::uint64_t SystemTimeToFileTime(const SystemTime& time);
// The local time now, as a FILETIME count.
std::uint64_t LocalFileTimeNow();
