// The P2P library and a camera on different nodes of a two-node RabbitMQ
// cluster (MQTT plugin), which keeps retained messages on the node that
// received them: adding the camera by its device ID, live video, the camera
// killed and back, and the client's node restarted while the camera was
// away.

#include "platform/p2p/p2p_client_sdk.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/testenv.h"
#include "relaykit.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstring>

using namespace varno::test;

namespace {

const char *const kCam = "VRNB-765432-KXPQT";
const char *const kDev = "B765432";
const char *const kPwd = "abc123";
// Generous bounds: a node of the cluster takes long to start on a busy machine.
constexpr int kWaitMs = 120000;

} // namespace

class TestP2pCluster : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void addByDeviceId();
    void liveVideo();
    void cameraKilledAndBack();
    void clientNodeRestartedWhileCameraAway();

private:
    bool startCamera();
    bool framesFlow(int more);

    RabbitCluster m_cluster;
    CamSimProcess m_sim;
    P2pLibrary m_lib;
    FrameCounter m_frames;
};

void TestP2pCluster::initTestCase()
{
    if (!RabbitCluster::installed())
        QSKIP("rabbitmq-server is not installed (scripts/setup installs it)");
    QVERIFY2(m_cluster.start(2), qPrintable(m_cluster.error()));
    // The client logs in with its account; the camera connects anonymously.
    QVERIFY2(m_cluster.addUser(QStringLiteral("varno-client"), QStringLiteral("5D0E2A91C47B38F6A1E09C7D2B64F853")),
             qPrintable(m_cluster.error()));
    QVERIFY(startCamera());
    QDir().mkpath(installDir());
    QFile conf(installDir() + QStringLiteral("/p2p.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write(QStringLiteral("host = 127.0.0.1\nport = %1\ntimeout_ms = 10000\nlookup_ms = 5000\n")
                   .arg(m_cluster.mqttPort(2))
                   .toUtf8());
    conf.close();
    QCOMPARE(m_lib.start(), 0);
}

void TestP2pCluster::cleanupTestCase()
{
    m_sim.stop();
    m_cluster.stop();
}

// The camera on node 1.
bool TestP2pCluster::startCamera()
{
    const QStringList cameras{simP2pCamera(QString::fromLatin1(kDev), QString::fromLatin1(kCam), QStringLiteral("Gate"),
                                           QString::fromLatin1(kPwd), QSize(160, 90), QSize(160, 90), 20, 100, 80, 2)};
    if (!m_sim.start(simConfig(m_cluster.mqttPort(1), tempRoot() + QStringLiteral("/storage"), cameras))) {
        qWarning("%s", qPrintable(m_sim.error()));
        return false;
    }
    return true;
}

bool TestP2pCluster::framesFlow(int more)
{
    const int before = m_frames.video.load();
    return waitUntil([&] { return m_frames.video.load() >= before + more; }, kWaitMs);
}

void TestP2pCluster::addByDeviceId()
{
    // The retained license is on node 1 only: the camera answers the lookup.
    char id[64];
    std::memset(id, 0, sizeof(id));
    QCOMPARE(P2P_Client_SDK_Get_Device_License(m_lib.handle(), kDev, id), 0);
    QCOMPARE(QByteArray(id), QByteArray(kCam));
    QCOMPARE(P2P_Client_SDK_Connect_Peer(m_lib.handle(), kCam), 0);
    QCOMPARE(m_lib.sessionStatus(kCam), int32_t(P2P_SESSION_CONNECTED));
}

void TestP2pCluster::liveVideo()
{
    QCOMPARE(m_lib.openFirstStream(kCam, kPwd, m_frames), 0);
    QVERIFY(framesFlow(60));
    QVERIFY(m_frames.keyFrames.load() >= 1);
}

void TestP2pCluster::cameraKilledAndBack()
{
    // The relay's last will (node 1) reaches the client on node 2.
    m_sim.kill();
    QVERIFY(m_lib.waitSessionStatus(kCam, 2, kWaitMs));
    QVERIFY(startCamera());
    QVERIFY(m_lib.waitSessionStatus(kCam, P2P_SESSION_CONNECTED, kWaitMs));
    QVERIFY(framesFlow(60));
}

void TestP2pCluster::clientNodeRestartedWhileCameraAway()
{
    // The camera leaves; the client's node goes down; the camera comes back
    // while the client is away, so its return is announced to node 1 only.
    QVERIFY(m_sim.command(QStringLiteral("%1 offline").arg(QLatin1String(kDev))).startsWith(QLatin1String("OK")));
    QVERIFY(m_lib.waitSessionStatus(kCam, 2, kWaitMs));
    QVERIFY2(m_cluster.stopNode(2), qPrintable(m_cluster.error()));
    QVERIFY(m_sim.command(QStringLiteral("%1 online").arg(QLatin1String(kDev))).startsWith(QLatin1String("OK")));
    QVERIFY2(m_cluster.startNode(2), qPrintable(m_cluster.error()));
    // Back on node 2, the client asks the camera itself and resumes.
    QVERIFY(m_lib.waitSessionStatus(kCam, P2P_SESSION_CONNECTED, kWaitMs));
    QVERIFY(framesFlow(60));
}

QTEST_GUILESS_MAIN(TestP2pCluster)
#include "tst_p2pcluster.moc"
