#include "record/cstorage.h"

#include "common/configfile.h"
#include "common/installdir.h"
#include "common/logfile.h"
#include "common/textfield.h"
#include "platform/recfile/filelist.h"
#include "platform/recfile/record_local.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_set>
#include <chrono>
#include <utility>

using varno::record::DiskEntry;
using varno::record::DiskSource;

namespace {

constexpr qsizetype kHeadSize = sizeof(StorageFileHead_s);
constexpr qsizetype kDiskSize = sizeof(StorageDisk_s);
constexpr double kGB = 1024.0 * 1024.0 * 1024.0;
constexpr double kMB = 1024.0 * 1024.0;
constexpr int kCoverEntries = 10;

QByteArray fieldBytes(const char *field, size_t size)
{
    return QByteArray(field, qsizetype(varno::textLength(field, size)));
}

// The file system a folder lies on; (dev_t)-1 when it cannot be reached.
dev_t deviceOf(const QString &dir)
{
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return dev_t(-1);
    return st.st_dev;
}

// A record folder name must stay below its drive root.
bool safeRecordDir(const QByteArray &dir)
{
    if (dir.isEmpty() || dir.startsWith('/'))
        return false;
    for (const QByteArray &part : dir.split('/'))
        if (part == "..")
            return false;
    return true;
}

} // namespace

bool parseStorageDb(const QByteArray &image, StorageFileContents *out)
{
    if (!out || image.size() < kHeadSize + kDiskSize)
        return false;
    const qsizetype n = (image.size() - kHeadSize) / kDiskSize;
    if (n > kMaxStorageDisks)
        return false;
    StorageFileHead_s head;
    std::memcpy(&head, image.constData(), sizeof head);
    if (head.count != n)
        return false;
    StorageFileContents c;
    c.recordAlarmType = head.recordAlarmType <= 3 ? head.recordAlarmType : 0;
    c.capturePath = fieldBytes(head.capturePath, sizeof head.capturePath).left(sizeof head.capturePath - 1);
    c.recordDir = fieldBytes(head.recordDir, sizeof head.recordDir).left(sizeof head.recordDir - 1);
    if (!safeRecordDir(c.recordDir))
        return false;
    c.cover = head.cover != 0 ? 1 : 0;
    c.disks.resize(n);
    for (qsizetype i = 0; i < n; ++i) {
        StorageDisk_s d;
        std::memcpy(&d, image.constData() + kHeadSize + i * kDiskSize, sizeof d);
        d.name[kDiskRootSize - 1] = 0;
        d.selected = d.selected != 0 ? 1 : 0;
        d.percent = std::clamp<int16_t>(d.percent, 0, 100);
        c.disks[i] = d;
    }
    *out = std::move(c);
    return true;
}

QByteArray buildStorageDb(const StorageFileContents &c)
{
    StorageFileHead_s head;
    std::memset(&head, 0, sizeof head);
    head.recordAlarmType = c.recordAlarmType;
    varno::setText(head.capturePath, c.capturePath);
    varno::setText(head.recordDir, c.recordDir);
    head.cover = c.cover;
    head.count = int32_t(c.disks.size());
    QByteArray image(reinterpret_cast<const char *>(&head), sizeof head);
    for (const StorageDisk_s &d : c.disks)
        image.append(reinterpret_cast<const char *>(&d), sizeof d);
    return image;
}

// ---------------------------------------------------------------------------

CStorage *CStorage::Instance()
{
    // Created on first use (the main window's construction, before any
    // recorder thread exists) and never destroyed.
    static CStorage *instance = [] {
        auto *s = new (std::nothrow) CStorage(varno::record::diskSource(), QString::fromStdString(varno::installDir()));
        if (!s)
            WriteLog(1, "%s(%d):Create instance failed!!!", "CStorage::Instance", __LINE__);
        return s;
    }();
    return instance;
}

