#pragma once
// The bodies of the catalogue's fuzz targets: every parser of outside
// input, fed arbitrary bytes. They must never crash, hang or throw.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/CatalogueJson.h"
#include "catalogue/DownloadUrl.h"
#include "catalogue/HttpResponse.h"
#include "platform/text/Utf.h"

inline void FuzzCatalogueJson(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    catalogue::RawSongList songs;
    catalogue::ParseSongList(text, songs);
    for (const auto& s : songs.songs) {
        if (!catalogue::IsPlainSongId(s.songId)) {
            __builtin_trap();  // an unsafe id got through
        }
    }
    std::vector<CSongTypeEntry> entries;
    catalogue::ParseTypeGroup(text, 4, entries);
    std::vector<std::wstring> words;
    catalogue::ParseSearchWords(text, words);
    CVersionRecord version;
    catalogue::ParseVersion(text, version);
    std::vector<CSongItem> list;
    if (catalogue::ParseDownloadList(text, list)) {
        // What was read must survive a write and a second read unchanged.
        std::vector<CSongItem> again;
        if (!catalogue::ParseDownloadList(catalogue::WriteDownloadList(list), again) ||
            again.size() != list.size()) {
            __builtin_trap();
        }
    }
}

inline void FuzzTransferReplies(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParseResponseHead(text);
    CChunkedDecoder decoder;
    std::string out;
    for (std::size_t i = 0; i < size; i += 7) {
        if (!decoder.Feed(text.data() + i, std::min<std::size_t>(7, size - i), out)) {
            break;
        }
    }
    download::ParseListingLine(text, 1'800'000'000);
    download::ParsePassiveReply(text);
    download::ParseHttpDate(text);
    const std::wstring wide = platform::FromUtf8(text);
    if (const auto url = download::ParseUrl(wide)) {
        const std::wstring next = download::ResolveRedirect(*url, wide);
        const auto parsed = download::ParseUrl(next);
        if (parsed && url->scheme == parsed->scheme && next.find(L"://") != std::wstring::npos &&
            wide.find(L"://") == std::wstring::npos && parsed->host != url->host) {
            __builtin_trap();  // a relative redirect moved to another host
        }
    }
    download::TargetPath(L"/d/", wide, wide);
}
