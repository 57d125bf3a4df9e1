// Full-size pictures by OpenGL, under a real X server with Mesa's software
// OpenGL (a private Xvfb; VARNO_VIDEO_GL=1 forces the path on a software
// renderer): the same pictures through the OpenGL view and through the CPU
// path, read back from the X server, agree (padded rows, odd sizes, pictures
// of a real decoder, letter-boxing, the notice); a window going from scaled
// to full-size pictures and back never shows a blank picture; a shader that
// does not compile leaves the CPU path in charge, for good, with its log line.
#include "live/clivestream.h"
#include "live/videoglview.h"
#include "live/videosurface.h"
#include "platform/av/videosink.h"
#include "tests/live/heldpicture.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/testenv.h"

#include <dlfcn.h>
#include <memory>

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace varno;

namespace {

// Software OpenGL on a loaded machine under the sanitizers: a generous bound.
constexpr int kWait = 30000;

using livetest::held;

av::FrameSurface &sinkOf(const live::VideoSurface &w)
{
    return static_cast<av::FrameSurface &>(*av::findVideoSink(w.nativeHandle()));
}

// What the X server shows of the window.
QImage onScreen(QWidget &w)
{
    return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QString why(const QImage &a, const QImage &b)
{
    return QStringLiteral("max difference %1, PSNR %2 dB")
        .arg(test::maxChannelDifference(a, b))
        .arg(test::psnr(a, b));
}

// A window of its own: the OpenGL one on the left, the CPU one on the
// right, never overlapping (what the X server shows of a covered window is
// the window above it).
std::unique_ptr<live::VideoSurface> shownSurface(QSize size, bool gl)
{
    auto w = std::make_unique<live::VideoSurface>();
    w->setOpenGLAllowed(gl);
    w->setIdleColor(QColor(20, 40, 60));
    w->move(gl ? 0 : 320, 0);
    return livetest::shown(*w, size) ? std::move(w) : nullptr;
}

} // namespace

class TestVideoGlView : public QObject
{
    Q_OBJECT

public:
    explicit TestVideoGlView(QString skip) : m_skip(std::move(skip)) {}

private slots:
    void init()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
    }

    void theDecisionIsLoggedOnce()
    {
        QVERIFY(live::videoByOpenGL());
        QVERIFY(live::videoByOpenGL());
        const QByteArray log = test::logText();
        QCOMPARE(log.count("[PREVIEW]Video by OpenGL("), 1);
        QVERIFY(log.contains(", forced by VARNO_VIDEO_GL=1)!!!"));
        QCOMPARE(log.count("[PREVIEW]Video by CPU("), 0);
    }

