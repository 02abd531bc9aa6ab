// Loading and saving the options and directory list against a settings file of the
// test's own, with the controls replaced by a recorder.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settingsformat.h"
#include "settingsstore.h"

using namespace fenwa;

namespace {

struct RecordingControls : SettingsControls {
    QStringList calls; // "name=value" in the order they were set
    std::map<QString, bool> flags;
    QString delay;                    // edTime
    std::map<QString, QString> texts; // the other texts
    std::vector<std::string> listed;
    std::set<std::string> existing;
    std::set<size_t> protectedAt;                     // entries of `listed`
    std::vector<std::string> folders = {"/unloaded"}; // the options' protected folders
    std::vector<std::string> skipped = {"/unloaded"}; // the folders a search skips
    QStringList errors;
    QStringList notices;

    void setFlag(const QString& name, bool value) override {
        calls << name + "=" + (value ? "1" : "0");
        flags[name] = value;
    }
    void setText(const QString& name, const QString& value) override {
        calls << name + "=" + value;
        (name == QLatin1String("edTime") ? delay : texts[name]) = value;
    }
    bool flag(const QString& name) const override {
        auto it = flags.find(name);
        return it != flags.end() && it->second;
    }
    QString text(const QString& name) const override {
        if (name == QLatin1String("edTime"))
            return delay;
        auto it = texts.find(name);
        return it != texts.end() ? it->second : QString();
    }
    std::vector<std::string> directories() const override { return listed; }
    void appendDirectory(const std::string& d) override { listed.push_back(d); }
    bool isDirectoryProtected(size_t i) const override { return protectedAt.count(i); }
    void protectDirectory(size_t i) override { protectedAt.insert(i); }
    std::vector<std::string> protectedFolders() const override { return folders; }
    void setProtectedFolders(const std::vector<std::string>& f) override { folders = f; }
    std::vector<std::string> skipFolders() const override { return skipped; }
    void setSkipFolders(const std::vector<std::string>& f) override { skipped = f; }
    bool isExistingDirectory(const std::string& d) const override { return existing.count(d); }
    bool onDisk = false; // directories are also looked at on the real disk
    std::vector<platform::FileIdentity> directoryAncestry(const std::string& d) const override {
        return onDisk ? platform::directoryAncestry(d) : std::vector<platform::FileIdentity>{};
    }
    void showError(const QString& m) override { errors << m; }
    void showInformation(const QString& m) override { notices << m; }
};

// What a first run sets, in the table's order, written out so that a wrong default in
// the table shows.
QStringList defaultCalls() {
    return {"ckName=0",    "ckSize=1",       "ckTime=0",      "ckInclude=1",
            "ckPreview=1", "ckShowSlides=1", "raDblClick=1",  "raClick=0",
            "edTime=200",  "rbFullSize=0",   "rbHalf=1",      "rbQuarter=0",
            "rbEighth=0",  "ckNoConfirm=0",  "ckNoRecycle=0", "rbEnglish=1",
            "rbChinese=0", "ckContent=0",    "ckSimilar=0",   "cbSimilarLevel=2",
            "edMinSize=",  "edMaxSize=",     "ckSkipEmpty=0", "ckPicturesOnly=0"};
}

class SettingsStoreTest : public testing::Test {
protected:
    QTemporaryDir tmp;
    QString path;
    RecordingControls loaded;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        path = tmp.filePath("Fenwa.settings");
    }
    int written = 0;
    // Each text gets a file of its own: QSettings caches a file it has read and could
    // miss a rewrite of the same size within the same millisecond.
    void writeFile(const QByteArray& text) {
        path = tmp.filePath(QStringLiteral("Fenwa%1.settings").arg(++written));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    void load(platform::PathStyle style = platform::PathStyle::Posix) {
        auto settings = platform::openSettingsFile(path);
        loadSettings(*settings, loaded, style);
    }
    bool save(RecordingControls& controls) {
        auto settings = platform::openSettingsFile(path);
        return saveSettings(*settings, controls);
    }
};

} // namespace

TEST_F(SettingsStoreTest, FirstRunSetsEveryDefaultInTableOrder) {
    load();
    EXPECT_EQ(loaded.calls, defaultCalls());
    EXPECT_TRUE(loaded.errors.isEmpty());
    EXPECT_TRUE(loaded.listed.empty());
    EXPECT_TRUE(loaded.folders.empty()); // a store without them protects nothing
    EXPECT_TRUE(loaded.skipped.empty()); // and skips nothing
    EXPECT_FALSE(QFile::exists(path));   // loading never creates the store
}

