#pragma once

#include "common/storagerecords.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>

struct statvfs;

// The one seam between the storage manager and the machine's disks: which
// disks there are (by the root text that "storage.db" stores, at most 7
// characters with a trailing '/'), where each root lies in the file system,
// and how much space each has. The Linux source lists mounted, writable,
// block-device-backed local file systems; the volume of the home directory
// is the system disk "~/". Tests install fake disks: folders with made-up
// capacities.
namespace varno::record {

struct DiskEntry
{
    QString root;     // "~/", "/data/": what the storage manager shows and stores
    QString dir;      // absolute folder the root stands for, without a trailing '/'
    int type = kDiskFixed;
};

class DiskSource
{
public:
    virtual ~DiskSource() = default;
    // The disks in the order the storage manager lists them.
    virtual QList<DiskEntry> disks() = 0;
    // Free and total bytes of the disk with that root; false when the disk
    // cannot be queried (gone, unknown root).
    virtual bool space(const QString &root, quint64 *freeBytes, quint64 *totalBytes) = 0;
};

// The disks of this machine.
class SystemDiskSource : public DiskSource
{
public:
    QList<DiskEntry> disks() override;
    bool space(const QString &root, quint64 *freeBytes, quint64 *totalBytes) override;

    // Free and total bytes of a file system as statvfs reports them. Free is
    // what a user other than root may still write: the blocks the file
    // system keeps for root are left out.
    static void spaceOf(const struct statvfs &st, quint64 *freeBytes, quint64 *totalBytes);

    // The entries of a mount table text (the format of /proc/self/mounts)
    // that qualify, the volume of homeDir first as "~/" (always present).
    // The root file system and the operating system's own folders (/boot,
    // /usr, /var, /run except /run/media, ...) never qualify. A mount point
    // longer than the root's 7 characters gets aliasRoot() as its root.
    static QList<DiskEntry> fromMountTable(const QByteArray &mounts, const QString &homeDir);

    // The short root of a long mount point: kAliasMark, five letters or
    // digits from a digest of the path, '/' ("@k3f9a/").
    static constexpr char kAliasMark = '@';
    static QString aliasRoot(const QString &mountPoint);

private:
    std::mutex m_mutex;
    QHash<QString, QString> m_dirs; // root -> folder, from the last disks()
};

// Fake disks for tests and the soak: each is a folder whose capacity is made
// up; its free space is the capacity minus the bytes of the files below the
// folder (apparent sizes, so sparse files fill it cheaply).
class FakeDiskSource : public DiskSource
{
public:
    // Adds a disk; root must end with '/' and fit the 8-byte field.
    void addDisk(const QString &root, const QString &dir, quint64 capacityBytes, int type = kDiskFixed);
    // A disk that disappears (or comes back): space() fails while it is gone.
    void setGone(const QString &root, bool gone);

    QList<DiskEntry> disks() override;
    bool space(const QString &root, quint64 *freeBytes, quint64 *totalBytes) override;

private:
    struct Fake
    {
        DiskEntry entry;
        quint64 capacity = 0;
        bool gone = false;
    };
    std::mutex m_mutex;
    QList<Fake> m_disks;
};

// The source the storage manager's singleton uses; the system's unless a
// test or the soak installed another before the first CStorage::Instance().
std::shared_ptr<DiskSource> diskSource();
void setDiskSource(std::shared_ptr<DiskSource> source);

} // namespace varno::record
