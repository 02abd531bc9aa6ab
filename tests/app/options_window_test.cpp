// The main window's settings, languages, renaming in the list and opening with other
// programs, driven through its controls with a settings file of the test's own.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "TAdvImage.h"
#include "languages.h"
#include "messages.h"
#include "recordedmessages.h"
#include "searchcache.h"
#include "settingsformat.h"
#include "shell.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

void makeFile(const QByteArray& nativePath, const char* content = "x") {
    std::ofstream(nativePath.toStdString(), std::ios::binary) << content;
}

// One key event per character: QTest::keyClicks cannot send CJK text.
void typeText(QWidget* target, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

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
        const QString path = settingsPath;
        s.openSettings = [path] { return platform::openSettingsFile(path); };
        s.searchCachePath = cachePath();
        QVERIFY(openMainWindow(progress, viewer, w, s));
    }

    void listDirectory(const QString& directory) {
        w->dirBand->Edit1->setText(directory);
        QTest::keyClick(w->dirBand->Edit1, Qt::Key_Return);
    }

    int rowNamed(const QString& name) const {
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            if (w->lvFilesModel->index(r, ColName).data().toString() == name)
                return r;
        return -1;
    }

    QString nameAt(int row) const { return w->lvFilesModel->index(row, ColName).data().toString(); }

    // Edits the Name cell of a row as a user does: F2, replace the text, Enter or Esc.
    void editName(int row, const QString& text, Qt::Key end = Qt::Key_Return) {
        w->lvFiles->setFocus();
        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(row, ColName));
        QTest::keyClick(w->lvFiles, Qt::Key_F2);
        QLineEdit* editor = openEditor();
        QVERIFY2(editor, "F2 opened no editor");
        editor->selectAll();
        if (text.isEmpty())
            QTest::keyClick(editor, Qt::Key_Delete);
        else
            typeText(editor, text);
        QTest::keyClick(editor, end);
        // The list commits the edit through a queued call.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!openEditor());
    }

    QLineEdit* openEditor() const {
        for (QLineEdit* e : w->lvFiles->viewport()->findChildren<QLineEdit*>())
            if (e->isVisible())
                return e;
        return nullptr;
    }

    void selectPage(QWidget* page) { w->pgOptions->setCurrentWidget(page); }

    std::string cachePath() const { return dir("cache/fingerprints.sqlite").toStdString(); }

    // A click on the button's indicator, where a user clicks it.
    static void clickButton(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }

