#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

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

// Pieces of the simulator's configuration file.
// One P2P camera: main and sub stream sizes at fps frames a second and the
// given bit rates; loopSeconds 0 keeps the simulator's own loop length.
QString simP2pCamera(const QString &deviceId, const QString &p2pId, const QString &name,
                     const QString &password, QSize hd, QSize sd, int fps, int hdKbps, int sdKbps,
                     int loopSeconds = 0);
// The two P2P cameras the window tests share: "Gate" (B765432, password
// "abc123") and "Yard" (C100200, "pw9999").
QStringList simGateAndYard(QSize hd, QSize sd, int fps, int hdKbps, int sdKbps, int loopSeconds = 0);
// A group of ONVIF cameras (uuid, name) answering discovery on a free port,
// all with the given password.
QString simOnvifCameras(const QList<QPair<QString, QString>> &cameras, const QString &password);
// The whole file: the broker at 127.0.0.1:brokerPort, recordings kept under
// storage, and the cameras.
QByteArray simConfig(quint16 brokerPort, const QString &storage, const QStringList &cameras);

} // namespace varno::test
