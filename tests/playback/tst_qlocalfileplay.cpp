// The local file engine on recordings written through the recording file
// library: its pacing at every speed (seen through a virtual clock), the
// progress notices, seek, single steps, requests that wake the worker from
// an endless frame interval, and the pictures it shows against a decode of
// the same file.

#include "common/textfield.h"
#include "live/videosurface.h"
#include "platform/av/av_decoder.h"
#include "playback/qlocalfileplay.h"
#include "playbackfixture.h"

#include "../support/media/testmedia.h"
#include "../support/files.h"
#include "../support/testenv.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <memory>

using namespace pbtest;

namespace {

const AV_DECODER_PARAM_S kParams{AV_AUDIO_PCM16, 1, 16, 8000};

// Largest difference of the mean colours of a 4 x 4 grid's cells.
int gridDifference(const QImage &a, const QImage &b)
{
    const auto grid = [](const QImage &image) {
        return image.convertToFormat(QImage::Format_RGB32).scaled(4, 4, Qt::IgnoreAspectRatio,
                                                                  Qt::SmoothTransformation);
    };
    return varno::test::maxChannelDifference(grid(a), grid(b));
}

// The last picture of a recording, decoded on its own.
QImage lastPicture(const QString &path)
{
    RECORD_HANDLE h = 0;
    uint32_t length = 0, total = 0, rate = 0;
    const QByteArray p = path.toUtf8();
    if (Record_local_MediaFileOpen(p.constData(), &h, &length, &total, &rate) != 0)
        return {};
    AV_HANDLE dec = nullptr;
    AV_CreateDecoder(0, AV_VIDEO_H264, nullptr, &dec);
    QImage image;
    uint32_t type = 0, size = 0;
    unsigned char *data = nullptr;
    auto take = [&](const AV_FRAME_OUT_S &out) {
        image = varno::test::referenceRgb(out.y, out.u, out.v, out.width, out.height);
    };
    while (Record_local_MediaFileGetNextFrame(h, &type, &data, &size) == 0) {
        if (type == 1 || size <= 1)
            continue;
        AV_FRAME_OUT_S out{};
        if (AV_FrameDecoderStream(dec, data, int32_t(size), AV_FRAME_VIDEO, nullptr, 0, &out) == 0)
            take(out);
        while (AV_FrameDecoderStream(dec, nullptr, 0, AV_FRAME_VIDEO, nullptr, 0, &out) == 0)
            take(out);
    }
    AV_CloseDecoderStream(dec);
    Record_local_MediaFileClose(h);
    return image;
}

// An engine paced by a virtual clock, its notices collected. The engine is
// declared last, so it goes first.
struct ClockedEngine
{
    VirtualClock clock;
    Notices notices;
    qlocalfileplay engine;

    ClockedEngine()
    {
        engine.setClock(&clock);
        engine.SetCallback(&Notices::callback, &notices);
    }
};

} // namespace