CStorage::CStorage(std::shared_ptr<DiskSource> disks, const QString &appDir)
    : m_source(std::move(disks))
{
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd < 0)
        WriteLog(3, "%s(%d):Watch record dirs failed, ret(%d)!!!", "CStorage::CStorage", __LINE__, errno);
    m_storageFile = QStringLiteral("%1/%2").arg(appDir, QStringLiteral("storage.db"));
    GetLocalStorageInfo();
    InitDiskInfo();
    InitCapturePath();
}

CStorage::~CStorage()
{
    if (m_watchFd >= 0)
        ::close(m_watchFd);
}

void CStorage::GetLocalStorageInfo()
{
    const QByteArray path = QFile::encodeName(m_storageFile);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 && errno == ENOENT) {
        QFile created(m_storageFile);
        if (!created.open(QIODevice::WriteOnly | QIODevice::Truncate))
            WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "CStorage::GetLocalStorageInfo", __LINE__,
                     path.constData(), errno);
        return;
    }
    // Whatever stands there and cannot be taken as a storage configuration
    // is set aside, never written over: it may be a good file that could
    // not be read this time.
    bool damaged = true;
    if (!S_ISREG(st.st_mode)) {
        WriteLog(2, "%s(%d):Storage file(%s) is not a file, mode(%o)!!!", "CStorage::GetLocalStorageInfo", __LINE__,
                 path.constData(), unsigned(st.st_mode));
    } else if (st.st_size > kHeadSize + kDiskSize * kMaxStorageDisks) {
        WriteLog(2, "%s(%d):Storage file(%s) is too large, length(%lld)!!!", "CStorage::GetLocalStorageInfo",
                 __LINE__, path.constData(), static_cast<long long>(st.st_size));
    } else {
        QFile file(m_storageFile);
        QByteArray image;
        if (!file.open(QIODevice::ReadOnly)) {
            WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "CStorage::GetLocalStorageInfo", __LINE__,
                     path.constData(), errno);
        } else if (image = file.readAll(); file.error() != QFileDevice::NoError || image.size() != st.st_size) {
            WriteLog(2, "%s(%d):Read file(%s) failed, ret(%d)!!!", "CStorage::GetLocalStorageInfo", __LINE__,
                     path.constData(), errno);
        } else if (image.isEmpty() || image.size() == kHeadSize) {
            return; // created empty, or saved without disks: nothing to load
        } else {
            StorageFileContents c;
            if (parseStorageDb(image, &c)) {
                m_config = std::move(c);
                m_haveConfig = true;
                m_capturePath = QString::fromUtf8(m_config.capturePath);
                damaged = false;
            } else {
                WriteLog(2, "%s(%d):Storage file(%s) is damaged, length(%lld)!!!", "CStorage::GetLocalStorageInfo",
                         __LINE__, path.constData(), static_cast<long long>(image.size()));
            }
        }
    }
    if (!damaged)
        return;
    const std::string aside = varno::setAsideFile(path.toStdString());
    if (aside.empty()) {
        WriteLog(2, "%s(%d):Storage file(%s) cannot be set aside, it is kept and not written, errno(%d)!!!",
                 "CStorage::GetLocalStorageInfo", __LINE__, path.constData(), errno);
        m_keepStorageFile = true;
        return;
    }
    WriteLog(2, "%s(%d):Storage file(%s) set aside as(%s), the storage settings are reset!!!",
             "CStorage::GetLocalStorageInfo", __LINE__, path.constData(), aside.c_str());
    m_resetNotice = QFile::decodeName(QByteArray::fromStdString(aside));
}

QString CStorage::takeResetNotice()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_resetNotice, QString());
}

