#include "hexdigits.h"
#include "trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <gio/gio.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "rename.h"

namespace fenwa::platform {

namespace {

constexpr const char* InfoSuffix = ".trashinfo";

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The top of the file system holding `directory`: the highest ancestor on the same
// device. Empty when the directory is gone.
std::string topDirectoryOf(const std::string& directory) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0)
        return {};
    std::string top = directory;
    while (top != "/") {
        const std::string up = parentOf(top);
        struct stat upStat {};
        if (::stat(up.c_str(), &upStat) != 0 || upStat.st_dev != st.st_dev)
            break;
        top = up;
    }
    return top;
}

// A trash directory and the directory its relative original paths start from.
struct TrashDirectory {
    std::string path;
    std::string top; // empty for the home trash, whose info files hold absolute paths
};

std::vector<TrashDirectory> trashDirectoriesFor(const std::vector<std::string>& originalPaths) {
    std::vector<TrashDirectory> trashes;
    std::set<std::string> seen;
    auto add = [&](const std::string& path, const std::string& top) {
        if (isDirectory(path + "/info") && seen.insert(path).second)
            trashes.push_back({path, top});
    };
    // The same directory GIO trashes into; it reads the data directory once per process.
    add(std::string(g_get_user_data_dir()) + "/Trash", {});
    std::set<std::string> directories;
    for (const std::string& path : originalPaths)
        directories.insert(parentOf(path));
    std::set<std::string> tops;
    for (const std::string& directory : directories)
        if (std::string top = topDirectoryOf(directory); !top.empty())
            tops.insert(top);
    const std::string uid = std::to_string(::getuid());
    for (const std::string& top : tops) {
        const std::string prefix = top == "/" ? std::string() : top;
        add(prefix + "/.Trash/" + uid, top);
        add(prefix + "/.Trash-" + uid, top);
    }
    return trashes;
}

// The name of a trash item GIO made for `name`: the name itself, or the part before its
// first dot, a dot and a number, and the rest ("photo.2.jpg").
bool couldBeTrashNameOf(const std::string& trashName, const std::string& name) {
    if (trashName == name)
        return true;
    const std::string stem = name.substr(0, name.find('.'));
    return trashName.size() > stem.size() + 1 && trashName.compare(0, stem.size(), stem) == 0 &&
           trashName[stem.size()] == '.';
}

// The info file's Path is percent-encoded bytes.
std::string percentDecoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

int64_t localDateToSeconds(const std::string& date) {
    std::tm tm{};
    if (std::sscanf(date.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm));
}

bool readInfo(const std::string& infoPath, const TrashDirectory& trash, TrashItem& item) {
    std::ifstream in(infoPath, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    bool inSection = false, hasPath = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[Trash Info]";
            continue;
        }
        if (!inSection)
            continue;
        if (line.rfind("Path=", 0) == 0) {
            std::string path = percentDecoded(line.substr(5));
            if (!path.empty() && path.front() != '/') {
                if (trash.top.empty())
                    return false;
                path = (trash.top == "/" ? std::string() : trash.top) + "/" + path;
            }
            item.originalPath = path;
            hasPath = true;
        } else if (line.rfind("DeletionDate=", 0) == 0) {
            item.deletionDate = line.substr(13);
            item.deletedAt = localDateToSeconds(item.deletionDate);
        }
    }
    return hasPath;
}

// The candidates for `file` among `items`, best first: the same original path, with the
// date written as recorded, or else the closest date within a few seconds.
const TrashItem* bestMatch(const std::vector<TrashItem>& items, const TrashedFile& file,
                           const std::set<const TrashItem*>& taken) {
    const TrashItem* best = nullptr;
    int64_t bestDistance = 0;
    for (const TrashItem& item : items) {
        if (item.originalPath != file.originalPath || taken.count(&item))
            continue;
        int64_t distance;
        if (!file.deletionDate.empty() && item.deletionDate == file.deletionDate)
            distance = item.filePath == file.trashedAs ? -2 : -1; // exactly as recorded
        else if (item.deletedAt >= 0 && std::llabs(item.deletedAt - file.deletedAt) <= 2)
            distance = std::llabs(item.deletedAt - file.deletedAt);
        else
            continue;
        if (!best || distance < bestDistance) {
            best = &item;
            bestDistance = distance;
        }
    }
    return best;
}

