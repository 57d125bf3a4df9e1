// The live wall, end to end: simulated P2P cameras (a separate varno-camsim
// process, 720p25 / 360p25 H.264 loops encoded once at its start) behind a
// private Mosquitto broker on a free loopback port, the P2P client library,
// one decoder per stream and a visible 1920 x 1080 wall that paints every
// window.
//
// Cases, each in a process of its own, measured over a fixed wall interval
// after a warm-up:
//   baseline  - the streams from the P2P library into the decoders
//               (CLiveStream without a window): decoding only, no display;
//   grid      - the same streams into the windows of a grid (QVideoOnly)
//               the harness opens itself: decoding, scaling into each
//               window's surface, painting;
//   live page - the cameras opened through the live page
//               (realvideo::StartStream, full screen), as the main window's
//               double-click does.
// For 16 windows of the main (HD) stream and 25 windows of the sub (SD)
// stream. Printed per case: pictures decoded and frames shown per second
// per window, CPU time of this process (getrusage) per wall second and its
// ratio against the baseline, resident memory added per stream, and the
// latency from a frame's arrival in the frame callback to the paint that
// first shows its picture (p50, p99). The CPU of the simulator, the broker
// and the X server (separate processes) is printed beside, not counted.
//
// Also the time from the double-click (StartStream) to the first picture
// painted, for a P2P camera (no session yet, and session up) and for an
// ONVIF camera of the simulator (RTSP through gst-rtsp-server).
//
// --only auto runs the cases of the stream chosen by window size instead,
// with cameras of 1920x1080 main and 640x360 sub streams: 16 windows of the
// live page choosing by their size against decoding the 16 main and the 16
// sub streams alone; 25 cameras with 16 windows shown (the other 9 on the
// grid's next page) against the 16; and a window maximised and restored:
// the time from the double-click to the first main-stream picture painted,
// and the paints that showed no picture meanwhile.
//
// Usage: bench_livewall [--seconds S=20] [--warmup S=5] [--offscreen]
//                       [--hd-kbps N=2000] [--sd-kbps N=500] [--noise 0..32=6]
//                       [--only 16|25|auto] [--rounds N=1] [--screenshot DIR]
// VARNO_BENCH_STRETCH=1 in the environment stretches the pictures over their
// windows instead of letter-boxing them.
// --screenshot saves the live page of each measured case as it looked at
// the end of the measurement (DIR/livewall-16.png, DIR/livewall-25.png).
// Without --offscreen it starts its own Xvfb (1920x1080x24, no TCP) on a
// free display and paints there through the xcb platform.
#include "common/devicerecords.h"
#include "common/onvifrecords.h"
#include "common/p2phandle.h"
#include "common/textfield.h"
#include "live/videosurface.h"
#include "live/clivestream.h"
#include "live/qmultivideo.h"
#include "live/qvideoonly.h"
#include "live/qvideoplay.h"
#include "live/realvideo.h"
#include "platform/av/videosink.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2p_client_sdk.h"
#include "platform/p2p/p2psession.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace varno;

namespace {

constexpr int kWallWidth = 1920;
constexpr int kWallHeight = 1080;
constexpr int kCameras = 25;
const char *const kPassword = "bench1";
const char *const kOnvifUuid = "6a1c0de2-3b4f-4a5e-9c8d-00000000b001";

struct Options
{
    double seconds = 20;
    double warmup = 5;
    bool offscreen = false;
    int hdKbps = 2000;
    int sdKbps = 500;
    int noise = 6;
    int only = 0;
    bool autoCases = false;        // --only auto: the cases of the stream chosen by window size
    int rounds = 1;
    QString child;                 // the case this process runs (a child of the harness)
    qint64 pids[3] = {0, 0, 0};    // simulator, broker, X server (child)
    QString onvifUuid;             // the simulated ONVIF camera (child)
    QString onvifService;
    QString screenshotDir;         // where the live page cases save their picture, none when empty
};

// ------------------------------------------------------------ measuring

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread (the user-interface thread: events, painting).
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// utime + stime of another process, from /proc (0 when unknown).
double childCpuSeconds(qint64 pid)
{
    if (pid <= 0)
        return 0;
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // After the command: state is field 3; utime and stime are fields 14, 15.
    if (fields.size() < 13)
        return 0;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll().trimmed());
}

// Runs the event loop for ms milliseconds.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until cond() holds or ms pass; returns cond().
template <typename F>
bool runUntil(F cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms)
        runFor(5);
    return cond();
}

// ------------------------------------------------------------ cameras

QString deviceId(int i)
{
    return QStringLiteral("B%1").arg(700000 + i);
}

QString p2pId(int i)
{
    return QStringLiteral("VRNB-%1-BENCH").arg(700000 + i);
}

QByteArray simulatorConfig(quint16 brokerPort, const QString &storage, const Options &o)
{
    QString cams;
    // The cases of the choice by window size take 1080p main streams.
    const QString hd = o.autoCases ? QStringLiteral(R"("width": 1920, "height": 1080)")
                                   : QStringLiteral(R"("width": 1280, "height": 720)");
    for (int i = 0; i < kCameras; ++i) {
        cams += QStringLiteral(R"(    { "kind": "p2p", "deviceId": "%1", "p2pId": "%2", "name": "Cam %3",
      "password": "%4",
      "hd": { %8, "fps": 25, "kbps": %5, "noise": %7, "loopSeconds": 2 },
      "sd": { "width": 640, "height": 360, "fps": 25, "kbps": %6, "noise": %7, "loopSeconds": 2 } },
)")
                    .arg(deviceId(i), p2pId(i))
                    .arg(i + 1)
                    .arg(QLatin1String(kPassword))
                    .arg(o.hdKbps)
                    .arg(o.sdKbps)
                    .arg(o.noise)
                    .arg(hd);
    }
    cams += QStringLiteral(R"(    { "kind": "onvif", "id": "onvif", "discoveryPort": 0, "cameras": [
      { "uuid": "%1", "name": "Hall", "password": "admin" } ] })")
                .arg(QLatin1String(kOnvifUuid));
    return QStringLiteral(R"({
  "broker": { "host": "127.0.0.1", "port": %1 },
  "storage": "%2",
  "cameras": [
%3
  ]
})")
        .arg(brokerPort)
        .arg(storage, cams)
        .toUtf8();
}

