#include "platform/recfile/filelist.h"

#include "common/configfile.h"
#include "common/logfile.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varno::recfile {

namespace {

bool writeAll(int fd, const void *data, size_t size, off_t offset)
{
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool readAll(int fd, std::vector<uint8_t> &out)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return true;
}

} // namespace

std::mutex &filelistMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string filelistPath(const std::string &dir)
{
    return dir + "/filelist";
}

std::vector<MEDIA_FILE_S> parseFilelist(const uint8_t *data, size_t size)
{
    std::vector<MEDIA_FILE_S> records;
    if (!data)
        return records;
    const size_t count = size / sizeof(MEDIA_FILE_S);
    records.resize(count);
    if (count)
        std::memcpy(records.data(), data, count * sizeof(MEDIA_FILE_S));
    return records;
}

bool readFilelist(const std::string &dir, std::vector<MEDIA_FILE_S> &records, size_t *tailBytes, bool *setAside)
{
    records.clear();
    if (tailBytes)
        *tailBytes = 0;
    if (setAside)
        *setAside = false;
    const std::string path = filelistPath(dir);
    // Non-blocking: a FIFO in its place must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT)
        return true;
    std::vector<uint8_t> bytes;
    struct stat st {};
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readAll(fd, bytes);
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        // A folder, FIFO or unreadable file in place of the list: kept
        // beside under another name, and the list starts afresh (the
        // folder's repair lists its recordings again).
        const std::string aside = varno::setAsideFile(path);
        if (aside.empty()) {
            WriteLog(2, "%s(%d):Filelist(%s) cannot be read, errno(%d), nor set aside, errno(%d)!!!",
                     "varno::recfile::readFilelist", __LINE__, path.c_str(), err, errno);
            return false;
        }
        WriteLog(2, "%s(%d):Filelist(%s) cannot be read, errno(%d), set aside as(%s), to be rebuilt!!!",
                 "varno::recfile::readFilelist", __LINE__, path.c_str(), err, aside.c_str());
        if (setAside)
            *setAside = true;
        return true;
    }
    records = parseFilelist(bytes.data(), bytes.size());
    if (tailBytes)
        *tailBytes = bytes.size() % sizeof(MEDIA_FILE_S);
    return true;
}

bool appendRecord(const std::string &dir, const MEDIA_FILE_S &record)
{
    const int fd = ::open(filelistPath(dir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    off_t end = ok ? st.st_size - st.st_size % static_cast<off_t>(sizeof(MEDIA_FILE_S)) : 0;
    if (ok && end != st.st_size)
        ok = ::ftruncate(fd, end) == 0;
    if (ok)
        ok = writeAll(fd, &record, sizeof(record), end);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

bool updateRecord(const std::string &dir, const MEDIA_FILE_S &record)
{
    const int fd = ::open(filelistPath(dir).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> bytes;
    bool found = false;
    bool ok = readAll(fd, bytes);
    if (ok) {
        const size_t count = bytes.size() / sizeof(MEDIA_FILE_S);
        for (size_t i = count; i-- > 0;) {
            const auto *name = reinterpret_cast<const char *>(bytes.data() + i * sizeof(MEDIA_FILE_S)
                                                              + offsetof(MEDIA_FILE_S, fileName));
            if (std::strncmp(name, record.fileName, sizeof(record.fileName)) == 0) {
                found = true;
                ok = writeAll(fd, &record, sizeof(record), static_cast<off_t>(i * sizeof(MEDIA_FILE_S)));
                break;
            }
        }
    }
    if (::close(fd) != 0)
        ok = false;
    return ok && found;
}

bool writeFilelist(const std::string &dir, const std::vector<MEDIA_FILE_S> &records)
{
    const std::string path = filelistPath(dir);
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = records.empty() || writeAll(fd, records.data(), records.size() * sizeof(MEDIA_FILE_S), 0);
    if (ok)
        ok = ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (ok)
        ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

bool isPlainFileName(const char *field, size_t size)
{
    const size_t n = ::strnlen(field, size);
    if (n == 0 || n == size)
        return false;
    if (std::memchr(field, '/', n))
        return false;
    return !(n == 1 && field[0] == '.') && !(n == 2 && field[0] == '.' && field[1] == '.');
}

MEDIA_TIME_S mediaTime(const QDateTime &local)
{
    MEDIA_TIME_S t {};
    const QDate d = local.date();
    const QTime tm = local.time();
    t.year = static_cast<uint16_t>(d.year());
    t.month = static_cast<uint8_t>(d.month());
    t.day = static_cast<uint8_t>(d.day());
    t.hour = static_cast<uint16_t>(tm.hour());
    t.minute = static_cast<uint8_t>(tm.minute());
    t.second = static_cast<uint8_t>(tm.second());
    return t;
}

QDateTime dateTime(const MEDIA_TIME_S &time)
{
    return QDateTime(QDate(time.year, time.month, time.day), QTime(time.hour, time.minute, time.second));
}

int64_t timeKey(const MEDIA_TIME_S &time)
{
    return ((((static_cast<int64_t>(time.year) * 100 + time.month) * 100 + time.day) * 100 + time.hour) * 100
            + time.minute) * 100
        + time.second;
}

MEDIA_TIME_S addMilliseconds(const MEDIA_TIME_S &time, int64_t ms)
{
    const QDateTime start = dateTime(time);
    if (!start.isValid())
        return time;
    return mediaTime(start.addMSecs(ms));
}

} // namespace varno::recfile
