// A window started with "connect all on start" (the wall display and the
// demo): every camera the probing finds online opens on the live page on its
// own, a camera that never answers does not hold the others back for more
// than three passes, and nothing opens twice.
#include "client/client.h"
#include "tests/client/camerarig.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "live/qvideoonly.h"
#include "live/realvideo.h"
#include "platform/userstore/user_local.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

using namespace clienttest;
using varno::ui::PromptScript;

class TestClientAutoConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Client::setProbeIntervalMs(1000);
        const QString error = m_rig.start();
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
            registered(client);
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
            registered(client);
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

private:
    void registered(Client &client)
    {
        const qsizetype before = logText().count("P2P_Client_SDK_Register success !!!");
        client.startP2PRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(logText().count("P2P_Client_SDK_Register success !!!") > before, 15000);
    }

    CameraRig m_rig;
};

QTEST_MAIN(TestClientAutoConnect)
#include "tst_clientautoconnect.moc"
