// The main window's settings, languages, renaming in the list and opening with other
// programs, driven through its controls with a settings file of the test's own.
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "TAdvImage.h"
#include "languages.h"
#include "optionspages.h"
#include "recordedmessages.h"
#include "searchcache.h"
#include "settingsformat.h"
#include "shell.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

void makeFile(const QByteArray& nativePath, const char* content = "x") {
    std::ofstream(nativePath.toStdString(), std::ios::binary) << content;
}

// One key event per character: QTest::keyClicks cannot send CJK text.
const char* const RecordingScript = "#!/bin/sh\n"
                                    "out=\"$(dirname \"$0\")/$(basename \"$0\").args\"\n"
                                    "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                    "done; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";

} // namespace

class OptionsWindowTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    QList<QStringList> opened; // target and parameters of each shell request
    bool forwardToShell = false;
    std::optional<QString> nextPick;
    std::optional<QString> nextDirectory; // what the directory picker answers
    MainWindowServices::PickRequest lastPick;
    std::unique_ptr<QTemporaryDir> tmp;
    QString settingsPath;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;

    QString dir(const QString& relative = {}) const {
        return relative.isEmpty() ? tmp->path() : tmp->path() + "/" + relative;
    }

    void writeSettings(const QByteArray& text) {
        QFile f(settingsPath);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    void makeWindow() {
        w.reset();
        MainWindowServices s;
        s.messages = &messages;
        s.shellOpen = [this](const std::string& target, const std::string& parameters) {
            opened << QStringList{QFile::decodeName(QByteArray::fromStdString(target)),
                                  QFile::decodeName(QByteArray::fromStdString(parameters))};
            if (forwardToShell)
                platform::ShellOpen(target, parameters);
        };
        s.pickFile = [this](QWidget*, const MainWindowServices::PickRequest& r) {
            lastPick = r;
            return nextPick;
        };
        s.pickDirectory = [this](QWidget*, const QString&) { return nextDirectory; };
        const QString path = settingsPath;
        s.openSettings = [path] { return platform::openSettingsFile(path); };
        s.searchCachePath = cachePath();
        QVERIFY(openMainWindow(progress, viewer, w, s));
    }

    QListWidget* lstDir() const { return part<QListWidget>(*w, "lstDir"); }

    int rowNamed(const QString& name) const { return column(*w, ColName).indexOf(name); }

    QString nameAt(int row) const { return model(*w)->index(row, ColName).data().toString(); }

    // A click on the page's tab.
    void selectPage(const char* page) {
        auto* tabs = part<QTabWidget>(*w, "pgOptions");
        const QRect tab = tabs->tabBar()->tabRect(tabs->indexOf(part(*w, page)));
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tab.center());
        QCOMPARE(tabs->currentWidget(), part(*w, page));
    }

    std::string cachePath() const { return dir("cache/fingerprints.sqlite").toStdString(); }

    // A click on the button's indicator, where a user clicks it.
    void clickButton(const char* name) {
        QAbstractButton* b = button(*w, name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }

private slots:
    void init() {
        messages = {};
        opened.clear();
        forwardToShell = false;
        nextPick.reset();
        nextDirectory.reset();
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        settingsPath = dir("config/Fenwa.settings");
        progress = std::make_unique<TfrmProgress>();
        viewer = std::make_unique<TfrmViewer>();
    }

    void cleanup() {
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void firstRunShowsTheDefaults() {
        makeWindow();
        QVERIFY(ticked(*w, "ckSize") && ticked(*w, "ckInclude"));
        QVERIFY(!ticked(*w, "ckName") && !ticked(*w, "ckTime"));
        QVERIFY(ticked(*w, "ckPreview") && ticked(*w, "ckShowSlides"));
        QVERIFY(ticked(*w, "raDblClick") && !ticked(*w, "raClick"));
        QCOMPARE(lineEdit(*w, "edTime")->text(), QStringLiteral("200"));
        QVERIFY(ticked(*w, "rbHalf") && !ticked(*w, "rbFullSize"));
        QVERIFY(!ticked(*w, "ckNoConfirm") && !ticked(*w, "ckNoRecycle"));
        QVERIFY(ticked(*w, "rbEnglish") && !ticked(*w, "rbChinese"));
        QCOMPARE(lstDir()->count(), 0);
        QVERIFY(messages.errors.isEmpty());
        // The English texts are applied at the first show.
        QCOMPARE(button(*w, "btnFindAll")->text(), QStringLiteral("List All"));
        QVERIFY(!QFile::exists(settingsPath));
    }

    // Ticking Similar takes off the ticks that would narrow it to exact copies and gives
    // them back when it is taken off, unless the user ticked them again meanwhile.
    void similarTakesOffSizeAndContentAndGivesThemBack() {
        makeWindow();
        auto* level = part<QComboBox>(*w, "cbSimilarLevel");
        tick(*w, "ckContent");
        QVERIFY(!level->isEnabled());
        tick(*w, "ckSimilar");
        QVERIFY(!ticked(*w, "ckSize") && !ticked(*w, "ckContent") && level->isEnabled());
        QVERIFY(w->findChild<OptionsPages*>()->similarNote().contains("Size, Content"));
        tick(*w, "ckSimilar", false);
        QVERIFY(ticked(*w, "ckSize") && ticked(*w, "ckContent") && !level->isEnabled());
        tick(*w, "ckSimilar");
        tick(*w, "ckSize");
        tick(*w, "ckSimilar", false);
        QVERIFY(ticked(*w, "ckSize") && ticked(*w, "ckContent"));
        // A stored Similar with Size is loaded as it was stored.
        tick(*w, "ckSimilar");
        tick(*w, "ckSize");
        click(*w, "btnSaveOptions");
        w.reset();
        makeWindow();
        QVERIFY(ticked(*w, "ckSimilar") && ticked(*w, "ckSize") && !ticked(*w, "ckContent"));
    }

    // The language table names controls by their object names; a row whose name no
    // control carries, or two controls carry, would be skipped or land on either.
    void everyLanguageRowNamesOneControl() {
        makeWindow();
        for (const LanguageText& entry : languageTable()) {
            const QString name = QString::fromLatin1(entry.control);
            if (name == QLatin1String("TfrmMain"))
                continue;
            QVERIFY2(w->findChildren<QObject*>(name).size() == 1, qPrintable(name));
        }
    }

    // Clear cache asks first, then empties the file the searches share.
    void clearCacheEmptiesTheSharedCacheAfterAsking() {
        {
            similar::SearchCache cache(cachePath());
            cache.storeContent(FileStamp{1, 2, 3, 4}, {{5, 6}, std::nullopt});
        }
        makeWindow();
        selectPage("tbsMore");
        QVERIFY(button(*w, "btnClearCache")->isEnabled());
        QVERIFY(!part<QLabel>(*w, "lbCacheSize")->text().isEmpty());
        messages.answer = false;
        click(*w, "btnClearCache");
        QCOMPARE(messages.questions.size(), 1);
        QCOMPARE(similar::SearchCache(cachePath()).entries(), 1);
        messages.answer = true;
        click(*w, "btnClearCache");
        QCOMPARE(similar::SearchCache(cachePath()).entries(), 0);
        QVERIFY(messages.errors.isEmpty());
        clickButton("rbChinese");
        QCOMPARE(button(*w, "btnClearCache")->text(), QStringLiteral("清除快取"));
        // The command line fills the cache while the window is open: the size shown is
        // the file's when the page is shown again.
        const QString emptied = part<QLabel>(*w, "lbCacheSize")->text();
        selectPage("tbsOptions");
        {
            similar::SearchCache cache(cachePath());
            for (uint64_t i = 0; i < 2000; ++i)
                cache.storeContent(FileStamp{i, 2, 3, 4}, {{5, 6}, std::nullopt});
        }
        selectPage("tbsMore");
        QVERIFY(part<QLabel>(*w, "lbCacheSize")->text() != emptied);
    }

    // While a search has the cache open the button is off, and the click's handler asks
    // nothing.
    void clearCacheWaitsForTheSearch() {
        QDir().mkpath(dir("tree"));
        makeFile(QFile::encodeName(dir("tree/a")), "same");
        makeFile(QFile::encodeName(dir("tree/b")), "same");
        makeWindow();
        tick(*w, "ckContent");
        addDirectory(*w, dir("tree"));
        bool offDuringSearch = false;
        QTimer::singleShot(0, progress.get(), [&] {
            offDuringSearch = !button(*w, "btnClearCache")->isEnabled();
            click(*w, "btnClearCache");
        });
        findDuplicates(*w);
        QVERIFY(offDuringSearch);
        QVERIFY(messages.questions.isEmpty());
        QVERIFY(button(*w, "btnClearCache")->isEnabled());
        QCOMPARE(model(*w)->rowCount(), 2);
    }

    void storedRadioPairsAreTakenAsClicks() {
        QDir().mkpath(dir("config"));
        // Both selected: the later one wins. Neither selected: the group stays empty.
        writeSettings("raDblClick=dword:1\nraClick=dword:1\n"
                      "rbFullSize=dword:0\nrbHalf=dword:0\nrbQuarter=dword:0\nrbEighth=dword:0\n"
                      "rbEnglish=dword:0\nrbChinese=dword:0\n");
        makeWindow();
        QVERIFY(ticked(*w, "raClick") && !ticked(*w, "raDblClick"));
        for (const char* scale : {"rbFullSize", "rbHalf", "rbQuarter", "rbEighth"})
            QVERIFY2(!ticked(*w, scale), scale);
        QVERIFY(!ticked(*w, "rbEnglish") && !ticked(*w, "rbChinese"));
        // Without English selected the window speaks Chinese.
        QCOMPARE(button(*w, "btnFindDuplicates")->text(), QStringLiteral("找出重複"));
        QVERIFY(messages.errors.isEmpty());
    }

    void savedOptionsComeBackAtTheNextStart() {
        QDir().mkpath(dir("pics"));
        QDir().mkpath(dir("more pics"));
        makeWindow();
        clickButton("ckName");
        clickButton("ckSize");
        clickButton("raClick");
        typeInto(*w, "edTime", QStringLiteral("350"));
        clickButton("rbEighth");
        addDirectory(*w, dir("pics"));
        addDirectory(*w, dir("more pics"));
        selectPage("tbsMore");
        clickButton("ckNoRecycle");
        clickButton("rbChinese");
        click(*w, "btnSaveOptions");
        QCOMPARE(messages.notices, QStringList{"恭禧您啦!您的設定值已經儲存"});
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(ticked(*w, "ckName") && !ticked(*w, "ckSize") && !ticked(*w, "ckTime"));
        QVERIFY(ticked(*w, "raClick") && !ticked(*w, "raDblClick"));
        QCOMPARE(lineEdit(*w, "edTime")->text(), QStringLiteral("350"));
        QVERIFY(ticked(*w, "rbEighth") && !ticked(*w, "rbHalf"));
        QVERIFY(ticked(*w, "ckNoRecycle") && !ticked(*w, "ckNoConfirm"));
        QVERIFY(ticked(*w, "rbChinese"));
        QCOMPARE(button(*w, "btnFindDuplicates")->text(), QStringLiteral("找出重複"));
        QCOMPARE(lstDir()->count(), 2);
        QCOMPARE(lstDir()->item(1)->text(), dir("more pics"));
        QVERIFY(messages.errors.isEmpty());
    }

    void aWrongTypedValueIsReportedAndStartUpGoesOn() {
        QDir().mkpath(dir("config"));
        writeSettings("ckName=dword:1\nckTime=sz:\"1\"\nckPreview=dword:0\n"
                      "rbEnglish=dword:0\nrbChinese=dword:1\n");
        makeWindow();
        QVERIFY(w->isVisible());
        QCOMPARE(messages.errors, QStringList{"Invalid data type for 'ckTime'"});
        QVERIFY(ticked(*w, "ckName"));    // read before the failure
        QVERIFY(ticked(*w, "ckPreview")); // after it: the default
        QVERIFY(ticked(*w, "rbEnglish"));
        QCOMPARE(button(*w, "btnFindDuplicates")->text(), QStringLiteral("Find Duplicates"));
    }

    void aDirectoryStoredTwiceIsListedOnceAndNamed() {
        QDir().mkpath(dir("config"));
        QDir().mkpath(dir("photos/sub"));
        makeFile(QFile::encodeName(dir("photos/a.jpg")));
        makeFile(QFile::encodeName(dir("photos/sub/b.jpg")));
        QVERIFY(QFile::link(dir("photos"), dir("link")));
        // A settings file may list one directory under two spellings: the second is
        // refused and named, as it would be when typed.
        writeSettings("Dir1=sz:\"" + QFile::encodeName(dir("photos")) + "\"\nDir2=sz:\"" +
                      QFile::encodeName(dir("link")) + "/\"\n");
        makeWindow();
        QCOMPARE(lstDir()->count(), 1);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(dir("link") + "/ and " + dir("photos") +
                                            " are the same directory"));
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 2);
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 2); // a.jpg and b.jpg, of one size
        // Typed, each other spelling is refused with the relatives message.
        click(*w, "btnClearDir");
        addDirectory(*w, dir("photos"));
        for (const QString& spelling : {dir("link"), dir("photos/sub/.."), dir("link/sub")}) {
            messages.errors.clear();
            addDirectory(*w, spelling);
            QCOMPARE(lstDir()->count(), 1);
            QCOMPARE(messages.errors.size(), 1);
            QVERIFY(messages.errors[0].contains(QStringLiteral("是直系親屬")));
        }
    }

    void aListedNameThatIsNotUtf8IsSearchedAgainFromTheEdit() {
        QDir().mkpath(dir("config"));
        QDir().mkpath(dir("plain"));
        const QByteArray raw = QFile::encodeName(dir()) + "/caf\xe9";
        QVERIFY(std::filesystem::create_directory(raw.toStdString()));
        makeFile(raw + "/a.txt");
        writeSettings("Dir1=sz:\"" + QFile::encodeName(dir("plain")) +
                      "\"\nDir2=binary:" + raw.toHex() + "\n");
        makeWindow();
        QCOMPARE(lstDir()->count(), 2);
        const QRect first = lstDir()->visualItemRect(lstDir()->item(0));
        QTest::mouseClick(lstDir()->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(lineEdit(*w, "Edit1")->text(), dir("plain"));
        // The keyboard moves to the next entry as a click does.
        QTest::keyClick(lstDir(), Qt::Key_Down);
        QCOMPARE(lineEdit(*w, "Edit1")->text(), QFile::decodeName(raw));
        click(*w, "btnClearDir");
        findAll(*w);
        const bool found = model(*w)->rowCount() == 1 && lstDir()->count() == 1 &&
                           lstDir()->item(0)->data(Qt::UserRole).toByteArray() == raw;
        std::filesystem::remove_all(raw.toStdString()); // QTemporaryDir cannot remove it
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(found);
    }

    // Four characters is a limit on typing only: a longer stored delay loads whole.
    void aLongStoredDelayLoadsWholeAndTypingStaysWithinFour() {
        QDir().mkpath(dir("config"));
        writeSettings("raClick=dword:1\nraDblClick=dword:0\nedTime=sz:\"12345\"\n");
        makeWindow();
        QLineEdit* e = lineEdit(*w, "edTime");
        QCOMPARE(e->text(), QStringLiteral("12345"));
        e->setFocus();
        e->end(false);
        QTest::keyClick(e, Qt::Key_6);
        QCOMPARE(e->text(), QStringLiteral("12345"));
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClick(e, Qt::Key_7);
        QTest::keyClick(e, Qt::Key_8);
        QCOMPARE(e->text(), QStringLiteral("1237"));
        // A paste is cut at four characters too.
        e->selectAll();
        QApplication::clipboard()->setText(QStringLiteral("98765"));
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(e->text(), QStringLiteral("9876"));
    }

    void damagedSettingsFilesStillStartTheWindow() {
        QDir().mkpath(dir("config"));
        QByteArray garbage(8192, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919) >> 3);
        const QByteArray files[] = {
            "ckName=dword:1\nckSize=dword:0\nckTime=dw",  // cut short
            garbage,                                      // not text at all
            "ckName=binary:ffff\nedTime=dword:5\n",       // wrong types
            "rbEnglish=sz:\"" + QByteArray(1 << 20, 'x'), // a megabyte of unfinished text
        };
        for (const QByteArray& text : files) {
            messages = {};
            writeSettings(text);
            makeWindow();
            QVERIFY(w->isVisible());
            QVERIFY(messages.errors.size() <= 1);
            // Every control shows a stored value or its default: one radio of each pair.
            QVERIFY(ticked(*w, "rbEnglish") != ticked(*w, "rbChinese"));
            QVERIFY(ticked(*w, "raDblClick") != ticked(*w, "raClick"));
            QCOMPARE(lineEdit(*w, "edTime")->text(), QStringLiteral("200"));
        }
        QCOMPARE(messages.errors, QStringList{"Failed to get data for 'rbEnglish'"});
    }

    void renamingInTheList() {
        makeWindow();
        QDir().mkpath(dir("p"));
        const QByteArray p = QFile::encodeName(dir("p"));
        makeFile(p + "/x.jpg", "x");
        makeFile(p + "/other.jpg", "other");
        addDirectory(*w, dir("p"));
        findAll(*w);
        int row = rowNamed("x.jpg");
        QVERIFY(row >= 0);
        clickRow(*w, row);
        const uint8_t icon = model(*w)->store().icon(size_t(row));

        editName(*w, row, "a?b.jpg");
        QCOMPARE(messages.errors,
                 QStringList{"檔名之中不可以含有 \\ / : * ? \" < > | 這樣的字元, 知道嗎!"});
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));

        editName(*w, row, "   ");
        QCOMPARE(messages.errors.last(), QStringLiteral("至少隨便打幾個字吧大哥!"));
        editName(*w, row, QString());
        QCOMPARE(messages.errors.size(), 3);
        QCOMPARE(messages.errors.last(), QStringLiteral("至少隨便打幾個字吧大哥!"));

        // Another file's name: the system refuses, nothing is replaced.
        editName(*w, row, "other.jpg");
        QCOMPARE(messages.errors.size(), 4);
        QVERIFY(messages.errors.last().startsWith("Cannot rename x.jpg"));
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));
        QVERIFY(QFile::exists(dir("p/x.jpg")) && QFile::exists(dir("p/other.jpg")));

        editName(*w, row, "never.jpg", Qt::Key_Escape);
        QCOMPARE(messages.errors.size(), 4);
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));
        QVERIFY(!QFile::exists(dir("p/never.jpg")));

        editName(*w, row, "x.txt");
        QCOMPARE(messages.errors.size(), 4);
        QCOMPARE(nameAt(row), QStringLiteral("x.txt"));
        QVERIFY(QFile::exists(dir("p/x.txt")) && !QFile::exists(dir("p/x.jpg")));
        QCOMPARE(model(*w)->store().icon(size_t(row)), icon); // the icon stays
        QCOMPARE(model(*w)->index(row, ColType).data().toString(), QStringLiteral(".txt"));
    }

    void renamingTheFocusedImageLoadsItAgainAfterTheDelay() {
        makeWindow();
        QDir().mkpath(dir("p"));
        const QByteArray p = QFile::encodeName(dir("p"));
        makeFile(p + "/x.jpg");
        addDirectory(*w, dir("p"));
        findAll(*w);
        tick(*w, "raClick");
        clickRow(*w, 0);
        QTRY_COMPARE(part<TAdvImage>(*w, "Image")->NativeFileName(), p + "/x.jpg");
        editName(*w, 0, "y.jpg");
        QTRY_COMPARE(part<TAdvImage>(*w, "Image")->NativeFileName(), p + "/y.jpg");
    }

    void renamingANameThatIsNotUtf8() {
        makeWindow();
        QDir().mkpath(dir("raw"));
        const QByteArray raw = QFile::encodeName(dir("raw")) + "/caf\xe9.jpg";
        makeFile(raw, "latin-1");
        addDirectory(*w, dir("raw"));
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 1);
        // Ending the edit with the shown (lossy) text unchanged is no rename.
        editName(*w, 0, nameAt(0));
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(QFile::exists(QFile::decodeName(raw)) || std::ifstream(raw.toStdString()).good());
        editName(*w, 0, QStringLiteral("咖啡.jpg"));
        QVERIFY(messages.errors.isEmpty());
        QCOMPARE(nameAt(0), QStringLiteral("咖啡.jpg"));
        QVERIFY(!std::ifstream(raw.toStdString()).good());
        std::ifstream renamed(QFile::encodeName(dir("raw/咖啡.jpg")).toStdString());
        std::string content;
        renamed >> content;
        std::remove(raw.constData()); // a name QTemporaryDir could not remove, should it remain
        QCOMPARE(QByteArray::fromStdString(content), QByteArray("latin-1"));
    }

    void openingWithOtherPrograms() {
        makeWindow();
        QDir().mkpath(dir("my photos"));
        for (const char* name : {"-photo.png", "setup.exe"})
            makeFile(QFile::encodeName(dir("my photos/") + name));
        addDirectory(*w, dir("my photos"));
        findAll(*w);
        const int photo = rowNamed("-photo.png");
        const int setup = rowNamed("setup.exe");
        QVERIFY(photo >= 0 && setup >= 0);
        const QString photoPath = dir("my photos/-photo.png");
        const QString setupPath = dir("my photos/setup.exe");

        // No current row: nothing is offered.
        QCOMPARE(w->currentRow(), -1);
        for (const char* item : {"miOpen", "miAcdsee", "miUltraEdit"})
            QVERIFY2(!choose(*w, "lvFiles", item), item);
        QVERIFY(opened.isEmpty());

        clickRow(*w, setup);
        QVERIFY(choose(*w, "lvFiles", "miAcdsee")); // not a type the image browser is offered
        QVERIFY(opened.isEmpty());
        QVERIFY(choose(*w, "lvFiles", "miUltraEdit"));
        QVERIFY(choose(*w, "lvFiles", "miOpen"));
        QCOMPARE(opened, (QList<QStringList>{{"Uedit32.exe", setupPath}, {setupPath, ""}}));

        // Through the platform layer to a stand-in program found in the search path.
        QTemporaryDir bin;
        QFile script(bin.filePath("acdsee32"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(RecordingScript);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
        forwardToShell = true;
        opened.clear();
        clickRow(*w, photo);
        QVERIFY(choose(*w, "lvFiles", "miAcdsee"));
        qputenv("PATH", savedPath);
        QCOMPARE(opened, (QList<QStringList>{{"ACDSee32.exe", photoPath}}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin.filePath("acdsee32.args")), 30000);
        QFile args(bin.filePath("acdsee32.args"));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(args.readAll()), "1\n" + photoPath + "\n");
    }

    void switchingLanguagesBothWays() {
        makeWindow();
        selectPage("tbsMore");
        clickButton("rbChinese");
        QCOMPARE(button(*w, "btnFindDuplicates")->text(), QStringLiteral("找出重複"));
        QCOMPARE(button(*w, "btnFindAll")->text(), QStringLiteral("列出所有"));
        QCOMPARE(w->font().family(), QStringLiteral("新細明體"));
        QCOMPARE(w->font().pointSize(), 9);
        QCOMPARE(button(*w, "ckName")->font().family(),
                 QStringLiteral("新細明體")); // follows the window
        QCOMPARE(part<QLabel>(*w, "Label3")->font().family(),
                 QStringLiteral("Arial")); // has its own
        for (int language = 0; language < 2; ++language) {
            QCOMPARE(button(*w, "ckNoConfirm")->font().family(), QStringLiteral("新細明體"));
            QCOMPARE(button(*w, "ckNoConfirm")->font().pixelSize(), 12);
            clickButton(language == 0 ? "rbEnglish" : "rbChinese");
        }
        QCOMPARE(part<QLabel>(*w, "lblVersion")->text(), QStringLiteral("版本: 0.5"));
        QCOMPARE(part<QLabel>(*w, "Label5")->text(),
                 QStringLiteral("動作前先等                 /1000 秒"));
        QCOMPARE(part<QTabWidget>(*w, "pgOptions")->tabText(1), QStringLiteral("更多選項"));
        QCOMPARE(action(*w, "miOpen")->text(), QStringLiteral("開啟舊檔"));
        QCOMPARE(action(*w, "miDelAllItems")->text(), QStringLiteral("刪除全部"));
        QCOMPARE(button(*w, "ckInclude")->toolTip(), QStringLiteral("搜尋時是否包含子目錄"));
        QCOMPARE(button(*w, "btnSaveOptions")->toolTip(), QStringLiteral("儲存設定值"));
        QCOMPARE(button(*w, "rbFullSize")->toolTip(),
                 QStringLiteral("選擇縮圖比例, 比例越小速度越快"));
        QCOMPARE(nth(*w, "AdvImage", 5)->toolTip(),
                 QStringLiteral("列出重複的圖(依據篩選條件而出現)"));
        QCOMPARE(viewer->menuCaptions,
                 (QStringList{"下一張     [PageDown]", "上一張     [PageUp]", "第一張     [Home]",
                              "末一張     [End]", "刪除         [Del]", "關閉"}));
        // Left as they are in both languages.
        QCOMPARE(w->windowTitle(), QStringLiteral("Fenwa"));
        QCOMPARE(part<QLabel>(*w, "Label1")->text(), QStringLiteral("Loading..."));
        QCOMPARE(button(*w, "rbHalf")->text(), QStringLiteral("1/2"));
        QCOMPARE(button(*w, "btnAddDir")->text(), QStringLiteral("+"));
        QCOMPARE(button(*w, "rbEnglish")->text(), QStringLiteral("English"));
        QCOMPARE(model(*w)->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
        selectPage("tbsOptions");
        click(*w, "btnAddDir");
        QCOMPARE(lastPick.title, QStringLiteral("隨便打個檔名即可指定此目錄"));
        QCOMPARE(lastPick.filter, QStringLiteral("不必變更. (.___)"));
        QCOMPARE(lastPick.fileName, QStringLiteral("任何檔名"));

        selectPage("tbsMore");
        clickButton("rbEnglish");
        QCOMPARE(button(*w, "btnFindDuplicates")->text(), QStringLiteral("Find Duplicates"));
        QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(w->font().pointSize(), 8);
        QCOMPARE(part<QLabel>(*w, "Label5")->text(),
                 QStringLiteral("Delay time:                    mSeconds"));
        QCOMPARE(button(*w, "ckName")->toolTip(), QStringLiteral("Compare names"));
        for (const char* quiet : {"ckInclude", "ckPreview", "ckShowSlides", "raClick", "raDblClick",
                                  "btnSaveOptions", "AdvImage1", "AdvImage5"})
            QVERIFY2(part(*w, quiet)->toolTip().isEmpty(), quiet);
        QCOMPARE(viewer->menuCaptions.first(), QStringLiteral("Next Image     [PageDown]"));
        QCOMPARE(viewer->menuCaptions.at(4), QStringLiteral("Delete             [Del]"));
        selectPage("tbsOptions");
        click(*w, "btnAddDir");
        QCOMPARE(lastPick.title, QStringLiteral("You can input any file name"));
        QCOMPARE(lastPick.fileName, QStringLiteral("Any file name"));
        QVERIFY(messages.errors.isEmpty());
    }

    // The fourth criterion: on the options page with the other three, saved with them, in
    // both languages, and with its caption whole in either.
    void contentBoxIsSavedAndSpeaksBothLanguages() {
        makeWindow();
        QVERIFY(!ticked(*w, "ckContent"));
        QCOMPARE(button(*w, "ckContent")->text(), QStringLiteral("Content"));
        QCOMPARE(button(*w, "ckContent")->toolTip(),
                 QStringLiteral("Compare content, byte for byte"));
        QCOMPARE(button(*w, "ckContent")->parentWidget(), button(*w, "ckTime")->parentWidget());
        // The criteria and the box it shares a row with show their captions whole, and
        // no control of the page lies under it.
        auto fits = [this] {
            for (const char* name : {"ckName", "ckSize", "ckTime", "ckContent", "ckInclude"})
                QVERIFY2(part(*w, name)->sizeHint().width() <= part(*w, name)->width(), name);
            const QWidget *box = part(*w, "ckContent"), *page = part(*w, "tbsOptions");
            QVERIFY(box->geometry().right() < page->width());
            for (QWidget* other : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(other == box || !other->geometry().intersects(box->geometry()),
                         qPrintable(other->objectName()));
        };
        fits();
        clickButton("ckContent");
        clickButton("ckSize");
        selectPage("tbsMore");
        clickButton("rbChinese");
        QCOMPARE(button(*w, "ckContent")->text(), QStringLiteral("內容"));
        QCOMPARE(button(*w, "ckContent")->toolTip(), QStringLiteral("搜尋內容相同的檔案"));
        fits();
        click(*w, "btnSaveOptions");
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(ticked(*w, "ckContent") && !ticked(*w, "ckSize"));
        QCOMPARE(button(*w, "ckContent")->text(), QStringLiteral("內容"));
        QFile stored(settingsPath);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("ckContent=dword:1"));
    }

    // Similar and its level: beside the criteria, whole in both languages, saved.
    void similarBoxAndLevelAreSavedAndSpeakBothLanguages() {
        makeWindow();
        QVERIFY(!ticked(*w, "ckSimilar"));
        QCOMPARE(part<QComboBox>(*w, "cbSimilarLevel")->currentText(), QStringLiteral("Normal"));
        auto fits = [this] {
            const QWidget* page = part(*w, "tbsOptions");
            for (QWidget* mine : {part(*w, "ckSimilar"), part(*w, "cbSimilarLevel")}) {
                QVERIFY(mine->geometry().right() < page->width());
                for (QWidget* other : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    QVERIFY2(other == mine || !other->geometry().intersects(mine->geometry()),
                             qPrintable(other->objectName()));
            }
            for (const char* name : {"ckSimilar", "raClick", "raDblClick"})
                QVERIFY2(part(*w, name)->sizeHint().width() <= part(*w, name)->width(), name);
        };
        fits();
        clickButton("ckSimilar");
        QTest::keyClick(part<QComboBox>(*w, "cbSimilarLevel"), Qt::Key_Down); // Normal to Loose
        selectPage("tbsMore");
        clickButton("rbChinese");
        QCOMPARE(button(*w, "ckSimilar")->text(), QStringLiteral("相似"));
        QCOMPARE(part<QComboBox>(*w, "cbSimilarLevel")->currentText(), QStringLiteral("寬鬆"));
        fits();
        click(*w, "btnSaveOptions");
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(ticked(*w, "ckSimilar"));
        QCOMPARE(part<QComboBox>(*w, "cbSimilarLevel")->currentIndex(), 2);
    }

    void protectedFoldersAreAddedRemovedSavedAndSpeakBothLanguages() {
        for (const char* d : {"pics/camera", "elsewhere"})
            QVERIFY(QDir().mkpath(dir(d)));
        QVERIFY(QFile::link(dir("pics/camera"), dir("link")));
        makeWindow();
        addDirectory(*w, dir("pics"));
        selectPage("tbsMore");
        auto* list = part<QComboBox>(*w, "cbProtected");
        QCOMPARE(list->count(), 0);
        QVERIFY(!button(*w, "btnDelProtected")->isEnabled());
        // A subfolder of a listed directory, once only by whatever path; then any folder.
        // Cancelling and a name that is no folder add nothing.
        for (const QString& picked : {dir("pics/camera"), dir("link"), dir("elsewhere")}) {
            nextDirectory = picked;
            click(*w, "btnAddProtected");
        }
        nextDirectory.reset();
        click(*w, "btnAddProtected");
        nextDirectory = dir("nothing here");
        click(*w, "btnAddProtected");
        QCOMPARE(messages.errors.size(), 1);
        QCOMPARE(w->protectedDirectories(),
                 (std::vector<std::string>{QFile::encodeName(dir("pics/camera")).toStdString(),
                                           QFile::encodeName(dir("elsewhere")).toStdString()}));
        list->setCurrentIndex(1);
        click(*w, "btnDelProtected");
        QCOMPARE(list->count(), 1);
        // On the page, clear of every other control, in both languages.
        const QWidget* page = part(*w, "tbsMore");
        for (QWidget* mine :
             {part(*w, "cbProtected"), part(*w, "btnAddProtected"), part(*w, "btnDelProtected")}) {
            QVERIFY(page->rect().contains(mine->geometry()));
            for (QWidget* other : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(other == mine || !other->geometry().intersects(mine->geometry()),
                         qPrintable(other->objectName()));
        }
        clickButton("rbChinese");
        QCOMPARE(button(*w, "btnAddProtected")->toolTip(), QStringLiteral("加入受保護的資料夾"));
        QCOMPARE(list->placeholderText(), QStringLiteral("受保護"));
        clickButton("rbEnglish");
        QCOMPARE(list->placeholderText(), QStringLiteral("Protected"));
        click(*w, "btnSaveOptions");
        QCOMPARE(messages.errors.size(), 1);

        makeWindow();
        QCOMPARE(part<QComboBox>(*w, "cbProtected")->count(), 1);
        QCOMPARE(part<QComboBox>(*w, "cbProtected")->itemText(0),
                 "camera (" + dir("pics/camera") + ")");
    }

    void filtersPageNarrowsASearchAndRefusesABadRange() {
        QVERIFY(QDir().mkpath(dir("pics/skip")));
        for (const char* name : {"pics/a.jpg", "pics/b.txt", "pics/skip/c.jpg"})
            makeFile(QFile::encodeName(dir(name)), "12345");
        makeFile(QFile::encodeName(dir("pics/empty.jpg")), "");
        makeFile(QFile::encodeName(dir("pics/big.jpg")), std::string(3000, 'x').c_str());
        makeWindow();
        addDirectory(*w, dir("pics"));
        selectPage("tbsFilters");
        typeInto(*w, "edMaxSize", QStringLiteral("2k"));
        clickButton("ckSkipEmpty");
        clickButton("ckPicturesOnly");
        nextDirectory = dir("pics/skip");
        click(*w, "btnAddSkip");
        findAll(*w);
        QCOMPARE(column(*w, ColName), QStringList{"a.jpg"});
        QVERIFY2(w->statusText(1).endsWith("(filters left out 3 files, 1 folders)"),
                 qPrintable(w->statusText(1)));

        // A range that holds nothing, then a size that is none: told in the language
        // chosen, and neither search runs.
        typeInto(*w, "edMinSize", QStringLiteral("3k"));
        click(*w, "btnFindAll");
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains("smaller than the minimum"));
        QCOMPARE(column(*w, ColName), QStringList{"a.jpg"});
        selectPage("tbsMore");
        clickButton("rbChinese");
        QCOMPARE(part<QTabWidget>(*w, "pgOptions")->tabText(2), QStringLiteral("篩選"));
        QCOMPARE(button(*w, "ckPicturesOnly")->text(), QStringLiteral("只找圖片"));
        selectPage("tbsFilters");
        typeInto(*w, "edMinSize", QStringLiteral("x"));
        click(*w, "btnFindDuplicates");
        QCOMPARE(messages.errors.size(), 2);
        QVERIFY(messages.errors[1].contains(QStringLiteral("'x' 不是大小")));
        QCOMPARE(column(*w, ColName), QStringList{"a.jpg"});

        // Every control on the page, clear of the others, in both languages.
        const QWidget* page = part(*w, "tbsFilters");
        const QList<QWidget*> controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* mine : controls) {
            QVERIFY2(page->rect().contains(mine->geometry()), qPrintable(mine->objectName()));
            for (QWidget* other : controls)
                QVERIFY2(other == mine || !other->geometry().intersects(mine->geometry()),
                         qPrintable(mine->objectName() + " " + other->objectName()));
        }
        for (const char* name : {"lblMinSize", "lblMaxSize", "ckSkipEmpty", "ckPicturesOnly"})
            QVERIFY2(part(*w, name)->sizeHint().width() <= part(*w, name)->width(), name);

        // Saved with the options and back at the next start.
        typeInto(*w, "edMinSize", QString());
        selectPage("tbsMore");
        clickButton("rbEnglish");
        click(*w, "btnSaveOptions");
        makeWindow();
        QCOMPARE(lineEdit(*w, "edMaxSize")->text(), QStringLiteral("2k"));
        QVERIFY(ticked(*w, "ckSkipEmpty") && ticked(*w, "ckPicturesOnly"));
        QCOMPARE(part<QComboBox>(*w, "cbSkipFolders")->count(), 1);
        QCOMPARE(part<QComboBox>(*w, "cbSkipFolders")->itemText(0),
                 "skip (" + dir("pics/skip") + ")");
    }
};

QTEST_MAIN(OptionsWindowTest)
#include "options_window_test.moc"
