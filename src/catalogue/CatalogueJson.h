#pragma once
// Type-checked reading of catalogue answers, cache files and the
// downloaded-songs list. JsonCpp throws on a value of an unexpected type;
// every access here checks the type first, so hostile input is refused
// instead of ending the program.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/SongItem.h"

namespace Json {
class Value;
}

namespace catalogue {

// A song entry as received, before the client works out its locations.
struct RawSongList {
    std::vector<CSongItem> songs;
    std::wstring musicBase;  // "b"
    std::wstring lyricBase;  // "c"
    int rejected = 0;        // entries left out (ids that cannot name a file)
};

// Parses text as JSON (UTF-8, at most `maxBytes`); nullopt when it is not
// JSON or the root is not an object.
std::optional<Json::Value> ParseObject(std::string_view text);

// The envelope check: "o" is the string "0".
bool EnvelopeOk(const Json::Value& root);

// Song answers: false when the answer is malformed (bad envelope, "a" not
// an array, a field of the wrong type or out of range).
bool ParseSongList(std::string_view text, RawSongList& out);
// Singer categories: selector 1, 2, 3, or 4 for all groups.
bool ParseTypeGroup(std::string_view text, int selector, std::vector<CSongTypeEntry>& out);
bool ParseSearchWords(std::string_view text, std::vector<std::wstring>& out);
// The version answer (no envelope).
bool ParseVersion(std::string_view text, CVersionRecord& out);

// Reads one song object; false when a field has the wrong type. With
// `stored` the locations are taken as they are (the downloaded list).
bool ReadSong(const Json::Value& entry, CSongItem& song);

// A song id that can safely name files: 1-64 characters of letters,
// digits, "_" and "-".
bool IsPlainSongId(std::wstring_view id);

// "downloaditem.jsn": {"a":[songs]} in JsonCpp's compact form.
std::string WriteDownloadList(const std::vector<CSongItem>& songs);
// False when the text is not a valid list; songs with unsafe ids are left
// out.
bool ParseDownloadList(std::string_view text, std::vector<CSongItem>& out);

}  // namespace catalogue
