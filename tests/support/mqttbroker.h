#pragma once

#include <QProcess>
#include <QString>

#include <memory>

namespace varno::test {

// A private Mosquitto broker on a free loopback port, with its own
// configuration file (anonymous access, no persistence, log to stdout).
// Stopped by the destructor. kill() and start() again keep the same port,
// so clients can be tested across a broker that dies and comes back.
class MqttBroker
{
public:
    MqttBroker();
    ~MqttBroker();
    MqttBroker(const MqttBroker &) = delete;
    MqttBroker &operator=(const MqttBroker &) = delete;

    // Lines that replace anonymous access in the listener's configuration
    // (TLS files, password file, access rules); before start().
    void setSecurity(const QString &lines) { m_security = lines; }

    // Starts the broker and waits until it accepts connections (<= 5 s).
    bool start();
    // Orderly stop (SIGTERM) or hard kill (SIGKILL); both wait for the end.
    void stop();
    void kill();
    bool isRunning() const;
    // The broker's process ID (0 when not running), for measurements.
    qint64 processId() const;

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    // Everything the broker printed so far.
    QString output() const;

    // Writes p2p.conf for the P2P library into the installation directory,
    // with extra lines (TLS, credentials) when given.
    bool writeClientConfig(const QString &extra = QString()) const;

private:
    quint16 m_port = 0;
    QString m_configPath;
    QString m_security;
    std::unique_ptr<QProcess> m_process;
    mutable QByteArray m_output;
};

// Waits until a TCP connection to 127.0.0.1:port succeeds.
bool waitForPort(quint16 port, int timeoutMs);

} // namespace varno::test
