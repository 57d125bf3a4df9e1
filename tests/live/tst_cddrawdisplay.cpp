// The display surface of a video window: unknown, hidden, resized and
// odd-sized windows, pictures that change size, a window that goes away.
#include "live/cddrawdisplay.h"

#include "live/videosurface.h"
#include "platform/av/videosink.h"
#include "platform/av/yuvrgb.h"
#include "tests/support/media/testmedia.h"

#include <QTest>

using namespace varno;

namespace {

int play(CDDrawDisplay &d, const test::Yuv420 &p)
{
    return d.PlayYuv420(p.y.data(), p.u.data(), p.v.data(), p.width, p.height);
}

} // namespace

class TestCDDrawDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initNeedsAKnownWindowAndASize()
    {
        CDDrawDisplay d;
        QCOMPARE(d.InitDDraw(0, 320, 240), 1);
        QCOMPARE(d.InitDDraw(987654321, 320, 240), 1);
        live::VideoSurface w;
        QCOMPARE(d.InitDDraw(w.nativeHandle(), 0, 240), 1);
        QCOMPARE(d.InitDDraw(w.nativeHandle(), 320, 240), 0);
        QVERIFY(d.isReady());
        QCOMPARE(d.Release(), 0);
        QVERIFY(!d.isReady());
        QCOMPARE(d.Release(), 0);
        const test::Yuv420 p = test::testPicture(32, 32, 0);
        QCOMPARE(play(d, p), 1); // released: nothing to draw into
        QCOMPARE(d.PlayYuv420(nullptr, p.u.data(), p.v.data(), 32, 32), 1);
    }

    void hiddenOrZeroSizeWindowDrawsNothingAndReportsZero()
    {
        live::VideoSurface w;
        w.resize(160, 120);
        CDDrawDisplay d;
        QCOMPARE(d.InitDDraw(w.nativeHandle(), 64, 48), 0);
        const test::Yuv420 p = test::testPicture(64, 48, 0);
        QCOMPARE(play(d, p), 0); // never shown
        QVERIFY(w.currentImage().isNull());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(play(d, p), 0);
        QCOMPARE(w.currentImage().size(), QSize(160, 120) * w.devicePixelRatioF());
        w.showMinimized();
        QTRY_VERIFY(av::findVideoSink(w.nativeHandle())->targetSize().isEmpty());
        const qint64 key = w.currentImage().cacheKey();
        QCOMPARE(play(d, test::testPicture(64, 48, 9)), 0);
        QCOMPARE(w.currentImage().cacheKey(), key);
        w.showNormal();
        w.resize(0, 0);
        QTRY_VERIFY(av::findVideoSink(w.nativeHandle())->targetSize().isEmpty());
        QCOMPARE(play(d, p), 0);
    }

    void resizedWindowAndPictureOfAnotherSize()
    {
        live::VideoSurface w;
        w.resize(320, 180);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CDDrawDisplay d;
        QCOMPARE(d.InitDDraw(w.nativeHandle(), 640, 360), 0);
        QCOMPARE(play(d, test::testPicture(640, 360, 1)), 0);
        QCOMPARE(d.rebuildCount(), 0);
        // The window's size decides the cost and the result.
        w.resize(100, 50);
        QTRY_COMPARE(av::findVideoSink(w.nativeHandle())->targetSize(), QSize(100, 50) * w.devicePixelRatioF());
        QCOMPARE(play(d, test::testPicture(640, 360, 2)), 0);
        QCOMPARE(w.currentImage().size(), QSize(100, 50) * w.devicePixelRatioF());
        // A stream that changes resolution: rebuilt before the picture.
        const test::Yuv420 small = test::testPicture(176, 144, -1);
        QCOMPARE(play(d, small), 0);
        QCOMPARE(d.rebuildCount(), 1);
        QCOMPARE(d.surfaceWidth(), 176);
        QCOMPARE(d.surfaceHeight(), 144);
        const QImage ref = test::referenceRgb(small).scaled(w.currentImage().size(), Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation);
        QVERIFY(test::psnr(w.currentImage(), ref) > 22);
    }

    void oddSizesUseRoundedDownChroma()
    {
        live::VideoSurface w;
        w.resize(65, 33);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int width = 65, height = 33;
        // Planes exactly as large as the contract says, nothing more.
        std::vector<uint8_t> y(size_t(width) * height, 180);
        std::vector<uint8_t> u(size_t(width / 2) * (height / 2), 100);
        std::vector<uint8_t> v(size_t(width / 2) * (height / 2), 160);
        CDDrawDisplay d;
        QCOMPARE(d.InitDDraw(w.nativeHandle(), width, height), 0);
        QCOMPARE(d.PlayYuv420(y.data(), u.data(), v.data(), width, height), 0);
        const QImage img = w.currentImage();
        QCOMPARE(img.size(), QSize(65, 33) * w.devicePixelRatioF());
        uint8_t bgr[3];
        av::YuvToBgrTables().pixel(180, 100, 160, bgr);
        const QRgb px = img.pixel(img.width() - 1, img.height() - 1);
        QVERIFY(std::abs(qRed(px) - bgr[2]) <= 3 && std::abs(qGreen(px) - bgr[1]) <= 3);
    }

    void windowThatGoesAwayFails()
    {
        auto *w = new live::VideoSurface;
        w->resize(40, 30);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        CDDrawDisplay d;
        QCOMPARE(d.InitDDraw(w->nativeHandle(), 32, 32), 0);
        const test::Yuv420 p = test::testPicture(32, 32, 0);
        QCOMPARE(play(d, p), 0);
        delete w;
        QCOMPARE(play(d, p), 1);
    }
};

QTEST_MAIN(TestCDDrawDisplay)
#include "tst_cddrawdisplay.moc"
