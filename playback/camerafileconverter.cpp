#include "playback/camerafileconverter.h"

#include "common/camerafile.h"
#include "common/logfile.h"
#include "platform/recfile/nalunits.h"
#include "playback/mp4writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <sys/types.h>

namespace varno::playback {

namespace {

const char *const kWho = "CFileDownload::saveMp4";

uint32_t readLe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
        | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t readLe64(const uint8_t *p)
{
    return static_cast<uint64_t>(readLe32(p)) | static_cast<uint64_t>(readLe32(p + 4)) << 32;
}

} // namespace

void cameraResolution(int code, int *width, int *height)
{
    switch (code) {
    case varno::camfile::kRes704x576: *width = 704; *height = 576; break;
    case varno::camfile::kRes352x288: *width = 352; *height = 288; break;
    case varno::camfile::kRes1920x1080: *width = 1920; *height = 1080; break;
    case varno::camfile::kRes1280x720: *width = 1280; *height = 720; break;
    case varno::camfile::kRes1280x960: *width = 1280; *height = 960; break;
    default: *width = 640; *height = 360; break;
    }
}

int saveMp4(const char *tmpPath, const char *targetPath, Mp4ExportResult *result, const ExportProgress &progress)
{
    WriteLog(0, "[DOWNLOAD]Start covert file(%s)!!!", tmpPath ? tmpPath : "");
    std::FILE *in = tmpPath ? std::fopen(tmpPath, "rb") : nullptr;
    if (!in) {
        const int error = errno;
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, tmpPath ? tmpPath : "", error);
        if (result) {
            *result = Mp4ExportResult {};
            result->code = kExportOpenFailed;
            result->reason = std::string("cannot open ") + (tmpPath ? tmpPath : "") + ": " + std::strerror(error);
        }
        return -1;
    }
    const int ret = saveMp4FromStream(in, tmpPath, targetPath, result, progress);
    std::fclose(in);
    return ret;
}

namespace {

struct ChunkScan
{
    bool audio = false;
    bool video = false;
};

// A first pass over the chunk heads (payloads are skipped): which tracks
// the MP4 is to get.
ChunkScan scanChunks(std::FILE *in, int64_t remaining)
{
    ChunkScan scan;
    while (remaining > 0 && !(scan.audio && scan.video)) {
        uint8_t tag[4];
        uint8_t head[sizeof(CAMFILE_VIDEO_HEAD_S)];
        if (std::fread(tag, 1, 4, in) != 4)
            break;
        const bool video = std::memcmp(tag, varno::camfile::kTagVideo, 4) == 0
            || std::memcmp(tag, varno::camfile::kTagVideo2, 4) == 0;
        const bool audio = std::memcmp(tag, varno::camfile::kTagAudio, 4) == 0;
        const size_t headSize = video ? sizeof(CAMFILE_VIDEO_HEAD_S) : sizeof(CAMFILE_AUDIO_HEAD_S);
        if ((!video && !audio) || std::fread(head, 1, headSize, in) != headSize)
            break;
        const int64_t padded = (static_cast<int64_t>(readLe32(head)) + 7) & ~int64_t(7);
        remaining -= 4 + static_cast<int64_t>(headSize) + padded;
        if (padded <= 0 || remaining < 0 || ::fseeko(in, static_cast<off_t>(padded), SEEK_CUR) != 0)
            break;
        scan.video = scan.video || video;
        scan.audio = scan.audio || audio;
    }
    return scan;
}

// Counts the pictures of the chunks as they are read (from the first key
// picture with its parameter sets), for the check of the MP4.
struct PictureCount
{
    varno::recfile::VideoCodec codec = varno::recfile::VideoCodec::H264;
    uint32_t pictures = 0;
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t previous = 0;
    uint64_t forward = 0; // sum of the steps forward, microseconds
    uint32_t steps = 0;   // steps back or standing still
    bool vps = false, sps = false, pps = false, key = false;

