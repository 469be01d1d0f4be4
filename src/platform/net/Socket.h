#pragma once
// TCP streams for the transfer engine and the loopback servers of the tests
// and tools. Every wait polls the socket together with an optional stop
// event, so a transfer can be cancelled from another thread: Stop() sets
// the event, Abort() shuts the connection down (which also wakes a thread
// blocked in a receive). Only the owning thread closes the descriptor, so a
// descriptor number is never reused under a concurrent Abort().
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

namespace platform {

class Event;

enum class NetStatus {
    Ok,
    Closed,    // the peer ended the stream (receive returned 0)
    Stopped,   // the stop event was set
    TimedOut,  // nothing happened within the time-out
    Failed,    // refused, reset, unreachable, bad address
};

const char* NetStatusName(NetStatus status) noexcept;

class TcpSocket {
  public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host (a name, an IPv4 address or an IPv6 address) and
    // connects without blocking beyond timeoutMs. Closes a previous
    // connection first.
    NetStatus Connect(const std::string& host, std::uint16_t port, const Event* stop,
                      int timeoutMs);

    // Sends every byte; each wait for buffer space is bounded by timeoutMs.
    NetStatus SendAll(std::span<const char> data, const Event* stop, int timeoutMs);

    // Receives at most buffer.size() bytes into buffer. Ok with received > 0,
    // or Closed, Stopped, TimedOut (no byte within timeoutMs; < 0 waits for
    // ever), Failed.
    NetStatus Receive(std::span<char> buffer, std::size_t& received, const Event* stop,
                      int timeoutMs);

    // True when a receive would not block (data, end of stream or error).
    bool WaitReadable(int timeoutMs, const Event* stop);

    // Thread-safe: ends the connection in both directions; blocked and later
    // receives return at once.
    void Abort() noexcept;

    // Closes the descriptor; owning thread only.
    void Close() noexcept;

    bool IsOpen() const noexcept;

    // The numeric address of the connected peer ("127.0.0.1", "::1"); empty
    // when not connected.
    std::string PeerAddress() const;
    std::uint16_t LocalPort() const;

  private:
    friend class TcpListener;
    explicit TcpSocket(int fd) : fd_(fd) {}

    mutable std::mutex mutex_;  // guards fd_ against Abort() from other threads
    int fd_ = -1;
    bool aborted_ = false;
};

// A listening socket bound to a loopback (or given) address.
class TcpListener {
  public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // port 0 picks a free port; Port() tells which.
    bool Listen(const std::string& address = "127.0.0.1", std::uint16_t port = 0, int backlog = 16);
    std::uint16_t Port() const noexcept { return port_; }

    // Waits for a connection (timeoutMs < 0: for ever). Stopped, TimedOut or
    // Failed leave `accepted` untouched.
    NetStatus Accept(TcpSocket& accepted, const Event* stop, int timeoutMs);

    void Close() noexcept;

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace platform
