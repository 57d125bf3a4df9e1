// varno-test-rtspserver --port N [--width W --height H --fps F --gop G
//                       --quality Q --still --audio]
// Serves rtsp://127.0.0.1:N/live until SIGTERM / SIGINT; prints "READY" when
// it listens.
#include "rtsptestserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_quit = 0;
void onSignal(int) { g_quit = 1; }
} // namespace

int main(int argc, char **argv)
{
    varno::test::RtspTestServer::Options o;
    for (int i = 1; i < argc; ++i) {
        auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (!std::strcmp(argv[i], "--port"))
            o.port = next();
        else if (!std::strcmp(argv[i], "--width"))
            o.video.width = next();
        else if (!std::strcmp(argv[i], "--height"))
            o.video.height = next();
        else if (!std::strcmp(argv[i], "--fps"))
            o.video.fps = next();
        else if (!std::strcmp(argv[i], "--gop"))
            o.video.gop = next();
        else if (!std::strcmp(argv[i], "--quality"))
            o.video.quality = next();
        else if (!std::strcmp(argv[i], "--still"))
            o.video.still = true;
        else if (!std::strcmp(argv[i], "--audio"))
            o.audio = true;
    }
    if (o.port <= 0) {
        std::fprintf(stderr, "--port is needed\n");
        return 2;
    }
    o.video.frames = 2 * o.video.gop;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    varno::test::RtspTestServer server;
    if (!server.start(o)) {
        std::fprintf(stderr, "cannot serve on port %d\n", o.port);
        return 1;
    }
    std::printf("READY %s\n", server.url().c_str());
    std::fflush(stdout);
    while (!g_quit)
        usleep(20000);
    server.stop();
    return 0;
}
