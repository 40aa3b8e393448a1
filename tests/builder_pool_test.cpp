// Tests of the builder's worker pool: results come back in order, the memory estimates of
// the tasks running side by side (and the results waiting) stay within the budget, a task
// larger than the budget runs alone, and a failed delivery stops the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "builder/worker_pool.h"

namespace {

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// What the tasks of a run saw, written from every thread.
struct Record {
    std::mutex mutex;
    std::vector<std::string> events;  // "start 3", "deliver 3", in the order they happened
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    }
    size_t Index(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
    }
};

}  // namespace

TEST(BuilderPool, ResultsComeInOrderWhateverFinishesFirst) {
    const std::thread::id caller = std::this_thread::get_id();
    for (const int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        WorkerPool pool(threads, 1000);
        std::vector<uint64_t> estimates(20, 10);
        std::vector<int> finished(estimates.size(), 0);
        std::atomic<int> out_of_turn{0};
        std::vector<size_t> delivered;
        const bool ok = pool.Run(
            estimates,
            [&](size_t i, bool in_turn) -> uint64_t {
                Sleep(static_cast<int>((i * 7) % 5));  // later tasks often end first
                if (in_turn) {
                    EXPECT_EQ(std::this_thread::get_id(), caller) << "task " << i << " in turn elsewhere";
                } else {
                    ++out_of_turn;
                }
                finished[i] = 1;
                return 0;
            },
            [&](size_t i) {
                EXPECT_EQ(finished[i], 1) << "task " << i << " delivered before it ended";
                delivered.push_back(i);
                return true;
            });
        EXPECT_TRUE(ok);
        ASSERT_EQ(delivered.size(), estimates.size());
        for (size_t i = 0; i < delivered.size(); ++i) EXPECT_EQ(delivered[i], i);
        if (threads == 1) {
            EXPECT_EQ(out_of_turn.load(), 0) << "one thread runs every task in turn";
        } else {
            EXPECT_GT(out_of_turn.load(), 0) << "no worker ran a task";
        }
    }
}

TEST(BuilderPool, RunningEstimatesStayWithinTheBudget) {
    const std::vector<uint64_t> estimates = {60, 30, 30, 50, 10, 10, 10, 150, 20, 40, 40, 30, 100, 5, 5, 5};
    WorkerPool pool(6, 100);
    std::atomic<uint64_t> in_use{0}, most{0};
    std::atomic<int> running{0}, most_running{0};
    bool big_ran_alone = false;
    const bool ok = pool.Run(
        estimates,
        [&](size_t i, bool) -> uint64_t {
            const uint64_t now = in_use += estimates[i];
            const int together = ++running;
            if (estimates[i] > 100) big_ran_alone = now == estimates[i];
            else if (now > most) most = now;
            if (together > most_running) most_running = together;
            Sleep(10);
            in_use -= estimates[i];
            --running;
            return 0;
        },
        [](size_t) { return true; });
    EXPECT_TRUE(ok);
    EXPECT_LE(most.load(), 100u);
    EXPECT_TRUE(big_ran_alone) << "the task larger than the budget ran beside another";
    EXPECT_GE(most_running.load(), 3) << "the tasks that fit together did not run together";
}

// A result that waits for its delivery keeps its bytes: a task that would not fit beside
// it and the running tasks starts only once it has been delivered.
TEST(BuilderPool, WaitingResultsCountUntilDelivered) {
    WorkerPool pool(3, 100);
    Record record;
    // Task 2 does not fit beside tasks 0 and 1 while they run (105), nor beside task 0
    // and the 80 bytes that task 1's result holds once it has ended (140).
    const std::vector<uint64_t> estimates = {10, 45, 50};
    pool.Run(
        estimates,
        [&](size_t i, bool) -> uint64_t {
            record.Add("start " + std::to_string(i));
            if (i == 0) Sleep(60);  // task 1 ends long before and waits
            return i == 1 ? 80 : 0;
        },
        [&](size_t i) {
            record.Add("deliver " + std::to_string(i));
            return true;
        });
    ASSERT_LT(record.Index("start 2"), record.events.size());
    EXPECT_GT(record.Index("start 2"), record.Index("deliver 1"));
}

TEST(BuilderPool, AFailedDeliveryStopsTheRun) {
    for (const int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        WorkerPool pool(threads, 1000);
        std::vector<uint64_t> estimates(50, 10);
        std::atomic<int> started{0};
        std::vector<size_t> delivered;
        const bool ok = pool.Run(
            estimates,
            [&](size_t i, bool) -> uint64_t {
                ++started;
                Sleep(i < 4 ? 1 : 20);  // the run stops while the workers are at their first tasks after 3
                return 0;
            },
            [&](size_t i) {
                delivered.push_back(i);
                return i != 3;
            });
        EXPECT_FALSE(ok);
        EXPECT_EQ(delivered, (std::vector<size_t>{0, 1, 2, 3}));
        if (threads == 1) {
            EXPECT_EQ(started.load(), 4) << "a task started after the run was stopped";
        } else {
            EXPECT_LT(started.load(), 50) << "the run went on to the end";
        }
    }
}

TEST(BuilderPool, NoTasksAndMoreThreadsThanTasks) {
    WorkerPool pool(256, 100);
    std::atomic<int> ran{0};
    auto task = [&](size_t, bool) -> uint64_t {
        ++ran;
        return 0;
    };
    auto deliver = [](size_t) { return true; };
    EXPECT_TRUE(pool.Run({}, task, deliver));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(pool.Run({5, 5}, task, deliver));  // the same pool again
    EXPECT_EQ(ran.load(), 2);
}

// With N threads N tasks run at once all the way through: the calling thread, while it
// waits for a result, runs later tasks itself instead of leaving them to the workers.
TEST(BuilderPool, EveryThreadKeepsWorking) {
    for (const int threads : {2, 3}) {
        SCOPED_TRACE(threads);
        WorkerPool pool(threads, 1000);
        std::atomic<int> running{0};
        std::atomic<int> alone{0};  // tasks that never saw threads tasks running
        std::vector<uint64_t> estimates(4 * threads, 1);
        const bool ok = pool.Run(
            estimates,
            [&](size_t, bool) -> uint64_t {
                ++running;
                bool met = false;
                for (int wait = 0; wait < 200 && !met; ++wait) {
                    met = running.load() >= threads;
                    if (!met) Sleep(5);
                }
                if (!met) ++alone;
                Sleep(20);  // stay, so that those still looking meet this one
                --running;
                return 0;
            },
            [](size_t) { return true; });
        EXPECT_TRUE(ok);
        // The last tasks of a run may have nobody left to meet.
        EXPECT_LE(alone.load(), threads - 1);
    }
}
