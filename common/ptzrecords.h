#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Pan, tilt and zoom messages of the P2P cameras: requests carry the token
// head (token over password and nonce, the nonce), answers echo the nonce.
// Little-endian, packed; text fields as in common/p2precords.h.

enum : int32_t {
    P2P_MSG_PTZ_CAPS = 160,           // PTZ_REQ_S
    P2P_MSG_PTZ_CAPS_RSP = 161,       // PTZ_CAPS_RSP_S
    P2P_MSG_PTZ_MOVE = 162,           // PTZ_MOVE_REQ_S
    P2P_MSG_PTZ_RESULT = 163,         // PTZ_RESULT_S, the answer to 162, 164, 167, 168, 169
    P2P_MSG_PTZ_STOP = 164,           // PTZ_REQ_S
    P2P_MSG_PTZ_PRESETS = 165,        // PTZ_REQ_S
    P2P_MSG_PTZ_PRESET_LIST = 166,    // PTZ_PRESET_LIST_S + PTZ_PRESET_ITEM_S entries
    P2P_MSG_PTZ_PRESET_GOTO = 167,    // PTZ_PRESET_REQ_S
    P2P_MSG_PTZ_PRESET_SET = 168,     // PTZ_PRESET_SET_REQ_S
    P2P_MSG_PTZ_PRESET_REMOVE = 169,  // PTZ_PRESET_REQ_S
};

enum : int32_t {
    PTZ_RESULT_OK = 0,
    PTZ_RESULT_PASSWORD = 1,
    PTZ_RESULT_NO_PTZ = 2,
    PTZ_RESULT_BAD_REQUEST = 3,
    PTZ_RESULT_NO_PRESET = 4,
    PTZ_RESULT_FULL = 5,
};

enum : uint32_t { PTZ_CAP_PAN_TILT = 1u, PTZ_CAP_ZOOM = 2u, PTZ_CAP_PRESETS = 4u };

// Velocities in thousandths of the fastest speed; preset numbers.
enum : int32_t { PTZ_VELOCITY_MAX = 1000, PTZ_PRESET_MIN = 1, PTZ_PRESET_MAX = 255 };

#pragma pack(push, 1)

// Capability (160), stop (164), preset list (165): the head alone.
struct PTZ_REQ_S
{
    char token[36];            // token over (password, nonce)
    int32_t nonce;
};

struct PTZ_MOVE_REQ_S
{
    char token[36];
    int32_t nonce;
    int32_t pan;               // -1000 .. 1000, right positive
    int32_t tilt;              // up positive
    int32_t zoom;              // in positive
};

// Go to (167) and remove (169).
struct PTZ_PRESET_REQ_S
{
    char token[36];
    int32_t nonce;
    int32_t preset;            // 1 .. 255
};

struct PTZ_PRESET_SET_REQ_S
{
    char token[36];
    int32_t nonce;
    int32_t preset;            // 1 .. 255, 0: the camera picks a free number
    char name[64];
};

struct PTZ_CAPS_RSP_S
{
    int32_t nonce;
    int32_t result;            // PTZ_RESULT_*
    uint32_t caps;             // PTZ_CAP_*
    uint16_t maxPresets;
    uint8_t zero[2];
};

struct PTZ_RESULT_S
{
    int32_t nonce;
    int32_t request;           // type of the request answered
    int32_t result;            // PTZ_RESULT_*
    int32_t preset;            // 168 with result 0: the number stored
};

struct PTZ_PRESET_LIST_S
{
    int32_t nonce;
    int32_t result;
    int32_t count;             // entries that follow, 0 .. 255
};

struct PTZ_PRESET_ITEM_S
{
    int32_t preset;
    char name[64];
};

#pragma pack(pop)

static_assert(sizeof(PTZ_REQ_S) == 40);
static_assert(offsetof(PTZ_REQ_S, token) == 0);
static_assert(offsetof(PTZ_REQ_S, nonce) == 36);
static_assert(sizeof(PTZ_MOVE_REQ_S) == 52);
static_assert(offsetof(PTZ_MOVE_REQ_S, nonce) == 36);
static_assert(offsetof(PTZ_MOVE_REQ_S, pan) == 40);
static_assert(offsetof(PTZ_MOVE_REQ_S, tilt) == 44);
static_assert(offsetof(PTZ_MOVE_REQ_S, zoom) == 48);
static_assert(sizeof(PTZ_PRESET_REQ_S) == 44);
static_assert(offsetof(PTZ_PRESET_REQ_S, nonce) == 36);
static_assert(offsetof(PTZ_PRESET_REQ_S, preset) == 40);
static_assert(sizeof(PTZ_PRESET_SET_REQ_S) == 108);
static_assert(offsetof(PTZ_PRESET_SET_REQ_S, nonce) == 36);
static_assert(offsetof(PTZ_PRESET_SET_REQ_S, preset) == 40);
static_assert(offsetof(PTZ_PRESET_SET_REQ_S, name) == 44);
static_assert(sizeof(PTZ_CAPS_RSP_S) == 16);
static_assert(offsetof(PTZ_CAPS_RSP_S, nonce) == 0);
static_assert(offsetof(PTZ_CAPS_RSP_S, result) == 4);
static_assert(offsetof(PTZ_CAPS_RSP_S, caps) == 8);
static_assert(offsetof(PTZ_CAPS_RSP_S, maxPresets) == 12);
static_assert(offsetof(PTZ_CAPS_RSP_S, zero) == 14);
static_assert(sizeof(PTZ_RESULT_S) == 16);
static_assert(offsetof(PTZ_RESULT_S, nonce) == 0);
static_assert(offsetof(PTZ_RESULT_S, request) == 4);
static_assert(offsetof(PTZ_RESULT_S, result) == 8);
static_assert(offsetof(PTZ_RESULT_S, preset) == 12);
static_assert(sizeof(PTZ_PRESET_LIST_S) == 12);
static_assert(offsetof(PTZ_PRESET_LIST_S, nonce) == 0);
static_assert(offsetof(PTZ_PRESET_LIST_S, result) == 4);
static_assert(offsetof(PTZ_PRESET_LIST_S, count) == 8);
static_assert(sizeof(PTZ_PRESET_ITEM_S) == 68);
static_assert(offsetof(PTZ_PRESET_ITEM_S, preset) == 0);
static_assert(offsetof(PTZ_PRESET_ITEM_S, name) == 4);

namespace varno::ptz {

// Readers of the camera's answers, for bytes as they came from the relay.
// Each refuses (false, with the reason in *why) an answer shorter than its
// layout or with another nonce, and takes nothing from it.
struct Preset
{
    int32_t number = 0;
    std::string name;          // at most 63 bytes
};

bool readCaps(const char *data, size_t size, int32_t nonce, PTZ_CAPS_RSP_S *out, const char **why);
// Also refused: a result of another request type.
bool readResult(const char *data, size_t size, int32_t nonce, int32_t request, PTZ_RESULT_S *out,
                const char **why);
// Also refused: a count below 0, above 255 or beyond the data, a number
// outside 1 .. 255, a number twice. A name without its NUL is cut.
bool readPresetList(const char *data, size_t size, int32_t nonce, int32_t *result, std::vector<Preset> *out,
                    const char **why);

// Velocity -1 .. 1 in thousandths, clamped (not a number: 0).
int32_t velocityUnits(double v);

} // namespace varno::ptz
