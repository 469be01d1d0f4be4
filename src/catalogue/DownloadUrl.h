#pragma once
// Pure text rules of the transfer engine: URL parsing, redirect targets,
// local file names, HTTP dates, FTP listing lines and passive replies.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download {

struct ParsedUrl {
    std::wstring scheme;  // as written ("http", "ftp", ...)
    std::wstring host;    // lower-cased, without the port
    std::wstring path;    // from the first "/" on, query included, case kept
    std::uint16_t port = 0;
};

// Trims spaces, turns "\" into "/", adds "http://" when no scheme is given.
// Fails when no "/" follows the host or the port is not a number 1-65535.
std::optional<ParsedUrl> ParseUrl(std::wstring_view url);

// The URL of a parsed one (the port only when it is not the scheme's
// default).
std::wstring ComposeUrl(const ParsedUrl& url);

// Everything before the last "/" of the URL (the default Referer).
std::wstring UrlDirectory(std::wstring_view url);

// Resolves a Location value against the current URL. Absolute values (with
// "://") are taken as they are; "/x" replaces the path; anything else is
// relative to the current path's folder, each leading "../" going one
// folder up but never above the root.
std::wstring ResolveRedirect(const ParsedUrl& current, std::wstring_view location);

// The last path segment of a URL path, without any query ("" for ".../").
std::wstring UrlFileName(std::wstring_view path);

// The extension (with its dot) of the URL path's last segment; host and
// query never count. Empty when that segment has no dot.
std::wstring UrlExtension(std::wstring_view url);

// Replaces \ / : * ? " < > | by "_": the one rule for every local name the
// engine and the catalogue compose.
std::wstring SanitizeFileName(std::wstring_view name);

// The same for a folder, keeping its separators and a leading drive colon.
std::wstring SanitizeFolder(std::wstring_view folder);

// Folder + name as the engine stores a file: with a given name, its own
// extension or else the URL's; without a name, the URL's file name.
std::wstring TargetPath(std::wstring_view folder, std::wstring_view fileName,
                        std::wstring_view urlPath);

// "Sun, 06 Nov 1994 08:49:37 GMT" (and the RFC 850 and asctime forms) to
// seconds since 1970 UTC; nullopt when it does not parse.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day);

struct ListingEntry {
    std::int64_t size = -1;
    std::int64_t modified = 0;  // seconds since 1970 UTC; 0 when unknown
    std::string name;
};

// One Unix-style listing line ("-rw-r--r-- 1 0 0 300000 Dec 11 11:06 a.mp3").
// A time instead of a year means the last twelve months before nowSeconds.
std::optional<ListingEntry> ParseListingLine(std::string_view line, std::int64_t nowSeconds);

struct PassiveAddress {
    std::string host;
    std::uint16_t port = 0;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)".
std::optional<PassiveAddress> ParsePassiveReply(std::string_view reply);

// Standard Base64 with "=" padding.
std::string Base64(std::string_view bytes);

}  // namespace download
