// Selecting by rule on 100,000 groups of three rows, built in memory: the time of the
// rule unit alone, as the window's Select menu runs it. Prints one line per rule with the
// median wall time of five runs.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "keeprules.h"

using namespace fenwa;

int main() {
    constexpr size_t Groups = 100'000;
    FileRecordStore rows;
    rows.reserve(3 * Groups);
    std::vector<uint32_t> dirs;
    for (int d = 0; d < 1000; ++d)
        dirs.push_back(rows.internDirectory("/photos/" + std::to_string(d % 10) + "/album-" +
                                            std::to_string(d)));
    // The directories exist only as texts: each text is its own identity, ".." of it the
    // text above.
    const auto idOf = [](const std::string& text) {
        return platform::FileIdentity{1, std::hash<std::string>{}(text)};
    };
    actions::Protection protect;
    protect.directories.insert(idOf("/photos/3"));
    protect.ancestry = [idOf](std::string text) {
        std::vector<platform::FileIdentity> chain;
        for (size_t slash; (slash = text.rfind('/')) != std::string::npos && slash > 0;
             text.resize(slash))
            chain.push_back(idOf(text));
        chain.push_back(idOf("/"));
        return chain;
    };
    // Each group: one size, three directories, three minutes; every tenth group shares
    // one file through a hard link.
    for (size_t g = 0; g < Groups; ++g) {
        const std::string name = "IMG_" + std::to_string(g) + ".JPG";
        for (size_t k = 0; k < 3; ++k) {
            const uint64_t inode = (g % 10 == 0 && k == 2) ? 3 * g + 1 : 3 * g + k + 1;
            rows.append(dirs[(g * 7 + k * 131) % dirs.size()], name, int64_t(1000 + g),
                        int32_t(27'000'000 + (g + k * 17) % 50), inode);
        }
    }
    const Criteria size{false, true, false, false};
    recordGroups(rows, size);
    const std::pair<const char*, actions::KeepRules> runs[] = {
        {"newest, then shortest path",
         {actions::KeepRule::Newest, actions::KeepRule::ShortestPath, {}}},
        {"largest, then oldest", {actions::KeepRule::Largest, actions::KeepRule::Oldest, {}}},
        {"under a directory", {actions::KeepRule::UnderDirectory, std::nullopt, "/photos/5"}},
    };
    for (const auto& [what, rules] : runs) {
        std::vector<double> times;
        size_t selected = 0;
        for (int round = 0; round < 5; ++round) {
            const auto start = std::chrono::steady_clock::now();
            const actions::KeepSelection chosen =
                actions::SelectByRule(rows, rules, protect, nullptr);
            times.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            selected = chosen.selected.size();
        }
        std::sort(times.begin(), times.end());
        std::printf("Select by rule (%s) on %zu groups, %zu rows: %.3f s, %zu selected\n", what,
                    Groups, rows.size(), times[times.size() / 2], selected);
    }
    return 0;
}
