#include "tools/export/exportcommand.h"

#include "playback/localexport.h"

#include <cstring>
#include <string>

namespace varno::exporttool {

namespace {

void usage(std::FILE *err)
{
    std::fputs("usage: varno-export [-v] RECORDING OUT.mp4\n"
               "  RECORDING  a local recording (with or without its record folder) or a\n"
               "             downloaded camera file\n"
               "  -v         also print the log lines on standard output\n"
               "exit status 0 when OUT.mp4 holds the recording's video (and sound), else 1\n",
               err);
}

} // namespace

int runExportCommand(int argc, const char *const *argv, std::FILE *err)
{
    const char *source = nullptr;
    const char *target = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "-v") == 0)
            continue;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            usage(err);
            return kExitUsage;
        }
        if (!source)
            source = arg;
        else if (!target)
            target = arg;
        else {
            usage(err);
            return kExitUsage;
        }
    }
    if (!source || !target || !*source || !*target) {
        usage(err);
        return kExitUsage;
    }
    int shown = -1;
    const varno::playback::Mp4ExportResult result
        = varno::playback::exportToMp4(source, target, [err, &shown](int percent) {
              // Every tenth percent, one line each.
              if (percent / 10 != shown / 10 || shown < 0) {
                  shown = percent;
                  std::fprintf(err, "varno-export: %d %%\n", percent);
                  std::fflush(err);
              }
              return true;
          });
    if (!result.ok()) {
        std::fprintf(err, "varno-export: %s: %s\n", varno::playback::exportCodeText(result.code),
                     result.reason.c_str());
        return kExitFailed;
    }
    std::fprintf(err, "varno-export: %s: %u pictures, %.3f s, %dx%d, %s\n", target, result.videoSamples,
                 result.mp4Seconds, result.width, result.height, result.mp4Audio ? "with sound" : "no sound");
    return kExitOk;
}

} // namespace varno::exporttool
