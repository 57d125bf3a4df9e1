// A real H.264 stream from an RTSP server, through the RTSP library and the
// live decoder onto a video window, and a snapshot of it.
#include "live/clivestream.h"

#include "live/videosurface.h"
#include "platform/rtsp/rtsp_client.h"
#include "tests/support/media/rtspserverprocess.h"
#include "tests/support/media/testmedia.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace varno;

namespace {

// What the live view's frame callback does for an RTSP stream.
int streamCallback(int32_t, const char *descr, const int32_t *info, int32_t type, const char *data,
                   int32_t size, void *user)
{
    if (size <= 0 || std::strncmp(descr, "urn:uuid:cam-rtsp", 64) != 0)
        return -1;
    static_cast<CLiveStream *>(user)->SetCurrentFrame(data, size, type, info[0], info[1]);
    return 0;
}

} // namespace

class TestLiveRtspPlay : public QObject
{
    Q_OBJECT

private slots:
    void playsAndSnapshotsARealStream()
    {
        const int w = 640, h = 360;
        test::RtspServerProcess server;
        QVERIFY(server.start({QStringLiteral("--width"), QString::number(w), QStringLiteral("--height"),
                              QString::number(h), QStringLiteral("--still"), QStringLiteral("--quality"),
                              QStringLiteral("12"), QStringLiteral("--audio")}));
        QCOMPARE(RTSP_Stream_SDKInit(), 0);
        QCOMPARE(RTSP_SetSteamTimeouts(10000, 20000), 0); // a loaded machine can starve the server for seconds

        live::VideoSurface window;
        window.resize(320, 180);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setPainting(false);
        const int audio[4] = {102, 1, 16, 8000};
        CLiveStream live(window.nativeHandle(), 1, audio);
        live.SetSoundOn(true); // no audio device here: silently off

        int32_t handle = 0;
        // Closed on every way out, before the decoder the callback feeds goes.
        struct Closer
        {
            int32_t &h;
            ~Closer()
            {
                if (h > 0)
                    RTSP_CloseLiveSteam(h, streamCallback);
            }
        } closer{handle};
        QCOMPARE(RTSP_OpenLiveSteam(server.url().toUtf8().constData(), streamCallback, &live, &handle), 0);
        QCOMPARE(RTSP_SetSteamDeviceId(handle, "urn:uuid:cam-rtsp"), 0);
        QCOMPARE(RTSP_StartLiveSteam(handle), 0);
        QTRY_VERIFY_WITH_TIMEOUT(live.decodedPictures() >= 10, 60000);
        QVERIFY(live.GetFrameCounter() >= 10);
        QTRY_VERIFY(window.paintedPictures() > 0);
        // The window shows the stream's picture at its own size.
        const QImage shown = window.grab().toImage();
        const QImage reference = test::referenceRgb(test::testPicture(w, h, -1));
        QVERIFY(test::psnr(shown, reference.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)) > 24);

        QTemporaryDir dir;
        QCOMPARE(live.CapturePicture(dir.path(), QStringLiteral("urn:uuid:cam-rtsp"), 0), 0);
        const QString file = live.lastSnapshotFile();
        QVERIFY(QFileInfo(file).fileName().startsWith(QStringLiteral("cam-rtsp-")));
        QCOMPARE(QFileInfo(file).size(), qint64(w * h * 3 + 54));
        const QImage snap(file);
        QCOMPARE(snap.size(), QSize(w, h));
        const double q = test::psnr(snap, reference);
        QVERIFY2(q > 32, qPrintable(QString::number(q)));

        QCOMPARE(RTSP_StopLiveSteam(handle), 0);
        QCOMPARE(RTSP_CloseLiveSteam(handle, streamCallback), 0);
        handle = 0;
    }
};

QTEST_MAIN(TestLiveRtspPlay)
#include "tst_livertspplay.moc"
