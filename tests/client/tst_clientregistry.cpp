// The main window's camera registry, device tree, buttons and dialogs.
#include "client/client.h"
#include "client/qaboutdlg.h"
#include "client/qptzctrol.h"
#include "client/qtreewid.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "device/qadddevice.h"
#include "device/qpropertydial.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

QStringList treeTexts(Client &c)
{
    QStringList out;
    QTreeWidgetItem *root = tree(c)->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i)
        out << root->child(i)->text(0);
    return out;
}

} // namespace

class TestClientRegistry : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(quietDiscovery());
        QVERIFY(seedStore({}));
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
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

        // A camera the live page reports in use is not removed.
        client.selectDevice(QStringLiteral("one"));
        client.recvDevStateReslut(true);
        QCOMPARE(prompts.count(), 1);
        QCOMPARE(prompts.requests().at(0).title, QStringLiteral("Device Management"));
        QCOMPARE(prompts.requests().at(0).text,
                 QStringLiteral("The current device is under previewing or recording playing back. "
                                "Pls stop that before removing it."));
        QCOMPARE(client.deviceList().size(), 2);

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
};

QTEST_MAIN(TestClientRegistry)
#include "tst_clientregistry.moc"
