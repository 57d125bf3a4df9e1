// The recordings table sorts by values (times, lengths, sizes), not texts;
// the playback page keeps its panel's width and picture shape per user.

#include "live/liveviewsettings.h"
#include "live/videosurface.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideoonlypb.h"
#include "playback/recordingtable.h"
#include "playback/videosearch.h"

#include <QAction>
#include <QSplitter>
#include <QTest>

using varno::live::LiveViewSettings;
using varno::playback::RecordingKind;
using varno::playback::RecordingTable;

class tst_RecordingTable : public QObject
{
    Q_OBJECT

private slots:
    // "10:00" after "9:00", "10.00" MB after "9.50" MB, a camera file's
    // start from its name, cameras whatever their case.
    void sortsByValue_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("ascending");
        QTest::newRow("start") << int(RecordingTable::ColStart) << "1ba";
        QTest::newRow("length") << int(RecordingTable::ColDuration) << "1ab";
        QTest::newRow("size") << int(RecordingTable::ColSize) << "ba1";
        QTest::newRow("camera") << int(RecordingTable::ColCamera) << "a1b";
        QTest::newRow("type") << int(RecordingTable::ColType) << "ab1";
    }
    void sortsByValue()
    {
        QFETCH(int, column);
        QFETCH(QString, ascending);
        RecordingTable table;
        const auto at = [](const char *t) { return QDateTime::fromString(QLatin1String(t), Qt::ISODate); };
        MEDIA_FILE_S cameraFile{};
        cameraFile.size = 10485760; // 10.00 MB
        table.addRows({{"a", "alpha", at("2021-01-01T09:00:00"), 540, RecordingKind::Manual, 9961472, false},
                       {"b", "zulu", at("2020-12-31T23:59:59"), 3605, RecordingKind::Motion, 1048576, false},
                       varno::playback::recordingRow("190101_08:00:00.h264", cameraFile, true, "Beta")});
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            table.sortItems(column, order);
            QString keys;
            for (int r = 0; r < table.rowCount(); ++r)
                keys += table.keyAt(r).left(1);
            QCOMPARE(keys, ascending);
            std::reverse(ascending.begin(), ascending.end());
        }
        table.sortItems(RecordingTable::ColStart, Qt::AscendingOrder);
        QCOMPARE(table.item(0, RecordingTable::ColStart)->text(), QStringLiteral("2019-01-01 08:00:00"));
        QCOMPARE(table.item(0, RecordingTable::ColDuration)->text(), QStringLiteral("\u2014"));
        QCOMPARE(table.item(1, RecordingTable::ColDuration)->text(), QStringLiteral("1:00:05"));
        QVERIFY(varno::playback::recordingKind(3) == RecordingKind::Motion
                && varno::playback::recordingKind(2) == RecordingKind::Io);
    }

    // The panel's width follows the user who dragged it, the windows'
    // picture shape the user who chose it (apart from the live view's).
    void keptPerUser()
    {
        QFile::remove(LiveViewSettings::filePath());
        int dragged = 0;
        {
            videosearch page;
            page.resize(1200, 600);
            page.setUserName(QStringLiteral("anna"));
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            const int before = page.splitter()->sizes().value(0);
            QSplitterHandle *handle = page.splitter()->handle(1);
            QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(2, 100));
            QTest::mouseMove(handle, QPoint(122, 100));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(122, 100));
            dragged = page.splitter()->sizes().value(0);
            QVERIFY2(dragged > before + 60, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(dragged)));
            QTRY_COMPARE_WITH_TIMEOUT(LiveViewSettings::playbackPanelWidth(QStringLiteral("anna")), dragged, 10000);
            qvideoonlypb *grid = page.grid();
            QVERIFY(grid->keepAspect() && grid->window(0)->video()->keepAspect());
            QCOMPARE(grid->aspectAction()->text(), QStringLiteral("Keep aspect ratio"));
            grid->aspectAction()->trigger();
            QVERIFY(!grid->keepAspect() && !grid->window(0)->video()->keepAspect());
        }
        videosearch page;
        page.resize(1200, 600);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(page.splitter()->sizes().value(0) != dragged && page.grid()->keepAspect());
        page.setUserName(QStringLiteral("anna"));
        QTRY_COMPARE(page.splitter()->sizes().value(0), dragged);
        QVERIFY(!page.grid()->keepAspect() && !page.grid()->window(0)->video()->keepAspect());
        page.setUserName(QStringLiteral("ben"));
        QVERIFY(page.splitter()->sizes().value(0) != dragged && page.grid()->window(0)->video()->keepAspect());
        QVERIFY(LiveViewSettings::keepAspect(QStringLiteral("anna")));
    }
};

QTEST_MAIN(tst_RecordingTable)
#include "tst_recordingtable.moc"
