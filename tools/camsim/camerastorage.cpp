#include "tools/camsim/camerastorage.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <memory>

namespace varno::camsim {

namespace {

struct FileCloser
{
    void operator()(FILE *f) const
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool writeAll(FILE *f, const void *data, size_t size)
{
    return size == 0 || std::fwrite(data, 1, size, f) == size;
}

bool writePadding(FILE *f, uint32_t size)
{
    static const uint8_t zeros[8] = {};
    const uint32_t pad = varno::camfile::paddedSize(size) - size;
    return writeAll(f, zeros, pad);
}

} // namespace

uint8_t fileResolutionCode(int width, int height)
{
    using namespace varno::camfile;
    if (width >= 1920)
        return kRes1920x1080;
    if (width >= 1280)
        return height >= 960 ? kRes1280x960 : kRes1280x720;
    if (width == 704)
        return kRes704x576;
    if (width == 352)
        return kRes352x288;
    return kRes640x360;
}

uint8_t searchResolutionCode(int width, int height)
{
    if (width >= 1920)
        return 3;
    if (width >= 1280)
        return height >= 960 ? 2 : 0;
    if (width == 704)
        return 4;
    if (width == 352)
        return 5;
    return 1;
}

bool writeCameraFile(const std::string &path, const std::string &deviceId, const QDateTime &start,
                     int seconds, const VideoLoop &video, const std::vector<uint8_t> &tone,
                     std::string *error)
{
    const auto &frames = video.frames();
    if (frames.empty() || tone.size() < 8000) {
        if (error)
            *error = "nothing to record";
        return false;
    }
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        if (error)
            *error = "cannot create " + path;
        return false;
    }
    const int fps = std::max(1, video.settings().fps);
    const int count = seconds * fps;
    const uint32_t audioPerFrame = uint32_t(8000 / fps);
    CAMFILE_HEADER_S header;
    std::memset(&header, 0, sizeof(header));
    std::memcpy(header.magic, varno::camfile::kMagic, sizeof(header.magic));
    std::strncpy(header.devId, deviceId.c_str(), sizeof(header.devId) - 1);
    header.startTime = int32_t(start.toSecsSinceEpoch());
    header.duration = seconds;
    header.videoChunks = uint32_t(count);
    header.audioChunks = uint32_t(count);
    header.audioSampleRate = 8000;
    header.width = uint16_t(video.settings().width);
    header.height = uint16_t(video.settings().height);
    header.videoType = video.h265() ? 1 : 0;
    header.audioBits = 8;
    header.audioChannels = 1;
    header.frameRate = uint8_t(fps);
    header.resolution = fileResolutionCode(video.settings().width, video.settings().height);
    if (!writeAll(f.get(), &header, sizeof(header)))
        return false;
    const uint64_t t0 = uint64_t(start.toMSecsSinceEpoch()) * 1000;
    const uint64_t frameUs = 1000000 / uint64_t(fps);
    size_t tonePos = 0;
    for (int i = 0; i < count; ++i) {
        const AccessUnit &au = frames[size_t(i) % frames.size()];
        CAMFILE_VIDEO_HEAD_S vh;
        std::memset(&vh, 0, sizeof(vh));
        vh.size = uint32_t(au.data.size());
        vh.frameNo = uint32_t(i);
        vh.flags = au.key ? CAMFILE_VIDEO_KEY : 0;
        vh.timestamp = t0 + uint64_t(i) * frameUs;
        if (!writeAll(f.get(), varno::camfile::kTagVideo, 4) || !writeAll(f.get(), &vh, sizeof(vh))
            || !writeAll(f.get(), au.data.data(), au.data.size()) || !writePadding(f.get(), vh.size))
            return false;
        CAMFILE_AUDIO_HEAD_S ah;
        ah.size = audioPerFrame;
        ah.timestamp = vh.timestamp;
        std::vector<uint8_t> samples(audioPerFrame);
        for (auto &s : samples) {
            s = tone[tonePos];
            tonePos = (tonePos + 1) % 8000;
        }
        if (!writeAll(f.get(), varno::camfile::kTagAudio, 4) || !writeAll(f.get(), &ah, sizeof(ah))
            || !writeAll(f.get(), samples.data(), samples.size()) || !writePadding(f.get(), ah.size))
            return false;
    }
    const long end = std::ftell(f.get());
    header.chunkEnd = uint32_t(end);
    if (std::fseek(f.get(), 0, SEEK_SET) != 0 || !writeAll(f.get(), &header, sizeof(header)))
        return false;
    if (std::fflush(f.get()) != 0) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool readCameraFile(const std::string &path, CAMFILE_HEADER_S &header, std::vector<FileChunk> &chunks,
                    std::string *error)
{
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return fail("cannot open " + path);
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        return fail("cannot seek");
    const long length = std::ftell(f.get());
    if (length < long(sizeof(header)))
        return fail("shorter than its header");
    std::fseek(f.get(), 0, SEEK_SET);
    if (std::fread(&header, 1, sizeof(header), f.get()) != sizeof(header))
        return fail("cannot read the header");
    uint64_t end = header.chunkEnd;
    if (end == 0 || end >= uint64_t(length))
        end = uint64_t(length);
    uint64_t pos = sizeof(header);
    chunks.clear();
    while (pos + 4 <= end) {
        char tag[4];
        std::fseek(f.get(), long(pos), SEEK_SET);
        if (std::fread(tag, 1, 4, f.get()) != 4)
            return fail("cannot read a tag");
        FileChunk c;
        uint64_t headSize = 0;
        if (std::memcmp(tag, varno::camfile::kTagVideo, 4) == 0
            || std::memcmp(tag, varno::camfile::kTagVideo2, 4) == 0) {
            CAMFILE_VIDEO_HEAD_S vh;
            if (pos + 4 + sizeof(vh) > end || std::fread(&vh, 1, sizeof(vh), f.get()) != sizeof(vh))
                return fail("video head cut off");
            c.video = true;
            c.key = vh.flags & CAMFILE_VIDEO_KEY;
            c.size = vh.size;
            c.timestampUs = vh.timestamp;
            headSize = sizeof(vh);
        } else if (std::memcmp(tag, varno::camfile::kTagAudio, 4) == 0) {
            CAMFILE_AUDIO_HEAD_S ah;
            if (pos + 4 + sizeof(ah) > end || std::fread(&ah, 1, sizeof(ah), f.get()) != sizeof(ah))
                return fail("audio head cut off");
            c.size = ah.size;
            c.timestampUs = ah.timestamp;
            headSize = sizeof(ah);
        } else {
            return fail("unknown chunk tag");
        }
        c.payloadOffset = uint32_t(pos + 4 + headSize);
        const uint64_t next = pos + 4 + headSize + varno::camfile::paddedSize(c.size);
        if (c.size == 0 || next > end)
            return fail("chunk runs past the end of the data");
        chunks.push_back(c);
        pos = next;
    }
    return true;
}

namespace {

// The video type in a stored file's header; -1 when it cannot be read.
int storedVideoType(const std::string &path)
{
    CAMFILE_HEADER_S header;
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f || std::fread(&header, sizeof header, 1, f.get()) != 1)
        return -1;
    return header.videoType;
}

} // namespace

bool CameraStorage::build(const std::string &dir, const std::string &deviceId, int count, int seconds,
                          const QDateTime &first, int intervalSeconds, const VideoLoop &video,
                          const std::vector<uint8_t> &tone, std::string *error)
{
    m_recordings.clear();
    if (count <= 0)
        return true;
    if (!QDir().mkpath(QString::fromStdString(dir))) {
        if (error)
            *error = "cannot create " + dir;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        Recording r;
        r.start = first.addSecs(qint64(i) * intervalSeconds);
        r.seconds = seconds;
        r.name = r.start.toString(QStringLiteral("yyMMdd_hh.mm.ss")).toStdString() + ".h264";
        r.path = dir + "/" + r.name;
        QFileInfo info(QString::fromStdString(r.path));
        if (!info.exists() || info.size() <= qint64(sizeof(CAMFILE_HEADER_S))
            || storedVideoType(r.path) != (video.h265() ? 1 : 0)) { // the camera's codec changed since
            if (!writeCameraFile(r.path, deviceId, r.start, seconds, video, tone, error))
                return false;
            info.refresh();
        }
        r.size = uint32_t(info.size());
        m_recordings.push_back(std::move(r));
    }
    return true;
}

const Recording *CameraStorage::find(const std::string &name) const
{
    for (const auto &r : m_recordings)
        if (r.name == name)
            return &r;
    return nullptr;
}

} // namespace varno::camsim
