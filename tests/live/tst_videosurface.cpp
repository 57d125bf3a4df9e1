// The video surface widget: window handles, idle painting, pictures at the
// widget's size, a presenting thread racing the widget's end. Hidden and
// resized windows are checked through the display surface (tst_cddrawdisplay).
#include "live/videosurface.h"

#include "platform/av/videosink.h"
#include "tests/support/media/testmedia.h"

#include <atomic>
#include <thread>
#include <vector>

#include <QTest>

using namespace varno;

namespace {

int present(av::VideoSink &sink, const test::Yuv420 &p)
{
    return sink.present(p.y.data(), p.width, p.u.data(), p.width / 2, p.v.data(), p.width / 2, p.width, p.height);
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
        w.resize(160, 120);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
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

    void newPicturesAndThePaintProbe()
    {
        struct Seen
        {
            const live::VideoSurface *surface;
            int64_t arrivalUs;
            int64_t paintUs;
        };
        std::vector<Seen> seen;
        live::VideoSurface::setPaintProbe([&](const live::VideoSurface *s, int64_t arrival, int64_t paint) {
            seen.push_back({s, arrival, paint});
        });
        struct Reset
        {
            ~Reset() { live::VideoSurface::setPaintProbe(nullptr); }
        } reset;
        live::VideoSurface w;
        w.resize(80, 60);
        w.setPainting(false);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto sink = av::findVideoSink(w.nativeHandle());
        const test::Yuv420 p = test::testPicture(64, 48, 0);
        QCOMPARE(w.newPicturesPainted(), uint64_t(0));

        // The stamp belongs to the presenting thread: another thread's
        // stamp does not leak into this picture.
        std::thread([] { av::setPresentStamp(123); }).join();
        QCOMPARE(av::presentStamp(), int64_t(0));
        const int64_t arrived = av::steadyMicros();
        av::setPresentStamp(arrived);
        QCOMPARE(present(*sink, p), 0);
        av::setPresentStamp(0);
        QTRY_COMPARE(w.newPicturesPainted(), uint64_t(1));
        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen[0].surface, &w);
        QCOMPARE(seen[0].arrivalUs, arrived);
        QVERIFY(seen[0].paintUs >= arrived);

        // Repaints of the same picture are paints, not new pictures.
        const int paintsBefore = w.paintedPictures();
        w.repaint();
        QVERIFY(w.paintedPictures() > paintsBefore);
        QCOMPARE(w.newPicturesPainted(), uint64_t(1));
        QCOMPARE(seen.size(), size_t(1));

        // A picture presented without a stamp is counted with arrival 0.
        QCOMPARE(present(*sink, test::testPicture(64, 48, 1)), 0);
        QTRY_COMPARE(w.newPicturesPainted(), uint64_t(2));
        QCOMPARE(seen.size(), size_t(2));
        QCOMPARE(seen[1].arrivalUs, int64_t(0));
        uint64_t sequence = 0;
        int64_t stamp = -1;
        QVERIFY(!static_cast<av::FrameSurface &>(*sink).latestImage(&sequence, &stamp).isNull());
        QCOMPARE(sequence, uint64_t(2));
        QCOMPARE(stamp, int64_t(0));
    }

    void aPresentingThreadOutlivesTheWidget()
    {
        auto *w = new live::VideoSurface;
        w->resize(64, 48);
        w->setPainting(false);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
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
};

QTEST_MAIN(TestVideoSurface)
#include "tst_videosurface.moc"
