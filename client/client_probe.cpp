// Online probing of the cameras and the ONVIF discovery results.
#include "client/client.h"

#include "alarm/qalarmsearch.h"
#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <cstring>

namespace {

std::atomic<int> g_probeIntervalMs{5000};
constexpr int kConnectAllPasses = 3;   // connectAllOnStart waits at most this many passes
// Every this many passes the online ONVIF cameras are asked again whether
// they still take the stored password (a password changed at the camera).
constexpr int kRecheckPasses = 12;

// The device ID of a discovery result: the endpoint address without its
// "urn:uuid:" (or "urn:") prefix.
void endpointToId(const char (&endpoint)[64], char (&devId)[64])
{
    const size_t len = varno::textLength(endpoint);
    if (len == 0)
        return;
    const std::string_view text(endpoint, len);
    if (text.find("urn:uuid:") != std::string_view::npos)
        varno::setText(devId, text.substr(std::min<size_t>(9, len), 55));
    else if (text.find("urn:") != std::string_view::npos)
        varno::setText(devId, text.substr(std::min<size_t>(4, len), 60));
    else
        varno::setText(devId, text);
}

} // namespace

void Client::setProbeIntervalMs(int ms)
{
    g_probeIntervalMs.store(ms > 0 ? ms : 1);
}

void Client::connectAllOnStart()
{
    int expected = -1;
    m_connectAllPasses.compare_exchange_strong(expected, 0);
}

void Client::startProbeThread()
{
    if (m_probeThread.joinable())
        return;
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(&Client::OnDiscoveryResult, this);
    m_probeThread = std::thread(&Client::probeThreadProc, this);
}

void Client::stopProbeThread()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCv.notify_all();
    if (m_probeThread.joinable())
        m_probeThread.join();
}

int Client::OnDiscoveryResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user)
{
    auto *client = static_cast<Client *>(user);
    return client ? client->discoveryResult(results, n, last) : 0;
}

int Client::discoveryResult(OnvifDiscoveryInfo_s *results, int n, int last)
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    if (!m_searchBuf || !m_snapBuf)
        return 0;
    if (n < 1 || !results) {
        // A probe that nobody answered is a cycle of its own: the results of
        // the one before go, or cameras that vanished would stay found.
        if (m_cycleComplete) {
            m_searchCount = 0;
            m_cycleComplete = false;
            m_searchList.clear();
            std::memset(static_cast<void *>(m_searchBuf.get()), 0, sizeof(DeviceInfo_s) * kMaxDevices);
        }
        DeviceInfo_s marker;
        std::memset(&marker, 0, sizeof(marker));
        varno::setText(marker.devId, "NO_FIND");
        m_searchList.append(marker);
    } else {
        if (m_cycleComplete) {
            m_searchCount = 0;
            m_cycleComplete = false;
            m_searchList.clear();
            std::memset(static_cast<void *>(m_searchBuf.get()), 0, sizeof(DeviceInfo_s) * kMaxDevices);
        }
        if (m_searchCount + n > kMaxDevices)
            n = kMaxDevices - m_searchCount;
        if (n < 1)
            n = 0;   // the buffer is full: nothing is taken
        for (int i = 0; i < n; ++i) {
            DeviceInfo_s &rec = m_searchBuf[size_t(m_searchCount + i)];
            std::memset(&rec, 0, sizeof(rec));
            endpointToId(results[i].endpoint, rec.devId);
            varno::setText(rec.ipAddr, std::string_view(results[i].ipAddr, varno::textLength(results[i].ipAddr)));
            varno::setText(rec.discoveryText, std::string_view(results[i].name, varno::textLength(results[i].name)));
            varno::setText(rec.serviceAddr,
                           std::string_view(results[i].serviceAddr, varno::textLength(results[i].serviceAddr)));
            m_searchList.append(rec);
        }
        m_searchCount += n;
    }
    if (last == 1) {
        m_snapCount = m_searchCount;
        std::memcpy(static_cast<void *>(m_snapBuf.get()), m_searchBuf.get(), sizeof(DeviceInfo_s) * size_t(m_snapCount));
        m_cycleComplete = true;
    }
    return 0;
}

QList<DeviceInfo_s> Client::searchResults() const
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    return m_searchList;
}

QList<DeviceInfo_s> Client::searchSnapshot() const
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    QList<DeviceInfo_s> out;
    for (int i = 0; m_snapBuf && i < m_snapCount; ++i)
        out.append(m_snapBuf[size_t(i)]);
    return out;
}

