#include "platform/instance/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/clock/Clock.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/text/Utf.h"

namespace platform {

namespace {

constexpr int kReadTimeoutMs = 1000;

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool SendAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly size bytes or gives up after the time-out.
bool ReadAll(int fd, unsigned char* data, std::size_t size, int timeoutMs) {
    const std::uint64_t deadline = MonotonicMs() + static_cast<std::uint64_t>(timeoutMs);
    while (size > 0) {
        const std::uint64_t now = MonotonicMs();
        if (now >= deadline) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(deadline - now));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        const ssize_t n = recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

SingleInstance::SingleInstance(std::wstring name, std::wstring folder)
    : name_(std::move(name)), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    StopListening();
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        close(lockFd_);
    }
}

SingleInstance::State SingleInstance::Acquire() {
    if (lockFd_ >= 0) {
        return state_;
    }
    if (folder_.empty()) {
        folder_ = UserTempFolder();
    }
    if (folder_.empty() || name_.empty()) {
        return state_ = State::Unavailable;
    }
    const std::string base = ToUtf8(JoinPath(folder_, name_));
    lockPath_ = base + ".lock";
    socketPath_ = base + ".sock";
    lockFd_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        return state_ = State::Unavailable;
    }
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        return state_ = taken ? State::AnotherRuns : State::Unavailable;
    }

    // The lock is ours, so whatever socket file exists was left by an owner
    // that is gone.
    sockaddr_un address{};
    if (!MakeAddress(socketPath_, address)) {
        DebugOutput("SingleInstance: socket path too long\n");
        return state_ = State::Owner;
    }
    unlink(socketPath_.c_str());
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ >= 0 &&
        (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
         listen(listenFd_, 16) != 0)) {
        close(listenFd_);
        listenFd_ = -1;
    }
    if (listenFd_ < 0) {
        // Still the only instance; later starts just cannot reach us.
        DebugOutput("SingleInstance: cannot listen for other instances\n");
    }
    return state_ = State::Owner;
}

bool SingleInstance::Notify(std::uint32_t flags, int timeoutMs) {
    if (state_ == State::Owner || socketPath_.empty()) {
        return false;
    }
    sockaddr_un address{};
    if (!MakeAddress(socketPath_, address)) {
        return false;
    }
    const std::array<unsigned char, 4> message = {static_cast<unsigned char>(flags & 0xFF),
                                                  static_cast<unsigned char>((flags >> 8) & 0xFF),
                                                  static_cast<unsigned char>((flags >> 16) & 0xFF),
                                                  static_cast<unsigned char>((flags >> 24) & 0xFF)};
    const std::uint64_t deadline =
        MonotonicMs() + static_cast<std::uint64_t>(std::max(timeoutMs, 0));
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            const bool sent = SendAll(fd, message.data(), message.size());
            close(fd);
            return sent;
        }
        close(fd);
        if (MonotonicMs() >= deadline) {
            return false;
        }
        SleepMs(20);
    }
}

bool SingleInstance::Listen(std::function<void(std::uint32_t)> receiver) {
    if (state_ != State::Owner || listenFd_ < 0 || listener_.joinable() || !receiver) {
        return false;
    }
    receiver_ = std::move(receiver);
    stop_.Reset();
    listener_ = std::thread([this] { ListenLoop(); });
    return true;
}

void SingleInstance::StopListening() {
    if (listener_.joinable()) {
        stop_.Set();
        listener_.join();
    }
}

void SingleInstance::ListenLoop() {
    for (;;) {
        std::array<pollfd, 2> fds = {pollfd{stop_.Fd(), POLLIN, 0}, pollfd{listenFd_, POLLIN, 0}};
        const int r = poll(fds.data(), fds.size(), -1);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0 || (fds[0].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) == 0) {
            continue;
        }
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        ucred peer{};
        socklen_t length = sizeof(peer);
        std::array<unsigned char, 4> message{};
        const bool sameUser = getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                              peer.uid == geteuid();
        const bool complete =
            sameUser && ReadAll(client, message.data(), message.size(), kReadTimeoutMs);
        close(client);
        if (complete) {
            receiver_(static_cast<std::uint32_t>(message[0]) |
                      (static_cast<std::uint32_t>(message[1]) << 8) |
                      (static_cast<std::uint32_t>(message[2]) << 16) |
                      (static_cast<std::uint32_t>(message[3]) << 24));
        }
    }
}

}  // namespace platform
