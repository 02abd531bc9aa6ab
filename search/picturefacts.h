#pragma once
// What a picture's header tells a user deciding between copies: its size as shown and
// when it was taken. The result list reads them for the rows in view only, on a thread
// beside the window, and keeps them by the file's identity and change stamp, so a list
// of a million rows costs nothing until those columns are looked at.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fenwa {

struct PictureFacts {
    int32_t width = 0; // as shown (turned as the picture says); 0 when no readable picture
    int32_t height = 0;
    uint64_t taken = 0; // YYYYMMDDhhmmss; 0 when the file does not say
};

// "YYYY:MM:DD HH:MM:SS" (the seconds may be missing) as the number YYYYMMDDhhmmss, which
// orders as the time does; 0 for anything that is no such date.
uint64_t captureTimeKey(std::string_view text);
// "YYYY/MM/DD HH:MM" of a key, as the Time column writes a minute; empty for 0.
std::string formatCaptureTime(uint64_t key);
// "YYYY-MM-DD HH:MM:SS" of a key, as spreadsheets and date parsers read it; empty for 0.
std::string isoCaptureTime(uint64_t key);

// Reads one file's facts; called on the reader's threads.
using PictureFactsRead = std::function<PictureFacts(const std::string& nativePath)>;

// A file as the list read it. Files without a known inode go by their path.
struct FactsKey {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t stamp = 0;
    friend bool operator==(const FactsKey&, const FactsKey&) = default;
};
struct FactsKeyHash {
    size_t operator()(const FactsKey& k) const {
        uint64_t h = k.inode * 0x9E3779B97F4A7C15ull;
        h ^= (k.device + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2));
        h ^= (k.stamp + 0x85EBCA77C2B2AE63ull + (h << 6) + (h >> 2));
        return size_t(h);
    }
};

// A thread that answers requests for facts: rows in view one at a time, newest first
// (what scrolled past is no longer wanted first), and all rows of a list at once, on
// several threads, before a sort by the facts. Answers are handed to `deliver` in
// batches on the reader's thread; the receiver posts them to its own.
class PictureFactsReader {
public:
    struct Request {
        FactsKey key;
        std::string path;
        int row = -1; // the row that asked, for the receiver's change notice
    };
    struct Answer {
        FactsKey key;
        std::string path;
        int row = -1;
        PictureFacts facts;
        // Not read: more rows were asked for meanwhile than are kept waiting. The row asks
        // again when it is shown again.
        bool dropped = false;
    };
    // `doneTicket` is a readAll's ticket with its last answers (possibly none), else 0.
    using Deliver = std::function<void(std::vector<Answer>&& answers, uint64_t doneTicket)>;

    // Rows in view kept waiting at most; older requests are dropped.
    static constexpr size_t MaxWaiting = 4096;

    PictureFactsReader(PictureFactsRead read, Deliver deliver);
    ~PictureFactsReader();
    PictureFactsReader(const PictureFactsReader&) = delete;
    PictureFactsReader& operator=(const PictureFactsReader&) = delete;

    void ask(Request request);
    // Reads every request; its last answers come with the ticket returned. Replaces a
    // readAll not yet finished, whose ticket never comes.
    uint64_t readAll(std::vector<Request> requests);
    // Forgets every request not yet read (the list was replaced); nothing more is said
    // about them.
    void forget();

private:
    void run();
    void readEvery(std::vector<Request>& all, uint64_t ticket);
    PictureFacts readOne(const std::string& path) const;

    PictureFactsRead read_;
    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> waiting_;
    std::vector<Request> all_;
    bool allPending_ = false;
    bool stop_ = false;
    // Raised to stop a readAll under way.
    std::atomic<bool> abortAll_ = false;
    uint64_t tickets_ = 0;
    std::thread thread_;
};

} // namespace fenwa
