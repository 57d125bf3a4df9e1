#pragma once

#include <cstddef>
#include <cstdint>

// Payload records of the camera exchanges that travel over the peer-to-peer
// channel, and the stream description entry of the P2P library. Every record
// is little-endian with the exact byte layout the cameras use; the packed
// ones have fields at odd offsets. Text fields are NUL-terminated 8-bit text,
// zero-filled behind the text; fill them with varno::setText.
//
// Every request carries an authentication token (MakeAuthToken): the 32
// lower-case hex digits of MD5("<password>:<number>:varno"), a NUL and zero
// fill up to 36 bytes; the number is carried in the same request.

enum : int32_t {
    P2P_MSG_RECORD_SEARCH = 10,       // RECORD_SEARCH_REQ_S
    P2P_MSG_RECORD_LIST = 11,         // RECORD_SEARCH_RSP_S + RECORD_ITEM_S entries
    P2P_MSG_PLAY_LENGTH = 14,         // PLAY_LENGTH_S, first message of a playback
    P2P_MSG_PASSWORD_CHECK = 16,      // PASSWORD_CHECK_REQ_S
    P2P_MSG_PASSWORD_CHECK_RSP = 17,  // PASSWORD_CHECK_RSP_S
    P2P_MSG_PASSWORD_CHANGE = 34,     // PASSWORD_CHANGE_REQ_S
    P2P_MSG_PASSWORD_CHANGE_RSP = 35, // PASSWORD_CHANGE_RSP_S
    P2P_MSG_DOWNLOAD_NOTICE = 73,     // camera ends every download (no payload needed)
    P2P_MSG_STREAM_BREAK = 87,        // live stream interrupted
    P2P_MSG_STREAM_PASSWORD = 88,     // live stream refused: wrong password
    P2P_MSG_PASSWORD_CHECK2 = 125,    // PASSWORD_CHECK2_REQ_S
    P2P_MSG_PASSWORD_CHECK2_RSP = 126,// PASSWORD_CHECK2_RSP_S
    P2P_MSG_ALARM_SEARCH = 127,       // ALARM_SEARCH_REQ_S
    P2P_MSG_ALARM_LIST = 129,         // ALARM_LIST_RSP_S + ALARM_ITEM_S entries
    P2P_MSG_ALARM_STATUS = 130,       // ALARM_STATUS_S
    P2P_MSG_RECORD_LIST_EX = 155,     // RECORD_SEARCH_RSP_S + RECORD_ITEM_EX_S entries
};

enum { P2P_TOKEN_SIZE = 36, P2P_TIME_TEXT_SIZE = 32 };

#pragma pack(push, 1)

// One entry of the stream description buffer (two entries of 195 bytes,
// packed: entry 0 the first (HD) stream, entry 1 the second (SD) stream).
// The first 68 bytes are also the description handed to the frame callback.
struct P2P_STREAM_DESCR_S
{
    char devId[64];            // camera device ID text
    int32_t streamIndex;       // 0 first stream, 1 second stream
    int32_t videoCodec;        // P2P_VIDEO_*
    int32_t enabled;           // set to 1 by the client before Open_Stream
    int32_t audioCodec;        // P2P_AUDIO_*
    int32_t videoBitRate;      // kbit/s
    int32_t keyInterval;       // frames from one key frame to the next
    char reserved1[28];
    uint8_t frameRate;         // frames per second
    int32_t audioChannels;
    int32_t width;
    int32_t height;
    int32_t audioBitRate;      // bits per second (G.711: 64000)
    int32_t audioBits;         // bits per encoded sample
    int32_t audioSampleRate;   // samples per second
    uint8_t spsLen;            // bytes used in sps
    uint8_t ppsLen;            // bytes used in pps
    uint8_t sps[36];           // sequence parameter set without start code
    uint8_t pps[8];            // picture parameter set without start code
    char reserved2[8];
};

