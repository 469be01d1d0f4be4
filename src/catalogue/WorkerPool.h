#pragma once
// A fixed set of threads taking jobs from one first-in-first-out queue.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread/ThreadPriority.h"

class Task {
  public:
    virtual ~Task() = default;
    virtual void Run() = 0;
    // Called once the pool is done with the job (run or discarded).
    virtual void Release() {}
};

class CWorkerPool {
  public:
    CWorkerPool(int threads, platform::ThreadPriority priority, std::string name);
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // False once the pool has been shut down.
    bool Push(std::shared_ptr<Task> job);
    // Jobs queued or running.
    int Busy() const;
    // Stops taking jobs, waits for the running ones, releases the queued
    // ones without running them.
    void Shutdown();

  private:
    void Loop();

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable jobEnded_;
    std::deque<std::shared_ptr<Task>> queue_;
    std::vector<std::thread> threads_;
    int busy_ = 0;
    bool running_ = true;
    platform::ThreadPriority priority_;
    std::string name_;
};
