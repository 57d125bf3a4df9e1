// Local recording playback with real sizes: a 1080p25 recording (H.264 at
// about 4 Mbit/s, 8 kHz sound) written through the recording file library,
// played by the local file engine into a registered window.
//
// Seek latency: from SeekTo() to the first picture the engine presents from
// the new place, against opening the same file fresh (StartPlay on a new
// engine to its first picture), both in this run.
//
// Playback CPU: process CPU while the engine plays the whole file at 1x into
// a 960x540 window (pictures scaled there, as the playback grid shows them)
// and into a hidden window (decode only), against `ffmpeg -threads 1`
// decoding the same file to the null muxer.
//
// Usage: bench_playback [--seconds N=20] [--seeks N=12]
#include "platform/av/av_decoder.h"
#include "platform/av/videosink.h"
#include "platform/recfile/record_local.h"
#include "playback/qlocalfileplay.h"
#include "tests/support/recmedia/testmedia.h"

#include "common/textfield.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double cpuOf(int who)
{
    rusage u {};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A window that counts what it is given and remembers when the picture
// after a mark arrived. Pictures are scaled into a real surface when the
// window has a size.
class ProbeSink final : public varno::av::VideoSink
{
public:
    explicit ProbeSink(QSize size)
    {
        m_surface.setTargetSize(size);
    }
    int present(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v, int vStride,
                int width, int height) override
    {
        const int ret = m_surface.present(y, yStride, u, uStride, v, vStride, width, height);
        const int64_t now = varno::av::steadyMicros();
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        if (m_armed && (!m_ready || m_ready(m_count))) {
            m_armed = false;
            m_hitUs = now;
            m_cv.notify_all();
        }
        return ret;
    }
    QSize targetSize() const override { return m_surface.targetSize(); }

    // The next picture for which ready(pictures so far) holds (any picture
    // when empty) is stamped; ready runs under the sink's lock.
    void arm(std::function<bool(uint64_t)> ready)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready = std::move(ready);
        m_armed = true;
        m_hitUs = 0;
    }
    // The stamp of that picture (0 when none came within the bound).
    int64_t waitHit(int boundMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return !m_armed; });
        return m_hitUs;
    }
    uint64_t count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    varno::av::FrameSurface m_surface;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<bool(uint64_t)> m_ready;
    bool m_armed = false;
    int64_t m_hitUs = 0;
    uint64_t m_count = 0;
};

const AV_DECODER_PARAM_S kParams{AV_AUDIO_PCM16, 1, 16, 8000};

// The recording as the recorder writes it: 1080p25 H.264 and 8 kHz PCM.
std::string writeRecording(const QString &folder, int seconds)
{
    const auto pictures = varno::test::encodeStream(
        {.width = 1920, .height = 1080, .frames = 250, .busy = true, .bitRate = 4000000});
    if (pictures.size() != 250)
        return {};
    QDir().mkpath(folder);
    RECORD_INFO_S info{};
    varno::setText(info.devId, QStringLiteral("B765432"));
    info.channel = 1;
    info.version = RECORD_INFO_VERSION;
    info.audioFormat = MEDIA_AUDIO_G711A;
    info.videoCodec = MEDIA_VIDEO_H264;
    info.frameRate = 25;
    info.width = 1920;
    info.height = 1080;
    info.sampleRate = 8000;
    info.bitsPerSample = 8;
    info.channels = 1;
    char path[RECORD_LOCAL_PATH_SIZE] = {};
    varno::setText(path, folder);
    RECORD_HANDLE h = 0;
    if (Record_local_MediaFileCreat(&info, path, &h, nullptr) != 0)
        return {};
    double phase = 0;
    for (int i = 0; i < seconds * 25; ++i) {
        // The pattern repeats every 250 pictures (ten closed groups).
        for (const auto &u : varno::test::splitNals(pictures[size_t(i) % pictures.size()].data))
            if (Record_local_MediaFileWrite(h, varno::test::recorderFrameType(varno::test::nalType(u, 1)),
                                            u.data(), uint32_t(u.size())) != 0)
                return {};
        const std::vector<int16_t> pcm = varno::test::tone(8000, 440, 320, &phase);
        Record_local_MediaFileWrite(h, MEDIA_FRAME_AUDIO, reinterpret_cast<const unsigned char *>(pcm.data()),
                                    uint32_t(pcm.size() * 2));
    }
    if (Record_local_MediaFileClose(h) != 0)
        return {};
    return path;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Window
{
    std::shared_ptr<ProbeSink> sink;
    int32_t handle = 0;
    explicit Window(QSize size) : sink(std::make_shared<ProbeSink>(size))
    {
        handle = varno::av::registerVideoSink(sink);
    }
    ~Window() { varno::av::unregisterVideoSink(handle); }
};

// Opening fresh: StartPlay on a new engine to its first picture, in ms.
double openLatencyMs(const std::string &path)
{
    Window window(QSize(960, 540));
    window.sink->arm({});
    qlocalfileplay engine;
    const int64_t t0 = varno::av::steadyMicros();
    if (engine.StartPlay(path.c_str(), AV_VIDEO_H264, &kParams, 25, window.handle) != 0)
        return -1;
    const int64_t hit = window.sink->waitHit(20000);
    engine.StopPlay(true);
    return hit ? (hit - t0) / 1000.0 : -1;
}

// Seeks in a playing engine to the first picture from the new place, in ms.
std::vector<double> seekLatenciesMs(const std::string &path, int seeks, int seconds)
{
    std::vector<double> out;
    Window window(QSize(960, 540));
    qlocalfileplay engine;
    window.sink->arm({});
    if (engine.StartPlay(path.c_str(), AV_VIDEO_H264, &kParams, 25, window.handle) != 0
        || !window.sink->waitHit(20000))
        return out;
    for (int i = 0; i < seeks; ++i) {
        // Back and forth over the whole file, on and between key pictures.
        const int second = (i * 7 + 3) % std::max(1, seconds - 1);
        const uint32_t done = engine.seeksDone();
        // A picture counts once the play thread has carried the seek out
        // (it presents on the same thread, after the seek).
        window.sink->arm([&engine, done](uint64_t) { return engine.seeksDone() > done; });
        const int64_t t0 = varno::av::steadyMicros();
        engine.SeekTo(second);
        const int64_t hit = window.sink->waitHit(20000);
        if (!hit)
            break;
        out.push_back((hit - t0) / 1000.0);
        // Let it play a little from there, as a user would.
        const uint64_t seen = window.sink->count();
        window.sink->arm([seen](uint64_t count) { return count >= seen + 5; });
        window.sink->waitHit(5000);
    }
    engine.StopPlay(true);
    return out;
}

// Plays the whole file at 1x; process CPU seconds spent.
double playCpu(const std::string &path, QSize size, uint64_t *pictures, double *wall)
{
    Window window(size);
    qlocalfileplay engine;
    const double c0 = cpuOf(RUSAGE_SELF), w0 = wallNow();
    if (engine.StartPlay(path.c_str(), AV_VIDEO_H264, &kParams, 25, window.handle) != 0)
        return -1;
    const uint32_t total = engine.totalFrames();
    while (engine.position() < total && wallNow() - w0 < 600)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    engine.StopPlay(true);
    *wall = wallNow() - w0;
    *pictures = window.sink->count();
    return cpuOf(RUSAGE_SELF) - c0;
}

double ffmpegDecodeCpu(const std::string &path, double *wall)
{
    const double c0 = cpuOf(RUSAGE_CHILDREN), w0 = wallNow();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-v", "error", "-nostdin", "-threads", "1", "-i", path.c_str(), "-f", "null", "-",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *wall = wallNow() - w0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return cpuOf(RUSAGE_CHILDREN) - c0;
}

} // namespace