bool Client::checkP2pOnline(const QString &devId, bool *unaskable)
{
    if (unaskable)
        *unaskable = false;
    char p2pId[64] = {};
    {
        std::lock_guard<std::mutex> lock(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d < 0 || m_devList[d].dev.p2pFlag == 0)
            return false;
        std::memcpy(p2pId, m_devList[d].dev.p2pId, sizeof(p2pId));
        p2pId[sizeof(p2pId) - 1] = 0;
    }
    // The library waits for the camera: the list stays free meanwhile.
    const P2P_HANDLE handle = p2pHandle();
    int32_t status = 0;
    if (P2P_Client_SDK_Get_Session_Status(handle, p2pId, &status) >= 0 && status == P2P_SESSION_CONNECTED)
        return true;
    if (P2P_Client_SDK_Connect_Peer(handle, p2pId) == 0)
        return true;
    int32_t online = 0;
    int32_t version = 0;
    if (unaskable && P2P_Client_SDK_Get_Peer_Presence(handle, p2pId, &online, &version) == 0)
        *unaskable = online == 0 && version < 2;
    return false;
}

bool Client::probeDevOnlineStatus(const QString &devId, int state, bool *refused)
{
    if (refused)
        *refused = false;
    char serviceAddr[128] = {};
    char password[65] = {};
    bool recheck = false;
    {
        std::lock_guard<std::mutex> search(m_searchMutex);
        const QByteArray id = devId.toUtf8();
        const DeviceInfo_s *found = nullptr;
        for (const DeviceInfo_s &r : std::as_const(m_searchList))
            if (varno::fieldText(r.devId).toUtf8() == id) {
                found = &r;
                break;
            }
        if (!found)
            return false;
        std::lock_guard<std::mutex> list(m_devListMutex);
        const int d = devIndexOf(devId);
        if (d < 0)
            return false;
        DeviceInfo_s &dev = m_devList[d].dev;
        if (std::strncmp(dev.ipAddr, found->ipAddr, sizeof(dev.ipAddr)) != 0
            || std::strncmp(dev.serviceAddr, found->serviceAddr, sizeof(dev.serviceAddr)) != 0) {
            std::memcpy(dev.ipAddr, found->ipAddr, sizeof(dev.ipAddr));
            std::memcpy(dev.serviceAddr, found->serviceAddr, sizeof(dev.serviceAddr));
        }
        std::memcpy(serviceAddr, dev.serviceAddr, sizeof(serviceAddr));
        serviceAddr[sizeof(serviceAddr) - 1] = 0;
        std::memcpy(password, dev.password, sizeof(dev.password));
        recheck = m_recheck.remove(devId) || m_recheckAll;
    }
    if (state == STATE_ONLINE && !recheck)
        return true;

    // The camera is asked without holding the lists.
    if (password[0] != 0)
        SDK_DVRMGR_SetOnvifCredentials(serviceAddr, password);
    DevConfig_s config;
    std::memset(&config, 0, sizeof(config));
    const int ret = SDK_DVRMGR_GetDevConfig(serviceAddr, &config);
    if (ret == DVRMGR_ERR_AUTH) {
        // The camera answers, but not to our password.
        if (refused)
            *refused = true;
        return false;
    }
    if (ret != 0) {
        // An online camera that discovery still finds stays online when
        // the recheck of its password fails on the way.
        if (state == STATE_ONLINE)
            return true;
        WriteLog(2, "%s(%d):Get device(%s) config failed!!!", "Client::probeDevOnlineStatus", 491,
                 devId.toUtf8().constData());
        return false;
    }
    std::lock_guard<std::mutex> list(m_devListMutex);
    const int d = devIndexOf(devId);
    if (d >= 0) {
        DevConfig_s &stored = m_devList[d].config;
        if (std::memcmp(stored.mainToken, config.mainToken, sizeof(config.mainToken)) != 0
            || std::memcmp(stored.subToken, config.subToken, sizeof(config.subToken)) != 0
            || std::memcmp(stored.eventAddr, config.eventAddr, sizeof(config.eventAddr)) != 0) {
            stored = config;
            // The live page subscribes to the events now that it knows where.
            passToLivePage(m_devList[d]);
        }
    }
    return true;
}

