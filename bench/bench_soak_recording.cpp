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
// happened; files created within kSameMomentSteps of each other count as
// equally old.
// Prints files written, overwrite passes, the largest gap between two files
// of one camera (simulated seconds beyond the 1,800 s of a file), recorded
// seconds (pictures written) against camera seconds (pictures the cameras
// sent), RSS at start and end.
//
// Scenarios (fourth argument):
// - "day" (the default): the above, on fake disks.
// - "foreign": two real tmpfs disks mounted in the temporary folder; a
//   third of the way through (once the recorders write on the first disk)
//   another program fills the first disk with one big file. The recordings go on on the second disk; the overwrite pass
//   never removes more than the first disk's own recordings.
// - "gone": the same disks; at the same moment the first disk is
//   unmounted (lazily, as "umount -l") while files are open on it. The
//   recorders report the disk gone and go on on the second disk.
// Both need to mount file systems (root, or a user namespace that allows
// it); where that is refused they are skipped with the reason.
//
// Usage: bench_soak_recording [cameras 16] [hours 24] [disk MB 48] [day|foreign|gone]
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

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
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

// Files created this many simulated seconds apart or less count as created
// at the same moment.
constexpr uint64_t kSameMomentSteps = 10;

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
    // Reads the events queued so far; files created now are born in this
    // step of the simulated clock (seconds).
    void drain(uint64_t step)
    {
        m_step = step;
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
            files[name] = File{m_step, true};
        } else if (mask & IN_CLOSE_WRITE) {
            const auto it = files.find(name);
            if (it != files.end())
                it->second.open = false;
        } else if (mask & IN_DELETE) {
            const auto it = files.find(name);
            if (it == files.end())
                return;
            ++m_removals;
            // Files born within a few simulated seconds of each other are as
            // old: recorders creating files at the same moment append their
            // filelist records in either order.
            for (const auto &[other, f] : files)
                if (!f.open && f.born + kSameMomentSteps < it->second.born) {
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
    uint64_t m_step = 0;
    int m_removals = 0;
    bool m_overflow = false;
    std::vector<QString> m_violations;
};

// Disks that are real file systems mounted by the soak: their space as the
// file system reports it, whatever else lies on them.
class MountedDisks final : public varno::record::DiskSource
{
public:
    void addDisk(const QString &root, const QString &dir) { m_disks.append({root, dir, kDiskFixed}); }
    QList<varno::record::DiskEntry> disks() override { return m_disks; }
    bool space(const QString &root, quint64 *freeBytes, quint64 *totalBytes) override
    {
        for (const varno::record::DiskEntry &d : std::as_const(m_disks)) {
            struct statvfs st {};
            if (d.root == root && ::statvfs(QFile::encodeName(d.dir).constData(), &st) == 0) {
                varno::record::SystemDiskSource::spaceOf(st, freeBytes, totalBytes);
                return true;
            }
        }
        return false;
    }

private:
    QList<varno::record::DiskEntry> m_disks;
};

// The recording file library, counting the pictures (H.264 slices) each
// recorder wrote: the seconds it recorded.
class CountingSink final : public RecorderEnv::Sink
{
public:
    int create(const RECORD_INFO_S &info, char path[256], int32_t *file) override
    {
        return Record_local_MediaFileCreat(&info, path, file, nullptr);
    }
    int write(int32_t file, uint32_t type, const unsigned char *data, uint32_t size) override
    {
        const int ret = Record_local_MediaFileWrite(file, type, data, size);
        if (ret >= 0 && size > 1) {
            const std::vector<uint8_t> bytes(data, data + size);
            for (const auto &unit : varno::test::splitNals(bytes)) {
                const int nal = varno::test::nalType(unit, 1);
                if (nal == 1 || nal == 5)
                    ++pictures;
            }
        }
        return ret;
    }
    int close(int32_t file) override { return Record_local_MediaFileClose(file); }
    int setAlarmType(int32_t file, int type) override { return Record_local_setMediaFileAlarmType(file, type); }

    std::atomic<uint64_t> pictures{0};
};

} // namespace

