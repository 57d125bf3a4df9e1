// The day timeline: spans and "which file holds second S" from filelist
// records and a camera's search answer, at a file's first and last second,
// in a gap and across midnight; the synced playback's clock over them; the
// page's timeline over a real local search and the simulator's answer, its
// zoom and its click. Synced play on the page: tst_playbackshots.

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "playback/fileplay.h"
#include "playback/qlocalfileplay.h"
#include "playback/qvideoonlypb.h"
#include "playback/syncplay.h"
#include "playback/timelinewidget.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QSignalSpy>
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
    f.frameRate = 25;
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

// A clock the synced playback reads, moved by the test alone.
class ManualClock final : public SyncClock
{
public:
    int64_t nowMs() const override { return now; }
    int64_t now = 5000;
};

const int64_t kT0 = TimelineModel::wallSeconds(kDay, 10, 0, 0);

// What a spy caught, taken out of it.
QList<QList<QVariant>> take(QSignalSpy &spy)
{
    QList<QList<QVariant>> out(spy.begin(), spy.end());
    spy.clear();
    return out;
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

    // Synced playback's shared clock (a virtual one: no timing) moving slots
    // into files and gaps, pause, seek, speed, frame step and drift.
    void syncClock()
    {
        // Gate: G1 [t0, t0+10), G2 [t0+10, t0+20); Yard: Y1 [t0+5, t0+15).
        TimelineModel model;
        model.addLocal("G1", localFile("G", kT0, kT0 + 10));
        model.addLocal("G2", localFile("G", kT0 + 10, kT0 + 20));
        model.addLocal("Y1", localFile("Y", kT0 + 5, kT0 + 15));
        ManualClock clock;
        SyncPlayback sync(&model, &clock);
        QVERIFY(!sync.setCameras({}));
        QVERIFY(!sync.setCameras({"a", "b", "c", "d", "e"}));
        QVERIFY(sync.setCameras({"G", "Y"}));
        QSignalSpy play(&sync, &SyncPlayback::playFile);
        QSignalSpy seek(&sync, &SyncPlayback::seekFile);
        QSignalSpy none(&sync, &SyncPlayback::noRecording);
        QSignalSpy close(&sync, &SyncPlayback::closeSlot);
        QSignalSpy stepped(&sync, &SyncPlayback::stepped);
        const auto played = [&play] {
            QStringList out;
            for (const auto &a : take(play))
                out << QStringLiteral("%1:%2@%3").arg(a[0].toInt()).arg(a[1].toString()).arg(a[4].toInt());
            return out;
        };

        sync.start(kT0);
        QCOMPARE(played(), QStringList{"0:G1@0"});
        QCOMPARE(take(none), (QList<QList<QVariant>>{{1}}));
        sync.tick();
        QVERIFY(play.isEmpty() && none.isEmpty());

        clock.now += 5000;   // t0+5: Yard begins
        sync.tick();
        QCOMPARE(played(), QStringList{"1:Y1@0"});
        QVERIFY(sync.setSpeed(2.0f));
        QVERIFY(!sync.setSpeed(16.0f));
        clock.now += 2500;   // 5 s of footage at double speed: t0+10
        sync.tick();
        QCOMPARE(sync.positionMs(), (kT0 + 10) * 1000);
        QCOMPARE(played(), QStringList{"0:G2@0"});

        // Paused, the clock stands; a step moves it one frame (25 fps).
        QVERIFY(!sync.stepFrame());
        sync.setPaused(true);
        clock.now += 60000;
        sync.tick();
        QCOMPARE(sync.positionMs(), (kT0 + 10) * 1000);
        QVERIFY(sync.stepFrame());
        QCOMPARE(sync.positionMs(), (kT0 + 10) * 1000 + 40);
        QCOMPARE(stepped.count(), 1);

        // A seek: Gate moves inside its file, Yard has ended there.
        sync.seek((kT0 + 16) * 1000 + 500);
        QCOMPARE(take(seek), (QList<QList<QVariant>>{{0, 6}}));
        QCOMPARE(take(close), (QList<QList<QVariant>>{{1}}));
        QCOMPARE(take(none), (QList<QList<QVariant>>{{1}}));
        QVERIFY(play.isEmpty());
        // A window that drifted is put back; one in step is left alone.
        sync.reportProgress(0, 6);
        sync.reportProgress(0, 8);
        QVERIFY(seek.isEmpty());
        sync.reportProgress(0, 1);
        QCOMPARE(take(seek), (QList<QList<QVariant>>{{0, 6}}));
        // Back before Yard's file: it starts at its offset.
        sync.seek((kT0 + 7) * 1000);
        QCOMPARE(played(), (QStringList{"0:G1@7", "1:Y1@2"}));
        // Running again at double speed to the end of everything.
        sync.setPaused(false);
        clock.now += 7000;   // t0+21
        sync.tick();
        QCOMPARE(take(close).size(), 2);
        QCOMPARE(take(none).size(), 2);
        sync.stop();
        QVERIFY(!sync.running());
        QVERIFY(close.isEmpty());
    }

    // The page: a local search over recordings written through the
    // recording file library fills the timeline; zoom by buttons and wheel;
    // a click plays the file from that second.
    void pageLocal()
    {
        RecordingOptions gate, alarm, yardFile;
        gate.seconds = 1;   // over before the alarm recording's last second
        alarm.alarmType = 3;
        yardFile.devId = QStringLiteral("C100200");
        yardFile.seconds = 6;   // a few pixels at ten minutes
        for (const RecordingOptions &o : {gate, alarm, yardFile})
            QVERIFY(!writeRecording(m_storage->folders[0], o).isEmpty());
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
        // Each file lies in a span of its kind; the alarm recording, written
        // last of Gate's, holds its own last second.
        const QMap<QString, MEDIA_FILE_S> files = panel->files();
        for (auto f = files.cbegin(); f != files.cend(); ++f) {
            const int64_t start = TimelineModel::wallSeconds(f->startTime);
            const int64_t end = TimelineModel::wallSeconds(f->endTime);
            QVERIFY(end > start);
            bool covered = false;
            for (const TimelineSpan &span : tl->model().spans(varno::fieldText(f->devId), start - 1, end + 1))
                covered |= span.alarmType == f->alarmType && span.start <= start && span.end >= end;
            QVERIFY2(covered, qPrintable(f.key()));
            const auto hit = tl->model().fileAt("B765432", end - 1);
            if (f->alarmType == 3)
                QCOMPARE(hit ? hit->file->key : QString(), f.key());
        }
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
