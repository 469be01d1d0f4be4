#pragma once
// Locale-free number parsing and formatting. The parsers read the way the C
// library's atoi/atof family reads (leading blanks, an optional sign, as
// many digits as there are, the rest ignored, no digits give 0) but never
// look at the process locale, and integers saturate instead of overflowing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::int64_t ParseLeadingInt64(std::string_view text);
std::int64_t ParseLeadingInt64(std::wstring_view text);
int ParseLeadingInt(std::string_view text);
int ParseLeadingInt(std::wstring_view text);
double ParseLeadingDouble(std::string_view text);
double ParseLeadingDouble(std::wstring_view text);

// The whole text (blanks around it allowed) must be the number.
std::optional<std::int64_t> ParseInt64(std::string_view text);
std::optional<std::int64_t> ParseInt64(std::wstring_view text);
std::optional<double> ParseDouble(std::string_view text);
std::optional<double> ParseDouble(std::wstring_view text);

std::string FormatInt(std::int64_t value);
std::wstring FormatIntW(std::int64_t value);
// Fixed-point with the given number of decimals, '.' as the separator.
std::string FormatFixed(double value, int decimals);
std::wstring FormatFixedW(double value, int decimals);

}  // namespace platform
