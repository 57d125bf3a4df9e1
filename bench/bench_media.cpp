// Media benchmarks, figures printed as ratios against baselines of the same run:
//  1. decode + convert + display of a 720p25 and a 1080p25 H.264 stream through
//     CLiveStream onto a video surface: CPU seconds per stream-minute, against
//     `ffmpeg -benchmark` decoding the same file without output;
//  2. the 16.16 table conversion against libswscale YUV420P -> BGR24;
//  3. RTSP (pictures in one and in four slices): time to the first picture,
//     the delay from the server's push to the library's callback and to the
//     picture out of the live decoder fed from that callback.
// Usage: bench_media [seconds of video, default 20] [rounds, default 1: with
// more, the stream figures alone, each round in turn, and their medians]
//        bench_media gl [seconds] [rounds]: full-size pictures on the X display
// ($DISPLAY) by the CPU path and, where the process shows video by OpenGL
// (VARNO_VIDEO_GL=1 forces it), by OpenGL, against ffmpeg -threads 1.
#include "live/videoglview.h"
#include "live/videosurface.h"
#include "live/clivestream.h"
#include "platform/av/av_decoder.h"
#include "platform/av/yuvrgb.h"
#ifdef VARNO_BENCH_RTSP
#include "platform/rtsp/rtsp_client.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/rtspserver/rtsptestserver.h"
#include "tests/support/testenv.h"
#endif

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double nowSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A camera-like stream: moving content, libx264 "veryfast", zero latency,
// 2 s between IDR pictures.
std::vector<std::vector<uint8_t>> encode(int w, int h, int frames)
{
    std::vector<std::vector<uint8_t>> out;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext *c = avcodec_alloc_context3(codec);
    c->width = w;
    c->height = h;
    c->time_base = {1, 25};
    c->framerate = {25, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = 50;
    c->max_b_frames = 0;
    c->bit_rate = w >= 1920 ? 4000000 : 2000000;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(c, codec, nullptr) < 0)
        return out;
    AVFrame *f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    av_frame_get_buffer(f, 0);
    AVPacket *p = av_packet_alloc();
    for (int i = 0; i <= frames; ++i) {
        if (i < frames) {
            av_frame_make_writable(f);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    f->data[0][y * f->linesize[0] + x] = uint8_t((x + 3 * i) ^ (y + 2 * i) ^ ((x * y) >> 7));
            for (int y = 0; y < h / 2; ++y)
                for (int x = 0; x < w / 2; ++x) {
                    f->data[1][y * f->linesize[1] + x] = uint8_t(128 + ((x + i) & 63) - 32);
                    f->data[2][y * f->linesize[2] + x] = uint8_t(128 + ((y - i) & 63) - 32);
                }
            f->pts = i;
            avcodec_send_frame(c, f);
        } else {
            avcodec_send_frame(c, nullptr);
        }
        while (avcodec_receive_packet(c, p) == 0) {
            out.emplace_back(p->data, p->data + p->size);
            av_packet_unref(p);
        }
    }
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return out;
}

// The frames as one Annex B file for ffmpeg: its size in bytes, or -1 when
// it could not be written.
qint64 writeStream(const QString &file, const std::vector<std::vector<uint8_t>> &frames)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return -1;
    for (const auto &fr : frames)
        if (f.write(reinterpret_cast<const char *>(fr.data()), qint64(fr.size())) != qint64(fr.size()))
            return -1;
    return f.size();
}

// ffmpeg -benchmark: utime + stime of decoding the file without output.
double ffmpegCpu(const QString &file, bool oneThread)
{
    QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-benchmark")};
    if (oneThread)
        args << QStringLiteral("-threads") << QStringLiteral("1");
    args << QStringLiteral("-i") << file << QStringLiteral("-f") << QStringLiteral("null") << QStringLiteral("-");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), args);
    p.waitForFinished(-1);
    const QString out = QString::fromUtf8(p.readAll());
    const auto m = QRegularExpression(QStringLiteral("utime=([0-9.]+)s stime=([0-9.]+)s")).match(out);
    return m.hasMatch() ? m.captured(1).toDouble() + m.captured(2).toDouble() : -1;
}

