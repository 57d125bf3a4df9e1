#pragma once

#include <cstdio>

// The conversion the download worker runs after a transfer
// (CFileDownload::saveMp4): parses a camera recording file (common/camerafile.h)
// and writes its H.264 video and its audio (as AAC) into an MP4 file.
// Log lines name "CFileDownload::saveMp4".
namespace varno::playback {

// Picture size of a header resolution code.
void cameraResolution(int code, int *width, int *height);

// Converts tmpPath into targetPath. Returns 0 when the chunks were read to
// their end, -1 when the input could not be opened or read, or the
// conversion stopped early (whatever was converted stays in the MP4).
int saveMp4(const char *tmpPath, const char *targetPath);

// The same from an open stream (positioned anywhere; it is rewound).
// name is used in log lines only.
int saveMp4FromStream(std::FILE *in, const char *name, const char *targetPath);

// Largest chunk payload the converter holds in memory.
inline constexpr unsigned kChunkBufferSize = 204800;

} // namespace varno::playback
