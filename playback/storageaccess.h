#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// What the recording search and the download need from the storage
// manager: the record folders of the storage configuration and the free
// space of a disk. The program installs the storage manager's; tests
// install folders of their own.
namespace varno::playback {

class StorageAccess
{
public:
    virtual ~StorageAccess() = default;
    // The record folder of every disk record of the configuration (selected
    // or not), in configuration order. -1 when there is no valid storage
    // configuration.
    virtual int recordFolders(QStringList *folders) = 0;
    // Free space in MB of the disk that holds path; -1 when it cannot be
    // queried.
    virtual int diskSpaceM(const QString &path, double *freeM) = 0;
};

// The access in use (never null): by default one with no storage
// configuration that measures disks with the file system's own figures.
StorageAccess *storageAccess();
void setStorageAccess(std::shared_ptr<StorageAccess> access);

// Free space of the file system holding path (or its nearest existing
// parent), in MB; -1 on failure.
int fileSystemFreeM(const QString &path, double *freeM);

} // namespace varno::playback
