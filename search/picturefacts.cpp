#include "picturefacts.h"

#include "workerpool.h"

namespace fenwa {

uint64_t captureTimeKey(std::string_view text) {
    // Fields of fixed width: "YYYY:MM:DD HH:MM:SS" or without ":SS".
    if (text.size() != 19 && text.size() != 16)
        return 0;
    static constexpr char Layout[] = "dddd:dd:dd dd:dd:dd";
    uint64_t key = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (Layout[i] != 'd') {
            if (text[i] != Layout[i])
                return 0;
            continue;
        }
        if (text[i] < '0' || text[i] > '9')
            return 0;
        key = key * 10 + uint64_t(text[i] - '0');
    }
    if (text.size() == 16)
        key *= 100;
    const uint64_t month = key / 100000000 % 100, day = key / 1000000 % 100;
    const uint64_t hour = key / 10000 % 100, minute = key / 100 % 100, second = key % 100;
    if (key / 10000000000 == 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60)
        return 0;
    return key;
}

std::string formatCaptureTime(uint64_t key) {
    if (key == 0)
        return {};
    const std::string digits = std::to_string(key);
    if (digits.size() != 14)
        return {};
    return digits.substr(0, 4) + '/' + digits.substr(4, 2) + '/' + digits.substr(6, 2) + ' ' +
           digits.substr(8, 2) + ':' + digits.substr(10, 2);
}

std::string isoCaptureTime(uint64_t key) {
    const std::string digits = key == 0 ? std::string() : std::to_string(key);
    if (digits.size() != 14)
        return {};
    return digits.substr(0, 4) + '-' + digits.substr(4, 2) + '-' + digits.substr(6, 2) + ' ' +
           digits.substr(8, 2) + ':' + digits.substr(10, 2) + ':' + digits.substr(12, 2);
}

PictureFactsReader::PictureFactsReader(PictureFactsRead read, Deliver deliver)
    : read_(std::move(read)), deliver_(std::move(deliver)), thread_([this] { run(); }) {}

PictureFactsReader::~PictureFactsReader() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        abortAll_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PictureFactsReader::ask(Request request) {
    std::vector<Answer> dropped;
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(request));
        if (waiting_.size() > MaxWaiting) {
            Request& oldest = waiting_.front();
            dropped.push_back({oldest.key, std::move(oldest.path), oldest.row, {}, true});
            waiting_.pop_front();
        }
    }
    if (!dropped.empty())
        deliver_(std::move(dropped), 0);
    wake_.notify_one();
}

uint64_t PictureFactsReader::readAll(std::vector<Request> requests) {
    uint64_t ticket = 0;
    {
        const std::lock_guard lock(mutex_);
        abortAll_ = true;
        all_ = std::move(requests);
        allPending_ = true;
        ticket = ++tickets_;
    }
    wake_.notify_one();
    return ticket;
}

void PictureFactsReader::forget() {
    const std::lock_guard lock(mutex_);
    waiting_.clear();
    all_.clear();
    allPending_ = false;
    abortAll_ = true;
}

PictureFacts PictureFactsReader::readOne(const std::string& path) const {
    try {
        return read_(path);
    } catch (...) {
        return {}; // an unreadable file has no facts
    }
}

void PictureFactsReader::run() {
    std::unique_lock lock(mutex_);
    std::vector<Answer> batch;
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || allPending_ || !waiting_.empty(); });
        if (stop_)
            return;
        if (allPending_) {
            std::vector<Request> all = std::move(all_);
            all_.clear();
            allPending_ = false;
            abortAll_ = false;
            const uint64_t ticket = tickets_;
            lock.unlock();
            readEvery(all, ticket);
            lock.lock();
            continue;
        }
        // The row shown last is the one the user looks at now.
        Request request = std::move(waiting_.back());
        waiting_.pop_back();
        lock.unlock();
        const PictureFacts facts = readOne(request.path);
        batch.push_back({request.key, std::move(request.path), request.row, facts, false});
        lock.lock();
        if (waiting_.empty() || batch.size() >= 32) {
            std::vector<Answer> out = std::move(batch);
            batch.clear();
            lock.unlock();
            deliver_(std::move(out), 0);
            lock.lock();
        }
    }
}

void PictureFactsReader::readEvery(std::vector<Request>& all, uint64_t ticket) {
    // In chunks, so the answers come in while the rest is read and a new list stops it
    // soon; each chunk on several threads, as reading waits more than it computes.
    constexpr size_t Chunk = 256;
    const unsigned threads = WorkerThreads();
    WorkerOptions options;
    options.stop = &abortAll_;
    for (size_t at = 0; at < all.size() || at == 0; at += Chunk) {
        const size_t count = std::min(Chunk, all.size() - std::min(at, all.size()));
        std::vector<Answer> answers(count);
        const bool finished = RunWorkers(
            count, threads,
            [&](size_t unit, unsigned) {
                Request& r = all[at + unit];
                const PictureFacts facts = readOne(r.path);
                answers[unit] = {r.key, std::move(r.path), r.row, facts, false};
            },
            options);
        if (!finished || abortAll_)
            return;
        const bool last = at + Chunk >= all.size();
        deliver_(std::move(answers), last ? ticket : 0);
        if (last)
            return;
    }
}

} // namespace fenwa
