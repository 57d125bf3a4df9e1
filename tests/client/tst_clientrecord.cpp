// Recording end to end through the main window and its live page, against
// a private broker and the camera simulator, onto a fake system disk: the
// storage page saved at start, a P2P camera recorded from its live stream
// and an ONVIF camera from a second RTSP stream of its own, both started
// and stopped with the windows' record buttons; the record count follows;
// the files play in an ordinary decoder with the camera's codec and size.
// With "Alarm recording" set on the storage page, a motion event of the
// ONVIF camera starts an alarm recording and its end stops it. A camera
// whose stream stops (the ONVIF camera's RTSP server, the P2P camera's
// stream) for longer than the silence rule and for a short while during a
// recording by hand and an alarm recording: the record button waits and
// comes back, the operation log notes both, the recording goes on in a
// second file and over the short gap, on the recorders' own clock.
#include "client/client.h"
#include "config/qconfigmgr.h"
#include "tests/client/camerarig.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "playback/fileplay.h"
#include "playback/localexport.h"
#include "playback/storageaccess.h"
#include "playback/videosearch.h"
#include "platform/userstore/user_local.h"
#include "record/cstorage.h"
#include "record/camerarecorder.h"
#include "record/disksource.h"
#include "tests/record/recorderfixture.h"
#include "tests/record/storagefixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QDir>
#include <QToolButton>
#include <QSignalSpy>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptScript;

namespace {

const QByteArray kLobby = "5a5a5a5a-0000-4000-8000-0000000000b1";
const QByteArray kPorch = "5a5a5a5a-0000-4000-8000-0000000000b2"; // H.265, as is the P2P camera Yard

QVideoHand *handOf(realvideo *live, const QString &key)
{
    LiveWinInfo w{};
    if (!live->windowInfo(key, &w))
        return nullptr;
    return live->videoOnly()->videoWin(w.winIndex)->hand();
}

// The recording files of a camera in the folder.
QStringList filesOf(const QString &folder, const QString &id)
{
    QString safe = id;
    return QDir(folder).entryList({safe + QStringLiteral("_*.mkv")}, QDir::Files, QDir::Name);
}

// Video packet times of a file (seconds).
QList<double> videoTimes(const QString &path)
{
    QList<double> out;
    const QString text = rectest::ffprobe(path, {QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                                                 QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time"),
                                                 QStringLiteral("-of"), QStringLiteral("csv=p=0")});
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << line.toDouble();
    std::sort(out.begin(), out.end());
    return out;
}

QDateTime timeOf(const MEDIA_TIME_S &t)
{
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

} // namespace

class TestClientRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The system disk only, and a fake one: nothing outside the test's home.
        m_home = QDir::homePath();
        auto disks = std::make_shared<varno::record::FakeDiskSource>();
        disks->addDisk(QStringLiteral("~/"), m_home, 500ull << 30);
        varno::record::setDiskSource(disks);

