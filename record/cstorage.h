#pragma once

#include "common/storagerecords.h"
#include "record/disksource.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unordered_map>

// What "storage.db" holds, parsed: the head fields and the disk records.
struct StorageFileContents
{
    uint32_t recordAlarmType = 0;
    QByteArray capturePath;        // without terminator
    QByteArray recordDir;          // without terminator, at most 31 bytes
    uint32_t cover = 0;
    QVector<StorageDisk_s> disks;  // names terminated within their 8 bytes
};

// Parses an image of "storage.db". False (nothing loaded) for fewer than
// 312 bytes, more than kMaxStorageDisks records, a stored count that is not
// the number of records the length holds, or a record folder that leaves
// the drive root. Text fields are cut at their terminator; cover becomes 0
// or 1 and percent 0 ... 100.
inline constexpr int kMaxStorageDisks = 64;
bool parseStorageDb(const QByteArray &image, StorageFileContents *out);
// The image SaveStorageConfig writes.
QByteArray buildStorageDb(const StorageFileContents &contents);

// The storage configuration as the settings page and the recording search
// read it (a copy; the manager may replace its own at any time).
struct StorageConfig
{
    QByteArray recordDir;
    uint32_t cover = 0;
    QVector<StorageDisk_s> disks;
    int count() const { return int(disks.size()); }
};

// The storage manager: the disks of the machine (through the disk seam),
// the storage configuration kept in "storage.db" in the installation
// directory, the snapshot folder, and the record folder for each new
// recording file, switching to the next record disk when one is full and
// overwriting the oldest recordings of the folder's filelist when every
// disk is full and overwriting is on.
//
// Thread-safe: the recorders' threads and the user-interface thread call it
// at once. One mutex serialises getRecordSavePath, the overwrite pass and
// SaveStorageConfig; the overwrite pass also holds the recording file
// library's filelist lock (taken after the manager's own) while it reads,
// deletes and rewrites a filelist, so a recorder creating or closing a file
// in that folder at the same moment never loses its record.
//
// The size of a record folder (what lies directly in it) is walked once and
// then kept up to date from the folder's change notifications (inotify):
// every file created, closed after writing, deleted or moved there, by the
// recorders, the overwrite pass or anybody else, is looked at again; files
// still being written are looked at on every request. The folder is walked
// again when the notifications overflowed, when the folder itself went away
// or was moved, and once an hour. Without notifications (watch limit
// reached) the folder is walked on every request, as before. The figures
// are guarded by the manager's mutex like the rest of its state.
//
// Sizes: GB = 1024^3 bytes, MB = 1024^2 bytes.
class CStorage
{
public:
    // The process-wide manager over diskSource() and the installation
    // directory; created on the first call, never destroyed.
    static CStorage *Instance();

    // A manager of its own (tests, the soak): loads appDir/storage.db.
    CStorage(std::shared_ptr<varno::record::DiskSource> disks, const QString &appDir);
    ~CStorage();
    CStorage(const CStorage &) = delete;
    CStorage &operator=(const CStorage &) = delete;

    // The record folder for the next recording file (absolute path, at most
    // 255 bytes) into out; 0, or -1 when there is no record disk or every
    // disk is full and overwriting is off, kSavePathCoverFailed when an
    // overwrite pass left the disk without room (something else fills it),
    // kSavePathDiskGone when every record disk went away. A disk whose
    // folder vanished or lies on another file system than at start-up
    // (unmounted, another disk mounted there) is skipped, as if full.
    enum : int { kSavePathCoverFailed = -2, kSavePathDiskGone = -3 };
    int getRecordSavePath(char out[256]);
    QList<RecordDisk_s> getRecordDiskList() const;
    QList<DiskInfo_s> getDiskList() const;
    StorageConfig getStorageConfig() const;
    QString getCapturePath() const;
    int getRecordAlarmType() const;
    void addRecordCount(int delta);
    int recordCount() const { return m_recordCount.load(); }

