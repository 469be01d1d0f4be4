#pragma once
// The demo catalogue: a fixed set of songs, the catalogue answers built
// from it, and the songs' files (from a content folder, or generated).
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace demo {

struct Song {
    std::string id;
    std::string name;
    std::string singer;
    std::string index;  // the singer's index text
    int type = 1;       // song type and singer group, 1-3
};

struct Answer {
    Answer() = default;
    Answer(int s, std::string type, std::string b)
        : status(s), contentType(std::move(type)), body(std::move(b)) {}
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::string extraHeaders;
    bool stall = false;     // send nothing, keep the connection
    bool dropHalf = false;  // send half the body, then close
};

// How the service misbehaves when told to.
enum class Failure {
    None,
    Refuse,     // 403 for everything
    Stall,      // accept and stay silent
    Drop,       // half of every body, then the connection closes
    Malformed,  // catalogue answers that are not JSON
    ArrayRoot,  // catalogue answers whose root is an array
    Traversal,  // songs whose ids try to leave the song folder
    HugeNumbers,
    WrongTypes,
};

bool ParseFailure(const std::string& text, Failure& failure);

class DemoCatalogue {
  public:
    // contentFolder may be empty: the files are then generated.
    DemoCatalogue(std::string contentFolder, int songCount);

    // target: the request target ("/api/v3/GetSongList?..."); range: the
    // Range header value ("" when none).
    Answer Handle(const std::string& target, const std::string& range);

    void SetFailure(Failure f) { failure_ = f; }
    std::vector<std::string> Log() const;

  private:
    Answer Catalogue(const std::string& path, const std::map<std::string, std::string>& query);
    Answer File(const std::string& path, const std::string& range);
    std::string SongJson(const Song& song) const;
    std::string FileBytes(const std::string& kind, const std::string& id) const;

    std::string content_;
    std::vector<Song> songs_;
    std::atomic<Failure> failure_{Failure::None};
    mutable std::mutex logLock_;
    std::vector<std::string> log_;
};

std::string UrlDecode(const std::string& text);

}  // namespace demo
