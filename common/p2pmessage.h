#pragma once

#include <cstddef>
#include <cstdint>

// A camera message as it travels from the P2P message callback to its
// readers in queued signals: 44 bytes with 32-bit pointers, 56 with 64-bit
// ones. The payload pointer refers to storage the message's sender keeps
// alive until every receiver has run.
struct P2pMessage_S
{
    char devId[32];            // camera ID text, cut to 31 characters
    int32_t type;              // message type
    const char *payload;       // start of the message body
    int32_t payloadLen;        // length of the body in bytes
};

static_assert(offsetof(P2pMessage_S, devId) == 0);
static_assert(offsetof(P2pMessage_S, type) == 32);
static_assert(offsetof(P2pMessage_S, payload) == (sizeof(void *) == 4 ? 36 : 40));
static_assert(offsetof(P2pMessage_S, payloadLen) == (sizeof(void *) == 4 ? 40 : 48));
static_assert(sizeof(P2pMessage_S) == (sizeof(void *) == 4 ? 44 : 56));
