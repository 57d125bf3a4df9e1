#pragma once

// Peer-to-peer client library: reaches a camera by its camera ID through the
// relay service. One instance serves the process; its handle is 0 until
// P2P_Client_SDK_Init fills it and every other call takes it first. Results
// are 0 or positive for success, negative for failure (codes below).
//
// Callbacks run on the library's own threads; payload and frame buffers
// handed to a callback are valid only while the callback runs. The relay is
// an MQTT broker named in p2p.conf in the installation directory (lines
// "host = 127.0.0.1", "port = 1883", "keepalive = 10", "timeout_ms = 3000",
// "tls = 0", "cafile = ..."); the protocol is docs/p2p-protocol.md.
//
// P2P camera IDs have the form "VRN" + first character of the device ID +
// "-" + the six characters after it + "-" + five check letters: camera
// B765432 is "VRNB-765432-KXPQT".

#include <cstdint>

extern "C" {

typedef intptr_t P2P_HANDLE;

enum { P2P_INIT_VERSION = 19 };

// Init block (132 bytes, zeroed before it is filled).
struct P2P_INIT_INFO_S
{
    int32_t version;           // 19
    char account[64];          // relay account (MQTT user name)
    char appKey[64];           // application key (MQTT password), 32 hex digits
};
static_assert(sizeof(P2P_INIT_INFO_S) == 132);

// Stream description buffer filled by Get_StreamDescr: two packed entries.
enum {
    P2P_STREAM_DESCR_SIZE = 195,
    P2P_STREAM_DESCR_COUNT = 2,
    P2P_STREAM_DESCR_BUFFER = P2P_STREAM_DESCR_SIZE * P2P_STREAM_DESCR_COUNT,
};

// Session state reported by Get_Session_Status: 0 none, 1 connecting,
// 2 lost (being re-established by the library), 3 connected.
enum {
    P2P_SESSION_NONE = 0,
    P2P_SESSION_CONNECTING = 1,
    P2P_SESSION_LOST = 2,
    P2P_SESSION_CONNECTED = 3,
};

// Error codes.
enum {
    P2P_ERR_PARAM = -201,          // bad argument or unknown handle
    P2P_ERR_NOT_INIT = -202,       // library not initialised
    P2P_ERR_BROKER = -203,         // relay service not reachable
    P2P_ERR_NOT_REGISTERED = -204, // Register has not succeeded
    P2P_ERR_TIMEOUT = -205,        // no answer in time
    P2P_ERR_NOT_FOUND = -206,      // camera unknown to the service or offline
    P2P_ERR_REFUSED = -207,        // camera refused (password, no such stream or file)
    P2P_ERR_CONNECTING = -208,     // another connect to the same camera is in progress
    P2P_ERR_NO_SESSION = -209,     // no session with that camera
    P2P_ERR_NO_MEMORY = -210,
    P2P_ERR_BUSY = -211,           // stream, playback or download already running
};

// Status callback: four 32-bit values (event, value, reserved, user value as
// given to Set_StatusCB, truncated to 32 bits). Events: 1 relay connected,
// 2 relay connection lost (value: reason code), 3 session up, 4 session lost
// (value: the session number).
typedef int (*P2P_STATUS_CB)(int32_t event, int32_t value, int32_t reserved, int32_t user);

// Message callback: a camera message of the given type.
typedef int (*P2P_MSG_CB)(int32_t type, const char *payload, int32_t length, const char *cameraId,
                          void *user);

// Live frame callback. descr starts with the 64-byte device ID text followed
// by the int32 stream index; frameInfo points at two int32 values (the NAL
// unit type for video, the time stamp in ms); type 1 video, 2 audio.
typedef int (*P2P_FRAME_CB)(P2P_HANDLE stream, const char *descr, const int32_t *frameInfo,
                            int32_t type, const char *data, int32_t size, void *user);

// Playback data callback: type 1 video, 2 audio; second = the stream's
// current second.
typedef int (*P2P_PLAYBACK_CB)(int32_t type, const char *data, int32_t size, int32_t second,
                               void *user);

// Download data callback: consecutive pieces of the file; the fourth value is
// the offset of the piece in the file. Start_Download's offset argument is
// where the transfer starts (0: the whole file).
typedef int (*P2P_DOWNLOAD_CB)(int32_t type, const char *data, int32_t size, int32_t offset,
                               void *user);

// Blocking calls (Register, Connect_Peer, Get_StreamDescr, Open_Stream,
// Start_Playback, Start_Download, Get_Device_License) wait at most the
// configured time-out (3 s). Open_Stream, Start_Playback and Start_Download
// return a positive channel number. Close_Stream does not wait for a frame
// callback that is running (it may be called under a lock that callback
// takes): at most the NAL unit being handed over may still arrive; Stop_Playback and Stop_Download return after the channel's running
// callback has returned, unless called from inside that callback; so they
// do when the session went before them (logout: they then return
// P2P_ERR_NO_SESSION).
// UnInit from inside any callback of the library is refused (P2P_ERR_BUSY,
// the handle stays valid): call it from a thread of the application.
int P2P_Client_SDK_Init(const P2P_INIT_INFO_S *info, const char *localIp, const char *logDir,
                        P2P_HANDLE *handle);
int P2P_Client_SDK_UnInit(P2P_HANDLE handle);
int P2P_Client_SDK_Set_StatusCB(P2P_HANDLE handle, P2P_STATUS_CB callback, intptr_t user);
int P2P_Client_SDK_Set_MsgCB(P2P_HANDLE handle, P2P_MSG_CB callback, void *user);
int P2P_Client_SDK_Register(P2P_HANDLE handle, int32_t reserved1, int32_t reserved2);
int P2P_Client_SDK_UnRegister(P2P_HANDLE handle);
int P2P_Client_SDK_Get_Session_Status(P2P_HANDLE handle, const char *cameraId, int32_t *status);
// The camera's presence as this client holds it (from the relay, or the
// camera's answer to a probe): online 1 or 0, and the protocol version the
// camera announced (1: it cannot be asked whether it is back). 0, or
// P2P_ERR_NOT_FOUND when no presence of the camera came.
int P2P_Client_SDK_Get_Peer_Presence(P2P_HANDLE handle, const char *cameraId, int32_t *online,
                                     int32_t *version);
int P2P_Client_SDK_Connect_Peer(P2P_HANDLE handle, const char *cameraId);
int P2P_Client_SDK_Get_StreamDescr(P2P_HANDLE handle, const char *cameraId, int32_t *count,
                                   char *buffer);
int P2P_Client_SDK_Open_Stream(P2P_HANDLE handle, const char *cameraId, char *descr,
                               P2P_FRAME_CB callback, void *user, const int32_t params[3],
                               const char *password, int32_t reserved);
int P2P_Client_SDK_Close_Stream(P2P_HANDLE handle, const char *cameraId, const char *descr);
int P2P_Client_SDK_Start_Playback(P2P_HANDLE handle, const char *cameraId, const char *fileName,
                                  P2P_PLAYBACK_CB callback, void *user, int32_t startSecond,
                                  const char *password);
int P2P_Client_SDK_Stop_Playback(P2P_HANDLE handle, const char *cameraId, const char *fileName);
int P2P_Client_SDK_Start_Download(P2P_HANDLE handle, const char *cameraId, const char *fileName,
                                  P2P_DOWNLOAD_CB callback, void *user, int32_t offset,
                                  const char *password);
int P2P_Client_SDK_Stop_Download(P2P_HANDLE handle, const char *cameraId, const char *fileName);
int P2P_Client_SDK_Deliver_Msg(P2P_HANDLE handle, const char *cameraId, int32_t type,
                               const char *payload, int32_t length);
int P2P_Client_SDK_Get_Device_License(P2P_HANDLE handle, const char *deviceId, char p2pId[64]);

} // extern "C"