double decodeOnlyCpu(const std::vector<std::vector<uint8_t>> &frames)
{
    AV_HANDLE d = nullptr;
    AV_CreateDecoder(0, 1, nullptr, &d);
    const double t0 = cpuSeconds();
    for (const auto &f : frames) {
        AV_FRAME_OUT_S out{};
        int r = AV_FrameDecoderStream(d, f.data(), int(f.size()), 2, nullptr, 0, &out);
        while (r == 0)
            r = AV_FrameDecoderStream(d, nullptr, 0, 2, nullptr, 0, &out);
    }
    const double cpu = cpuSeconds() - t0;
    AV_CloseDecoder(d);
    return cpu;
}

// CLiveStream onto a shown surface of the given size, frames fed as fast as
// the decoder takes them (never more than 10 queued, so nothing is dropped).
double liveCpu(const std::vector<std::vector<uint8_t>> &frames, QSize window, uint64_t *pictures, int *painted,
               bool gl = false, uint64_t *glPaints = nullptr)
{
    varno::live::VideoSurface w;
    w.setOpenGLAllowed(gl);
    w.resize(window);
    w.setPainting(false);
    w.show();
    QCoreApplication::processEvents();
    const int audio[4] = {102, 1, 16, 8000};
    const double t0 = cpuSeconds();
    {
        CLiveStream s(w.nativeHandle(), 1, audio);
        for (const auto &f : frames) {
            while (s.queuedFrames() >= 10) {
                QCoreApplication::processEvents();
                QThread::usleep(500);
            }
            s.SetCurrentFrame(reinterpret_cast<const char *>(f.data()), int(f.size()), 0, 0, 0);
            QCoreApplication::processEvents();
        }
        while (s.queuedFrames() > 0 || s.decodedPictures() < frames.size()) {
            QCoreApplication::processEvents();
            QThread::usleep(500);
            if (s.queuedFrames() == 0 && s.decodedPictures() + 1 >= frames.size())
                break;
        }
        QCoreApplication::processEvents();
        *pictures = s.decodedPictures();
    }
    *painted = w.paintedPictures();
    if (glPaints)
        *glPaints = w.paintsByOpenGL();
    return cpuSeconds() - t0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void streamBench(int w, int h, int seconds, int rounds)
{
    const int n = seconds * 25;
    const auto frames = encode(w, h, n);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("s.h264"));
    const qint64 bytes = writeStream(file, frames);
    if (bytes < 0) {
        std::fprintf(stderr, "bench_media: cannot write %s\n", qPrintable(file));
        std::exit(1);
    }
    const double perMinute = 60.0 / seconds;
    std::vector<double> fullToFf, halfToFf, fullToDec, halfToDec;
    for (int round = 1; round <= rounds; ++round) {
        const double ff1 = ffmpegCpu(file, true);
        const double ffN = ffmpegCpu(file, false);
        const double dec = decodeOnlyCpu(frames);
        uint64_t pictures = 0;
        int painted = 0;
        const double live = liveCpu(frames, QSize(w, h), &pictures, &painted);
        uint64_t picturesQ = 0;
        int paintedQ = 0;
        const double liveQuarter = liveCpu(frames, QSize(w / 2, h / 2), &picturesQ, &paintedQ);
        fullToFf.push_back(live / ff1);
        halfToFf.push_back(liveQuarter / ff1);
        fullToDec.push_back(live / dec);
        halfToDec.push_back(liveQuarter / dec);
        std::printf("\n%dx%d25, %d s (%zu frames, %.1f MB), round %d of %d:\n", w, h, seconds, frames.size(),
                    double(bytes) / 1e6, round, rounds);
        std::printf("  ffmpeg -benchmark -threads 1  : %6.2f CPU s per stream-minute\n", ff1 * perMinute);
        std::printf("  ffmpeg -benchmark (auto thr.) : %6.2f CPU s per stream-minute\n", ffN * perMinute);
        std::printf("  AV_FrameDecoderStream only    : %6.2f CPU s per stream-minute (ratio %.2f to ffmpeg 1 thread)\n",
                    dec * perMinute, dec / ff1);
        std::printf("  CLiveStream + surface %4dx%-4d: %6.2f CPU s per stream-minute, %llu pictures, %d painted\n", w, h,
                    live * perMinute, static_cast<unsigned long long>(pictures), painted);
        std::printf("      ratio to ffmpeg -threads 1: %.2f   ratio to ffmpeg auto threads: %.2f   (target <= 1.15)\n",
                    live / ff1, live / ffN);
        std::printf("  CLiveStream + surface %4dx%-4d: %6.2f CPU s per stream-minute (ratio %.2f / %.2f)\n", w / 2, h / 2,
                    liveQuarter * perMinute, liveQuarter / ff1, liveQuarter / ffN);
    }
    std::printf("%dx%d over %d round(s), medians: full size / ffmpeg -threads 1 %.3f, half size %.3f; "
                "full size / AV_FrameDecoderStream only %.3f, half size %.3f\n",
                w, h, rounds, median(fullToFf), median(halfToFf), median(fullToDec), median(halfToDec));
}

