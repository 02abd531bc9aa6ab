#pragma once
// Choosing what to keep by rule: in every group of a duplicate list one file is kept
// and every other row is selected, for the user to look over before pressing Delete.
// Nothing is deleted here, and nothing here knows a window.
//
// The selection is safe by construction: the kept file is never selected, nor any row
// that is it under another spelling or a hard link of it. Files under a protected
// directory are references: a group holding any keeps them, and them alone, so the rule
// keeps nothing of its own there; a group of references only is left alone. A group the
// rule cannot decide is left alone and counted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filerecord.h"
#include "protection.h"
#include "resultlist.h"

namespace fenwa::actions {

enum class KeepRule {
    Newest,
    Oldest,
    Largest,
    MostPixels,
    EarliestTaken, // the capture time the picture's header gives
    ShortestPath,
    UnderDirectory,
    First, // the group's first row as the list stands
};

// The rule that decides and the one that breaks its ties; a tie left after both goes to
// the first row.
struct KeepRules {
    KeepRule rule = KeepRule::First;
    std::optional<KeepRule> thenBy = std::nullopt;
    std::string directory = {}; // for UnderDirectory, native bytes
};

// Parses "newest", "oldest", "largest", "pixels", "taken", "shortest-path", "under=DIR"
// or "first" into `rule` (setting `directory` for under=).
bool keepRuleNamed(std::string_view name, KeepRule& rule, std::string& directory);

// A picture's width times height from its header; 0 when not a picture or unreadable.
using PixelCounter = std::function<uint64_t(const std::string& nativePath)>;
// When a picture was taken, "YYYY:MM:DD HH:MM:SS", from its header; empty when the file
// does not say. A row without it cannot be kept by EarliestTaken; a group where no row
// has one goes to the rule that breaks ties, and is left undecided without one.
using CaptureTimeReader = std::function<std::string(const std::string& nativePath)>;

struct KeepSelection {
    std::vector<size_t> selected; // in row order
    int64_t selectedBytes = 0;
    // Groups of two or more rows, none protected, left with nothing selected because the
    // rule could not tell which file to keep.
    size_t undecided = 0;
};

// The groups are those the search recorded in the rows, wherever sorting put their rows
// and whatever is ticked now; a list without groups selects nothing.
KeepSelection SelectByRule(const FileRecordStore& rows, const KeepRules& rules,
                           const Protection& protect, const PixelCounter& pixels,
                           const CaptureTimeReader& taken = nullptr);

// Every row of each recorded group of two or more that is not selected now, and none
// that is; in row order.
std::vector<size_t> InvertWithinGroups(const FileRecordStore& rows,
                                       const std::vector<bool>& selectedNow);

} // namespace fenwa::actions
