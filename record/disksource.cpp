#include "record/disksource.h"

#include "common/logfile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace varno::record {

namespace {

// File systems that never hold recordings even when backed by a block device.
bool readOnlyKind(const QByteArray &fsType)
{
    static const QSet<QByteArray> kinds = {"squashfs", "iso9660", "udf", "erofs", "cramfs"};
    return kinds.contains(fsType);
}

// Volumes of the operating system itself never take recordings: the root
// file system (its home directories are reached as "~/"), boot, system and
// runtime folders, and files bind-mounted by containers.
bool systemMount(const QString &mountPoint)
{
    if (mountPoint == QLatin1String("/"))
        return true;
    static const char *const prefixes[] = {"/boot", "/usr", "/var", "/etc", "/opt", "/proc", "/sys",
                                           "/dev", "/tmp", "/snap", "/run", "/lib", "/bin", "/sbin"};
    for (const char *p : prefixes) {
        const QLatin1String prefix(p);
        if (mountPoint == prefix || mountPoint.startsWith(prefix + QLatin1Char('/')))
            return !mountPoint.startsWith(QLatin1String("/run/media/"));
    }
    return false;
}

// /proc/self/mounts escapes blanks and a few other bytes as \ooo.
QString unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int v = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

dev_t deviceOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return dev_t(-1);
    return st.st_dev;
}

// A removable block device (USB stick, card reader) by the kernel's flag.
bool removableDevice(const QByteArray &device)
{
    const QString name = QFileInfo(QFile::decodeName(device)).canonicalFilePath().section('/', -1);
    if (name.isEmpty())
        return false;
    QString dir = QStringLiteral("/sys/class/block/") + name;
    for (int up = 0; up < 2; ++up) {
        QFile f(dir + QStringLiteral("/removable"));
        if (f.open(QIODevice::ReadOnly))
            return f.readAll().trimmed() == "1";
        dir = QFileInfo(dir).canonicalFilePath() + QStringLiteral("/..");
    }
    return false;
}

} // namespace

QList<DiskEntry> SystemDiskSource::fromMountTable(const QByteArray &mounts, const QString &homeDir)
{
    QList<DiskEntry> out;
    const dev_t homeDev = deviceOf(homeDir);
    out.append({QStringLiteral("~/"), QDir::cleanPath(homeDir), kDiskFixed});
    QSet<dev_t> seen;
    seen.insert(homeDev);
    QSet<QString> roots;
    roots.insert(QStringLiteral("~/"));
    for (const QByteArray &line : mounts.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 4 || !f[0].startsWith("/dev/") || readOnlyKind(f[2]))
            continue;
        if (f[3].split(',').contains("ro"))
            continue;
        const QString mountPoint = unescapeMountField(f[1]);
        if (systemMount(mountPoint))
            continue;
        QString root = mountPoint.endsWith('/') ? mountPoint : mountPoint + QLatin1Char('/');
        // Most mount points ("/media/<user>/<label>", "/mnt/backup") do not
        // fit the stored root's 7 characters: they get a short name made
        // from the mount point, the same at every start.
        if (root.toUtf8().size() > int(kDiskRootSize) - 1)
            root = aliasRoot(mountPoint);
        if (roots.contains(root)) {
            if (root.startsWith(QLatin1Char(kAliasMark)))
                WriteLog(3, "%s(%d):Disk(%s) name(%s) is taken, left out!!!", "SystemDiskSource::disks", __LINE__,
                         QFile::encodeName(mountPoint).constData(), root.toUtf8().constData());
            continue;
        }
        const dev_t dev = deviceOf(mountPoint);
        if (dev == dev_t(-1) || seen.contains(dev))
            continue;
        if (::access(QFile::encodeName(mountPoint).constData(), W_OK) != 0)
            continue;
        seen.insert(dev);
        roots.insert(root);
        out.append({root, QDir::cleanPath(mountPoint), removableDevice(f[0]) ? kDiskRemovable : kDiskFixed});
    }
    return out;
}

