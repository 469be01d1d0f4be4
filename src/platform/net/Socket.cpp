#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/clock/Clock.h"
#include "platform/thread/Event.h"

namespace platform {

namespace {

int Remaining(int timeoutMs, std::uint64_t startMs) {
    if (timeoutMs < 0) {
        return -1;
    }
    const std::uint64_t elapsed = MonotonicMs() - startMs;
    return elapsed >= static_cast<std::uint64_t>(timeoutMs) ? 0
                                                            : timeoutMs - static_cast<int>(elapsed);
}

bool IsSet(const Event* stop) {
    if (stop == nullptr) {
        return false;
    }
    pollfd p{stop->Fd(), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

// Waits for `events` on fd or for the stop event. Ok when fd is ready.
NetStatus WaitFor(int fd, short events, const Event* stop, int timeoutMs) {
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stop != nullptr ? stop->Fd() : -1, POLLIN, 0}};
        const int n = poll(fds, stop != nullptr ? 2 : 1, Remaining(timeoutMs, start));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return NetStatus::Failed;
        }
        if (stop != nullptr && (fds[1].revents & POLLIN) != 0) {
            return NetStatus::Stopped;
        }
        if (n == 0) {
            return NetStatus::TimedOut;
        }
        if (fds[0].revents != 0) {
            return NetStatus::Ok;
        }
    }
}

struct AddrInfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string Unbracket(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

}  // namespace

const char* NetStatusName(NetStatus status) noexcept {
    switch (status) {
        case NetStatus::Ok:
            return "ok";
        case NetStatus::Closed:
            return "closed";
        case NetStatus::Stopped:
            return "stopped";
        case NetStatus::TimedOut:
            return "timed out";
        case NetStatus::Failed:
            return "failed";
    }
    return "?";
}

TcpSocket::~TcpSocket() {
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept {
    std::lock_guard lock(other.mutex_);
    fd_ = other.fd_;
    aborted_ = other.aborted_;
    other.fd_ = -1;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        std::scoped_lock lock(mutex_, other.mutex_);
        fd_ = other.fd_;
        aborted_ = other.aborted_;
        other.fd_ = -1;
    }
    return *this;
}

NetStatus TcpSocket::Connect(const std::string& host, std::uint16_t port, const Event* stop,
                             int timeoutMs) {
    Close();
    {
        std::lock_guard lock(mutex_);
        aborted_ = false;
    }
    if (host.empty() || port == 0) {
        return NetStatus::Failed;
    }
    const std::uint64_t start = MonotonicMs();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(Unbracket(host).c_str(), service.c_str(), &hints, &raw) != 0 ||
        raw == nullptr) {
        return NetStatus::Failed;
    }
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    NetStatus last = NetStatus::Failed;
    for (addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
        const int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            last = WaitFor(fd, POLLOUT, stop, Remaining(timeoutMs, start));
            if (last == NetStatus::Ok) {
                int error = 0;
                socklen_t len = sizeof error;
                rc = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0 ? 0 : -1;
                if (rc != 0) {
                    last = NetStatus::Failed;
                }
            }
        } else if (rc != 0) {
            last = NetStatus::Failed;
        }
        if (rc == 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex_);
            fd_ = fd;
            if (aborted_) {
                shutdown(fd_, SHUT_RDWR);
            }
            return NetStatus::Ok;
        }
        close(fd);
        if (last == NetStatus::Stopped || last == NetStatus::TimedOut) {
            return last;
        }
    }
    return last;
}

NetStatus TcpSocket::SendAll(std::span<const char> data, const Event* stop, int timeoutMs) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        if (IsSet(stop)) {
            return NetStatus::Stopped;
        }
        const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const NetStatus s = WaitFor(fd_, POLLOUT, stop, timeoutMs);
            if (s != NetStatus::Ok) {
                return s;
            }
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetStatus TcpSocket::Receive(std::span<char> buffer, std::size_t& received, const Event* stop,
                             int timeoutMs) {
    received = 0;
    if (fd_ < 0) {
        return NetStatus::Failed;
    }
    const std::uint64_t start = MonotonicMs();
    // Data already there is taken without looking at the stop event (one
    // system call per chunk); the stop is seen by every wait, and Abort()
    // ends the stream.
    for (;;) {
        const ssize_t n = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return NetStatus::Ok;
        }
        if (n == 0) {
            std::lock_guard lock(mutex_);
            return aborted_ ? NetStatus::Stopped : NetStatus::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return NetStatus::Failed;
        }
        const NetStatus s = WaitFor(fd_, POLLIN, stop, Remaining(timeoutMs, start));
        if (s != NetStatus::Ok) {
            return s;
        }
    }
}

bool TcpSocket::WaitReadable(int timeoutMs, const Event* stop) {
    return fd_ >= 0 && WaitFor(fd_, POLLIN, stop, timeoutMs) == NetStatus::Ok;
}

void TcpSocket::Abort() noexcept {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    if (fd_ >= 0) {
        shutdown(fd_, SHUT_RDWR);
    }
}

void TcpSocket::Close() noexcept {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool TcpSocket::IsOpen() const noexcept {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

std::string TcpSocket::PeerAddress() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
    } else if (addr.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
    }
    return text;
}

std::uint16_t TcpSocket::LocalPort() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    if (addr.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
}

TcpListener::~TcpListener() {
    Close();
}

bool TcpListener::Listen(const std::string& address, std::uint16_t port, int backlog) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &raw) != 0 || raw == nullptr) {
        return false;
    }
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    const int fd = socket(raw->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, raw->ai_addr, raw->ai_addrlen) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = addr.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port)
                                      : ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return true;
}

NetStatus TcpListener::Accept(TcpSocket& accepted, const Event* stop, int timeoutMs) {
    if (fd_ < 0) {
        return NetStatus::Failed;
    }
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            accepted = TcpSocket(fd);
            return NetStatus::Ok;
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return NetStatus::Failed;
        }
        const NetStatus s = WaitFor(fd_, POLLIN, stop, Remaining(timeoutMs, start));
        if (s != NetStatus::Ok) {
            return s;
        }
    }
}

void TcpListener::Close() noexcept {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    port_ = 0;
}

}  // namespace platform
