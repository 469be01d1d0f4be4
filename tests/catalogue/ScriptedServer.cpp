#include "ScriptedServer.h"

#include <cctype>

#include "platform/text/Utf.h"

namespace testnet {

namespace {

constexpr int kIdleMs = 10000;

bool ReadUntil(platform::TcpSocket& s, const platform::Event& stop, std::string& buffer,
               const std::string& marker) {
    char chunk[4096];
    while (buffer.find(marker) == std::string::npos) {
        std::size_t n = 0;
        if (s.Receive(chunk, n, &stop, kIdleMs) != platform::NetStatus::Ok) {
            return false;
        }
        buffer.append(chunk, n);
    }
    return true;
}

void Deliver(platform::TcpSocket& s, const platform::Event& stop, const Reply& reply) {
    s.SendAll(reply.bytes, &stop, kIdleMs);
    if (reply.stall) {
        const_cast<platform::Event&>(stop).Wait(-1);
    }
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_.Listen("127.0.0.1", 0);
    thread_ = std::thread([this] { Loop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop_.Set();
    thread_.join();
}

std::wstring ScriptedHttpServer::Url(const std::string& path) const {
    return platform::FromUtf8("http://127.0.0.1:" + std::to_string(Port()) + path);
}

std::vector<std::string> ScriptedHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedHttpServer::Loop() {
    std::vector<std::thread> workers;
    for (int connection = 0;; ++connection) {
        platform::TcpSocket s;
        if (listener_.Accept(s, &stop_, -1) != platform::NetStatus::Ok) {
            break;
        }
        // Each connection on its own thread, so a stalled one holds up no other.
        workers.emplace_back([this, connection, s = std::move(s)]() mutable {
            std::string request;
            if (!ReadUntil(s, stop_, request, "\r\n\r\n")) {
                return;
            }
            request.resize(request.find("\r\n\r\n") + 4);
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            Deliver(s, stop_, handler_(request, connection));
        });
    }
    for (auto& w : workers) {
        w.join();
    }
}

ScriptedLineServer::ScriptedLineServer(std::string greeting, Handler handler)
    : greeting_(std::move(greeting)), handler_(std::move(handler)) {
    listener_.Listen("127.0.0.1", 0);
    thread_ = std::thread([this] { Loop(); });
}

ScriptedLineServer::~ScriptedLineServer() {
    stop_.Set();
    thread_.join();
}

std::vector<std::string> ScriptedLineServer::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void ScriptedLineServer::Loop() {
    for (;;) {
        platform::TcpSocket s;
        if (listener_.Accept(s, &stop_, -1) != platform::NetStatus::Ok) {
            return;
        }
        s.SendAll(greeting_, &stop_, kIdleMs);
        std::string buffer;
        for (;;) {
            if (!ReadUntil(s, stop_, buffer, "\r\n")) {
                break;
            }
            const std::size_t eol = buffer.find("\r\n");
            const std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 2);
            {
                std::lock_guard lock(mutex_);
                lines_.push_back(line);
            }
            const Reply reply = handler_(line);
            Deliver(s, stop_, reply);
            if (reply.reset || reply.stall) {
                break;
            }
        }
    }
}

std::string Header(const std::string& request, const std::string& name) {
    std::string lower = request;
    std::string key = "\r\n" + name + ":";
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t at = lower.find(key);
    if (at == std::string::npos) {
        return {};
    }
    std::size_t start = at + key.size();
    while (start < request.size() && request[start] == ' ') {
        ++start;
    }
    return request.substr(start, request.find("\r\n", start) - start);
}

std::string RangeReply(const std::string& request, const std::string& body,
                       const std::string& extraHeaders) {
    const std::string range = Header(request, "Range");
    if (range.rfind("bytes=", 0) != 0) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
               extraHeaders + "\r\n" + body;
    }
    const std::string byteRange = range.substr(6);
    const std::size_t dash = byteRange.find('-');
    const std::size_t first = std::stoull(byteRange.substr(0, dash));
    std::size_t last = body.empty() ? 0 : body.size() - 1;
    if (dash + 1 < byteRange.size()) {
        last = std::min<std::size_t>(last, std::stoull(byteRange.substr(dash + 1)));
    }
    if (first >= body.size() || first > last) {
        return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n";
    }
    const std::string part = body.substr(first, last - first + 1);
    return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(part.size()) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + part;
}

std::string TestBytes(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return out;
}

}  // namespace testnet
