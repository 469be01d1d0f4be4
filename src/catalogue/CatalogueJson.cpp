#include "catalogue/CatalogueJson.h"

#include <json/json.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace catalogue {

namespace {

constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;
constexpr int kMaxDepth = 32;

const Json::Value* Member(const Json::Value& object, const char* key) {
    return object.find(key, key + std::strlen(key));
}

// atoi's reading: optional blanks and sign, then digits; clamped to int32.
std::int32_t AtoI(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    value = negative ? -value : value;
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

bool ReadString(const Json::Value& object, const char* key, std::wstring& out) {
    const Json::Value* v = object.find(key, key + std::strlen(key));
    if (v == nullptr || v->isNull()) {
        return true;
    }
    if (!v->isString()) {
        return false;
    }
    out = platform::FromUtf8(v->asString());
    return true;
}

// A string through atoi, or an integer within int32.
bool ReadNumber(const Json::Value& object, const char* key, std::int32_t& out) {
    const Json::Value* v = object.find(key, key + std::strlen(key));
    if (v == nullptr || v->isNull()) {
        return true;
    }
    if (v->isString()) {
        out = AtoI(v->asString());
        return true;
    }
    if (v->isBool()) {
        out = v->asBool() ? 1 : 0;
        return true;
    }
    if (v->isInt()) {
        out = v->asInt();
        return true;
    }
    return false;
}

bool ReadId(const Json::Value& object, std::wstring& out) {
    const Json::Value* v = Member(object, "a1");
    if (v == nullptr || v->isNull()) {
        return true;
    }
    if (v->isString()) {
        out = platform::FromUtf8(v->asString());
        return true;
    }
    if (v->isInt()) {
        out = platform::Format(L"{}", v->asInt());
        return true;
    }
    return false;
}

}  // namespace

std::optional<Json::Value> ParseObject(std::string_view text) {
    if (text.size() > kMaxAnswerBytes) {
        return std::nullopt;
    }
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["stackLimit"] = kMaxDepth;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;  // the depth limit is reported by an exception
    }
    if (!root.isObject()) {
        return std::nullopt;
    }
    return root;
}

bool EnvelopeOk(const Json::Value& root) {
    const Json::Value* o = Member(root, "o");
    return o != nullptr && o->isString() && o->asString() == "0";
}

