#include "cliapp.h"

#include "directorylist.h"
#include "filerecord.h"
#include "filesystem.h"
#include "grouping.h"
#include "scanner.h"

namespace fenwa::cli {

namespace {

const char* const Usage = "usage: fenwa-cli find-all [--no-subdirs] DIR...\n"
                          "Lists every file of the directories, one line per file:\n"
                          "name, directory, size, type and time separated by tabs.\n";

void printRows(const FileRecordStore& store, std::FILE* out) {
    std::string line;
    for (size_t row = 0; row < store.size(); ++row) {
        line.clear();
        for (int column = 0; column < ColumnCount; ++column) {
            if (column)
                line += '\t';
            line += store.text(row, column);
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
}

} // namespace

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(Usage, args.empty() ? err : out);
        return args.empty() ? 1 : 0;
    }
    const bool duplicates = args[0] == "find-duplicates";
    if (args[0] != "find-all" && !duplicates) {
        std::fprintf(err, "fenwa-cli: unknown command '%s'\n%s", args[0].c_str(), Usage);
        return 1;
    }
    bool includeSubdirectories = true;
    Criteria criteria;
    std::vector<std::string> directories;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a == "--no-subdirs") {
            includeSubdirectories = false;
        } else if (!optionsEnded && duplicates && a == "--name") {
            criteria.name = true;
        } else if (!optionsEnded && duplicates && a == "--size") {
            criteria.size = true;
        } else if (!optionsEnded && duplicates && a == "--time") {
            criteria.time = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            std::fprintf(err, "fenwa-cli: unknown option '%s'\n%s", a.c_str(), Usage);
            return 1;
        } else {
            // The same gate as the window's directory list.
            AddDirectoryCheck check =
                checkDirectoryToAdd(a, directories, platform::isExistingDirectory);
            switch (check.outcome) {
            case AddDirectoryOutcome::NotADirectory:
                std::fprintf(err, "%s\n", MsgNotADirectory);
                return 2;
            case AddDirectoryOutcome::Relatives:
                std::fprintf(err, "%s\n",
                             relativesMessage(check.directory, check.conflict).c_str());
                return 2;
            case AddDirectoryOutcome::AlreadyListed:
                break;
            case AddDirectoryOutcome::Added:
                directories.push_back(check.directory);
                break;
            }
        }
    }
    if (directories.empty()) {
        std::fputs("您沒有輸入目錄叫我怎麼找?\n", err);
        return 2;
    }
    if (duplicates && !criteria.any()) {
        std::fputs("您必須至少打一個勾\n", err);
        return 2;
    }
    platform::initialiseProcess();
    FileRecordStore store;
    for (const std::string& dir : directories)
        ReadDirectory(dir, store, includeSubdirectories);
    if (duplicates) {
        FileRecordStore groups;
        const std::vector<uint32_t> order = FindDuplicateRows(store, criteria);
        groups.reserve(order.size());
        for (uint32_t row : order)
            groups.appendCopy(store, row);
        store = std::move(groups);
    }
    printRows(store, out);
    return 0;
}

} // namespace fenwa::cli
