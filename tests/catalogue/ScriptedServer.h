#pragma once
// A loopback TCP server in the test process that answers each connection
// from a script: it records what the client sent and replies, stalls or
// drops as a test asks.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "platform/thread/Event.h"

namespace testnet {

struct Reply {
    std::string bytes;   // sent as they stand
    bool stall = false;  // then keep the connection open and silent
    bool reset = false;  // then close at once (without reading more)
};

// HTTP: one request per connection. `handler` gets the request head and
// the connection's number (0, 1, ...).
class ScriptedHttpServer {
  public:
    using Handler = std::function<Reply(const std::string& request, int connection)>;

    explicit ScriptedHttpServer(Handler handler);
    ~ScriptedHttpServer();

    std::uint16_t Port() const { return listener_.Port(); }
    std::wstring Url(const std::string& path) const;
    std::vector<std::string> Requests() const;

  private:
    void Loop();

    Handler handler_;
    platform::TcpListener listener_;
    platform::Event stop_{platform::Event::Mode::ManualReset};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A server that speaks a line protocol: `handler` gets each command line
// (without CRLF) and returns the reply; the greeting is sent first.
class ScriptedLineServer {
  public:
    using Handler = std::function<Reply(const std::string& line)>;

    ScriptedLineServer(std::string greeting, Handler handler);
    ~ScriptedLineServer();
    std::uint16_t Port() const { return listener_.Port(); }
    std::vector<std::string> Lines() const;

  private:
    void Loop();

    std::string greeting_;
    Handler handler_;
    platform::TcpListener listener_;
    platform::Event stop_{platform::Event::Mode::ManualReset};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

// The value of a request header ("" when absent); names without case.
std::string Header(const std::string& request, const std::string& name);

// Serves `body` for the request's Range like a real server: 206 with
// Content-Range for "bytes=a-[b]", 200 without a Range, 416 past the end.
std::string RangeReply(const std::string& request, const std::string& body,
                       const std::string& extraHeaders = "");

// Deterministic pseudo-random bytes.
std::string TestBytes(std::size_t size, std::uint32_t seed = 1);

}  // namespace testnet