// What the live view's frame callback does for a P2P stream: the frame
// (1-based type) goes to the window's decoder.
int onFrame(P2P_HANDLE, const char *, const int32_t *info, int32_t type, const char *data, int32_t size,
            void *user)
{
    if (size <= 0)
        return -1;
    static_cast<CLiveStream *>(user)->SetCurrentFrame(data, size, type - 1, info[0], info[1]);
    return 0;
}

// One camera stream opened over the P2P library into a decoder.
struct Stream
{
    std::string id;
    std::vector<char> descr;
    int index = 0;
    bool open = false;
    std::unique_ptr<CLiveStream> live;
};

// The steps the live view takes to open a P2P camera's stream: session,
// stream descriptions, the chosen entry opened with the frame callback.
int openStream(P2P_HANDLE h, Stream &s, int32_t window)
{
    if (const int r = varno::p2p::ensureSession(h, s.id.c_str()); r < 0)
        return r;
    s.descr.assign(P2P_STREAM_DESCR_BUFFER, 0);
    int32_t count = 0;
    int r = P2P_Client_SDK_Get_StreamDescr(h, s.id.c_str(), &count, s.descr.data());
    if (r < 0)
        return r;
    if (count <= s.index)
        return -1;
    char *entry = s.descr.data() + s.index * P2P_STREAM_DESCR_SIZE;
    const int32_t one = 1;
    std::memcpy(entry + 72, &one, 4);
    int32_t bitRate = 0, sampleRate = 0;
    std::memcpy(&bitRate, entry + 129, 4);
    std::memcpy(&sampleRate, entry + 137, 4);
    const int audio[4] = {102, 1, sampleRate > 0 ? bitRate / sampleRate : 8, sampleRate};
    s.live = std::make_unique<CLiveStream>(window, 1, audio);
    const int32_t params[3] = {1, 5, 0};
    r = P2P_Client_SDK_Open_Stream(h, s.id.c_str(), entry, onFrame, s.live.get(), params, kPassword, 0);
    if (r < 0) {
        s.live.reset();
        return r;
    }
    s.open = true;
    return 0;
}

void closeStream(P2P_HANDLE h, Stream &s)
{
    if (s.open)
        P2P_Client_SDK_Close_Stream(h, s.id.c_str(), s.descr.data() + s.index * P2P_STREAM_DESCR_SIZE);
    s.open = false;
    s.live.reset(); // after the close: no callback feeds it any more
}

// ------------------------------------------------------------ the cases

struct Probe
{
    bool measuring = false;
    std::vector<double> latencyMs;
    std::map<const live::VideoSurface *, int64_t> firstPaintUs;
};

Probe g_probe;

struct CaseResult
{
    QString name;
    int windows = 0;
    double wallS = 0;
    double cpuS = 0;
    double uiCpuS = 0; // of that, the user-interface thread
    double decodedMin = 0, decodedAvg = 0, decodedMax = 0;
    double shownMin = 0, shownAvg = 0, shownMax = 0;
    double rssPerStreamKb = 0;
    double p50 = 0, p99 = 0;
    size_t samples = 0;
    double simCpuS = 0, brokerCpuS = 0, xCpuS = 0;
    uint64_t droppedByDecoders = 0;
    bool ok = true;
    QString problem;
};

struct World
{
    P2P_HANDLE handle = 0;
    qint64 simPid = 0;
    qint64 brokerPid = 0;
    qint64 xPid = 0;
    Options options;
};

enum class Mode { Baseline, Grid, Page };

DeviceInfo_s p2pDevice(int i, int streamType)
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof d);
    setText(d.devId, deviceId(i).toLatin1());
    setText(d.devName, QStringLiteral("Cam %1").arg(i + 1).toLatin1());
    setText(d.password, kPassword);
    setText(d.p2pId, p2pId(i).toLatin1());
    d.p2pFlag = 1;
    d.streamType = streamType;
    return d;
}

// What a case measures per stream, whichever way it was opened.
struct Wall
{
    std::vector<std::function<uint64_t()>> decoded; // pictures decoded so far
    std::vector<std::function<uint64_t()>> dropped; // frames the decoder's queue dropped
    std::vector<live::VideoSurface *> surfaces;       // the windows' surfaces (display cases)
};

