#include "playback/mp4check.h"

#include "common/logfile.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace varno::playback {

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

} // namespace

bool inspectMp4(const std::string &path, Mp4Facts *facts)
{
    *facts = Mp4Facts {};
    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), av_find_input_format("mp4"), nullptr) < 0)
        return false;
    int video = -1, audio = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters *par = ctx->streams[i]->codecpar;
        if (video < 0 && par->codec_type == AVMEDIA_TYPE_VIDEO
            && (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC)) {
            video = int(i);
            facts->width = par->width;
            facts->height = par->height;
        } else if (audio < 0 && par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id == AV_CODEC_ID_AAC) {
            audio = int(i);
        }
    }
    int64_t first = std::numeric_limits<int64_t>::max();
    int64_t end = std::numeric_limits<int64_t>::min();
    AVPacket *packet = av_packet_alloc();
    while (packet && av_read_frame(ctx, packet) >= 0) {
        if (packet->stream_index == video && packet->size > 0) {
            ++facts->videoSamples;
            if (packet->pts != AV_NOPTS_VALUE) {
                first = std::min(first, packet->pts);
                end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
            }
        } else if (packet->stream_index == audio && packet->size > 0) {
            ++facts->audioPackets;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    facts->video = video >= 0 && facts->videoSamples > 0;
    facts->audio = audio >= 0 && facts->audioPackets > 0;
    if (facts->video && end > first)
        facts->videoSeconds = double(end - first) * av_q2d(ctx->streams[video]->time_base);
    avformat_close_input(&ctx);
    return true;
}

std::string partPathOf(const std::string &target)
{
    return target + ".part";
}

bool createPart(const std::string &partPath, std::string *reason)
{
    std::FILE *f = std::fopen(partPath.c_str(), "wb");
    if (!f) {
        *reason = "cannot create " + partPath + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

bool isSameFile(int sourceFd, const char *target)
{
    struct stat a {}, b {};
    return target && sourceFd >= 0 && ::fstat(sourceFd, &a) == 0 && ::stat(target, &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
}

const char *exportCodeText(int code)
{
    switch (code) {
    case 0: return "exported";
    case kExportOpenFailed: return "the recording cannot be opened";
    case kExportUnsupported: return "the recording's video codec cannot be exported";
    case kExportWriteFailed: return "the MP4 file cannot be written";
    case kExportCancelled: return "the export was stopped";
    case kExportNoVideo: return "the recording holds no video that can be decoded";
    case kExportCheckFailed: return "the MP4 file does not hold the recording";
    case kExportReadFailed: return "the recording is damaged or cut short";
    default: return "the export failed";
    }
}

int completeMp4Export(const std::string &partPath, const std::string &target, int writeResult,
                      const std::string &writeReason, const Mp4Expectation &expected, Mp4ExportResult *result)
{
    result->picturesRead = expected.pictures;
    result->sourceSeconds = expected.seconds;
    result->sourceAudio = expected.audio;
    int code = writeResult;
    std::string reason = writeReason;
    if (code == 0 && expected.pictures == 0) {
        code = kExportNoVideo;
        reason = "the recording holds no key picture with its parameter sets";
    }
    Mp4Facts facts;
    if (code == 0) {
        if (!inspectMp4(partPath, &facts)) {
            code = kExportCheckFailed;
            reason = "the written file cannot be read back as MP4";
        } else {
            result->videoSamples = facts.videoSamples;
            result->mp4Seconds = facts.videoSeconds;
            result->mp4Audio = facts.audio;
            result->width = facts.width;
            result->height = facts.height;
            const uint32_t allowed = expected.pictures / 100; // 1 %
            const uint32_t diff = facts.videoSamples > expected.pictures ? facts.videoSamples - expected.pictures
                                                                        : expected.pictures - facts.videoSamples;
            if (!facts.video) {
                code = kExportCheckFailed;
                reason = format("the MP4 holds no video track (%u pictures read)", expected.pictures);
            } else if (diff > allowed) {
                code = kExportCheckFailed;
                reason = format("the MP4 holds %u pictures of the %u read", facts.videoSamples, expected.pictures);
            } else if (facts.videoSeconds < expected.seconds - expected.frameInterval - 1e-3
                       || facts.videoSeconds > std::max(expected.seconds, expected.secondsMax) + expected.frameInterval
                               + 1e-3) {
                code = kExportCheckFailed;
                reason = format("the MP4's video lasts %.3f s, the recording's %.3f s", facts.videoSeconds,
                                expected.seconds);
            } else if (expected.audio && !facts.audio) {
                code = kExportCheckFailed;
                reason = "the recording has sound but the MP4 holds no audio track";
            }
        }
    }
    if (code == 0 && std::rename(partPath.c_str(), target.c_str()) != 0) {
        code = kExportWriteFailed;
        reason = format("cannot rename %s to %s: %s", partPath.c_str(), target.c_str(), std::strerror(errno));
    }
    if (code != 0) {
        std::remove(partPath.c_str());
        if (reason.empty())
            reason = exportCodeText(code);
        WriteLog(2, "%s(%d):Export to (%s) failed: %s!!!", "completeMp4Export", __LINE__, target.c_str(),
                 reason.c_str());
    } else {
        WriteLog(0, "[MP4]Checked (%s): %u pictures, %.3f s, %dx%d, audio %s", target.c_str(), facts.videoSamples,
                 facts.videoSeconds, facts.width, facts.height, facts.audio ? "yes" : "no");
    }
    result->code = code;
    result->reason = code == 0 ? std::string() : reason;
    return code;
}

} // namespace varno::playback
