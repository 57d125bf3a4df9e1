#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <pthread.h>

// The one log call of the program. Levels: 0 progress, 1 allocation failures
// and crash reports, 2 failed operations, 3 warnings, 4 detail. Levels 0 to 4
// go to the console and to log/Varno.log in the installation directory; a
// level above 4 goes to the console only. Never fails towards the caller.
// A message longer than 1,023 bytes is cut there (never inside a UTF-8
// sequence).
void WriteLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The same for a signal handler: the message is already formatted (no printf
// in a handler), nothing is allocated and no lock is waited for beyond a short
// bounded try (see CLogFile::writeSignalSafe). The line format is identical.
void WriteLogSignalSafe(int level, const char *message) noexcept;

// Rotating log file: log/Varno.log with one older generation log/Varno-1.log.
// The file is opened and closed for every line so that a crash loses at most
// the line being written. Each line is "[yyyy-MM-dd hh:mm:ss][level:N]text"
// followed by CR LF; a new file starts with "Log File Created On:" + time.
class CLogFile
{
public:
    static constexpr long long kMaxSize = 15728640; // 15 MiB
    static constexpr size_t kMaxMessage = 1023;

    // Created, with its folder, on first use; never destroyed.
    static CLogFile &instance();
    // The instance when it exists, else nullptr; safe in a signal handler.
    static CLogFile *existing() noexcept;

    // Appends one line (the message cut to kMaxMessage bytes) under the
    // mutex, creating or rotating the file first when needed.
    void write(int level, const char *message);

    // Async-signal-safe variant of write(). The mutex is only tried, for at
    // most about 200 ms, and not at all when the calling thread itself holds
    // it (a fault inside write()). Holding it, the line goes through the same
    // steps as write() (header, rotation, append); without it the line is
    // still appended with one O_APPEND write, which never tears another line,
    // but no rotation is done.
    void writeSignalSafe(int level, const char *message) noexcept;

    const std::string &currentPath() const { return m_currentPath; }
    const std::string &previousPath() const { return m_previousPath; }

    CLogFile(const CLogFile &) = delete;
    CLogFile &operator=(const CLogFile &) = delete;

private:
    CLogFile();

    bool writeHeader(const char *time) noexcept;
    void appendLine(const char *line, size_t size, const char *time, bool mayRotate) noexcept;

    std::mutex m_mutex;
    // Thread holding m_mutex (0 when free), so that the signal path never
    // waits for its own thread.
    std::atomic<pthread_t> m_owner{0};
    std::string m_dir;
    std::string m_currentPath;
    std::string m_previousPath;
};
