#pragma once

#include "common/mediarecords.h"

#include <cstdint>
#include <functional>

// "Export to MP4" of a local recording: its pictures and sound are read
// through the recording file library and written by the same MP4 writer the
// download conversion uses (sound as G.711 A-law, which the writer encodes
// to AAC). H.264 recordings only.
namespace varno::playback {

enum : int {
    kExportOpenFailed = -1,
    kExportUnsupported = -2,   // not H.264
    kExportWriteFailed = -3,
    kExportCancelled = -4,
};

// progress(percent) is called as the export goes on; returning false stops
// it (the MP4 holds what was written). Returns 0 or a kExport* code.
int exportLocalToMp4(const char *sourcePath, const char *targetPath, const MEDIA_FILE_S &file,
                     const std::function<bool(int percent)> &progress);

// ITU-T G.711 A-law compression of one 16-bit sample.
uint8_t linearToAlaw(int16_t sample);

} // namespace varno::playback
