// Camera recording file parser and MP4 writer on arbitrary bytes: no crash,
// no overrun, bounded memory. The input is read through a memory stream;
// the MP4 goes to a scratch file that is removed after each run.
#include "playback/camerafileconverter.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string out = [] {
        av_log_set_level(AV_LOG_QUIET);
        const char *dir = std::getenv("TMPDIR");
        return std::string(dir ? dir : "/tmp") + "/fuzz_camerafile." + std::to_string(::getpid()) + ".mp4";
    }();
    if (size == 0)
        return 0;
    std::FILE *in = ::fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!in)
        return 0;
    varno::playback::saveMp4FromStream(in, "fuzz", out.c_str());
    std::fclose(in);
    std::remove(out.c_str());
    return 0;
}
