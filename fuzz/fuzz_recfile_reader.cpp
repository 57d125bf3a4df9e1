// Recording file reader (Matroska from memory, frame by frame, seeks) and
// filelist parser on arbitrary bytes: no crash, no overrun, bounded memory.
#include "platform/recfile/filelist.h"
#include "platform/recfile/recordreader.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QDateTime>

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
    if (size == 0)
        return 0;

    // The filelist view of the same bytes.
    const std::vector<MEDIA_FILE_S> records = varno::recfile::parseFilelist(data, size);
    int64_t keys = 0;
    for (const MEDIA_FILE_S &r : records) {
        if (varno::recfile::isPlainFileName(r.fileName, sizeof(r.fileName)))
            keys += varno::recfile::timeKey(r.startTime) - varno::recfile::timeKey(r.endTime);
        const MEDIA_TIME_S end = varno::recfile::addMilliseconds(r.startTime, r.lengthMs);
        keys += end.second;
    }

    // The recording view.
    varno::recfile::RecordReader reader;
    if (reader.openMemory(data, size) != 0)
        return keys == 42 ? 1 : 0;
    uint32_t type = 0, length = 0;
    const uint8_t *frame = nullptr;
    uint64_t sum = 0;
    // Bounded: fillers are capped per gap; stop after a generous number of frames.
    for (int i = 0; i < 20000 && reader.next(&type, &frame, &length) == 0; ++i)
        if (length)
            sum += frame[0] + frame[length - 1];
    if (reader.seekMs(reader.lengthMs() / 2) == 0)
        for (int i = 0; i < 2000 && reader.next(&type, &frame, &length) == 0; ++i)
            sum += length;
    return sum == 1 ? 0 : 0;
}
