#pragma once
// A periodic timer whose callback runs on a thread of its own, at a steady
// period measured on the monotonic clock (the repeat button's multimedia
// timer). The callback must not touch windows: it posts to the loop.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class PeriodicTimer {
  public:
    PeriodicTimer() = default;
    ~PeriodicTimer() { Stop(); }
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Restarts the timer when it runs; false for a zero period, no callback
    // or a call from the callback.
    bool Start(unsigned periodMs, std::function<void()> callback);
    // Returns once no callback runs any more and none will follow. From
    // inside the callback it only stops further calls.
    void Stop();
    bool Running() const { return running_; }

  private:
    void Run(unsigned periodMs);

    std::function<void()> callback_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> running_{false};
    bool stop_ = false;
};

}  // namespace platform
