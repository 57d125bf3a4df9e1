#pragma once

#include "common/mediarecords.h"

#include <cstdint>
#include <string>

namespace varno::recfile {

// What a recording file says about itself.
struct FileFacts
{
    bool readable = false;   // opens and holds a video track
    bool complete = false;   // has its index and length
    std::string devId;       // from the file's tags ("" when absent)
    MEDIA_TIME_S start {};   // from the file's tags (zero when absent)
    bool hasStart = false;
    uint32_t channel = 0;
    uint32_t videoType = MEDIA_VIDEO_H264;
    uint32_t frameRate = 0;
    uint32_t width = 0, height = 0;
    uint32_t sampleRate = 0, channels = 0;
    uint32_t audioType = MEDIA_AUDIO_PCM16; // what the audio track holds (PCM16 or AAC)
    int64_t videoMs = 0, lengthMs = 0;
};

// Reads the facts of a recording file without changing it.
FileFacts probeFile(const std::string &path);

// Copies every readable packet of src into a new, complete file dst.
// Returns 0 and the facts of the result, or -1 when src holds nothing readable.
int remuxFile(const std::string &src, const std::string &dst, FileFacts *facts);

// Device ID and start time from a name <devId>_<yyyyMMdd>_<hhmmss>[-n].mkv.
bool parseRecordName(const std::string &name, std::string *devId, MEDIA_TIME_S *start);

// Fills the library fields of a record from the facts of its file.
void fillRecord(MEDIA_FILE_S &record, const FileFacts &facts, uint64_t fileSize);

} // namespace varno::recfile
