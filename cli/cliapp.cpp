#include "cliapp.h"

#include <QFile>
#include <QGuiApplication>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "GifRegistration.h"
#include "JPEGImage.h"
#include "PictureLoader.h"
#include "deletesession.h"
#include "exportlist.h"
#include "fingerprint.h"
#include "keeprules.h"
#include "picturefingerprint.h"
#include "plainsearch.h"
#include "uitext.h"
#include "undo.h"
#include "undojournal.h"
#include "usage.h"

#include "directorylist.h"
#include "filerecord.h"
#include "filesystem.h"
#include "headerfacts.h"
#include "identity.h"
#include "pathrules.h"
#include "search.h"
#include "searchcache.h"
#include "searchsession.h"
#include "similarsearch.h"

namespace fenwa::cli {

namespace {

int decode(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    TPictureLoadSettings settings;
    std::string input, output;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--scale" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            if (v == "1")
                settings.scale = jsFullSize;
            else if (v == "2")
                settings.scale = jsHalf;
            else if (v == "4")
                settings.scale = jsQuarter;
            else if (v == "8")
                settings.scale = jsEighth;
            else {
                std::fprintf(err, "fenwa-cli: --scale takes 1, 2, 4 or 8, not '%s'\n", v.c_str());
                return 1;
            }
        } else if (a == "--grayscale") {
            settings.grayscale = true;
        } else if (a == "--fast") {
            settings.performance = jpBestSpeed;
        } else if (a == "--8bit") {
            settings.pixelFormat = jf8Bit;
        } else if (a == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (input.empty() && (a.empty() || a[0] != '-' || a == "-")) {
            input = a;
        } else {
            std::fprintf(err, "fenwa-cli: unexpected argument '%s'\n%s", a.c_str(), Usage);
            return 1;
        }
    }
    if (input.empty() || output.empty()) {
        std::fputs(Usage, err);
        return 1;
    }
    // Icons, bitmaps and metafiles load and play through the GUI library; JPEG and GIF
    // pictures have decoders of their own and need no start-up of it.
    const std::string extension = [&] {
        std::string e(platform::extensionOf(platform::nativePathStyle(), input));
        for (char& c : e)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return e;
    }();
    const bool ownDecoder = extension == ".jpg" || extension == ".jpeg" || extension == ".jpe" ||
                            extension == ".jfif" || extension == ".gif";
    int argc = 1;
    char name[] = "fenwa-cli";
    char* argv[] = {name, nullptr};
    std::optional<QGuiApplication> app;
    if (!ownDecoder) {
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        app.emplace(argc, argv);
    }
    RegisterGifPictureKind();
    TPicture picture;
    const TPictureLoadResult result =
        LoadPictureFile(picture, QByteArray::fromStdString(input), settings);
    if (!result.loaded) {
        std::fprintf(err, "fenwa-cli: cannot load '%s'%s\n", input.c_str(),
                     result.exists ? ": not a picture this program reads" : ": no such file");
        return 1;
    }
    std::FILE* file = std::fopen(output.c_str(), "wb");
    bool written = false;
    if (file) {
        // A JPEG picture's bitmap is written where it lies; others are converted first.
        auto* jpeg = dynamic_cast<TJPEGImage*>(picture.graphic());
        written =
            jpeg ? jpeg->bitmap().writeBmpFile(file) : PictureBitmap(picture).writeBmpFile(file);
        written = (std::fclose(file) == 0) && written;
    }
    if (!written) {
        std::fprintf(err, "fenwa-cli: cannot write '%s'\n", output.c_str());
        return 1;
    }
    (void)out;
    return 0;
}

// "RULE" or "RULE,RULE".
std::optional<actions::KeepRules> keepRulesNamed(const std::string& text) {
    actions::KeepRules rules;
    const size_t comma = text.find(',');
    if (!actions::keepRuleNamed(text.substr(0, comma), rules.rule, rules.directory))
        return std::nullopt;
    if (comma != std::string::npos) {
        actions::KeepRule second{};
        if (!actions::keepRuleNamed(text.substr(comma + 1), second, rules.directory))
            return std::nullopt;
        rules.thenBy = second;
    }
    return rules;
}

// Directories spelled as the rows spell them: beneath the listed directory that holds
// each, whatever path led to it (relative, through a link). A listed directory inside
// one of them stands for itself; one outside all of them gives nothing.
std::vector<std::string> asListed(const std::vector<std::string>& protect,
                                  const std::vector<std::string>& listed) {
    const auto real = [](const std::string& path) -> std::string {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved)
            return {};
        std::string text(resolved);
        std::free(resolved);
        return text;
    };
    std::vector<std::string> spelled;
    for (const std::string& p : protect) {
        const std::string realP = real(p);
        for (const std::string& l : listed) {
            const std::string realL = real(l);
            if (realP.empty() || realL.empty())
                continue;
            if (actions::isWithinDirectory(realP, realL)) {
                std::string rest = realP.substr(realL.size());
                if (!rest.empty() && rest.front() == '/')
                    rest.erase(0, 1);
                spelled.push_back(
                    rest.empty() ? l : platform::JoinPath(platform::nativePathStyle(), l, rest));
            } else if (actions::isWithinDirectory(realL, realP))
                spelled.push_back(l);
        }
    }
    return spelled;
}