int main(int argc, char **argv)
{
    const int cameras = argc > 1 ? std::atoi(argv[1]) : 16;
    const int hours = argc > 2 ? std::atoi(argv[2]) : 24;
    const quint64 diskMb = argc > 3 ? quint64(std::atoi(argv[3])) : 48;
    const QString scenario = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("day");
    if (scenario != QLatin1String("day") && scenario != QLatin1String("foreign") && scenario != QLatin1String("gone")) {
        std::printf("unknown scenario %s (day, foreign, gone)\n", argv[4]);
        return 2;
    }
    const bool realDisks = scenario != QLatin1String("day");
    const int steps = hours * 3600;
    // The fault comes a third of the way through, once files are being
    // written on the first disk (at two thirds at the latest).
    int faultStep = -1;

    std::vector<std::vector<Unit>> pictures;
    for (const auto &p : varno::test::encodeStream({.width = 160, .height = 120, .frames = 250})) {
        std::vector<Unit> u;
        for (auto &n : varno::test::splitNals(p.data))
            u.push_back({int(varno::test::recorderFrameType(varno::test::nalType(n, 1))), n});
        pictures.push_back(std::move(u));
    }

    QTemporaryDir tmp;
    std::shared_ptr<varno::record::DiskSource> disks;
    std::vector<QByteArray> mounted; // unmounted at the end, whatever happens
    struct Unmount
    {
        std::vector<QByteArray> &points;
        ~Unmount()
        {
            for (const QByteArray &p : points)
                ::umount2(p.constData(), MNT_DETACH);
        }
    } unmount{mounted};
    if (realDisks) {
        auto real = std::make_shared<MountedDisks>();
        for (const char *name : {"d1", "d2"}) {
            const QString dir = tmp.path() + QLatin1Char('/') + QLatin1String(name);
            QDir().mkpath(dir);
            const QByteArray point = QFile::encodeName(dir);
            const QByteArray size = "size=" + QByteArray::number(diskMb) + "m";
            if (::mount("tmpfs", point.constData(), "tmpfs", MS_NOSUID | MS_NODEV, size.constData()) != 0) {
                std::printf("SKIP %s: cannot mount a tmpfs disk here (%s)\n", argv[4], std::strerror(errno));
                return 0;
            }
            mounted.push_back(point);
            real->addDisk(QStringLiteral("/%1/").arg(QLatin1String(name)), dir);
        }
        disks = real;
    } else {
        auto fake = std::make_shared<varno::record::FakeDiskSource>();
        fake->addDisk(QStringLiteral("/d1/"), tmp.path() + QStringLiteral("/d1"), diskMb << 20);
        fake->addDisk(QStringLiteral("/d2/"), tmp.path() + QStringLiteral("/d2"), diskMb << 20);
        disks = fake;
    }
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
    std::vector<std::shared_ptr<CountingSink>> sinks;
    std::map<int, int> codes;      // failure codes reported, and how often
    std::vector<uint64_t> atFault; // pictures each recorder had written at the fault
    std::unique_ptr<std::atomic<bool>[]> ended(new std::atomic<bool>[size_t(cameras)]());
    bool stuck = false;
    for (int c = 0; c < cameras; ++c) {
        RecorderEnv env;
        sinks.push_back(std::make_shared<CountingSink>());
        env.sink = sinks.back();
        env.savePath = [&](char out[256]) { return storage.getRecordSavePath(out); };
        env.haveRecordDisk = [&] { return !storage.getRecordDiskList().isEmpty(); };
        env.clock = [&] { return clock.load(); };
        auto rec = std::make_unique<qmediarealrecord>(env);
        rec->setCallback([&, c](const char *, const char *, int code, qmediarealrecord *) {
            std::lock_guard lock(mutex);
            if (code != qmediarealrecord::kFileCreated) {
                failures.push_back(code);
                ++codes[code];
                if (code == qmediarealrecord::kCoverFailed || code == qmediarealrecord::kNoDiskLeft)
                    ended[size_t(c)] = true; // no folder for a file: the record thread ended
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
    uint64_t removalsBeforeFault = 0;
    for (int step = 0; step < steps; ++step) {
        if (realDisks && faultStep < 0 && step >= steps / 3
            && (storage.currentDisk() == 0 || step >= 2 * steps / 3)) {
            faultStep = step;
            for (const auto &sink : sinks)
                atFault.push_back(sink->pictures.load());
            const QByteArray d1 = QFile::encodeName(tmp.path() + QStringLiteral("/d1"));
            if (scenario == QLatin1String("foreign")) {
                // Another program writes one big file until the disk is full.
                const int fd = ::open((d1 + "/foreign.bin").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                struct statvfs st {};
                ::statvfs(d1.constData(), &st);
                const off_t bytes = off_t(st.f_bavail) * off_t(st.f_frsize);
                const int ret = fd >= 0 ? ::posix_fallocate(fd, 0, bytes) : errno;
                if (fd >= 0)
                    ::close(fd);
                std::printf("  step %d: a foreign file of %lld bytes fills /d1/ (%s)\n", step,
                            static_cast<long long>(bytes), ret == 0 ? "written" : std::strerror(ret));
                removalsBeforeFault = uint64_t(watch.removals());
            } else {
                const int ret = ::umount2(d1.constData(), MNT_DETACH);
                std::printf("  step %d: /d1/ unmounted while recording (%s)\n", step,
                            ret == 0 ? "done" : std::strerror(errno));
                if (ret == 0)
                    mounted.erase(mounted.begin());
            }
        }
        for (auto &rec : recorders) {
            for (const Unit &u : pictures[size_t(step % 250)])
                rec->pushFrame(u.type, reinterpret_cast<const char *>(u.data.data()), int(u.data.size()),
                               uint64_t(step) * 40);
        }
        clock += 1000;
        watch.drain(uint64_t(step));
        // Each picture is written before the clock moves on: frames are never
        // dropped and the clock never runs ahead of the files.
        // A recorder that stopped (it said why) takes no more frames; one
        // that holds its frames for half a minute is stuck.
        for (size_t c = 0; c < recorders.size(); ++c) {
            const auto since = std::chrono::steady_clock::now();
            while (recorders[c]->queuedBytes() > 0 && !ended[c].load()) {
                if (std::chrono::steady_clock::now() - since > std::chrono::seconds(30)) {
                    std::printf("FAIL recorder %zu holds its frames at step %d\n", c, step);
                    ended[c] = true;
                    stuck = true;
                }
                std::this_thread::yield();
            }
        }
        if (step % 3600 == 3599)
            std::printf("  hour %d: %d files, %d passes, RSS %ld kB\n", step / 3600 + 1, filesWritten,
                        storage.coverPasses(), rssKb());
    }
    for (size_t c = 0; c < recorders.size(); ++c)
        while (recorders[c]->queuedBytes() > 0 && !ended[c].load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const long rssEnd = rssKb();
    for (auto &rec : recorders)
        rec->stop();
    recorders.clear();
    watch.drain(uint64_t(steps));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();

    // On the fake disks nothing may go wrong; with a foreign file or a
    // vanished disk the recorders say so, and must go on on the other disk.
    bool ok = (realDisks || failures.empty()) && !stuck;
    int listedTotal = 0;
    int onDiskTotal = 0;
    for (const char *root : {"/d1/", "/d2/"}) {
        if (scenario == QLatin1String("gone") && root == std::string("/d1/"))
            continue; // its files went with it
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
    if (!realDisks)
        for (int code : failures)
            std::printf("FAIL recorder reported %d\n", code);
    for (const auto &[code, count] : codes)
        std::printf("recorder code %d reported %d times\n", code, count);
    uint64_t recorded = 0;
    uint64_t leastAfterFault = UINT64_MAX;
    for (size_t c = 0; c < sinks.size(); ++c) {
        recorded += sinks[c]->pictures.load();
        if (c < atFault.size())
            leastAfterFault = std::min(leastAfterFault, sinks[c]->pictures.load() - atFault[c]);
    }
    const uint64_t cameraSeconds = uint64_t(cameras) * uint64_t(steps);
    std::printf("recorded %llu s of %llu camera seconds (%.2f %%)\n", static_cast<unsigned long long>(recorded),
                static_cast<unsigned long long>(cameraSeconds),
                cameraSeconds ? 100.0 * double(recorded) / double(cameraSeconds) : 0.0);
    if (realDisks) {
        const uint64_t after = uint64_t(steps - faultStep);
        std::printf("after the fault: every camera recorded at least %llu s of %llu\n",
                    static_cast<unsigned long long>(leastAfterFault), static_cast<unsigned long long>(after));
        // Going on means more than the files that were open at the fault.
        if (leastAfterFault * 2 < after) {
            std::printf("FAIL a camera stopped recording after the fault\n");
            ok = false;
        }
    }
    if (scenario == QLatin1String("foreign"))
        std::printf("recordings removed after the foreign file: %llu\n",
                    static_cast<unsigned long long>(uint64_t(watch.removals()) - removalsBeforeFault));
    for (const QString &v : watch.violations()) {
        std::printf("FAIL oldest first: %s\n", v.toUtf8().constData());
        ok = false;
    }
    if (watch.overflowed()) {
        std::printf("FAIL the inotify queue overflowed: the order check is incomplete\n");
        ok = false;
    }
    std::printf("oldest-first check over %d removals\n", watch.removals());
    std::printf("scenario %s: cameras %d, simulated %d h, two %s disks of %llu MB (50 %% each)\n",
                scenario.toUtf8().constData(), cameras, hours, realDisks ? "tmpfs" : "fake",
                static_cast<unsigned long long>(diskMb));
    std::printf("files written %d, overwrite passes %d, files left %d (records %d)\n", filesWritten,
                storage.coverPasses(), onDiskTotal, listedTotal);
    std::printf("largest gap between two files of one camera: %.1f s of stream beyond the file length\n",
                double(largestGap) / 1000.0);
    std::printf("RSS start %ld kB, end %ld kB; wall %.1f s\n", rssStart, rssEnd, wall);
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
