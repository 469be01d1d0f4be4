#include "catalogue/DownloadUrl.h"

#include <array>
#include <charconv>
#include <cwctype>
#include <vector>

namespace download {

namespace {

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return true;
}

std::uint16_t DefaultPort(std::wstring_view scheme) {
    return EqualNoCase(scheme, L"ftp") ? 21 : 80;
}

template <typename Char>
std::vector<std::basic_string_view<Char>> Split(std::basic_string_view<Char> text,
                                                std::basic_string_view<Char> separators) {
    std::vector<std::basic_string_view<Char>> parts;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, i);
        if (start == std::basic_string_view<Char>::npos) {
            break;
        }
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::basic_string_view<Char>::npos) {
            end = text.size();
        }
        parts.push_back(text.substr(start, end - start));
        i = end;
    }
    return parts;
}

template <typename T>
bool ToNumber(std::string_view text, T& value) {
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

int MonthIndex(std::string_view token) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3) {
        return -1;
    }
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        bool same = true;
        for (std::size_t i = 0; i < 3; ++i) {
            same = same && std::tolower(static_cast<unsigned char>(token[i])) == kMonths[m][i];
        }
        if (same) {
            return static_cast<int>(m) + 1;
        }
    }
    return -1;
}

bool ParseClock(std::string_view token, int& h, int& m, int& s, bool secondsRequired) {
    const auto parts = Split<char>(token, ":");
    if (parts.size() != 3 && !(parts.size() == 2 && !secondsRequired)) {
        return false;
    }
    s = 0;
    if (!ToNumber(parts[0], h) || !ToNumber(parts[1], m) ||
        (parts.size() == 3 && !ToNumber(parts[2], s))) {
        return false;
    }
    return h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s <= 59;
}

std::int64_t ToSeconds(int year, int month, int day, int h, int m, int s) {
    return DaysFromCivil(year, month, day) * 86400 + h * 3600 + m * 60 + s;
}

}  // namespace

std::optional<ParsedUrl> ParseUrl(std::wstring_view url) {
    const std::size_t first = url.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return std::nullopt;
    }
    std::wstring text(url.substr(first, url.find_last_not_of(L' ') - first + 1));
    for (wchar_t& c : text) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    std::size_t sep = text.find(L"://");
    if (sep == std::wstring::npos) {
        text = L"http://" + text;
        sep = 4;
    }
    ParsedUrl parsed;
    parsed.scheme = text.substr(0, sep);
    const std::wstring rest = text.substr(sep + 3);
    const std::size_t slash = rest.find(L'/');
    if (slash == std::wstring::npos || parsed.scheme.empty()) {
        return std::nullopt;
    }
    std::wstring hostPort = rest.substr(0, slash);
    for (wchar_t& c : hostPort) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    parsed.path = rest.substr(slash);
    std::size_t colon = hostPort.rfind(L':');
    if (colon != std::wstring::npos && hostPort.find(L']', colon) != std::wstring::npos) {
        colon = std::wstring::npos;  // the colons of a bracketed IPv6 address
    }
    if (colon != std::wstring::npos) {
        const std::wstring portText = hostPort.substr(colon + 1);
        unsigned port = 0;
        if (portText.empty() || portText.size() > 5) {
            return std::nullopt;
        }
        for (wchar_t c : portText) {
            if (c < L'0' || c > L'9') {
                return std::nullopt;
            }
            port = port * 10 + static_cast<unsigned>(c - L'0');
        }
        if (port == 0 || port > 65535) {
            return std::nullopt;
        }
        parsed.port = static_cast<std::uint16_t>(port);
        hostPort.resize(colon);
    } else {
        parsed.port = DefaultPort(parsed.scheme);
    }
    if (hostPort.empty()) {
        return std::nullopt;
    }
    parsed.host = hostPort;
    return parsed;
}

