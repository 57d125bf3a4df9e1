#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Small helpers that may be called from a signal handler: no allocation, no
// locks, no locale, only async-signal-safe system calls. Used by the crash
// handler and by the log file's signal path.
namespace varno::sigsafe {

struct LocalTime
{
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// localtime_r() may take the time-zone lock and read files, so the signal
// path cannot call it. The normal path notes the offset of local time from
// UTC each time it formats a time (noteUtcOffset), and the signal path adds
// the last noted offset to the UTC clock. A change of the offset (daylight
// saving) is picked up by the next ordinary log line.
void noteUtcOffset(long secondsEastOfUtc);
// Not async-signal-safe: reads the offset through localtime_r().
void refreshUtcOffset();
// Async-signal-safe.
LocalTime localNow();
// Broken-down time of a number of seconds since the epoch (no time zone).
LocalTime civilTime(long long seconds);

// Linux thread ID of the calling thread.
pid_t currentTid();

// Writes everything, retrying after EINTR and short writes.
bool writeAll(int fd, const char *data, size_t size);

size_t length(const char *text);

// Creates a directory and its missing parents with mkdir() only, each with
// the given mode (less the umask). The path must be shorter than 4096 bytes.
bool makePath(const char *path, unsigned mode = 0755);

// A text line in a fixed buffer. Appending beyond the capacity cuts the text;
// the buffer always stays NUL-terminated.
class LineBuffer
{
public:
    LineBuffer(char *storage, size_t capacity);

    LineBuffer &add(const char *text);
    LineBuffer &add(const char *text, size_t size);
    LineBuffer &add(char c);
    LineBuffer &dec(long long value);
    // Lower-case hexadecimal, padded with zeros to at least minDigits.
    LineBuffer &hex(unsigned long long value, int minDigits = 1);
    // printf's "%#x": "0x" + hex, or a plain "0" for zero.
    LineBuffer &hexAlt(unsigned long long value);
    // Two-digit (or four-digit for year) zero-padded number.
    LineBuffer &pad(long long value, int digits);
    // "yyyy-MM-dd hh:mm:ss"
    LineBuffer &time(const LocalTime &t);

    const char *data() const { return m_data; }
    size_t size() const { return m_size; }
    bool truncated() const { return m_truncated; }
    void clear();

private:
    char *m_data;
    size_t m_capacity;
    size_t m_size = 0;
    bool m_truncated = false;
};

} // namespace varno::sigsafe
