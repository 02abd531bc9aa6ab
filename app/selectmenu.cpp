// The Select menu and the selection note: the rules ask actions/keeprules, the list's
// selection shows their answer.

#include "selectmenu.h"

#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QGuiApplication>
#include <QItemSelection>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include "PictureLoader.h"
#include "filelistmodel.h"
#include "languages.h"
#include "listhost.h"
#include "pathrules.h"
#include "uitext.h"

namespace fenwa {

SelectMenu::SelectMenu(QWidget* window, QMenu* popup, QAction* before, QStatusBar* statusBar,
                       QTreeView* list, FileListModel* model, ListHost& host,
                       DirectoryPicker pickDirectory)
    : QObject(window), window_(window), lvFiles(list), lvFilesModel(model), host_(host),
      pickDirectory_(std::move(pickDirectory)) {
    using actions::KeepRule;
    miSelect = new QMenu(englishCaption("miSelect"), popup);
    miSelect->setObjectName("miSelect");
    // Just above Delete: choose, look, then press Delete.
    popup->insertMenu(before, miSelect);
    popup->insertSeparator(before);
    const std::pair<const char*, KeepRule> keep[] = {
        {"miKeepNewest", KeepRule::Newest},        {"miKeepOldest", KeepRule::Oldest},
        {"miKeepLargest", KeepRule::Largest},      {"miKeepPixels", KeepRule::MostPixels},
        {"miKeepTaken", KeepRule::EarliestTaken},  {"miKeepShortest", KeepRule::ShortestPath},
        {"miKeepUnder", KeepRule::UnderDirectory}, {"miKeepFirst", KeepRule::First},
    };
    for (const auto& [name, rule] : keep) {
        QAction* a = miSelect->addAction(englishCaption(name));
        a->setObjectName(QString::fromLatin1(name));
        const KeepRule chosen = rule;
        connect(a, &QAction::triggered, this, [this, chosen] { SelectByRule(chosen); });
        miKeepRules.emplace_back(a, rule);
    }
    miThenBy = miSelect->addMenu(englishCaption("miThenBy"));
    miThenBy->setObjectName("miThenBy");
    auto* thenGroup = new QActionGroup(miThenBy);
    const std::pair<const char*, std::optional<KeepRule>> then[] = {
        {"miThenFirst", std::nullopt},
        {"miThenNewest", KeepRule::Newest},
        {"miThenOldest", KeepRule::Oldest},
        {"miThenLargest", KeepRule::Largest},
        {"miThenPixels", KeepRule::MostPixels},
        {"miThenTaken", KeepRule::EarliestTaken},
        {"miThenShortest", KeepRule::ShortestPath},
    };
    for (const auto& [name, rule] : then) {
        QAction* a = miThenBy->addAction(englishCaption(name));
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(true);
        a->setChecked(!rule);
        thenGroup->addAction(a);
        const std::optional<KeepRule> chosen = rule;
        connect(a, &QAction::triggered, this, [this, chosen] { ThenByRule = chosen; });
        miThenByRules.emplace_back(a, rule);
    }
    miSelect->addSeparator();
    miInvertSelection = miSelect->addAction(englishCaption("miInvertSelection"));
    miInvertSelection->setObjectName("miInvertSelection");
    miClearSelection = miSelect->addAction(englishCaption("miClearSelection"));
    miClearSelection->setObjectName("miClearSelection");
    connect(miInvertSelection, &QAction::triggered, this, &SelectMenu::InvertSelectionWithinGroups);
    connect(miClearSelection, &QAction::triggered, this, &SelectMenu::ClearSelection);
    updateMenu();

    lblSelection = new QLabel(statusBar);
    lblSelection->setObjectName("lblSelection");
    // Cut short when the bar is full, whole in its tooltip, never widening the window.
    lblSelection->setMinimumWidth(1);
    statusBar->addPermanentWidget(lblSelection);
    // A large selection changes row by row: the count follows once the changes settle.
    connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        // The groups a rule left undecided are news about that rule's selection only.
        if (!selectingByRule_)
            undecidedGroups_ = 0;
        if (selectionStatusPending_)
            return;
        selectionStatusPending_ = true;
        QTimer::singleShot(0, this, [this] {
            selectionStatusPending_ = false;
            updateSelectionStatus();
        });
    });
}

