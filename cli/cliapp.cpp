#include "cliapp.h"

#include <QFile>
#include <QGuiApplication>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "GifRegistration.h"
#include "JPEGImage.h"
#include "PictureLoader.h"
#include "exportlist.h"
#include "fingerprint.h"
#include "keeprules.h"

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

const char* const Usage =
    "usage: fenwa-cli find-all [--no-subdirs] [FILTER]... [--format tsv|csv|json] DIR...\n"
    "       fenwa-cli find-duplicates [--name] [--size] [--time] [--content]\n"
    "                                 [--similar [--level 1|2|3] [--list-left-out]]\n"
    "                                 [--no-subdirs] [FILTER]... [--format tsv|csv|json]\n"
    "                                 [--keep RULE[,RULE]] [--protect DIR]... [--mark-selected]\n"
    "                                 DIR...\n"
    "       fenwa-cli decode FILE [--scale 1|2|4|8] [--grayscale] [--fast] [--8bit] -o OUT.bmp\n"
    "\n"
    "find-all lists every file of the directories; find-duplicates only the files that\n"
    "have a partner with the same name (ASCII case ignored), size and modification minute,\n"
    "as ticked, each group of duplicates a run of rows; --content also requires identical\n"
    "bytes (alone, it finds identical files whatever their names and times; files that\n"
    "cannot be read are left out). --similar groups pictures that are copies of each\n"
    "other: resized, recompressed, turned, mirrored or slightly cropped copies, each pair\n"
    "compared picture against picture, so pages or screenshots that only look alike stay\n"
    "apart; --level 1 is strict, 2 (the default) normal, 3 loose. Files that are no\n"
    "pictures, cannot be decoded or are nearly blank are left out and counted apart on\n"
    "the error output, with their commonest extensions; --list-left-out also writes\n"
    "each of them there, one line each: \"left out\", the reason (not a picture,\n"
    "undecodable, nearly blank) and the path, separated by tabs and escaped as below.\n"
    "The default format prints one line\n"
    "per file: name, directory, size, type and time separated by tabs; CSV and JSON add\n"
    "the group number and, last, a picture's width and height as shown and when it was\n"
    "taken (YYYY-MM-DD HH:MM:SS), from its header, and with --similar its likeness to\n"
    "its group's first file in percent (the first is 100); empty in CSV and null in\n"
    "JSON where there is none. Backslashes, tabs, newlines, other control bytes and\n"
    "bytes that are not UTF-8 are written as \\\\, \\t, \\n, \\r and \\xHH.\n"
    "--keep marks, in every group, every file but the one the rule keeps, as a Delete\n"
    "would take them (nothing is deleted): a `selected` field in CSV (yes/no) and JSON\n"
    "(true/false), and with --mark-selected a first TSV column that is * for a selected\n"
    "file. RULE is newest, oldest, largest, pixels, taken (the earliest capture time in the\n"
    "pictures' headers), shortest-path, under=DIR or first; a second RULE breaks ties (and\n"
    "decides a group where no file says when it was taken), and a tie left goes to the\n"
    "group's first file. Files under a --protect DIR (any directory, listed or not) are\n"
    "never marked, by whatever path they were found (a link or bind mount of DIR too): a\n"
    "group holding one keeps them alone and marks every other file, the rule keeping none\n"
    "besides; a group of them only is left as it is. Hard links of a kept file are never\n"
    "marked; groups the rule cannot decide are left unmarked and counted on standard error.\n"
    "FILTER leaves files out of the search: --min-size N and --max-size N (bytes, or a\n"
    "number with k, M or G after it: 1k is 1024 bytes), --skip DIR (its whole tree, by\n"
    "whatever path it is reached; may be given again), --skip-empty (files of 0 bytes)\n"
    "and --pictures-only (the names listed with the picture icon). How many files they\n"
    "left out goes to the error output.\n"
    "decode loads FILE as the image view control would with those JPEG settings and\n"
    "writes the bitmap it holds as a BMP file.\n";

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

} // namespace

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(Usage, args.empty() ? err : out);
        return args.empty() ? 1 : 0;
    }
    if (args[0] == "--version") {
        std::fputs("fenwa-cli 0.5\n", out); // the project's version, as the about box says
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
            // The same gate as the window's directory list.
            AddDirectoryCheck check =
                checkDirectoryToAdd(a, directories, platform::isExistingDirectory,
                                    platform::nativePathStyle(), platform::DirectoryLineage{});
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
    if (const std::string problem = ReadFilterSizes(minSize, maxSize, filter); !problem.empty()) {
        std::fprintf(err, "fenwa-cli: %s\n", problem.c_str());
        return 1;
    }
    if (duplicates && !criteria.any()) {
        std::fputs("您必須至少打一個勾\n", err);
        return 2;
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
