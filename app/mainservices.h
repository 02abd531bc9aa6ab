#pragma once
// The real desktop behind the main window's services.

#include "shellfiles.h"
#include "tfrmmain.h"

namespace fenwa {

// The desktop's delete questions and error reports, as message boxes.
class MessageBoxShellPrompts : public platform::ShellPrompts {
public:
    bool askYesNo(const std::string& question) override;
    void reportError(const std::string& text) override;
};

MainWindowServices desktopServices(UserMessages* messages, platform::ShellPrompts* prompts);

} // namespace fenwa
