#include "playback/recordsearch.h"

#include "common/p2precords.h"
#include "common/textfield.h"


#include <cstring>

namespace varno::playback {

void resolutionToSize(int code, uint16_t *width, uint16_t *height)
{
    switch (code) {
    case 0: *width = 1280; *height = 720; break;
    case 2: *width = 1280; *height = 960; break;
    case 3: *width = 1920; *height = 1080; break;
    case 4: *width = 704; *height = 576; break;
    case 5: *width = 352; *height = 288; break;
    default: *width = 640; *height = 360; break;
    }
}

uint32_t toMediaAudioType(int cameraCode)
{
    switch (cameraCode) {
    case 1: return 103;
    case 2: return 105;
    case 3: return 106;
    default: return 104;
    }
}

uint32_t toMediaVideoType(int cameraCode)
{
    return cameraCode == 1 ? 4 : 2;
}

QString cameraDisplayName(const QString &fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return fileName;
    QString base = fileName.left(dot);
    base.replace(QLatin1Char('.'), QLatin1Char(':'));
    return base + fileName.mid(dot);
}

QString sizeText(uint32_t bytes)
{
    return QString::asprintf("%0.2f", double(bytes) * (1.0 / 1024) * (1.0 / 1024));
}

QByteArray nextPageEnd(const QString &lastDisplayName)
{
    const int sep = lastDisplayName.indexOf(QLatin1Char('_'));
    if (sep < 6)
        return {};
    const QString date = lastDisplayName.left(6);
    for (QChar c : date)
        if (!c.isDigit())
            return {};
    const QString rest = lastDisplayName.mid(sep + 1);
    const QString text = QStringLiteral("20%1-%2-%3 %4").arg(date.mid(0, 2), date.mid(2, 2), date.mid(4, 2), rest);
    return text.toUtf8().left(P2P_TIME_TEXT_SIZE - 1);
}

QString downloadTargetName(const QString &displayName)
{
    // Everything before the last "." (the name may hold any character).
    const int dot = displayName.lastIndexOf(QLatin1Char('.'));
    QString base = dot >= 0 ? displayName.left(dot) : displayName;
    base.remove(QLatin1Char(':'));
    for (QChar &c : base)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String(".."))
        base = QStringLiteral("recording");
    return base + QStringLiteral(".mp4");
}

SearchReply parseSearchReply(int type, const char *payload, size_t length, const char *devId)
{
    SearchReply reply;
    if (!payload || length < sizeof(RECORD_SEARCH_RSP_S))
        return reply;
    RECORD_SEARCH_RSP_S head;
    std::memcpy(&head, payload, sizeof(head));
    reply.valid = true;
    reply.result = head.result;
    reply.count = head.count;
    if (head.count <= 0)
        return reply;
    const bool extended = type == P2P_MSG_RECORD_LIST_EX;
    const size_t itemSize = extended ? sizeof(RECORD_ITEM_EX_S) : sizeof(RECORD_ITEM_S);
    const size_t present = (length - sizeof(RECORD_SEARCH_RSP_S)) / itemSize;
    const size_t count = std::min(present, size_t(head.count));
    reply.truncated = count < size_t(head.count);
    const char *p = payload + sizeof(RECORD_SEARCH_RSP_S);
    for (size_t i = 0; i < count; ++i, p += itemSize) {
        RECORD_ITEM_EX_S item;
        std::memset(&item, 0, sizeof(item));
        std::memcpy(&item, p, itemSize);
        MEDIA_FILE_S f;
        std::memset(&f, 0, sizeof(f));
        if (devId)
            varno::setText(f.devId, devId);
        // The name need not be terminated within its field.
        varno::setText(f.fileName, std::string_view(item.name, varno::textLength(item.name)));
        f.size = item.size;
        resolutionToSize(item.resolution, &f.width, &f.height);
        f.frameRate = item.frameRate;
        if (extended) {
            f.videoType = toMediaVideoType(item.videoType);
            f.audioType = toMediaAudioType(item.audioType);
            f.sampleRate = uint32_t(item.audioSampleRate);
            f.bits = item.audioSampleRate > 0 ? uint32_t(item.audioBitRate / item.audioSampleRate) : 0;
            f.channels = 1;
        } else {
            f.audioType = 104;
            f.videoType = 2;
            f.sampleRate = 8000;
            f.bits = 16;
            f.channels = 1;
        }
        reply.files.append(f);
    }
    return reply;
}

DecoderSettings decoderSettings(const MEDIA_FILE_S &file)
{
    DecoderSettings s;
    s.videoCodec = file.videoType == 4 ? 2 : 1;
    switch (file.audioType) {
    case 105: s.audioCode = 101; break;
    case 106: s.audioCode = 100; break;
    case 107: s.audioCode = 103; break;
    default: s.audioCode = 102; break;
    }
    s.channels = file.channels;
    s.bits = file.bits;
    s.sampleRate = file.sampleRate;
    return s;
}

QString timeText(int seconds)
{
    if (seconds < 0)
        seconds = 0;
    return QString::asprintf("%02d:%02d", seconds / 60, seconds % 60);
}

float speedFactor(int level)
{
    if (level < -3 || level > 3)
        level = 0;
    return level >= 0 ? float(1 << level) : 1.0f / float(1 << -level);
}

QString speedText(int level)
{
    if (level < -3 || level > 3)
        level = 0;
    return level >= 0 ? QStringLiteral("X%1").arg(1 << level) : QStringLiteral("X1/%1").arg(1 << -level);
}

int64_t cameraFrameIntervalUs(uint32_t frameRate)
{
    if (frameRate == 0)
        frameRate = 25;
    return 1000 * (1000 / (int64_t(frameRate) + 3));
}

double localFrameIntervalUs(uint32_t frameRate, float speed)
{
    if (frameRate == 0)
        frameRate = 25;
    if (!(speed >= 0.125f && speed <= 8.0f))
        speed = 1.0f;
    return 1e6 / (double(frameRate) * double(speed));
}

} // namespace varno::playback
