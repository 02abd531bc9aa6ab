#include "mainservices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "messages.h"
#include "searchcache.h"
#include "settingsformat.h"
#include "shell.h"
#include "undojournal.h"

namespace fenwa {

bool MessageBoxShellPrompts::askYesNo(const std::string& question) {
    return QMessageBox::question(QApplication::activeWindow(), QStringLiteral("Fenwa"),
                                 QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxShellPrompts::reportError(const std::string& text) {
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Fenwa"),
                          QString::fromStdString(text));
}

MainWindowServices desktopServices(UserMessages* messages, platform::ShellPrompts* prompts) {
    MainWindowServices s;
    s.messages = messages;
    s.shellPrompts = prompts;
    // The shell reports what it could not open in its own words.
    s.shellOpen = [messages](const std::string& target, const std::string& parameters) {
        const platform::ShellOpenResult result = platform::ShellOpen(target, parameters);
        if (!result.opened && messages)
            messages->error(nullptr, result.message);
    };
    // Undo reaches back across restarts through a journal in the user's data directory.
    s.undoJournalPath = actions::UndoJournal::defaultPath();
    s.searchCachePath = similar::SearchCache::defaultPath();
    s.openSettings = [] {
        return platform::openUserSettings(QStringLiteral("Zantrel"), QStringLiteral("Fenwa"));
    };
    s.pickFile = [](QWidget* parent,
                    const MainWindowServices::PickRequest& r) -> std::optional<QString> {
        // Qt's own dialog: it accepts a name that does not exist, which is all we need
        // to learn the directory.
        QFileDialog dialog(parent, r.title, r.initialDirectory, r.filter);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(QStringLiteral("___"));
        dialog.selectFile(r.fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().front();
    };
    s.pickSaveFile = [](QWidget* parent, const QString& title) -> std::optional<QString> {
        const QString name = QFileDialog::getSaveFileName(
            parent, title, QString(), QStringLiteral("CSV (*.csv);;JSON (*.json)"), nullptr,
            QFileDialog::DontUseNativeDialog);
        if (name.isEmpty())
            return std::nullopt;
        return name;
    };
    s.pickDirectory = [](QWidget* parent, const QString& title) -> std::optional<QString> {
        const QString name = QFileDialog::getExistingDirectory(parent, title, QString(),
                                                               QFileDialog::DontUseNativeDialog);
        if (name.isEmpty())
            return std::nullopt;
        return name;
    };
    return s;
}

} // namespace fenwa
