// The camera file engine: frames fed to its callback (the queue's bound and
// the drop to the next key frame, frames of other kinds, the frame count
// that waits for the parameter sets, the restart rule), and a camera file
// of the simulator (H.264 and H.265) played. Pause and a slider drag that
// restart the stream at their second: tst_videosearch::playCameraFile.

#include "common/textfield.h"
#include "live/videosurface.h"
#include "playback/qdevicefileplay.h"
#include "playbackfixture.h"

#include "../support/testenv.h"

#include <QApplication>
#include <QTest>


using namespace pbtest;

namespace {

const AV_DECODER_PARAM_S kParams{AV_AUDIO_G711A, 1, 8, 8000};

PlayCamera_S camera(bool connected)
{
    PlayCamera_S c;
    std::memset(&c, 0, sizeof(c));
    c.connected = connected ? 1 : 0;
    varno::setText(c.p2pId, "VRNB-765432-KXPQT");
    varno::setText(c.password, "abc123");
    return c;
}

// A video frame: start code, then the NAL header byte.
QByteArray videoFrame(uint8_t nalHeader, int size = 64)
{
    QByteArray f(size, '\x11');
    f[0] = 0;
    f[1] = 0;
    f[2] = 0;
    f[3] = 1;
    f[4] = char(nalHeader);
    return f;
}

void feed(qdevicefileplay &e, int type, const QByteArray &f, int second = 0)
{
    qdevicefileplay::frameCallback(type, f.constData(), int32_t(f.size()), second, &e);
}

} // namespace

class tst_QDeviceFilePlay : public QObject
{
    Q_OBJECT

private slots:
    // Frames of a kind the decoder cannot use are dropped, not queued (they
    // used to reach the decoder and never be freed).
    void otherKindsAreDropped()
    {
        qdevicefileplay e(camera(false));
        feed(e, 3, videoFrame(0x67));
        feed(e, 0, videoFrame(0x67));
        QCOMPARE(e.queuedFrames(), size_t(0));
        QCOMPARE(e.droppedFrames(), uint64_t(2));
        feed(e, 2, QByteArray(160, '\x55'));
        feed(e, 1, videoFrame(0x67));
        QCOMPARE(e.queuedFrames(), size_t(2));
        // Nothing and nothing long.
        qdevicefileplay::frameCallback(1, nullptr, 10, 0, &e);
        qdevicefileplay::frameCallback(1, "x", 0, 0, &e);
        QCOMPARE(e.queuedFrames(), size_t(2));
    }

