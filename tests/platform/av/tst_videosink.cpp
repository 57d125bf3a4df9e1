// Native window handles and the scaling latest-frame surface.
#include "platform/av/videosink.h"
#include "platform/av/yuvrgb.h"

#include "tests/support/media/testmedia.h"

#include <atomic>
#include <thread>

#include <QTest>

using namespace varno;

class TestVideoSink : public QObject
{
    Q_OBJECT

private slots:
    void handlesAreUniqueAndLookupFollowsRegistration()
    {
        auto a = std::make_shared<av::FrameSurface>();
        auto b = std::make_shared<av::FrameSurface>();
        const int32_t ha = av::registerVideoSink(a);
        const int32_t hb = av::registerVideoSink(b);
        QVERIFY(ha > 0);
        QVERIFY(hb > 0);
        QVERIFY(ha != hb);
        QCOMPARE(av::findVideoSink(ha).get(), a.get());
        QCOMPARE(av::findVideoSink(hb).get(), b.get());
        QCOMPARE(av::registerVideoSink(nullptr), 0);
        QVERIFY(!av::findVideoSink(0));
        av::unregisterVideoSink(ha);
        QVERIFY(!av::findVideoSink(ha));
        QCOMPARE(av::findVideoSink(hb).get(), b.get());
        // A new registration never reuses a released handle.
        const int32_t hc = av::registerVideoSink(a);
        QVERIFY(hc != ha && hc != hb);
        av::unregisterVideoSink(hb);
        av::unregisterVideoSink(hc);
        av::unregisterVideoSink(12345678); // unknown: harmless
    }

    // Pixels that are not square: the picture keeps its shape on screen,
    // not its pixel count (704x576 at 12:11 is shown 768 wide).
    void keptShapeFollowsThePixelShape()
    {
        QCOMPARE(av::displaySize(704, 576, 12, 11), QSize(768, 576));
        QCOMPARE(av::displaySize(1440, 1080, 4, 3), QSize(1920, 1080));
        QCOMPARE(av::displaySize(320, 240, 0, 0), QSize(320, 240));  // unknown: square
        QCOMPARE(av::displaySize(320, 240, 1, 1), QSize(320, 240));
        QCOMPARE(av::displaySize(320, 240, 100, 1), QSize(320, 240)); // no camera's pixel shape
        QCOMPARE(av::displaySize(320, 240, -4, 3), QSize(320, 240));

        av::FrameSurface s;
        const test::Yuv420 p = test::testPicture(320, 240, -1);
        s.setTargetSize(QSize(640, 480));
        s.setKeepAspect(true);
        s.setSampleAspect(2, 1); // shown as 640x240: letter-boxed in 640x480
        QCOMPARE(s.present(p.y.data(), 320, p.u.data(), 160, p.v.data(), 160, 320, 240), 0);
        QCOMPARE(std::tuple(s.latestImage().size(), s.latestSourceSize(), s.latestDisplaySize()),
                 std::tuple(QSize(640, 240), QSize(320, 240), QSize(640, 240)));
        // Square again: the 4:3 picture fills the 4:3 window.
        s.setSampleAspect(1, 1);
        QCOMPARE(s.present(p.y.data(), 320, p.u.data(), 160, p.v.data(), 160, 320, 240), 0);
        QCOMPARE(std::pair(s.latestImage().size(), s.latestDisplaySize()), std::pair(QSize(640, 480), QSize(320, 240)));
        // Stretched: the pixel shape changes nothing.
        s.setKeepAspect(false);
        s.setSampleAspect(2, 1);
        QCOMPARE(s.present(p.y.data(), 320, p.u.data(), 160, p.v.data(), 160, 320, 240), 0);
        QCOMPARE(s.latestImage().size(), QSize(640, 480));
    }

    void smallWindowsAndOddWidthsKeepThePicture()
    {
        // A window at most half the picture's size (the picture is halved
        // first, twice for a quarter) and windows of odd widths show the
        // same content as a careful scale of the reference picture (the
        // shrinking's own check: the surface takes it for every such size).
        const test::Yuv420 p = test::testPicture(1280, 720, 3);
        const QImage reference = test::referenceRgb(p);
        for (const QSize target : {QSize(474, 244), QSize(379, 190), QSize(301, 167), QSize(640, 360),
                                   QSize(155, 87), QSize(1279, 719)}) {
            av::FrameSurface s;
            s.setTargetSize(target);
            QCOMPARE(s.present(p.y.data(), 1280, p.u.data(), 640, p.v.data(), 640, 1280, 720), 0);
            const QImage img = s.latestImage();
            QCOMPARE(img.size(), target);
            const QImage ref = reference.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double q = test::psnr(img, ref);
            // An eighth of the width keeps less detail.
            QVERIFY2(q > (target.width() < 200 ? 25 : 28),
                     qPrintable(QStringLiteral("%1x%2: %3").arg(target.width()).arg(target.height()).arg(q)));
            // The last column is picture too, not padding.
            const QRgb right = img.pixel(target.width() - 1, target.height() / 2);
            const QRgb refRight = ref.pixel(target.width() - 1, target.height() / 2);
            QVERIFY(std::abs(qGreen(right) - qGreen(refRight)) < 64);
        }
    }

