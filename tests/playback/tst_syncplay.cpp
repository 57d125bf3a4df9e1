// Synced playback: the shared clock (a virtual one: no timing) moving slots
// into files and gaps, pause, seek, speed, frame step and drift; then the
// page, four cameras picked on the timeline and played in the grid in step.

#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "playback/fileplay.h"
#include "playback/qmediaplay.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideoslide.h"
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

    void initTestCase()
    {
        m_storage = std::make_shared<FakeStorage>();
        m_storage->folders = {varno::test::tempRoot() + QStringLiteral("/disk1/Record")};
        setStorageAccess(m_storage);
        Record_local_InitSdk();
        // Gate, Yard, Drive and Porch, 20 s each (90 s for the pictures),
        // written one after the other; an alarm recording of Gate's among
        // them.
        const bool shots = qEnvironmentVariableIsSet("VARNO_SHOTS_DIR");
        for (const char *dev : {"B765432", "E400400", "C100200", "D300300"}) {
            RecordingOptions o;
            o.devId = QString::fromLatin1(dev);
            o.width = 320;
            o.height = 180;
            o.seconds = shots ? 90 : 20;
            o.gop = 10;
            QVERIFY(!writeRecording(m_storage->folders[0], o).isEmpty());
            if (o.devId == QLatin1String("E400400")) {
                o.devId = QStringLiteral("B765432");
                o.seconds = shots ? 30 : 4;
                o.alarmType = 3;
                QVERIFY(!writeRecording(m_storage->folders[0], o).isEmpty());
            }
        }
    }

    void cleanupTestCase()
    {
        Record_local_UnInitSdk();
        setStorageAccess(nullptr);
    }

    void page_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::newRow("English") << QStringLiteral("en");
        QTest::newRow("German") << QStringLiteral("de");
    }

    // Four cameras picked on the page's timeline play in the grid in step;
    // pause and step act on every window; where none recorded, each window
    // says so. With VARNO_SHOTS_DIR set the page is saved as
    // playback-timeline-<lang>.png and playback-sync-<lang>.png.
    void page()
    {
        QFETCH(QString, lang);
        const UiLanguage language(lang);
        QVERIFY(language.loaded());
        varno::ui::PromptScript script;
        videosearch page;
        page.resize(1280, 720);
        page.show();
        const QList<QPair<const char *, const char *>> cameras = {
            {"B765432", "Gate"}, {"C100200", "Yard"}, {"D300300", "Drive"}, {"E400400", "Porch"}};
        for (const auto &[id, name] : cameras) {
            SimCamera c;
            c.deviceId = QString::fromLatin1(id);
            c.name = QString::fromLatin1(name);
            page.setDevInfo(deviceRecord(c));
        }
        fileplay *panel = page.panel();
        searchLocalAroundToday(panel);
        QCOMPARE(panel->table()->rowCount(), 5);
        TimelineWidget *tl = panel->timeline();
        QCOMPARE(tl->view()->cameras().size(), 4);
        // Clicks find the rows once the layout has made room for them.
        QTRY_COMPARE(tl->view()->height(), tl->view()->sizeHint().height());
        QVERIFY(!tl->syncButton()->isEnabled());
        for (const auto &c : cameras)
            QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->labelOf(QString::fromLatin1(c.first)));
        QCOMPARE(tl->view()->picked(), (QStringList{"B765432", "C100200", "D300300", "E400400"}));
        // The latest start: every camera recorded at that second.
        int64_t latest = 0;
        for (const QString &c : tl->view()->cameras())
            latest = std::max(latest, tl->model().files(c).first().start);
        tl->showAround(latest, TimelineWindow::kMinLength);
        saveShot(&page, "timeline", lang);
        tl->syncButton()->click();
        QVERIFY(page.syncShown());
        SyncPlayer *player = page.syncPlayer();
        qvideoonlypb *grid = player->grid();
        QVERIFY(player->sync()->positionMs() / 1000 <= latest);
        player->sync()->seek(latest * 1000);
        for (int i = 0; i < 4; ++i) {
            const auto hit = tl->model().fileAt(player->sync()->cameras()[i], latest);
            QVERIFY(hit);
            QTRY_COMPARE_WITH_TIMEOUT(grid->entry(i).fileName, hit->file->key, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(grid->entry(i).inUse && grid->entry(i).progressSeen, 20000);
            QVERIFY(!player->captionVisible(i));
        }
        // In step: each window shows the clock's second of its file.
        for (int i = 0; i < 4; ++i) {
            const int64_t fileStart = player->sync()->slot(i).fileStart;
            QTRY_VERIFY_WITH_TIMEOUT(
                std::abs(grid->window(i)->slide()->value() - (player->sync()->positionMs() / 1000 - fileStart)) <= 2,
                20000);
        }
        saveShot(&page, "sync", lang);

        // Pause reaches every window, then a step moves the clock one frame.
        player->pauseButton()->click();
        QVERIFY(player->sync()->paused());
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(grid->engineOf(i) && grid->engineOf(i)->paused(), 10000);
        QVERIFY(player->stepButton()->isEnabled());
        const int64_t before = player->sync()->positionMs();
        player->stepButton()->click();
        QCOMPARE(player->sync()->positionMs(), before + 40);
        // A click on the timeline moves the clock: half an hour away, no
        // camera recorded.
        tl->showAround(latest, TimelineWindow::kMaxLength);
        const int64_t gap = latest - TimelineModel::dayStart(tl->day()) > 1800 ? latest - 1800 : latest + 1800;
        QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->pointOf("B765432", gap));
        for (int i = 0; i < 4; ++i) {
            QTRY_VERIFY(player->captionVisible(i));
            QCOMPARE(player->captionText(i),
                     QString::fromLatin1(cameras[i].second) + QLatin1Char('\n') + SyncPlayer::tr("no recording"));
            QTRY_VERIFY_WITH_TIMEOUT(!grid->entry(i).inUse, 10000);
        }

        // A double-click on a row leaves synced play for the window.
        emit panel->table()->doubleClicked(panel->table()->model()->index(0, fileplay::ColName));
        QVERIFY(!page.syncShown());
        QVERIFY(!player->sync()->running());
        QCOMPARE(script.count(), 0);
    }

private:
    std::shared_ptr<FakeStorage> m_storage;
};

QTEST_MAIN(tst_SyncPlay)
#include "tst_syncplay.moc"
