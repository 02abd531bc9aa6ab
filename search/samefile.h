#pragma once
// Whether two rows of a list are one file however they are reached: the same directory
// entry spelled twice, a hard link, or one file shown again through a mount that mirrors
// a folder (FUSE, network shares of a local folder), which reports another device and
// perhaps other inode numbers. Such rows are never each other's copy.

#include <cstddef>

#include "filerecord.h"

namespace fenwa {

// Flags (as hard links) the rows that another row shows again through a mirror mount.
// Only rows on FUSE or network file systems, and rows whose inode and size another
// device's row shares, are looked at on the disk.
void MarkMirroredRows(FileRecordStore& rows);

// One file: the same device and inode, the same entry, or, for two rows flagged as
// sharing their file and found on different devices, one file as the disk shows them now
// (platform::oneFile).
bool SameFileRows(const FileRecordStore& rows, size_t a, size_t b);

} // namespace fenwa
