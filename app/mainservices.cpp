#include "mainservices.h"

#include <QFileDialog>

#include "shell.h"

namespace fenwa {

MainWindowServices desktopServices(UserMessages* messages) {
    MainWindowServices s;
    s.messages = messages;
    s.shellOpen = [](const QString& target, const QString& parameters) {
        platform::ShellOpen(target, parameters);
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
    return s;
}

} // namespace fenwa