void SelectMenu::updateMenu() {
    // Rules need groups: a list of every file has none.
    const bool groups = host_.holdsDuplicateGroups() && lvFilesModel->rowCount() > 0;
    miSelect->menuAction()->setEnabled(groups);
    for (const auto& item : miKeepRules)
        item.first->setEnabled(groups);
    miInvertSelection->setEnabled(groups);
    miClearSelection->setEnabled(!lvFiles->selectionModel()->selectedRows().isEmpty());
}

QObject* SelectMenu::control(const QString& name) const {
    if (name == QLatin1String("miSelect"))
        return miSelect->menuAction();
    if (name == QLatin1String("miThenBy"))
        return miThenBy->menuAction();
    if (name == QLatin1String("miInvertSelection"))
        return miInvertSelection;
    if (name == QLatin1String("miClearSelection"))
        return miClearSelection;
    for (const auto& item : miKeepRules)
        if (item.first->objectName() == name)
            return item.first;
    for (const auto& item : miThenByRules)
        if (item.first->objectName() == name)
            return item.first;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Selection by rule

void SelectMenu::selectRows(const std::vector<size_t>& rows) {
    QItemSelection selection;
    const int lastColumn = lvFilesModel->columnCount() - 1;
    // Runs of adjacent rows as one range each: thousands of groups select at once.
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(lvFilesModel->index(int(rows[i]), 0),
                         lvFilesModel->index(int(rows[j]), lastColumn));
        i = j + 1;
    }
    selectingByRule_ = true;
    host_.selectQuietly(selection);
    selectingByRule_ = false;
}

size_t SelectMenu::SelectByRule(actions::KeepRule rule) {
    if (!host_.holdsDuplicateGroups())
        return 0;
    actions::KeepRules rules{rule, ThenByRule, {}};
    if (rule == actions::KeepRule::UnderDirectory) {
        const QAction* item = nullptr;
        for (const auto& k : miKeepRules)
            if (k.second == rule)
                item = k.first;
        const std::optional<QString> picked =
            pickDirectory_ ? pickDirectory_(window_, item->text().remove(QStringLiteral("...")))
                           : std::nullopt;
        if (!picked)
            return 0;
        rules.directory = QFile::encodeName(*picked).toStdString();
    }
    // The pixels and taken rules read a header from every file of the groups.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const actions::KeepSelection chosen = actions::SelectByRule(
        lvFilesModel->store(), rules, actions::protectionOf(host_.protectedDirectories()),
        [](const std::string& path) {
            return PictureHeaderPixels(QByteArray::fromStdString(path));
        },
        [](const std::string& path) {
            return PictureHeaderFacts(QByteArray::fromStdString(path)).captureTime.toStdString();
        });
    QGuiApplication::restoreOverrideCursor();
    undecidedGroups_ = chosen.undecided;
    selectRows(chosen.selected);
    updateSelectionStatus();
    return chosen.undecided;
}

void SelectMenu::InvertSelectionWithinGroups() {
    std::vector<bool> selected(size_t(lvFilesModel->rowCount()), false);
    for (const QModelIndex& index : lvFiles->selectionModel()->selectedRows())
        selected[size_t(index.row())] = true;
    undecidedGroups_ = 0;
    selectRows(actions::InvertWithinGroups(lvFilesModel->store(), selected));
    updateSelectionStatus();
}

void SelectMenu::ClearSelection() {
    undecidedGroups_ = 0;
    selectRows({});
    updateSelectionStatus();
}

void SelectMenu::updateSelectionStatus() {
    const FileRecordStore& rows = lvFilesModel->store();
    const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
    int64_t bytes = 0;
    for (const QModelIndex& index : selected)
        if (size_t(index.row()) < rows.size())
            bytes += rows.fileSize(size_t(index.row()));
    QString text;
    if (!selected.isEmpty() || undecidedGroups_ > 0)
        text = chineseTexts() ? QStringLiteral("已選取 %1 個檔案, %2 位元組")
                                    .arg(selected.size())
                                    .arg(QLocale::c().toString(qlonglong(bytes)))
                              : QStringLiteral("selected: %1 %2, %3 %4")
                                    .arg(selected.size())
                                    .arg(selected.size() == 1 ? "file" : "files")
                                    .arg(QLocale::c().toString(qlonglong(bytes)))
                                    .arg(bytes == 1 ? "byte" : "bytes");
    if (undecidedGroups_ > 0)
        text += QString::fromUtf8(say(undecidedGroups_ == 1 ? "; %1 group left for you to decide"
                                                            : "; %1 groups left for you to decide",
                                      "; %1 組留給您決定"))
                    .arg(undecidedGroups_);
    lblSelection->setText(text);
    lblSelection->setToolTip(text);
}

} // namespace fenwa
