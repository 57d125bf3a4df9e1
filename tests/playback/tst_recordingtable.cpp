// The playback page's recordings table and its frame: rows sorted by their
// values (times, lengths and sizes, not their texts), cameras by name, the
// search panel's width and the windows' picture shape kept per user.

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "live/liveviewsettings.h"
#include "live/videosurface.h"
#include "playback/fileplay.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideoonlypb.h"
#include "playback/recordingtable.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTest>

#include <memory>

using namespace pbtest;
using varno::live::LiveViewSettings;
using varno::playback::RecordingKind;
using varno::playback::RecordingRow;
using varno::playback::RecordingTable;

namespace {

QStringList keys(const RecordingTable &table)
{
    QStringList out;
    for (int r = 0; r < table.rowCount(); ++r)
        out << table.keyAt(r);
    return out;
}

RecordingRow row(const QString &key, const QString &camera, const QString &start, int seconds, RecordingKind kind,
                 qint64 size)
{
    RecordingRow r;
    r.key = key;
    r.camera = camera;
    r.start = QDateTime::fromString(start, Qt::ISODate);
    r.durationSec = seconds;
    r.kind = kind;
    r.size = size;
    return r;
}

// Drags the splitter's handle by dx pixels, as a user's mouse does.
void dragHandle(QSplitter *splitter, int dx)
{
    QSplitterHandle *handle = splitter->handle(1);
    const QPoint from(handle->width() / 2, handle->height() / 2);
    const QPoint to = from + QPoint(dx, 0);
    QMouseEvent press(QEvent::MouseButtonPress, from, handle->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &press);
    QMouseEvent move(QEvent::MouseMove, to, handle->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, handle->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &release);
}

} // namespace

