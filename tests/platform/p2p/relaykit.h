#pragma once

#include "platform/p2p/p2p_client_sdk.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace varno::test {

// Shared by the tests of the relay: bare MQTT connections, the P2P library
// with one registered handle, and a frame counter.

// A bare MQTT connection for tests that play a third party on the relay: a
// rogue client trying to read what is not its own, or someone injecting an
// envelope. Counts what arrives per topic. Disconnects in the destructor.
class RawMqtt
{
public:
    explicit RawMqtt(const QString &clientId);
    ~RawMqtt();
    RawMqtt(const RawMqtt &) = delete;
    RawMqtt &operator=(const RawMqtt &) = delete;

    void setCredentials(const QString &user, const QString &password);
    void setTls(const QString &caFile);
    // Connects and waits for the broker's answer: its CONNACK code, or -1
    // when nothing came within timeoutMs.
    int connect(quint16 port, int timeoutMs = 5000);
    // Subscribes at QoS 1 and waits for the SUBACK: the granted QoS (0x80:
    // refused), or -1 when nothing came.
    int subscribe(const QString &topic, int timeoutMs = 5000);
    // Publishes at QoS 1 and waits for the broker's PUBACK.
    bool publish(const QString &topic, const QByteArray &payload, bool retain = false,
                 int timeoutMs = 5000);
    // Called on the network thread for every message; it may answer with
    // send().
    void setHandler(std::function<void(const std::string &topic, const QByteArray &payload)> handler);
    void send(const std::string &topic, const std::vector<uint8_t> &payload);
    // Messages received on topics starting with prefix ("" for all).
    int received(const QString &prefix = QString()) const;
    // True while the broker has not closed the connection.
    bool connected() const;

private:
    // Runs change on the object of a library callback under its mutex and
    // wakes the waiters.
    template <class Change>
    static void update(void *obj, Change change);

    mosquitto *m_mosq = nullptr;
    bool m_loop = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_connack = -1;
    bool m_connected = false;
    std::map<int, int> m_subacks;   // message ID -> granted QoS
    std::map<int, bool> m_pubacks;
    std::map<std::string, int> m_received;
    std::function<void(const std::string &, const QByteArray &)> m_handler;
};

// A private RabbitMQ cluster on loopback (scripts/rabbitmq-cluster), its
// data under the test's temporary directory; stopped by the destructor.
class RabbitCluster
{
public:
    RabbitCluster() = default;
    ~RabbitCluster();
    RabbitCluster(const RabbitCluster &) = delete;
    RabbitCluster &operator=(const RabbitCluster &) = delete;

    static bool installed();
    // Starts nodes nodes and clusters them; false with the script's output
    // in error().
    bool start(int nodes);
    void stop();
    bool stopNode(int node);
    bool startNode(int node);
    bool addUser(const QString &name, const QString &password);
    // Users (name, password) with no rights but the access rules that
    // scripts/relay-acl --rabbitmq writes for aclArgs (client accounts and
    // cameras), imported as one set of definitions (--json, one rabbitmqctl
    // call); false when its rabbitmqctl lines say otherwise.
    bool addAccounts(const QList<QPair<QString, QString>> &users, const QStringList &aclArgs);
    // The TCP ports node N listens on, each with its address ("127.0.0.1").
    QList<QPair<QString, quint16>> listeners(int node) const;
    quint16 mqttPort(int node) const;
    // Its data folder (DIR/node<N>/pid holds each node's process ID).
    QString dir() const { return m_dir; }
    QString error() const { return m_error; }

private:
    bool run(const QStringList &args, int timeoutMs);

    QString m_dir;
    QList<quint16> m_ports;
    QString m_error;
    bool m_started = false;
};

// Live frames handed to a stream's callback.
struct FrameCounter
{
    std::atomic<int> video{0};
    std::atomic<int> keyFrames{0};   // IDR NAL units

    // True once more video NAL units than now have come within timeoutMs.
    bool grows(int more, int timeoutMs);
};

// A camera of the simulator with two small streams (20 fps, two-second
// loop); extraFields ("key": value, ...) go into its entry.
QString relayCamera(const char *deviceId, const char *cameraId, const char *password, const QString &extraFields);

// Camera cameraId's offline Presence, or with no deviceId an empty
// SessionClose, as a rogue would send them.
QByteArray forgedPresence(const char *cameraId, const char *deviceId);

// The P2P library with one handle, initialised from the p2p.conf of the
// installation directory and registered; released by the destructor.
class P2pLibrary
{
public:
    P2pLibrary() = default;
    ~P2pLibrary();
    P2pLibrary(const P2pLibrary &) = delete;
    P2pLibrary &operator=(const P2pLibrary &) = delete;

    // Init and Register: 0, or the failing call's result.
    int start();
    P2P_HANDLE handle() const { return m_handle; }
    // The camera ID the relay finds for a device ID (ret: the call's result).
    QByteArray lookup(const char *deviceId, int *ret) const;
    int32_t sessionStatus(const char *camera) const;
    bool waitSessionStatus(const char *camera, int32_t status, int timeoutMs) const;
    // Connects (when needed), reads the stream descriptions and opens the
    // first stream into counter: 0, or the first failing call's result.
    int openFirstStream(const char *camera, const char *password, FrameCounter &counter);

private:
    P2P_HANDLE m_handle = 0;
    char m_descr[P2P_STREAM_DESCR_BUFFER] = {};
};

} // namespace varno::test
