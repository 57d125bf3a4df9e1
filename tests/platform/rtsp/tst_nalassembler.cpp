// NAL units put together from the packets libavformat's RTP depacketiser
// hands over without parsing: real H.264 / H.265 cut the ways packetisers
// cut, random well-formed streams, odd packet sequences, and the fall back
// when a unit taken as whole goes on.
#include "platform/rtsp/nalassembler.h"

#include "tests/support/media/testmedia.h"

#include <QRandomGenerator>
#include <QTest>

using varno::rtsp::NalAssembler;
using namespace varno;

namespace {

using Bytes = std::vector<uint8_t>;

struct Packet
{
    Bytes data;
    int64_t pts = 0;
};

// What the depacketiser makes of units (without start codes) that a
// packetiser cut at `payload` bytes: single units (start code + unit),
// aggregation packets of small units, fragments (the first: start code,
// NAL header, data; the others: data). `last` gets the packet that
// completes each unit.
std::vector<Packet> packetise(const std::vector<Bytes> &units, const std::vector<int64_t> &pts, bool h265,
                              size_t payload, bool fill, bool aggregate, std::vector<size_t> *last = nullptr)
{
    std::vector<Packet> out;
    const size_t header = h265 ? 2 : 1;
    bool whole = false; // the packet before holds whole units only
    for (size_t i = 0; i < units.size(); ++i) {
        const Bytes &u = units[i];
        if (u.size() <= payload) {
            if (!(aggregate && whole && out.back().pts == pts[i] && u.size() < 200
                  && out.back().data.size() + u.size() + 4 <= payload))
                out.push_back({{}, pts[i]});
            out.back().data.insert(out.back().data.end(), {0, 0, 0, 1});
            out.back().data.insert(out.back().data.end(), u.begin(), u.end());
            whole = true;
        } else {
            const size_t data = u.size() - header, room = payload - (h265 ? 3 : 2);
            const size_t count = (data + room - 1) / room;
            for (size_t k = 0, pos = header; k < count; ++k) {
                const size_t n = fill ? std::min(room, u.size() - pos) : data / count + (k < data % count ? 1 : 0);
                Packet p{k == 0 ? Bytes{0, 0, 0, 1} : Bytes{}, pts[i]};
                if (k == 0)
                    p.data.insert(p.data.end(), u.begin(), u.begin() + ptrdiff_t(header));
                p.data.insert(p.data.end(), u.begin() + ptrdiff_t(pos), u.begin() + ptrdiff_t(pos + n));
                pos += n;
                out.push_back(std::move(p));
            }
            whole = false;
        }
        if (last)
            last->push_back(out.size() - 1);
    }
    return out;
}

// Units handed over, their stamps, and the packet that was being pushed.
struct Collector
{
    std::vector<Bytes> units;
    std::vector<int32_t> stamps;
    std::vector<size_t> atPacket;
    size_t packet = 0;
    NalAssembler assembler;

    explicit Collector(bool h265)
        : assembler(h265 ? NalAssembler::Codec::H265 : NalAssembler::Codec::H264,
                    [this](const uint8_t *nal, size_t n, int32_t stamp) {
                        units.emplace_back(nal, nal + n);
                        stamps.push_back(stamp);
                        atPacket.push_back(packet);
                    })
    {
    }
    void push(const std::vector<Packet> &packets)
    {
        for (const auto &p : packets) {
            assembler.push(p.data.data(), p.data.size(), int32_t(p.pts));
            ++packet;
        }
    }
    void delimiter() // the next picture's first packet
    {
        const Bytes aud{0, 0, 0, 1, 0x09, 0x10};
        assembler.push(aud.data(), aud.size(), 0);
    }
};

// A random unit: a slice header byte (two for H.265), then bytes without 00 00 0x.
Bytes randomUnit(QRandomGenerator &rng, size_t size, bool h265)
{
    Bytes u(size);
    for (size_t i = 0; i < size; ++i) {
        u[i] = uint8_t(rng.bounded(256));
        if (i >= 2 && u[i - 2] == 0 && u[i - 1] == 0 && u[i] <= 3)
            u[i] = 0x55;
    }
    u[0] = h265 ? 0x02 : 0x41;
    if (h265)
        u[1] = 1;
    if (u.back() == 0)
        u.back() = 0x80; // a unit ends in its stop bit
    return u;
}

} // namespace

