#pragma once

// ONVIF discovery library: WS-Discovery probes for network video
// transmitters from the local IP address given at start-up, to the targets
// of onvif.conf (the standard multicast group by default). Answers of one
// probe are collected for a short window and handed to the callback on the
// library's own thread, in batches; the last call of a probe has the last
// flag 1, and a probe nobody answered calls back once with n = 0, last 1.
// Results are 0 for success, negative otherwise.

#include "common/onvifrecords.h"

extern "C" {

enum {
    ONVIF_DISCOVERY_ERR_PARAM = -401,     // bad argument
    ONVIF_DISCOVERY_ERR_NOT_INIT = -402,  // Startup has not succeeded
    ONVIF_DISCOVERY_ERR_SOCKET = -403,    // socket could not be opened or bound
    ONVIF_DISCOVERY_ERR_THREAD = -404,    // called from the callback thread
};

// results: n elements valid during the call only; last: 1 on the call that
// ends one probe's answers; user: the value given to SetDeviceInfoCB.
typedef int (*ONVIF_DISCOVERY_CB)(OnvifDiscoveryInfo_s *results, int n, int last, void *user);

// Reads onvif.conf, opens the socket on localIp (any address when empty or
// not local) and starts the library thread. A second Startup restarts.
int ONVIF_DISCOVERY_SDK_Startup(const char *localIp);
// The callback for every later answer; may be set before or after Startup.
int ONVIF_DISCOVERY_SDK_SetDeviceInfoCB(ONVIF_DISCOVERY_CB callback, void *user);
// Starts one probe cycle and returns at once. A Probe during a running cycle
// starts one more cycle after it (further ones are merged).
int ONVIF_DISCOVERY_SDK_Probe();
// Stops the thread (a running cycle ends without its last call) and closes
// the socket. Must not be called from the callback.
int ONVIF_DISCOVERY_SDK_Cleanup();

} // extern "C"
