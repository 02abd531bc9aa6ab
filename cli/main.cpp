// fenwa-cli-full: every fenwa-cli command, the window's searches without the window, for
// scripts, benchmarks and tests. fenwa-cli itself (front.cpp) runs the plain ones and
// hands this program the rest. Output rows are the result list's rows, in the list's
// order, one per line, the five columns separated by tabs.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cliapp.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return fenwa::cli::run(args, stdout, stderr);
}