static_assert(sizeof(P2P_STREAM_DESCR_S) == 195);
static_assert(offsetof(P2P_STREAM_DESCR_S, devId) == 0);
static_assert(offsetof(P2P_STREAM_DESCR_S, streamIndex) == 64);
static_assert(offsetof(P2P_STREAM_DESCR_S, videoCodec) == 68);
static_assert(offsetof(P2P_STREAM_DESCR_S, enabled) == 72);
static_assert(offsetof(P2P_STREAM_DESCR_S, audioCodec) == 76);
static_assert(offsetof(P2P_STREAM_DESCR_S, videoBitRate) == 80);
static_assert(offsetof(P2P_STREAM_DESCR_S, keyInterval) == 84);
static_assert(offsetof(P2P_STREAM_DESCR_S, reserved1) == 88);
static_assert(offsetof(P2P_STREAM_DESCR_S, frameRate) == 116);
static_assert(offsetof(P2P_STREAM_DESCR_S, audioChannels) == 117);
static_assert(offsetof(P2P_STREAM_DESCR_S, width) == 121);
static_assert(offsetof(P2P_STREAM_DESCR_S, height) == 125);
static_assert(offsetof(P2P_STREAM_DESCR_S, audioBitRate) == 129);
static_assert(offsetof(P2P_STREAM_DESCR_S, audioBits) == 133);
static_assert(offsetof(P2P_STREAM_DESCR_S, audioSampleRate) == 137);
static_assert(offsetof(P2P_STREAM_DESCR_S, spsLen) == 141);
static_assert(offsetof(P2P_STREAM_DESCR_S, ppsLen) == 142);
static_assert(offsetof(P2P_STREAM_DESCR_S, sps) == 143);
static_assert(offsetof(P2P_STREAM_DESCR_S, pps) == 179);
static_assert(offsetof(P2P_STREAM_DESCR_S, reserved2) == 187);

// Codes of the stream description. A video codec of 10 or 11 is H.265.
enum : int32_t {
    P2P_VIDEO_H264 = 1,
    P2P_VIDEO_H265 = 10,
    P2P_AUDIO_G711A = 1,
    P2P_AUDIO_AAC = 24,
};

// Type 10: list the recordings of a time range (108 bytes).
struct RECORD_SEARCH_REQ_S
{
    char token[P2P_TOKEN_SIZE];
    int32_t seq;               // the number that went into the token
    char startTime[P2P_TIME_TEXT_SIZE]; // "%04d-%02d-%02d %02d:%02d:%02d"
    char endTime[P2P_TIME_TEXT_SIZE];
    int32_t reserved;          // 0
};

static_assert(sizeof(RECORD_SEARCH_REQ_S) == 108);
static_assert(offsetof(RECORD_SEARCH_REQ_S, token) == 0);
static_assert(offsetof(RECORD_SEARCH_REQ_S, seq) == 36);
static_assert(offsetof(RECORD_SEARCH_REQ_S, startTime) == 40);
static_assert(offsetof(RECORD_SEARCH_REQ_S, endTime) == 72);
static_assert(offsetof(RECORD_SEARCH_REQ_S, reserved) == 104);

// Head of the replies of type 11 and 155 (12 bytes); count entries follow.
struct RECORD_SEARCH_RSP_S
{
    int32_t result;            // 0 accepted, other: password refused
    int32_t count;             // entries that follow
    int32_t reserved;
};

static_assert(sizeof(RECORD_SEARCH_RSP_S) == 12);
static_assert(offsetof(RECORD_SEARCH_RSP_S, result) == 0);
static_assert(offsetof(RECORD_SEARCH_RSP_S, count) == 4);
static_assert(offsetof(RECORD_SEARCH_RSP_S, reserved) == 8);

// Entry of a type-11 reply (72 bytes).
struct RECORD_ITEM_S
{
    char name[64];             // file name on the camera, e.g. "190225_12.30.00.h264"
    uint32_t size;             // bytes
    uint8_t resolution;        // 0 1280x720, 1 640x360, 2 1280x960, 3 1920x1080, 4 704x576, 5 352x288
    uint8_t frameRate;
    uint8_t reserved[2];
};

