#pragma once

// The relay protocol of the P2P library and of the cameras: MQTT topics and
// the binary envelope every MQTT message carries. docs/p2p-protocol.md is the
// full description; this header is its code form, shared by the library and
// the camera simulator.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varno::p2p {

// Highest protocol version this code speaks. Every envelope carries the
// lowest version that defines its kind, so version-1 peers keep receiving
// version-1 envelopes for everything they know.
constexpr uint8_t kVersion = 3;
// From version 3 on a camera sends everything for a client on that client's
// inbox topic that names the camera (clientInboxFrom): the relay's access
// rules prove the sender, and the client drops an envelope whose sender ID
// differs from the topic's.
constexpr uint8_t kVersionProvenSender = 3;
constexpr uint8_t kMagic0 = 'V';
constexpr uint8_t kMagic1 = 'P';
constexpr size_t kHeaderSize = 64;
constexpr size_t kIdSize = 40;                 // sender ID field, NUL-terminated
constexpr size_t kMaxBody = 4u << 20;          // largest body accepted
constexpr size_t kPasswordTokenSize = 36;
constexpr size_t kFileNameSize = 256;
constexpr size_t kDeviceIdSize = 64;
constexpr size_t kCameraIdSize = 64;

enum class Kind : uint8_t {
    Presence = 0x01,       // camera -> presence topic (retained; last will)
    License = 0x02,        // camera -> license topic (retained)
    Marker = 0x03,         // client -> own inbox (end of retained messages)
    Lookup = 0x04,         // client -> lookup topic of a device ID (version 2)
    PresenceProbe = 0x05,  // client -> camera inbox (version 2)
    SessionOpen = 0x10,    // client -> camera
    SessionAccept = 0x11,  // camera -> client
    SessionClose = 0x12,   // either way
    Ping = 0x13,           // client -> camera
    Pong = 0x14,           // camera -> client
    DescrReq = 0x20,
    DescrRsp = 0x21,
    StreamOpen = 0x22,
    StreamOpenRsp = 0x23,
    StreamClose = 0x24,
    StreamFrame = 0x25,
    PlayStart = 0x30,
    PlayStartRsp = 0x31,
    PlayStop = 0x32,
    PlayData = 0x33,
    PlayEnd = 0x34,
    DownloadStart = 0x40,
    DownloadStartRsp = 0x41,
    DownloadStop = 0x42,
    DownloadData = 0x43,
    DownloadAck = 0x44,
    DownloadEnd = 0x45,
    Message = 0x50,
    Error = 0x7F,
};

bool isKnownKind(uint8_t kind);
// The protocol version that introduced a kind (1 or 2).
uint8_t kindVersion(Kind kind);
const char *kindName(Kind kind);

// Status codes carried in the envelope's status field (replies).
enum : int32_t {
    kOk = 0,
    kErrRefused = -1,      // password token wrong
    kErrNoSuchStream = -2,
    kErrNoSuchFile = -3,
    kErrNoSession = -4,
    kErrBadRequest = -5,
    kErrBusy = -6,
    kErrCut = -7,          // transfer ended before the end of the file
};

// Decoded envelope. body points into the received buffer.
struct Envelope
{
    Kind kind = Kind::Error;
    uint8_t version = 1;
    uint32_t session = 0;
    uint32_t request = 0;
    uint32_t channel = 0;
    int32_t status = 0;
    std::string from;
    const uint8_t *body = nullptr;
    size_t bodySize = 0;
};

// Result of decoding. Anything but Ok is dropped by the receiver with a log
// line naming the reason.
enum class DecodeError {
    Ok,
    Short,           // fewer bytes than a header
    Magic,
    Version,         // unknown protocol version
    Kind,            // unknown message kind, or one its version does not define
    Length,          // body length field does not match the received size
    TooLarge,
    SenderId,        // sender ID without terminator or empty
};

const char *decodeErrorText(DecodeError error);

DecodeError decode(const void *data, size_t size, Envelope &out);

// Encodes an envelope with the given body (which may be empty).
std::vector<uint8_t> encode(Kind kind, std::string_view from, uint32_t session, uint32_t request,
                            uint32_t channel, int32_t status, const void *body, size_t bodySize);

// Little-endian field access inside bodies (bounds are the caller's check).
inline void putU32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint32_t getU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putU64(uint8_t *p, uint64_t v)
{
    putU32(p, uint32_t(v));
    putU32(p + 4, uint32_t(v >> 32));
}
inline uint64_t getU64(const uint8_t *p) { return uint64_t(getU32(p)) | uint64_t(getU32(p + 4)) << 32; }