TEST_F(SettingsStoreTest, EverySavedValueComesBack) {
    RecordingControls saved;
    // Every flag the opposite of its default, so a value that is not stored shows.
    for (const SettingValue& v : SettingsTable)
        if (v.kind == SettingKind::Flag)
            saved.flags[QString::fromLatin1(v.name)] = !v.flagDefault;
    saved.delay = QStringLiteral(" 35");
    saved.listed = {"/pictures", "/相片/2020", "/a b"};
    saved.protectedAt = {1};
    // Any folders, listed or not, there now or not, and a name that is not UTF-8.
    saved.folders = {"/pictures/camera", "/media/gone", "/caf\xe9"};
    saved.skipped = {"/pictures/thumbs", "/media/gone"};
    saved.texts["edMinSize"] = QStringLiteral("1.5M");
    saved.texts["edMaxSize"] = QStringLiteral("2 G");
    ASSERT_TRUE(save(saved));
    EXPECT_EQ(saved.notices, QStringList{"恭禧您啦!您的設定值已經儲存"});
    EXPECT_TRUE(saved.errors.isEmpty());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("\nckName=dword:1\n"));
    EXPECT_TRUE(text.contains("\nedTime=sz:\" 35\"\n"));
    EXPECT_TRUE(text.contains("\nDirCount=dword:3\n"));
    EXPECT_TRUE(text.contains("\nDir2=sz:\"/相片/2020\"\n"));

    loaded.existing = {"/pictures", "/相片/2020", "/a b"};
    load();
    EXPECT_TRUE(loaded.errors.isEmpty());
    for (const SettingValue& v : SettingsTable)
        if (v.kind == SettingKind::Flag) {
            EXPECT_EQ(loaded.flags[QString::fromLatin1(v.name)], !v.flagDefault) << v.name;
        }
    EXPECT_EQ(loaded.delay, QStringLiteral(" 35"));
    EXPECT_EQ(loaded.listed, saved.listed);
    EXPECT_EQ(loaded.protectedAt, saved.protectedAt);
    EXPECT_EQ(loaded.folders, saved.folders);
    EXPECT_EQ(loaded.skipped, saved.skipped);
    EXPECT_EQ(loaded.texts["edMinSize"], QStringLiteral("1.5M"));
    EXPECT_EQ(loaded.texts["edMaxSize"], QStringLiteral("2 G"));
}

TEST_F(SettingsStoreTest, AWrongTypeStopsTheLoadAtThatValue) {
    writeFile("ckName=dword:1\n"
              "ckSize=dword:0\n"
              "ckTime=sz:\"1\"\n"
              "ckInclude=dword:0\n"
              "DirCount=dword:1\n"
              "Dir1=sz:\"/p\"\n");
    loaded.existing = {"/p"};
    load();
    EXPECT_EQ(loaded.errors, QStringList{"Invalid data type for 'ckTime'"});
    QStringList expected = defaultCalls();
    expected[0] = "ckName=1"; // read before the failure: stands
    expected[1] = "ckSize=0";
    EXPECT_EQ(loaded.calls, expected); // ckTime and ckInclude take their defaults
    EXPECT_TRUE(loaded.listed.empty());
}

TEST_F(SettingsStoreTest, DataThatDoesNotFitIsReported) {
    const std::pair<const char*, const char*> cases[] = {
        {"ckPreview=qword:1\n", "Failed to get data for 'ckPreview'"},
        {"ckPreview=dword:4294967296\n", "Failed to get data for 'ckPreview'"},
        {"ckPreview=binary:0100000000\n", "Failed to get data for 'ckPreview'"},
        {"ckPreview=binary:01000000\n", "Invalid data type for 'ckPreview'"}, // fits 32 bits
        {"ckPreview=sz:\"1\"\n", "Invalid data type for 'ckPreview'"},        // 4 bytes
        {"ckPreview=sz:\"12\"\n", "Failed to get data for 'ckPreview'"},
        {"edTime=dword:200\n", "Invalid data type for 'edTime'"},
        {"edTime=sz:\"20", "Failed to get data for 'edTime'"}, // cut short
        {"DirCount=sz:\"2\"\n", "Invalid data type for 'DirCount'"},
        {"Dir1=dword:1\n", "Invalid data type for 'Dir1'"},
        {"ProtectedCount=dword:1\nProtected1=dword:1\n", "Invalid data type for 'Protected1'"},
    };
    for (const auto& [text, message] : cases) {
        writeFile(text);
        loaded = {};
        load();
        EXPECT_EQ(loaded.errors, QStringList{message}) << text;
        EXPECT_EQ(loaded.calls.size(), qsizetype(SettingsTable.size())) << text;
    }
}

