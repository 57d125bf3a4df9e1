#include "playback/storageaccess.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <mutex>

namespace varno::playback {

namespace {

class DefaultAccess final : public StorageAccess
{
public:
    int recordFolders(QStringList *folders) override
    {
        folders->clear();
        return -1;
    }
    int diskSpaceM(const QString &path, double *freeM) override { return fileSystemFreeM(path, freeM); }
};

std::mutex g_mutex;
std::shared_ptr<StorageAccess> g_access;

} // namespace

StorageAccess *storageAccess()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_access)
        g_access = std::make_shared<DefaultAccess>();
    return g_access.get();
}

void setStorageAccess(std::shared_ptr<StorageAccess> access)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_access = std::move(access);
}

int fileSystemFreeM(const QString &path, double *freeM)
{
    QString p = QFileInfo(path).absoluteFilePath();
    while (!p.isEmpty() && !QFileInfo::exists(p)) {
        const QString parent = QFileInfo(p).absolutePath();
        if (parent == p)
            break;
        p = parent;
    }
    QStorageInfo info(p);
    if (!info.isValid()) {
        *freeM = 0;
        return -1;
    }
    *freeM = double(info.bytesAvailable()) / (1024.0 * 1024.0);
    return 0;
}

} // namespace varno::playback