// Text of a fixed field that may lack its terminator: nullopt-like empty
// result plus ok=false when no NUL lies inside the field.
std::string fieldString(const uint8_t *field, size_t size, bool *terminated = nullptr);
void putField(uint8_t *field, size_t size, std::string_view text);

// Body layouts (sizes in bytes; see docs/p2p-protocol.md).
namespace body {
// Presence / License: camera ID (64), device ID (64); version 2 cameras
// append the protocol version they speak (u32).
constexpr size_t kPresence = 128;
constexpr size_t kLicense = 128;
constexpr size_t kPresenceV2 = kPresence + 4;
constexpr size_t kLicenseV2 = kLicense + 4;
// SessionAccept: device ID (64), stream count u32, nonce u32; version 2
// cameras append the protocol version they speak (u32).
constexpr size_t kSessionAccept = 72;
constexpr size_t kSessionAcceptV2 = kSessionAccept + 4;
// Authenticated request head: nonce u32 + token (36).
constexpr size_t kAuth = 40;
// StreamOpen: auth (40), params 3 x i32.
constexpr size_t kStreamOpen = kAuth + 12;
// StreamFrame head: media u8, flags u8, reserved u16, frameNo u32,
// timestamp ms u32, reserved u32, sent time us u64.
constexpr size_t kFrameHead = 24;
// PlayStart: auth (40), start second i32, file name (256).
constexpr size_t kPlayStart = kAuth + 4 + kFileNameSize;
// PlayStartRsp: length in seconds i32.
constexpr size_t kPlayStartRsp = 4;
// PlayData head: media u8, flags u8, reserved u16, second i32, seq u32.
constexpr size_t kPlayHead = 12;
// DownloadStart: auth (40), offset u32, file name (256).
constexpr size_t kDownloadStart = kAuth + 4 + kFileNameSize;
// DownloadStartRsp: file size u32.
constexpr size_t kDownloadStartRsp = 4;
// DownloadData head: offset u32.
constexpr size_t kDownloadHead = 4;
// DownloadAck: next offset wanted u32.
constexpr size_t kDownloadAck = 4;
// DownloadEnd: final offset u32.
constexpr size_t kDownloadEnd = 4;
} // namespace body

constexpr uint8_t kMediaVideo = 1;
constexpr uint8_t kMediaAudio = 2;
constexpr uint8_t kFlagKey = 1;

// Flow control of downloads: bytes a camera may send beyond the last
// acknowledged offset, and the piece size it uses.
constexpr uint32_t kDownloadWindow = 256 * 1024;
constexpr uint32_t kDownloadPiece = 32 * 1024;

// Time-outs (ms).
constexpr int kPingIntervalMs = 5000;
constexpr int kSessionIdleMs = 20000;   // camera drops a session without ping
constexpr int kSessionLostMs = 15000;   // client declares a session lost without pong

// Topics.
std::string cameraInbox(std::string_view cameraId);
std::string cameraPresence(std::string_view cameraId);
std::string licenseTopic(std::string_view deviceId);
std::string clientInbox(std::string_view clientId);
// Version 3: what camera cameraId sends to client clientId.
std::string clientInboxFrom(std::string_view clientId, std::string_view cameraId);
// Where version-2 cameras take lookup requests for their device ID.
std::string lookupTopic(std::string_view deviceId);

// The protocol version a camera announced after a body layout of layoutSize
// bytes: the u32 there when present, else 1.
uint32_t announcedVersion(const uint8_t *body, size_t bodySize, size_t layoutSize);

// A camera, client or device ID that can be used in a topic and as a sender
// ID: 1 to 39 characters of letters, digits, '-' and '_'.
bool validTopicId(std::string_view id);

// Authentication token: MD5("<password>:<number>:varno") as 32 lower-case
// hex digits followed by NUL and zero fill (36 bytes).
void makeToken(const char *password, int32_t number, uint8_t out[kPasswordTokenSize]);
bool checkToken(const char *password, int32_t number, const uint8_t *token);

// P2P camera IDs: "VRN" + the first character of the device ID + "-" + the
// six characters after it + "-" + five check letters, e.g.
// "VRNB-765432-KXPQT" for device B765432. The live page derives the device
// ID back from the character before the first "-" and the six after it.
std::string cameraIdForDevice(std::string_view deviceId, std::string_view checkLetters);
std::string deviceIdFromCameraId(std::string_view cameraId);

} // namespace varno::p2p
