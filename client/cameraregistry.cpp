#include "client/cameraregistry.h"

#include "common/callabort.h"
#include "common/crashhandler.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "device/devicestore.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_discovery_sdk.h"
#include "platform/onvif/onvif_event_sdk.h"
#include "platform/p2p/p2psession.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <cstring>
#include <new>
#include <string_view>

namespace varno::client {

#define VARNO_ASSERT_OWN_THREAD() \
    Q_ASSERT_X(QThread::currentThread() == thread(), Q_FUNC_INFO, "not on the registry's thread")

namespace {

std::atomic<int> g_probeIntervalMs{5000};
std::atomic<int> g_retryIntervalMs{5000};

constexpr int kConnectAllPasses = 3;   // connectAllOnStart waits at most this many passes
// Every this many passes the online ONVIF cameras are asked again whether
// they still take the stored password (a password changed at the camera).
constexpr int kRecheckPasses = 12;

constexpr const char *kAccount = "varno-pc-client";
constexpr const char *kAppKey = "5D0E2A91C47B38F6A1E09C7D2B64F853";

bool passesFilter(int32_t type)
{
    switch (type) {
    case 11: case 14: case 17: case 35: case 73: case 87: case 88:
    case 126: case 129: case 130: case 155:
    case 161: case 163: case 166:   // pan/tilt/zoom answers
        return true;
    default:
        return false;
    }
}

// The device ID of a discovery result: the endpoint address without its
// "urn:uuid:" (or "urn:") prefix.
void endpointToId(const char (&endpoint)[64], char (&devId)[64])
{
    const size_t len = textLength(endpoint);
    if (len == 0)
        return;
    const std::string_view text(endpoint, len);
    if (text.find("urn:uuid:") != std::string_view::npos)
        setText(devId, text.substr(std::min<size_t>(9, len), 55));
    else if (text.find("urn:") != std::string_view::npos)
        setText(devId, text.substr(std::min<size_t>(4, len), 60));
    else
        setText(devId, text);
}

// An operation-log entry about a camera ("Device:<id> Online"), in the
// window's words.
QString deviceNote(const QString &id, const char *what)
{
    return QCoreApplication::translate("Client", "Device:") + id + QCoreApplication::translate("Client", what);
}

DvrListInfo_s idOnly(const QString &devId)
{
    DvrListInfo_s record;
    std::memset(&record, 0, sizeof(record));
    setText(record.dev.devId, devId);
    return record;
}

} // namespace

// Owns the registration thread. The destructor stops it (the retry wait
// ends at once) and joins it, then logs out and releases the library.
struct CameraRegistry::P2pRegistration
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    std::atomic<P2P_HANDLE> handle{0};   // the library this registration initialised

    ~P2pRegistration()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        cv.notify_all();
        if (thread.joinable())
            thread.join();
        // The one handle of the process goes with the library.
        const P2P_HANDLE own = handle.exchange(0);
        if (own) {
            setP2pHandle(0);
            P2P_Client_SDK_UnRegister(own);
            P2P_Client_SDK_UnInit(own);
        }
    }

    // Sleeps up to ms; true when the stop flag was set meanwhile.
    bool sleepUnlessStopped(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop; });
    }
    bool stopped()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stop;
    }
};

CameraRegistry::CameraRegistry(QObject *parent)
    : QObject(parent)
    , m_searchBuf(new (std::nothrow) DeviceInfo_s[kMaxDevices]())
    , m_snapBuf(new (std::nothrow) DeviceInfo_s[kMaxDevices]())
{
    if (!m_searchBuf || !m_snapBuf)
        WriteLog(1, "%s(%d):New failed!!!", "Client::Client", __LINE__);
}

CameraRegistry::~CameraRegistry()
{
    closeStore();
    releaseP2p();
}

void CameraRegistry::stopProbing()
{
    VARNO_ASSERT_OWN_THREAD();
    requestStop();
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(nullptr, nullptr);
    if (m_probeThread.joinable())
        m_probeThread.join();
}

