#include "cliapp.h"

#include <QFile>
#include <QGuiApplication>
#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>

#include "GifRegistration.h"
#include "JPEGImage.h"
#include "PictureLoader.h"
#include "exportlist.h"
#include "fingerprint.h"
#include "fingerprintcache.h"
#include "picturefingerprint.h"

#include "directorylist.h"
#include "filerecord.h"
#include "filesystem.h"
#include "pathrules.h"
#include "search.h"

namespace fenwa::cli {

namespace {

const char* const Usage =
    "usage: fenwa-cli find-all [--no-subdirs] [--format tsv|csv|json] DIR...\n"
    "       fenwa-cli find-duplicates [--name] [--size] [--time] [--content]\n"
    "                                 [--similar [--level 1|2|3]]\n"
    "                                 [--no-subdirs] [--format tsv|csv|json] DIR...\n"
    "       fenwa-cli decode FILE [--scale 1|2|4|8] [--grayscale] [--fast] [--8bit] -o OUT.bmp\n"
    "\n"
    "find-all lists every file of the directories; find-duplicates only the files that\n"
    "have a partner with the same name (ASCII case ignored), size and modification minute,\n"
    "as ticked, each group of duplicates a run of rows; --content also requires identical\n"
    "bytes (alone, it finds identical files whatever their names and times; files that\n"
    "cannot be read are left out). --similar groups pictures that look alike: resized,\n"
    "recompressed, turned or mirrored copies; --level 1 is strict, 2 (the default) normal,\n"
    "3 loose. Files that are no pictures or cannot be decoded are left out and counted on\n"
    "the error output. The default format prints one line\n"
    "per file: name, directory, size, type and time separated by tabs; CSV and JSON add\n"
    "the group number. Backslashes, tabs, newlines, other control bytes and bytes that\n"
    "are not UTF-8 are written as \\\\, \\t, \\n, \\r and \\xHH.\n"
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
        } else if (!optionsEnded && duplicates && a == "--name") {
            criteria.name = true;
        } else if (!optionsEnded && duplicates && a == "--size") {
            criteria.size = true;
        } else if (!optionsEnded && duplicates && a == "--time") {
            criteria.time = true;
        } else if (!optionsEnded && duplicates && a == "--content") {
            criteria.content = true;
        } else if (!optionsEnded && duplicates && a == "--similar") {
            criteria.similar = true;
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
                                    platform::nativePathStyle(), platform::directoryAncestry);
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
    SearchRequest request;
    request.directories = directories;
    request.includeSubdirectories = includeSubdirectories;
    request.duplicatesOnly = duplicates;
    request.criteria = criteria;
    std::optional<QGuiApplication> app;
    if (criteria.similar) {
        // Icons, bitmaps and metafiles load and play through the GUI library.
        static int argc = 1;
        static char name[] = "fenwa-cli";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        app.emplace(argc, argv);
        similar::PrepareFingerprinting();
        auto cache =
            std::make_shared<similar::FingerprintCache>(similar::FingerprintCache::defaultPath());
        request.fingerprint = [cache](const FileRecordStore& rows, size_t row) {
            return similar::CachedFingerprint(cache.get(), rows, row);
        };
        request.similarThreshold = similar::LevelThreshold(level);
    }
    const SearchOutcome found = RunSearch(request);
    writeRows(found.rows, duplicates ? criteria : Criteria{}, format, out);
    if (criteria.similar)
        std::fprintf(err,
                     "fenwa-cli: left out of similar pictures: %zu not pictures, %zu "
                     "that could not be decoded\n",
                     found.similarLeftOut.notPictures, found.similarLeftOut.undecodable);
    return 0;
}

} // namespace fenwa::cli
