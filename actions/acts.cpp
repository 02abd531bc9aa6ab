#include "acts.h"

#include <filesystem>
#include <map>

#include "carryout.h"
#include "pathrules.h"
#include "replacefile.h"
#include "uitext.h"
#include "undo.h"

namespace fenwa::actions {

namespace {

constexpr struct {
    ActKind act;
    const char* name;
} ActNames[] = {{ActKind::Delete, "delete"},
                {ActKind::Move, "move"},
                {ActKind::HardLink, "hardlink"},
                {ActKind::SymbolicLink, "symlink"},
                {ActKind::Reflink, "reflink"}};

std::string joined(const FileRecordStore& rows, const std::vector<size_t>& which) {
    std::string text;
    for (size_t row : which)
        text += rows.fullPath(row) + "\n";
    return text;
}

// The question asked once before an act, unless the user asked for none.
std::string actQuestion(ActKind act, size_t count) {
    const std::string n = std::to_string(count);
    switch (act) {
    case ActKind::Move:
        return say("Move ", "確定要移動 ") + n + say(" files to the folder?", " 個檔案到資料夾嗎?");
    case ActKind::HardLink:
        return say("Replace ", "確定要把 ") + n +
               say(" files with hard links to their kept copies?",
                   " 個檔案換成指向留下副本的硬連結嗎?");
    case ActKind::SymbolicLink:
        return say("Replace ", "確定要把 ") + n +
               say(" files with symbolic links to their kept copies?",
                   " 個檔案換成指向留下副本的符號連結嗎?");
    case ActKind::Reflink:
        return say("Replace ", "確定要把 ") + n +
               say(" files with clones (reflinks) of their kept copies?",
                   " 個檔案換成留下副本的複製 (reflink) 嗎?");
    case ActKind::Delete:
        break;
    }
    return {};
}

std::string failureText(const platform::ActResult& result) {
    const platform::ActWords words = platform::actErrorWords(result.error);
    std::string text = say(words.english, words.chinese);
    if (!result.message.empty())
        text += " (" + result.message + ")";
    return text;
}

// The kept copy's path as a symbolic link holds it: absolute, so the link reads the same
// from wherever it is and stays right when it is moved.
std::string absoluteLinkText(const std::string& keeper) {
    const std::filesystem::path path(keeper);
    return path.is_absolute() ? keeper
                              : std::filesystem::absolute(path).lexically_normal().native();
}

// Whether a kept copy still is the file planned for: identity and size as the search read
// it, and its modification time as first seen while acting (a hard link made to it moves
// its status-change time, so that alone proves nothing).
class Keepers {
public:
    // With `folders`, a kept copy is first looked at through its open folder.
    Keepers(const FileRecordStore& rows, const FileProbe& probe, platform::ActFolders* folders)
        : rows_(rows), probe_(probe), folders_(folders) {}

