// The pictures of a simulated camera with a head: encoded as they are sent,
// they decode from the first one on, and they show where the head points
// (the scene shifted against the turn, the uncovered edge black).
#include "tools/camsim/medialoop.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace varno::camsim;

namespace {

// Luma of the last picture decoded from the access units (empty: none).
std::vector<uint8_t> decodeLast(const std::vector<AccessUnit> &units, int *pictures)
{
    std::vector<uint8_t> luma;
    *pictures = 0;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return luma; // no pictures: the test fails on the count
    }
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            ++*pictures;
            luma.assign(size_t(frame->width) * size_t(frame->height), 0);
            for (int y = 0; y < frame->height; ++y)
                std::memcpy(luma.data() + size_t(y) * size_t(frame->width), frame->data[0] + y * frame->linesize[0],
                            size_t(frame->width));
        }
    };
    for (const AccessUnit &au : units) {
        pkt->data = const_cast<uint8_t *>(au.data.data());
        pkt->size = int(au.data.size());
        if (avcodec_send_packet(ctx, pkt) == 0)
            take();
    }
    avcodec_send_packet(ctx, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return luma;
}

// Mean luma of a rectangle (fractions of the picture).
double meanOf(const std::vector<uint8_t> &luma, int w, int h, double x0, double y0, double x1, double y1)
{
    double sum = 0;
    int n = 0;
    for (int y = int(y0 * h); y < int(y1 * h); ++y)
        for (int x = int(x0 * w); x < int(x1 * w); ++x, ++n)
            sum += luma[size_t(y) * size_t(w) + size_t(x)];
    return n ? sum / n : -1;
}

} // namespace

class TestCamsimPtz : public QObject
{
    Q_OBJECT

private slots:
    void picturesShowTheHead_data()
    {
        QTest::addColumn<double>("pan");
        QTest::addColumn<double>("tilt");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QString>("black");   // the uncovered edge
        QTest::newRow("straight ahead") << 0.0 << 0.0 << 0.0 << "none";
        QTest::newRow("turned right") << 1.0 << 0.0 << 0.0 << "right";
        QTest::newRow("turned left") << -1.0 << 0.0 << 0.0 << "left";
        QTest::newRow("tilted up") << 0.0 << 1.0 << 0.0 << "top";
        QTest::newRow("beyond the range, clamped") << 5.0 << 0.0 << 0.0 << "right";
        QTest::newRow("turned and zoomed") << -1.0 << -1.0 << 9.0 << "none";
    }

    void picturesShowTheHead()
    {
        QFETCH(double, pan);
        QFETCH(double, tilt);
        QFETCH(double, zoom);
        QFETCH(QString, black);
        VideoSettings v;
        v.width = 192;
        v.height = 108;
        v.fps = 10;
        v.kbps = 400;
        LiveVideo live;
        QVERIFY2(live.open(v, 17), live.error().c_str());
        std::vector<AccessUnit> turned;
        for (int i = 0; i < 5; ++i) {
            turned.push_back(live.next(i, pan, tilt, zoom));
            QVERIFY(!turned.back().data.empty());
            QCOMPARE(turned.back().key, i == 0);   // decodable from the first picture
        }
        int pictures = 0;
        const std::vector<uint8_t> luma = decodeLast(turned, &pictures);
        QCOMPARE(pictures, 5);
        const int w = v.width;
        const int h = v.height;
        const double right = meanOf(luma, w, h, 0.70, 0, 1, 1);
        const double left = meanOf(luma, w, h, 0, 0, 0.30, 1);
        const double top = meanOf(luma, w, h, 0, 0, 1, 0.30);
        // Black is 16; the scene's background is far brighter everywhere.
        QCOMPARE(right < 24, black == QLatin1String("right"));
        QCOMPARE(left < 24, black == QLatin1String("left"));
        QCOMPARE(top < 24, black == QLatin1String("top"));
    }
};

QTEST_GUILESS_MAIN(TestCamsimPtz)
#include "tst_camsimptz.moc"
