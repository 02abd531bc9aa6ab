#pragma once
// The result list's Select menu and the status bar's note of what is selected. The
// rules live in actions/keeprules; this part ties them to the menu, the list's selection
// and the note. Nothing here deletes: the selection waits for Delete.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "keeprules.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTreeView;
class QWidget;

namespace fenwa {

class FileListModel;
class ListHost;

class SelectMenu : public QObject {
    Q_OBJECT
public:
    // Asks for a directory; answers nothing when the user cancels.
    using DirectoryPicker = std::function<std::optional<QString>(QWidget*, const QString&)>;

    // The menu goes into `popup` just above `before`, the note at the end of `statusBar`.
    SelectMenu(QWidget* window, QMenu* popup, QAction* before, QStatusBar* statusBar,
               QTreeView* list, FileListModel* model, ListHost& host,
               DirectoryPicker pickDirectory);

    // The menu's action or item the language table names `name`, or null.
    QObject* control(const QString& name) const;
    // Enables what the list of the moment allows.
    void updateMenu();
    // A new list: no group is left undecided.
    void forgetUndecided() { undecidedGroups_ = 0; }

public slots:
    // Selects, in every group, every row but the one the rule keeps (asking for the
    // directory of UnderDirectory); answers the groups left for the user to decide.
    size_t SelectByRule(actions::KeepRule rule);
    void InvertSelectionWithinGroups();
    void ClearSelection();
    void updateSelectionStatus();

private:
    void selectRows(const std::vector<size_t>& rows);

    QWidget* window_;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    ListHost& host_;
    DirectoryPicker pickDirectory_;

    QMenu* miSelect = nullptr; // the rules
    QMenu* miThenBy = nullptr; // in miSelect: the rule that breaks ties
    std::vector<std::pair<QAction*, actions::KeepRule>> miKeepRules;
    std::vector<std::pair<QAction*, std::optional<actions::KeepRule>>> miThenByRules;
    QAction* miInvertSelection = nullptr;
    QAction* miClearSelection = nullptr;
    QLabel* lblSelection = nullptr; // the status bar's last panel: what is selected
    std::optional<actions::KeepRule> ThenByRule;
    size_t undecidedGroups_ = 0;
    bool selectionStatusPending_ = false;
    bool selectingByRule_ = false; // the selection changing is the menu's own
};

} // namespace fenwa