void CStorage::InitDiskInfo()
{
    for (const DiskEntry &e : m_source->disks()) {
        float freeG = 0;
        float totalG = 0;
        if (getDiskSpaceG(e.root, &freeG, &totalG) != 0)
            continue;
        // Removable disks (USB disks under /media/<user>) are listed too:
        // the settings page offers them at 0 % until the user gives them a share.
        if (e.type != kDiskFixed && e.type != kDiskRemovable) {
            WriteLog(3, "%s(%d):Other disk(%s) type(%d)!!!", "CStorage::InitDiskInfo", __LINE__,
                     e.root.toUtf8().constData(), e.type);
            continue;
        }
        DiskInfo_s d;
        std::memset(&d, 0, sizeof d);
        d.type = e.type;
        varno::setText(d.path, e.root);
        d.freeG = freeG;
        d.totalG = totalG;
        m_disks.append(d);
        m_entries.append(e);
        m_devices.append(deviceOf(e.dir));
    }
}

void CStorage::InitCapturePath()
{
    if (!m_capturePath.isEmpty())
        return;
    const DiskEntry *disk = nullptr;
    if (m_entries.size() >= 2) {
        for (const DiskEntry &e : m_entries)
            if (e.root != QLatin1String("~/")) {
                disk = &e;
                break;
            }
    } else if (m_entries.size() == 1) {
        disk = &m_entries.first();
    }
    if (disk)
        m_capturePath = disk->dir + QStringLiteral("/Varno/Capture");
}

QString CStorage::diskDir(const QString &root) const
{
    std::lock_guard lock(m_mutex);
    for (const DiskEntry &e : m_entries)
        if (e.root == root)
            return e.dir;
    return {};
}

QString CStorage::recordFolderLocked(const QString &root) const
{
    for (const DiskEntry &e : m_entries)
        if (e.root == root)
            return e.dir + QLatin1Char('/') + QString::fromUtf8(m_config.recordDir);
    return {};
}

QString CStorage::recordFolder(const QString &root) const
{
    std::lock_guard lock(m_mutex);
    return recordFolderLocked(root);
}

void CStorage::InitStorSize()
{
    m_recordDisks.clear();
    m_currentDisk = 0;
    for (const StorageDisk_s &d : m_config.disks) {
        const QString name = varno::fieldText(d.name);
        int index = -1;
        for (int i = 0; i < m_disks.size(); ++i)
            if (varno::fieldText(m_disks[i].path) == name)
                index = i;
        if (index < 0) {
            WriteLog(3, "%s(%d):Can't find disk(%s)!!!", "CStorage::InitStorSize", __LINE__, name.toUtf8().constData());
            continue;
        }
        if (d.selected == 0)
            continue;
        RecordDisk_s r;
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.name, d.name, sizeof r.name);
        r.limitG = m_disks[index].totalG * float(d.percent) / 100.0f;
        m_recordDisks.append(r);
        const QString folder = recordFolderLocked(name);
        if (!QDir().mkpath(folder))
            WriteLog(2, "%s(%d):Create Dir(%s) failed, ret(%d)!!!", "CStorage::InitStorSize", __LINE__,
                     folder.toUtf8().constData(), errno);
    }
    // The system disk is filled last.
    for (int i = 0; i < m_recordDisks.size(); ++i) {
        if (varno::fieldText(m_recordDisks[i].name) == QLatin1String("~/")) {
            m_recordDisks.append(m_recordDisks.takeAt(i));
            break;
        }
    }
}

int CStorage::getDiskSpaceG(const QString &root, float *freeG, float *totalG)
{
    quint64 freeBytes = 0;
    quint64 totalBytes = 0;
    if (!m_source->space(root, &freeBytes, &totalBytes)) {
        WriteLog(2, "%s(%d):Get disk(%s) freeSpace failed!!!", "CStorage::getDiskSpaceG", __LINE__,
                 root.toUtf8().constData());
        return -1;
    }
    *freeG = float(double(freeBytes) / kGB);
    *totalG = float(double(totalBytes) / kGB);
    return 0;
}

