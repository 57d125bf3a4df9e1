#include "live/cameraevents.h"

#include "common/logfile.h"
#include "common/uithread.h"
#include "platform/onvif/onvif_event_sdk.h"

#include <QMetaObject>
#include <QThread>

#include <set>
#include <shared_mutex>

namespace varno::live {

namespace {

// Owners alive, for the event library's alarm callback: it runs only while
// its owner is registered, and an owner leaves the set only when no callback
// of it runs any more.
std::shared_mutex &ownersLock()
{
    static auto *lock = new std::shared_mutex;
    return *lock;
}

std::set<const void *> &owners()
{
    static auto *set = new std::set<const void *>;
    return *set;
}

// Subscribes at the address, then at port 8899 instead of 8090; the
// address that took it, or empty.
QByteArray subscribeAt(const QString &devId, const QString &eventAddr)
{
    const QByteArray key = devId.toUtf8();
    const QByteArray source = "urn:uuid:" + key;
    QByteArray a = eventAddr.toUtf8();
    int ret = ONVIF_EVENT_SDK_Subscribe(a.constData(), source.constData(), ONVIF_EVENT_MODE_PULLPOINT);
    if (ret == 0)
        return a;
    a.replace("8090", "8899");
    ret = ONVIF_EVENT_SDK_Subscribe(a.constData(), source.constData(), ONVIF_EVENT_MODE_PULLPOINT);
    if (ret == 0)
        return a;
    WriteLog(2, "%s(%d):Subscribe  device(%s) failed, ret(%d)!!!", "realvideo::setDevInfo", __LINE__,
             key.constData(), ret);
    return QByteArray();
}

void unsubscribeAt(QByteArray addr)
{
    int ret = ONVIF_EVENT_SDK_Unsubscribe(addr.constData());
    if (ret != 0) {
        addr.replace("2000", "8899");
        ret = ONVIF_EVENT_SDK_Unsubscribe(addr.constData());
        if (ret != 0)
            WriteLog(2, "%s(%d):Unsubscribe(%s) failed, ret(%d)!!!", "realvideo::~realvideo", __LINE__,
                     addr.constData(), ret);
    }
}

} // namespace

CameraEvents::CameraEvents(QObject *parent)
    : QObject(parent)
{
    {
        std::unique_lock lock(ownersLock());
        owners().insert(this);
    }
    ONVIF_EVENT_SDK_SetAlarmCB(&CameraEvents::onAlarm, this);
}

CameraEvents::~CameraEvents()
{
    VARNO_ASSERT_UI_THREAD();
    ONVIF_EVENT_SDK_SetAlarmCB(nullptr, nullptr);
    // A subscription still to be made is not made; one made meanwhile is
    // ended by the library's cleanup below.
    m_worker.cancel();
    QList<QByteArray> addrs;
    for (auto it = m_subscribed.cbegin(); it != m_subscribed.cend(); ++it)
        addrs.append(it.value().toUtf8());
    m_worker.post([addrs](const JobToken &) {
        for (const QByteArray &a : addrs)
            unsubscribeAt(a);
    });
    m_worker.finish();
    ONVIF_EVENT_SDK_Cleanup();
    // Waits for an alarm callback of this object that still runs.
    std::unique_lock lock(ownersLock());
    owners().erase(this);
}

int CameraEvents::onAlarm(const EVENT_alarm_info *info, void *user)
{
    if (!info || !user)
        return 0;
    std::shared_lock lock(ownersLock());
    if (!owners().count(user))
        return 0;
    emit static_cast<CameraEvents *>(user)->alarm(*info);
    return 0;
}

void CameraEvents::subscribe(const QString &devId, const QString &eventAddr)
{
    VARNO_ASSERT_UI_THREAD();
    if (devId.isEmpty() || eventAddr.isEmpty() || m_subscribed.contains(devId) || m_pending.contains(devId))
        return;
    m_pending.insert(devId, eventAddr);
    const bool posted = m_worker.post([this, devId, eventAddr](const JobToken &token) {
        if (token.cancelled())
            return;
        const QByteArray took = subscribeAt(devId, eventAddr);
        // The answer on the owner's thread; this object outlives its worker.
        QMetaObject::invokeMethod(
            this,
            [this, devId, took] {
                m_pending.remove(devId);
                if (!took.isEmpty())
                    m_subscribed.insert(devId, QString::fromUtf8(took));
            },
            Qt::QueuedConnection);
    });
    if (!posted)
        m_pending.remove(devId);
}

QStringList CameraEvents::subscriptions() const
{
    return m_subscribed.keys();
}

} // namespace varno::live
