// The user-interface thread while cameras that do not answer are opened.
//
// Sixteen ONVIF cameras whose device service accepts the TCP connection and
// never replies (a listening socket on loopback that nobody accepts from),
// opened through the live page one after the other as "Connect all" does
// (realvideo::StartStream, pending events processed between two cameras).
// A precise 2-ms timer ticks on the user-interface thread; the longest gap
// between two ticks, from the first start until every open has answered,
// is the longest stall of its event loop.
//
// Baseline, in the same run: the stream-address request of each camera made
// on the user-interface thread, one after the other with events processed
// between (what each start did there before the opens moved to threads of
// their own), for fewer cameras (each one stalls for the whole request).
//
// Usage: bench_liveopen [--cameras N=16] [--baseline-cameras N=4]
//                       [--request-ms N=1500]
#include "common/devicerecords.h"
#include "common/onvifrecords.h"
#include "common/textfield.h"
#include "live/realvideo.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/onviftestconf.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port that takes connections into its backlog and never
// answers. Returns the port (0 on failure); *fd keeps it open.
uint16_t silentService(int *fd)
{
    *fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (*fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(*fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(*fd, 256) != 0
        || ::getsockname(*fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

// The longest gap between two ticks of a 2-ms timer on this thread.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            ++m_ticks;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_ticks = 0;
        m_timer.start();
    }
    // Stops and counts the gap up to now as well.
    void stop()
    {
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
        m_timer.stop();
    }
    double longestMs() const { return double(m_longest) / 1e6; }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    long ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    long m_ticks = 0;
};

struct Camera
{
    DeviceInfo_s dev{};
    OnvifAccessInfo_s access{};
};

Camera silentCamera(int n, const QByteArray &service)
{
    Camera c;
    const QByteArray id = "silent-camera-" + QByteArray::number(n);
    varno::setText(c.dev.devId, id);
    varno::setText(c.dev.devName, "Silent " + QByteArray::number(n));
    varno::setText(c.dev.serviceAddr, service);
    varno::setText(c.dev.password, QByteArray("admin"));
    varno::setText(c.access.devId, id);
    varno::setText(c.access.mainToken, QByteArray("profile_main"));
    varno::setText(c.access.serviceAddr, service);
    c.access.rtspPort = 554;
    return c;
}

} // namespace

int main(int argc, char **argv)
{
    int cameras = 16;
    int baselineCameras = 4;
    int requestMs = 1500;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--cameras" && i + 1 < argc)
            cameras = std::clamp(std::atoi(argv[++i]), 1, 25);
        else if (a == "--baseline-cameras" && i + 1 < argc)
            baselineCameras = std::clamp(std::atoi(argv[++i]), 0, 25);
        else if (a == "--request-ms" && i + 1 < argc)
            requestMs = std::max(100, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--cameras N] [--baseline-cameras N] [--request-ms N]\n", argv[0]);
            return 2;
        }
    }
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    qputenv("VARNO_TEST_TMP", tmp.path().toUtf8());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!varno::test::writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"),
                                      QStringLiteral("request_timeout_ms = %1").arg(requestMs)})) {
        std::fprintf(stderr, "cannot write onvif.conf\n");
        return 1;
    }
    int fd = -1;
    const uint16_t port = silentService(&fd);
    if (port == 0) {
        std::fprintf(stderr, "no loopback socket\n");
        return 1;
    }
    const QByteArray service = "http://127.0.0.1:" + QByteArray::number(port) + "/onvif/device_service";

    std::printf("Cameras that accept and never answer (ONVIF request time-out %d ms), offscreen.\n", requestMs);
    std::printf("Shared machine: 2 cores for several agents; figures vary from run to run.\n\n");

    // Baseline: each request on the user-interface thread.
    StallMeter meter;
    if (baselineCameras > 0) {
        meter.start();
        for (int i = 0; i < baselineCameras; ++i) {
            const Camera c = silentCamera(i, service);
            OnvifStreamUriReq_s req;
            std::memset(&req, 0, sizeof req);
            std::memcpy(req.serviceAddr, c.access.serviceAddr, sizeof req.serviceAddr - 1);
            std::memcpy(req.mainToken, c.access.mainToken, sizeof req.mainToken - 1);
            req.transport = 1;
            SDK_DVRMGR_SetOnvifCredentials(req.serviceAddr, "admin");
            char url[kOnvifUriSize] = {};
            SDK_DVRMGR_GetStreamUri(req, nullptr, url);
            QCoreApplication::processEvents();
        }
        meter.stop();
        std::printf("baseline  %2d cameras, requests on the UI thread : longest stall %8.1f ms, "
                    "all answered after %8.1f ms\n",
                    baselineCameras, meter.longestMs(), meter.elapsedMs());
    }

    // The live page: "Connect all".
    {
        realvideo page;
        page.resize(1280, 720);
        page.show();
        page.btnCount25Clicked();
        int answered = 0;
        int failed = 0;
        QObject::connect(&page, &realvideo::streamStarted, [&](const QString &, int result) {
            ++answered;
            failed += result != 0 ? 1 : 0;
        });
        meter.start();
        QElapsedTimer loop;
        loop.start();
        for (int i = 0; i < cameras; ++i) {
            QCoreApplication::processEvents();
            const Camera c = silentCamera(i, service);
            page.StartStream(c.dev, c.access, true);
        }
        const double loopMs = double(loop.nsecsElapsed()) / 1e6;
        QElapsedTimer guard;
        guard.start();
        while (answered < cameras && guard.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        meter.stop();
        std::printf("live page %2d cameras, Connect all             : longest stall %8.1f ms, "
                    "all answered after %8.1f ms (%d of %d failed, as they must; the starts took %.1f ms, "
                    "%ld ticks)\n",
                    cameras, meter.longestMs(), meter.elapsedMs(), failed, answered, loopMs, meter.ticks());
        std::printf("target: longest stall under 100 ms\n");
    }
    ::close(fd);
    return 0;
}