int CStorage::getDiskSpaceM(const QString &root, float *freeM, float *totalM)
{
    quint64 freeBytes = 0;
    quint64 totalBytes = 0;
    if (!m_source->space(root, &freeBytes, &totalBytes)) {
        WriteLog(2, "%s(%d):Get disk(%s) freeSpace failed!!!", "CStorage::getDiskSpaceM", __LINE__,
                 root.toUtf8().constData());
        return -1;
    }
    *freeM = float(double(freeBytes) / kMB);
    *totalM = float(double(totalBytes) / kMB);
    return 0;
}

// What the manager knows of one record folder: the size of every regular
// file directly in it, their total, and the files created there that have
// not been closed after writing yet (they may still grow).
struct CStorage::FolderFigure
{
    int watch = -1;
    bool valid = false;
    quint64 total = 0;
    std::unordered_map<std::string, quint64> sizes;
    std::unordered_set<std::string> growing;
    std::chrono::steady_clock::time_point measuredAt;

    // Looks at one name again: its size now, or gone.
    void restat(const std::string &dir, const std::string &name)
    {
        struct stat st {};
        const auto it = sizes.find(name);
        if (::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            const quint64 size = quint64(st.st_size);
            if (it == sizes.end()) {
                sizes.emplace(name, size);
                total += size;
            } else {
                total = total - it->second + size;
                it->second = size;
            }
            return;
        }
        growing.erase(name);
        if (it != sizes.end()) {
            total -= it->second;
            sizes.erase(it);
        }
    }
};

namespace {
constexpr uint32_t kWatchMask = IN_CREATE | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF
    | IN_MOVE_SELF | IN_ONLYDIR;
constexpr auto kRemeasureAfter = std::chrono::hours(1);
} // namespace

quint64 CStorage::walkFolder(const std::string &dir, FolderFigure *figure)
{
    // Only the folder's own entries: recordings never lie in sub-folders.
    ++m_folderWalks;
    if (figure) {
        figure->sizes.clear();
        figure->total = 0;
    }
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    const int fd = ::dirfd(d);
    quint64 bytes = 0;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            bytes += quint64(st.st_size);
            if (figure)
                figure->sizes.emplace(e->d_name, quint64(st.st_size));
        }
    }
    ::closedir(d);
    if (figure)
        figure->total = bytes;
    return bytes;
}

void CStorage::dropFigure(const std::string &dir)
{
    const auto it = m_figures.find(dir);
    if (it == m_figures.end())
        return;
    m_watches.erase(it->second->watch);
    m_figures.erase(it);
}

void CStorage::drainWatches()
{
    if (m_watchFd < 0)
        return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_watchFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN: nothing more queued
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                // Changes were lost: every folder is walked again.
                for (auto &[dir, figure] : m_figures)
                    figure->valid = false;
                continue;
            }
            const auto w = m_watches.find(e->wd);
            if (w == m_watches.end())
                continue;
            const std::string dir = w->second;
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                // The folder went away or moved: the next request starts afresh.
                if (!(e->mask & IN_IGNORED))
                    ::inotify_rm_watch(m_watchFd, e->wd);
                dropFigure(dir);
                continue;
            }
            FolderFigure &figure = *m_figures.at(dir);
            if (e->len == 0 || (e->mask & IN_ISDIR))
                continue;
            const std::string name(e->name);
            if (e->mask & IN_CREATE)
                figure.growing.insert(name);
            if (e->mask & (IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM))
                figure.growing.erase(name);
            figure.restat(dir, name);
        }
    }
}

