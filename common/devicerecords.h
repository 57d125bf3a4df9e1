#pragma once

#include <cstddef>
#include <cstdint>

// Camera records as stored by the device manager and passed by value in
// signals. Text fields are NUL-terminated UTF-8, zero-filled behind the text;
// fill them with varno::setText (common/textfield.h).

// One camera as stored (492 bytes).
struct DeviceInfo_s
{
    int32_t reserved0;         // written as 0
    char devId[64];            // unique key of the camera list
    char ipAddr[32];           // dotted text
    char devName[32];          // display name
    char discoveryText[64];    // second text of the discovery result (kept, not shown)
    char reserved1[32];
    int32_t streamType;        // 0 first (HD) stream, 1 second (SD) stream
    char ptzCaps;              // 0 not asked yet (records of older versions), 1 no pan/tilt/zoom, 2 pan/tilt/zoom
    char serviceAddr[128];     // ONVIF device service address
    char p2pFlag;              // 1 when reached through the P2P library by camera ID
    char password[64];         // plain in memory, enciphered in the store
    char p2pId[64];            // P2P camera ID used for all P2P calls
    char reserved3[2];
};

static_assert(sizeof(DeviceInfo_s) == 492);
static_assert(offsetof(DeviceInfo_s, reserved0) == 0);
static_assert(offsetof(DeviceInfo_s, devId) == 4);
static_assert(offsetof(DeviceInfo_s, ipAddr) == 68);
static_assert(offsetof(DeviceInfo_s, devName) == 100);
static_assert(offsetof(DeviceInfo_s, discoveryText) == 132);
static_assert(offsetof(DeviceInfo_s, reserved1) == 196);
static_assert(offsetof(DeviceInfo_s, streamType) == 228);
static_assert(offsetof(DeviceInfo_s, ptzCaps) == 232);
static_assert(offsetof(DeviceInfo_s, serviceAddr) == 233);
static_assert(offsetof(DeviceInfo_s, p2pFlag) == 361);
static_assert(offsetof(DeviceInfo_s, password) == 362);
static_assert(offsetof(DeviceInfo_s, p2pId) == 426);
static_assert(offsetof(DeviceInfo_s, reserved3) == 490);

// Configuration block of a camera as filled by SDK_DVRMGR_GetDevConfig
// (324 bytes). See docs/devmgr.md for the meaning of the fields.
struct DevConfig_s
{
    int32_t profileCount;      // number of media profiles
    char mainToken[64];        // main (HD) profile token
    char subToken[64];         // sub (SD) profile token
    char eventAddr[192];       // event service address
};

static_assert(sizeof(DevConfig_s) == 324);
static_assert(offsetof(DevConfig_s, profileCount) == 0);
static_assert(offsetof(DevConfig_s, mainToken) == 4);
static_assert(offsetof(DevConfig_s, subToken) == 68);
static_assert(offsetof(DevConfig_s, eventAddr) == 132);

// One camera in the registry (816 bytes): the stored record followed by its
// configuration block, which is never stored.
struct DvrListInfo_s
{
    DeviceInfo_s dev;
    DevConfig_s config;
};

static_assert(sizeof(DvrListInfo_s) == 816);
static_assert(offsetof(DvrListInfo_s, dev) == 0);
static_assert(offsetof(DvrListInfo_s, config) == 492);

// Online state carried by sendOnLineState.
enum STATE_E : int32_t {
    STATE_OFFLINE = 0,
    STATE_ONLINE = 1,
};

static_assert(sizeof(STATE_E) == 4);

class QTreeWidgetItem;

// One camera shown in the device tree: 104 bytes with 32-bit pointers,
// 112 with 64-bit ones.
struct DevTreeEntry
{
    char devId[64];
    char devName[32];
    int32_t state;             // STATE_E, 0 at creation
    QTreeWidgetItem *item;
};

static_assert(offsetof(DevTreeEntry, devId) == 0);
static_assert(offsetof(DevTreeEntry, devName) == 64);
static_assert(offsetof(DevTreeEntry, state) == 96);
static_assert(offsetof(DevTreeEntry, item) == (sizeof(void *) == 4 ? 100 : 104));
static_assert(sizeof(DevTreeEntry) == (sizeof(void *) == 4 ? 104 : 112));

// One operation-log entry (308 bytes).
struct LogInfo_s
{
    char time[20];             // "yyyy-MM-dd hh:mm:ss"
    char user[32];
    char content[256];         // at most 255 characters
};

static_assert(sizeof(LogInfo_s) == 308);
static_assert(offsetof(LogInfo_s, time) == 0);
static_assert(offsetof(LogInfo_s, user) == 20);
static_assert(offsetof(LogInfo_s, content) == 52);

// Maximum number of cameras in the list and in one discovery cycle.
inline constexpr int kMaxDevices = 300;
// Maximum number of operation-log entries read at once.
inline constexpr int kMaxLogEntries = 10000;