    // Before the first act on a copy it must be exactly as the search read it.
    std::optional<platform::ExpectedFile> expected(size_t keeper) {
        auto [it, added] = mtimes_.try_emplace(keeper);
        if (added) {
            platform::FileState now;
            const std::string path = rows_.fullPath(keeper);
            if ((folders_ ? folders_->lookAt(path, now) : probe_(path, now)) &&
                checkRow(rows_, keeper, now) == RowCheck::Unchanged)
                it->second = now.mtimeNanoseconds;
        }
        if (!it->second)
            return std::nullopt;
        platform::ExpectedFile e(platform::FileIdentity{rows_.device(keeper), rows_.inode(keeper)});
        e.size = rows_.fileSize(keeper);
        e.mtimeNs = *it->second;
        return e;
    }
    // Looked at by its whole path: what a symbolic link to it reaches.
    bool holds(size_t keeper) {
        const std::optional<platform::ExpectedFile> e = expected(keeper);
        platform::FileState now;
        return e && probe_(rows_.fullPath(keeper), now) && now.exists && now.regularFile &&
               now.identity == e->identity && now.size == e->size &&
               now.mtimeNanoseconds == e->mtimeNs;
    }

private:
    const FileRecordStore& rows_;
    const FileProbe& probe_;
    platform::ActFolders* folders_;
    std::map<size_t, std::optional<int64_t>> mtimes_;
};

} // namespace

const char* actKindName(ActKind act) {
    for (const auto& n : ActNames)
        if (n.act == act)
            return n.name;
    return "";
}

bool actKindNamed(std::string_view name, ActKind& act) {
    for (const auto& n : ActNames)
        if (name == n.name) {
            act = n.act;
            return true;
        }
    return false;
}

ActOutcome CarryOutAct(const FileRecordStore& rows, const DeletePlan& plan,
                       const DeleteRequest& request, int flags, platform::ShellPrompts& prompts,
                       const FileProbe& probe, const ContentHasher& hasher) {
    ActOutcome outcome;
    const auto declined = [&outcome] {
        outcome.declined = true;
        return outcome;
    };
    const std::string question = actQuestion(request.act, plan.remove.size());
    // Protected files are references: asked about by name whatever "No confirmation" says.
    if (!plan.protectedRows.empty() &&
        !prompts.askYesNo(std::string(say("These files are in protected folders:\n",
                                          "這些檔案在受保護的目錄中:\n")) +
                          joined(rows, plan.protectedRows) + question))
        return declined();
    if (!plan.lastCopies.empty()) {
        std::string names;
        for (size_t first : plan.lastCopies)
            names += std::string(rows.name(first)) + "\n";
        if (!prompts.askYesNo(
                std::string(say("You selected every file of a group: this moves "
                                "every copy away:\n",
                                "您選擇了同一組的每一個檔案, 這會移走每一個副本:\n")) +
                names + question))
            return declined();
    }
    if (!plan.remove.empty() && !(flags & platform::FOF_NOCONFIRMATION) &&
        !prompts.askYesNo(question))
        return declined();

    std::map<size_t, const DeletePlan::CountedOn*> countedOn;
    for (const DeletePlan::CountedOn& counted : plan.countedOn)
        countedOn[counted.row] = &counted;
    std::map<size_t, const std::string*> destinationOf;
    for (const DeletePlan::Destination& d : plan.destinations)
        destinationOf[d.row] = &d.path;
    // Each folder opened once for the whole act, not once a file.
    platform::ActFolders folders;
    const bool replacing = replacesWithKeeper(request.act);
    Keepers keepers(rows, probe, replacing ? &folders : nullptr);
    UndoAction journal;
    journal.kind = request.act == ActKind::Move ? UndoKind::Move : UndoKind::Replace;

    for (size_t row : plan.remove) {
        RowActed acted{row, ActStatus::Changed, {}};
        const std::string path = rows.fullPath(row);
        const auto counted = countedOn.find(row);
        const size_t* keeper = counted == countedOn.end() ? nullptr : &counted->second->copy;
        platform::FileMeta meta;
        std::optional<platform::ExpectedFile> keeperFile;
        platform::ExpectedFile expected;
        // Just before: the file and its kept copy are still as planned. A replacement
        // looks at the file once, as it acts: the file must be the row's (identity, size
        // and both times, as the search read them), and what it found is journalled. A
        // row read without its identity, and a move, are looked at here first.
        const bool lookWhileActing =
            replacing && rows.inode(row) != 0 && rows.changeStamp(row) != 0;
        bool unchanged = true;
        if (lookWhileActing) {
            expected.identity = {rows.device(row), rows.inode(row)};
            expected.size = rows.fileSize(row);
            expected.changeStamp = rows.changeStamp(row);
        } else {
            platform::FileState now;
            if (!probe(path, now))
                now = platform::FileState{};
            unchanged = checkRow(rows, row, now) == RowCheck::Unchanged &&
                        platform::readFileMeta(path, meta) && meta.identity == now.identity;
            expected = platform::ExpectedFile::of(now);
        }
        if (keeper)
            keeperFile = keepers.expected(*keeper);
        if (!unchanged || (keeper && !keeperFile) ||
            (request.act == ActKind::Move && keeper &&
             !copyStillHolds(rows, *counted->second, request, probe, hasher))) {
            outcome.acted.push_back(std::move(acted));
            continue;
        }
        ActedFile file;
        file.path = path;
        file.act = request.act;
        file.meta = meta;
        platform::ActResult result;
        if (request.act == ActKind::Move) {
            const auto destination = destinationOf.find(row);
            if (destination == destinationOf.end()) {
                outcome.acted.push_back(std::move(acted));
                continue;
            }
            file.destination = *destination->second;
            result = platform::moveNoReplace(path, expected, file.destination, &file.madeFolders);
            if (!result.ok)
                platform::removeFoldersIfEmpty(file.madeFolders);
        } else {
            if (!keeper || !counted->second->bytes) {
                outcome.acted.push_back(std::move(acted));
                continue;
            }
            file.keeper = rows.fullPath(*keeper);
            file.hash = *counted->second->bytes;
            if (request.act == ActKind::HardLink) {
                result = platform::replaceWithHardLink(path, expected, file.keeper, *keeperFile,
                                                       &folders, &file.meta);
            } else if (request.act == ActKind::SymbolicLink) {
                file.left.symlink = true;
                file.left.linkText = absoluteLinkText(file.keeper);
                result = platform::replaceWithSymlink(path, expected, file.left.linkText,
                                                      *keeperFile, &folders, &file.meta);
            } else {
                result = platform::replaceWithReflink(path, expected, file.keeper, *keeperFile,
                                                      &folders, &file.meta);
            }
        }
        if (!result.ok) {
            switch (result.error) {
            case platform::ActError::Changed:
            case platform::ActError::KeeperChanged:
            case platform::ActError::SameFile:
                break;
            case platform::ActError::Exists:
                acted.status = ActStatus::TargetExists;
                break;
            default:
                acted.status = ActStatus::Failed;
                acted.message = failureText(result);
            }
            outcome.acted.push_back(std::move(acted));
            continue;
        }
        file.left.identity = result.after;
        // Just after: the kept copy must still be there, as it was; otherwise the file
        // comes back at once.
        const bool keeperHolds =
            !keeper || (request.act == ActKind::Move
                            ? copyStillHolds(rows, *counted->second, request, probe, hasher)
                        : request.act == ActKind::SymbolicLink
                            ? keepers.holds(*keeper)
                            // A link or clone holds the kept copy's inode, wherever it is
                            // named: looked at through its folder.
                            : folders.keeperHolds(file.keeper, *keeperFile));
        if (!keeperHolds) {
            const ActUndone back = undoActedFile(file, hasher);
            platform::removeFoldersIfEmpty(file.madeFolders);
            acted.status = back.done ? ActStatus::PutBack : ActStatus::NotPutBack;
            acted.message = back.why;
            outcome.acted.push_back(std::move(acted));
            continue;
        }
        acted.status = ActStatus::Done;
        outcome.acted.push_back(std::move(acted));
        journal.acted.push_back(std::move(file));
    }
    if (!journal.acted.empty())
        outcome.journal = std::move(journal);

    std::string putBack, failed;
    for (const RowActed& acted : outcome.acted) {
        const std::string line = rows.fullPath(acted.row) +
                                 (acted.message.empty() ? "" : "  (" + acted.message + ")") + "\n";
        if (acted.status == ActStatus::PutBack)
            putBack += line;
        else if (acted.status == ActStatus::Failed || acted.status == ActStatus::NotPutBack)
            failed += line;
    }
    std::string report;
    if (!putBack.empty())
        report += std::string(say("The kept copy of these files changed or went as they were "
                                  "replaced: they were put back as they were:\n",
                                  "這些檔案留下的副本在處理時已改變或不見, 檔案已復原:\n")) +
                  putBack;
    if (!failed.empty())
        report +=
            std::string(say("These files could not be changed:\n", "這些檔案無法處理:\n")) + failed;
    if (!report.empty())
        prompts.reportError(report);
    return outcome;
}

} // namespace fenwa::actions
