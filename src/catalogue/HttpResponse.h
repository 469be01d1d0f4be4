#pragma once
// Reading HTTP/1.1 response heads and chunked bodies.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/DownloadPub.h"

struct HttpResponseHead {
    int status = -1;  // -1: no status line
    std::int64_t contentLength = -1;
    std::string location;
    std::string lastModified;
    bool chunked = false;
    std::int64_t rangeFirst = -1;  // from Content-Range
    std::int64_t rangeTotal = -1;
};

// Parses a response head (the bytes before "\r\n\r\n"). Header names are
// matched without case; a bad number leaves its field unknown.
HttpResponseHead ParseResponseHead(std::string_view head);

// Decodes the chunked transfer coding incrementally; chunk extensions and
// trailers are skipped. Framing lines are bounded.
class CChunkedDecoder final : public IBodyDecoder {
  public:
    bool Feed(const char* raw, std::size_t n, std::string& out) override;
    bool Done() const override { return state_ == State::Done; }

  private:
    enum class State { Size, Data, DataEnd, Trailer, Done, Error };
    State state_ = State::Size;
    std::string line_;
    std::uint64_t left_ = 0;
};
