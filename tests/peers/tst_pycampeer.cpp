// The client library against a camera that was written from the protocol
// document alone (tests/peers/pycam.py): adding it by camera ID, its live
// video, the alarm log dialog, and pan, tilt, zoom and presets through the
// client's PTZ controller.
#include "alarm/qalarmsearch.h"
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "common/ptzrecords.h"
#include "device/qmanualdial.h"
#include "live/ptzcontroller.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "tests/device/devicefixture.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/files.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <mutex>

using varno::test::MqttBroker;
using varno::ui::PromptScript;

namespace {

const char *const kDevice = "P135790";
const char *const kCamera = "VRNP-135790-PYCAM";
const char *const kPassword = "peer2468";
constexpr int kAlarms = 12;

devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_PASSWORD_CHECK_RSP, P2P_MSG_PASSWORD_CHECK2_RSP,
                                          P2P_MSG_ALARM_LIST,         P2P_MSG_ALARM_STATUS,
                                          P2P_MSG_PTZ_CAPS_RSP,       P2P_MSG_PTZ_RESULT,
                                          P2P_MSG_PTZ_PRESET_LIST};
    return relay;
}

struct Frames
{
    std::mutex mutex;
    std::vector<QByteArray> nals;
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(nals.size());
    }
};

int onFrame(P2P_HANDLE, const char *, const int32_t *, int32_t type, const char *data, int32_t size, void *user)
{
    auto *f = static_cast<Frames *>(user);
    if (type == 1) {
        std::lock_guard<std::mutex> lock(f->mutex);
        f->nals.emplace_back(data, size);
    }
    return 0;
}

} // namespace

class TestPyCamPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        varno::registerMetaTypes();
        QVERIFY2(QFile::exists(qEnvironmentVariable("VARNO_PYTHON3")), "python3 of the system not found");
        QVERIFY(m_broker.start());
        QVERIFY(m_broker.writeClientConfig());
        // The peer's video: one second of H.264, a key frame every 25 frames,
        // as access units of u32 length, key flag and bytes.
        varno::test::EncodeOptions o;
        o.width = 320;
        o.height = 240;
        o.frames = 50;
        const auto frames = varno::test::encodeStream(o);
        m_video = varno::test::tempRoot() + QStringLiteral("/pycam-frames.bin");
        QByteArray units;
        for (const auto &fr : frames) {
            const uint32_t n = uint32_t(fr.data.size());
            units += QByteArray(reinterpret_cast<const char *>(&n), 4) + char(fr.key ? 1 : 0)
                + QByteArray(reinterpret_cast<const char *>(fr.data.data()), qsizetype(n));
        }
        QVERIFY(varno::test::writeFile(m_video, units));
        QVERIFY2(startPeer(), "the Python camera did not start");
        QVERIFY(devicetest::startP2pClient(&m_handle, &hub()));
        varno::setP2pHandle(m_handle);
    }

    void cleanupTestCase()
    {
        hub().setDialog(nullptr);
        devicetest::stopP2pClient(m_handle);
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.write("quit\n");
            if (!m_peer.waitForFinished(10000))
                m_peer.kill();
        }
        m_broker.stop();
    }

    void addedByCameraId()
    {
        // The real dialog: license lookup, session, both password checks.
        PromptScript script;
        QManualDial dialog;
        hub().setDialog(&dialog);
        QSignalSpy added(&dialog, &QManualDial::sendManualInfo);
        dialog.findChild<QLineEdit *>(QStringLiteral("idLineEdit"))->setText(QString::fromLatin1(kDevice));
        dialog.findChild<QLineEdit *>(QStringLiteral("nameLineEdit"))->setText(QStringLiteral("Peer"));
        dialog.findChild<QLineEdit *>(QStringLiteral("passwdLineEdit"))->setText(QStringLiteral("wrong77"));
        const int replies = hub().replies();
        dialog.on_addButton_clicked();
        // Both answers (126 and 17) in and handled: the first decided, the
        // second found nothing pending.
        QTRY_VERIFY_WITH_TIMEOUT(hub().replies() >= replies + 2, 10000);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(script.count(), 1);
        QCOMPARE(script.take().at(0).text, QStringLiteral("Password incorrect!"));
        dialog.findChild<QLineEdit *>(QStringLiteral("passwdLineEdit"))->setText(m_password);
        QTRY_VERIFY(!dialog.isBusy());
        dialog.on_addButton_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(added.count(), 1, 10000);
        hub().setDialog(nullptr);
        const auto info = added.at(0).at(0).value<DvrListInfo_s>();
        QCOMPARE(QByteArray(info.dev.p2pId), QByteArray(kCamera));
        QCOMPARE(QByteArray(info.dev.devId), QByteArray(kDevice));
        QCOMPARE(sessionStatus(), int32_t(P2P_SESSION_CONNECTED));
    }

    void liveVideoDecodes()
    {
        char descr[P2P_STREAM_DESCR_BUFFER] = {};
        QVERIFY(describe(descr));
        P2P_STREAM_DESCR_S d;
        std::memcpy(&d, descr, sizeof d);
        QCOMPARE(QByteArray(d.devId), QByteArray(kDevice));
        QCOMPARE(d.width, 320);
        QCOMPARE(d.height, 240);
        QCOMPARE(d.videoCodec, int32_t(P2P_VIDEO_H264));
        QVERIFY(d.spsLen > 0 && d.ppsLen > 0);
        // A stream the camera does not have.
        char second[P2P_STREAM_DESCR_SIZE];
        std::memcpy(second, descr, sizeof second);
        const int32_t one = 1;
        std::memcpy(second + 64, &one, 4);
        Frames frames;
        const int32_t params[3] = {1, 5, 0};
        QCOMPARE(P2P_Client_SDK_Open_Stream(m_handle, kCamera, second, onFrame, &frames, params, kPassword, 0),
                 int(P2P_ERR_NOT_FOUND));
        QVERIFY(P2P_Client_SDK_Open_Stream(m_handle, kCamera, descr, onFrame, &frames, params, kPassword, 0) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 60, 10000);
        QCOMPARE(P2P_Client_SDK_Close_Stream(m_handle, kCamera, descr), 0);
        std::vector<QByteArray> nals;
        {
            std::lock_guard<std::mutex> lock(frames.mutex);
            nals = frames.nals;
        }
        const auto decoded = varno::test::decodeAnnexB(nals);
        QVERIFY2(decoded.pictures >= 10, qPrintable(QString::number(decoded.pictures)));
        QCOMPARE(decoded.width, 320);
        QCOMPARE(decoded.errors, 0);
    }

    void alarmLogListed()
    {
        PromptScript script;
        QAlarmSearch dialog;
        hub().setDialog(&dialog);
        DvrListInfo_s info;
        std::memset(&info, 0, sizeof info);
        varno::setText(info.dev.devId, kDevice);
        varno::setText(info.dev.devName, "Peer");
        varno::setText(info.dev.password, kPassword);
        varno::setText(info.dev.p2pId, kCamera);
        info.dev.p2pFlag = 1;
        dialog.UpdateAlarmDevice(info);
        QTRY_COMPARE(dialog.nameList(), QStringList({QStringLiteral("Peer")}));
        dialog.findChild<QPushButton *>(QStringLiteral("searchButton"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.rowCount(), kAlarms, 10000);
        hub().setDialog(nullptr);
        QCOMPARE(script.count(), 0);
        for (int row = 1; row < kAlarms; ++row)
            QVERIFY(dialog.cellText(row - 1, 2) < dialog.cellText(row, 2));
        QCOMPARE(dialog.cellText(0, 3), QStringLiteral("External sensor alarm"));
        QCOMPARE(dialog.cellText(1, 3), QStringLiteral("Motion detect alarm"));
    }

    void ptzThroughTheController()
    {
        using varno::live::PtzController;
        PtzController ctl;
        hub().setDialog(&ctl);
        QSignalSpy known(&ctl, &PtzController::capabilityKnown);
        QSignalSpy loaded(&ctl, &PtzController::presetsLoaded);
        QSignalSpy changed(&ctl, &PtzController::presetChanged);
        QSignalSpy failed(&ctl, &PtzController::commandFailed);
        varno::live::PtzCamera cam{QString::fromLatin1(kDevice), QStringLiteral("Peer"), true, {}, {},
                                   QString::fromLatin1(kCamera), m_password};
        ctl.probe(cam);
        QTRY_COMPARE_WITH_TIMEOUT(known.size(), 1, 10000);
        QVERIFY(known[0][1].toBool() && known[0][2].toBool());
        ctl.setCamera(cam);
        ctl.move(0.6, -0.2, 0.4);
        QVERIFY(ctl.stop());
        ctl.setPreset(QStringLiteral("Eingang"));
        ctl.refreshPresets();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
        // moves stops last-velocities presets
        QCOMPARE(peerCommand(QStringLiteral("ptz")).section(QLatin1Char(' '), 4), QStringLiteral("1 1 600,-200,400 1"));
        QCOMPARE(loaded[0][2].toStringList(), QStringList{QStringLiteral("Eingang")});
        const QString token = loaded[0][1].toStringList().value(0);
        ctl.gotoPreset(token);
        ctl.removePreset(token, QStringLiteral("Eingang"));
        ctl.refreshPresets();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, 10000);
        QVERIFY(loaded[1][1].toStringList().isEmpty());
        QCOMPARE(changed.size(), 2);
        QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed[0][1].toString()));
        hub().setDialog(nullptr);
    }

