// The playback page as the user meets it: local searches over two record
// folders written through the recording file library, camera searches over
// the simulator (paging at 64 entries, refused passwords), playing local and
// camera files in the page's window with the slider, speed, reset and
// snapshot.

#include "common/crashhandler.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "live/videosurface.h"
#include "live/qtipwidget.h"
#include "playback/fileplay.h"
#include "playback/qdevicefileplay.h"
#include "playback/qlocalfileplay.h"
#include "playback/qmultivideopb.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoonlypb.h"
#include "playback/qvideoslide.h"
#include "playback/qdownload.h"
#include "playback/recordsearch.h"
#include "playback/searchcontroller.h"
#include "playback/videosearch.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <memory>

using namespace pbtest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

class tst_VideoSearch : public QObject
{
    Q_OBJECT

private:
    fileplay *panel() const { return m_page->panel(); }
    QTableWidget *table() const { return panel()->table(); }
    QStringList names() const
    {
        QStringList out;
        for (int r = 0; r < table()->rowCount(); ++r)
            out << table()->item(r, fileplay::ColName)->text();
        return out;
    }
    void setRange(const QDateTime &from, const QDateTime &to)
    {
        panel()->startEdit()->setDateTime(from);
        panel()->endEdit()->setDateTime(to);
    }
    void choose(int source, const QString &device)
    {
        panel()->sourceCombo()->setCurrentIndex(source);
        const int at = panel()->deviceCombo()->findText(device);
        QVERIFY(at >= 0);
        panel()->deviceCombo()->setCurrentIndex(at);
    }
    int searchesSent() const { return int(varno::test::logText().count("[PLAYBACK]Searching device recordings finished!!!")); }
    void doubleClickRow(const QString &name)
    {
        const int row = names().indexOf(name);
        QVERIFY(row >= 0);
        emit table()->doubleClicked(table()->model()->index(row, fileplay::ColName));
    }

private slots:
    void initTestCase()
    {
        m_storage = std::make_shared<FakeStorage>();
        const QString root = varno::test::tempRoot();
        m_storage->folders = {root + QStringLiteral("/disk1/Record"), root + QStringLiteral("/disk2/Record")};
        varno::playback::setStorageAccess(m_storage);
        Record_local_InitSdk();
        RecordingOptions gate;
        RecordingOptions yard;
        yard.devId = QStringLiteral("C100200");
        RecordingOptions other;
        other.devId = QStringLiteral("D300300");
        m_gate1 = writeRecording(m_storage->folders[0], gate);
        m_yard = writeRecording(m_storage->folders[0], yard);
        m_gate2 = writeRecording(m_storage->folders[1], other);
        QVERIFY(!m_gate1.isEmpty() && !m_yard.isEmpty() && !m_gate2.isEmpty());

        SimCamera gateCam;
        gateCam.count = 70;
        gateCam.seconds = 10;
        const SimCamera yardCam = yardCamera(63, 2);
        m_rig.onMessage = onUiThread([this](const P2pMessage_S &msg) {
            if (m_page)
                m_page->recvP2pMessage(msg);
        });
        QVERIFY2(m_rig.start({gateCam, yardCam}), qPrintable(m_rig.error));

        m_page = new videosearch;
        m_page->resize(1100, 600);
        m_page->show();
        m_page->setDevInfo(deviceRecord(gateCam));
        m_page->setDevInfo(deviceRecord(yardCam));
        m_page->RecvCapPathFromConfig(root + QStringLiteral("/snapshots"));
        m_page->RecvVideoWinPause(false);
    }

    void cleanupTestCase()
    {
        delete m_page;
        m_page = nullptr;
        m_rig.stop();
        Record_local_UnInitSdk();
        varno::playback::setStorageAccess(nullptr);
    }

    void deviceCombo()
    {
        // "Camera" first: no "All Devices".
        QCOMPARE(panel()->sourceCombo()->currentIndex(), 0);
        QCOMPARE(panel()->deviceCombo()->count(), 2);
        QVERIFY(panel()->downloadButton()->isVisibleTo(panel()));
        panel()->deviceCombo()->setCurrentIndex(1);
        panel()->sourceCombo()->setCurrentIndex(1);
        QCOMPARE(panel()->deviceCombo()->itemText(0), QStringLiteral("All Devices"));
        QCOMPARE(panel()->deviceCombo()->currentText(), QStringLiteral("Yard"));
        QVERIFY(!panel()->downloadButton()->isVisibleTo(panel()));
        panel()->sourceCombo()->setCurrentIndex(0);
        QCOMPARE(panel()->deviceCombo()->count(), 2);
        QCOMPARE(panel()->deviceCombo()->currentText(), QStringLiteral("Yard"));
        // A renamed camera keeps its place.
        DvrListInfo_s renamed = deviceRecord(yardCamera(0, 0));
        varno::setText(renamed.dev.devName, "Back yard");
        m_page->setDevInfo(renamed);
        QCOMPARE(panel()->deviceCombo()->currentText(), QStringLiteral("Back yard"));
        m_page->setDevInfo(deviceRecord(yardCamera(0, 0)));
        QCOMPARE(panel()->deviceCombo()->currentText(), QStringLiteral("Yard"));
    }

