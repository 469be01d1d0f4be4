#include "catalogue/SocketClient.h"

#include <cctype>

#include "platform/text/Utf.h"

namespace {

constexpr std::size_t kMaxReplyLine = 8192;
constexpr int kMaxReplyLines = 200;

int ReplyCode(std::string_view line) {
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
        !std::isdigit(static_cast<unsigned char>(line[1])) ||
        !std::isdigit(static_cast<unsigned char>(line[2]))) {
        return 0;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

CSocketClient::CSocketClient(int index, const platform::Event& stop, const DownloadOptions& options)
    : index_(index), stop_(stop), options_(options) {}

bool CSocketClient::ConnectTo(const std::wstring& host, std::uint16_t port) {
    return ConnectTo(platform::ToUtf8(host), port);
}

bool CSocketClient::ConnectTo(const std::string& host, std::uint16_t port) {
    Close();
    last_ = socket_.Connect(host, port, &stop_, options_.connectTimeoutMs);
    connected_ = last_ == platform::NetStatus::Ok;
    return connected_;
}

bool CSocketClient::SendAll(std::string_view bytes) {
    last_ = socket_.SendAll(std::span<const char>(bytes.data(), bytes.size()), &stop_,
                            options_.sendTimeoutMs);
    return last_ == platform::NetStatus::Ok;
}

platform::NetStatus CSocketClient::Receive(std::span<char> buffer, std::size_t& received) {
    last_ = socket_.Receive(buffer, received, &stop_, options_.receiveTimeoutMs);
    return last_;
}

bool CSocketClient::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        if (pending_.size() > kMaxReplyLine) {
            last_ = platform::NetStatus::Failed;
            return false;
        }
        char chunk[1024];
        std::size_t n = 0;
        if (Receive(chunk, n) != platform::NetStatus::Ok) {
            return false;
        }
        pending_.append(chunk, n);
    }
}

int CSocketClient::ReadReply(std::string& text) {
    std::string line;
    if (!ReadLine(line)) {
        return 0;
    }
    const int code = ReplyCode(line);
    if (code == 0) {
        last_ = platform::NetStatus::Failed;
        return 0;
    }
    if (line.size() > 3 && line[3] == '-') {
        // A multi-line reply ends with the line that starts with the same
        // code and a space.
        const std::string end = line.substr(0, 3) + " ";
        for (int i = 0;; ++i) {
            if (i == kMaxReplyLines || !ReadLine(line)) {
                last_ = platform::NetStatus::Failed;
                return 0;
            }
            if (line.rfind(end, 0) == 0 || line == end.substr(0, 3)) {
                break;
            }
        }
    }
    text = line;
    return code;
}

bool CSocketClient::ExpectReply(int code) {
    std::string text;
    return ReadReply(text) == code;
}

void CSocketClient::Close() noexcept {
    socket_.Close();
    pending_.clear();
    connected_ = false;
}