void CameraRegistry::shutdown()
{
    VARNO_ASSERT_OWN_THREAD();
    if (m_shutDown)
        return;
    stopProbing();
    if (m_librariesOpen) {
        ONVIF_DISCOVERY_SDK_Cleanup();
        ONVIF_EVENT_SDK_Cleanup();
        m_librariesOpen = false;
    }
    // The last write: the addresses and settings probing found.
    requestStore();
    m_storeWorker.finish();
    m_shutDown = true;
}

// ---------------------------------------------------------------------------
// List and store

void CameraRegistry::openLibraries(const char *localIp)
{
    VARNO_ASSERT_OWN_THREAD();
    if (m_librariesOpen)
        return;
    ONVIF_EVENT_SDK_Startup(localIp);
    ONVIF_DISCOVERY_SDK_Startup(localIp);
    m_librariesOpen = true;
    const int ret = SDK_DVRMGR_Init(installDir().c_str());
    if (ret != 0)
        WriteLog(2, "%s(%d):SDK_DVRMGR_Init failed, ret(%d)!!!", "Client::Client", 63, ret);
    m_storeOpen = true;
}

void CameraRegistry::closeStore()
{
    VARNO_ASSERT_OWN_THREAD();
    shutdown();
    if (m_storeOpen)
        SDK_DVRMGR_UnInit();
    m_storeOpen = false;
}

void CameraRegistry::load()
{
    VARNO_ASSERT_OWN_THREAD();
    const QList<DvrListInfo_s> stored = device::readStoredDevices("Client::Client", 77);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devList = stored;
    m_entries.clear();
    for (const DvrListInfo_s &d : stored)
        m_entries.append({fieldText(d.dev.devId), fieldText(d.dev.devName), STATE_OFFLINE});
}

void CameraRegistry::requestStore()
{
    // A write still queued takes the list as it is when it runs.
    if (m_shutDown || m_storeQueued.exchange(true))
        return;
    m_storeWorker.post([this](const JobToken &) {
        m_storeQueued = false;
        QList<DvrListInfo_s> list;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            list = m_devList;
        }
        const int stored = device::rewriteStore(list, "Client::storeDevices", __LINE__, 2);
        if (stored != list.size())
            emit storeFailed(stored < 0 ? stored : int(DVRMGR_ERR_STORE));
    });
}

QList<DvrListInfo_s> CameraRegistry::deviceList() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devList;
}

QList<RegistryEntry> CameraRegistry::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

bool CameraRegistry::record(const QString &devId, DvrListInfo_s *out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int d = devIndexOf(devId);
    if (d < 0)
        return false;
    *out = m_devList[d];
    return true;
}

int CameraRegistry::state(const QString &devId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int t = entryIndexOf(devId);
    return t < 0 ? -1 : m_entries[t].state;
}

int CameraRegistry::look(const QString &devId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int t = entryIndexOf(devId);
    return t < 0 ? -1 : lookLocked(t);
}

int CameraRegistry::lookLocked(int t) const
{
    const QString &id = m_entries[t].devId;
    if (m_authRefused.contains(id))
        return kLookRefused;
    if (m_entries[t].state == STATE_OFFLINE && m_unaskable.contains(id))
        return kLookUnaskable;
    return m_entries[t].state;
}

bool CameraRegistry::refusesPassword(const QString &devId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_authRefused.contains(devId);
}

int CameraRegistry::devIndexOf(const QString &devId) const
{
    const QByteArray id = devId.toUtf8();
    for (int i = 0; i < m_devList.size(); ++i)
        if (fieldText(m_devList[i].dev.devId).toUtf8() == id)
            return i;
    return -1;
}

int CameraRegistry::entryIndexOf(const QString &devId) const
{
    for (int i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].devId == devId)
            return i;
    return -1;
}