    // Frames count from the first one that starts with the parameter sets
    // (H.264 SPS, H.265 VPS; here behind an access unit delimiter), read by
    // the file's codec. NAL headers: a slice, a key slice, AUD, SPS / VPS.
    void countStartsAtSps_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<QByteArray>("nal");
        QTest::newRow("h264") << int(AV_VIDEO_H264) << QByteArray("\x41\x65\x09\x67");
        QTest::newRow("h265") << int(AV_VIDEO_H265) << QByteArray("\x02\x26\x46\x40");
    }
    void countStartsAtSps()
    {
        QFETCH(int, codec);
        QFETCH(QByteArray, nal);
        qdevicefileplay e(camera(false));
        QCOMPARE(e.StartPlay("190225_08.00.00.h264", codec, &kParams, 25, 1), -1); // not connected
        feed(e, 1, videoFrame(uint8_t(nal[0])));
        feed(e, 1, videoFrame(uint8_t(nal[1])));
        QCOMPARE(e.receivedFrames(), 0u);
        feed(e, 1, videoFrame(uint8_t(nal[2])) + videoFrame(uint8_t(nal[3])));
        feed(e, 1, videoFrame(uint8_t(nal[0])));
        feed(e, 2, QByteArray(100, 'a'));
        QCOMPARE(e.receivedFrames(), 2u);
    }

    // The queue has a bound: a camera ahead of the decoder loses frames up
    // to the next key frame, with a log line.
    void queueIsBounded()
    {
        qdevicefileplay e(camera(false));
        feed(e, 1, videoFrame(0x67));
        for (size_t i = 1; i < qdevicefileplay::kMaxQueuedFrames; ++i)
            feed(e, 1, videoFrame(0x41));
        QCOMPARE(e.queuedFrames(), qdevicefileplay::kMaxQueuedFrames);
        QCOMPARE(e.droppedFrames(), uint64_t(0));
        feed(e, 1, videoFrame(0x41));
        feed(e, 2, QByteArray(100, 'a'));
        feed(e, 1, videoFrame(0x67));   // still full: dropped as well
        QCOMPARE(e.queuedFrames(), qdevicefileplay::kMaxQueuedFrames);
        QCOMPARE(e.droppedFrames(), uint64_t(3));
        QVERIFY(varno::test::logText().contains("frames dropped up to the next key frame"));
    }

    // After a pause the stream restarts at the stored second: earlier
    // seconds of the old stream neither move the position nor queue frames.
    void restartRule()
    {
        qdevicefileplay e(camera(false));
        feed(e, 1, videoFrame(0x67), 7);
        QCOMPARE(e.position(), 7u);
        e.SetPause(true);
        QVERIFY(e.restartPending());
        feed(e, 1, videoFrame(0x41), 9);
        QCOMPARE(e.position(), 7u);
        e.SetPause(false);
        QVERIFY(e.restartPending());
        const size_t queued = e.queuedFrames();
        feed(e, 1, videoFrame(0x41), 6);
        QCOMPARE(e.position(), 7u);
        QCOMPARE(e.queuedFrames(), queued);
        feed(e, 1, videoFrame(0x67), 7);   // caught up
        QVERIFY(!e.restartPending());
        feed(e, 1, videoFrame(0x41), 8);
        QCOMPARE(e.position(), 8u);
        // A drag holds the position where the slider puts it.
        e.SetSeekHold(true);
        e.SeekTo(30);
        feed(e, 1, videoFrame(0x41), 9);
        QCOMPARE(e.position(), 30u);
    }

    void startRefusals()
    {
        qdevicefileplay off(camera(false));
        QCOMPARE(off.StartPlay("190225_08.00.00.h264", AV_VIDEO_H264, &kParams, 25, 1), -1);
        QCOMPARE(off.StartPlay("190225_08.00.00.h264", AV_VIDEO_H264, &kParams, 25, 0), -1);
        // No P2P library: the start fails with the library's code.
        qdevicefileplay on(camera(true));
        QVERIFY(on.StartPlay("190225_08.00.00.h264", AV_VIDEO_H264, &kParams, 25, 1) < 0);
    }

    // The decoder paces a camera file at 35 ms a picture (25 fps), a
    // little faster than the camera sends: the mean over a second of
    // pictures the camera sent while the decoder was held.
    void pacing()
    {
        CameraRig rig;
        QVERIFY2(rig.start(1, 12), qPrintable(rig.error));
        VirtualClock clock;
        qdevicefileplay e(camera(true));
        e.setClock(&clock);
        ReleaseOnExit releaseOnExit{clock};
        clock.holdAt(2);
        QCOMPARE(e.StartPlay("190225_08.00.00.h264", AV_VIDEO_H264, &kParams, 25, 1), 0);
        QTRY_COMPARE_WITH_TIMEOUT(clock.deadlines().size(), size_t(2), 20000);
        const uint32_t held = e.receivedFrames();
        QTRY_VERIFY_WITH_TIMEOUT(e.receivedFrames() >= held + 35, 20000);
        clock.release();
        QTRY_VERIFY_WITH_TIMEOUT(clock.deadlines().size() >= 30, 20000);
        e.StopPlay(true);
        QCOMPARE(meanGapUs(clock.deadlines(), 2, 26), 35000.0);
    }

    // A camera file: pictures (counted for the watchdog), shown, with notices
    // from the decode thread.
    void cameraFile_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::newRow("h264") << QStringLiteral("h264");
        QTest::newRow("h265") << QStringLiteral("h265");
    }
    void cameraFile()
    {
        QFETCH(QString, codec);
        SimCamera gate;
        gate.count = 3;
        gate.seconds = 12;
        gate.codec = codec;
        CameraRig rig;
        QVERIFY2(rig.start(QList<SimCamera> {gate}), qPrintable(rig.error));
        varno::live::VideoSurface surface;
        surface.resize(320, 180);
        surface.show();
        surface.setPainting(false);
        qdevicefileplay e(camera(true));
        e.SetLength(12);
        // Notices come from the decode thread, which the crash handler covers.
        Notices notices;
        e.SetCallback(&Notices::callback, &notices);
        const int decoder = codec == QLatin1String("h265") ? AV_VIDEO_H265 : AV_VIDEO_H264;
        QCOMPARE(e.StartPlay("190225_08.00.00.h264", decoder, &kParams, 25, surface.nativeHandle()), 0);
        QTRY_VERIFY_WITH_TIMEOUT(e.receivedFrames() > 10, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(surface.newPicturesPainted() > 5, 20000);
        const QImage picture = surface.currentImage();
        QVERIFY(!picture.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(e.position() >= 2, 20000);
        e.StopPlay(true);
        QVERIFY(notices.count() > 0);
        QCOMPARE(notices.withoutCrashStack.load(), 0);
    }
};

QTEST_MAIN(tst_QDeviceFilePlay)
#include "tst_qdevicefileplay.moc"