// Opens `windows` cameras (stream index `stream`): into decoders only
// (Baseline), into the windows of a grid the harness drives itself (Grid),
// or through the live page as the main window does (Page). Warms up,
// measures, closes.
// autoChoice: the live page's windows choose their stream by their size
// (else they show `stream`); shown: windows per page of the grid (the
// cameras beyond it are opened on the next page, not shown).
CaseResult runCase(World &w, const QString &name, int windows, int stream, Mode mode, bool autoChoice = false,
                   int shown = 0)
{
    CaseResult r;
    r.name = name;
    r.windows = windows;
    std::unique_ptr<QVideoOnly> grid;
    std::unique_ptr<realvideo> page;
    if (mode == Mode::Grid) {
        grid = std::make_unique<QVideoOnly>(windows);
        grid->setWindowTitle(QStringLiteral("bench_livewall"));
        grid->resize(kWallWidth, kWallHeight);
        grid->show();
    } else if (mode == Mode::Page) {
        page = std::make_unique<realvideo>();
        page->setWindowTitle(QStringLiteral("bench_livewall"));
        page->resize(kWallWidth, kWallHeight);
        page->show();
        page->setFullScreen(true); // the grid takes the whole page
        if ((shown ? shown : windows) > 16)
            page->btnCount25Clicked();
        else
            page->btnCount16Clicked();
        page->videoOnly()->setAutoStream(autoChoice);
    }
    // VARNO_BENCH_STRETCH=1: pictures stretched over their windows (the
    // grid's "Keep aspect ratio" unchecked) instead of letter-boxed.
    if (qEnvironmentVariableIntValue("VARNO_BENCH_STRETCH") == 1) {
        if (grid)
            grid->setKeepAspect(false);
        if (page)
            page->videoOnly()->setKeepAspect(false);
    }
    runFor(300);
    const long rssBefore = residentKb();
    std::vector<Stream> streams(mode == Mode::Page ? 0 : static_cast<size_t>(windows));
    Wall wall;
    for (int i = 0; i < windows && r.ok; ++i) {
        if (mode == Mode::Page) {
            const int ret = page->StartStream(p2pDevice(i, stream), true);
            const QString key = deviceId(i);
            LiveWinInfo win{};
            if (ret < 0 || !page->windowInfo(key, &win)) {
                r.ok = false;
                r.problem = QStringLiteral("camera %1: StartStream failed (%2)").arg(i).arg(ret);
                break;
            }
            if (shown && i >= shown)
                continue; // on the next page: decodes nothing, measured by the CPU alone
            wall.surfaces.push_back(page->videoOnly()->videoWin(win.winIndex)->play()->surface());
            realvideo *pg = page.get();
            wall.decoded.push_back([pg, key] { return uint64_t(std::max<int64_t>(0, pg->streamStats(key).decodedPictures)); });
            wall.dropped.push_back([pg, key] {
                CLiveStream *live = pg->liveStreamOf(key);
                return live ? live->droppedFrames() : 0;
            });
            continue;
        }
        Stream &s = streams[size_t(i)];
        s.id = p2pId(i).toStdString();
        s.index = stream;
        int32_t window = 0;
        if (mode == Mode::Grid) {
            int index = -1;
            window = grid->GetVideoWidget(&index, deviceId(i), QStringLiteral("Cam %1").arg(i + 1), 0);
            if (window <= 0) {
                r.ok = false;
                r.problem = QStringLiteral("no window for camera %1 (%2)").arg(i).arg(window);
                break;
            }
            wall.surfaces.push_back(grid->videoWin(index)->play()->surface());
            grid->OpenVideoWin(index);
        }
        const int ret = openStream(w.handle, s, window);
        if (ret < 0) {
            r.ok = false;
            r.problem = QStringLiteral("camera %1: open failed (%2)").arg(i).arg(ret);
            break;
        }
        CLiveStream *live = s.live.get();
        wall.decoded.push_back([live] { return live->decodedPictures(); });
        wall.dropped.push_back([live] { return live->droppedFrames(); });
    }
    if (r.ok) {
        // Every stream decodes (and shows) before the warm-up starts.
        const bool started = runUntil([&] {
            for (const auto &d : wall.decoded)
                if (d() == 0)
                    return false;
            for (const live::VideoSurface *v : wall.surfaces)
                if (v->newPicturesPainted() == 0)
                    return false;
            return true;
        }, 20000);
        if (!started) {
            r.ok = false;
            r.problem = QStringLiteral("not every stream showed a picture within 20 s");
        }
    }
    if (r.ok) {
        runFor(int(w.options.warmup * 1000));
        const long rssAfter = residentKb();
        r.rssPerStreamKb = double(rssAfter - rssBefore) / windows;

        std::vector<uint64_t> decoded0, shown0;
        uint64_t dropped0 = 0;
        for (size_t i = 0; i < wall.decoded.size(); ++i) {
            decoded0.push_back(wall.decoded[i]());
            dropped0 += wall.dropped[i]();
        }
        for (const live::VideoSurface *v : wall.surfaces)
            shown0.push_back(v->newPicturesPainted());
        g_probe.latencyMs.clear();
        g_probe.measuring = true;
        const double sim0 = childCpuSeconds(w.simPid), broker0 = childCpuSeconds(w.brokerPid),
                     x0 = childCpuSeconds(w.xPid);
        const double cpu0 = processCpuSeconds();
        const double ui0 = threadCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        runFor(int(w.options.seconds * 1000));
        r.cpuS = processCpuSeconds() - cpu0;
        r.uiCpuS = threadCpuSeconds() - ui0;
        r.wallS = double(timer.nsecsElapsed()) / 1e9;
        r.simCpuS = childCpuSeconds(w.simPid) - sim0;
        r.brokerCpuS = childCpuSeconds(w.brokerPid) - broker0;
        r.xCpuS = childCpuSeconds(w.xPid) - x0;
        g_probe.measuring = false;

        std::vector<double> decoded, shown;
        uint64_t dropped1 = 0;
        for (size_t i = 0; i < wall.decoded.size(); ++i) {
            decoded.push_back(double(wall.decoded[i]() - decoded0[i]) / r.wallS);
            dropped1 += wall.dropped[i]();
        }
        for (size_t i = 0; i < wall.surfaces.size(); ++i)
            shown.push_back(double(wall.surfaces[i]->newPicturesPainted() - shown0[i]) / r.wallS);
        r.droppedByDecoders = dropped1 - dropped0;
        auto stats = [](const std::vector<double> &v, double &mn, double &avg, double &mx) {
            if (v.empty())
                return;
            mn = *std::min_element(v.begin(), v.end());
            mx = *std::max_element(v.begin(), v.end());
            double sum = 0;
            for (double x : v)
                sum += x;
            avg = sum / double(v.size());
        };
        stats(decoded, r.decodedMin, r.decodedAvg, r.decodedMax);
        stats(shown, r.shownMin, r.shownAvg, r.shownMax);
        r.samples = g_probe.latencyMs.size();
        r.p50 = test::percentile(g_probe.latencyMs, 0.50);
        r.p99 = test::percentile(g_probe.latencyMs, 0.99);
        if (page && !w.options.screenshotDir.isEmpty())
            page->grab().save(QStringLiteral("%1/livewall-%2.png").arg(w.options.screenshotDir).arg(windows));
    }
    wall = Wall();
    for (Stream &s : streams)
        closeStream(w.handle, s);
    grid.reset();
    page.reset(); // closes every stream it opened
    runFor(300);
    return r;
}

