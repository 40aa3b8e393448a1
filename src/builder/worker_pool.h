// A small pool of threads for the package builder: runs numbered tasks in their order, each
// only when its memory estimate fits beside the tasks running and the results waiting, and
// hands the results on in that order on the calling thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    // Runs task i. `in_turn` is true when it runs on the calling thread after every task
    // before it has been delivered: it may then hand its result on as it goes. Returns the
    // bytes its result still holds until it is delivered (0 when none). Must not throw.
    using Task = std::function<uint64_t(size_t i, bool in_turn)>;
    // Hands on the result of task i, on the calling thread, for i = 0, 1, ... in order.
    // False stops the run: no further task starts and nothing more is delivered.
    using Deliver = std::function<bool(size_t i)>;

    // `threads` threads in all, the calling one included (at least one is used); `budget`
    // bytes shared by the estimates of the tasks running and the results waiting.
    WorkerPool(int threads, uint64_t budget);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs one task per entry of `estimates` (what the task may use while it runs). A task
    // starts when every earlier one has started and its estimate fits the budget beside
    // what is in use; one larger than the budget starts when nothing else is. The calling
    // thread runs each task that no worker has taken when its turn comes, and while it
    // waits for a task's result it runs later tasks itself. Returns false
    // when a delivery stopped the run; every task started has ended when Run returns.
    bool Run(const std::vector<uint64_t>& estimates, const Task& task, const Deliver& deliver);

private:
    void StartWorkers(size_t count);
    void StopWorkers();
    void Work();
    bool Fits(size_t i) const;
    bool TakeInTurn(size_t i);
    void Ended(size_t i, uint64_t held);
    void HelpUntilEnded(size_t i);
    void Release(size_t i);

    const int threads_;
    const uint64_t budget_;
    const std::vector<uint64_t>* estimates_ = nullptr;
    const Task* task_ = nullptr;
    std::vector<std::thread> workers_;

    std::mutex mutex_;
    std::condition_variable changed_;  // a task started or ended, memory was freed, or stop
    size_t next_ = 0;                  // the first task not started
    uint64_t in_use_ = 0;              // estimates of running tasks, bytes of waiting results
    std::vector<bool> ended_;
    std::vector<uint64_t> held_;  // per task: what its result holds until delivered
    bool stop_ = false;
};