    void sameAsTheCpuPath_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("pad");
        QTest::addColumn<QSize>("window");
        QTest::newRow("even, packed") << QSize(64, 48) << 0 << QSize(64, 48);
        QTest::newRow("rows wider than the picture") << QSize(66, 50) << 30 << QSize(66, 50);
        QTest::newRow("odd picture: its even part") << QSize(65, 47) << 7 << QSize(64, 46);
        QTest::newRow("odd half width") << QSize(94, 38) << 3 << QSize(94, 38);
    }
    void sameAsTheCpuPath()
    {
        QFETCH(QSize, picture);
        QFETCH(int, pad);
        QFETCH(QSize, window);
        const test::Yuv420 p = test::testPicture(picture.width(), picture.height(), 3);
        const av::DecodedPicture d = held(p, pad);
        auto gl = shownSurface(window, true);
        auto cpu = shownSurface(window, false);
        QVERIFY(gl && cpu);
        QCOMPARE(sinkOf(*gl).presentPicture(d), 0);
        QCOMPARE(sinkOf(*cpu).presentPicture(d), 0);
        QTRY_VERIFY_WITH_TIMEOUT(gl->paintsByOpenGL() > 0, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(cpu->newPicturesPainted() == 1, kWait);
        QVERIFY(gl->showsByOpenGL());
        QCOMPARE(gl->newPicturesPainted(), uint64_t(1));
        QCOMPARE(cpu->paintsByOpenGL(), uint64_t(0));
        const QImage byGl = onScreen(*gl), byCpu = onScreen(*cpu);
        // The CPU path converts in 1/64 fixed point, the shader in floats:
        // two steps of rounding at most (PSNR above 40 dB).
        QVERIFY2(test::maxChannelDifference(byGl, byCpu) <= 2, qPrintable(why(byGl, byCpu)));
        // Both against the reference conversion, and the widget's own grab.
        const QImage ref = test::referenceRgb(p).copy(QRect(QPoint(), window));
        QVERIFY2(test::maxChannelDifference(byGl, ref) <= 2, qPrintable(why(byGl, ref)));
        const QImage grabbed = gl->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY2(test::maxChannelDifference(grabbed, byCpu) <= 2, qPrintable(why(grabbed, byCpu)));
    }

    void picturesOfARealDecoder()
    {
        const QSize size(96, 72);
        auto gl = shownSurface(size, true);
        QVERIFY(gl);
        const int audio[4] = {102, 1, 16, 8000};
        CLiveStream s(gl->nativeHandle(), 1, audio);
        test::EncodeOptions o;
        o.width = size.width();
        o.height = size.height();
        o.frames = 8;
        o.gop = 4;
        for (const auto &f : test::encodeStream(o))
            s.SetCurrentFrame(reinterpret_cast<const char *>(f.data.data()), int(f.data.size()), 0, 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.queuedFrames(), size_t(0), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(sinkOf(*gl).presentedCount() >= 4 && gl->showsByOpenGL(), kWait);
        // The decoder's own buffers, by reference; the last picture may come
        // after the queue is empty: compared with the latest one each time.
        const auto latestByCpu = [&] { return av::fullSizeImage(sinkOf(*gl).latest().picture); };
        QTRY_VERIFY_WITH_TIMEOUT(test::maxChannelDifference(onScreen(*gl), latestByCpu()) <= 2, kWait);
        QCOMPARE(gl->paintsInPlace(), uint64_t(0));
    }

    void letterBoxAndNotice()
    {
        const QSize window(100, 60);
        const test::Yuv420 p = test::testPicture(80, 60, 5);
        auto gl = shownSurface(window, true);
        auto cpu = shownSurface(window, false);
        QVERIFY(gl && cpu);
        for (live::VideoSurface *w : {gl.get(), cpu.get()}) {
            w->setKeepAspect(true);
            w->setNotice(QStringLiteral("Reconnecting"));
            QCOMPARE(sinkOf(*w).presentPicture(held(p, 4)), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(gl->paintsByOpenGL() > 0, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(cpu->newPicturesPainted() == 1, kWait);
        QCOMPARE(gl->pictureRect(), QRectF(10, 0, 80, 60));
        QImage byGl = onScreen(*gl), byCpu = onScreen(*cpu);
        // Bars of the idle colour, dimmed like the picture.
        QCOMPARE(QColor(byGl.pixel(2, 30)), QColor(byCpu.pixel(2, 30)));
        QVERIFY(qBlue(byGl.pixel(97, 5)) < 60 / 2);
        // Text drawn by two paint engines: anti-aliased edges may differ.
        QVERIFY2(test::psnr(byGl, byCpu) > 35, qPrintable(why(byGl, byCpu)));
        const QRect corner(12, 2, 20, 10); // picture without text
        QVERIFY2(test::maxChannelDifference(byGl.copy(corner), byCpu.copy(corner)) <= 2,
                 qPrintable(why(byGl.copy(corner), byCpu.copy(corner))));
        // The notice gone: the picture at full brightness.
        for (live::VideoSurface *w : {gl.get(), cpu.get()})
            w->setNotice(QString());
        const uint64_t glPaints = gl->paintsByOpenGL();
        QTRY_VERIFY_WITH_TIMEOUT(gl->paintsByOpenGL() > glPaints, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(test::maxChannelDifference(onScreen(*gl), onScreen(*cpu)) <= 2, kWait);
        // Painting on: the idle look, the view out of the way.
        gl->setPainting(true);
        QVERIFY(!gl->showsByOpenGL());
        QTRY_COMPARE_WITH_TIMEOUT(QColor(onScreen(*gl).pixel(50, 30)), QColor(20, 40, 60), kWait);
    }

    void scaledToFullSizeAndBackPaintsNoBlank()
    {
        const QSize window(64, 48);
        auto w = shownSurface(window, true);
        QVERIFY(w);
        av::FrameSurface &sink = sinkOf(*w);
        // Scaled, full size, scaled, full size: each one a picture of its
        // own, each checked on screen as soon as it is painted.
        const QSize sizes[] = {QSize(128, 96), QSize(64, 48), QSize(64, 48), QSize(128, 96),
                               QSize(64, 48), QSize(96, 72)};
        int index = 0;
        for (const QSize size : sizes) {
            const test::Yuv420 p = test::testPicture(size.width(), size.height(), index++);
            const uint64_t before = w->newPicturesPainted();
            QCOMPARE(sink.presentPicture(held(p, 8)), 0);
            const bool full = size == window;
            QTRY_COMPARE_WITH_TIMEOUT(w->newPicturesPainted(), before + 1, kWait);
            QCOMPARE(w->showsByOpenGL(), full);
            const QImage shot = onScreen(*w);
            const QImage ref = test::referenceRgb(p).scaled(window, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QVERIFY2(test::psnr(shot, ref) > (full ? 35 : 22),
                     qPrintable(why(shot, ref) + QStringLiteral(", picture %1").arg(index)));
        }
        QVERIFY(w->paintsByOpenGL() >= 2);
    }

    // Last: a failure switches the process to the CPU path for good.
    void aShaderThatDoesNotCompileFallsBackToTheCpu()
    {
        live::VideoGlView::breakShadersForTests(true);
        struct Mend
        {
            ~Mend() { live::VideoGlView::breakShadersForTests(false); }
        } mend;
        auto w = shownSurface(QSize(64, 48), true);
        QVERIFY(w);
        const test::Yuv420 p = test::testPicture(64, 48, 2);
        QCOMPARE(sinkOf(*w).presentPicture(held(p, 8)), 0);
        QTRY_VERIFY_WITH_TIMEOUT(test::logText().contains("[PREVIEW]Video by OpenGL failed(shader does not compile"),
                                 kWait);
        QTRY_VERIFY_WITH_TIMEOUT(w->paintsInPlace() > 0, kWait);
        QVERIFY(!w->showsByOpenGL());
        QVERIFY(!live::videoByOpenGL());
        const QImage ref = test::referenceRgb(p);
        QTRY_VERIFY_WITH_TIMEOUT(test::maxChannelDifference(onScreen(*w), ref) <= 2, kWait);
        // A new window, a new picture: the CPU path, and one log line only.
        auto next = shownSurface(QSize(64, 48), true);
        QVERIFY(next);
        QCOMPARE(sinkOf(*next).presentPicture(held(p, 0)), 0);
        QTRY_VERIFY_WITH_TIMEOUT(next->paintsInPlace() > 0, kWait);
        QCOMPARE(next->paintsByOpenGL(), uint64_t(0));
        QCOMPARE(test::logText().count("[PREVIEW]Video by OpenGL failed("), 1);
    }

private:
    QString m_skip;
};

namespace {

// A private X server on a display it picks itself (-displayfd: the number
// is written once it takes connections); null when it does not start.
std::unique_ptr<QProcess> startXvfb(QByteArray *display)
{
    auto x = std::make_unique<QProcess>();
    x->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                      QStringLiteral("0"), QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                      QStringLiteral("tcp")});
    QByteArray out;
    while (!out.contains('\n') && x->waitForReadyRead(30000))
        out += x->readAllStandardOutput();
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        x->kill();
        x->waitForFinished(5000);
        return nullptr;
    }
    *display = ':' + QByteArray::number(number);
    return x;
}

} // namespace

int main(int argc, char **argv)
{
    // Mesa's software driver is unloaded when the last display closes, at
    // exit, and with it the only references to its lasting allocations,
    // which LeakSanitizer would then report without a name to suppress them
    // by. Kept loaded (nothing else changes; no such file, no effect).
    dlopen("/usr/lib/" VARNO_MULTIARCH "/dri/swrast_dri.so", RTLD_LAZY | RTLD_NODELETE);
    QString skip;
    std::unique_ptr<QProcess> xvfb;
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        skip = QStringLiteral("no Xvfb on this machine (package xvfb): OpenGL needs an X server");
    } else {
        QByteArray display;
        xvfb = startXvfb(&display);
        if (!xvfb) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
        qputenv("DISPLAY", display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("VARNO_VIDEO_GL", "1");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestVideoGlView test(skip);
        result = QTest::qExec(&test, argc, argv);
    }
    if (xvfb) {
        xvfb->terminate();
        if (!xvfb->waitForFinished(10000))
            xvfb->kill();
        xvfb->waitForFinished(5000);
    }
    return result;
}

#include "tst_videoglview.moc"
