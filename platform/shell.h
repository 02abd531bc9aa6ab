#pragma once
// The desktop's "open" verb: a file opens with its associated program, a web address
// in the browser, and a bare program name ("Uedit32.exe") is found in the search path
// and started with the parameter text as its one argument.

#include <QString>

namespace fenwa::platform {

struct ShellOpenResult {
    bool opened = true;
    // When nothing could be opened: the layer's own words for it, as the shell would say.
    QString message;
};

// Does nothing for an empty target. Parameters go only to a program named by a bare name;
// they are passed as a single argument, never split at blanks.
ShellOpenResult ShellOpen(const QString& target, const QString& parameters = {});

} // namespace fenwa::platform