quint64 CStorage::recordDirBytes(const QString &folder)
{
    const std::string dir = QFile::encodeName(folder).toStdString();
    drainWatches();
    FolderFigure *figure = nullptr;
    if (const auto it = m_figures.find(dir); it != m_figures.end())
        figure = it->second.get();
    if (!figure) {
        const int watch = m_watchFd >= 0 ? ::inotify_add_watch(m_watchFd, dir.c_str(), kWatchMask) : -1;
        if (watch < 0 || m_watches.count(watch)) {
            // Not watchable (missing folder, watch limit, the same folder
            // under another name): measured on every request.
            if (watch < 0 && errno != ENOENT && errno != ENOTDIR)
                WriteLog(3, "%s(%d):Watch dir(%s) failed, ret(%d)!!!", "CStorage::getRecordDirSize", __LINE__,
                         dir.c_str(), errno);
            return walkFolder(dir, nullptr);
        }
        auto created = std::make_unique<FolderFigure>();
        created->watch = watch;
        figure = created.get();
        m_figures.emplace(dir, std::move(created));
        m_watches.emplace(watch, dir);
    }
    const auto now = std::chrono::steady_clock::now();
    if (!figure->valid || now - figure->measuredAt > kRemeasureAfter) {
        // The watch is in place before the walk: what changes meanwhile is
        // queued and looked at again below.
        walkFolder(dir, figure);
        figure->valid = true;
        figure->measuredAt = now;
        drainWatches();
        const auto it = m_figures.find(dir);
        if (it == m_figures.end())
            return walkFolder(dir, nullptr);
        figure = it->second.get();
    }
    // Files still being written grow without notice until they are closed.
    const std::vector<std::string> growing(figure->growing.begin(), figure->growing.end());
    for (const std::string &name : growing)
        figure->restat(dir, name);
    const std::string prefix = dir + "/";
    for (const std::string &path : varno::recfile::filesBeingWritten())
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0
            && path.find('/', prefix.size()) == std::string::npos)
            figure->restat(dir, path.substr(prefix.size()));
    return figure->total;
}

double CStorage::getRecordDirSize(const QString &folder)
{
    return double(recordDirBytes(folder)) / kGB;
}

quint64 CStorage::recordFolderBytes(const QString &root)
{
    std::lock_guard lock(m_mutex);
    const QString folder = recordFolderLocked(root);
    return folder.isEmpty() ? 0 : recordDirBytes(folder);
}

// Each disk tried is measured on its own: its free space, what its record
// folder holds and the reserve of the recordings in progress.
bool CStorage::diskPresent(const QString &root)
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].root != root)
            continue;
        // Gone, or another file system mounted (or the parent's showing)
        // where the disk was: recordings would land where nobody looks.
        const dev_t now = deviceOf(m_entries[i].dir);
        const bool present = now != dev_t(-1) && now == m_devices[i];
        if (!present && !m_goneRoots.contains(root)) {
            m_goneRoots.insert(root);
            WriteLog(2, "%s(%d):Record disk(%s) at(%s) went away!!!", "CStorage::diskPresent", __LINE__,
                     root.toUtf8().constData(), QFile::encodeName(m_entries[i].dir).constData());
        } else if (present && m_goneRoots.remove(root)) {
            WriteLog(0, "[STORAGE]Record disk(%s) is back!!!", root.toUtf8().constData());
        }
        return present;
    }
    return false;
}

bool CStorage::measureUsable(int index)
{
    const RecordDisk_s &disk = m_recordDisks[index];
    const QString root = varno::fieldText(disk.name);
    if (!diskPresent(root))
        return false;
    float freeG = 0;
    float totalG = 0;
    if (getDiskSpaceG(root, &freeG, &totalG) != 0)
        freeG = 0;
    const double reserveMB = double(m_recordCount.load()) * double(m_reserveBytes) / kMB;
    const double usedG = getRecordDirSize(recordFolderLocked(root)) + reserveMB / 1024.0;
    return double(disk.limitG) > usedG && reserveMB <= double(freeG) * 1024.0 && freeG > 0;
}

