// A recording by hand of a camera whose stream drops for 5 s every 60 s,
// over 10 simulated minutes: the recorder (real record thread, real
// recording files) and the keeper of its own stream run on a simulated
// clock that moves one frame interval (40 ms) per step; the keeper makes a
// pass every cycle of its own (80 ms). The camera's stream is simulated:
// while the camera is up, an open stream sends its pictures; while it is
// down, the stream is broken (the connection closes: the transport says so
// at once) and every open fails. Two kinds of camera: one whose new session
// begins with a key picture (a stream server that restarts with its
// encoder, as the simulator's, or a camera that starts each session with
// one), and one whose new session waits for the encoder's next key picture
// (one per second). Prints the recorded seconds against the seconds the
// camera was up (the baseline of the same run), the files, the longest gap
// between a return of the camera and its first recorded picture, and
// whether every file decodes without an error (ffmpeg -xerror), for the
// recording's back-off in use and, for comparison, the live view's (which
// the recorder used before).
#include "platform/recfile/record_local.h"
#include "record/qmediarealrecord.h"
#include "record/streamkeeper.h"
#include "tests/support/recmedia/testmedia.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kFps = 25;
constexpr uint64_t kStepMs = 1000 / kFps;
constexpr uint64_t kRunMs = 600 * 1000;
constexpr uint64_t kCycleMs = 60 * 1000;
constexpr uint64_t kDownAtMs = 30 * 1000; // in each cycle
constexpr uint64_t kDownMs = 5 * 1000;

std::atomic<uint64_t> g_clock{1000000};

bool cameraUp(uint64_t t)
{
    const uint64_t inCycle = t % kCycleMs;
    return inCycle < kDownAtMs || inCycle >= kDownAtMs + kDownMs;
}

// The recording file library, noting when each picture was written.
struct MeasuringSink : RecorderEnv::Sink
{
    int files = 0;
    uint64_t pictures = 0;
    std::vector<uint64_t> pictureTimes; // simulated clock of each written picture
    int create(const RECORD_INFO_S &info, char path[256], int32_t *file) override
    {
        const int ret = Record_local_MediaFileCreat(&info, path, file, nullptr);
        files += ret == 0;
        return ret;
    }
    int write(int32_t file, uint32_t type, const unsigned char *data, uint32_t size) override
    {
        if ((type == MEDIA_FRAME_IDR || type == MEDIA_FRAME_SLICE) && size > 1) {
            ++pictures;
            pictureTimes.push_back(g_clock.load());
        }
        return Record_local_MediaFileWrite(file, type, data, size);
    }
    int close(int32_t file) override { return Record_local_MediaFileClose(file); }
    int setAlarmType(int32_t file, int type) override { return Record_local_setMediaFileAlarmType(file, type); }
};

struct SimCamera
{
    std::vector<std::vector<std::vector<uint8_t>>> loop; // pictures as NAL units
    bool sessionStartsWithKey = true; // else a session waits for the next key picture
    uint64_t now = 0;
    uint64_t produced = 0; // pictures made while up
};

class SimSource final : public varno::record::RecordSource
{
public:
    SimSource(SimCamera &cam, qmediarealrecord *rec) : m_cam(cam), m_rec(rec) {}
    int open() override
    {
        if (!cameraUp(m_cam.now))
            return -302;
        m_open = true;
        m_waitKey = true;
        m_sessionPictures = 0;
        return 0;
    }
    bool broken() override { return !m_open || !cameraUp(m_cam.now); }
    uint64_t frames() const override { return m_frames; }
    void close() override { m_open = false; }
    void detach() override { m_rec = nullptr; }

    // The camera's picture of this step, when a session is open.
    void send(size_t index, uint64_t ts)
    {
        if (!m_open || !m_rec || !cameraUp(m_cam.now))
            return;
        if (m_cam.sessionStartsWithKey)
            index = m_sessionPictures++ % m_cam.loop.size(); // the loop begins with a key picture
        else if (m_waitKey && index % kFps != 0)
            return;
        m_waitKey = false;
        for (const auto &unit : m_cam.loop[index]) {
            const int type = int(varno::test::recorderFrameType(varno::test::nalType(unit, 1)));
            m_rec->pushFrame(type, reinterpret_cast<const char *>(unit.data()), int(unit.size()), ts);
        }
        ++m_frames;
    }

private:
    SimCamera &m_cam;
    qmediarealrecord *m_rec;
    bool m_open = true;
    bool m_waitKey = false;
    size_t m_sessionPictures = 0;
    uint64_t m_frames = 0;
};

bool decodesCleanly(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-xerror"),
                                       QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("null"),
                                       QStringLiteral("-")});
    return p.waitForFinished(120000) && p.exitCode() == 0 && p.readAllStandardError().trimmed().isEmpty();
}

struct Result
{
    double upS = 0;
    double recordedS = 0;
    int files = 0;
    int onDisk = 0;
    int clean = 0;
    double longestGapS = 0;
    double wallS = 0;
};

