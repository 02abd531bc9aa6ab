#pragma once
// The running program itself: where its file lies, handing the process over to another
// program, and functions of shared libraries loaded on demand. No Qt.

#include <string>
#include <vector>

namespace fenwa::platform {

// The directory holding the running program's file (links resolved); empty when the
// system does not tell.
std::string ownProgramDirectory();

// Whether `path` names a regular file (following links), and with `runnable` one this
// process may run.
bool isRegularFile(const std::string& path, bool runnable);

// Runs `program` in place of this process, with `args` as its arguments after its name
// `name`, the environment and open files as they are. Returns only when the program
// could not be started, with why.
std::string replaceProcess(const std::string& program, const std::string& name,
                           const std::vector<std::string>& args);

// The function `symbol` of the shared library at `path`, which stays loaded for the rest
// of the process; null when either cannot be found, and `problem` says why.
void* loadedFunction(const std::string& path, const char* symbol, std::string& problem);

// Ends the process at once with `status`, from any thread, running no exit handlers.
[[noreturn]] void endProcessNow(int status);

} // namespace fenwa::platform
