// ONVIF event library: pull-point subscriptions, one thread each.

#include "platform/onvif/onvif_event_sdk.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifparse.h"
#include "platform/onvif/onvifsoap.h"
#include "platform/onvif/onvifxml.h"

#include <QDateTime>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxSubscriptions = 1024;

std::mutex g_cbMutex;
ONVIF_EVENT_ALARM_CB g_callback = nullptr;
void *g_user = nullptr;

int mapError(int soapError)
{
    switch (soapError) {
    case onvif::kSoapOk: return 0;
    case onvif::kSoapNetwork:
    case onvif::kSoapTimeout:
    case onvif::kSoapAborted: return ONVIF_EVENT_ERR_NETWORK;
    case onvif::kSoapAuth: return ONVIF_EVENT_ERR_AUTH;
    default: return ONVIF_EVENT_ERR_REPLY;
    }
}

// Local "yyyy-MM-dd hh:mm:ss" of an event's UTC time, now when it has none.
std::string localTimeText(const std::string &utc)
{
    const long long secs = onvif::parseUtc(utc);
    const QDateTime t = secs >= 0 ? QDateTime::fromSecsSinceEpoch(secs) : QDateTime::currentDateTime();
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
}

class PullSubscription
{
public:
    PullSubscription(std::string eventAddr, std::string source, const onvif::Config &cfg)
        : m_eventAddr(std::move(eventAddr)), m_source(std::move(source)), m_cfg(cfg), m_soap(cfg)
    {
    }
    ~PullSubscription() { stopAndJoin(); }
    Q_DISABLE_COPY_MOVE(PullSubscription)

    // Creates the subscription on the calling thread; 0 or a negative code.
    int create();
    void start() { m_thread = std::thread(&PullSubscription::run, this); }
    void requestStop()
    {
        {
            std::lock_guard<std::mutex> lock(m_waitMutex);
            m_stop = true;
        }
        m_waitCv.notify_all();
    }
    void stopAndJoin()
    {
        requestStop();
        if (m_thread.joinable())
            m_thread.join();
    }
    std::thread::id threadId() const { return m_thread.get_id(); }

private:
    void run();
    int renew();
    int pull();
    void unsubscribe();
    void deliver(const onvif::EventItem &e);
    void scheduleRenew(long long current, long long termination);
    // Waits ms unless stopped; false when stopped.
    bool pause(int ms);

    std::string m_eventAddr;
    std::string m_source;
    onvif::Config m_cfg;
    onvif::SoapClient m_soap;
    onvif::Subscription m_sub;
    bool m_subscribed = false;
    Clock::time_point m_renewAt;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
};

std::mutex g_mutex;                 // guards the two below
bool g_started = false;
onvif::Config g_cfg;
std::map<std::string, std::unique_ptr<PullSubscription>> g_subs;

bool PullSubscription::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_waitCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
    return !m_stop;
}

void PullSubscription::scheduleRenew(long long current, long long termination)
{
    long long lifetime = m_cfg.eventTerminationS;
    if (current >= 0 && termination > current)
        lifetime = termination - current;
    // Renew when half the lifetime has passed, and never later than
    // one pull before the end.
    long long ms = lifetime * 500;
    ms = std::min(ms, lifetime * 1000 - (m_cfg.eventPullTimeoutS * 1000LL + 1000));
    ms = std::max(ms, 500LL);
    m_renewAt = Clock::now() + std::chrono::milliseconds(ms);
}

int PullSubscription::create()
{
    onvif::SoapReply r;
    m_soap.setAddressing(true);
    const std::string body = "<tev:CreatePullPointSubscription><tev:InitialTerminationTime>PT" +
                             std::to_string(m_cfg.eventTerminationS) +
                             "S</tev:InitialTerminationTime></tev:CreatePullPointSubscription>";
    const int rc = m_soap.call(m_eventAddr,
                               "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest",
                               body, true, &r, &m_stop);
    if (rc != onvif::kSoapOk)
        return mapError(rc);
    onvif::Subscription sub;
    if (!onvif::parseCreatePullPoint(r.body(), &sub)) {
        WriteLog(2, "%s(%d):Event service(%s) sent no subscription address!!!", "PullSubscription::create",
                 __LINE__, m_eventAddr.c_str());
        return ONVIF_EVENT_ERR_REPLY;
    }
    m_sub = sub;
    m_subscribed = true;
    m_soap.setAddressing(true, sub.referenceParams);
    scheduleRenew(sub.currentTime, sub.terminationTime);
    WriteLog(0, "[ALARM]Subscribed device(%s) at %s!!!", m_source.c_str(), m_sub.address.c_str());
    return 0;
}

