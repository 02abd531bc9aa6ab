// The typed settings file: values keep their types across a restart, a damaged line
// spoils only its own value, and a save that fails leaves the old file whole.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPointF>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "settingsformat.h"

using fenwa::platform::UnreadableSetting;

namespace {

QSettings::SettingsMap readText(const QByteArray& text) {
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    EXPECT_TRUE(fenwa::platform::readTypedSettings(buffer, map));
    return map;
}

QByteArray writeText(const QSettings::SettingsMap& map, bool* ok = nullptr) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool written = fenwa::platform::writeTypedSettings(buffer, map);
    if (ok)
        *ok = written;
    return buffer.data();
}

bool isUnreadable(const QVariant& v) {
    return v.typeId() == qMetaTypeId<UnreadableSetting>();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(SettingsFormat, ValuesComeBackWithTheirTypes) {
    QSettings::SettingsMap map;
    map["flag"] = 1;
    map["big"] = uint(4000000000u);
    map["negative"] = -1;
    map["bool"] = true;
    map["wide"] = qlonglong(1) << 40;
    map["empty"] = QString();
    map["text"] = QString::fromUtf8("  \"quoted\" back\\slash\nnew line 中文 = # ");
    map["bytes"] = QByteArray("\x00\xff", 2);
    map["odd = key"] = QStringLiteral("x");
    map["#comment-like"] = 2;
    const QSettings::SettingsMap back = readText(writeText(map));
    ASSERT_EQ(back.size(), map.size());
    EXPECT_EQ(back["flag"].typeId(), QMetaType::Int);
    EXPECT_EQ(back["flag"].toInt(), 1);
    EXPECT_EQ(back["big"].toUInt(), 4000000000u); // a dword is 32 bits, read as an int
    EXPECT_EQ(back["negative"].toInt(), -1);
    EXPECT_EQ(back["bool"].toInt(), 1);
    EXPECT_EQ(back["wide"].typeId(), QMetaType::LongLong);
    EXPECT_EQ(back["wide"].toLongLong(), qlonglong(1) << 40);
    EXPECT_EQ(back["empty"].typeId(), QMetaType::QString);
    EXPECT_EQ(back["empty"].toString(), QString());
    EXPECT_EQ(back["text"].toString(), map["text"].toString());
    EXPECT_EQ(back["bytes"].toByteArray(), map["bytes"].toByteArray());
    EXPECT_EQ(back["odd = key"].toString(), QStringLiteral("x"));
    EXPECT_EQ(back["#comment-like"].toInt(), 2);
}

TEST(SettingsFormat, FileIsReadableAndInNaturalOrder) {
    QSettings::SettingsMap map;
    for (int n : {10, 2, 1})
        map[QStringLiteral("Dir%1").arg(n)] = QStringLiteral("/d%1").arg(n);
    map["ckName"] = 0;
    const std::string text = writeText(map).toStdString();
    EXPECT_EQ(text, "# Fenwa settings: one value a line, name=type:data\n"
                    "ckName=dword:0\n"
                    "Dir1=sz:\"/d1\"\n"
                    "Dir2=sz:\"/d2\"\n"
                    "Dir10=sz:\"/d10\"\n");
}

TEST(SettingsFormat, DamagedLinesSpoilOnlyTheirOwnValue) {
    const QSettings::SettingsMap map = readText("# comment\n"
                                                "; another\n"
                                                "\n"
                                                "garbage without a name\n"
                                                "=dword:1\n"
                                                "good=dword:7\r\n"
                                                "letters=dword:abc\n"
                                                "toolarge=dword:4294967296\n"
                                                "unknown=float:1.5\n"
                                                "notype=12\n"
                                                "open=sz:\"no end\n"
                                                "bare=sz:\"a\"b\"\n"
                                                "badescape=sz:\"\\q\"\n"
                                                "oddhex=binary:ABC\n"
                                                "text=sz:\"fine\"\n"
                                                "last=dword:1");
    EXPECT_EQ(map["good"].toInt(), 7);
    EXPECT_EQ(map["text"].toString(), QStringLiteral("fine"));
    for (const char* name :
         {"letters", "toolarge", "unknown", "notype", "open", "bare", "badescape", "oddhex"})
        EXPECT_TRUE(isUnreadable(map[name])) << name;
    // The writer ends every line: a last line without its newline was cut short.
    EXPECT_TRUE(isUnreadable(map["last"]));
    EXPECT_EQ(map.size(), 11);
}

TEST(SettingsFormat, UnreadableLinesAreKeptUntilReplaced) {
    const QByteArray damaged = "keep=dword:x1\nvalue=dword:3\n";
    QSettings::SettingsMap map = readText(damaged);
    bool ok = false;
    const QByteArray text = writeText(map, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(text.contains("\nkeep=dword:x1\n"));
    map["keep"] = 5;
    EXPECT_TRUE(writeText(map).contains("\nkeep=dword:5\n"));
}

TEST(SettingsFormat, SavingThroughQSettingsKeepsTypesAndIsAllOrNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("sub/Fenwa.settings");
    {
        auto settings = fenwa::platform::openSettingsFile(path);
        settings->setValue("ckName", 1);
        settings->setValue("edTime", QStringLiteral("200"));
        settings->sync();
        ASSERT_EQ(settings->status(), QSettings::NoError);
    }
    const QByteArray before = fileBytes(path);
    EXPECT_TRUE(before.contains("ckName=dword:1\n"));
    {
        auto settings = fenwa::platform::openSettingsFile(path);
        EXPECT_EQ(settings->value("ckName").typeId(), QMetaType::Int);
        EXPECT_EQ(settings->value("edTime").typeId(), QMetaType::QString);
        // A value the format cannot hold makes the whole save fail: the old file stays
        // as it was and no temporary file is left behind.
        settings->setValue("ckName", 0);
        settings->setValue("point", QPointF(1, 2));
        settings->sync();
        EXPECT_NE(settings->status(), QSettings::NoError);
        EXPECT_EQ(fileBytes(path), before);
        settings->remove("point"); // let the destructor's own save succeed or not: no matter
    }
    EXPECT_EQ(QDir(dir.filePath("sub")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Fenwa.settings"});
}
