// Manual add by camera ID against a private broker and the camera
// simulator: the ID rule, the lookups, both password checks, the pending
// list and the replies (correct and wrong password, the second reply of a
// check ignored), the connect loop's retries and its cancel, and a close
// while a slow lookup runs.
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/devicesetup.h"
#include "device/devicestore.h"
#include "device/qmanualdial.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2p_wire.h"
#include "tests/device/devicefixture.h"
#include "tests/platform/p2p/relaykit.h"
#include "tests/support/testenv.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>

using varno::ui::PromptScript;

namespace {

// The camera messages the dialog listens to, relayed as the main window does.
devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_PASSWORD_CHECK_RSP, P2P_MSG_PASSWORD_CHECK2_RSP};
    return relay;
}

// The connect helper as the controllers run it: off the window's thread.
int connectOffUi(intptr_t handle, const char *p2pId, const varno::JobToken &token = varno::JobToken())
{
    static const varno::device::ConnectNames names{"TestQManualDial", "%s(%d):handle is NULL!!!", 500};
    const std::string id(p2pId);
    return std::async(std::launch::async, [=] { return varno::device::connectPeer(handle, id.c_str(), names, token); })
        .get();
}

} // namespace

class TestQManualDial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString failed = m_rig.start(&hub());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void init()
    {
        m_dialog = std::make_unique<QManualDial>();
        hub().setDialog(m_dialog.get());
    }

    void cleanup()
    {
        hub().setDialog(nullptr);
        // Replies still on their way are dropped with the dialog.
        m_dialog.reset();
    }

    void fieldRules_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << "" << "" << "ID can not be empty!";
        QTest::newRow("six characters") << "B76543" << "" << "ID is not correct !";
        QTest::newRow("starts with a digit") << "1765432" << "" << "ID is not correct !";
        QTest::newRow("starts with a sign") << "-765432" << "" << "ID is not correct !";
        QTest::newRow("non-ASCII letter") << QString::fromUtf8("Ä765432") << "" << "ID is not correct !";
        // A valid ID passes on to the next checks: the name, the password.
        QTest::newRow("no name") << "B765432" << "" << "Please inupt Name.";
        QTest::newRow("no password") << "B765432" << "Gate" << "Please input password.";
    }

    void fieldRules()
    {
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(QString, message);
        PromptScript script;
        fill(id, name, QString());
        m_dialog->on_addButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Manual"));
        QCOMPARE(requests[0].text, message);
        QVERIFY(m_dialog->pending().isEmpty());
        // The field takes at most 7 characters.
        QCOMPARE(m_dialog->findChild<QLineEdit *>("idLineEdit")->maxLength(), 7);
    }

    void unknownCameraOnTheService()
    {
        PromptScript script;
        fill(QStringLiteral("Z999999"), QStringLiteral("Nowhere"), QStringLiteral("abc123"));
        add();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        // Nobody answers the lookup: the message says what may be behind it.
        QVERIFY2(requests[0].text.startsWith(QStringLiteral("Camera Z999999 did not answer its lookup (errorno:-206). "
                                                            "Check the ID; a camera with an older firmware")),
                 qPrintable(requests[0].text));
        QVERIFY(m_dialog->pending().isEmpty());
    }

    void correctPasswordAddsOnce()
    {
        PromptScript script;
        QSignalSpy added(m_dialog.get(), &QManualDial::sendManualInfo);
        const int before = hub().replies();
        fill(QStringLiteral("B765432"), QStringLiteral("Tor Süd"), QStringLiteral("abc123"));
        m_dialog->on_addButton_clicked();
        // The check runs off the window's thread: the button shows it.
        auto *button = m_dialog->findChild<QPushButton *>("addButton");
        QVERIFY(m_dialog->isBusy());
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->toolTip(), QStringLiteral("Checking the camera's password..."));
        QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isBusy(), 10000);
        QVERIFY(button->isEnabled());

        // Both requests are answered (126 and 17): the first decides, the
        // second finds no pending check.
        waitReplies(before + 2);
        QCOMPARE(added.count(), 1);
        QVERIFY(m_dialog->pending().isEmpty());
        const auto info = added[0][0].value<DvrListInfo_s>();
        QCOMPARE(QByteArray(info.dev.devId), QByteArray("B765432"));
        QCOMPARE(varno::fieldText(info.dev.devName), QStringLiteral("Tor Süd"));
        QCOMPARE(QByteArray(info.dev.password), QByteArray("abc123"));
        QCOMPARE(QByteArray(info.dev.p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(int(info.dev.p2pFlag), 1);
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Manually add device(Tor Süd) successfully!"));
        // Ready for the next camera.
        for (const char *field : {"idLineEdit", "nameLineEdit", "passwdLineEdit"})
            QVERIFY2(m_dialog->findChild<QLineEdit *>(field)->text().isEmpty(), field);
    }

    void wrongPasswordIsReported()
    {
        PromptScript script;
        QSignalSpy added(m_dialog.get(), &QManualDial::sendManualInfo);
        const int before = hub().replies();
        fill(QStringLiteral("C100200"), QStringLiteral("Yard"), QStringLiteral("wrong1"));
        add();
        waitReplies(before + 2);
        QCOMPARE(added.count(), 0);
        QVERIFY(m_dialog->pending().isEmpty());
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Manual"));
        QCOMPARE(requests[0].text, QStringLiteral("Password incorrect!"));
        // Kept as typed, to be corrected.
        QCOMPARE(m_dialog->findChild<QLineEdit *>("idLineEdit")->text(), QStringLiteral("C100200"));
        QCOMPARE(m_dialog->findChild<QLineEdit *>("passwdLineEdit")->text(), QStringLiteral("wrong1"));
    }

    void secondCheckReplacesTheFirst()
    {
        PromptScript script;
        QSignalSpy added(m_dialog.get(), &QManualDial::sendManualInfo);
        // Block the replies until both checks are sent: the hub has no dialog.
        hub().setDialog(nullptr);
        const int before = hub().replies();
        fill(QStringLiteral("C100200"), QStringLiteral("Yard"), QStringLiteral("wrong1"));
        add();
        waitReplies(before + 2);
        fill(QStringLiteral("C100200"), QStringLiteral("Yard"), QStringLiteral("pw9999"));
        add();
        QCOMPARE(m_dialog->pending().size(), 1);
        QCOMPARE(QByteArray(m_dialog->pending()[0].password), QByteArray("pw9999"));
        waitReplies(before + 4);
        // The camera's answer to the newer check decides.
        const std::shared_ptr<QByteArray> payload = hub().lastPayload();
        QVERIFY(payload);
        m_dialog->recvP2pMessage(devicetest::message("VRNC-100200-ABCDE", P2P_MSG_PASSWORD_CHECK_RSP, payload->constData(),
                                                     int32_t(payload->size())));
        QCOMPARE(added.count(), 1);
        QCOMPARE(QByteArray(added[0][0].value<DvrListInfo_s>().dev.password), QByteArray("pw9999"));
        QCOMPARE(script.take().size(), 1);
    }

    void replyForAnotherCameraIsIgnored()
    {
        PromptScript script;
        QSignalSpy added(m_dialog.get(), &QManualDial::sendManualInfo);
        fill(QStringLiteral("B765432"), QStringLiteral("Gate"), QStringLiteral("abc123"));
        hub().setDialog(nullptr);
        const int before = hub().replies();
        add();
        waitReplies(before + 2);
        QCOMPARE(m_dialog->pending().size(), 1);

        PASSWORD_CHECK_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        P2pMessage_S message = devicetest::message("VRNC-100200-ABCDE", P2P_MSG_PASSWORD_CHECK_RSP, &rsp, sizeof(rsp));
        m_dialog->recvP2pMessage(message);
        // Another camera, a short reply, and a type that is not a check reply
        // decide nothing.
        varno::setText(message.devId, "VRNB-765432-KXPQT");
        message.payloadLen = 40;
        m_dialog->recvP2pMessage(message);
        message.payloadLen = sizeof(rsp);
        message.type = P2P_MSG_PASSWORD_CHANGE_RSP;
        m_dialog->recvP2pMessage(message);
        QCOMPARE(added.count(), 0);
        QCOMPARE(m_dialog->pending().size(), 1);
        QCOMPARE(script.count(), 0);
        // The right one does.
        message.type = P2P_MSG_PASSWORD_CHECK2_RSP;
        m_dialog->recvP2pMessage(message);
        QCOMPARE(added.count(), 1);
        QVERIFY(m_dialog->pending().isEmpty());
    }

    void alreadyListedAtReplyTime()
    {
        PromptScript script;
        QSignalSpy added(m_dialog.get(), &QManualDial::sendManualInfo);
        hub().setDialog(nullptr);
        const int before = hub().replies();
        fill(QStringLiteral("B765432"), QStringLiteral("Gate"), QStringLiteral("abc123"));
        add();
        waitReplies(before + 2);
        // Meanwhile the camera was added by discovery, with another password.
        DvrListInfo_s known = devicetest::listed("B765432", "Gate (ONVIF)");
        varno::setText(known.dev.password, "583");
        m_dialog->updateDevList({known});

        PASSWORD_CHECK_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        m_dialog->recvP2pMessage(devicetest::message("VRNB-765432-KXPQT", P2P_MSG_PASSWORD_CHECK_RSP, &rsp, sizeof(rsp)));
        // Different password, ID and flag: the new record goes up to be stored.
        QCOMPARE(added.count(), 1);
        QCOMPARE(script.take().at(0).text, QStringLiteral("Device[B765432] has been added, check [Gate (ONVIF)]."));

        // The same again with nothing different (typed with a small first
        // letter, which is raised): only the message.
        m_dialog->updateDevList({added[0][0].value<DvrListInfo_s>()});
        fill(QString(), QString(), QString());
        m_dialog->findChild<QLineEdit *>("idLineEdit")->setText(QStringLiteral("b765432"));
        m_dialog->on_addButton_clicked();
        QCOMPARE(script.take().at(0).text, QStringLiteral("Device[B765432] has been added, check [Gate]."));
        QCOMPARE(added.count(), 1);
    }

    void cancelClearsButKeepsPending()
    {
        PromptScript script;
        hub().setDialog(nullptr);
        const int before = hub().replies();
        m_dialog->show();
        fill(QStringLiteral("B765432"), QStringLiteral("Gate"), QStringLiteral("abc123"));
        add();
        waitReplies(before + 2);
        m_dialog->on_cancelButton_clicked();
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_dialog->findChild<QLineEdit *>("idLineEdit")->text().isEmpty());
        QVERIFY(m_dialog->findChild<QLineEdit *>("nameLineEdit")->text().isEmpty());
        QVERIFY(m_dialog->findChild<QLineEdit *>("passwdLineEdit")->text().isEmpty());
        QCOMPARE(m_dialog->pending().size(), 1);
    }

    void deletedCameraLeavesTheList()
    {
        m_dialog->updateDevList({devicetest::listed("B765432", "Gate"), devicetest::listed("C100200", "Yard")});
        m_dialog->recvDelDevInfo(QStringLiteral("B765432"));
        QCOMPARE(m_dialog->devList().size(), 1);
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.devId), QByteArray("C100200"));
        m_dialog->recvDelDevInfo(QStringLiteral("B76543")); // no prefix match
        QCOMPARE(m_dialog->devList().size(), 1);
    }

    void noHandleIsRefused()
    {
        QCOMPARE(connectOffUi(0, "VRNB-765432-KXPQT"), -101);
        // A camera the service does not know is tried once, not four times:
        // the requests that reach its inbox before a later marker are counted.
        const std::string unknown = "VRNZ-000000-AAAAA";
        const QString inbox = QString::fromStdString(varno::p2p::cameraInbox(unknown));
        varno::test::RawMqtt peer(QStringLiteral("inbox-watch"));
        QCOMPARE(peer.connect(m_rig.broker.port()), 0);
        QCOMPARE(peer.subscribe(inbox), 1);
        std::atomic<int> requests{0}, beforeMarker{-1};
        peer.setHandler([&](const std::string &, const QByteArray &payload) {
            if (payload == "marker")
                beforeMarker = requests.load();
            else
                ++requests;
        });
        // A cancelled job asks nothing.
        QCOMPARE(connectOffUi(m_rig.handle, unknown.c_str(), varno::JobToken::cancelledToken()),
                 varno::device::kConnectCancelled);
        const int r = connectOffUi(m_rig.handle, unknown.c_str());
        QVERIFY(r < 0 && r != P2P_ERR_CONNECTING);
        QVERIFY(peer.publish(inbox, "marker"));
        QTRY_VERIFY(beforeMarker.load() >= 0);
        QCOMPARE(beforeMarker.load(), 1);
        QCOMPARE(connectOffUi(m_rig.handle, "VRNB-765432-KXPQT"), 0);
        // Already connected: answered from the session state.
        QCOMPARE(connectOffUi(m_rig.handle, "VRNB-765432-KXPQT"), 0);
    }

    void closeWhileLookingUp_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("waits for the answer") << false;
        QTest::newRow("closed meanwhile") << true;
    }

    void closeWhileLookingUp()
    {
        // Nobody answers the lookup of this camera: the library gives up after
        // its request time-out. The window's event loop runs all the while.
        QFETCH(bool, close);
        PromptScript script;
        m_dialog->show();
        fill(QStringLiteral("Z999998"), QStringLiteral("Nowhere"), QStringLiteral("abc123"));
        int ticks = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, this, [&] { ticks += m_dialog->isBusy() ? 1 : 0; });
        probe.start();
        m_dialog->on_addButton_clicked();
        QVERIFY(m_dialog->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 10000);
        if (close) {
            m_dialog->close();
            QVERIFY(!m_dialog->isBusy());
            QVERIFY(m_dialog->findChild<QPushButton *>("addButton")->isEnabled());
        }
        // The job ends when the library returns; closed, it says nothing.
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->setup()->jobsInFlight(), 0, 15000);
        QVERIFY(!m_dialog->isBusy());
        QVERIFY(m_dialog->pending().isEmpty());
        const auto requests = script.take();
        QCOMPARE(requests.size(), close ? 0 : 1);
        if (!close)
            QVERIFY2(requests[0].text.startsWith(QStringLiteral("Camera Z999998 did not answer its lookup")),
                     qPrintable(requests[0].text));
    }

private:
    void fill(const QString &id, const QString &name, const QString &password)
    {
        m_dialog->findChild<QLineEdit *>("idLineEdit")->setText(id);
        m_dialog->findChild<QLineEdit *>("nameLineEdit")->setText(name);
        m_dialog->findChild<QLineEdit *>("passwdLineEdit")->setText(password);
    }

    // Presses Add and waits until the check is sent (or failed).
    void add()
    {
        m_dialog->on_addButton_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isBusy(), 10000);
    }

    // Waits until both replies of a check arrived and were handled.
    void waitReplies(int total)
    {
        QTRY_VERIFY_WITH_TIMEOUT(hub().replies() >= total, 10000);
        // The relay queued its calls before it counted: run them.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    devicetest::P2pRig m_rig;
    std::unique_ptr<QManualDial> m_dialog;
};

QTEST_MAIN(TestQManualDial)
#include "tst_qmanualdial.moc"
