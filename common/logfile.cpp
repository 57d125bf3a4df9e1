#include "common/logfile.h"

#include "common/installdir.h"
#include "common/secretmask.h"
#include "common/sigsafe.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<CLogFile *> g_instance{nullptr};

enum class Header { Created, AlreadyThere, Failed };

// "yyyy-MM-dd hh:mm:ss" of the local time. Also hands the current offset from
// UTC to the signal path, which cannot ask the time-zone code itself.
void formatNow(char *out, size_t size)
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    varno::sigsafe::noteUtcOffset(local.tm_gmtoff);
    ::strftime(out, size, "%Y-%m-%d %H:%M:%S", &local);
}

// Length of a text cut after n bytes, less a UTF-8 sequence the cut left
// incomplete at the end. Async-signal-safe.
size_t trimBrokenTail(const char *text, size_t n)
{
    // Step back over continuation bytes to the lead byte of the last sequence.
    size_t lead = n;
    int continuation = 0;
    while (lead > 0 && continuation < 3 && (static_cast<unsigned char>(text[lead - 1]) & 0xc0) == 0x80) {
        --lead;
        ++continuation;
    }
    if (lead == 0)
        return n;
    const unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    size_t expected = 0;
    if ((c & 0xe0) == 0xc0)
        expected = 2;
    else if ((c & 0xf0) == 0xe0)
        expected = 3;
    else if ((c & 0xf8) == 0xf0)
        expected = 4;
    else
        return n; // ASCII or not UTF-8 at all: a plain byte cut
    const size_t have = n - (lead - 1);
    return have < expected ? lead - 1 : n;
}

// Length of text cut to at most max bytes, never inside a UTF-8 sequence.
size_t cutLength(const char *text, size_t max)
{
    size_t n = 0;
    while (n < max && text[n])
        ++n;
    return (n == max && text[n] != '\0') ? trimBrokenTail(text, n) : n;
}

} // namespace

void WriteLog(int level, const char *format, ...)
{
    // One byte more than the message for the console's end of line.
    char buffer[CLogFile::kMaxMessage + 2];
    std::memset(buffer, 0, sizeof(buffer));
    // The whole message when it is longer than the buffer: it is masked
    // before it is cut, so that a cut never leaves half a password.
    std::string whole;
    if (format) {
        va_list args;
        va_start(args, format);
        va_list again;
        va_copy(again, args);
        const int written = std::vsnprintf(buffer, CLogFile::kMaxMessage + 1, format, args);
        if (written > static_cast<int>(CLogFile::kMaxMessage)) {
            whole.resize(static_cast<size_t>(written) + 1);
            std::vsnprintf(whole.data(), whole.size(), format, again);
            whole.resize(std::strlen(whole.c_str()));
        }
        va_end(again);
        va_end(args);
    }
    std::string_view message = whole.empty() ? std::string_view(buffer) : std::string_view(whole);
    // No address with a password reaches the console or the file.
    std::string masked;
    if (message.find("://") != std::string_view::npos) {
        masked = varno::maskCredentials(message);
        message = masked;
    }
    // Cut at 1,023 bytes; do not leave a broken letter.
    size_t size = message.size();
    if (size > CLogFile::kMaxMessage)
        size = trimBrokenTail(message.data(), CLogFile::kMaxMessage);
    if (message.data() != buffer)
        std::memcpy(buffer, message.data(), size);
    buffer[size] = '\n';
    // One call, so that the line reaches the console in one piece.
    std::fwrite(buffer, 1, size + 1, stdout);
    std::fflush(stdout);
    buffer[size] = '\0';

    if (level <= 4)
        CLogFile::instance().write(level, buffer);
}

void WriteLogSignalSafe(int level, const char *message) noexcept
{
    if (!message)
        message = "";
    char buffer[CLogFile::kMaxMessage + 2];
    const size_t size = cutLength(message, CLogFile::kMaxMessage);
    std::memcpy(buffer, message, size);
    buffer[size] = '\n';
    varno::sigsafe::writeAll(STDOUT_FILENO, buffer, size + 1);
    buffer[size] = '\0';

    if (level <= 4) {
        if (CLogFile *file = CLogFile::existing())
            file->writeSignalSafe(level, buffer);
    }
}