int main(int argc, char **argv)
{
    // The decoder's sound output wants an application object.
    QCoreApplication app(argc, argv);
    int seconds = 20, seeks = 12;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(4, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--seeks"))
            seeks = std::max(1, std::atoi(argv[i + 1]));
    }
    av_log_set_level(AV_LOG_ERROR);
    QTemporaryDir tmp;
    Record_local_InitSdk();
    std::printf("writing a %d s 1920x1080 25 fps recording (H.264 4 Mbit/s, 8 kHz PCM) ...\n", seconds);
    std::fflush(stdout);
    const std::string path = writeRecording(tmp.path() + QStringLiteral("/rec"), seconds);
    if (path.empty()) {
        std::printf("could not write the recording\n");
        return 1;
    }
    std::printf("recording: %s, %.1f MB\n", path.c_str(), QFileInfo(QString::fromStdString(path)).size() / 1e6);

    // Seek latency against opening fresh.
    std::vector<double> opens;
    for (int i = 0; i < 5; ++i)
        opens.push_back(openLatencyMs(path));
    const std::vector<double> seekMs = seekLatenciesMs(path, seeks, seconds);
    const double openMedian = median(opens), seekMedian = median(seekMs);
    std::printf("seek latency (request to first picture from the new place), %zu seeks:\n", seekMs.size());
    std::printf("  seek:         median %.1f ms, worst %.1f ms\n", seekMedian,
                seekMs.empty() ? 0.0 : *std::max_element(seekMs.begin(), seekMs.end()));
    std::printf("  open fresh:   median %.1f ms, worst %.1f ms (baseline, 5 opens)\n", openMedian,
                *std::max_element(opens.begin(), opens.end()));
    std::printf("  ratio seek/open: %.2f\n", openMedian > 0 ? seekMedian / openMedian : 0.0);
    std::fflush(stdout);

    // Playback CPU against ffmpeg's single-threaded decode.
    uint64_t shown = 0, hiddenShown = 0;
    double wall = 0, hiddenWall = 0, ffWall = 0;
    const double ours = playCpu(path, QSize(960, 540), &shown, &wall);
    const double hidden = playCpu(path, QSize(), &hiddenShown, &hiddenWall);
    const double theirs = ffmpegDecodeCpu(path, &ffWall);
    std::printf("playback of %d s of 1080p25 (CPU seconds; %% of one core over the file's length):\n", seconds);
    std::printf("  engine, 960x540 window: %.2f s cpu (%.1f %%), %llu pictures, %.1f s wall\n", ours,
                100.0 * ours / seconds, static_cast<unsigned long long>(shown), wall);
    std::printf("  engine, hidden window:  %.2f s cpu (%.1f %%), %.1f s wall\n", hidden, 100.0 * hidden / seconds,
                hiddenWall);
    std::printf("  ffmpeg -threads 1 -f null (baseline): %.2f s cpu (%.1f %%), %.1f s wall\n", theirs,
                100.0 * theirs / seconds, ffWall);
    if (theirs > 0)
        std::printf("  ratio engine/ffmpeg: window %.2f, hidden %.2f\n", ours / theirs, hidden / theirs);
    // The runs end once the position reaches the picture count: the last
    // picture has just been shown, one interval before the file's end.
    std::printf("pace at 1x: %.2f s and %.2f s of wall for %d s of pictures (%.3f and %.3f of real time)\n", wall,
                hiddenWall, seconds, wall / seconds, hiddenWall / seconds);
    Record_local_UnInitSdk();
    return 0;
}