int CStorage::getRecordSavePath(char out[256])
{
    std::lock_guard lock(m_mutex);
    const int n = int(m_recordDisks.size());
    if (n == 0)
        return -1;
    if (m_currentDisk < 0 || m_currentDisk >= n)
        m_currentDisk = 0;

    auto search = [&]() {
        while (m_currentDisk < n) {
            if (measureUsable(m_currentDisk))
                return true;
            WriteLog(3, "%s(%d):Current disk(%d) is full, need to switch!!!", "CStorage::getRecordSavePath",
                     __LINE__, m_currentDisk);
            ++m_currentDisk;
        }
        return false;
    };

    // Disks that went away are no cause for overwriting the others.
    auto everyDiskGone = [&] {
        for (const RecordDisk_s &d : m_recordDisks)
            if (diskPresent(varno::fieldText(d.name)))
                return false;
        return true;
    };
    // After a pass the disk must have one recording's reserve free (the
    // folder's own share is the pass's business, as before); without it
    // the recordings are not what fills the disk, and the next present disk
    // is overwritten instead. Only when no disk gains room does recording
    // stop.
    auto coverAndCheck = [&]() -> int {
        for (int tried = 0; tried < n; ++tried, m_currentDisk = (m_currentDisk + 1) % n) {
            const QString root = varno::fieldText(m_recordDisks[m_currentDisk].name);
            if (!diskPresent(root))
                continue;
            CoverFile();
            quint64 freeBytes = 0;
            quint64 totalBytes = 0;
            const quint64 need = std::max<quint64>(1, m_reserveBytes);
            if (!m_source->space(root, &freeBytes, &totalBytes) || freeBytes >= need)
                return 0;
            WriteLog(2, "%s(%d):Cover on disk(%d) did not free enough space, something else fills the disk!!!",
                     "CStorage::getRecordSavePath", __LINE__, m_currentDisk);
        }
        return kSavePathCoverFailed;
    };

    if (!m_allDisksFull || m_config.cover == 0) {
        if (!search()) {
            m_currentDisk = 0;
            if (everyDiskGone()) {
                WriteLog(2, "%s(%d):Every record disk went away!!!", "CStorage::getRecordSavePath", __LINE__);
                return kSavePathDiskGone;
            }
            m_allDisksFull = true;
            if (m_config.cover == 0) {
                WriteLog(3, "%s(%d):Current disk(%d) is full, can't cover!!!", "CStorage::getRecordSavePath",
                         __LINE__, 0);
                return -1;
            }
            WriteLog(3, "%s(%d):Current disk(%d) is full, cover!!!", "CStorage::getRecordSavePath", __LINE__, 0);
            while (!diskPresent(varno::fieldText(m_recordDisks[m_currentDisk].name)))
                ++m_currentDisk; // not every disk is gone
            if (const int r = coverAndCheck(); r != 0)
                return r;
        }
    } else if (!measureUsable(m_currentDisk)) {
        if (everyDiskGone()) {
            WriteLog(2, "%s(%d):Every record disk went away!!!", "CStorage::getRecordSavePath", __LINE__);
            return kSavePathDiskGone;
        }
        do {
            WriteLog(3, "%s(%d):Current disk(%d) is full, need to switch!!!", "CStorage::getRecordSavePath",
                     __LINE__, m_currentDisk);
            ++m_currentDisk;
            if (m_currentDisk >= n) {
                WriteLog(3, "%s(%d):Current disk(%d) is full, cover!!!", "CStorage::getRecordSavePath", __LINE__,
                         m_currentDisk);
                m_currentDisk = 0;
            }
        } while (!diskPresent(varno::fieldText(m_recordDisks[m_currentDisk].name)));
        if (const int r = coverAndCheck(); r != 0)
            return r;
    }

    const QByteArray folder = recordFolderLocked(varno::fieldText(m_recordDisks[m_currentDisk].name)).toUtf8();
    if (folder.isEmpty() || folder.size() > 255) {
        WriteLog(2, "%s(%d):Record dir(%s) is invalid!!!", "CStorage::getRecordSavePath", __LINE__, folder.constData());
        return -1;
    }
    varno::setText(out, 256, folder);
    WriteLog(0, "[STORAGE]Current record dir(%s)!!!", folder.constData());
    return 0;
}

