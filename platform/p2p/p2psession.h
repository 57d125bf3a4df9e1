#pragma once

#include "platform/p2p/p2p_client_sdk.h"

#include <cstdint>
#include <functional>

// The one "connect if not connected" of the P2P cameras, for every part that
// talks to a camera by its camera ID (the registry's probing, the device
// dialogs, live view, playback, downloads, the benchmarks).
namespace varno::p2p {

// The connect was given up between two tries (the caller's job was
// cancelled).
constexpr int kSessionGivenUp = -102;

struct SessionTries
{
    // Further tries while the library answers "connecting"
    // (P2P_ERR_CONNECTING): another connect to the camera is under way.
    int retries = 0;
    int waitMs = 0;
    // Waits ms before a try (0 before the first); false gives up. Empty:
    // a plain sleep.
    std::function<bool(int ms)> pause;
};

// 0 when the session with the camera is connected or becomes so, else the
// library's answer to the last connect (kSessionGivenUp when given up).
// *statusBefore (may be null) gets the session status found first. Waits on
// the network: never on the user-interface thread.
int ensureSession(P2P_HANDLE handle, const char *p2pId, int32_t *statusBefore = nullptr,
                  const SessionTries &tries = {});

} // namespace varno::p2p
