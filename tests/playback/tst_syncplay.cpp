// Synced playback: the shared clock (a virtual one: no timing) moving slots
// into files and gaps, pause, seek, speed, frame step and drift; then the
// page, cameras picked on the timeline and played in the four-window grid.

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "playback/fileplay.h"
#include "playback/qmediaplay.h"
#include "playback/qvideoonlypb.h"
#include "playback/syncplay.h"
#include "playback/syncplayer.h"
#include "playback/timelinewidget.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimeZone>

using namespace pbtest;
using namespace varno::playback;

namespace {

class ManualClock final : public SyncClock
{
public:
    int64_t nowMs() const override { return now; }
    int64_t now = 5000;
};

const int64_t kT0 = TimelineModel::wallSeconds(QDate(2026, 3, 14), 10, 0, 0);

MEDIA_FILE_S record(const char *dev, int64_t start, int64_t end)
{
    MEDIA_FILE_S f{};
    varno::setText(f.devId, dev);
    for (auto [t, out] : {std::pair{start, &f.startTime}, std::pair{end, &f.endTime}}) {
        const QDateTime d = QDateTime::fromSecsSinceEpoch(t, QTimeZone::utc());
        *out = {uint16_t(d.date().year()), uint8_t(d.date().month()), uint8_t(d.date().day()),
                uint16_t(d.time().hour()), uint8_t(d.time().minute()), uint8_t(d.time().second())};
    }
    f.frameRate = 25;
    return f;
}

// The slot and the offset of each playFile, or -1 offsets for noRecording.
QList<QList<QVariant>> take(QSignalSpy &spy)
{
    QList<QList<QVariant>> out(spy.begin(), spy.end());
    spy.clear();
    return out;
}

} // namespace

class tst_SyncPlay : public QObject
{
    Q_OBJECT

private slots:
    void clock()
    {
        // Gate: G1 [t0, t0+10), G2 [t0+10, t0+20); Yard: Y1 [t0+5, t0+15).
        TimelineModel model;
        model.addLocal("G1", record("G", kT0, kT0 + 10));
        model.addLocal("G2", record("G", kT0 + 10, kT0 + 20));
        model.addLocal("Y1", record("Y", kT0 + 5, kT0 + 15));
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

    // Three cameras picked on the page's timeline play in the grid in step;
    // the one without footage at that second says so; pause and step act on
    // every window.
    void page()
    {
        auto storage = std::make_shared<FakeStorage>();
        storage->folders = {varno::test::tempRoot() + QStringLiteral("/disk1/Record")};
        setStorageAccess(storage);
        Record_local_InitSdk();
        RecordingOptions gate, yard;
        gate.seconds = 6;
        yard.devId = QStringLiteral("C100200");
        yard.seconds = 6;
        QVERIFY(!writeRecording(storage->folders[0], gate).isEmpty());
        QVERIFY(!writeRecording(storage->folders[0], yard).isEmpty());
        {
            varno::ui::PromptScript script;
            videosearch page;
            page.resize(1100, 600);
            page.show();
            SimCamera drive;
            drive.deviceId = QStringLiteral("D300300");
            drive.name = QStringLiteral("Drive");
            for (const SimCamera &c : {SimCamera(), yardCamera(0, 0), drive})
                page.setDevInfo(deviceRecord(c));
            fileplay *panel = page.panel();
            panel->sourceCombo()->setCurrentIndex(1);
            panel->deviceCombo()->setCurrentIndex(0);
            panel->startEdit()->setDateTime(QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0)));
            panel->endEdit()->setDateTime(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)));
            panel->searchButton()->click();
            TimelineWidget *tl = panel->timeline();
            // Drive's footage lies an hour before the others'.
            const TimelineFile gateFile = tl->model().files("B765432").first();
            MEDIA_FILE_S early = record("D300300", gateFile.start - 3600, gateFile.start - 3590);
            tl->model().addLocal("early", early);
            tl->modelChanged();
            QVERIFY(!tl->syncButton()->isEnabled());
        // Clicks find the rows once the layout has made room for them.
        QTRY_COMPARE(tl->view()->height(), tl->view()->sizeHint().height());
            for (const char *c : {"B765432", "C100200", "D300300"})
                QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->labelOf(c));
            QCOMPARE(tl->view()->picked(), (QStringList{"B765432", "C100200", "D300300"}));
            tl->window().zoom(0.001, gateFile.start);
            tl->syncButton()->click();
            QVERIFY(page.syncShown());
            SyncPlayer *player = page.syncPlayer();
            qvideoonlypb *grid = player->grid();
            // The clock starts at the first recorded second in view.
            const int64_t start = player->sync()->positionMs() / 1000;
            QVERIFY(start <= gateFile.start);
            for (int i = 0; i < 2; ++i) {
                const QString camera = player->sync()->cameras()[i];
                const auto hit = tl->model().fileAt(camera, start);
                if (!hit) {
                    QTRY_VERIFY(player->captionVisible(i));
                    continue;
                }
                QTRY_COMPARE_WITH_TIMEOUT(grid->entry(i).fileName, hit->file->key, 10000);
                QTRY_VERIFY_WITH_TIMEOUT(grid->entry(i).inUse && !grid->entry(i).opening, 10000);
            }
            QVERIFY(player->captionVisible(2));
            QCOMPARE(player->captionText(2), QStringLiteral("Drive\nno recording"));
            QVERIFY(!player->captionVisible(3));

            // Pause reaches every playing window, then a step.
            player->pauseButton()->click();
            QVERIFY(player->sync()->paused());
            for (int i = 0; i < 2; ++i)
                if (grid->entry(i).inUse)
                    QTRY_VERIFY_WITH_TIMEOUT(grid->engineOf(i) && grid->engineOf(i)->paused(), 10000);
            QVERIFY(player->stepButton()->isEnabled());
            const int64_t before = player->sync()->positionMs();
            player->stepButton()->click();
            QCOMPARE(player->sync()->positionMs(), before + 40);

            // A double-click on a row leaves synced play for the window.
            emit panel->table()->doubleClicked(panel->table()->model()->index(0, fileplay::ColName));
            QVERIFY(!page.syncShown());
            QVERIFY(!player->sync()->running());
            QCOMPARE(script.count(), 0);
        }
        Record_local_UnInitSdk();
        setStorageAccess(nullptr);
    }
};

QTEST_MAIN(tst_SyncPlay)
#include "tst_syncplay.moc"
