// The playback page in English and German as a user sees it, in the states
// the documentation shows: camera recordings found, a camera recording and a
// local recording playing, four cameras picked on the timeline and played in
// step (pause and step reach every window, a gap is said so), a download in
// progress. Each state is checked; with VARNO_SHOTS_DIR set the page (and the
// download dialog) is saved there as playback-<state>-<en|de>.png.

#include "common/ui/promptscript.h"
#include "live/videosurface.h"
#include "playback/cfiledownload.h"
#include "playback/fileplay.h"
#include "playback/qdownload.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoonlypb.h"
#include "playback/qvideoslide.h"
#include "playback/syncplay.h"
#include "playback/syncplayer.h"
#include "playback/timelinewidget.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <memory>

using namespace pbtest;
using namespace varno::playback;
using varno::ui::PromptScript;

namespace {

// A camera no simulator runs, with local recordings only.
SimCamera localCamera(const char *id, const char *name)
{
    SimCamera c;
    c.deviceId = QString::fromLatin1(id);
    c.p2pId = QStringLiteral("VRN%1-%2-NOONE").arg(QChar::fromLatin1(id[0])).arg(QLatin1String(id + 1));
    c.name = QString::fromLatin1(name);
    return c;
}

} // namespace

class tst_PlaybackShots : public QObject
{
    Q_OBJECT

private:
    fileplay *panel() const { return m_page->panel(); }
    QTableWidget *table() const { return panel()->table(); }
    int rowOf(const QString &name) const
    {
        for (int r = 0; r < table()->rowCount(); ++r)
            if (table()->item(r, fileplay::ColName)->text() == name)
                return r;
        return -1;
    }
    void play(const QString &name)
    {
        const int row = rowOf(name);
        QVERIFY(row >= 0);
        table()->selectRow(row);
        emit table()->doubleClicked(table()->model()->index(row, fileplay::ColName));
        // The start runs on the playback controller's thread.
        QTRY_VERIFY_WITH_TIMEOUT(!m_page->grid()->entry(0).opening, 20000);
    }

private slots:
    void initTestCase()
    {
        m_storage = std::make_shared<FakeStorage>();
        m_storage->folders = {varno::test::tempRoot() + QStringLiteral("/disk1/Record")};
        varno::playback::setStorageAccess(m_storage);
        Record_local_InitSdk();
        // Gate, Yard, Drive and Porch, 20 s each (90 s, larger, for the
        // pictures), written one after the other; an alarm recording of
        // Gate's among them.
        const bool shots = qEnvironmentVariableIsSet("VARNO_SHOTS_DIR");
        for (const char *dev : {"B765432", "E400400", "C100200", "D300300"}) {
            RecordingOptions o;
            o.devId = QString::fromLatin1(dev);
            o.width = shots ? 640 : 320;
            o.height = shots ? 360 : 180;
            o.seconds = shots ? 90 : 20;
            o.gop = 10;
            m_local << QFileInfo(writeRecording(m_storage->folders[0], o)).fileName();
            if (o.devId == QLatin1String("E400400")) {
                o.devId = QStringLiteral("B765432");
                o.seconds = shots ? 30 : 4;
                o.alarmType = 3;
                m_local << QFileInfo(writeRecording(m_storage->folders[0], o)).fileName();
            }
        }
        QVERIFY(!m_local.contains(QString()));
        m_gate.count = 6;
        m_gate.seconds = 20;
        m_rig.onMessage = onUiThread([this](const P2pMessage_S &msg) {
            if (m_page)
                m_page->recvP2pMessage(msg);
        });
        QVERIFY2(m_rig.start({m_gate, yardCamera(4, 20)}), qPrintable(m_rig.error));
    }

    void cleanupTestCase()
    {
        m_page.reset();
        m_rig.stop();
        Record_local_UnInitSdk();
        varno::playback::setStorageAccess(nullptr);
    }

