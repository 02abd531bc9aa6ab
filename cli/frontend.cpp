#include "frontend.h"

#include <cstdio>
#include <mutex>

#include "directorycollation.h"
#include "process.h"

#ifndef FENWA_HELPER_DIR
#define FENWA_HELPER_DIR "../libexec/fenwa"
#endif

namespace fenwa::cli {

namespace {

constexpr const char* FullProgram = "fenwa-cli-full";
constexpr const char* CollationModule = "fenwa-collation.so";

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
        const std::string path = cli::helperPath(cli::CollationModule, false);
        std::string problem = "not found beside fenwa-cli nor in " FENWA_HELPER_DIR;
        if (!path.empty())
            collate = reinterpret_cast<Collate>(
                platform::loadedFunction(path, "fenwa_collate_directory_names", problem));
        if (!collate) {
            // Said only when the full program cannot take over either.
            const int status = cli::handOver();
            std::fprintf(stderr, "fenwa-cli: cannot load %s: %s\n", cli::CollationModule,
                         problem.c_str());
            platform::endProcessNow(status);
        }
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
