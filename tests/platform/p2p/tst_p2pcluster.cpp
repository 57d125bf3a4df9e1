// The P2P library and a camera on different nodes of a two-node RabbitMQ
// cluster (MQTT plugin), which keeps retained messages on the node that
// received them: adding the camera by its device ID, live video, the camera
// killed and back, and the client's node restarted while the camera was
// away. The nodes listen on loopback only and have no AMQP listener, and
// every party logs in with its own account under the access rules of
// scripts/relay-acl --rabbitmq (strict): forged presence, replies and reads
// are refused or ignored across the nodes.

#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2p_wire.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"
#include "relaykit.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstring>
#include <memory>

using namespace varno::test;

namespace {

const char *const kCam = "VRNB-765432-KXPQT";
const char *const kDev = "B765432";
const char *const kPwd = "abc123";
// A camera account no simulated camera uses: the rogue camera.
const char *const kCamD = "VRND-300400-ABCDE";
const char *const kDevD = "D300400";
// The client's installation account, and another installation's.
const char *const kClientUser = "site-7";
const char *const kRogueUser = "site-8";
// Generous bounds: a node of the cluster takes long to start on a busy machine.
constexpr int kWaitMs = 120000;

} // namespace

class TestP2pCluster : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!RabbitCluster::installed())
            QSKIP("rabbitmq-server is not installed (scripts/setup installs it)");
        QVERIFY2(m_cluster.start(2), qPrintable(m_cluster.error()));
        // Every party logs in with its own account (password: name + "-secret").
        QList<QPair<QString, QString>> users;
        for (const char *user : {kClientUser, kRogueUser, kDev, kDevD})
            users.append({QLatin1String(user), QLatin1String(user) + QStringLiteral("-secret")});
        QVERIFY2(m_cluster.addAccounts(users, {QLatin1String(kClientUser), QLatin1String(kRogueUser),
                                               QStringLiteral("%1:%1:%2").arg(QLatin1String(kDev), QLatin1String(kCam)),
                                               QStringLiteral("%1:%1:%2").arg(QLatin1String(kDevD), QLatin1String(kCamD))}),
                 qPrintable(m_cluster.error()));
        QVERIFY(startCamera());
        QDir().mkpath(installDir());
        QVERIFY(writeFile(installDir() + QStringLiteral("/p2p.conf"),
                          QStringLiteral("host = 127.0.0.1\nport = %1\ntimeout_ms = 10000\nlookup_ms = 5000\n"
                                         "user = %2\npassword = %2-secret\n")
                              .arg(m_cluster.mqttPort(2))
                              .arg(QLatin1String(kClientUser))
                              .toUtf8()));
        QCOMPARE(m_lib.start(), 0);
    }

    void cleanupTestCase()
    {
        m_sim.stop();
        m_cluster.stop();
    }

    void addByDeviceId()
    {
        // The retained license is on node 1 only: the camera answers the lookup.
        int ret = 1;
        QCOMPARE(m_lib.lookup(kDev, &ret), QByteArray(kCam));
        QCOMPARE(ret, 0);
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_lib.handle(), kCam), 0);
        QCOMPARE(m_lib.sessionStatus(kCam), int32_t(P2P_SESSION_CONNECTED));
    }

    void liveVideo()
    {
        QCOMPARE(m_lib.openFirstStream(kCam, kPwd, m_frames), 0);
        QVERIFY(m_frames.grows(60, kWaitMs));
        QVERIFY(m_frames.keyFrames.load() >= 1);
    }

    void onlyLoopbackListeners()
    {
        // Each node: its MQTT port and its distribution port, on 127.0.0.1;
        // no AMQP listener, no plain MQTT on 1883.
        for (int node = 1; node <= 2; ++node) {
            const auto ports = m_cluster.listeners(node);
            QCOMPARE(ports.size(), 2);
            QVERIFY(ports.contains({QStringLiteral("127.0.0.1"), m_cluster.mqttPort(node)}));
            for (const auto &[address, port] : ports) {
                QCOMPARE(address, QStringLiteral("127.0.0.1"));
                QVERIFY(port != 5672 && port != 1883);
            }
        }
    }

    void roguesRefusedOrIgnored()
    {
        // On the other node than the client: camera D's account forging camera
        // A's offline presence and the client account of another installation
        // reading. RabbitMQ closes a connection whose publication or
        // subscription the rules refuse; on D's own topic below the client's
        // inbox the client sees that the sender is not the camera.
        const QByteArray offline = forgedPresence(kCam, kDev);
        const std::string victim = kClientUser;
        const QString camD = QStringLiteral("varno-cam-") + QLatin1String(kCamD);
        for (const std::string &topic : {varno::p2p::cameraPresence(kCam), varno::p2p::clientInbox(victim),
                                         varno::p2p::clientInboxFrom(victim, kCam)}) {
            auto forger = rogue(kDevD, camD);
            QVERIFY(forger);
            QVERIFY2(!forger->publish(QString::fromStdString(topic), offline, false, kWaitMs), topic.c_str());
        }
        auto forger = rogue(kDevD, camD);
        QVERIFY(forger);
        QVERIFY(forger->publish(QString::fromStdString(varno::p2p::clientInboxFrom(victim, kCamD)), offline));
        QVERIFY(QTest::qWaitFor([] { return logText().contains("sender ID differs from the topic"); }, kWaitMs));
        for (const std::string &topic : {varno::p2p::clientInbox(victim), varno::p2p::cameraInbox(kCam)}) {
            auto reader = rogue(kRogueUser, QLatin1String(kRogueUser));
            QVERIFY(reader);
            QVERIFY2(reader->subscribe(QString::fromStdString(topic), kWaitMs) < 0, topic.c_str());
            QVERIFY(!reader->connected());
        }
        QVERIFY(m_frames.grows(40, kWaitMs));
        QCOMPARE(m_lib.sessionStatus(kCam), int32_t(P2P_SESSION_CONNECTED));
        QVERIFY(!logText().contains("Session with camera(VRNB-765432-KXPQT) lost"));
    }

    void clientIdTakeoverRefused()
    {
        // RabbitMQ cannot tie an MQTT client identifier to an account: another
        // installation's account asking for the client's identifier is refused
        // (the subscription queues of that identifier are not its own), yet the
        // broker has already closed the client's connection. The client comes
        // back by itself.
        QVERIFY(!rogue(kRogueUser, QLatin1String(kClientUser)));
        QVERIFY(QTest::qWaitFor([] { return logText().contains("Relay connection lost"); }, kWaitMs));
        QVERIFY(m_lib.waitSessionStatus(kCam, P2P_SESSION_CONNECTED, kWaitMs));
        QVERIFY(m_frames.grows(40, kWaitMs));
    }

    void cameraKilledAndBack()
    {
        // The relay's last will (node 1) reaches the client on node 2.
        m_sim.kill();
        QVERIFY(m_lib.waitSessionStatus(kCam, 2, kWaitMs));
        QVERIFY(startCamera());
        QVERIFY(m_lib.waitSessionStatus(kCam, P2P_SESSION_CONNECTED, kWaitMs));
        QVERIFY(m_frames.grows(60, kWaitMs));
    }

    void clientNodeRestartedWhileCameraAway()
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
        QVERIFY(m_frames.grows(60, kWaitMs));
    }

private:
    bool startCamera();

    std::unique_ptr<RawMqtt> rogue(const char *user, const QString &clientId)
    {
        auto raw = std::make_unique<RawMqtt>(clientId);
        raw->setCredentials(QLatin1String(user), QLatin1String(user) + QStringLiteral("-secret"));
        return raw->connect(m_cluster.mqttPort(1), kWaitMs) == 0 ? std::move(raw) : nullptr;
    }

    RabbitCluster m_cluster;
    CamSimProcess m_sim;
    P2pLibrary m_lib;
    FrameCounter m_frames;
};

// The camera on node 1.
bool TestP2pCluster::startCamera()
{
    const QString camera = relayCamera(kDev, kCam, kPwd, QStringLiteral(R"("user": "%1", "userPassword": "%1-secret")").arg(QLatin1String(kDev)));
    if (!m_sim.start(simConfig(m_cluster.mqttPort(1), tempRoot() + QStringLiteral("/storage"), {camera}))) {
        qWarning("%s", qPrintable(m_sim.error()));
        return false;
    }
    return true;
}

QTEST_GUILESS_MAIN(TestP2pCluster)
#include "tst_p2pcluster.moc"