ListChange CameraRegistry::applyList(const QList<DvrListInfo_s> &list, const QStringList *moved)
{
    VARNO_ASSERT_OWN_THREAD();
    ListChange change;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const DvrListInfo_s &in : list) {
            const QString id = fieldText(in.dev.devId);
            const int t = entryIndexOf(id);
            if (t >= 0) {
                RegistryEntry &entry = m_entries[t];
                if (entry.state != STATE_ONLINE || m_authRefused.contains(id)) {
                    entry.state = STATE_ONLINE;
                    m_authRefused.remove(id);
                    m_unaskable.remove(id);
                    change.nowOnline.append(id);
                }
                const int d = devIndexOf(id);
                if (d < 0)
                    continue;
                DvrListInfo_s &stored = m_devList[d];
                bool changed = true;
                const bool newAddress =
                    std::strncmp(stored.dev.ipAddr, in.dev.ipAddr, sizeof(stored.dev.ipAddr)) != 0;
                if (newAddress && (!moved || moved->contains(id))) {
                    // Seen at a new address: asked there with the password
                    // it was taken with.
                    std::memcpy(stored.dev.ipAddr, in.dev.ipAddr, sizeof(stored.dev.ipAddr));
                    std::memcpy(stored.dev.serviceAddr, in.dev.serviceAddr, sizeof(stored.dev.serviceAddr));
                    std::memcpy(stored.dev.password, in.dev.password, sizeof(stored.dev.password));
                    stored.config = in.config;
                } else if (stored.dev.p2pFlag != in.dev.p2pFlag
                           || std::memcmp(stored.dev.password, in.dev.password, sizeof(stored.dev.password)) != 0
                           || std::memcmp(stored.dev.p2pId, in.dev.p2pId, sizeof(stored.dev.p2pId)) != 0) {
                    stored.dev.p2pFlag = in.dev.p2pFlag;
                    std::memcpy(stored.dev.password, in.dev.password, sizeof(stored.dev.password));
                    std::memcpy(stored.dev.p2pId, in.dev.p2pId, sizeof(stored.dev.p2pId));
                } else {
                    changed = false;
                }
                if (changed)
                    change.changed.append(stored);
                continue;
            }
            // The store's read buffer holds kMaxDevices records: the list
            // never grows beyond them.
            if (m_devList.size() >= kMaxDevices) {
                WriteLog(3, "%s(%d):Device list full, device(%s) refused!!!", "Client::recvDevListSlot", __LINE__,
                         id.toUtf8().constData());
                ++change.refused;
                continue;
            }
            m_devList.append(in);
            m_entries.append({id, fieldText(in.dev.devName), STATE_ONLINE});
            change.added.append(in);
        }
    }
    if (!change.added.isEmpty() || !change.changed.isEmpty())
        requestStore();
    return change;
}

bool CameraRegistry::applyProperty(const DeviceInfo_s &info, DvrListInfo_s *updated)
{
    VARNO_ASSERT_OWN_THREAD();
    const QString id = fieldText(info.devId);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int t = entryIndexOf(id);
        if (t >= 0)
            m_entries[t].devName = fieldText(info.devName);
        const int d = devIndexOf(id);
        if (d < 0)
            return false;
        DeviceInfo_s &stored = m_devList[d].dev;
        std::memcpy(stored.devName, info.devName, sizeof(stored.devName));
        if (std::memcmp(stored.password, info.password, sizeof(stored.password)) != 0) {
            std::memcpy(stored.password, info.password, sizeof(stored.password));
            // The next pass asks the camera with the new password.
            m_recheck.insert(id);
        }
        // The live page reports the stream the user switched to here.
        if (info.streamType == 0 || info.streamType == 1)
            stored.streamType = info.streamType;
        *updated = m_devList[d];
    }
    requestStore();
    return true;
}

void CameraRegistry::setPtzCapability(const QString &devId, bool ptz)
{
    VARNO_ASSERT_OWN_THREAD();
    const char caps = ptz ? 2 : 1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int d = devIndexOf(devId);
        if (d < 0 || m_devList[d].dev.ptzCaps == caps)
            return;
        m_devList[d].dev.ptzCaps = caps;
    }
    requestStore();
}