    void localSearch()
    {
        PromptScript script;
        const QDate today = QDate::currentDate();
        setRange(QDateTime(today.addDays(-1), QTime(0, 0)), QDateTime(today.addDays(1), QTime(0, 0)));
        choose(1, QStringLiteral("Gate"));
        panel()->searchButton()->click();
        QCOMPARE(script.count(), 0);
        QCOMPARE(names(), QStringList{QFileInfo(m_gate1).fileName()});
        QCOMPARE(table()->item(0, fileplay::ColSource)->text(), QStringLiteral("PC"));
        QCOMPARE(varno::fieldText(panel()->files().value(QFileInfo(m_gate1).fileName()).fileName), m_gate1);
        choose(1, QStringLiteral("Yard"));
        panel()->searchButton()->click();
        QCOMPARE(names(), QStringList{QFileInfo(m_yard).fileName()});

        choose(1, QStringLiteral("All Devices"));
        panel()->searchButton()->click();
        QCOMPARE(names().size(), 3);
        QCOMPARE(panel()->recordDirs(), m_storage->folders);
        // Cameras by name; one no longer listed by its ID.
        QStringList cameras;
        for (int r = 0; r < 3; ++r)
            cameras << table()->item(r, fileplay::ColCamera)->text();
        cameras.sort();
        QCOMPARE(cameras, (QStringList{"D300300", "Gate", "Yard"}));
        QCOMPARE(varno::fieldText(panel()->files().value(QFileInfo(m_gate2).fileName()).fileName), m_gate2);

        // The time-order box leaves the table as it was.
        setRange(QDateTime(today, QTime(10, 0)), QDateTime(today, QTime(9, 59)));
        panel()->searchButton()->click();
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.requests().first().title, QStringLiteral("Search Files"));
        QCOMPARE(script.requests().first().text, QStringLiteral("Start time can not later than the end of time!"));
        QCOMPARE(names().size(), 3);

        // Nothing in the range.
        setRange(QDateTime(QDate(2001, 1, 1), QTime(0, 0)), QDateTime(QDate(2001, 1, 2), QTime(0, 0)));
        panel()->searchButton()->click();
        QCOMPARE(script.requests().last().text, QStringLiteral("Device has no records !"));
        QCOMPARE(names().size(), 0);

