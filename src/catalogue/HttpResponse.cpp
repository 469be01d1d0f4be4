#include "catalogue/HttpResponse.h"

#include <cctype>
#include <charconv>

namespace {

constexpr std::size_t kMaxFramingLine = 4096;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::int64_t> Number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

HttpResponseHead ParseResponseHead(std::string_view head) {
    HttpResponseHead r;
    std::size_t eol = head.find('\n');
    std::string_view first = Trim(head.substr(0, eol));
    if (first.rfind("HTTP/", 0) == 0) {
        const std::size_t space = first.find(' ');
        if (space != std::string_view::npos) {
            std::string_view code = first.substr(space + 1, 3);
            if (code.size() == 3 && std::isdigit(static_cast<unsigned char>(code[0])) &&
                std::isdigit(static_cast<unsigned char>(code[1])) &&
                std::isdigit(static_cast<unsigned char>(code[2])) &&
                (first.size() == space + 4 || first[space + 4] == ' ')) {
                r.status = static_cast<int>(*Number(code));
            }
        }
    }
    while (eol != std::string_view::npos) {
        const std::size_t start = eol + 1;
        eol = head.find('\n', start);
        const std::string_view line = head.substr(
            start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string name = Lower(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (name == "content-length") {
            r.contentLength = Number(value).value_or(-1);
        } else if (name == "location") {
            r.location = std::string(value);
        } else if (name == "last-modified") {
            r.lastModified = std::string(value);
        } else if (name == "transfer-encoding") {
            r.chunked = Lower(value).find("chunked") != std::string::npos;
        } else if (name == "content-range") {
            // "bytes first-last/total"
            std::string_view v = value;
            if (Lower(v.substr(0, 6)) == "bytes ") {
                v.remove_prefix(6);
                const std::size_t dash = v.find('-');
                const std::size_t slash = v.find('/');
                if (dash != std::string_view::npos) {
                    r.rangeFirst = Number(Trim(v.substr(0, dash))).value_or(-1);
                }
                if (slash != std::string_view::npos) {
                    r.rangeTotal = Number(Trim(v.substr(slash + 1))).value_or(-1);
                }
            }
        }
    }
    return r;
}

bool CChunkedDecoder::Feed(const char* raw, std::size_t n, std::string& out) {
    std::size_t i = 0;
    while (i < n) {
        switch (state_) {
            case State::Data: {
                const std::size_t part =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left_, n - i));
                out.append(raw + i, part);
                i += part;
                left_ -= part;
                if (left_ == 0) {
                    state_ = State::DataEnd;
                }
                break;
            }
            case State::Size:
            case State::DataEnd:
            case State::Trailer: {
                const char c = raw[i++];
                if (state_ == State::DataEnd && c != '\r' && c != '\n') {
                    state_ = State::Error;  // a chunk longer than its size
                    return false;
                }
                if (c != '\n') {
                    line_ += c;
                    if (line_.size() > kMaxFramingLine) {
                        state_ = State::Error;
                        return false;
                    }
                    break;
                }
                if (!line_.empty() && line_.back() == '\r') {
                    line_.pop_back();
                }
                if (state_ == State::DataEnd) {
                    if (!line_.empty()) {
                        state_ = State::Error;
                        return false;
                    }
                    state_ = State::Size;
                } else if (state_ == State::Size) {
                    std::string_view size = line_;
                    size = size.substr(0, size.find(';'));
                    size = Trim(size);
                    std::uint64_t value = 0;
                    const auto [end, ec] =
                        std::from_chars(size.data(), size.data() + size.size(), value, 16);
                    if (size.empty() || ec != std::errc() || end != size.data() + size.size()) {
                        state_ = State::Error;
                        return false;
                    }
                    left_ = value;
                    state_ = value == 0 ? State::Trailer : State::Data;
                } else if (line_.empty()) {
                    state_ = State::Done;
                }
                line_.clear();
                break;
            }
            case State::Done:
                return true;  // anything after the last chunk is ignored
            case State::Error:
                return false;
        }
    }
    return state_ != State::Error;
}
