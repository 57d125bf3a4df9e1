#pragma once

// Helpers shared by the device dialogs' tests: the camera simulator's
// configuration, the client side of the P2P library, and the relay that
// hands camera messages to a dialog as the main window does.

#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2pmessage.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "tests/client/clientfixture.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace devicetest {

// Each camera message of the given types is copied (the library's buffer
// lives only during the callback) and queued to the dialog's
// recvP2pMessage. Copies are kept until the relay goes.
class MessageRelay
{
public:
    explicit MessageRelay(std::initializer_list<int32_t> types) : m_types(types) {}

    void setDialog(QObject *dialog)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dialog = dialog;
    }

    int replies() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_replies;
    }

    std::shared_ptr<QByteArray> lastPayload() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_payloads.isEmpty() ? nullptr : m_payloads.last();
    }

    // The library's message callback; user is the relay.
    static int onMessage(int32_t type, const char *payload, int32_t length, const char *cameraId, void *user)
    {
        auto *self = static_cast<MessageRelay *>(user);
        if (std::find(self->m_types.begin(), self->m_types.end(), type) == self->m_types.end())
            return 0;
        auto copy = std::make_shared<QByteArray>(payload, length);
        P2pMessage_S message;
        std::memset(&message, 0, sizeof(message));
        varno::setText(message.devId, cameraId);
        message.type = type;
        message.payload = copy->constData();
        message.payloadLen = length;
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_payloads.append(copy);
        ++self->m_replies;
        if (self->m_dialog)
            QMetaObject::invokeMethod(self->m_dialog.data(), "recvP2pMessage", Qt::QueuedConnection,
                                      Q_ARG(P2pMessage_S, message));
        return 0;
    }

private:
    const std::vector<int32_t> m_types;
    mutable std::mutex m_mutex;
    QPointer<QObject> m_dialog;
    QList<std::shared_ptr<QByteArray>> m_payloads;
    int m_replies = 0;
};

// The simulator with the cameras Gate (B765432, password "abc123") and,
// when count is 2, Yard (C100200, "pw9999").
inline QByteArray p2pCamerasConfig(const varno::test::MqttBroker &broker, const QString &storage, int count)
{
    return varno::test::simConfig(broker.port(), storage,
                                  varno::test::simGateAndYard(QSize(160, 90), QSize(160, 90), 10, 100, 80).mid(0, count));
}

// Initialises and registers the P2P library as the client does, with the
// relay (if any) as its message callback. Returns whether every step worked.
inline bool startP2pClient(P2P_HANDLE *handle, MessageRelay *relay)
{
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = P2P_INIT_VERSION;
    std::strcpy(info.account, "varno-client");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    if (P2P_Client_SDK_Init(&info, "127.0.0.1", "log", handle) != 0)
        return false;
    if (relay && P2P_Client_SDK_Set_MsgCB(*handle, &MessageRelay::onMessage, relay) != 0)
        return false;
    return P2P_Client_SDK_Register(*handle, 0, 0) == 0;
}

inline void stopP2pClient(P2P_HANDLE handle)
{
    varno::setP2pHandle(0);
    if (handle) {
        P2P_Client_SDK_UnRegister(handle);
        P2P_Client_SDK_UnInit(handle);
    }
}

// A private broker, the camera simulator and the client side of the P2P
// library, registered with the relay (if any) as its message callback and
// set as the process-wide handle; torn down in reverse order by stop() or
// the destructor.
struct P2pRig
{
    varno::test::MqttBroker broker;
    varno::test::CamSimProcess sim;
    P2P_HANDLE handle = 0;

    P2pRig() = default;
    ~P2pRig() { stop(); }
    P2pRig(const P2pRig &) = delete;
    P2pRig &operator=(const P2pRig &) = delete;

    // cameras: 1 Gate, 2 Gate and Yard (p2pCamerasConfig); a non-empty
    // config replaces that. The test's QVERIFY: a false names its step.
    QString start(MessageRelay *relay, int cameras = 2, const QByteArray &config = QByteArray())
    {
        varno::registerMetaTypes();
        if (!QFile::exists(varno::test::CamSimProcess::programPath()))
            return QStringLiteral("varno-camsim not built");
        if (!broker.start() || !broker.writeClientConfig())
            return QStringLiteral("broker did not start: ") + broker.output();
        const QString storage = varno::test::tempRoot() + QStringLiteral("/camera-storage");
        if (!sim.start(config.isEmpty() ? p2pCamerasConfig(broker, storage, cameras) : config))
            return QStringLiteral("camera simulator did not start: ") + sim.error();
        if (!startP2pClient(&handle, relay))
            return QStringLiteral("P2P library did not register");
        varno::setP2pHandle(handle);
        return QString();
    }
    void stop()
    {
        stopP2pClient(handle);
        handle = 0;
        sim.stop();
        broker.stop();
    }
};

// A listed camera; a P2P one when p2pId is not empty.
inline DvrListInfo_s listed(const char *id, const char *name, const char *password = "", const char *p2pId = "")
{
    DvrListInfo_s info;
    std::memset(&info, 0, sizeof(info));
    varno::setText(info.dev.devId, id);
    varno::setText(info.dev.devName, name);
    varno::setText(info.dev.password, password);
    varno::setText(info.dev.p2pId, p2pId);
    info.dev.p2pFlag = p2pId[0] ? 1 : 0;
    return info;
}

// A camera message as the relay hands it on; payload stays the caller's.
inline P2pMessage_S message(const char *cameraId, int32_t type, const void *payload, int32_t length)
{
    P2pMessage_S m;
    std::memset(&m, 0, sizeof(m));
    varno::setText(m.devId, cameraId);
    m.type = type;
    m.payload = static_cast<const char *>(payload);
    m.payloadLen = length;
    return m;
}

// The record with its password enciphered as the store holds it, the
// password a stored record deciphers to, the camera list of the open store.
using clienttest::enciphered;

inline QString plainPassword(const DeviceInfo_s &d)
{
    return QString::fromLatin1(clienttest::deciphered(d));
}

inline std::vector<DeviceInfo_s> stored()
{
    return clienttest::readStore(true);
}

} // namespace devicetest
