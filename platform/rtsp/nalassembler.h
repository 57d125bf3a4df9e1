#pragma once

// Whole H.264 / H.265 NAL units from the packets of libavformat's RTP
// depacketiser when it does not parse (AVFMT_FLAG_NOPARSE), each handed over
// as soon as its last packet is in.
//
// What the depacketiser hands over, one packet per RTP packet:
//  - a packet that starts with a start code holds one NAL unit (single NAL
//    unit packet), several (aggregation packet: STAP-A, AP), or the first
//    fragment of a larger unit (start code, rebuilt NAL header, data);
//  - a packet without a start code continues the unit of the packet before
//    it (middle or last fragment of FU-A / FU).
// It tells neither the RTP marker bit nor the fragment's end bit. A unit is
// known to be whole for certain only when the next packet starts with a
// start code, which for the last unit of a picture is one picture later.
//
// Packetisers cut a unit into fragments of their largest payload, the last
// one shorter (fill), or into fragments of nearly equal size, within one
// byte of each other (equal split). So a unit is taken as whole on its own
// packet when
//  - a fragment is at least 2 bytes shorter than every fragment of the unit
//    before it (impossible with an equal split, the last with fill);
//  - a single unit is so short that it cannot be a first fragment: shorter
//    than half the largest payload seen (512 bytes assumed until a fragment
//    was seen), or, once every fragment seen in 4 units came at one fixed
//    size (fill), shorter than that size;
//  - an aggregation packet ends (its units are whole).
// Everything else waits for the next packet: latency, never a cut unit. A
// stream whose fragments break both patterns is not judged early at all. If
// a unit handed over early is ever continued after all, the continuation is
// dropped and the stream keeps to certain boundaries from then on
// (fellBack()).
//
// Not thread-safe: one assembler per stream, used by its reader thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace varno::rtsp {

class NalAssembler
{
public:
    enum class Codec { H264, H265 };
    // A whole NAL unit without start code, and the stamp of its first packet.
    using Sink = std::function<void(const uint8_t *nal, size_t size, int32_t stamp)>;

    struct Counters
    {
        uint64_t units = 0;        // handed over
        uint64_t onLastPacket = 0; // of them, on the packet that completed them
        uint64_t dropped = 0;      // packets dropped (no unit to continue, or too large)
    };

    NalAssembler(Codec codec, Sink sink);

    // One packet of the video stream; stamp: what the sink gets with the
    // unit that begins in this packet.
    void push(const uint8_t *data, size_t size, int32_t stamp);

    // A unit handed over early was continued: units are handed over only at
    // certain boundaries from then on.
    bool fellBack() const { return m_fellBack; }
    // The fragments broke both patterns: nothing is judged early.
    bool irregular() const { return m_irregular; }
    const Counters &counters() const { return m_counters; }

    static constexpr size_t kMaxUnit = 16 * 1024 * 1024;

private:
    void startUnit(const uint8_t *nal, size_t n, int32_t stamp);
    void continueUnit(const uint8_t *data, size_t size);
    void noteNotLast(size_t payload);
    enum class Judged {
        NextPacket, // the next packet started something else: certain
        SamePacket, // a unit of an aggregation packet before its last: certain
        Early,      // taken as whole on its own packet by the size rules
    };
    void finishUnit(Judged judged);
    bool earlyAllowed() const { return !m_fellBack && !m_irregular; }
    bool singleIsWhole(size_t n) const;

    const Codec m_codec;
    const Sink m_sink;

    // The unit being put together.
    std::vector<uint8_t> m_unit;
    bool m_open = false;
    int32_t m_stamp = 0;
    int m_fragments = 0;        // packets in the unit so far
    size_t m_lastPayload = 0;   // RTP payload size of the latest of them
    size_t m_minFull = SIZE_MAX; // smallest and largest payload of the fragments known not to be last
    size_t m_maxFull = 0;

    // After a unit was handed over.
    bool m_lastEarly = false; // it was judged whole on its own packet
    bool m_dropping = false;  // continuations are dropped until the next start code

    // Learned over the stream.
    size_t m_largest = 0;     // largest payload of a fragment known not to be last
    size_t m_fill = 0;        // the one payload size of fill packetisers
    int m_fillUnits = 0;      // fragmented units whose fragments all came at m_fill
    bool m_notFill = false;
    bool m_irregular = false;
    bool m_fellBack = false;

    Counters m_counters;
};

} // namespace varno::rtsp
