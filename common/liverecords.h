#pragma once

#include <cstdint>

class CLiveStream;

// What the live page keeps per open stream and per window in use. Both live
// only in memory and are copied by value (the monitor works on copies); the
// pointers are owned by the entry in the live page's stream table, never by
// a copy.

// One open stream, keyed by its stream key (the camera's device ID).
struct LiveStreamInfo
{
    uint8_t discard;           // P2P: drop frames and empty the queue (stream switch)
    int32_t streamType;        // 0 first (HD) stream, 1 second (SD) stream
    int32_t rtspHandle;        // RTSP stream handle (ONVIF streams)
    int32_t winHandle;         // native handle of the window the stream draws into
    int32_t onvifFlag;         // 3 for ONVIF streams, else 0
    int32_t onvifField;        // the access record's int32 after the RTSP port
    int32_t reconnectAllowed;  // 1: the monitor may reopen the stream (camera online)
    int32_t state;             // monitor state (live/livemonitor.h)
    int32_t reopenOnStall;     // P2P: 1 after the camera announced an interruption
    char deviceId[64];         // stream key
    char onvifText1[64];       // access record: first configuration text (main token)
    char onvifText3[64];       // access record: third configuration text
    char serviceAddr[128];     // access record: device service address
    uint32_t startTick;        // monitor clock (ms) when the current wait started
    CLiveStream *liveStream;   // the window's decoder
    uint8_t p2pFlag;           // nonzero: P2P stream
    char password[64];         // camera password
    char p2pId[64];            // camera ID of every P2P call
    char *streamDescr;         // P2P stream description buffer (two 195-byte entries)
};

// One window in use, in the order the windows were taken.
struct LiveWinInfo
{
    char deviceId[64];         // stream key
    char name[64];             // the camera's display name
    int32_t rtspHandle;        // RTSP handle (ONVIF), 0 for P2P
    int32_t reconnecting;      // 1 while the monitor reopens the stream
    int32_t winHandle;         // native handle of the window
    int32_t used;              // 1: the window shows this device
    int32_t winIndex;          // index of the window in the grid (0 .. 24)
};
