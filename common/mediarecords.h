#pragma once

#include <cstddef>
#include <cstdint>

// Records of recordings: one recording file (local or on a camera), the
// time and query records of the local recording search, the frames the
// real-time recorder queues, and the record information it hands to the
// recording file library. All are little-endian with fixed layouts; text
// fields are NUL-terminated UTF-8 filled with varno::setText.

#pragma pack(push, 1)

// A calendar time in local time (8 bytes).
struct MEDIA_TIME_S
{
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint16_t hour;
    uint8_t minute;
    uint8_t second;
};

static_assert(sizeof(MEDIA_TIME_S) == 8);
static_assert(offsetof(MEDIA_TIME_S, year) == 0);
static_assert(offsetof(MEDIA_TIME_S, month) == 2);
static_assert(offsetof(MEDIA_TIME_S, day) == 3);
static_assert(offsetof(MEDIA_TIME_S, hour) == 4);
static_assert(offsetof(MEDIA_TIME_S, minute) == 6);
static_assert(offsetof(MEDIA_TIME_S, second) == 7);

// One recording (384 bytes, packed). Also the record of a folder's
// "filelist" (see docs/recfile.md). The fields marked "library" are filled by
// the recording file library for local files and are 0 for camera files;
// nobody else interprets them.
struct MEDIA_FILE_S
{
    char devId[64];            // device ID
    char fileName[256];        // local: relative to the record folder in the
                               // filelist and in query results; camera: as
                               // the camera reported it
    uint32_t state;            // library: MEDIA_FILE_STATE_*
    uint32_t size;             // file size in bytes
    uint16_t alarmType;        // library: alarm type of the recording
    uint16_t channel;          // number stored with a local file
    MEDIA_TIME_S startTime;    // library: first frame
    MEDIA_TIME_S endTime;      // library: end of the last frame
    uint32_t frameCount;       // library: video frame slots (filler included)
    uint32_t audioType;        // 103 ... 107
    uint32_t videoType;        // 2 H.264, 4 H.265
    uint32_t frameRate;        // frames per second
    uint32_t lengthMs;         // library: length in milliseconds
    uint16_t width;
    uint16_t height;
    uint32_t sampleRate;       // audio samples per second
    uint32_t bits;             // bits per audio sample
    uint32_t channels;         // audio channels
};

static_assert(sizeof(MEDIA_FILE_S) == 384);
static_assert(offsetof(MEDIA_FILE_S, devId) == 0);
static_assert(offsetof(MEDIA_FILE_S, fileName) == 64);
static_assert(offsetof(MEDIA_FILE_S, state) == 320);
static_assert(offsetof(MEDIA_FILE_S, size) == 324);
static_assert(offsetof(MEDIA_FILE_S, alarmType) == 328);
static_assert(offsetof(MEDIA_FILE_S, channel) == 330);
static_assert(offsetof(MEDIA_FILE_S, startTime) == 332);
static_assert(offsetof(MEDIA_FILE_S, endTime) == 340);
static_assert(offsetof(MEDIA_FILE_S, frameCount) == 348);
static_assert(offsetof(MEDIA_FILE_S, audioType) == 352);
static_assert(offsetof(MEDIA_FILE_S, videoType) == 356);
static_assert(offsetof(MEDIA_FILE_S, frameRate) == 360);
static_assert(offsetof(MEDIA_FILE_S, lengthMs) == 364);
static_assert(offsetof(MEDIA_FILE_S, width) == 368);
static_assert(offsetof(MEDIA_FILE_S, height) == 370);
static_assert(offsetof(MEDIA_FILE_S, sampleRate) == 372);
static_assert(offsetof(MEDIA_FILE_S, bits) == 376);
static_assert(offsetof(MEDIA_FILE_S, channels) == 380);

// Values of MEDIA_FILE_S::state for local files.
enum : uint32_t {
    MEDIA_FILE_STATE_OPEN = 0,     // being written, or cut short and not repaired yet
    MEDIA_FILE_STATE_CLOSED = 1,   // closed normally
    MEDIA_FILE_STATE_REPAIRED = 2, // cut short, made readable by the repair pass
    MEDIA_FILE_STATE_DAMAGED = 3,  // cut short before anything readable was written
};

// Video and audio type codes of MEDIA_FILE_S and of the record information.
enum : uint32_t {
    MEDIA_VIDEO_H264 = 2,
    MEDIA_VIDEO_H265 = 4,
    MEDIA_AUDIO_G711U = 103,
    MEDIA_AUDIO_G711A = 104,
    MEDIA_AUDIO_AAC = 106,   // AAC frames (ADTS headers where they are handed out)
    MEDIA_AUDIO_PCM16 = 107,
};

