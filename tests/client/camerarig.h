#pragma once

// The cameras the main window's tests run against.

#include "client/client.h"
#include "platform/userstore/user_local.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTest>

namespace clienttest {

// The broker and the simulator the window tests run against: the P2P
// cameras Gate and Yard (or Gate alone) and the ONVIF cameras given (ID,
// name; password "583"), found through a discovery target on loopback;
// without ONVIF cameras discovery probes a port where nobody answers. The
// client's relay and ONVIF configuration are written and the user store is
// opened; stop() or the destructor closes it all.
struct CameraRig
{
    varno::test::MqttBroker broker;
    varno::test::CamSimProcess sim;
    QStringList onvifServices; // service addresses, in the order given

    CameraRig() = default;
    ~CameraRig() { stop(); }
    CameraRig(const CameraRig &) = delete;
    CameraRig &operator=(const CameraRig &) = delete;

    // Empty on success, else what failed.
    // The cameras named in h265 (Yard, ONVIF names) send H.265.
    QString start(const QList<QPair<QString, QString>> &onvif = {}, int p2pCameras = 2, const QStringList &h265 = {})
    {
        if (!QFile::exists(varno::test::CamSimProcess::programPath()))
            return QStringLiteral("varno-camsim not built");
        if (!broker.start() || !broker.writeClientConfig())
            return QStringLiteral("the broker did not start");
        QStringList cameras =
            varno::test::simGateAndYard(QSize(128, 72), QSize(64, 48), 25, 100, 60, 2).mid(0, p2pCameras);
        if (!onvif.isEmpty())
            cameras << varno::test::simOnvifCameras(onvif, QStringLiteral("583"));
        for (const QString &name : h265)
            for (QString &c : cameras)
                c.replace(QStringLiteral("\"name\": \"%1\"").arg(name),
                          QStringLiteral("\"name\": \"%1\", \"codec\": \"h265\"").arg(name));
        if (!sim.start(varno::test::simConfig(broker.port(), varno::test::tempRoot() + QStringLiteral("/camera-storage"),
                                              cameras)))
            return sim.error();
        QString target = QStringLiteral("127.0.0.1:%1").arg(varno::test::freeLoopbackPort());
        if (!onvif.isEmpty()) {
            // "OK discovery 127.0.0.1:<port> <uuid> <service> ..."
            const QStringList list = sim.command(QStringLiteral("onvif list")).split(QLatin1Char(' '));
            if (list.size() != 3 + 2 * onvif.size())
                return QStringLiteral("unexpected onvif list: ") + list.join(QLatin1Char(' '));
            target = list[2];
            for (int i = 0; i < onvif.size(); ++i) {
                if (list[3 + 2 * i] != onvif[i].first)
                    return QStringLiteral("onvif list out of order: ") + list.join(QLatin1Char(' '));
                onvifServices << list[4 + 2 * i];
            }
        }
        if (!varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 300"),
                                          QStringLiteral("probe_target = ") + target,
                                          QStringLiteral("connect_timeout_ms = 1000"),
                                          QStringLiteral("request_timeout_ms = 3000"),
                                          QStringLiteral("event_pull_timeout_s = 1")}))
            return QStringLiteral("onvif.conf not written");
        // The login dialog opens the local user store before the window exists.
        if (User_local_Init() != 0)
            return QStringLiteral("the user store did not open");
        m_storeOpen = true;
        return {};
    }

    void stop()
    {
        if (m_storeOpen)
            User_local_UnInit();
        m_storeOpen = false;
        sim.stop();
        broker.stop();
    }

private:
    bool m_storeOpen = false;
};

// Logs the user in and shows the main window at the size the tests use;
// false when the window never came up.
inline bool showClient(Client &client, const char *user = "operator")
{
    client.userLogin(user);
    client.resize(1024, 700);
    client.show();
    return QTest::qWaitForWindowExposed(&client);
}

} // namespace clienttest
