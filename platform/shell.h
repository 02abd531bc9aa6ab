#pragma once
// The desktop's "open" verb: a file opens with its associated program, a web address
// in the browser, and a bare program name ("Uedit32.exe") is found in the search path
// and started with the parameter text as its one argument.

#include <QByteArray>
#include <QString>
#include <string>

namespace fenwa::platform {

struct ShellOpenResult {
    bool opened = true;
    // When nothing could be opened: the layer's own words for it, as the shell would say.
    QString message;
};

// Does nothing for an empty target. Target and parameters are native bytes, so a file
// name that is not UTF-8 reaches the program unchanged. Parameters go only to a program
// named by a bare name; they are passed as a single argument, never split at blanks.
ShellOpenResult ShellOpen(const std::string& target, const std::string& parameters = {});

// The file: address of a native path, with every byte outside the unreserved set
// percent-encoded, so that bytes that are not UTF-8 survive the trip to the opener.
QByteArray fileUrlOf(const std::string& absolutePath);

} // namespace fenwa::platform
