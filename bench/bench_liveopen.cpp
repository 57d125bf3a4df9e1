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
// The page is shown and painted before the first start (reported on its
// own). The longest stall is split with the thread's own account
// (/proc/thread-self/schedstat): on a CPU, waiting for a CPU (the machine is
// busy), blocked or idle; "own" leaves the wait for a CPU out. With --trace,
// every gap over 10 ms is printed and, while the thread is late, what the
// kernel says it does is sampled.
//
// Baseline, in the same run: the stream-address request of each camera made
// on the user-interface thread, one after the other with events processed
// between (what each start did there before the opens moved to threads of
// their own), for fewer cameras (each one stalls for the whole request).
//
// Usage: bench_liveopen [--cameras N=16] [--baseline-cameras N=4]
//                       [--request-ms N=1500] [--trace]
#include "common/devicerecords.h"
#include "common/onvifrecords.h"
#include "common/textfield.h"
#include "live/realvideo.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "tests/support/onviftestconf.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
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

// The user-interface thread's own account (/proc/thread-self/schedstat):
// nanoseconds on a CPU and waiting in the run queue for one.
struct ThreadTimes
{
    qint64 onCpu = 0;
    qint64 runQueue = 0;
};

ThreadTimes threadTimes()
{
    ThreadTimes t;
    if (FILE *f = std::fopen("/proc/thread-self/schedstat", "r")) {
        long long cpu = 0;
        long long wait = 0;
        if (std::fscanf(f, "%lld %lld", &cpu, &wait) == 2) {
            t.onCpu = cpu;
            t.runQueue = wait;
        }
        std::fclose(f);
    }
    return t;
}

// The longest gap between two ticks of a 2-ms timer on this thread, and
// what the thread did during it: ran on a CPU, waited for one (the machine
// is busy), or neither (it was blocked, or idle in the event loop).
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_lastTimes = threadTimes();
        m_startTimes = m_lastTimes;
        m_longest = 0;
        m_longestTimes = {};
        m_longestOwn = 0;
        m_longestBlocked = 0;
        m_ticks = 0;
        m_timer.start();
    }
    // Stops and counts the gap up to now as well.
    void stop()
    {
        tick();
        m_timer.stop();
    }
    double longestMs() const { return double(m_longest) / 1e6; }
    double longestOnCpuMs() const { return double(m_longestTimes.onCpu) / 1e6; }
    double longestRunQueueMs() const { return double(m_longestTimes.runQueue) / 1e6; }
    // The longest gap not counting its wait for a CPU: what the thread
    // itself spent running or blocked (the part this program answers for
    // on a busy machine), and the longest time blocked alone.
    double longestOwnMs() const { return double(m_longestOwn) / 1e6; }
    double longestBlockedMs() const { return double(m_longestBlocked) / 1e6; }
    // The thread's CPU time from start to stop.
    double cpuMs() const { return double(m_lastTimes.onCpu - m_startTimes.onCpu) / 1e6; }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    long ticks() const { return m_ticks; }
    // When the last tick was (steady clock, any thread).
    qint64 lastTickNs() const { return m_lastTickNs.load(); }
    // Prints every gap over 10 ms as it ends.
    void setTrace(bool on) { m_trace = on; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const ThreadTimes t = threadTimes();
        const qint64 gap = now - m_last;
        const ThreadTimes d{t.onCpu - m_lastTimes.onCpu, t.runQueue - m_lastTimes.runQueue};
        if (gap > m_longest) {
            m_longest = gap;
            m_longestTimes = d;
        }
        m_longestOwn = std::max(m_longestOwn, gap - d.runQueue);
        if (m_trace && gap > 10000000)
            std::printf("    gap at %8.1f ms: %6.1f ms (%.1f on a CPU, %.1f waiting for one, %.1f blocked)\n",
                        double(now) / 1e6, double(gap) / 1e6, double(d.onCpu) / 1e6, double(d.runQueue) / 1e6,
                        double(std::max<qint64>(0, gap - d.onCpu - d.runQueue)) / 1e6);
        m_longestBlocked = std::max(m_longestBlocked, gap - d.runQueue - d.onCpu);
        m_last = now;
        m_lastTimes = t;
        ++m_ticks;
        m_lastTickNs.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    ThreadTimes m_lastTimes;
    ThreadTimes m_startTimes;
    qint64 m_longest = 0;
    qint64 m_longestOwn = 0;
    qint64 m_longestBlocked = 0;
    ThreadTimes m_longestTimes;
    long m_ticks = 0;
    bool m_trace = false;
    std::atomic<qint64> m_lastTickNs{0};
};

// With --trace: while the user-interface thread is more than 20 ms late,
// every 2 ms, what the kernel says it is doing (state, where it sleeps, the
// system call and its first argument), counted.
class Watchdog
{
public:
    Watchdog(const StallMeter &meter, pid_t tid) : m_meter(meter), m_tid(tid)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Watchdog()
    {
        m_stop = true;
        m_thread.join();
    }
    void print() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::pair<int, std::string>> seen;
        for (const auto &[what, n] : m_seen)
            seen.emplace_back(n, what);
        std::sort(seen.rbegin(), seen.rend());
        for (size_t i = 0; i < seen.size() && i < 10; ++i)
            std::printf("    late %5d samples: %s\n", seen[i].first, seen[i].second.c_str());
    }