// What --act asks for.
struct ActRequest {
    actions::ActKind kind = actions::ActKind::Delete;
    bool toTrash = false;
    std::string moveTo;
    const char* name = "";
};

std::optional<ActRequest> actNamed(const std::string& text) {
    ActRequest act;
    if (text == "trash") {
        act.toTrash = true;
        act.name = "trash";
        return act;
    }
    if (text.rfind("move=", 0) == 0 && text.size() > 5) {
        act.kind = actions::ActKind::Move;
        act.moveTo = text.substr(5);
        act.name = "move";
        return act;
    }
    if (text == "move" || !actions::actKindNamed(text, act.kind))
        return std::nullopt;
    act.name = actions::actKindName(act.kind);
    return act;
}

// The command line asks nothing: the rule already keeps one copy a group, and what would
// call for a question is left out before the plan is carried out.
struct NoQuestions : actions::DeleteQuestions {
    std::FILE* err;
    explicit NoQuestions(std::FILE* e) : err(e) {}
    bool askYesNo(const std::string&) override { return false; }
    void reportError(const std::string& text) override {
        std::fprintf(err, "fenwa-cli: %s\n", text.c_str());
    }
    void reportChanged(const std::vector<std::string>&) override {}
};

std::unique_ptr<actions::DeleteSession> planned(const FileRecordStore& rows,
                                                actions::DeleteRequest request) {
    auto session = std::make_unique<actions::DeleteSession>(
        std::make_shared<const FileRecordStore>(rows), std::move(request), actions::probeDisk,
        actions::hashFileNow);
    session->planHere();
    return session;
}

