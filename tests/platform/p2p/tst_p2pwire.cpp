// The relay protocol's envelope and the library's handling of incoming bytes:
// every malformed envelope is dropped with a log line and never read past
// its end; camera IDs, tokens and the configuration file.

#include "common/logfile.h"
#include "common/p2precords.h"
#include "platform/p2p/p2p_client.h"
#include "platform/p2p/p2p_wire.h"
#include "tests/support/testenv.h"
#include "tests/support/files.h"

#include <QFile>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <sys/stat.h>

using namespace varno::p2p;
using varno::test::logText;

namespace {

std::vector<uint8_t> envelope(Kind kind, const std::string &from, uint32_t session, uint32_t channel,
                              int32_t status, const std::vector<uint8_t> &body)
{
    return encode(kind, from, session, 1, channel, status, body.data(), body.size());
}

} // namespace

class TestP2pWire : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip()
    {
        const std::vector<uint8_t> body = {1, 2, 3, 4, 5};
        const auto bytes = encode(Kind::Message, "VRNB-765432-KXPQT", 0x11223344, 7, 9, 155, body.data(),
                                  body.size());
        QCOMPARE(bytes.size(), kHeaderSize + 5);
        QCOMPARE(bytes[0], uint8_t('V'));
        QCOMPARE(bytes[1], uint8_t('P'));
        QCOMPARE(bytes[2], uint8_t(1));
        QCOMPARE(bytes[3], uint8_t(0x50));
        QCOMPARE(getU32(bytes.data() + 4), 0x11223344u);   // little-endian on the wire
        QCOMPARE(bytes[4], uint8_t(0x44));
        Envelope e;
        QCOMPARE(int(decode(bytes.data(), bytes.size(), e)), int(DecodeError::Ok));
        QCOMPARE(int(e.kind), int(Kind::Message));
        QCOMPARE(e.session, 0x11223344u);
        QCOMPARE(e.request, 7u);
        QCOMPARE(e.channel, 9u);
        QCOMPARE(e.status, 155);
        QCOMPARE(e.from, std::string("VRNB-765432-KXPQT"));
        QCOMPARE(e.bodySize, size_t(5));
        QCOMPARE(std::memcmp(e.body, body.data(), 5), 0);
        // A sender ID longer than its field is cut, still terminated.
        const auto longId = encode(Kind::Ping, std::string(60, 'x'), 0, 0, 0, 0, nullptr, 0);
        QCOMPARE(int(decode(longId.data(), longId.size(), e)), int(DecodeError::Ok));
        QCOMPARE(e.from.size(), kIdSize - 1);

        // Version 2: its own kinds carry 2, the kinds of version 1 still carry 1,
        // and a version-2 envelope of an older kind is accepted.
        const auto probe = encode(Kind::PresenceProbe, "c0123456789abcdef", 5, 6, 0, 0, nullptr, 0);
        QCOMPARE(probe[2], uint8_t(2));
        QCOMPARE(int(decode(probe.data(), probe.size(), e)), int(DecodeError::Ok));
        QCOMPARE(int(e.kind), int(Kind::PresenceProbe));
        QCOMPARE(int(e.version), 2);
        auto newer = bytes;
        newer[2] = 2;
        QCOMPARE(int(decode(newer.data(), newer.size(), e)), int(DecodeError::Ok));
        QCOMPARE(int(e.version), 2);
        QCOMPARE(lookupTopic("B765432"), std::string("varno/v1/lic/B765432/ask"));
        // The version a camera announces behind a body layout; none is 1.
        std::vector<uint8_t> accept(body::kSessionAcceptV2, 0);
        QCOMPARE(announcedVersion(accept.data(), body::kSessionAccept, body::kSessionAccept), 1u);
        putU32(accept.data() + body::kSessionAccept, 2);
        QCOMPARE(announcedVersion(accept.data(), accept.size(), body::kSessionAccept), 2u);
    }

    void decodeRejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        const auto good = encode(Kind::Message, "cam", 1, 2, 3, 10, "abcd", 4);
        const QByteArray g(reinterpret_cast<const char *>(good.data()), int(good.size()));
        QTest::newRow("empty") << QByteArray() << int(DecodeError::Short);
        QTest::newRow("63 bytes") << g.left(63) << int(DecodeError::Short);
        QByteArray b = g;
        b[0] = 'X';
        QTest::newRow("magic") << b << int(DecodeError::Magic);
        b = g;
        b[2] = kVersion + 1;
        QTest::newRow("version above ours") << b << int(DecodeError::Version);
        b = g;
        b[2] = 0;
        QTest::newRow("version 0") << b << int(DecodeError::Version);
        b = g;
        b[3] = char(0x66);
        QTest::newRow("kind") << b << int(DecodeError::Kind);
        // Kinds of version 2 inside a version-1 envelope.
        for (Kind k : {Kind::Lookup, Kind::PresenceProbe}) {
            const auto v2 = encode(k, "c0123456789abcdef", 0, 1, 0, 0, nullptr, 0);
            QByteArray v(reinterpret_cast<const char *>(v2.data()), int(v2.size()));
            v[2] = 1;
            QTest::newRow(kindName(k)) << v << int(DecodeError::Kind);
        }
        QTest::newRow("body cut short") << g.left(g.size() - 1) << int(DecodeError::Length);
        QTest::newRow("trailing bytes") << g + 'z' << int(DecodeError::Length);
        b = g;
        putU32(reinterpret_cast<uint8_t *>(b.data()) + 20, 0xFFFFFFFFu);   // "negative" length
        QTest::newRow("length -1") << b << int(DecodeError::TooLarge);
        b = g;
        putU32(reinterpret_cast<uint8_t *>(b.data()) + 20, uint32_t(kMaxBody + 1));
        QTest::newRow("length above limit") << b << int(DecodeError::TooLarge);
        b = g;
        std::memset(b.data() + 24, 'A', kIdSize);
        QTest::newRow("sender without terminator") << b << int(DecodeError::SenderId);
        b = g;
        std::memset(b.data() + 24, 0, kIdSize);
        QTest::newRow("empty sender") << b << int(DecodeError::SenderId);
    }

    void decodeRejects()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        // Decode from an exact-size heap copy so that an overrun would be caught
        // by the sanitizers of the fuzz build.
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());
        Envelope e;
        QCOMPARE(int(decode(copy.empty() ? nullptr : copy.data(), copy.size(), e)), error);
    }

    void cameraIds()
    {
        QCOMPARE(cameraIdForDevice("B765432", "KXPQT"), std::string("VRNB-765432-KXPQT"));
        QCOMPARE(deviceIdFromCameraId("VRNB-765432-KXPQT"), std::string("B765432"));
        QCOMPARE(cameraIdForDevice("B76543", "KXPQT"), std::string());
        QCOMPARE(deviceIdFromCameraId("-765432"), std::string());
        QCOMPARE(deviceIdFromCameraId("VRNB-7654"), std::string());
        QCOMPARE(deviceIdFromCameraId("NODASH"), std::string());
        QVERIFY(validTopicId("VRNB-765432-KXPQT"));
        QVERIFY(!validTopicId(""));
        QVERIFY(!validTopicId("a/b"));
        QVERIFY(!validTopicId("a+"));
        QVERIFY(!validTopicId("#"));
        QVERIFY(!validTopicId(std::string(40, 'a')));   // the sender field holds 39
        QVERIFY(validTopicId(std::string(39, 'a')));
    }

    void tokens()
    {
        uint8_t t[kPasswordTokenSize];
        std::memset(t, 0x55, sizeof(t));
        makeToken("abc", 5, t);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(t)), QByteArray("0231231f5545593387ccc64f229bc70f"));
        for (size_t i = 32; i < kPasswordTokenSize; ++i)
            QCOMPARE(t[i], uint8_t(0));
        QVERIFY(checkToken("abc", 5, t));
        QVERIFY(!checkToken("abc", 6, t));
        QVERIFY(!checkToken("abd", 5, t));
        makeToken("pw", -77, t);   // negative numbers are written with their sign
        QVERIFY(checkToken("pw", -77, t));
        QVERIFY(!checkToken("pw", 77, t));
    }

    void configFile()
    {
        const QString path = varno::test::tempRoot() + QStringLiteral("/p2p-test.conf");
        QVERIFY(varno::test::writeFile(path, "# comment\nhost = 127.0.0.2\nport=1999 # trailing\nkeepalive = 1\n"
                                             "timeout_ms = 500\nport = 70000\nnonsense\ntls = 1\ncafile = /x/ca.pem\n"));
        const ClientConfig c = readConfig(path.toStdString());
        QCOMPARE(c.host, std::string("127.0.0.2"));
        QCOMPARE(c.port, 1999);            // 70000 is out of range and ignored
        QCOMPARE(c.keepAliveS, 10);        // 1 is below the minimum
        QCOMPARE(c.requestTimeoutMs, 500);
        QVERIFY(c.tls);
        QCOMPARE(c.caFile, std::string("/x/ca.pem"));
        const ClientConfig d = readConfig("/nonexistent/p2p.conf");
        QCOMPARE(d.host, std::string("127.0.0.1"));
        QCOMPARE(d.port, 1883);
    }

    void damagedConfigFileIsBounded()
    {
        // Thousands of bad lines write one "ignored line" and one count to the
        // log; a file over 1 MB is not read at all, nor a FIFO in its place.
        const QString path = varno::test::tempRoot() + QStringLiteral("/p2p-bad.conf");
        QByteArray lines;
        for (int i = 0; i < 5000; ++i)
            lines += QByteArray("junk") + QByteArray::number(i) + "=x\n";
        QVERIFY(varno::test::writeFile(path, lines + "host = 127.0.0.3\n"));
        const qsizetype before = logText().count("p2p.conf: ignored line(");
        QCOMPARE(readConfig(path.toStdString()).host, std::string("127.0.0.3"));
        QCOMPARE(logText().count("p2p.conf: ignored line("), before + 1);
        QVERIFY(logText().contains("p2p.conf: 5000 lines ignored, the first one logged!!!"));

        QVERIFY(varno::test::writeFile(path, lines + QByteArray(1100 * 1024, '#')));
        QCOMPARE(readConfig(path.toStdString()).host, std::string("127.0.0.1"));
        QVERIFY(logText().contains("p2p.conf(" + QFile::encodeName(path) + ") is too large"));
        QCOMPARE(logText().count("p2p.conf: ignored line("), before + 1);

        const QString fifo = varno::test::tempRoot() + QStringLiteral("/p2p-fifo.conf");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(readConfig(fifo.toStdString()).host, std::string("127.0.0.1")); // returns: nobody writes the FIFO
    }

    void incomingBadInputIsDroppedAndLogged()
    {
        Client client(ClientConfig(), "", "");
        const std::string cam = "VRNB-765432-KXPQT";
        client.addTestSession(cam, 42);
        const std::string inbox = clientInbox(client.clientId());
        auto bad = envelope(Kind::Message, cam, 42, 0, 11, {0, 0, 0, 0});
        bad[2] = 9;
        // Each exactly as long as given, so that a read past the end is seen by
        // the sanitizers. An envelope that does not decode (decodeRejects has
        // every kind), then bodies shorter than their kind's.
        const std::tuple<std::string, std::vector<uint8_t>, const char *> cases[] = {
            {inbox, bad, "unknown protocol version"},
            // Frames, playback data and download data shorter than their heads.
            {inbox, envelope(Kind::StreamFrame, cam, 42, 0, 0, {1, 0}), nullptr},
            {inbox, envelope(Kind::PlayData, cam, 42, 2, 0, {1, 0}), nullptr},
            {inbox, envelope(Kind::DownloadData, cam, 42, 3, 0, {1, 0}), nullptr},
            // A presence whose body is short, and a kind a client never receives.
            {cameraPresence(cam), envelope(Kind::Presence, cam, 0, 0, 1, {1, 2, 3}), nullptr},
            {inbox, envelope(Kind::StreamOpen, cam, 42, 0, 0, {}), nullptr},
        };
        uint64_t dropped = client.droppedEnvelopes();
        for (const auto &[topic, bytes, line] : cases) {
            client.handleIncoming(topic.c_str(), bytes.data(), bytes.size());
            QCOMPARE(client.droppedEnvelopes(), ++dropped);
            QVERIFY(!line || logText().contains(line));
        }
        // Null topic or data: nothing happens.
        client.handleIncoming(nullptr, bad.data(), bad.size());
        client.handleIncoming(inbox.c_str(), nullptr, 0);
        QCOMPARE(client.droppedEnvelopes(), ++dropped);
    }

    void incomingFramesNeedTheirSession()
    {
        Client client(ClientConfig(), "", "");
        const std::string cam = "VRNB-765432-KXPQT";
        std::atomic<int> calls{0};
        client.addTestSession(cam, 42,
                              [](P2P_HANDLE, const char *, const int32_t *, int32_t, const char *, int32_t, void *user) {
                                  static_cast<std::atomic<int> *>(user)->fetch_add(1);
                                  return 0;
                              },
                              &calls);
        const std::string inbox = clientInbox(client.clientId());
        std::vector<uint8_t> frame(body::kFrameHead + 5, 0);
        frame[0] = kMediaVideo;
        frame[body::kFrameHead + 3] = 1;
        // Wrong session number, unknown camera, stream index out of range:
        // ignored without any queueing.
        for (auto e : {envelope(Kind::StreamFrame, cam, 43, 0, 0, frame),
                       envelope(Kind::StreamFrame, "VRNZ-000000-NOSES", 42, 0, 0, frame),
                       envelope(Kind::StreamFrame, cam, 42, 7, 0, frame)})
            client.handleIncoming(inbox.c_str(), e.data(), e.size());
        QCOMPARE(client.droppedFrames(), uint64_t(0));
        QCOMPARE(client.droppedEnvelopes(), uint64_t(0));
        // The same frame in the right session reaches the callback, behind any
        // of the ignored ones that had been queued: exactly one call.
        auto right = envelope(Kind::StreamFrame, cam, 42, 0, 0, frame);
        client.handleIncoming(inbox.c_str(), right.data(), right.size());
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 10000);
        // An unknown media type is dropped with a log line.
        frame[0] = 9;
        auto e = envelope(Kind::StreamFrame, cam, 42, 0, 0, frame);
        client.handleIncoming(inbox.c_str(), e.data(), e.size());
        QCOMPARE(client.droppedEnvelopes(), uint64_t(1));
        QCOMPARE(calls.load(), 1);
    }

    void downloadPiecesTrimmedAndGapsDropped()
    {
        Client client(ClientConfig(), "", "");
        const std::string cam = "VRNB-765432-KXPQT";
        client.addTestSession(cam, 42);
        const std::string inbox = clientInbox(client.clientId());
        // The test session's download is transfer 3 (live 1, playback 2).
        auto piece = [&](uint32_t offset, size_t n) {
            std::vector<uint8_t> b(body::kDownloadHead + n, 7);
            putU32(b.data(), offset);
            auto e = envelope(Kind::DownloadData, cam, 42, 3, 0, b);
            client.handleIncoming(inbox.c_str(), e.data(), e.size());
        };
        piece(0, 100);
        QCOMPARE(client.droppedEnvelopes(), uint64_t(0));
        piece(50, 100);    // overlaps: trimmed, accepted
        QCOMPARE(client.droppedEnvelopes(), uint64_t(0));
        piece(400, 10);    // gap after 150: dropped
        QCOMPARE(client.droppedEnvelopes(), uint64_t(1));
        piece(0xFFFFFFF0u, 100);   // would run past 4 GiB: a gap as well
        QCOMPARE(client.droppedEnvelopes(), uint64_t(2));
    }
};

QTEST_GUILESS_MAIN(TestP2pWire)
#include "tst_p2pwire.moc"
