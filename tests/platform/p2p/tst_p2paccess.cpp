// The relay deployed with TLS, a password file and the access rules that
// scripts/relay-acl makes from docs/relay/mosquitto-acl.template: the client
// library and the cameras work as before, while a rogue client with the
// client account's valid credentials, or a camera with its own, cannot read
// another client's inbox (its replies and live frames), a camera's
// requests, pose as a camera, or take another party's MQTT client
// identifier (use_username_as_clientid).

#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2p_wire.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/files.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"
#include "relaykit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cstring>

using namespace varno::test;

namespace {

const char *const kCamA = "VRNB-765432-KXPQT";
const char *const kDevA = "B765432";
const char *const kCamB = "VRNC-100200-ABCDE";
const char *const kDevB = "C100200";
// A camera account that no simulated camera uses: the rogue camera.
const char *const kCamD = "VRND-300400-ABCDE";
const char *const kDevD = "D300400";
const char *const kPwd = "abc123";
// The victim's installation account (its client ID), and another one.
const char *const kClientUser = "site-7";
const char *const kClientKey = "site-7-secret";
const char *const kRogueUser = "site-8";
const char *const kRogueKey = "site-8-secret";

bool run(const QString &program, const QStringList &args, QByteArray *output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return false;
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString camera(const char *dev, const char *cam, const char *user, const char *password)
{
    return relayCamera(dev, cam, kPwd, QStringLiteral(R"("user": "%1", "userPassword": "%2")").arg(QLatin1String(user), QLatin1String(password)));
}

} // namespace

// A CA <ca>.pem/.key and a server certificate <server>.pem/.key it signs
// for the address given.
bool issue(const QString &d, const QString &ca, const QString &server, const char *address)
{
    if (!writeFile(d + QStringLiteral("/%1.ext").arg(server), QByteArray("subjectAltName=IP:") + address + "\n"))
        return false;
    // Temporary paths hold no spaces: each command line splits at them.
    const auto openssl = [&](QString line) {
        line.replace(QStringLiteral("@D"), d).replace(QStringLiteral("@CA"), ca).replace(QStringLiteral("@S"), server);
        return run(QStringLiteral("openssl"), line.replace(QStringLiteral("@A"), QLatin1String(address)).split(QLatin1Char(' ')));
    };
    const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout");
    return (QFile::exists(d + QLatin1Char('/') + ca + QStringLiteral(".pem"))
            || openssl(QStringLiteral("req -x509 ") + key + QStringLiteral(" @D/@CA.key -out @D/@CA.pem -subj /CN=@CA -days 2")))
           && openssl(QStringLiteral("req ") + key + QStringLiteral(" @D/@S.key -out @D/@S.csr -subj /CN=@A"))
           && openssl(QStringLiteral("x509 -req -in @D/@S.csr -CA @D/@CA.pem -CAkey @D/@CA.key -CAcreateserial "
                                     "-out @D/@S.pem -days 2 -extfile @D/@S.ext"));
}

class TestP2pAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_dir = tempRoot() + QStringLiteral("/relay");
        QVERIFY(QDir().mkpath(m_dir));
        QVERIFY(makeCertificates());
        const QString passwd = m_dir + QStringLiteral("/passwd");
        QVERIFY(run(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-b"), QStringLiteral("-c"), passwd,
                                                          QLatin1String(kClientUser), QLatin1String(kClientKey)}));
        QVERIFY(run(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-b"), passwd, QLatin1String(kDevA), QStringLiteral("cam-a-secret")}));
        for (const char *const *account : {&kRogueUser, &kDevB, &kDevD})
            QVERIFY(run(QStringLiteral("mosquitto_passwd"),
                        {QStringLiteral("-b"), passwd, QLatin1String(*account), QLatin1String(*account) + QStringLiteral("-secret")}));
        QByteArray acl;
        QVERIFY(run(sourceDir() + QStringLiteral("/scripts/relay-acl"),
                    {QLatin1String(kClientUser), QLatin1String(kRogueUser),
                     QStringLiteral("%1:%1:%2").arg(QLatin1String(kDevA), QLatin1String(kCamA)),
                     QStringLiteral("%1:%1:%2").arg(QLatin1String(kDevB), QLatin1String(kCamB)),
                     QStringLiteral("%1:%1:%2").arg(QLatin1String(kDevD), QLatin1String(kCamD))},
                    &acl));
        const QString aclFile = m_dir + QStringLiteral("/acl");
        QVERIFY(writeFile(aclFile, acl));
        // Mosquitto started as root reads its files as the mosquitto user.
        const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                              | QFileDevice::ReadOther;
        const auto traversable = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
        QFile::setPermissions(tempRoot(), QFile::permissions(tempRoot()) | traversable);
        QFile::setPermissions(m_dir, readable | traversable);
        for (const QString &f : QDir(m_dir).entryList(QDir::Files))
            QFile::setPermissions(m_dir + QLatin1Char('/') + f, readable);
        m_broker.setSecurity(QStringLiteral("cafile %1/ca.pem\ncertfile %1/server.pem\nkeyfile %1/server.key\n"
                                            "allow_anonymous false\nuse_username_as_clientid true\n"
                                            "password_file %2\nacl_file %3\n")
                                 .arg(m_dir, passwd, aclFile));
        QVERIFY2(m_broker.start(), qPrintable(m_broker.output()));
        QVERIFY(m_broker.writeClientConfig(QStringLiteral("tls = 1\ncafile = %1/ca.pem\nuser = %2\npassword = %3\n")
                                               .arg(m_dir, QLatin1String(kClientUser), QLatin1String(kClientKey))));

        QByteArray config = simConfig(m_broker.port(), tempRoot() + QStringLiteral("/storage"),
                                      {camera(kDevA, kCamA, kDevA, "cam-a-secret"), camera(kDevB, kCamB, kDevB, "C100200-secret")});
        config.replace("\"broker\": {", QStringLiteral("\"broker\": { \"cafile\": \"%1/ca.pem\",").arg(m_dir).toUtf8());
        QVERIFY2(config.contains("cafile"), config.constData());
        QVERIFY2(m_sim.start(config), qPrintable(m_sim.error() + m_broker.output()));
        QCOMPARE(m_lib.start(), 0);
        m_clientId = QString::fromStdString(varno::p2p::clientForHandle(m_lib.handle())->clientId());
        QCOMPARE(m_clientId, QLatin1String(kClientUser));
    }

    void clientWorksUnderTheRules()
    {
        // Lookup, session and live video, all through the rules and over TLS.
        int ret = 1;
        QCOMPARE(m_lib.lookup(kDevA, &ret), QByteArray(kCamA));
        QCOMPARE(ret, 0);
        QCOMPARE(m_lib.openFirstStream(kCamA, kPwd, m_frames), 0);
        QVERIFY(victimStillStreams());
    }

    void othersReadNothingOfTheVictim_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QString>("clientId");
        QTest::newRow("client account of another installation") << QByteArray(kRogueUser) << QStringLiteral("c0123456789abcdef");
        QTest::newRow("camera D's own account") << QByteArray(kDevD) << QStringLiteral("varno-cam-probe");
    }

    // Valid credentials of another installation (its own random client ID) or
    // of camera D: what the party may read reaches it (its own inbox; D's own
    // lookups, which nobody answers as D's account is the rogue's), the
    // victim's inbox, camera A's inbox and A's lookups stay closed. The broker
    // may grant a subscription and still deliver nothing it does not allow.
    void othersReadNothingOfTheVictim()
    {
        QFETCH(QByteArray, user);
        QFETCH(QString, clientId);
        RawMqtt *rogue = connectAs(clientId, user.constData(), (user + "-secret").constData());
        QVERIFY(rogue);
        const bool camera = user == kDevD;
        const QString own = camera ? QString::fromStdString(varno::p2p::lookupTopic(kDevD))
                                   : QStringLiteral("varno/v1/cli/%1/in").arg(QLatin1String(kRogueUser));
        const QString victimInbox = QString::fromStdString(varno::p2p::clientInbox(m_clientId.toStdString()));
        const QString cameraInbox = QString::fromStdString(varno::p2p::cameraInbox(kCamA));
        const QString lookups = QString::fromStdString(varno::p2p::lookupTopic(kDevA));
        for (const QString &topic : {victimInbox, QStringLiteral("varno/v1/cli/+/in"), QStringLiteral("varno/v1/cli/#"),
                                     QStringLiteral("#"), cameraInbox, lookups, own})
            QVERIFY(rogue->subscribe(topic) >= 0);
        int ret = 1;
        if (camera)
            m_lib.lookup(kDevD, &ret);
        QVERIFY(camera ? ret == P2P_ERR_NOT_FOUND : rogue->publish(own, "mine"));
        QVERIFY(QTest::qWaitFor([&] { return rogue->received(own) >= 1; }, 5000));
        QVERIFY(victimTalksToCameraA());
        QCOMPARE(rogue->received(victimInbox), 0);
        QCOMPARE(rogue->received(cameraInbox), 0);
        QCOMPARE(rogue->received(lookups), 0);
    }

    void rogueCannotPoseAsCamera()
    {
        // Its offline presence for the camera is dropped by the broker: the
        // victim's session stays up and its video keeps coming.
        RawMqtt *rogue = connectAs(QStringLiteral("c0123456789abcd00"), kRogueUser, kRogueKey);
        QVERIFY(rogue);
        QVERIFY(rogue->publish(QString::fromStdString(varno::p2p::cameraPresence(kCamA)), forgedPresence(kCamA, kDevA)));
        QVERIFY(victimStillStreams());
        QVERIFY(!logText().contains("Session with camera(VRNB-765432-KXPQT) lost"));
    }

    void cameraCannotSpeakForAnother()
    {
        // Camera D's own credentials, forging camera A's offline presence to the
        // client that streams from A: the strict rules refuse the shared inbox
        // and A's topic below the inbox; on D's own topic the client sees that
        // the sender is not A. A's session and video go on.
        RawMqtt *camD = connectAs(QStringLiteral("rogue-cam-d"), kDevD, "D300400-secret");
        QVERIFY(camD);
        const std::string victim = m_clientId.toStdString();
        for (const std::string &topic : {varno::p2p::clientInbox(victim), varno::p2p::clientInboxFrom(victim, kCamA),
                                         varno::p2p::cameraPresence(kCamA), varno::p2p::clientInboxFrom(victim, kCamD)})
            QVERIFY(camD->publish(QString::fromStdString(topic), forgedPresence(kCamA, kDevA)));
        QVERIFY(QTest::qWaitFor([] { return logText().contains("sender ID differs from the topic"); }, 5000));
        QVERIFY(victimStillStreams());
        QVERIFY(!logText().contains("Session with camera(VRNB-765432-KXPQT) lost"));
        QVERIFY(!logText().contains("presence that answers no probe"));
        QVERIFY(!logText().contains("camera of version 3 on the shared inbox"));
    }

    void nobodyTakesAnotherClientId_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QString>("clientId");
        QTest::newRow("client account as another client") << QByteArray(kRogueUser) << QString::fromLatin1(kClientUser);
        QTest::newRow("client account as a camera") << QByteArray(kRogueUser) << QStringLiteral("varno-cam-VRNB-765432-KXPQT");
        QTest::newRow("client account under a camera's name") << QByteArray(kRogueUser) << QString::fromLatin1(kDevA);
        QTest::newRow("camera account as a client") << QByteArray(kDevD) << QString::fromLatin1(kClientUser);
    }

    void nobodyTakesAnotherClientId()
    {
        // The relay names every connection after its account: a rogue asking
        // for the victim's or camera A's MQTT client identifier is let in under
        // its own, and neither the client nor the camera is disconnected.
        QFETCH(QByteArray, user);
        QFETCH(QString, clientId);
        RawMqtt *rogue = connectAs(clientId, user.constData(), (user + "-secret").constData());
        QVERIFY(rogue);
        const QString victimInbox = QString::fromStdString(varno::p2p::clientInbox(m_clientId.toStdString()));
        QVERIFY(rogue->subscribe(victimInbox) >= 0);
        QVERIFY(victimTalksToCameraA());
        QVERIFY(rogue->connected());
        QCOMPARE(rogue->received(victimInbox), 0);
        QVERIFY(!logText().contains("Relay connection lost"));
        QVERIFY(!logText().contains("Session with camera(VRNB-765432-KXPQT) lost"));
    }

    void relayFailureNamed_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QString>("server");   // its certificate; empty: no TLS
        QTest::addColumn<QByteArray>("user");   // of p2p.conf
        QTest::addColumn<QByteArray>("problem");
        QTest::newRow("CA does not sign it") << QByteArray("127.0.0.1") << QStringLiteral("foreign") << QByteArray()
                                             << QByteArray(" certificate refused: unable to get local issuer certificate");
        QTest::newRow("made for another address") << QByteArray("127.0.0.1") << QStringLiteral("elsewhere") << QByteArray()
                                                  << QByteArray(" certificate refused: IP address mismatch");
        // "0.0.0.0" is not a loopback address, yet it ends on this machine.
        QTest::newRow("built-in account off loopback") << QByteArray("0.0.0.0") << QString() << QByteArray()
                                                       << QByteArray(": p2p.conf names no broker user");
        // The account names the inbox, a topic level.
        QTest::newRow("account no client ID") << QByteArray("127.0.0.1") << QString() << QByteArray("site/7")
                                              << QByteArray(": the broker user of p2p.conf is no valid client ID");
    }

    void relayFailureNamed()
    {
        // A relay that answers, but with a certificate the client does not
        // accept, that would see the built-in account from afar, or an account
        // that cannot name the client's inbox: the client
        // does not register, and the log names the reason.
        QFETCH(QByteArray, host);
        QFETCH(QString, server);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, problem);
        MqttBroker relay;
        if (!server.isEmpty())
            relay.setSecurity(QStringLiteral("certfile %1/%2.pem\nkeyfile %1/%2.key\nallow_anonymous true\n").arg(m_dir, server));
        QVERIFY2(relay.start(), qPrintable(relay.output()));
        varno::p2p::ClientConfig config;
        config.host = host.toStdString();
        config.port = relay.port();
        config.tls = !server.isEmpty();
        config.caFile = (m_dir + QStringLiteral("/ca.pem")).toStdString();
        config.user = user.toStdString();
        varno::p2p::Client client(config, kClientUser, kClientKey);
        QCOMPARE(client.registerRelay(), int(P2P_ERR_BROKER));
        const QByteArray line = "Relay " + host + ':' + QByteArray::number(relay.port()) + problem;
        QVERIFY2(logText().contains(line), logText().right(600).constData());
    }