QString SystemDiskSource::aliasRoot(const QString &mountPoint)
{
    // FNV-1a of the mount point, 25 bits in five letters and digits.
    quint32 h = 2166136261u;
    for (const char c : QFile::encodeName(QDir::cleanPath(mountPoint))) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    static const char digits[] = "abcdefghijkmnpqrstuvwxyz23456789";
    QString root(1, QLatin1Char(kAliasMark));
    for (int i = 0; i < 5; ++i, h >>= 5)
        root += QLatin1Char(digits[h & 31]);
    return root + QLatin1Char('/');
}

QList<DiskEntry> SystemDiskSource::disks()
{
    QFile f(QStringLiteral("/proc/self/mounts"));
    QByteArray table;
    if (f.open(QIODevice::ReadOnly))
        table = f.readAll();
    const QList<DiskEntry> entries = fromMountTable(table, QDir::homePath());
    std::lock_guard lock(m_mutex);
    for (const DiskEntry &e : entries)
        m_dirs.insert(e.root, e.dir);
    return entries;
}

bool SystemDiskSource::space(const QString &root, quint64 *freeBytes, quint64 *totalBytes)
{
    QString dir;
    if (root == QLatin1String("~/")) {
        dir = QDir::homePath();
    } else {
        std::lock_guard lock(m_mutex);
        dir = m_dirs.value(root);
    }
    if (dir.isEmpty()) {
        if (!root.startsWith('/'))
            return false;
        dir = root;
    }
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(dir).constData(), &st) != 0)
        return false;
    spaceOf(st, freeBytes, totalBytes);
    return true;
}

void SystemDiskSource::spaceOf(const struct statvfs &st, quint64 *freeBytes, quint64 *totalBytes)
{
    *freeBytes = quint64(st.f_bavail) * st.f_frsize;
    *totalBytes = quint64(st.f_blocks) * st.f_frsize;
}

// ---------------------------------------------------------------------------

void FakeDiskSource::addDisk(const QString &root, const QString &dir, quint64 capacityBytes, int type)
{
    std::lock_guard lock(m_mutex);
    Fake f;
    f.entry = {root, QDir::cleanPath(dir), type};
    f.capacity = capacityBytes;
    QDir().mkpath(dir);
    m_disks.append(f);
}

void FakeDiskSource::setGone(const QString &root, bool gone)
{
    std::lock_guard lock(m_mutex);
    for (Fake &f : m_disks)
        if (f.entry.root == root)
            f.gone = gone;
}

QList<DiskEntry> FakeDiskSource::disks()
{
    std::lock_guard lock(m_mutex);
    QList<DiskEntry> out;
    for (const Fake &f : m_disks)
        out.append(f.entry);
    return out;
}

bool FakeDiskSource::space(const QString &root, quint64 *freeBytes, quint64 *totalBytes)
{
    QString dir;
    quint64 capacity = 0;
    {
        std::lock_guard lock(m_mutex);
        for (const Fake &f : m_disks) {
            if (f.entry.root == root && !f.gone) {
                dir = f.entry.dir;
                capacity = f.capacity;
            }
        }
    }
    if (dir.isEmpty() || !QFileInfo::exists(dir))
        return false;
    quint64 used = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        used += quint64(it.fileInfo().size());
    }
    *totalBytes = capacity;
    *freeBytes = used >= capacity ? 0 : capacity - used;
    return true;
}

// ---------------------------------------------------------------------------

namespace {
std::mutex g_sourceMutex;
std::shared_ptr<DiskSource> g_source;
} // namespace

std::shared_ptr<DiskSource> diskSource()
{
    std::lock_guard lock(g_sourceMutex);
    if (!g_source)
        g_source = std::make_shared<SystemDiskSource>();
    return g_source;
}

void setDiskSource(std::shared_ptr<DiskSource> source)
{
    std::lock_guard lock(g_sourceMutex);
    g_source = std::move(source);
}

} // namespace varno::record
