// The day timeline: spans and "which file holds second S" from filelist
// records and a camera's search answer, at a file's first and last second,
// in a gap and across midnight; the page's timeline over a real local search
// and the simulator's answer, its zoom and its click.

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "playback/fileplay.h"
#include "playback/qlocalfileplay.h"
#include "playback/qvideoonlypb.h"
#include "playback/timelinewidget.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>
#include <QWheelEvent>

using namespace pbtest;
using namespace varno::playback;

namespace {

const QDate kDay(2026, 3, 14);

qint64 wall(int dayOffset, int h, int m, int s)
{
    return TimelineModel::wallSeconds(kDay.addDays(dayOffset), h, m, s);
}

MEDIA_TIME_S mediaTime(int64_t wallSecond)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(wallSecond, QTimeZone::utc());
    return {uint16_t(t.date().year()), uint8_t(t.date().month()), uint8_t(t.date().day()), uint16_t(t.time().hour()),
            uint8_t(t.time().minute()), uint8_t(t.time().second())};
}

MEDIA_FILE_S localFile(const char *dev, int64_t start, int64_t end, uint16_t alarm = 0)
{
    MEDIA_FILE_S f{};
    varno::setText(f.devId, dev);
    f.startTime = mediaTime(start);
    f.endTime = mediaTime(end);
    f.alarmType = alarm;
    return f;
}

MEDIA_FILE_S cameraFile(const char *dev, const char *name, uint32_t size)
{
    MEDIA_FILE_S f{};
    varno::setText(f.devId, dev);
    varno::setText(f.fileName, name);
    f.size = size;
    return f;
}

// Gate: A 10:00-10:05, alarm B 10:05-10:06, D 10:06-10:10, E 10:10-10:20,
// C 23:59:30-00:00:30 and a camera file at 10:04. Yard: camera files at
// 08:00 (600 kB), 08:10 (60 kB), 08:20 (600 kB).
void fill(TimelineModel &m)
{
    QVERIFY(m.addLocal("A", localFile("G", wall(0, 10, 0, 0), wall(0, 10, 5, 0))));
    QVERIFY(m.addLocal("B", localFile("G", wall(0, 10, 5, 0), wall(0, 10, 6, 0), 3)));
    QVERIFY(m.addLocal("D", localFile("G", wall(0, 10, 6, 0), wall(0, 10, 10, 0))));
    QVERIFY(m.addLocal("E", localFile("G", wall(0, 10, 10, 0), wall(0, 10, 20, 0))));
    QVERIFY(m.addLocal("C", localFile("G", wall(0, 23, 59, 30), wall(1, 0, 0, 30))));
    QVERIFY(m.addCamera("G1004", cameraFile("G", "260314_10.04.00.h264", 1000)));
    QVERIFY(m.addCamera("Y0800", cameraFile("Y", "260314_08.00.00.h264", 600000)));
    QVERIFY(m.addCamera("Y0810", cameraFile("Y", "260314_08.10.00.h264", 60000)));
    QVERIFY(m.addCamera("Y0820", cameraFile("Y", "260314_08.20.00.h264", 600000)));
}

} // namespace