    void aPictureHandedOutNeverChangesAfterwards()
    {
        // The user-interface thread may keep a picture while newer ones
        // arrive: they never land in its pixels.
        av::FrameSurface s;
        s.setTargetSize(QSize(97, 55));
        const test::Yuv420 a = test::testPicture(320, 180, 1);
        const test::Yuv420 b = test::testPicture(320, 180, 40);
        QCOMPARE(s.present(a.y.data(), 320, a.u.data(), 160, a.v.data(), 160, 320, 180), 0);
        const QImage held = s.latestImage();
        const QImage copy = held.copy();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(s.present(b.y.data(), 320, b.u.data(), 160, b.v.data(), 160, 320, 180), 0);
        QVERIFY(held == copy);
        QVERIFY(s.latestImage() != held);
        // Once let go, buffers are reused and the newest picture is right.
        QCOMPARE(s.present(a.y.data(), 320, a.u.data(), 160, a.v.data(), 160, 320, 180), 0);
        QVERIFY(s.latestImage() == copy);
    }

    void hiddenOrZeroSizeDrawsNothingAndReportsSuccess()
    {
        av::FrameSurface s;
        int notified = 0;
        s.setNotifier([&] { ++notified; });
        const test::Yuv420 p = test::testPicture(64, 48, 1);
        QCOMPARE(s.present(p.y.data(), 64, p.u.data(), 32, p.v.data(), 32, 64, 48), 0); // never sized
        s.setTargetSize(QSize(0, 100));
        QCOMPARE(s.targetSize(), QSize());
        QCOMPARE(s.present(p.y.data(), 64, p.u.data(), 32, p.v.data(), 32, 64, 48), 0);
        QCOMPARE(notified, 0);
        QVERIFY(s.latestImage().isNull());
        QCOMPARE(s.presentedCount(), uint64_t(0));
        // Bad planes are a failure, not a crash.
        s.setTargetSize(QSize(10, 10));
        QCOMPARE(s.present(nullptr, 64, p.u.data(), 32, p.v.data(), 32, 64, 48), 1);
    }

    void oddSizesUseTheRoundedDownChroma()
    {
        // Exactly sized planes: width / 2 x height / 2 chroma, nothing more.
        const int w = 33, h = 17;
        std::vector<uint8_t> y(size_t(w) * h, 120);
        std::vector<uint8_t> u(size_t(w / 2) * (h / 2), 90);
        std::vector<uint8_t> v(size_t(w / 2) * (h / 2), 200);
        av::FrameSurface s;
        s.setTargetSize(QSize(w, h));
        QCOMPARE(s.present(y.data(), w, u.data(), w / 2, v.data(), w / 2, w, h), 0);
        const QImage img = s.latestImage();
        QCOMPARE(img.size(), QSize(w, h));
        uint8_t bgr[3];
        av::YuvToBgrTables().pixel(120, 90, 200, bgr);
        const QRgb px = img.pixel(w / 2, h / 2);
        QVERIFY(std::abs(qRed(px) - bgr[2]) <= 3);
        QVERIFY(std::abs(qBlue(px) - bgr[0]) <= 3);
        // 1-pixel-wide pictures have no chroma at all: nothing to draw.
        QCOMPARE(s.present(y.data(), 1, u.data(), 0, v.data(), 0, 1, 1), 0);
    }

    void detachedSurfaceFails()
    {
        av::FrameSurface s;
        s.setTargetSize(QSize(8, 8));
        bool called = false;
        s.setNotifier([&] { called = true; });
        s.detach();
        const test::Yuv420 p = test::testPicture(16, 16, 0);
        QCOMPARE(s.present(p.y.data(), 16, p.u.data(), 8, p.v.data(), 8, 16, 16), 1);
        QVERIFY(!called);
    }

    void presentsFromAThreadWhileTheOwnerReadsAndResizes()
    {
        auto s = std::make_shared<av::FrameSurface>();
        s->setTargetSize(QSize(64, 48));
        std::atomic<int> notes{0};
        s->setNotifier([&] { notes.fetch_add(1); });
        std::atomic<bool> stop{false};
        std::atomic<int> presents{0};
        std::thread presenter([&] {
            const test::Yuv420 p = test::testPicture(128, 96, 2);
            while (!stop.load()) {
                s->present(p.y.data(), 128, p.u.data(), 64, p.v.data(), 64, 128, 96);
                presents.fetch_add(1);
            }
        });
        QElapsedTimer t;
        t.start();
        int reads = 0;
        while (reads < 200 && t.elapsed() < 20000) {
            const QImage img = s->latestImage();
            if (!img.isNull()) {
                // Whatever size it has, the picture is whole (not torn): the
                // box-free ramp is bright on the right.
                QVERIFY(qGray(img.pixel(img.width() - 2, img.height() / 2)) > qGray(img.pixel(1, img.height() / 2)));
                ++reads;
            }
            s->setTargetSize(reads % 2 ? QSize(64, 48) : QSize(96, 40));
        }
        s->detach();
        const int afterDetach = notes.load();
        // The thread goes on presenting into the detached surface.
        const int presented = presents.load();
        QTRY_VERIFY(presents.load() > presented + 20);
        stop = true;
        presenter.join();
        QVERIFY(reads > 0);
        QVERIFY(afterDetach > 0);
        // No notice after detach (but from a present running at the detach).
        QVERIFY(notes.load() <= afterDetach + 1);
    }
};

QTEST_GUILESS_MAIN(TestVideoSink)
#include "tst_videosink.moc"
