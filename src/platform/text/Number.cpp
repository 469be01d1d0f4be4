#include "platform/text/Number.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <charconv>
#include <limits>

namespace platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Wide text is narrowed to what a number can hold; anything else ends it.
std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '\x01';
    }
    return out;
}

std::string_view TrimLeft(std::string_view t) {
    while (!t.empty() && IsBlank(t.front())) {
        t.remove_prefix(1);
    }
    return t;
}

std::string_view Trim(std::string_view t) {
    t = TrimLeft(t);
    while (!t.empty() && IsBlank(t.back())) {
        t.remove_suffix(1);
    }
    return t;
}

// Reads a leading integer; returns how many characters it used (0: none).
std::size_t ReadInt(std::string_view t, std::int64_t& value) {
    value = 0;
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    bool saturated = false;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        if (!saturated) {
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(t[i] - '0');
            if (magnitude > kLimit) {
                saturated = true;
            }
        }
        ++i;
    }
    if (i == digitsStart) {
        return 0;
    }
    if (negative) {
        value = (saturated || magnitude >= kLimit) ? std::numeric_limits<std::int64_t>::min()
                                                   : -static_cast<std::int64_t>(magnitude);
    } else {
        value = (saturated || magnitude >= kLimit) ? std::numeric_limits<std::int64_t>::max()
                                                   : static_cast<std::int64_t>(magnitude);
    }
    return i;
}

std::size_t ReadDouble(std::string_view t, double& value) {
    value = 0.0;
    std::size_t start = 0;
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        start = 1;
    }
    // from_chars takes no '+' and reads "inf"/"nan" too; both are fine.
    const char* first = t.data() + start;
    const char* last = t.data() + t.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ptr == first) {
        value = 0.0;
        return 0;
    }
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on range errors: saturate the
        // way strtod does.
        std::size_t i = 0;
        while (first + i < ptr && first[i] != 'e' && first[i] != 'E') {
            ++i;
        }
        const bool tinyExponent = first + i + 1 < ptr && first[i + 1] == '-';
        value = tinyExponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    if (negative) {
        value = -value;
    }
    return static_cast<std::size_t>(ptr - t.data());
}

int ClampToInt(std::int64_t v) {
    if (v > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    if (v < std::numeric_limits<int>::min()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(v);
}

}  // namespace

std::int64_t ParseLeadingInt64(std::string_view text) {
    std::int64_t v = 0;
    ReadInt(TrimLeft(text), v);
    return v;
}
std::int64_t ParseLeadingInt64(std::wstring_view text) {
    return ParseLeadingInt64(Narrow(text));
}
int ParseLeadingInt(std::string_view text) {
    return ClampToInt(ParseLeadingInt64(text));
}
int ParseLeadingInt(std::wstring_view text) {
    return ClampToInt(ParseLeadingInt64(text));
}

double ParseLeadingDouble(std::string_view text) {
    double v = 0.0;
    ReadDouble(TrimLeft(text), v);
    return v;
}
double ParseLeadingDouble(std::wstring_view text) {
    return ParseLeadingDouble(Narrow(text));
}

std::optional<std::int64_t> ParseInt64(std::string_view text) {
    const std::string_view t = Trim(text);
    std::int64_t v = 0;
    if (t.empty() || ReadInt(t, v) != t.size()) {
        return std::nullopt;
    }
    return v;
}
std::optional<std::int64_t> ParseInt64(std::wstring_view text) {
    return ParseInt64(Narrow(text));
}

std::optional<double> ParseDouble(std::string_view text) {
    const std::string_view t = Trim(text);
    double v = 0.0;
    if (t.empty() || ReadDouble(t, v) != t.size()) {
        return std::nullopt;
    }
    return v;
}
std::optional<double> ParseDouble(std::wstring_view text) {
    return ParseDouble(Narrow(text));
}

std::string FormatInt(std::int64_t value) {
    return fmt::format("{}", value);
}
std::wstring FormatIntW(std::int64_t value) {
    return fmt::format(L"{}", value);
}

std::string FormatFixed(double value, int decimals) {
    return fmt::format("{:.{}f}", value, decimals < 0 ? 0 : decimals);
}
std::wstring FormatFixedW(double value, int decimals) {
    return fmt::format(L"{:.{}f}", value, decimals < 0 ? 0 : decimals);
}

}  // namespace platform
