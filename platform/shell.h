#pragma once
// The desktop's "open" verb: a file opens with its associated program, a web address
// in the browser.

#include <QString>

namespace fenwa::platform {

// Does nothing for an empty target; the outcome is not reported (as the shell's is not).
void ShellOpen(const QString& target, const QString& parameters = {});

} // namespace fenwa::platform
