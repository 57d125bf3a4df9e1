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

} // namespace varno::test
