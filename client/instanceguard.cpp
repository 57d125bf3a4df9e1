#include "client/instanceguard.h"

#include "common/logfile.h"
#include "common/ui/infobox.h"
#include "resources/resourcepath.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLocale>
#include <QLockFile>
#include <QTranslator>
#include <QWidget>

namespace varno::client {

namespace {

constexpr int kAnswerWaitMs = 3000;
const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaisedAnswer = "raised\n";

void raiseTopLevelWindows()
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (!w->isVisible())
            continue;
        if (w->isMinimized())
            w->showNormal();
        w->raise();
        w->activateWindow();
    }
}

} // namespace

InstanceGuard::InstanceGuard(const QString &dataDir, QObject *parent)
    : QObject(parent)
    , m_dataDir(QDir::cleanPath(dataDir))
    , m_lockPath(m_dataDir + QStringLiteral("/varno.lock"))
    , m_raise(raiseTopLevelWindows)
{
    // Local socket names are short: a digest of the folder stands for it.
    const QByteArray digest = QCryptographicHash::hash(QFile::encodeName(m_dataDir), QCryptographicHash::Sha256);
    m_serverName = QStringLiteral("varno-") + QString::fromLatin1(digest.toHex().left(24));
}

InstanceGuard::~InstanceGuard()
{
    if (m_server)
        m_server->close();
    if (m_lock)
        m_lock->unlock();
}

void InstanceGuard::setRaiseAction(std::function<void()> action)
{
    m_raise = std::move(action);
}

InstanceGuard::Outcome InstanceGuard::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_lockPath);
    // Only a lock whose process is gone is stale, however old it is.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        const QLockFile::LockError error = m_lock->error();
        m_lock.reset();
        if (error != QLockFile::LockFailedError) {
            WriteLog(2, "%s(%d):Lock file(%s) cannot be made, error(%d), running unguarded!!!",
                     "InstanceGuard::acquire", __LINE__, QFile::encodeName(m_lockPath).constData(), int(error));
            return Outcome::NoLock;
        }
        qint64 pid = 0;
        QString host;
        QString app;
        QLockFile(m_lockPath).getLockInfo(&pid, &host, &app);
        WriteLog(3, "%s(%d):Data folder(%s) is in use by process(%lld)!!!", "InstanceGuard::acquire", __LINE__,
                 QFile::encodeName(m_dataDir).constData(), static_cast<long long>(pid));
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(kAnswerWaitMs)) {
            socket.write(kRaiseRequest);
            socket.flush();
            while (socket.bytesAvailable() < kRaisedAnswer.size() && socket.waitForReadyRead(kAnswerWaitMs)) {
            }
            if (socket.readAll() == kRaisedAnswer)
                return Outcome::OtherRaised;
        }
        return Outcome::OtherRunning;
    }
    WriteLog(0, "[CLIENT]Data folder(%s) locked!!!", QFile::encodeName(m_dataDir).constData());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a client that crashed is in the way: the lock is
    // ours, so whatever listens under the name is gone.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        WriteLog(3, "%s(%d):Listen on(%s) failed: %s!!!", "InstanceGuard::acquire", __LINE__,
                 m_serverName.toUtf8().constData(), m_server->errorString().toUtf8().constData());
    connect(m_server, &QLocalServer::newConnection, this, &InstanceGuard::onConnection);
    return Outcome::First;
}

void InstanceGuard::onConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A request is one short line; anything longer is not ours.
            if (socket->bytesAvailable() > 64) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            if (socket->readLine() != kRaiseRequest) {
                socket->abort();
                return;
            }
            WriteLog(0, "[CLIENT]Another start on this data folder, window brought to the front!!!");
            if (m_raise)
                m_raise();
            socket->write(kRaisedAnswer);
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

bool claimDataFolder(InstanceGuard &guard, QTranslator *translator)
{
    const InstanceGuard::Outcome outcome = guard.acquire();
    if (outcome == InstanceGuard::Outcome::First || outcome == InstanceGuard::Outcome::NoLock)
        return true;
    // No login chose a language yet: the system's.
    if (translator) {
        const bool german = QLocale::system().language() == QLocale::German;
        if (translator->load(varno::resourcePath(german ? QStringLiteral("./language/translate_en2gm.qm")
                                                        : QStringLiteral("./language/translate_en.qm"))))
            QCoreApplication::installTranslator(translator);
    }
    const QString folder = QFileInfo(guard.lockPath()).absolutePath();
    QString text = QCoreApplication::translate("InstanceGuard",
                                               "Another Varno PC Client is running with these data (%1).")
                       .arg(folder);
    if (outcome == InstanceGuard::Outcome::OtherRaised)
        text += QLatin1Char('\n')
            + QCoreApplication::translate("InstanceGuard", "Its window has been brought to the front.");
    WriteLog(0, "[CLIENT]Another client runs with these data, exit!!!");
    varno::ui::InfoBox(nullptr, QStringLiteral("PC Client"), text);
    return false;
}

} // namespace varno::client
