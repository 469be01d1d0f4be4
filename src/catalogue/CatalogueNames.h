#pragma once
// Catalogue request addresses and cache file names.
#include <string>
#include <string_view>

namespace catalogue {

inline constexpr int kChannelId = 909005;
inline constexpr int kPlatform = 1;

// Singer names and search words as they go into queries and cache names:
// UTF-8 bytes >= 0x80 as "%XX" (upper-case hex), the reserved ASCII
// punctuation as "%xx" (lower-case hex), everything else unchanged.
std::wstring EscapeText(std::wstring_view text);

// The escaped text as it goes into a cache name: characters that cannot
// be in a file name become "_" (the transfer engine's rule), and a text
// too long for a file name is cut and completed with a hash of the whole.
std::wstring CacheNameText(std::wstring_view escaped);

std::wstring SongListCacheName(int page, int pageSize, int model);
std::wstring TypeGroupCacheName();
std::wstring SongsByTypeCacheName(int page, int pageSize, int songType);
std::wstring SingerSongsCacheName(int page, int pageSize, std::wstring_view escapedSinger);
std::wstring SearchResultCacheName(int page, int pageSize, std::wstring_view escapedWord);
std::wstring SearchWordsCacheName(int page, int pageSize, std::wstring_view escapedWord);
std::wstring VersionCacheName();

// Path and query after the server base.
std::wstring SongListQuery(int page, int pageSize, int model);
std::wstring TypeGroupQuery();
std::wstring SongsByTypeQuery(int page, int pageSize, int songType);
std::wstring SingerSongsQuery(int page, int pageSize, std::wstring_view escapedSinger);
std::wstring SearchResultQuery(int page, int pageSize, std::wstring_view escapedWord);
std::wstring SearchWordsQuery(int page, int pageSize, std::wstring_view escapedWord);
std::wstring VersionQuery(std::wstring_view version);

// The folder number of a song: its id's numeric value divided by 100.
std::wstring SongBucket(std::wstring_view songId);

}  // namespace catalogue