// Local recording search request (348 bytes), zero-filled before use.
struct MEDIA_QUERY_S
{
    uint32_t reserved[3];      // always 0
    char dir[256];             // record folder to search
    MEDIA_TIME_S startTime;
    MEDIA_TIME_S endTime;
    char devId[64];            // device ID to match; empty matches every device
};

static_assert(sizeof(MEDIA_QUERY_S) == 348);
static_assert(offsetof(MEDIA_QUERY_S, reserved) == 0);
static_assert(offsetof(MEDIA_QUERY_S, dir) == 12);
static_assert(offsetof(MEDIA_QUERY_S, startTime) == 268);
static_assert(offsetof(MEDIA_QUERY_S, endTime) == 276);
static_assert(offsetof(MEDIA_QUERY_S, devId) == 284);

#pragma pack(pop)

// Result of a local recording search: count records owned by the recording
// file library (8 bytes with 32-bit pointers, 16 with 64-bit ones).
struct MEDIA_LIST_S
{
    int32_t count;
    MEDIA_FILE_S *files;
};

static_assert(offsetof(MEDIA_LIST_S, count) == 0);
static_assert(offsetof(MEDIA_LIST_S, files) == (sizeof(void *) == 4 ? 4 : 8));
static_assert(sizeof(MEDIA_LIST_S) == (sizeof(void *) == 4 ? 8 : 16));

// One frame queued by the real-time recorder: this 16-byte head followed by
// size bytes of data in the same heap block.
struct MEDIA_FRAME_INFO_S
{
    uint32_t type;             // MEDIA_FRAME_*
    uint32_t size;             // bytes of data after the head
    uint64_t timeStamp;        // milliseconds, low word first

    unsigned char *data() { return reinterpret_cast<unsigned char *>(this + 1); }
    const unsigned char *data() const { return reinterpret_cast<const unsigned char *>(this + 1); }
};

static_assert(sizeof(MEDIA_FRAME_INFO_S) == 16);
static_assert(offsetof(MEDIA_FRAME_INFO_S, type) == 0);
static_assert(offsetof(MEDIA_FRAME_INFO_S, size) == 4);
static_assert(offsetof(MEDIA_FRAME_INFO_S, timeStamp) == 8);

// Frame types of MEDIA_FRAME_INFO_S and of Record_local_MediaFileWrite.
enum : uint32_t {
    MEDIA_FRAME_OTHER = 0,
    MEDIA_FRAME_AUDIO = 1,
    MEDIA_FRAME_IDR = 101,     // H.264 NAL type 5
    MEDIA_FRAME_SLICE = 102,   // H.264 NAL type 1; also the one-byte filler frame
    MEDIA_FRAME_SEI = 103,     // H.264 NAL type 6
    MEDIA_FRAME_SPS = 104,     // H.264 NAL type 7
    MEDIA_FRAME_PPS = 105,     // H.264 NAL type 8
};

// Record information the recorder hands to Record_local_MediaFileCreat
// (100 bytes). It starts with the device ID text, so a pointer to it is
// also a pointer to the device ID.
struct RECORD_INFO_S
{
    char devId[64];
    uint16_t alarmType;        // 0 manual recording
    uint16_t channel;          // stored in MEDIA_FILE_S::channel
    int32_t version;           // RECORD_INFO_VERSION
    int32_t audioFormat;       // 103 G.711 mu-law, 104/106 G.711 A-law, 107 PCM (of the stream)
    int32_t videoCodec;        // MEDIA_VIDEO_H264 or MEDIA_VIDEO_H265
    int32_t frameRate;         // frames per second of the stream
    uint16_t width;
    uint16_t height;
    int32_t sampleRate;        // audio samples per second
    int32_t bitsPerSample;     // of the stream's audio
    int32_t channels;          // audio channels
};

enum : int32_t { RECORD_INFO_VERSION = 2 };

static_assert(sizeof(RECORD_INFO_S) == 100);
static_assert(offsetof(RECORD_INFO_S, devId) == 0);
static_assert(offsetof(RECORD_INFO_S, alarmType) == 64);
static_assert(offsetof(RECORD_INFO_S, channel) == 66);
static_assert(offsetof(RECORD_INFO_S, version) == 68);
static_assert(offsetof(RECORD_INFO_S, audioFormat) == 72);
static_assert(offsetof(RECORD_INFO_S, videoCodec) == 76);
static_assert(offsetof(RECORD_INFO_S, frameRate) == 80);
static_assert(offsetof(RECORD_INFO_S, width) == 84);
static_assert(offsetof(RECORD_INFO_S, height) == 86);
static_assert(offsetof(RECORD_INFO_S, sampleRate) == 88);
static_assert(offsetof(RECORD_INFO_S, bitsPerSample) == 92);
static_assert(offsetof(RECORD_INFO_S, channels) == 96);