private:
    bool makeCertificates()
    {
        // A private CA and a server certificate for 127.0.0.1; a second CA the
        // client does not know, and certificates that must be refused.
        return issue(m_dir, QStringLiteral("ca"), QStringLiteral("server"), "127.0.0.1")
               && issue(m_dir, QStringLiteral("foreign-ca"), QStringLiteral("foreign"), "127.0.0.1")
               && issue(m_dir, QStringLiteral("ca"), QStringLiteral("elsewhere"), "127.0.0.2");
    }

    // One third party at a time: under use_username_as_clientid two connections
    // of one account would take each other's place.
    RawMqtt *connectAs(const QString &clientId, const char *user, const char *password)
    {
        m_raw.clear();
        m_raw.push_back(std::make_unique<RawMqtt>(clientId));
        RawMqtt *raw = m_raw.back().get();
        raw->setCredentials(QLatin1String(user), QLatin1String(password));
        raw->setTls(m_dir + QStringLiteral("/ca.pem"));
        return raw->connect(m_broker.port()) == 0 ? raw : nullptr;
    }

    bool victimStillStreams()
    {
        return m_frames.grows(40, 20000) && m_lib.sessionStatus(kCamA) == P2P_SESSION_CONNECTED;
    }

    // Traffic on every topic a rogue must not read: a lookup of camera A that
    // only the camera can answer (on the victim's inbox), a request to camera
    // A's inbox and its reply, and live frames.
    bool victimTalksToCameraA()
    {
        if (m_sim.command(QStringLiteral("%1 unretain").arg(QLatin1String(kDevA))) != QLatin1String("OK unretain"))
            return false;
        int ret = 1;
        if (m_lib.lookup(kDevA, &ret) != kCamA || ret != 0)
            return false;
        char descr[P2P_STREAM_DESCR_BUFFER];
        int32_t count = 0;
        return P2P_Client_SDK_Get_StreamDescr(m_lib.handle(), kCamA, &count, descr) == 0 && victimStillStreams();
    }

    QString m_dir;
    MqttBroker m_broker;
    CamSimProcess m_sim;
    P2pLibrary m_lib;
    FrameCounter m_frames;
    QString m_clientId;
    std::vector<std::unique_ptr<RawMqtt>> m_raw;
};

QTEST_GUILESS_MAIN(TestP2pAccess)
#include "tst_p2paccess.moc"
