// Recording soak: cameras recording a compressed day onto fake disks small
// enough to fill many times, overwriting on. Every camera pushes 160x120
// H.264 at 25 pictures per second of stream; the recorders' clock advances
// one second per picture, so a 1,800-s file holds 1,800 pictures and a day
// is 86,400 pictures per camera. The storage manager's reserve and overwrite
// threshold are scaled to the small files (one file each).
//
// Checks at the end (exit code 1 when one fails): no recorder ever reported
// a failure (recording never stopped), every filelist record names a file
// that exists and every file has its record, and in each folder the files
// left are the newest ones created there (the oldest went first), by the
// files' birth times (the simulated clock where the file system keeps none).
// Prints files written, overwrite passes, the largest gap between two files
// of one camera (simulated seconds beyond the 1,800 s of a file), RSS at
// start and end.
//
// Usage: bench_soak_recording [cameras 16] [hours 24] [disk MB 48]
#include "platform/recfile/filelist.h"
#include "platform/recfile/record_local.h"
#include "record/cstorage.h"
#include "record/qmediarealrecord.h"
#include "tests/support/recmedia/testmedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

struct Unit
{
    int type;
    std::vector<uint8_t> data;
};

} // namespace

int main(int argc, char **argv)
{
    const int cameras = argc > 1 ? std::atoi(argv[1]) : 16;
    const int hours = argc > 2 ? std::atoi(argv[2]) : 24;
    const quint64 diskMb = argc > 3 ? quint64(std::atoi(argv[3])) : 48;
    const int steps = hours * 3600;

    varno::test::VideoSource source(160, 120, 25, 25);
    std::vector<std::vector<Unit>> pictures;
    for (const auto &p : source.encode(250)) {
        std::vector<Unit> u;
        for (auto &n : varno::test::nalUnitsWithStartCodes(p.data))
            u.push_back({int(varno::test::recorderFrameType(varno::test::h264NalType(n))), n});
        pictures.push_back(std::move(u));
    }

    QTemporaryDir tmp;
    auto disks = std::make_shared<varno::record::FakeDiskSource>();
    disks->addDisk(QStringLiteral("/d1/"), tmp.path() + QStringLiteral("/d1"), diskMb << 20);
    disks->addDisk(QStringLiteral("/d2/"), tmp.path() + QStringLiteral("/d2"), diskMb << 20);
    CStorage storage(disks, tmp.path());
    storage.setReserveBytes(1 << 20);
    storage.setCoverThresholdBytes(1 << 20);
    StorageDisk_s d[2]{};
    std::snprintf(d[0].name, sizeof d[0].name, "/d1/");
    std::snprintf(d[1].name, sizeof d[1].name, "/d2/");
    d[0].selected = d[1].selected = 1;
    d[0].percent = d[1].percent = 50;
    StorageInfo_s cfg{};
    std::snprintf(cfg.recordDir, sizeof cfg.recordDir, "Varno/Record");
    cfg.cover = 1;
    cfg.count = 2;
    cfg.disks = d;
    storage.SaveStorageConfig(tmp.path() + QStringLiteral("/cap"), &cfg);

    std::atomic<uint64_t> clock{1000};
    std::mutex mutex;
    // folder -> (file, birth time in ns, or the clock at the callback when the file system keeps none)
    std::map<QString, std::vector<std::pair<QString, uint64_t>>> createdPerFolder;
    bool birthTimes = true;
    std::map<int, std::vector<uint64_t>> startsPerCamera;
    std::vector<int> failures;
    int filesWritten = 0;

    std::vector<std::unique_ptr<qmediarealrecord>> recorders;
    for (int c = 0; c < cameras; ++c) {
        RecorderEnv env;
        env.savePath = [&](char out[256]) { return storage.getRecordSavePath(out); };
        env.haveRecordDisk = [&] { return !storage.getRecordDiskList().isEmpty(); };
        env.clock = [&] { return clock.load(); };
        auto rec = std::make_unique<qmediarealrecord>(env);
        rec->setCallback([&, c](const char *, const char *path, int code, qmediarealrecord *) {
            std::lock_guard lock(mutex);
            if (code != qmediarealrecord::kFileCreated) {
                failures.push_back(code);
                return;
            }
            // The birth time, not the moment of this callback: two recorders'
            // callbacks may come in either order, and after the clock moved.
            const QFileInfo fi(QString::fromUtf8(path));
            struct statx sx {};
            uint64_t created = clock.load();
            if (::statx(AT_FDCWD, path, 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
                created = uint64_t(sx.stx_btime.tv_sec) * 1000000000ull + sx.stx_btime.tv_nsec;
            else
                birthTimes = false;
            createdPerFolder[fi.path()].push_back({fi.fileName(), created});
            startsPerCamera[c].push_back(clock.load());
            ++filesWritten;
        });
        RECORD_INFO_S info{};
        std::snprintf(info.devId, sizeof info.devId, "SOAK%03d", c);
        info.version = RECORD_INFO_VERSION;
        info.videoCodec = MEDIA_VIDEO_H264;
        info.frameRate = 25;
        info.width = 160;
        info.height = 120;
        rec->startRecord(info, {});
        storage.addRecordCount(1);
        recorders.push_back(std::move(rec));
    }

    const long rssStart = rssKb();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int step = 0; step < steps; ++step) {
        for (auto &rec : recorders) {
            for (const Unit &u : pictures[size_t(step % 250)])
                rec->pushFrame(u.type, reinterpret_cast<const char *>(u.data.data()), int(u.data.size()),
                               uint64_t(step) * 40);
        }
        clock += 1000;
        // Each picture is written before the clock moves on: frames are never
        // dropped and the clock never runs ahead of the files.
        for (auto &rec : recorders)
            while (rec->queuedBytes() > 0)
                std::this_thread::yield();
        if (step % 3600 == 3599)
            std::printf("  hour %d: %d files, %d passes, RSS %ld kB\n", step / 3600 + 1, filesWritten,
                        storage.coverPasses(), rssKb());
    }
    for (auto &rec : recorders)
        while (rec->queuedBytes() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const long rssEnd = rssKb();
    for (auto &rec : recorders)
        rec->stop();
    recorders.clear();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();

    bool ok = failures.empty();
    int listedTotal = 0;
    int onDiskTotal = 0;
    for (const char *root : {"/d1/", "/d2/"}) {
        const QString folder = storage.recordFolder(QString::fromLatin1(root));
        std::vector<MEDIA_FILE_S> records;
        {
            RecordFilelistLocker lock;
            varno::recfile::readFilelist(folder.toStdString(), records);
        }
        std::set<QString> listed;
        for (const MEDIA_FILE_S &r : records)
            listed.insert(QString::fromUtf8(r.fileName));
        std::set<QString> onDisk;
        for (const QString &f : QDir(folder).entryList({QStringLiteral("*.mkv")}, QDir::Files))
            onDisk.insert(f);
        if (listed != onDisk) {
            std::printf("FAIL %s: %zu records, %zu files\n", root, listed.size(), onDisk.size());
            ok = false;
        }
        // The files left are the newest created in this folder: none that
        // went was created later than one that stayed (files with the same
        // birth time count as equally old).
        uint64_t newestGone = 0;
        uint64_t oldestKept = UINT64_MAX;
        QString newestGoneName;
        QString oldestKeptName;
        for (const auto &[f, created] : createdPerFolder[folder]) {
            if (onDisk.count(f) && created < oldestKept) {
                oldestKept = created;
                oldestKeptName = f;
            } else if (!onDisk.count(f) && created >= newestGone) {
                newestGone = created;
                newestGoneName = f;
            }
        }
        const bool suffix = newestGone <= oldestKept;
        if (!suffix) {
            std::printf("FAIL %s: a newer file went before an older one (%s gone, created %llu; %s kept, created "
                        "%llu)\n",
                        root, newestGoneName.toUtf8().constData(), static_cast<unsigned long long>(newestGone),
                        oldestKeptName.toUtf8().constData(), static_cast<unsigned long long>(oldestKept));
            ok = false;
        }
        listedTotal += int(listed.size());
        onDiskTotal += int(onDisk.size());
    }
    uint64_t largestGap = 0;
    for (const auto &[cam, starts] : startsPerCamera)
        for (size_t i = 1; i < starts.size(); ++i)
            largestGap = std::max<uint64_t>(largestGap, starts[i] - starts[i - 1] > 1800000
                                                            ? starts[i] - starts[i - 1] - 1800000 : 0);
    for (int code : failures)
        std::printf("FAIL recorder reported %d\n", code);

    std::printf("oldest-first check by %s\n", birthTimes ? "the files' birth times" : "the simulated clock");
    std::printf("cameras %d, simulated %d h, two fake disks of %llu MB (50 %% each)\n", cameras, hours,
                static_cast<unsigned long long>(diskMb));
    std::printf("files written %d, overwrite passes %d, files left %d (records %d)\n", filesWritten,
                storage.coverPasses(), onDiskTotal, listedTotal);
    std::printf("largest gap between two files of one camera: %.1f s of stream beyond the file length\n",
                double(largestGap) / 1000.0);
    std::printf("RSS start %ld kB, end %ld kB; wall %.1f s\n", rssStart, rssEnd, wall);
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