        const QString error = m_rig.start({{QString::fromLatin1(kLobby), QStringLiteral("Lobby")},
                                           {QString::fromLatin1(kPorch), QStringLiteral("Porch")}},
                                          2, {QStringLiteral("Yard"), QStringLiteral("Porch")});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void recordButtonsRecordBothKindsOfCamera_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::newRow("H.264: Gate and Lobby") << QStringLiteral("h264");
        QTest::newRow("H.265: Yard and Porch") << QStringLiteral("hevc");
    }

    void recordButtonsRecordBothKindsOfCamera()
    {
        QFETCH(QString, codec);
        const bool h265 = codec == QLatin1String("hevc");
        const QString p2pId = h265 ? QStringLiteral("C100200") : QStringLiteral("B765432");
        const QByteArray onvifId = h265 ? kPorch : kLobby;
        QVERIFY(seedStore({h265 ? p2pCamera("C100200", "VRNC-100200-ABCDE", "Yard", "pw9999")
                                : p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123"),
                           camera(onvifId, h265 ? "Porch" : "Lobby", "583", false, "127.0.0.1",
                                  m_rig.onvifServices[h265 ? 1 : 0].toUtf8())}));
        PromptScript prompts;
        const QString folder = m_home + QStringLiteral("/Varno/Record");
        QString gateFile;
        QString lobbyFile;
        {
            Client client("127.0.0.1");
            QVERIFY(clienttest::showClient(client));
            // The storage page saved at start: the record folder exists.
            CStorage *storage = CStorage::Instance();
            QVERIFY(storage);
            QVERIFY(QFileInfo(folder).isDir());
            QCOMPARE(storage->getRecordDiskList().size(), 1);
            realvideo *live = client.liveView();
            QCOMPARE(live->snapshotFolder(), storage->getCapturePath());

            client.startP2PRegistration();
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, p2pId.toLatin1()), int(STATE_ONLINE), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, onvifId), int(STATE_ONLINE), 20000);

            doubleClick(client, p2pId);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(p2pId).presentedPictures > 0, 15000);
            doubleClick(client, QString::fromLatin1(onvifId));
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QString::fromLatin1(onvifId)).presentedPictures > 0, 15000);

            QVideoHand *gate = handOf(live, p2pId);
            QVideoHand *lobby = handOf(live, QString::fromLatin1(onvifId));
            QVERIFY(gate && lobby);
            // Each recording starts off the window's thread; the button waits.
            gate->recordButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(gate->recordLook(), QVideoHand::RecordLook::Normal, 15000);
            QCOMPARE(storage->recordCount(), 1);
            lobby->recordButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(lobby->recordLook(), QVideoHand::RecordLook::Normal, 15000);
            QCOMPARE(storage->recordCount(), 2);

            // Both files grow: the P2P camera's from the live stream, the ONVIF
            // camera's from its own RTSP stream.
            auto grown = [&](const QString &id) {
                const QStringList f = filesOf(folder, id);
                return !f.isEmpty() && QFileInfo(folder + QStringLiteral("/") + f.first()).size() > 30000;
            };
            QTRY_VERIFY_WITH_TIMEOUT(grown(p2pId), 30000);
            QTRY_VERIFY_WITH_TIMEOUT(grown(QString::fromLatin1(onvifId)), 30000);
            QVERIFY(logText().contains("[RECORD]Open stream, uri("));
            QVERIFY(!logText().contains(":583@")); // the camera's password never reaches the log

            gate->recordButton()->click();
            lobby->recordButton()->click();
            QCOMPARE(gate->recordLook(), QVideoHand::RecordLook::Reset);
            QCOMPARE(lobby->recordLook(), QVideoHand::RecordLook::Reset);
            QCOMPARE(storage->recordCount(), 0);
            QVERIFY(!live->videoOnly()->isRecording(p2pId));
            QVERIFY(prompts.requests().isEmpty()); // no failure message
            gateFile = folder + QStringLiteral("/") + filesOf(folder, p2pId).first();
            lobbyFile = folder + QStringLiteral("/") + filesOf(folder, QString::fromLatin1(onvifId)).first();

            // The playback page finds both on the PC, in the storage page's
            // record folder.
            fileplay *search = client.playbackView()->panel();
            QStringList folders;
            QCOMPARE(varno::playback::storageAccess()->recordFolders(&folders), 0);
            QCOMPARE(folders, QStringList{folder});
            search->sourceCombo()->setCurrentIndex(1);
            search->deviceCombo()->setCurrentIndex(search->deviceCombo()->findText(QStringLiteral("All Devices")));
            const QDateTime now = QDateTime::currentDateTime();
            search->startEdit()->setDateTime(now.addDays(-1));
            search->endEdit()->setDateTime(now.addDays(1));
            search->searchButton()->click();
            QStringList found;
            for (int r = 0; r < search->table()->rowCount(); ++r)
                found << search->table()->item(r, fileplay::ColName)->text();
            QVERIFY2(found.contains(QFileInfo(gateFile).fileName()) && found.contains(QFileInfo(lobbyFile).fileName()),
                     qPrintable(found.join(QLatin1Char(' '))));
            QVERIFY(prompts.requests().isEmpty());

            prompts.answer(QMessageBox::Yes);
            button(client, "btnWinClose")->click();
        }
        // Ordinary players read both files whole.
        QCOMPARE(rectest::decodeErrors(gateFile), QString());
        // The ONVIF camera's recording too: its RTSP stream joined while the
        // live view's was playing (the server shares one pipeline between them),
        // and, for H.265, two slices per picture: a later slice of a picture
        // never begins the file, no unit is cut.
        const QString lobbyErrors = rectest::decodeErrors(lobbyFile);
        QCOMPARE(lobbyErrors, QString());
        QCOMPARE(rectest::ffprobe(gateFile, {QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                                             QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,width,height"),
                                             QStringLiteral("-of"), QStringLiteral("csv=p=0")}),
                 codec + QStringLiteral(",128,72"));
        // Exported to MP4: the camera's codec and every picture of the recording.
        const QStringList count {QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-count_frames"),
                                 QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,nb_read_frames"),
                                 QStringLiteral("-of"), QStringLiteral("csv=p=0")};
        for (const QString &f : {gateFile, lobbyFile}) {
            const QString mp4 = f + QStringLiteral(".mp4");
            const auto result = varno::playback::exportToMp4(f.toUtf8().constData(), mp4.toUtf8().constData(), {});
            QVERIFY2(result.ok(), result.reason.c_str());
            QVERIFY(rectest::ffprobe(f, count).startsWith(codec + QLatin1Char(',')));
            QCOMPARE(rectest::ffprobe(mp4, count), rectest::ffprobe(f, count));
            QCOMPARE(rectest::decodeErrors(mp4), QString());
        }
        for (const QString &f : {gateFile, lobbyFile}) {
            const double duration = rectest::ffprobe(f, {QStringLiteral("-show_entries"), QStringLiteral("format=duration"),
                                                         QStringLiteral("-of"), QStringLiteral("csv=p=0")})
                                        .toDouble();
            QVERIFY2(duration > 0.5, qPrintable(f + QStringLiteral(": ") + QString::number(duration)));
        }
        // Both files are listed, closed.
        const QStringList listed = storagetest::listed(folder);
        QVERIFY(listed.contains(QFileInfo(gateFile).fileName()));
        QVERIFY(listed.contains(QFileInfo(lobbyFile).fileName()));
    }

    void motionEventStartsAnAlarmRecording()
    {
        const QString lobbyId = QString::fromLatin1(kLobby);
        QVERIFY(seedStore({camera(kLobby, "Lobby", "583", false, "127.0.0.1", m_rig.onvifServices[0].toUtf8())}));
        PromptScript prompts;
        const QString folder = m_home + QStringLiteral("/Varno/Record");
        const QStringList before = filesOf(folder, lobbyId);
        {
            Client client("127.0.0.1");
            QVERIFY(clienttest::showClient(client));
            CStorage *storage = CStorage::Instance();
            realvideo *live = client.liveView();

            // "Alarm recording": every alarm, saved on the storage page.
            QWidget *page = client.configWindow()->storagePage();
            auto *alarms = page->findChild<QComboBox *>(QStringLiteral("alarmComboBox"));
            auto *save = page->findChild<QPushButton *>(QStringLiteral("btnSave"));
            QVERIFY(alarms && save);
            alarms->setCurrentIndex(1);
            prompts.answer(QMessageBox::Ok);
            save->click();
            QCOMPARE(storage->getRecordAlarmType(), 1);
            QCOMPARE(live->recordAlarmType(), 1);
            QCOMPARE(prompts.take().size(), 1); // "Save storage set successfully. ..."

            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, kLobby), int(STATE_ONLINE), 20000);
            doubleClick(client, lobbyId);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(lobbyId).presentedPictures > 0, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(live->subscriptions().contains(lobbyId), 15000);
            QVideoHand *lobby = handOf(live, lobbyId);
            QVERIFY(lobby);
            QCOMPARE(lobby->recordLook(), QVideoHand::RecordLook::Reset);
            QCOMPARE(storage->recordCount(), 0);

            // The camera's motion detector fires. Its pull-point subscription
            // may still be on its way: it fires again until the page lists it.
            auto alarmed = [&] { return live->alarmTable()->rowCount() > 0; };
            for (int i = 0; i < 30; ++i) {
                QCOMPARE(m_rig.sim.command(QStringLiteral("onvif event 0 motion on")), QStringLiteral("OK"));
                if (QTest::qWaitFor(alarmed, 1000))
                    break;
            }
            QVERIFY(alarmed());
            QCOMPARE(live->alarmTable()->item(0, 2)->text(), QStringLiteral("Motion Detection alarm"));
            QCOMPARE(live->alarmTable()->item(0, 3)->text(), QStringLiteral("Lobby"));
            QCOMPARE(live->alarmTable()->item(0, 3)->data(Qt::UserRole).toString(), lobbyId);
            QTRY_COMPARE_WITH_TIMEOUT(lobby->recordLook(), QVideoHand::RecordLook::Alarm, 15000);
            QVERIFY(live->videoOnly()->isRecording(lobbyId));
            QCOMPARE(storage->recordCount(), 1);

            // The file grows (its type in the file list, whole and closed, is
            // the alarm rows' of recordingGoesOnWhenTheStreamComesBack).
            auto grown = [&] {
                const QStringList now = filesOf(folder, lobbyId);
                return now.size() == before.size() + 1 && QFileInfo(folder + QLatin1Char('/') + now.last()).size() > 30000;
            };
            QTRY_VERIFY_WITH_TIMEOUT(grown(), 30000);

            // The motion ends: the alarm recording stops.
            QCOMPARE(m_rig.sim.command(QStringLiteral("onvif event 0 motion off")), QStringLiteral("OK"));
            QTRY_VERIFY_WITH_TIMEOUT(!live->videoOnly()->isRecording(lobbyId), 15000);
            QCOMPARE(lobby->recordLook(), QVideoHand::RecordLook::Reset);
            QCOMPARE(storage->recordCount(), 0);
            QVERIFY(prompts.requests().isEmpty());

            // Back to no alarm recording for the other cases.
            alarms->setCurrentIndex(0);
            prompts.answer(QMessageBox::Ok);
            save->click();
            QCOMPARE(live->recordAlarmType(), 0);
            prompts.take();

            prompts.answer(QMessageBox::Yes);
            button(client, "btnWinClose")->click();
        }
    }

    void recordingGoesOnWhenTheStreamComesBack_data()
    {
        QTest::addColumn<bool>("onvif");
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<bool>("moves"); // the camera comes back with a new stream address
        QTest::newRow("ONVIF camera, by hand") << true << false << false;
        QTest::newRow("ONVIF camera, alarm") << true << true << false;
        QTest::newRow("ONVIF camera, new stream address") << true << false << true;
        QTest::newRow("P2P camera, by hand") << false << false << false;
        QTest::newRow("P2P camera, alarm") << false << true << false;
    }

    void recordingGoesOnWhenTheStreamComesBack()
    {
        QFETCH(bool, onvif);
        QFETCH(bool, alarm);
        QFETCH(bool, moves);
        const QString id = onvif ? QString::fromLatin1(kLobby) : QStringLiteral("B765432");
        const QString down = onvif ? QStringLiteral("onvif rtsp-down 0") : QStringLiteral("B765432 stall all on");
        const QString up = onvif ? QStringLiteral("onvif rtsp-up 0") : QStringLiteral("B765432 stall all off");
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123"),
                           camera(kLobby, "Lobby", "583", false, "127.0.0.1", m_rig.onvifServices[0].toUtf8())}));
        PromptScript prompts;
        const QString folder = m_home + QStringLiteral("/Varno/Record");
        const QStringList before = filesOf(folder, id);
        auto newFiles = [&] {
            QStringList now = filesOf(folder, id);
            for (const QString &f : before)
                now.removeAll(f);
            return now;
        };
        auto sizeOf = [&](const QString &name) { return QFileInfo(folder + QStringLiteral("/") + name).size(); };
        const QVideoHand::RecordLook going = alarm ? QVideoHand::RecordLook::Alarm : QVideoHand::RecordLook::Normal;
        {
            Client client("127.0.0.1");
            QVERIFY(clienttest::showClient(client));
            realvideo *live = client.liveView();
            QVideoOnly *grid = live->videoOnly();
            // The recorders run on a clock of the test's own: outages of 5 s and
            // 30 s take no time, and no file closes while the test looks.
            rectest::Clock clock;
            grid->setRecorderFactory([grid, &clock](const DvrListInfo_s &dev, int alarmType) -> std::unique_ptr<LiveRecorder> {
                RecorderEnv env;
                env.clock = clock.fn();
                return varno::record::startCameraRecorder(
                    dev, alarmType,
                    [grid](const QString &cam, const QString &path, int code, LiveRecorder *recorder) {
                        grid->recvRecord(cam, path, code, recorder);
                    },
                    env);
            });
            QSignalSpy operations(&client, &Client::sendLogInfo);
            auto logged = [&](const QString &text) {
                for (const auto &args : operations)
                    if (varno::fieldText(args.at(0).value<LogInfo_s>().content) == QStringLiteral("Device:") + id + text)
                        return true;
                return false;
            };
            if (!onvif)
                client.startP2PRegistration();
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, id.toLatin1()), int(STATE_ONLINE), 20000);
            doubleClick(client, id);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(id).presentedPictures > 0, 15000);
            QVideoHand *hand = handOf(live, id);
            QVERIFY(hand);
            if (alarm)
                grid->RecordAlarmStream(id, 3); // motion detection
            else
                hand->recordButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(hand->recordLook(), going, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(newFiles().size() == 1 && sizeOf(newFiles().first()) > 20000, 30000);
            const QString first = newFiles().first();
            // Frames on their way when the camera stopped may still come: the
            // recorders' clock moves a second at a time until the button waits.
            auto loseStream = [&] {
                auto waiting = [&] { return hand->recordLook() == QVideoHand::RecordLook::Waiting; };
                for (int i = 0; i < 20 && !waiting(); ++i) {
                    clock.ms += 1000;
                    if (QTest::qWaitFor(waiting, 1000))
                        break;
                }
                return waiting();
            };

            // The simulator's RTSP server, just restarted, can wedge when two
            // sessions set its shared stream up at once: the live view reopens
            // first (its own clock), then the recorders' clock moves.
            auto liveBack = [&](int64_t before) {
                return !onvif || QTest::qWaitFor([&] { return live->streamStats(id).presentedPictures > before; }, 30000);
            };

            // Longer than the silence rule: the first file closes, the camera
            // comes back, the next key frame opens the second file.
            QCOMPARE(m_rig.sim.command(down).left(2), QStringLiteral("OK"));
            QVERIFY(loseStream());
            QCOMPARE(hand->recordButton()->toolTip(), QStringLiteral("waiting for the camera"));
            QVERIFY(grid->isRecording(id) && grid->isRecordWaiting(id));
            QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral(" Recording lost its stream")), 15000);
            clock.ms += 30000;
            QTRY_VERIFY_WITH_TIMEOUT(logText().contains(QByteArray("No stream come, write(") + folder.toUtf8() + "/" + first.toUtf8()), 15000);
            // The next file begins in a later second of the wall clock than the
            // first one ended.
            const qint64 closedAt = QDateTime::currentSecsSinceEpoch();
            QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > closedAt, 5000);
            int64_t shown = live->streamStats(id).presentedPictures;
            QCOMPARE(m_rig.sim.command(moves ? QStringLiteral("onvif rtsp-move 0") : up).left(2), QStringLiteral("OK"));
            QVERIFY(liveBack(shown)); // a moved camera's live view asks for its new address
            clock.ms += varno::kReopenLongestDelayMs; // the back-off's next attempt is due
            QTRY_COMPARE_WITH_TIMEOUT(hand->recordLook(), going, 30000);
            if (onvif)
                QCOMPARE(logText().contains("hands out a new stream uri("), moves);
            QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral(" Recording has its stream again")), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(newFiles().size() == 2 && sizeOf(newFiles().last()) > 20000, 30000);
            const QString second = newFiles().last();

            // 5 s (or a little more, until the back-off's next attempt; less
            // than the silence rule): the second file goes on over the gap.
            const uint64_t downAt = clock.ms;
            QCOMPARE(m_rig.sim.command(down).left(2), QStringLiteral("OK"));
            QVERIFY(loseStream());
            shown = live->streamStats(id).presentedPictures;
            QCOMPARE(m_rig.sim.command(up).left(2), QStringLiteral("OK"));
            QVERIFY(liveBack(shown));
            clock.ms = std::max<uint64_t>(clock.ms, downAt + 5000);
            while (!QTest::qWaitFor([&] { return hand->recordLook() == going; }, 2000) && clock.ms < downAt + 9000)
                clock.ms += 1000;
            QTRY_COMPARE_WITH_TIMEOUT(hand->recordLook(), going, 30000);
            const qint64 grownFrom = sizeOf(second);
            QTRY_VERIFY_WITH_TIMEOUT(sizeOf(second) > grownFrom + 20000, 30000);
            QCOMPARE(newFiles().size(), 2);
            QCOMPARE(grid->isAlarmRecording(id), alarm);

            if (alarm)
                grid->RecordAlarmStream(id, 0); // the alarm ends
            else
                hand->recordButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!grid->isRecording(id), 15000);
            QCOMPARE(hand->recordLook(), QVideoHand::RecordLook::Reset);
            QVERIFY(prompts.requests().isEmpty());
            prompts.answer(QMessageBox::Yes);
            button(client, "btnWinClose")->click();

            // Both files are whole; the gaps lie between them in the file list
            // and in the second file's time stamps.
            for (const QString &f : {first, second})
                QCOMPARE(rectest::decodeErrors(folder + QStringLiteral("/") + f), QString());
            const QList<double> times = videoTimes(folder + QStringLiteral("/") + second);
            double gap = 0;
            for (int i = 1; i < times.size(); ++i)
                gap = std::max(gap, times[i] - times[i - 1]);
            QVERIFY2(gap >= 4.5 && gap < 10, qPrintable(QString::number(gap)));
            std::vector<MEDIA_FILE_S> records;
            {
                RecordFilelistLocker lock;
                QVERIFY(varno::recfile::readFilelist(folder.toStdString(), records));
            }
            auto recordOf = [&](const QString &name) -> const MEDIA_FILE_S * {
                const auto it = std::find_if(records.begin(), records.end(),
                                             [&](const MEDIA_FILE_S &r) { return varno::fieldText(r.fileName) == name; });
                return it == records.end() ? nullptr : &*it;
            };
            QVERIFY(recordOf(first) && recordOf(second));
            QVERIFY(timeOf(recordOf(first)->endTime) < timeOf(recordOf(second)->startTime));
            for (const QString &f : {first, second}) {
                QCOMPARE(int(recordOf(f)->state), int(MEDIA_FILE_STATE_CLOSED));
                QCOMPARE(int(recordOf(f)->alarmType), alarm ? 1 : 0);
            }
        }
    }

private:
    CameraRig m_rig;
    QString m_home;
};

QTEST_MAIN(TestClientRecord)
#include "tst_clientrecord.moc"
