// The peer-to-peer half of Client: the registration thread, the library's
// message and status callbacks, and the signal that hands camera messages
// to the pages.

#include "client/client.h"

#include "common/crashhandler.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// The process-wide handle of the P2P library (0 until the registration
// thread's Init succeeds).
std::atomic<P2P_HANDLE> g_p2pHandle{0};

std::atomic<int> g_retryIntervalMs{5000};

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


} // namespace

// Owns the registration thread. The destructor stops it (the 5 s wait ends
// at once) and joins it, then logs out and releases the library.
struct ClientP2p
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;

    ~ClientP2p()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        cv.notify_all();
        if (thread.joinable())
            thread.join();
        // Shutdown: log out and release the library once.
        const P2P_HANDLE handle = g_p2pHandle.exchange(0);
        varno::setP2pHandle(0);
        if (handle) {
            P2P_Client_SDK_UnRegister(handle);
            P2P_Client_SDK_UnInit(handle);
        }
    }

    // Sleeps up to ms; true when the stop flag was set meanwhile.
    bool sleepUnlessStopped(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop; });
    }
};

void Client::setP2pRetryIntervalMs(int ms)
{
    g_retryIntervalMs.store(ms > 0 ? ms : 1);
}

P2P_HANDLE Client::p2pHandle()
{
    return g_p2pHandle.load();
}

void Client::startP2PRegistration()
{
    if (m_p2p)
        return;
    m_p2p = std::make_shared<ClientP2p>();
    m_p2p->thread = std::thread([this] { registerP2PProcFunc(); });
}

bool Client::p2pStopRequested() const
{
    if (m_stop.load())
        return true;
    if (!m_p2p)
        return false;
    std::lock_guard<std::mutex> lock(m_p2p->mutex);
    return m_p2p->stop;
}

void Client::registerP2PProcFunc()
{
    InstallCrashHandlerOnThread();
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = P2P_INIT_VERSION;
    varno::setText(info.account, kAccount);
    varno::setText(info.appKey, kAppKey);

    const std::string logDir = varno::installDir() + "/log";
    varno::makePath(logDir);

    P2P_HANDLE handle = 0;
    int ret = P2P_Client_SDK_Init(&info, m_localIp, logDir.c_str(), &handle);
    if (ret != 0) {
        m_p2p->sleepUnlessStopped(1000);
        ret = P2P_Client_SDK_Init(&info, m_localIp, logDir.c_str(), &handle);
        if (ret != 0) {
            WriteLog(2, "%s(%d):P2P_Client_SDK_Init failed, ret(%d)!!!", "Client::registerP2PProcFunc", 368, ret);
            P2P_Client_SDK_UnInit(handle);
            g_p2pHandle.store(0);
            varno::setP2pHandle(0);
            return;
        }
    }
    g_p2pHandle.store(handle);
    // The dialogs and pages that talk to cameras by camera ID use it from here.
    varno::setP2pHandle(handle);

    P2P_Client_SDK_Set_StatusCB(handle, &Client::p2pStatusCallback, handle);
    P2P_Client_SDK_Set_MsgCB(handle, &Client::p2pMessageCallback, this);

    if (p2pStopRequested())
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
        if (m_p2p->sleepUnlessStopped(g_retryIntervalMs.load()) || p2pStopRequested())
            return;
    }
}

int Client::p2pStatusCallback(int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}

int Client::p2pMessageCallback(int32_t type, const char *payload, int32_t length, const char *cameraId,
                               void *user)
{
    auto *self = static_cast<Client *>(user);
    if (!self || !passesFilter(type))
        return 0;
    P2pMessage_S msg;
    std::memset(&msg, 0, sizeof(msg));
    varno::setText(msg.devId, cameraId);   // cut to 31 characters
    msg.type = type;
    // The library's payload lives only while this callback runs: the message
    // carries a copy (QByteArray adds a NUL behind the data) whose owner goes
    // with every queued delivery.
    const QByteArray copy = payload && length > 0 ? QByteArray(payload, length) : QByteArray("");
    msg.payload = copy.constData();
    msg.payloadLen = payload && length > 0 ? length : 0;
    emit self->sendP2pMsg(msg, copy);
    return 0;
}
