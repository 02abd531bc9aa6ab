#include "samefile.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "filesystem.h"

namespace fenwa {

namespace {

// The file a row names, as the disk shows it now, when it still is the row's file.
bool stateOfRow(const FileRecordStore& rows, size_t row, platform::FileState& state) {
    return platform::statFileNow(rows.fullPath(row), state) && state.regularFile &&
           state.identity == platform::FileIdentity{rows.device(row), rows.inode(row)};
}

} // namespace

void MarkMirroredRows(FileRecordStore& rows) {
    std::vector<uint32_t> known;
    bool severalDevices = false;
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows.inode(row) != 0) {
            severalDevices = severalDevices ||
                             (!known.empty() && rows.device(row) != rows.device(known.front()));
            known.push_back(uint32_t(row));
        }
    // Rows in folders that a FUSE or network mount shows from a local path: the kind of
    // file system is asked once a device, the mount table once a folder on such a device.
    std::vector<signed char> mirrored(rows.directoryCount(), -1);
    std::unordered_map<uint64_t, bool> trustedDevice;
    const auto trusted = [&](size_t row) {
        if (rows.device(row) == 0)
            return platform::changeTimeTrusted(rows.directory(row));
        const auto [it, added] = trustedDevice.try_emplace(rows.device(row), true);
        if (added)
            it->second = platform::changeTimeTrusted(rows.directory(row));
        return it->second;
    };
    const auto onMirrorKind = [&](size_t row) {
        signed char& m = mirrored[rows.record(row).directory];
        if (m < 0)
            m = !trusted(row) && !platform::mirroredPath(rows.directory(row)).empty();
        return m == 1;
    };
    std::vector<char> candidate(rows.size(), 0);
    bool any = false;
    for (uint32_t row : known)
        if (onMirrorKind(row))
            candidate[row] = any = true;
    // Rows of one device cannot show each other through a mount that passes the numbers
    // on; the sort below is the costliest step of a large list, so it is skipped then.
    if (!severalDevices && !any)
        return;
    // Rows of different devices sharing inode and size: a mount passing the numbers on.
    const auto key = [&rows](uint32_t row) {
        return std::tuple{rows.inode(row), rows.fileSize(row), rows.device(row)};
    };
    std::sort(known.begin(), known.end(),
              [&key](uint32_t a, uint32_t b) { return key(a) < key(b); });
    for (size_t i = 1; i < known.size(); ++i) {
        const uint32_t a = known[i - 1], b = known[i];
        if (rows.inode(a) == rows.inode(b) && rows.fileSize(a) == rows.fileSize(b) &&
            rows.device(a) != rows.device(b))
            candidate[a] = candidate[b] = any = true;
    }
    if (!any)
        return;

    std::unordered_map<uint32_t, platform::FileState> states;
    for (uint32_t row : known)
        if (candidate[row] && !stateOfRow(rows, row, states[row]))
            states.erase(row);
    const auto mark = [&rows](uint32_t a, uint32_t b) {
        rows.setHardLinked(a, true);
        rows.setHardLinked(b, true);
    };
    // A mirrored row and the row of the file it shows, or of another mirror of it.
    std::unordered_map<platform::FileIdentity, std::vector<uint32_t>, platform::FileIdentityHash>
        mirrorsOf;
    for (const auto& [row, state] : states)
        if (state.mirrorOf != platform::FileIdentity{})
            mirrorsOf[state.mirrorOf].push_back(row);
    for (const auto& [shown, mirrors] : mirrorsOf)
        for (size_t m = 1; m < mirrors.size(); ++m)
            mark(mirrors[m], mirrors.front());
    if (!mirrorsOf.empty())
        for (uint32_t row : known)
            if (const auto it = mirrorsOf.find({rows.device(row), rows.inode(row)});
                it != mirrorsOf.end())
                for (uint32_t mirror : it->second)
                    mark(row, mirror);
    // Rows sharing inode and size across devices that are one file to the nanosecond.
    std::vector<uint32_t> seen;
    for (size_t i = 0; i < known.size();) {
        seen.clear();
        size_t end = i;
        for (; end < known.size() && rows.inode(known[end]) == rows.inode(known[i]) &&
               rows.fileSize(known[end]) == rows.fileSize(known[i]);
             ++end)
            if (states.count(known[end]))
                seen.push_back(known[end]);
        for (size_t a = 0; a < seen.size(); ++a)
            for (size_t b = a + 1; b < seen.size(); ++b)
                if (platform::oneFile(states[seen[a]], states[seen[b]]))
                    mark(seen[a], seen[b]);
        i = end;
    }
}

bool SameFileRows(const FileRecordStore& rows, size_t a, size_t b) {
    if (rows.inode(a) != 0 && rows.inode(a) == rows.inode(b) && rows.device(a) == rows.device(b))
        return true;
    if (rows.name(a) == rows.name(b) && rows.directory(a) == rows.directory(b))
        return true;
    // Only rows the search found sharing a file are looked at again.
    if (!rows.hardLinked(a) || !rows.hardLinked(b) || rows.device(a) == rows.device(b))
        return false;
    platform::FileState sa, sb;
    return stateOfRow(rows, a, sa) && stateOfRow(rows, b, sb) && platform::oneFile(sa, sb);
}

} // namespace fenwa
