#pragma once

// RTSP client library: live streams of ONVIF cameras over RTSP (interleaved
// TCP). Each stream has a reader thread of its own that hands every frame to
// the stream's callback. Results are 0 for success, negative for failure.
// Details and time-outs: docs/rtsp.md.

#include <cstddef>
#include <cstdint>

extern "C" {

// Description of a stream, handed to every frame callback (88 bytes).
struct RTSP_STREAM_DESCR_S
{
    char deviceId[64];   // set with RTSP_SetSteamDeviceId, NUL-terminated
    int32_t videoCodec;  // 1 H.264, 2 H.265, 0 none / other
    int32_t width;       // from the stream's parameter sets when known, else 0
    int32_t height;
    int32_t audioCodec;  // audio decoder code: 100 AAC, 101 mu-law, 102 A-law, 103 PCM, 0 none
    int32_t sampleRate;
    int32_t channels;
};
static_assert(sizeof(RTSP_STREAM_DESCR_S) == 88);
static_assert(offsetof(RTSP_STREAM_DESCR_S, videoCodec) == 64);

// Frame types of the callback.
enum {
    RTSP_FRAME_VIDEO = 0, // one NAL unit with a 4-byte start code
    RTSP_FRAME_AUDIO = 1, // one audio frame (G.711 bytes, PCM, or AAC with ADTS header)
};

// Stream status.
enum {
    RTSP_STATUS_OK = 0,
    RTSP_STATUS_BROKEN = 1,
};

// Errors.
enum {
    RTSP_ERR_PARAM = -301,    // bad argument or unknown handle
    RTSP_ERR_CONNECT = -302,  // no connection / no answer in time / refused
    RTSP_ERR_NO_STREAM = -303,// the server offers nothing we can read
    RTSP_ERR_PLAY = -304,     // PLAY failed
    RTSP_ERR_STATE = -305,    // already started, or closed
    RTSP_ERR_NO_MEMORY = -306,
    RTSP_ERR_THREAD = -307,
};

// Frame callback, on the stream's reader thread. frameInfo points at two
// int32 values: the NAL unit type (video; 0 for audio) and the time stamp in
// microseconds since the stream started (low 32 bits). data is valid only
// during the call.
typedef int (*RTSP_FRAME_CB)(int32_t handle, const char *descr, const int32_t *frameInfo,
                             int32_t type, const char *data, int32_t size, void *user);

int RTSP_Stream_SDKInit(void);

// Connects (DESCRIBE, SETUP) within the connect time-out. 0 and a handle
// (from 1) on success.
int RTSP_OpenLiveSteam(const char *url, RTSP_FRAME_CB callback, void *user, int32_t *handle);
// The device ID text at the start of the description the callback gets.
// Call it before RTSP_StartLiveSteam (any time is allowed).
int RTSP_SetSteamDeviceId(int32_t handle, const char *deviceId);
// PLAY, then frames flow on the reader thread.
int RTSP_StartLiveSteam(int32_t handle);
// Ends the reader thread (within a second, even with a dead server). No
// callback runs after it returns.
int RTSP_StopLiveSteam(int32_t handle);
// Stops when needed, tears the session down and forgets the handle.
int RTSP_CloseLiveSteam(int32_t handle, RTSP_FRAME_CB callback);
// status: 0 ok, 1 connection broken (read error, end of stream, or no data
// within the read time-out).
int RTSP_GetSteamStatus(int32_t handle, int32_t *status, int32_t reserved);

// Time-outs in milliseconds (defaults 5,000 each); for all streams opened later.
int RTSP_SetSteamTimeouts(int32_t connectMs, int32_t readMs);

} // extern "C"