TEST_F(SettingsStoreTest, AnyNonZeroNumberIsTrue) {
    writeFile("ckName=dword:4294967295\nckSize=dword:0\nckTime=dword:2\n");
    load();
    EXPECT_TRUE(loaded.flags["ckName"]);
    EXPECT_FALSE(loaded.flags["ckSize"]);
    EXPECT_TRUE(loaded.flags["ckTime"]);
}

TEST_F(SettingsStoreTest, DirectoriesAreSkippedWhenMissingVanishedRepeatedOrBeyondTheCount) {
    loaded.existing = {"/a", "/b", "/c", "/d"};
    writeFile("DirCount=dword:2\nDir1=sz:\"/a\"\nDir2=sz:\"/gone\"\nDir3=sz:\"/b\"\n");
    load();
    EXPECT_EQ(loaded.listed, std::vector<std::string>{"/a"});

    // Without a count every stored position is tried; gaps, empty texts and names with
    // leading zeros are not entries.
    loaded.listed.clear();
    writeFile("Dir1=sz:\"/a\"\nDir3=sz:\"\"\nDir5=sz:\"/c\"\nDir07=sz:\"/b\"\nDir2=sz:\"/a\"\n"
              "Dir1000=sz:\"/b\"\nDir1001=sz:\"/d\"\n");
    load();
    EXPECT_EQ(loaded.listed, (std::vector<std::string>{"/a", "/c", "/b"}));

    loaded.listed.clear();
    writeFile("DirCount=dword:0\nDir1=sz:\"/a\"\n");
    load();
    EXPECT_TRUE(loaded.listed.empty());
}

TEST_F(SettingsStoreTest, ADirectoryAgainOrARelativeIsRefusedNamedAndKeepsItsProtection) {
    const std::string root = tmp.path().toStdString();
    const std::string d = root + "/d", sub = d + "/sub", e = root + "/e", link = root + "/link";
    for (const std::string& dir : {d, sub, e})
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(d.c_str(), link.c_str()), 0);
    loaded.existing = {d, sub, e, link};
    loaded.onDisk = true;
    writeFile(QByteArray::fromStdString("Dir1=sz:\"" + d + "\"\nDir2=sz:\"" + link +
                                        "\"\nDirProtect2=dword:1\nDir3=sz:\"" + sub +
                                        "\"\nDir4=sz:\"" + e + "\"\n"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    file.close();
    load();
    EXPECT_EQ(loaded.listed, (std::vector<std::string>{d, e}));
    EXPECT_EQ(loaded.protectedAt, std::set<size_t>{0}); // the link's mark, on what it names
    ASSERT_EQ(loaded.errors.size(), 1);
    const QString& message = loaded.errors.front();
    EXPECT_TRUE(message.startsWith(QString::fromUtf8(MsgRestoredDirectoriesRefused)));
    for (const std::string& line :
         {link + " and " + d + " are the same directory", sub + " 和 " + d + " 是直系親屬"})
        EXPECT_TRUE(message.contains(QString::fromStdString(line))) << message.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), stored);
}

TEST_F(SettingsStoreTest, RepeatsInOtherCaseCountAsOneOnlyOnWindows) {
    writeFile("Dir1=sz:\"C:\\\\Pics\"\nDir2=sz:\"c:\\\\PICS\"\n");
    loaded.existing = {"C:\\Pics", "c:\\PICS"};
    load(platform::PathStyle::Windows);
    EXPECT_EQ(loaded.listed, std::vector<std::string>{"C:\\Pics"});
    loaded.listed.clear();
    load(platform::PathStyle::Posix); // two different directories there
    EXPECT_EQ(loaded.listed.size(), 2u);
}

TEST_F(SettingsStoreTest, ASmallerSaveLeavesOldEntriesThatTheCountHides) {
    RecordingControls five;
    five.listed = {"/1", "/2", "/3", "/4", "/5"};
    ASSERT_TRUE(save(five));
    RecordingControls three;
    three.listed = {"/1", "/2", "/3"};
    ASSERT_TRUE(save(three));
    {
        auto settings = platform::openSettingsFile(path);
        EXPECT_EQ(settings->value("Dir5").toString(), QStringLiteral("/5"));
        EXPECT_EQ(settings->value("DirCount").toInt(), 3);
    }
    loaded.existing = {"/1", "/2", "/3", "/4", "/5"};
    load();
    EXPECT_EQ(loaded.listed, three.listed);
}

