#include "common/logfile.h"

#include "common/installdir.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

// "yyyy-MM-dd hh:mm:ss" of the local time.
void formatNow(char *out, size_t size)
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    ::strftime(out, size, "%Y-%m-%d %H:%M:%S", &local);
}

} // namespace

void WriteLog(int level, const char *format, ...)
{
    char buffer[CLogFile::kMaxMessage + 1];
    std::memset(buffer, 0, sizeof(buffer));
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof(buffer), format, args);
        va_end(args);
    }

    std::fputs(buffer, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);

    if (level <= 4)
        CLogFile::instance().write(level, buffer);
}

CLogFile &CLogFile::instance()
{
    // Created on first use and never destroyed: threads may still log while
    // the process ends.
    static CLogFile *file = new CLogFile;
    return *file;
}

CLogFile::CLogFile()
    : m_dir(varno::installDir() + "/log")
    , m_currentPath(m_dir + "/Varno.log")
    , m_previousPath(m_dir + "/Varno-1.log")
{
    varno::makePath(m_dir);
}

bool CLogFile::writeHeader()
{
    FILE *fp = std::fopen(m_currentPath.c_str(), "w");
    if (!fp)
        return false;
    char now[32];
    formatNow(now, sizeof(now));
    std::fprintf(fp, "Log File Created On:%s\r\n", now);
    std::fclose(fp);
    return true;
}

void CLogFile::write(int level, const char *message)
{
    // The line is built before the lock is taken.
    char now[32];
    formatNow(now, sizeof(now));
    std::string line;
    line.reserve(std::strlen(message) + 48);
    line += '[';
    line += now;
    line += "][level:";
    line += std::to_string(level);
    line += ']';
    line += message;
    line += "\r\n";

    std::lock_guard<std::mutex> lock(m_mutex);

    struct stat st {};
    if (::stat(m_currentPath.c_str(), &st) != 0) {
        // The folder may have been removed while the program runs.
        varno::makePath(m_dir);
        if (!writeHeader())
            return;
    } else if (st.st_size >= kMaxSize) {
        std::remove(m_previousPath.c_str());
        // A failing rename leaves the current file to be appended to again.
        if (std::rename(m_currentPath.c_str(), m_previousPath.c_str()) == 0 && !writeHeader())
            return;
    }

    FILE *fp = std::fopen(m_currentPath.c_str(), "a");
    if (!fp)
        return;
    std::fwrite(line.data(), 1, line.size(), fp);
    std::fflush(fp);
    std::fclose(fp);
}