class TestNalAssembler : public QObject
{
    Q_OBJECT

private slots:
    void realStreamsComeBackWholeAndEarly_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<bool>("fill");
        QTest::addColumn<int>("payload");
        QTest::newRow("H.264 fill 1200, aggregation packets") << 1 << true << 1200;
        QTest::newRow("H.264 equal split 1400") << 1 << false << 1400;
        QTest::newRow("H.265 fill 1400, aggregation packets") << 2 << true << 1400;
    }
    void realStreamsComeBackWholeAndEarly()
    {
        QFETCH(int, codec);
        QFETCH(bool, fill);
        QFETCH(int, payload);
        if (!test::haveEncoder(codec))
            QSKIP("encoder not available");
        test::EncodeOptions o;
        o.codec = codec;
        o.width = 640;
        o.height = 480;
        o.quality = 14; // most pictures larger than a packet
        o.frames = 30;
        o.gop = 15;
        o.slices = 3 - codec; // two slices a picture for H.264
        std::vector<Bytes> units;
        std::vector<int64_t> pts;
        const auto frames = test::encodeStream(o);
        for (size_t k = 0; k < frames.size(); ++k)
            for (const auto &nal : test::splitNals(frames[k].data)) {
                units.emplace_back(nal.begin() + 4, nal.end());
                pts.push_back(int64_t(k) * 3600);
            }
        std::vector<size_t> last;
        const auto packets = packetise(units, pts, codec == 2, size_t(payload), fill, fill, &last);
        const auto fragments = std::count_if(packets.begin(), packets.end(), [](const Packet &p) { return p.data[0] != 0; });
        QVERIFY2(fragments >= 10, qPrintable(QString::number(fragments))); // units were cut
        Collector c(codec == 2);
        c.push(packets);
        c.delimiter();

        // Every unit whole, in order, with its picture's stamp, never handed
        // over before its last packet; with fill nearly always on it (not:
        // fragments within a byte of full, longer single units before the
        // cut is learned).
        QCOMPARE(c.units.size(), units.size() + 1);
        size_t late = 0;
        for (size_t i = 0; i < units.size(); ++i) {
            QVERIFY2(c.units[i] == units[i], qPrintable(QStringLiteral("unit %1").arg(i)));
            QCOMPARE(int64_t(c.stamps[i]), pts[i]);
            QVERIFY(c.atPacket[i] >= last[i]);
            late += c.atPacket[i] != last[i];
        }
        if (fill)
            QVERIFY2(late <= 2, qPrintable(QStringLiteral("%1 of %2 units late").arg(late).arg(units.size())));
        QVERIFY(!c.assembler.fellBack() && !c.assembler.irregular());
        QCOMPARE(c.assembler.counters().dropped, uint64_t(0));
        c.units.pop_back(); // the delimiter
        std::vector<Bytes> annexB;
        for (const auto &u : c.units) {
            annexB.push_back({0, 0, 0, 1});
            annexB.back().insert(annexB.back().end(), u.begin(), u.end());
        }
        const test::Decoded d = test::decodeAnnexB(annexB, codec);
        QCOMPARE(d.pictures, 30);
        QCOMPARE(d.errors, 0);
    }

    void randomWellFormedStreamsNeverCut()
    {
        // Random payload sizes and cuts, units from a few bytes to many
        // packets (first fragments ending in zero bytes among them): every
        // unit comes back whole, nothing falls back.
        QRandomGenerator rng(1705);
        for (int round = 0; round < 300; ++round) {
            const bool h265 = rng.bounded(2), fill = rng.bounded(2);
            const size_t payload = 512 + rng.bounded(1100);
            std::vector<Bytes> units;
            std::vector<int64_t> pts;
            for (int i = 0, n = 10 + int(rng.bounded(60)); i < n; ++i) {
                const size_t sizes[4] = {3 + size_t(rng.bounded(60)), 60 + size_t(rng.bounded(quint32(payload))),
                                         payload - 2 + size_t(rng.bounded(5)),
                                         payload + size_t(rng.bounded(quint32(8 * payload)))};
                units.push_back(randomUnit(rng, sizes[rng.bounded(4)], h265));
                pts.push_back((pts.empty() ? 0 : pts.back()) + (rng.bounded(3) == 0 ? 3600 : 0));
            }
            Collector c(h265);
            c.push(packetise(units, pts, h265, payload, fill, rng.bounded(2)));
            c.delimiter();
            QCOMPARE(c.units.size(), units.size() + 1);
            for (size_t i = 0; i < units.size(); ++i)
                QVERIFY2(c.units[i] == units[i], qPrintable(QStringLiteral("round %1, unit %2 of %3 bytes, payload %4")
                                                                .arg(round).arg(i).arg(units[i].size()).arg(payload)));
            QVERIFY(!c.assembler.fellBack());
        }
    }

    void oddPacketSequencesAreSurvived()
    {
        // Empty packets, bare or cut start codes, zero bytes, continuations
        // with nothing to continue, jumping stamps: no crash, no empty unit,
        // never more out than in.
        QRandomGenerator rng(42);
        for (int round = 0; round < 200; ++round) {
            size_t in = 0, out = 0;
            bool empty = false;
            NalAssembler a(round % 2 ? NalAssembler::Codec::H265 : NalAssembler::Codec::H264,
                           [&](const uint8_t *, size_t n, int32_t) { out += n, empty |= n == 0; });
            for (int i = 0; i < 200; ++i) {
                Bytes b(rng.bounded(8) == 0 ? rng.bounded(5) : rng.bounded(3000));
                for (auto &x : b)
                    x = rng.bounded(3) == 0 ? 0 : uint8_t(rng.bounded(256));
                static const Bytes prefixes[4] = {{0, 0, 0, 1}, {0, 0, 1}, {0, 0}, {}};
                const Bytes &prefix = prefixes[rng.bounded(4)];
                b.insert(b.begin(), prefix.begin(), prefix.end());
                in += b.size();
                a.push(b.data(), b.size(), i);
            }
            QVERIFY(!empty && out <= in);
            QVERIFY(a.counters().onLastPacket <= a.counters().units);
        }
    }

    void straysAndGiantsAreDroppedStampStepsAreNot()
    {
        Collector c(false);
        const Bytes full(1393, 0x77); // fragments of a 1,395-byte payload
        c.push({{full, 0}});          // nothing to continue
        QCOMPARE(c.assembler.counters().dropped, uint64_t(1));
        // The demuxer re-bases its clock on a sender report that came
        // between two fragments: still one unit, with its first stamp.
        Bytes first{0, 0, 0, 1, 0x41};
        first.resize(1398, 0x66);
        c.push({{first, 10}, {full, 20}, {full, 20}});
        c.delimiter();
        QCOMPARE(c.units.size(), size_t(2)); // the unit, then the delimiter at once
        QCOMPARE(c.units[0].size(), first.size() - 4 + 2 * full.size());
        QCOMPARE(c.stamps[0], 10);
        QVERIFY(!c.assembler.fellBack());
        // A unit that grows beyond any picture is dropped, and what follows of it.
        c.push({{first, 30}});
        const Bytes big(1 << 20, 0x11);
        for (int i = 0; i < 17; ++i)
            c.push({{big, 30}});
        c.push({{Bytes(first.begin(), first.begin() + 20), 40}, {Bytes(first.begin(), first.begin() + 20), 50}});
        QCOMPARE(c.units.size(), size_t(3));
        QCOMPARE(c.units[2].size(), size_t(16)); // on the next packet: fragments of such sizes are no pattern
        QVERIFY(c.assembler.irregular());
        QCOMPARE(c.assembler.counters().dropped, uint64_t(1 + 2));
    }

    void unitTakenAsWholeThatGoesOnFallsBack()
    {
        // Fill at 1000 bytes, learned; then one unit cut at 600 bytes in its
        // middle: it goes out cut, its rest is dropped, and from then on
        // units wait for the next packet (and come whole).
        QRandomGenerator rng(7);
        std::vector<Bytes> units;
        for (int i = 0; i < 6; ++i)
            units.push_back(randomUnit(rng, 2500 + size_t(i) * 10, false));
        Collector c(false);
        c.push(packetise(units, {0, 1, 2, 3, 4, 5}, false, 1000, true, false));
        QCOMPARE(c.units.size(), size_t(6)); // each on its last packet
        const Bytes odd = randomUnit(rng, 3000, false);
        Bytes first{0, 0, 0, 1};
        first.insert(first.end(), odd.begin(), odd.begin() + 999);
        c.push({{first, 6}, {Bytes(odd.begin() + 999, odd.begin() + 1599), 6}});
        QCOMPARE(c.units.size(), size_t(7));
        QVERIFY(!c.assembler.fellBack());
        c.push({{Bytes(odd.begin() + 1599, odd.end()), 6}});
        QVERIFY(c.assembler.fellBack());

        const uint64_t early = c.assembler.counters().onLastPacket;
        std::vector<Bytes> more;
        std::vector<size_t> last;
        for (int i = 0; i < 8; ++i)
            more.push_back(randomUnit(rng, i % 2 ? 40 : 2200, false));
        const auto packets = packetise(more, {7, 8, 9, 10, 11, 12, 13, 14}, false, 1000, true, false, &last);
        for (size_t k = 0; k < packets.size(); ++k) {
            c.push({packets[k]});
            QCOMPARE(c.units.size(), size_t(7) + size_t(std::lower_bound(last.begin(), last.end(), k) - last.begin()));
        }
        c.delimiter();
        QCOMPARE(c.units.size(), size_t(7 + 8)); // the delimiter itself waits
        QVERIFY(std::equal(more.begin(), more.end(), c.units.begin() + 7));
        QCOMPARE(c.assembler.counters().onLastPacket, early);
    }

    void fragmentsOfNoPatternAreNeverJudged()
    {
        // Payloads of 1000, then 1003 bytes: neither fill nor an equal
        // split. From then on nothing is taken as whole early, neither the
        // short fragments that end this unit nor a short single unit.
        QRandomGenerator rng(9);
        Collector c(false);
        const Bytes u = randomUnit(rng, 3800, false);
        Bytes first{0, 0, 0, 1};
        first.insert(first.end(), u.begin(), u.begin() + 999);
        std::vector<Packet> packets{{first, 0}};
        for (size_t pos = 999; pos < u.size(); pos += std::min<size_t>(1001, u.size() - pos))
            packets.push_back({Bytes(u.begin() + ptrdiff_t(pos), u.begin() + ptrdiff_t(std::min<size_t>(pos + 1001, u.size()))), 0});
        const Bytes small{0, 0, 0, 1, 0x41, 0x22, 0x80};
        packets.push_back({small, 1});
        c.push(packets);
        QVERIFY(c.assembler.irregular());
        QCOMPARE(c.units.size(), size_t(1)); // when the small unit came
        QVERIFY(c.units[0] == u);
        QCOMPARE(c.assembler.counters().onLastPacket, uint64_t(0));
    }
};

QTEST_GUILESS_MAIN(TestNalAssembler)
#include "tst_nalassembler.moc"
