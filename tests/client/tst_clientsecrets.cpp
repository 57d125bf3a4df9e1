// No password reaches a file the program writes: the demo's cameras run
// with passwords of their own and an operator password, one camera's
// stream goes down and is reopened again and again, and afterwards every
// file under the installation directory (logs included) is searched for
// each password, as it is and as an address would carry it.

#include "client/qlogin.h"
#include "tests/client/clientfixture.h"
#include "tests/client/clientwindow.h"

#include "common/ui/promptscript.h"
#include "platform/userstore/user_local.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tools/demoseed/demoseed.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QUrl>
#include <QtTest>

using namespace clienttest;
using varno::test::CamSimProcess;
using varno::test::MqttBroker;
using varno::ui::PromptScript;

namespace {

// A password the cipher takes (so the store never holds it in plain),
// made of letters and digits only, unlike any other text of the program.
QString cipherablePassword(const QString &stem)
{
    for (int i = 0;; ++i) {
        const QString candidate = QStringLiteral("%1x%2Q").arg(stem).arg(7301 + i);
        char out[64] = {};
        if (encode(candidate.toUtf8().constData(), out) == 0)
            return candidate;
    }
}

// Small pictures for the simulated P2P cameras: the test is about files,
// not about pictures.
QJsonObject smallStreams(QJsonObject config)
{
    QJsonArray cameras = config.value(QStringLiteral("cameras")).toArray();
    for (qsizetype i = 0; i < cameras.size(); ++i) {
        QJsonObject c = cameras[i].toObject();
        if (c.value(QStringLiteral("kind")).toString() != QStringLiteral("p2p"))
            continue;
        const QJsonObject small{{QStringLiteral("width"), 128}, {QStringLiteral("height"), 72},
                                {QStringLiteral("fps"), 10}, {QStringLiteral("kbps"), 60}};
        c[QStringLiteral("hd")] = small;
        c[QStringLiteral("sd")] = small;
        cameras[i] = c;
    }
    config[QStringLiteral("cameras")] = cameras;
    return config;
}

} // namespace

class TestClientSecrets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(CamSimProcess::programPath()), "varno-camsim not built");
        Client::setProbeIntervalMs(1000);
        QVERIFY(m_broker.start());
        QList<uint16_t> ports{m_broker.port()};
        for (int i = 0; i < 3; ++i)
            ports.append(varno::demo::freeLoopbackPort(ports));
        m_plan = varno::demo::defaultPlan(m_broker.port(), ports[1], ports[2], ports[3]);
        for (varno::demo::DemoCamera &c : m_plan.cameras)
            c.password = cipherablePassword(QStringLiteral("Cam") + c.name);
        const QJsonObject config =
            smallStreams(varno::demo::simulatorConfig(m_plan, varno::test::tempRoot() + QStringLiteral("/storage")));
        QVERIFY2(m_sim.start(QJsonDocument(config).toJson()), qPrintable(m_sim.error()));
        QString error;
        QVERIFY2(varno::demo::seedClientData(m_plan, varno::test::installDir(), &error), qPrintable(error));

        QCOMPARE(User_local_Init(), 0);
        m_operatorPassword = cipherablePassword(QStringLiteral("Operator"));
        QCOMPARE(User_local_chpass("admin", "admin", m_operatorPassword.toUtf8().constData()), 0);
    }

    void cleanupTestCase()
    {
        User_local_UnInit();
        m_sim.stop();
        m_broker.stop();
    }

    void noPasswordInAnyFile()
    {
        PromptScript prompts;
        {
            // The operator logs in through the dialog, a wrong password first.
            QLogin login;
            login.show();
            login.findChild<QLineEdit *>(QStringLiteral("usernameEdit"))->setText(QStringLiteral("admin"));
            login.findChild<QCheckBox *>(QStringLiteral("rememberCheck"))->setChecked(false);
            login.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(m_operatorPassword + QStringLiteral("0"));
            button(login, "loginButton")->click();
            QVERIFY(!login.isAccepted());
            login.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(m_operatorPassword);
            button(login, "loginButton")->click();
            QVERIFY(login.isAccepted());
        }
        const QString lobby = m_plan.cameras[4].deviceId;
        const QString stairs = m_plan.cameras[5].deviceId;
        {
            Client client("127.0.0.1");
            client.userLogin("admin");
            client.resize(1024, 700);
            client.show();
            realvideo *live = client.liveView();
            QVERIFY(live);
            client.connectAllOnStart();
            client.startP2PRegistration();
            QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(m_plan.cameras[0].deviceId).decodedPictures > 0, 60000);
            // The ONVIF cameras are on the second page: their streams are open
            // and their frames arrive, while a window not shown decodes nothing.
            for (const QString &id : {lobby, stairs})
                QTRY_VERIFY_WITH_TIMEOUT(live->streamStats(id).frameCounter > 0, 60000);

            // The stairs camera's stream goes down: reopened again and again,
            // each failure logged with the address (masked).
            const QByteArray failedOpen = "Open(rtsp://admin:***@";
            const qsizetype before = logText().count(failedOpen);
            QCOMPARE(m_sim.command(QStringLiteral("onvif rtsp-down 1")), QStringLiteral("OK rtsp-down"));
            QTRY_VERIFY_WITH_TIMEOUT(logText().count(failedOpen) >= before + 3, 90000);
            QCOMPARE(m_sim.command(QStringLiteral("onvif rtsp-up 1")), QStringLiteral("OK rtsp-up"));
            closeClient(client, prompts);
        }

        // Every file under the installation directory, whatever its name.
        QStringList secrets{m_operatorPassword};
        for (const varno::demo::DemoCamera &c : m_plan.cameras)
            secrets << c.password;
        QStringList offenders;
        QStringList scanned;
        QDirIterator it(varno::test::installDir(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray content = f.readAll();
            scanned << QDir(varno::test::installDir()).relativeFilePath(path);
            for (const QString &secret : std::as_const(secrets)) {
                const QByteArray plain = secret.toUtf8();
                const QByteArray wide(reinterpret_cast<const char *>(secret.utf16()), secret.size() * 2);
                if (content.contains(plain) || content.contains(QUrl::toPercentEncoding(secret)) || content.contains(wide))
                    offenders << scanned.last() + QStringLiteral(": ") + secret;
            }
        }
        QVERIFY2(offenders.isEmpty(), qPrintable(offenders.join(QStringLiteral(", "))));
        // The search went through what the run wrote.
        QVERIFY2(scanned.contains(QStringLiteral("log/Varno.log")), qPrintable(scanned.join(QLatin1Char(' '))));
        QVERIFY(scanned.contains(QStringLiteral("localusr.db")));
        QVERIFY(logText().contains("Open(rtsp://admin:***@"));
    }

private:
    MqttBroker m_broker;
    CamSimProcess m_sim;
    varno::demo::DemoPlan m_plan;
    QString m_operatorPassword;
};

QTEST_MAIN(TestClientSecrets)
#include "tst_clientsecrets.moc"
