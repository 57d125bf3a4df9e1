// Online probing and the ONVIF discovery results of the main window, against
// simulated ONVIF cameras on loopback.
#include "client/client.h"
#include "client/qtreewid.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "device/qadddevice.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "resources/resourcepath.h"
#include "tools/camsim/onvifsimulation.h"

#include <QApplication>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptScript;

namespace {

DvrListInfo_s recordOf(const Client &c, const QByteArray &id)
{
    for (const DvrListInfo_s &d : c.deviceList())
        if (QByteArray(d.dev.devId) == id)
            return d;
    return DvrListInfo_s{};
}

int countOf(const QStringList &ops, const QString &entry)
{
    return int(ops.count(entry));
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage treeIcon(Client &c, const QString &id)
{
    QTreeWidgetItem *item = itemOf(c, id);
    return item ? iconImage(item->icon(0)) : QImage();
}

QImage picture(const char *name)
{
    return iconImage(QIcon(varno::resourcePath(QString::fromLatin1(name))));
}

OnvifDiscoveryInfo_s answer(const QByteArray &endpoint, const QByteArray &ip, const QByteArray &service,
                            const QByteArray &name = "Cam")
{
    OnvifDiscoveryInfo_s r;
    std::memset(&r, 0, sizeof(r));
    std::memcpy(r.endpoint, endpoint.constData(), size_t(std::min<qsizetype>(endpoint.size(), sizeof(r.endpoint))));
    varno::setText(r.ipAddr, ip);
    varno::setText(r.serviceAddr, service);
    varno::setText(r.name, name);
    return r;
}

} // namespace

class TestClientProbe : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Client::setProbeIntervalMs(1000);
        QVERIFY(quietDiscovery());
        QVERIFY(seedStore({}));
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void discoveryCallbackRules()
    {
        PromptScript prompts;
        Client client("127.0.0.1");
        // The library stays quiet from here: the test is the only caller.
        QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);

        const QByteArray longTail(60, 'z');
        OnvifDiscoveryInfo_s batch[] = {
            answer("urn:uuid:5f0c1a2e-9b1d-4c7e-8a55-0123456789ab", "127.0.0.1", "http://127.0.0.1:80/onvif/device_service",
                   "Front"),
            answer("urn:vendor:cam-7", "127.0.0.2", "http://127.0.0.2/onvif"),
            answer("", "127.0.0.3", "http://127.0.0.3/onvif"),
            answer("plain-endpoint", "127.0.0.4", "http://127.0.0.4/onvif"),
            answer("urn:uuid:" + longTail, "127.0.0.5", "http://127.0.0.5/onvif"),
        };
        QCOMPARE(Client::OnDiscoveryResult(batch, 5, 0, &client), 0);
        QList<DeviceInfo_s> results = client.searchResults();
        QCOMPARE(results.size(), 5);
        QCOMPARE(QByteArray(results[0].devId), QByteArray("5f0c1a2e-9b1d-4c7e-8a55-0123456789ab"));
        QCOMPARE(QByteArray(results[0].ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(results[0].serviceAddr), QByteArray("http://127.0.0.1:80/onvif/device_service"));
        QCOMPARE(QByteArray(results[0].discoveryText), QByteArray("Front"));
        QCOMPARE(QByteArray(results[1].devId), QByteArray("vendor:cam-7"));
        QCOMPARE(QByteArray(results[2].devId), QByteArray());
        QCOMPARE(QByteArray(results[3].devId), QByteArray("plain-endpoint"));
        // A 64-byte endpoint without its terminator: the 55 characters after
        // the prefix.
        QCOMPARE(QByteArray(results[4].devId), longTail.left(55));
        // The cycle is not complete yet: no snapshot.
        QCOMPARE(client.searchSnapshot().size(), 0);

        OnvifDiscoveryInfo_s tail[] = {answer("urn:uuid:last-one", "127.0.0.6", "http://127.0.0.6/onvif")};
        Client::OnDiscoveryResult(tail, 1, 1, &client);
        QCOMPARE(client.searchSnapshot().size(), 6);
        QCOMPARE(QByteArray(client.searchSnapshot().back().devId), QByteArray("last-one"));

        // A new cycle starts over; the snapshot stays until it completes.
        Client::OnDiscoveryResult(tail, 1, 0, &client);
        QCOMPARE(client.searchResults().size(), 1);
        QCOMPARE(client.searchSnapshot().size(), 6);

        // No camera in a call: the marker, nothing else changes.
        Client::OnDiscoveryResult(nullptr, 0, 0, &client);
        results = client.searchResults();
        QCOMPARE(results.size(), 2);
        QCOMPARE(QByteArray(results[1].devId), QByteArray("NO_FIND"));
        DeviceInfo_s marker{};
        varno::setText(marker.devId, "NO_FIND");
        QCOMPARE(bytes(&results[1], sizeof(marker)), bytes(&marker, sizeof(marker)));
        Client::OnDiscoveryResult(nullptr, 0, 1, &client);
        QCOMPARE(client.searchSnapshot().size(), 1);

        // A probe nobody answered after a completed cycle: the old results go,
        // so a camera that left the network is not found any more.
        Client::OnDiscoveryResult(nullptr, 0, 1, &client);
        results = client.searchResults();
        QCOMPARE(results.size(), 1);
        QCOMPARE(QByteArray(results[0].devId), QByteArray("NO_FIND"));
        QCOMPARE(client.searchSnapshot().size(), 0);
        QCOMPARE(prompts.count(), 0);
    }

