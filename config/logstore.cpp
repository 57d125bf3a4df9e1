#include "config/logstore.h"

#include "common/logfile.h"
#include "platform/devmgr/sdk_dvrmgr.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace varno::config {

#define VARNO_ASSERT_OWN_THREAD() \
    Q_ASSERT_X(QThread::currentThread() == thread(), Q_FUNC_INFO, "not on the store's thread")

namespace {

void writeEntry(const LogInfo_s &info)
{
    const int ret = SDK_DVRMGR_WriteLog(info);
    if (ret != 0)
        WriteLog(2, "%s(%d):WriteLog failed, ret(%d)!!!", "QLogMgr::recvLogInfo", __LINE__, ret);
}

} // namespace

LogStore::LogStore(QObject *parent)
    : QObject(parent)
{
}

LogStore::~LogStore()
{
    VARNO_ASSERT_OWN_THREAD();
    // Entries given are entries stored.
    m_worker.finish();
}

void LogStore::load()
{
    VARNO_ASSERT_OWN_THREAD();
    m_loading = true;
    auto job = [this](const JobToken &) {
        QList<LogInfo_s> entries;
        // The read buffer lives only as long as the read.
        std::unique_ptr<LogInfo_s[]> buffer(new (std::nothrow) LogInfo_s[kMaxLogEntries]);
        if (!buffer) {
            WriteLog(1, "%s(%d):Allocate log buffer failed!!!", "QLogMgr::QLogMgr", __LINE__);
        } else {
            std::memset(buffer.get(), 0, sizeof(LogInfo_s) * kMaxLogEntries);
            int count = 0;
            const int ret = SDK_DVRMGR_ReadLog(buffer.get(), &count);
            if (ret != 0)
                WriteLog(2, "%s(%d):ReadLog failed, ret(%d)!!!", "QLogMgr::QLogMgr", __LINE__, ret);
            count = std::clamp(count, 0, kMaxLogEntries);
            entries.reserve(count);
            for (int i = 0; i < count; ++i)
                entries.append(buffer[i]);
        }
        QMetaObject::invokeMethod(
            this,
            [this, entries = std::move(entries)] {
                m_loading = false;
                emit loaded(entries);
            },
            Qt::QueuedConnection);
    };
    if (!m_worker.post(job))
        job(JobToken::cancelledToken());
}

void LogStore::append(const LogInfo_s &info)
{
    VARNO_ASSERT_OWN_THREAD();
    if (!m_loading) {
        writeEntry(info);
        return;
    }
    if (!m_worker.post([info](const JobToken &) { writeEntry(info); }))
        writeEntry(info);
}

} // namespace varno::config
