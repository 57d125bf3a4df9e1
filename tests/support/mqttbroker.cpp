#include "mqttbroker.h"

#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

namespace varno::test {

bool waitForPort(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200)) {
            socket.disconnectFromHost();
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

MqttBroker::MqttBroker()
    : m_port(freeLoopbackPort())
{
    m_configPath = tempRoot() + QStringLiteral("/mosquitto-%1.conf").arg(m_port);
}

MqttBroker::~MqttBroker()
{
    stop();
}

bool MqttBroker::start()
{
    if (isRunning())
        return true;
    QFile conf(m_configPath);
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QString access = m_security.isEmpty() ? QStringLiteral("allow_anonymous true\n") : m_security;
    conf.write(QStringLiteral("listener %1 127.0.0.1\n"
                              "%2"
                              "persistence false\n"
                              "log_dest stdout\n"
                              "log_type error\nlog_type warning\nlog_type notice\n"
                              "max_queued_messages 10000\n"
                              "message_size_limit 0\n")
                   .arg(m_port)
                   .arg(access)
                   .toUtf8());
    conf.close();
    QFile::setPermissions(m_configPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ReadOther | QFileDevice::ReadGroup);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), m_configPath});
    if (!m_process->waitForStarted(5000))
        return false;
    if (!waitForPort(m_port, 5000)) {
        stop();
        return false;
    }
    return true;
}

void MqttBroker::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_output += m_process->readAll();
    m_process.reset();
}

void MqttBroker::kill()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_output += m_process->readAll();
    m_process.reset();
}

qint64 MqttBroker::processId() const
{
    return m_process && m_process->state() == QProcess::Running ? m_process->processId() : 0;
}

bool MqttBroker::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString MqttBroker::output() const
{
    if (m_process)
        m_output += m_process->readAll();
    return QString::fromUtf8(m_output);
}

bool MqttBroker::writeClientConfig(const QString &extra) const
{
    QDir().mkpath(installDir());
    QFile f(installDir() + QStringLiteral("/p2p.conf"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(QStringLiteral("# private test broker\nhost = 127.0.0.1\nport = %1\ntimeout_ms = 3000\n%2")
                .arg(m_port)
                .arg(extra)
                .toUtf8());
    return true;
}

} // namespace varno::test
