#pragma once

#include "common/p2precords.h"

#include <cstddef>
#include <cstdint>

// Records of the alarm log dialog. Text fields are NUL-terminated UTF-8,
// zero-filled behind the text.

#pragma pack(push, 1)

// One camera the dialog can ask (289 bytes), kept by device ID.
struct AlarmDevInfo
{
    char p2pFlag;              // 1: reached by camera ID
    char devName[32];          // display name
    char password[64];         // camera password
    char p2pId[64];            // P2P camera ID
    char serviceAddr[128];     // ONVIF device service address
};

// One alarm as collected (116 bytes): the device ID of the camera that
// answered followed by the entry of its reply.
struct AlarmRecord_s
{
    char devId[64];
    ALARM_ITEM_S item;
};

#pragma pack(pop)

static_assert(sizeof(AlarmDevInfo) == 289);
static_assert(offsetof(AlarmDevInfo, p2pFlag) == 0);
static_assert(offsetof(AlarmDevInfo, devName) == 1);
static_assert(offsetof(AlarmDevInfo, password) == 33);
static_assert(offsetof(AlarmDevInfo, p2pId) == 97);
static_assert(offsetof(AlarmDevInfo, serviceAddr) == 161);
static_assert(sizeof(AlarmRecord_s) == 116);
static_assert(offsetof(AlarmRecord_s, item) == 64);