    void moreThan300AnswersAndTheAddButton()
    {
        PromptScript prompts;
        Client client("127.0.0.1");
        QCOMPARE(ONVIF_DISCOVERY_SDK_Cleanup(), 0);

        std::vector<OnvifDiscoveryInfo_s> crowd;
        for (int i = 0; i < 420; ++i)
            crowd.push_back(answer("urn:uuid:cam-" + QByteArray::number(i), "127.0.0.1",
                                   "http://127.0.0.1/onvif/" + QByteArray::number(i)));
        Client::OnDiscoveryResult(crowd.data(), 250, 0, &client);
        Client::OnDiscoveryResult(crowd.data() + 250, 100, 0, &client);
        QCOMPARE(client.searchResults().size(), kMaxDevices);
        QCOMPARE(QByteArray(client.searchResults().back().devId), QByteArray("cam-299"));
        // Further answers of the same cycle are ignored.
        Client::OnDiscoveryResult(crowd.data() + 350, 70, 1, &client);
        QCOMPARE(client.searchResults().size(), kMaxDevices);
        const QList<DeviceInfo_s> snap = client.searchSnapshot();
        QCOMPARE(snap.size(), kMaxDevices);
        QCOMPARE(QByteArray(snap[123].devId), QByteArray("cam-123"));

        // The add button hands over the snapshot.
        int handedCount = -1;
        QByteArray firstId, lastId;
        connect(&client, &Client::sendSearchReslutToAdd, this, [&](int n, DeviceInfo_s *p) {
            handedCount = n;
            if (p && n > 0) {
                firstId = QByteArray(p[0].devId);
                lastId = QByteArray(p[n - 1].devId);
            }
        });
        // The add-device dialog runs with one row per camera found.
        int rows = -1;
        QVERIFY(runModal<QAddDevice>([&] { client.findChild<QPushButton *>(QStringLiteral("btnAddDevice"))->click(); },
                                     [&](QAddDevice *d) {
                                         rows = d->findChild<QTableWidget *>(QStringLiteral("devTableWidget"))->rowCount();
                                     }));
        QCOMPARE(handedCount, kMaxDevices);
        QCOMPARE(firstId, QByteArray("cam-0"));
        QCOMPARE(lastId, QByteArray("cam-299"));
        QCOMPARE(rows, kMaxDevices);
    }

