#pragma once
// Runs part of a test in a child process whose working directory is `dir`, so that
// relative spellings resolve there while the test's own process stays where it was (and
// never sits in a folder deleted later). The child's failures print as usual and fail the
// test here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

inline void RunInDirectory(const std::string& dir, const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0)
            std::_Exit(2);
        body();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "what ran in " << dir << " failed (see above)";
}
