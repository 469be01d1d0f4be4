#include "catalogue/CatalogueNames.h"

#include <cwchar>

#include "catalogue/DownloadUrl.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace catalogue {

namespace {

// Longest escaped text kept whole in a cache name: with the longest prefix
// ("songlistbyartist_"), the page numbers and ".DownloadTemp" the UTF-8
// name stays below 255 bytes.
constexpr std::size_t kMaxNameText = 160;
constexpr std::size_t kKeptPrefix = 120;

std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::wstring EscapeText(std::wstring_view text) {
    static constexpr std::string_view kReserved = " \"#$%&'+,/:;<=>?@[\\]^`{|}~";
    const std::string bytes = platform::ToUtf8(text);
    std::wstring out;
    for (unsigned char c : bytes) {
        if (c >= 0x80) {
            out += platform::Format(L"%{:02X}", c);
        } else if (kReserved.find(static_cast<char>(c)) != std::string_view::npos) {
            out += platform::Format(L"%{:02x}", c);
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

std::wstring CacheNameText(std::wstring_view escaped) {
    std::wstring text = download::SanitizeFileName(escaped);
    if (text.size() > kMaxNameText) {
        const std::uint64_t hash = Fnv1a(platform::ToUtf8(escaped));
        text = text.substr(0, kKeptPrefix) + platform::Format(L"~{:016x}", hash);
    }
    return text;
}

std::wstring SongListCacheName(int page, int pageSize, int model) {
    return platform::Format(L"songlist_{}_{}_{}.jsn", model, page, pageSize);
}

std::wstring TypeGroupCacheName() {
    return L"typegroup.jsn";
}

std::wstring SongsByTypeCacheName(int page, int pageSize, int songType) {
    return platform::Format(L"songlistbytype_{}_{}_{}.jsn", songType, page, pageSize);
}

std::wstring SingerSongsCacheName(int page, int pageSize, std::wstring_view escapedSinger) {
    return platform::Format(L"songlistbyartist_{}_{}_{}.jsn", CacheNameText(escapedSinger), page,
                            pageSize);
}

std::wstring SearchResultCacheName(int page, int pageSize, std::wstring_view escapedWord) {
    return platform::Format(L"search_result_{}_{}_{}.jsn", CacheNameText(escapedWord), page,
                            pageSize);
}

std::wstring SearchWordsCacheName(int page, int pageSize, std::wstring_view escapedWord) {
    return platform::Format(L"search_word_{}_{}_{}.jsn", CacheNameText(escapedWord), page,
                            pageSize);
}

std::wstring VersionCacheName() {
    return L"checkversion.jsn";
}

std::wstring SongListQuery(int page, int pageSize, int model) {
    return platform::Format(
        L"/api/v3/GetSongList?channel_id={}&platform={}&page={}&page_size={}&model={}", kChannelId,
        kPlatform, page, pageSize, model);
}

std::wstring TypeGroupQuery() {
    return L"/api/v3/GetSongTypeGroup";
}

std::wstring SongsByTypeQuery(int page, int pageSize, int songType) {
    return platform::Format(
        L"/api/v3/"
        L"GetSongInfoBySongType?channel_id={}&platform={}&page={}&page_size={}&song_type={}",
        kChannelId, kPlatform, page, pageSize, songType);
}

std::wstring SingerSongsQuery(int page, int pageSize, std::wstring_view escapedSinger) {
    return platform::Format(
        L"/api/v3/GetSongListBySinger?channel_id={}&platform={}&artist={}&page={}&page_size={}",
        kChannelId, kPlatform, escapedSinger, page, pageSize);
}

std::wstring SearchResultQuery(int page, int pageSize, std::wstring_view escapedWord) {
    return platform::Format(
        L"/api/v3/"
        L"GetSongListByQuery?channel_id={}&platform={}&word={}&page={}&page_size={}&net_song=0",
        kChannelId, kPlatform, escapedWord, page, pageSize);
}

std::wstring SearchWordsQuery(int page, int pageSize, std::wstring_view escapedWord) {
    return platform::Format(
        L"/api/v3/GetSearchWordList?channel_id={}&platform={}&word={}&page={}&page_size={}",
        kChannelId, kPlatform, escapedWord, page, pageSize);
}

std::wstring VersionQuery(std::wstring_view version) {
    return platform::Format(L"/api/GetVersion?version={}", version);
}

std::wstring SongBucket(std::wstring_view songId) {
    const std::wstring id(songId);
    const long value = std::wcstol(id.c_str(), nullptr, 10);
    return platform::Format(L"{}", value / 100);
}

}  // namespace catalogue
