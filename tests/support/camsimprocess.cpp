#include "camsimprocess.h"

#include "testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUuid>

namespace varno::test {

CamSimProcess::~CamSimProcess()
{
    stop();
}

QString CamSimProcess::programPath()
{
    return buildDir() + QStringLiteral("/tools/camsim/varno-camsim");
}

bool CamSimProcess::start(const QByteArray &configJson, int timeoutMs)
{
    stop();
    const QString path = tempRoot() + QStringLiteral("/camsim-%1.json")
                                          .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write ") + path;
        return false;
    }
    f.write(configJson);
    f.close();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(programPath(), {path});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start ") + programPath();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (m_process->canReadLine()) {
            const QByteArray line = m_process->readLine().trimmed();
            if (line.startsWith("READY"))
                return true;
            continue;
        }
        if (m_process->state() != QProcess::Running)
            break;
        m_process->waitForReadyRead(100);
    }
    m_error = QString::fromUtf8(m_process->readAllStandardError());
    stop();
    return false;
}

QString CamSimProcess::command(const QString &line, int timeoutMs)
{
    if (!isRunning())
        return QStringLiteral("ERR not running");
    m_process->write(line.toUtf8() + '\n');
    m_process->waitForBytesWritten(1000);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (m_process->canReadLine())
            return QString::fromUtf8(m_process->readLine().trimmed());
        m_process->waitForReadyRead(50);
    }
    return QStringLiteral("ERR no answer");
}

qint64 CamSimProcess::processId() const
{
    return m_process && m_process->state() == QProcess::Running ? m_process->processId() : 0;
}

void CamSimProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() == QProcess::Running) {
        m_process->write("quit\n");
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

void CamSimProcess::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
    m_process.reset();
}

bool CamSimProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString simP2pCamera(const QString &deviceId, const QString &p2pId, const QString &name,
                     const QString &password, QSize hd, QSize sd, int fps, int hdKbps, int sdKbps,
                     int loopSeconds)
{
    const QString loop = loopSeconds > 0 ? QStringLiteral(R"(, "loopSeconds": %1)").arg(loopSeconds) : QString();
    auto stream = [&](QSize size, int kbps) {
        return QStringLiteral(R"({ "width": %1, "height": %2, "fps": %3, "kbps": %4%5 })")
            .arg(size.width())
            .arg(size.height())
            .arg(fps)
            .arg(kbps)
            .arg(loop);
    };
    return QStringLiteral(R"({ "kind": "p2p", "deviceId": "%1", "p2pId": "%2", "name": "%3", "password": "%4",
      "hd": %5, "sd": %6 })")
        .arg(deviceId, p2pId, name, password, stream(hd, hdKbps), stream(sd, sdKbps));
}

QStringList simGateAndYard(QSize hd, QSize sd, int fps, int hdKbps, int sdKbps, int loopSeconds)
{
    return {simP2pCamera(QStringLiteral("B765432"), QStringLiteral("VRNB-765432-KXPQT"), QStringLiteral("Gate"),
                         QStringLiteral("abc123"), hd, sd, fps, hdKbps, sdKbps, loopSeconds),
            simP2pCamera(QStringLiteral("C100200"), QStringLiteral("VRNC-100200-ABCDE"), QStringLiteral("Yard"),
                         QStringLiteral("pw9999"), hd, sd, fps, hdKbps, sdKbps, loopSeconds)};
}

QString simOnvifCameras(const QList<QPair<QString, QString>> &cameras, const QString &password)
{
    QStringList entries;
    for (const auto &c : cameras)
        entries << QStringLiteral(R"({ "uuid": "%1", "name": "%2", "password": "%3" })").arg(c.first, c.second, password);
    return QStringLiteral(R"({ "kind": "onvif", "id": "onvif", "discoveryPort": 0, "cameras": [ %1 ] })")
        .arg(entries.join(QStringLiteral(", ")));
}

QByteArray simConfig(quint16 brokerPort, const QString &storage, const QStringList &cameras)
{
    return QStringLiteral(R"({
  "broker": { "host": "127.0.0.1", "port": %1 },
  "storage": "%2",
  "cameras": [
    %3
  ]
})")
        .arg(brokerPort)
        .arg(storage, cameras.join(QStringLiteral(",\n    ")))
        .toUtf8();
}

} // namespace varno::test