std::wstring ComposeUrl(const ParsedUrl& url) {
    std::wstring text = url.scheme + L"://" + url.host;
    if (url.port != DefaultPort(url.scheme)) {
        text += L":" + std::to_wstring(url.port);
    }
    return text + url.path;
}

std::wstring UrlDirectory(std::wstring_view url) {
    const std::size_t slash = url.rfind(L'/');
    return std::wstring(slash == std::wstring_view::npos ? url : url.substr(0, slash));
}

std::wstring ResolveRedirect(const ParsedUrl& current, std::wstring_view location) {
    std::wstring value(location);
    const std::size_t first = value.find_first_not_of(L' ');
    value = first == std::wstring::npos ? L"" : value.substr(first);
    while (!value.empty() && value.back() == L' ') {
        value.pop_back();
    }
    if (value.find(L"://") != std::wstring::npos) {
        return value;
    }
    for (wchar_t& c : value) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    ParsedUrl next = current;
    if (!value.empty() && value.front() == L'/') {
        next.path = value;
        return ComposeUrl(next);
    }
    // Folder segments of the current path: the file name and any query go.
    std::wstring path = current.path.substr(0, current.path.find(L'?'));
    std::vector<std::wstring> folders;
    for (auto part : Split<wchar_t>(path, L"/")) {
        folders.emplace_back(part);
    }
    if (!path.empty() && path.back() != L'/' && !folders.empty()) {
        folders.pop_back();
    }
    for (;;) {
        if (value.rfind(L"../", 0) == 0) {
            value.erase(0, 3);
            if (!folders.empty()) {
                folders.pop_back();  // never above the root
            }
        } else if (value.rfind(L"./", 0) == 0) {
            value.erase(0, 2);
        } else {
            break;
        }
    }
    std::wstring newPath = L"/";
    for (const auto& f : folders) {
        newPath += f + L"/";
    }
    next.path = newPath + value;
    return ComposeUrl(next);
}

std::wstring UrlFileName(std::wstring_view path) {
    std::wstring_view p = path.substr(0, path.find(L'?'));
    const std::size_t slash = p.rfind(L'/');
    return std::wstring(slash == std::wstring_view::npos ? p : p.substr(slash + 1));
}

std::wstring UrlExtension(std::wstring_view url) {
    std::wstring_view path = url;
    const std::size_t scheme = path.find(L"://");
    if (scheme != std::wstring_view::npos) {
        const std::size_t slash = path.find(L'/', scheme + 3);
        path = slash == std::wstring_view::npos ? std::wstring_view() : path.substr(slash);
    }
    const std::wstring name = UrlFileName(path);
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

std::wstring SanitizeFileName(std::wstring_view name) {
    std::wstring out(name);
    for (wchar_t& c : out) {
        if (std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) {
            c = L'_';
        }
    }
    return out;
}

std::wstring SanitizeFolder(std::wstring_view folder) {
    std::wstring out(folder);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool driveColon = i == 1 && out[i] == L':' && std::iswalpha(out[0]);
        if (!driveColon && std::wstring_view(L":*?\"<>|").find(out[i]) != std::wstring_view::npos) {
            out[i] = L'_';
        }
    }
    return out;
}

std::wstring TargetPath(std::wstring_view folder, std::wstring_view fileName,
                        std::wstring_view urlPath) {
    const std::wstring dir = SanitizeFolder(folder);
    if (fileName.empty()) {
        return dir + SanitizeFileName(UrlFileName(urlPath));
    }
    std::wstring name(fileName);
    std::wstring ext;
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        ext = name.substr(dot);
        name.resize(dot);
    } else {
        ext = UrlExtension(urlPath);
    }
    return dir + SanitizeFileName(name + ext);
}

