#include "client/client.h"

#include "common/ui/desktopinfo.h"
#include "common/ui/promptscript.h"
#include "tests/client/clientfixture.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QtTest>

#include <cstring>
#include <vector>

using varno::ui::PromptKind;
using varno::ui::PromptScript;

using namespace clienttest;

namespace {

void pressClose(Client &client)
{
    QPushButton *close = client.findChild<QPushButton *>(QStringLiteral("btnWinClose"));
    QVERIFY(close);
    close->click();
}

} // namespace

class TestClient : public QObject
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
            QCOMPARE(QByteArray(client.loginUser()), QByteArray("admin"));
            client.show();
            QVERIFY(QTest::qWaitForWindowExposed(&client));

            QSignalSpy closing(&client, &Client::sendWinCloseSignal);
            prompts.answer(QMessageBox::Yes);
            pressClose(client);
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
        pressClose(client);
        pressClose(client); // unanswered (the box closed otherwise): No as well
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
        pressClose(client); // asks nothing any more
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
        QCOMPARE(varno::textLength(cut.devName), size_t(31));
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
};

QTEST_MAIN(TestClient)
#include "tst_client.moc"
