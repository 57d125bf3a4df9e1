#include "common/sigsafe.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace varno::sigsafe {

namespace {

std::atomic<long> g_utcOffset{0};

static_assert(std::atomic<long>::is_always_lock_free, "the signal path reads the offset");

} // namespace

void noteUtcOffset(long secondsEastOfUtc)
{
    g_utcOffset.store(secondsEastOfUtc, std::memory_order_relaxed);
}

void refreshUtcOffset()
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    if (::localtime_r(&now, &local))
        noteUtcOffset(local.tm_gmtoff);
}

LocalTime civilTime(long long seconds)
{
    // Days since 1970-01-01 to a proleptic Gregorian date (the well-known
    // era-based conversion: eras of 400 years, March-based years).
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    LocalTime t;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);

    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;                                  // [0, 146096]
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);          // [0, 365]
    const long long mp = (5 * doy + 2) / 153;                                // [0, 11]
    const long long d = doy - (153 * mp + 2) / 5 + 1;                        // [1, 31]
    const long long m = mp < 10 ? mp + 3 : mp - 9;                          // [1, 12]
    t.year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    return t;
}

LocalTime localNow()
{
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return civilTime(static_cast<long long>(ts.tv_sec) + g_utcOffset.load(std::memory_order_relaxed));
}

pid_t currentTid()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t length(const char *text)
{
    size_t n = 0;
    if (text) {
        while (text[n])
            ++n;
    }
    return n;
}

bool makePath(const char *path, unsigned mode)
{
    char partial[4096];
    const size_t n = length(path);
    if (n == 0 || n >= sizeof(partial))
        return false;
    for (size_t i = 0; i <= n; ++i) {
        if (i == n || (path[i] == '/' && i > 0)) {
            partial[i] = '\0';
            if (::mkdir(partial, mode_t(mode)) != 0 && errno != EEXIST)
                return false;
        }
        if (i < n)
            partial[i] = path[i];
    }
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

LineBuffer::LineBuffer(char *storage, size_t capacity)
    : m_data(storage)
    , m_capacity(capacity)
{
    if (m_capacity > 0)
        m_data[0] = '\0';
}

void LineBuffer::clear()
{
    m_size = 0;
    m_truncated = false;
    if (m_capacity > 0)
        m_data[0] = '\0';
}

LineBuffer &LineBuffer::add(const char *text, size_t size)
{
    if (m_capacity == 0)
        return *this;
    for (size_t i = 0; i < size; ++i) {
        if (m_size + 1 >= m_capacity) {
            m_truncated = true;
            break;
        }
        m_data[m_size++] = text[i];
    }
    m_data[m_size] = '\0';
    return *this;
}

LineBuffer &LineBuffer::add(const char *text)
{
    return add(text ? text : "(null)", length(text ? text : "(null)"));
}

LineBuffer &LineBuffer::add(char c)
{
    return add(&c, 1);
}

LineBuffer &LineBuffer::dec(long long value)
{
    char digits[24];
    int n = 0;
    // Work with negative numbers so that the smallest value does not overflow.
    const bool negative = value < 0;
    long long v = negative ? value : -value;
    do {
        digits[n++] = static_cast<char>('0' - v % 10);
        v /= 10;
    } while (v != 0);
    if (negative)
        add('-');
    while (n > 0)
        add(digits[--n]);
    return *this;
}

LineBuffer &LineBuffer::hex(unsigned long long value, int minDigits)
{
    static const char kDigits[] = "0123456789abcdef";
    char digits[20];
    int n = 0;
    do {
        digits[n++] = kDigits[value & 0xf];
        value >>= 4;
    } while (value != 0);
    while (n < minDigits && n < static_cast<int>(sizeof(digits)))
        digits[n++] = '0';
    while (n > 0)
        add(digits[--n]);
    return *this;
}

LineBuffer &LineBuffer::hexAlt(unsigned long long value)
{
    if (value == 0)
        return add('0');
    return add("0x").hex(value);
}

LineBuffer &LineBuffer::pad(long long value, int digits)
{
    char text[24];
    int n = 0;
    unsigned long long v = value < 0 ? 0 : static_cast<unsigned long long>(value);
    do {
        text[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < 20);
    while (n < digits && n < 20)
        text[n++] = '0';
    while (n > 0)
        add(text[--n]);
    return *this;
}

LineBuffer &LineBuffer::time(const LocalTime &t)
{
    pad(t.year, 4).add('-').pad(t.month, 2).add('-').pad(t.day, 2).add(' ');
    return pad(t.hour, 2).add(':').pad(t.minute, 2).add(':').pad(t.second, 2);
}

} // namespace varno::sigsafe