bool CameraRegistry::remove(const QString &devId)
{
    VARNO_ASSERT_OWN_THREAD();
    bool erased = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int t = entryIndexOf(devId);
        if (t >= 0)
            m_entries.removeAt(t);
        m_authRefused.remove(devId);
        m_unaskable.remove(devId);
        m_recheck.remove(devId);
        const int d = devIndexOf(devId);
        if (d >= 0) {
            WriteLog(0, "[CLIENT]Finded device(%s) and erase!!!", devId.toUtf8().constData());
            m_devList.removeAt(d);
            erased = true;
        }
    }
    // The store follows at once: left until the next rewrite, the camera's
    // row would still be there when it is added again, which appends a
    // second one.
    if (erased)
        requestStore();
    return erased;
}

void CameraRegistry::markRecheck(const QString &devId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recheck.insert(devId);
}

// ---------------------------------------------------------------------------
// Discovery results

int CameraRegistry::onDiscoveryResult(OnvifDiscoveryInfo_s *results, int n, int last, void *user)
{
    auto *self = static_cast<CameraRegistry *>(user);
    return self ? self->discoveryResult(results, n, last) : 0;
}

int CameraRegistry::discoveryResult(OnvifDiscoveryInfo_s *results, int n, int last)
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    if (!m_searchBuf || !m_snapBuf)
        return 0;
    if (m_cycleComplete) {
        // A new cycle: a probe that nobody answered is one as well, or
        // cameras that vanished would stay found.
        m_searchCount = 0;
        m_cycleComplete = false;
        m_searchList.clear();
        std::memset(static_cast<void *>(m_searchBuf.get()), 0, sizeof(DeviceInfo_s) * kMaxDevices);
    }
    if (n < 1 || !results) {
        DeviceInfo_s marker;
        std::memset(&marker, 0, sizeof(marker));
        setText(marker.devId, "NO_FIND");
        m_searchList.append(marker);
    } else {
        if (m_searchCount + n > kMaxDevices)
            n = kMaxDevices - m_searchCount;
        if (n < 1)
            n = 0;   // the buffer is full: nothing is taken
        for (int i = 0; i < n; ++i) {
            DeviceInfo_s &rec = m_searchBuf[size_t(m_searchCount + i)];
            std::memset(&rec, 0, sizeof(rec));
            endpointToId(results[i].endpoint, rec.devId);
            setText(rec.ipAddr, std::string_view(results[i].ipAddr, textLength(results[i].ipAddr)));
            setText(rec.discoveryText, std::string_view(results[i].name, textLength(results[i].name)));
            setText(rec.serviceAddr, std::string_view(results[i].serviceAddr, textLength(results[i].serviceAddr)));
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

QList<DeviceInfo_s> CameraRegistry::searchResults() const
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    return m_searchList;
}

QList<DeviceInfo_s> CameraRegistry::searchSnapshot() const
{
    std::lock_guard<std::mutex> lock(m_searchMutex);
    QList<DeviceInfo_s> out;
    for (int i = 0; m_snapBuf && i < m_snapCount; ++i)
        out.append(m_snapBuf[size_t(i)]);
    return out;
}

// ---------------------------------------------------------------------------
// Probing

void CameraRegistry::setProbeIntervalMs(int ms)
{
    g_probeIntervalMs.store(ms > 0 ? ms : 1);
}

void CameraRegistry::connectAllOnStart()
{
    int expected = -1;
    m_connectAllPasses.compare_exchange_strong(expected, 0);
}

void CameraRegistry::startProbing()
{
    VARNO_ASSERT_OWN_THREAD();
    if (m_probeThread.joinable() || m_stop)
        return;
    ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(&CameraRegistry::onDiscoveryResult, this);
    m_probing = true;
    m_probeThread = std::thread(&CameraRegistry::probeThreadProc, this);
}

void CameraRegistry::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCv.notify_all();
    // The request the probing thread waits in ends now, not when the
    // camera answers (or its time-out runs out).
    m_callAbort.raise();
    if (m_p2p) {
        {
            std::lock_guard<std::mutex> lock(m_p2p->mutex);
            m_p2p->stop = true;
        }
        m_p2p->cv.notify_all();
    }
}

