#pragma once

#include <cstdio>

// varno-export RECORDING OUT.mp4: exports a local recording (in its record
// folder or copied out of it) or a downloaded camera file to MP4 through the
// same library call as the playback page. Progress and the outcome go to
// err; the exit status is 0 only when the MP4 passed its check.
namespace varno::exporttool {

enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

int runExportCommand(int argc, const char *const *argv, std::FILE *err);

} // namespace varno::exporttool