    void page_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::newRow("English") << QStringLiteral("en");
        QTest::newRow("German") << QStringLiteral("de");
    }

    void page()
    {
        QFETCH(QString, lang);
        const bool german = lang == QLatin1String("de");
        PromptScript script;
        const UiLanguage language(lang);
        QVERIFY(language.loaded());
        auto restore = qScopeGuard([&] { m_page.reset(); }); // before the language goes
        m_page = std::make_unique<videosearch>();
        m_page->resize(1280, 720);
        for (const SimCamera &c : {m_gate, yardCamera(4, 20), m_drive, m_porch})
            m_page->setDevInfo(deviceRecord(c));
        m_page->RecvCapPathFromConfig(varno::test::tempRoot() + QStringLiteral("/snapshots"));
        m_page->RecvVideoWinPause(false);
        m_page->show();
        QCOMPARE(panel()->searchButton()->text(), german ? QStringLiteral("Suchen") : QStringLiteral("Query"));
        qvideoonlypb *grid = m_page->grid();
        qmultivideopb *win = grid->window(0);

        // The camera's recordings of the day.
        searchCameraDay(panel(), QStringLiteral("Gate"));
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), m_gate.count, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->searching(), 10000);
        table()->selectRow(1);
        saveShot(m_page.get(), "search", lang);

        // One of them playing, a few seconds in.
        play(QStringLiteral("190225_08:10:00.h264"));
        QVERIFY(grid->entry(0).inUse);
        QTRY_COMPARE_WITH_TIMEOUT(win->slide()->maximum(), m_gate.seconds, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(win->slide()->value() >= 3, 20000);
        QVERIFY(win->video()->newPicturesPainted() > 25);
        saveShot(m_page.get(), "camera", lang);
        win->hand()->button("btnClose")->click();
        QVERIFY(!grid->entry(0).inUse);

        // A local recording at twice the speed.
        searchLocalAroundToday(panel());
        QCOMPARE(panel()->deviceCombo()->currentText(), german ? QStringLiteral("Alle Geräte") : QStringLiteral("All Devices"));
        QCOMPARE(table()->rowCount(), m_local.size());
        play(m_local.first()); // Gate's
        QVERIFY(grid->entry(0).inUse);
        win->hand()->button("btnFast")->click();
        QCOMPARE(win->hand()->speedText(), QStringLiteral("X2"));
        QTRY_VERIFY_WITH_TIMEOUT(win->slide()->value() >= 3, 20000);
        QVERIFY(win->video()->newPicturesPainted() > 25);
        saveShot(m_page.get(), "local", lang);
        win->hand()->button("btnClose")->click();

        // Four cameras picked on the timeline play in the grid in step.
        TimelineWidget *tl = panel()->timeline();
        QCOMPARE(tl->view()->cameras().size(), 4);
        // Clicks find the rows once the layout has made room for them.
        QTRY_COMPARE(tl->view()->height(), tl->view()->sizeHint().height());
        QVERIFY(!tl->syncButton()->isEnabled());
        const QStringList cameras{"B765432", "C100200", "D300300", "E400400"};
        for (const QString &c : cameras)
            QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->labelOf(c));
        QCOMPARE(tl->view()->picked(), cameras);
        // The latest start: every camera recorded at that second.
        int64_t latest = 0;
        for (const QString &c : tl->view()->cameras())
            latest = std::max(latest, tl->model().files(c).first().start);
        tl->showAround(latest, TimelineWindow::kMinLength);
        saveShot(m_page.get(), "timeline", lang);
        tl->syncButton()->click();
        QVERIFY(m_page->syncShown());
        SyncPlayer *player = m_page->syncPlayer();
        qvideoonlypb *syncGrid = player->grid();
        QVERIFY(player->sync()->positionMs() / 1000 <= latest);
        player->sync()->seek(latest * 1000);
        for (int i = 0; i < 4; ++i) {
            const auto hit = tl->model().fileAt(player->sync()->cameras()[i], latest);
            QVERIFY(hit);
            QTRY_COMPARE_WITH_TIMEOUT(syncGrid->entry(i).fileName, hit->file->key, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(syncGrid->entry(i).inUse && syncGrid->entry(i).progressSeen, 20000);
            QVERIFY(!player->captionVisible(i));
        }
        // In step: each window shows the clock's second of its file.
        for (int i = 0; i < 4; ++i) {
            const int64_t fileStart = player->sync()->slot(i).fileStart;
            QTRY_VERIFY_WITH_TIMEOUT(
                std::abs(syncGrid->window(i)->slide()->value() - (player->sync()->positionMs() / 1000 - fileStart)) <= 2,
                20000);
        }
        saveShot(m_page.get(), "sync", lang);
        // Pause reaches every window, then a step moves the clock one frame.
        player->pauseButton()->click();
        QVERIFY(player->sync()->paused());
        for (int i = 0; i < 4; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(syncGrid->engineOf(i) && syncGrid->engineOf(i)->paused(), 10000);
        QVERIFY(player->stepButton()->isEnabled());
        const int64_t before = player->sync()->positionMs();
        player->stepButton()->click();
        QCOMPARE(player->sync()->positionMs(), before + 40);
        // A click on the timeline moves the clock: half an hour away, no
        // camera recorded.
        tl->showAround(latest, TimelineWindow::kMaxLength);
        const int64_t gap = latest - TimelineModel::dayStart(tl->day()) > 1800 ? latest - 1800 : latest + 1800;
        QTest::mouseClick(tl->view(), Qt::LeftButton, {}, tl->view()->pointOf("B765432", gap));
        const QStringList names{"Gate", "Yard", "Drive", "Porch"};
        for (int i = 0; i < 4; ++i) {
            QTRY_VERIFY(player->captionVisible(i));
            QCOMPARE(player->captionText(i), names[i] + QLatin1Char('\n') + SyncPlayer::tr("no recording"));
            QTRY_VERIFY_WITH_TIMEOUT(!syncGrid->entry(i).inUse, 10000);
        }
        // A double-click on a row leaves synced play for the window.
        play(m_local.first());
        QVERIFY(!m_page->syncShown());
        QVERIFY(!player->sync()->running());
        win->hand()->button("btnClose")->click();

        // Two camera files downloading into the default folder: the camera
        // stops sending after a part of the first, which stays in progress
        // until the transfer's time-out.
        searchCameraDay(panel(), QStringLiteral("Gate"));
        QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), m_gate.count, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->searching(), 10000);
        QDownload *dialog = panel()->downloadDialog();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->table()->rowCount(), m_gate.count, 20000);
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 250000")).left(2), QStringLiteral("OK"));
        int row = -1;
        for (int r = 0; r < dialog->table()->rowCount(); ++r) {
            const QString name = dialog->table()->item(r, QDownload::ColName)->text();
            row = name == QLatin1String("190225_08:20:00.h264") ? r : row;
            const bool wanted = name == QLatin1String("190225_08:20:00.h264")
                || name == QLatin1String("190225_08:30:00.h264");
            dialog->table()->item(r, QDownload::ColCheck)->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
        }
        QVERIFY(row >= 0);
        dialog->show();
        dialog->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
        QVERIFY(!dialog->isIdle());
        QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar(row)->value() >= 40, 20000);
        QVERIFY(dialog->progressBar(row)->value() < 100);
        QVERIFY(!dialog->isIdle());
        saveShot(dialog, "download", lang);
        dialog->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isIdle(), 20000);
        dialog->hide();
        // What the stop kept would let the next language's run continue it.
        for (const QString &tmp : QDir(dialog->downloadFolder()).entryList({QStringLiteral("*.tmp")}, QDir::Files))
            QVERIFY(QFile::remove(dialog->downloadFolder() + QLatin1Char('/') + tmp));
        QCOMPARE(m_rig.sim.command(QStringLiteral("all cut-download 0")).left(2), QStringLiteral("OK"));
        QCOMPARE(script.count(), 0);
    }

private:
    std::shared_ptr<FakeStorage> m_storage;
    CameraRig m_rig;
    SimCamera m_gate;
    const SimCamera m_drive = localCamera("D300300", "Drive");
    const SimCamera m_porch = localCamera("E400400", "Porch");
    std::unique_ptr<videosearch> m_page;
    QStringList m_local;
};

QTEST_MAIN(tst_PlaybackShots)
#include "tst_playbackshots.moc"