bool CameraRegistry::checkP2pOnline(const QString &devId, bool *unaskable)
{
    *unaskable = false;
    char p2pId[64] = {};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int d = devIndexOf(devId);
        if (d < 0 || m_devList[d].dev.p2pFlag == 0)
            return false;
        std::memcpy(p2pId, m_devList[d].dev.p2pId, sizeof(p2pId));
        p2pId[sizeof(p2pId) - 1] = 0;
    }
    // The library waits for the camera: the list stays free meanwhile.
    const P2P_HANDLE handle = p2pHandle();
    if (p2p::ensureSession(handle, p2pId) == 0)
        return true;
    int32_t online = 0;
    int32_t version = 0;
    if (P2P_Client_SDK_Get_Peer_Presence(handle, p2pId, &online, &version) == 0)
        *unaskable = online == 0 && version < 2;
    return false;
}

bool CameraRegistry::probeDevOnlineStatus(const QString &devId, int state, bool *refused)
{
    *refused = false;
    char serviceAddr[128] = {};
    char password[65] = {};
    bool recheck = false;
    {
        std::lock_guard<std::mutex> search(m_searchMutex);
        const QByteArray id = devId.toUtf8();
        const DeviceInfo_s *found = nullptr;
        for (const DeviceInfo_s &r : std::as_const(m_searchList))
            if (fieldText(r.devId).toUtf8() == id) {
                found = &r;
                break;
            }
        if (!found)
            return false;
        std::lock_guard<std::mutex> list(m_mutex);
        const int d = devIndexOf(devId);
        if (d < 0)
            return false;
        DeviceInfo_s &dev = m_devList[d].dev;
        std::memcpy(dev.ipAddr, found->ipAddr, sizeof(dev.ipAddr));
        std::memcpy(dev.serviceAddr, found->serviceAddr, sizeof(dev.serviceAddr));
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
    std::memset(password, 0, sizeof(password));
    DevConfig_s config;
    std::memset(&config, 0, sizeof(config));
    const int ret = SDK_DVRMGR_GetDevConfig(serviceAddr, &config);
    if (ret == DVRMGR_ERR_AUTH) {
        // The camera answers, but not to our password.
        *refused = true;
        return false;
    }
    if (ret != 0) {
        if (m_stop)
            return false;   // given up by the stop: nothing learnt
        // An online camera that discovery still finds stays online when
        // the recheck of its password fails on the way.
        if (state == STATE_ONLINE)
            return true;
        WriteLog(2, "%s(%d):Get device(%s) config failed!!!", "Client::probeDevOnlineStatus", 491,
                 devId.toUtf8().constData());
        return false;
    }
    DvrListInfo_s changed;
    bool configChangedNow = false;
    {
        std::lock_guard<std::mutex> list(m_mutex);
        const int d = devIndexOf(devId);
        if (d >= 0) {
            DevConfig_s &stored = m_devList[d].config;
            if (std::memcmp(stored.mainToken, config.mainToken, sizeof(config.mainToken)) != 0
                || std::memcmp(stored.subToken, config.subToken, sizeof(config.subToken)) != 0
                || std::memcmp(stored.eventAddr, config.eventAddr, sizeof(config.eventAddr)) != 0) {
                stored = config;
                changed = m_devList[d];
                configChangedNow = true;
            }
        }
    }
    // The live page subscribes to the events now that it knows where.
    if (configChangedNow)
        emit configChanged(changed);
    return true;
}

void CameraRegistry::probeOne(const QString &id, int stateBefore)
{
    bool refused = false;
    bool unaskable = false;
    const bool online = checkP2pOnline(id, &unaskable) || probeDevOnlineStatus(id, stateBefore, &refused);
    // A request the stop cut short says nothing about the camera.
    if (m_stop)
        return;

    // What this camera's answer changes, decided under the lock against the
    // entry as it is now (it may have changed, or gone, meanwhile); the
    // reports follow without the lock.
    enum class Report { None, Refused, RefusedToOffline, Online, Offline };
    Report report = Report::None;
    bool lookNow = false;
    int look = STATE_OFFLINE;
    int stateBeforeRefusal = STATE_OFFLINE;
    DvrListInfo_s record = idOnly(id);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int t = entryIndexOf(id);
        if (t < 0)
            return;
        RegistryEntry &entry = m_entries[t];
        const int state = entry.state;
        if (unaskable != m_unaskable.contains(id)) {
            // A presence the relay keeps from before (another node may know
            // better) leaves such a camera grey: its tool tip says why.
            if (unaskable)
                m_unaskable.insert(id);
            else
                m_unaskable.remove(id);
            lookNow = true;
        }
        const bool wasRefused = m_authRefused.contains(id);
        if (refused) {
            if (!wasRefused) {
                // Told once: the camera answers but refuses the stored
                // password. It is not usable, so the pages take it as
                // offline; Settings can fix the password.
                m_authRefused.insert(id);
                stateBeforeRefusal = state;
                entry.state = STATE_OFFLINE;
                report = Report::Refused;
                lookNow = true;
            }
        } else if (wasRefused && !online) {
            // From refusing to not answering at all.
            m_authRefused.remove(id);
            report = Report::RefusedToOffline;
            lookNow = true;
        } else {
            if (wasRefused) {
                m_authRefused.remove(id);
                lookNow = true;
            }
            if (online && state != STATE_ONLINE) {
                entry.state = STATE_ONLINE;
                report = Report::Online;
                lookNow = true;
                const int d = devIndexOf(id);
                if (d >= 0)
                    record = m_devList[d];
                else
                    std::memset(&record, 0, sizeof(record));
            } else if (!online && state != STATE_OFFLINE) {
                entry.state = STATE_OFFLINE;
                report = Report::Offline;
                lookNow = true;
            }
        }
        look = lookLocked(t);
    }
    if (lookNow)
        emit lookChanged(id, look);
    switch (report) {
    case Report::None:
        break;
    case Report::Refused:
        if (stateBeforeRefusal != STATE_OFFLINE)
            emit onlineChanged(STATE_OFFLINE, record);
        WriteLog(3, "%s(%d):Device(%s) refuses the stored password!!!", "Client::probeThreadProc", __LINE__,
                 id.toUtf8().constData());
        emit operation(deviceNote(id, " Wrong password"));
        break;
    case Report::RefusedToOffline:
        emit operation(deviceNote(id, " Offline"));
        break;
    case Report::Online:
        emit onlineChanged(STATE_ONLINE, record);
        emit operation(deviceNote(id, " Online"));
        break;
    case Report::Offline:
        emit onlineChanged(STATE_OFFLINE, record);
        emit operation(deviceNote(id, " Offline"));
        break;
    }
}

