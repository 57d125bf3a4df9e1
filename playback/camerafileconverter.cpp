#include "playback/camerafileconverter.h"

#include "common/camerafile.h"
#include "common/logfile.h"
#include "playback/mp4writer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
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

int saveMp4(const char *tmpPath, const char *targetPath)
{
    WriteLog(0, "[DOWNLOAD]Start covert file(%s)!!!", tmpPath ? tmpPath : "");
    std::FILE *in = tmpPath ? std::fopen(tmpPath, "rb") : nullptr;
    if (!in) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, tmpPath ? tmpPath : "", errno);
        return -1;
    }
    const int ret = saveMp4FromStream(in, tmpPath, targetPath);
    std::fclose(in);
    return ret;
}

int saveMp4FromStream(std::FILE *in, const char *name, const char *targetPath)
{
    if (!in)
        return -1;
    std::rewind(in);
    CAMFILE_HEADER_S header;
    if (std::fread(&header, 1, sizeof(header), in) != sizeof(header)) {
        WriteLog(2, "%s(%d):Read file(%s) failed, ret(%d)!!!", kWho, __LINE__, name, errno);
        return -1;
    }
    if (::fseeko(in, 0, SEEK_END) != 0)
        return -1;
    const int64_t fileLength = ::ftello(in);
    const int64_t end = header.chunkEnd != 0 && header.chunkEnd < fileLength ? header.chunkEnd : fileLength;
    int64_t remaining = end - static_cast<int64_t>(varno::camfile::kHeaderSize);

    int width = 0, height = 0;
    cameraResolution(header.resolution, &width, &height);
    WriteLog(0, "[DOWNLOAD]FileLen[%d],width[%d],height[%d],frameRate[%d],chnl[%d]", static_cast<int>(fileLength),
             width, height, header.frameRate, header.channel);

    if (::fseeko(in, static_cast<off_t>(varno::camfile::kHeaderSize), SEEK_SET) != 0)
        return -1;
    Mp4Writer writer;
    if (writer.open(targetPath, static_cast<uint32_t>(width), static_cast<uint32_t>(height), header.frameRate,
                    header.audioSampleRate)
        < 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, targetPath ? targetPath : "", -1);
        return -1;
    }

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBufferSize]);
    int result = 0;
    while (remaining > 0) {
        std::memset(buffer.get(), 0, kChunkBufferSize);
        uint8_t tag[4];
        if (std::fread(tag, 1, 4, in) != 4) {
            result = -1;
            break;
        }
        remaining -= 4;
        const bool video = std::memcmp(tag, varno::camfile::kTagVideo, 4) == 0
            || std::memcmp(tag, varno::camfile::kTagVideo2, 4) == 0;
        const bool audio = std::memcmp(tag, varno::camfile::kTagAudio, 4) == 0;
        if (!video && !audio) {
            WriteLog(3, "%s(%d):Unknow frame type(%d)!!!", kWho, __LINE__, static_cast<int>(readLe32(tag)));
            result = -1;
            break;
        }
        uint8_t head[sizeof(CAMFILE_VIDEO_HEAD_S)];
        const size_t headSize = video ? sizeof(CAMFILE_VIDEO_HEAD_S) : sizeof(CAMFILE_AUDIO_HEAD_S);
        if (std::fread(head, 1, headSize, in) != headSize) {
            result = -1;
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
            result = -1;
            break;
        }
        if (padded > static_cast<int64_t>(kChunkBufferSize)) {
            WriteLog(3, "%s(%d):Skip %s chunk, size(%d)!!!", kWho, __LINE__, video ? "video" : "audio",
                     static_cast<int>(size));
            if (::fseeko(in, static_cast<off_t>(padded), SEEK_CUR) != 0) {
                result = -1;
                break;
            }
            remaining -= padded;
            continue;
        }
        if (std::fread(buffer.get(), 1, static_cast<size_t>(padded), in) != static_cast<size_t>(padded)) {
            result = -1;
            break;
        }
        remaining -= padded;
        // The padding is not part of the frame.
        const int ret = writer.writeFrame(video ? 1 : 2, buffer.get(), size, timestamp);
        if (ret < 0) {
            WriteLog(3, "%s(%d):Write file(%s) failed, ret(%d)!!!", kWho, __LINE__, targetPath, ret);
            result = -1;
            break;
        }
    }
    if (writer.finish() < 0)
        result = -1;
    WriteLog(0, "[DOWNLOAD]Start covert file(%s) finished!!!", name);
    return result;
}

} // namespace varno::playback
