#pragma once

#include "common/devicerecords.h"
#include "common/jobworker.h"

#include <QList>
#include <QObject>

namespace varno::config {

// The operation log's store, without widgets. The stored entries (at most
// kMaxLogEntries) are read on the store's worker thread and come back as
// loaded. An entry given while that read is under way is written after it
// on the same thread (the read does not hold it, the page shows it once);
// once the read is in, an entry (one small insert) is written at once.
// The destructor writes whatever is still queued and joins the worker.
//
// Threads: every function on the store's thread (asserted).
class LogStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogStore)

public:
    explicit LogStore(QObject *parent = nullptr);
    ~LogStore() override;

    // Reads the stored entries: loaded follows (oldest first).
    void load();
    void append(const LogInfo_s &info);
    bool loading() const { return m_loading; }

signals:
    void loaded(QList<LogInfo_s> entries);

private:
    bool m_loading = false;
    JobWorker m_worker; // last: finished before the rest goes
};

} // namespace varno::config
