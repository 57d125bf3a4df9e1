#pragma once

#include <cstddef>
#include <cstdint>

// Records exchanged with the ONVIF discovery library and the ONVIF half of
// the device manager library. Text fields are NUL-terminated UTF-8, zero
// behind the text; fill them with varno::setText (common/textfield.h).
// docs/onvif.md describes every field.

// One discovered camera, an element of the array handed to the discovery
// callback (272 bytes).
struct OnvifDiscoveryInfo_s
{
    char endpoint[64];         // endpoint address as the camera sent it ("urn:uuid:...")
    char name[64];             // second text: the camera's name from its scopes
    char ipAddr[16];           // dotted IPv4 address
    char serviceAddr[128];     // first device service address (XAddr)
};

static_assert(sizeof(OnvifDiscoveryInfo_s) == 272);
static_assert(offsetof(OnvifDiscoveryInfo_s, endpoint) == 0);
static_assert(offsetof(OnvifDiscoveryInfo_s, name) == 64);
static_assert(offsetof(OnvifDiscoveryInfo_s, ipAddr) == 128);
static_assert(offsetof(OnvifDiscoveryInfo_s, serviceAddr) == 144);

// What the main window hands to the live page to open an ONVIF camera
// (328 bytes), built from the camera's DvrListInfo_s.
struct OnvifAccessInfo_s
{
    char devId[64];            // device ID (the camera's UUID text)
    char configText3[64];      // first 64 bytes of DevConfig_s::eventAddr
    char mainToken[64];        // DevConfig_s::mainToken
    int32_t rtspPort;          // 554
    int32_t reserved;          // 0
    char serviceAddr[128];     // ONVIF device service address
};

static_assert(sizeof(OnvifAccessInfo_s) == 328);
static_assert(offsetof(OnvifAccessInfo_s, devId) == 0);
static_assert(offsetof(OnvifAccessInfo_s, configText3) == 64);
static_assert(offsetof(OnvifAccessInfo_s, mainToken) == 128);
static_assert(offsetof(OnvifAccessInfo_s, rtspPort) == 192);
static_assert(offsetof(OnvifAccessInfo_s, reserved) == 196);
static_assert(offsetof(OnvifAccessInfo_s, serviceAddr) == 200);

// Request of SDK_DVRMGR_GetStreamUri (236 bytes).
struct OnvifStreamUriReq_s
{
    char serviceAddr[128];     // ONVIF device service address
    char configText3[32];      // first 32 bytes of DevConfig_s::eventAddr (not used)
    char mainToken[64];        // main profile token, used for channel 0
    int32_t channel;           // 0 main (HD) profile, 1 sub (SD) profile
    int32_t transport;         // 1: RTP over RTSP
    int32_t reserved;          // 0
};

static_assert(sizeof(OnvifStreamUriReq_s) == 236);
static_assert(offsetof(OnvifStreamUriReq_s, serviceAddr) == 0);
static_assert(offsetof(OnvifStreamUriReq_s, configText3) == 128);
static_assert(offsetof(OnvifStreamUriReq_s, mainToken) == 160);
static_assert(offsetof(OnvifStreamUriReq_s, channel) == 224);
static_assert(offsetof(OnvifStreamUriReq_s, transport) == 228);
static_assert(offsetof(OnvifStreamUriReq_s, reserved) == 232);

// Output block of SDK_DVRMGR_GetStreamUri (80 bytes): what the profile
// that was chosen carries.
struct OnvifStreamUriInfo_s
{
    char profileToken[64];     // token of the profile the address belongs to
    int32_t width;             // video width in pixels, 0 when unknown
    int32_t height;            // video height in pixels, 0 when unknown
    int32_t videoCodec;        // 1 H.264, 2 H.265, 0 other or unknown
    int32_t audioCodec;        // 1 G.711 mu-law/A-law, 2 AAC, 0 none or unknown
};

static_assert(sizeof(OnvifStreamUriInfo_s) == 80);
static_assert(offsetof(OnvifStreamUriInfo_s, profileToken) == 0);
static_assert(offsetof(OnvifStreamUriInfo_s, width) == 64);
static_assert(offsetof(OnvifStreamUriInfo_s, height) == 68);
static_assert(offsetof(OnvifStreamUriInfo_s, videoCodec) == 72);
static_assert(offsetof(OnvifStreamUriInfo_s, audioCodec) == 76);

// Size of the URI text buffer handed to SDK_DVRMGR_GetStreamUri.
inline constexpr int kOnvifUriSize = 512;
