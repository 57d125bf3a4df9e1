#pragma once

// ONVIF event library: one pull-point subscription per camera event
// service, pulled on a library thread of its own, renewed before it runs
// out, re-created when the camera lost it, and ended by Unsubscribe or
// Cleanup. Alarms reach the callback as EVENT_alarm_info records (topic
// mapping in docs/onvif.md). Results are 0 for success, negative otherwise.

#include "common/alarmrecords.h"

extern "C" {

enum {
    ONVIF_EVENT_ERR_PARAM = -421,      // bad argument
    ONVIF_EVENT_ERR_NOT_INIT = -422,   // Startup has not been called
    ONVIF_EVENT_ERR_NETWORK = -423,    // camera not reachable or no answer in time
    ONVIF_EVENT_ERR_AUTH = -424,       // camera refused the credentials
    ONVIF_EVENT_ERR_REPLY = -425,      // camera answered something unusable
    ONVIF_EVENT_ERR_NOT_FOUND = -426,  // no subscription for that address
    ONVIF_EVENT_ERR_THREAD = -427,     // called from a callback for its own subscription
    ONVIF_EVENT_ERR_FULL = -428,       // 1024 subscriptions already
};

// The only subscription mode: a pull-point subscription.
enum { ONVIF_EVENT_MODE_PULLPOINT = 3 };

// Called on the subscription's library thread; info is valid during the call.
typedef int (*ONVIF_EVENT_ALARM_CB)(const EVENT_alarm_info *info, void *user);

// Reads onvif.conf. The local IP is logged; requests leave by the route to
// each camera.
int ONVIF_EVENT_SDK_Startup(const char *localIp);
// The callback for every later alarm; may be set before or after Startup.
int ONVIF_EVENT_SDK_SetAlarmCB(ONVIF_EVENT_ALARM_CB callback, void *user);
// Creates a pull-point subscription at the event service address and
// starts pulling. source ("urn:uuid:" + device ID) becomes the source of
// every alarm. 0 when the camera created it (or it already runs).
int ONVIF_EVENT_SDK_Subscribe(const char *eventAddr, const char *source, int mode);
// Ends the subscription at that address: the thread is stopped and joined
// and the camera is told (best effort). 0 when it existed.
int ONVIF_EVENT_SDK_Unsubscribe(const char *eventAddr);
// Ends every subscription.
int ONVIF_EVENT_SDK_Cleanup();

} // extern "C"