static_assert(sizeof(RECORD_ITEM_S) == 72);
static_assert(offsetof(RECORD_ITEM_S, name) == 0);
static_assert(offsetof(RECORD_ITEM_S, size) == 64);
static_assert(offsetof(RECORD_ITEM_S, resolution) == 68);
static_assert(offsetof(RECORD_ITEM_S, frameRate) == 69);
static_assert(offsetof(RECORD_ITEM_S, reserved) == 70);

// Entry of a type-155 reply (82 bytes, entries follow each other unpadded).
struct RECORD_ITEM_EX_S
{
    char name[64];
    uint32_t size;
    uint8_t resolution;
    uint8_t frameRate;
    uint8_t videoType;         // camera code: 0 H.264, 1 H.265
    uint8_t audioType;         // camera code: 0 G.711 A-law, 1..3 others
    int32_t audioBitRate;      // bits per second
    int32_t audioSampleRate;   // samples per second
    uint8_t reserved[2];
};

static_assert(sizeof(RECORD_ITEM_EX_S) == 82);
static_assert(offsetof(RECORD_ITEM_EX_S, name) == 0);
static_assert(offsetof(RECORD_ITEM_EX_S, size) == 64);
static_assert(offsetof(RECORD_ITEM_EX_S, resolution) == 68);
static_assert(offsetof(RECORD_ITEM_EX_S, frameRate) == 69);
static_assert(offsetof(RECORD_ITEM_EX_S, videoType) == 70);
static_assert(offsetof(RECORD_ITEM_EX_S, audioType) == 71);
static_assert(offsetof(RECORD_ITEM_EX_S, audioBitRate) == 72);
static_assert(offsetof(RECORD_ITEM_EX_S, audioSampleRate) == 76);
static_assert(offsetof(RECORD_ITEM_EX_S, reserved) == 80);

enum { P2P_RECORD_PAGE = 64 };   // entries per reply page

// Type 14: total length of the camera file being played (first message of a
// playback, 8 bytes).
struct PLAY_LENGTH_S
{
    int32_t seconds;
    int32_t reserved;
};

static_assert(sizeof(PLAY_LENGTH_S) == 8);
static_assert(offsetof(PLAY_LENGTH_S, seconds) == 0);

// Type 16: password check (44 bytes).
struct PASSWORD_CHECK_REQ_S
{
    char token[P2P_TOKEN_SIZE];
    int32_t random;
    int32_t reserved;          // 0
};

static_assert(sizeof(PASSWORD_CHECK_REQ_S) == 44);
static_assert(offsetof(PASSWORD_CHECK_REQ_S, random) == 36);
static_assert(offsetof(PASSWORD_CHECK_REQ_S, reserved) == 40);

// Type 125: password check, second form (76 bytes).
struct PASSWORD_CHECK2_REQ_S
{
    char token[P2P_TOKEN_SIZE];
    int32_t random;
    char reserved[36];         // zero
};

static_assert(sizeof(PASSWORD_CHECK2_REQ_S) == 76);
static_assert(offsetof(PASSWORD_CHECK2_REQ_S, random) == 36);
static_assert(offsetof(PASSWORD_CHECK2_REQ_S, reserved) == 40);

// Type 17: answer to 16 (44 bytes); result 0 when the password is correct.
struct PASSWORD_CHECK_RSP_S
{
    char reserved0[P2P_TOKEN_SIZE];
    int32_t random;            // echo of the request's number
    int32_t result;
};

static_assert(sizeof(PASSWORD_CHECK_RSP_S) == 44);
static_assert(offsetof(PASSWORD_CHECK_RSP_S, random) == 36);
static_assert(offsetof(PASSWORD_CHECK_RSP_S, result) == 40);

// Type 126: answer to 125 (76 bytes); result 0 when the password is correct.
struct PASSWORD_CHECK2_RSP_S
{
    char reserved0[P2P_TOKEN_SIZE];
    int32_t random;
    int32_t result;
    char reserved1[32];
};

