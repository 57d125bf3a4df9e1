// The camera simulator's media and storage: encoded loops that decode,
// G.711 A-law checked against the ITU-T expansion, camera recording files
// with their exact layout, and the configuration file.

#include "common/camerafile.h"
#include "common/mediarecords.h"
#include "platform/recfile/nalunits.h"
#include "tools/camsim/camerastorage.h"
#include "tools/camsim/medialoop.h"
#include "tools/camsim/simconfig.h"
#include "tools/camsim/simulator.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QtTest>

#include <cmath>
#include <cstring>

using namespace varno::camsim;

namespace {

VideoSettings smallVideo(int loopSeconds = 4)
{
    VideoSettings v;
    v.width = 160;
    v.height = 90;
    v.fps = 25;
    v.kbps = 100;
    v.loopSeconds = loopSeconds;
    return v;
}

} // namespace

class TestCamsimMedia : public QObject
{
    Q_OBJECT

private slots:
    void loopDecodesWithKeyFramesEveryTwoSeconds_data()
    {
        QTest::addColumn<bool>("h265");
        QTest::newRow("h264") << false;
        QTest::newRow("h265") << true;
    }

    // The key frames as the client's NAL module finds them, in streams made
    // like cameras' (H.265: AUD, SEI and two slices in every picture).
    void loopDecodesWithKeyFramesEveryTwoSeconds()
    {
        using namespace varno::recfile;
        QFETCH(bool, h265);
        const VideoCodec codec = h265 ? VideoCodec::H265 : VideoCodec::H264;
        VideoLoop loop;
        VideoSettings v = smallVideo();
        v.h265 = h265;
        QVERIFY2(loop.encode(v, 17), loop.error().c_str());
        const auto &f = loop.frames();
        QCOMPARE(int(f.size()), 100);
        std::vector<std::vector<uint8_t>> units;
        for (size_t i = 0; i < f.size(); ++i) {
            const uint8_t *d = f[i].data.data();
            const size_t n = f[i].data.size();
            QCOMPARE(f[i].key, i % 50 == 0);
            QCOMPARE(startsDecodable(codec, d, n), f[i].key);
            QCOMPARE(containsKeySlice(codec, d, n), f[i].key);
            QCOMPARE(startsWithParameterSets(codec, d, n), f[i].key); // H.265: behind an AUD
            QSet<int> kinds;
            int slices = 0;
            int firstSlices = 0;
            for (const NalUnit &nal : splitAnnexB(d, n)) {
                QCOMPARE(std::memcmp(nal.data - 4, "\0\0\0\1", 4), 0);
                slices += isSlice(codec, nal) ? 1 : 0;
                firstSlices += isFirstSliceOfPicture(codec, nal) ? 1 : 0;
                kinds << mediaFrameType(codec, nal);
            }
            QCOMPARE(slices * 10 + firstSlices, h265 ? 21 : 11);
            QVERIFY(kinds.contains(MEDIA_FRAME_SEI) || !h265);
            QCOMPARE(kinds.contains(MEDIA_FRAME_SPS) && kinds.contains(MEDIA_FRAME_PPS) && kinds.contains(MEDIA_FRAME_IDR),
                     f[i].key);
            QCOMPARE(kinds.contains(MEDIA_FRAME_SLICE), !f[i].key);
            units.push_back(f[i].data);
        }
        QCOMPARE(parameterSetKind(codec, {loop.sps().data(), loop.sps().size()}) * 10
                     + parameterSetKind(codec, {loop.pps().data(), loop.pps().size()}),
                 23);
        // Decoded, and replayed from the start after its end.
        const std::vector<std::vector<uint8_t>> once = units;
        units.insert(units.end(), once.begin(), once.end());
        const varno::test::Decoded twice = varno::test::decodeAnnexB(units, h265 ? 2 : 1);
        QCOMPARE(twice.pictures, 200);
        QCOMPARE(twice.errors, 0);
        QCOMPARE(twice.width, 160);
        QCOMPARE(twice.height, 90);
    }

    void camerasDiffer()
    {
        VideoLoop a;
        VideoLoop b;
        QVERIFY(a.encode(smallVideo(), 1));
        QVERIFY(b.encode(smallVideo(), 2));
        QVERIFY(a.frames()[10].data != b.frames()[10].data);
        QVERIFY(a.frames()[10].data != a.frames()[11].data);   // the picture moves
    }

    void alawDecodesToTheTone()
    {
        QCOMPARE(linearToAlaw(0), uint8_t(0xD5));
        QCOMPARE(linearToAlaw(-1), uint8_t(0x55));
        QCOMPARE(linearToAlaw(32767), uint8_t(0xAA));
        QCOMPARE(linearToAlaw(-32768), uint8_t(0x2A));
        const std::vector<uint8_t> tone = alawTone(440);
        QCOMPARE(int(tone.size()), 8000);
        // Expanded by the ITU-T formulas, independent of the simulator's tables.
        double worst = 0;
        for (int i = 0; i < 8000; ++i) {
            const double expected = 8000.0 * std::sin(2.0 * M_PI * 440 * i / 8000.0);
            worst = std::max(worst, std::fabs(varno::test::alawToLinear(tone[size_t(i)]) - expected));
        }
        QVERIFY2(worst < 260, QByteArray::number(worst));   // within A-law's step at that level
    }

