#include "platform/profile/ProfileFile.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/folders/Folders.h"
#include "platform/text/Number.h"
#include "platform/text/Utf.h"

namespace platform {

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f';
}

std::wstring_view Trim(std::wstring_view t) {
    while (!t.empty() && IsBlank(t.front())) {
        t.remove_prefix(1);
    }
    while (!t.empty() && IsBlank(t.back())) {
        t.remove_suffix(1);
    }
    return t;
}

// Simple case folding over the scripts a key or section name is written in.
wchar_t Fold(wchar_t c) {
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return static_cast<wchar_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<wchar_t>(c + 0x50);
    }
    return c;
}

bool HasLineBreak(std::wstring_view t) {
    return t.find_first_of(L"\r\n") != std::wstring_view::npos;
}

bool IsComment(std::wstring_view trimmed) {
    return !trimmed.empty() && trimmed.front() == L';';
}

bool IsHeader(std::wstring_view trimmed) {
    return !trimmed.empty() && trimmed.front() == L'[';
}

std::wstring_view HeaderName(std::wstring_view trimmed) {
    trimmed.remove_prefix(1);
    const auto close = trimmed.find(L']');
    if (close != std::wstring_view::npos) {
        trimmed = trimmed.substr(0, close);
    }
    return Trim(trimmed);
}

// Splits a key line; false for lines that are not key=value.
bool SplitKey(std::wstring_view text, std::wstring_view& key, std::wstring_view& value) {
    const std::wstring_view t = Trim(text);
    if (t.empty() || IsComment(t) || IsHeader(t)) {
        return false;
    }
    const auto eq = t.find(L'=');
    if (eq == std::wstring_view::npos) {
        return false;
    }
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

std::wstring Unquote(std::wstring_view v) {
    if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::wstring(v);
}

std::string EncodeUtf16(std::wstring_view text) {
    const std::u16string units = ToUtf16(text);
    std::string out;
    out.reserve(units.size() * 2);
    for (const char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

}  // namespace

bool ProfileNamesEqual(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

bool ProfileFile::Load(std::wstring_view path) {
    lines_.clear();
    encoding_ = ProfileEncoding::Utf8;
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        return !PathExists(path);
    }
    Parse(bytes);
    return true;
}

void ProfileFile::Parse(std::string_view bytes) {
    lines_.clear();
    encoding_ = ProfileEncoding::Utf8;
    std::size_t start = 0;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        encoding_ = ProfileEncoding::Utf16Le;
        start = 2;
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        encoding_ = ProfileEncoding::Utf8WithBom;
        start = 3;
    }

    if (encoding_ == ProfileEncoding::Utf16Le) {
        // Work in whole code units; an odd last byte cannot be a character.
        const std::size_t units = (bytes.size() - start) / 2;
        std::u16string line;
        std::string raw;
        auto flush = [&](std::string end) {
            std::u16string content = line;
            std::string rawContent = raw;
            if (end == "\n" && !content.empty() && content.back() == u'\r') {
                content.pop_back();
                rawContent.resize(rawContent.size() - 2);
                end = "\r\n";
            }
            lines_.push_back({rawContent, FromUtf16(content), end, false});
            line.clear();
            raw.clear();
        };
        for (std::size_t i = 0; i < units; ++i) {
            const auto lo = static_cast<unsigned char>(bytes[start + 2 * i]);
            const auto hi = static_cast<unsigned char>(bytes[start + 2 * i + 1]);
            const auto unit = static_cast<char16_t>(lo | (hi << 8));
            if (unit == u'\n') {
                flush("\n");
            } else {
                line += unit;
                raw += static_cast<char>(lo);
                raw += static_cast<char>(hi);
            }
        }
        if (!line.empty()) {
            flush("");
        }
        return;
    }

    std::size_t pos = start;
    while (pos < bytes.size()) {
        const auto nl = bytes.find('\n', pos);
        std::string raw(bytes.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        std::string end = nl == std::string::npos ? "" : "\n";
        if (!end.empty() && !raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            end = "\r\n";
        }
        std::wstring text = FromUtf8(raw);
        lines_.push_back({std::move(raw), std::move(text), std::move(end), false});
        if (nl == std::string::npos) {
            break;
        }
        pos = nl + 1;
    }
}

bool ProfileFile::Save(std::wstring_view path) const {
    return WriteFileAtomically(path, Serialize());
}

std::string ProfileFile::Serialize() const {
    std::string out;
    switch (encoding_) {
        case ProfileEncoding::Utf16Le:
            out = "\xFF\xFE";
            break;
        case ProfileEncoding::Utf8WithBom:
            out = "\xEF\xBB\xBF";
            break;
        case ProfileEncoding::Utf8:
            break;
    }
    const std::string defaultEnd = DefaultEnd();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        std::string end = line.end;
        if (end.empty() && (i + 1 < lines_.size() || line.modified)) {
            end = defaultEnd;
        }
        if (encoding_ == ProfileEncoding::Utf16Le) {
            out += line.modified ? EncodeUtf16(line.text) : line.raw;
            out += EncodeUtf16(FromUtf8(end));
        } else {
            out += line.modified ? ToUtf8(line.text) : line.raw;
            out += end;
        }
    }
    return out;
}

std::string ProfileFile::DefaultEnd() const {
    for (const Line& line : lines_) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\r\n";
}

ProfileFile::SectionRange ProfileFile::FindSection(std::wstring_view section) const {
    const std::wstring_view wanted = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::wstring_view t = Trim(lines_[i].text);
        if (IsHeader(t) && ProfileNamesEqual(HeaderName(t), wanted)) {
            std::size_t end = i + 1;
            while (end < lines_.size() && !IsHeader(Trim(lines_[end].text))) {
                ++end;
            }
            return {i, end};
        }
    }
    return {std::wstring::npos, std::wstring::npos};
}

