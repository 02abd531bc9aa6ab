// The main window's protected directories: the listed ones marked in the directory list
// and the folders of the More Options page, together in every rule, Delete and row mark.

#include <QAbstractItemModel>
#include <QListWidget>
#include <memory>

#include "directoryband.h"
#include "protection.h"
#include "tfrmmain.h"

namespace fenwa {

std::vector<std::string> TfrmMain::protectedDirectories() const {
    std::vector<std::string> directories = dirBand->protectedDirectories();
    for (std::string& folder : pgOptions->protectedFolders())
        directories.push_back(std::move(folder));
    return directories;
}

void TfrmMain::connectProtection() {
    connect(pgOptions, &OptionsPages::protectedFoldersChanged, this, &TfrmMain::markProtectedRows);
    // A listed entry's mark is item data; removing a marked entry ends its protection.
    // The band is the connections' context: the list empties itself as the window is
    // taken down, after the band is gone, and nothing is to be marked then.
    const QAbstractItemModel* listed = dirBand->lstDir->model();
    const auto mark = [this] { markProtectedRows(); };
    connect(listed, &QAbstractItemModel::dataChanged, dirBand, mark);
    connect(listed, &QAbstractItemModel::rowsRemoved, dirBand, mark);
    connect(listed, &QAbstractItemModel::modelReset, dirBand, mark);
}

void TfrmMain::markProtectedRows() {
    auto protection =
        std::make_shared<const actions::Protection>(actions::protectionOf(protectedDirectories()));
    if (protection->empty()) {
        lvFilesModel->setProtectedDirectories(nullptr);
        return;
    }
    lvFilesModel->setProtectedDirectories([protection](const std::string& directory) {
        return actions::coversDirectory(*protection, directory);
    });
}

} // namespace fenwa
