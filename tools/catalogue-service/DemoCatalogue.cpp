#include "DemoCatalogue.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace demo {

namespace {

std::map<std::string, std::string> Query(const std::string& q) {
    std::map<std::string, std::string> out;
    std::stringstream ss(q);
    std::string part;
    while (std::getline(ss, part, '&')) {
        const std::size_t eq = part.find('=');
        if (eq != std::string::npos) {
            out[part.substr(0, eq)] = UrlDecode(part.substr(eq + 1));
        }
    }
    return out;
}

int Int(const std::map<std::string, std::string>& q, const std::string& key, int fallback) {
    const auto it = q.find(key);
    if (it == q.end()) {
        return fallback;
    }
    try {
        return std::stoi(it->second);
    } catch (...) {
        return fallback;
    }
}

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

// A deterministic stand-in for a file the content folder does not have.
std::string Generated(const std::string& kind, const std::string& id) {
    if (kind == "lrc") {
        return "[ti:Demo song " + id +
               "]\r\n[00:00.00]Demo lyric line one\r\n"
               "[00:04.00]Demo lyric line two\r\n";
    }
    if (kind == "png") {
        static const unsigned char kPng[] = {
            0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
            0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
            0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
            0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
            0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
        return std::string(reinterpret_cast<const char*>(kPng), sizeof kPng);
    }
    std::string out(96 * 1024 + id.size() * 7, '\0');
    std::uint32_t x = 2166136261u;
    for (char c : id) {
        x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

}  // namespace

std::string UrlDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseFailure(const std::string& text, Failure& failure) {
    static const std::map<std::string, Failure> kNames = {{"none", Failure::None},
                                                          {"refuse", Failure::Refuse},
                                                          {"stall", Failure::Stall},
                                                          {"drop", Failure::Drop},
                                                          {"malformed", Failure::Malformed},
                                                          {"arrayroot", Failure::ArrayRoot},
                                                          {"traversal", Failure::Traversal},
                                                          {"hugenumbers", Failure::HugeNumbers},
                                                          {"wrongtypes", Failure::WrongTypes}};
    const auto it = kNames.find(text);
    if (it == kNames.end()) {
        return false;
    }
    failure = it->second;
    return true;
}

DemoCatalogue::DemoCatalogue(std::string contentFolder, int songCount)
    : content_(std::move(contentFolder)) {
    static const char* const kSingers[][2] = {
        {"Ann Lee", "A"}, {"Bo Chen", "B"}, {"Zo\xC3\xAB", "Z"}, {"a&b", "A"}, {"Kai*Star", "K"}};
    for (int i = 0; i < songCount; ++i) {
        Song s;
        s.id = std::to_string(12300 + i);
        s.name = "Demo Song " + std::to_string(i + 1);
        s.singer = kSingers[i % 5][0];
        s.index = kSingers[i % 5][1];
        s.type = i % 3 + 1;
        songs_.push_back(s);
    }
}

std::vector<std::string> DemoCatalogue::Log() const {
    std::lock_guard lock(logLock_);
    return log_;
}

std::string DemoCatalogue::FileBytes(const std::string& kind, const std::string& id) const {
    if (!content_.empty()) {
        const std::string sub = kind == "mp3"   ? "/mp3/bgmusic_64k/"
                                : kind == "lrc" ? "/lyric/lrc/"
                                                : "/pic/icon/";
        std::ifstream in(content_ + sub + id + "." + kind, std::ios::binary);
        if (in) {
            return std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return Generated(kind, id);
}

std::string DemoCatalogue::SongJson(const Song& s) const {
    Json::Value v(Json::objectValue);
    v["a1"] = s.id;
    v["a2"] = "";
    v["a3"] = s.name;
    v["a5"] = s.id + ".mp3";
    v["a6"] = static_cast<Json::Int>(FileBytes("mp3", s.id).size());
    v["a9"] = s.id + ".lrc";
    v["a10"] = static_cast<Json::Int>(FileBytes("lrc", s.id).size());
    v["a13"] = s.id + ".png";
    v["a14"] = 0;
    v["a16"] = s.singer;
    v["a20"] = "";
    v["a21"] = "";
    v["a31"] = "0";
    return Compact(v);
}

Answer DemoCatalogue::Handle(const std::string& target, const std::string& range) {
    {
        std::lock_guard lock(logLock_);
        log_.push_back(target);
    }
    const std::size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const auto query = Query(q == std::string::npos ? "" : target.substr(q + 1));
    if (path == "/_control/fail") {
        Failure f;
        if (!ParseFailure(query.count("mode") ? query.at("mode") : "", f)) {
            return Answer{400, "text/plain", "unknown mode\n"};
        }
        SetFailure(f);
        return Answer{200, "text/plain", "ok\n"};
    }
    if (path == "/_control/log") {
        std::string text;
        for (const auto& line : Log()) {
            text += line + "\n";
        }
        return Answer{200, "text/plain", text};
    }
    const Failure f = failure_;
    if (f == Failure::Refuse) {
        return Answer{403, "text/plain", "refused\n"};
    }
    if (f == Failure::Stall) {
        Answer a;
        a.stall = true;
        return a;
    }
    Answer a = path.rfind("/api/", 0) == 0 ? Catalogue(path, query) : File(path, range);
    a.dropHalf = f == Failure::Drop && a.status / 100 == 2;
    return a;
}

Answer DemoCatalogue::Catalogue(const std::string& path,
                                const std::map<std::string, std::string>& query) {
    const Failure f = failure_;
    if (f == Failure::Malformed) {
        return Answer{200, "application/json", "{\"o\":\"0\",\"a\":[{\"a1\":\"1\","};
    }
    if (f == Failure::ArrayRoot) {
        return Answer{200, "application/json", "[{\"o\":\"0\"}]"};
    }
    if (path == "/api/GetVersion") {
        return Answer{200, "application/json",
                      "{\"current_version\":\"0.38\",\"content\":\"Demo service\",\"app_url\":"
                      "\"\",\"file_hash\":\"\",\"force\":\"0\"}"};
    }
    const int page = std::max(1, Int(query, "page", 1));
    const int size = std::max(1, Int(query, "page_size", 10));
    std::vector<const Song*> chosen;
    if (path == "/api/v3/GetSongTypeGroup") {
        std::string groups[3];
        std::vector<std::string> seen;
        for (const Song& s : songs_) {
            if (std::find(seen.begin(), seen.end(), s.singer) != seen.end()) {
                continue;
            }
            seen.push_back(s.singer);
            const char g = "abc"[s.type - 1];
            Json::Value e(Json::objectValue);
            e[std::string(1, g) + "1"] = s.singer;
            e[std::string(1, g) + "2"] = s.index;
            groups[s.type - 1] += (groups[s.type - 1].empty() ? "" : ",") + Compact(e);
        }
        return Answer{200, "application/json",
                      "{\"o\":\"0\",\"a\":[" + groups[0] + "],\"b\":[" + groups[1] + "],\"c\":[" +
                          groups[2] + "]}"};
    }
    if (path == "/api/v3/GetSearchWordList") {
        const std::string word = query.count("word") ? query.at("word") : "";
        std::string words;
        for (const Song& s : songs_) {
            if (s.name.find(word) != std::string::npos && words.size() < 2000) {
                words += (words.empty() ? "" : ",") + std::string("{\"a1\":\"") + s.name + "\"}";
            }
        }
        return Answer{200, "application/json", "{\"o\":\"0\",\"a\":[" + words + "]}"};
    }
    for (const Song& s : songs_) {
        bool take = false;
        if (path == "/api/v3/GetSongList") {
            take = true;  // newest and ranking list alike
        } else if (path == "/api/v3/GetSongInfoBySongType") {
            take = s.type == Int(query, "song_type", 0);
        } else if (path == "/api/v3/GetSongListBySinger") {
            take = query.count("artist") && s.singer == query.at("artist");
        } else if (path == "/api/v3/GetSongListByQuery") {
            const std::string w = query.count("word") ? query.at("word") : "";
            take = s.name.find(w) != std::string::npos || s.singer.find(w) != std::string::npos;
        } else {
            return Answer{404, "text/plain", "no such path\n"};
        }
        if (take) {
            chosen.push_back(&s);
        }
    }
    std::string entries;
    const std::size_t first = static_cast<std::size_t>(page - 1) * static_cast<std::size_t>(size);
    for (std::size_t i = first; i < chosen.size() && i < first + static_cast<std::size_t>(size);
         ++i) {
        std::string e = SongJson(*chosen[i]);
        if (f == Failure::Traversal) {
            e = "{\"a1\":\"../../evil" + std::to_string(i) + "\",\"a3\":\"x\",\"a5\":\"x.mp3\"}";
        } else if (f == Failure::HugeNumbers) {
            e = "{\"a1\":\"" + chosen[i]->id + "\",\"a6\":30000000000000000000000}";
        } else if (f == Failure::WrongTypes) {
            e = "{\"a1\":[1,2],\"a3\":{\"x\":1}}";
        }
        entries += (entries.empty() ? "" : ",") + e;
    }
    return Answer{200, "application/json",
                  "{\"o\":\"0\",\"a\":[" + entries + "],\"b\":\"\",\"c\":\"\"}"};
}

Answer DemoCatalogue::File(const std::string& path, const std::string& range) {
    std::string kind, rest;
    for (const auto& [prefix, k] : std::initializer_list<std::pair<std::string, std::string>>{
             {"/mp3/bgmusic_64k/", "mp3"}, {"/lyric/lrc/", "lrc"}, {"/pic/icon/", "png"}}) {
        if (path.rfind(prefix, 0) == 0) {
            kind = k;
            rest = path.substr(prefix.size());
        }
    }
    const std::string suffix = "." + kind;
    if (kind.empty() || rest.size() <= suffix.size() ||
        rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return Answer{404, "text/plain", "not found\n"};
    }
    const std::string id = rest.substr(0, rest.size() - suffix.size());
    if (std::none_of(songs_.begin(), songs_.end(), [&](const Song& s) { return s.id == id; })) {
        return Answer{404, "text/plain", "not found\n"};
    }
    const std::string bytes = FileBytes(kind, id);
    const std::string type = kind == "mp3"   ? "audio/mpeg"
                             : kind == "png" ? "image/png"
                                             : "text/plain; charset=utf-8";
    if (range.rfind("bytes=", 0) != 0) {
        return Answer{200, type, bytes};
    }
    const std::string byteRange = range.substr(6);
    const std::size_t dash = byteRange.find('-');
    std::size_t from = 0, to = bytes.empty() ? 0 : bytes.size() - 1;
    try {
        from = std::stoull(byteRange.substr(0, dash));
        if (dash != std::string::npos && dash + 1 < byteRange.size()) {
            to = std::min<std::size_t>(to, std::stoull(byteRange.substr(dash + 1)));
        }
    } catch (...) {
        return Answer{200, type, bytes};
    }
    if (bytes.empty()) {
        return Answer{200, type, bytes};
    }
    if (from >= bytes.size() || from > to) {
        Answer a{416, "text/plain", ""};
        a.extraHeaders = "Content-Range: bytes */" + std::to_string(bytes.size()) + "\r\n";
        return a;
    }
    Answer a{206, type, bytes.substr(from, to - from + 1)};
    a.extraHeaders = "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to) +
                     "/" + std::to_string(bytes.size()) + "\r\n";
    return a;
}

}  // namespace demo