std::size_t ProfileFile::FindKey(const SectionRange& range, std::wstring_view key) const {
    if (range.header == std::wstring::npos) {
        return std::wstring::npos;
    }
    const std::wstring_view wanted = Trim(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        std::wstring_view k, v;
        if (SplitKey(lines_[i].text, k, v) && ProfileNamesEqual(k, wanted)) {
            return i;
        }
    }
    return std::wstring::npos;
}

std::optional<std::wstring> ProfileFile::Get(std::wstring_view section,
                                             std::wstring_view key) const {
    const std::size_t at = FindKey(FindSection(section), key);
    if (at == std::wstring::npos) {
        return std::nullopt;
    }
    std::wstring_view k, v;
    SplitKey(lines_[at].text, k, v);
    return Unquote(v);
}

std::vector<std::wstring> ProfileFile::SectionLines(std::wstring_view section) const {
    std::vector<std::wstring> out;
    const SectionRange range = FindSection(section);
    if (range.header == std::wstring::npos) {
        return out;
    }
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        std::wstring_view k, v;
        if (SplitKey(lines_[i].text, k, v)) {
            out.push_back(std::wstring(k) + L"=" + std::wstring(v));
        }
    }
    return out;
}

std::vector<std::wstring> ProfileFile::SectionNames() const {
    std::vector<std::wstring> out;
    for (const Line& line : lines_) {
        const std::wstring_view t = Trim(line.text);
        if (IsHeader(t)) {
            out.emplace_back(HeaderName(t));
        }
    }
    return out;
}

