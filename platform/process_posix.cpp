#include "process.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwa::platform {

std::string ownProgramDirectory() {
    char* resolved = ::realpath("/proc/self/exe", nullptr);
    if (!resolved)
        return {};
    std::string path(resolved);
    std::free(resolved);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

bool isRegularFile(const std::string& path, bool runnable) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (!runnable || ::access(path.c_str(), X_OK) == 0);
}

std::string replaceProcess(const std::string& program, const std::string& name,
                           const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(name.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    return std::strerror(errno);
}

void* loadedFunction(const std::string& path, const char* symbol, std::string& problem) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = ::dlerror();
        problem = why ? why : "cannot be loaded";
        return nullptr;
    }
    void* function = ::dlsym(library, symbol);
    if (!function) {
        const char* why = ::dlerror();
        problem = why ? why : "has no " + std::string(symbol);
    }
    return function;
}

void endProcessNow(int status) {
    ::_exit(status);
}

} // namespace fenwa::platform