private:
    static std::string firstLine(const std::string &path)
    {
        std::string line;
        if (FILE *f = std::fopen(path.c_str(), "r")) {
            char buf[512] = {};
            if (std::fgets(buf, sizeof buf, f))
                line = buf;
            std::fclose(f);
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
            line.pop_back();
        return line;
    }
    void run()
    {
        const std::string dir = "/proc/self/task/" + std::to_string(m_tid) + "/";
        while (!m_stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const qint64 last = m_meter.lastTickNs();
            const qint64 now = std::chrono::steady_clock::now().time_since_epoch().count();
            if (last == 0 || now - last < 20000000)
                continue;
            const std::string stat = firstLine(dir + "stat");
            const size_t close = stat.rfind(')');
            const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
            std::string call = firstLine(dir + "syscall");
            // The number and the first argument.
            size_t cut = call.find(' ');
            if (cut != std::string::npos)
                cut = call.find(' ', cut + 1);
            if (cut != std::string::npos)
                call.resize(cut);
            const std::string wchan = firstLine(dir + "wchan");
            std::string what = std::string(1, state) + " " + wchan + " syscall " + call;
            // The console's lock: every log line is echoed there, by any thread.
            char lock[32];
            std::snprintf(lock, sizeof lock, " %p", static_cast<void *>(stdout->_lock));
            if (call.size() >= std::strlen(lock) && call.compare(call.size() - std::strlen(lock), std::string::npos, lock) == 0)
                what += " (the console's stdio lock)";
            {
                std::lock_guard lock(m_mutex);
                ++m_seen[what];
            }
        }
    }

    const StallMeter &m_meter;
    pid_t m_tid;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_seen;
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

void printBreakdown(const StallMeter &meter)
{
    const double rest = meter.longestMs() - meter.longestOnCpuMs() - meter.longestRunQueueMs();
    std::printf("          the longest stall: %.1f ms on a CPU, %.1f ms waiting for a CPU, %.1f ms neither "
                "(blocked or idle)\n",
                meter.longestOnCpuMs(), meter.longestRunQueueMs(), std::max(0.0, rest));
    std::printf("          without the waits for a CPU: longest stall %.1f ms, longest blocked %.1f ms; "
                "the thread ran %.1f ms in all\n",
                meter.longestOwnMs(), meter.longestBlockedMs(), meter.cpuMs());
}

double loadAverage()
{
    double load = -1;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1;
        std::fclose(f);
    }
    return load;
}

} // namespace

int main(int argc, char **argv)
{
    int cameras = 16;
    int baselineCameras = 4;
    int requestMs = 1500;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--cameras" && i + 1 < argc)
            cameras = std::clamp(std::atoi(argv[++i]), 1, 25);
        else if (a == "--baseline-cameras" && i + 1 < argc)
            baselineCameras = std::clamp(std::atoi(argv[++i]), 0, 25);
        else if (a == "--trace")
            trace = true;
        else if (a == "--request-ms" && i + 1 < argc)
            requestMs = std::max(100, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--cameras N] [--baseline-cameras N] [--request-ms N] [--trace]\n", argv[0]);
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
    std::printf("Shared machine: 2 cores for several agents; figures vary from run to run "
                "(load average %.2f, this process at nice %d).\n\n",
                loadAverage(), ::getpriority(PRIO_PROCESS, 0));

    // Baseline: each request on the user-interface thread.
    StallMeter meter;
    meter.setTrace(trace);
    std::unique_ptr<Watchdog> watchdog;
    if (trace)
        watchdog = std::make_unique<Watchdog>(meter, pid_t(::gettid()));
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
        printBreakdown(meter);
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
        // The page is up before anyone clicks: its first layout and paint of
        // 25 windows is measured on its own.
        meter.start();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        meter.stop();
        std::printf("live page shown, 25 windows laid out and painted: %.1f ms (%.1f ms on a CPU)\n",
                    meter.elapsedMs(), meter.cpuMs());
        meter.start();
        QElapsedTimer loop;
        loop.start();
        for (int i = 0; i < cameras; ++i) {
            QCoreApplication::processEvents();
            const Camera c = silentCamera(i, service);
            const double before = meter.elapsedMs();
            page.StartStream(c.dev, c.access, true);
            if (trace)
                std::printf("    camera %d started at %8.1f ms (the start took %.1f ms)\n", i, meter.elapsedMs(),
                            meter.elapsedMs() - before);
        }
        const double loopMs = double(loop.nsecsElapsed()) / 1e6;
        // Then the event loop runs as the application's does, until the last
        // camera has answered (or 2 minutes at most).
        if (answered < cameras) {
            QEventLoop wait;
            QObject::connect(&page, &realvideo::streamStarted, &wait, [&] {
                if (answered >= cameras)
                    wait.quit();
            });
            QTimer::singleShot(120000, &wait, &QEventLoop::quit);
            wait.exec();
        }
        meter.stop();
        std::printf("live page %2d cameras, Connect all             : longest stall %8.1f ms, "
                    "all answered after %8.1f ms (%d of %d failed, as they must; the starts took %.1f ms, "
                    "%ld ticks)\n",
                    cameras, meter.longestMs(), meter.elapsedMs(), failed, answered, loopMs, meter.ticks());
        printBreakdown(meter);
        std::printf("target: longest stall under 100 ms\n");
        if (watchdog)
            watchdog->print();
    }
    ::close(fd);
    return 0;
}
