// File names that a POSIX file system allows and naive code mishandles (bytes that are
// not UTF-8, line breaks, tabs, a leading dash, quotes, blanks at the ends, 255 bytes),
// taken through the main window: listed, grouped, previewed, opened, renamed, and
// deleted to the trash and for good. Every check is on the exact bytes on the disk.

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "TAdvImage.h"
#include "recordedmessages.h"
#include "shellfiles.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

struct ScriptedPrompts : platform::ShellPrompts {
    bool answer = false;
    int questions = 0;
    std::vector<std::string> errors;
    bool askYesNo(const std::string&) override {
        ++questions;
        return answer;
    }
    void reportError(const std::string& text) override { errors.push_back(text); }
};

// Each name exists in d1 and d2 with the same contents, so a search by name and size
// pairs them.
const std::vector<std::string>& hostileNames() {
    static const std::vector<std::string> names{
        "\xff\xfe not utf8.bmp",
        "new\nline.bmp",
        "tab\there.bmp",
        "-rf leading dash.bmp",
        "  blanks at both ends  .bmp",
        "quote\" and 'single'.bmp",
        std::string(251, 'n') + ".bmp", // 255 bytes, the longest name
        "\xe9t\xe9 latin1\r.txt",       // not an image: opened with its program
    };
    return names;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QByteArray bmpBytes() {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

} // namespace

class HostileNamesTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    ScriptedPrompts prompts;
    std::vector<std::string> opened;
    std::unique_ptr<QTemporaryDir> dataHome;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;
    std::string root; // the searched directory, inside dataHome so the trash is on its disk
    std::set<std::string> created;

    void write(const std::string& path, const QByteArray& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
        created.insert(path);
    }

    int rowOf(const std::string& path) const {
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            if (w->rowPath(r).toStdString() == path)
                return r;
        return -1;
    }

    void focusRow(int row) { clickRow(*w, row); }
    TAdvImage* preview() const { return part<TAdvImage>(*w, "Image"); }

    // Types a new name into the list's inline editor, as F2 and Enter would.
    void renameRow(int row, const QString& text) {
        QLineEdit* editor = startEditing(*w, row);
        QVERIFY(editor);
        if (!text.isNull())
            editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!w->isEditingName());
    }

    std::string trashed(const std::string& name) const {
        return QFile::encodeName(dataHome->path()).toStdString() + "/Trash/files/" + name;
    }