class tst_Timeline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_storage = std::make_shared<FakeStorage>();
        m_storage->folders = {varno::test::tempRoot() + QStringLiteral("/disk1/Record")};
        setStorageAccess(m_storage);
        Record_local_InitSdk();
    }

    void cleanupTestCase()
    {
        Record_local_UnInitSdk();
        setStorageAccess(nullptr);
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<qint64>("second");
        QTest::addColumn<int>("preferred");
        QTest::addColumn<QString>("key"); // empty: a gap
        QTest::addColumn<int>("offset");
        QTest::newRow("first second") << "G" << wall(0, 10, 0, 0) << 0 << "A" << 0;
        QTest::newRow("last second") << "G" << wall(0, 10, 4, 59) << 0 << "A" << 299;
        QTest::newRow("next file's first") << "G" << wall(0, 10, 5, 0) << 0 << "B" << 0;
        QTest::newRow("before all") << "G" << wall(0, 9, 59, 59) << 0 << "" << 0;
        QTest::newRow("gap") << "G" << wall(0, 10, 20, 0) << 0 << "" << 0;
        QTest::newRow("before midnight") << "G" << wall(0, 23, 59, 59) << 0 << "C" << 29;
        QTest::newRow("midnight") << "G" << wall(1, 0, 0, 0) << 0 << "C" << 30;
        QTest::newRow("after its end") << "G" << wall(1, 0, 0, 30) << 0 << "" << 0;
        QTest::newRow("local preferred") << "G" << wall(0, 10, 4, 30) << 0 << "A" << 270;
        QTest::newRow("camera preferred") << "G" << wall(0, 10, 4, 30) << 1 << "G1004" << 30;
        QTest::newRow("camera: until the next start") << "Y" << wall(0, 8, 9, 59) << 0 << "Y0800" << 599;
        QTest::newRow("camera: by its size") << "Y" << wall(0, 8, 10, 59) << 0 << "Y0810" << 59;
        QTest::newRow("camera: past its size") << "Y" << wall(0, 8, 11, 0) << 0 << "" << 0;
        QTest::newRow("camera: the last file") << "Y" << wall(0, 8, 29, 59) << 0 << "Y0820" << 599;
        QTest::newRow("unknown camera") << "X" << wall(0, 10, 0, 0) << 0 << "" << 0;
    }

    void lookup()
    {
        QFETCH(QString, camera);
        QFETCH(qint64, second);
        QFETCH(int, preferred);
        QFETCH(QString, key);
        QFETCH(int, offset);
        TimelineModel m;
        fill(m);
        const std::optional<TimelineHit> hit = m.fileAt(camera, second, TimelineSource(preferred));
        QCOMPARE(hit ? hit->file->key : QString(), key);
        if (hit)
            QCOMPARE(hit->offset, offset);
    }

    void spansAndBadInput()
    {
        TimelineModel m;
        fill(m);
        using S = TimelineSpan;
        const auto L = TimelineSource::Local;
        const auto C = TimelineSource::Camera;
        // Touching files of one kind merge; the alarm stands apart; the file
        // across midnight is cut at the day's end and starts the next day.
        QCOMPARE(m.daySpans("G", kDay), (QList<S>{{wall(0, 10, 0, 0), wall(0, 10, 5, 0), L, 0},
                                                  {wall(0, 10, 5, 0), wall(0, 10, 6, 0), L, 3},
                                                  {wall(0, 10, 6, 0), wall(0, 10, 20, 0), L, 0},
                                                  {wall(0, 23, 59, 30), wall(1, 0, 0, 0), L, 0},
                                                  {wall(0, 10, 4, 0), wall(0, 10, 5, 0), C, 0}}));
        QCOMPARE(m.daySpans("G", kDay.addDays(1)), (QList<S>{{wall(1, 0, 0, 0), wall(1, 0, 0, 30), L, 0}}));
        QCOMPARE(m.daySpans("Y", kDay), (QList<S>{{wall(0, 8, 0, 0), wall(0, 8, 11, 0), C, 0},
                                                  {wall(0, 8, 20, 0), wall(0, 8, 30, 0), C, 0}}));
        QCOMPARE(m.days(), (QList<QDate>{kDay, kDay.addDays(1)}));
        QCOMPARE(m.cameras(), (QStringList{"G", "Y"}));
        QCOMPARE(m.nextRecorded("G", wall(0, 10, 30, 0)), std::optional<int64_t>(wall(0, 23, 59, 30)));
        QCOMPARE(m.nextRecorded("G", wall(1, 0, 0, 30)), std::optional<int64_t>());

        // Names without a time, impossible dates, records without a start.
        for (const char *bad : {"", "garbage.h264", "261314_10.00.00.h264", "260314_24.00.00.h264", "260314-10.00.00"})
            QVERIFY2(!m.addCamera("bad", cameraFile("Y", bad, 10)), bad);
        QVERIFY(!m.addLocal("bad", MEDIA_FILE_S{}));
        // A record whose end is not after its start (being written) lasts
        // its length in milliseconds, at least a second.
        MEDIA_FILE_S open = localFile("Z", wall(0, 12, 0, 0), 0);
        open.endTime = {};
        open.lengthMs = 2500;
        QVERIFY(m.addLocal("open", open));
        QCOMPARE(m.files("Z").first().end, wall(0, 12, 0, 3));
        QVERIFY(m.addLocal("instant", localFile("V", wall(0, 12, 0, 0), wall(0, 12, 0, 0))));
        QCOMPARE(m.files("V").first().end, wall(0, 12, 0, 1));
    }

    // Records written through the recording file library, as the local
    // search returns them.
    void realFilelist()
    {
        const QString folder = m_storage->folders[0];
        RecordingOptions gate, alarm, yard;
        gate.seconds = 3;
        alarm.alarmType = 3;
        yard.devId = QStringLiteral("C100200");
        yard.seconds = 6;   // a few pixels at ten minutes
        for (const RecordingOptions &o : {gate, alarm, yard})
            QVERIFY(!writeRecording(folder, o).isEmpty());
        MEDIA_QUERY_S query{};
        varno::setText(query.dir, folder);
        query.startTime = mediaTime(TimelineModel::wallSeconds(QDate::currentDate().addDays(-1), 0, 0, 0));
        query.endTime = mediaTime(TimelineModel::wallSeconds(QDate::currentDate().addDays(1), 23, 59, 59));
        MEDIA_LIST_S list{0, nullptr};
        QCOMPARE(Record_local_MediaFileQuery(query, &list), 0);
        QCOMPARE(list.count, 3);
        TimelineModel m;
        for (int i = 0; i < list.count; ++i)
            QVERIFY(m.addLocal(varno::fieldText(list.files[i].fileName), list.files[i]));
        QCOMPARE(m.cameras(), (QStringList{"B765432", "C100200"}));
        for (int i = 0; i < list.count; ++i) {
            const MEDIA_FILE_S &f = list.files[i];
            const int64_t start = TimelineModel::wallSeconds(f.startTime);
            const int64_t end = TimelineModel::wallSeconds(f.endTime);
            QVERIFY(end > start);
            bool covered = false;
            for (const TimelineSpan &s : m.spans(varno::fieldText(f.devId), start - 1, end + 1))
                covered |= s.alarmType == f.alarmType && s.start <= start && s.end >= end;
            QVERIFY2(covered, f.fileName);
        }
        // The alarm recording, written last, holds its own last second.
        const MEDIA_FILE_S &last = list.files[1];
        QCOMPARE(last.alarmType, uint16_t(3));
        const auto hit = m.fileAt("B765432", TimelineModel::wallSeconds(last.endTime) - 1);
        QVERIFY(hit);
        QCOMPARE(hit->file->key, varno::fieldText(last.fileName));
    }

    // The page: a local search fills the timeline; zoom by buttons and
    // wheel; a click plays the file from that second.
    void pageLocal()
    {
        varno::ui::PromptScript script;
        videosearch page;
        page.resize(1100, 600);
        page.show();
        page.setDevInfo(deviceRecord(SimCamera()));
        page.setDevInfo(deviceRecord(yardCamera(0, 0)));
        fileplay *panel = page.panel();
        searchLocalAroundToday(panel);
        QCOMPARE(panel->table()->rowCount(), 3);
        TimelineWidget *tl = panel->timeline();
        QCOMPARE(tl->view()->cameras(), (QStringList{"B765432", "C100200"}));
        QCOMPARE(tl->view()->nameOf("C100200"), QStringLiteral("Yard"));
        // Clicks find the rows once the layout has made room for them.
        QTRY_COMPARE(tl->view()->height(), tl->view()->sizeHint().height());

        // 24 h down to 10 min in halves, and back.
        int clicks = 0;
        while (tl->zoomInButton()->isEnabled() && clicks < 20) {
            tl->zoomInButton()->click();
            ++clicks;
        }
        QCOMPARE(tl->window().length(), TimelineWindow::kMinLength);
        QCOMPARE(clicks, 8);
        while (tl->zoomOutButton()->isEnabled())
            tl->zoomOutButton()->click();
        QCOMPARE(tl->window().length(), TimelineWindow::kMaxLength);
        QWheelEvent wheel(QPointF(300, 30), tl->view()->mapToGlobal(QPointF(300, 30)), {}, {0, 240}, Qt::NoButton,
                          {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(tl->view(), &wheel);
        QCOMPARE(tl->window().length(), TimelineWindow::kMaxLength / 4);

        // The Yard file, zoomed in around it, clicked one second in.
        const TimelineFile yard = tl->model().files("C100200").first();
        tl->showAround(yard.start, 60);
        QCOMPARE(tl->window().length(), TimelineWindow::kMinLength);
        QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->pointOf("C100200", yard.start + 1));
        QTRY_COMPARE_WITH_TIMEOUT(page.grid()->entry(0).fileName, yard.key, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.grid()->entry(0).opening, 10000);
        auto *engine = dynamic_cast<qlocalfileplay *>(page.grid()->engineOf(0));
        QVERIFY(engine);
        QTRY_VERIFY_WITH_TIMEOUT(engine->seeksDone() >= 1, 10000);
        // A click in a gap plays nothing else.
        QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->pointOf("C100200", yard.end + 5));
        QCOMPARE(page.grid()->entry(0).fileName, yard.key);
        QCOMPARE(script.count(), 0);
    }

    // The simulator's search answer on the timeline; a click starts the
    // camera file holding that second.
    void pageCamera()
    {
        CameraRig rig;
        SimCamera gate;
        gate.count = 3;
        gate.seconds = 4;
        videosearch *page = nullptr;
        rig.onMessage = onUiThread([&page](const P2pMessage_S &msg) {
            if (page)
                page->recvP2pMessage(msg);
        });
        QVERIFY2(rig.start({gate}), qPrintable(rig.error));
        videosearch view;
        page = &view;
        view.resize(1100, 600);
        view.show();
        view.setDevInfo(deviceRecord(gate));
        fileplay *panel = view.panel();
        searchCameraDay(panel, gate.name);
        const QDate day(2019, 2, 25);
        QTRY_COMPARE_WITH_TIMEOUT(panel->table()->rowCount(), 3, 20000);
        TimelineWidget *tl = panel->timeline();
        QCOMPARE(tl->day(), day);
        // Files of one size every ten minutes: a camera that records
        // without pause, 08:00 to 08:30.
        const auto dayOf = [day](int h, int m) { return TimelineModel::wallSeconds(day, h, m, 0); };
        QCOMPARE(tl->model().daySpans(gate.deviceId, day),
                 (QList<TimelineSpan>{{dayOf(8, 0), dayOf(8, 30), TimelineSource::Camera, 0}}));
        tl->showAround(dayOf(8, 15), 3600);
        QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->pointOf(gate.deviceId, dayOf(8, 15)));
        QTRY_COMPARE_WITH_TIMEOUT(view.grid()->entry(0).fileName, QStringLiteral("190225_08:10:00.h264"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(view.grid()->entry(0).progressSeen, 20000);
        page = nullptr;
    }

private:
    std::shared_ptr<FakeStorage> m_storage;
};

QTEST_MAIN(tst_Timeline)
#include "tst_timeline.moc"
