// The video surface widget: window handles, idle painting, pictures at the
// widget's size, a presenting thread racing the widget's end. Pictures at the
// window's own size, kept by reference and converted where they are painted,
// against a reference conversion: padded rows, odd sizes, a painter that
// cannot take them in place, scaled windows, a stream whose picture size
// changes, snapshots of pictures held by reference. The display surface
// drawing into a hidden, minimised or zero-size window (a window that goes
// away: tst_clivestream; odd sizes: tst_videosink).
#include "live/videosurface.h"

#include "live/cddrawdisplay.h"
#include "live/clivestream.h"
#include "platform/av/videosink.h"
#include "tests/live/heldpicture.h"
#include "tests/support/media/testmedia.h"

#include <atomic>
#include <thread>

#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace varno;

namespace {

int present(av::VideoSink &sink, const test::Yuv420 &p)
{
    return sink.present(p.y.data(), p.width, p.u.data(), p.width / 2, p.v.data(), p.width / 2, p.width, p.height);
}

using livetest::held;

QImage rendered(QWidget &w, QImage::Format format)
{
    QImage out(w.size(), format);
    out.fill(Qt::magenta);
    w.render(&out);
    return out.convertToFormat(QImage::Format_RGB32);
}

int play(CDDrawDisplay &d, const test::Yuv420 &p)
{
    return d.PlayYuv420(p.y.data(), p.u.data(), p.v.data(), p.width, p.height);
}

} // namespace

class TestVideoSurface : public QObject
{
    Q_OBJECT

private slots:
    void handlesAreRegisteredForTheWidgetsLifetime()
    {
        int32_t first;
        {
            live::VideoSurface a;
            live::VideoSurface b;
            first = a.nativeHandle();
            QVERIFY(first > 0);
            QVERIFY(b.nativeHandle() > 0);
            QVERIFY(first != b.nativeHandle());
            QVERIFY(av::findVideoSink(first));
        }
        QVERIFY(!av::findVideoSink(first));
    }

    void idlePaintingAndPictures()
    {
        live::VideoSurface w;
        w.setIdleColor(QColor(10, 20, 30));
        w.setIdleText(QStringLiteral("Waiting"));
        QVERIFY(livetest::shown(w, QSize(160, 120), true));
        auto sink = av::findVideoSink(w.nativeHandle());
        QVERIFY(sink);
        QCOMPARE(sink->targetSize(), QSize(160, 120) * w.devicePixelRatioF());

        const test::Yuv420 p = test::testPicture(320, 240, -1);
        QCOMPARE(present(*sink, p), 0);
        // Painting on: the idle background, whatever the decoder delivered.
        QImage shot = w.grab().toImage();
        QCOMPARE(QColor(shot.pixel(2, 2)), QColor(10, 20, 30));
        // Painting off: the picture, at the widget's size.
        w.setPainting(false);
        QTRY_VERIFY(w.paintedPictures() > 0);
        shot = w.grab().toImage();
        QCOMPARE(w.currentImage().size(), QSize(160, 120));
        const QImage ref = test::referenceRgb(p).scaled(shot.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY2(test::psnr(shot, ref) > 25, qPrintable(QString::number(test::psnr(shot, ref))));
        w.setPainting(true);
        QCOMPARE(QColor(w.grab().toImage().pixel(2, 2)), QColor(10, 20, 30));
    }

    void aPresentingThreadOutlivesTheWidget()
    {
        auto *w = new live::VideoSurface;
        QVERIFY(livetest::shown(*w, QSize(64, 48)));
        std::shared_ptr<av::VideoSink> sink = av::findVideoSink(w->nativeHandle());
        std::atomic<bool> stop{false};
        std::atomic<int> failures{0}, presents{0};
        std::thread t([&] {
            const test::Yuv420 p = test::testPicture(128, 96, 1);
            while (!stop.load()) {
                if (present(*sink, p) != 0)
                    failures.fetch_add(1);
                else
                    presents.fetch_add(1);
            }
        });
        QTRY_VERIFY(presents.load() > 50);
        // Updates are coalesced: far fewer paints than pictures.
        QTRY_VERIFY(w->paintedPictures() > 0);
        QVERIFY(w->paintedPictures() < presents.load());
        delete w; // while the thread keeps presenting
        QTRY_VERIFY(failures.load() > 0);
        QCoreApplication::processEvents(); // posted updates of the dead widget are gone
        stop = true;
        t.join();
    }

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
        QVERIFY(livetest::shown(w, window));
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
        QVERIFY(livetest::shown(w, QSize(96, 72)));
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
};

QTEST_MAIN(TestVideoSurface)
#include "tst_videosurface.moc"