// Full size on a real display: the CPU path (converted into the backing
// store, MIT-SHM on X11) and the OpenGL path, each against ffmpeg -threads 1.
void displayBench(int w, int h, int seconds, int rounds, bool gl)
{
    const auto frames = encode(w, h, seconds * 25);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("s.h264"));
    if (writeStream(file, frames) < 0) {
        std::fprintf(stderr, "bench_media: cannot write %s\n", qPrintable(file));
        std::exit(1);
    }
    std::vector<double> cpuToFf, glToFf, glToCpu;
    for (int round = 1; round <= rounds; ++round) {
        const double ff1 = ffmpegCpu(file, true);
        uint64_t pictures = 0, glPaints = 0;
        int painted = 0;
        const double cpu = liveCpu(frames, QSize(w, h), &pictures, &painted);
        std::printf("%dx%d round %d: ffmpeg -threads 1 %.2f CPU s; CPU path %.2f CPU s (%llu pictures, %d painted), "
                    "ratio %.3f\n",
                    w, h, round, ff1, cpu, static_cast<unsigned long long>(pictures), painted, cpu / ff1);
        cpuToFf.push_back(cpu / ff1);
        if (!gl)
            continue;
        const double byGl = liveCpu(frames, QSize(w, h), &pictures, &painted, true, &glPaints);
        std::printf("%dx%d round %d: OpenGL path %.2f CPU s (%llu pictures, %d painted, %llu by OpenGL), ratio %.3f, "
                    "OpenGL / CPU path %.3f\n",
                    w, h, round, byGl, static_cast<unsigned long long>(pictures), painted,
                    static_cast<unsigned long long>(glPaints), byGl / ff1, byGl / cpu);
        glToFf.push_back(byGl / ff1);
        glToCpu.push_back(byGl / cpu);
    }
    std::printf("%dx%d full size on the display over %d round(s), medians: CPU path / ffmpeg -threads 1 %.3f", w, h,
                rounds, median(cpuToFf));
    if (gl)
        std::printf(", OpenGL path / ffmpeg -threads 1 %.3f, OpenGL / CPU path %.3f", median(glToFf), median(glToCpu));
    std::printf("\n");
}

