#include "alarm/alarmsearchcontroller.h"

#include "common/authtoken.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/randomsource.h"
#include "common/textfield.h"
#include "device/devicestore.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cstring>

namespace varno::alarm {

#define VARNO_ASSERT_OWN_THREAD() \
    Q_ASSERT_X(QThread::currentThread() == thread(), Q_FUNC_INFO, "not on the controller's thread")

namespace {

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

} // namespace

AlarmSearchController::AlarmSearchController(QObject *parent)
    : QObject(parent)
    , m_syncTimer(new QTimer(this))
{
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setInterval(kDefaultSyncTimeoutMs);
    connect(m_syncTimer, &QTimer::timeout, this, &AlarmSearchController::syncTimedOut);
}

AlarmSearchController::~AlarmSearchController()
{
    VARNO_ASSERT_OWN_THREAD();
}

void AlarmSearchController::setSyncTimeoutMs(int ms)
{
    m_syncTimer->setInterval(ms > 0 ? ms : kDefaultSyncTimeoutMs);
}

int AlarmSearchController::syncTimeoutMs() const
{
    return m_syncTimer->interval();
}

bool AlarmSearchController::search(const QString &devId, const QByteArray &p2pId, const QByteArray &password,
                                   qint64 start, qint64 end)
{
    VARNO_ASSERT_OWN_THREAD();
    if (m_syncing)
        return false;
    m_seen.clear();
    m_alarms.clear();
    m_askedDevId = devId;
    m_askedP2pId = QString::fromUtf8(p2pId);
    // Syncing from here: a reply may come back before the job reports.
    m_syncing = true;
    const uint64_t ticket = ++m_ticket;
    const QByteArray id = text8(devId);
    auto job = [this, ticket, id, p2pId, password, start, end](const JobToken &token) {
        ALARM_SEARCH_REQ_S req;
        std::memset(&req, 0, sizeof req);
        req.nonce = authNonce();
        req.startTime = static_cast<int32_t>(start);
        req.endTime = static_cast<int32_t>(end);
        MakeAuthToken(password.constData(), req.nonce, req.token);
        const P2P_HANDLE handle = p2pHandle();
        static const device::ConnectNames names{"QAlarmSearch::search", "%s(%d):Handle is NULL!!!", 500};
        int ret = device::connectPeer(handle, p2pId.constData(), names, token);
        if (ret != 0) {
            WriteLog(2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "QAlarmSearch::search", __LINE__,
                     id.constData(), ret);
        } else if (token.cancelled()) {
            ret = device::kConnectCancelled;
        } else {
            ret = P2P_Client_SDK_Deliver_Msg(handle, p2pId.constData(), P2P_MSG_ALARM_SEARCH,
                                             reinterpret_cast<const char *>(&req), sizeof req);
            if (ret < 0)
                WriteLog(2, "%s(%d):Deliver to device(%s) failed, ret(%d)!!!", "QAlarmSearch::search", __LINE__,
                         id.constData(), ret);
            else
                WriteLog(0, "[ALARM]Request seaech log from device(%s) success!!!", id.constData());
        }
        std::memset(&req, 0, sizeof req);
        QMetaObject::invokeMethod(
            this,
            [this, ticket, ret] {
                if (ticket != m_ticket || !m_syncing)
                    return; // cancelled, or decided by a reply already
                if (ret < 0) {
                    finish();
                    emit searchFailed(m_askedDevId, ret);
                    return;
                }
                if (!m_syncTimer->isActive())
                    m_syncTimer->start();
            },
            Qt::QueuedConnection);
    };
    if (!m_worker.post(job))
        job(JobToken::cancelledToken());
    return true;
}

void AlarmSearchController::cancel()
{
    VARNO_ASSERT_OWN_THREAD();
    ++m_ticket;
    m_worker.cancel();
    if (m_syncing)
        WriteLog(0, "[ALARM]Search of device(%s) cancelled!!!", text8(m_askedDevId).constData());
    finish();
}

void AlarmSearchController::finish()
{
    m_syncing = false;
    m_syncTimer->stop();
}

void AlarmSearchController::takeReply(const P2pMessage_S &message)
{
    VARNO_ASSERT_OWN_THREAD();
    if (message.type != P2P_MSG_ALARM_STATUS && message.type != P2P_MSG_ALARM_LIST)
        return;
    const QString camera = fieldText(message.devId);
    const bool asked = !m_askedP2pId.isEmpty() && camera == m_askedP2pId.left(sizeof(message.devId) - 1);
    // Every reply of the camera asked gives it the full time-out again.
    if (asked && m_syncing && m_syncTimer->isActive())
        m_syncTimer->start();
    if (message.type == P2P_MSG_ALARM_STATUS) {
        if (!message.payload || message.payloadLen < int32_t(sizeof(ALARM_STATUS_S))) {
            WriteLog(3, "%s(%d):Short alarm status(%d) from device(%s)!!!", "QAlarmSearch::recvP2pMessage", __LINE__,
                     int(message.payloadLen), text8(camera).constData());
            return;
        }
        if (!asked)
            return;
        ALARM_STATUS_S status;
        std::memcpy(&status, message.payload, sizeof status);
        takeStatus(status.status);
        return;
    }
    if (asked)
        takeAlarmList(message);
}

void AlarmSearchController::takeAlarmList(const P2pMessage_S &message)
{
    const QString camera = fieldText(message.devId);
    int32_t count = -1;
    if (message.payload && message.payloadLen >= int32_t(sizeof(ALARM_LIST_RSP_S)))
        std::memcpy(&count, message.payload, sizeof count);
    // The count must fit the payload: 4 bytes and count entries of 52.
    if (count < 0
        || qint64(message.payloadLen) < qint64(sizeof(ALARM_LIST_RSP_S)) + qint64(count) * qint64(sizeof(ALARM_ITEM_S))) {
        WriteLog(3, "%s(%d):Alarm list of device(%s) dropped, count(%d), length(%d)!!!",
                 "QAlarmSearch::recvP2pMessage", __LINE__, text8(camera).constData(), int(count),
                 int(message.payloadLen));
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        ALARM_ITEM_S item;
        std::memcpy(&item, message.payload + sizeof(ALARM_LIST_RSP_S) + size_t(i) * sizeof(ALARM_ITEM_S), sizeof item);
        item.text[sizeof item.text - 1] = 0;
        const QString key1 = fieldText(item.text) + QString::asprintf("%02d%03d", item.type, item.seq);
        if (m_seen.contains(key1))
            continue;
        m_seen.insert(key1);
        AlarmRecord_s record;
        std::memset(&record, 0, sizeof record);
        setText(record.devId, m_askedDevId);
        record.item = item;
        m_alarms.insert(QString::number(item.time) + key1, record);
    }
}

void AlarmSearchController::takeStatus(int32_t status)
{
    WriteLog(0, "[ALARM]Sync alarm log status(%d)!!!", status);
    if (status == P2P_ALARM_SYNC_DONE || status == P2P_ALARM_SYNC_EMPTY) {
        ++m_ticket; // the job's report, if still to come, changes nothing
        finish();
        emit searchDone(m_alarms.values());
    } else if (status == P2P_ALARM_SYNC_PASSWORD) {
        ++m_ticket;
        finish();
        WriteLog(2, "%s(%d):Password is incorrect!!!", "QAlarmSearch::RecvSyncStatus", __LINE__);
        emit passwordRefused(m_askedDevId);
    }
}

void AlarmSearchController::syncTimedOut()
{
    if (!m_syncing)
        return;
    ++m_ticket;
    finish();
    WriteLog(2, "%s(%d):Device(%s) did not finish the alarm log in %d ms!!!", "QAlarmSearch::syncTimedOut", __LINE__,
             text8(m_askedP2pId).constData(), m_syncTimer->interval());
    emit timedOut(m_askedP2pId, m_syncTimer->interval());
}

} // namespace varno::alarm
