// The main window without the relay's rig: start-up and close with the
// camera store, the camera registry, device tree, buttons and dialogs, online
// probing and the ONVIF discovery results against simulated ONVIF cameras on
// loopback, an ONVIF camera that refuses the stored password (shown as such,
// told once, fixed in Settings, told apart from a camera that does not
// answer), and the peer-to-peer channel: the registration thread against a
// real broker (and against none), the message filter and device ID cut,
// payloads that outlive the library's callback for queued receivers. Adding
// a camera that asks for its own password is tst_qadddevice's; the replies of
// a simulated camera through the window's registration and the added camera
// reaching the window are tst_clientlive's, each reply's content the P2P
// library's tests'.
#include "client/client.h"
#include "client/qaboutdlg.h"
#include "client/qptzctrol.h"
#include "client/qtreewid.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/p2precords.h"
#include "common/ui/desktopinfo.h"
#include "common/ui/promptscript.h"
#include "device/qadddevice.h"
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "playback/videosearch.h"
#include "tests/support/mqttbroker.h"
#include "tools/camsim/onvifsimulation.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace clienttest;
using varno::test::MqttBroker;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

const QByteArray kLobby = "4c4c4c4c-0000-4000-8000-0000000000b1";

QStringList treeTexts(Client &c)
{
    QStringList out;
    QTreeWidgetItem *root = tree(c)->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i)
        out << root->child(i)->text(0);
    return out;
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

bool pointAt(COnvifSimulation &sim)
{
    return varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 300"),
                                        QString::fromStdString(sim.probeTargetLine()),
                                        QStringLiteral("connect_timeout_ms = 1000"),
                                        QStringLiteral("request_timeout_ms = 3000")});
}

// "Settings" of the camera, Camera Editor page: the password field set to
// password and confirmed. Returns whether the dialog ran.
bool editPassword(Client &client, const QByteArray &id, const QString &password, bool *changePage = nullptr,
                  QString *hint = nullptr)
{
    client.selectDevice(QString::fromLatin1(id));
    return runModal<QPropertyDial>([&] { client.propertyAction(); }, [&](QPropertyDial *d) {
        if (changePage)
            *changePage = button(d, "passwdButton")->isVisibleTo(d);
        if (hint)
            *hint = d->renamePage()->findChild<QLabel *>(QStringLiteral("passwdHint"))->text();
        d->renamePage()->findChild<QLineEdit *>(QStringLiteral("passwdLineEdit"))->setText(password);
        button(d->renamePage(), "confirmButton")->click();
    });
}

// A receiver on the user-interface thread, connected queued, that copies
// what the payload holds when its slot finally runs.
struct Received
{
    int32_t type;
    QByteArray devId;
    QByteArray payload;
};

class QueuedReceiver : public QObject
{
public:
    explicit QueuedReceiver(Client *client)
    {
        connect(client, &Client::sendP2pMsg, this, [this](P2pMessage_S m) {
            std::lock_guard<std::mutex> lock(mutex);
            got.push_back(Received{m.type, QByteArray(m.devId, int(::strnlen(m.devId, sizeof(m.devId)))),
                                   QByteArray(m.payload, m.payloadLen)});
        }, Qt::QueuedConnection);
    }
    int count(int32_t type)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const Received &r : got)
            n += r.type == type;
        return n;
    }
    Received first(int32_t type)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Received &r : got)
            if (r.type == type)
                return r;
        return Received{};
    }
    std::mutex mutex;
    std::vector<Received> got;
};

} // namespace

