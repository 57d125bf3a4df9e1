// The P2P library on a relay that does not hand retained messages to every
// subscriber (as a clustered broker whose other node received them): license
// lookups and presence answered by the camera itself, and cameras of
// protocol version 1 that know nothing of it.

#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2p_wire.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"
#include "relaykit.h"

#include <QtTest>

#include <cstring>

using namespace varno::test;

namespace {

const char *const kCamNew = "VRND-300400-KXPQT";   // speaks version 2
const char *const kDevNew = "D300400";
const char *const kCamOld = "VRNE-500600-KXPQT";   // version 1
const char *const kDevOld = "E500600";
const char *const kCamV3 = "VRNG-700900-KXPQT";    // version 3: answers on inbox/<camera ID>
const char *const kDevV3 = "G700900";
const char *const kPwd = "abc123";

QString camera(const char *dev, const char *cam, int protocol)
{
    return relayCamera(dev, cam, kPwd, QStringLiteral(R"("protocol": %1)").arg(protocol));
}

} // namespace

class TestP2pRelay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_broker.start());
        QVERIFY(m_broker.writeClientConfig());
        const QStringList cameras{camera(kDevNew, kCamNew, 2), camera(kDevOld, kCamOld, 1), camera(kDevV3, kCamV3, 3)};
        QVERIFY2(m_sim.start(simConfig(m_broker.port(), tempRoot() + QStringLiteral("/storage"), cameras)),
                 qPrintable(m_sim.error()));
        QCOMPARE(m_lib.start(), 0);
    }

    void lookupWithoutRetainedLicense()
    {
        int ret = 1;
        // With the retained licenses both cameras are found.
        QCOMPARE(m_lib.lookup(kDevNew, &ret), QByteArray(kCamNew));
        QCOMPARE(ret, 0);
        QCOMPARE(m_lib.lookup(kDevOld, &ret), QByteArray(kCamOld));
        QCOMPARE(ret, 0);

        // Without them the camera of version 2 answers the lookup itself; the
        // one of version 1 cannot, and an unknown device is not found either.
        for (const char *dev : {kDevNew, kDevOld})
            QCOMPARE(m_sim.command(QStringLiteral("%1 unretain").arg(QLatin1String(dev))), QStringLiteral("OK unretain"));
        QCOMPARE(m_lib.lookup(kDevNew, &ret), QByteArray(kCamNew));
        QCOMPARE(ret, 0);
        for (const char *dev : {kDevOld, "Z999999"}) {
            m_lib.lookup(dev, &ret);
            QCOMPARE(ret, int(P2P_ERR_NOT_FOUND));
        }

        // Whoever reads the lookup requests of a device (on a relay without
        // access rules, anyone) may answer them: an answer that names a camera
        // of another device is not taken.
        RawMqtt liar(QStringLiteral("liar"));
        QCOMPARE(liar.connect(m_broker.port()), 0);
        liar.setHandler([&liar](const std::string &, const QByteArray &payload) {
            varno::p2p::Envelope ask;
            if (varno::p2p::decode(payload.constData(), size_t(payload.size()), ask) != varno::p2p::DecodeError::Ok)
                return;
            std::vector<uint8_t> body(varno::p2p::body::kLicenseV2, 0);
            varno::p2p::putField(body.data(), varno::p2p::kCameraIdSize, kCamNew);
            varno::p2p::putField(body.data() + varno::p2p::kCameraIdSize, varno::p2p::kDeviceIdSize, "F700800");
            liar.send(varno::p2p::clientInbox(ask.from),
                      varno::p2p::encode(varno::p2p::Kind::License, kCamNew, 0, ask.request, 0, 0, body.data(),
                                         body.size()));
        });
        QCOMPARE(liar.subscribe(QStringLiteral("varno/v1/lic/F700800/ask")), 1);
        m_lib.lookup("F700800", &ret);
        QCOMPARE(ret, int(P2P_ERR_NOT_FOUND));
        QCOMPARE(liar.received(), 1);
        QVERIFY(QTest::qWaitFor([] { return logText().contains("license does not match the lookup"); }, 5000));
    }

    void versionOneCameraStreams()
    {
        // A camera of version 1 takes the version-1 envelopes of a newer client:
        // session, descriptions and live video.
        FrameCounter &frames = m_framesOld;
        QCOMPARE(m_lib.openFirstStream(kCamOld, kPwd, frames), 0);
        QVERIFY(frames.grows(20, 15000));
        QVERIFY(frames.keyFrames.load() >= 1);
        // Offline, it is asked nothing, and the presence says that a camera of
        // version 1 cannot be asked whether it is back (the main window's tip
        // says so). Back online, session and stream return by themselves.
        QCOMPARE(m_sim.command(QStringLiteral("%1 offline").arg(QLatin1String(kDevOld))), QStringLiteral("OK offline"));
        QVERIFY(m_lib.waitSessionStatus(kCamOld, P2P_SESSION_LOST, 10000));
        QCOMPARE(P2P_Client_SDK_Connect_Peer(m_lib.handle(), kCamOld), int(P2P_ERR_NOT_FOUND));
        int32_t online = -1;
        int32_t version = -1;
        QCOMPARE(P2P_Client_SDK_Get_Peer_Presence(m_lib.handle(), kCamOld, &online, &version), 0);
        QCOMPARE(std::pair(online, version), std::pair(0, 1));
        QCOMPARE(m_sim.command(QStringLiteral("%1 online").arg(QLatin1String(kDevOld))), QStringLiteral("OK online"));
        QVERIFY(frames.grows(20, 15000));
    }

    void wrongPresenceCorrectedByProbe()
    {
        // The client holds a session with the version-2 camera. Someone makes it
        // believe the camera went offline (as a relay that lost the camera's
        // return would): the session is lost, the client asks the camera for its
        // presence, and the session comes back by itself.
        FrameCounter &frames = m_framesNew;
        QCOMPARE(m_lib.openFirstStream(kCamNew, kPwd, frames), 0);
        QVERIFY(frames.grows(5, 15000));
        RawMqtt rumour(QStringLiteral("rumour"));
        QCOMPARE(rumour.connect(m_broker.port()), 0);
        QVERIFY(rumour.publish(QString::fromStdString(varno::p2p::cameraPresence(kCamNew)), forgedPresence(kCamNew, kDevNew)));
        // The probe may bring the session back within milliseconds: the log,
        // not a sampled status, shows that it was lost.
        QVERIFY(QTest::qWaitFor([] { return logText().contains("Session with camera(VRND-300400-KXPQT) lost: camera offline"); },
                          5000));
        QVERIFY(m_lib.waitSessionStatus(kCamNew, P2P_SESSION_CONNECTED, 20000));
        QVERIFY(frames.grows(20, 15000));   // and the stream resumes
    }

    void inboxForgeriesIgnored()
    {
        // On a relay without access rules anyone can write the client's inbox
        // and claim any sender. What a camera of version 3 says comes only on
        // the topic that names it, a presence on the inbox only as the answer to
        // a probe: forged offline presences and a forged close leave both
        // sessions and their streams as they are.
        QCOMPARE(m_lib.openFirstStream(kCamV3, kPwd, m_framesV3), 0);
        QVERIFY(m_lib.waitSessionStatus(kCamNew, P2P_SESSION_CONNECTED, 20000));
        const std::string inbox = varno::p2p::clientInbox(varno::p2p::clientForHandle(m_lib.handle())->clientId());
        RawMqtt rogue(QStringLiteral("rogue"));
        QCOMPARE(rogue.connect(m_broker.port()), 0);
        const std::tuple<std::string, QByteArray, const char *> forgeries[] = {
            {inbox, forgedPresence(kCamV3, kDevV3), "camera of version 3 on the shared inbox"},
            {inbox, forgedPresence(kCamNew, kDevNew), "presence that answers no probe"},
            {inbox + "/" + kCamV3, forgedPresence(kCamNew, nullptr), "sender ID differs from the topic"}};
        for (const auto &[topic, payload, why] : forgeries) {
            QVERIFY(rogue.publish(QString::fromStdString(topic), payload));
            QVERIFY2(QTest::qWaitFor([&, why = why] { return logText().contains(why); }, 5000), why);
        }
        QCOMPARE(m_lib.sessionStatus(kCamV3), int32_t(P2P_SESSION_CONNECTED));
        QCOMPARE(m_lib.sessionStatus(kCamNew), int32_t(P2P_SESSION_CONNECTED));
        QVERIFY(m_framesV3.grows(20, 15000));
        QVERIFY(!logText().contains("Session with camera(VRNG-700900-KXPQT) lost"));
    }

private:
    MqttBroker m_broker;
    CamSimProcess m_sim;
    // The streams a test opens stay open until the library goes: their
    // counters live as long as it does (declared before it, so they go after).
    FrameCounter m_framesOld;
    FrameCounter m_framesNew;
    FrameCounter m_framesV3;
    P2pLibrary m_lib;
};

QTEST_GUILESS_MAIN(TestP2pRelay)
#include "tst_p2prelay.moc"
