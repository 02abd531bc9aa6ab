#pragma once
// Units of work spread over a few threads, with one policy for every job: a thread that
// cannot be started leaves its units to the others (down to the calling thread alone),
// and an exception thrown by a unit stops the job (no worker takes another unit) and is
// rethrown to the caller once every worker has stopped.

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace fenwa {

// The workers a job gets: `wanted` when given, else the processors, between two (reading
// files waits more than it computes) and eight.
unsigned WorkerThreads(unsigned wanted = 0);

// The workers of a job that waits on the disk rather than computing (a walk of folders
// the caches do not hold): more than the processors, so that the disk has several reads
// to serve at once.
inline constexpr unsigned DiskWaitingThreads = 8;

// How many blocks the calling thread has had read from a disk so far; 0 where the system
// does not count them. A rise over a step says the step was not served from the caches.
uint64_t ThreadBlocksRead();

struct WorkerOptions {
    // Once raised, no worker takes another unit.
    const std::atomic<bool>* stop = nullptr;
    // When given, the calling thread takes no unit while workers run: it calls this every
    // few milliseconds and once at the end (what lets a Cancel through). An exception from
    // it stops the job like one from a unit.
    std::function<void()> whileWaiting;
    // Threads that may be started before a start fails, as when the system has no more.
    unsigned startableThreads = UINT_MAX;
};

// Runs work(unit, worker) for every unit in [0, count) on at most `threads` workers;
// `worker` (below `threads`) says which one, so that a worker may keep state of its own.
// False when `stop` ended the job before every unit was taken.
bool RunWorkers(size_t count, unsigned threads,
                const std::function<void(size_t unit, unsigned worker)>& work,
                const WorkerOptions& options = {});

} // namespace fenwa
