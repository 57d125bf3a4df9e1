#include "rtspserverprocess.h"

#include "tests/support/testenv.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace varno::test {

RtspServerProcess::~RtspServerProcess()
{
    kill();
}

bool RtspServerProcess::start(const QStringList &arguments)
{
    const QString program = buildDir() + QStringLiteral("/tests/support/rtspserver/varno-test-rtspserver");
    if (!QFileInfo(program).isExecutable())
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freeLoopbackPort();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // GStreamer's plugin registry is a cache: one for the whole build
        // spares every test home a scan of all plugins (seconds each).
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!env.contains(QStringLiteral("GST_REGISTRY")))
            env.insert(QStringLiteral("GST_REGISTRY"), buildDir() + QStringLiteral("/gst-registry.bin"));
        m_process.setProcessEnvironment(env);
        m_process.start(program, QStringList{QStringLiteral("--port"), QString::number(m_port)} + arguments);
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (t.elapsed() < 15000 && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
            if (out.contains("READY")) {
                m_url = QStringLiteral("rtsp://127.0.0.1:%1/live").arg(m_port);
                return true;
            }
        }
        kill();
    }
    return false;
}

void RtspServerProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void RtspServerProcess::terminate()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
}

} // namespace varno::test
