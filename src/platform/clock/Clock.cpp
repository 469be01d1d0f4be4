#include "platform/clock/Clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

std::uint64_t MonotonicMs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(unsigned ms) noexcept {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

Clock& SystemClock() noexcept {
    static MonotonicClock clock;
    return clock;
}

}  // namespace platform
