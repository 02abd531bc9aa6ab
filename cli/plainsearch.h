#pragma once
// The commands fenwa-cli runs without Qt or the picture libraries: --help, --version and
// the searches that compare names, sizes and times only, written as TSV. Everything else
// is the full program's (cliapp.h).

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace fenwa::cli {

// The exit status, as the full program's run() would give it for `args`; nothing, before
// anything is written, when `args` ask for more than these commands do.
std::optional<int> runPlain(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace fenwa::cli
