#pragma once
// Millisecond clocks. MonotonicMs() is CLOCK_MONOTONIC; code whose timing
// tests must control takes a Clock& and is handed a FakeClock there.
#include <atomic>
#include <cstdint>

namespace platform {

std::uint64_t MonotonicMs() noexcept;
void SleepMs(unsigned ms) noexcept;

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowMs() const noexcept = 0;
};

class MonotonicClock final : public Clock {
public:
    std::uint64_t NowMs() const noexcept override { return MonotonicMs(); }
};

// The process-wide monotonic clock.
Clock& SystemClock() noexcept;

// A clock that moves only when told; safe to read from any thread.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::uint64_t startMs = 0) : now_(startMs) {}
    std::uint64_t NowMs() const noexcept override { return now_.load(); }
    void Advance(std::uint64_t ms) noexcept { now_ += ms; }
    void Set(std::uint64_t ms) noexcept { now_ = ms; }

private:
    std::atomic<std::uint64_t> now_;
};

}  // namespace platform
