#pragma once
// The command line front end, as a function so tests can drive it in process.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::cli {

// A field as fenwa-cli prints it: valid UTF-8 as it is, a backslash as "\\", tab, newline
// and carriage return as "\t", "\n" and "\r", any other control byte and every byte that
// is not part of valid UTF-8 as "\xHH". Every name therefore prints on one line without
// tabs, and the original bytes can always be recovered.
std::string escapeField(std::string_view bytes);

// Exit status: 0 done, 1 usage error, 2 a directory was refused (nothing searched).
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace fenwa::cli
