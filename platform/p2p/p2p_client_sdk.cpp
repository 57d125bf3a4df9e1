#include "platform/p2p/p2p_client_sdk.h"

#include "common/installdir.h"
#include "common/logfile.h"
#include "platform/p2p/p2p_client.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

using varno::p2p::Client;

namespace {

// Handles are small numbers, never pointers: a stale handle finds nothing.
std::mutex g_mutex;
std::map<P2P_HANDLE, std::shared_ptr<Client>> g_clients;
P2P_HANDLE g_nextHandle = 0;

std::shared_ptr<Client> lookup(P2P_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_clients.find(handle);
    return it == g_clients.end() ? nullptr : it->second;
}

std::string fixedText(const char *field, size_t size)
{
    return std::string(field, ::strnlen(field, size));
}

} // namespace

extern "C" {

int P2P_Client_SDK_Init(const P2P_INIT_INFO_S *info, const char *localIp, const char *logDir,
                        P2P_HANDLE *handle)
{
    (void)localIp;
    (void)logDir;
    if (!info || !handle)
        return P2P_ERR_PARAM;
    if (info->version != P2P_INIT_VERSION) {
        WriteLog(2, "%s(%d):Unsupported init block version(%d)!!!", "P2P_Client_SDK_Init", __LINE__,
                 info->version);
        return P2P_ERR_PARAM;
    }
    const auto config = varno::p2p::readConfig(varno::installDir() + "/p2p.conf");
    // A call that a callback makes may hold the last reference when another
    // thread releases the handle: the client then ends on a thread of its
    // own making, never on the library thread whose join it would wait for.
    std::shared_ptr<Client> client(
        new Client(config, fixedText(info->account, sizeof(info->account)),
                   fixedText(info->appKey, sizeof(info->appKey))),
        [](Client *c) {
            if (varno::p2p::onLibraryThread())
                std::thread([c] { delete c; }).detach();
            else
                delete c;
        });
    std::lock_guard<std::mutex> lock(g_mutex);
    *handle = ++g_nextHandle;
    g_clients[*handle] = std::move(client);
    return 0;
}

int P2P_Client_SDK_UnInit(P2P_HANDLE handle)
{
    // Inside a callback the library cannot end: its threads would have to
    // wait for the callback that asks them to.
    if (varno::p2p::onLibraryThread()) {
        WriteLog(2, "%s(%d):Called inside a callback, handle(%d) kept!!!", "P2P_Client_SDK_UnInit", __LINE__,
                 int(handle));
        return P2P_ERR_BUSY;
    }
    std::shared_ptr<Client> client;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_clients.find(handle);
        if (it == g_clients.end())
            return P2P_ERR_PARAM;
        client = std::move(it->second);
        g_clients.erase(it);
    }
    // Released here, or by the last call still running with it.
    client.reset();
    return 0;
}

#define P2P_CLIENT_OR_FAIL(h)                                                                      \
    auto client = lookup(h);                                                                       \
    if (!client)                                                                                   \
        return P2P_ERR_NOT_INIT;

int P2P_Client_SDK_Set_StatusCB(P2P_HANDLE handle, P2P_STATUS_CB callback, intptr_t user)
{
    P2P_CLIENT_OR_FAIL(handle);
    client->setStatusCallback(callback, user);
    return 0;
}

int P2P_Client_SDK_Set_MsgCB(P2P_HANDLE handle, P2P_MSG_CB callback, void *user)
{
    P2P_CLIENT_OR_FAIL(handle);
    client->setMessageCallback(callback, user);
    return 0;
}

int P2P_Client_SDK_Register(P2P_HANDLE handle, int32_t, int32_t)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->registerRelay();
}

int P2P_Client_SDK_UnRegister(P2P_HANDLE handle)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->unregisterRelay();
}

int P2P_Client_SDK_Get_Session_Status(P2P_HANDLE handle, const char *cameraId, int32_t *status)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->sessionStatus(cameraId, status);
}

int P2P_Client_SDK_Get_Peer_Presence(P2P_HANDLE handle, const char *cameraId, int32_t *online,
                                     int32_t *version)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->peerPresence(cameraId, online, version);
}

int P2P_Client_SDK_Connect_Peer(P2P_HANDLE handle, const char *cameraId)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->connectPeer(cameraId);
}

int P2P_Client_SDK_Get_StreamDescr(P2P_HANDLE handle, const char *cameraId, int32_t *count,
                                   char *buffer)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->streamDescr(cameraId, count, buffer);
}

int P2P_Client_SDK_Open_Stream(P2P_HANDLE handle, const char *cameraId, char *descr,
                               P2P_FRAME_CB callback, void *user, const int32_t params[3],
                               const char *password, int32_t)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->openStream(cameraId, descr, callback, user, params, password);
}

int P2P_Client_SDK_Close_Stream(P2P_HANDLE handle, const char *cameraId, const char *descr)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->closeStream(cameraId, descr);
}

int P2P_Client_SDK_Start_Playback(P2P_HANDLE handle, const char *cameraId, const char *fileName,
                                  P2P_PLAYBACK_CB callback, void *user, int32_t startSecond,
                                  const char *password)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->startPlayback(cameraId, fileName, callback, user, startSecond, password);
}

int P2P_Client_SDK_Stop_Playback(P2P_HANDLE handle, const char *cameraId, const char *fileName)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->stopPlayback(cameraId, fileName);
}

int P2P_Client_SDK_Start_Download(P2P_HANDLE handle, const char *cameraId, const char *fileName,
                                  P2P_DOWNLOAD_CB callback, void *user, int32_t offset,
                                  const char *password)
{
    P2P_CLIENT_OR_FAIL(handle);
    if (offset < 0)
        return P2P_ERR_PARAM;
    return client->startDownload(cameraId, fileName, callback, user, uint32_t(offset), password);
}

int P2P_Client_SDK_Stop_Download(P2P_HANDLE handle, const char *cameraId, const char *fileName)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->stopDownload(cameraId, fileName);
}

int P2P_Client_SDK_Deliver_Msg(P2P_HANDLE handle, const char *cameraId, int32_t type,
                               const char *payload, int32_t length)
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->deliverMessage(cameraId, type, payload, length);
}

int P2P_Client_SDK_Get_Device_License(P2P_HANDLE handle, const char *deviceId, char p2pId[64])
{
    P2P_CLIENT_OR_FAIL(handle);
    return client->deviceLicense(deviceId, p2pId);
}

} // extern "C"

namespace varno::p2p {

Client *clientForHandle(P2P_HANDLE handle)
{
    return lookup(handle).get();
}

} // namespace varno::p2p