int PullSubscription::renew()
{
    onvif::SoapReply r;
    const int rc = m_soap.call(m_sub.address, "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest",
                               "<wsnt:Renew><wsnt:TerminationTime>PT" + std::to_string(m_cfg.eventTerminationS) +
                                   "S</wsnt:TerminationTime></wsnt:Renew>",
                               true, &r, &m_stop);
    if (rc != onvif::kSoapOk)
        return rc;
    long long termination = -1;
    long long current = -1;
    onvif::parseRenew(r.body(), &termination, &current);
    scheduleRenew(current, termination);
    return 0;
}

void PullSubscription::deliver(const onvif::EventItem &e)
{
    if (e.alarmType < 0) {
        WriteLog(4, "[ALARM]Device(%s) event %s ignored!!!", m_source.c_str(), e.topic.c_str());
        return;
    }
    // The initial state of a property that is not active is no alarm.
    if (e.operation == "Initialized" && e.alarmType == EVENT_ALARM_DISARM)
        return;
    EVENT_alarm_info info{};
    varno::setText(info.source, m_source);
    varno::setText(info.time, localTimeText(e.utcTime));
    info.alarmType = e.alarmType;
    ONVIF_EVENT_ALARM_CB cb;
    void *user;
    {
        std::lock_guard<std::mutex> lock(g_cbMutex);
        cb = g_callback;
        user = g_user;
    }
    WriteLog(4, "[ALARM]Device(%s) alarm(%d) %s!!!", m_source.c_str(), info.alarmType, e.topic.c_str());
    if (cb)
        cb(&info, user);
}

int PullSubscription::pull()
{
    onvif::SoapReply r;
    const std::string body = "<tev:PullMessages><tev:Timeout>PT" + std::to_string(m_cfg.eventPullTimeoutS) +
                             "S</tev:Timeout><tev:MessageLimit>32</tev:MessageLimit></tev:PullMessages>";
    const int rc = m_soap.call(m_sub.address,
                               "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest",
                               body, true, &r, &m_stop, m_cfg.eventPullTimeoutS * 1000);
    if (rc != onvif::kSoapOk)
        return rc;
    std::vector<onvif::EventItem> events;
    long long current = -1;
    long long termination = -1;
    if (!onvif::parsePullMessages(r.body(), &events, &current, &termination))
        return onvif::kSoapReply;
    for (const auto &e : events) {
        if (m_stop)
            break;
        deliver(e);
    }
    return 0;
}

void PullSubscription::unsubscribe()
{
    if (!m_subscribed)
        return;
    // A short, separate attempt: the stop flag is already raised.
    onvif::Config quick = m_cfg;
    quick.connectTimeoutMs = std::min(quick.connectTimeoutMs, 1000);
    quick.requestTimeoutMs = std::min(quick.requestTimeoutMs, 2000);
    onvif::SoapClient soap(quick);
    soap.setAddressing(true, m_sub.referenceParams);
    const int rc = soap.call(m_sub.address, "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest",
                             "<wsnt:Unsubscribe/>", true, nullptr);
    if (rc != onvif::kSoapOk)
        WriteLog(3, "%s(%d):Unsubscribe at %s failed: %s!!!", "PullSubscription::unsubscribe", __LINE__,
                 m_sub.address.c_str(), onvif::soapErrorText(rc));
    m_subscribed = false;
}

