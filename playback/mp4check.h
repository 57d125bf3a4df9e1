#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What every MP4 export returns, and the check an export runs on its own
// output before it says "done". An export writes "<target>.part"; only when
// the check passes is that file renamed to the target. Otherwise it is
// removed and the target (and the source) stay as they were.
namespace varno::playback {

enum : int {
    kExportOpenFailed = -1,  // the source cannot be opened or is not a recording
    kExportUnsupported = -2, // a video codec the MP4 writer does not take
    kExportWriteFailed = -3, // the MP4 cannot be created or written
    kExportCancelled = -4,   // stopped by the caller
    kExportNoVideo = -5,     // the source holds no picture that can be decoded
    kExportCheckFailed = -6, // the MP4 does not hold what was read
    kExportReadFailed = -7,  // the source ends early or is damaged
};

struct Mp4ExportResult
{
    int code = 0;
    std::string reason;         // the cause in one English line ("" on success)
    uint32_t picturesRead = 0;  // pictures of the source, from its first key picture
    uint32_t videoSamples = 0;  // video samples the MP4 holds (read back from it)
    double sourceSeconds = 0;   // how long the source's pictures last
    double mp4Seconds = 0;      // how long the MP4's video track lasts
    bool sourceAudio = false;
    bool mp4Audio = false;
    int width = 0;              // picture size of the MP4's video track
    int height = 0;

    bool ok() const { return code == 0; }
};

// Called as the export goes on with 0 ... 100; returning false stops it.
using ExportProgress = std::function<bool(int percent)>;

// What the export read from its source, for the check.
struct Mp4Expectation
{
    uint32_t pictures = 0;
    double seconds = 0;
    // When the source's clock went back or stood still, its pictures may
    // last longer in the MP4 (each such step gets one frame interval): the
    // longest they may last. 0: as seconds.
    double secondsMax = 0;
    double frameInterval = 0.04; // seconds
    bool audio = false;
};

// The facts of an MP4 file as a reader sees them.
struct Mp4Facts
{
    bool video = false;
    uint32_t videoSamples = 0;
    double videoSeconds = 0;
    int width = 0;
    int height = 0;
    bool audio = false;
    uint32_t audioPackets = 0;
};

// Reads the file back with libavformat; false when it is no readable MP4.
bool inspectMp4(const std::string &path, Mp4Facts *facts);

// The file the export writes before it is checked.
std::string partPathOf(const std::string &target);
// Creates it empty; false with the system's reason when that is not possible.
bool createPart(const std::string &partPath, std::string *reason);

// Ends an export whose writer finished with writeResult (0 or a kExport*
// code, with its reason when one is known): checks partPath against what
// was read, then renames it to target, or removes it and fills in why.
// Returns result->code.
int completeMp4Export(const std::string &partPath, const std::string &target, int writeResult,
                      const std::string &writeReason, const Mp4Expectation &expected, Mp4ExportResult *result);

// The target names the very file the export reads (an export must never
// replace its source).
bool isSameFile(int sourceFd, const char *target);

// The one-line English text of a code.
const char *exportCodeText(int code);

} // namespace varno::playback
