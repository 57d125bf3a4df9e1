// The demo's data: what the client reads back from the seeded installation
// directory, and that the simulator accepts the generated configuration.

#include "common/devicerecords.h"
#include "common/textfield.h"
#include "device/passwordcipher.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"
#include "tools/camsim/onvifsimcamera.h"
#include "tools/camsim/simconfig.h"
#include "tools/camsim/simulator.h"
#include "tools/demoseed/demoseed.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cstring>
#include <memory>

using namespace varno::demo;

namespace {
QList<DeviceInfo_s> storedCameras(const QString &dir)
{
    QList<DeviceInfo_s> out;
    if (SDK_DVRMGR_Init(dir.toUtf8().constData()) != 0)
        return out;
    auto records = std::make_unique<DeviceInfo_s[]>(kMaxDevices);
    int count = kMaxDevices;
    if (SDK_DVRMGR_GetDevInfo(records.get(), &count) == 0)
        for (int i = 0; i < count; ++i)
            out.append(records[i]);
    SDK_DVRMGR_UnInit();
    return out;
}
} // namespace

class TestDemoSeed : public QObject
{
    Q_OBJECT

private slots:
    void storeHoldsTheCamerasWithCipheredPasswords()
    {
        const QString dir = varno::test::tempRoot() + QStringLiteral("/seed1");
        const DemoPlan plan = defaultPlan(18831, 37021, 18081, 18082);
        QString error;
        QVERIFY2(seedClientData(plan, dir, &error), qPrintable(error));

        const QByteArray p2pConf = varno::test::readFile(dir + "/p2p.conf");
        QVERIFY(p2pConf.contains("port = 18831") && p2pConf.contains("host = 127.0.0.1"));
        QVERIFY(varno::test::readFile(dir + "/onvif.conf").contains("probe_target = 127.0.0.1:37021"));

        const QList<DeviceInfo_s> stored = storedCameras(dir);
        QCOMPARE(stored.size(), 6);
        int p2p = 0;
        for (const DeviceInfo_s &d : stored) {
            const QString id = varno::fieldText(d.devId);
            const auto it = std::find_if(plan.cameras.begin(), plan.cameras.end(),
                                         [&](const DemoCamera &c) { return c.deviceId == id; });
            QVERIFY2(it != plan.cameras.end(), qPrintable(id));
            // Never plain in the store; the cipher gives the password back.
            QVERIFY(varno::fieldText(d.password) != it->password);
            char plain[64] = {};
            QCOMPARE(decode(d.password, plain), 0);
            QCOMPARE(QString::fromUtf8(plain), it->password);
            QCOMPARE(varno::fieldText(d.devName), it->name);
            if (d.p2pFlag) {
                ++p2p;
                QCOMPARE(varno::fieldText(d.p2pId), it->p2pId);
            } else {
                QCOMPARE(varno::fieldText(d.serviceAddr),
                         QStringLiteral("http://127.0.0.1:%1/onvif/device_service").arg(it->httpPort));
            }
        }
        QCOMPARE(p2p, 4);
    }

    void reseedingReplacesTheList()
    {
        const QString dir = varno::test::tempRoot() + QStringLiteral("/seed2");
        DemoPlan plan = defaultPlan(1, 2, 3, 4);
        QString error;
        QVERIFY(seedClientData(plan, dir, &error));
        plan.cameras = plan.cameras.mid(0, 2);
        plan.brokerPort = 5;
        QVERIFY(seedClientData(plan, dir, &error));
        QCOMPARE(storedCameras(dir).size(), 2);
        QVERIFY(varno::test::readFile(dir + "/p2p.conf").contains("port = 5\n"));
    }

    void unwritableDirectoryIsReported()
    {
        const QString file = varno::test::tempRoot() + QStringLiteral("/plainfile");
        QVERIFY(varno::test::writeFile(file, {}));
        QString error;
        QVERIFY(!seedClientData(defaultPlan(1, 2, 3, 4), file + QStringLiteral("/below"), &error));
        QVERIFY(!error.isEmpty());
    }

    void simulatorRunsTheGeneratedConfiguration();

    void freePortsAreDistinct()
    {
        QList<uint16_t> ports;
        for (int i = 0; i < 4; ++i) {
            const uint16_t p = freeLoopbackPort(ports);
            QVERIFY(p != 0);
            QVERIFY(!ports.contains(p));
            ports.append(p);
        }
        const QByteArray conf = brokerConfig(defaultPlan(ports[0], 0, 0, 0));
        QVERIFY(conf.contains(QStringLiteral("listener %1 127.0.0.1\n").arg(ports[0]).toUtf8()));
    }
};

void TestDemoSeed::simulatorRunsTheGeneratedConfiguration()
{
    // The same configuration the demo hands to varno-camsim, run in-process
    // against nothing but its own ports (the P2P cameras wait for a broker).
    QList<uint16_t> ports;
    for (int i = 0; i < 3; ++i)
        ports.append(freeLoopbackPort(ports));
    const DemoPlan plan = defaultPlan(varno::test::freeLoopbackPort(), ports[0], ports[1], ports[2]);
    // Of the P2P cameras, "Hall" alone sends H.265.
    const QJsonArray all = simulatorConfig(plan, varno::test::tempRoot()).value(QStringLiteral("cameras")).toArray();
    for (int i = 0; i < 4; ++i)
        QCOMPARE(all[i].toObject().value(QStringLiteral("codec")).toString(), QString::fromLatin1(i == 3 ? "h265" : ""));
    DemoPlan onvifOnly = plan;
    onvifOnly.cameras.erase(std::remove_if(onvifOnly.cameras.begin(), onvifOnly.cameras.end(),
                                           [](const DemoCamera &c) { return c.p2p; }),
                            onvifOnly.cameras.end());
    QCOMPARE(onvifOnly.cameras.size(), 2);
    const QByteArray json = QJsonDocument(simulatorConfig(onvifOnly, varno::test::tempRoot())).toJson();

    varno::camsim::registerOnvifCameraKind();
    varno::camsim::SimConfig config;
    QString error;
    QVERIFY2(varno::camsim::parseSimConfig(json, config, &error), qPrintable(error));
    varno::camsim::Simulator sim;
    QVERIFY2(sim.start(config, &error), qPrintable(error));
    const QString list = sim.control(QStringLiteral("onvif list"));
    QVERIFY2(list.startsWith(QStringLiteral("OK discovery 127.0.0.1:%1").arg(ports[0])), qPrintable(list));
    for (const DemoCamera &c : onvifOnly.cameras) {
        QVERIFY2(list.contains(c.deviceId), qPrintable(list));
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, c.httpPort);
        QVERIFY(s.waitForConnected(2000));
    }
    QVERIFY(sim.control(QStringLiteral("onvif offline 1")).startsWith(QStringLiteral("OK")));
    sim.stop();

    // A taken port makes the set fail to start and say so.
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost, 0));
    onvifOnly.cameras[1].httpPort = blocker.serverPort();
    varno::camsim::SimConfig clash;
    QVERIFY(varno::camsim::parseSimConfig(
        QJsonDocument(simulatorConfig(onvifOnly, varno::test::tempRoot())).toJson(), clash, &error));
    error.clear();
    QVERIFY(!sim.start(clash, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestDemoSeed)
#include "tst_demoseed.moc"