bool IsPlainSongId(std::wstring_view id) {
    if (id.empty() || id.size() > 64) {
        return false;
    }
    for (wchar_t c : id) {
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') ||
                        (c >= L'A' && c <= L'Z') || c == L'_' || c == L'-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool ReadSong(const Json::Value& entry, CSongItem& song) {
    if (!entry.isObject()) {
        return false;
    }
    return ReadId(entry, song.songId) && ReadString(entry, "a2", song.a2) &&
           ReadString(entry, "a3", song.name) && ReadString(entry, "a5", song.musicLocation) &&
           ReadNumber(entry, "a6", song.musicSize) && ReadString(entry, "a9", song.lyricLocation) &&
           ReadNumber(entry, "a10", song.lyricSize) &&
           ReadString(entry, "a13", song.iconLocation) && ReadNumber(entry, "a14", song.a14) &&
           ReadString(entry, "a16", song.singer) && ReadString(entry, "a20", song.a20) &&
           ReadString(entry, "a21", song.a21) && ReadNumber(entry, "a31", song.alternativeBases);
}

bool ParseSongList(std::string_view text, RawSongList& out) {
    const auto root = ParseObject(text);
    if (!root || !EnvelopeOk(*root)) {
        return false;
    }
    const Json::Value* a = Member(*root, "a");
    if (a == nullptr || !a->isArray()) {
        return false;
    }
    RawSongList list;
    if (!ReadString(*root, "b", list.musicBase) || !ReadString(*root, "c", list.lyricBase)) {
        return false;
    }
    for (Json::ArrayIndex i = 0; i < a->size(); ++i) {
        CSongItem song;
        if (!ReadSong((*a)[i], song)) {
            return false;
        }
        if (!IsPlainSongId(song.songId)) {
            ++list.rejected;
            continue;
        }
        list.songs.push_back(std::move(song));
    }
    out = std::move(list);
    return true;
}

bool ParseTypeGroup(std::string_view text, int selector, std::vector<CSongTypeEntry>& out) {
    const auto root = ParseObject(text);
    if (!root || !EnvelopeOk(*root)) {
        return false;
    }
    static const char* const kArrays[] = {"a", "b", "c"};
    static const char* const kSinger[] = {"a1", "b1", "c1"};
    static const char* const kIndex[] = {"a2", "b2", "c2"};
    std::vector<CSongTypeEntry> entries;
    for (int g = 1; g <= 3; ++g) {
        if (selector != 4 && selector != g) {
            continue;
        }
        const Json::Value* array = Member(*root, kArrays[g - 1]);
        if (array == nullptr || array->isNull()) {
            continue;
        }
        if (!array->isArray()) {
            return false;
        }
        for (Json::ArrayIndex i = 0; i < array->size(); ++i) {
            const Json::Value& e = (*array)[i];
            CSongTypeEntry entry;
            entry.group = g;
            if (!e.isObject() || !ReadString(e, kSinger[g - 1], entry.singer) ||
                !ReadString(e, kIndex[g - 1], entry.indexText)) {
                return false;
            }
            entries.push_back(std::move(entry));
        }
    }
    out.insert(out.end(), entries.begin(), entries.end());
    return true;
}

bool ParseSearchWords(std::string_view text, std::vector<std::wstring>& out) {
    const auto root = ParseObject(text);
    if (!root || !EnvelopeOk(*root)) {
        return false;
    }
    const Json::Value* a = Member(*root, "a");
    if (a == nullptr || !a->isArray()) {
        return false;
    }
    std::vector<std::wstring> words;
    for (Json::ArrayIndex i = 0; i < a->size(); ++i) {
        const Json::Value& e = (*a)[i];
        if (!e.isObject()) {
            return false;
        }
        const Json::Value* w = Member(e, "a1");
        if (w == nullptr) {
            continue;
        }
        if (!w->isString()) {
            return false;
        }
        words.push_back(platform::FromUtf8(w->asString()));
    }
    out.insert(out.end(), words.begin(), words.end());
    return true;
}

bool ParseVersion(std::string_view text, CVersionRecord& out) {
    const auto root = ParseObject(text);
    if (!root) {
        return false;
    }
    CVersionRecord r = out;
    if (!ReadString(*root, "current_version", r.version) ||
        !ReadString(*root, "content", r.content) || !ReadString(*root, "app_url", r.packageUrl) ||
        !ReadString(*root, "file_hash", r.packageHash)) {
        return false;
    }
    std::int32_t force = r.forced ? 1 : 0;
    const Json::Value* f = Member(*root, "force");
    if (f != nullptr && f->isBool()) {
        return false;  // neither the string nor the number form
    }
    if (!ReadNumber(*root, "force", force)) {
        return false;
    }
    r.forced = force == 1;
    out = r;
    return true;
}

std::string WriteDownloadList(const std::vector<CSongItem>& songs) {
    Json::Value root(Json::objectValue);
    Json::Value& a = root["a"] = Json::Value(Json::arrayValue);
    for (const CSongItem& s : songs) {
        Json::Value e(Json::objectValue);
        e["a1"] = platform::ToUtf8(s.songId);
        e["a2"] = platform::ToUtf8(s.a2);
        e["a3"] = platform::ToUtf8(s.name);
        e["a5"] = platform::ToUtf8(s.musicLocation);
        e["a6"] = s.musicSize;
        e["a9"] = platform::ToUtf8(s.lyricLocation);
        e["a10"] = s.lyricSize;
        e["a13"] = platform::ToUtf8(s.iconLocation);
        e["a14"] = s.a14;
        e["a16"] = platform::ToUtf8(s.singer);
        e["a20"] = platform::ToUtf8(s.a20);
        e["a21"] = platform::ToUtf8(s.a21);
        e["a31"] = s.alternativeBases;
        a.append(e);
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, root) + "\n";
}

bool ParseDownloadList(std::string_view text, std::vector<CSongItem>& out) {
    const auto root = ParseObject(text);
    if (!root) {
        return false;
    }
    const Json::Value* a = Member(*root, "a");
    if (a == nullptr) {
        out.clear();
        return true;
    }
    if (!a->isArray()) {
        return false;
    }
    std::vector<CSongItem> songs;
    for (Json::ArrayIndex i = 0; i < a->size(); ++i) {
        CSongItem song;
        if (!ReadSong((*a)[i], song)) {
            return false;
        }
        if (!IsPlainSongId(song.songId)) {
            continue;
        }
        song.kind = 0;
        song.status = 2;
        songs.push_back(std::move(song));
    }
    out = std::move(songs);
    return true;
}

}  // namespace catalogue
