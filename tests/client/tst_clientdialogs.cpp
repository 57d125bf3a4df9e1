// The main window with the dialogs it owns, end to end against a private
// broker and the camera simulator (two P2P cameras and two ONVIF cameras):
// discovery into the add dialog, adding from discovery and by camera ID,
// the settings dialog's rename, removal, the configuration window, the
// camera password prompt, and the store the window leaves behind. The
// dialogs' own rules are their own programs' (tests/device, tests/config).
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
#include "device/qpropertydial.h"
#include "device/qrenamefrm.h"
#include "platform/userstore/user_local.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
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

DvrListInfo_s recordOf(const QList<DvrListInfo_s> &list, const QByteArray &id, bool *found = nullptr)
{
    for (const DvrListInfo_s &d : list)
        if (QByteArray(d.dev.devId) == id) {
            if (found)
                *found = true;
            return d;
        }
    if (found)
        *found = false;
    return DvrListInfo_s{};
}

bool listed(const QList<DvrListInfo_s> &list, const QByteArray &id)
{
    bool found = false;
    recordOf(list, id, &found);
    return found;
}

QString treeText(Client &c, const QString &id)
{
    QTreeWidgetItem *item = itemOf(c, id);
    return item ? item->text(0) : QString();
}

QStringList promptTexts(const PromptScript &prompts)
{
    QStringList out;
    for (const varno::ui::PromptRequest &r : prompts.requests())
        out << r.text;
    return out;
}

} // namespace

class TestClientDialogs : public QObject
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
            startP2p(client);
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
            QVERIFY(listed(client.propertyDialog()->devList(), kLobby));
            QVERIFY(listed(client.propertyDialog()->devList(), "C100200"));

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

    // The camera's own password changed in Settings is tst_clientpassword's
    // (refused: tst_qpropertydial); a camera leaving and coming back is
    // tst_clientprobe's and tst_clientlive's; Settings of an offline camera is
    // tst_clientregistry's.
    void settingsAndRemoval()
    {
        QVERIFY(seedStore({p2pCamera("B765432", "VRNB-765432-KXPQT", "Gate", "abc123")}));
        PromptScript prompts;
        Client client("127.0.0.1");
        client.userLogin("operator");
        startP2p(client);
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
        QVERIFY(!listed(client.addDeviceDialog()->devList(), "B765432"));
        QVERIFY(!listed(client.addDeviceDialog()->manualDialog()->devList(), "B765432"));
        QVERIFY(!listed(client.propertyDialog()->devList(), "B765432"));
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
        // The user page's password rules are tst_qusermgr's, the log page's own
        // order tst_qconfigmgr's: here the window's user and log entries reach it.
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

private:
    // Starts the window's P2P channel and waits until it is registered.
    void startP2p(Client &client)
    {
        const qsizetype before = logText().count("P2P_Client_SDK_Register success !!!");
        client.startP2PRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(logText().count("P2P_Client_SDK_Register success !!!") > before, 15000);
        // The dialogs reach the cameras through the process-wide handle.
        QVERIFY(varno::p2pHandle() != 0);
        QCOMPARE(varno::p2pHandle(), Client::p2pHandle());
    }

    CameraRig m_rig;
};

QTEST_MAIN(TestClientDialogs)
#include "tst_clientdialogs.moc"