void CameraRegistry::probeThreadProc()
{
    InstallCrashHandlerOnThread();
    const CallAbortScope abortScope(&m_callAbort);
    int pass = 0;
    while (!m_stop) {
        ONVIF_DISCOVERY_SDK_Probe();
        m_recheckAll = ++pass % kRecheckPasses == 0;
        // The pass asks the cameras listed at its start, each without any
        // lock held while it waits for the camera.
        const QList<RegistryEntry> listed = entries();
        for (const RegistryEntry &e : listed) {
            if (m_stop)
                break;
            probeOne(e.devId, e.state);
        }
        bool allOnline = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            allOnline = !m_entries.isEmpty();
            for (const RegistryEntry &e : std::as_const(m_entries))
                allOnline = allOnline && e.state == STATE_ONLINE;
        }
        const int passes = m_connectAllPasses.load();
        if (passes >= 0 && !m_stop) {
            const bool now = allOnline || passes + 1 >= kConnectAllPasses;
            m_connectAllPasses = now ? -1 : passes + 1;
            if (now)
                emit connectAllDue();
        }
        m_probePasses.fetch_add(1);
        std::unique_lock<std::mutex> lock(m_stopMutex);
        m_stopCv.wait_for(lock, std::chrono::milliseconds(g_probeIntervalMs.load()), [this] { return m_stop.load(); });
    }
    m_probing = false;
}

