#include "platform/p2p/p2psession.h"

#include <chrono>
#include <thread>

namespace varno::p2p {

int ensureSession(P2P_HANDLE handle, const char *p2pId, int32_t *statusBefore, const SessionTries &tries)
{
    int32_t status = 0;
    P2P_Client_SDK_Get_Session_Status(handle, p2pId, &status);
    if (statusBefore)
        *statusBefore = status;
    if (status == P2P_SESSION_CONNECTED)
        return 0;
    auto pause = [&tries](int ms) {
        if (tries.pause)
            return tries.pause(ms);
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    };
    if (!pause(0))
        return kSessionGivenUp;
    int ret = P2P_Client_SDK_Connect_Peer(handle, p2pId);
    for (int retry = 0; ret == P2P_ERR_CONNECTING && retry < tries.retries; ++retry) {
        if (!pause(tries.waitMs))
            return kSessionGivenUp;
        ret = P2P_Client_SDK_Connect_Peer(handle, p2pId);
    }
    return ret;
}

} // namespace varno::p2p