private:
    bool startPeer()
    {
        const QString python = qEnvironmentVariable("VARNO_PYTHON3");
        m_peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_peer.start(python, {varno::test::sourceDir() + QStringLiteral("/tests/peers/pycam.py"), QStringLiteral("--port"),
                              QString::number(m_broker.port()), QStringLiteral("--device-id"), QString::fromLatin1(kDevice),
                              QStringLiteral("--password"), m_password, QStringLiteral("--video"), m_video,
                              QStringLiteral("--fps"), QStringLiteral("25"), QStringLiteral("--alarms"),
                              QString::number(kAlarms), QStringLiteral("--ptz")});
        if (!m_peer.waitForStarted(10000))
            return false;
        while (!m_peer.canReadLine())
            if (!m_peer.waitForReadyRead(20000))
                return false;
        return m_peer.readLine().startsWith("READY " + QByteArray(kCamera));
    }

    QString peerCommand(const QString &line)
    {
        m_peer.write(line.toUtf8() + '\n');
        while (!m_peer.canReadLine())
            if (!m_peer.waitForReadyRead(20000))
                return QString();
        return QString::fromUtf8(m_peer.readLine()).trimmed();
    }

    int32_t sessionStatus()
    {
        int32_t status = -1;
        P2P_Client_SDK_Get_Session_Status(m_handle, kCamera, &status);
        return status;
    }

    // Connects to the camera and reads the description of its one stream.
    bool describe(char *descr)
    {
        int32_t count = 0;
        return P2P_Client_SDK_Connect_Peer(m_handle, kCamera) == 0
            && P2P_Client_SDK_Get_StreamDescr(m_handle, kCamera, &count, descr) == 0 && count == 1;
    }

    MqttBroker m_broker;
    QProcess m_peer;
    P2P_HANDLE m_handle = 0;
    QString m_video;
    QString m_password = QString::fromLatin1(kPassword);
};

QTEST_MAIN(TestPyCamPeer)
#include "tst_pycampeer.moc"
