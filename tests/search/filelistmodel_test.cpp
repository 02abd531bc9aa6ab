#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <mutex>

#include "filelistmodel.h"

using namespace fenwa;

class FileListModelTest : public QObject {
    Q_OBJECT

    static FileRecordStore rows(std::initializer_list<const char*> names) {
        FileRecordStore s;
        uint32_t d = s.internDirectory("/d");
        int64_t size = 0;
        for (const char* n : names)
            s.append(d, n, size++, 0);
        return s;
    }

    static QStringList names(const FileListModel& m) {
        QStringList out;
        for (int r = 0; r < m.rowCount(); ++r)
            out << m.index(r, ColName).data().toString();
        return out;
    }

private slots:
    void appendRemovePermuteUnderTheModelTester() {
        FileListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.appendRows(rows({"a.jpg", "b.txt", "c.gif"}));
        model.appendRows(rows({"d.bmp", "e.png"}));
        QCOMPARE(names(model), QStringList({"a.jpg", "b.txt", "c.gif", "d.bmp", "e.png"}));
        QCOMPARE(model.index(3, ColDirectory).data().toString(), QStringLiteral("/d"));
        QCOMPARE(model.index(4, ColSize).data().toString(), QStringLiteral("1"));
        QCOMPARE(model.index(4, ColType).data().toString(), QStringLiteral(".png"));
        QCOMPARE(model.index(0, ColTime).data().toString(), QStringLiteral("1970/01/01 00:00"));
        QCOMPARE(model.index(0, ColSize).data(Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignRight | Qt::AlignVCenter));

        QPersistentModelIndex cgif = model.index(2, ColName);
        model.removeRows({true, false, false, true});
        QCOMPARE(names(model), QStringList({"b.txt", "c.gif", "e.png"}));
        QCOMPARE(cgif.row(), 1);

        model.permute({2, 0, 1});
        QCOMPARE(names(model), QStringList({"e.png", "b.txt", "c.gif"}));
        QCOMPARE(cgif.row(), 2);

        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    void manyScatteredRemovalsKeepTheRightRows() {
        FileListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        FileRecordStore s;
        uint32_t d = s.internDirectory("/d");
        for (int i = 0; i < 1000; ++i)
            s.append(d, std::to_string(i), i, 0);
        model.appendRows(std::move(s));
        std::vector<bool> remove(1000);
        for (int i = 0; i < 1000; i += 3)
            remove[size_t(i)] = true; // far more runs than one removal each would suit
        model.removeRows(remove);
        QCOMPARE(model.rowCount(), 666);
        QCOMPARE(model.index(0, ColName).data().toString(), QStringLiteral("1"));
        QCOMPARE(model.index(665, ColName).data().toString(), QStringLiteral("998"));
    }

    void iconsShowTheirDecoration() {
        FileListModel model;
        model.setIconDecorations({QVariant("image"), QVariant("other"), QVariant("hand")});
        model.appendRows(rows({"a.jpg", "b.txt"}));
        QCOMPARE(model.index(0, ColName).data(Qt::DecorationRole).toString(),
                 QStringLiteral("image"));
        QCOMPARE(model.index(1, ColName).data(Qt::DecorationRole).toString(),
                 QStringLiteral("other"));
        QVERIFY(!model.index(1, ColSize).data(Qt::DecorationRole).isValid());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setIcon(1, IconCurrentGroup);
        QCOMPARE(changed.count(), 1);
        model.setIcon(1, IconCurrentGroup); // unchanged: no notification
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.index(1, ColName).data(Qt::DecorationRole).toString(),
                 QStringLiteral("hand"));
    }

