#include "platform/p2p/p2p_wire.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstdio>
#include <cstring>

namespace varno::p2p {

bool isKnownKind(uint8_t kind)
{
    switch (Kind(kind)) {
    case Kind::Presence:
    case Kind::License:
    case Kind::Marker:
    case Kind::Lookup:
    case Kind::PresenceProbe:
    case Kind::SessionOpen:
    case Kind::SessionAccept:
    case Kind::SessionClose:
    case Kind::Ping:
    case Kind::Pong:
    case Kind::DescrReq:
    case Kind::DescrRsp:
    case Kind::StreamOpen:
    case Kind::StreamOpenRsp:
    case Kind::StreamClose:
    case Kind::StreamFrame:
    case Kind::PlayStart:
    case Kind::PlayStartRsp:
    case Kind::PlayStop:
    case Kind::PlayData:
    case Kind::PlayEnd:
    case Kind::DownloadStart:
    case Kind::DownloadStartRsp:
    case Kind::DownloadStop:
    case Kind::DownloadData:
    case Kind::DownloadAck:
    case Kind::DownloadEnd:
    case Kind::Message:
    case Kind::Error:
        return true;
    }
    return false;
}

uint8_t kindVersion(Kind kind)
{
    return kind == Kind::Lookup || kind == Kind::PresenceProbe ? 2 : 1;
}

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Presence: return "Presence";
    case Kind::License: return "License";
    case Kind::Marker: return "Marker";
    case Kind::Lookup: return "Lookup";
    case Kind::PresenceProbe: return "PresenceProbe";
    case Kind::SessionOpen: return "SessionOpen";
    case Kind::SessionAccept: return "SessionAccept";
    case Kind::SessionClose: return "SessionClose";
    case Kind::Ping: return "Ping";
    case Kind::Pong: return "Pong";
    case Kind::DescrReq: return "DescrReq";
    case Kind::DescrRsp: return "DescrRsp";
    case Kind::StreamOpen: return "StreamOpen";
    case Kind::StreamOpenRsp: return "StreamOpenRsp";
    case Kind::StreamClose: return "StreamClose";
    case Kind::StreamFrame: return "StreamFrame";
    case Kind::PlayStart: return "PlayStart";
    case Kind::PlayStartRsp: return "PlayStartRsp";
    case Kind::PlayStop: return "PlayStop";
    case Kind::PlayData: return "PlayData";
    case Kind::PlayEnd: return "PlayEnd";
    case Kind::DownloadStart: return "DownloadStart";
    case Kind::DownloadStartRsp: return "DownloadStartRsp";
    case Kind::DownloadStop: return "DownloadStop";
    case Kind::DownloadData: return "DownloadData";
    case Kind::DownloadAck: return "DownloadAck";
    case Kind::DownloadEnd: return "DownloadEnd";
    case Kind::Message: return "Message";
    case Kind::Error: return "Error";
    }
    return "?";
}

const char *decodeErrorText(DecodeError error)
{
    switch (error) {
    case DecodeError::Ok: return "ok";
    case DecodeError::Short: return "shorter than the header";
    case DecodeError::Magic: return "bad magic";
    case DecodeError::Version: return "unknown protocol version";
    case DecodeError::Kind: return "unknown kind";
    case DecodeError::Length: return "body length does not match the received size";
    case DecodeError::TooLarge: return "body too large";
    case DecodeError::SenderId: return "sender ID without terminator";
    }
    return "?";
}

// Header layout:
//   0 u8 'V', 1 u8 'P', 2 u8 version, 3 u8 kind,
//   4 u32 session, 8 u32 request, 12 u32 channel, 16 i32 status,
//   20 u32 body length, 24 char[40] sender ID.
DecodeError decode(const void *data, size_t size, Envelope &out)
{
    const auto *p = static_cast<const uint8_t *>(data);
    if (!p || size < kHeaderSize)
        return DecodeError::Short;
    if (p[0] != kMagic0 || p[1] != kMagic1)
        return DecodeError::Magic;
    if (p[2] < 1 || p[2] > kVersion)
        return DecodeError::Version;
    if (!isKnownKind(p[3]) || kindVersion(Kind(p[3])) > p[2])
        return DecodeError::Kind;
    const uint32_t bodyLength = getU32(p + 20);
    if (bodyLength > kMaxBody)
        return DecodeError::TooLarge;
    if (size_t(bodyLength) != size - kHeaderSize)
        return DecodeError::Length;
    bool terminated = false;
    std::string from = fieldString(p + 24, kIdSize, &terminated);
    if (!terminated || from.empty())
        return DecodeError::SenderId;
    out.kind = Kind(p[3]);
    out.version = p[2];
    out.session = getU32(p + 4);
    out.request = getU32(p + 8);
    out.channel = getU32(p + 12);
    out.status = int32_t(getU32(p + 16));
    out.from = std::move(from);
    out.body = p + kHeaderSize;
    out.bodySize = bodyLength;
    return DecodeError::Ok;
}

