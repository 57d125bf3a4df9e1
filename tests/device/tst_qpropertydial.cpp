// Device settings against the real store, a private broker and the camera
// simulator: the new-password rule in its order of checks, the password
// change accepted and refused by the camera, replies that do not belong to
// the change in flight, and the camera list. Its camera editor page: the
// refusals, the edited record, the "Rename:" entry, and that nothing but the
// client's record changes. The camera password prompt: an empty password is
// refused and the dialog stays; Cancel, close and Escape give no password;
// the prompt seam runs the dialog and answers with what was typed.
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/devicesetup.h"
#include "device/passwordcipher.h"
#include "device/qpasswd.h"
#include "device/qpasswdfrm.h"
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/device/devicefixture.h"
#include "tests/support/modal.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <memory>

using varno::ui::PromptScript;

namespace {

// The camera messages the dialog listens to, relayed as the main window does.
devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_PASSWORD_CHANGE_RSP};
    return relay;
}

// A P2P camera at an address with a configuration, for the editor page.
DvrListInfo_s camera(const char *id, const char *name, const char *password)
{
    DvrListInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.dev.devId, id);
    varno::setText(info.dev.devName, name);
    varno::setText(info.dev.password, password);
    varno::setText(info.dev.p2pId, "VRNB-765432-KXPQT");
    varno::setText(info.dev.ipAddr, "127.0.0.1");
    info.dev.p2pFlag = 1;
    info.config.profileCount = 2;
    return info;
}

} // namespace

