#include "identity.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sstream>
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
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        DirectoryLineage::Mount m;
        std::string parent, device, root, point;
        if (!(fields >> m.id >> parent >> device >> root >> point))
            continue;
        const size_t colon = device.find(':');
        if (colon == std::string::npos)
            continue;
        m.device = uint64_t(
            makedev(std::stoul(device.substr(0, colon)), std::stoul(device.substr(colon + 1))));
        m.root = unescaped(root);
        m.point = unescaped(point);
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
    std::vector<FileIdentity> chain;
    walk(nativePath, 0, chain);
    return chain;
}

void DirectoryLineage::walk(const std::string& nativePath, int depth,
                            std::vector<FileIdentity>& chain) {
    int fd =
        ::open(nativePath.empty() ? "." : nativePath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::vector<uint64_t> mountRoots; // the mounts whose roots the way passes
    Seen here;
    bool known = fd >= 0 && look(fd, here);
    // Bounded, so that a file system answering strangely cannot keep this going.
    for (int level = 0; known && level < 65536; ++level) {
        if (std::find(chain.begin(), chain.end(), here.id) == chain.end())
            chain.push_back(here.id);
        const int parent = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        Seen above;
        known = fd >= 0 && look(fd, above);
        if (!known || above.mount != here.mount || above.id == here.id)
            mountRoots.push_back(here.mount);
        if (!known || above.id == here.id)
            break; // ".." of the root is the root
        here = above;
    }
    if (fd >= 0)
        ::close(fd);
    // Bounded as well: mounts of mounts could lead round in a circle.
    if (depth >= 8)
        return;
    for (uint64_t mountId : mountRoots) {
        if (mountId == 0)
            continue;
        if (!mounts_)
            mounts_ = readMounts();
        const auto shown = std::find_if(mounts_->begin(), mounts_->end(),
                                        [&](const Mount& m) { return m.id == mountId; });
        if (shown == mounts_->end() || shown->root == "/")
            continue;
        // Where the directory it shows can be reached otherwise: the mount of the same
        // file system that shows the most of the way to it from higher up.
        const Mount* whole = nullptr;
        for (const Mount& m : *mounts_)
            if (m.device == shown->device && m.root != shown->root &&
                leadsTo(m.root, shown->root) && (!whole || m.root.size() > whole->root.size()))
                whole = &m;
        if (!whole)
            continue;
        std::string rest = shown->root.substr(whole->root == "/" ? 0 : whole->root.size());
        const std::string original =
            whole->point == "/" ? (rest.empty() ? "/" : rest) : whole->point + rest;
        walk(original, depth + 1, chain);
    }
}

} // namespace fenwa::platform
