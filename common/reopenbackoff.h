#pragma once

#include <algorithm>
#include <cstdint>

// When the next reopen attempt of a broken stream may start, and how many
// attempts in a row failed (the failures are logged once, with their count).
// One rule for every stream the program reopens by itself: the live view's
// streams and a recorder's own stream.
namespace varno {

// Spacing of the reopen attempts of one stream: the first at once, then
// this long, doubling up to the longest; a picture starts it again.
inline constexpr uint32_t kReopenFirstDelayMs = 1000;
inline constexpr uint32_t kReopenLongestDelayMs = 10000;

// A recorder's own stream: every minute of it that the camera sends is
// footage, and a camera whose stream server restarts is back within seconds.
// After a break the attempts come every 250 ms for 30 s, then they space
// out as the live view's do (bench_recordgap, docs/recording.md).
inline constexpr uint32_t kRecordReopenDelayMs = 250;
inline constexpr uint32_t kRecordReopenSteadyMs = 30000;

// Times are milliseconds of a 32-bit tick that may wrap.
class ReopenBackoff
{
public:
    // steadyMs: for this long after the first attempt of a run the attempts
    // stay firstDelayMs apart before they double (0: they double at once).
    explicit ReopenBackoff(uint32_t firstDelayMs = kReopenFirstDelayMs, uint32_t longestDelayMs = kReopenLongestDelayMs,
                           uint32_t steadyMs = 0)
        : m_first(firstDelayMs)
        , m_longest(longestDelayMs)
        , m_steady(steadyMs)
    {
    }
    // The spacing of a recorder's own stream.
    static ReopenBackoff forRecording()
    {
        return ReopenBackoff(kRecordReopenDelayMs, kReopenLongestDelayMs, kRecordReopenSteadyMs);
    }
    bool due(uint32_t now) const { return m_delay == 0 || uint32_t(now - m_lastTry) >= m_delay; }
    void tried(uint32_t now)
    {
        if (m_delay == 0) // the first attempt since the last picture
            m_runStart = now;
        m_lastTry = now;
    }
    // An attempt failed: the next one waits longer (once the steady span is
    // over). Returns the failures in a row.
    int failed()
    {
        const bool steady = uint32_t(m_lastTry - m_runStart) < m_steady;
        m_delay = m_delay == 0 || steady ? m_first : std::min(m_delay * 2, m_longest);
        return ++m_failures;
    }
    // An attempt opened the stream: the failures in a row end (the wait
    // stays until a picture comes).
    void opened() { m_failures = 0; }
    // A picture came: the next break starts afresh.
    void reset() { m_delay = 0; m_failures = 0; }
    uint32_t delay() const { return m_delay; }
    int failures() const { return m_failures; }

private:
    uint32_t m_first;
    uint32_t m_longest;
    uint32_t m_steady;
    uint32_t m_runStart = 0;
    uint32_t m_lastTry = 0;
    uint32_t m_delay = 0; // 0: the next attempt may start at once
    int m_failures = 0;
};

} // namespace varno
