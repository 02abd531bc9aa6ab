// The worker pool's one policy: thread starts that fail leave the work to fewer workers,
// and an exception on any worker stops the job and reaches the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "workerpool.h"

using namespace fenwa;

TEST(WorkerPool, FailedStartsMeanFewerWorkersAndAFailureReachesTheCaller) {
    constexpr size_t Units = 200;
    constexpr int Never = -1;
    const struct Case {
        unsigned threads, startable;
        bool callerWaits;
        int throwAt;   // the unit that throws bad_alloc
        int doneUnits; // exactly this many done, when known (-1: not known)
    } cases[] = {
        {4, UINT_MAX, false, Never, Units},
        {4, 1, false, Never, Units}, // the caller and one helper
        {4, 0, true, Never, Units},  // no thread at all: the waiting caller works
        {4, 2, true, Never, Units},
        {1, UINT_MAX, false, 3, 3}, // one worker: nothing after the failure
        {4, 0, true, 3, 3},
        {4, UINT_MAX, false, 3, -1},
        {4, UINT_MAX, true, 3, -1}, // a helper's failure, the caller only waiting
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.threads << " threads, " << c.startable << " startable, waits "
                     << c.callerWaits << ", throws at " << c.throwAt);
        std::vector<std::atomic<int>> runs(Units);
        std::mutex mutex;
        std::set<unsigned> workers;
        int waits = 0;
        WorkerOptions options;
        options.startableThreads = c.startable;
        if (c.callerWaits)
            options.whileWaiting = [&] { ++waits; };
        const auto work = [&](size_t unit, unsigned worker) {
            {
                std::lock_guard lock(mutex);
                workers.insert(worker);
            }
            if (int(unit) == c.throwAt)
                throw std::bad_alloc();
            ++runs[unit];
        };
        bool threw = false;
        try {
            EXPECT_TRUE(RunWorkers(Units, c.threads, work, options));
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.throwAt != Never);
        int done = 0;
        for (const std::atomic<int>& r : runs) {
            EXPECT_LE(r.load(), 1);
            done += r.load();
        }
        if (c.doneUnits >= 0) {
            EXPECT_EQ(done, c.doneUnits);
        }
        const unsigned most =
            c.startable == UINT_MAX ? c.threads : std::max(1u, c.startable + !c.callerWaits);
        EXPECT_LE(workers.size(), most);
        EXPECT_LT(*workers.rbegin(), c.threads);
        if (c.callerWaits && !threw) {
            EXPECT_GE(waits, 1); // at least once at the end
        }
    }
}

TEST(WorkerPool, AStopRaisedBeforehandTakesNoUnit) {
    std::atomic<bool> stop{true};
    std::atomic<int> done{0};
    WorkerOptions options;
    options.stop = &stop;
    EXPECT_FALSE(RunWorkers(
        10, 3, [&](size_t, unsigned) { ++done; }, options));
    EXPECT_EQ(done, 0);
}