int actOn(const FileRecordStore& rows, const std::vector<size_t>& selected, size_t undecided,
          actions::DeleteRequest request, const ActRequest& act, bool carryOut, std::FILE* out,
          std::FILE* err) {
    const auto print = [out](const std::string& line) {
        std::fprintf(out, "%s\n", escapeField(line).c_str());
    };
    request.rows = selected;
    std::unique_ptr<actions::DeleteSession> session = planned(rows, request);
    const auto planOf = [&session]() -> const actions::DeletePlan& {
        return std::as_const(*session).plan();
    };
    // A protected file, or every copy of a group, would call for a question: left out.
    size_t leftOut = 0;
    if (!planOf().protectedRows.empty() || !planOf().lastCopies.empty()) {
        std::vector<bool> leave(rows.size(), false);
        for (size_t row : planOf().protectedRows)
            leave[row] = true;
        for (size_t first : planOf().lastCopies)
            for (size_t row : selected)
                if (rows.sameGroup(row, first))
                    leave[row] = true;
        request.rows.clear();
        for (size_t row : selected)
            if (leave[row]) {
                print("skip " + rows.fullPath(row) + "  (" +
                      say("protected, or every copy of its group", "受保護, 或是同組的每一個副本") +
                      ")");
                ++leftOut;
            } else {
                request.rows.push_back(row);
            }
        session = planned(rows, request);
    }
    const actions::DeletePlan& plan = planOf();
    if (!planOf().cancelled && plan.remove.empty() && plan.kept.empty() && plan.gone.empty() &&
        !request.rows.empty()) {
        std::fprintf(err, "fenwa-cli: the files could not be checked\n");
        return 3;
    }
    size_t skipped = leftOut + plan.gone.size(), failed = 0, same = 0, done = 0;
    for (const actions::DeletePlan::Kept& k : plan.kept) {
        print("skip " + rows.fullPath(k.row) + "  (" + actions::keepReasonText(k.reason) + ")");
        (k.reason == actions::KeepReason::AlreadySameFile ? same : skipped)++;
    }
    for (size_t row : plan.gone)
        print("skip " + rows.fullPath(row) + "  (" +
              actions::rowCheckText(actions::RowCheck::Gone) + ")");
    int64_t freed = 0;
    if (!carryOut) {
        for (size_t row : plan.remove)
            print(actions::describeAct(rows, plan, request, row, act.toTrash));
        freed = actions::bytesFreed(rows, plan);
    } else {
        NoQuestions questions(err);
        const int flags =
            platform::FOF_NOCONFIRMATION | (act.toTrash ? platform::FOF_ALLOWUNDO : 0);
        const actions::DeleteResult result = session->carryOut(flags, questions, 0);
        std::vector<bool> removed(rows.size(), false);
        for (size_t row : result.removed)
            removed[row] = true;
        actions::DeletePlan done_;
        if (request.act == actions::ActKind::Delete) {
            for (size_t row : plan.remove) {
                if (removed[row]) {
                    print(actions::describeAct(rows, plan, request, row, act.toTrash, ""));
                    done_.remove.push_back(row);
                } else {
                    print("failed " + rows.fullPath(row));
                    ++failed;
                }
            }
        } else {
            for (const actions::RowActed& a : result.acted) {
                const std::string why = a.message.empty() ? "" : "  (" + a.message + ")";
                switch (a.status) {
                case actions::ActStatus::Done:
                    print(actions::describeAct(rows, plan, request, a.row, false, ""));
                    done_.remove.push_back(a.row);
                    break;
                case actions::ActStatus::Changed:
                    print("skip " + rows.fullPath(a.row) + "  (" +
                          say("it or its kept copy changed", "檔案或留下的副本已改變") + ")");
                    ++skipped;
                    break;
                case actions::ActStatus::TargetExists:
                    print("skip " + rows.fullPath(a.row) + "  (" +
                          actions::keepReasonText(actions::KeepReason::TargetExists) + ")");
                    ++skipped;
                    break;
                case actions::ActStatus::PutBack:
                    print("put back " + rows.fullPath(a.row) + why);
                    ++skipped;
                    break;
                case actions::ActStatus::Failed:
                case actions::ActStatus::NotPutBack:
                    print("failed " + rows.fullPath(a.row) + why);
                    ++failed;
                    break;
                }
            }
        }
        done = done_.remove.size();
        for (size_t row : plan.sharedData)
            if (std::binary_search(done_.remove.begin(), done_.remove.end(), row))
                done_.sharedData.push_back(row);
        freed = actions::bytesFreed(rows, done_);
        if (result.journal) {
            actions::UndoJournal journal(actions::UndoJournal::defaultPath());
            journal.load();
            if (!journal.push(*result.journal)) {
                std::fprintf(err, "fenwa-cli: the undo journal could not be written: %s\n%s\n",
                             actions::UndoJournal::defaultPath().toLocal8Bit().constData(),
                             journal.problem().c_str());
                ++failed;
            } else if (!journal.problem().empty()) {
                std::fprintf(err, "fenwa-cli: %s\n", journal.problem().c_str());
            }
        }
    }
    std::fprintf(out,
                 "fenwa: act=%s planned=%zu done=%zu skipped=%zu failed=%zu same=%zu "
                 "undecided=%zu freed=%lld dry-run=%s\n",
                 act.name, plan.remove.size(), done, skipped, failed, same, undecided,
                 static_cast<long long>(freed), carryOut ? "no" : "yes");
    return carryOut && (failed || skipped) ? 3 : 0;
}

const char* undoKindName(const actions::UndoAction& action) {
    switch (action.kind) {
    case actions::UndoKind::Trash:
        return "trash";
    case actions::UndoKind::Rename:
        return "rename";
    case actions::UndoKind::Move:
        return "move";
    case actions::UndoKind::Replace:
        break;
    }
    return action.acted.empty() ? "replace" : actions::actKindName(action.acted.front().act);
}

