#pragma once
// The command line front end, as a function so tests can drive it in process.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::cli {

// Exit status: 0 done, 1 usage error, 2 a directory was refused (nothing searched), 3 an
// act or undo left some file alone or failed on one.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace fenwa::cli
