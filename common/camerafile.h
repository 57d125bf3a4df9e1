#pragma once

#include <cstddef>
#include <cstdint>

// The camera recording file: what a camera keeps on its own storage and what
// a download delivers byte for byte. Little-endian.
//
//   0    512-byte header (CAMFILE_HEADER_S)
//   512  chunks up to the end of the chunk data (header field chunkEnd; 0 or
//        a value not below the file length means: to the end of the file)
//
// A chunk is a four-character tag, a tag-specific head and the payload, whose
// stored length is the head's size rounded up to a multiple of 8 (zero
// padding):
//   "00dc" / "01dc" video: CAMFILE_VIDEO_HEAD_S (44 bytes), one access unit as
//                          an H.264 Annex B byte stream with 4-byte start codes
//   "01wb"          audio: CAMFILE_AUDIO_HEAD_S (12 bytes), G.711 A-law bytes

namespace varno::camfile {

constexpr size_t kHeaderSize = 512;
constexpr char kTagVideo[4] = {'0', '0', 'd', 'c'};
constexpr char kTagVideo2[4] = {'0', '1', 'd', 'c'};
constexpr char kTagAudio[4] = {'0', '1', 'w', 'b'};
constexpr char kMagic[8] = {'V', 'R', 'N', 'O', 'R', 'E', 'C', '1'};

// Stored length of a payload of the given size.
constexpr uint32_t paddedSize(uint32_t size) { return (size + 7u) & ~7u; }

// Header resolution codes (they differ from the search reply's codes).
enum : uint8_t {
    kRes704x576 = 0,
    kRes352x288 = 2,
    kRes1920x1080 = 4,
    kRes1280x720 = 5,
    kRes640x360 = 6,
    kRes1280x960 = 8,
};

} // namespace varno::camfile

#pragma pack(push, 1)

struct CAMFILE_HEADER_S
{
    char magic[8];             // "VRNOREC1" (readers do not rely on it)
    char devId[32];            // camera device ID text
    int32_t startTime;         // seconds since 1970-01-01 UTC of the first frame
    int32_t duration;          // seconds
    uint32_t videoChunks;
    uint32_t audioChunks;
    uint32_t reserved0;
    uint32_t audioSampleRate;  // Hz
    uint32_t chunkEnd;         // file offset where the chunks stop (see above)
    uint16_t width;
    uint16_t height;
    uint8_t videoType;         // camera code: 0 H.264, 1 H.265
    uint8_t audioType;         // camera code: 0 G.711 A-law
    uint8_t audioBits;         // bits per encoded sample (8)
    uint8_t audioChannels;     // 1
    char reserved1[12];
    uint8_t channel;           // channel number
    uint8_t frameRate;         // frames per second
    uint8_t resolution;        // varno::camfile::kRes*
    char reserved2[421];
};

static_assert(sizeof(CAMFILE_HEADER_S) == varno::camfile::kHeaderSize);
static_assert(offsetof(CAMFILE_HEADER_S, magic) == 0);
static_assert(offsetof(CAMFILE_HEADER_S, devId) == 8);
static_assert(offsetof(CAMFILE_HEADER_S, startTime) == 40);
static_assert(offsetof(CAMFILE_HEADER_S, duration) == 44);
static_assert(offsetof(CAMFILE_HEADER_S, videoChunks) == 48);
static_assert(offsetof(CAMFILE_HEADER_S, audioChunks) == 52);
static_assert(offsetof(CAMFILE_HEADER_S, reserved0) == 56);
static_assert(offsetof(CAMFILE_HEADER_S, audioSampleRate) == 60);
static_assert(offsetof(CAMFILE_HEADER_S, chunkEnd) == 64);
static_assert(offsetof(CAMFILE_HEADER_S, width) == 68);
static_assert(offsetof(CAMFILE_HEADER_S, height) == 70);
static_assert(offsetof(CAMFILE_HEADER_S, videoType) == 72);
static_assert(offsetof(CAMFILE_HEADER_S, audioType) == 73);
static_assert(offsetof(CAMFILE_HEADER_S, audioBits) == 74);
static_assert(offsetof(CAMFILE_HEADER_S, audioChannels) == 75);
static_assert(offsetof(CAMFILE_HEADER_S, reserved1) == 76);
static_assert(offsetof(CAMFILE_HEADER_S, channel) == 88);
static_assert(offsetof(CAMFILE_HEADER_S, frameRate) == 89);
static_assert(offsetof(CAMFILE_HEADER_S, resolution) == 90);
static_assert(offsetof(CAMFILE_HEADER_S, reserved2) == 91);

// Head of a video chunk, after the tag (44 bytes).
struct CAMFILE_VIDEO_HEAD_S
{
    uint32_t size;             // payload bytes before padding
    uint32_t frameNo;          // running number of the video frame in the file
    uint32_t flags;            // bit 0: key frame (the access unit holds SPS, PPS, IDR)
    uint64_t timestamp;        // microseconds since 1970-01-01 UTC
    char reserved[24];
};

static_assert(sizeof(CAMFILE_VIDEO_HEAD_S) == 44);
static_assert(offsetof(CAMFILE_VIDEO_HEAD_S, size) == 0);
static_assert(offsetof(CAMFILE_VIDEO_HEAD_S, frameNo) == 4);
static_assert(offsetof(CAMFILE_VIDEO_HEAD_S, flags) == 8);
static_assert(offsetof(CAMFILE_VIDEO_HEAD_S, timestamp) == 12);
static_assert(offsetof(CAMFILE_VIDEO_HEAD_S, reserved) == 20);

// Head of an audio chunk, after the tag (12 bytes).
struct CAMFILE_AUDIO_HEAD_S
{
    uint32_t size;             // payload bytes (samples) before padding
    uint64_t timestamp;        // microseconds since 1970-01-01 UTC
};

static_assert(sizeof(CAMFILE_AUDIO_HEAD_S) == 12);
static_assert(offsetof(CAMFILE_AUDIO_HEAD_S, size) == 0);
static_assert(offsetof(CAMFILE_AUDIO_HEAD_S, timestamp) == 4);

#pragma pack(pop)

enum { CAMFILE_VIDEO_KEY = 1 };