void conversionBench(int w, int h)
{
    std::vector<uint8_t> y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = uint8_t(i * 7);
    for (size_t i = 0; i < u.size(); ++i) {
        u[i] = uint8_t(i * 3);
        v[i] = uint8_t(i * 5);
    }
    std::vector<uint8_t> out(size_t(w) * h * 3);
    varno::av::YuvToBgrTables tables;
    const int reps = 60;
    double t0 = nowSeconds();
    for (int i = 0; i < reps; ++i)
        tables.convertBottomUp(y.data(), w, u.data(), w / 2, v.data(), w / 2, w, h, out.data());
    const double ours = (nowSeconds() - t0) / reps;
    SwsContext *sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t *src[4] = {y.data(), u.data(), v.data(), nullptr};
    const int srcStride[4] = {w, w / 2, w / 2, 0};
    uint8_t *dst[4] = {out.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {w * 3, 0, 0, 0};
    t0 = nowSeconds();
    for (int i = 0; i < reps; ++i)
        sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    const double theirs = (nowSeconds() - t0) / reps;
    sws_freeContext(sws);
    std::printf("  %4dx%-4d: 16.16 tables %.2f ms, libswscale YUV420P->BGR24 %.2f ms per picture (ratio %.2f)\n", w, h,
                ours * 1e3, theirs * 1e3, ours / theirs);
}

#ifdef VARNO_BENCH_RTSP
// What the RTSP callback sees, and the live decoder fed from it.
struct RtspProbe
{
    std::mutex mutex;
    double firstVideo = 0;   // first unit of any kind (parameter sets)
    double firstSlice = 0;   // first unit of the first key picture
    double firstPicture = 0; // first picture out of the decoder
    std::vector<double> delaysMs;  // push to the callback of a picture's last slice
    std::vector<double> pictureMs; // push to the decoded picture
    std::map<QByteArray, std::vector<std::pair<size_t, int>>> sliceToFrame; // slice -> pictures of the loop, slice number
    std::vector<int> slicesOf;                                 // slices of each picture of the loop
    std::deque<size_t> fed; // pictures whose slices went to the decoder and that did not come out yet
    size_t lastFed = SIZE_MAX;
    bool keySeen = false;
    AV_HANDLE decoder = nullptr;
    varno::test::RtspTestServer *server = nullptr;
};

double steadyUs()
{
    return double(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch()).count());
}

int rtspCallback(int32_t, const char *, const int32_t *info, int32_t type, const char *data, int32_t size, void *user)
{
    auto *p = static_cast<RtspProbe *>(user);
    const double now = nowSeconds();
    std::lock_guard lock(p->mutex);
    if (type != 0)
        return 0;
    if (p->firstVideo == 0)
        p->firstVideo = now;
    if (info[0] == 5 && !p->keySeen) {
        p->keySeen = true;
        p->firstSlice = now;
    }
    if (p->keySeen && (info[0] == 1 || info[0] == 5)) {
        // Slices of still areas repeat in the loop: of the pictures that hold
        // this slice, the one pushed last is the one on its way.
        auto it = p->sliceToFrame.find(QByteArray(data, std::min(size, 256)));
        if (it != p->sliceToFrame.end()) {
            std::pair<size_t, int> at = it->second.front();
            int64_t pushed = 0;
            for (const auto &c : it->second) {
                const int64_t t = p->server->lastPushUs(c.first);
                if (t > pushed) {
                    pushed = t;
                    at = c;
                }
            }
            const size_t k = at.first;
            if (k != p->lastFed) {
                p->fed.push_back(k);
                p->lastFed = k;
            }
            if (pushed > 0 && at.second == p->slicesOf[k] - 1)
                p->delaysMs.push_back((steadyUs() - double(pushed)) / 1000.0);
        }
    }
    // The live decoder as the client runs it: one unit per call.
    AV_FRAME_OUT_S out{};
    int r = AV_FrameDecoderStream(p->decoder, reinterpret_cast<const uint8_t *>(data), size, AV_FRAME_VIDEO, nullptr, 0, &out);
    while (r == 0) {
        if (p->firstPicture == 0)
            p->firstPicture = nowSeconds();
        // Pictures come out in order; a key picture is the key picture fed first.
        while (out.keyFrame && !p->fed.empty() && !p->server->frames()[p->fed.front()].key)
            p->fed.pop_front();
        if (!p->fed.empty()) {
            const int64_t pushed = p->server->lastPushUs(p->fed.front());
            p->fed.pop_front();
            if (pushed > 0)
                p->pictureMs.push_back((steadyUs() - double(pushed)) / 1000.0);
        }
        r = AV_FrameDecoderStream(p->decoder, nullptr, 0, AV_FRAME_VIDEO, nullptr, 0, &out);
    }
    return 0;
}

void printDelays(const char *what, std::vector<double> d)
{
    std::sort(d.begin(), d.end());
    if (!d.empty())
        std::printf("  %s over %zu pictures: median %.2f ms, 95th %.2f ms, max %.2f ms\n", what, d.size(),
                    d[d.size() / 2], d[d.size() * 95 / 100], d.back());
}