// ---------------------------------------------------------------------------
// P2P registration and messages

void CameraRegistry::setP2pRetryIntervalMs(int ms)
{
    g_retryIntervalMs.store(ms > 0 ? ms : 1);
}

P2P_HANDLE CameraRegistry::p2pHandle()
{
    return varno::p2pHandle();
}

void CameraRegistry::startP2pRegistration(const char *localIp)
{
    VARNO_ASSERT_OWN_THREAD();
    if (m_p2p || m_stop)
        return;
    m_p2p = std::make_unique<P2pRegistration>();
    m_p2p->thread = std::thread(&CameraRegistry::registerP2p, this, m_p2p.get(), QByteArray(localIp));
}

void CameraRegistry::releaseP2p()
{
    VARNO_ASSERT_OWN_THREAD();
    m_p2p.reset();
}

void CameraRegistry::registerP2p(P2pRegistration *reg, QByteArray localIp)
{
    InstallCrashHandlerOnThread();
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = P2P_INIT_VERSION;
    setText(info.account, kAccount);
    setText(info.appKey, kAppKey);

    const std::string logDir = installDir() + "/log";
    makePath(logDir);

    P2P_HANDLE handle = 0;
    int ret = P2P_Client_SDK_Init(&info, localIp.constData(), logDir.c_str(), &handle);
    if (ret != 0) {
        reg->sleepUnlessStopped(1000);
        ret = P2P_Client_SDK_Init(&info, localIp.constData(), logDir.c_str(), &handle);
        if (ret != 0) {
            WriteLog(2, "%s(%d):P2P_Client_SDK_Init failed, ret(%d)!!!", "Client::registerP2PProcFunc", 368, ret);
            P2P_Client_SDK_UnInit(handle);
            return;
        }
    }
    // The dialogs and pages that talk to cameras by camera ID use it from here.
    reg->handle = handle;
    setP2pHandle(handle);

    P2P_Client_SDK_Set_StatusCB(
        handle, [](int32_t, int32_t, int32_t, int32_t) { return 0; }, handle);
    P2P_Client_SDK_Set_MsgCB(handle, &CameraRegistry::p2pMessageCallback, this);

    if (reg->stopped())
        return;
    // While the relay stays unreachable only the first failure is logged
    // (and a different failure); the success says how long it took.
    int lastFailure = 0;
    for (;;) {
        ret = P2P_Client_SDK_Register(handle, 0, 0);
        const int attempts = m_p2pAttempts.fetch_add(1) + 1;
        if (ret == 0) {
            if (attempts > 1)
                WriteLog(2, "P2P_Client_SDK_Register succeeded after %d failed attempts!!!", attempts - 1);
            WriteLog(2, "P2P_Client_SDK_Register success !!!");
            return;
        }
        if (ret != lastFailure)
            WriteLog(2, "P2P_Client_SDK_Register failed, ret(%d)!!!", ret);
        lastFailure = ret;
        // The stop flag ends the wait at once.
        if (reg->sleepUnlessStopped(g_retryIntervalMs.load()))
            return;
    }
}

int CameraRegistry::p2pMessageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId,
                                       void *user)
{
    auto *self = static_cast<CameraRegistry *>(user);
    if (!self || !passesFilter(type))
        return 0;
    P2pMessage_S msg;
    std::memset(&msg, 0, sizeof(msg));
    setText(msg.devId, cameraId);   // cut to 31 characters
    msg.type = type;
    // The library's payload lives only while this callback runs: the message
    // carries a copy (QByteArray adds a NUL behind the data) whose owner goes
    // with every queued delivery.
    const QByteArray copy = payload && length > 0 ? QByteArray(payload, length) : QByteArray("");
    msg.payload = copy.constData();
    msg.payloadLen = payload && length > 0 ? length : 0;
    emit self->p2pMessage(msg, copy);
    return 0;
}

} // namespace varno::client
