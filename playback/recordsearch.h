#pragma once

#include "common/mediarecords.h"

#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// Pieces of the recording search and playback that need no widget: the
// camera's search reply read from a byte buffer, the names the table shows,
// the codes the decoder takes. Every function here takes untrusted bytes
// safely (the reply comes from the network).
namespace varno::playback {

// Picture size of a search reply's resolution code.
void resolutionToSize(int code, uint16_t *width, uint16_t *height);
// Camera audio / video type codes to the codes of MEDIA_FILE_S.
uint32_t toMediaAudioType(int cameraCode);
uint32_t toMediaVideoType(int cameraCode);

// "190225_12.30.00.h264" -> "190225_12:30:00.h264": the complete base name
// with every "." turned into ":", then the suffix.
QString cameraDisplayName(const QString &fileName);
// Size column text: bytes in MB with two decimals (1572864 -> "1.50").
QString sizeText(uint32_t bytes);
// End time of the next page's request from the last listed display name
// ("190225_12:30:00.h264" -> "2019-02-25 12:30:00.h264"); empty when the
// name does not have the form.
QByteArray nextPageEnd(const QString &lastDisplayName);
// Target file name of a download: the display name's complete base name
// without ":" plus ".mp4" ("190225_08:15:00.h264" -> "190225_081500.mp4").
// Characters not allowed in a local file name ('/', NUL and control
// characters) become '_'; an empty result becomes "recording".
QString downloadTargetName(const QString &displayName);

// One parsed camera reply (message type 11 or 155).
struct SearchReply
{
    bool valid = false;        // the head was complete
    int32_t result = 0;        // 0 accepted, other: password refused
    int32_t count = 0;         // the count the camera announced
    QList<MEDIA_FILE_S> files; // the entries the payload really holds
    bool truncated = false;    // fewer entries than announced were present
};

// Reads a reply of the given type from its payload. devId goes into every
// record. A count larger than the payload holds yields only the entries that
// are present (truncated set); a payload shorter than the head is not valid.
SearchReply parseSearchReply(int type, const char *payload, size_t length, const char *devId);

// Decoder settings of a recording (the playback window's rules).
struct DecoderSettings
{
    int videoCodec = 1;        // 1 H.264, 2 H.265
    uint32_t audioCode = 102;
    uint32_t channels = 0;
    uint32_t bits = 0;
    uint32_t sampleRate = 0;
};
DecoderSettings decoderSettings(const MEDIA_FILE_S &file);

// "%02d:%02d" of a number of seconds; minutes are not limited (3725 -> "62:05").
QString timeText(int seconds);

// The speed factor of a level -3 ... 3 and the label text ("X4", "X1/8").
float speedFactor(int level);
QString speedText(int level);

// Frame interval of a camera file in microseconds: the whole milliseconds
// of 1000 / (frameRate + 3) (35 ms at 25 fps). The camera sends in real
// time; pacing a little faster lets the decoder catch up after a hold-up
// instead of falling behind for good. A frame rate of 0 counts as 25.
int64_t cameraFrameIntervalUs(uint32_t frameRate);

// Frame interval of a local recording in microseconds at a speed factor:
// real time, 1 / frameRate divided by the factor (40 ms at 25 fps and 1x,
// so that a 20 s recording plays in 20 s; the file is the only clock). A
// frame rate of 0 counts as 25, a factor outside 1/8 ... 8 as 1.
double localFrameIntervalUs(uint32_t frameRate, float speed);

} // namespace varno::playback