void ProfileFile::InsertLine(std::size_t at, std::wstring text) {
    // The line before the new one must end, even if it was the file's last.
    if (at > 0 && lines_[at - 1].end.empty()) {
        lines_[at - 1].end = DefaultEnd();
    }
    Line line{{}, std::move(text), DefaultEnd(), true};
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool ProfileFile::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    const std::wstring_view s = Trim(section);
    const std::wstring_view k = Trim(key);
    if (s.empty() || k.empty() || HasLineBreak(s) || HasLineBreak(k) || HasLineBreak(value) ||
        s.find(L']') != std::wstring_view::npos || k.find(L'=') != std::wstring_view::npos ||
        k.front() == L'[' || k.front() == L';') {
        return false;
    }
    SectionRange range = FindSection(s);
    if (range.header == std::wstring::npos) {
        InsertLine(lines_.size(), L"[" + std::wstring(s) + L"]");
        InsertLine(lines_.size(), std::wstring(k) + L"=" + std::wstring(value));
        return true;
    }
    const std::size_t at = FindKey(range, k);
    if (at != std::wstring::npos) {
        std::wstring_view oldKey, oldValue;
        SplitKey(lines_[at].text, oldKey, oldValue);
        lines_[at].text = std::wstring(oldKey) + L"=" + std::wstring(value);
        lines_[at].modified = true;
        return true;
    }
    // After the section's last non-blank line, so blank lines that separate
    // it from the next section stay where they are.
    std::size_t insertAt = range.header + 1;
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        if (!Trim(lines_[i].text).empty()) {
            insertAt = i + 1;
        }
    }
    InsertLine(insertAt, std::wstring(k) + L"=" + std::wstring(value));
    return true;
}

bool ProfileFile::Remove(std::wstring_view section, std::wstring_view key) {
    const std::size_t at = FindKey(FindSection(section), key);
    if (at == std::wstring::npos) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool ProfileFile::RemoveSection(std::wstring_view section) {
    const SectionRange range = FindSection(section);
    if (range.header == std::wstring::npos) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range.header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range.end));
    return true;
}

std::wstring ReadProfileString(std::wstring_view path, std::wstring_view section,
                               std::wstring_view key, std::wstring_view defaultValue,
                               std::size_t bufferChars) {
    if (bufferChars == 0) {
        return {};
    }
    ProfileFile file;
    std::optional<std::wstring> value;
    if (file.Load(path)) {
        value = file.Get(section, key);
    }
    std::wstring out;
    if (value) {
        out = std::move(*value);
    } else {
        out = std::wstring(defaultValue);
        while (!out.empty() && IsBlank(out.back())) {
            out.pop_back();
        }
    }
    if (out.size() > bufferChars - 1) {
        out.resize(bufferChars - 1);
    }
    return out;
}

int ReadProfileInt(std::wstring_view path, std::wstring_view section, std::wstring_view key,
                   int defaultValue) {
    ProfileFile file;
    if (!file.Load(path)) {
        return defaultValue;
    }
    const std::optional<std::wstring> value = file.Get(section, key);
    if (!value || value->empty()) {
        return defaultValue;
    }
    return ParseLeadingInt(*value);
}

std::vector<std::wstring> ReadProfileSection(std::wstring_view path, std::wstring_view section,
                                             std::size_t bufferChars) {
    std::vector<std::wstring> out;
    ProfileFile file;
    if (bufferChars < 2 || !file.Load(path)) {
        return out;
    }
    std::size_t used = 1;  // the terminator after the last line
    for (std::wstring& line : file.SectionLines(section)) {
        if (used + line.size() + 1 > bufferChars) {
            break;
        }
        used += line.size() + 1;
        out.push_back(std::move(line));
    }
    return out;
}

namespace {

template <typename Change>
bool ChangeFile(std::wstring_view path, Change change) {
    ProfileFile file;
    if (!file.Load(path) || !change(file)) {
        return false;
    }
    return file.Save(path);
}

}  // namespace

bool WriteProfileString(std::wstring_view path, std::wstring_view section, std::wstring_view key,
                        std::wstring_view value) {
    return ChangeFile(path, [&](ProfileFile& f) { return f.Set(section, key, value); });
}

bool DeleteProfileKey(std::wstring_view path, std::wstring_view section, std::wstring_view key) {
    return ChangeFile(path, [&](ProfileFile& f) { return f.Remove(section, key); });
}

bool DeleteProfileSection(std::wstring_view path, std::wstring_view section) {
    return ChangeFile(path, [&](ProfileFile& f) { return f.RemoveSection(section); });
}

bool CreateUtf16Profile(std::wstring_view path) {
    const int fd = open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, "\xFF\xFE", 2) == 2;
    return (close(fd) == 0) && written;
}

}  // namespace platform