CLogFile &CLogFile::instance()
{
    // Created on first use and never destroyed: threads may still log while
    // the process ends. The pointer is also published for the signal path.
    static CLogFile *file = [] {
        auto *created = new CLogFile;
        g_instance.store(created, std::memory_order_release);
        return created;
    }();
    return *file;
}

CLogFile *CLogFile::existing() noexcept
{
    return g_instance.load(std::memory_order_acquire);
}

CLogFile::CLogFile()
    : m_dir(varno::installDir() + "/log")
    , m_currentPath(m_dir + "/Varno.log")
    , m_previousPath(m_dir + "/Varno-1.log")
{
    // The log holds user names, addresses and camera IDs: the user's only.
    varno::makePath(m_dir);
    varno::makePrivate(m_dir);
}

bool CLogFile::writeHeader(const char *time) noexcept
{
    // O_EXCL: never truncate a file that appeared in the meantime (another
    // process, or the signal path appending without the lock).
    const int fd = ::open(m_currentPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno == EEXIST;
    char storage[64];
    varno::sigsafe::LineBuffer header(storage, sizeof(storage));
    header.add("Log File Created On:").add(time).add("\r\n");
    varno::sigsafe::writeAll(fd, header.data(), header.size());
    ::close(fd);
    return true;
}

// Steps 3 to 5 of a write, with plain system calls only (no stdio, no
// allocation), so that the signal path can share them.
void CLogFile::appendLine(const char *line, size_t size, const char *time, bool mayRotate) noexcept
{
    struct stat st {};
    if (::stat(m_currentPath.c_str(), &st) != 0) {
        // The folder may have been removed while the program runs.
        varno::sigsafe::makePath(m_dir.c_str(), 0700);
        if (!writeHeader(time))
            return;
    } else if (mayRotate && st.st_size >= kMaxSize) {
        ::unlink(m_previousPath.c_str());
        // A failing rename leaves the current file to be appended to again.
        if (::rename(m_currentPath.c_str(), m_previousPath.c_str()) == 0 && !writeHeader(time))
            return;
    }
    const int fd = ::open(m_currentPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    // One O_APPEND write: lines of other threads or processes never tear it.
    varno::sigsafe::writeAll(fd, line, size);
    ::close(fd);
}

void CLogFile::write(int level, const char *message)
{
    if (!message)
        message = "";
    // The line is built before the lock is taken.
    char now[32];
    formatNow(now, sizeof(now));
    char storage[kMaxMessage + 64];
    varno::sigsafe::LineBuffer line(storage, sizeof(storage));
    line.add('[').add(now).add("][level:").dec(level).add(']');
    line.add(message, cutLength(message, kMaxMessage)).add("\r\n");

    std::lock_guard<std::mutex> lock(m_mutex);
    m_owner.store(::pthread_self(), std::memory_order_relaxed);
    appendLine(line.data(), line.size(), now, true);
    m_owner.store(0, std::memory_order_relaxed);
}

void CLogFile::writeSignalSafe(int level, const char *message) noexcept
{
    if (!message)
        message = "";
    char now[32];
    varno::sigsafe::LineBuffer nowText(now, sizeof(now));
    nowText.time(varno::sigsafe::localNow());
    char storage[kMaxMessage + 64];
    varno::sigsafe::LineBuffer line(storage, sizeof(storage));
    line.add('[').add(now).add("][level:").dec(level).add(']');
    line.add(message, cutLength(message, kMaxMessage)).add("\r\n");

    // std::mutex is a plain futex word: try_lock and unlock neither allocate
    // nor block, so they are used here although POSIX does not list them.
    const pthread_t self = ::pthread_self(); // reads the thread pointer only
    bool locked = false;
    if (m_owner.load(std::memory_order_relaxed) != self) {
        for (int attempt = 0; attempt < 2000; ++attempt) {
            if (m_mutex.try_lock()) {
                locked = true;
                break;
            }
            const struct timespec pause = {0, 100000}; // 0.1 ms
            ::nanosleep(&pause, nullptr);
        }
    }
    if (locked)
        m_owner.store(self, std::memory_order_relaxed);
    appendLine(line.data(), line.size(), now, locked);
    if (locked) {
        m_owner.store(0, std::memory_order_relaxed);
        m_mutex.unlock();
    }
}
