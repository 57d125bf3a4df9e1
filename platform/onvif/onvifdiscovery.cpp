// ONVIF discovery library: one socket and one thread per process.

#include "platform/onvif/onvif_discovery_sdk.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "platform/onvif/onvifconf.h"
#include "platform/onvif/onvifprobe.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Most results taken from one probe cycle; answers beyond are dropped.
constexpr size_t kMaxCycleResults = 1024;

class DiscoveryEngine
{
public:
    DiscoveryEngine(int sock, onvif::Config cfg) : m_sock(sock), m_cfg(std::move(cfg)) {}
    ~DiscoveryEngine() { stop(); }
    Q_DISABLE_COPY_MOVE(DiscoveryEngine)

    void start() { m_thread = std::thread(&DiscoveryEngine::run, this); }
    void stop();
    void requestProbe();
    std::thread::id threadId() const { return m_thread.get_id(); }

private:
    void run();
    void runCycle();
    void deliver(std::vector<OnvifDiscoveryInfo_s> &pending, size_t count, bool last);

    int m_sock;
    onvif::Config m_cfg;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_probeRequested = false;
};

std::mutex g_mutex;                 // guards g_engine
std::unique_ptr<DiscoveryEngine> g_engine;
std::mutex g_cbMutex;               // guards the callback and its user value
ONVIF_DISCOVERY_CB g_callback = nullptr;
void *g_user = nullptr;

void DiscoveryEngine::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_sock >= 0) {
        ::close(m_sock);
        m_sock = -1;
    }
}

void DiscoveryEngine::requestProbe()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_probeRequested = true;
    }
    m_cv.notify_all();
}

void DiscoveryEngine::run()
{
    InstallCrashHandlerOnThread();
    while (true) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stop || m_probeRequested; });
            if (m_stop)
                return;
            m_probeRequested = false;
        }
        runCycle();
    }
}

void DiscoveryEngine::deliver(std::vector<OnvifDiscoveryInfo_s> &pending, size_t count, bool last)
{
    ONVIF_DISCOVERY_CB cb;
    void *user;
    {
        std::lock_guard<std::mutex> lock(g_cbMutex);
        cb = g_callback;
        user = g_user;
    }
    if (cb)
        cb(count ? pending.data() : nullptr, static_cast<int>(count), last ? 1 : 0, user);
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(count));
}

void DiscoveryEngine::runCycle()
{
    using Clock = std::chrono::steady_clock;
    const std::string messageId = onvif::newMessageId();
    const std::string probe = onvif::buildProbe(messageId);

    // Drop what is left from earlier cycles.
    char scratch[512];
    while (::recv(m_sock, scratch, sizeof(scratch), MSG_DONTWAIT) >= 0) {
    }

    for (const auto &t : m_cfg.probeTargets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(t.port);
        inet_pton(AF_INET, t.ip.c_str(), &to.sin_addr);
        if (::sendto(m_sock, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to)) < 0)
            WriteLog(2, "%s(%d):Probe to %s:%u failed, errno(%d)!!!", "ONVIF_DISCOVERY_SDK_Probe", __LINE__,
                     t.ip.c_str(), t.port, errno);
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(m_cfg.probeWindowMs);
    const size_t batch = static_cast<size_t>(m_cfg.probeBatch);
    std::vector<OnvifDiscoveryInfo_s> pending;
    std::set<std::string> seen;
    size_t total = 0;
    bool capLogged = false;
    std::vector<char> buf(onvif::kMaxProbeMatchBytes + 1);

    while (!m_stop) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd p{m_sock, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50)));
        if (ready > 0) {
            while (!m_stop) {
                sockaddr_in from{};
                socklen_t fromLen = sizeof(from);
                const ssize_t n = ::recvfrom(m_sock, buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC,
                                             reinterpret_cast<sockaddr *>(&from), &fromLen);
                if (n < 0)
                    break;
                char ip[INET_ADDRSTRLEN] = {0};
                inet_ntop(AF_INET, &from.sin_addr, ip, sizeof(ip));
                if (static_cast<size_t>(n) > onvif::kMaxProbeMatchBytes) {
                    WriteLog(3, "%s(%d):Discovery datagram of %zd bytes from %s dropped!!!",
                             "DiscoveryEngine::runCycle", __LINE__, n, ip);
                    continue;
                }
                std::vector<OnvifDiscoveryInfo_s> found;
                onvif::parseProbeMatches(buf.data(), static_cast<size_t>(n), messageId, ip, &found);
                for (const auto &r : found) {
                    std::string key(r.endpoint, strnlen(r.endpoint, sizeof(r.endpoint)));
                    if (key.empty())
                        key = std::string(r.serviceAddr, strnlen(r.serviceAddr, sizeof(r.serviceAddr)));
                    if (!seen.insert(key).second)
                        continue;
                    if (total >= kMaxCycleResults) {
                        if (!capLogged)
                            WriteLog(3, "%s(%d):More than %zu answers to one probe, rest dropped!!!",
                                     "DiscoveryEngine::runCycle", __LINE__, kMaxCycleResults);
                        capLogged = true;
                        continue;
                    }
                    pending.push_back(r);
                    ++total;
                }
            }
        }
        // Keep at least one result back so that the last call carries one.
        while (pending.size() > batch && !m_stop)
            deliver(pending, batch, false);
    }
    if (m_stop)
        return;
    WriteLog(4, "[DEVICE]Probe(%s) found %zu device(s)!!!", messageId.c_str(), total);
    deliver(pending, pending.size(), true);
}

