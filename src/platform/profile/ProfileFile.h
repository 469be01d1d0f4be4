#pragma once
// INI ("private profile") files as the program reads and writes them:
// [section] headers and key=value lines; section and key names compared
// without regard to case; blanks around names and values ignored; a value
// wrapped in a matching pair of quotes is read without them; the first of
// two equal keys (and the first of two equal sections) wins.
//
// A file that starts with the byte-order mark FF FE is UTF-16LE and stays
// so when it is rewritten; every other file is UTF-8 (a UTF-8 byte-order
// mark is kept). Writing changes only the line it writes: other lines keep
// their bytes, line ends and order. New files are created on first write,
// with CRLF line ends; the file is replaced through a temporary file, so a
// reader never sees half of it.
//
// The free functions open the file for each call; ProfileFile keeps one
// file in memory for several reads and writes.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ProfileEncoding { Utf8, Utf8WithBom, Utf16Le };

class ProfileFile {
  public:
    ProfileFile() = default;

    // Reads the file; a missing file is an empty document (true). False
    // when the file exists but cannot be read.
    bool Load(std::wstring_view path);
    // Writes the whole document back (creating the file if needed).
    bool Save(std::wstring_view path) const;

    // The same on the file's bytes. An unchanged document serialises to
    // exactly the bytes it was parsed from (a UTF-16 file's odd last byte,
    // which cannot be a character, excepted).
    void Parse(std::string_view bytes);
    std::string Serialize() const;

    ProfileEncoding Encoding() const { return encoding_; }
    void SetEncoding(ProfileEncoding e) { encoding_ = e; }

    std::optional<std::wstring> Get(std::wstring_view section, std::wstring_view key) const;
    // The lines of a section as "key=value" (blanks around both removed),
    // in file order; comment and blank lines are left out.
    std::vector<std::wstring> SectionLines(std::wstring_view section) const;
    std::vector<std::wstring> SectionNames() const;

    // False for names or values that cannot be stored in an INI line (an
    // empty name, a line break, a key holding '=' or starting with '[' or
    // ';', a section holding ']'); the document is then unchanged.
    bool Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    bool Remove(std::wstring_view section, std::wstring_view key);
    bool RemoveSection(std::wstring_view section);

  private:
    struct Line {
        std::string raw;    // the line's bytes in the file's encoding, without its end
        std::wstring text;  // decoded
        std::string end;    // "\r\n", "\n" or "" (only the last line)
        bool modified = false;
    };

    // Index range [header, end) of a section; header is npos when absent.
    struct SectionRange {
        std::size_t header;
        std::size_t end;
    };
    SectionRange FindSection(std::wstring_view section) const;
    std::size_t FindKey(const SectionRange& range, std::wstring_view key) const;
    void InsertLine(std::size_t at, std::wstring text);
    std::string DefaultEnd() const;

    std::vector<Line> lines_;
    ProfileEncoding encoding_ = ProfileEncoding::Utf8;
};

// The value, cut to bufferChars - 1 characters, or the default (likewise
// cut, trailing blanks removed) when the file, section or key is absent.
std::wstring ReadProfileString(std::wstring_view path, std::wstring_view section,
                               std::wstring_view key, std::wstring_view defaultValue,
                               std::size_t bufferChars);

// Absent or empty key: the default. Otherwise the leading decimal number
// (optional sign); a value without digits reads as 0.
int ReadProfileInt(std::wstring_view path, std::wstring_view section, std::wstring_view key,
                   int defaultValue);

// The section's "key=value" lines, as many as fit in bufferChars counting a
// terminator after each line and one at the end.
std::vector<std::wstring> ReadProfileSection(std::wstring_view path, std::wstring_view section,
                                             std::size_t bufferChars);

bool WriteProfileString(std::wstring_view path, std::wstring_view section, std::wstring_view key,
                        std::wstring_view value);
bool DeleteProfileKey(std::wstring_view path, std::wstring_view section, std::wstring_view key);
bool DeleteProfileSection(std::wstring_view path, std::wstring_view section);

// Creates a new, empty UTF-16LE profile (the byte-order mark alone), so
// that later writes store the file in UTF-16LE. False when the file already
// exists (it is left as it is) or cannot be created.
bool CreateUtf16Profile(std::wstring_view path);

// Case-insensitive comparison used for section and key names.
bool ProfileNamesEqual(std::wstring_view a, std::wstring_view b);

}  // namespace platform
