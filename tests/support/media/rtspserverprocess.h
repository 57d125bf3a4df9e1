#pragma once

#include <QProcess>
#include <QStringList>

namespace varno::test {

// The RTSP test server (varno-test-rtspserver) as a child process on a free
// loopback port; stopped (or killed) by its owner, always ended at last.
class RtspServerProcess
{
public:
    RtspServerProcess() = default;
    ~RtspServerProcess();
    RtspServerProcess(const RtspServerProcess &) = delete;
    RtspServerProcess &operator=(const RtspServerProcess &) = delete;

    // Starts it with extra arguments (--width, --still, --audio ...) and
    // waits for it to listen. False when the program is missing or fails.
    bool start(const QStringList &arguments = {});
    void kill();      // SIGKILL: the server dies mid-stream
    void terminate(); // orderly end
    QString url() const { return m_url; }
    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_url;
    quint16 m_port = 0;
};

} // namespace varno::test
