// A camera's password changed in "Settings" while its live view runs, end to
// end against a private broker and the camera simulator: every copy of the
// password takes the new one (registry, store, live page, alarm log), and
// after the camera restarts the view comes back by itself without asking.
#include "alarm/qalarmsearch.h"
#include "client/client.h"
#include "device/qpasswdfrm.h"
#include "device/qpropertydial.h"
#include "tests/client/camerarig.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "live/realvideo.h"
#include "platform/userstore/user_local.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptScript;

namespace {

QStringList promptTexts(const PromptScript &prompts)
{
    QStringList out;
    for (const auto &r : prompts.requests())
        out << r.text;
    return out;
}

DeviceInfo_s registryRecord(const Client &c, const QByteArray &id)
{
    for (const DvrListInfo_s &d : c.deviceList())
        if (QByteArray(d.dev.devId) == id)
            return d.dev;
    return DeviceInfo_s{};
}

} // namespace

class TestClientPassword : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString error = m_rig.start({}, 1);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
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
        const qsizetype registered = logText().count("P2P_Client_SDK_Register success !!!");
        client.startP2PRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(logText().count("P2P_Client_SDK_Register success !!!") > registered, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(client, "B765432"), int(STATE_ONLINE), 20000);

        realvideo *live = client.liveView();
        QVERIFY(live->StartStream(registryRecord(client, "B765432"), false) == 0);
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
        QCOMPARE(QByteArray(registryRecord(client, "B765432").password), QByteArray("Newer4567"));
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

QTEST_MAIN(TestClientPassword)
#include "tst_clientpassword.moc"
