#pragma once

#include <cstdint>

namespace varno::record {

// When an ONVIF camera is asked for its stream address again. A camera may
// hand out a new address after a restart (its RTSP server moved to another
// port): once an open of the address held has failed, the camera is asked
// again, at most every kSpacingMs, for as long as the opens fail. The
// recorder's own stream and the live view follow the same rule.
class StreamUriAsk
{
public:
    static constexpr uint64_t kSpacingMs = 2000;

    // nowMs: the caller's clock in milliseconds; the first ask counts from it.
    explicit StreamUriAsk(uint64_t nowMs = 0) : m_askedAt(nowMs) {}

    // An open of the address held failed: is it time to ask again? A clock
    // that went back (or wrapped) makes it due.
    bool due(uint64_t nowMs) const { return nowMs < m_askedAt || nowMs - m_askedAt >= kSpacingMs; }
    void asked(uint64_t nowMs) { m_askedAt = nowMs; }

private:
    uint64_t m_askedAt;
};

} // namespace varno::record
