#include "record/recordfault.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace varno::record {

namespace {

constexpr unsigned long long kFullBelowBytes = 1024ull * 1024;

FolderFault faultOf(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FolderFault::Full;
    case EACCES:
    case EPERM:
    case EROFS:
        return FolderFault::NotWritable;
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ESTALE:
    case ENOTCONN:
        return FolderFault::Gone;
    default:
        return FolderFault::None;
    }
}

} // namespace

dev_t folderDevice(const std::string &folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return dev_t(-1);
    return st.st_dev;
}

FolderFault diagnoseFolder(const std::string &folder, dev_t expected)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return faultOf(errno) == FolderFault::None ? FolderFault::Gone : faultOf(errno);
    if (!S_ISDIR(st.st_mode) || (expected != dev_t(-1) && st.st_dev != expected))
        return FolderFault::Gone;
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0) {
        if (vfs.f_flag & ST_RDONLY)
            return FolderFault::NotWritable;
        if (static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize < kFullBelowBytes)
            return FolderFault::Full;
    }
    const std::string probe = folder + "/.varno-probe-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return faultOf(errno);
    static const char block[4096] = {};
    const ssize_t n = ::write(fd, block, sizeof block);
    const int err = errno;
    const bool synced = n == ssize_t(sizeof block) && ::fsync(fd) == 0;
    const int syncErr = errno;
    ::close(fd);
    ::unlink(probe.c_str());
    if (n != ssize_t(sizeof block))
        return n < 0 ? faultOf(err) : FolderFault::Full;
    return synced ? FolderFault::None : faultOf(syncErr);
}

} // namespace varno::record