private slots:
    void init() {
        messages = {};
        opened.clear();
        forwardToShell = false;
        nextPick.reset();
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
        QVERIFY(w->pgOptions->ckSize->isChecked() && w->pgOptions->ckInclude->isChecked());
        QVERIFY(!w->pgOptions->ckName->isChecked() && !w->pgOptions->ckTime->isChecked());
        QVERIFY(w->pgOptions->ckPreview->isChecked() && w->pgOptions->ckShowSlides->isChecked());
        QVERIFY(w->pgOptions->raDblClick->isChecked() && !w->pgOptions->raClick->isChecked());
        QCOMPARE(w->pgOptions->edTime->text(), QStringLiteral("200"));
        QVERIFY(w->Panel2->rbHalf->isChecked() && !w->Panel2->rbFullSize->isChecked());
        QVERIFY(!w->pgOptions->ckNoConfirm->isChecked() && !w->pgOptions->ckNoRecycle->isChecked());
        QVERIFY(w->pgOptions->rbEnglish->isChecked() && !w->pgOptions->rbChinese->isChecked());
        QCOMPARE(w->dirBand->lstDir->count(), 0);
        QVERIFY(messages.errors.isEmpty());
        // The English texts are applied at the first show.
        QCOMPARE(w->btnFindAll->text(), QStringLiteral("List All"));
        QVERIFY(!QFile::exists(settingsPath));
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
        selectPage(w->pgOptions->tbsMore);
        QVERIFY(w->pgOptions->btnClearCache->isEnabled());
        QVERIFY(!w->pgOptions->lbCacheSize->text().isEmpty());
        messages.answer = false;
        QTest::mouseClick(w->pgOptions->btnClearCache, Qt::LeftButton);
        QCOMPARE(messages.questions.size(), 1);
        QCOMPARE(similar::SearchCache(cachePath()).entries(), 1);
        messages.answer = true;
        QTest::mouseClick(w->pgOptions->btnClearCache, Qt::LeftButton);
        QCOMPARE(similar::SearchCache(cachePath()).entries(), 0);
        QVERIFY(messages.errors.isEmpty());
        clickButton(w->pgOptions->rbChinese);
        QCOMPARE(w->pgOptions->btnClearCache->text(), QStringLiteral("清除快取"));
    }

    // While a search has the cache open the button is off, and the click's handler asks
    // nothing.
    void clearCacheWaitsForTheSearch() {
        QDir().mkpath(dir("tree"));
        makeFile(QFile::encodeName(dir("tree/a")), "same");
        makeFile(QFile::encodeName(dir("tree/b")), "same");
        makeWindow();
        w->pgOptions->ckContent->setChecked(true);
        addDirectory(*w, dir("tree"));
        bool offDuringSearch = false;
        QTimer::singleShot(0, progress.get(), [&] {
            offDuringSearch = !w->pgOptions->btnClearCache->isEnabled();
            w->pgOptions->btnClearCacheClick();
        });
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QVERIFY(offDuringSearch);
        QVERIFY(messages.questions.isEmpty());
        QVERIFY(w->pgOptions->btnClearCache->isEnabled());
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
    }

    void storedRadioPairsAreTakenAsClicks() {
        QDir().mkpath(dir("config"));
        // Both selected: the later one wins. Neither selected: the group stays empty.
        writeSettings("raDblClick=dword:1\nraClick=dword:1\n"
                      "rbFullSize=dword:0\nrbHalf=dword:0\nrbQuarter=dword:0\nrbEighth=dword:0\n"
                      "rbEnglish=dword:0\nrbChinese=dword:0\n");
        makeWindow();
        QVERIFY(w->pgOptions->raClick->isChecked() && !w->pgOptions->raDblClick->isChecked());
        for (QRadioButton* r :
             {w->Panel2->rbFullSize, w->Panel2->rbHalf, w->Panel2->rbQuarter, w->Panel2->rbEighth})
            QVERIFY2(!r->isChecked(), qPrintable(r->objectName()));
        QVERIFY(!w->pgOptions->rbEnglish->isChecked() && !w->pgOptions->rbChinese->isChecked());
        // Without English selected the window speaks Chinese.
        QCOMPARE(w->btnFindDuplicates->text(), QStringLiteral("找出重複"));
        QVERIFY(messages.errors.isEmpty());
    }

    void savedOptionsComeBackAtTheNextStart() {
        QDir().mkpath(dir("pics"));
        QDir().mkpath(dir("more pics"));
        makeWindow();
        clickButton(w->pgOptions->ckName);
        clickButton(w->pgOptions->ckSize);
        clickButton(w->pgOptions->raClick);
        w->pgOptions->edTime->setText(QStringLiteral("350"));
        clickButton(w->Panel2->rbEighth);
        listDirectory(dir("pics"));
        listDirectory(dir("more pics"));
        selectPage(w->pgOptions->tbsMore);
        clickButton(w->pgOptions->ckNoRecycle);
        clickButton(w->pgOptions->rbChinese);
        QTest::mouseClick(w->pgOptions->btnSaveOptions, Qt::LeftButton);
        QCOMPARE(messages.notices, QStringList{"恭禧您啦!您的設定值已經儲存"});
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(w->pgOptions->ckName->isChecked() && !w->pgOptions->ckSize->isChecked() &&
                !w->pgOptions->ckTime->isChecked());
        QVERIFY(w->pgOptions->raClick->isChecked() && !w->pgOptions->raDblClick->isChecked());
        QCOMPARE(w->pgOptions->edTime->text(), QStringLiteral("350"));
        QVERIFY(w->Panel2->rbEighth->isChecked() && !w->Panel2->rbHalf->isChecked());
        QVERIFY(w->pgOptions->ckNoRecycle->isChecked() && !w->pgOptions->ckNoConfirm->isChecked());
        QVERIFY(w->pgOptions->rbChinese->isChecked());
        QCOMPARE(w->btnFindDuplicates->text(), QStringLiteral("找出重複"));
        QCOMPARE(w->dirBand->lstDir->count(), 2);
        QCOMPARE(w->dirBand->lstDir->item(1)->text(), dir("more pics"));
        QVERIFY(messages.errors.isEmpty());
    }

    void aWrongTypedValueIsReportedAndStartUpGoesOn() {
        QDir().mkpath(dir("config"));
        writeSettings("ckName=dword:1\nckTime=sz:\"1\"\nckPreview=dword:0\n"
                      "rbEnglish=dword:0\nrbChinese=dword:1\n");
        makeWindow();
        QVERIFY(w->isVisible());
        QCOMPARE(messages.errors, QStringList{"Invalid data type for 'ckTime'"});
        QVERIFY(w->pgOptions->ckName->isChecked());    // read before the failure
        QVERIFY(w->pgOptions->ckPreview->isChecked()); // after it: the default
        QVERIFY(w->pgOptions->rbEnglish->isChecked());
        QCOMPARE(w->btnFindDuplicates->text(), QStringLiteral("Find Duplicates"));
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
        QCOMPARE(w->dirBand->lstDir->count(), 1);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(
            messages.errors[0].contains(dir("link") + "/ 和 " + dir("photos") + " 是同一個目錄"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 2); // a.jpg and b.jpg, of one size
        // Typed, each other spelling is refused with the relatives message.
        QTest::mouseClick(w->dirBand->btnClearDir, Qt::LeftButton);
        listDirectory(dir("photos"));
        for (const QString& spelling : {dir("link"), dir("photos/sub/.."), dir("link/sub")}) {
            messages.errors.clear();
            listDirectory(spelling);
            QCOMPARE(w->dirBand->lstDir->count(), 1);
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
        QCOMPARE(w->dirBand->lstDir->count(), 2);
        const QRect first = w->dirBand->lstDir->visualItemRect(w->dirBand->lstDir->item(0));
        QTest::mouseClick(w->dirBand->lstDir->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(w->dirBand->Edit1->text(), dir("plain"));
        // The keyboard moves to the next entry as a click does.
        QTest::keyClick(w->dirBand->lstDir, Qt::Key_Down);
        QCOMPARE(w->dirBand->Edit1->text(), QFile::decodeName(raw));
        QTest::mouseClick(w->dirBand->btnClearDir, Qt::LeftButton);
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        const bool found = w->lvFilesModel->rowCount() == 1 && w->dirBand->lstDir->count() == 1 &&
                           w->dirBand->lstDir->item(0)->data(Qt::UserRole).toByteArray() == raw;
        std::filesystem::remove_all(raw.toStdString()); // QTemporaryDir cannot remove it
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(found);
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
            QVERIFY(w->pgOptions->rbEnglish->isChecked() != w->pgOptions->rbChinese->isChecked());
            QVERIFY(w->pgOptions->raDblClick->isChecked() != w->pgOptions->raClick->isChecked());
            QCOMPARE(w->pgOptions->edTime->text(), QStringLiteral("200"));
        }
        QCOMPARE(messages.errors, QStringList{"Failed to get data for 'rbEnglish'"});
    }

    void renamingInTheList() {
        makeWindow();
        QDir().mkpath(dir("p"));
        const QByteArray p = QFile::encodeName(dir("p"));
        makeFile(p + "/x.jpg", "x");
        makeFile(p + "/other.jpg", "other");
        listDirectory(dir("p"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        int row = rowNamed("x.jpg");
        QVERIFY(row >= 0);
        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(row, 0));
        const uint8_t icon = w->lvFilesModel->store().icon(size_t(row));

        editName(row, "a?b.jpg");
        QCOMPARE(messages.errors,
                 QStringList{"檔名之中不可以含有 \\ / : * ? \" < > | 這樣的字元, 知道嗎!"});
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));

        editName(row, "   ");
        QCOMPARE(messages.errors.last(), QStringLiteral("至少隨便打幾個字吧大哥!"));
        editName(row, QString());
        QCOMPARE(messages.errors.size(), 3);
        QCOMPARE(messages.errors.last(), QStringLiteral("至少隨便打幾個字吧大哥!"));

        // Another file's name: the system refuses, nothing is replaced.
        editName(row, "other.jpg");
        QCOMPARE(messages.errors.size(), 4);
        QVERIFY(messages.errors.last().startsWith("Cannot rename x.jpg"));
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));
        QVERIFY(QFile::exists(dir("p/x.jpg")) && QFile::exists(dir("p/other.jpg")));

        editName(row, "never.jpg", Qt::Key_Escape);
        QCOMPARE(messages.errors.size(), 4);
        QCOMPARE(nameAt(row), QStringLiteral("x.jpg"));
        QVERIFY(!QFile::exists(dir("p/never.jpg")));

        editName(row, "x.txt");
        QCOMPARE(messages.errors.size(), 4);
        QCOMPARE(nameAt(row), QStringLiteral("x.txt"));
        QVERIFY(QFile::exists(dir("p/x.txt")) && !QFile::exists(dir("p/x.jpg")));
        QCOMPARE(w->lvFilesModel->store().icon(size_t(row)), icon); // the icon stays
        QCOMPARE(w->lvFilesModel->index(row, ColType).data().toString(), QStringLiteral(".txt"));
    }

    void renamingTheFocusedImageLoadsItAgainAfterTheDelay() {
        makeWindow();
        QDir().mkpath(dir("p"));
        const QByteArray p = QFile::encodeName(dir("p"));
        makeFile(p + "/x.jpg");
        listDirectory(dir("p"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        w->pgOptions->raClick->setChecked(true);
        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(0, 0));
        QTRY_COMPARE(w->Panel2->Image->NativeFileName(), p + "/x.jpg");
        editName(0, "y.jpg");
        QTRY_COMPARE(w->Panel2->Image->NativeFileName(), p + "/y.jpg");
    }

    void renamingANameThatIsNotUtf8() {
        makeWindow();
        QDir().mkpath(dir("raw"));
        const QByteArray raw = QFile::encodeName(dir("raw")) + "/caf\xe9.jpg";
        makeFile(raw, "latin-1");
        listDirectory(dir("raw"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
        // Ending the edit with the shown (lossy) text unchanged is no rename.
        editName(0, nameAt(0));
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(QFile::exists(QFile::decodeName(raw)) || std::ifstream(raw.toStdString()).good());
        editName(0, QStringLiteral("咖啡.jpg"));
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
        listDirectory(dir("my photos"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        const int photo = rowNamed("-photo.png");
        const int setup = rowNamed("setup.exe");
        QVERIFY(photo >= 0 && setup >= 0);
        const QString photoPath = dir("my photos/-photo.png");
        const QString setupPath = dir("my photos/setup.exe");

        // No current row: nothing.
        w->lvFiles->setCurrentIndex(QModelIndex());
        for (QAction* a : {w->miOpen, w->miAcdsee, w->miUltraEdit})
            a->trigger();
        QVERIFY(opened.isEmpty());

        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(setup, 0));
        w->miAcdsee->trigger(); // not a type the image browser is offered
        QVERIFY(opened.isEmpty());
        w->miUltraEdit->trigger();
        w->miOpen->trigger();
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
        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(photo, 0));
        w->miAcdsee->trigger();
        qputenv("PATH", savedPath);
        QCOMPARE(opened, (QList<QStringList>{{"ACDSee32.exe", photoPath}}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin.filePath("acdsee32.args")), 30000);
        QFile args(bin.filePath("acdsee32.args"));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(args.readAll()), "1\n" + photoPath + "\n");
    }

    void switchingLanguagesBothWays() {
        makeWindow();
        selectPage(w->pgOptions->tbsMore);
        clickButton(w->pgOptions->rbChinese);
        QCOMPARE(w->btnFindDuplicates->text(), QStringLiteral("找出重複"));
        QCOMPARE(w->btnFindAll->text(), QStringLiteral("列出所有"));
        QCOMPARE(w->font().family(), QStringLiteral("新細明體"));
        QCOMPARE(w->font().pointSize(), 9);
        QCOMPARE(w->pgOptions->ckName->font().family(),
                 QStringLiteral("新細明體"));                          // follows the window
        QCOMPARE(w->Label3->font().family(), QStringLiteral("Arial")); // has its own
        for (int language = 0; language < 2; ++language) {
            QCOMPARE(w->pgOptions->ckNoConfirm->font().family(), QStringLiteral("新細明體"));
            QCOMPARE(w->pgOptions->ckNoConfirm->font().pixelSize(), 12);
            clickButton(language == 0 ? w->pgOptions->rbEnglish : w->pgOptions->rbChinese);
        }
        QCOMPARE(w->lblVersion->text(), QStringLiteral("版本: 0.5"));
        QCOMPARE(w->pgOptions->Label5->text(),
                 QStringLiteral("動作前先等                 /1000 秒"));
        QCOMPARE(w->pgOptions->tabText(1), QStringLiteral("更多選項"));
        QCOMPARE(w->miOpen->text(), QStringLiteral("開啟舊檔"));
        QCOMPARE(w->dirBand->miDelAllItems->text(), QStringLiteral("刪除全部"));
        QCOMPARE(w->pgOptions->ckInclude->toolTip(), QStringLiteral("搜尋時是否包含子目錄"));
        QCOMPARE(w->pgOptions->btnSaveOptions->toolTip(), QStringLiteral("儲存設定值"));
        QCOMPARE(w->Panel2->rbFullSize->toolTip(),
                 QStringLiteral("選擇縮圖比例, 比例越小速度越快"));
        QCOMPARE(w->pnSlides->AdvImage[4]->toolTip(),
                 QStringLiteral("列出重複的圖(依據篩選條件而出現)"));
        QCOMPARE(viewer->menuCaptions,
                 (QStringList{"下一張     [PageDown]", "上一張     [PageUp]", "第一張     [Home]",
                              "末一張     [End]", "刪除         [Del]", "關閉"}));
        // Left as they are in both languages.
        QCOMPARE(w->windowTitle(), QStringLiteral("Fenwa"));
        QCOMPARE(w->Panel2->Label1->text(), QStringLiteral("Loading..."));
        QCOMPARE(w->Panel2->rbHalf->text(), QStringLiteral("1/2"));
        QCOMPARE(w->dirBand->btnAddDir->text(), QStringLiteral("+"));
        QCOMPARE(w->pgOptions->rbEnglish->text(), QStringLiteral("English"));
        QCOMPARE(w->lvFilesModel->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
        selectPage(w->pgOptions->tbsOptions);
        QTest::mouseClick(w->dirBand->btnAddDir, Qt::LeftButton);
        QCOMPARE(lastPick.title, QStringLiteral("隨便打個檔名即可指定此目錄"));
        QCOMPARE(lastPick.filter, QStringLiteral("不必變更. (.___)"));
        QCOMPARE(lastPick.fileName, QStringLiteral("任何檔名"));

        selectPage(w->pgOptions->tbsMore);
        clickButton(w->pgOptions->rbEnglish);
        QCOMPARE(w->btnFindDuplicates->text(), QStringLiteral("Find Duplicates"));
        QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(w->font().pointSize(), 8);
        QCOMPARE(w->pgOptions->Label5->text(),
                 QStringLiteral("Delay time:                    mSeconds"));
        QCOMPARE(w->pgOptions->ckName->toolTip(), QStringLiteral("Compare names"));
        for (QWidget* quiet : std::initializer_list<QWidget*>{
                 w->pgOptions->ckInclude, w->pgOptions->ckPreview, w->pgOptions->ckShowSlides,
                 w->pgOptions->raClick, w->pgOptions->raDblClick, w->pgOptions->btnSaveOptions,
                 w->pnSlides->AdvImage[0], w->pnSlides->AdvImage[4]})
            QVERIFY2(quiet->toolTip().isEmpty(), qPrintable(quiet->objectName()));
        QCOMPARE(viewer->menuCaptions.first(), QStringLiteral("Next Image     [PageDown]"));
        QCOMPARE(viewer->menuCaptions.at(4), QStringLiteral("Delete             [Del]"));
        selectPage(w->pgOptions->tbsOptions);
        QTest::mouseClick(w->dirBand->btnAddDir, Qt::LeftButton);
        QCOMPARE(lastPick.title, QStringLiteral("You can input any file name"));
        QCOMPARE(lastPick.fileName, QStringLiteral("Any file name"));
        QVERIFY(messages.errors.isEmpty());
    }

    // The fourth criterion: on the options page with the other three, saved with them, in
    // both languages, and with its caption whole in either.
    void contentBoxIsSavedAndSpeaksBothLanguages() {
        makeWindow();
        QVERIFY(!w->pgOptions->ckContent->isChecked());
        QCOMPARE(w->pgOptions->ckContent->text(), QStringLiteral("Content"));
        QCOMPARE(w->pgOptions->ckContent->toolTip(),
                 QStringLiteral("Compare content, byte for byte"));
        QCOMPARE(w->pgOptions->ckContent->parentWidget(), w->pgOptions->ckTime->parentWidget());
        // The criteria and the box it shares a row with show their captions whole, and
        // no control of the page lies under it.
        auto fits = [this] {
            for (QCheckBox* box : {w->pgOptions->ckName, w->pgOptions->ckSize, w->pgOptions->ckTime,
                                   w->pgOptions->ckContent, w->pgOptions->ckInclude})
                QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
            QVERIFY(w->pgOptions->ckContent->geometry().right() <
                    w->pgOptions->tbsOptions->width());
            for (QWidget* other :
                 w->pgOptions->tbsOptions->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(other == w->pgOptions->ckContent ||
                             !other->geometry().intersects(w->pgOptions->ckContent->geometry()),
                         qPrintable(other->objectName()));
        };
        fits();
        clickButton(w->pgOptions->ckContent);
        clickButton(w->pgOptions->ckSize);
        selectPage(w->pgOptions->tbsMore);
        clickButton(w->pgOptions->rbChinese);
        QCOMPARE(w->pgOptions->ckContent->text(), QStringLiteral("內容"));
        QCOMPARE(w->pgOptions->ckContent->toolTip(), QStringLiteral("搜尋內容相同的檔案"));
        fits();
        QTest::mouseClick(w->pgOptions->btnSaveOptions, Qt::LeftButton);
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(w->pgOptions->ckContent->isChecked() && !w->pgOptions->ckSize->isChecked());
        QCOMPARE(w->pgOptions->ckContent->text(), QStringLiteral("內容"));
        QFile stored(settingsPath);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("ckContent=dword:1"));
    }

    // Similar and its level: beside the criteria, whole in both languages, saved.
    void similarBoxAndLevelAreSavedAndSpeakBothLanguages() {
        makeWindow();
        QVERIFY(!w->pgOptions->ckSimilar->isChecked());
        QCOMPARE(w->pgOptions->cbSimilarLevel->currentText(), QStringLiteral("Normal"));
        auto fits = [this] {
            for (QWidget* mine : std::initializer_list<QWidget*>{w->pgOptions->ckSimilar,
                                                                 w->pgOptions->cbSimilarLevel}) {
                QVERIFY(mine->geometry().right() < w->pgOptions->tbsOptions->width());
                for (QWidget* other :
                     w->pgOptions->tbsOptions->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    QVERIFY2(other == mine || !other->geometry().intersects(mine->geometry()),
                             qPrintable(other->objectName()));
            }
            for (QAbstractButton* box : std::initializer_list<QAbstractButton*>{
                     w->pgOptions->ckSimilar, w->pgOptions->raClick, w->pgOptions->raDblClick})
                QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
        };
        fits();
        clickButton(w->pgOptions->ckSimilar);
        w->pgOptions->cbSimilarLevel->setCurrentIndex(2);
        selectPage(w->pgOptions->tbsMore);
        clickButton(w->pgOptions->rbChinese);
        QCOMPARE(w->pgOptions->ckSimilar->text(), QStringLiteral("相似"));
        QCOMPARE(w->pgOptions->cbSimilarLevel->currentText(), QStringLiteral("寬鬆"));
        fits();
        QTest::mouseClick(w->pgOptions->btnSaveOptions, Qt::LeftButton);
        QVERIFY(messages.errors.isEmpty());

        makeWindow();
        QVERIFY(w->pgOptions->ckSimilar->isChecked());
        QCOMPARE(w->pgOptions->cbSimilarLevel->currentIndex(), 2);
    }
};

QTEST_MAIN(OptionsWindowTest)
#include "options_window_test.moc"
