// Fenwa: finds and clears away duplicate files.

#include <QApplication>
#include <QScreen>

#include "filesystem.h"
#include "fonts.h"
#include "mainservices.h"
#include "messages.h"
#include "tfrmmain.h"

int main(int argc, char* argv[]) {
    fenwa::platform::initialiseProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fenwa"));
    QApplication::setOrganizationName(QStringLiteral("Zantrel"));
    fenwa::platform::registerFontSubstitutes();

    fenwa::MessageBoxMessages messages;
    fenwa::MessageBoxShellPrompts prompts;
    // The main window, then the progress window and the viewer it makes; the three live
    // for the whole run.
    fenwa::TfrmMain frmMain(fenwa::desktopServices(&messages, &prompts));
    // Fill the screen even where no window manager acts on the maximised state.
    if (QScreen* screen = frmMain.screen())
        frmMain.setGeometry(screen->availableGeometry());
    frmMain.showMaximized();
    return app.exec();
}
