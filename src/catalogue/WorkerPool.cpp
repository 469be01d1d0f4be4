#include "catalogue/WorkerPool.h"

CWorkerPool::CWorkerPool(int threads, platform::ThreadPriority priority, std::string name)
    : priority_(priority), name_(std::move(name)) {
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Loop(); });
    }
}

CWorkerPool::~CWorkerPool() {
    Shutdown();
}

bool CWorkerPool::Push(std::shared_ptr<Task> job) {
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return false;
        }
        queue_.push_back(std::move(job));
        ++busy_;
    }
    workAvailable_.notify_one();
    return true;
}

int CWorkerPool::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

void CWorkerPool::Shutdown() {
    std::deque<std::shared_ptr<Task>> left;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    workAvailable_.notify_all();
    for (auto& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
    threads_.clear();
    {
        std::lock_guard lock(mutex_);
        left.swap(queue_);
        busy_ -= static_cast<int>(left.size());
    }
    for (auto& job : left) {
        job->Release();
    }
}

void CWorkerPool::Loop() {
    platform::SetCurrentThreadPriority(priority_);
    platform::SetCurrentThreadName(name_);
    for (;;) {
        std::shared_ptr<Task> job;
        {
            std::unique_lock lock(mutex_);
            workAvailable_.wait(lock, [this] { return !queue_.empty() || !running_; });
            if (!running_) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job->Run();
        job->Release();
        job.reset();
        {
            std::lock_guard lock(mutex_);
            --busy_;
        }
        jobEnded_.notify_all();
    }
}
