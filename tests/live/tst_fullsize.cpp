// Pictures at the window's own size, kept by reference and converted where
// they are painted, against a reference conversion: padded rows, odd sizes,
// a painter that cannot take them in place, scaled windows, a stream whose
// picture size changes, snapshots of pictures held by reference.
#include "live/clivestream.h"
#include "live/videosurface.h"
#include "platform/av/videosink.h"
#include "tests/support/media/testmedia.h"

#include <QDir>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace varno;

namespace {

// A picture like a decoder's: rows padded (the padding holds a colour that
// must never show) and owned by the picture.
av::DecodedPicture held(const test::Yuv420 &p, int pad)
{
    auto rows = std::make_shared<std::vector<uint8_t>>();
    const int ys = p.width + pad, cs = p.width / 2 + pad, ch = (p.height + 1) / 2;
    rows->assign(size_t(ys) * p.height + 2 * size_t(cs) * ch, 0xee);
    av::DecodedPicture d;
    uint8_t *y = rows->data(), *u = y + size_t(ys) * p.height, *v = u + size_t(cs) * ch;
    for (int j = 0; j < p.height; ++j)
        std::copy_n(p.y.data() + j * p.width, p.width, y + j * ys);
    for (int j = 0; j < p.height / 2; ++j) {
        std::copy_n(p.u.data() + j * (p.width / 2), p.width / 2, u + j * cs);
        std::copy_n(p.v.data() + j * (p.width / 2), p.width / 2, v + j * cs);
    }
    d = {y, u, v, ys, cs, cs, p.width, p.height, true, 1, rows};
    return d;
}

QImage rendered(QWidget &w, QImage::Format format)
{
    QImage out(w.size(), format);
    out.fill(Qt::magenta);
    w.render(&out);
    return out.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestFullSize : public QObject
{
    Q_OBJECT

private slots:
    void pictures_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("pad");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<bool>("byReference");
        QTest::newRow("full size, packed") << QSize(64, 48) << 0 << QSize(64, 48) << true;
        QTest::newRow("full size, padded rows") << QSize(66, 50) << 30 << QSize(66, 50) << true;
        QTest::newRow("odd picture: its even part") << QSize(65, 47) << 7 << QSize(64, 46) << true;
        QTest::newRow("window smaller") << QSize(128, 96) << 16 << QSize(96, 72) << false;
        QTest::newRow("window larger") << QSize(64, 48) << 16 << QSize(96, 72) << false;
    }
    void pictures()
    {
        QFETCH(QSize, picture);
        QFETCH(int, pad);
        QFETCH(QSize, window);
        QFETCH(bool, byReference);
        live::VideoSurface w;
        w.resize(window);
        w.setPainting(false);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto &sink = static_cast<av::FrameSurface &>(*av::findVideoSink(w.nativeHandle()));
        const test::Yuv420 p = test::testPicture(picture.width(), picture.height(), 3);
        QCOMPARE(sink.presentPicture(held(p, pad)), 0);
        QCOMPARE(sink.latest().picture.isNull(), !byReference);
        QTRY_VERIFY(w.newPicturesPainted() == 1);
        QImage ref = test::referenceRgb(p).copy(QRect(QPoint(), picture.boundedTo(window)));
        if (!byReference) {
            ref = test::referenceRgb(p).scaled(window, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QVERIFY(test::psnr(rendered(w, QImage::Format_RGB32), ref) > 25);
            return;
        }
        // In place (32-bit pixels), through an image of its own (24-bit),
        // in the window's backing store, and as the latest picture.
        QVERIFY(w.paintsInPlace() > 0);
        uint64_t inPlace = w.paintsInPlace();
        QVERIFY(test::maxChannelDifference(w.screen()->grabWindow(w.winId()).toImage().convertToFormat(
                                               QImage::Format_RGB32), ref) <= 2);
        QVERIFY(test::maxChannelDifference(rendered(w, QImage::Format_RGB32), ref) <= 2);
        QCOMPARE(w.paintsInPlace(), ++inPlace);
        QVERIFY(test::maxChannelDifference(rendered(w, QImage::Format_RGB888), ref) <= 2);
        QCOMPARE(w.paintsInPlace(), inPlace);
        QVERIFY(test::maxChannelDifference(w.currentImage(), ref) <= 2);
    }

    void aWidgetOverThePictureKeepsItsPixels()
    {
        live::VideoSurface w;
        w.resize(64, 48);
        QWidget cover(&w);
        cover.setGeometry(8, 8, 10, 10);
        cover.setAutoFillBackground(true);
        cover.setPalette(QPalette(Qt::red));
        w.setPainting(false);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const test::Yuv420 p = test::testPicture(64, 48, 1);
        QCOMPARE(av::findVideoSink(w.nativeHandle())->presentPicture(held(p, 8)), 0);
        QTRY_VERIFY(w.newPicturesPainted() == 1);
        const QImage shot = w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(QColor(shot.pixel(12, 12)), QColor(Qt::red));
        QCOMPARE(w.paintsInPlace(), uint64_t(0)); // the cover is inside the region painted
        const QImage ref = test::referenceRgb(p);
        QVERIFY(test::maxChannelDifference(shot.copy(30, 0, 34, 48), ref.copy(30, 0, 34, 48)) <= 2);
    }

    void pictureSizeChangesMidStreamAndSnapshots()
    {
        live::VideoSurface w;
        w.resize(96, 72);
        w.setPainting(false);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto &sink = static_cast<const av::FrameSurface &>(*av::findVideoSink(w.nativeHandle()));
        const int audio[4] = {102, 1, 16, 8000};
        CLiveStream s(w.nativeHandle(), 1, audio);
        QTemporaryDir dir;
        // Scaled, at full size by reference, scaled again.
        for (const QSize size : {QSize(64, 48), QSize(96, 72), QSize(64, 48)}) {
            test::EncodeOptions o;
            o.width = size.width();
            o.height = size.height();
            o.frames = 6;
            o.gop = 6;
            o.still = true;
            s.ClearQueue();
            for (const auto &f : test::encodeStream(o))
                s.SetCurrentFrame(reinterpret_cast<const char *>(f.data.data()), int(f.data.size()), 0, 0, 0);
            QTRY_COMPARE_WITH_TIMEOUT(sink.latestSourceSize(), size, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(s.queuedFrames(), size_t(0), 10000);
            QCOMPARE(sink.latest().picture.isNull(), size != w.size());
            const QImage ref = test::referenceRgb(test::testPicture(size.width(), size.height(), -1));
            QTRY_VERIFY(test::psnr(w.currentImage(), ref.scaled(w.size(), Qt::IgnoreAspectRatio,
                                                                 Qt::SmoothTransformation)) > 25);
            QCOMPARE(s.CapturePicture(dir.path(), QStringLiteral("cam"), size.width()), 0);
            const QImage snapshot(s.lastSnapshotFile());
            QCOMPARE(snapshot.size(), size);
            QVERIFY(test::psnr(snapshot.convertToFormat(QImage::Format_RGB32), ref) > 30);
        }
    }
};

QTEST_MAIN(TestFullSize)
#include "tst_fullsize.moc"
