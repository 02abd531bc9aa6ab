#include "plainsearch.h"

#include <exception>
#include <optional>

#include "directorylist.h"
#include "exportlist.h"
#include "filesystem.h"
#include "identity.h"
#include "pathrules.h"
#include "search.h"
#include "usage.h"

namespace fenwa::cli {

std::optional<int> addDirectoryArgument(const std::string& argument,
                                        std::vector<std::string>& directories, std::FILE* err) {
    // The same gate as the window's directory list.
    const AddDirectoryCheck check =
        checkDirectoryToAdd(argument, directories, platform::isExistingDirectory,
                            platform::nativePathStyle(), platform::DirectoryLineage{});
    switch (check.outcome) {
    case AddDirectoryOutcome::NotADirectory:
        std::fprintf(err, "%s\n", MsgNotADirectory);
        return 2;
    case AddDirectoryOutcome::Relatives:
        std::fprintf(err, "%s\n", relativesMessage(check.directory, check.conflict).c_str());
        return 2;
    case AddDirectoryOutcome::AlreadyListed:
        break;
    case AddDirectoryOutcome::Added:
        directories.push_back(check.directory);
        break;
    }
    return std::nullopt;
}

std::optional<int> checkSearchArguments(const std::vector<std::string>& directories,
                                        const std::string& minSize, const std::string& maxSize,
                                        bool duplicates, const Criteria& criteria,
                                        SearchFilter& filter, std::FILE* err) {
    if (directories.empty()) {
        std::fputs("您沒有輸入目錄叫我怎麼找?\n", err);
        return 2;
    }
    if (const std::string problem = ReadFilterSizes(minSize, maxSize, filter); !problem.empty()) {
        std::fprintf(err, "fenwa-cli: %s\n", problem.c_str());
        return 1;
    }
    if (duplicates && !criteria.any()) {
        std::fputs("您必須至少打一個勾\n", err);
        return 2;
    }
    return std::nullopt;
}

// The steps and texts follow run() in cliapp.cpp one for one, so that a command gives
// the same output and exit status whichever program runs it.
std::optional<int> runPlain(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                            const ContentCacheOpener& openCache) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(Usage, args.empty() ? err : out);
        return args.empty() ? 1 : 0;
    }
    if (args[0] == "--version") {
        std::fputs(VersionLine, out);
        return 0;
    }
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i)
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(Usage, out);
            return 0;
        }
    const bool duplicates = args[0] == "find-duplicates";
    if (args[0] != "find-all" && !duplicates)
        return std::nullopt; // decode, undo and the unknown commands
    bool includeSubdirectories = true;
    Criteria criteria;
    std::vector<std::string> directories;
    SearchFilter filter;
    std::string minSize, maxSize;
    bool optionsEnded = false;
    // An option this program does not take hands the command over as it stands: nothing
    // has been written before it, whatever came first.
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a == "--no-subdirs") {
            includeSubdirectories = false;
        } else if (!optionsEnded && a == "--format" && i + 1 < args.size()) {
            const std::optional<ExportFormat> named = exportFormatNamed(args[++i]);
            if (!named) {
                std::fprintf(err, "fenwa-cli: --format takes tsv, csv or json, not '%s'\n",
                             args[i].c_str());
                return 1;
            }
            if (*named != ExportFormat::Tsv)
                return std::nullopt; // CSV and JSON read the pictures' headers
        } else if (!optionsEnded && a == "--min-size" && i + 1 < args.size()) {
            minSize = args[++i];
        } else if (!optionsEnded && a == "--max-size" && i + 1 < args.size()) {
            maxSize = args[++i];
        } else if (!optionsEnded && a == "--skip" && i + 1 < args.size()) {
            filter.skipFolders.push_back(args[++i]);
        } else if (!optionsEnded && a == "--skip-empty") {
            filter.skipEmpty = true;
        } else if (!optionsEnded && a == "--pictures-only") {
            filter.picturesOnly = true;
        } else if (!optionsEnded && duplicates && a == "--name") {
            criteria.name = true;
        } else if (!optionsEnded && duplicates && a == "--size") {
            criteria.size = true;
        } else if (!optionsEnded && duplicates && a == "--time") {
            criteria.time = true;
        } else if (!optionsEnded && duplicates && a == "--content" && openCache) {
            criteria.content = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            return std::nullopt;
        } else {
            if (const std::optional<int> refused = addDirectoryArgument(a, directories, err))
                return *refused;
        }
    }
    if (const std::optional<int> refused =
            checkSearchArguments(directories, minSize, maxSize, duplicates, criteria, filter, err))
        return *refused;
    platform::initialiseProcess();
    SearchRequest request;
    request.directories = directories;
    request.includeSubdirectories = includeSubdirectories;
    request.duplicatesOnly = duplicates;
    request.criteria = criteria;
    request.filter = filter;
    if (criteria.content)
        request.tools = [&openCache](const SearchRequest&) {
            SearchTools tools;
            tools.contentCache = openCache();
            return tools;
        };
    SearchOutcome found;
    try {
        found = RunSearch(request);
    } catch (const std::exception& e) {
        std::fprintf(err, "fenwa-cli: the search failed: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(err, "fenwa-cli: the search failed: %s\n", "an unexpected error");
        return 1;
    }
    if (!found.cacheProblem.empty())
        std::fprintf(err, "fenwa-cli: the cache was not saved: %s\n", found.cacheProblem.c_str());
    for (const std::string& folder : found.filtered.notFound)
        std::fprintf(err, "fenwa-cli: --skip %s: no such folder, nothing skipped\n",
                     escapeField(folder).c_str());
    if (found.filtered.on)
        std::fprintf(err, "fenwa-cli: left out by the filters: %zu files, %zu folders\n",
                     found.filtered.files, found.filtered.folders);
    writeRows(found.rows, ExportFormat::Tsv, out);
    return 0;
}

} // namespace fenwa::cli
