#pragma once
// The real desktop behind the main window's services.

#include "tfrmmain.h"

namespace fenwa {

MainWindowServices desktopServices(UserMessages* messages);

} // namespace fenwa
