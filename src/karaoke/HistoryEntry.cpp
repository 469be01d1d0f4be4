#include "karaoke/HistoryEntry.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// civil-from-days algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

}  // namespace

void CopyHistoryText(wchar_t (&field)[kHistoryTextChars], std::wstring_view text) {
    const std::size_t n = std::min(text.size(), kHistoryTextChars - 1);
    std::copy_n(text.data(), n, field);
    field[n] = 0;
}

SystemTime FileTimeToSystemTime(std::uint64_t fileTime) {
    SystemTime t;
    if (fileTime == 0)
        return t;
    const std::int64_t totalSeconds = static_cast<std::int64_t>(fileTime / kTicksPerSecond);
    const std::int64_t days = totalSeconds / 86400;
    const std::int64_t secondsOfDay = totalSeconds % 86400;
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(days - kDays1601To1970, year, month, day);
    if (year > 30827)
        return SystemTime{};  // beyond what the fields hold
    t.year = static_cast<std::uint16_t>(year);
    t.month = static_cast<std::uint16_t>(month);
    t.day = static_cast<std::uint16_t>(day);
    t.dayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    t.hour = static_cast<std::uint16_t>(secondsOfDay / 3600);
    t.minute = static_cast<std::uint16_t>(secondsOfDay / 60 % 60);
    t.second = static_cast<std::uint16_t>(secondsOfDay % 60);
    t.milliseconds = static_cast<std::uint16_t>(fileTime % kTicksPerSecond / 10'000);
    return t;
}

std::uint64_t SystemTimeToFileTime(const SystemTime& t) {
    if (t.year < 1601 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 ||
        t.minute > 59 || t.second > 59 || t.milliseconds > 999) {
        return 0;
    }
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day) + kDays1601To1970;
    const std::int64_t seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return static_cast<std::uint64_t>(seconds) * kTicksPerSecond + t.milliseconds * 10'000u;
}

std::uint64_t LocalFileTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return 0;
    SystemTime t;
    t.year = static_cast<std::uint16_t>(local.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(local.tm_mon + 1);
    t.day = static_cast<std::uint16_t>(local.tm_mday);
    t.hour = static_cast<std::uint16_t>(local.tm_hour);
    t.minute = static_cast<std::uint16_t>(local.tm_min);
    t.second = static_cast<std::uint16_t>(std::min(local.tm_sec, 59));  // a leap second
    t.milliseconds = static_cast<std::uint16_t>(ms);
    return SystemTimeToFileTime(t);
}
