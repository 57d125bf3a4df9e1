#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;
class QTranslator;

// One running client per data folder. Two clients on one installation
// directory would each write back their own camera list and settings over
// the other's, so the first start holds a lock file in the folder
// ("varno.lock") and listens on a local socket named after the folder. A
// second start finds the lock held, asks the running client through the
// socket to bring its window to the front, tells the user and ends. A lock
// left by a client that crashed (its process is gone) is taken over.
namespace varno::client {

class InstanceGuard : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstanceGuard)

public:
    enum class Outcome {
        First,        // the lock is ours and the socket listens
        OtherRaised,  // another client holds it and brought its window forward
        OtherRunning, // another client holds it and did not answer
        NoLock,       // the lock file cannot be made (folder not writable): not guarded
    };

    explicit InstanceGuard(const QString &dataDir, QObject *parent = nullptr);
    ~InstanceGuard() override;

    Outcome acquire();
    // What a later start asks of this one (default: every visible top-level
    // window is raised and activated). Runs on this object's thread.
    void setRaiseAction(std::function<void()> action);

    QString lockPath() const { return m_lockPath; }
    QString serverName() const { return m_serverName; }

private:
    void onConnection();

    QString m_dataDir;
    QString m_lockPath;
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    std::function<void()> m_raise;
};

// Start-up's use of the guard: true when this client may run; otherwise the
// user was told that another client runs with these data (in the
// language of the system, loaded into translator) and the program ends.
bool claimDataFolder(InstanceGuard &guard, QTranslator *translator);

} // namespace varno::client
