#include "tools/export/exportcommand.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // The log lines still go to the log file; on the console only with -v,
    // so that a script sees the progress and the outcome alone.
    bool verbose = false;
    for (int i = 1; i < argc; ++i)
        verbose = verbose || std::strcmp(argv[i], "-v") == 0;
    if (!verbose && !std::freopen("/dev/null", "w", stdout))
        return varno::exporttool::kExitFailed;
    return varno::exporttool::runExportCommand(argc, argv, stderr);
}
