#include "carryout.h"
#include "uitext.h"

#include <map>

namespace fenwa::actions {

namespace {

std::string joined(const FileRecordStore& rows, const std::vector<size_t>& which) {
    std::string text;
    for (size_t row : which)
        text += rows.fullPath(row) + "\n";
    return text;
}

} // namespace

DeleteOutcome CarryOutDelete(const FileRecordStore& rows, const DeletePlan& plan,
                             const DeleteRequest& request, int flags,
                             platform::ShellPrompts& prompts, const FileProbe& probe,
                             const ContentHasher& hasher) {
    DeleteOutcome outcome;
    const bool forGood = !(flags & platform::FOF_ALLOWUNDO);
    // Protected files are references: asked about by name whatever "No confirmation" says.
    if (!plan.protectedRows.empty() &&
        !prompts.askYesNo(std::string(say("These files are in protected folders:\n",
                                          "這些檔案在受保護的目錄中:\n")) +
                          joined(rows, plan.protectedRows) +
                          say("Delete them?", "確定要刪除嗎?"))) {
        outcome.declined = true;
        return outcome;
    }
    if (!plan.lastCopies.empty()) {
        std::string names;
        for (size_t first : plan.lastCopies)
            names += std::string(rows.name(first)) + "\n";
        std::string question =
            std::string(say("You selected every file of a group: this "
                            "deletes every copy:\n",
                            "您選擇了同一組的每一個檔案, 這會刪除每一個副本:\n")) +
            names + say("Delete them?", "確定要刪除嗎?");
        if (forGood)
            question += std::string("\n") + platform::CannotBeUndone;
        if (!prompts.askYesNo(question)) {
            outcome.declined = true;
            return outcome;
        }
    }
    if (!plan.sharedData.empty() && !(flags & platform::FOF_NOCONFIRMATION) &&
        !prompts.askYesNo(std::string(say("These files share their data with a hard link "
                                          "that stays: deleting them frees no space:\n",
                                          "這些檔案和留下的硬連結是同一份資料, "
                                          "刪除它們不會釋放空間:\n")) +
                          joined(rows, plan.sharedData) + say("Delete them?", "確定要刪除嗎?"))) {
        outcome.declined = true;
        return outcome;
    }

    std::map<size_t, const DeletePlan::CountedOn*> countedOn;
    for (const DeletePlan::CountedOn& counted : plan.countedOn)
        countedOn[counted.row] = &counted;
    std::vector<std::string> paths;
    for (size_t row : plan.remove)
        paths.push_back(rows.fullPath(row));
    // The copy a file counts on is looked at again right after the file went to the trash
    // (it comes back if the copy went with it or changed), or, where the file is deleted
    // for good, just before: another program may delete or change it meanwhile.
    const auto copyHolds = [&](size_t index) {
        const auto counted = countedOn.find(plan.remove[index]);
        return counted == countedOn.end() ||
               copyStillHolds(rows, *counted->second, request, probe, hasher);
    };
    platform::DeleteGuard guard{copyHolds, copyHolds};
    if (!paths.empty())
        outcome.report = platform::ShellDeleteFiles(paths, flags, prompts, guard);

    std::vector<size_t> leftAlone, notPutBack;
    for (size_t index : outcome.report.putBack)
        outcome.putBack.push_back(plan.remove[index]);
    for (size_t index : outcome.report.leftAlone)
        leftAlone.push_back(plan.remove[index]);
    for (size_t index : outcome.report.notPutBack)
        notPutBack.push_back(plan.remove[index]);
    std::string report;
    if (!outcome.putBack.empty() || !leftAlone.empty())
        report += std::string(say("The copy these files counted on changed or went while they "
                                  "were deleted: they were kept, put back from the trash where "
                                  "they had gone there:\n",
                                  "這些檔案留下的副本在刪除時已改變或不見, 檔案沒有刪除 "
                                  "(已放回垃圾桶中的檔案):\n")) +
                  joined(rows, outcome.putBack) + joined(rows, leftAlone);
    if (!notPutBack.empty())
        report +=
            std::string(say("Their copy changed, but they could not be put back: they "
                            "are still in the trash:\n",
                            "這些檔案的副本已改變, 但無法從垃圾桶放回; 它們仍在垃圾桶中:\n")) +
            joined(rows, notPutBack);
    if (!report.empty())
        prompts.reportError(report);
    return outcome;
}

} // namespace fenwa::actions
