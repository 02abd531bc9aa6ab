#include "keeprules.h"

#include <algorithm>

#include "pathrules.h"
#include "picturefacts.h"
#include "samefile.h"

namespace fenwa::actions {

bool keepRuleNamed(std::string_view name, KeepRule& rule, std::string& directory) {
    static constexpr std::pair<std::string_view, KeepRule> Names[] = {
        {"newest", KeepRule::Newest},       {"oldest", KeepRule::Oldest},
        {"largest", KeepRule::Largest},     {"pixels", KeepRule::MostPixels},
        {"taken", KeepRule::EarliestTaken}, {"shortest-path", KeepRule::ShortestPath},
        {"first", KeepRule::First},
    };
    for (const auto& [text, named] : Names)
        if (name == text) {
            rule = named;
            return true;
        }
    constexpr std::string_view Under = "under=";
    if (name.substr(0, Under.size()) != Under || name.size() == Under.size())
        return false;
    rule = KeepRule::UnderDirectory;
    directory =
        platform::normalizeDirectory(platform::nativePathStyle(), name.substr(Under.size()));
    return true;
}

namespace {

class Ranking {
public:
    Ranking(const FileRecordStore& rows, const KeepRules& rules, const PixelCounter& pixels,
            const CaptureTimeReader& taken)
        : rows_(rows), rules_(rules), pixels_(pixels), taken_(taken) {}

    // A row's standing under a rule, higher is better; nullopt when the rule cannot tell.
    std::optional<int64_t> score(KeepRule rule, size_t row) {
        switch (rule) {
        case KeepRule::Newest:
            return rows_.minute(row);
        case KeepRule::Oldest:
            return -int64_t(rows_.minute(row));
        case KeepRule::Largest:
            return rows_.fileSize(row);
        case KeepRule::MostPixels: {
            const uint64_t count = pixels_ ? pixels_(rows_.fullPath(row)) : 0;
            if (count == 0)
                return std::nullopt;
            return int64_t(std::min<uint64_t>(count, INT64_MAX));
        }
        case KeepRule::EarliestTaken: {
            const uint64_t key = taken_ ? captureTimeKey(taken_(rows_.fullPath(row))) : 0;
            if (key == 0)
                return std::nullopt;
            return -int64_t(key);
        }
        case KeepRule::ShortestPath:
            return -int64_t(rows_.directory(row).size() + rows_.name(row).size());
        case KeepRule::UnderDirectory:
            if (!isWithinDirectory(rows_.directory(row), rules_.directory))
                return std::nullopt;
            return 0;
        case KeepRule::First:
            return 0; // every row ties; the first of a tie is kept
        }
        return std::nullopt;
    }

    // The row to keep of `candidates` (in row order), or nullopt when the rule knows
    // nothing about any of them.
    std::optional<size_t> keep(const std::vector<size_t>& candidates) {
        std::vector<size_t> best = bestBy(rules_.rule, candidates);
        // Many pictures carry no capture time: a group where none does is the tie-break's.
        if (best.empty() && rules_.rule == KeepRule::EarliestTaken && rules_.thenBy)
            best = bestBy(*rules_.thenBy, candidates);
        if (best.empty())
            return std::nullopt;
        // The first row is an answer, not a tie to break.
        if (best.size() > 1 && rules_.thenBy && rules_.rule != KeepRule::First) {
            std::vector<size_t> narrowed = bestBy(*rules_.thenBy, best);
            if (!narrowed.empty())
                best = std::move(narrowed);
        }
        return best.front();
    }

private:
    std::vector<size_t> bestBy(KeepRule rule, const std::vector<size_t>& candidates) {
        std::vector<size_t> best;
        std::optional<int64_t> top;
        for (size_t row : candidates) {
            const std::optional<int64_t> s = score(rule, row);
            if (!s || (top && *s < *top))
                continue;
            if (!top || *s > *top)
                best.clear();
            top = s;
            best.push_back(row);
        }
        return best;
    }

    const FileRecordStore& rows_;
    const KeepRules& rules_;
    const PixelCounter& pixels_;
    const CaptureTimeReader& taken_;
};

} // namespace

KeepSelection SelectByRule(const FileRecordStore& rows, const KeepRules& rules,
                           const Protection& protect, const PixelCounter& pixels,
                           const CaptureTimeReader& taken) {
    KeepSelection result;
    if (!rows.hasGroups())
        return result;
    ProtectionCheck protectedDir(rows, protect);
    const auto isProtected = [&](size_t row) { return protectedDir.row(row); };
    Ranking ranking(rows, rules, pixels, taken);
    std::vector<size_t> members, references;
    const RecordedGroups groups(rows);
    for (size_t g = 0; g < groups.count(); ++g) {
        const std::span<const size_t> group = groups.members(g);
        if (group.size() < 2)
            continue;
        members.clear();
        references.clear();
        for (size_t row : group)
            (isProtected(row) ? references : members).push_back(row);
        // Protected files are the group's keepers: every other file goes, and the rule
        // adds no keeper of its own beside them. A group of protected files only is the
        // user's already decided.
        if (members.empty())
            continue;
        std::optional<size_t> kept;
        if (references.empty()) {
            kept = ranking.keep(members);
            if (!kept) {
                ++result.undecided;
                continue;
            }
        }
        // Rows that stay: the kept file or the references. A row that names one of their
        // files again (the same entry spelled twice, a hard link, a mirror) stays as well.
        const auto sameFile = [&](size_t a, size_t b) { return SameFileRows(rows, a, b); };
        const auto staysWith = [&](size_t row) {
            if (kept && (row == *kept || sameFile(row, *kept)))
                return true;
            return std::any_of(references.begin(), references.end(),
                               [&](size_t r) { return sameFile(row, r); });
        };
        for (size_t row : members) {
            if (staysWith(row))
                continue;
            result.selected.push_back(row);
            result.selectedBytes += rows.fileSize(row);
        }
    }
    // A sorted list scatters its groups.
    std::sort(result.selected.begin(), result.selected.end());
    return result;
}

std::vector<size_t> InvertWithinGroups(const FileRecordStore& rows,
                                       const std::vector<bool>& selectedNow) {
    std::vector<size_t> inverted;
    const RecordedGroups groups(rows);
    for (size_t g = 0; g < groups.count(); ++g) {
        const std::span<const size_t> group = groups.members(g);
        if (group.size() < 2)
            continue;
        for (size_t row : group)
            if (row >= selectedNow.size() || !selectedNow[row])
                inverted.push_back(row);
    }
    std::sort(inverted.begin(), inverted.end());
    return inverted;
}

} // namespace fenwa::actions
