#pragma once

// Device manager library: the persistent camera list and operation log in
// the installation directory (SQLite), and the ONVIF configuration and
// stream address of a camera. Results are 0 for success, negative otherwise.
// Every call is thread-safe; see docs/devmgr.md for the store.

#include "common/devicerecords.h"
#include "common/onvifrecords.h"

#include <cstdint>

extern "C" {

enum {
    DVRMGR_ERR_PARAM = -301,       // bad argument
    DVRMGR_ERR_NOT_INIT = -302,    // SDK_DVRMGR_Init has not succeeded
    DVRMGR_ERR_STORE = -303,       // the store could not be read or written
    DVRMGR_ERR_FULL = -304,        // the camera list already holds 300 cameras
    DVRMGR_ERR_TRANSACTION = -305, // no rewrite open, or one already open
    DVRMGR_ERR_NETWORK = -310,     // camera not reachable or no answer in time
    DVRMGR_ERR_AUTH = -311,        // camera refused the credentials
    DVRMGR_ERR_REPLY = -312,       // camera answered something unusable
};

// Opens (or creates) the store "devstore.db" in installDir. A damaged store
// is renamed to "devstore.db.corrupt-<time>" (logged) and a fresh one is
// started. A second call with the same folder does nothing and returns 0.
int SDK_DVRMGR_Init(const char *installDir);
// Closes the store; an unfinished rewrite is rolled back.
int SDK_DVRMGR_UnInit();

// Camera list, in stored order; at most kMaxDevices records.
// records has room for kMaxDevices records; the records come back byte for
// byte as they were added.
int SDK_DVRMGR_GetDevInfo(DeviceInfo_s *records, int *count);
int SDK_DVRMGR_DelDevAll();
// Appends one record; DVRMGR_ERR_FULL (nothing stored) when the list holds
// kMaxDevices records already.
int SDK_DVRMGR_AddDevice(DeviceInfo_s info);

// A rewrite of the camera list (DelDevAll, then AddDevice per camera) framed
// by these two calls is one transaction: after a crash at any point the store
// holds either the old list or the new one, never an empty or partial one.
// SDK_DVRMGR_RollbackRewrite abandons an open rewrite. While a rewrite is
// open, calls from other threads wait for it to end (at most 10 s, then
// DVRMGR_ERR_TRANSACTION); calls from the thread that opened it are part of
// it (a WriteLog too). A failed DelDevAll or AddDevice inside the rewrite
// (other than DVRMGR_ERR_FULL) spoils it: CommitRewrite then returns
// DVRMGR_ERR_STORE and the old list stays. When BeginRewrite fails, do not
// rewrite.
int SDK_DVRMGR_BeginRewrite();
int SDK_DVRMGR_CommitRewrite();
int SDK_DVRMGR_RollbackRewrite();

// Operation log. ReadLog returns at most kMaxLogEntries entries: the newest
// ones, oldest first.
int SDK_DVRMGR_WriteLog(LogInfo_s info);
int SDK_DVRMGR_ReadLog(LogInfo_s *entries, int *count);

// ONVIF configuration and stream address (docs/onvif.md).
// GetDevConfig asks the camera at the device service address for its
// services, profiles and device information and fills the block: profile
// count, main and sub profile tokens, event service address.
int SDK_DVRMGR_GetDevConfig(const char *serviceAddr, DevConfig_s *config);
// The model the camera at serviceAddr reported in its device information
// during the last successful GetDevConfig, into model (size bytes, cut on
// a character boundary, NUL-terminated): 0, or DVRMGR_ERR_REPLY when none
// is known.
int SDK_DVRMGR_GetDevModel(const char *serviceAddr, char *model, int size);
// The RTSP address of the profile that request.channel selects (0 main,
// 1 sub), with the user and password percent-encoded in it, into uri
// (kOnvifUriSize bytes); out (may be null) gets what the profile carries.
int SDK_DVRMGR_GetStreamUri(OnvifStreamUriReq_s request, OnvifStreamUriInfo_s *out, char *uri);
// The password used for the camera at serviceAddr (and for its other
// services on the same host): WS-Security, HTTP digest and the RTSP address.
// The user name is the "user" of onvif.conf ("admin" by default).
int SDK_DVRMGR_SetOnvifCredentials(const char *serviceAddr, const char *password);

} // extern "C"