    void camerasTurnOnlineAndOffline()
    {
        COnvifSimulation sim;
        COnvifSimulation::CameraSetup a;
        a.uuid = "0a0a0a0a-0000-4000-8000-00000000000a";
        a.name = "Sim A";
        a.password = "cam-pass-a";
        COnvifSimulation::CameraSetup b;
        b.uuid = "0b0b0b0b-0000-4000-8000-00000000000b";
        b.name = "Sim B";
        QVERIFY(sim.start({a, b}));
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 400"),
                                             QString::fromStdString(sim.probeTargetLine()),
                                             QStringLiteral("connect_timeout_ms = 1000"),
                                             QStringLiteral("request_timeout_ms = 3000")}));
        const QByteArray idA(a.uuid.c_str());
        // Camera A was stored under an old address; the ghost answers nothing;
        // the P2P camera is not reachable without the P2P service.
        QVERIFY(seedStore({camera(idA, "Sim A", "cam-pass-a", false, "127.0.0.9", "http://127.0.0.9:1/onvif/device_service"),
                           camera("ghost-0000", "Ghost", "x", false, "127.0.0.1", "http://127.0.0.1:1/onvif/device_service"),
                           camera("VRNA-000001-ABCDE", "Far away", "pw", true)}));

        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("admin");
        QSignalSpy states(&client, &Client::sendOnLineState);

        // Found by discovery at its new address, configuration read: online.
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, idA), int(STATE_ONLINE), 30000);
        DvrListInfo_s recA = recordOf(client, idA);
        QCOMPARE(QByteArray(recA.dev.ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(recA.dev.serviceAddr), QByteArray(sim.camera(0)->serviceAddr().c_str()));
        QVERIFY(recA.config.profileCount > 0);
        QVERIFY(QByteArray(recA.config.mainToken).size() > 0);
        QTRY_COMPARE(treeIcon(client, QString::fromLatin1(idA)), picture("./images/dvr_green.png"));
        QCOMPARE(treeIcon(client, QStringLiteral("ghost-0000")), picture("./images/dvr_gray.png"));
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<STATE_E>(), STATE_ONLINE);
        QCOMPARE(QByteArray(states.at(0).at(1).value<DvrListInfo_s>().dev.devId), idA);
        const QString online = QStringLiteral("Device:") + QString::fromLatin1(idA) + QStringLiteral(" Online");
        const QString offline = QStringLiteral("Device:") + QString::fromLatin1(idA) + QStringLiteral(" Offline");
        // Entries made on the probing thread are stored on the window's thread.
        QTRY_COMPARE(countOf(operations(true), online), 1);
        // Never online, never announced.
        for (const QString &op : operations(true))
            QVERIFY2(!op.contains(QStringLiteral("ghost-0000")) && !op.contains(QStringLiteral("VRNA")), qPrintable(op));
        QCOMPARE(stateOf(client, "ghost-0000"), int(STATE_OFFLINE));
        QCOMPARE(stateOf(client, "VRNA-000001-ABCDE"), int(STATE_OFFLINE));
        QVERIFY(!logText().contains("Get device(ghost-0000) config failed"));

        // The snapshot holds both simulated cameras by their bare UUIDs.
        QTRY_COMPARE(client.searchSnapshot().size(), 2);
        QStringList found;
        for (const DeviceInfo_s &d : client.searchSnapshot())
            found << QString::fromLatin1(d.devId);
        found.sort();
        QCOMPARE(found, (QStringList{QString::fromLatin1(idA), QString::fromStdString(b.uuid)}));

        // A new address of an online camera reaches the registry at the next
        // pass, its state untouched.
        DvrListInfo_s moved = recA;
        varno::setText(moved.dev.ipAddr, "127.0.0.8");
        varno::setText(moved.dev.serviceAddr, "http://127.0.0.8:1/onvif/device_service");
        client.recvDevListSlot({moved});
        QCOMPARE(QByteArray(recordOf(client, idA).dev.ipAddr), QByteArray("127.0.0.8"));
        QTRY_COMPARE_WITH_TIMEOUT(QByteArray(recordOf(client, idA).dev.ipAddr), QByteArray("127.0.0.1"), 15000);
        QCOMPARE(QByteArray(recordOf(client, idA).dev.serviceAddr), QByteArray(sim.camera(0)->serviceAddr().c_str()));
        QCOMPARE(stateOf(client, idA), int(STATE_ONLINE));
        QCOMPARE(states.count(), 1);
        QCOMPARE(countOf(operations(true), online), 1);

        // Taken off the network: gray, announced once, not again.
        sim.setDiscoverable(0, false);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, idA), int(STATE_OFFLINE), 20000);
        QTRY_COMPARE(treeIcon(client, QString::fromLatin1(idA)), picture("./images/dvr_gray.png"));
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(1).at(0).value<STATE_E>(), STATE_OFFLINE);
        DvrListInfo_s idOnly{};
        varno::setText(idOnly.dev.devId, idA);
        const DvrListInfo_s announced = states.at(1).at(1).value<DvrListInfo_s>();
        QCOMPARE(bytes(&announced, sizeof(announced)), bytes(&idOnly, sizeof(idOnly)));
        QTRY_COMPARE(countOf(operations(true), offline), 1);
        const int passes = client.probePasses();
        QTRY_VERIFY_WITH_TIMEOUT(client.probePasses() >= passes + 2, 30000);   // two more passes
        QCOMPARE(countOf(operations(true), offline), 1);
        QCOMPARE(states.count(), 2);

        // Back on the network: online again, one more entry.
        sim.setDiscoverable(0, true);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, idA), int(STATE_ONLINE), 20000);
        QTRY_COMPARE(countOf(operations(true), online), 2);

        // The stop flag ends the thread; the close waits for it.
        closeClient(client, prompts);
        const QStringList ops = operations(true);
        QCOMPARE(ops.back(), QStringLiteral("User exit"));
        sim.stop();
    }

    void destroyedWithoutCloseStopsProbing()
    {
        auto client = std::make_unique<Client>("127.0.0.1");
        QVERIFY(client->probeThreadRunning());
        QTRY_VERIFY_WITH_TIMEOUT(client->probePasses() >= 1, 30000);
        client.reset();
        // The library calls back into nobody afterwards, and probing again
        // with a fresh window works.
        Client again("127.0.0.1");
        QVERIFY(again.probeThreadRunning());
    }
};

QTEST_MAIN(TestClientProbe)
#include "tst_clientprobe.moc"
