// The camera registry without a window: probing asks a slow camera without
// holding the list, a stop does not wait for that camera (nor does the join
// after it), the store follows every change, the add dialog's stale copy
// does not undo what probing found.
#include "client/cameraregistry.h"
#include "tests/client/clientfixture.h"

#include "common/metatypes.h"
#include "tools/camsim/onvifsimulation.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace clienttest;
using varno::client::CameraRegistry;

namespace {

// Discovery has found the camera there.
void discovered(CameraRegistry &registry, const QByteArray &id, const QByteArray &ip, const QByteArray &service)
{
    OnvifDiscoveryInfo_s found;
    std::memset(&found, 0, sizeof(found));
    varno::setText(found.endpoint, "urn:uuid:" + id);
    varno::setText(found.ipAddr, ip);
    varno::setText(found.serviceAddr, service);
    registry.discoveryResult(&found, 1, 1);
}

} // namespace

class TestCameraRegistry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { varno::registerMetaTypes(); }
    void cleanup() { SDK_DVRMGR_UnInit(); }

    void slowCameraLeavesTheListFreeAndStopDoesNotWait()
    {
        COnvifSimulation sim;
        COnvifSimulation::CameraSetup hall;
        hall.uuid = "4c4c4c4c-0000-4000-8000-0000000000c1";
        hall.password = "583";
        QVERIFY(sim.start({hall}));
        QVERIFY(varno::test::writeOnvifConf(
            {QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 20000")}));
        const QByteArray service = QByteArray::fromStdString(sim.camera(0)->serviceAddr());
        QVERIFY(seedStore({camera(QByteArray::fromStdString(hall.uuid), "Hall", "583", false, "127.0.0.1", service)}));
        QVERIFY(SDK_DVRMGR_Init(varno::installDir().c_str()) == 0);

        CameraRegistry::setProbeIntervalMs(100);
        CameraRegistry registry;
        registry.load();
        QCOMPARE(registry.deviceList().size(), 1);
        const QString id = QString::fromStdString(hall.uuid);
        QCOMPARE(registry.state(id), int(STATE_OFFLINE));
        // Discovery has found it: the next pass asks it for its configuration,
        // and the camera holds every answer back.
        discovered(registry, QByteArray::fromStdString(hall.uuid), "127.0.0.1", service);
        sim.camera(0)->setReplyDelayMs(60000);
        QSignalSpy looks(&registry, &CameraRegistry::lookChanged);
        registry.startProbing();
        QTRY_VERIFY_WITH_TIMEOUT(sim.camera(0)->requestCount() >= 1, 20000);

        // The probing thread waits for the camera: a rename and the lookups
        // meanwhile go through, before the camera has answered anything.
        DeviceInfo_s renamed = registry.deviceList().at(0).dev;
        varno::setText(renamed.devName, "Hall east");
        DvrListInfo_s updated;
        QVERIFY(registry.applyProperty(renamed, &updated));
        QCOMPARE(QByteArray(updated.dev.devName), QByteArray("Hall east"));
        QCOMPARE(registry.entries().at(0).devName, QStringLiteral("Hall east"));
        QCOMPARE(registry.state(id), int(STATE_OFFLINE));
        QCOMPARE(looks.count(), 0);

        // A stop returns while the camera is still being asked; the join gives
        // the request up, the camera's state stays.
        registry.requestStop();
        QVERIFY(registry.stopRequested());
        registry.stopProbing();
        QCOMPARE(registry.state(id), int(STATE_OFFLINE));
    }

    void everyChangeIsStored()
    {
        QVERIFY(seedStore({camera("A000001", "Gate", "pa", true), camera("B000002", "Yard", "pb", true)}));
        QVERIFY(SDK_DVRMGR_Init(varno::installDir().c_str()) == 0);
        {
            CameraRegistry registry;
            QSignalSpy failed(&registry, &CameraRegistry::storeFailed);
            registry.load();
            const QList<DvrListInfo_s> before = registry.deviceList();
            QCOMPARE(before.size(), 2);
            QCOMPARE(QByteArray(before.at(0).dev.password), QByteArray("pa"));   // deciphered

            // Each change reaches the store, written off this thread.
            registry.setPtzCapability(QStringLiteral("A000001"), true);
            QList<DvrListInfo_s> fromDialog = before;
            varno::setText(fromDialog[1].dev.password, "pb-new");
            fromDialog.append(listed(camera("C000003", "Shed", "pc", true)));
            const varno::client::ListChange change = registry.applyList(fromDialog);
            QCOMPARE(change.added.size(), 1);
            QCOMPARE(change.changed.size(), 1);
            QVERIFY(registry.remove(QStringLiteral("A000001")));
            QVERIFY(!registry.remove(QStringLiteral("nobody")));
            QTRY_VERIFY(registry.storeIdle());
            const std::vector<DeviceInfo_s> stored = readStore(true);
            QCOMPARE(stored.size(), size_t(2));
            QCOMPARE(QByteArray(stored[0].devId), QByteArray("B000002"));
            QCOMPARE(deciphered(stored[0]), QByteArray("pb-new"));
            QCOMPARE(QByteArray(stored[1].devId), QByteArray("C000003"));
            QCOMPARE(deciphered(stored[1]), QByteArray("pc"));
            QCOMPARE(failed.count(), 0);

            // The PTZ answer of a camera still listed is kept.
            registry.setPtzCapability(QStringLiteral("C000003"), true);
        }
        // The destructor wrote what was still to write.
        SDK_DVRMGR_UnInit();
        const std::vector<DeviceInfo_s> last = readStore();
        QCOMPARE(last.size(), size_t(2));
        QCOMPARE(int(last[1].ptzCaps), 2);
    }

    void joinEndsTheRequestOfASilentCamera()
    {
        // A camera that takes the connection and the request and never answers;
        // the request's own time-out is far beyond the test's.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QByteArray heard;
        bool closed = false;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *peer = silent.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [&heard, peer] { heard += peer->readAll(); });
            connect(peer, &QTcpSocket::disconnected, this, [&closed] { closed = true; });
        });
        QVERIFY(varno::test::writeOnvifConf(
            {QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 300000")}));
        const QByteArray service = "http://127.0.0.1:" + QByteArray::number(silent.serverPort()) + "/onvif/device_service";
        QVERIFY(seedStore({camera("silent-1", "Silent", "583", false, "127.0.0.1", service)}));
        QVERIFY(SDK_DVRMGR_Init(varno::installDir().c_str()) == 0);
        CameraRegistry registry;
        registry.load();
        discovered(registry, "silent-1", "127.0.0.1", service);
        registry.startProbing();
        QTRY_VERIFY_WITH_TIMEOUT(heard.contains("GetSystemDateAndTime"), 20000);
        // The window's close ends the thread (the destructor's join has nothing
        // to wait for) with the request unanswered, whose connection the camera
        // sees closed.
        registry.requestStop();
        QTRY_VERIFY_WITH_TIMEOUT(!registry.probing(), 60000);
        registry.stopProbing();
        QCOMPARE(registry.state(QStringLiteral("silent-1")), int(STATE_OFFLINE));
        QTRY_VERIFY_WITH_TIMEOUT(closed, 20000);
    }

    void dialogCopyKeepsTheProbedAddress()
    {
        QVERIFY(seedStore({camera("moving-1", "Porch", "583", false, "127.0.0.1", "http://127.0.0.1:9/onvif/device_service")}));
        QVERIFY(SDK_DVRMGR_Init(varno::installDir().c_str()) == 0);
        CameraRegistry registry;
        registry.load();
        // The add dialog takes its copy, then probing finds the camera elsewhere.
        QList<DvrListInfo_s> dialogCopy = registry.deviceList();
        discovered(registry, "moving-1", "127.0.0.3", "http://127.0.0.3:9/onvif/device_service");
        registry.startProbing();
        auto ipOf = [&registry] { return QByteArray(registry.deviceList().at(0).dev.ipAddr); };
        QTRY_COMPARE_WITH_TIMEOUT(ipOf(), QByteArray("127.0.0.3"), 20000);
        registry.requestStop();
        registry.stopProbing();
        // Handed back with a camera added, the copy changes nothing of the other;
        // an address the user gave it in the dialog is taken.
        dialogCopy.append(listed(camera("new-2", "Shed", "583", false, "127.0.0.4")));
        QStringList moved;
        QCOMPARE(registry.applyList(dialogCopy, &moved).changed.size(), 0);
        QCOMPARE(ipOf(), QByteArray("127.0.0.3"));
        moved << QStringLiteral("moving-1");
        QCOMPARE(registry.applyList(dialogCopy, &moved).changed.size(), 1);
        QCOMPARE(ipOf(), QByteArray("127.0.0.1"));
    }
};

QTEST_MAIN(TestCameraRegistry)
#include "tst_cameraregistry.moc"