void Client::probeThreadProc()
{
    InstallCrashHandlerOnThread();
    int pass = 0;
    while (!m_stop) {
        ONVIF_DISCOVERY_SDK_Probe();
        bool allOnline = false;
        m_recheckAll = ++pass % kRecheckPasses == 0;
        {
            std::lock_guard<std::mutex> tree(m_treeMutex);
            for (int i = 0; i < m_treeList.size() && !m_pause && !m_stop; ++i) {
                const QString id = varno::fieldText(m_treeList[i].devId);
                const int state = m_treeList[i].state;
                bool refused = false;
                bool unaskable = false;
                const bool online = checkP2pOnline(id, &unaskable) || probeDevOnlineStatus(id, state, &refused);
                if (unaskable != m_unaskable.contains(id)) {
                    // A presence the relay keeps from before (another node
                    // may know better) leaves such a camera grey: its tool
                    // tip says why.
                    if (unaskable)
                        m_unaskable.insert(id);
                    else
                        m_unaskable.remove(id);
                    QMetaObject::invokeMethod(this, "applyTreeIcon", Qt::QueuedConnection, Q_ARG(QString, id),
                                              Q_ARG(int, unaskable ? kLookUnaskable : m_treeList[i].state));
                }
                const bool wasRefused = m_authRefused.contains(id);
                if (refused) {
                    if (wasRefused)
                        continue;
                    // Told once: the camera answers but refuses the stored
                    // password. It is not usable, so the pages take it as
                    // offline; Settings can fix the password.
                    m_authRefused.insert(id);
                    m_treeList[i].state = STATE_OFFLINE;
                    QMetaObject::invokeMethod(this, "applyTreeIcon", Qt::QueuedConnection, Q_ARG(QString, id),
                                              Q_ARG(int, kLookRefused));
                    if (state != STATE_OFFLINE) {
                        DvrListInfo_s record;
                        std::memset(&record, 0, sizeof(record));
                        std::memcpy(record.dev.devId, m_treeList[i].devId, sizeof(record.dev.devId));
                        emit sendOnLineState(STATE_OFFLINE, record);
                    }
                    WriteLog(3, "%s(%d):Device(%s) refuses the stored password!!!", "Client::probeThreadProc",
                             __LINE__, id.toUtf8().constData());
                    recordOperation(tr("Device:") + id + tr(" Wrong password"));
                    continue;
                }
                if (wasRefused) {
                    m_authRefused.remove(id);
                    if (!online) {
                        // From refusing to not answering at all.
                        QMetaObject::invokeMethod(this, "applyTreeIcon", Qt::QueuedConnection, Q_ARG(QString, id),
                                                  Q_ARG(int, STATE_OFFLINE));
                        recordOperation(tr("Device:") + id + tr(" Offline"));
                        continue;
                    }
                }
                if (online && state != STATE_ONLINE) {
                    m_treeList[i].state = STATE_ONLINE;
                    QMetaObject::invokeMethod(this, "applyTreeIcon", Qt::QueuedConnection, Q_ARG(QString, id),
                                              Q_ARG(int, STATE_ONLINE));
                    DvrListInfo_s record;
                    std::memset(&record, 0, sizeof(record));
                    {
                        std::lock_guard<std::mutex> list(m_devListMutex);
                        const int d = devIndexOf(id);
                        if (d >= 0)
                            record = m_devList[d];
                    }
                    emit sendOnLineState(STATE_ONLINE, record);
                    if (m_alarm && record.dev.devId[0] != 0)
                        m_alarm->UpdateAlarmDevice(record);
                    recordOperation(tr("Device:") + id + tr(" Online"));
                } else if (!online && state != STATE_OFFLINE) {
                    m_treeList[i].state = STATE_OFFLINE;
                    QMetaObject::invokeMethod(this, "applyTreeIcon", Qt::QueuedConnection, Q_ARG(QString, id),
                                              Q_ARG(int, STATE_OFFLINE));
                    DvrListInfo_s record;
                    std::memset(&record, 0, sizeof(record));
                    std::memcpy(record.dev.devId, m_treeList[i].devId, sizeof(record.dev.devId));
                    emit sendOnLineState(STATE_OFFLINE, record);
                    recordOperation(tr("Device:") + id + tr(" Offline"));
                }
            }
            allOnline = !m_treeList.isEmpty();
            for (const DevTreeEntry &e : std::as_const(m_treeList))
                allOnline = allOnline && e.state == STATE_ONLINE;
        }
        const int passes = m_connectAllPasses.load();
        if (passes >= 0 && !m_stop) {
            const bool now = allOnline || passes + 1 >= kConnectAllPasses;
            m_connectAllPasses = now ? -1 : passes + 1;
            if (now)
                QMetaObject::invokeMethod(this, &Client::connectAllAction, Qt::QueuedConnection);
        }
        m_probePasses.fetch_add(1);
        std::unique_lock<std::mutex> lock(m_stopMutex);
        m_stopCv.wait_for(lock, std::chrono::milliseconds(g_probeIntervalMs.load()), [this] { return m_stop.load(); });
    }
}
