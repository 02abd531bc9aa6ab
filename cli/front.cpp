// fenwa-cli as started: a small program without Qt or the picture libraries that runs
// --help, --version and the TSV searches of names, sizes, times and contents itself, and
// hands every other command, as it stands, to the full program installed beside it. It starts in a
// few milliseconds, where loading the full program's libraries takes tens.

#include <cstdio>
#include <string>
#include <vector>

#include "frontend.h"
#include "plainsearch.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    fenwa::cli::setHandOver(args);
    if (const std::optional<int> status =
            fenwa::cli::runPlain(args, stdout, stderr, fenwa::cli::openContentCache))
        return *status;
    return fenwa::cli::handOver();
}
