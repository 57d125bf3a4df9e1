#pragma once

#include "common/mediarecords.h"
#include "playback/mp4check.h"

#include <cstdint>

// "Export to MP4" of a recording: a local recording (read through the
// recording file library, from the file itself: a filelist is not needed) or
// a camera recording file (converted as a download is). Pictures are copied,
// AAC sound is copied, PCM sound is encoded to AAC once. The export checks
// its own output before it reports success (see mp4check.h). Used by the
// playback page and by the varno-export command.
namespace varno::playback {

enum class ExportSourceKind { Unknown, LocalRecording, CameraFile };

// What the file at path is, from its first bytes.
ExportSourceKind exportSourceKind(const char *path);

// A local recording to MP4.
Mp4ExportResult exportRecordingToMp4(const char *sourcePath, const char *targetPath, const ExportProgress &progress);

// Either kind of recording, told apart by exportSourceKind.
Mp4ExportResult exportToMp4(const char *sourcePath, const char *targetPath, const ExportProgress &progress);

// The playback page's call before the export went through the result:
// returns 0 or a kExport* code. The filelist record is not needed any more
// (everything is read from the file).
int exportLocalToMp4(const char *sourcePath, const char *targetPath, const MEDIA_FILE_S &file,
                     const ExportProgress &progress);

} // namespace varno::playback
