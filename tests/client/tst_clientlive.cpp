// The main window with its live page, end to end against a private broker
// and the camera simulator (P2P cameras and an ONVIF camera): a double click
// opens a camera's live stream (once), a failing one is reported, a camera
// on screen cannot be deleted, the count, paging, mute, full-screen and page
// buttons reach the live page, camera messages and online changes reach its
// streams, a stream switch is stored, and closing the window ends every
// stream.
#include "client/client.h"
#include "client/qtreewid.h"
#include "tests/client/camerarig.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/p2phandle.h"
#include "common/ui/promptscript.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "platform/userstore/user_local.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

const QByteArray kLobby = "5a5a5a5a-0000-4000-8000-0000000000b1";

void doubleClick(Client &c, const QString &id)
{
    QTreeWidgetItem *item = itemOf(c, id);
    QVERIFY(item);
    QTest::mouseDClick(tree(c)->viewport(), Qt::LeftButton, {}, tree(c)->visualItemRect(item).center());
}

} // namespace

class TestClientLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString error = m_rig.start({{QString::fromLatin1(kLobby), QStringLiteral("Lobby")}});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
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

            const qsizetype before = logText().count("P2P_Client_SDK_Register success !!!");
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(logText().count("P2P_Client_SDK_Register success !!!") > before, 15000);
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
            bool stored = false;
            for (const DvrListInfo_s &d : client.deviceList())
                if (QByteArray(d.dev.devId) == "B765432")
                    stored = d.dev.streamType == 1;
            QVERIFY(stored);
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
        QVERIFY(logText().contains("[PREVIEW]Stop run thread!!!"));
    }

private:
    CameraRig m_rig;
};

QTEST_MAIN(TestClientLive)
#include "tst_clientlive.moc"
