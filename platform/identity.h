#pragma once
// Where a directory lies, by identity, seen through bind mounts. ".." from the root of a
// bind mount leads to the directory the mount is attached in, not to the parent of the
// directory it shows; so a bind mount of a subdirectory would look unrelated to the
// directory it lies in. The mount table tells which directory a mount shows, and the way
// up from that directory is followed too.

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "filesystem.h"

namespace fenwa::platform {

class DirectoryLineage {
public:
    // The identities of a directory and of each directory above it: as ".." leads from
    // it (a link the user typed is followed), and, wherever that way passes the root of
    // a mount that shows a directory deeper in its file system, also from that directory
    // where the file system is mounted whole. The directory itself comes first. Empty
    // when the path is not an existing directory.
    std::vector<FileIdentity> operator()(const std::string& nativePath);

    struct Mount {
        uint64_t id = 0;
        uint64_t device = 0;
        std::string root;  // the directory of its file system that the mount shows
        std::string point; // where it is mounted
    };

private:
    std::vector<FileIdentity> walk(const std::string& nativePath, int depth);
    // The way up from the directory a mount shows, where it is reached otherwise.
    std::vector<FileIdentity> shownDirectoryWay(uint64_t mountId, int depth);
    // The mount table, read once per lineage at the first mount root met.
    std::optional<std::vector<Mount>> mounts_;
    // The way up from each directory walked, by its identity and its mount: one lineage
    // walks a whole tree with a few steps per directory.
    std::map<std::tuple<uint64_t, uint64_t, uint64_t>, std::vector<FileIdentity>> known_;
};

} // namespace fenwa::platform
