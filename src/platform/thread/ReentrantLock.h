#pragma once
// The re-entrant lock that guards data shared between threads (a thread that
// holds it may take it again). Use with std::lock_guard / std::unique_lock.
#include <mutex>

namespace platform {

class ReentrantLock {
public:
    void lock() { mutex_.lock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

using LockGuard = std::lock_guard<ReentrantLock>;

}  // namespace platform
