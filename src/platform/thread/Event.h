#pragma once
// Auto-reset and manual-reset events on eventfd.
//
// Set() is one write(2) on a non-blocking descriptor: no lock and no
// allocation, so a real-time thread may signal a worker with it. Fd() lets
// the platform's poll loops (sockets, audio devices) wake on an event too.
#include <chrono>
#include <span>

namespace platform {

class Event {
public:
    enum class Mode { AutoReset, ManualReset };

    explicit Event(Mode mode = Mode::AutoReset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() noexcept;
    void Reset() noexcept;
    bool IsManualReset() const noexcept { return mode_ == Mode::ManualReset; }

    // Waits until the event is set; an auto-reset event is reset by the
    // wait that sees it. timeoutMs < 0 waits for ever. True when signalled.
    bool Wait(int timeoutMs = -1) noexcept;

    // Readable while the event is set.
    int Fd() const noexcept { return fd_; }

    // Claims the signal of a set event: reads an auto-reset event's counter,
    // leaves a manual-reset event set. False when another waiter was faster.
    bool Claim() noexcept;

private:
    Mode mode_;
    int fd_;
};

inline constexpr int kWaitTimeout = -1;

// Waits until one of the events is set and returns its index; when several
// are set, the lowest index wins. Returns kWaitTimeout on time-out.
// timeoutMs < 0 waits for ever.
int WaitAny(std::span<Event* const> events, int timeoutMs = -1) noexcept;

}  // namespace platform
