// The builder's worker pool: one mutex and one condition variable over the counter of
// started tasks, the bytes in use and which tasks have ended.
#include "builder/worker_pool.h"

#include <algorithm>
#include <system_error>

WorkerPool::WorkerPool(int threads, uint64_t budget) : threads_(std::max(threads, 1)), budget_(budget) {}

bool WorkerPool::Run(const std::vector<uint64_t>& estimates, const Task& task, const Deliver& deliver) {
    estimates_ = &estimates;
    task_ = &task;
    next_ = 0;
    in_use_ = 0;
    stop_ = false;
    ended_.assign(estimates.size(), false);
    held_.assign(estimates.size(), 0);
    // The workers are stopped and joined on every way out, a delivery that throws included.
    struct Joiner {
        WorkerPool* pool;
        ~Joiner() { pool->StopWorkers(); }
    } joiner{this};
    bool delivered = true;
    for (size_t i = 0; i < estimates.size() && delivered; ++i) {
        const bool mine = TakeInTurn(i);
        // The workers start once the first task is claimed here, so that it runs in turn.
        if (i == 0) StartWorkers(std::min<size_t>(static_cast<size_t>(threads_ - 1), estimates.size() - 1));
        if (mine) Ended(i, task(i, true));
        HelpUntilEnded(i);
        delivered = deliver(i);
        Release(i);
    }
    return delivered;
}

// A thread the system refuses is done without: the others, and the calling thread, take
// its share.
void WorkerPool::StartWorkers(size_t count) {
    for (size_t w = 0; w < count; ++w) {
        try {
            workers_.emplace_back(&WorkerPool::Work, this);
        } catch (const std::system_error&) {
            break;
        }
    }
}

// Lets every worker end after its current task, and joins them.
void WorkerPool::StopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
}

// A worker takes the next task as soon as it fits, until none is left or the run stops.
void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || next_ == ended_.size() || Fits(next_); });
        if (stop_ || next_ == ended_.size()) return;
        const size_t i = next_++;
        in_use_ += (*estimates_)[i];
        lock.unlock();
        Ended(i, (*task_)(i, false));
        lock.lock();
    }
}

// Called with the mutex held.
bool WorkerPool::Fits(size_t i) const { return in_use_ == 0 || in_use_ + (*estimates_)[i] <= budget_; }

// Claims task i for the calling thread when no worker has taken it. Every earlier task has
// been delivered then, so nothing else is in use and it always fits.
bool WorkerPool::TakeInTurn(size_t i) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ != i) return false;
        ++next_;
        in_use_ += (*estimates_)[i];
    }
    changed_.notify_all();  // the next task is another one now
    return true;
}

// Task i has ended: its estimate gives way to what its result holds.
void WorkerPool::Ended(size_t i, uint64_t held) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        in_use_ = in_use_ - (*estimates_)[i] + held;
        held_[i] = held;
        ended_[i] = true;
    }
    changed_.notify_all();
}

// Until task i, which has started, has ended, the calling thread does not sit idle: it
// runs the next tasks that fit, out of turn, as a worker would (with N threads in all, N
// tasks run at once).
void WorkerPool::HelpUntilEnded(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (ended_[i]) return;
        if (!stop_ && next_ < ended_.size() && Fits(next_)) {
            const size_t j = next_++;
            in_use_ += (*estimates_)[j];
            lock.unlock();
            changed_.notify_all();
            Ended(j, (*task_)(j, false));
            lock.lock();
            continue;
        }
        changed_.wait(lock, [this, i] { return ended_[i] || (!stop_ && next_ < ended_.size() && Fits(next_)); });
    }
}

// The result of task i has been delivered: what it held is free.
void WorkerPool::Release(size_t i) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        in_use_ -= held_[i];
        held_[i] = 0;
    }
    changed_.notify_all();
}
