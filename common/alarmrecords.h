#pragma once

#include <cstddef>
#include <cstdint>

// One alarm as delivered by the ONVIF event library and shown in the live
// page's alarm table (100 bytes). Text fields are NUL-terminated UTF-8; fill
// them with varno::setText (common/textfield.h).
struct EVENT_alarm_info
{
    char source[64];           // "urn:uuid:" followed by the camera's UUID
    char time[32];             // local time of the event, "yyyy-MM-dd hh:mm:ss"
    int32_t alarmType;         // EVENT_ALARM_TYPE_E
};

static_assert(sizeof(EVENT_alarm_info) == 100);
static_assert(offsetof(EVENT_alarm_info, source) == 0);
static_assert(offsetof(EVENT_alarm_info, time) == 64);
static_assert(offsetof(EVENT_alarm_info, alarmType) == 96);

// Alarm types. Every value other than 1, 2 and 3 means the alarm ended
// (disarm); the event library sends EVENT_ALARM_DISARM for that.
enum EVENT_ALARM_TYPE_E : int32_t {
    EVENT_ALARM_DISARM = 0,
    EVENT_ALARM_VIDEO_BLOCK = 1,   // tamper or video blind
    EVENT_ALARM_IO = 2,            // digital input
    EVENT_ALARM_MOTION = 3,        // motion detection
};
