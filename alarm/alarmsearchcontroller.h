#pragma once

#include "alarm/alarmrecords.h"
#include "common/jobworker.h"
#include "common/p2pmessage.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>

class QTimer;

namespace varno::alarm {

// The alarm log search of one P2P camera, without widgets: the connect and
// the request (message 127) on the controller's worker thread, then the
// replies, 129 (entries, possibly repeated across messages and in any
// order) and 130 (status: 2 or 3 done, 4 wrong password), collected here on
// the controller's thread. A camera that stops answering ends the search
// after the sync time-out (from the request or its last reply).
//
// cancel() ends a search at any point: a connect in progress stops at
// once, and nothing of that search is reported. The destructor cancels
// and joins the worker.
//
// Threads: every function on the controller's thread (asserted); replies
// reach takeReply through the owner's queued connection.
class AlarmSearchController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmSearchController)

public:
    static constexpr int kDefaultSyncTimeoutMs = 30000;

    explicit AlarmSearchController(QObject *parent = nullptr);
    ~AlarmSearchController() override;

    void setSyncTimeoutMs(int ms);
    int syncTimeoutMs() const;

    // Asks the camera (device ID devId, P2P ID p2pId) for its alarms from
    // start to end (seconds since the epoch), with its password. Syncing
    // from now until searchDone, searchFailed, passwordRefused or timedOut;
    // false (nothing asked) while a search runs.
    bool search(const QString &devId, const QByteArray &p2pId, const QByteArray &password, qint64 start,
                qint64 end);
    void cancel();
    bool isSyncing() const { return m_syncing; }
    // No connect or request job queued or running.
    bool idle() const { return m_worker.idle(); }

    // A reply of a camera (types 129 and 130; others are ignored). Lists of
    // the camera asked last are kept until the next search.
    void takeReply(const P2pMessage_S &message);

signals:
    // The alarms collected, oldest first (status 2 or 3).
    void searchDone(QList<AlarmRecord_s> records);
    // The camera could not be connected or asked (its result).
    void searchFailed(QString devId, int ret);
    void passwordRefused(QString devId);
    void timedOut(QString p2pId, int ms);

private:
    void takeAlarmList(const P2pMessage_S &message);
    void takeStatus(int32_t status);
    void syncTimedOut();
    void finish();

    QTimer *m_syncTimer;
    uint64_t m_ticket = 0;
    bool m_syncing = false;
    QString m_askedDevId;
    QString m_askedP2pId;                  // camera of the search in progress (or the last one)
    QSet<QString> m_seen;                  // text + type + sequence number
    QMap<QString, AlarmRecord_s> m_alarms; // time + duplicate key
    JobWorker m_worker;                    // last: joined before the rest goes
};

} // namespace varno::alarm
