#include "identity.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fenwa::platform {

namespace {

struct Seen {
    FileIdentity id;
    uint64_t mount = 0;
};

bool look(int fd, Seen& seen) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &sx) != 0)
        return false;
    seen.id = {uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor)), uint64_t(sx.stx_ino)};
    seen.mount = (sx.stx_mask & STATX_MNT_ID) ? uint64_t(sx.stx_mnt_id) : 0;
    return true;
}

// The mount table's paths write space, tab, newline and backslash as \ooo.
std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::all_of(text.begin() + long(i) + 1, text.begin() + long(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += char((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<DirectoryLineage::Mount> readMounts() {
    std::vector<DirectoryLineage::Mount> mounts;
    // Plain reads, no streams: fenwa-cli's front end starts without the C++ library's
    // stream and locale machinery, which costs more than the table's few lines.
    std::string table;
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return mounts;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        table.append(buffer, size_t(n));
    }
    ::close(fd);
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
    };
    for (size_t start = 0; start < table.size();) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        const std::string_view line(table.data() + start, end - start);
        start = end + 1;
        // The mount's id, its parent's, the device, the root and the mount point.
        std::string_view fields[5];
        size_t count = 0;
        for (size_t i = 0; count < 5;) {
            while (i < line.size() && blank(line[i]))
                ++i;
            if (i == line.size())
                break;
            const size_t first = i;
            while (i < line.size() && !blank(line[i]))
                ++i;
            fields[count++] = line.substr(first, i - first);
        }
        DirectoryLineage::Mount m;
        if (count < 5 ||
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), m.id).ec !=
                std::errc())
            continue;
        const std::string device(fields[2]);
        const size_t colon = device.find(':');
        if (colon == std::string::npos)
            continue;
        m.device = uint64_t(
            makedev(std::stoul(device.substr(0, colon)), std::stoul(device.substr(colon + 1))));
        m.root = unescaped(std::string(fields[3]));
        m.point = unescaped(std::string(fields[4]));
        mounts.push_back(std::move(m));
    }
    return mounts;
}

// True when `prefix` is `path` or a directory above it.
bool leadsTo(const std::string& prefix, const std::string& path) {
    if (prefix == "/")
        return true;
    return path.compare(0, prefix.size(), prefix) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '/');
}

} // namespace

std::vector<FileIdentity> DirectoryLineage::operator()(const std::string& nativePath) {
    return walk(nativePath, 0);
}

std::vector<FileIdentity> DirectoryLineage::walk(const std::string& nativePath, int depth) {
    struct Level {
        Seen seen;
        bool mountRoot;
    };
    // Up from the directory until the top, or until a directory whose way up is known:
    // where ".." leads depends only on the directory and the mount it is seen through.
    std::vector<Level> levels;
    std::vector<FileIdentity> chain;
    int fd =
        ::open(nativePath.empty() ? "." : nativePath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    Seen here;
    bool known = fd >= 0 && look(fd, here);
    // Bounded, so that a file system answering strangely cannot keep this going.
    while (known && levels.size() < 65536) {
        const auto cached = known_.find({here.id.device, here.id.inode, here.mount});
        if (cached != known_.end()) {
            chain = cached->second;
            break;
        }
        const int parent = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        Seen above;
        known = fd >= 0 && look(fd, above);
        const bool top = !known || above.id == here.id; // ".." of the root is the root
        levels.push_back({here, top || above.mount != here.mount});
        if (top)
            break;
        here = above;
    }
    if (fd >= 0)
        ::close(fd);
    // Down again: each directory, then the way above it, then for the root of a mount
    // that shows a deeper directory the way up from where that directory is.
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        chain.insert(chain.begin(), level->seen.id);
        if (level->mountRoot && depth < 8) // mounts of mounts could lead round in a circle
            for (const FileIdentity& id : shownDirectoryWay(level->seen.mount, depth))
                if (std::find(chain.begin(), chain.end(), id) == chain.end())
                    chain.push_back(id);
        known_[{level->seen.id.device, level->seen.id.inode, level->seen.mount}] = chain;
    }
    return chain;
}

std::vector<FileIdentity> DirectoryLineage::shownDirectoryWay(uint64_t mountId, int depth) {
    if (mountId == 0)
        return {};
    if (!mounts_)
        mounts_ = readMounts();
    const auto shown = std::find_if(mounts_->begin(), mounts_->end(),
                                    [&](const Mount& m) { return m.id == mountId; });
    if (shown == mounts_->end() || shown->root == "/")
        return {};
    // Where the directory it shows can be reached otherwise: the mount of the same file
    // system that shows the most of the way to it from higher up.
    const Mount* whole = nullptr;
    for (const Mount& m : *mounts_)
        if (m.device == shown->device && m.root != shown->root && leadsTo(m.root, shown->root) &&
            (!whole || m.root.size() > whole->root.size()))
            whole = &m;
    if (!whole)
        return {};
    const std::string rest = shown->root.substr(whole->root == "/" ? 0 : whole->root.size());
    const std::string original =
        whole->point == "/" ? (rest.empty() ? "/" : rest) : whole->point + rest;
    return walk(original, depth + 1);
}

} // namespace fenwa::platform
