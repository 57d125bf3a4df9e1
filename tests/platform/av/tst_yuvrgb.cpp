// The 16.16 table conversion and the 24-bit BMP writer (its layout:
// tst_av_decoder::capPictureMatchesTheDecodedPicture).
#include "platform/av/yuvrgb.h"

#include "tests/support/files.h"
#include "tests/support/media/testmedia.h"

#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace varno;

namespace {

// The integer formula written out directly, one pixel at a time.
void formula(int y, int u, int v, uint8_t *bgr)
{
    const int yy = (y - 16) * 76309;
    auto clamp = [](int x) { return static_cast<uint8_t>(std::clamp(x, 0, 255)); };
    bgr[2] = clamp((yy + (v - 128) * 104597) >> 16);
    bgr[1] = clamp((yy - (u - 128) * 25675 - (v - 128) * 53279) >> 16);
    bgr[0] = clamp((yy + (u - 128) * 132201) >> 16);
}

test::Yuv420 randomPicture(int w, int h, quint32 seed)
{
    QRandomGenerator rng(seed);
    test::Yuv420 p;
    p.width = w;
    p.height = h;
    p.y.resize(size_t(w) * h);
    p.u.resize(size_t(w / 2) * (h / 2));
    p.v.resize(p.u.size());
    for (auto *plane : {&p.y, &p.u, &p.v})
        for (auto &b : *plane)
            b = static_cast<uint8_t>(rng.bounded(256));
    return p;
}

} // namespace

class TestYuvRgb : public QObject
{
    Q_OBJECT

private slots:
    void pictureIsBottomUpBgrAndMatchesReference_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("1280x720") << 1280 << 720;
        QTest::newRow("width not a multiple of 4") << 18 << 10;
        QTest::newRow("odd width and height") << 17 << 9;
        QTest::newRow("smallest") << 2 << 2;
    }
    void pictureIsBottomUpBgrAndMatchesReference()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const test::Yuv420 p = randomPicture(w, h, quint32(w * 7 + h));
        av::YuvToBgrTables t;
        // One guard byte after the rows catches a write past the end.
        std::vector<uint8_t> out(size_t(w) * h * 3 + 1, 0xA5);
        QVERIFY(t.convertBottomUp(p.y.data(), w, p.u.data(), w / 2, p.v.data(), w / 2, w, h, out.data()));
        QCOMPARE(int(out.back()), 0xA5);
        const int cw = w / 2, ch = h / 2;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const int ci = std::min(r / 2, ch - 1) * cw + std::min(c / 2, cw - 1);
                uint8_t want[3];
                formula(p.y[size_t(r) * w + c], p.u[size_t(ci)], p.v[size_t(ci)], want);
                const uint8_t *got = out.data() + size_t(h - 1 - r) * w * 3 + size_t(c) * 3;
                if (std::memcmp(got, want, 3) != 0)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(c).arg(r)));
            }
        // Against the floating-point BT.601 reference: off by rounding only.
        QImage fromTables(w, h, QImage::Format_RGB888);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const uint8_t *px = out.data() + size_t(h - 1 - r) * w * 3 + size_t(c) * 3;
                fromTables.setPixel(c, r, qRgb(px[2], px[1], px[0]));
            }
        QVERIFY(test::maxChannelDifference(fromTables, test::referenceRgb(p)) <= 2);
    }

    void refusesUnusablePictures()
    {
        av::YuvToBgrTables t;
        uint8_t plane[16] = {};
        uint8_t out[64];
        QVERIFY(!t.convertBottomUp(plane, 1, plane, 1, plane, 1, 1, 4, out));
        QVERIFY(!t.convertBottomUp(nullptr, 4, plane, 2, plane, 2, 4, 4, out));
        QVERIFY(!t.convertBottomUp(plane, 4, plane, 2, plane, 2, 4, 4, nullptr));
    }

    void bmpOverwritesAndReportsFailures()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("b.bmp"));
        QVERIFY(test::writeFile(path, QByteArray(100000, 'x')));
        const uint8_t px[2 * 2 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        QCOMPARE(av::writeBmp24(path.toUtf8().constData(), 2, 2, px), 0);
        QCOMPARE(QFileInfo(path).size(), qint64(54 + 12));

        av::BmpStage stage = av::BmpStage::None;
        const QString missing = dir.filePath(QStringLiteral("no/such/dir/c.bmp"));
        QCOMPARE(av::writeBmp24(missing.toUtf8().constData(), 2, 2, px, &stage), -1);
        QCOMPARE(stage, av::BmpStage::Create);
        QVERIFY(!QFile::exists(missing));
        // A full device fails while writing.
        if (QFile::exists(QStringLiteral("/dev/full"))) {
            QCOMPARE(av::writeBmp24("/dev/full", 2, 2, px, &stage), -1);
            QCOMPARE(stage, av::BmpStage::Head);
        }
    }
};

QTEST_GUILESS_MAIN(TestYuvRgb)
#include "tst_yuvrgb.moc"
