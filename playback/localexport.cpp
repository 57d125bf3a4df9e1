#include "playback/localexport.h"

#include "common/camerafile.h"
#include "common/logfile.h"
#include "platform/recfile/recordreader.h"
#include "playback/camerafileconverter.h"
#include "playback/mp4writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace varno::playback {

namespace {

const char *const kWho = "fileplay::exportLocalFile";

Mp4ExportResult failed(int code, const std::string &reason)
{
    Mp4ExportResult r;
    r.code = code;
    r.reason = reason;
    return r;
}

} // namespace

ExportSourceKind exportSourceKind(const char *path)
{
    std::FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        return ExportSourceKind::Unknown;
    uint8_t head[varno::camfile::kHeaderSize + 4] = {};
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const uint8_t ebml[4] = {0x1A, 0x45, 0xDF, 0xA3};
    if (n >= 4 && std::memcmp(head, ebml, 4) == 0)
        return ExportSourceKind::LocalRecording;
    if (n < varno::camfile::kHeaderSize)
        return ExportSourceKind::Unknown;
    if (std::memcmp(head, varno::camfile::kMagic, sizeof varno::camfile::kMagic) == 0 || n == varno::camfile::kHeaderSize)
        return ExportSourceKind::CameraFile;
    const uint8_t *tag = head + varno::camfile::kHeaderSize;
    for (const char *known : {varno::camfile::kTagVideo, varno::camfile::kTagVideo2, varno::camfile::kTagAudio})
        if (std::memcmp(tag, known, 4) == 0)
            return ExportSourceKind::CameraFile;
    return ExportSourceKind::Unknown;
}

Mp4ExportResult exportRecordingToMp4(const char *sourcePath, const char *targetPath, const ExportProgress &progress)
{
    if (!sourcePath || !targetPath || !*targetPath)
        return failed(kExportOpenFailed, "no recording or no target given");
    {
        std::FILE *source = std::fopen(sourcePath, "rb");
        const bool same = source && isSameFile(::fileno(source), targetPath);
        if (source)
            std::fclose(source);
        if (same)
            return failed(kExportWriteFailed, "the target is the recording itself");
    }
    varno::recfile::RecordReader reader;
    if (reader.open(sourcePath) != 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, sourcePath, -1);
        return failed(kExportOpenFailed,
                      std::string("cannot read ") + sourcePath + " as a recording (missing, unreadable or without video)");
    }
    const uint32_t fps = reader.frameRate() ? reader.frameRate() : 25;
    const uint32_t totalFrames = reader.totalFrames();
    const bool hasAudio = reader.audioStream() >= 0;
    const int channels = std::max(1, reader.channels());

    const std::string target = targetPath;
    const std::string part = partPathOf(target);
    Mp4ExportResult result;
    std::string reason;
    if (!createPart(part, &reason)) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", kWho, __LINE__, part.c_str(), errno);
        return failed(kExportWriteFailed, reason);
    }
    Mp4Writer writer;
    if (writer.open(part.c_str(), uint32_t(reader.width()), uint32_t(reader.height()), fps,
                    uint32_t(reader.sampleRate()))
        < 0) {
        std::remove(part.c_str());
        return failed(kExportWriteFailed, "cannot create " + part);
    }
    writer.setH265(reader.isH265());
    writer.expectTracks(true, hasAudio);

    int code = 0;
    int64_t slot = -1, firstSlot = -1, lastSlot = -1;
    uint32_t pictures = 0;
    bool sawKey = false, sawAudio = false;
    int lastPercent = -1;
    std::vector<uint8_t> mono;
    for (;;) {
        uint32_t type = 0, size = 0;
        const uint8_t *data = nullptr;
        if (reader.next(&type, &data, &size) != 0)
            break;
        if (type == 1) {
            int ret = 0;
            if (reader.audioIsAac()) {
                ret = writer.writeFrame(Mp4Writer::kAudioAdts, data, size, 0);
            } else if (channels == 1) {
                ret = size >= 2 ? writer.writeFrame(Mp4Writer::kAudioPcm, data, size & ~1u, 0) : 0;
            } else {
                // The first channel of interleaved 16-bit samples.
                const uint32_t frames = size / (2u * uint32_t(channels));
                mono.resize(size_t(frames) * 2);
                for (uint32_t i = 0; i < frames; ++i)
                    std::memcpy(&mono[size_t(i) * 2], data + size_t(i) * 2 * size_t(channels), 2);
                ret = frames ? writer.writeFrame(Mp4Writer::kAudioPcm, mono.data(), uint32_t(mono.size()), 0) : 0;
            }
            sawAudio = true;
            if (ret < 0) {
                code = kExportWriteFailed;
                reason = "cannot write " + part;
                break;
            }
            continue;
        }
        ++slot;
        if (size <= 1)
            continue; // a gap of the recording: its time passes without a picture
        sawKey = sawKey || type == 101;
        if (sawKey) {
            if (firstSlot < 0)
                firstSlot = slot;
            lastSlot = slot;
            ++pictures;
        }
        if (writer.writeFrame(Mp4Writer::kVideo, data, size, uint64_t(slot) * 1000000u / fps) < 0) {
            code = kExportWriteFailed;
            reason = "cannot write " + part;
            break;
        }
        const int percent = totalFrames > 0 ? int(std::min<uint64_t>(uint64_t(slot + 1) * 100 / totalFrames, 99)) : 0;
        if (percent != lastPercent) {
            lastPercent = percent;
            if (progress && !progress(percent)) {
                code = kExportCancelled;
                reason = "the export was stopped";
                break;
            }
        }
    }
    if (writer.finish() < 0 && code == 0) {
        code = kExportWriteFailed;
        reason = "cannot write " + part + " (disk full or removed?)";
    }
    reader.close();

    Mp4Expectation expected;
    expected.pictures = pictures;
    // The last picture lasts the writer's frame interval (the stream's own rate when its SPS has one).
    expected.frameInterval = 1.0 / writer.frameRate();
    expected.seconds = pictures ? double(lastSlot - firstSlot) / fps + expected.frameInterval : 0;
    expected.audio = sawAudio;
    completeMp4Export(part, target, code, reason, expected, &result);
    if (result.ok() && progress)
        progress(100);
    return result;
}

Mp4ExportResult exportToMp4(const char *sourcePath, const char *targetPath, const ExportProgress &progress)
{
    switch (exportSourceKind(sourcePath)) {
    case ExportSourceKind::LocalRecording: return exportRecordingToMp4(sourcePath, targetPath, progress);
    case ExportSourceKind::CameraFile: {
        Mp4ExportResult result;
        saveMp4(sourcePath, targetPath, &result, progress);
        return result;
    }
    case ExportSourceKind::Unknown: break;
    }
    return failed(kExportOpenFailed, std::string("cannot read ") + (sourcePath ? sourcePath : "")
                                         + " as a recording (neither a local recording nor a camera file)");
}

int exportLocalToMp4(const char *sourcePath, const char *targetPath, const MEDIA_FILE_S &,
                     const ExportProgress &progress)
{
    return exportRecordingToMp4(sourcePath, targetPath, progress).code;
}

} // namespace varno::playback
