// The main window with its dialogs and its live page, end to end against a
// private broker and the camera simulator (the P2P cameras Gate and Yard, the
// ONVIF cameras Lobby and Stairs):
// - discovery into the add dialog, adding from discovery and by camera ID,
//   the settings dialog's rename, removal, the configuration window, the
//   camera password prompt, and the store the window leaves behind (the
//   dialogs' own rules are their own programs', tests/device, tests/config);
// - "connect all on start" (the wall display and the demo): every camera the
//   probing finds online opens on the live page on its own, a camera that
//   never answers does not hold the others back for more than three passes,
//   and nothing opens twice;
// - the live page: a double click opens a camera's live stream (once), a
//   failing one is reported, a camera on screen cannot be deleted, the count,
//   paging, mute, full-screen and page buttons reach the live page, camera
//   messages and online changes reach its streams, a stream switch is
//   stored, and closing the window ends every stream;
// - a camera's password changed in "Settings" while its live view runs:
//   every copy of the password takes the new one (registry, store, live page,
//   alarm log), and after the camera restarts the view comes back by itself
//   without asking. Last: the camera keeps the new password.
#include "alarm/qalarmsearch.h"
#include "client/client.h"
#include "client/qtreewid.h"
#include "tests/client/camerarig.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/p2phandle.h"
#include "common/ui/promptscript.h"
#include "config/qconfigmgr.h"
#include "device/qadddevice.h"
#include "device/qmanualdial.h"
#include "device/qpasswd.h"
#include "device/qpasswdfrm.h"
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "platform/userstore/user_local.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

#include <cstring>
#include <vector>

using namespace clienttest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

const QByteArray kLobby = "5a5a5a5a-0000-4000-8000-0000000000a1";
const QByteArray kStairs = "5a5a5a5a-0000-4000-8000-0000000000a2";

QLineEdit *edit(QWidget *w, const char *name)
{
    return w->findChild<QLineEdit *>(QString::fromLatin1(name));
}

QString treeText(Client &c, const QString &id)
{
    QTreeWidgetItem *item = itemOf(c, id);
    return item ? item->text(0) : QString();
}

} // namespace

class TestClientLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Client::setProbeIntervalMs(1000);
        const QString error = m_rig.start({{QString::fromLatin1(kLobby), QStringLiteral("Lobby")},
                                           {QString::fromLatin1(kStairs), QStringLiteral("Stairs")}});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void init()
    {
        QVERIFY(seedStore({}));
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void addFromDiscoveryAndByCameraId()
    {
        QVERIFY(seedStore({camera(kStairs, "Stairs", "583", false, "127.0.0.1", m_rig.onvifServices[1].toUtf8()),
                           p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123")}));
        PromptScript prompts;
        QList<DvrListInfo_s> inMemory;
        {
            Client client("127.0.0.1");
            client.userLogin("operator");
            registerP2p(client);
            // The dialogs reach the cameras through the process-wide handle.
            QCOMPARE(varno::p2pHandle(), Client::p2pHandle());
            QSignalSpy devLists(client.addDeviceDialog(), &QAddDevice::sendDevList);

            // Both ONVIF cameras are found; the one listed already gets no row.
            // The manual dialog's own rules (the ID, a wrong password, the
            // camera's second reply) are tst_qmanualdial's.
            QTRY_COMPARE_WITH_TIMEOUT(client.searchSnapshot().size(), 2, 30000);
            QStringList rowIds;
            QString rowService;
            QVERIFY(runModal<QAddDevice>([&] { button(&client, "btnAddDevice")->click(); }, [&](QAddDevice *d) {
                auto *table = d->findChild<QTableWidget *>(QStringLiteral("devTableWidget"));
                for (int r = 0; r < table->rowCount(); ++r)
                    rowIds << table->item(r, 1)->text();
                if (table->rowCount() != 1)
                    return;
                rowService = table->item(0, 3)->text();
                table->item(0, 0)->setCheckState(Qt::Checked);
                button(d, "addButton")->click();
                QTRY_VERIFY_WITH_TIMEOUT(!d->isBusy(), 20000);

                // By camera ID, through the manual dialog the add dialog owns.
                button(d, "manualButton")->click();
                QManualDial *manual = d->manualDialog();
                QVERIFY(manual->isVisible());
                edit(manual, "idLineEdit")->setText(QStringLiteral("c100200"));
                edit(manual, "nameLineEdit")->setText(QStringLiteral("Yard"));
                edit(manual, "passwdLineEdit")->setText(QStringLiteral("pw9999"));
                button(manual, "addButton")->click();
                QTRY_VERIFY_WITH_TIMEOUT(
                    promptTexts(prompts).contains(QStringLiteral("Manually add device(Yard) successfully!")), 10000);
                QTRY_VERIFY_WITH_TIMEOUT(!d->isBusy() && d->setup()->jobsInFlight() == 0, 20000);
                manual->close();
            }));
            QCOMPARE(rowIds, QStringList{QString::fromLatin1(kLobby)});
            QCOMPARE(rowService, m_rig.onvifServices[0]);
            QCOMPARE(promptTexts(prompts), (QStringList{QStringLiteral("Add device completed"),
                                                        QStringLiteral("Manually add device(Yard) successfully!")}));
            QCOMPARE(devLists.count(), 2);

            // The window's registry took both cameras, shown online.
            const QList<DvrListInfo_s> list = client.deviceList();
            QCOMPARE(list.size(), 4);
            QCOMPARE(QByteArray(list[2].dev.devId), kLobby);
            // Named as the camera calls itself in its discovery answer.
            QCOMPARE(QByteArray(list[2].dev.devName), QByteArray("Lobby"));
            QCOMPARE(QByteArray(list[2].dev.password), QByteArray("583"));
            QCOMPARE(int(list[2].dev.p2pFlag), 0);
            QVERIFY(list[2].config.profileCount > 0);
            QCOMPARE(QByteArray(list[3].dev.devId), QByteArray("C100200"));
            QCOMPARE(QByteArray(list[3].dev.devName), QByteArray("Yard"));
            QCOMPARE(QByteArray(list[3].dev.password), QByteArray("pw9999"));
            QCOMPARE(QByteArray(list[3].dev.p2pId), QByteArray("VRNC-100200-ABCDE"));
            QCOMPARE(int(list[3].dev.p2pFlag), 1);
            QCOMPARE(stateOf(client, kLobby), int(STATE_ONLINE));
            QCOMPARE(stateOf(client, "C100200"), int(STATE_ONLINE));
            QCOMPARE(treeText(client, QStringLiteral("C100200")), QStringLiteral("Yard"));
            // The settings dialog knows them too.
            QVERIFY(holds(client.propertyDialog()->devList(), kLobby));
            QVERIFY(holds(client.propertyDialog()->devList(), "C100200"));

            // One entry per camera added, made by the logged-in operator.
            QStringList added;
            for (const LogInfo_s &e : operationEntries(true))
                if (QByteArray(e.content).startsWith("Add device:"))
                    added << QString::fromLatin1(e.user) + QLatin1Char(' ') + QString::fromLatin1(e.content);
            QCOMPARE(added, (QStringList{QStringLiteral("operator Add device:") + QString::fromLatin1(kLobby),
                                         QStringLiteral("operator Add device:C100200")}));

            // The camera already listed is still refused a row on the next visit,
            // and so is the one just added.
            int rowsAgain = -1;
            QVERIFY(runModal<QAddDevice>([&] { button(&client, "btnAddDevice")->click(); }, [&](QAddDevice *d) {
                rowsAgain = d->findChild<QTableWidget *>(QStringLiteral("devTableWidget"))->rowCount();
            }));
            QCOMPARE(rowsAgain, 0);

            inMemory = client.deviceList();
            closeClient(client, prompts);
        }
        // The store holds exactly the list the window had, passwords enciphered.
        const QString differs = storeDiffers(readStore(), inMemory);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
    }

    // The camera's own password changed in Settings is
    // changedPasswordKeepsTheLiveViewAcrossARestart's (refused:
    // tst_qpropertydial); a camera leaving and coming back is tst_client's and
    // livePageThroughTheWindow's; Settings of an offline camera is
    // tst_client's.
    void settingsAndRemoval()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123")}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("operator");
        registerP2p(client);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 30000);
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));

        // "Settings": the rename reaches the tree at once, and the store.
        client.selectDevice(QStringLiteral("B765432"));
        QString treeAfterRename;
        QVERIFY(runModal<QPropertyDial>([&] { client.propertyAction(); }, [&](QPropertyDial *d) {
            QWidget *rename = d->renamePage();
            edit(rename, "nameLineEdit")->setText(QStringLiteral("Front gate"));
            button(rename, "confirmButton")->click();
            treeAfterRename = treeText(client, QStringLiteral("B765432"));
        }));
        QCOMPARE(treeAfterRename, QStringLiteral("Front gate"));
        // Written off the window's thread.
        QTRY_VERIFY(storeSettled(client));
        QCOMPARE(QByteArray(readStore(true).at(0).devName), QByteArray("Front gate"));
        QCOMPARE(QByteArray(recordOf(client.deviceList(), "B765432").dev.devName), QByteArray("Front gate"));
        // The add dialog follows the new name.
        QCOMPARE(QByteArray(recordOf(client.addDeviceDialog()->devList(), "B765432").dev.devName),
                 QByteArray("Front gate"));
        QCOMPARE(operations(true).count(QStringLiteral("Rename:B765432")), 1);

        // Removal: gone from the window, the dialogs' lists and the tree; the
        // operator's entry is the last one.
        prompts.answer(QMessageBox::Yes);
        client.deleteDevAction();
        QVERIFY(client.deviceList().isEmpty());
        QVERIFY(client.treeEntries().isEmpty());
        QVERIFY(!holds(client.addDeviceDialog()->devList(), "B765432"));
        QVERIFY(!holds(client.addDeviceDialog()->manualDialog()->devList(), "B765432"));
        QVERIFY(!holds(client.propertyDialog()->devList(), "B765432"));
        const std::vector<LogInfo_s> after = operationEntries(true);
        QVERIFY(!after.empty());
        QCOMPARE(QByteArray(after.back().content), QByteArray("Remove device:B765432"));
        QCOMPARE(QByteArray(after.back().user), QByteArray("operator"));
        closeClient(client, prompts);
    }

    void configWindowPages()
    {
        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("admin");
        QString shownUser;
        QStringList topRows;
        QVERIFY(runModal<QConfigMgr>([&] { button(&client, "btnConfigManage")->click(); }, [&](QConfigMgr *w) {
            shownUser = edit(w, "usrnameLineEdit")->text();
            // The log page: newest on top, and an entry made while it shows
            // lands above the others.
            button(w, "logButton")->click();
            auto *table = w->findChild<QTableWidget *>(QStringLiteral("logTable"));
            topRows << table->item(0, 2)->text();
            LogInfo_s entry;
            std::memset(&entry, 0, sizeof(entry));
            varno::setText(entry.time, "2026-01-02 03:04:05");
            varno::setText(entry.user, "admin");
            varno::setText(entry.content, "Add device:X000001");
            emit client.sendLogInfo(entry);
            topRows << table->item(0, 2)->text() << table->item(1, 2)->text() << table->item(0, 1)->text();
        }));
        // The user page's password rules and the log page's own order are
        // tst_qconfigmgr's: here the window's user and log entries reach it.
        QCOMPARE(shownUser, QStringLiteral("admin"));
        QCOMPARE(topRows, (QStringList{QStringLiteral("User login"), QStringLiteral("Add device:X000001"),
                                       QStringLiteral("User login"), QStringLiteral("admin")}));
        QCOMPARE(operations(true).back(), QStringLiteral("Add device:X000001"));
        closeClient(client, prompts);
    }

    void cameraPasswordPromptIsTheDialog()
    {
        Client client("127.0.0.1");
        // The window made the password dialog the camera password prompt.
        varno::ui::PromptAnswer answer;
        QString shownName;
        QVERIFY(runModal<QPasswd>(
            [&] {
                varno::ui::PromptRequest request;
                request.kind = PromptKind::Password;
                request.title = QStringLiteral("PC Client");
                request.text = QStringLiteral("Gate");
                request.parent = &client;
                answer = varno::ui::prompt(request);
            },
            [&](QPasswd *d) {
                shownName = edit(d, "nameLineEdit")->text();
                edit(d, "passwdLineEdit")->setText(QStringLiteral("typed42"));
                button(d, "confirmButton")->click();
            }));
        QCOMPARE(shownName, QStringLiteral("Gate"));
        QCOMPARE(answer.button, QMessageBox::Ok);
        QCOMPARE(answer.text, QStringLiteral("typed42"));
        PromptScript prompts;
        closeClient(client, prompts);
    }

    void everyOnlineCameraOpensOnce()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123"),
                           p2pCamera("C100200", "VRNC-100200-ABCDE", "Yard", "pw9999")}));
        PromptScript prompts;
        const qsizetype before = logText().count("[CLIENT]Request connect all devices!!!");
        {
            Client client("127.0.0.1");
            client.userLogin("operator");
            // Registered first: with short probing intervals three passes may
            // otherwise end before the relay knows the window.
            registerP2p(client);
            client.connectAllOnStart();
            client.connectAllOnStart();   // asked twice: still one connect-all
            client.show();
            realvideo *live = client.liveView();
            QVERIFY(live);

            QTRY_VERIFY_WITH_TIMEOUT(live->streamKeys().size() == 2, 30000);
            QCOMPARE(stateOf(client, "B765432"), int(STATE_ONLINE));
            QCOMPARE(stateOf(client, "C100200"), int(STATE_ONLINE));
            QCOMPARE(usedWindows(live), 2);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("B765432")).presentedPictures > 0, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("C100200")).presentedPictures > 0, 15000);

            // Later passes do not connect again.
            const int passes = client.probePasses();
            QTRY_VERIFY_WITH_TIMEOUT(client.probePasses() >= passes + 2, 30000);
            QCOMPARE(logText().count("[CLIENT]Request connect all devices!!!"), before + 1);
            QCOMPARE(usedWindows(live), 2);
            closeClient(client, prompts);
        }
    }

    void aSilentCameraHoldsTheOthersBackAtMostThreePasses()
    {
        // D000001 is nowhere: it never comes online.
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123"),
                           p2pCamera("D000001", "VRND-000001-ZZZZZ", "Nowhere", "secret")}));
        PromptScript prompts;
        const qsizetype before = logText().count("[CLIENT]Request connect all devices!!!");
        {
            Client client("127.0.0.1");
            client.userLogin("operator");
            registerP2p(client);
            client.connectAllOnStart();
            client.show();
            realvideo *live = client.liveView();
            QVERIFY(live);

            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 20000);
            QTRY_VERIFY_WITH_TIMEOUT(logText().count("[CLIENT]Request connect all devices!!!") > before, 30000);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamKeys().contains(QStringLiteral("B765432")), 5000);
            QVERIFY(!live->streamKeys().contains(QStringLiteral("D000001")));
            QCOMPARE(usedWindows(live), 1);
            closeClient(client, prompts);
        }
    }

    void withoutTheRequestNothingOpens()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123")}));
        PromptScript prompts;
        {
            Client client("127.0.0.1");
            client.userLogin("operator");
            client.startP2PRegistration();
            client.show();
            realvideo *live = client.liveView();
            QVERIFY(live);
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 20000);
            const int passes = client.probePasses();
            QTRY_VERIFY_WITH_TIMEOUT(client.probePasses() >= passes + 2, 30000);   // more passes
            QVERIFY(live->streamKeys().isEmpty());
            QCOMPARE(usedWindows(live), 0);
            closeClient(client, prompts);
        }
    }

    void livePageThroughTheWindow()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123"),
                           p2pCamera("C100200", "VRNC-100200-ABCDE", "Yard", "pw9999"),
                           camera(kLobby, "Lobby", "583", false, "127.0.0.1", m_rig.onvifServices[0].toUtf8())}));
        PromptScript prompts;
        {
            Client client("127.0.0.1");
            QVERIFY(clienttest::showClient(client));
            realvideo *live = client.liveView();
            QVERIFY(live);
            QVERIFY(live->isVisible());
            QVERIFY(live->monitorRunning());
            // Sound starts off, as the mute button says.
            QVERIFY(live->isMuted());

            registerP2p(client);
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, kLobby), int(STATE_ONLINE), 20000);
            // The probe fetched the ONVIF camera's configuration: the live page
            // subscribed to its events.
            QTRY_VERIFY_WITH_TIMEOUT(live->subscriptions().contains(QString::fromLatin1(kLobby)), 10000);

            // A double click opens the P2P camera; a second one only selects it.
            doubleClick(client, QStringLiteral("B765432"));
            QVERIFY(live->streamKeys().contains(QStringLiteral("B765432")));
            QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Preview device(B765432) success!!!"), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("B765432")).presentedPictures > 0, 15000);
            doubleClick(client, QStringLiteral("B765432"));
            QCOMPARE(usedWindows(live), 1);

            // The ONVIF camera opens over RTSP with the address its
            // configuration gives.
            doubleClick(client, QString::fromLatin1(kLobby));
            QVERIFY(live->streamKeys().contains(QString::fromLatin1(kLobby)));
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QString::fromLatin1(kLobby)).presentedPictures > 0, 15000);
            QCOMPARE(usedWindows(live), 2);

            // A camera that offers no stream: reported, no window.
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "C100200"), int(STATE_ONLINE), 20000);
            m_rig.sim.command(QStringLiteral("C100200 descr-count 0"));
            // The window waits for the open and goes back to the grid with it.
            doubleClick(client, QStringLiteral("C100200"));
            QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Preview device(C100200) failed, ret(-1)!!!"), 15000);
            QCOMPARE(prompts.requests().last().title, QStringLiteral("PC Client"));
            QCOMPARE(prompts.requests().last().text, QStringLiteral("Preview (Yard) failed !"));
            QTRY_COMPARE(usedWindows(live), 2);
            m_rig.sim.command(QStringLiteral("C100200 descr-count 2"));

            // A camera on screen is not deleted.
            prompts.take();
            client.selectDevice(QStringLiteral("B765432"));
            client.deleteDevAction();
            QTRY_COMPARE(prompts.count(), 1);
            QCOMPARE(prompts.requests().at(0).title, QStringLiteral("Device Management"));
            QCOMPARE(prompts.requests().at(0).text,
                     QStringLiteral("The current device is under previewing or recording playing back. "
                                    "Pls stop that before removing it."));
            QCOMPARE(client.deviceList().size(), 3);

            // Mute button: the selected window (opened last) plays, then none.
            button(client, "btnMute")->click();
            QVERIFY(!live->isMuted());
            QVERIFY(live->streamStats(QString::fromLatin1(kLobby)).soundOn);
            QVERIFY(!live->streamStats(QStringLiteral("B765432")).soundOn);
            button(client, "btnMute")->click();
            QVERIFY(!live->streamStats(QString::fromLatin1(kLobby)).soundOn);

            // Count and paging buttons.
            button(client, "btnCount25")->click();
            QCOMPARE(live->videoOnly()->count(), 25);
            button(client, "btnCount4")->click();
            QCOMPARE(live->videoOnly()->count(), 4);
            button(client, "btnPageNext")->click();
            QCOMPARE(live->videoOnly()->first(), 4);
            button(client, "btnPagePrev")->click();
            QCOMPARE(live->videoOnly()->first(), 0);

            // Full screen with its fading tip; Escape returns.
            QTest::mouseClick(button(client, "btnFullScreen"), Qt::LeftButton);
            QVERIFY(client.isFullScreenOn());
            QVERIFY(live->tipLabel()->isVisible());
            QVERIFY(!live->showTableButton()->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!live->tipLabel()->isVisible(), 6000);
            QTest::keyClick(client.findChild<QStackedWidget *>(QStringLiteral("stackPages")), Qt::Key_Escape);
            QVERIFY(!client.isFullScreenOn());
            QVERIFY(live->showTableButton()->isVisible());

            // The playback page pauses the live streams' sound.
            button(client, "btnVideoSearch")->click();
            QVERIFY(live->streamStats(QStringLiteral("B765432")).paused);
            button(client, "btnRealVideo")->click();
            QVERIFY(!live->streamStats(QStringLiteral("B765432")).paused);

            // A camera's interruption notice reaches its stream.
            m_rig.sim.command(QStringLiteral("B765432 notice 87 0"));
            LiveStreamInfo rec{};
            QTRY_VERIFY_WITH_TIMEOUT(live->streamInfo(QStringLiteral("B765432"), &rec) && rec.reopenOnStall == 1, 10000);

            // Switching to SD is stored with the camera.
            live->RecvChangeStream(QStringLiteral("B765432"), 1);
            QCOMPARE(int(recordOf(client.deviceList(), "B765432").dev.streamType), 1);
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("B765432")).pictureWidth == 64, 10000);

            // The camera leaves: its stream may not be reopened until it is back.
            m_rig.sim.command(QStringLiteral("B765432 offline"));
            QTRY_VERIFY_WITH_TIMEOUT(live->streamInfo(QStringLiteral("B765432"), &rec) && rec.reconnectAllowed == 0,
                                     20000);
            m_rig.sim.command(QStringLiteral("B765432 online"));
            QTRY_VERIFY_WITH_TIMEOUT(live->streamInfo(QStringLiteral("B765432"), &rec) && rec.reconnectAllowed == 1,
                                     20000);

            // Connect all: the camera not on screen opens, the others are
            // selected.
            client.connectAllAction();
            QCOMPARE(usedWindows(live), 3);
            QVERIFY(live->streamKeys().contains(QStringLiteral("C100200")));

            prompts.answer(QMessageBox::Yes);
            button(client, "btnWinClose")->click();
            QVERIFY(client.stopRequested());
        }
        // The window is gone: no camera streams to it any more.
        for (const char *cam : {"B765432", "C100200"})
            QTRY_VERIFY_WITH_TIMEOUT(
                m_rig.sim.command(QStringLiteral("%1 stats").arg(QLatin1String(cam))).contains(QStringLiteral("streams=0")),
                5000);
    }

    void changedPasswordKeepsTheLiveViewAcrossARestart()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123")}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("operator");
        client.resize(1024, 700);
        client.show();
        QVERIFY(QTest::qWaitForWindowExposed(&client));
        QSignalSpy updated(&client, &Client::sendDevUpdated);
        registerP2p(client);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 20000);

        realvideo *live = client.liveView();
        QVERIFY(live->StartStream(recordOf(client.deviceList(), "B765432").dev, false) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("B765432")).presentedPictures > 0, 15000);

        client.selectDevice(QStringLiteral("B765432"));
        QVERIFY(runModal<QPropertyDial>([&] { client.propertyAction(); }, [&](QPropertyDial *d) {
            button(d, "passwdButton")->click();
            QWidget *page = d->passwdPage();
            page->findChild<QLineEdit *>(QStringLiteral("oldpassLineEdit"))->setText(QStringLiteral("abc123"));
            page->findChild<QLineEdit *>(QStringLiteral("newpassLineEdit"))->setText(QStringLiteral("Newer4567"));
            page->findChild<QLineEdit *>(QStringLiteral("confirmpassLineEdit"))->setText(QStringLiteral("Newer4567"));
            button(page, "changeButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(promptTexts(prompts).contains(QStringLiteral("Modify successful !")), 10000);
        }));
        QVERIFY(m_rig.sim.command(QStringLiteral("B765432 password")).contains(QStringLiteral("Newer4567")));

        // Every copy holds the new password.
        QCOMPARE(QByteArray(recordOf(client.deviceList(), "B765432").dev.password), QByteArray("Newer4567"));
        QCOMPARE(deciphered(readStore(true)[0]), QByteArray("Newer4567"));
        LiveStreamInfo rec{};
        QVERIFY(live->streamInfo(QStringLiteral("B765432"), &rec));
        QCOMPARE(QByteArray(rec.password), QByteArray("Newer4567"));
        AlarmDevInfo alarmEntry;
        QVERIFY(client.alarmDialog()->deviceEntry(QStringLiteral("B765432"), &alarmEntry));
        QCOMPARE(QByteArray(alarmEntry.password), QByteArray("Newer4567"));
        QVERIFY(!updated.isEmpty());
        QCOMPARE(QByteArray(updated.last().at(0).value<DvrListInfo_s>().dev.password), QByteArray("Newer4567"));

        // The camera restarts with the new password: the library brings the
        // session and the stream back, and nobody is asked for a password.
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 offline")), QStringLiteral("OK offline"));
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.sim.command(QStringLiteral("B765432 stats")).contains(QStringLiteral("sessions=0")),
                                 10000);
        const qint64 before = live->streamStats(QStringLiteral("B765432")).presentedPictures;
        QCOMPARE(m_rig.sim.command(QStringLiteral("B765432 online")), QStringLiteral("OK online"));
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.sim.command(QStringLiteral("B765432 stats")).contains(QStringLiteral("streams=1")),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(QStringLiteral("B765432")).presentedPictures > before + 10, 20000);
        QVERIFY(!promptTexts(prompts).contains(QStringLiteral("Password is error, please enter again!")));
        QVERIFY(!logText().contains("Password error, device(B765432)!!!"));

        closeClient(client, prompts);
    }

private:
    CameraRig m_rig;
};

QTEST_MAIN(TestClientLive)
#include "tst_clientlive.moc"
