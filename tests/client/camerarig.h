#pragma once

// The cameras most client tests run against: a private broker, and the
// simulator's P2P cameras Gate and Yard beside one ONVIF camera, found
// through a discovery target on loopback.

#include "client/client.h"
#include "platform/userstore/user_local.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QFile>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTest>

namespace clienttest {

// Starts the broker and the simulator, writes the client's relay and ONVIF
// configuration and opens the user store. Empty on success, else what failed.
// lobbyService receives the ONVIF camera's service address.
inline QString startGateYardLobby(varno::test::MqttBroker &broker, varno::test::CamSimProcess &sim,
                                  const QByteArray &lobbyId, QString *lobbyService, const QByteArray &porchId = {},
                                  QString *porchService = nullptr)
{
    // With a porch: Yard and the ONVIF camera Porch send H.265.
    QStringList p2p = varno::test::simGateAndYard(QSize(128, 72), QSize(64, 48), 25, 100, 60, 2);
    QList<QPair<QString, QString>> onvif {{QString::fromLatin1(lobbyId), QStringLiteral("Lobby")}};
    if (!porchId.isEmpty()) {
        p2p[1].replace(QStringLiteral("\"kind\": \"p2p\","), QStringLiteral("\"kind\": \"p2p\", \"codec\": \"h265\","));
        onvif << QPair<QString, QString> {QString::fromLatin1(porchId), QStringLiteral("Porch")};
    }
    QString onvifEntry = varno::test::simOnvifCameras(onvif, QStringLiteral("583"));
    onvifEntry.replace(QStringLiteral("\"name\": \"Porch\""), QStringLiteral("\"name\": \"Porch\", \"codec\": \"h265\""));
    if (!QFile::exists(varno::test::CamSimProcess::programPath()))
        return QStringLiteral("varno-camsim not built");
    if (!broker.start() || !broker.writeClientConfig())
        return QStringLiteral("the broker did not start");
    const QByteArray config = varno::test::simConfig(
        broker.port(), varno::test::tempRoot() + QStringLiteral("/camera-storage"),
        p2p << onvifEntry);
    if (!sim.start(config))
        return sim.error();
    // "OK discovery 127.0.0.1:<port> <uuid> <service>"
    const QStringList list = sim.command(QStringLiteral("onvif list")).split(QLatin1Char(' '));
    if (list.size() != (porchId.isEmpty() ? 5 : 7))
        return QStringLiteral("unexpected onvif list: ") + list.join(QLatin1Char(' '));
    *lobbyService = list[4];
    if (porchService && !porchId.isEmpty())
        *porchService = list[6];
    if (!varno::test::writeOnvifConf({QStringLiteral("probe_window_ms = 300"),
                                      QStringLiteral("probe_target = ") + list[2],
                                      QStringLiteral("connect_timeout_ms = 1000"),
                                      QStringLiteral("request_timeout_ms = 3000"),
                                      QStringLiteral("event_pull_timeout_s = 1")}))
        return QStringLiteral("onvif.conf not written");
    if (User_local_Init() != 0)
        return QStringLiteral("the user store did not open");
    return {};
}

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
