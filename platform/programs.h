#pragma once
// Starting another program by a bare name, as the shell's open verb does for a target
// like "Uedit32.exe": the name is looked up in the search path, and the program is
// started directly (no shell, no word splitting) with each argument passed as one.

#include <QString>
#include <string>
#include <vector>

namespace fenwa::platform {

// The search-path candidates for a bare program name, in the order they are tried: the
// name as given, then without ".exe", then that in lower case (duplicates dropped).
std::vector<QString> programNameCandidates(const QString& bareName);

// The full path of the first candidate found in the search path, or empty.
QString findProgram(const QString& bareName);

// Starts the program at `path` with the arguments (native bytes) and does not wait for
// it; the program is not a child of ours and needs no reaping. Returns 0 or the system's
// error number when the program could not be started.
int startDetached(const std::string& path, const std::vector<std::string>& arguments);

} // namespace fenwa::platform