// From the request to open a camera to its first picture painted: the
// window, the session (when none is up), the stream descriptions, the
// stream, the first key frame, decoding and the paint.
double firstPictureMs(World &w, int camera, QString *problem)
{
    QVideoOnly grid(4);
    grid.resize(kWallWidth, kWallHeight);
    grid.show();
    runFor(300);
    g_probe.firstPaintUs.clear();
    const int64_t t0 = av::steadyMicros();
    int index = -1;
    const int32_t window = grid.GetVideoWidget(&index, deviceId(camera), QStringLiteral("Cam"), 0);
    live::VideoSurface *surface = grid.videoWin(index)->play()->surface();
    Stream s;
    s.id = p2pId(camera).toStdString();
    s.index = 0;
    const int ret = openStream(w.handle, s, window);
    grid.OpenVideoWin(index);
    double ms = -1;
    if (ret < 0) {
        *problem = QStringLiteral("open failed (%1)").arg(ret);
    } else if (runUntil([&] { return g_probe.firstPaintUs.count(surface) > 0; }, 15000)) {
        ms = double(g_probe.firstPaintUs[surface] - t0) / 1000.0;
    } else {
        *problem = QStringLiteral("no picture within 15 s");
    }
    closeStream(w.handle, s);
    return ms;
}

// The same through the live page, as the main window's double-click does:
// realvideo::StartStream with the camera's record (P2P), or with the
// record and the ONVIF access record (RTSP). Opens, waits for the first
// picture painted, closes the window; returns the milliseconds.
struct OnvifTarget
{
    QString uuid;
    QString serviceAddr;
};

double pageFirstPictureMs(realvideo &page, const DeviceInfo_s &dev, const OnvifAccessInfo_s *access,
                          QString *problem)
{
    g_probe.firstPaintUs.clear();
    const QString key = QString::fromLatin1(dev.devId);
    const int64_t t0 = av::steadyMicros();
    const int ret = access ? page.StartStream(dev, *access, true) : page.StartStream(dev, true);
    LiveWinInfo win{};
    double ms = -1;
    if (ret < 0 || !page.windowInfo(key, &win)) {
        *problem = QStringLiteral("%1: StartStream failed (%2)").arg(key).arg(ret);
    } else {
        live::VideoSurface *surface = page.videoOnly()->videoWin(win.winIndex)->play()->surface();
        if (runUntil([&] { return g_probe.firstPaintUs.count(surface) > 0; }, 20000))
            ms = double(g_probe.firstPaintUs[surface] - t0) / 1000.0;
        else
            *problem = QStringLiteral("%1: no picture within 20 s").arg(key);
    }
    // Closed as the window's close button does: the grid frees the window
    // and tells the page, which closes the stream.
    if (win.winHandle > 0)
        page.videoOnly()->CloseVideoWinFromMul(win.winHandle);
    runFor(200);
    return ms;
}

// ------------------------------------------------------------ X server

// Starts Xvfb on a free display; returns its process (null on failure).
std::unique_ptr<QProcess> startXvfb(int *display)
{
    for (int n = 99; n > 60; --n) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))
            || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                                          QStringLiteral("%1x%2x24").arg(kWallWidth).arg(kWallHeight),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!p->waitForStarted(5000))
            return nullptr;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && p->state() == QProcess::Running) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))) {
                QThread::msleep(200);
                *display = n;
                return p;
            }
            QThread::msleep(50);
        }
        p->kill();
        p->waitForFinished(3000);
    }
    return nullptr;
}

void printCase(const CaseResult &c)
{
    if (!c.ok) {
        std::printf("%-26s FAILED: %s\n", qPrintable(c.name), qPrintable(c.problem));
        return;
    }
    std::printf("%-26s %6.1f %6.1f %6.1f | %6.1f %6.1f %6.1f | %6.3f %5.3f | %8.0f | %7.1f %7.1f (%zu) | %5.3f %5.3f %5.3f | %llu\n",
                qPrintable(c.name), c.decodedMin, c.decodedAvg, c.decodedMax, c.shownMin, c.shownAvg, c.shownMax,
                c.cpuS / c.wallS, c.uiCpuS / c.wallS, c.rssPerStreamKb, c.p50, c.p99, c.samples, c.simCpuS / c.wallS,
                c.brokerCpuS / c.wallS, c.xCpuS / c.wallS, static_cast<unsigned long long>(c.droppedByDecoders));
}

QString resultLine(const CaseResult &c)
{
    return QStringLiteral("RESULT ok=%1 windows=%2 wall=%3 cpu=%4 dmin=%5 davg=%6 dmax=%7 smin=%8 savg=%9 smax=%10 "
                          "rss=%11 p50=%12 p99=%13 n=%14 sim=%15 broker=%16 x=%17 dropped=%18 ui=%19 problem=%20")
        .arg(c.ok ? 1 : 0)
        .arg(c.windows)
        .arg(c.wallS)
        .arg(c.cpuS)
        .arg(c.decodedMin)
        .arg(c.decodedAvg)
        .arg(c.decodedMax)
        .arg(c.shownMin)
        .arg(c.shownAvg)
        .arg(c.shownMax)
        .arg(c.rssPerStreamKb)
        .arg(c.p50)
        .arg(c.p99)
        .arg(c.samples)
        .arg(c.simCpuS)
        .arg(c.brokerCpuS)
        .arg(c.xCpuS)
        .arg(c.droppedByDecoders)
        .arg(c.uiCpuS)
        .arg(QString(c.problem).replace(QLatin1Char(' '), QLatin1Char('_')));
}

