#pragma once
// A picture that keeps turning into a FIFO with no writer and back, for the readers that
// must never wait on what a path names. A reader that checks the path and then opens it
// by name again is caught between the two sooner or later and blocks for good; the
// harness then frees it (a writer opens the FIFO by its other name) so the test can end.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fenwa::testing {

// Runs `call` on a thread of its own. False when it has not returned after the deadline;
// then `whenWaited` runs and a writer opening `fifo` frees the call. A call held by a FIFO
// never returns, so the deadline only has to outlast a slow one: a hundred and fifty
// searches under the thread sanitizer take 15 s on an idle machine and more than 20 s
// beside other builds.
inline bool ReturnsBeforeDeadline(const std::function<void()>& call, const std::string& fifo,
                                  const std::function<void()>& whenWaited = {}) {
    std::future<void> done = std::async(std::launch::async, call);
    const bool returned = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (whenWaited)
        whenWaited();
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    return returned;
}

// Calls `reader` up to `rounds` times on a thread of its own while `path` is swapped
// between a file of `bytes` and a FIFO. False when a call was still waiting after the
// deadline. The path is left as the file.
inline bool ReaderSurvivesFifoSwaps(const std::string& path, const std::string& bytes,
                                    const std::function<void()>& reader, int rounds = 3000) {
    // `side` and `path` trade places over and over; `fifo` keeps a name for the FIFO.
    const std::string fifo = path + ".fifo", side = path + ".side";
    if (::mkfifo(fifo.c_str(), 0600) != 0 || ::link(fifo.c_str(), side.c_str()) != 0)
        return false;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    std::atomic<bool> stop{false};
    // One exchange puts the other kind in place at once: the path never is missing.
    std::thread swapper([&] {
        const auto exchange = [&] {
            ::renameat2(AT_FDCWD, side.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
        };
        while (!stop) {
            exchange();
            exchange();
        }
    });
    const bool returned = ReturnsBeforeDeadline(
        [&] {
            for (int i = 0; i < rounds && !stop; ++i)
                reader();
        },
        fifo,
        [&] {
            stop = true;
            swapper.join();
        });
    ::unlink(fifo.c_str());
    ::unlink(side.c_str());
    return returned;
}

} // namespace fenwa::testing
