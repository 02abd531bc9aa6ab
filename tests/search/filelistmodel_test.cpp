#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(FileListModelTest)
#include "filelistmodel_test.moc"
