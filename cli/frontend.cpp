#include "frontend.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include "cachemodule.h"
#include "directorycollation.h"
#include "process.h"

#ifndef FENWA_HELPER_DIR
#define FENWA_HELPER_DIR "../libexec/fenwa"
#endif

namespace fenwa::cli {

namespace {

constexpr const char* FullProgram = "fenwa-cli-full";
constexpr const char* CollationModule = "fenwa-collation.so";
constexpr const char* CacheModule = "fenwa-content-cache.so";

// The function `symbol` of the helper module `name`; when it cannot be had, the full
// program takes the command over, and only when that fails too is the process ended with
// both reasons.
void* moduleFunction(const char* name, const char* symbol);

// The cache in the module, seen as the content check sees a cache. The module is loaded
// and the file opened (made, when new, with its syncs to the disk) on a thread of their
// own while the search walks the folders; the first call waits for them.
class ModuleCache : public ContentHashCache {
public:
    ModuleCache()
        : opening_([this] {
              calls_ = reinterpret_cast<FenwaCacheCallsFunction>(
                  moduleFunction(CacheModule, FENWA_CACHE_MODULE_CALLS))();
              cache_ = calls_->open();
          }) {}
    ~ModuleCache() override { calls().close(cache_); }
    ModuleCache(const ModuleCache&) = delete;
    ModuleCache& operator=(const ModuleCache&) = delete;

    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override {
        std::vector<KeptContentHashes> found(stamps.size());
        std::vector<unsigned char> known(stamps.size());
        calls().lookup(cache_, stamps.data(), stamps.size(), found.data(), known.data());
        std::vector<std::optional<KeptContentHashes>> answers(stamps.size());
        for (size_t i = 0; i < stamps.size(); ++i)
            if (known[i])
                answers[i] = found[i];
        return answers;
    }
    void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) override {
        calls().store(cache_, &stamp, &hashes);
    }
    int settleSeconds() const override { return calls().settleSeconds(cache_); }
    std::string writeBack() override { return calls().writeBack(cache_); }

private:
    const FenwaCacheCalls& calls() const {
        std::call_once(opened_, [this] { opening_.join(); });
        return *calls_;
    }

    const FenwaCacheCalls* calls_ = nullptr;
    void* cache_ = nullptr;
    mutable std::thread opening_;
    mutable std::once_flag opened_;
};

std::vector<std::string>& handedArgs() {
    static std::vector<std::string> args;
    return args;
}

} // namespace

void setHandOver(const std::vector<std::string>& args) {
    handedArgs() = args;
}

std::string helperPath(const std::string& name, bool runnable) {
    const std::string own = platform::ownProgramDirectory();
    if (own.empty())
        return {};
    for (const std::string& dir : {own, own + "/" FENWA_HELPER_DIR}) {
        const std::string path = dir + "/" + name;
        if (platform::isRegularFile(path, runnable))
            return path;
    }
    return {};
}

int handOver() {
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string full = helperPath(FullProgram, true);
    const std::string why =
        full.empty() ? std::string("not found beside fenwa-cli nor in ") + FENWA_HELPER_DIR
                     : platform::replaceProcess(full, "fenwa-cli", handedArgs());
    std::fprintf(stderr, "fenwa-cli: cannot start %s: %s\n", FullProgram, why.c_str());
    return 1;
}

std::shared_ptr<ContentHashCache> openContentCache() {
    return std::make_shared<ModuleCache>();
}

namespace {

void* moduleFunction(const char* name, const char* symbol) {
    const std::string path = helperPath(name, false);
    std::string problem = "not found beside fenwa-cli nor in " FENWA_HELPER_DIR;
    void* function = path.empty() ? nullptr : platform::loadedFunction(path, symbol, problem);
    if (!function) {
        // Said only when the full program cannot take over either.
        const int status = handOver();
        std::fprintf(stderr, "fenwa-cli: cannot load %s: %s\n", name, problem.c_str());
        platform::endProcessNow(status);
    }
    return function;
}

} // namespace

} // namespace fenwa::cli

namespace fenwa {

// Loaded once, by whichever thread of the walk first has siblings to order. Without the
// module the order could not be the one the window shows: the full program runs the
// command instead (nothing has been written yet: output comes after the walk).
void CollateDirectoryNames(std::vector<std::string>& texts) {
    using Collate = void (*)(const char* const*, const size_t*, size_t, size_t*);
    static std::once_flag once;
    static Collate collate = nullptr;
    std::call_once(once, [] {
        collate = reinterpret_cast<Collate>(
            cli::moduleFunction(cli::CollationModule, "fenwa_collate_directory_names"));
    });
    std::vector<const char*> data(texts.size());
    std::vector<size_t> lengths(texts.size()), order(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        data[i] = texts[i].data();
        lengths[i] = texts[i].size();
    }
    collate(data.data(), lengths.data(), texts.size(), order.data());
    std::vector<std::string> sorted(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        sorted[i] = std::move(texts[order[i]]);
    texts = std::move(sorted);
}

} // namespace fenwa
