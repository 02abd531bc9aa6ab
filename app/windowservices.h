#pragma once
// What the main window and its parts need from outside, handed in so tests can stand in
// for it.

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "deleteplanner.h"
#include "directoryband.h"
#include "search.h"

class QSettings;
class QWidget;

namespace fenwa {

namespace platform {
class ShellPrompts;
} // namespace platform
class UserMessages;

// What the main window needs from outside, handed in so tests can stand in for it.
struct MainWindowServices {
    UserMessages* messages = nullptr;
    // The desktop's open verb (a file, a program or a web address).
    std::function<void(const std::string& target, const std::string& parameters)> shellOpen;
    // Runs the directory-picking file dialog; answers the chosen file name, or nothing
    // when the user cancels.
    using PickRequest = DirectoryBand::PickRequest;
    DirectoryBand::FilePicker pickFile;
    // Asks where to save a file; answers nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickSaveFile;
    // Asks for a directory; answers nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickDirectory;
    // The questions and error reports of the desktop's delete request.
    platform::ShellPrompts* shellPrompts = nullptr;
    // The settings store: the user's own, or a file a test chose. Without it nothing is
    // loaded or saved.
    std::function<std::unique_ptr<QSettings>()> openSettings;
    // The file of the undo journal; without one, Undo reaches back only within the run.
    QString undoJournalPath;
    // The file that keeps fingerprints and content hashes between searches; without one
    // every search reads every file.
    std::string searchCachePath;
    // What a search works with; empty: similar::EquipSearch's (the cache file above and
    // the pictures' fingerprints).
    std::function<SearchTools(const SearchRequest&)> searchTools;
    // Reads a file's whole content again before a delete; without one, the disk.
    actions::ContentHasher deleteHasher;
};

} // namespace fenwa