    // Writes "storage.db" and adopts the configuration: the record folders
    // are created and the record-disk list rebuilt. The alarm recording
    // setting is kept (first form) or replaced (second form).
    bool SaveStorageConfig(const QString &capturePath, const StorageInfo_s *config);
    bool SaveStorageConfig(const QString &capturePath, const StorageInfo_s *config, int recordAlarmType);

    // Space of a disk by its root; 0, or -1 when the disk cannot be queried.
    int getDiskSpaceG(const QString &root, float *freeG, float *totalG);
    int getDiskSpaceM(const QString &root, float *freeM, float *totalM);

    // The absolute folder a drive root stands for ("~/" is the home
    // directory), and the record folder of a disk record's name (root
    // followed by recordDir). Empty for an unknown root.
    QString diskDir(const QString &root) const;
    QString recordFolder(const QString &root) const;

    // The overwrite pass goes on past its ten records while it has freed
    // fewer bytes than this (default 220 MB, one recording's reserve).
    void setCoverThresholdBytes(quint64 bytes);
    // The overwrite pass never removes a recording that started less than
    // this long ago (default one hour).
    void setCoverFloorSeconds(qint64 seconds);
    // What each recording in progress reserves (default 220 MB); the soak
    // scales it down with its small files and disks.
    void setReserveBytes(quint64 bytes);
    // Overwrite passes run so far.
    int coverPasses() const { return m_coverPasses.load(); }
    bool allDisksFull() const;
    int currentDisk() const;
    // The bytes the manager counts in the record folder of a disk root (the
    // figure getRecordSavePath uses), and how many times it has walked a
    // record folder so far.
    quint64 recordFolderBytes(const QString &root);
    int folderWalks() const { return m_folderWalks.load(); }
    QString storageFile() const { return m_storageFile; }
    // Where a damaged "storage.db" found at creation was set aside (its
    // settings were reset to the defaults); returned once, empty afterwards
    // and when there was none. When the file could not even be set aside it
    // is kept and SaveStorageConfig refuses to write over it.
    QString takeResetNotice();

private:
    void GetLocalStorageInfo();
    void InitDiskInfo();
    void InitStorSize();
    void InitCapturePath();
    struct FolderFigure;
    double getRecordDirSize(const QString &folder);
    quint64 recordDirBytes(const QString &folder);
    quint64 walkFolder(const std::string &dir, FolderFigure *figure);
    void drainWatches();
    void dropFigure(const std::string &dir);
    void CoverFile();
    bool measureUsable(int index);
    bool diskPresent(const QString &root);
    QString recordFolderLocked(const QString &root) const;

    std::shared_ptr<varno::record::DiskSource> m_source;
    mutable std::recursive_mutex m_mutex;
    QList<varno::record::DiskEntry> m_entries; // the disk list's roots and folders
    QList<dev_t> m_devices;                    // the file system of each entry at start-up
    QSet<QString> m_goneRoots;                 // disks found gone (logged once)
    qint64 m_coverFloorSeconds = 3600;
    QList<DiskInfo_s> m_disks;
    QList<RecordDisk_s> m_recordDisks;
    StorageFileContents m_config;
    bool m_haveConfig = false;
    bool m_keepStorageFile = false;
    QString m_resetNotice;
    QString m_storageFile;
    QString m_capturePath;
    bool m_allDisksFull = false;
    int m_currentDisk = 0;
    quint64 m_coverThreshold = 220ull * 1024 * 1024;
    quint64 m_reserveBytes = 220ull * 1024 * 1024;
    std::atomic<int> m_coverPasses{0};
    std::atomic<int> m_recordCount{0};
    std::atomic<int> m_folderWalks{0};
    int m_watchFd = -1;
    std::unordered_map<std::string, std::unique_ptr<FolderFigure>> m_figures; // by record folder
    std::unordered_map<int, std::string> m_watches;                            // watch -> record folder
};