bool parseResult(const QByteArray &output, CaseResult *c)
{
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("RESULT "))
            continue;
        std::map<QByteArray, QByteArray> kv;
        for (const QByteArray &part : line.mid(7).split(' ')) {
            const int eq = part.indexOf('=');
            if (eq > 0)
                kv[part.left(eq)] = part.mid(eq + 1);
        }
        c->ok = kv["ok"] == "1";
        c->windows = kv["windows"].toInt();
        c->wallS = kv["wall"].toDouble();
        c->cpuS = kv["cpu"].toDouble();
        c->uiCpuS = kv["ui"].toDouble();
        c->decodedMin = kv["dmin"].toDouble();
        c->decodedAvg = kv["davg"].toDouble();
        c->decodedMax = kv["dmax"].toDouble();
        c->shownMin = kv["smin"].toDouble();
        c->shownAvg = kv["savg"].toDouble();
        c->shownMax = kv["smax"].toDouble();
        c->rssPerStreamKb = kv["rss"].toDouble();
        c->p50 = kv["p50"].toDouble();
        c->p99 = kv["p99"].toDouble();
        c->samples = size_t(kv["n"].toULongLong());
        c->simCpuS = kv["sim"].toDouble();
        c->brokerCpuS = kv["broker"].toDouble();
        c->xCpuS = kv["x"].toDouble();
        c->droppedByDecoders = kv["dropped"].toULongLong();
        c->problem = QString::fromUtf8(kv["problem"]).replace(QLatin1Char('_'), QLatin1Char(' '));
        return true;
    }
    return false;
}

struct CaseSetup
{
    const char *id;
    const char *title;
    int windows;
    int stream;
    Mode mode;
    bool autoChoice = false;
    int shown = 0;
};

const CaseSetup kCases[] = {
    {"base16", "16 x 720p baseline", 16, 0, Mode::Baseline},
    {"grid16", "16 x 720p grid", 16, 0, Mode::Grid},
    {"page16", "16 x 720p live page", 16, 0, Mode::Page},
    {"base25", "25 x 360p baseline", 25, 1, Mode::Baseline},
    {"grid25", "25 x 360p grid", 25, 1, Mode::Grid},
    {"page25", "25 x 360p live page", 25, 1, Mode::Page},
};

// --only auto (cameras of 1080p main and 360p sub streams). The first is
// the baseline of the ratios the summary prints.
const CaseSetup kAutoCases[] = {
    {"automain", "16 x 1080p main baseline", 16, 0, Mode::Baseline},
    {"autosub", "16 x 360p sub decode-only", 16, 1, Mode::Baseline},
    {"auto16", "16 auto live page", 16, 0, Mode::Page, true},
    {"auto25", "25 auto, 16 shown", 25, 0, Mode::Page, true, 16},
};

// A window of a 4 x 4 wall maximised by a double-click and restored by a
// second, `count` times: milliseconds from the maximising click to the
// first picture of the main stream painted in it, and the paints of that
// window that showed no picture (its idle look or nothing) meanwhile.
class BlankPaints final : public QObject
{
public:
    explicit BlankPaints(QVideoPlay *play) : m_play(play) { play->surface()->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (m_play->painting() || m_play->surface()->currentImage().isNull())
                ++blank;
        }
        return false;
    }
    int paints = 0;
    int blank = 0;

private:
    QVideoPlay *m_play;
};

void doubleClick(QWidget *grid, QPoint at)
{
    QMouseEvent press(QEvent::MouseButtonDblClick, QPointF(at), grid->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &press);
}

