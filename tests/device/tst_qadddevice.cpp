// The add device dialog against the real store, a private broker and the
// camera simulator: the table of discovered cameras, the check-all box,
// adds from discovery (P2P form and ONVIF form), the store with enciphered
// passwords, cameras from the manual add, the 300-camera limit and deletes,
// and a close while a camera that never answers is asked.
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "device/devicesetup.h"
#include "device/devicestore.h"
#include "device/passwordcipher.h"
#include "device/qadddevice.h"
#include "device/qmanualdial.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/device/devicefixture.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"
#include "tools/camsim/onvifcamera.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

using varno::ui::PromptScript;
using namespace devicetest;

namespace {

DeviceInfo_s found(const char *id, const char *ip, const char *url)
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof(d));
    varno::setText(d.devId, id);
    varno::setText(d.ipAddr, ip);
    varno::setText(d.serviceAddr, url);
    return d;
}

} // namespace

// The adds run on the dialog's worker: wait until they and any store
// rewrite are done.
#define SETTLE() \
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isBusy() && m_dialog->setup()->jobsInFlight() == 0, 20000)

class TestQAddDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString failed = m_rig.start(nullptr, 1);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_rig.stop();
    }

    void init()
    {
        QCOMPARE(SDK_DVRMGR_Init(varno::test::installDir().toUtf8().constData()), 0);
        DeviceInfo_s known = found("uuid-known-1", "127.0.0.5", "http://127.0.0.5/onvif/device_service");
        varno::setText(known.devName, "Known");
        varno::setText(known.password, "stored55");
        QCOMPARE(SDK_DVRMGR_AddDevice(enciphered(known)), 0);
        m_dialog = std::make_unique<QAddDevice>();
        QVERIFY(m_dialog->devList().isEmpty());   // built without reading the store
        m_dialog->setDevList(varno::device::readStoredDevices("test", __LINE__));
        char user[32] = {};
        std::strcpy(user, "admin");
        m_dialog->setUserName(user);
    }

    void cleanup()
    {
        m_dialog.reset();
        SDK_DVRMGR_UnInit();
        QDir(varno::test::installDir()).removeRecursively();
        QDir().mkpath(varno::test::installDir());
    }

    void listedCameraGetsNoRow()
    {
        QCOMPARE(m_dialog->devList().size(), 1);
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.password), QByteArray("stored55"));
        const DeviceInfo_s fresh = found("uuid-new-2", "127.0.0.6", "http://127.0.0.6/onvif/device_service");
        show({found("uuid-known-1", "127.0.0.5", "http://127.0.0.5/onvif/device_service"), fresh,
              found("B765432", "127.0.0.7", "http://127.0.0.7/onvif/device_service")});
        QTableWidget *t = table();
        QCOMPARE(t->rowCount(), 2);
        QCOMPARE(t->item(0, 1)->text(), QStringLiteral("uuid-new-2"));
        QCOMPARE(t->item(0, 2)->text(), QStringLiteral("127.0.0.6"));
        QCOMPARE(t->item(0, 3)->text(), QStringLiteral("http://127.0.0.6/onvif/device_service"));
        QCOMPARE(t->item(1, 1)->text(), QStringLiteral("B765432"));
        QCOMPARE(t->item(0, 0)->checkState(), Qt::Unchecked);
        // A new result replaces the table.
        show({fresh});
        QCOMPARE(t->rowCount(), 1);
    }

    void badDiscoveryInputIsBounded()
    {
        DeviceInfo_s one = found("uuid-x", "127.0.0.9", "http://127.0.0.9/");
        // Fill the ID field to its end without a terminator.
        std::memset(one.devId, 'k', sizeof(one.devId));
        m_dialog->RecvSearchReslutFromClient(1, &one);
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(table()->item(0, 1)->text(), QString(63, QLatin1Char('k')));
        m_dialog->RecvSearchReslutFromClient(5, nullptr);
        QCOMPARE(table()->rowCount(), 0);
        m_dialog->RecvSearchReslutFromClient(-3, &one);
        QCOMPARE(table()->rowCount(), 0);
    }

    void checkAllOnlyOnFullStates()
    {
        const std::vector<DeviceInfo_s> results = {found("uuid-a", "127.0.0.6", "u1"), found("uuid-b", "127.0.0.7", "u2")};
        show(results);
        m_dialog->on_checkAllCBox_stateChanged(Qt::Checked);
        QCOMPARE(table()->item(0, 0)->checkState(), Qt::Checked);
        QCOMPARE(table()->item(1, 0)->checkState(), Qt::Checked);
        m_dialog->on_checkAllCBox_stateChanged(Qt::PartiallyChecked);
        QCOMPARE(table()->item(0, 0)->checkState(), Qt::Checked);
        m_dialog->on_checkAllCBox_stateChanged(Qt::Unchecked);
        QCOMPARE(table()->item(0, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(table()->item(1, 0)->checkState(), Qt::Unchecked);
        // The box itself drives it, and a new result clears the box.
        auto *box = m_dialog->findChild<QCheckBox *>("checkAllCBox");
        box->setCheckState(Qt::Checked);
        QCOMPARE(table()->item(1, 0)->checkState(), Qt::Checked);
        show(results);
        QCOMPARE(box->checkState(), Qt::Unchecked);
        QCOMPARE(table()->item(1, 0)->checkState(), Qt::Unchecked);
    }

    void nothingTickedIsRefused()
    {
        PromptScript script;
        QSignalSpy list(m_dialog.get(), &QAddDevice::sendDevList);
        show({found("uuid-a", "127.0.0.6", "u1")});
        m_dialog->on_addButton_clicked();
        SETTLE();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].title, QStringLiteral("Add Device"));
        QCOMPARE(requests[0].text, QStringLiteral("Please select one or more devices to add!"));
        QCOMPARE(list.count(), 0);
        QCOMPARE(int(stored().size()), 1);
    }

    void p2pFormIdIsLookedUpAndNamed()
    {
        PromptScript script;
        QSignalSpy list(m_dialog.get(), &QAddDevice::sendDevList);
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        show({found("B765432", "127.0.0.7", "http://127.0.0.7/onvif/device_service")});
        tick(0);
        m_dialog->on_addButton_clicked();
        SETTLE();

        QCOMPARE(m_dialog->devList().size(), 2);
        const DeviceInfo_s &dev = m_dialog->devList()[1].dev;
        QCOMPARE(QByteArray(dev.devName), QByteArray("Varno_B765432"));
        QCOMPARE(QByteArray(dev.p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(int(dev.p2pFlag), 1);
        QCOMPARE(QByteArray(dev.password), QByteArray("583"));
        // Stored with the password enciphered.
        const auto store = stored();
        QCOMPARE(int(store.size()), 2);
        QCOMPARE(QByteArray(store[1].devId), QByteArray("B765432"));
        QVERIFY(QByteArray(store[1].password) != QByteArray("583"));
        QCOMPARE(plainPassword(store[1]), QStringLiteral("583"));
        QCOMPARE(plainPassword(store[0]), QStringLiteral("stored55"));

        QCOMPARE(logged.count(), 1);
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().content), QByteArray("Add device:B765432"));
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().user), QByteArray("admin"));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list[0][0].value<QList<DvrListInfo_s>>().size(), 2);
        QCOMPARE(m_dialog->manualDialog()->devList().size(), 2);
        QCOMPARE(script.take().last().text, QStringLiteral("Add device completed"));

        // A camera whose ID has the P2P form but that the service does not know.
        show({found("Q000000", "127.0.0.8", "http://127.0.0.8/")});
        tick(0);
        m_dialog->on_addButton_clicked();
        SETTLE();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Failed to add device,id:[Q000000]"));
        QCOMPARE(m_dialog->devList().size(), 2);
        QCOMPARE(logged.count(), 1);
    }

    void listedWithSameAddressChangesNothing()
    {
        // The table may still show a camera that was added after it was filled.
        show({found("B765432", "127.0.0.7", "http://127.0.0.7/")});
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        PromptScript script;
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        // Same (empty) address as listed: the manual record has no IP address.
        table()->item(0, 2)->setText(QString());
        tick(0);
        m_dialog->on_addButton_clicked();
        SETTLE();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text, QStringLiteral("Device [B765432] has been added, the name is [Gate]."));
        QCOMPARE(logged.count(), 0);
        QCOMPARE(int(stored().size()), 2);
    }

    void onvifCameraThatDoesNotAnswer()
    {
        PromptScript script;
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        const QString url = QStringLiteral("http://127.0.0.1:%1/onvif/device_service").arg(varno::test::freeLoopbackPort());
        // Eight characters, and seven digits: both are ONVIF cameras.
        const QByteArray u = url.toUtf8();
        show({found("B7654321", "127.0.0.1", u.constData()),
                                        found("7654321", "127.0.0.1", u.constData())});
        m_dialog->on_checkAllCBox_stateChanged(Qt::Checked);
        m_dialog->on_addButton_clicked();
        SETTLE();
        const auto requests = script.take();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].text, QStringLiteral("Failed to add device,id:[B7654321]"));
        QCOMPARE(requests[1].text, QStringLiteral("Failed to add device,id:[7654321]"));
        QCOMPARE(logged.count(), 0);
        QCOMPARE(m_dialog->devList().size(), 1);

        // A listed camera seen at a new address that does not answer keeps its
        // old address.
        oneTickedRow(QStringLiteral("uuid-known-1"), QStringLiteral("127.0.0.1"), url);
        script.take();
        m_dialog->on_addButton_clicked();
        SETTLE();
        QCOMPARE(script.take().at(0).text, QStringLiteral("Failed to add device,id:[uuid-known-1]"));
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.ipAddr), QByteArray("127.0.0.5"));
    }

    void onvifCameraIsAskedAndStored()
    {
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"),
                                             QStringLiteral("request_timeout_ms = 3000")}));
        COnvifCamera::Settings settings;
        settings.uuid = "0a1b2c3d-4e5f-4a6b-8c7d-8e9f0a1b2c3d";
        settings.password = QAddDevice::kDefaultPassword;
        COnvifCamera cam(settings);
        QVERIFY(cam.start());
        PromptScript script;
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        QSignalSpy list(m_dialog.get(), &QAddDevice::sendDevList);
        show({found(settings.uuid.c_str(), "127.0.0.1", cam.serviceAddr().c_str())});
        tick(0);
        m_dialog->on_addButton_clicked();
        SETTLE();
        QCOMPARE(script.take().last().text, QStringLiteral("Add device completed"));
        QCOMPARE(m_dialog->devList().size(), 2);
        const DvrListInfo_s &added = m_dialog->devList()[1];
        // No name in its discovery answer: named after the model it reports.
        QCOMPARE(QByteArray(added.dev.devName), QByteArray("CamSim"));
        // Added: no longer in the table.
        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(int(added.dev.p2pFlag), 0);
        QCOMPARE(added.config.profileCount, 2);
        QCOMPARE(QByteArray(added.config.mainToken), QByteArray("profile_main"));
        QCOMPARE(QByteArray(added.config.eventAddr), QByteArray(cam.eventAddr().c_str()));
        QCOMPARE(QByteArray(stored()[1].serviceAddr), QByteArray(cam.serviceAddr().c_str()));
        QCOMPARE(plainPassword(stored()[1]), QStringLiteral("583"));
        QCOMPARE(logged.count(), 1);
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().content),
                 QByteArray("Add device:") + QByteArray(settings.uuid.c_str()));
        QCOMPARE(list.count(), 1);
        QStringList namedMoved{QStringLiteral("none")};
        connect(m_dialog.get(), &QAddDevice::sendDevList, this, [&] { namedMoved = m_dialog->movedCameras(); });

        // The camera moves to another address: the entry and the store follow,
        // without a message or a log entry.
        cam.stop();
        QVERIFY(cam.start());
        const QByteArray moved = QByteArray(cam.serviceAddr().c_str());
        QVERIFY(moved != QByteArray(added.dev.serviceAddr));
        oneTickedRow(QString::fromStdString(settings.uuid), QStringLiteral("127.0.0.2"), QString::fromLatin1(moved));
        m_dialog->on_addButton_clicked();
        SETTLE();
        QCOMPARE(script.count(), 0);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(list.count(), 2);
        // The dialog names it to the list's receiver: the window takes this address.
        QCOMPARE(namedMoved, QStringList{QString::fromStdString(settings.uuid)});
        QVERIFY(m_dialog->movedCameras().isEmpty());
        QCOMPARE(QByteArray(m_dialog->devList()[1].dev.ipAddr), QByteArray("127.0.0.2"));
        QCOMPARE(QByteArray(m_dialog->devList()[1].dev.serviceAddr), moved);
        const auto store = stored();
        QCOMPARE(int(store.size()), 2);
        QCOMPARE(QByteArray(store[1].ipAddr), QByteArray("127.0.0.2"));
        QCOMPARE(QByteArray(store[1].serviceAddr), moved);
        QCOMPARE(plainPassword(store[1]), QStringLiteral("583"));
        QCOMPARE(plainPassword(store[0]), QStringLiteral("stored55"));
    }

    void refusedPasswordIsAskedFor()
    {
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"),
                                             QStringLiteral("request_timeout_ms = 3000")}));
        COnvifCamera::Settings settings;
        settings.uuid = "0c1b2c3d-4e5f-4a6b-8c7d-8e9f0a1b2c3e";
        settings.password = "gate-77";
        COnvifCamera cam(settings);
        QVERIFY(cam.start());
        DeviceInfo_s result = found(settings.uuid.c_str(), "127.0.0.1", cam.serviceAddr().c_str());
        varno::setText(result.discoveryText, "Tiefgarage Ebene 13, Zufahrt Süd");
        show({result});
        QCOMPARE(table()->item(0, 4)->text(), QStringLiteral("Tiefgarage Ebene 13, Zufahrt Süd"));

        // The camera refuses whatever it is given: the password is asked for
        // again after each refusal; Cancel ends it as before.
        PromptScript script;
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        cam.setRefusePassword(true);
        script.answer(QMessageBox::Ok, QStringLiteral("gate-77"));
        script.answer(QMessageBox::Cancel);
        tick(0);
        m_dialog->findChild<QPushButton *>("addButton")->click();
        SETTLE();
        auto requests = script.take();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].kind, varno::ui::PromptKind::Password);
        QCOMPARE(requests[0].devId, QString::fromStdString(settings.uuid));
        QCOMPARE(requests[1].kind, varno::ui::PromptKind::Password);
        QCOMPARE(requests[2].kind, varno::ui::PromptKind::Information);
        QCOMPARE(requests[2].text, QStringLiteral("Failed to add device,id:[%1]").arg(QString::fromStdString(settings.uuid)));
        QCOMPARE(m_dialog->devList().size(), 1);
        QCOMPARE(int(stored().size()), 1);
        QCOMPARE(logged.count(), 0);
        // Not added: the row stays, still ticked.
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(table()->item(0, 0)->checkState(), Qt::Checked);

        // Taking its password again, it is stored with the one typed and the
        // name of its discovery answer, cut to the field on a whole character
        // (the 31st byte is the first half of the "ü").
        cam.setRefusePassword(false);
        script.answer(QMessageBox::Ok, QStringLiteral("gate-77"));
        m_dialog->findChild<QPushButton *>("addButton")->click();
        SETTLE();
        QCOMPARE(script.take().last().text, QStringLiteral("Add device completed"));
        QCOMPARE(QByteArray(m_dialog->devList()[1].dev.devName), QByteArray("Tiefgarage Ebene 13, Zufahrt S"));
        QCOMPARE(plainPassword(stored()[1]), QStringLiteral("gate-77"));
        QCOMPARE(table()->rowCount(), 0);
    }

    void manualAddStoresAndUpdates()
    {
        PromptScript script;
        QSignalSpy list(m_dialog.get(), &QAddDevice::sendDevList);
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        // Through the manual dialog's signal, as connected at construction.
        emit m_dialog->manualDialog()->sendManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        QCOMPARE(m_dialog->devList().size(), 2);
        QCOMPARE(list.count(), 1);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(QByteArray(logged[0][0].value<LogInfo_s>().content), QByteArray("Add device:B765432"));
        auto store = stored();
        QCOMPARE(int(store.size()), 2);
        QCOMPARE(plainPassword(store[1]), QStringLiteral("abc123"));
        QCOMPARE(QByteArray(store[1].p2pId), QByteArray("VRNB-765432-KXPQT"));
        QCOMPARE(m_dialog->manualDialog()->devList().size(), 2);

        // The same again: nothing happens.
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        QCOMPARE(list.count(), 1);
        QCOMPARE(logged.count(), 1);

        // A new password: the list and the store take it, no new log entry.
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "zz9988", "VRNB-765432-KXPQT"));
        SETTLE();
        QCOMPARE(list.count(), 2);
        QCOMPARE(logged.count(), 1);
        QCOMPARE(QByteArray(m_dialog->devList()[1].dev.password), QByteArray("zz9988"));
        store = stored();
        QCOMPARE(int(store.size()), 2);
        QCOMPARE(plainPassword(store[1]), QStringLiteral("zz9988"));
        QCOMPARE(plainPassword(store[0]), QStringLiteral("stored55"));
        QCOMPARE(script.count(), 0);
    }

    void listFullIsRefusedWithAMessage()
    {
        m_dialog.reset();
        for (int i = 2; i < kMaxDevices; ++i) {
            DeviceInfo_s d = found(QStringLiteral("uuid-fill-%1").arg(i).toLatin1().constData(), "127.0.0.9", "u");
            QCOMPARE(SDK_DVRMGR_AddDevice(d), 0);
        }
        QCOMPARE(int(stored().size()), kMaxDevices - 1);
        m_dialog = std::make_unique<QAddDevice>();
        m_dialog->setDevList(varno::device::readStoredDevices("test", __LINE__));
        PromptScript script;
        QSignalSpy list(m_dialog.get(), &QAddDevice::sendDevList);
        // The 300th is taken, the 301st refused.
        m_dialog->RecvManualInfo(listed("C100200", "Yard", "pw9999", "VRNC-100200-ABCDE"));
        SETTLE();
        QCOMPARE(script.count(), 0);
        QCOMPARE(int(stored().size()), kMaxDevices);
        QCOMPARE(m_dialog->devList().size(), kMaxDevices);
        QCOMPARE(list.count(), 1);
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        QCOMPARE(list.count(), 1);
        auto requests = script.take();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].text,
                 QStringLiteral("The device list is full: at most 300 devices. Device [B765432] was not added."));
        QCOMPARE(m_dialog->devList().size(), kMaxDevices);

        show({found("B765432", "127.0.0.7", "u")});
        tick(0);
        m_dialog->on_addButton_clicked();
        SETTLE();
        requests = script.take();
        QCOMPARE(requests[0].text,
                 QStringLiteral("The device list is full: at most 300 devices. Device [B765432] was not added."));
        QCOMPARE(int(stored().size()), kMaxDevices);
        // Ticked rows always hand the list on, added or not.
        QCOMPARE(list.count(), 2);

        // After a delete there is room again, although the store still holds
        // the deleted camera: the store is rewritten from the list.
        m_dialog->recvDelDevInfo(QStringLiteral("uuid-fill-7"));
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        QCOMPARE(script.count(), 0);
        QCOMPARE(m_dialog->devList().size(), kMaxDevices);
        QCOMPARE(list.count(), 3);
        const auto store = stored();
        QCOMPARE(int(store.size()), kMaxDevices);
        QCOMPARE(QByteArray(store.back().devId), QByteArray("B765432"));
        for (const DeviceInfo_s &d : store)
            QVERIFY(QByteArray(d.devId) != QByteArray("uuid-fill-7"));
        QCOMPARE(plainPassword(store.front()), QStringLiteral("stored55"));
    }

    void deleteAndUpdateFollowTheList()
    {
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        SETTLE();
        QSignalSpy forwarded(m_dialog.get(), &QAddDevice::sendDelDevInfo);
        m_dialog->recvDelDevInfo(QStringLiteral("B765432"));
        QCOMPARE(forwarded.count(), 1);
        QCOMPARE(forwarded[0][0].toString(), QStringLiteral("B765432"));
        QCOMPARE(m_dialog->devList().size(), 1);
        QCOMPARE(m_dialog->manualDialog()->devList().size(), 1);
        // The store follows at the next rewrite, not at the delete.
        QCOMPARE(int(stored().size()), 2);

        DvrListInfo_s renamed;
        std::memset(&renamed, 0, sizeof(renamed));
        varno::setText(renamed.dev.devId, "uuid-known-1");
        varno::setText(renamed.dev.devName, "Eingang");
        varno::setText(renamed.dev.password, "newpw1");
        m_dialog->updateDevInfo(renamed);
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.devName), QByteArray("Eingang"));
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.password), QByteArray("newpw1"));
        QCOMPARE(QByteArray(m_dialog->devList()[0].dev.ipAddr), QByteArray("127.0.0.5"));
        QCOMPARE(QByteArray(m_dialog->manualDialog()->devList()[0].dev.devName), QByteArray("Eingang"));

        // Check replies go on to the manual dialog; other messages do not.
        m_dialog->recvP2pMessage(message("", P2P_MSG_PASSWORD_CHANGE_RSP, nullptr, 0)); // nothing pending, nothing to see
        QVERIFY(m_dialog->manualDialog()->pending().isEmpty());
    }

    void closeWhileAskingASilentCamera()
    {
        // A camera that takes the connection and never answers (the library's
        // request time-out is beyond the test's). Meanwhile the window's event
        // loop runs, the button shows the add under way, and closing the dialog
        // gives the add up at once (the camera sees its connection closed):
        // nothing of it is stored and nothing is said.
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"),
                                             QStringLiteral("request_timeout_ms = 300000")}));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QList<QTcpSocket *> held;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = silent.nextPendingConnection())
                held << socket;
        });
        const QByteArray url = QStringLiteral("http://127.0.0.1:%1/onvif/device_service").arg(silent.serverPort()).toUtf8();
        PromptScript script;
        QSignalSpy logged(m_dialog.get(), &QAddDevice::sendLogInfo);
        m_dialog->show();
        show({found("uuid-silent-1", "127.0.0.1", url.constData())});
        tick(0);
        int ticks = 0;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, this, [&] { ticks += m_dialog->isBusy() ? 1 : 0; });
        probe.start();
        auto *button = m_dialog->findChild<QPushButton *>("addButton");
        button->click();
        QVERIFY(m_dialog->isBusy());
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->toolTip(), QStringLiteral("Adding the selected cameras..."));
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3 && !held.isEmpty(), 10000);
        // A camera of the manual add whose password check has passed waits for
        // the batch; the close gives the batch up, not that camera.
        m_dialog->RecvManualInfo(listed("B765432", "Gate", "abc123", "VRNB-765432-KXPQT"));
        m_dialog->close();
        QTRY_COMPARE_WITH_TIMEOUT(held.first()->state(), QAbstractSocket::UnconnectedState, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(m_dialog->setup()->jobsInFlight(), 0, 15000);
        QVERIFY(!m_dialog->isBusy());
        QVERIFY(button->isEnabled());
        QCOMPARE(script.count(), 0);
        QCOMPARE(logged.count(), 1); // the manual camera's add
        QCOMPARE(m_dialog->devList().size(), 2);
        QCOMPARE(QByteArray(m_dialog->devList().last().dev.devId), QByteArray("B765432"));
        QCOMPARE(int(stored().size()), 2);
        // The row stays, to be added another time.
        QCOMPARE(table()->rowCount(), 1);
        qDeleteAll(held);
    }

private:
    QTableWidget *table() const { return m_dialog->findChild<QTableWidget *>("devTableWidget"); }
    void tick(int row) { table()->item(row, 0)->setCheckState(Qt::Checked); }
    // Discovery results as the client hands them over.
    void show(std::vector<DeviceInfo_s> results)
    {
        m_dialog->RecvSearchReslutFromClient(int(results.size()), results.data());
    }
    // The table holds one ticked row, as left from an earlier discovery.
    void oneTickedRow(const QString &id, const QString &ip, const QString &url)
    {
        table()->setRowCount(0);
        table()->insertRow(0);
        auto *check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        check->setCheckState(Qt::Checked);
        table()->setItem(0, 0, check);
        table()->setItem(0, 1, new QTableWidgetItem(id));
        table()->setItem(0, 2, new QTableWidgetItem(ip));
        table()->setItem(0, 3, new QTableWidgetItem(url));
    }

    P2pRig m_rig;
    std::unique_ptr<QAddDevice> m_dialog;
};

QTEST_MAIN(TestQAddDevice)
#include "tst_qadddevice.moc"