void CStorage::CoverFile()
{
    WriteLog(0, "[STORAGE]Request cover record!!!");
    ++m_coverPasses;
    const QString folder = recordFolderLocked(varno::fieldText(m_recordDisks[m_currentDisk].name));
    const std::string dir = QFile::encodeName(folder).toStdString();
    const std::string listPath = varno::recfile::filelistPath(dir);

    // The recording file library appends and completes records under this
    // lock: the whole read, delete and rewrite is one step for it.
    RecordFilelistLocker listLock;
    std::vector<MEDIA_FILE_S> records;
    struct stat listed {};
    if (::stat(listPath.c_str(), &listed) != 0 || !varno::recfile::readFilelist(dir, records)) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "CStorage::CoverFile", __LINE__, listPath.c_str(),
                 errno);
        return;
    }
    const int count = int(records.size());
    if (count == 0) {
        WriteLog(3, "%s(%d):Filelist is empty!!!", "CStorage::CoverFile", __LINE__);
        return;
    }

    int k = std::min(kCoverEntries, count);
    double freed = 0;
    // Recordings younger than the floor are never overwritten: when only
    // they are left, something else fills the disk.
    const int64_t floorKey =
        varno::recfile::timeKey(varno::recfile::mediaTime(QDateTime::currentDateTime().addSecs(-m_coverFloorSeconds)));
    std::vector<MEDIA_FILE_S> kept; // records of files still being written stay listed
    for (int i = 0; i < k; ++i) {
        const MEDIA_FILE_S &r = records[size_t(i)];
        const bool writing = varno::recfile::isPlainFileName(r.fileName, sizeof r.fileName)
            && Record_local_IsFileBeingWritten(
                (dir + "/" + std::string(r.fileName, ::strnlen(r.fileName, sizeof r.fileName))).c_str());
        if (!writing && varno::recfile::timeKey(r.startTime) > floorKey) {
            WriteLog(3, "%s(%d):Cover stops at recording(%s), younger than %lld s!!!", "CStorage::CoverFile",
                     __LINE__, varno::fieldText(r.fileName).toUtf8().constData(),
                     static_cast<long long>(m_coverFloorSeconds));
            k = i;
            break;
        }
        const bool plain = varno::recfile::isPlainFileName(r.fileName, sizeof r.fileName);
        const std::string path = dir + "/" + std::string(r.fileName, ::strnlen(r.fileName, sizeof r.fileName));
        struct stat st {};
        if (plain && Record_local_IsFileBeingWritten(path.c_str())) {
            kept.push_back(r);
            k = std::min(k + 1, count);
        } else if (plain && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            freed += double(st.st_size);
            ::unlink(path.c_str());
            WriteLog(0, "[STORAGE]Disk is full, remove file(%s)!!!", path.c_str());
        } else {
            k = std::min(k + 1, count);
            WriteLog(3, "%s(%d):Remove file(%s) failed!!!", "CStorage::CoverFile", __LINE__, path.c_str());
        }
        if (freed < double(m_coverThreshold) && i == k - 1 && k < count) {
            ++k;
            WriteLog(0, "[STORAGE]Disk is full, remove size(%lf)!!!", freed);
        }
    }
    kept.insert(kept.end(), records.begin() + k, records.end());
    varno::recfile::writeFilelist(dir, kept);
    WriteLog(0, "[STORAGE]Cover record finished!!!");
}

QList<RecordDisk_s> CStorage::getRecordDiskList() const
{
    std::lock_guard lock(m_mutex);
    return m_recordDisks;
}

QList<DiskInfo_s> CStorage::getDiskList() const
{
    std::lock_guard lock(m_mutex);
    return m_disks;
}

StorageConfig CStorage::getStorageConfig() const
{
    std::lock_guard lock(m_mutex);
    StorageConfig c;
    if (m_haveConfig) {
        c.recordDir = m_config.recordDir;
        c.cover = m_config.cover;
        c.disks = m_config.disks;
    }
    return c;
}

QString CStorage::getCapturePath() const
{
    std::lock_guard lock(m_mutex);
    return m_capturePath;
}

