#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvifsoap.h"
#include "tests/support/onviftestconf.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

namespace {

struct Decoded
{
    int error = 0;
    int width = 0;
    int height = 0;
    int videoFrames = 0;
    int audioPackets = 0;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    double firstLuma = -1;     // mean luma of the first picture
    double firstChroma = -1;   // mean of U plus V of the first picture
    QByteArray firstPlane;     // luma of the first and last picture
    QByteArray lastPlane;
};

int interrupted(void *opaque)
{
    return av_gettime_relative() > *static_cast<int64_t *>(opaque) ? 1 : 0;
}

double mean(const uint8_t *data, int linesize, int w, int h)
{
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sum += data[y * linesize + x];
    return sum / (double(w) * h);
}

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
    while (d.videoFrames < wantFrames && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == audio)
            ++d.audioPackets;
        if (pkt->stream_index == video && avcodec_send_packet(ctx, pkt) >= 0) {
            while (avcodec_receive_frame(ctx, frame) >= 0) {
                ++d.videoFrames;
                d.width = frame->width;
                d.height = frame->height;
                QByteArray plane;
                for (int y = 0; y < frame->height; ++y)
                    plane.append(reinterpret_cast<const char *>(frame->data[0] + y * frame->linesize[0]), frame->width);
                const double luma = mean(frame->data[0], frame->linesize[0], frame->width, frame->height);
                if (d.firstLuma < 0) {
                    d.firstLuma = luma;
                    d.firstPlane = plane;
                    d.firstChroma = mean(frame->data[1], frame->linesize[1], frame->width / 2, frame->height / 2) +
                                    mean(frame->data[2], frame->linesize[2], frame->width / 2, frame->height / 2);
                }
                d.lastPlane = plane;
            }
        }
        av_packet_unref(pkt);
    }
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

