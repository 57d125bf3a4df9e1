#pragma once

#include "playback/mp4check.h"

#include <cstdio>

// The conversion the download worker runs after a transfer
// (CFileDownload::saveMp4): parses a camera recording file (common/camerafile.h)
// and writes its H.264 video and its audio (as AAC) into an MP4 file.
// Log lines name "CFileDownload::saveMp4".
namespace varno::playback {

// Picture size of a header resolution code.
void cameraResolution(int code, int *width, int *height);

// Converts tmpPath into targetPath. Returns 0 when the chunks were read to
// their end and the MP4 passed its check (mp4check.h): it holds a video
// track with every picture read, as long as the pictures, and audio when
// the file had audio. Otherwise -1: the input could not be opened or read,
// it holds no H.264 picture that decodes, the conversion stopped early or
// the check failed; then no MP4 is left behind (an earlier file at
// targetPath stays as it was) and the input is never touched. result, when
// given, receives the code (kExport*) and the cause; progress, when given,
// gets 0 ... 100 and may stop the conversion.
int saveMp4(const char *tmpPath, const char *targetPath, Mp4ExportResult *result = nullptr,
            const ExportProgress &progress = {});

// The same from an open stream (positioned anywhere; it is rewound).
// name is used in log lines only.
int saveMp4FromStream(std::FILE *in, const char *name, const char *targetPath, Mp4ExportResult *result = nullptr,
                      const ExportProgress &progress = {});

// Largest chunk payload the converter holds in memory.
inline constexpr unsigned kChunkBufferSize = 204800;

} // namespace varno::playback