private slots:
    void initTestCase() {
        // The desktop's trash lives under XDG_DATA_HOME, read once at the first trash call.
        dataHome = std::make_unique<QTemporaryDir>();
        QVERIFY(dataHome->isValid());
        ::setenv("XDG_DATA_HOME", QFile::encodeName(dataHome->path()).constData(), 1);
    }

    void cleanupTestCase() {
        std::filesystem::remove_all(QFile::encodeName(dataHome->path()).toStdString());
    }

    void init() {
        messages = {};
        prompts = {};
        opened.clear();
        created.clear();
        root = QFile::encodeName(dataHome->path()).toStdString() + "/search";
        // QDir cannot remove names that are not UTF-8; the standard library works on bytes.
        std::filesystem::remove_all(root);
        for (const char* d : {"", "/d1", "/d2", "/d3"})
            QVERIFY(::mkdir((root + d).c_str(), 0755) == 0);
        const QByteArray image = bmpBytes();
        for (const std::string& name : hostileNames()) {
            write(root + "/d1/" + name, image);
            write(root + "/d2/" + name, image);
        }
        // Decodes to the same text as the first name but is another name: no partner.
        write(root + "/d3/\xfe\xff not utf8.bmp", image);

        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.shellOpen = [this](const std::string& target, const std::string&) {
            opened.push_back(target);
        };
        QVERIFY(openMainWindow(progress, viewer, w, s, true));
        addDirectory(*w, QFile::decodeName(QByteArray::fromStdString(root)));
        tick(*w, "ckName");
        findDuplicates(*w);
    }

    void cleanup() {
        viewer->hide();
        w.reset();
        viewer.reset();
        progress.reset();
    }

    void listedAndGroupedByTheirExactBytes() {
        const int rows = model(*w)->rowCount();
        QCOMPARE(rows, int(2 * hostileNames().size()));
        std::set<std::string> listed;
        for (int r = 0; r < rows; ++r)
            listed.insert(w->rowPath(r).toStdString());
        std::set<std::string> expected = created;
        expected.erase(root + "/d3/\xfe\xff not utf8.bmp");
        QVERIFY(listed == expected);
        // Groups are runs of adjacent rows: each run is one name in two directories.
        const FileRecordStore& store = model(*w)->store();
        for (int r = 0; r < rows; r += 2) {
            QCOMPARE(store.name(size_t(r)), store.name(size_t(r + 1)));
            QVERIFY(store.directory(size_t(r)) != store.directory(size_t(r + 1)));
        }
        QVERIFY(messages.errors.isEmpty());
    }

    void previewedAndOpenedByTheirExactBytes() {
        for (const std::string& name : hostileNames()) {
            const std::string path = root + "/d2/" + name;
            const int row = rowOf(path);
            QVERIFY(row >= 0);
            focusRow(row);
            QTest::keyClick(fileList(*w), Qt::Key_Return);
            if (name.ends_with(".txt")) {
                QCOMPARE(opened.size(), size_t(1));
                QCOMPARE(opened.back(), path);
            } else {
                QCOMPARE(preview()->NativeFileName().toStdString(), path);
                QCOMPARE(preview()->ImageWidth(), 8);
            }
        }
        QVERIFY(messages.errors.isEmpty());
    }

    void namesThatDifferOnlyInCaseArePreviewedApart() {
        // One group by name (ASCII case ignored), but two files with two pictures.
        QImage wide(12, 8, QImage::Format_RGB32);
        wide.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        wide.save(&buffer, "BMP");
        write(root + "/d3/case.bmp", bmpBytes());
        write(root + "/d3/CASE.bmp", bytes);
        tick(*w, "ckSize", false);
        findDuplicates(*w);
        for (const char* name : {"case.bmp", "CASE.bmp", "case.bmp"}) {
            focusRow(rowOf(root + "/d3/" + name));
            QTest::keyClick(fileList(*w), Qt::Key_Return);
            QCOMPARE(preview()->NativeFileName().toStdString(), root + "/d3/" + name);
            QCOMPARE(preview()->ImageWidth(), name[0] == 'C' ? 12 : 8);
        }
    }

    void renamedThroughTheInlineEditor() {
        const QByteArray image = bmpBytes();
        // Each hostile name (but the one that is not UTF-8) becomes another hostile name.
        const std::string from = root + "/d1/new\nline.bmp";
        renameRow(rowOf(from), QStringLiteral("-new name\twith tab 'x' .bmp"));
        QVERIFY(!exists(from));
        const std::string to = root + "/d1/-new name\twith tab 'x' .bmp";
        QCOMPARE(readAll(to), image.toStdString());
        QVERIFY(rowOf(to) >= 0);

        // A name that is not UTF-8 shows with replacement characters; leaving the text as
        // shown renames nothing, and a new text renames the file to exactly that text.
        const std::string odd = root + "/d1/\xff\xfe not utf8.bmp";
        renameRow(rowOf(odd), QString());
        QVERIFY(exists(odd));
        QVERIFY(rowOf(odd) >= 0);
        renameRow(rowOf(odd), QStringLiteral("mended.bmp"));
        QVERIFY(!exists(odd));
        QCOMPARE(readAll(root + "/d1/mended.bmp"), image.toStdString());

        // One byte over the longest name: the system refuses, the file stays.
        const std::string longest = root + "/d1/" + std::string(251, 'n') + ".bmp";
        renameRow(rowOf(longest), QString(252, QLatin1Char('n')) + ".bmp");
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(exists(longest));
        QVERIFY(rowOf(longest) >= 0);

        // Another existing file is never replaced, whatever its name.
        const std::string tab = root + "/d1/tab\there.bmp";
        const std::string quote = root + "/d1/quote\" and 'single'.bmp";
        std::ofstream(quote, std::ios::binary) << "other contents";
        renameRow(rowOf(tab), QStringLiteral("  blanks at both ends  .bmp"));
        QCOMPARE(messages.errors.size(), 2);
        QVERIFY(exists(tab));
        QCOMPARE(readAll(root + "/d1/  blanks at both ends  .bmp"), image.toStdString());
        QCOMPARE(readAll(quote), std::string("other contents"));
    }

    void deletedForGoodAndToTheTrash() {
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        const std::string quote = root + "/d1/quote\" and 'single'.bmp";
        focusRow(rowOf(quote));
        pressInList(*w, Qt::Key_Delete);
        QVERIFY(!exists(quote));
        QVERIFY(exists(root + "/d2/quote\" and 'single'.bmp"));
        QCOMPARE(rowOf(quote), -1);

        tick(*w, "ckNoRecycle", false);
        for (const std::string& name :
             {std::string("\xff\xfe not utf8.bmp"), std::string("new\nline.bmp"),
              std::string("-rf leading dash.bmp")}) {
            const std::string path = root + "/d2/" + name;
            focusRow(rowOf(path));
            pressInList(*w, Qt::Key_Delete);
            QVERIFY(!exists(path));
            QCOMPARE(rowOf(path), -1);
            QVERIFY(exists(root + "/d1/" + name));
            QVERIFY(exists(trashed(name)));
        }
        QCOMPARE(prompts.questions, 0);

        // The trash cannot take a 255-byte name (its record would be longer than a name
        // may be): the user is asked before it goes for good, and "no" keeps it.
        const std::string longest = root + "/d2/" + std::string(251, 'n') + ".bmp";
        focusRow(rowOf(longest));
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(prompts.questions, 1);
        QVERIFY(exists(longest));
        QVERIFY(rowOf(longest) >= 0);
        prompts.answer = true;
        focusRow(rowOf(longest));
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(prompts.questions, 2);
        QVERIFY(!exists(longest));
        QCOMPARE(rowOf(longest), -1);
        QVERIFY(exists(root + "/d1/" + std::string(251, 'n') + ".bmp"));
        QVERIFY(prompts.errors.empty());
        QVERIFY(messages.errors.isEmpty());
    }
};

QTEST_MAIN(HostileNamesTest)
#include "hostile_names_test.moc"
