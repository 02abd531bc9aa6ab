#pragma once
// The front end's links to the rest of the program: the full program it hands commands
// to, and the directory collation it loads when a walk first needs it. Both are looked
// for beside the front end's own file (a build tree) and then where an install puts them.

#include <memory>
#include <string>
#include <vector>

#include "contentcheck.h"

namespace fenwa::cli {

// The arguments a hand-over passes on.
void setHandOver(const std::vector<std::string>& args);

// Runs the full program in place of this process with those arguments; returns the exit
// status only when it could not be started (after saying why).
int handOver();

// Where a helper named `name` is (a program when `runnable`): beside the running
// program, else in the install's helper directory; empty when neither holds it.
std::string helperPath(const std::string& name, bool runnable);

// The content hashes' cache, through its module, loaded here while the search begins.
// Without the module the full program runs the command instead (nothing has been
// written yet).
std::shared_ptr<ContentHashCache> openContentCache();

} // namespace fenwa::cli
