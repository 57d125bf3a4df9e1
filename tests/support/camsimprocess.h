#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <memory>

namespace varno::test {

// The camera simulator (varno-camsim) as a child process with a given
// configuration; control lines go to its standard input and each answer is
// read back. Stopped by the destructor.
class CamSimProcess
{
public:
    CamSimProcess() = default;
    ~CamSimProcess();
    CamSimProcess(const CamSimProcess &) = delete;
    CamSimProcess &operator=(const CamSimProcess &) = delete;

    // Writes the configuration to a file, starts the program and waits for
    // "READY" (timeoutMs). Returns false with the program's output in error().
    bool start(const QByteArray &configJson, int timeoutMs = 60000);
    // Sends one control line and returns the answer line ("OK ..."/"ERR ...").
    QString command(const QString &line, int timeoutMs = 10000);
    void stop();
    void kill();
    bool isRunning() const;
    // The program's process ID (0 when not running), for measurements.
    qint64 processId() const;
    QString error() const { return m_error; }

    // Path of the program in the build tree.
    static QString programPath();

private:
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};

} // namespace varno::test
