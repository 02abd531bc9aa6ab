// Loading and saving the options and directory list against a settings file of the
// test's own, with the controls replaced by a recorder.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>

#include "settingsformat.h"
#include "settingsstore.h"

using namespace fenwa;

namespace {

struct RecordingControls : SettingsControls {
    QStringList calls; // "name=value" in the order they were set
    std::map<QString, bool> flags;
    QString delay;
    std::vector<std::string> listed;
    std::set<std::string> existing;
    QStringList errors;
    QStringList notices;

    void setFlag(const QString& name, bool value) override {
        calls << name + "=" + (value ? "1" : "0");
        flags[name] = value;
    }
    void setText(const QString& name, const QString& value) override {
        calls << name + "=" + value;
        delay = value;
    }
    bool flag(const QString& name) const override {
        auto it = flags.find(name);
        return it != flags.end() && it->second;
    }
    QString text(const QString&) const override { return delay; }
    std::vector<std::string> directories() const override { return listed; }
    void appendDirectory(const std::string& d) override { listed.push_back(d); }
    bool isExistingDirectory(const std::string& d) const override { return existing.count(d); }
    void showError(const QString& m) override { errors << m; }
    void showInformation(const QString& m) override { notices << m; }
};

QStringList defaultCalls() {
    QStringList calls;
    for (const SettingValue& v : SettingsTable)
        calls << QString::fromLatin1(v.name) + "=" +
                     (v.kind == SettingKind::Flag ? (v.flagDefault ? "1" : "0")
                                                  : QString::fromLatin1(v.textDefault));
    return calls;
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
    EXPECT_FALSE(QFile::exists(path)); // loading never creates the store
}

TEST_F(SettingsStoreTest, EverySavedValueComesBack) {
    RecordingControls saved;
    // Every flag the opposite of its default, so a value that is not stored shows.
    for (const SettingValue& v : SettingsTable)
        if (v.kind == SettingKind::Flag)
            saved.flags[QString::fromLatin1(v.name)] = !v.flagDefault;
    saved.delay = QStringLiteral(" 35");
    saved.listed = {"/pictures", "/相片/2020", "/a b"};
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
        if (v.kind == SettingKind::Flag)
            EXPECT_EQ(loaded.flags[QString::fromLatin1(v.name)], !v.flagDefault) << v.name;
    EXPECT_EQ(loaded.delay, QStringLiteral(" 35"));
    EXPECT_EQ(loaded.listed, saved.listed);
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
        {"ckPreview=binary:01000000\n", "Failed to get data for 'ckPreview'"},
        {"edTime=dword:200\n", "Invalid data type for 'edTime'"},
        {"edTime=sz:\"20", "Failed to get data for 'edTime'"}, // cut short
        {"DirCount=sz:\"2\"\n", "Invalid data type for 'DirCount'"},
        {"Dir1=dword:1\n", "Invalid data type for 'Dir1'"},
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