void PullSubscription::run()
{
    InstallCrashHandlerOnThread();
    int failures = 0;
    while (!m_stop) {
        if (!m_subscribed) {
            const int rc = create();
            if (rc != 0) {
                if (m_stop)
                    break;
                if (++failures == 1)
                    WriteLog(2, "%s(%d):Subscribe device(%s) again failed, ret(%d)!!!", "PullSubscription::run",
                             __LINE__, m_source.c_str(), rc);
                pause(m_cfg.eventRetryMs);
                continue;
            }
            failures = 0;
        }
        if (Clock::now() >= m_renewAt) {
            const int rc = renew();
            if (m_stop)
                break;
            if (rc != onvif::kSoapOk) {
                WriteLog(3, "%s(%d):Renew for device(%s) failed: %s, subscribing again!!!", "PullSubscription::run",
                         __LINE__, m_source.c_str(), onvif::soapErrorText(rc));
                m_subscribed = false;
                if (rc != onvif::kSoapFault)
                    pause(m_cfg.eventRetryMs);
                continue;
            }
        }
        const int rc = pull();
        if (m_stop)
            break;
        if (rc != onvif::kSoapOk) {
            // The camera lost the subscription (fault) or is gone: start over.
            WriteLog(3, "%s(%d):Pull for device(%s) failed: %s!!!", "PullSubscription::run", __LINE__,
                     m_source.c_str(), onvif::soapErrorText(rc));
            m_subscribed = false;
            if (rc != onvif::kSoapFault)
                pause(m_cfg.eventRetryMs);
        }
    }
    unsubscribe();
}

} // namespace

extern "C" {

int ONVIF_EVENT_SDK_Startup(const char *localIp)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cfg = onvif::loadConfig();
    g_started = true;
    WriteLog(0, "[ALARM]Event library started, local IP(%s)!!!", localIp ? localIp : "");
    return 0;
}

int ONVIF_EVENT_SDK_SetAlarmCB(ONVIF_EVENT_ALARM_CB callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_cbMutex);
    g_callback = callback;
    g_user = user;
    return 0;
}

int ONVIF_EVENT_SDK_Subscribe(const char *eventAddr, const char *source, int mode)
{
    if (!eventAddr || !source || mode != ONVIF_EVENT_MODE_PULLPOINT)
        return ONVIF_EVENT_ERR_PARAM;
    const std::string addr(eventAddr, strnlen(eventAddr, 512));
    if (addr.rfind("http://", 0) != 0 && addr.rfind("https://", 0) != 0)
        return ONVIF_EVENT_ERR_PARAM;
    onvif::Config cfg;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_started)
            return ONVIF_EVENT_ERR_NOT_INIT;
        if (g_subs.count(addr))
            return 0;
        if (g_subs.size() >= kMaxSubscriptions)
            return ONVIF_EVENT_ERR_FULL;
        cfg = g_cfg;
    }
    auto sub = std::make_unique<PullSubscription>(addr, std::string(source, strnlen(source, 63)), cfg);
    const int rc = sub->create();
    if (rc != 0)
        return rc;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_started || g_subs.count(addr)) {
        // Cleanup or another Subscribe for the same address meanwhile.
        sub->stopAndJoin();
        return g_started ? 0 : ONVIF_EVENT_ERR_NOT_INIT;
    }
    sub->start();
    g_subs[addr] = std::move(sub);
    return 0;
}

int ONVIF_EVENT_SDK_Unsubscribe(const char *eventAddr)
{
    if (!eventAddr)
        return ONVIF_EVENT_ERR_PARAM;
    const std::string addr(eventAddr, strnlen(eventAddr, 512));
    std::unique_ptr<PullSubscription> sub;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = g_subs.find(addr);
        if (it == g_subs.end())
            return ONVIF_EVENT_ERR_NOT_FOUND;
        if (it->second->threadId() == std::this_thread::get_id())
            return ONVIF_EVENT_ERR_THREAD;
        sub = std::move(it->second);
        g_subs.erase(it);
    }
    sub->stopAndJoin();
    return 0;
}

int ONVIF_EVENT_SDK_Cleanup()
{
    std::map<std::string, std::unique_ptr<PullSubscription>> subs;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto &[addr, sub] : g_subs) {
            if (sub->threadId() == std::this_thread::get_id())
                return ONVIF_EVENT_ERR_THREAD;
        }
        subs.swap(g_subs);
        g_started = false;
    }
    // Stop all first so that they wind down together, then join.
    for (auto &[addr, sub] : subs)
        sub->requestStop();
    for (auto &[addr, sub] : subs)
        sub->stopAndJoin();
    return 0;
}

} // extern "C"
