#include "workerpool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

namespace fenwa {

unsigned WorkerThreads(unsigned wanted) {
    if (wanted > 0)
        return wanted;
    return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
}

uint64_t ThreadBlocksRead() {
#if defined(__linux__) && defined(RUSAGE_THREAD)
    struct rusage usage {};
    if (::getrusage(RUSAGE_THREAD, &usage) == 0 && usage.ru_inblock > 0)
        return uint64_t(usage.ru_inblock);
#endif
    return 0;
}

bool RunWorkers(size_t count, unsigned threads, const std::function<void(size_t, unsigned)>& work,
                const WorkerOptions& options) {
    if (count == 0)
        return true;
    threads = unsigned(std::clamp<size_t>(threads, 1, count));
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false}, stopped{false};
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;

    const auto fail = [&] {
        std::lock_guard lock(mutex);
        if (!failure)
            failure = std::current_exception();
        failed = true;
    };
    // Takes units until none is left, the job failed or it was stopped. `between` runs
    // after each unit (the waiting caller's duty when it has to work itself).
    const auto take = [&](unsigned worker, const std::function<void()>& between) {
        try {
            for (;;) {
                if (failed.load(std::memory_order_relaxed))
                    return;
                if (options.stop && options.stop->load(std::memory_order_relaxed)) {
                    stopped = true;
                    return;
                }
                const size_t unit = next.fetch_add(1);
                if (unit >= count)
                    return;
                work(unit, worker);
                if (between)
                    between();
            }
        } catch (...) {
            fail();
        }
    };

    const bool callerWaits = bool(options.whileWaiting);
    const unsigned helpers = callerWaits ? threads : threads - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (unsigned t = 0; t < helpers && pool.size() < options.startableThreads; ++t) {
        const unsigned worker = callerWaits ? t : t + 1;
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        try {
            pool.emplace_back([&, worker] {
                take(worker, {});
                std::lock_guard lock(mutex);
                if (--running == 0)
                    finished.notify_one();
            });
        } catch (...) {
            // No more threads to be had (or no memory for one): those started do the work.
            std::lock_guard lock(mutex);
            --running;
            break;
        }
    }

    if (!callerWaits || pool.empty()) {
        // The calling thread is worker 0 (or, when no thread started, the only one).
        take(0, options.whileWaiting);
    } else {
        for (;;) {
            std::unique_lock lock(mutex);
            if (finished.wait_for(lock, std::chrono::milliseconds(2), [&] { return running == 0; }))
                break;
            lock.unlock();
            if (failed)
                continue; // only waiting for the workers to stop
            try {
                options.whileWaiting();
            } catch (...) {
                fail();
            }
        }
    }
    for (std::thread& t : pool)
        t.join();
    if (callerWaits && !failed) {
        try {
            options.whileWaiting();
        } catch (...) {
            fail();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    return !stopped && next.load() >= count;
}

} // namespace fenwa