int openSocket(const char *localIp)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    // Room for a burst of answers from a crowded network.
    // (SO_RCVBUFFORCE passes the system limit when we may, else the
    // limit applies.)
    const int rcv = 4 << 20;
    if (::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &rcv, sizeof(rcv)) != 0)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof(rcv));
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (localIp && *localIp && inet_pton(AF_INET, localIp, &local) != 1) {
        WriteLog(3, "%s(%d):Local IP(%s) is not an IPv4 address, any address used!!!",
                 "ONVIF_DISCOVERY_SDK_Startup", __LINE__, localIp);
        local.s_addr = htonl(INADDR_ANY);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = local;
    if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        WriteLog(3, "%s(%d):Bind to %s failed, errno(%d), any address used!!!", "ONVIF_DISCOVERY_SDK_Startup",
                 __LINE__, localIp ? localIp : "", errno);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        local.s_addr = htonl(INADDR_ANY);
        if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
            ::close(s);
            return -1;
        }
    }
    if (local.s_addr != htonl(INADDR_ANY))
        ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof(local));
    const unsigned char ttl = 1;
    ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    return s;
}

} // namespace

extern "C" {

int ONVIF_DISCOVERY_SDK_Startup(const char *localIp)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_engine) {
        if (g_engine->threadId() == std::this_thread::get_id())
            return ONVIF_DISCOVERY_ERR_THREAD;
        g_engine.reset();
    }
    onvif::Config cfg = onvif::loadConfig();
    const int s = openSocket(localIp);
    if (s < 0) {
        WriteLog(2, "%s(%d):Open discovery socket failed, errno(%d)!!!", "ONVIF_DISCOVERY_SDK_Startup", __LINE__,
                 errno);
        return ONVIF_DISCOVERY_ERR_SOCKET;
    }
    for (const auto &t : cfg.probeTargets)
        WriteLog(0, "[DEVICE]Discovery target %s:%u from %s!!!", t.ip.c_str(), t.port,
                 localIp && *localIp ? localIp : "any");
    g_engine = std::make_unique<DiscoveryEngine>(s, std::move(cfg));
    g_engine->start();
    return 0;
}

int ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(ONVIF_DISCOVERY_CB callback, void *user)
{
    std::lock_guard<std::mutex> lock(g_cbMutex);
    g_callback = callback;
    g_user = user;
    return 0;
}

int ONVIF_DISCOVERY_SDK_Probe()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_engine)
        return ONVIF_DISCOVERY_ERR_NOT_INIT;
    g_engine->requestProbe();
    return 0;
}

int ONVIF_DISCOVERY_SDK_Cleanup()
{
    std::unique_ptr<DiscoveryEngine> engine;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_engine)
            return 0;
        if (g_engine->threadId() == std::this_thread::get_id())
            return ONVIF_DISCOVERY_ERR_THREAD;
        engine = std::move(g_engine);
    }
    engine.reset();
    return 0;
}

} // extern "C"