int undo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    bool carryOut = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--yes") {
            std::fprintf(err, "fenwa-cli: unexpected argument '%s'\n%s", args[i].c_str(), Usage);
            return 1;
        }
        carryOut = true;
    }
    const auto print = [out](const std::string& line) {
        std::fprintf(out, "%s\n", escapeField(line).c_str());
    };
    actions::UndoJournal journal(actions::UndoJournal::defaultPath());
    if (!journal.load())
        std::fprintf(err, "fenwa-cli: the undo journal could not be read\n");
    const actions::UndoAction* last = journal.last();
    if (!last) {
        std::fprintf(out, "fenwa: undo=none files=0 done=0 failed=0 dry-run=%s\n",
                     carryOut ? "no" : "yes");
        return 0;
    }
    const char* kind = undoKindName(*last);
    const platform::PathStyle style = platform::nativePathStyle();
    // What Undo would do, one line a file.
    std::vector<std::string> lines;
    switch (last->kind) {
    case actions::UndoKind::Trash:
        for (const platform::TrashedFile& f : last->trashed)
            lines.push_back("restore " + f.originalPath + " from the trash");
        break;
    case actions::UndoKind::Rename:
        lines.push_back("rename " + platform::JoinPath(style, last->directory, last->newName) +
                        " -> " + last->oldName);
        break;
    case actions::UndoKind::Move:
        for (const actions::ActedFile& f : last->acted)
            lines.push_back("move " + f.destination + " -> " + f.path);
        break;
    case actions::UndoKind::Replace:
        for (const actions::ActedFile& f : last->acted)
            lines.push_back("restore " + f.path + " from " + f.keeper);
        break;
    }
    if (!carryOut) {
        for (const std::string& line : lines)
            print("would " + line);
        std::fprintf(out, "fenwa: undo=%s files=%zu done=0 failed=0 dry-run=yes\n", kind,
                     lines.size());
        return 0;
    }
    bool saved = true;
    const uint64_t shown = last->id;
    std::optional<actions::UndoAction> action = journal.takeLast(&saved);
    // The journal is shared: another process may have added or undone an action since it
    // was shown. Nothing is undone then, and an action taken is put back.
    if (!action || action->id != shown) {
        if (action && !journal.push(std::move(*action)))
            std::fprintf(err, "fenwa-cli: %s\n", journal.problem().c_str());
        std::fprintf(err, "fenwa-cli: the undo journal changed meanwhile; nothing was undone\n");
        return 3;
    }
    const actions::UndoOutcome outcome = actions::reverseOnDisk(*action);
    size_t done = 0, failed = 0;
    const auto report = [&](size_t i, bool ok, const std::string& why) {
        if (i >= lines.size())
            return;
        print(ok ? lines[i] : "failed " + lines[i] + "  (" + why + ")");
        (ok ? done : failed)++;
    };
    switch (action->kind) {
    case actions::UndoKind::Trash:
        for (size_t i = 0; i < outcome.restored.size(); ++i)
            report(i, outcome.restored[i].status == platform::RestoreStatus::Restored,
                   outcome.restored[i].message);
        break;
    case actions::UndoKind::Rename:
        report(0, outcome.renamedBack.renamed && !outcome.notTheRenamedFile,
               outcome.notTheRenamedFile
                   ? say("another file has this name now", "這個名稱現在是另一個檔案")
                   : outcome.renamedBack.message);
        break;
    case actions::UndoKind::Move:
    case actions::UndoKind::Replace:
        for (size_t i = 0; i < outcome.acts.size(); ++i)
            report(i, outcome.acts[i].done, outcome.acts[i].why);
        break;
    }
    if (!saved) {
        std::fprintf(err, "fenwa-cli: the undo journal could not be written\n");
        ++failed;
    }
    std::fprintf(out, "fenwa: undo=%s files=%zu done=%zu failed=%zu dry-run=no\n", kind,
                 lines.size(), done, failed);
    return failed ? 3 : 0;
}

} // namespace

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(Usage, args.empty() ? err : out);
        return args.empty() ? 1 : 0;
    }
    if (args[0] == "--version") {
        std::fputs(VersionLine, out);
        return 0;
    }
    // Asking a command for help is not a mistake: the usage, on the output, and nothing
    // else (options after "--" are names).
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i)
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(Usage, out);
            return 0;
        }
    if (args[0] == "decode")
        return decode(args, out, err);
    if (args[0] == "undo")
        return undo(args, out, err);
    const bool duplicates = args[0] == "find-duplicates";
    if (args[0] != "find-all" && !duplicates) {
        std::fprintf(err, "fenwa-cli: unknown command '%s'\n%s", args[0].c_str(), Usage);
        return 1;
    }
    bool includeSubdirectories = true;
    Criteria criteria;
    similar::SimilarLevel level = similar::SimilarLevel::Normal;
    ExportFormat format = ExportFormat::Tsv;
    std::vector<std::string> directories;
    std::optional<actions::KeepRules> keep;
    std::vector<std::string> protect;
    bool markTsv = false;
    bool listLeftOut = false;
    std::optional<ActRequest> act;
    bool yes = false;
    SearchFilter filter;
    std::string minSize, maxSize;
    bool optionsEnded = false;
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
            format = *named;
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
        } else if (!optionsEnded && duplicates && a == "--content") {
            criteria.content = true;
        } else if (!optionsEnded && duplicates && a == "--keep" && i + 1 < args.size()) {
            keep = keepRulesNamed(args[++i]);
            if (!keep) {
                std::fprintf(err,
                             "fenwa-cli: --keep takes one or two of newest, oldest, largest, "
                             "pixels, taken, shortest-path, under=DIR, first, not '%s'\n",
                             args[i].c_str());
                return 1;
            }
        } else if (!optionsEnded && duplicates && a == "--protect" && i + 1 < args.size()) {
            if (!platform::isExistingDirectory(args[++i])) {
                std::fprintf(err, "%s\n", MsgNotADirectory);
                return 2;
            }
            protect.push_back(args[i]);
        } else if (!optionsEnded && duplicates && a == "--act" && i + 1 < args.size()) {
            act = actNamed(args[++i]);
            if (!act) {
                std::fprintf(err,
                             "fenwa-cli: --act takes trash, delete, move=DIR, hardlink, symlink "
                             "or reflink, not '%s'\n",
                             args[i].c_str());
                return 1;
            }
            if (act->kind == actions::ActKind::Move &&
                !platform::isExistingDirectory(act->moveTo)) {
                std::fprintf(err, "%s\n", MsgNotADirectory);
                return 2;
            }
        } else if (!optionsEnded && duplicates && a == "--yes") {
            yes = true;
        } else if (!optionsEnded && duplicates && a == "--mark-selected") {
            markTsv = true;
        } else if (!optionsEnded && duplicates && a == "--similar") {
            criteria.similar = true;
        } else if (!optionsEnded && duplicates && a == "--list-left-out") {
            listLeftOut = true;
        } else if (!optionsEnded && duplicates && a == "--level" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            if (v != "1" && v != "2" && v != "3") {
                std::fprintf(err, "fenwa-cli: --level takes 1, 2 or 3, not '%s'\n", v.c_str());
                return 1;
            }
            level = similar::SimilarLevel(v[0] - '1');
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            std::fprintf(err, "fenwa-cli: unknown option '%s'\n%s", a.c_str(), Usage);
            return 1;
        } else {
            if (const std::optional<int> refused = addDirectoryArgument(a, directories, err))
                return *refused;
        }
    }
    if (const std::optional<int> refused =
            checkSearchArguments(directories, minSize, maxSize, duplicates, criteria, filter, err))
        return *refused;
    // An act needs the rule that decides each group: it never acts on an undecided one.
    if ((act && !keep) || (yes && !act)) {
        std::fprintf(err, "fenwa-cli: %s\n%s",
                     act ? "--act needs --keep RULE" : "--yes goes with --act", Usage);
        return 1;
    }
    platform::initialiseProcess();
    SearchRequest request;
    request.directories = directories;
    request.includeSubdirectories = includeSubdirectories;
    request.duplicatesOnly = duplicates;
    request.criteria = criteria;
    request.similarLevel = int(level);
    request.listLeftOut = listLeftOut;
    request.filter = filter;
    request.cachePath = similar::SearchCache::defaultPath();
    std::optional<QGuiApplication> app;
    if (criteria.similar) {
        // Icons, bitmaps and metafiles load and play through the GUI library.
        static int argc = 1;
        static char name[] = "fenwa-cli";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        app.emplace(argc, argv);
    }
    similar::EquipSearch(request);
    // The window's search session, waited for here.
    SearchSession session;
    std::shared_ptr<const SearchResult> result;
    QString failure;
    QObject::connect(&session, &SearchSession::finished,
                     [&result](std::shared_ptr<const SearchResult> r) { result = std::move(r); });
    QObject::connect(&session, &SearchSession::failed,
                     [&failure](const QString& message) { failure = message; });
    session.start(std::move(request));
    session.wait();
    if (!result) {
        std::fprintf(err, "fenwa-cli: the search failed: %s\n", failure.toLocal8Bit().constData());
        return 1;
    }
    if (!result->cacheProblem.empty())
        std::fprintf(err, "fenwa-cli: the cache was not saved: %s\n", result->cacheProblem.c_str());
    const SearchResult& found = *result;
    for (const std::string& folder : found.filtered.notFound)
        std::fprintf(err, "fenwa-cli: --skip %s: no such folder, nothing skipped\n",
                     escapeField(folder).c_str());
    if (found.filtered.on)
        std::fprintf(err, "fenwa-cli: left out by the filters: %zu files, %zu folders\n",
                     found.filtered.files, found.filtered.folders);
    if (criteria.similar) {
        const SimilarLeftOut& left = found.similarLeftOut;
        std::fprintf(err,
                     "fenwa-cli: left out of similar pictures: %zu not pictures, %zu "
                     "that could not be decoded, %zu nearly blank\n",
                     left.notPictures, left.undecodable, left.nearlyBlank);
        const char* const reasons[] = {"not a picture", "undecodable", "nearly blank"};
        for (int r = 0; r < 3; ++r)
            if (!left.kinds[r].empty())
                std::fprintf(err, "fenwa-cli:   %s: %s\n", reasons[r],
                             DescribeLeftOutKinds(left.kinds[r], 8).c_str());
        for (const auto& [path, reason] : left.files)
            std::fprintf(err, "left out\t%s\t%s\n", reasons[int(reason)],
                         escapeField(path).c_str());
    }
    if (!keep) {
        writeRows(found.rows, format, out, nullptr, similar::ReadPictureFacts);
        return 0;
    }
    if (!keep->directory.empty()) {
        const std::vector<std::string> spelled = asListed({keep->directory}, directories);
        if (!spelled.empty())
            keep->directory = spelled.front();
    }
    const actions::KeepSelection chosen = actions::SelectByRule(
        found.rows, *keep, actions::protectionOf(protect),
        [](const std::string& path) {
            return PictureHeaderPixels(QByteArray::fromStdString(path));
        },
        [](const std::string& path) {
            return PictureHeaderFacts(QByteArray::fromStdString(path)).captureTime.toStdString();
        });
    if (act) {
        actions::DeleteRequest asked{{}, true, actions::protectionOf(protect)};
        asked.act = act->kind;
        asked.moveTo = act->moveTo;
        asked.listedDirectories = directories;
        if (criteria.similar) {
            // Copies are checked again at the level the list was searched with.
            similar::PrepareFingerprinting();
            asked.fingerprint = [](const std::string& path) {
                similar::PictureReading read = similar::ReadPictureFile(path, true);
                return read.fingerprinted() ? std::optional(similar::PictureLikeness{
                                                  read.fingerprint, std::move(read.print)})
                                            : std::nullopt;
            };
            asked.similarLevel = level;
        }
        return actOn(found.rows, chosen.selected, chosen.undecided, std::move(asked), *act, yes,
                     out, err);
    }
    SelectionColumn column;
    column.selected.assign(found.rows.size(), false);
    for (size_t row : chosen.selected)
        column.selected[row] = true;
    column.inTsv = markTsv;
    writeRows(found.rows, format, out, &column, similar::ReadPictureFacts);
    if (chosen.undecided)
        std::fprintf(err, "fenwa-cli: %zu groups left for you to decide\n", chosen.undecided);
    return 0;
}

} // namespace fenwa::cli