QString maximiseTimes(World &w, int count, QString *problem)
{
    realvideo page;
    page.resize(kWallWidth, kWallHeight);
    page.show();
    page.setFullScreen(true);
    page.btnCount16Clicked();
    page.videoOnly()->setAutoStream(true);
    runFor(300);
    for (int i = 0; i < 16; ++i)
        page.StartStream(p2pDevice(i, 0), true);
    const QString key = deviceId(5);
    if (!runUntil([&] { return page.streamStats(key).pictureWidth == 640; }, 20000)) {
        *problem = QStringLiteral("the wall's window did not show the sub stream");
        return QString();
    }
    LiveWinInfo win{};
    page.windowInfo(key, &win);
    QVideoOnly *grid = page.videoOnly();
    QVideoPlay *play = grid->videoWin(win.winIndex)->play();
    BlankPaints blank(play);
    std::vector<double> ms;
    for (int k = 0; k < count && problem->isEmpty(); ++k) {
        runFor(int(w.options.warmup * 1000) / 2 + 500);
        const uint64_t painted = play->surface()->newPicturesPainted();
        QElapsedTimer t;
        t.start();
        doubleClick(grid, grid->videoWin(win.winIndex)->geometry().center());
        if (!runUntil([&] { return page.streamStats(key).pictureWidth == 1920
                                   && play->surface()->newPicturesPainted() > painted; }, 15000)) {
            *problem = QStringLiteral("no main-stream picture within 15 s of the maximising click");
            break;
        }
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        runFor(500);
        doubleClick(grid, grid->videoWin(win.winIndex)->geometry().center());
        if (!runUntil([&] { return page.streamStats(key).pictureWidth == 640; }, 15000))
            *problem = QStringLiteral("no sub-stream picture within 15 s of the restoring click");
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    QStringList parts;
    for (double x : ms)
        parts << QString::number(x, 'f', 0);
    return QStringLiteral("p50=%1 p95=%2 each=%3 paints=%4 blank=%5")
        .arg(test::percentile(sorted, 0.50), 0, 'f', 0)
        .arg(test::percentile(sorted, 0.95), 0, 'f', 0)
        .arg(parts.join(QLatin1Char(',')))
        .arg(blank.paints)
        .arg(blank.blank);
}

// The child: one case (or the first-picture measurements) in a process of
// its own, so that memory and CPU figures belong to that case alone.
int runChild(const Options &o, int argc, char **argv)
{
    QApplication app(argc, argv);
    World w;
    w.options = o;
    w.simPid = o.pids[0];
    w.brokerPid = o.pids[1];
    w.xPid = o.pids[2];
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    info.version = P2P_INIT_VERSION;
    std::strcpy(info.account, "varno-bench");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    if (P2P_Client_SDK_Init(&info, "127.0.0.1", "log", &w.handle) != 0
        || P2P_Client_SDK_Register(w.handle, 0, 0) != 0) {
        std::printf("RESULT ok=0 problem=P2P_library_init_or_register_failed\n");
        return 1;
    }
    setP2pHandle(w.handle);
    live::VideoSurface::setPaintProbe([](const live::VideoSurface *s, int64_t arrivalUs, int64_t paintUs) {
        g_probe.firstPaintUs.emplace(s, paintUs);
        if (g_probe.measuring && arrivalUs > 0)
            g_probe.latencyMs.push_back(double(paintUs - arrivalUs) / 1000.0);
    });
    if (o.child == QLatin1String("first")) {
        // Camera 24 has no session in this process yet; then again with its
        // session up.
        // Cameras 17 .. 24 have no session in this process yet: each is
        // opened once without one ("cold"), then again with it up ("warm").
        QString problem;
        auto list = [](const std::vector<double> &v) {
            QStringList parts;
            for (double x : v)
                parts << QString::number(x, 'f', 0);
            return parts.join(QLatin1Char(','));
        };
        std::vector<double> gridCold, gridWarm, pageCold, pageWarm, onvif;
        for (int cam = 17; cam <= 19; ++cam)
            gridCold.push_back(firstPictureMs(w, cam, &problem));
        for (int cam = 17; cam <= 19; ++cam)
            gridWarm.push_back(firstPictureMs(w, cam, &problem));
        {
            realvideo page;
            page.resize(kWallWidth, kWallHeight);
            page.show();
            runFor(300);
            for (int cam = 20; cam <= 24; ++cam)
                pageCold.push_back(pageFirstPictureMs(page, p2pDevice(cam, 0), nullptr, &problem));
            for (int cam = 20; cam <= 24; ++cam)
                pageWarm.push_back(pageFirstPictureMs(page, p2pDevice(cam, 0), nullptr, &problem));
            if (!o.onvifService.isEmpty()) {
                const QByteArray service = o.onvifService.toLatin1();
                DevConfig_s config{};
                SDK_DVRMGR_SetOnvifCredentials(service.constData(), "admin");
                const int rc = SDK_DVRMGR_GetDevConfig(service.constData(), &config);
                if (rc != 0) {
                    problem = QStringLiteral("ONVIF camera configuration not read (%1)").arg(rc);
                } else {
                    DeviceInfo_s dev;
                    std::memset(&dev, 0, sizeof dev);
                    setText(dev.devId, o.onvifUuid.toLatin1());
                    setText(dev.devName, QByteArray("Hall"));
                    setText(dev.serviceAddr, service);
                    setText(dev.password, QByteArray("admin"));
                    OnvifAccessInfo_s access;
                    std::memset(&access, 0, sizeof access);
                    setText(access.devId, o.onvifUuid.toLatin1());
                    setText(access.configText3, QByteArray(config.eventAddr, int(::strnlen(config.eventAddr, 64))));
                    setText(access.mainToken, QByteArray(config.mainToken));
                    access.rtspPort = 554;
                    setText(access.serviceAddr, service);
                    for (int k = 0; k < 5; ++k)
                        onvif.push_back(pageFirstPictureMs(page, dev, &access, &problem));
                }
            }
        }
        std::printf("FIRST gridcold=%s gridwarm=%s pagecold=%s pagewarm=%s onvif=%s problem=%s\n",
                    qPrintable(list(gridCold)), qPrintable(list(gridWarm)), qPrintable(list(pageCold)),
                    qPrintable(list(pageWarm)), qPrintable(list(onvif)),
                    qPrintable(problem.replace(QLatin1Char(' '), QLatin1Char('_'))));
    } else if (o.child == QLatin1String("automax")) {
        QString problem;
        const QString times = maximiseTimes(w, 10, &problem);
        std::printf("MAXIMISE %s problem=%s\n", qPrintable(times),
                    qPrintable(problem.replace(QLatin1Char(' '), QLatin1Char('_'))));
    } else {
        std::vector<CaseSetup> all(std::begin(kCases), std::end(kCases));
        all.insert(all.end(), std::begin(kAutoCases), std::end(kAutoCases));
        for (const CaseSetup &c : all) {
            if (o.child != QLatin1String(c.id))
                continue;
            const CaseResult r = runCase(w, QString::fromLatin1(c.title), c.windows, c.stream, c.mode, c.autoChoice,
                                         c.shown);
            std::printf("%s\n", qPrintable(resultLine(r)));
        }
    }
    std::fflush(stdout);
    live::VideoSurface::setPaintProbe(nullptr);
    setP2pHandle(0);
    P2P_Client_SDK_UnRegister(w.handle);
    P2P_Client_SDK_UnInit(w.handle);
    return 0;
}

// Runs this program again for one case; returns its standard output.
QByteArray runChildProcess(const Options &o, const char *caseId, const qint64 pids[3])
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--child"), QString::fromLatin1(caseId), QStringLiteral("--seconds"),
             QString::number(o.seconds), QStringLiteral("--warmup"), QString::number(o.warmup),
             QStringLiteral("--pids"), QStringLiteral("%1,%2,%3").arg(pids[0]).arg(pids[1]).arg(pids[2]),
             QStringLiteral("--onvif"), o.onvifUuid.isEmpty() ? QStringLiteral("-") : o.onvifUuid,
             o.onvifService.isEmpty() ? QStringLiteral("-") : o.onvifService, QStringLiteral("--screenshot"),
             o.screenshotDir.isEmpty() ? QStringLiteral("-") : o.screenshotDir});
    if (!p.waitForStarted(10000))
        return QByteArray();
    const int limitMs = int((o.seconds + o.warmup) * 1000) + 120000;
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return p.readAllStandardOutput();
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--seconds" && more)
            o.seconds = std::atof(argv[++i]);
        else if (a == "--warmup" && more)
            o.warmup = std::atof(argv[++i]);
        else if (a == "--offscreen")
            o.offscreen = true;
        else if (a == "--hd-kbps" && more)
            o.hdKbps = std::atoi(argv[++i]);
        else if (a == "--sd-kbps" && more)
            o.sdKbps = std::atoi(argv[++i]);
        else if (a == "--rounds" && more)
            o.rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--noise" && more)
            o.noise = std::atoi(argv[++i]);
        else if (a == "--only" && more && QByteArray(argv[i + 1]) == "auto") {
            o.autoCases = true;
            ++i;
        } else if (a == "--only" && more)
            o.only = std::atoi(argv[++i]);
        else if (a == "--screenshot" && more)
            o.screenshotDir = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--child" && more)
            o.child = QString::fromLatin1(argv[++i]);
        else if (a == "--onvif" && i + 2 < argc) {
            o.onvifUuid = QString::fromLatin1(argv[++i]);
            o.onvifService = QString::fromLatin1(argv[++i]);
        } else if (a == "--pids" && more) {
            const QList<QByteArray> parts = QByteArray(argv[++i]).split(',');
            for (int k = 0; k < 3 && k < parts.size(); ++k)
                o.pids[k] = parts[k].toLongLong();
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--warmup S] [--offscreen] [--hd-kbps N] "
                                 "[--sd-kbps N] [--noise 0..32] [--only 16|25|auto] [--rounds N] "
                                 "[--screenshot DIR]\n", argv[0]);
            return 2;
        }
    }
    if (o.onvifUuid == QLatin1String("-"))
        o.onvifUuid.clear();
    if (o.onvifService == QLatin1String("-"))
        o.onvifService.clear();
    if (o.screenshotDir == QLatin1String("-"))
        o.screenshotDir.clear();
    if (!o.child.isEmpty())
        return runChild(o, argc, argv);

    // A private home for this run and its children: the P2P configuration,
    // the logs and the simulator's storage go there.
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    qputenv("VARNO_TEST_TMP", tmp.path().toUtf8());
    qputenv("XDG_DATA_HOME", (tmp.path() + QStringLiteral("/data")).toUtf8());
    if (qEnvironmentVariableIsEmpty("VARNO_BUILD_DIR"))
        qputenv("VARNO_BUILD_DIR", VARNO_BENCH_BUILD_DIR);

    std::unique_ptr<QProcess> xvfb;
    if (o.offscreen) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        int display = 0;
        xvfb = startXvfb(&display);
        if (!xvfb) {
            std::fprintf(stderr, "cannot start Xvfb (use --offscreen)\n");
            return 1;
        }
        qputenv("DISPLAY", QByteArray(":") + QByteArray::number(display));
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QCoreApplication app(argc, argv);

    test::MqttBroker broker;
    if (!broker.start() || !broker.writeClientConfig()) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }
    std::printf("starting the simulator: %d P2P cameras, %s @ 25 (%d kbit/s) and 640x360 @ 25 (%d kbit/s), "
                "grain %d, 2 s loops encoded once...\n",
                kCameras, o.autoCases ? "1920x1080" : "1280x720", o.hdKbps, o.sdKbps, o.noise);
    std::fflush(stdout);
    test::CamSimProcess sim;
    if (!sim.start(simulatorConfig(broker.port(), tmp.path() + QStringLiteral("/storage"), o), 300000)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.error()));
        return 1;
    }
    // "OK discovery 127.0.0.1:<port> <uuid> <service address>"
    const QStringList onvif = sim.command(QStringLiteral("onvif list")).split(QLatin1Char(' '));
    if (onvif.size() >= 5) {
        o.onvifUuid = onvif[3];
        o.onvifService = onvif[4];
    } else {
        std::printf("the simulator lists no ONVIF camera: %s\n", qPrintable(onvif.join(QLatin1Char(' '))));
    }
    const qint64 pids[3] = {sim.processId(), broker.processId(), xvfb ? xvfb->processId() : 0};
    const QString platform = o.offscreen ? QStringLiteral("offscreen") : QStringLiteral("xcb on Xvfb");
    std::printf("\nbench_livewall: client painting through %s, wall %dx%d, %d cores, load before: %s\n",
                qPrintable(platform), kWallWidth, kWallHeight, QThread::idealThreadCount(),
                qPrintable(loadAverage()));
    std::fflush(stdout);

    const QByteArray first = o.autoCases ? QByteArray() : runChildProcess(o, "first", pids);
    // Rounds: every case once per round, in the same order, so that a
    // spell of load from elsewhere on the machine shows as a spread between
    // rounds instead of hiding in one figure.
    std::vector<std::vector<CaseResult>> rounds;
    for (int round = 0; round < o.rounds; ++round) {
        std::vector<CaseResult> results;
        std::vector<CaseSetup> cases(std::begin(kCases), std::end(kCases));
        if (o.autoCases)
            cases.assign(std::begin(kAutoCases), std::end(kAutoCases));
        for (const CaseSetup &c : cases) {
            if ((o.only != 0 && o.only != c.windows))
                continue;
            CaseResult r;
            if (!parseResult(runChildProcess(o, c.id, pids), &r)) {
                r.ok = false;
                r.problem = QStringLiteral("the case's process gave no result");
            }
            r.name = QString::fromLatin1(c.title);
            results.push_back(r);
        }
        rounds.push_back(results);
    }

    std::printf("\nmeasured %.0f s per case after %.0f s warm-up, each case in a process of its own, %d round(s); "
                "load after: %s\n",
                o.seconds, o.warmup, o.rounds, qPrintable(loadAverage()));
    std::map<QString, std::vector<double>> ratios;
    std::vector<QString> order;
    for (size_t round = 0; round < rounds.size(); ++round) {
        std::printf("\nround %zu\n", round + 1);
        std::printf("%-26s %-20s | %-20s | %-12s | %-8s | %-23s | %-17s | %s\n", "case", "decoded/s min avg max",
                    "shown/s min avg max", "CPU    (UI)", "RSS KiB", "latency ms p50 p99 (n)", "sim broker X CPU",
                    "dropped");
        for (const CaseResult &c : rounds[round])
            printCase(c);
        const CaseResult *baseline = nullptr;
        for (const CaseResult &c : rounds[round]) {
            if (c.name.endsWith(QLatin1String("baseline"))) {
                baseline = c.ok ? &c : nullptr;
                continue;
            }
            if (baseline && c.ok && baseline->cpuS > 0) {
                const double ratio = (c.cpuS / c.wallS) / (baseline->cpuS / baseline->wallS);
                std::printf("CPU ratio %s / baseline: %.3f (%.3f against %.3f cores)\n", qPrintable(c.name), ratio,
                            c.cpuS / c.wallS, baseline->cpuS / baseline->wallS);
                if (!ratios.count(c.name))
                    order.push_back(c.name);
                ratios[c.name].push_back(ratio);
            }
        }
    }
    std::printf("\n(CPU: cores used by the client process over the interval, in brackets its user-interface "
                "thread's share; RSS: resident memory added per "
                "stream; latency: frame arrival in the frame callback to the paint showing its picture)\n");
    if (rounds.size() > 1) {
        for (const QString &name : order) {
            std::vector<double> v = ratios[name];
            std::sort(v.begin(), v.end());
            const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
            std::printf("CPU ratio %s / baseline over %zu rounds: median %.3f (min %.3f, max %.3f)\n",
                        qPrintable(name), v.size(), median, v.front(), v.back());
        }
    }
    if (o.autoCases) {
        // The choice by window size: the wall against decoding its main and
        // its sub streams alone, and 25 cameras (9 not shown) against 16.
        auto cpuOf = [](const std::vector<CaseResult> &round, const char *title) {
            for (const CaseResult &c : round)
                if (c.ok && c.name == QLatin1String(title) && c.wallS > 0)
                    return c.cpuS / c.wallS;
            return 0.0;
        };
        struct Pair
        {
            const char *label;
            const char *over;
            const char *under;
            std::vector<double> values;
        };
        Pair pairs[] = {{"auto / sub decode-only", "16 auto live page", "16 x 360p sub decode-only", {}},
                        {"25 cameras, 16 shown / 16 cameras", "25 auto, 16 shown", "16 auto live page", {}},
                        {"auto / main decode-only", "16 auto live page", "16 x 1080p main baseline", {}}};
        for (Pair &pair : pairs) {
            for (const auto &round : rounds) {
                const double over = cpuOf(round, pair.over), under = cpuOf(round, pair.under);
                if (over > 0 && under > 0)
                    pair.values.push_back(over / under);
            }
        }
        const QByteArray maximise = runChildProcess(o, "automax", pids);
        for (const QByteArray &line : maximise.split('\n'))
            if (line.startsWith("MAXIMISE "))
                std::printf("window maximised in a 4 x 4 wall, click to the first main-stream picture painted, ms "
                            "(10 times; paints of the window without a picture meanwhile): %s\n",
                            line.mid(9).constData());
        for (Pair &pair : pairs) {
            std::vector<double> &v = pair.values;
            if (v.empty()) {
                std::printf("CPU ratio %s: no result\n", pair.label);
                continue;
            }
            std::sort(v.begin(), v.end());
            const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
            if (v.size() > 1)
                std::printf("CPU ratio %s: %.3f (median of %zu rounds, min %.3f, max %.3f)\n", pair.label, median,
                            v.size(), v.front(), v.back());
            else
                std::printf("CPU ratio %s: %.3f\n", pair.label, median);
        }
    }
    for (const QByteArray &line : first.split('\n')) {
        if (!line.startsWith("FIRST "))
            continue;
        std::map<QByteArray, QByteArray> kv;
        for (const QByteArray &part : line.mid(6).split(' ')) {
            const int eq = part.indexOf('=');
            if (eq > 0)
                kv[part.left(eq)] = part.mid(eq + 1);
        }
        std::printf("double-click to first picture painted, ms (each open in turn):\n");
        std::printf("  P2P camera, live page (realvideo::StartStream), no session yet: %s\n",
                    kv["pagecold"].constData());
        std::printf("  P2P camera, live page, session up:                             %s\n",
                    kv["pagewarm"].constData());
        std::printf("  ONVIF camera (RTSP 640x360), live page, 5 opens:               %s\n",
                    kv["onvif"].constData());
        std::printf("  P2P camera, the harness's own grid, no session yet:            %s\n",
                    kv["gridcold"].constData());
        std::printf("  P2P camera, the harness's own grid, session up:                %s\n",
                    kv["gridwarm"].constData());
        if (!kv["problem"].isEmpty())
            std::printf("first picture problem: %s\n", kv["problem"].constData());
    }

    sim.stop();
    broker.stop();
    if (xvfb) {
        xvfb->terminate();
        if (!xvfb->waitForFinished(5000))
            xvfb->kill();
    }
    return 0;
}
