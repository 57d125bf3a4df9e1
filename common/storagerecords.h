#pragma once

#include <cstddef>
#include <cstdint>

// Records of the storage manager: the disks of the machine, the disks that
// take recordings, and the storage configuration kept in "storage.db".
// Text fields are NUL-terminated UTF-8; fill them with varno::setText
// (common/textfield.h).

// Size of a drive-root field ("~/", "/data/"), terminator included.
inline constexpr size_t kDiskRootSize = 8;

// Drive types of DiskInfo_s::type.
inline constexpr int32_t kDiskFixed = 1;
inline constexpr int32_t kDiskRemovable = 2;

// One disk of the machine with its space in GB (1024^3 bytes).
struct DiskInfo_s
{
    int32_t type;              // kDiskFixed; the settings page also knows kDiskRemovable
    char path[kDiskRootSize];  // drive root with a trailing '/'
    float freeG;
    float totalG;
};

static_assert(sizeof(DiskInfo_s) == 20);
static_assert(offsetof(DiskInfo_s, type) == 0);
static_assert(offsetof(DiskInfo_s, path) == 4);
static_assert(offsetof(DiskInfo_s, freeG) == 12);
static_assert(offsetof(DiskInfo_s, totalG) == 16);

// A disk that may take recordings, with the most its record folder may
// hold (GB).
struct RecordDisk_s
{
    char name[kDiskRootSize];  // drive root
    float limitG;
};

static_assert(sizeof(RecordDisk_s) == 12);
static_assert(offsetof(RecordDisk_s, name) == 0);
static_assert(offsetof(RecordDisk_s, limitG) == 8);

// One disk of the storage configuration, as stored (12 bytes).
struct StorageDisk_s
{
    char name[kDiskRootSize];  // drive root
    uint16_t selected;         // 1: recordings may go to this disk
    int16_t percent;           // 0..100: share of the disk's total size for recordings
};

static_assert(sizeof(StorageDisk_s) == 12);
static_assert(offsetof(StorageDisk_s, name) == 0);
static_assert(offsetof(StorageDisk_s, selected) == 8);
static_assert(offsetof(StorageDisk_s, percent) == 10);

// The storage configuration: the 40 bytes stored in "storage.db", then the
// disk records, which the storage manager owns (48 bytes with 64-bit
// pointers, 44 with 32-bit ones). Holds a borrowed pointer: not for queued
// signals.
struct StorageInfo_s
{
    char recordDir[32];        // record folder below each drive root, at most 31 characters
    uint32_t cover;            // 1: overwrite the oldest recordings when all disks are full
    int32_t count;             // number of records in disks
    StorageDisk_s *disks;
};

// Bytes of StorageInfo_s that "storage.db" stores.
inline constexpr size_t kStorageInfoStoredSize = 40;

static_assert(offsetof(StorageInfo_s, recordDir) == 0);
static_assert(offsetof(StorageInfo_s, cover) == 32);
static_assert(offsetof(StorageInfo_s, count) == 36);
static_assert(offsetof(StorageInfo_s, disks) == kStorageInfoStoredSize);
static_assert(sizeof(StorageInfo_s) == (sizeof(void *) == 4 ? 44 : 48));

// The head of "storage.db" (300 bytes, little-endian), followed by `count`
// StorageDisk_s records: the file holds (length - 300) / 12 of them.
struct StorageFileHead_s
{
    uint32_t recordAlarmType;  // written as 0
    char capturePath[256];     // snapshot folder, forward slashes
    char recordDir[32];        // the stored head of StorageInfo_s ...
    uint32_t cover;
    int32_t count;             // ... ends here
};

static_assert(sizeof(StorageFileHead_s) == 300);
static_assert(offsetof(StorageFileHead_s, recordAlarmType) == 0);
static_assert(offsetof(StorageFileHead_s, capturePath) == 4);
static_assert(offsetof(StorageFileHead_s, recordDir) == 260);
static_assert(offsetof(StorageFileHead_s, cover) == 292);
static_assert(offsetof(StorageFileHead_s, count) == 296);
static_assert(sizeof(StorageFileHead_s) - offsetof(StorageFileHead_s, recordDir) == kStorageInfoStoredSize);
