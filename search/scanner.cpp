#include "scanner.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <optional>
#include <unordered_set>

#include "filesystem.h"

namespace fenwa {

using platform::nativePathStyle;

namespace {

// The collator of the user's locale, made once per thread and again only when the
// locale changes: a walk sorts the siblings of every directory it meets.
const QCollator& directoryCollator() {
    thread_local std::optional<QCollator> collator;
    thread_local QLocale locale;
    const QLocale current;
    if (!collator || current != locale) {
        locale = current;
        collator.emplace(current);
        collator->setCaseSensitivity(Qt::CaseInsensitive);
    }
    return *collator;
}

} // namespace

void sortDirectoryNames(std::vector<std::string>& texts) {
    if (texts.size() < 2)
        return;
    // compare() rather than sort keys: in the C locale Qt's sort keys ignore the case
    // setting.
    const QCollator& collator = directoryCollator();
    struct Named {
        QString display;
        std::string text;
    };
    std::vector<Named> named;
    named.reserve(texts.size());
    for (std::string& t : texts)
        named.push_back({QFile::decodeName(QByteArray::fromStdString(t)), std::move(t)});
    std::sort(named.begin(), named.end(), [&collator](const Named& a, const Named& b) {
        int c = collator.compare(a.display, b.display);
        return c != 0 ? c < 0 : a.text < b.text;
    });
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = std::move(named[i].text);
}

size_t ListSubdirectories(const std::string& dir, std::vector<std::string>& list) {
    std::vector<std::string> found;
    platform::forEachSubdirectory(dir, [&](std::string_view name) {
        found.push_back(platform::JoinPath(nativePathStyle(), dir, name));
    });
    size_t count = found.size();
    list.insert(list.end(), std::make_move_iterator(found.begin()),
                std::make_move_iterator(found.end()));
    sortDirectoryNames(list);
    return count;
}

size_t CollectDirectories(const std::string& dir, std::vector<std::string>& list) {
    // The texts are exact (POSIX names differ by case); a directory reached twice is
    // listed once.
    std::unordered_set<std::string> listed(list.begin(), list.end());
    size_t added = 0;
    std::vector<std::string> pending{platform::normalizeDirectory(nativePathStyle(), dir)};
    while (!pending.empty()) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (listed.insert(current).second) {
            list.push_back(current);
            ++added;
        }
        std::vector<std::string> children;
        ListSubdirectories(current, children);
        // Pushed in reverse so the first sibling is walked next: pre-order.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(platform::normalizeDirectory(nativePathStyle(), *it));
    }
    return added;
}

size_t ReadFiles(const std::string& dir, FileRecordStore& store) {
    uint32_t directory = store.internDirectory(dir);
    size_t before = store.size();
    platform::forEachFile(dir, [&](const platform::FileEntry& e) {
        store.append(directory, e.name, e.size, platform::localMinuteOf(e.mtimeSeconds));
    });
    return store.size() - before;
}

namespace {

// A directory of a recursive scan, with what its one reading found.
struct ListedDirectory {
    std::string text;
    platform::DirectoryListing listing;
};

// The walk of CollectDirectories, keeping each directory's listing: the same
// directories in the same order, each read once.
void CollectListings(const std::string& dir, std::vector<ListedDirectory>& out,
                     ScanObserver* observer) {
    std::unordered_set<std::string> listed;
    std::vector<std::string> pending{platform::normalizeDirectory(nativePathStyle(), dir)};
    platform::DirectoryListing spare;
    while (!pending.empty()) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        platform::DirectoryListing* listing = &spare;
        if (listed.insert(current).second) {
            out.push_back({current, {}});
            listing = &out.back().listing;
        }
        platform::listDirectory(current, *listing);
        if (observer)
            observer->directoryListed(out.size());
        std::vector<std::string> children;
        children.reserve(listing->subdirectories.size());
        for (const std::string& name : listing->subdirectories)
            children.push_back(platform::JoinPath(nativePathStyle(), current, name));
        // Kept until the files are read: only the names, without spare capacity.
        listing->subdirectories.clear();
        listing->subdirectories.shrink_to_fit();
        listing->fileNames.shrink_to_fit();
        sortDirectoryNames(children);
        // Pushed in reverse so the first sibling is walked next: pre-order.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(platform::normalizeDirectory(nativePathStyle(), *it));
    }
}

} // namespace

size_t ReadDirectory(const std::string& dir, FileRecordStore& store, bool includeSubdirectories,
                     ScanObserver* observer) {
    if (observer)
        observer->readingStarted();
    if (!includeSubdirectories)
        return ReadFiles(dir, store);
    std::vector<ListedDirectory> directories;
    CollectListings(dir, directories, observer);
    // The listings tell how many rows may come, so the store grows once, not by doubling.
    size_t candidates = 0, nameBytes = 0;
    for (const ListedDirectory& d : directories) {
        const std::string& names = d.listing.fileNames;
        candidates += size_t(std::count(names.begin(), names.end(), '\0'));
        nameBytes += names.size();
    }
    store.reserveMore(candidates, nameBytes - candidates);
    size_t rows = 0;
    for (size_t i = 0; i < directories.size(); ++i) {
        if (observer)
            observer->progress(i, directories.size());
        ListedDirectory& d = directories[i];
        const uint32_t directory = store.internDirectory(d.text);
        const size_t before = store.size();
        platform::forEachListedFile(d.text, d.listing, [&](const platform::FileEntry& e) {
            store.append(directory, e.name, e.size, platform::localMinuteOf(e.mtimeSeconds));
        });
        rows += store.size() - before;
        d.listing.clear();
        d.listing.fileNames.shrink_to_fit();
    }
    return rows;
}

} // namespace fenwa
