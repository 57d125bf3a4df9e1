// Recording soak: cameras recording a compressed day onto fake disks small
// enough to fill many times, overwriting on. Every camera pushes 160x120
// H.264 at 25 pictures per second of stream; the recorders' clock advances
// one second per picture, so a 1,800-s file holds 1,800 pictures and a day
// is 86,400 pictures per camera. The storage manager's reserve and overwrite
// threshold are scaled to the small files (one file each).
//
// Checks at the end (exit code 1 when one fails): no recorder ever reported
// a failure (recording never stopped), every filelist record names a file
// that exists and every file has its record, and every file the overwrite
// removed was the oldest closed file of its folder at that moment: a file
// still being written is skipped by the overwrite, so it may outlive a newer
// file that was already closed. The order of creations, closes and removals
// comes from inotify, which queues a folder's events in the order they
// happened.
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
#include <sys/inotify.h>
#include <unistd.h>

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

// Follows the record folders through inotify: creation order, open files,
// and every removal of a file while an older closed file stayed.
class FolderWatch
{
public:
    FolderWatch() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~FolderWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool add(const QString &folder)
    {
        const int wd = inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                                         IN_CREATE | IN_CLOSE_WRITE | IN_DELETE);
        if (wd < 0)
            return false;
        m_folders[wd] = folder;
        return true;
    }
    // Reads the events queued so far.
    void drain()
    {
        alignas(inotify_event) char buf[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t off = 0; off < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buf + off);
                off += ssize_t(sizeof(inotify_event) + e->len);
                if (e->mask & IN_Q_OVERFLOW)
                    m_overflow = true;
                if (e->len == 0 || (e->mask & IN_ISDIR))
                    continue;
                const QString name = QString::fromUtf8(e->name);
                if (!name.endsWith(QLatin1String(".mkv")))
                    continue;
                handle(m_folders.value(e->wd), name, e->mask);
            }
        }
    }
    bool overflowed() const { return m_overflow; }
    const std::vector<QString> &violations() const { return m_violations; }
    int removals() const { return m_removals; }

private:
    struct File
    {
        uint64_t born;
        bool open;
    };
    void handle(const QString &folder, const QString &name, uint32_t mask)
    {
        auto &files = m_files[folder];
        if (mask & IN_CREATE) {
            files[name] = File{m_next++, true};
        } else if (mask & IN_CLOSE_WRITE) {
            const auto it = files.find(name);
            if (it != files.end())
                it->second.open = false;
        } else if (mask & IN_DELETE) {
            const auto it = files.find(name);
            if (it == files.end())
                return;
            ++m_removals;
            for (const auto &[other, f] : files)
                if (!f.open && f.born < it->second.born) {
                    m_violations.push_back(folder + QLatin1Char('/') + name + QLatin1String(" removed while the older ") +
                                           other + QLatin1String(" (closed) stayed"));
                    break;
                }
            files.erase(it);
        }
    }

    int m_fd;
    QHash<int, QString> m_folders;
    std::map<QString, std::map<QString, File>> m_files;
    uint64_t m_next = 0;
    int m_removals = 0;
    bool m_overflow = false;
    std::vector<QString> m_violations;
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
    // The soak's hours pass in minutes of wall time, while the files carry
    // wall-clock start times: no recording would be old enough to overwrite.
    storage.setCoverFloorSeconds(0);
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
    FolderWatch watch;
    for (const char *root : {"/d1/", "/d2/"})
        if (!watch.add(storage.recordFolder(QString::fromLatin1(root)))) {
            std::printf("FAILED: cannot watch the record folders (inotify)\n");
            return 1;
        }
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
        rec->setCallback([&, c](const char *, const char *, int code, qmediarealrecord *) {
            std::lock_guard lock(mutex);
            if (code != qmediarealrecord::kFileCreated) {
                failures.push_back(code);
                return;
            }
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
        watch.drain();
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
    watch.drain();
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
    for (const QString &v : watch.violations()) {
        std::printf("FAIL oldest first: %s\n", v.toUtf8().constData());
        ok = false;
    }
    if (watch.overflowed()) {
        std::printf("FAIL the inotify queue overflowed: the order check is incomplete\n");
        ok = false;
    }
    std::printf("oldest-first check over %d removals\n", watch.removals());
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
