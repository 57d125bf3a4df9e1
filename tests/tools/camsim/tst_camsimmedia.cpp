// The camera simulator's media and storage: encoded loops that decode,
// G.711 A-law checked against the ITU-T expansion, camera recording files
// with their exact layout, and the configuration file. Its RTSP server read
// by FFmpeg's RTSP client: a camera's streams, viewers joining a shared
// stream. The pictures of a camera with a head (P2P and ONVIF) show where it
// looks.

#include "common/camerafile.h"
#include "common/mediarecords.h"
#include "platform/recfile/nalunits.h"
#include "tools/camsim/camerastorage.h"
#include "tools/camsim/medialoop.h"
#include "tools/camsim/rtspserver.h"
#include "tools/camsim/simconfig.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/files.h"
#include "tests/support/testenv.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <QRegularExpression>
#include <QTcpSocket>
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

struct Decoded
{
    int error = 0;
    int width = 0;
    int height = 0;
    int videoFrames = 0;
    int audioPackets = 0;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    QByteArray firstPlane;     // luma of the first and last picture
    QByteArray lastPlane;
};

int interrupted(void *opaque)
{
    return av_gettime_relative() > *static_cast<int64_t *>(opaque) ? 1 : 0;
}

// Opens an RTSP address (or a file) with FFmpeg and decodes its H.264 video
// until wantFrames pictures came.
Decoded openAndDecode(const std::string &url, int wantFrames)
{
    Decoded d;
    int64_t deadline = av_gettime_relative() + 20 * 1000000LL;
    AVFormatContext *fmt = avformat_alloc_context();
    fmt->interrupt_callback.callback = &interrupted;
    fmt->interrupt_callback.opaque = &deadline;
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    av_dict_set(&opts, "timeout", "5000000", 0);
    d.error = avformat_open_input(&fmt, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (d.error < 0)
        return d;
    avformat_find_stream_info(fmt, nullptr);
    int video = -1;
    int audio = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters *p = fmt->streams[i]->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && video < 0)
            video = int(i);
        if (p->codec_type == AVMEDIA_TYPE_AUDIO && audio < 0) {
            audio = int(i);
            d.audioCodec = p->codec_id;
        }
    }
    if (video < 0 || fmt->streams[video]->codecpar->codec_id != AV_CODEC_ID_H264) {
        d.error = -1;
        avformat_close_input(&fmt);
        return d;
    }
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, fmt->streams[video]->codecpar);
    avcodec_open2(ctx, codec, nullptr);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(ctx, frame) >= 0) {
            ++d.videoFrames;
            d.width = frame->width;
            d.height = frame->height;
            QByteArray plane;
            for (int y = 0; y < frame->height; ++y)
                plane.append(reinterpret_cast<const char *>(frame->data[0] + y * frame->linesize[0]), frame->width);
            if (d.firstPlane.isEmpty())
                d.firstPlane = plane;
            d.lastPlane = plane;
        }
    };
    while (d.videoFrames < wantFrames && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == audio)
            ++d.audioPackets;
        if (pkt->stream_index == video && avcodec_send_packet(ctx, pkt) >= 0)
            take();
        av_packet_unref(pkt);
    }
    // The end of a file: the pictures the decoder still holds.
    if (d.videoFrames < wantFrames && avcodec_send_packet(ctx, nullptr) >= 0)
        take();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    return d;
}

std::string url(const CRtspServer &s, const std::string &path, const std::string &userinfo = "admin:pw")
{
    return "rtsp://" + (userinfo.empty() ? std::string() : userinfo + "@") + "127.0.0.1:" + std::to_string(s.port()) +
           path;
}

// RTP sequence numbers of the first stream as a bare viewer over interleaved
// TCP sees them (one-stream media, no authentication). A reply's header
// ends a read.
class BareViewer
{
public:
    QTcpSocket socket;