        // No storage configuration.
        m_storage->valid = false;
        panel()->searchButton()->click();
        QCOMPARE(script.requests().last().title, QStringLiteral("Recordings Management"));
        m_storage->valid = true;
    }

    // "Export to MP4" says "Saved" only for an MP4 that holds the
    // recording; a failure names its cause in the box and the operation log
    // and leaves no file behind.
    void exportReportsTheTruth()
    {
        PromptScript script;
        searchLocalAroundToday(panel());
        const QString name = QFileInfo(m_yard).fileName();
        const QString folder = varno::test::tempRoot() + QStringLiteral("/exports");
        panel()->downloadDialog()->setDownloadFolder(folder);
        const QString target = folder + QLatin1Char('/') + varno::playback::downloadTargetName(name);
        QSignalSpy operations(panel(), &fileplay::sendOperation);
        // Progress comes from the export thread, which the crash handler covers.
        std::atomic<int> progress{0};
        std::atomic<int> withoutCrashStack{0};
        QObject watcher;   // the connection ends with this test
        connect(panel(), &fileplay::exportProgress, &watcher, [&](int) {
            ++progress;
            if (!CrashHandlerOnThisThread())
                ++withoutCrashStack;
        }, Qt::DirectConnection);

        QCOMPARE(panel()->exportToMp4(name), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->exporting() && script.count() == 1, 30000);
        QVERIFY(progress.load() > 0);
        QCOMPARE(withoutCrashStack.load(), 0);
        QCOMPARE(script.requests().last().text, QStringLiteral("Saved to %1").arg(target));
        QVERIFY(QFileInfo(target).size() > 0);
        QCOMPARE(operations.count(), 0);

        // The target's name is taken by a folder: the MP4 cannot be put there.
        QVERIFY(QFile::remove(target));
        QVERIFY(QDir().mkpath(target));
        QCOMPARE(panel()->exportToMp4(name), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->exporting() && script.count() == 2, 30000);
        const QString text = script.requests().last().text;
        QVERIFY2(text.startsWith(QStringLiteral("Failed to export %1.").arg(target)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("cannot rename")), qPrintable(text));
        QCOMPARE(operations.count(), 1);
        QVERIFY(operations.first().first().toString().contains(QStringLiteral("cannot rename")));
        QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
        QVERIFY(QFileInfo(target).isDir());
    }

    void cameraSearchPages()
    {
        PromptScript script;
        int before = searchesSent();
        searchCameraDay(panel(), QStringLiteral("Gate"));
        // 64, then the 6 that follow: two requests.
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 70, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->searching(), 10000);
        QCOMPARE(searchesSent() - before, 2);
        QCOMPARE(names().first(), QStringLiteral("190225_08:00:00.h264"));
        QCOMPARE(table()->item(0, fileplay::ColSource)->text(), QStringLiteral("Camera"));
        QCOMPARE(script.count(), 0);

        before = searchesSent();
        searchCameraDay(panel(), QStringLiteral("Yard"));
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 63, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->searching(), 10000);
        QCOMPARE(searchesSent() - before, 1);
    }

    // A refused password asks again even when one was stored.
    void refusedPassword()
    {
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 refuse-password on")).left(2), QStringLiteral("OK"));
        PromptScript script;
        searchCameraDay(panel(), QStringLiteral("Gate"));
        QTRY_COMPARE_WITH_TIMEOUT(script.count(), 2, 20000);
        const QList<varno::ui::PromptRequest> r = script.requests();
        QCOMPARE(r[0].text, QStringLiteral("Camera password is incorrect, please input the correct password"));
        QCOMPARE(r[1].kind, PromptKind::Password);
        QCOMPARE(r[1].text, QStringLiteral("Gate"));
        QCOMPARE(names().size(), 0);
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 refuse-password off")).left(2), QStringLiteral("OK"));
        // The stored password is still the one the camera takes.
        QCOMPARE(panel()->passwordOf(QStringLiteral("B765432")), QByteArray("abc123"));
    }

    // A camera that does not answer: the search's connect waits on the
    // search controller's thread (the button shows it) while the event loop
    // turns; closing the page then neither hangs nor shows a box.
    void closeWhileSearching()
    {
        PromptScript script;
        const SimCamera ghost = ghostCamera();
        auto *page = new videosearch;
        page->setDevInfo(deviceRecord(ghost));
        fileplay *panel = page->panel();
        LoopProbe probe;
        searchCameraDay(panel, ghost.name);
        QVERIFY(panel->searchController()->busy());
        QVERIFY(!panel->searchButton()->isEnabled());
        QCOMPARE(panel->searchButton()->toolTip(), QStringLiteral("Searching..."));
        QTRY_VERIFY_WITH_TIMEOUT(probe.ticks >= 20, 10000);
        const bool stillConnecting = panel->searchController()->busy();
        delete page;
        QVERIFY2(stillConnecting, "the loop turned only after the connect");
        QCoreApplication::processEvents();
        QCOMPARE(script.count(), 0);
    }

    // A camera file whose camera does not answer: its start (the session,
    // up to the library's time-out) runs on the playback controller's
    // thread while the loop turns, and the window takes no requests
    // meanwhile. Closing the window, then the whole grid, while starts wait
    // neither hangs on them nor lets them run on freed memory.
    void closeWhilePlayingStarts()
    {
        const SimCamera ghost = ghostCamera();
        auto grid = std::make_unique<qvideoonlypb>(nullptr, 1);
        grid->setDevInfo(deviceRecord(ghost));
        MEDIA_FILE_S file{};
        varno::setText(file.devId, "X000000");
        varno::setText(file.fileName, "190225_08.00.00.h264");
        file.frameRate = 25;
        LoopProbe probe;
        QCOMPARE(grid->playFile(QStringLiteral("190225_08:00:00.h264"), 1, file), 0);
        QVERIFY(grid->entry(0).inUse && grid->entry(0).opening);
        QTRY_VERIFY_WITH_TIMEOUT(probe.ticks >= 20, 10000);
        QVERIFY2(grid->entry(0).opening, "the loop turned only after the start");
        grid->window(0)->hand()->button("btnClose")->click();
        QVERIFY(!grid->entry(0).inUse);
        QVERIFY(!grid->engineOf(0));
        QCOMPARE(grid->playFile(QStringLiteral("190225_08:00:00.h264"), 1, file), 0);
        grid.reset();
    }

    // A camera's search reply with no search of it running (late, or from
    // another camera) is dropped: no password box, no search of its own.
    void strayRepliesDropped()
    {
        PromptScript script;
        const int before = searchesSent();
        const RECORD_SEARCH_RSP_S refused{1, 0, 0};
        for (const char *camera : {"VRNB-765432-KXPQT", "VRNX-000000-NOONE"}) {
            P2pMessage_S msg{};
            varno::setText(msg.devId, camera);
            msg.type = P2P_MSG_RECORD_LIST;
            msg.payload = reinterpret_cast<const char *>(&refused);
            msg.payloadLen = int32_t(sizeof(refused));
            m_page->recvP2pMessage(msg);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(varno::test::logText().count("came with no search of it running, dropped")), 2,
                                  10000);
        QCoreApplication::processEvents();
        QCOMPARE(script.count(), 0);
        QCOMPARE(searchesSent(), before);
        QVERIFY(!panel()->searching());
    }

    void playLocalFiles()
    {
        PromptScript script;
        searchLocalAroundToday(panel());
        QCOMPARE(names().size(), 3);
        qvideoonlypb *grid = m_page->grid();
        qmultivideopb *win = grid->window(0);
        doubleClickRow(QFileInfo(m_gate1).fileName());
        QVERIFY(grid->entry(0).inUse);
        // The file is opened on the playback controller's thread.
        QTRY_VERIFY_WITH_TIMEOUT(!grid->entry(0).opening, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(win->video()->newPicturesPainted() > 3, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(win->slide()->maximum(), 2, 20000);
        QCOMPARE(win->slide()->totalText(), QStringLiteral("00:02"));
        QVERIFY(win->hand()->button("btnFast")->isVisibleTo(win));
        QCOMPARE(win->hand()->fileName(), QFileInfo(m_gate1).fileName());
        // Speed from the toolbar.
        win->hand()->button("btnFast")->click();
        QCOMPARE(win->hand()->speedText(), QStringLiteral("X2"));
        QCOMPARE(grid->engineOf(0)->speed(), 2.0f);
        // Pausing moves no button ("Stop" stays put); "Next frame" is usable only while paused.
        const auto stop = [win] { win->hand()->layout()->activate(); return win->hand()->button("btnStop")->geometry(); };
        const QRect playing = stop();
        QVERIFY(!win->hand()->button("btnStep")->isEnabled());
        win->hand()->button("btnPlay")->click();
        QVERIFY(stop() == playing && win->hand()->button("btnStep")->isEnabled());
        win->hand()->button("btnPlay")->click();

        // The same file again only selects its window.
        qmediaplay *first = grid->engineOf(0);
        doubleClickRow(QFileInfo(m_gate1).fileName());
        QCOMPARE(grid->engineOf(0), first);

        // A second file replays in the one window after the first is reset.
        doubleClickRow(QFileInfo(m_yard).fileName());
        QCOMPARE(grid->entry(0).fileName, QFileInfo(m_yard).fileName());
        QTRY_VERIFY_WITH_TIMEOUT(!grid->entry(0).opening, 20000);
        const int painted = int(win->video()->newPicturesPainted());
        QTRY_VERIFY_WITH_TIMEOUT(int(win->video()->newPicturesPainted()) > painted + 3, 20000);
        QCOMPARE(win->hand()->speedText(), QStringLiteral("X1"));   // the reset put the speed back
        // Snapshot with its pop-up.
        win->hand()->button("btnSnap")->click();
        QVERIFY(grid->tipWidget());
        QCOMPARE(grid->tipWidget()->title(), QStringLiteral("Snapshot"));
        const QStringList snaps = QDir(grid->capPath()).entryList({QStringLiteral("*-C100200-3.bmp")});
        QCOMPARE(snaps.size(), 1);

        // At its end a file waits with the play button shown; a double-click on its row, or play, replays it.
        for (const bool byRow : {true, false}) {
            QTRY_VERIFY_WITH_TIMEOUT(grid->entry(0).ended && win->hand()->isPaused() && win->slide()->value() == 2, 20000);
            byRow ? doubleClickRow(QFileInfo(m_yard).fileName()) : win->hand()->button("btnPlay")->click();
            QVERIFY(!win->hand()->isPaused() && !grid->engineOf(0)->paused());
            QTRY_COMPARE_WITH_TIMEOUT(win->slide()->value(), 0, 20000);
        }
        // Close resets the window.
        win->hand()->button("btnClose")->click();
        QVERIFY(!grid->entry(0).inUse);
        QVERIFY(!grid->engineOf(0));
        QVERIFY(win->video()->painting());
        QCOMPARE(win->hand()->speedText(), QStringLiteral("X1"));

        // A recording deleted between search and play leaves the window free.
        QVERIFY(QFile::remove(m_gate2));
        doubleClickRow(QFileInfo(m_gate2).fileName());
        QVERIFY(grid->entry(0).opening);
        QTRY_VERIFY_WITH_TIMEOUT(!grid->entry(0).inUse, 20000);
        QVERIFY(win->video()->painting());
        QCOMPARE(script.count(), 0);
    }

    void playCameraFile()
    {
        PromptScript script;
        searchCameraDay(panel(), QStringLiteral("Gate"));
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 70, 20000);
        qvideoonlypb *grid = m_page->grid();
        qmultivideopb *win = grid->window(0);
        doubleClickRow(QStringLiteral("190225_08:10:00.h264"));
        QVERIFY(grid->entry(0).inUse);
        QTRY_VERIFY_WITH_TIMEOUT(!grid->entry(0).opening, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(win->video()->newPicturesPainted() > 3, 20000);
        // The length came with message 14.
        QTRY_COMPARE_WITH_TIMEOUT(win->slide()->maximum(), 10, 20000);
        QVERIFY(!win->hand()->button("btnFast")->isVisibleTo(win));
        auto *engine = dynamic_cast<qdevicefileplay *>(grid->engineOf(0));
        QVERIFY(engine);
        // A drag of the slider holds the stream and restarts it where it ends.
        win->slide()->SliderPress();
        QVERIFY(engine->seekHold());
        win->slide()->SliderMoved(6);
        win->slide()->SliderRelease();
        QTRY_COMPARE_WITH_TIMEOUT(engine->restarts(), 1u, 20000);
        QCOMPARE(engine->lastStartSecond(), 6);
        QTRY_VERIFY_WITH_TIMEOUT(win->slide()->value() >= 6, 20000);
        // Pause from the toolbar, resume at the stored second.
        win->hand()->button("btnPlay")->click();
        QVERIFY(engine->paused());
        const uint32_t stored = engine->position();
        win->hand()->button("btnPlay")->click();
        QTRY_COMPARE_WITH_TIMEOUT(engine->restarts(), 2u, 20000);
        QCOMPARE(engine->lastStartSecond(), int(stored));
        // Showing the live page holds the playback.
        m_page->RecvVideoWinPause(true);
        QVERIFY(engine->suspended());
        m_page->RecvVideoWinPause(false);
        QVERIFY(!engine->suspended());

        // At its end the camera file waits with the play button shown; a
        // download (the page held and let go) leaves it there; a double-click
        // on its row plays it again from its first second.
        QTRY_VERIFY_WITH_TIMEOUT(grid->entry(0).ended && win->hand()->isPaused() && engine->paused(), 30000);
        const uint32_t restarts = engine->restarts();
        m_page->RecvVideoWinPause(true);
        m_page->RecvVideoWinPause(false);
        QVERIFY(engine->paused() && !engine->suspended());
        doubleClickRow(QStringLiteral("190225_08:10:00.h264"));
        QVERIFY(!win->hand()->isPaused() && !engine->paused() && !grid->entry(0).ended);
        QTRY_COMPARE_WITH_TIMEOUT(engine->restarts(), restarts + 1, 20000);
        QCOMPARE(engine->lastStartSecond(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(win->slide()->value() < 3 && win->video()->newPicturesPainted() > 3, 20000);
        win->hand()->button("btnClose")->click();
        QVERIFY(!grid->entry(0).inUse);
        QCOMPARE(script.count(), 0);
    }

    // An ONVIF camera hands out no recordings: said so, not a failed query.
    void onvifCameraKeepsNoRecordings()
    {
        DvrListInfo_s onvif = deviceRecord(yardCamera(0, 0));
        onvif.dev.p2pFlag = 0;
        m_page->setDevInfo(onvif);
        PromptScript script;
        choose(0, QStringLiteral("Yard"));
        panel()->searchButton()->click();
        QVERIFY(script.requests().value(0).text.startsWith(QStringLiteral("This camera keeps no recordings the client")));
    }

private:
    std::shared_ptr<FakeStorage> m_storage;
    CameraRig m_rig;
    videosearch *m_page = nullptr;
    QString m_gate1, m_gate2, m_yard;
};

QTEST_MAIN(tst_VideoSearch)
#include "tst_videosearch.moc"