std::int64_t DaysFromCivil(int year, int month, int day) {
    // Howard Hinnant's days_from_civil.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(month + (month > 2 ? -3 : 9)) + 2) / 5 +
                         static_cast<unsigned>(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    int year = -1, month = -1, day = -1, h = -1, m = -1, s = -1;
    for (auto token : Split<char>(text, " ,-\t")) {
        if (token.find(':') != std::string_view::npos) {
            if (!ParseClock(token, h, m, s, true)) {
                return std::nullopt;
            }
            continue;
        }
        int number = 0;
        if (ToNumber(token, number)) {
            if (day < 0 && token.size() <= 2 && number >= 1 && number <= 31) {
                day = number;
            } else if (year < 0) {
                year = token.size() <= 2 ? (number < 70 ? 2000 + number : 1900 + number) : number;
            }
            continue;
        }
        const int index = MonthIndex(token);
        if (index > 0 && month < 0 && token.size() == 3) {
            month = index;
        }
    }
    if (year < 1970 || month < 0 || day < 0 || h < 0) {
        return std::nullopt;
    }
    return ToSeconds(year, month, day, h, m, s);
}

std::optional<ListingEntry> ParseListingLine(std::string_view line, std::int64_t nowSeconds) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    // Eight fields, then the name (which may hold spaces).
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (fields.size() < 8) {
        const std::size_t start = line.find_first_not_of(' ', i);
        if (start == std::string_view::npos) {
            return std::nullopt;
        }
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        fields.push_back(line.substr(start, end - start));
        i = end;
    }
    const std::size_t nameStart = line.find_first_not_of(' ', i);
    if (nameStart == std::string_view::npos) {
        return std::nullopt;
    }
    ListingEntry entry;
    entry.name = std::string(line.substr(nameStart));
    if (!ToNumber(fields[4], entry.size) || entry.size < 0) {
        return std::nullopt;
    }
    const int month = fields[5].size() == 3 ? MonthIndex(fields[5]) : -1;
    int day = 0;
    if (month > 0 && ToNumber(fields[6], day) && day >= 1 && day <= 31) {
        int year = 0, h = 0, m = 0, s = 0;
        if (ToNumber(fields[7], year) && year >= 1970) {
            entry.modified = ToSeconds(year, month, day, 0, 0, 0);
        } else if (ParseClock(fields[7], h, m, s, false)) {
            // "hh:mm" stands for a date within the last twelve months.
            const std::int64_t days = nowSeconds / 86400;
            const std::int64_t z = days + 719468;
            const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
            const std::int64_t doe = z - era * 146097;
            const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
            const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
            const std::int64_t mp = (5 * doy + 2) / 153;
            const int nowMonth = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
            int nowYear = static_cast<int>(yoe + era * 400) + (nowMonth <= 2 ? 1 : 0);
            entry.modified = ToSeconds(nowYear, month, day, h, m, 0);
            if (entry.modified > nowSeconds + 86400) {
                entry.modified = ToSeconds(nowYear - 1, month, day, h, m, 0);
            }
        }
    }
    return entry;
}

std::optional<PassiveAddress> ParsePassiveReply(std::string_view reply) {
    const std::size_t open = reply.find('(');
    if (open == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view inner = reply.substr(open + 1);
    inner = inner.substr(0, inner.find(')'));
    const auto parts = Split<char>(inner, ",");
    if (parts.size() != 6) {
        return std::nullopt;
    }
    int n[6];
    for (int k = 0; k < 6; ++k) {
        std::string_view p = parts[k];
        while (!p.empty() && p.front() == ' ') {
            p.remove_prefix(1);
        }
        while (!p.empty() && p.back() == ' ') {
            p.remove_suffix(1);
        }
        if (!ToNumber(p, n[k]) || n[k] < 0 || n[k] > 255) {
            return std::nullopt;
        }
    }
    PassiveAddress address;
    address.host = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) +
                   "." + std::to_string(n[3]);
    address.port = static_cast<std::uint16_t>(n[4] * 256 + n[5]);
    if (address.port == 0) {
        return std::nullopt;
    }
    return address;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace download