// Moves across file systems when a plain rename cannot (GIO copies, then deletes; it
// never overwrites without the flag).
RestoreResult moveAcrossFileSystems(const std::string& from, const std::string& to) {
    GFile* source = g_file_new_for_path(from.c_str());
    GFile* target = g_file_new_for_path(to.c_str());
    GError* error = nullptr;
    RestoreResult result;
    if (g_file_move(source, target, G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr, nullptr,
                    &error)) {
        result.status = RestoreStatus::Restored;
    } else {
        result.status = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_EXISTS)
                            ? RestoreStatus::Occupied
                            : RestoreStatus::Failed;
        result.message = error ? error->message : "unknown error";
    }
    if (error)
        g_error_free(error);
    g_object_unref(source);
    g_object_unref(target);
    return result;
}

} // namespace

std::vector<TrashItem> trashItemsFor(const std::vector<std::string>& originalPaths) {
    const std::set<std::string> wanted(originalPaths.begin(), originalPaths.end());
    std::set<std::string> names;
    for (const std::string& path : originalPaths)
        names.insert(baseName(path));
    std::vector<TrashItem> items;
    for (const TrashDirectory& trash : trashDirectoriesFor(originalPaths)) {
        const std::string infoDirectory = trash.path + "/info";
        DIR* dir = ::opendir(infoDirectory.c_str());
        if (!dir)
            continue;
        const size_t suffixLength = std::strlen(InfoSuffix);
        while (const dirent* entry = ::readdir(dir)) {
            const std::string infoName = entry->d_name;
            if (infoName.size() <= suffixLength ||
                infoName.compare(infoName.size() - suffixLength, suffixLength, InfoSuffix) != 0)
                continue;
            const std::string trashName = infoName.substr(0, infoName.size() - suffixLength);
            // Only the info files that can belong to a wanted name are read.
            bool candidate = false;
            for (const std::string& name : names)
                if ((candidate = couldBeTrashNameOf(trashName, name)))
                    break;
            if (!candidate)
                continue;
            TrashItem item;
            item.deletedAt = -1;
            if (!readInfo(infoDirectory + "/" + infoName, trash, item) ||
                !wanted.count(item.originalPath))
                continue;
            item.filePath = trash.path + "/files/" + trashName;
            item.infoPath = infoDirectory + "/" + infoName;
            struct stat st {};
            if (::lstat(item.filePath.c_str(), &st) == 0)
                item.changedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
            items.push_back(std::move(item));
        }
        ::closedir(dir);
    }
    return items;
}

std::vector<TrashedFile> findTrashed(const std::vector<std::string>& originalPaths, int64_t from,
                                     int64_t to) {
    const std::vector<TrashItem> items = trashItemsFor(originalPaths);
    std::vector<TrashedFile> found;
    found.reserve(originalPaths.size());
    for (const std::string& path : originalPaths) {
        TrashedFile file{path, {}, from, {}};
        // The same path may have gone to the trash moments before: the item moved in
        // last is this one.
        const TrashItem* latest = nullptr;
        for (const TrashItem& item : items)
            if (item.originalPath == path && item.deletedAt >= from - 1 &&
                item.deletedAt <= to + 1 &&
                (!latest || std::pair(item.deletedAt, item.changedNs) >
                                std::pair(latest->deletedAt, latest->changedNs)))
                latest = &item;
        if (latest) {
            file.deletionDate = latest->deletionDate;
            file.deletedAt = latest->deletedAt;
            file.trashedAs = latest->filePath;
        }
        found.push_back(std::move(file));
    }
    return found;
}

std::vector<RestoreResult> restoreFromTrash(const std::vector<TrashedFile>& files) {
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const TrashedFile& file : files)
        paths.push_back(file.originalPath);
    const std::vector<TrashItem> items = trashItemsFor(paths);
    std::set<const TrashItem*> taken;
    std::vector<RestoreResult> results;
    results.reserve(files.size());
    for (const TrashedFile& file : files) {
        RestoreResult result;
        const TrashItem* item = bestMatch(items, file, taken);
        if (!item || ::access(item->filePath.c_str(), F_OK) != 0) {
            result.status = RestoreStatus::NotInTrash;
            results.push_back(result);
            continue;
        }
        taken.insert(item);
        const RenameResult moved = renameNoReplace(item->filePath, file.originalPath);
        if (moved.renamed) {
            result.status = RestoreStatus::Restored;
        } else if (moved.error == EEXIST || moved.error == ENOTEMPTY) {
            result.status = RestoreStatus::Occupied;
        } else if (moved.error == ENOENT && !isDirectory(parentOf(file.originalPath))) {
            result.status = RestoreStatus::FolderGone;
        } else if (moved.error == EXDEV) {
            result = moveAcrossFileSystems(item->filePath, file.originalPath);
        } else {
            result.status = RestoreStatus::Failed;
            result.message = std::strerror(moved.error);
        }
        // The item has left the trash: its info file goes with it.
        if (result.status == RestoreStatus::Restored)
            ::unlink(item->infoPath.c_str());
        results.push_back(result);
    }
    return results;
}

} // namespace fenwa::platform