    void add(const uint8_t *data, uint32_t size, uint64_t timestamp)
    {
        using varno::recfile::VideoCodec;
        for (const varno::recfile::NalUnit &nal : varno::recfile::splitAnnexB(data, size)) {
            const int kind = varno::recfile::parameterSetKind(codec, nal);
            vps = vps || kind == 1 || codec == VideoCodec::H264;
            sps = sps || kind == 2;
            pps = pps || (kind == 3 && sps);
            const int type = varno::recfile::nalType(codec, nal);
            const bool picture = codec == VideoCodec::H264 ? (type == 1 || type == 5) : (type >= 0 && type <= 21);
            if (!picture || !varno::recfile::isFirstSliceOfPicture(codec, nal))
                continue;
            key = key || (varno::recfile::isKeySlice(codec, nal) && vps && sps && pps);
            if (!key)
                continue;
            if (pictures == 0) {
                first = last = previous = timestamp;
            } else if (timestamp > previous) {
                forward += timestamp - previous;
            } else {
                ++steps; // the camera's clock went back or stood still
            }
            previous = timestamp;
            last = std::max(last, timestamp);
            ++pictures;
        }
    }
};

} // namespace

int saveMp4FromStream(std::FILE *in, const char *name, const char *targetPath, Mp4ExportResult *result,
                      const ExportProgress &progress)
{
    Mp4ExportResult local;
    Mp4ExportResult &out = result ? *result : local;
    out = Mp4ExportResult {};
    auto fail = [&out](int code, const std::string &reason) {
        out.code = code;
        out.reason = reason;
        return -1;
    };
    if (!in)
        return fail(kExportOpenFailed, "no input");
    if (!targetPath || !*targetPath)
        return fail(kExportWriteFailed, "no target given");
    const std::string display = name ? name : "";
    if (isSameFile(::fileno(in), targetPath))
        return fail(kExportWriteFailed, "the target is the camera file itself");
    std::rewind(in);
    CAMFILE_HEADER_S header;
    if (std::fread(&header, 1, sizeof(header), in) != sizeof(header)) {
        WriteLog(2, "%s(%d):Read file(%s) failed, ret(%d)!!!", kWho, __LINE__, display.c_str(), errno);
        return fail(kExportReadFailed, display + " is shorter than a camera file's header");
    }
    if (::fseeko(in, 0, SEEK_END) != 0)
        return fail(kExportReadFailed, "cannot seek in " + display);
    const int64_t fileLength = ::ftello(in);
    const int64_t end = header.chunkEnd != 0 && header.chunkEnd < fileLength ? header.chunkEnd : fileLength;
    const int64_t chunkBytes = end - static_cast<int64_t>(varno::camfile::kHeaderSize);
    int64_t remaining = chunkBytes;

    int width = 0, height = 0;
    cameraResolution(header.resolution, &width, &height);
    WriteLog(0, "[DOWNLOAD]FileLen[%d],width[%d],height[%d],frameRate[%d],chnl[%d]", static_cast<int>(fileLength),
             width, height, header.frameRate, header.channel);
    // The camera's video type: 0 H.264, 1 H.265.
    const bool h265 = header.videoType == 1;
    const varno::recfile::VideoCodec codec = h265 ? varno::recfile::VideoCodec::H265 : varno::recfile::VideoCodec::H264;

    if (::fseeko(in, static_cast<off_t>(varno::camfile::kHeaderSize), SEEK_SET) != 0)
        return fail(kExportReadFailed, "cannot seek in " + display);
    const ChunkScan scan = scanChunks(in, remaining);
    if (::fseeko(in, static_cast<off_t>(varno::camfile::kHeaderSize), SEEK_SET) != 0)
        return fail(kExportReadFailed, "cannot seek in " + display);

    const std::string target = targetPath;
    const std::string part = partPathOf(target);
    std::string reason;
    Mp4Writer writer;
    if (!createPart(part, &reason)
        || writer.open(part.c_str(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), header.frameRate,
                       header.audioSampleRate)
            < 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, target.c_str(), -1);
        std::remove(part.c_str());
        return fail(kExportWriteFailed, reason.empty() ? "cannot create " + part : reason);
    }
    writer.setH265(h265);
    writer.expectTracks(scan.video, scan.audio);

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBufferSize]);
    int code = 0;
    PictureCount count;
    count.codec = codec;
    bool sawAudio = false;
    int lastPercent = -1;
    while (remaining > 0) {
        std::memset(buffer.get(), 0, kChunkBufferSize);
        uint8_t tag[4];
        if (std::fread(tag, 1, 4, in) != 4) {
            code = kExportReadFailed;
            reason = display + " ends inside a chunk";
            break;
        }
        remaining -= 4;
        const bool video = std::memcmp(tag, varno::camfile::kTagVideo, 4) == 0
            || std::memcmp(tag, varno::camfile::kTagVideo2, 4) == 0;
        const bool audio = std::memcmp(tag, varno::camfile::kTagAudio, 4) == 0;
        if (!video && !audio) {
            WriteLog(3, "%s(%d):Unknow frame type(%d)!!!", kWho, __LINE__, static_cast<int>(readLe32(tag)));
            code = kExportReadFailed;
            reason = display + " holds an unknown chunk at offset " + std::to_string(end - remaining - 4);
            break;
        }
        uint8_t head[sizeof(CAMFILE_VIDEO_HEAD_S)];
        const size_t headSize = video ? sizeof(CAMFILE_VIDEO_HEAD_S) : sizeof(CAMFILE_AUDIO_HEAD_S);
        if (std::fread(head, 1, headSize, in) != headSize) {
            code = kExportReadFailed;
            reason = display + " ends inside a chunk";
            break;
        }
        remaining -= static_cast<int64_t>(headSize);
        const uint32_t size = readLe32(head);
        const uint64_t timestamp = readLe64(head + (video ? offsetof(CAMFILE_VIDEO_HEAD_S, timestamp)
                                                          : offsetof(CAMFILE_AUDIO_HEAD_S, timestamp)));
        const int64_t padded = (static_cast<int64_t>(size) + 7) & ~int64_t(7);
        if (padded <= 0 || padded > remaining) {
            // Nothing, or more than the chunk data still holds.
            WriteLog(3, "%s(%d):Size(%d) error!!!", kWho, __LINE__, static_cast<int>(padded));
            code = kExportReadFailed;
            reason = padded <= 0 ? display + " holds an empty chunk" : display + " ends inside a chunk";
            break;
        }
        if (padded > static_cast<int64_t>(kChunkBufferSize)) {
            WriteLog(3, "%s(%d):Skip %s chunk, size(%d)!!!", kWho, __LINE__, video ? "video" : "audio",
                     static_cast<int>(size));
            if (::fseeko(in, static_cast<off_t>(padded), SEEK_CUR) != 0) {
                code = kExportReadFailed;
                reason = "cannot seek in " + display;
                break;
            }
            remaining -= padded;
            continue;
        }
        if (std::fread(buffer.get(), 1, static_cast<size_t>(padded), in) != static_cast<size_t>(padded)) {
            code = kExportReadFailed;
            reason = display + " ends inside a chunk";
            break;
        }
        remaining -= padded;
        if (video)
            count.add(buffer.get(), size, timestamp);
        else
            sawAudio = true;
        // The padding is not part of the frame.
        const int ret = writer.writeFrame(video ? Mp4Writer::kVideo : Mp4Writer::kAudioAlaw, buffer.get(), size,
                                          timestamp);
        if (ret < 0) {
            WriteLog(3, "%s(%d):Write file(%s) failed, ret(%d)!!!", kWho, __LINE__, target.c_str(), ret);
            code = kExportWriteFailed;
            reason = "cannot write " + part;
            break;
        }
        const int percent = chunkBytes > 0 ? int((chunkBytes - remaining) * 99 / chunkBytes) : 0;
        if (percent != lastPercent) {
            lastPercent = percent;
            if (progress && !progress(percent)) {
                code = kExportCancelled;
                reason = "the conversion was stopped";
                break;
            }
        }
    }
    if (writer.finish() < 0 && code == 0) {
        code = kExportWriteFailed;
        reason = "cannot write " + part + " (disk full or removed?)";
    }
    WriteLog(0, "[DOWNLOAD]Start covert file(%s) finished!!!", display.c_str());

    Mp4Expectation expected;
    expected.pictures = count.pictures;
    expected.frameInterval = 1.0 / writer.frameRate();
    expected.seconds = count.pictures ? double(count.last - count.first) / 1e6 + expected.frameInterval : 0;
    expected.secondsMax = count.pictures
        ? double(count.forward) / 1e6 + (count.steps + 1) * expected.frameInterval
        : 0;
    expected.audio = sawAudio;
    completeMp4Export(part, target, code, reason, expected, &out);
    if (out.ok() && progress)
        progress(100);
    return out.ok() ? 0 : -1;
}

} // namespace varno::playback