void rtspBench(int slices)
{
    varno::test::RtspTestServer server;
    varno::test::RtspTestServer::Options o;
    o.video.width = 1280;
    o.video.height = 720;
    o.video.gop = 25;
    o.video.frames = 50;
    o.video.slices = slices;
    o.port = varno::test::freeLoopbackPort();
    if (!server.start(o)) {
        std::printf("RTSP server could not start\n");
        return;
    }
    RtspProbe probe;
    probe.server = &server;
    AV_CreateDecoder(0, AV_VIDEO_H264, nullptr, &probe.decoder);
    for (size_t k = 0; k < server.frames().size(); ++k) {
        int slice = 0;
        for (const auto &nal : varno::test::splitNals(server.frames()[k].data)) {
            const int t = nal[4] & 0x1f;
            if (t == 1 || t == 5)
                probe.sliceToFrame[QByteArray(reinterpret_cast<const char *>(nal.data()), int(std::min<size_t>(nal.size(), 256)))]
                    .emplace_back(k, slice++);
        }
        probe.slicesOf.push_back(slice);
    }
    RTSP_Stream_SDKInit();
    const double t0 = nowSeconds();
    int32_t h = 0;
    if (RTSP_OpenLiveSteam(server.url().c_str(), rtspCallback, &probe, &h) != 0) {
        std::printf("RTSP open failed\n");
        return;
    }
    const double opened = nowSeconds();
    RTSP_StartLiveSteam(h);
    const double started = nowSeconds();
    QThread::msleep(10000);
    RTSP_StopLiveSteam(h);
    RTSP_CloseLiveSteam(h, rtspCallback);
    server.stop();
    std::lock_guard lock(probe.mutex);
    AV_CloseDecoder(probe.decoder);
    auto since = [t0](double t) { return t > 0 ? (t - t0) * 1e3 : -1.0; };
    std::printf("\nRTSP 1280x720 25 fps, %d slice(s) per picture, over loopback TCP:\n", slices);
    std::printf("  open (DESCRIBE, SETUP) %.1f ms, start (PLAY) %.1f ms; after open began: first unit %.1f ms,\n"
                "  first key picture's first slice %.1f ms, first decoded picture %.1f ms\n",
                (opened - t0) * 1e3, (started - opened) * 1e3, since(probe.firstVideo), since(probe.firstSlice),
                since(probe.firstPicture));
    printDelays("push-to-callback (last slice)", probe.delaysMs);
    printDelays("push-to-decoded picture      ", probe.pictureMs);
    std::printf("  (includes the server's RTP packetising and the TCP loopback)\n");
}
#endif

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "gl") == 0) { // on the display, CPU and OpenGL paths
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::printf("bench_media gl needs an X display ($DISPLAY)\n");
            return 1;
        }
        QApplication app(argc, argv);
        const int seconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
        const int rounds = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 50) : 1;
        const bool gl = varno::live::videoByOpenGL();
        std::printf("Full-size pictures on %s (CPU = user + system time of all threads); OpenGL path: %s\n",
                    qgetenv("DISPLAY").constData(), gl ? "yes" : "no (see the log line above)");
        displayBench(1280, 720, seconds, rounds, gl);
        displayBench(1920, 1080, seconds, rounds, gl);
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef VARNO_BENCH_RTSP
    if (argc > 1 && std::strcmp(argv[1], "rtsp") == 0) { // the RTSP part only
        rtspBench(1);
        rtspBench(4);
        return 0;
    }
#endif
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 50) : 1;
    std::printf("Media benchmarks (CPU = user + system time of all threads)\n");
    streamBench(1280, 720, seconds, rounds);
    streamBench(1920, 1080, seconds, rounds);
    if (rounds > 1) // the stream figures alone
        return 0;
    std::printf("\nColour conversion for snapshots:\n");
    conversionBench(1280, 720);
    conversionBench(1920, 1080);
#ifdef VARNO_BENCH_RTSP
    rtspBench(1);
    rtspBench(4);
#endif
    return 0;
}