    void cameraFileLayout()
    {
        VideoLoop loop;
        QVERIFY(loop.encode(smallVideo(2), 5));
        const std::vector<uint8_t> tone = alawTone(1000);
        const QDateTime start = QDateTime::fromString(QStringLiteral("2019-02-25 12:30:00"),
                                                      QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const std::string path = (varno::test::tempRoot() + QStringLiteral("/cam.h264")).toStdString();
        std::string error;
        QVERIFY2(writeCameraFile(path, "B765432", start, 3, loop, tone, &error), error.c_str());
        const QByteArray bytes = varno::test::readFile(QString::fromStdString(path));
        auto u32 = [&](int at) {
            uint32_t v32 = 0;
            std::memcpy(&v32, bytes.constData() + at, 4);
            return v32;
        };
        QCOMPARE(u32(60), 8000u);                          // sample rate
        QCOMPARE(u32(64), uint32_t(bytes.size()));         // end of chunk data
        QCOMPARE(int(uint8_t(bytes[88])), 0);              // channel
        QCOMPARE(int(uint8_t(bytes[89])), 25);             // frame rate
        QCOMPARE(int(uint8_t(bytes[90])), int(varno::camfile::kRes640x360));
        QCOMPARE(bytes.mid(512, 4), QByteArray("00dc"));
        // Walk the chunks by hand: tags, head sizes and 8-byte padding.
        int pos = 512;
        int video = 0;
        int audio = 0;
        uint64_t lastTs = 0;
        while (pos < bytes.size()) {
            const QByteArray tag = bytes.mid(pos, 4);
            const uint32_t size = u32(pos + 4);
            uint64_t ts = 0;
            int head = 0;
            if (tag == "00dc") {
                head = 44;
                std::memcpy(&ts, bytes.constData() + pos + 4 + 12, 8);
                QCOMPARE(bytes.mid(pos + 4 + head, 4), QByteArray("\0\0\0\1", 4));
                ++video;
            } else {
                QCOMPARE(tag, QByteArray("01wb"));
                head = 12;
                std::memcpy(&ts, bytes.constData() + pos + 8, 8);
                QCOMPARE(size, 320u);
                ++audio;
            }
            QVERIFY(ts >= lastTs);
            lastTs = ts;
            const int padded = int((size + 7) & ~7u);
            for (int k = int(size); k < padded; ++k)
                QCOMPARE(int(bytes[pos + 4 + head + k]), 0);
            pos += 4 + head + padded;
        }
        QCOMPARE(pos, bytes.size());
        QCOMPARE(video, 75);
        QCOMPARE(audio, 75);
        QCOMPARE(lastTs, uint64_t(start.toMSecsSinceEpoch()) * 1000 + 74 * 40000);
        CAMFILE_HEADER_S header;
        std::vector<FileChunk> chunks;
        QVERIFY(readCameraFile(path, header, chunks, &error));
        QCOMPARE(int(chunks.size()), 150);
        QVERIFY(chunks[0].video && chunks[0].key);
        QVERIFY(!chunks[1].video);
        QCOMPARE(header.duration, 3);
    }

    void configuration();
};

void TestCamsimMedia::configuration()
{
    SimConfig c;
    QString error;
    QVERIFY(!parseSimConfig("not json", c, &error));
    QVERIFY(!parseSimConfig(R"({"broker":{"host":"10.1.2.3"}})", c, &error));
    QVERIFY(error.contains(QStringLiteral("loopback")));
    QVERIFY(parseSimConfig(R"({"broker":{"host":"127.0.0.1","port":1999},
        "cameras":[{"kind":"p2p","deviceId":"B765432","password":"abc123"},
                   {"kind":"future-kind","x":1}]})", c, &error));
    QCOMPARE(c.broker.port, 1999);
    QCOMPARE(c.cameras.size(), 2);
    P2pCameraConfig p;
    QVERIFY(parseP2pCamera(c.cameras[0].raw, p, &error));
    QCOMPARE(p.p2pId, QStringLiteral("VRNB-765432-KXPQT"));   // derived from the device ID
    QCOMPARE(p.hd.fps, 25);
    QCOMPARE(p.hd.keySeconds, 2);
    QVERIFY(!p.hd.h265 && !p.sd.h265);
    QJsonObject hevc = c.cameras[0].raw;
    hevc.insert(QStringLiteral("codec"), QStringLiteral("h265"));
    QVERIFY(parseP2pCamera(hevc, p, &error));
    QVERIFY(p.hd.h265 && p.sd.h265);
    hevc.insert(QStringLiteral("codec"), QStringLiteral("mjpeg"));
    QVERIFY(!parseP2pCamera(hevc, p, &error));
    QVERIFY(error.contains(QStringLiteral("mjpeg")));
    QVERIFY(!parseP2pCamera(QJsonObject{{QStringLiteral("deviceId"), QStringLiteral("a/b")}}, p, &error));
    // Unknown kinds stop the simulator with a reason; nothing keeps running.
    SimConfig unknown;
    QVERIFY(parseSimConfig(R"({"cameras":[{"kind":"future-kind"}]})", unknown, &error));
    Simulator sim;
    QVERIFY(!sim.start(unknown, &error));
    QVERIFY(error.contains(QStringLiteral("future-kind")));
    QVERIFY(sim.cameras().empty());
    QCOMPARE(sim.control(QStringLiteral("ping")), QStringLiteral("OK pong"));
    QVERIFY(sim.control(QStringLiteral("B000000 stall 0 on")).startsWith(QStringLiteral("ERR")));
    QVERIFY(sim.control(QStringLiteral("   ")).startsWith(QStringLiteral("ERR")));
}

QTEST_GUILESS_MAIN(TestCamsimMedia)
#include "tst_camsimmedia.moc"