std::vector<uint8_t> encode(Kind kind, std::string_view from, uint32_t session, uint32_t request,
                            uint32_t channel, int32_t status, const void *body, size_t bodySize)
{
    std::vector<uint8_t> out(kHeaderSize + bodySize, 0);
    uint8_t *p = out.data();
    p[0] = kMagic0;
    p[1] = kMagic1;
    p[2] = kindVersion(kind);
    p[3] = uint8_t(kind);
    putU32(p + 4, session);
    putU32(p + 8, request);
    putU32(p + 12, channel);
    putU32(p + 16, uint32_t(status));
    putU32(p + 20, uint32_t(bodySize));
    putField(p + 24, kIdSize, from);
    if (bodySize && body)
        std::memcpy(p + kHeaderSize, body, bodySize);
    return out;
}

std::string fieldString(const uint8_t *field, size_t size, bool *terminated)
{
    const void *nul = std::memchr(field, 0, size);
    if (terminated)
        *terminated = nul != nullptr;
    if (!nul)
        return std::string();
    return std::string(reinterpret_cast<const char *>(field),
                       static_cast<const uint8_t *>(nul) - field);
}

void putField(uint8_t *field, size_t size, std::string_view text)
{
    if (!size)
        return;
    std::memset(field, 0, size);
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
}

namespace {
const std::string kRoot = "varno/v1/";
}

std::string cameraInbox(std::string_view cameraId)
{
    return kRoot + "cam/" + std::string(cameraId) + "/in";
}

std::string cameraPresence(std::string_view cameraId)
{
    return kRoot + "cam/" + std::string(cameraId) + "/presence";
}

std::string licenseTopic(std::string_view deviceId)
{
    return kRoot + "lic/" + std::string(deviceId);
}

std::string clientInbox(std::string_view clientId)
{
    return kRoot + "cli/" + std::string(clientId) + "/in";
}

std::string clientInboxFrom(std::string_view clientId, std::string_view cameraId)
{
    return clientInbox(clientId) + "/" + std::string(cameraId);
}

std::string lookupTopic(std::string_view deviceId)
{
    return kRoot + "lic/" + std::string(deviceId) + "/ask";
}

uint32_t announcedVersion(const uint8_t *body, size_t bodySize, size_t layoutSize)
{
    if (!body || bodySize < layoutSize + 4)
        return 1;
    const uint32_t v = getU32(body + layoutSize);
    return v == 0 ? 1 : v;
}

bool validTopicId(std::string_view id)
{
    if (id.empty() || id.size() >= kIdSize)
        return false;
    for (char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                        || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

void makeToken(const char *password, int32_t number, uint8_t out[kPasswordTokenSize])
{
    QByteArray text = QByteArray(password ? password : "") + ':' + QByteArray::number(number)
                      + ":varno";
    const QByteArray hex = QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
    std::memset(out, 0, kPasswordTokenSize);
    std::memcpy(out, hex.constData(), 32);
}

bool checkToken(const char *password, int32_t number, const uint8_t *token)
{
    uint8_t expected[kPasswordTokenSize];
    makeToken(password, number, expected);
    // Only the 32 digits and their terminator count.
    return std::memcmp(expected, token, 33) == 0;
}

std::string cameraIdForDevice(std::string_view deviceId, std::string_view checkLetters)
{
    if (deviceId.size() != 7)
        return std::string();
    return "VRN" + std::string(deviceId.substr(0, 1)) + "-" + std::string(deviceId.substr(1))
           + "-" + std::string(checkLetters);
}

std::string deviceIdFromCameraId(std::string_view cameraId)
{
    const size_t dash = cameraId.find('-');
    if (dash == std::string_view::npos || dash == 0 || cameraId.size() < dash + 7)
        return std::string();
    return std::string(cameraId.substr(dash - 1, 1)) + std::string(cameraId.substr(dash + 1, 6));
}

} // namespace varno::p2p
