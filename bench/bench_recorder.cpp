// The recorder's cost and the storage manager's folder measurement.
//
// 1. CPU per recorded stream: one 4 Mbit/s H.264 stream (1280x720, 25 fps)
//    pushed into qmediarealrecord (queue, record thread, recording file
//    library, one NAL unit per push, as the live feed does) against the
//    baseline of decoding the same stream with libavcodec, as the live page
//    does for every open window, in the same run. Both as process CPU time
//    per second of stream; the recorder's share of a core is the first figure.
// 2. getRecordSavePath with 100,000 files in the record folder (it needs
//    the folder's size once per new recording file), against the same call
//    on an empty folder: the first call after the files appeared (which
//    walks the folder) and the median of the calls after it.
//
// Usage: bench_recorder [seconds of stream, default 60] [files, default 100000]
#include "record/cstorage.h"
#include "record/qmediarealrecord.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/recmedia/testmedia.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

double processCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A disk whose space query costs nothing: only the manager's own work is timed.
class FixedDisk : public varno::record::DiskSource
{
public:
    explicit FixedDisk(QString dir) : m_dir(std::move(dir)) { QDir().mkpath(m_dir); }
    QList<varno::record::DiskEntry> disks() override { return {{QStringLiteral("/b/"), m_dir, kDiskFixed}}; }
    bool space(const QString &, quint64 *freeBytes, quint64 *totalBytes) override
    {
        *freeBytes = *totalBytes = 1ull << 40;
        return true;
    }

private:
    QString m_dir;
};

struct Unit
{
    int type;
    std::vector<uint8_t> data;
};

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    constexpr int fps = 25;

    std::printf("encoding 10 s of 1280x720 H.264 at 4 Mbit/s ...\n");
    const auto pictures = varno::test::encodeStream(
        {.width = 1280, .height = 720, .frames = 250, .fps = fps, .gop = fps * 2, .busy = true,
         .bitRate = 4000000});
    if (pictures.size() != 250) {
        std::printf("encoder failed\n");
        return 1;
    }
    std::vector<std::vector<Unit>> units;
    std::vector<std::vector<uint8_t>> accessUnits;
    size_t bytes = 0;
    for (const auto &p : pictures) {
        std::vector<Unit> u;
        for (auto &n : varno::test::splitNals(p.data))
            u.push_back({int(varno::test::recorderFrameType(varno::test::nalType(n, 1))), n});
        units.push_back(std::move(u));
        accessUnits.push_back(p.data);
        bytes += p.data.size();
    }
    std::printf("stream: %.2f Mbit/s, %d s recorded and decoded\n", double(bytes) * 8.0 / 10 / 1e6, seconds);

    QTemporaryDir tmp;
    const QString folder = tmp.path() + QStringLiteral("/rec");
    QDir().mkpath(folder);
    const int frames = seconds * fps;

    // Recorder.
    {
        RecorderEnv env;
        env.savePath = [&](char out[256]) {
            std::snprintf(out, 256, "%s", folder.toUtf8().constData());
            return 0;
        };
        env.haveRecordDisk = [] { return true; };
        qmediarealrecord rec(env);
        RECORD_INFO_S info{};
        std::snprintf(info.devId, sizeof info.devId, "BENCH01");
        info.version = RECORD_INFO_VERSION;
        info.videoCodec = MEDIA_VIDEO_H264;
        info.frameRate = fps;
        info.width = 1280;
        info.height = 720;
        info.audioFormat = MEDIA_AUDIO_G711A;
        info.channels = 1;
        const double cpu0 = processCpu();
        const double wall0 = wallNow();
        rec.startRecord(info, {});
        for (int i = 0; i < frames; ++i) {
            for (const Unit &u : units[size_t(i % 250)])
                rec.pushFrame(u.type, reinterpret_cast<const char *>(u.data.data()), int(u.data.size()),
                              uint64_t(i) * 40);
            // Paced by the queue only: as fast as the record thread writes.
            while (rec.queuedBytes() > (2u << 20))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (rec.queuedBytes() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rec.stop();
        const double cpu = processCpu() - cpu0;
        const double wall = wallNow() - wall0;

        // Baseline: the live page's decode of the same stream.
        const double dcpu0 = processCpu();
        int decoded = 0;
        for (int done = 0; done < frames; done += 250) {
            std::vector<std::vector<uint8_t>> piece(accessUnits.begin(),
                                                    accessUnits.begin() + std::min(250, frames - done));
            decoded += varno::test::decodeAnnexB(piece, 1).pictures;
        }
        const double dcpu = processCpu() - dcpu0;
        std::printf("recorder: %.3f s CPU for %d s of stream (%.2f %% of a core per stream), wall %.2f s\n", cpu,
                    seconds, cpu / seconds * 100.0, wall);
        std::printf("baseline live decode: %.3f s CPU (%.2f %% of a core per stream), %d pictures\n", dcpu,
                    dcpu / seconds * 100.0, decoded);
        std::printf("ratio recorder / decode: %.4f\n", cpu / dcpu);
    }

    // getRecordSavePath with many files.
    {
        auto disks = std::make_shared<FixedDisk>(tmp.path() + QStringLiteral("/disk"));
        CStorage storage(disks, tmp.path());
        StorageDisk_s d{};
        std::snprintf(d.name, sizeof d.name, "/b/");
        d.selected = 1;
        d.percent = 100;
        StorageInfo_s cfg{};
        std::snprintf(cfg.recordDir, sizeof cfg.recordDir, "Varno/Record");
        cfg.cover = 1;
        cfg.count = 1;
        cfg.disks = &d;
        storage.SaveStorageConfig(tmp.path() + QStringLiteral("/cap"), &cfg);
        auto timeCalls = [&](int calls) {
            std::vector<double> t;
            char out[256];
            for (int i = 0; i < calls; ++i) {
                const double w0 = wallNow();
                storage.getRecordSavePath(out);
                t.push_back((wallNow() - w0) * 1000.0);
            }
            return varno::test::percentile(t, 0.5);
        };
        const double empty = timeCalls(20);
        const QString rec = storage.recordFolder(QStringLiteral("/b/"));
        std::printf("creating %d files ...\n", files);
        for (int i = 0; i < files; ++i) {
            QFile f(rec + QStringLiteral("/CAM%1_20190225_080000.mkv").arg(i, 6, 10, QLatin1Char('0')));
            f.open(QIODevice::WriteOnly);
            f.write("0123456789");
        }
        const int walks0 = storage.folderWalks();
        const double first = timeCalls(1);
        const double full = timeCalls(20);
        std::printf("getRecordSavePath: %.2f ms median with %d files (first call %.2f ms), baseline %.3f ms with "
                    "an empty folder; folder walks during the %d calls: %d\n",
                    full, files, first, empty, 21, storage.folderWalks() - walks0);
    }
    return 0;
}