class tst_QLocalFilePlay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Record_local_InitSdk();
        m_folder = varno::test::tempRoot() + QStringLiteral("/rec");
        RecordingOptions recording;
        recording.seconds = 3;
        m_path = writeRecording(m_folder, recording);
        QVERIFY(!m_path.isEmpty());
        if (varno::test::haveEncoder(2)) { // the same as H.265 from x265
            recording.h265 = true;
            recording.devId = QStringLiteral("C100200");
            m_path265 = writeRecording(m_folder, recording);
            QVERIFY(!m_path265.isEmpty());
        }
    }

    void cleanupTestCase() { Record_local_UnInitSdk(); }

    void pacing_data()
    {
        QTest::addColumn<float>("speed");
        QTest::addColumn<double>("interval");
        // Real time at 1x: a 3 s recording plays in 3 s.
        QTest::newRow("1x") << 1.0f << 40000.0;
        QTest::newRow("4x") << 4.0f << 10000.0;
        QTest::newRow("1/4x") << 0.25f << 160000.0;
        QTest::newRow("8x") << 8.0f << 5000.0;
        QTest::newRow("1/8x") << 0.125f << 320000.0;
    }

    // Mean interval over a second of pictures (25 gaps), not one frame.
    void pacing()
    {
        QFETCH(float, speed);
        QFETCH(double, interval);
        ClockedEngine rig;
        auto &[clock, notices, engine] = rig;
        engine.SetSpeed(speed);
        const QByteArray p = m_path.toUtf8();
        QCOMPARE(engine.StartPlay(p.constData(), AV_VIDEO_H264, &kParams, 0, 1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(clock.deadlines().size() >= 30, 20000);
        engine.StopPlay(true);
        QCOMPARE(engine.frameRate(), 25u);
        QCOMPARE(meanGapUs(clock.deadlines(), 2, 26), interval);
    }

    // A frame rate that is no whole number of milliseconds keeps its
    // fraction: a second of 30 fps pictures takes a second, not 990 ms.
    void pacingAt30Fps()
    {
        RecordingOptions recording;
        recording.fps = 30;
        recording.gop = 30;
        const QString path = writeRecording(m_folder, recording);
        QVERIFY(!path.isEmpty());
        ClockedEngine rig;
        auto &[clock, notices, engine] = rig;
        QCOMPARE(engine.StartPlay(path.toUtf8().constData(), AV_VIDEO_H264, &kParams, 0, 1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(clock.deadlines().size() >= 40, 20000);
        engine.StopPlay(true);
        QCOMPARE(engine.frameRate(), 30u);
        const std::vector<int64_t> d = clock.deadlines();
        QCOMPARE(d[32] - d[2], int64_t(1000000));
    }

    // A new speed while the worker sleeps before the next picture moves
    // that picture at once: it is due one new interval after the one on
    // screen. The hold makes the interval endless, so only the wake can
    // end the sleep.
    void speedWhilePlaying()
    {
        ClockedEngine rig;
        auto &[clock, notices, engine] = rig;
        ReleaseOnExit releaseOnExit{clock};
        clock.holdAt(5);
        const QByteArray p = m_path.toUtf8();
        QCOMPARE(engine.StartPlay(p.constData(), AV_VIDEO_H264, &kParams, 25, 1), 0);
        QTRY_COMPARE_WITH_TIMEOUT(clock.deadlines().size(), size_t(5), 20000);
        engine.SetSpeed(2.0f);
        QTRY_COMPARE_WITH_TIMEOUT(clock.deadlines().size(), size_t(6), 20000);
        clock.release();
        QTRY_VERIFY_WITH_TIMEOUT(clock.deadlines().size() >= 18, 20000);
        engine.StopPlay(true);
        const std::vector<int64_t> d = clock.deadlines();
        QCOMPARE(meanGapUs(d, 0, 5), 40000.0);
        QCOMPARE(d[5] - d[3], int64_t(20000));
        QCOMPARE(meanGapUs(d, 5, 13), 20000.0);
        QCOMPARE(clock.wakes(), 1);
    }

    // Seek, pause and stop reach a worker that sleeps on an endless frame
    // interval: each is taken without the interval running out.
    void requestsWakeThePacingSleep()
    {
        ClockedEngine rig;
        auto &[clock, notices, engine] = rig;
        ReleaseOnExit releaseOnExit{clock};
        clock.holdAt(3);
        const QByteArray p = m_path.toUtf8();
        QCOMPARE(engine.StartPlay(p.constData(), AV_VIDEO_H264, &kParams, 25, 1), 0);
        QTRY_COMPARE_WITH_TIMEOUT(clock.deadlines().size(), size_t(3), 20000);
        QCOMPARE(engine.position(), 3u);

        // The seek is carried out and playing goes on from there (into the
        // next endless sleep, where the position stays).
        engine.SeekTo(2);
        QTRY_COMPARE_WITH_TIMEOUT(engine.seeksDone(), 1u, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(engine.position(), 51u, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(notices.last()[1], 2, 20000);

        // Pause: the worker leaves the sleep for the idle step, where a
        // single step shows the next picture.
        engine.SetPause(true);
        QTRY_VERIFY_WITH_TIMEOUT(clock.wakes() >= 2, 20000);
        engine.StepFrame();
        QTRY_COMPARE_WITH_TIMEOUT(engine.position(), 52u, 20000);

        // Stop from the sleep: the wake ends it and the thread ends.
        engine.SetPause(false);
        QTRY_COMPARE_WITH_TIMEOUT(engine.position(), 53u, 20000);
        const QByteArray stopped("[PLAYBACK]Stop play thread!!!");
        const qsizetype before = varno::test::logText().count(stopped);
        engine.StopPlay(false);
        QTRY_COMPARE_WITH_TIMEOUT(varno::test::logText().count(stopped), before + 1, 20000);
        QVERIFY(clock.wakes() >= 3);
        engine.StopPlay(true);
        QCOMPARE(engine.position(), 53u);
    }

    void progressSeekAndStep_data()
    {
        QTest::addColumn<bool>("h265");
        QTest::newRow("h264") << false;
        QTest::newRow("h265") << true;
    }
    void progressSeekAndStep()
    {
        QFETCH(bool, h265);
        if (h265 && m_path265.isEmpty())
            QSKIP("libx265 is not available");
        ClockedEngine rig;
        auto &[clock, notices, engine] = rig;
        const QByteArray p = (h265 ? m_path265 : m_path).toUtf8();
        QCOMPARE(engine.StartPlay(p.constData(), h265 ? AV_VIDEO_H265 : AV_VIDEO_H264, &kParams, 25, 1), 0);
        // Notices in seconds: length 3, positions counting up.
        QTRY_VERIFY_WITH_TIMEOUT(notices.last()[1] >= 1, 20000);
        QCOMPARE(notices.last()[0], 3);
        QCOMPARE(notices.last()[2], int(varno::playback::kPlayProgress));

        engine.SetPause(true);
        engine.SeekTo(2);
        QTRY_COMPARE_WITH_TIMEOUT(engine.seeksDone(), 1u, 20000);
        QCOMPARE(engine.position(), 50u);
        // While paused nothing moves; each step shows one picture.
        const uint64_t paced = engine.pacedFrames();
        engine.StepFrame();
        engine.StepFrame();
        QTRY_COMPARE_WITH_TIMEOUT(engine.position(), 52u, 20000);
        QCOMPARE(engine.pacedFrames(), paced);
        engine.SetPause(false);
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() >= 60u, 20000);
        engine.StopPlay(true);
        QCOMPARE(notices.withoutCrashStack.load(), 0);
    }

    // The window shows the file's pictures; at the end the last one stays.
    void showsThePictures()
    {
        varno::live::VideoSurface surface;
        surface.resize(160, 120);
        surface.show();
        surface.setPainting(false);
        qlocalfileplay engine;
        engine.SetShowLastFrame(true);
        const QByteArray p = m_path.toUtf8();
        QCOMPARE(engine.StartPlay(p.constData(), AV_VIDEO_H264, &kParams, 25, surface.nativeHandle()), 0);
        // 3 s of pictures; the engine then idles at the end of the file.
        QTRY_COMPARE_WITH_TIMEOUT(engine.position(), 75u, 30000);
        const QImage reference = lastPicture(m_path);
        QVERIFY(!reference.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(gridDifference(surface.currentImage(), reference) < 24, 10000);
        // The snapshot is the same picture.
        const QString bmp = varno::test::tempRoot() + QStringLiteral("/snap.bmp");
        QCOMPARE(engine.CapPicture(bmp.toUtf8().constData()), 0);
        QVERIFY(gridDifference(QImage(bmp), reference) < 24);
        QCOMPARE(engine.CapPicture(nullptr), int(varno::playback::kCapNoPath));
        engine.StopPlay(true);
    }

    void badInput()
    {
        qlocalfileplay engine;
        QCOMPARE(engine.StartPlay(nullptr, AV_VIDEO_H264, &kParams, 25, 1), -1);
        QCOMPARE(engine.StartPlay("", AV_VIDEO_H264, &kParams, 25, 1), -1);
        QCOMPARE(engine.StartPlay("/x.mkv", AV_VIDEO_H264, &kParams, 25, 0), -1);
        // A recording deleted between search and play; a file that is not a
        // recording at all.
        const QString gone = writeRecording(m_folder, RecordingOptions());
        const QString junk = varno::test::tempRoot() + QStringLiteral("/junk.mkv");
        QVERIFY(QFile::remove(gone) && varno::test::writeFile(junk, QByteArray(5000, 'x')));
        for (const QString &path : {gone, junk}) {
            qlocalfileplay refused;
            QVERIFY(refused.StartPlay(path.toUtf8().constData(), AV_VIDEO_H264, &kParams, 25, 1) < 0);
        }
    }

private:
    QString m_folder;
    QString m_path;
    QString m_path265;
};

QTEST_MAIN(tst_QLocalFilePlay)
#include "tst_qlocalfileplay.moc"