Result runOnce(const SimCamera &camLoop, bool sessionStartsWithKey, varno::ReopenBackoff backoff)
{
    Result res;
    QTemporaryDir dir;
    if (!dir.isValid())
        return res;
    const QByteArray folder = dir.path().toUtf8();
    SimCamera cam = camLoop;
    cam.sessionStartsWithKey = sessionStartsWithKey;
    g_clock = 1000000;
    auto sink = std::make_shared<MeasuringSink>();
    RecorderEnv env;
    env.sink = sink;
    env.clock = [] { return g_clock.load(); };
    env.savePath = [folder](char out[256]) {
        std::strncpy(out, folder.constData(), 255);
        return 0;
    };
    env.haveRecordDisk = [] { return true; };
    qmediarealrecord rec(env);
    RECORD_INFO_S info{};
    std::strncpy(info.devId, "GAPCAM1", sizeof info.devId - 1);
    info.version = RECORD_INFO_VERSION;
    info.videoCodec = MEDIA_VIDEO_H264;
    info.frameRate = kFps;
    info.width = 320;
    info.height = 180;
    info.audioFormat = MEDIA_AUDIO_G711A;
    if (rec.startRecord(info, {}) != 0)
        return res;
    auto ownedSource = std::make_unique<SimSource>(cam, &rec);
    SimSource *source = ownedSource.get();
    varno::record::StreamKeeper keeper("GAPCAM1", std::move(ownedSource), &rec, [] { return g_clock.load(); },
                                       backoff);

    const auto wall0 = std::chrono::steady_clock::now();
    std::vector<uint64_t> returns;
    bool wasUp = true;
    for (uint64_t t = 0; t < kRunMs; t += kStepMs) {
        cam.now = t;
        g_clock = 1000000 + t;
        const bool up = cameraUp(t);
        if (up && !wasUp)
            returns.push_back(g_clock.load());
        wasUp = up;
        if (t % varno::record::StreamKeeper::kCycleMs == 0)
            keeper.pass();
        if (up)
            ++cam.produced;
        source->send(size_t((t / kStepMs) % cam.loop.size()), 1000000 + t);
        while (!rec.idle())
            std::this_thread::yield();
    }
    keeper.stop();
    rec.stop();
    res.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();

    uint64_t longestGap = 0;
    for (uint64_t r : returns) {
        const auto it = std::lower_bound(sink->pictureTimes.begin(), sink->pictureTimes.end(), r);
        longestGap = std::max(longestGap, it != sink->pictureTimes.end() ? *it - r : kRunMs);
    }
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.mkv")}, QDir::Files, QDir::Name);
    for (const QString &f : files)
        res.clean += decodesCleanly(dir.path() + QStringLiteral("/") + f);
    res.onDisk = int(files.size());
    res.files = sink->files;
    res.upS = double(cam.produced) / kFps;
    res.recordedS = double(sink->pictures) / kFps;
    res.longestGapS = double(longestGap) / 1000.0;
    return res;
}

} // namespace

int main()
{
    std::printf("encoding 2 s of 320x180 H.264, a key picture every second ...\n");
    SimCamera cam;
    for (const auto &p :
         varno::test::encodeStream({.width = 320, .height = 180, .frames = 2 * kFps, .fps = kFps, .gop = kFps}))
        cam.loop.push_back(varno::test::splitNals(p.data));
    if (cam.loop.size() != size_t(2 * kFps))
        return 1;
    std::printf("10 simulated minutes, the stream down 5 s every 60 s; goals: recorded >= 99 %% of the time up,\n"
                "longest gap after a return < 3 s\n\n");
    std::printf("%-58s %9s %9s %8s %6s %14s %7s\n", "camera, back-off", "up s", "recorded", "share", "files",
                "gap after ret", "clean");
    struct Row
    {
        const char *name;
        bool sessionStartsWithKey;
        varno::ReopenBackoff backoff;
    };
    const Row rows[] = {
        {"session starts with a key, recording's (0.25 s for 30 s)", true, varno::ReopenBackoff::forRecording()},
        {"next key picture, recording's (0.25 s for 30 s)", false, varno::ReopenBackoff::forRecording()},
        {"session starts with a key, live view's (1 s .. 10 s)", true, varno::ReopenBackoff()},
        {"next key picture, live view's (1 s .. 10 s)", false, varno::ReopenBackoff()},
    };
    bool allClean = true;
    for (const Row &row : rows) {
        const Result r = runOnce(cam, row.sessionStartsWithKey, row.backoff);
        allClean = allClean && r.files > 0 && r.clean == r.onDisk;
        std::printf("%-58s %9.1f %9.1f %7.2f%% %3d/%-2d %12.2f s %3d/%-3d (%.1f s wall)\n", row.name, r.upS,
                    r.recordedS, r.upS > 0 ? 100.0 * r.recordedS / r.upS : 0.0, r.files, r.onDisk, r.longestGapS,
                    r.clean, r.onDisk, r.wallS);
    }
    return allClean ? 0 : 2;
}