class TestClient : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Probing at its usual pace; cases that watch it turn it up.
        Client::setProbeIntervalMs(5000);
        QVERIFY(quietDiscovery());
        QVERIFY(seedStore({}));
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void startUpThenCloseKeepsTheCameras()
    {
        {
            // An empty store opens an empty window and stays empty.
            PromptScript prompts;
            Client client("127.0.0.1");
            QVERIFY(client.deviceList().isEmpty());
        }
        QVERIFY(readStore().empty());

        const std::vector<DeviceInfo_s> cameras{
            camera("VARNO-000001-ABCDE", "Front door", "door-secret", true),
            camera("5f0c1a2e-9b1d-4c7e-8a55-0123456789ab", "Garage", "g4r4ge!", false),
            camera("VARNO-000003-XYZAB", "Garden \xc3\xa4\xc3\xb6\xc3\xbc", "", true),
        };
        QVERIFY(seedStore(cameras));

        PromptScript prompts;
        {
            Client client("127.0.0.1");
            // In memory: the store order, passwords in plain, no configuration yet.
            const QList<DvrListInfo_s> list = client.deviceList();
            QCOMPARE(list.size(), 3);
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(bytes(&list[i].dev, sizeof(DeviceInfo_s)), bytes(&cameras[size_t(i)], sizeof(DeviceInfo_s)));
                const DevConfig_s zero{};
                QCOMPARE(std::memcmp(&list[i].config, &zero, sizeof(zero)), 0);
            }

            client.userLogin("admin");
            client.show();
            QVERIFY(QTest::qWaitForWindowExposed(&client));

            QSignalSpy closing(&client, &Client::sendWinCloseSignal);
            prompts.answer(QMessageBox::Yes);
            button(client, "btnWinClose")->click();
            QCOMPARE(prompts.count(), 1);
            const varno::ui::PromptRequest asked = prompts.requests().at(0);
            QCOMPARE(asked.kind, PromptKind::Question);
            QCOMPARE(asked.title, QStringLiteral("PC Client"));
            QCOMPARE(asked.text, QStringLiteral("Are you sure to close the client?"));
            QCOMPARE(closing.count(), 1);
            QVERIFY(client.stopRequested());
            QVERIFY(!client.isVisible());
            QVERIFY(logText().endsWith("============>Stop Varno<============\n\r\n"));
        }

        // The store holds the same three, in order, passwords enciphered.
        const QString differs = storeDiffers(readStore(), cameras);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));

        // The operation log holds the login and the exit of the user.
        const std::vector<LogInfo_s> ops = operationEntries();
        QVERIFY(ops.size() >= 2);
        const LogInfo_s &login = ops[ops.size() - 2];
        const LogInfo_s &exit = ops.back();
        QCOMPARE(QByteArray(login.content), QByteArray("User login"));
        QCOMPARE(QByteArray(login.user), QByteArray("admin"));
        QCOMPARE(QByteArray(exit.content), QByteArray("User exit"));
        QCOMPARE(QByteArray(exit.user), QByteArray("admin"));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(exit.time), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
        const QByteArray log = logText();
        for (const char *fault : {"SDK_DVRMGR_Init failed", "GetDevInfo failed", "rewrite failed", "to file error"})
            QVERIFY2(!log.contains(fault), fault);
    }

    void answeringNoKeepsRunning()
    {
        QVERIFY(seedStore({camera("VARNO-000001-ABCDE", "Front door", "pw", true)}));
        const qsizetype logBefore = logText().size();
        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("admin");
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));
        QSignalSpy closing(&client, &Client::sendWinCloseSignal);
        prompts.answer(QMessageBox::No);
        button(client, "btnWinClose")->click();
        button(client, "btnWinClose")->click(); // unanswered (the box closed otherwise): No as well
        // A close from outside (the window manager) asks the same question.
        prompts.answer(QMessageBox::No);
        QVERIFY(!client.close());
        QTRY_COMPARE(prompts.count(), 3);
        QVERIFY(client.isVisible());
        QVERIFY(!client.stopRequested());
        QCOMPARE(closing.count(), 0);
        QVERIFY(!logText().mid(logBefore).contains("Stop Varno"));
        const std::vector<LogInfo_s> ops = operationEntries();
        QVERIFY(!ops.empty());
        QCOMPARE(QByteArray(ops.back().content), QByteArray("User login"));

        prompts.answer(QMessageBox::Yes);
        client.close();
        QTRY_VERIFY(client.stopRequested());
        QVERIFY(!client.isVisible());
        QCOMPARE(logText().mid(logBefore).count("Stop Varno"), 1);
        button(client, "btnWinClose")->click(); // asks nothing any more
        QCOMPARE(prompts.count(), 4);
    }

    void frameAndKeys()
    {
        PromptScript prompts;
        Client client("127.0.0.1");
        QCOMPARE(int(client.windowFlags() & 0x4800), 0x4800); // frameless, minimise button
        const QRect monitor = CDesktopInfo::instance()->currentMonitorRect();
        QCOMPARE(client.geometry(), monitor);
        QVERIFY(client.isMaximized());
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));

        // Return, Enter and Escape never close the main window.
        QTest::keyClick(&client, Qt::Key_Escape);
        QTest::keyClick(&client, Qt::Key_Return);
        QTest::keyClick(&client, Qt::Key_Enter, Qt::KeypadModifier);
        QCoreApplication::processEvents(); // a close that was posted has happened
        QVERIFY(client.isVisible());
        QCOMPARE(prompts.count(), 0);

        // The maximise button toggles between the form's size, centred, and
        // the whole monitor.
        QPushButton *max = client.findChild<QPushButton *>(QStringLiteral("btnWinMax"));
        QVERIFY(max);
        QCOMPARE(max->toolTip(), QStringLiteral("Restore Down"));
        max->click();
        QVERIFY(!client.isMaximized());
        QCOMPARE(max->toolTip(), QStringLiteral("Maximize"));
        QCOMPARE(client.geometry().center(), monitor.center());
        max->click();
        QCOMPARE(client.geometry(), monitor);
    }

    void oddRecords()
    {
        // A name longer than its field is cut when the record is made; a record
        // filled to the last byte of every text field survives the round trip;
        // a password kept in plain (an old store, or one the cipher could not
        // take) loads as it is and leaves enciphered.
        DeviceInfo_s cut = camera("VARNO-LONG-NAME", "", "pw", true);
        varno::setText(cut.devName, QByteArray(60, 'n'));
        DeviceInfo_s full = camera("", "", "", true);
        std::memset(full.devId, 'i', sizeof(full.devId));
        std::memset(full.devName, 'n', sizeof(full.devName));
        std::memset(full.ipAddr, '9', sizeof(full.ipAddr));
        std::memset(full.p2pId, 'p', sizeof(full.p2pId));
        const DeviceInfo_s plain = camera("VARNO-PLAIN", "Plain", "12345678", true);
        QVERIFY(seedStore({enciphered(cut), full, plain}, false));

        PromptScript prompts;
        {
            Client client("127.0.0.1");
            const QList<DvrListInfo_s> list = client.deviceList();
            QCOMPARE(list.size(), 3);
            QCOMPARE(QByteArray(list[0].dev.devName), QByteArray(31, 'n'));
            QCOMPARE(QByteArray(list[0].dev.password), QByteArray("pw"));
            QCOMPARE(bytes(list[1].dev.devName, 32), QByteArray(32, 'n'));
            QCOMPARE(bytes(list[1].dev.devId, 64), QByteArray(64, 'i'));
            QCOMPARE(QByteArray(list[2].dev.password), QByteArray("12345678"));
        }
        const std::vector<DeviceInfo_s> after = readStore();
        QCOMPARE(after.size(), size_t(3));
        QCOMPARE(bytes(after[1].devName, 32), QByteArray(32, 'n'));
        QCOMPARE(bytes(after[1].devId, 64), QByteArray(64, 'i'));
        QCOMPARE(bytes(after[1].p2pId, 64), QByteArray(64, 'p'));
        QVERIFY(QByteArray(after[2].password) != QByteArray("12345678"));
        QCOMPARE(deciphered(after[2]), QByteArray("12345678"));
        QVERIFY(!logText().contains("to file error"));
    }

    void addSameIdUpdatesAndNewIpBringsItsAddresses()
    {
        const DeviceInfo_s a = camera("cam-a", "Hall", "pa", false, "127.0.0.1");
        QVERIFY(seedStore({a}));
        PromptScript prompts;
        Client client("127.0.0.1");
        QCOMPARE(treeTexts(client), QStringList{QStringLiteral("Hall")});
        QCOMPARE(stateOf(client, "cam-a"), int(STATE_OFFLINE));
        // Let the probing thread's first pass end: a pass that read the
        // camera's state after the add below would find it undiscovered and
        // show it offline again.
        QTRY_VERIFY(client.probePasses() >= 1);

        // Same ID, same IP, other password: the password fields follow, nothing
        // is appended, the camera shows online.
        DvrListInfo_s again = listed(camera("cam-a", "Other name", "new-pass", false, "127.0.0.1",
                                            "http://127.0.0.1:9/elsewhere"));
        std::memset(&again.config, 'x', sizeof(again.config));
        client.recvDevListSlot({again});
        QList<DvrListInfo_s> list = client.deviceList();
        QCOMPARE(list.size(), 1);
        QCOMPARE(QByteArray(list[0].dev.password), QByteArray("new-pass"));
        QCOMPARE(QByteArray(list[0].dev.devName), QByteArray("Hall"));
        QCOMPARE(QByteArray(list[0].dev.serviceAddr), QByteArray(a.serviceAddr));
        QCOMPARE(list[0].config.profileCount, 0);
        QCOMPARE(stateOf(client, "cam-a"), int(STATE_ONLINE));
        QCOMPARE(treeTexts(client).size(), 1);

        // A new IP brings its service address, configuration block and the
        // password the camera took there (the add dialog asked with it): the
        // store, which the registry alone writes, keeps that one.
        DvrListInfo_s moved = listed(camera("cam-a", "Hall", "asked-there", false, "127.0.0.2", "http://127.0.0.2:80/onvif/x"));
        moved.config.profileCount = 2;
        varno::setText(moved.config.mainToken, "main");
        varno::setText(moved.config.eventAddr, "http://127.0.0.2/event");
        client.recvDevListSlot({moved});
        list = client.deviceList();
        QCOMPARE(list.size(), 1);
        QCOMPARE(QByteArray(list[0].dev.ipAddr), QByteArray("127.0.0.2"));
        QCOMPARE(QByteArray(list[0].dev.serviceAddr), QByteArray("http://127.0.0.2:80/onvif/x"));
        QCOMPARE(bytes(&list[0].config, sizeof(DevConfig_s)), bytes(&moved.config, sizeof(DevConfig_s)));
        QCOMPARE(QByteArray(list[0].dev.password), QByteArray("asked-there"));

        // A new ID is appended to the list and the tree, online.
        client.recvDevListSlot({listed(camera("cam-b", "Yard", "pb", true))});
        QCOMPARE(client.deviceList().size(), 2);
        QCOMPARE(treeTexts(client), (QStringList{QStringLiteral("Hall"), QStringLiteral("Yard")}));
        QCOMPARE(stateOf(client, "cam-b"), int(STATE_ONLINE));
        QCOMPARE(itemOf(client, QStringLiteral("cam-b"))->data(0, Qt::UserRole).toInt(), 0);
        // The settings dialog gets the whole camera list, not only the records
        // that came in, with the new address.
        const QList<DvrListInfo_s> &inSettings = client.propertyDialog()->devList();
        QCOMPARE(inSettings.size(), 2);
        QCOMPARE(QByteArray(inSettings[0].dev.devId), QByteArray("cam-a"));
        QCOMPARE(QByteArray(inSettings[0].dev.ipAddr), QByteArray("127.0.0.2"));
        QCOMPARE(QByteArray(inSettings[1].dev.devId), QByteArray("cam-b"));
        QCOMPARE(prompts.count(), 0);
        closeClient(client, prompts);
    }

    void removalAndUnknownIds()
    {
        QVERIFY(seedStore({camera("one", "One", "", false), camera("two", "Two", "", false),
                           camera("three", "Three", "", false)}));
        PromptScript prompts;
        auto holder = std::make_unique<Client>("127.0.0.1");
        Client &client = *holder;
        QSignalSpy removed(&client, &Client::sendDelDevInfo);

        // An unknown ID changes nothing.
        client.recvDelDevInfo(QStringLiteral("nobody"));
        QCOMPARE(client.deviceList().size(), 3);
        QCOMPARE(treeTexts(client).size(), 3);

        // IDs compare exactly: "Two" is not "two".
        client.recvDelDevInfo(QStringLiteral("Two"));
        QCOMPARE(client.deviceList().size(), 3);

        // The "Delete" action asks first, naming the camera; No keeps it.
        client.selectDevice(QStringLiteral("two"));
        client.deleteDevAction();
        QCOMPARE(prompts.requests().at(0).kind, PromptKind::Question);
        QCOMPARE(prompts.take().at(0).text, QStringLiteral("Are you sure to delete the device Two (two)?"));
        QCOMPARE(client.deviceList().size(), 3);
        // Yes removes it from list and tree (nothing uses it while no live page
        // exists).
        prompts.answer(QMessageBox::Yes);
        client.deleteDevAction();
        QCOMPARE(prompts.take().size(), 1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toString(), QStringLiteral("two"));
        QCOMPARE(treeTexts(client), (QStringList{QStringLiteral("One"), QStringLiteral("Three")}));
        QCOMPARE(client.deviceList().size(), 2);
        QCOMPARE(QByteArray(client.deviceList()[1].dev.devId), QByteArray("three"));
        QVERIFY(client.selectedDevice().isEmpty());
        const QByteArray log = logText();
        QVERIFY(log.contains("[CLIENT]Request delete device(two)!!!"));
        QVERIFY(log.contains("[CLIENT]Finded item and remove!!!"));
        QVERIFY(log.contains("[CLIENT]Finded device(two) and erase!!!"));
        QVERIFY(log.contains("[CLIENT]Delete device(two) finished!!!"));

        // The store follows the removal at once; the camera added again is one
        // row, not two.
        QTRY_VERIFY(storeSettled(client));
        QCOMPARE(readStore(true).size(), size_t(2));
        DvrListInfo_s again {};
        again.dev = camera("two", "Two", "", false);
        client.addDeviceDialog()->RecvManualInfo(again);
        // Stored off the window's thread.
        QTRY_COMPARE(client.deviceList().size(), 3);
        QTRY_VERIFY(storeSettled(client));
        QCOMPARE(readStore(true).size(), size_t(3));
        closeClient(client, prompts);
        holder.reset();
        QCOMPARE(readStore().size(), size_t(3));
    }

    void oneWriterKeepsWhatOnlyTheRegistryKnows()
    {
        QVERIFY(seedStore({camera("A000001", "Gate", "pa", true), camera("B000002", "Yard", "pb", true)}));
        PromptScript prompts;
        auto client = std::make_unique<Client>("127.0.0.1");
        // The registry learns what the add dialog's own list never hears of.
        client->recvPtzCapability(QStringLiteral("A000001"), true);
        // The manual add of a listed camera with a new password.
        DvrListInfo_s again = client->deviceList()[1];
        varno::setText(again.dev.password, "pb-new");
        client->addDeviceDialog()->RecvManualInfo(again);
        QCOMPARE(QByteArray(client->deviceList()[1].dev.password), QByteArray("pb-new"));
        QTRY_VERIFY(client->addDeviceDialog()->setup()->jobsInFlight() == 0 && storeSettled(*client));
        const std::vector<DeviceInfo_s> stored = readStore(true);
        QCOMPARE(stored.size(), size_t(2));
        QCOMPARE(int(stored[0].ptzCaps), 2);
        QCOMPARE(deciphered(stored[1]), QByteArray("pb-new"));
        client.reset();
    }

    void limitOf300Cameras()
    {
        std::vector<DeviceInfo_s> many;
        for (int i = 0; i < kMaxDevices - 1; ++i)
            many.push_back(camera(QByteArray("c") + QByteArray::number(i), QByteArray("Cam ") + QByteArray::number(i),
                                  "", false));
        QVERIFY(seedStore(many));
        PromptScript prompts;
        auto holder = std::make_unique<Client>("127.0.0.1");
        Client &client = *holder;
        QCOMPARE(client.deviceList().size(), kMaxDevices - 1);

        // The 300th is taken, the 301st refused with a message; an update of a
        // listed camera still works at the limit.
        client.recvDevListSlot({listed(camera("c-300", "300th", "", false)), listed(camera("c-301", "301st", "", false)),
                                listed(camera("c0", "Cam 0", "pw", false))});
        QCOMPARE(client.deviceList().size(), kMaxDevices);
        QCOMPARE(tree(client)->invisibleRootItem()->childCount(), kMaxDevices);
        QCOMPARE(QByteArray(client.deviceList().back().dev.devId), QByteArray("c-300"));
        QCOMPARE(QByteArray(client.deviceList().front().dev.password), QByteArray("pw"));
        QCOMPARE(prompts.count(), 1);
        const varno::ui::PromptRequest refused = prompts.take().at(0);
        QCOMPARE(refused.kind, PromptKind::Information);
        QCOMPARE(refused.title, QStringLiteral("Device Management"));
        QVERIFY(refused.text.contains(QStringLiteral("300")));
        QVERIFY(logText().contains("Device list full, device(c-301) refused!!!"));

        // Another one alone is refused again.
        client.recvDevListSlot({listed(camera("c-302", "302nd", "", false))});
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(client.deviceList().size(), kMaxDevices);

        closeClient(client, prompts);
        holder.reset();
        QCOMPARE(readStore().size(), size_t(kMaxDevices));
    }

    void settingsAndDoubleClickOnOfflineCamera()
    {
        QVERIFY(seedStore({camera("off", "Offline cam", "pw", true), camera("on", "Online cam", "pw", false)}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));
        client.recvDevListSlot({listed(camera("on", "Online cam", "pw", false))});
        QSignalSpy showProperty(&client, &Client::sendShowProperty);
        QSignalSpy property(&client, &Client::sendDevProperty);

        client.selectDevice(QStringLiteral("off"));
        client.propertyAction();
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests().at(0).title, QStringLiteral("Setup Device"));
        QCOMPARE(prompts.requests().at(0).text, QStringLiteral("Device is offline !"));
        QCOMPARE(showProperty.count(), 0);

        // Online: the settings dialog runs for that camera.
        QString shownId;
        client.selectDevice(QStringLiteral("on"));
        QVERIFY(runModal<QPropertyDial>([&] { client.propertyAction(); }, [&](QPropertyDial *d) {
            shownId = d->findChild<QLineEdit *>(QStringLiteral("idLineEdit"))->text();
        }));
        QCOMPARE(shownId, QStringLiteral("on"));
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(showProperty.count(), 1);
        QCOMPARE(showProperty.at(0).at(0).toString(), QStringLiteral("on"));

        // A real double click on the offline camera's row: nothing opens and
        // nothing is shown.
        QSignalSpy doubled(tree(client), &QTreeWid::MouseDoublePress);
        QTreeWidgetItem *item = itemOf(client, QStringLiteral("off"));
        QVERIFY(item);
        const QRect r = tree(client)->visualItemRect(item);
        const QByteArray before = logText();
        QTest::mouseDClick(tree(client)->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(doubled.count(), 1);
        QCOMPARE(tree(client)->currentItem(), item);
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(property.count(), 0);
        const QByteArray added = logText().mid(before.size());
        QVERIFY(added.contains("[CLIENT]Double clicked to start preview!!!"));
        QVERIFY(added.contains("[CLIENT]Double clicked to start preview finished!!!"));
        QVERIFY(!added.contains("Finded device"));
        closeClient(client, prompts);
    }

    void contextMenuOrderAndSelection()
    {
        QVERIFY(seedStore({camera("a", "Alpha", "", false), camera("b", "Beta", "", false)}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));

        // The request selects the camera under the pointer and asks for the menu.
        QObject::disconnect(&client, &Client::sendShowMenu, &client, &Client::recvShowMenu);
        QSignalSpy menu(&client, &Client::sendShowMenu);
        const QRect r = tree(client)->visualItemRect(itemOf(client, QStringLiteral("b")));
        emit tree(client)->customContextMenuRequested(r.center());
        QCOMPARE(menu.count(), 1);
        QCOMPARE(client.selectedDevice(), QStringLiteral("b"));
        // Below the last row there is no camera: nothing happens.
        emit tree(client)->customContextMenuRequested(QPoint(5, tree(client)->viewport()->height() - 2));
        QCOMPARE(menu.count(), 1);

        // The menu itself, in its order; closed without choosing.
        QStringList seen;
        QTimer::singleShot(100, [&seen] {
            auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!popup)
                return;
            for (QAction *a : popup->actions())
                seen << (a->isSeparator() ? QStringLiteral("-") : a->text());
            popup->close();
        });
        client.recvShowMenu(client.mapToGlobal(QPoint(300, 300)));
        QCOMPARE(seen, (QStringList{QStringLiteral("Connect"), QStringLiteral("Connect all"), QStringLiteral("-"),
                                    QStringLiteral("Delete"), QStringLiteral("-"), QStringLiteral("Settings")}));
        QCOMPARE(client.deviceList().size(), 2);
        closeClient(client, prompts);
    }

    void passwordPromptForP2pCameraWithoutPassword()
    {
        QVERIFY(seedStore({camera("VRNB-765432-KXPQT", "Porch", "", true)}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.recvDevListSlot({listed(camera("VRNB-765432-KXPQT", "Porch", "", true))});
        client.selectDevice(QStringLiteral("VRNB-765432-KXPQT"));

        // Cancelled prompt: nothing stored.
        client.connectAction();
        QCOMPARE(prompts.count(), 2);
        QCOMPARE(prompts.requests().at(0).text, QStringLiteral("Pls provide the camera password before visiting it"));
        QCOMPARE(prompts.requests().at(0).title, QStringLiteral("PC Client"));
        QCOMPARE(prompts.requests().at(1).kind, PromptKind::Password);
        QCOMPARE(prompts.requests().at(1).text, QStringLiteral("Porch"));
        QCOMPARE(QByteArray(client.deviceList()[0].dev.password), QByteArray());
        QVERIFY(logText().contains("Device(VRNB-765432-KXPQT) password is null!!!"));

        // Entered password: in the list and in the store at once.
        prompts.answer(QMessageBox::Ok);
        prompts.answer(QMessageBox::Ok, QStringLiteral("typed-secret"));
        client.connectAction();
        QCOMPARE(QByteArray(client.deviceList()[0].dev.password), QByteArray("typed-secret"));
        QCOMPARE(deciphered(readStore(true)[0]), QByteArray("typed-secret"));
        closeClient(client, prompts);
    }

    void pagesCountButtonsAndMute()
    {
        PromptScript prompts;
        Client client("127.0.0.1");
        // Mute (reaching the live streams is tst_clientlive's): the tooltip
        // names what the next press does.
        button(client, "btnMute")->click();
        QCOMPARE(button(client, "btnMute")->toolTip(), QStringLiteral("Mute All"));
        button(client, "btnMute")->click();
        QCOMPARE(button(client, "btnMute")->toolTip(), QStringLiteral("Unmute All"));

        // Count buttons: exactly one checked, also when the checked one is
        // pressed again.
        const char *counts[] = {"btnCount4", "btnCount8", "btnCount16", "btnCount25"};
        for (const char *pressed : {"btnCount16", "btnCount16", "btnCount8", "btnCount25", "btnCount4"}) {
            button(client, pressed)->click();
            for (const char *c : counts)
                QCOMPARE(button(client, c)->isChecked(), std::strcmp(c, pressed) == 0);
        }

        // Page buttons: pauses in their order, the tool row with the live page.
        QSignalSpy real(&client, &Client::SendVideoWinPauseToReal);
        QSignalSpy search(&client, &Client::SendVideoWinPauseToVsearch);
        auto *stack = client.findChild<QStackedWidget *>(QStringLiteral("stackPages"));
        button(client, "btnVideoSearch")->click();
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pagePlayback"));
        QVERIFY(client.findChild<QWidget *>(QStringLiteral("toolFrame"))->isHidden());
        QCOMPARE(real.takeFirst().at(0).toBool(), true);
        QCOMPARE(search.takeFirst().at(0).toBool(), false);
        QVERIFY(button(client, "btnVideoSearch")->isChecked());
        QVERIFY(!button(client, "btnRealVideo")->isChecked());
        button(client, "btnRealVideo")->click();
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageLive"));
        QVERIFY(!client.findChild<QWidget *>(QStringLiteral("toolFrame"))->isHidden());
        QCOMPARE(real.takeFirst().at(0).toBool(), false);
        QCOMPARE(search.takeFirst().at(0).toBool(), true);

        // Add device hands over the last discovery snapshot (none yet).
        QList<QPair<int, DeviceInfo_s *>> handed;
        connect(&client, &Client::sendSearchReslutToAdd, this,
                [&handed](int n, DeviceInfo_s *p) { handed.append({n, p}); });
        QVERIFY(runModal<QAddDevice>([&] { button(client, "btnAddDevice")->click(); }, [](QAddDevice *) {}));
        QCOMPARE(handed.size(), 1);
        QCOMPARE(handed[0].first, 0);
        QCOMPARE(handed[0].second, nullptr);

        QCOMPARE(prompts.count(), 0);
        closeClient(client, prompts);
    }

    void aboutDialogAndPtzPanel()
    {
        // Escape and other keys leave it open; Return, Enter and Close close it.
        QAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Escape);
        QTest::keyClick(&about, Qt::Key_A);
        QVERIFY(about.isVisible());
        QTest::keyClick(&about, Qt::Key_Return);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
        about.show();
        QTest::keyClick(&about, Qt::Key_Enter);
        QVERIFY(!about.isVisible());
        about.show();
        about.findChild<QPushButton *>(QStringLiteral("btnClose"))->click();
        QVERIFY(!about.isVisible());

        PromptScript prompts;
        Client client("127.0.0.1");
        client.show();
        // The pan/tilt panel exists but is never shown.
        auto *ptz = client.findChild<QPtzCtrol *>();
        QVERIFY(ptz);
        QVERIFY(!ptz->isVisible());
        closeClient(client, prompts);
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
        Client::setProbeIntervalMs(1000);
        COnvifSimulation sim;
        COnvifSimulation::CameraSetup a;
        a.uuid = "0a0a0a0a-0000-4000-8000-00000000000a";
        a.name = "Sim A";
        a.password = "cam-pass-a";
        COnvifSimulation::CameraSetup b;
        b.uuid = "0b0b0b0b-0000-4000-8000-00000000000b";
        b.name = "Sim B";
        QVERIFY(sim.start({a, b}));
        QVERIFY(pointAt(sim));
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
        DvrListInfo_s recA = recordOf(client.deviceList(), idA);
        QCOMPARE(QByteArray(recA.dev.ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(recA.dev.serviceAddr), QByteArray(sim.camera(0)->serviceAddr().c_str()));
        QVERIFY(recA.config.profileCount > 0);
        QVERIFY(QByteArray(recA.config.mainToken).size() > 0);
        QTRY_COMPARE(treeIcon(client, idA), resourceIcon("./images/dvr_green.png"));
        QCOMPARE(treeIcon(client, "ghost-0000"), resourceIcon("./images/dvr_gray.png"));
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<STATE_E>(), STATE_ONLINE);
        QCOMPARE(QByteArray(states.at(0).at(1).value<DvrListInfo_s>().dev.devId), idA);
        const QString online = QStringLiteral("Device:") + QString::fromLatin1(idA) + QStringLiteral(" Online");
        const QString offline = QStringLiteral("Device:") + QString::fromLatin1(idA) + QStringLiteral(" Offline");
        // Entries made on the probing thread are stored on the window's thread.
        QTRY_COMPARE(operations(true).count(online), 1);
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
        QCOMPARE(QByteArray(recordOf(client.deviceList(), idA).dev.ipAddr), QByteArray("127.0.0.8"));
        QTRY_COMPARE_WITH_TIMEOUT(QByteArray(recordOf(client.deviceList(), idA).dev.ipAddr), QByteArray("127.0.0.1"),
                                  15000);
        QCOMPARE(QByteArray(recordOf(client.deviceList(), idA).dev.serviceAddr),
                 QByteArray(sim.camera(0)->serviceAddr().c_str()));
        QCOMPARE(stateOf(client, idA), int(STATE_ONLINE));
        QCOMPARE(states.count(), 1);
        QCOMPARE(operations(true).count(online), 1);

        // Taken off the network: gray, announced once, not again.
        sim.setDiscoverable(0, false);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, idA), int(STATE_OFFLINE), 20000);
        QTRY_COMPARE(treeIcon(client, idA), resourceIcon("./images/dvr_gray.png"));
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(1).at(0).value<STATE_E>(), STATE_OFFLINE);
        DvrListInfo_s idOnly{};
        varno::setText(idOnly.dev.devId, idA);
        const DvrListInfo_s announced = states.at(1).at(1).value<DvrListInfo_s>();
        QCOMPARE(bytes(&announced, sizeof(announced)), bytes(&idOnly, sizeof(idOnly)));
        QTRY_COMPARE(operations(true).count(offline), 1);
        const int passes = client.probePasses();
        QTRY_VERIFY_WITH_TIMEOUT(client.probePasses() >= passes + 2, 30000);   // two more passes
        QCOMPARE(operations(true).count(offline), 1);
        QCOMPARE(states.count(), 2);

        // Back on the network: online again, one more entry.
        sim.setDiscoverable(0, true);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, idA), int(STATE_ONLINE), 20000);
        QTRY_COMPARE(operations(true).count(online), 2);

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

    void wrongPasswordIsShownAndFixedInSettings()
    {
        COnvifSimulation sim;
        COnvifSimulation::CameraSetup lobby;
        lobby.uuid = kLobby.toStdString();
        lobby.name = "Lobby";
        lobby.password = "right2024";
        QVERIFY(sim.start({lobby}));
        QVERIFY(pointAt(sim));
        const std::string service = sim.camera(0)->serviceAddr();
        QVERIFY(seedStore({camera(kLobby, "Lobby", "wrong2024", false, "127.0.0.1", QByteArray(service.c_str())),
                           camera("ghost-0001", "Ghost", "x", false)}));

        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("admin");
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));
        QSignalSpy states(&client, &Client::sendOnLineState);
        const QString id = QString::fromLatin1(kLobby);
        const QString refusedEntry = QStringLiteral("Device:") + id + QStringLiteral(" Wrong password");
        const QString onlineEntry = QStringLiteral("Device:") + id + QStringLiteral(" Online");
        const QString offlineEntry = QStringLiteral("Device:") + id + QStringLiteral(" Offline");

        // Answers, but not to the stored password: marked, told once, offline
        // for the pages.
        QTRY_VERIFY_WITH_TIMEOUT(client.refusesPassword(id), 30000);
        QCOMPARE(stateOf(client, kLobby), int(STATE_OFFLINE));
        QTRY_COMPARE(treeIcon(client, kLobby), resourceIcon("./images/dvr_lock.png"));
        QVERIFY(itemOf(client, id)->toolTip(0).contains(QStringLiteral("Wrong password")));
        QCOMPARE(treeIcon(client, "ghost-0001"), resourceIcon("./images/dvr_gray.png"));
        QTRY_COMPARE(operations(true).count(refusedEntry), 1);
        const int failures = sim.camera(0)->authFailures();
        QTRY_VERIFY_WITH_TIMEOUT(sim.camera(0)->authFailures() >= failures + 2, 20000);   // two more passes
        QCOMPARE(operations(true).count(refusedEntry), 1);
        QCOMPARE(operations(true).count(offlineEntry), 0);
        QCOMPARE(states.count(), 0);
        QVERIFY(logText().contains(QByteArray("Device(") + kLobby + ") refuses the stored password"));

        // A double-click says why nothing opens; the ghost's Settings stay
        // refused, the refusing camera's open.
        prompts.take();
        QTreeWid *view = tree(client);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(itemOf(client, id)).center());
        QCOMPARE(prompts.count(), 1);
        QVERIFY(prompts.requests().at(0).text.contains(QStringLiteral("refuses the stored password")));
        QVERIFY(prompts.requests().at(0).text.contains(QStringLiteral("Camera Editor")));
        client.selectDevice(QStringLiteral("ghost-0001"));
        prompts.take();
        client.propertyAction();
        QCOMPARE(promptTexts(prompts), QStringList{QStringLiteral("Device is offline !")});

        // Fixed in the Camera Editor: no page to change the camera's own
        // password (an ONVIF camera's web page does that), the hint says so.
        bool changePage = true;
        QString hint;
        prompts.take();
        QVERIFY(editPassword(client, kLobby, QStringLiteral("right2024"), &changePage, &hint));
        QVERIFY(!changePage);
        QVERIFY2(hint.contains(QStringLiteral("web page")) && !hint.startsWith(QStringLiteral("The new password")),
                 qPrintable(hint));
        QCOMPARE(promptTexts(prompts), QStringList{QStringLiteral("Modify successful !")});
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, kLobby), int(STATE_ONLINE), 20000);
        QVERIFY(!client.refusesPassword(id));
        QTRY_COMPARE(treeIcon(client, kLobby), resourceIcon("./images/dvr_green.png"));
        QCOMPARE(itemOf(client, id)->toolTip(0), id);
        QTRY_COMPARE(operations(true).count(onlineEntry), 1);

        // Online, while its live window reconnects: not the plain green.
        auto *live = client.findChild<realvideo *>();
        QVERIFY(live);
        emit live->sendLiveReconnecting(id, true);
        QCOMPARE(treeIcon(client, kLobby), resourceIcon("./images/dvr_amber.png"));
        QCOMPARE(itemOf(client, id)->toolTip(0), id + QStringLiteral("\nLive video reconnecting"));
        emit live->sendLiveReconnecting(id, false);
        QCOMPARE(treeIcon(client, kLobby), resourceIcon("./images/dvr_green.png"));
        QCOMPARE(itemOf(client, id)->toolTip(0), id);
        QCOMPARE(deciphered(readStore(true)[0]), QByteArray("right2024"));

        // A typo while it is online: marked again at the next pass, the pages
        // told it is gone.
        prompts.take();
        QVERIFY(editPassword(client, kLobby, QStringLiteral("right2O24")));
        QTRY_VERIFY_WITH_TIMEOUT(client.refusesPassword(id), 20000);
        QTRY_COMPARE(operations(true).count(refusedEntry), 2);
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(1).at(0).value<STATE_E>(), STATE_OFFLINE);
        QCOMPARE(QByteArray(states.at(1).at(1).value<DvrListInfo_s>().dev.devId), kLobby);

        // Refusing is not the same as not answering: off the network it turns
        // plain offline.
        sim.setDiscoverable(0, false);
        QTRY_VERIFY_WITH_TIMEOUT(!client.refusesPassword(id), 20000);
        QTRY_COMPARE(treeIcon(client, kLobby), resourceIcon("./images/dvr_gray.png"));
        QTRY_COMPARE(operations(true).count(offlineEntry), 1);
        QCOMPARE(stateOf(client, kLobby), int(STATE_OFFLINE));
        closeClient(client, prompts);
    }

    void filterCutAndPayloadCopies()
    {
        Client client("127.0.0.1");
        QueuedReceiver receiver(&client);
        QSignalSpy direct(&client, &Client::sendP2pMsg);
        const char *longId = "VRNB-765432-KXPQT-0123456789ABCDEFGHIJKL";   // 40 characters
        QCOMPARE(int(std::strlen(longId)), 40);
        const int32_t passed[] = {11, 14, 17, 35, 73, 87, 88, 126, 129, 130, 155};
        const int32_t dropped[] = {0, 10, 12, 16, 34, 125, 127, 200, -1};
        // Called the way the library calls it: on another thread, with a buffer
        // that is gone (overwritten here) once the callback returns.
        std::atomic<bool> nonZero{false};
        std::thread library([&] {
            for (int32_t type : dropped) {
                char payload[8] = "dropped";
                Client::p2pMessageCallback(type, payload, 8, longId, &client);
            }
            for (int32_t type : passed) {
                char payload[16];
                std::snprintf(payload, sizeof(payload), "type-%d", type);
                if (Client::p2pMessageCallback(type, payload, int32_t(std::strlen(payload)), longId, &client) != 0)
                    nonZero = true;
                std::memset(payload, 'X', sizeof(payload));
            }
            Client::p2pMessageCallback(11, nullptr, 0, "VRNB-765432-KXPQT", &client);
            Client::p2pMessageCallback(11, "abc", -5, "VRNB-765432-KXPQT", &client);
        });
        library.join();
        QVERIFY(!nonZero.load());
        QCOMPARE(direct.count(), int(std::size(passed)) + 2);
        QTRY_COMPARE(int(receiver.got.size()), int(std::size(passed)) + 2);
        for (int32_t type : passed) {
            QCOMPARE(receiver.count(type), type == 11 ? 3 : 1);
            const Received r = receiver.first(type);
            QCOMPARE(r.devId, QByteArray(longId).left(31));
            QCOMPARE(r.payload, QByteArray("type-") + QByteArray::number(type));
        }
        const P2pMessage_S first = direct.at(0).at(0).value<P2pMessage_S>();
        QCOMPARE(first.devId[31], '\0');
        QCOMPARE(int(::strnlen(first.devId, sizeof(first.devId))), 31);
        // Empty and negative lengths arrive as empty payloads.
        const P2pMessage_S empty = direct.at(int(std::size(passed))).at(0).value<P2pMessage_S>();
        QCOMPARE(empty.payloadLen, 0);
        const P2pMessage_S negative = direct.at(int(std::size(passed)) + 1).at(0).value<P2pMessage_S>();
        QCOMPARE(negative.payloadLen, 0);
        // A user value of null (no Client) is ignored.
        QCOMPARE(Client::p2pMessageCallback(11, "x", 1, "VRNB-765432-KXPQT", nullptr), 0);
        QCOMPARE(Client::p2pStatusCallback(1, 0, 0, 0), 0);
    }

    void payloadLivesThroughNestedLoop()
    {
        // The first message's receiver runs a nested event loop (as a message
        // box does) while 200 more messages are delivered and their payloads
        // released; its own payload must still be what the camera sent.
        Client client("127.0.0.1");
        const QByteArray firstPayload = QByteArray("first-payload-").repeated(8);
        QByteArray seenAfterLoop;
        int delivered = 0;
        bool nested = false;
        connect(&client, &Client::sendP2pMsg, &client, [&](P2pMessage_S m) {
            ++delivered;
            if (nested || m.type != 17)
                return;
            nested = true;
            std::thread library([&] {
                for (int i = 0; i < 200; ++i) {
                    const QByteArray other = QByteArray("other-").repeated(19) + QByteArray::number(i);
                    Client::p2pMessageCallback(11, other.constData(), int32_t(other.size()), "B765432", &client);
                }
            });
            library.join();
            // A nested event loop delivers them all.
            QTRY_COMPARE_WITH_TIMEOUT(delivered, 201, 30000);
            // Memory of the same size handed out again meanwhile.
            std::vector<QByteArray> churn;
            for (int i = 0; i < 400; ++i)
                churn.push_back(QByteArray(firstPayload.size(), char('a' + i % 26)));
            seenAfterLoop = QByteArray(m.payload, m.payloadLen);
        }, Qt::QueuedConnection);
        std::thread library([&] {
            Client::p2pMessageCallback(17, firstPayload.constData(), int32_t(firstPayload.size()), "B765432", &client);
        });
        library.join();
        QTRY_VERIFY_WITH_TIMEOUT(!seenAfterLoop.isNull(), 60000);
        QCOMPARE(delivered, 201);
        QCOMPARE(seenAfterLoop, firstPayload);
    }

    // The playback page is deleted before the P2P library is released: camera
    // messages reach it queued, never on the library's thread.
    void playbackPageTakesMessagesQueued()
    {
        Client client("127.0.0.1");
        struct CallCounter : QObject
        {
            std::atomic<int> calls{0};
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::MetaCall)
                    ++calls;
                return false;
            }
        } counter;
        client.playbackView()->installEventFilter(&counter);
        const int sent = 5;
        std::thread library([&] {
            for (int i = 0; i < sent; ++i) {
                const int32_t seconds = 60 + i;
                Client::p2pMessageCallback(P2P_MSG_PLAY_LENGTH, reinterpret_cast<const char *>(&seconds),
                                           int32_t(sizeof(seconds)), "VRNB-765432-KXPQT", &client);
            }
        });
        library.join();
        QTRY_COMPARE(counter.calls.load(), sent);
        client.playbackView()->removeEventFilter(&counter);
    }

    void relayDownRetriesUntilStopped()
    {
        // The relay is away: registration is retried, the failure is logged
        // once (by the window and by the library), not at every attempt; once
        // the relay is back the recovery is logged.
        MqttBroker broker;
        QVERIFY(broker.start());
        QVERIFY(broker.writeClientConfig());
        broker.kill();
        const QByteArray failed = "P2P_Client_SDK_Register failed, ret(-203)!!!";
        const QByteArray unreachable = QStringLiteral("Relay 127.0.0.1:%1 not reachable").arg(broker.port()).toUtf8();
        const int before = int(logText().count(failed));
        const int beforeLib = int(logText().count(unreachable));
        const QByteArray recovered = "P2P_Client_SDK_Register succeeded after ";
        const int beforeRecovered = int(logText().count(recovered));
        Client::setP2pRetryIntervalMs(20);
        {
            Client client("127.0.0.1");
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(client.p2pRegisterAttempts() >= 6, 30000);
            QVERIFY(Client::p2pHandle() != 0);   // initialised, not registered
            QCOMPARE(int(logText().count(failed)), before + 1);
            QCOMPARE(int(logText().count(unreachable)), beforeLib + 1);
            QVERIFY(broker.start());
            QTRY_VERIFY_WITH_TIMEOUT(int(logText().count(recovered)) > beforeRecovered, 30000);
            QCOMPARE(int(logText().count(failed)), before + 1);
        }
        QCOMPARE(Client::p2pHandle(), P2P_HANDLE(0));

        // A window closed while the registration waits for its next attempt:
        // the stop flag ends the wait (with an hour between attempts, a wait
        // that ran out would stall the test until it is killed).
        broker.kill();
        Client::setP2pRetryIntervalMs(3600 * 1000);
        {
            Client client("127.0.0.1");
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(client.p2pRegisterAttempts() >= 1, 30000);
        }   // the destructor sets the stop flag and joins the thread
        QCOMPARE(Client::p2pHandle(), P2P_HANDLE(0));
        Client::setP2pRetryIntervalMs(5000);
    }
};

QTEST_MAIN(TestClient)
#include "tst_client.moc"
