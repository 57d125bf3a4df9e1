// libFuzzer target: "storage.db" as the storage manager loads it at start.
// Whatever loads must be what the manager would write again: parsing the
// image built from a parsed file gives the same contents.
#include "record/cstorage.h"

#include <cstdint>
#include <cstring>

namespace {

bool sameContents(const StorageFileContents &a, const StorageFileContents &b)
{
    if (a.recordAlarmType != b.recordAlarmType || a.capturePath != b.capturePath || a.recordDir != b.recordDir
        || a.cover != b.cover || a.disks.size() != b.disks.size())
        return false;
    for (qsizetype i = 0; i < a.disks.size(); ++i)
        if (std::memcmp(&a.disks[i], &b.disks[i], sizeof(StorageDisk_s)) != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), qsizetype(size));
    StorageFileContents first;
    if (!parseStorageDb(image, &first))
        return 0;
    if (first.disks.size() > kMaxStorageDisks || first.recordAlarmType > 3 || first.cover > 1)
        __builtin_trap();
    for (const StorageDisk_s &d : first.disks)
        if (d.name[sizeof d.name - 1] != 0 || d.percent < 0 || d.percent > 100 || d.selected > 1)
            __builtin_trap();
    StorageFileContents again;
    if (!parseStorageDb(buildStorageDb(first), &again) || !sameContents(first, again))
        __builtin_trap();
    return 0;
}