    QByteArray request(const QByteArray &text)
    {
        socket.write(text + "\r\n");
        QList<uint16_t> none;
        return read(INT_MAX, &none);
    }
    QByteArray read(int count, QList<uint16_t> *seqs)
    {
        for (;;) {
            if (!fill(4))
                return {};
            if (m_buffer[0] != '$') { // a reply
                const qsizetype end = m_buffer.indexOf("\r\n\r\n");
                if (end < 0 && fill(m_buffer.size() + 1))
                    continue;
                const QByteArray reply = m_buffer.left(end + 4);
                m_buffer.remove(0, reply.size());
                return reply;
            }
            const qsizetype size = 4 + ((uint8_t(m_buffer[2]) << 8) | uint8_t(m_buffer[3]));
            if (!fill(size))
                return {};
            const bool video = m_buffer[1] == 0 && size >= 16;
            if (video)
                seqs->append(uint16_t((uint8_t(m_buffer[6]) << 8) | uint8_t(m_buffer[7])));
            m_buffer.remove(0, size);
            if (video && --count == 0)
                return "packets";
        }
    }

private:
    bool fill(qsizetype n)
    {
        while (m_buffer.size() < n && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(5000)))
            m_buffer += socket.readAll();
        return m_buffer.size() >= n;
    }
    QByteArray m_buffer;
};

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

    void initTestCase()
    {
        av_log_set_level(AV_LOG_ERROR);
        avformat_network_init();
    }

    // A camera's main and sub stream decode at their sizes with the audio
    // cameras send. (The server's stop and restart on its port: the ONVIF
    // cases of tst_realvideo.)
    void streamsDecoded()
    {
        CRtspServer server;
        for (const auto &s : CRtspServer::cameraStreams("cam-0", 0))
            server.addStream(s);
        server.setCredentials("admin", "pw");
        QVERIFY(server.start());

        Decoded hd = openAndDecode(url(server, "/cam-0/main"), 30);
        QCOMPARE(hd.error, 0);
        QCOMPARE(hd.videoFrames, 30);
        QCOMPARE(hd.width, 640);
        QCOMPARE(hd.height, 360);
        QCOMPARE(hd.audioCodec, AV_CODEC_ID_PCM_ALAW); // G.711 A-law, as the live page expects of cameras
        QVERIFY(hd.audioPackets > 0);
        QVERIFY(hd.firstPlane != hd.lastPlane); // the picture moves

        const Decoded sub = openAndDecode(url(server, "/cam-0/sub"), 1);
        QCOMPARE(sub.error, 0);
        QCOMPARE(sub.width, 320);
        QCOMPARE(sub.height, 180);
    }

    void viewersJoiningWithARangeCutNoPacket()
    {
        // One pipeline feeds every viewer of a stream; viewers join with "Range:
        // npt=0.000-" on their PLAY (as FFmpeg's RTSP client does): the first
        // viewer's stream goes on as it was, not a packet lost.
        CRtspServer server;
        for (auto s : CRtspServer::cameraStreams("cam-j", 4, true)) {
            s.audio = false; // one stream: a bare SETUP sets up the whole media
            server.addStream(s);
        }
        QVERIFY(server.start());
        const QByteArray path = url(server, "/cam-j/main", "").c_str();
        auto setUp = [&](BareViewer &v) {
            v.socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
            const QByteArray setup = v.socket.waitForConnected(5000) ? v.request("SETUP " + path + "/stream=0 RTSP/1.0\r\n"
                                     "CSeq: 1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n") : QByteArray();
            return QRegularExpression(QStringLiteral("Session: ([^;\\r]+)")).match(setup).captured(1).toLatin1();
        };
        auto play = [&](BareViewer &v, const QByteArray &session, const QByteArray &range) {
            return v.request("PLAY " + path + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + session + "\r\n" + range)
                .startsWith("RTSP/1.0 200");
        };
        BareViewer first;
        QVERIFY(play(first, setUp(first), {}));
        QList<uint16_t> seqs, own;
        for (int i = 0; i < 6; ++i) {
            BareViewer joining;
            const QByteArray session = setUp(joining);
            QCOMPARE(first.read(10, &seqs), QByteArray("packets"));
            QVERIFY(play(joining, session, "Range: npt=0.000-\r\n"));
            QCOMPARE(joining.read(20, &own), QByteArray("packets"));
        }
        QCOMPARE(first.read(20, &seqs), QByteArray("packets"));
        int gaps = 0;
        for (qsizetype i = 1; i < seqs.size(); ++i)
            gaps += uint16_t(seqs[i - 1] + 1) != seqs[i];
        QCOMPARE(gaps, 0);
    }

    void turnedPictureShifts_data()
    {
        QTest::addColumn<bool>("rtsp");
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("tilt");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("darkSide"); // 0 none, 1 right, 2 left, 3 top
        for (const bool rtsp : {true, false}) {
            const char *kind = rtsp ? "ONVIF" : "P2P";
            QTest::addRow("%s, ahead", kind) << rtsp << 0.0 << 0.0 << 0.0 << 0;
            QTest::addRow("%s, turned right", kind) << rtsp << 1.0 << 0.0 << 0.0 << 1;
            QTest::addRow("%s, turned left", kind) << rtsp << -1.0 << 0.0 << 0.0 << 2;
            QTest::addRow("%s, tilted up", kind) << rtsp << 0.0 << 1.0 << 0.0 << 3;
        }
        // The P2P camera draws its pictures itself: the head's range and zoom.
        QTest::newRow("P2P, beyond the range, clamped") << false << 5.0 << 0.0 << 0.0 << 1;
        QTest::newRow("P2P, turned and zoomed") << false << -1.0 << -1.0 << 9.0 << 0;
    }

    // A camera with a head shows where it looks: the scene shifted against
    // the turn, the uncovered edge black. The ONVIF camera's RTSP stream is
    // shifted by the server; the P2P camera encodes each picture as it looks,
    // decodable from the first one on.
    void turnedPictureShifts()
    {
        QFETCH(bool, rtsp);
        QFETCH(double, pan);
        QFETCH(double, tilt);
        QFETCH(double, zoom);
        QFETCH(int, darkSide);
        CRtspServer server;
        std::string source = (varno::test::tempRoot() + QStringLiteral("/turned.h264")).toStdString();
        if (rtsp) {
            CRtspServer::Stream s = CRtspServer::cameraStreams("turn", 0)[1];
            s.turnable = true;
            s.background = 0xff3a6ea5;
            s.audio = false;
            server.addStream(s);
            server.setViewOffset([pan, tilt](double *p, double *t) {
                *p = pan;
                *t = tilt;
            });
            QVERIFY(server.start());
            source = url(server, s.path, "");
        } else {
            VideoSettings v = smallVideo();
            v.kbps = 400;
            LiveVideo live;
            QVERIFY2(live.open(v, 17), live.error().c_str());
            QByteArray units;
            for (int i = 0; i < 5; ++i) {
                const AccessUnit au = live.next(i, pan, tilt, zoom);
                QCOMPARE(au.key, i == 0);
                units.append(reinterpret_cast<const char *>(au.data.data()), qsizetype(au.data.size()));
            }
            QVERIFY(varno::test::writeFile(QString::fromStdString(source), units));
        }
        const int pictures = rtsp ? 25 : 5;
        const Decoded d = openAndDecode(source, pictures);
        QCOMPARE(d.error, 0);
        QCOMPARE(d.videoFrames, pictures);
        QCOMPARE(d.lastPlane.size(), d.width * d.height);
        // Mean luma of three tenths of the picture at its right, left and top
        // edge (a turn to the end of the range shifts the scene by a third).
        auto strip = [&](int x0, int y0, int w, int h) {
            double sum = 0;
            for (int y = y0; y < y0 + h; ++y)
                for (int x = x0; x < x0 + w; ++x)
                    sum += static_cast<unsigned char>(d.lastPlane[y * d.width + x]);
            return sum / (double(w) * h);
        };
        const int w = d.width * 3 / 10, h = d.height * 3 / 10;
        const double sides[] = {strip(d.width - w, 0, w, d.height), strip(0, 0, w, d.height), strip(0, 0, d.width, h)};
        // Black is luma 16; the scene is far brighter everywhere.
        for (int i = 0; i < 3; ++i)
            QVERIFY2((sides[i] < 24) == (darkSide == i + 1), qPrintable(QString::number(sides[i])));
    }

    // The simulator never reaches beyond loopback; a P2P camera's ID comes
    // from its device ID.
    void configuration()
    {
        SimConfig c;
        QString error;
        QVERIFY(!parseSimConfig(R"({"broker":{"host":"10.1.2.3"}})", c, &error));
        QVERIFY(error.contains(QStringLiteral("loopback")));
        QVERIFY(parseSimConfig(R"({"broker":{"host":"127.0.0.1","port":1999},
            "cameras":[{"kind":"p2p","deviceId":"B765432","password":"abc123"}]})", c, &error));
        P2pCameraConfig p;
        QVERIFY(parseP2pCamera(c.cameras[0].raw, p, &error));
        QCOMPARE(p.p2pId, QStringLiteral("VRNB-765432-KXPQT"));
    }
};

QTEST_GUILESS_MAIN(TestCamsimMedia)
#include "tst_camsimmedia.moc"
