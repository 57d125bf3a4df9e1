// An ONVIF camera that refuses the stored password, through the main window
// and its dialogs against a simulated camera on loopback: shown as such, told
// once, fixed in Settings, and told apart from a camera that does not answer.
// Adding a camera that asks for its own password is tst_qadddevice's; the
// added camera reaching the window, tst_clientdialogs'.
#include "client/client.h"
#include "live/realvideo.h"
#include "client/qtreewid.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "resources/resourcepath.h"
#include "tools/camsim/onvifsimulation.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

const QByteArray kLobby = "4c4c4c4c-0000-4000-8000-0000000000b1";

QImage picture(const QIcon &icon)
{
    return icon.pixmap(QSize(20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage treeIcon(Client &c, const QByteArray &id)
{
    QTreeWidgetItem *item = itemOf(c, QString::fromLatin1(id));
    return item ? picture(item->icon(0)) : QImage();
}

QImage image(const char *name)
{
    return picture(QIcon(varno::resourcePath(QString::fromLatin1(name))));
}

QStringList promptTexts(const PromptScript &prompts)
{
    QStringList out;
    for (const varno::ui::PromptRequest &r : prompts.requests())
        out << r.text;
    return out;
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

} // namespace

class TestClientOnvif : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(seedStore({}));
    }

    void cleanup()
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
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
        QTRY_COMPARE(treeIcon(client, kLobby), image("./images/dvr_lock.png"));
        QVERIFY(itemOf(client, id)->toolTip(0).contains(QStringLiteral("Wrong password")));
        QCOMPARE(treeIcon(client, "ghost-0001"), image("./images/dvr_gray.png"));
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
        QTRY_COMPARE(treeIcon(client, kLobby), image("./images/dvr_green.png"));
        QCOMPARE(itemOf(client, id)->toolTip(0), id);
        QTRY_COMPARE(operations(true).count(onlineEntry), 1);

        // Online, while its live window reconnects: not the plain green.
        auto *live = client.findChild<realvideo *>();
        QVERIFY(live);
        emit live->sendLiveReconnecting(id, true);
        QCOMPARE(treeIcon(client, kLobby), image("./images/dvr_amber.png"));
        QCOMPARE(itemOf(client, id)->toolTip(0), id + QStringLiteral("\nLive video reconnecting"));
        emit live->sendLiveReconnecting(id, false);
        QCOMPARE(treeIcon(client, kLobby), image("./images/dvr_green.png"));
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
        QTRY_COMPARE(treeIcon(client, kLobby), image("./images/dvr_gray.png"));
        QTRY_COMPARE(operations(true).count(offlineEntry), 1);
        QCOMPARE(stateOf(client, kLobby), int(STATE_OFFLINE));
        closeClient(client, prompts);
    }
};

QTEST_MAIN(TestClientOnvif)
#include "tst_clientonvif.moc"