class TestOnvifRtsp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        av_log_set_level(AV_LOG_ERROR);
        avformat_network_init();
    }

    // Two cameras on one server: each main and sub stream decodes at its size
    // with the audio cameras send; passwords are checked; the cameras' pictures
    // differ; a stopped server refuses and comes back on its port.
    void streamsDecoded()
    {
        CRtspServer server;
        for (int i = 0; i < 2; ++i)
            for (const auto &s : CRtspServer::cameraStreams("cam-" + std::to_string(i), i))
                server.addStream(s);
        server.setCredentials("admin", "pw");
        QVERIFY(server.start());
        const uint16_t port = server.port();
        QVERIFY(port != 0);

        Decoded hd = openAndDecode(url(server, "/cam-0/main"), 30);
        QCOMPARE(hd.error, 0);
        QCOMPARE(hd.videoFrames, 30);
        QCOMPARE(hd.width, 640);
        QCOMPARE(hd.height, 360);
        QCOMPARE(hd.audioCodec, AV_CODEC_ID_PCM_ALAW); // G.711 A-law, as the live page expects of cameras
        QVERIFY(hd.audioPackets > 0);
        QVERIFY(hd.firstPlane != hd.lastPlane); // the picture moves

        const Decoded a = openAndDecode(url(server, "/cam-0/sub"), 1);
        const Decoded b = openAndDecode(url(server, "/cam-1/sub"), 1);
        QCOMPARE(a.error, 0);
        QCOMPARE(b.error, 0);
        QCOMPARE(a.width, 320);
        QCOMPARE(a.height, 180);
        QVERIFY2(std::abs(a.firstChroma - b.firstChroma) > 2.0 || std::abs(a.firstLuma - b.firstLuma) > 2.0,
                 qPrintable(QStringLiteral("%1/%2 %3/%4").arg(a.firstLuma).arg(a.firstChroma).arg(b.firstLuma).arg(b.firstChroma)));

        QVERIFY(openAndDecode(url(server, "/cam-0/none"), 1).error < 0);
        QVERIFY(openAndDecode(url(server, "/cam-1/main", "admin:bad"), 1).error < 0);
        QVERIFY(openAndDecode(url(server, "/cam-1/main", ""), 1).error < 0);

        server.stop();
        QVERIFY(!server.running());
        QVERIFY(openAndDecode(url(server, "/cam-1/main"), 1).error < 0);
        QVERIFY(server.restart());
        QCOMPARE(server.port(), port);
        const Decoded again = openAndDecode(url(server, "/cam-1/main"), 2);
        QCOMPARE(again.error, 0);
        QCOMPARE(again.videoFrames, 2);
    }

    void streamUriOpenedAndDecoded()
    {
        // The whole ONVIF road: stream address from the SOAP services, then
        // the RTSP server behind it, with a password that needs encoding.
        QVERIFY(varno::test::writeOnvifConf({QStringLiteral("request_timeout_ms = 3000")}));
        const std::string uuid = "cccccccc-1111-4222-8333-444444444444";
        const std::string password = "p@ss:w/rd %";
        CRtspServer rtsp;
        for (const auto &s : CRtspServer::cameraStreams(uuid, 3))
            rtsp.addStream(s);
        rtsp.setCredentials("admin", password);
        QVERIFY(rtsp.start());
        COnvifCamera::Settings s;
        s.uuid = uuid;
        s.password = password;
        s.rtspPort = rtsp.port();
        COnvifCamera cam(s);
        QVERIFY(cam.start());
        QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(cam.serviceAddr().c_str(), password.c_str()), 0);

        DevConfig_s cfg{};
        QCOMPARE(SDK_DVRMGR_GetDevConfig(cam.serviceAddr().c_str(), &cfg), 0);
        for (int channel = 0; channel < 2; ++channel) {
            OnvifStreamUriReq_s req{};
            std::memcpy(req.serviceAddr, cam.serviceAddr().c_str(), cam.serviceAddr().size());
            std::memcpy(req.configText3, cfg.eventAddr, sizeof(req.configText3));
            std::memcpy(req.mainToken, cfg.mainToken, sizeof(req.mainToken));
            req.channel = channel;
            req.transport = 1;
            char uri[kOnvifUriSize];
            OnvifStreamUriInfo_s info{};
            QCOMPARE(SDK_DVRMGR_GetStreamUri(req, &info, uri), 0);
            const Decoded d = openAndDecode(uri, 3);
            QCOMPARE(d.error, 0);
            QCOMPARE(d.width, info.width);
            QCOMPARE(d.height, info.height);
            QCOMPARE(d.width, channel == 0 ? 640 : 320);
        }
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
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("tilt");
        QTest::addColumn<int>("darkSide"); // 0 none, 1 right, 2 left, 3 top
        QTest::newRow("ahead") << 0.0 << 0.0 << 0;
        QTest::newRow("turned right") << 1.0 << 0.0 << 1;
        QTest::newRow("turned left") << -1.0 << 0.0 << 2;
        QTest::newRow("tilted up") << 0.0 << 1.0 << 3;
    }

    void turnedPictureShifts()
    {
        QFETCH(double, pan);
        QFETCH(double, tilt);
        QFETCH(int, darkSide);
        CRtspServer server;
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
        const Decoded d = openAndDecode(url(server, s.path, ""), 25);
        QCOMPARE(d.error, 0);
        QCOMPARE(d.lastPlane.size(), d.width * d.height);
        auto strip = [&](int x0, int y0, int w, int h) {
            double sum = 0;
            for (int y = y0; y < y0 + h; ++y)
                for (int x = x0; x < x0 + w; ++x)
                    sum += static_cast<unsigned char>(d.lastPlane[y * d.width + x]);
            return sum / (double(w) * h);
        };
        // The uncovered edge of a turn is black (luma 16), the scene is not.
        const double sides[] = {strip(d.width - 30, 0, 30, d.height), strip(0, 0, 30, d.height),
                                strip(0, 0, d.width, 20)};
        for (int i = 0; i < 3; ++i)
            QVERIFY2((sides[i] < 40) == (darkSide == i + 1), qPrintable(QString::number(sides[i])));
    }
};

QTEST_GUILESS_MAIN(TestOnvifRtsp)
#include "tst_onvifrtsp.moc"