class tst_RecordingTable : public QObject
{
    Q_OBJECT

private slots:
    // Each column sorts by its value: "10:00" after "9:00", "10.00" MB
    // after "9.50" MB, 2020 before 2021 whatever the text says.
    void sortsByValue_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("start") << int(RecordingTable::ColStart) << QStringList{"b", "c", "a"};
        QTest::newRow("length") << int(RecordingTable::ColDuration) << QStringList{"c", "a", "b"};
        QTest::newRow("size") << int(RecordingTable::ColSize) << QStringList{"b", "a", "c"};
        QTest::newRow("camera") << int(RecordingTable::ColCamera) << QStringList{"a", "c", "b"};
        QTest::newRow("type") << int(RecordingTable::ColType) << QStringList{"a", "b", "c"};
    }
    void sortsByValue()
    {
        QFETCH(int, column);
        QFETCH(QStringList, ascending);
        RecordingTable table;
        table.addRows({row("a", "alpha", "2021-01-01T09:00:00", 540, RecordingKind::Manual, 9961472),     // 9.50 MB
                       row("b", "zulu", "2020-12-31T23:59:59", 3605, RecordingKind::Motion, 1048576),     // 1.00 MB
                       row("c", "Beta", "2021-01-01T08:00:00", -1, RecordingKind::Unknown, 10485760)});  // 10.00 MB
        table.sortItems(column, Qt::AscendingOrder);
        QCOMPARE(keys(table), ascending);
        table.sortItems(column, Qt::DescendingOrder);
        std::reverse(ascending.begin(), ascending.end());
        QCOMPARE(keys(table), ascending);
        // New rows take their place in the order chosen.
        table.sortItems(RecordingTable::ColStart, Qt::AscendingOrder);
        table.addRows({row("d", "x", "2020-06-01T00:00:00", 1, RecordingKind::Io, 1)});
        QCOMPARE(keys(table).first(), QStringLiteral("d"));
    }

    void rowsOfFiles()
    {
        MEDIA_FILE_S f{};
        varno::setText(f.devId, "5a5a-uuid");
        f.startTime = {2026, 12, 7, 13, 5, 9};
        f.endTime = {2026, 12, 7, 14, 5, 10};
        f.lengthMs = 3600600;
        f.alarmType = 2;
        f.size = 2048;
        RecordingRow r = varno::playback::recordingRow(QStringLiteral("5a5a-uuid_x.mkv"), f, false, QString());
        QCOMPARE(r.camera, QStringLiteral("5a5a-uuid"));
        QCOMPARE(r.start, QDateTime(QDate(2026, 12, 7), QTime(13, 5, 9)));
        QCOMPARE(r.durationSec, 3601);
        QCOMPARE(varno::playback::durationText(r.durationSec), QStringLiteral("1:00:01"));
        QCOMPARE(r.kind, RecordingKind::Io);
        r = varno::playback::recordingRow(QStringLiteral("190225_12:30:00.h264"), f, true, QStringLiteral("Gate"));
        QCOMPARE(r.camera, QStringLiteral("Gate"));
        QCOMPARE(r.start, QDateTime(QDate(2019, 2, 25), QTime(12, 30)));
        QCOMPARE(r.durationSec, -1);
        QCOMPARE(r.kind, RecordingKind::Unknown);
        QVERIFY(!varno::playback::cameraFileStart(QStringLiteral("garbage.h264")).isValid());
        QCOMPARE(varno::playback::recordingKind(0), RecordingKind::Manual);
        QCOMPARE(varno::playback::recordingKind(3), RecordingKind::Motion);
        QCOMPARE(varno::playback::recordingKind(1), RecordingKind::OtherAlarm);
    }

    // Local recordings are listed by the camera's name, an unknown camera by
    // its ID; the hidden key still plays the row.
    void namesNotIds()
    {
        auto storage = std::make_shared<FakeStorage>();
        storage->folders = {varno::test::tempRoot() + QStringLiteral("/disk1/Record")};
        varno::playback::setStorageAccess(storage);
        auto restore = qScopeGuard([] { varno::playback::setStorageAccess(nullptr); });
        Record_local_InitSdk();
        RecordingOptions known;
        known.devId = QStringLiteral("5a5a5a5a-0000-4000-8000-0000000000b1");
        RecordingOptions unknown;
        unknown.devId = QStringLiteral("D300300");
        QVERIFY(!writeRecording(storage->folders[0], known).isEmpty());
        QVERIFY(!writeRecording(storage->folders[0], unknown).isEmpty());
        varno::ui::PromptScript script;
        fileplay panel;
        SimCamera lobby;
        lobby.deviceId = known.devId;
        lobby.name = QStringLiteral("Lobby");
        panel.updateDeviceInfo(deviceRecord(lobby).dev);
        panel.sourceCombo()->setCurrentIndex(1);
        panel.deviceCombo()->setCurrentIndex(0);
        const QDate today = QDate::currentDate();
        panel.startEdit()->setDateTime(QDateTime(today.addDays(-1), QTime(0, 0)));
        panel.endEdit()->setDateTime(QDateTime(today.addDays(1), QTime(0, 0)));
        panel.searchButton()->click();
        QCOMPARE(script.count(), 0);
        QCOMPARE(panel.table()->rowCount(), 2);
        QStringList cameras;
        for (int r = 0; r < 2; ++r) {
            cameras << panel.table()->item(r, fileplay::ColCamera)->text();
            QVERIFY(panel.table()->item(r, fileplay::ColStart)->text().startsWith(QString::number(today.year())));
            QCOMPARE(panel.table()->item(r, fileplay::ColType)->text(), QStringLiteral("Manual"));
            QVERIFY(panel.files().contains(panel.table()->keyAt(r)));
        }
        cameras.sort();
        QCOMPARE(cameras, (QStringList{"D300300", "Lobby"}));
        QVERIFY(panel.table()->isColumnHidden(fileplay::ColName));
        Record_local_UnInitSdk();
    }

    // The panel's width follows the user who dragged it, the windows'
    // picture shape the user who chose it; before a login nothing is stored.
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
            dragHandle(page.splitter(), 120);
            dragged = page.splitter()->sizes().value(0);
            QVERIFY2(dragged > before + 60, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(dragged)));
            QTRY_COMPARE_WITH_TIMEOUT(LiveViewSettings::playbackPanelWidth(QStringLiteral("anna")), dragged, 10000);

            qvideoonlypb *grid = page.grid();
            QVERIFY(grid->keepAspect());
            QVERIFY(grid->window(0)->video()->keepAspect());
            QCOMPARE(grid->aspectAction()->text(), QStringLiteral("Keep aspect ratio"));
            grid->aspectAction()->trigger();
            QVERIFY(!grid->keepAspect() && !grid->window(0)->video()->keepAspect());
        }
        {
            videosearch page;
            page.resize(1200, 600);
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            const int fresh = page.splitter()->sizes().value(0);
            QVERIFY(fresh != dragged);
            QVERIFY(page.grid()->keepAspect());
            page.setUserName(QStringLiteral("anna"));
            QTRY_COMPARE(page.splitter()->sizes().value(0), dragged);
            QVERIFY(!page.grid()->keepAspect() && !page.grid()->window(0)->video()->keepAspect());
            page.setUserName(QStringLiteral("ben"));
            QVERIFY(page.splitter()->sizes().value(0) != dragged);
            QVERIFY(page.grid()->keepAspect() && page.grid()->window(0)->video()->keepAspect());
        }
        // The live view's own choice is another one.
        QVERIFY(!LiveViewSettings::playbackKeepAspect(QStringLiteral("anna")));
        QVERIFY(LiveViewSettings::keepAspect(QStringLiteral("anna")));
    }
};

QTEST_MAIN(tst_RecordingTable)
#include "tst_recordingtable.moc"
