#pragma once
// The change stamp of FileState and FileEntry (filesystem.h), worked out from a file's
// times, for code that looks at a file itself and compares it with what a search read.

#include <cstdint>

namespace fenwa::platform {

// A file with these modification and status-change times has this stamp.
uint64_t changeStampOfTimes(int64_t mtimeSeconds, int64_t mtimeNanoseconds, int64_t ctimeSeconds,
                            int64_t ctimeNanoseconds);

} // namespace fenwa::platform