int CStorage::getRecordAlarmType() const
{
    std::lock_guard lock(m_mutex);
    return int(m_config.recordAlarmType);
}

void CStorage::addRecordCount(int delta)
{
    int now = m_recordCount.load();
    while (!m_recordCount.compare_exchange_weak(now, std::max(0, now + delta))) {
    }
}

bool CStorage::SaveStorageConfig(const QString &capturePath, const StorageInfo_s *config)
{
    return SaveStorageConfig(capturePath, config, getRecordAlarmType());
}

bool CStorage::SaveStorageConfig(const QString &capturePath, const StorageInfo_s *config, int recordAlarmType)
{
    if (!config || config->count < 0 || config->count > kMaxStorageDisks || (config->count > 0 && !config->disks))
        return false;
    std::lock_guard lock(m_mutex);
    StorageFileContents c;
    c.recordAlarmType = recordAlarmType >= 0 && recordAlarmType <= 3 ? uint32_t(recordAlarmType) : 0;
    QString cap = capturePath;
    cap.replace(QLatin1Char('\\'), QLatin1Char('/'));
    c.capturePath = cap.toUtf8().left(255);
    c.recordDir = fieldBytes(config->recordDir, sizeof config->recordDir);
    if (!safeRecordDir(c.recordDir)) {
        WriteLog(2, "%s(%d):Record dir(%s) is invalid!!!", "CStorage::SaveStorageConfig", __LINE__,
                 c.recordDir.constData());
        return false;
    }
    c.cover = config->cover != 0 ? 1 : 0;
    for (int i = 0; i < config->count; ++i) {
        StorageDisk_s d = config->disks[i];
        d.name[kDiskRootSize - 1] = 0;
        d.percent = std::clamp<int16_t>(d.percent, 0, 100);
        d.selected = d.selected != 0 ? 1 : 0;
        c.disks.append(d);
    }

    // Written beside the old file and renamed over it: a failed write
    // leaves the previous configuration whole.
    const QByteArray path = QFile::encodeName(m_storageFile);
    if (m_keepStorageFile) {
        WriteLog(2, "%s(%d):Storage file(%s) could not be read or set aside, not written!!!",
                 "CStorage::SaveStorageConfig", __LINE__, path.constData());
        return false;
    }
    const QString temp = m_storageFile + QStringLiteral(".new");
    QFile file(temp);
    const QByteArray image = buildStorageDb(c);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size() || !file.flush()) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "CStorage::SaveStorageConfig", __LINE__,
                 path.constData(), errno);
        file.remove();
        return false;
    }
    file.close();
    if (::rename(QFile::encodeName(temp).constData(), path.constData()) != 0) {
        WriteLog(2, "%s(%d):Open file(%s) failed, ret(%d)!!!", "CStorage::SaveStorageConfig", __LINE__,
                 path.constData(), errno);
        QFile::remove(temp);
        return false;
    }
    if (!cap.isEmpty() && !QDir().mkpath(cap))
        WriteLog(2, "%s(%d):Create Dir(%s) failed, ret(%d)!!!", "CStorage::SaveStorageConfig", __LINE__,
                 cap.toUtf8().constData(), errno);
    m_capturePath = QString::fromUtf8(c.capturePath);
    m_config = std::move(c);
    m_haveConfig = true;
    InitStorSize();
    return true;
}

void CStorage::setCoverThresholdBytes(quint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_coverThreshold = bytes;
}

void CStorage::setCoverFloorSeconds(qint64 seconds)
{
    std::lock_guard lock(m_mutex);
    m_coverFloorSeconds = seconds;
}

void CStorage::setReserveBytes(quint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_reserveBytes = bytes;
}

bool CStorage::allDisksFull() const
{
    std::lock_guard lock(m_mutex);
    return m_allDisksFull;
}

int CStorage::currentDisk() const
{
    std::lock_guard lock(m_mutex);
    return m_currentDisk;
}
