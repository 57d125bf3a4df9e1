#include "platform/rtsp/nalassembler.h"

#include <algorithm>

namespace varno::rtsp {

namespace {

// Until a fragment was seen, payloads are taken to be at least this large
// (a packetiser's payload is its path MTU less the headers, never this small).
constexpr size_t kAssumedPayload = 512;
// Fragmented units that must all come at one payload size before single
// units shorter than it are taken as whole.
constexpr int kFillUnits = 4;

size_t startCodeAt(const uint8_t *p, size_t n)
{
    if (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1)
        return 3;
    if (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1)
        return 4;
    return 0;
}

} // namespace

NalAssembler::NalAssembler(Codec codec, Sink sink)
    : m_codec(codec)
    , m_sink(std::move(sink))
{
}

void NalAssembler::push(const uint8_t *data, size_t size, int32_t stamp)
{
    if (!data || size == 0)
        return;
    if (startCodeAt(data, size) == 0) {
        continueUnit(data, size);
        return;
    }
    // A start code: the unit held so far is whole.
    if (m_open)
        finishUnit(Judged::NextPacket);
    m_dropping = false;
    m_lastEarly = false;
    // The units of the packet: NAL data holds no 00 00 00 / 00 00 01, so
    // every such sequence is a boundary.
    const uint8_t *unit = nullptr;
    size_t i = 0;
    auto take = [&](size_t end, bool last) {
        size_t n = static_cast<size_t>(data + end - unit);
        // Zero bytes before a start code belong to it (a whole unit never
        // ends in one). The packet's last unit keeps them: it may be a
        // first fragment, cut anywhere.
        while (!last && n > 0 && unit[n - 1] == 0)
            --n;
        if (n == 0)
            return;
        if (m_open)
            finishUnit(Judged::SamePacket); // an earlier unit of an aggregation packet
        startUnit(unit, n, stamp);
    };
    int units = 0;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (unit)
                take(i, false);
            i += 3;
            unit = data + i;
            ++units;
        } else {
            ++i;
        }
    }
    if (unit)
        take(size, true);
    if (!m_open || !earlyAllowed())
        return;
    if (units > 1 || singleIsWhole(m_unit.size()))
        finishUnit(Judged::Early); // the last unit of an aggregation packet, or too short to be a fragment
}

void NalAssembler::startUnit(const uint8_t *nal, size_t n, int32_t stamp)
{
    m_unit.assign(nal, nal + n);
    m_open = true;
    m_stamp = stamp;
    m_fragments = 1;
    m_lastPayload = n + 1; // as a first fragment: FU indicator and header (H.265: 3 bytes) replace the NAL header
    m_minFull = SIZE_MAX;
    m_maxFull = 0;
}

// Fragments of a unit come one after the other, nothing between them (RTP
// over TCP loses nothing). Their time stamps are not compared: the demuxer
// re-bases its clock when a sender report arrives, which may come between
// two fragments.
void NalAssembler::continueUnit(const uint8_t *data, size_t size)
{
    if (!m_open) {
        if (!m_dropping && m_lastEarly)
            m_fellBack = true; // the unit handed over was cut
        m_dropping = true;
        ++m_counters.dropped;
        return;
    }
    if (m_unit.size() + size > kMaxUnit) {
        m_open = false;
        m_unit.clear();
        m_dropping = true;
        ++m_counters.dropped;
        return;
    }
    noteNotLast(m_lastPayload);
    m_unit.insert(m_unit.end(), data, data + size);
    ++m_fragments;
    m_lastPayload = size + (m_codec == Codec::H265 ? 3 : 2);
    if (earlyAllowed() && m_lastPayload + 2 <= m_minFull)
        finishUnit(Judged::Early);
}

// A fragment of the unit held was followed by another: it was not the last.
void NalAssembler::noteNotLast(size_t payload)
{
    m_minFull = std::min(m_minFull, payload);
    m_maxFull = std::max(m_maxFull, payload);
    if (m_maxFull - m_minFull > 1)
        m_irregular = true; // neither fill nor equal split
    m_largest = std::max(m_largest, payload);
    if (m_fill == 0)
        m_fill = payload;
    else if (payload != m_fill)
        m_notFill = true;
}

// Can a single unit of n bytes not be the first fragment of a larger one?
// A first fragment's payload is n + 1; equal splits make every fragment
// larger than half the largest payload, fill makes every first fragment the
// largest payload.
bool NalAssembler::singleIsWhole(size_t n) const
{
    const size_t payload = n + 1;
    if (payload <= std::max(m_largest, kAssumedPayload) / 2)
        return true;
    return !m_notFill && m_fillUnits >= kFillUnits && payload < m_fill;
}

void NalAssembler::finishUnit(Judged judged)
{
    m_open = false;
    m_lastEarly = judged == Judged::Early;
    if (m_fragments > 1 && !m_notFill)
        ++m_fillUnits;
    ++m_counters.units;
    if (judged != Judged::NextPacket)
        ++m_counters.onLastPacket;
    m_sink(m_unit.data(), m_unit.size(), m_stamp);
}

} // namespace varno::rtsp
