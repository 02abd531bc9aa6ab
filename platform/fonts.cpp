#include "fonts.h"

#include <QFont>
#include <QStringList>

namespace fenwa::platform {

void registerFontSubstitutes() {
#ifndef _WIN32
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    // Traditional Chinese faces are named first: with LANG=C a generic CJK face would
    // show the Japanese variants of the glyphs.
    const QStringList sans{"DejaVu Sans", "Liberation Sans", "Noto Sans CJK TC", "AR PL UMing TW"};
    QFont::insertSubstitutions("MS Sans Serif", sans);
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans", "Noto Sans CJK TC"});
    QFont::insertSubstitutions("新細明體",
                               {"AR PL UMing TW", "Noto Serif CJK TC", "Noto Sans CJK TC"});
    QFont::insertSubstitutions("標楷體", {"AR PL UKai TW", "AR PL UMing TW", "Noto Serif CJK TC"});
#endif
}

} // namespace fenwa::platform