TEST_F(SettingsStoreTest, AFailedSaveIsReportedAndKeepsTheOldStore) {
    RecordingControls controls;
    // The store's folder cannot be made: its place is taken by a file.
    QFile blocker(tmp.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto settings = platform::openSettingsFile(tmp.filePath("blocked/Fenwa.settings"));
    EXPECT_FALSE(saveSettings(*settings, controls));
    EXPECT_EQ(controls.errors, QStringList{"Failed to set data for 'ckName'"});
    EXPECT_TRUE(controls.notices.isEmpty());
}

// ---------------------------------------------------------------------------
// Damaged stores and saves that cannot finish

namespace {

// A load of a damaged store must set every control (the stored value or its default),
// show at most one message and name the value in it.
void expectStartable(const RecordingControls& c, const char* what) {
    EXPECT_EQ(c.calls.size(), qsizetype(SettingsTable.size())) << what;
    EXPECT_LE(c.errors.size(), 1) << what;
    for (const QString& e : c.errors)
        EXPECT_TRUE(e.startsWith("Invalid data type for '") ||
                    e.startsWith("Failed to get data for '"))
            << what << ": " << e.toStdString();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST_F(SettingsStoreTest, EveryTruncationOfASavedStoreStillStarts) {
    RecordingControls saved;
    for (const SettingValue& v : SettingsTable)
        if (v.kind == SettingKind::Flag)
            saved.flags[QString::fromLatin1(v.name)] = !v.flagDefault;
    saved.delay = QStringLiteral("75");
    saved.listed = {"/p", "/相片"};
    ASSERT_TRUE(save(saved));
    const QByteArray whole = fileBytes(path);
    for (qsizetype length = 0; length < whole.size(); ++length) {
        writeFile(whole.left(length));
        loaded = {};
        loaded.existing = {"/p", "/相片"};
        load();
        expectStartable(loaded, "truncated");
        // What was read before the cut stands: the first flag once its line is whole.
        if (whole.left(length).contains("\nckSize=dword:0\n")) {
            EXPECT_FALSE(loaded.flags["ckSize"]) << length;
        }
    }
}

TEST_F(SettingsStoreTest, BinaryGarbageStartsWithTheDefaults) {
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round) {
        QByteArray garbage(4096 + round * 97, '\0');
        for (char& c : garbage)
            c = char(random());
        // Some rounds look a little like the format, to get past the first checks.
        if (round % 2)
            garbage.replace(qsizetype(random() % 4000), 16, "\nckName=dword:x\n");
        writeFile(garbage);
        loaded = {};
        load();
        expectStartable(loaded, "garbage");
    }
}

TEST_F(SettingsStoreTest, AHugeStoreLoadsItsValuesOrDefaults) {
    // 50 MB: a page of lines that name nothing, one enormous text, then a real value.
    QByteArray text;
    text.reserve(50 << 20);
    const QByteArray noise = "this line names no value at all, it is only noise\n";
    while (text.size() < (30 << 20))
        text += noise;
    text += "edTime=sz:\"" + QByteArray(20 << 20, '7') + "\"\n";
    text += "ckTime=dword:1\n";
    writeFile(text);
    load();
    expectStartable(loaded, "huge");
    EXPECT_TRUE(loaded.errors.isEmpty());
    EXPECT_TRUE(loaded.flags["ckTime"]);
    EXPECT_EQ(loaded.delay.size(), 20 << 20);
}

TEST_F(SettingsStoreTest, AnyWrongTypeForAnyValueIsNamedAndStartsWithDefaults) {
    const char* wrongData[] = {
        "sz:\"1\"", "dword:1",  "qword:1",           "binary:01",  "binary:",           "sz:",
        "dword:",   "dword:-1", "dword:99999999999", "nonsense:1", "sz:\"unterminated", ""};
    std::vector<QString> names;
    for (const SettingValue& v : SettingsTable)
        names.push_back(QString::fromLatin1(v.name));
    for (const char* name :
         {"DirCount", "Dir1", "ProtectedCount", "Protected1", "SkipCount", "Skip1"})
        names.push_back(QString::fromLatin1(name));
    for (const QString& name : names) {
        for (const char* data : wrongData) {
            writeFile(name.toLatin1() + "=" + data + "\n");
            loaded = {};
            load();
            expectStartable(loaded, data);
            if (!loaded.errors.isEmpty()) {
                EXPECT_TRUE(loaded.errors.front().endsWith("'" + name + "'"))
                    << loaded.errors.front().toStdString();
            }
        }
    }
}

// Saving writes a new file beside the old one and renames it over; every way that can
// fail must leave the old file as it was and say so.
class SettingsSaveFailureTest : public SettingsStoreTest {
protected:
    QByteArray before;
    RecordingControls changed;

    void SetUp() override {
        SettingsStoreTest::SetUp();
        changed.flags["ckName"] = true;
        changed.delay = QStringLiteral("1234");
        changed.listed = {"/some/where"};
    }
    // A store at storePath, then a save of other values that must fail.
    void expectFailedSaveKeeps(const QString& storePath) {
        EXPECT_EQ(changed.errors, QStringList{"Failed to set data for 'ckName'"});
        EXPECT_TRUE(changed.notices.isEmpty());
        EXPECT_EQ(fileBytes(storePath), before);
        // Read straight from the file: QSettings would answer from its in-process cache.
        QFile file(storePath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QSettings::SettingsMap map;
        platform::readTypedSettings(file, map);
        EXPECT_EQ(map.value("ckName"), QVariant(0));
        EXPECT_EQ(map.value("edTime"), QVariant(QStringLiteral("200")));
    }
    void writeOldStore(const QString& storePath) {
        RecordingControls old;
        old.delay = QStringLiteral("200");
        auto settings = platform::openSettingsFile(storePath);
        ASSERT_TRUE(saveSettings(*settings, old));
        before = fileBytes(storePath);
        ASSERT_TRUE(before.contains("edTime=sz:\"200\""));
    }
};

TEST_F(SettingsSaveFailureTest, AFileSizeLimitMidWriteKeepsTheOldStore) {
    // The system refuses to let the new file grow past 64 bytes, as a full disk would.
    writeOldStore(path);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool ok;
    {
        auto settings = platform::openSettingsFile(path);
        ok = saveSettings(*settings, changed);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(ok);
    expectFailedSaveKeeps(path);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no leftovers
}

// A small file system of the test's own; needs the right to mount (root in CI).
class TinyFileSystem {
public:
    explicit TinyFileSystem(const QString& where) : where_(QFile::encodeName(where)) {
        QDir().mkpath(where);
        mounted_ = ::mount("tmpfs", where_.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~TinyFileSystem() {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() {
        return ::mount("tmpfs", where_.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") ==
               0;
    }

private:
    QByteArray where_;
    bool mounted_ = false;
};

TEST_F(SettingsSaveFailureTest, AFullDiskKeepsTheOldStore) {
    TinyFileSystem disk(tmp.filePath("disk"));
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    const QString store = tmp.filePath("disk/Fenwa.settings");
    writeOldStore(store);
    // Fill what is left of the disk.
    QFile filler(tmp.filePath("disk/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    {
        auto settings = platform::openSettingsFile(store);
        EXPECT_FALSE(saveSettings(*settings, changed));
    }
    expectFailedSaveKeeps(store);
}

TEST_F(SettingsSaveFailureTest, AReadOnlyFileSystemKeepsTheOldStore) {
    TinyFileSystem disk(tmp.filePath("disk"));
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    const QString store = tmp.filePath("disk/Fenwa.settings");
    writeOldStore(store);
    ASSERT_TRUE(disk.remountReadOnly());
    {
        auto settings = platform::openSettingsFile(store);
        EXPECT_FALSE(saveSettings(*settings, changed));
    }
    expectFailedSaveKeeps(store);
}

TEST_F(SettingsStoreTest, DirectoriesThatAreNotUtf8ComeBackByteForByte) {
    RecordingControls saved;
    saved.listed = {"/p/\xff\xfe odd", "/p/plain", "/p/caf\xe9"};
    ASSERT_TRUE(save(saved));
    loaded.existing = {"/p/\xff\xfe odd", "/p/plain", "/p/caf\xe9"};
    load();
    EXPECT_TRUE(loaded.errors.isEmpty());
    EXPECT_EQ(loaded.listed, saved.listed);
    EXPECT_TRUE(fileBytes(path).contains("\nDir2=sz:\"/p/plain\"\n")); // texts stay texts
}
