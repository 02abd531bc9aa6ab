// The main window's interface languages: the texts live in languages; this file puts
// them on the controls.

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>

#include "directoryband.h"
#include "groupsummary.h"
#include "languages.h"
#include "selectmenu.h"
#include "tfrmmain.h"
#include "tfrmviewer.h"
#include "uitext.h"

namespace fenwa {

void TfrmMain::connectOptions() {
    connect(pgOptions, &OptionsPages::languageChosen, this, &TfrmMain::SetLanguage);
    // The window is designed with the English hints.
    applyLanguageTexts(English, true);
}

// ---------------------------------------------------------------------------
// Languages

QObject* TfrmMain::languageControl(const QString& name) {
    if (name == QLatin1String("TfrmMain"))
        return this;
    // The Select menu's captions belong to its menu actions; every other control the
    // table names carries that name as its object name.
    if (name == QLatin1String("miProtectDir"))
        return dirBand->miProtectDir;
    if (QObject* control = selectMenu_->control(name))
        return control;
    return findChild<QObject*>(name);
}

void TfrmMain::applyLanguageTexts(int code, bool hintsOnly) {
    for (const LanguageText& entry : languageTable()) {
        if (hintsOnly && entry.role != TextRole::Hint)
            continue;
        QObject* control = languageControl(QString::fromLatin1(entry.control));
        if (!control)
            continue;
        const QString text = languageText(entry, code);
        if (entry.role == TextRole::Hint) {
            if (auto* widget = qobject_cast<QWidget*>(control))
                widget->setToolTip(text);
            else if (auto* action = qobject_cast<QAction*>(control))
                action->setToolTip(text);
        } else if (control == this) {
            setWindowTitle(text);
        } else if (control == pgOptions->tbsOptions || control == pgOptions->tbsMore ||
                   control == pgOptions->tbsFilters) {
            pgOptions->setTabText(pgOptions->indexOf(static_cast<QWidget*>(control)), text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            button->setText(text);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            label->setText(text);
        } else if (control == pgOptions->cbProtected || control == pgOptions->cbSkipFolders) {
            // The user's own list: the caption shows while it is empty.
            static_cast<QComboBox*>(control)->setPlaceholderText(text);
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            // The items' texts, separated by '|'.
            const QStringList items = text.split(QLatin1Char('|'));
            for (int i = 0; i < std::min(combo->count(), int(items.size())); ++i)
                combo->setItemText(i, items[i]);
        } else if (auto* action = qobject_cast<QAction*>(control)) {
            action->setText(text);
        }
    }
}

void TfrmMain::SetLanguage(int code) {
    setChineseTexts(code != English);
    const LanguageFont font = windowFontFor(code);
    setFont(QFont(font.family, font.points));
    applyLanguageTexts(code, false);
    lvFilesModel->setHeaderCaptions(listHeaderCaptionsFor(code));
    const OpenDialogTexts dialog = openDialogTextsFor(code);
    dirBand->OpenDialogFileName = dialog.fileName;
    dirBand->OpenDialogFilter = dialog.filter;
    dirBand->OpenDialogTitle = dialog.title;
    if (frmViewer_)
        frmViewer_->SetMenuCaptions(viewerMenuCaptionsFor(code));
    // The status bar's own notes follow the language at once.
    if (groupSummary_)
        groupSummary_->refresh();
    if (selectMenu_)
        selectMenu_->updateSelectionStatus();
    updateTicksNotice();
    QFont italic;
    italic.setItalic(true);
    lvFilesModel->setProtectedLook(italic, protectedRowHintFor(code));
}

} // namespace fenwa