static_assert(sizeof(PASSWORD_CHECK2_RSP_S) == 76);
static_assert(offsetof(PASSWORD_CHECK2_RSP_S, random) == 36);
static_assert(offsetof(PASSWORD_CHECK2_RSP_S, result) == 40);
static_assert(offsetof(PASSWORD_CHECK2_RSP_S, reserved1) == 44);

// Type 34: change the password kept by the camera (80 bytes). The token is
// made from the OLD password and the random number at offset 72.
struct PASSWORD_CHANGE_REQ_S
{
    char token[P2P_TOKEN_SIZE];
    char newPassword[36];      // letters and digits, NUL-padded
    int32_t random;
    int32_t reserved;          // 0
};

static_assert(sizeof(PASSWORD_CHANGE_REQ_S) == 80);
static_assert(offsetof(PASSWORD_CHANGE_REQ_S, token) == 0);
static_assert(offsetof(PASSWORD_CHANGE_REQ_S, newPassword) == 36);
static_assert(offsetof(PASSWORD_CHANGE_REQ_S, random) == 72);
static_assert(offsetof(PASSWORD_CHANGE_REQ_S, reserved) == 76);

// Type 35: answer to 34 (80 bytes); result 0 when the password was changed.
struct PASSWORD_CHANGE_RSP_S
{
    char reserved0[72];
    int32_t random;            // echo of the request's number
    int32_t result;
};

static_assert(sizeof(PASSWORD_CHANGE_RSP_S) == 80);
static_assert(offsetof(PASSWORD_CHANGE_RSP_S, random) == 72);
static_assert(offsetof(PASSWORD_CHANGE_RSP_S, result) == 76);

// Type 127: alarm log of a time range (48 bytes).
struct ALARM_SEARCH_REQ_S
{
    char token[P2P_TOKEN_SIZE];
    int32_t nonce;
    int32_t startTime;         // seconds since 1970-01-01 UTC
    int32_t endTime;
};

static_assert(sizeof(ALARM_SEARCH_REQ_S) == 48);
static_assert(offsetof(ALARM_SEARCH_REQ_S, token) == 0);
static_assert(offsetof(ALARM_SEARCH_REQ_S, nonce) == 36);
static_assert(offsetof(ALARM_SEARCH_REQ_S, startTime) == 40);
static_assert(offsetof(ALARM_SEARCH_REQ_S, endTime) == 44);

// Type 129: head of an alarm list message; count ALARM_ITEM_S follow.
struct ALARM_LIST_RSP_S
{
    int32_t count;
};

static_assert(sizeof(ALARM_LIST_RSP_S) == 4);

// One alarm entry (52 bytes).
struct ALARM_ITEM_S
{
    int32_t type;              // 1 sensor, 2 motion, 11 IO, 12 video block, 31 human, 32 motion (fallback)
    int32_t time;              // seconds since 1970-01-01 UTC
    int32_t seq;               // sequence number of the entry in the camera's log
    char text[40];
};

static_assert(sizeof(ALARM_ITEM_S) == 52);
static_assert(offsetof(ALARM_ITEM_S, type) == 0);
static_assert(offsetof(ALARM_ITEM_S, time) == 4);
static_assert(offsetof(ALARM_ITEM_S, seq) == 8);
static_assert(offsetof(ALARM_ITEM_S, text) == 12);

// Type 130: synchronisation status of an alarm log search (4 bytes).
struct ALARM_STATUS_S
{
    int32_t status;            // 1 running, 2 finished, 3 finished (nothing found), 4 password refused
};

static_assert(sizeof(ALARM_STATUS_S) == 4);

enum : int32_t {
    P2P_ALARM_SYNC_RUNNING = 1,
    P2P_ALARM_SYNC_DONE = 2,
    P2P_ALARM_SYNC_EMPTY = 3,
    P2P_ALARM_SYNC_PASSWORD = 4,
};

#pragma pack(pop)