class TestQPropertyDial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        varno::registerMetaTypes();
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
        QCOMPARE(SDK_DVRMGR_AddDevice(
                     devicetest::enciphered(devicetest::listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT").dev)),
                 0);
        QCOMPARE(SDK_DVRMGR_AddDevice(
                     devicetest::enciphered(devicetest::listed("C100200", "Yard", "pw9999", "VRNC-100200-ABCDE").dev)),
                 0);
        // A password stored in plain (from an older store) stays as read.
        QCOMPARE(SDK_DVRMGR_AddDevice(devicetest::listed("uuid-onvif-1", "Hall", "plain88").dev), 0);

        const QString failed = m_rig.start(&hub());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
        SDK_DVRMGR_UnInit();
    }

    void init()
    {
        varno::setP2pHandle(m_rig.handle);
        m_dialog = std::make_unique<QPropertyDial>();
        char user[32] = {};
        std::strcpy(user, "admin");
        m_dialog->setUserName(user);
        hub().setDialog(m_dialog.get());
    }

    void cleanup()
    {
        hub().setDialog(nullptr);
        m_dialog.reset();
    }

    void listFromStoreWithPasswordsDeciphered()
    {
        const auto &list = m_dialog->devList();
        QCOMPARE(list.size(), 3);
        QCOMPARE(QByteArray(list[0].dev.password), QByteArray("abc123"));
        QCOMPARE(QByteArray(list[1].dev.password), QByteArray("pw9999"));
        QCOMPARE(QByteArray(list[2].dev.password), QByteArray("plain88"));
        // The configuration block is not stored: all zero.
        const DevConfig_s zero{};
        QCOMPARE(std::memcmp(&list[0].config, &zero, sizeof(zero)), 0);
    }

    void pagesSwitchAndLoadTheCamera()
    {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QVERIFY(m_dialog->renamePage()->isVisible());
        QVERIFY(!m_dialog->passwdPage()->isVisible());
        m_dialog->findChild<QPushButton *>("passwdButton")->click();
        QVERIFY(!m_dialog->renamePage()->isVisible());
        QVERIFY(m_dialog->passwdPage()->isVisible());
        m_dialog->findChild<QPushButton *>("editorButton")->click();
        QVERIFY(m_dialog->renamePage()->isVisible());

        setFields(QStringLiteral("x"), QStringLiteral("o"), QStringLiteral("n"), QStringLiteral("c"));
        m_dialog->setDevId(QStringLiteral("C100200"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("idLineEdit")->text(), QStringLiteral("C100200"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("nameLineEdit")->text(), QStringLiteral("Yard"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("passwdLineEdit")->text(), QStringLiteral("pw9999"));
        QPasswdFrm *page = m_dialog->passwdPage();
        QCOMPARE(page->findChild<QLineEdit *>("idLineEdit")->text(), QStringLiteral("C100200"));
        QCOMPARE(page->findChild<QLineEdit *>("nameLineEdit")->text(), QStringLiteral("Yard"));
        for (const char *name : {"oldpassLineEdit", "newpassLineEdit", "confirmpassLineEdit"})
            QVERIFY(page->findChild<QLineEdit *>(name)->text().isEmpty());
        auto *changeButton = m_dialog->findChild<QPushButton *>("passwdButton");
        auto *hint = m_dialog->renamePage()->findChild<QLabel *>("passwdHint");
        QVERIFY(changeButton->isVisible());
        QVERIFY(hint->text().contains(QStringLiteral("Change password")));

        // An ONVIF camera's own password is changed on its web page: no page
        // for it here, and the editor says so. Its short password is no fault.
        changeButton->click();
        m_dialog->setDevId(QStringLiteral("uuid-onvif-1"));
        QVERIFY(!changeButton->isVisible());
        QVERIFY(m_dialog->renamePage()->isVisible());
        QVERIFY(!m_dialog->passwdPage()->isVisible());
        QVERIFY(hint->text().contains(QStringLiteral("web page")));
        QVERIFY(!hint->text().contains(QStringLiteral("must not begin")));
        m_dialog->setDevId(QStringLiteral("C100200"));
        QVERIFY(changeButton->isVisible());

        // An unknown ID never shows another camera's record.
        m_dialog->setDevId(QStringLiteral("NOPE"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("nameLineEdit")->text(), QString());
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("passwdLineEdit")->text(), QString());
        m_dialog->findChild<QPushButton *>("closeButton")->click();
        QVERIFY(!m_dialog->isVisible());
    }

    void passwordRuleOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("oldPass");
        QTest::addColumn<QString>("newPass");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<QString>("message");
        const QString thirty = QStringLiteral("A") + QString(29, QLatin1Char('7'));
        QTest::newRow("name") << "" << "" << "" << "" << "Name can not be empty!";
        QTest::newRow("old") << "Gate" << "" << "" << "" << "Old password can not be empty!";
        QTest::newRow("new") << "Gate" << "abc123" << "" << "" << "New password can not be empty!";
        QTest::newRow("same as old, short, confirm empty")
            << "Gate" << "abc12" << "abc12" << "" << "New password can not be same with old password!";
        QTest::newRow("five characters, confirm differs")
            << "Gate" << "abc123" << "xyz12" << "other1" << "New password must consists of 6-30 characters!";
        QTest::newRow("thirty-one characters")
            << "Gate" << "abc123" << thirty + QLatin1Char('8') << thirty + QLatin1Char('8')
            << "New password must consists of 6-30 characters!";
        QTest::newRow("seven starting with 0, confirm empty")
            << "Gate" << "abc123" << "0abcdef" << "" << "New password must not begin with '0' !";
        QTest::newRow("confirm empty") << "Gate" << "abc123" << "xyz123" << "" << "Confirm password can not be empty!";
        QTest::newRow("confirm differs") << "Gate" << "abc123" << "xyz123" << "xyz124"
                                         << "New password can be same with confirm password!";
        // Passing the rule leads to the connect step, which fails without the
        // library's handle.
        QTest::newRow("exactly 6 passes") << "Gate" << "abc123" << "xyz123" << "xyz123"
                                          << "Unable to connect device(B765432) (errorno:-101)!";
        QTest::newRow("exactly 30 passes") << "Gate" << "abc123" << thirty << thirty
                                           << "Unable to connect device(B765432) (errorno:-101)!";
    }

    void passwordRuleOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, oldPass);
        QFETCH(QString, newPass);
        QFETCH(QString, confirm);
        QFETCH(QString, message);
        varno::setP2pHandle(0);
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        m_dialog->setDevId(QStringLiteral("B765432"));
        QPasswdFrm *page = m_dialog->passwdPage();
        // The fields hold 30; a longer text is put in past that limit to see
        // the rule refuse it on its own.
        for (const char *field : {"oldpassLineEdit", "newpassLineEdit", "confirmpassLineEdit"})
            page->findChild<QLineEdit *>(field)->setMaxLength(32);
        setFields(name, oldPass, newPass, confirm);
        page->on_changeButton_clicked();
        QTRY_VERIFY(!page->isBusy());
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Settings"));
        QCOMPARE(requests[0].text, message);
        QCOMPARE(changed.count(), 0);
        QVERIFY(!page->changeInFlight());
        // Fields stay as typed.
        QCOMPARE(page->findChild<QLineEdit *>("newpassLineEdit")->text(), newPass);
    }

    void passwordFieldsTakeLettersAndDigitsOnly()
    {
        QPasswdFrm *page = m_dialog->passwdPage();
        for (const char *field : {"oldpassLineEdit", "newpassLineEdit", "confirmpassLineEdit"}) {
            auto *edit = page->findChild<QLineEdit *>(field);
            QTest::keyClicks(edit, QStringLiteral("ab!c 12_3"));
            QCOMPARE(edit->text(), QStringLiteral("abc123"));
            QCOMPARE(edit->maxLength(), 30);
            QCOMPARE(edit->echoMode(), QLineEdit::Password);
        }
    }

    void changeAcceptedByTheCamera()
    {
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        QSignalSpy logged(m_dialog.get(), &QPropertyDial::sendLogInfo);
        m_dialog->setDevId(QStringLiteral("B765432"));
        const int before = hub().replies();
        setFields(QStringLiteral("Gate north"), QStringLiteral("abc123"), QStringLiteral("Newpass7"),
                  QStringLiteral("Newpass7"));
        m_dialog->passwdPage()->on_changeButton_clicked();
        QCOMPARE(script.count(), 0);
        QVERIFY(m_dialog->passwdPage()->changeInFlight());
        QTRY_VERIFY_WITH_TIMEOUT(hub().replies() > before, 10000);
        QTRY_COMPARE(changed.count(), 1);
        const auto dev = changed[0][0].value<DeviceInfo_s>();
        QCOMPARE(QByteArray(dev.devId), QByteArray("B765432"));
        QCOMPARE(QByteArray(dev.password), QByteArray("Newpass7"));
        QCOMPARE(QByteArray(dev.devName), QByteArray("Gate north"));
        QCOMPARE(logged.count(), 1);
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().content), QByteArray("Change Password:B765432"));
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().user), QByteArray("admin"));
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Modify successful !"));
        QVERIFY(!m_dialog->passwdPage()->changeInFlight());

        // The camera really holds the new password now: a change from it works.
        QTRY_VERIFY(!m_dialog->passwdPage()->isBusy());
        setFields(QStringLiteral("Gate"), QStringLiteral("Newpass7"), QStringLiteral("abc123"), QStringLiteral("abc123"));
        m_dialog->passwdPage()->on_changeButton_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 2, 10000);
        QCOMPARE(QByteArray(changed[1][0].value<DeviceInfo_s>().password), QByteArray("abc123"));
        QCOMPARE(script.take().at(0).text, QStringLiteral("Modify successful !"));
    }

    void changeRefusedByTheCamera()
    {
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        QSignalSpy logged(m_dialog.get(), &QPropertyDial::sendLogInfo);
        m_dialog->setDevId(QStringLiteral("C100200"));
        const int before = hub().replies();
        setFields(QStringLiteral("Yard"), QStringLiteral("wrong77"), QStringLiteral("Other888"), QStringLiteral("Other888"));
        m_dialog->passwdPage()->on_changeButton_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(hub().replies() > before, 10000);
        QTRY_COMPARE(script.count(), 1);
        QCOMPARE(script.take().at(0).text,
                 QStringLiteral("Change device [C100200] Password failed, Please enter the correct old password !"));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(logged.count(), 0);
        QCOMPARE(QByteArray(m_dialog->passwdPage()->devInfo().dev.password), QByteArray("pw9999"));
    }

    void repliesOutsideTheChangeAreIgnored()
    {
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        m_dialog->setDevId(QStringLiteral("B765432"));
        PASSWORD_CHANGE_RSP_S rsp;
        std::memset(&rsp, 0, sizeof(rsp));
        P2pMessage_S message = devicetest::message("VRNB-765432-KXPQT", P2P_MSG_PASSWORD_CHANGE_RSP, &rsp, sizeof(rsp));
        // No change in flight: a stray success changes nothing.
        m_dialog->recvP2pMessage(message);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(script.count(), 0);
        // Other types are not for this dialog.
        message.type = P2P_MSG_PASSWORD_CHECK_RSP;
        m_dialog->recvP2pMessage(message);
        QCOMPARE(changed.count(), 0);
    }

    void replyAfterSwitchingCameraGoesToTheCameraAsked()
    {
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        hub().setDialog(nullptr);
        m_dialog->setDevId(QStringLiteral("C100200"));
        const int before = hub().replies();
        setFields(QStringLiteral("Yard"), QStringLiteral("pw9999"), QStringLiteral("Yard2019"), QStringLiteral("Yard2019"));
        m_dialog->passwdPage()->on_changeButton_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(hub().replies() > before, 10000);
        // The operator turns to another camera before the answer is handled.
        m_dialog->setDevId(QStringLiteral("B765432"));
        const std::shared_ptr<QByteArray> payload = hub().lastPayload();
        QVERIFY(payload);
        const P2pMessage_S message = devicetest::message("VRNC-100200-ABCDE", P2P_MSG_PASSWORD_CHANGE_RSP,
                                                         payload->constData(), int32_t(payload->size()));
        // A copy of the reply from another camera first: ignored.
        P2pMessage_S other = message;
        varno::setText(other.devId, "VRNB-765432-KXPQT");
        m_dialog->recvP2pMessage(other);
        QCOMPARE(changed.count(), 0);
        m_dialog->recvP2pMessage(message);
        QCOMPARE(changed.count(), 1);
        const auto dev = changed[0][0].value<DeviceInfo_s>();
        QCOMPARE(QByteArray(dev.devId), QByteArray("C100200"));
        QCOMPARE(QByteArray(dev.password), QByteArray("Yard2019"));
        QCOMPARE(QByteArray(dev.devName), QByteArray("Yard"));
        // The camera shown keeps its record.
        QCOMPARE(QByteArray(m_dialog->passwdPage()->devInfo().dev.password), QByteArray("abc123"));
        QCOMPARE(script.take().at(0).text, QStringLiteral("Modify successful !"));
    }

    void listFollowsUpdatesAndDeletes()
    {
        m_dialog->updateDevInfo(devicetest::listed("B765432", "Renamed", "changed1", "VRNB-765432-KXPQT"));
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.devName), QByteArray("Renamed"));
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.password), QByteArray("changed1"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("nameLineEdit")->text(), QStringLiteral("Renamed"));

        m_dialog->recvDelDevInfo(QStringLiteral("C100200"));
        QCOMPARE(m_dialog->devList().size(), 2);
        m_dialog->setDevId(QStringLiteral("C100200"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("nameLineEdit")->text(), QString());

        // A camera added later becomes known through the main window's list.
        QList<DvrListInfo_s> list = m_dialog->devList();
        list.append(devicetest::listed("D000001", "New one", "583"));
        m_dialog->updateDevList(list);
        m_dialog->setDevId(QStringLiteral("D000001"));
        QCOMPARE(m_dialog->renamePage()->findChild<QLineEdit *>("nameLineEdit")->text(), QStringLiteral("New one"));
    }

    void closeWhileConnecting()
    {
        // A camera the service does not know: the connect waits for the
        // library's time-out. Closing the dialog meanwhile gives the change up
        // quietly; the window's thread never waited.
        PromptScript script;
        QSignalSpy changed(m_dialog.get(), &QPropertyDial::sendDevProperty);
        QList<DvrListInfo_s> list = m_dialog->devList();
        list.append(devicetest::listed("Z000009", "Ghost", "ghost12", "VRNZ-000009-AAAAA"));
        m_dialog->updateDevList(list);
        m_dialog->show();
        m_dialog->setDevId(QStringLiteral("Z000009"));
        m_dialog->findChild<QPushButton *>("passwdButton")->click();
        QPasswdFrm *page = m_dialog->passwdPage();
        QVERIFY(page->isVisible());
        setFields(QStringLiteral("Ghost"), QStringLiteral("ghost12"), QStringLiteral("ghost345"), QStringLiteral("ghost345"));
        auto *button = page->findChild<QPushButton *>("changeButton");
        button->click();
        QVERIFY(page->isBusy());
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->toolTip(), QStringLiteral("Changing the camera's password..."));
        m_dialog->close();
        QVERIFY(!page->isBusy());
        QVERIFY(button->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(page->setup()->jobsInFlight(), 0, 15000);
        QCOMPARE(script.count(), 0);
        QCOMPARE(changed.count(), 0);
    }

    void longIdIsShownWhole()
    {
        // The ID of a camera found by discovery (a UUID of 36 characters).
        QRenameFrm page;
        const QByteArray uuid = "5a5a5a5a-0000-4000-8000-d33000000001";
        page.setDevInfo(camera(uuid.constData(), "Lobby", "583"));
        QCOMPARE(page.findChild<QLineEdit *>("idLineEdit")->text(), QString::fromLatin1(uuid));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name, no password") << "" << "" << "Name can not be empty!";
        QTest::newRow("no password") << "Yard" << "" << "Password can not be empty!";
    }

    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, message);
        PromptScript script;
        QRenameFrm page;
        page.setDevInfo(camera("B765432", "Front door", "secret1"));
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        QSignalSpy logged(&page, &QRenameFrm::sendLogInfo);
        page.findChild<QLineEdit *>("nameLineEdit")->setText(name);
        page.findChild<QLineEdit *>("passwdLineEdit")->setText(password);
        page.on_confirmButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Settings"));
        QCOMPARE(requests[0].text, message);
        QCOMPARE(renamed.count(), 0);
        QCOMPARE(logged.count(), 0);
        QCOMPARE(varno::fieldText(page.devInfo().dev.devName), QStringLiteral("Front door"));
    }

    void renameEmitsRecordAndLogEntry()
    {
        PromptScript script;
        QRenameFrm page;
        char user[32];
        std::memset(user, 0, sizeof(user));
        std::strcpy(user, "operator7");
        page.setUserName(user);
        const DvrListInfo_s before = camera("B765432", "Front door", "secret1");
        page.setDevInfo(before);
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        QSignalSpy logged(&page, &QRenameFrm::sendLogInfo);
        page.findChild<QLineEdit *>("nameLineEdit")->setText(QStringLiteral("Hof Süd"));
        page.findChild<QLineEdit *>("passwdLineEdit")->setText(QStringLiteral("new55pass"));
        page.on_confirmButton_clicked();

        QCOMPARE(renamed.count(), 1);
        const auto dev = renamed[0][0].value<DeviceInfo_s>();
        QCOMPARE(varno::fieldText(dev.devName), QStringLiteral("Hof Süd"));
        QCOMPARE(varno::fieldText(dev.password), QStringLiteral("new55pass"));
        // Every other field is the camera's as it was.
        QCOMPARE(QByteArray(dev.devId), QByteArray("B765432"));
        QCOMPARE(QByteArray(dev.p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(QByteArray(dev.ipAddr), QByteArray("127.0.0.1"));
        QCOMPARE(int(dev.p2pFlag), 1);
        // Zero-filled behind the new texts.
        for (size_t i = std::strlen(dev.password); i < sizeof(dev.password); ++i)
            QCOMPARE(int(dev.password[i]), 0);

        QCOMPARE(logged.count(), 1);
        const auto entry = logged[0][0].value<LogInfo_s>();
        QCOMPARE(QByteArray(entry.content), QByteArray("Rename:B765432"));
        QCOMPARE(QByteArray(entry.user), QByteArray("operator7"));
        QVERIFY(QDateTime::fromString(QString::fromLatin1(entry.time), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());

        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Modify successful !"));
        QCOMPARE(requests[0].title, QStringLiteral("Settings"));
    }

    void longNameIsCutWholeLetters()
    {
        PromptScript script;
        QRenameFrm page;
        page.setDevInfo(camera("B765432", "x", "p"));
        QSignalSpy renamed(&page, &QRenameFrm::sendDevRename);
        // 31 letters of two bytes each do not fit the 32-byte field: it holds
        // 15 whole letters and its terminator.
        auto *name = page.findChild<QLineEdit *>("nameLineEdit");
        name->setMaxLength(64);
        name->setText(QString(31, QChar(0x00e4)));
        page.on_confirmButton_clicked();
        QCOMPARE(renamed.count(), 1);
        const auto dev = renamed[0][0].value<DeviceInfo_s>();
        QCOMPARE(varno::fieldText(dev.devName), QString(15, QChar(0x00e4)));
        QCOMPARE(int(dev.devName[31]), 0);
    }

    void focusAndIdRow()
    {
        QPasswd dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setDevInfo("B765432", "Front door");
        QTRY_VERIFY(dialog.findChild<QLineEdit *>("passwdLineEdit")->hasFocus());
        // Without an ID its row is not shown.
        dialog.setDevInfo(nullptr, "Yard");
        QVERIFY(!dialog.findChild<QLineEdit *>("idLineEdit")->isVisible());
        QVERIFY(!dialog.findChild<QLabel *>("idLabel")->isVisible());
    }

    void emptyPasswordKeepsTheDialogOpen()
    {
        PromptScript script;
        QPasswd dialog;
        dialog.setDevInfo("B765432", "Front door");
        dialog.show();
        dialog.on_confirmButton_clicked();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Property"));
        QCOMPARE(requests[0].text, QStringLiteral("Please input password."));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        dialog.findChild<QLineEdit *>("passwdLineEdit")->setText(QStringLiteral("abc123"));
        dialog.on_confirmButton_clicked();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.getPasswd(), QStringLiteral("abc123"));
        QCOMPARE(script.count(), 0);
    }

    void everyWayOutClearsThePassword()
    {
        for (int way = 0; way < 3; ++way) {
            QPasswd dialog;
            dialog.setDevInfo("B765432", "Front door");
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            auto *password = dialog.findChild<QLineEdit *>("passwdLineEdit");
            password->setText(QStringLiteral("typed99"));
            if (way == 0)
                dialog.on_cancelButton_clicked();
            else if (way == 1)
                dialog.on_closeButton_clicked();
            else
                QTest::keyClick(password, Qt::Key_Escape);
            QVERIFY2(!dialog.isVisible(), qPrintable(QString::number(way)));
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(dialog.getPasswd(), QString());
        }
    }

    void seamRunsTheDialog_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("confirm") << "confirmButton" << int(QMessageBox::Ok) << "cam777";
        QTest::newRow("cancel") << "cancelButton" << int(QMessageBox::Cancel) << "";
    }

    void seamRunsTheDialog()
    {
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(QString, text);
        QPasswd::registerAsPasswordPrompt();
        QString shownName;
        varno::ui::PromptAnswer got;
        QVERIFY(varno::test::runModal<QPasswd>(
            [&] {
                varno::ui::PromptRequest request;
                request.kind = varno::ui::PromptKind::Password;
                request.title = QStringLiteral("Password");
                request.text = QStringLiteral("Front door");
                got = varno::ui::prompt(request);
            },
            [&](QPasswd *dialog) {
                shownName = dialog->findChild<QLineEdit *>("nameLineEdit")->text();
                QTest::keyClicks(dialog->findChild<QLineEdit *>("passwdLineEdit"), QStringLiteral("cam777"));
                dialog->findChild<QPushButton *>(button)->click();
            }));
        QCOMPARE(shownName, QStringLiteral("Front door"));
        QCOMPARE(int(got.button), answer);
        QCOMPARE(got.text, text);
        varno::ui::setPasswordDialog({});
    }

private:
    void setFields(const QString &name, const QString &oldPass, const QString &newPass, const QString &confirm);

    devicetest::P2pRig m_rig;
    std::unique_ptr<QPropertyDial> m_dialog;
};

void TestQPropertyDial::setFields(const QString &name, const QString &oldPass, const QString &newPass,
                                  const QString &confirm)
{
    QPasswdFrm *page = m_dialog->passwdPage();
    page->findChild<QLineEdit *>("nameLineEdit")->setText(name);
    page->findChild<QLineEdit *>("oldpassLineEdit")->setText(oldPass);
    page->findChild<QLineEdit *>("newpassLineEdit")->setText(newPass);
    page->findChild<QLineEdit *>("confirmpassLineEdit")->setText(confirm);
}

QTEST_MAIN(TestQPropertyDial)
#include "tst_qpropertydial.moc"
