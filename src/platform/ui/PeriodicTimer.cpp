#include "platform/ui/PeriodicTimer.h"

#include <chrono>

namespace platform {

bool PeriodicTimer::Start(unsigned periodMs, std::function<void()> callback) {
    if (periodMs == 0 || !callback || thread_.get_id() == std::this_thread::get_id()) {
        return false;
    }
    Stop();
    callback_ = std::move(callback);
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    running_ = true;
    thread_ = std::thread([this, periodMs] { Run(periodMs); });
    return true;
}

void PeriodicTimer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    running_ = false;
    // From the callback itself the thread only ends; the next Stop or the
    // destructor, on another thread, joins it.
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

void PeriodicTimer::Run(unsigned periodMs) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(periodMs);
    auto next = Clock::now() + period;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (wake_.wait_until(lock, next, [this] { return stop_; })) {
            break;
        }
        lock.unlock();
        callback_();
        lock.lock();
        next += period;
        const auto now = Clock::now();
        if (next < now) {
            next = now + period;  // fell behind: skip, do not burst
        }
    }
}

}  // namespace platform