    void everyOtherGroupIsShadedAsTheListStands() {
        FileListModel model;
        model.setGroupShade(QVariant(QStringLiteral("shade")));
        FileRecordStore s = rows({"a", "b", "c", "d", "e", "f"});
        const uint32_t groups[] = {1, 1, 2, 2, 2, 3};
        for (size_t r = 0; r < s.size(); ++r)
            s.setGroup(r, groups[r]);
        model.appendRows(std::move(s));
        const auto bands = [&] {
            QString out;
            for (int r = 0; r < model.rowCount(); ++r)
                out +=
                    model.index(r, ColSize).data(FileListModel::GroupBandRole).toBool() ? '1' : '0';
            return out;
        };
        QCOMPARE(bands(), QStringLiteral("001110"));
        QCOMPARE(model.index(2, ColName).data(Qt::BackgroundRole).toString(),
                 QStringLiteral("shade"));
        QVERIFY(!model.index(0, ColName).data(Qt::BackgroundRole).isValid());
        // Bands follow a reordering and a removal: f, a, b, c, d, e then without b's group.
        model.permute({5, 0, 1, 2, 3, 4});
        QCOMPARE(bands(), QStringLiteral("011000"));
        model.removeRows({false, false, false, true, true, true});
        QCOMPARE(bands(), QStringLiteral("011"));
        // A list of every file has no groups and no shade.
        model.clear();
        model.appendRows(rows({"x", "y"}));
        QCOMPARE(bands(), QStringLiteral("00"));
    }

    void pictureFactsAreAskedForOncePerFileAndLikenessShowsItsPercent() {
        FileListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::mutex mutex;
        QStringList asked;
        model.setPictureFactsReader([&](const std::string& path) {
            const std::lock_guard lock(mutex);
            asked << QString::fromStdString(path);
            return PictureFacts{path.ends_with(".jpg") ? 40 : 64, 30,
                                path.ends_with(".jpg") ? 20190506070809u : 0u};
        });
        FileRecordStore s;
        const uint32_t d = s.internDirectory("/d", 1);
        s.append(d, "a.jpg", 1, 0, 11, 5);
        s.append(d, "b.png", 1, 0, 12, 5);
        s.append(d, "c.txt", 1, 0, 13, 5);
        s.append(d, "e.jpg", 1, 0, 0, 0); // identity unknown: known by its path
        s.setLikeness(1, 97);
        model.appendRows(std::move(s));
        const auto text = [&](int row, int column) {
            return model.index(row, column).data().toString();
        };
        QCOMPARE(text(0, ColPictureSize), QString()); // asked for, not read yet
        QCOMPARE(text(2, ColPictureSize), QString());
        QCOMPARE(text(3, ColTaken), QString());
        QTRY_COMPARE(text(0, ColPictureSize), QString::fromUtf8("40 × 30"));
        QTRY_COMPARE(text(3, ColTaken), QStringLiteral("2019/05/06 07:08"));
        QCOMPARE(text(1, ColPictureSize), QString());
        QTRY_COMPARE(text(1, ColPictureSize), QString::fromUtf8("64 × 30"));
        QCOMPARE(text(1, ColTaken), QString()); // the file does not say
        QCOMPARE(text(2, ColTaken), QString());
        QCOMPARE(text(1, ColLikeness), QStringLiteral("97%"));
        QCOMPARE(text(0, ColLikeness), QString());
        // Shown again, sorted, a file is not read again; the text file never was.
        model.permute({3, 2, 1, 0});
        QCOMPARE(text(3, ColPictureSize), QString::fromUtf8("40 × 30"));
        QCOMPARE(text(0, ColPictureSize), QString::fromUtf8("40 × 30"));
        QCOMPARE(model.readAllPictureFacts([](bool) {}), false); // every picture is known
        {
            const std::lock_guard lock(mutex);
            asked.sort();
            QCOMPARE(asked, QStringList({"/d/a.jpg", "/d/b.png", "/d/e.jpg"}));
        }
        // A file whose status changed is read again.
        model.setChangeStamp(3, 6);
        QCOMPARE(text(3, ColPictureSize), QString());
        QTRY_COMPARE(text(3, ColPictureSize), QString::fromUtf8("40 × 30"));
        const std::lock_guard lock(mutex);
        QCOMPARE(asked.size(), 4);
    }
};

QTEST_GUILESS_MAIN(FileListModelTest)
#include "filelistmodel_test.moc"
