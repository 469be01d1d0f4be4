#include "platform/thread/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/clock/Clock.h"

namespace platform {

namespace {

constexpr std::size_t kMaxWaitAny = 16;

int RemainingMs(int timeoutMs, std::uint64_t startMs) {
    if (timeoutMs < 0) {
        return -1;
    }
    const std::uint64_t elapsed = MonotonicMs() - startMs;
    return elapsed >= static_cast<std::uint64_t>(timeoutMs) ? 0
                                                            : timeoutMs - static_cast<int>(elapsed);
}

}  // namespace

Event::Event(Mode mode, bool initiallySet) : mode_(mode) {
    fd_ = eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) {
        std::abort();  // out of descriptors: nothing sensible can go on
    }
}

Event::~Event() { close(fd_); }

void Event::Set() noexcept {
    const std::uint64_t one = 1;
    // EAGAIN would mean the counter is at its maximum: the event is set.
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void Event::Reset() noexcept {
    std::uint64_t value;
    while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool Event::Claim() noexcept {
    if (mode_ == Mode::ManualReset) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
    std::uint64_t value;
    for (;;) {
        if (read(fd_, &value, sizeof value) == sizeof value) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool Event::Wait(int timeoutMs) noexcept {
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<Event* const> events, int timeoutMs) noexcept {
    if (events.empty() || events.size() > kMaxWaitAny) {
        return kWaitTimeout;
    }
    std::array<pollfd, kMaxWaitAny> fds{};
    for (std::size_t i = 0; i < events.size(); ++i) {
        fds[i] = pollfd{events[i]->Fd(), POLLIN, 0};
    }
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        const int n = poll(fds.data(), events.size(), RemainingMs(timeoutMs, start));
        if (n < 0 && errno != EINTR) {
            return kWaitTimeout;
        }
        if (n > 0) {
            for (std::size_t i = 0; i < events.size(); ++i) {
                if ((fds[i].revents & POLLIN) && events[i]->Claim()) {
                    return static_cast<int>(i);
                }
            }
        }
        if (n == 0 || RemainingMs(timeoutMs, start) == 0) {
            return kWaitTimeout;
        }
        // Another waiter claimed the signal first, or a signal interrupted
        // the poll: wait again for what is left of the time-out.
    }
}

}  // namespace platform
