#pragma once
// Lazily created process-wide instances. The accessor creates the instance
// on first use; a failed allocation leaves the pointer null and the accessor
// answers null. Creation and release are serialised, so two threads asking
// at once get the same instance.
#include <atomic>
#include <mutex>
#include <new>

template <typename T>
class SingleTon {
  public:
    virtual ~SingleTon() = default;

    static T* GetInstance() {
        T* instance = instance_.load(std::memory_order_acquire);
        if (instance != nullptr) {
            return instance;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        instance = instance_.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new (std::nothrow) T();
            instance_.store(instance, std::memory_order_release);
        }
        return instance;
    }

    // The instance if it exists; never creates one.
    static T* PeekInstance() { return instance_.load(std::memory_order_acquire); }

    static void ReleaseInstance() {
        std::lock_guard<std::mutex> guard(mutex_);
        T* instance = instance_.exchange(nullptr, std::memory_order_acq_rel);
        delete instance;
    }

  private:
    static inline std::atomic<T*> instance_{nullptr};
    static inline std::mutex mutex_;
};
