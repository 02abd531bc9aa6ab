#pragma once
// The commands fenwa-cli runs without Qt or the picture libraries: --help, --version and
// the searches that compare names, sizes, times and contents, written as TSV. Everything
// else is the full program's (cliapp.h).

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "search.h"

namespace fenwa::cli {

// The content hashes kept between searches, opened as the search starts (null: none).
using ContentCacheOpener = std::function<std::shared_ptr<ContentHashCache>()>;

// The exit status, as the full program's run() would give it for `args`; nothing, before
// anything is written, when `args` ask for more than these commands do. A content search
// is run only with `openCache`.
std::optional<int> runPlain(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                            const ContentCacheOpener& openCache = {});

// Steps both programs take, so that they refuse the same input with the same words and
// status. A listed directory goes through the window's directory-list gate; the status is
// given when it is refused.
std::optional<int> addDirectoryArgument(const std::string& argument,
                                        std::vector<std::string>& directories, std::FILE* err);

// After the options: a directory given, the size filters readable, a criterion ticked.
// Fills the filter's sizes.
std::optional<int> checkSearchArguments(const std::vector<std::string>& directories,
                                        const std::string& minSize, const std::string& maxSize,
                                        bool duplicates, const Criteria& criteria,
                                        SearchFilter& filter, std::FILE* err);

} // namespace fenwa::cli
