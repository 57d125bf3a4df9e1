#pragma once

#include <cstddef>
#include <mutex>
#include <string>

// The one log call of the program. Levels: 0 progress, 1 allocation failures
// and crash reports, 2 failed operations, 3 warnings, 4 detail. Levels 0 to 4
// go to the console and to log/Varno.log in the installation directory; a
// level above 4 goes to the console only. Never fails towards the caller.
void WriteLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Rotating log file: log/Varno.log with one older generation log/Varno-1.log.
// The file is opened and closed for every line so that a crash loses at most
// the line being written.
class CLogFile
{
public:
    static constexpr long long kMaxSize = 15728640; // 15 MiB
    static constexpr size_t kMaxMessage = 1023;

    static CLogFile &instance();

    void write(int level, const char *message);

    const std::string &currentPath() const { return m_currentPath; }
    const std::string &previousPath() const { return m_previousPath; }

    CLogFile(const CLogFile &) = delete;
    CLogFile &operator=(const CLogFile &) = delete;

private:
    CLogFile();

    bool writeHeader();

    std::mutex m_mutex;
    std::string m_dir;
    std::string m_currentPath;
    std::string m_previousPath;
};
