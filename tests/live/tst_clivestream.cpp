// Live stream decoding: frame counter, decoding onto a window, snapshots,
// the bounded queue, display failure and sound.
#include "live/clivestream.h"

#include "common/crashhandler.h"
#include "live/videosurface.h"
#include "platform/av/audioout.h"
#include "platform/av/videosink.h"
#include "tests/live/heldpicture.h"
#include "tests/support/testenv.h"
#include "tests/support/media/testmedia.h"
#include "tools/camsim/medialoop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <vector>
#include <thread>
#include <mutex>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace varno;

namespace {

const int kAudio[4] = {AV_AUDIO_G711A, 1, 16, 8000};

void feed(CLiveStream &s, const std::vector<uint8_t> &f, int type = 0)
{
    s.SetCurrentFrame(reinterpret_cast<const char *>(f.data()), int(f.size()), type, 0, 0);
}

// An H.264 stream (H.265 for codec 2) of the given length and picture group.
std::vector<test::EncodedFrame> encoded(int frames, int gop = 25, QSize size = QSize(320, 240), int codec = 1)
{
    test::EncodeOptions o;
    o.codec = codec;
    o.width = size.width();
    o.height = size.height();
    o.frames = frames;
    o.gop = gop;
    return test::encodeStream(o);
}

class RecordingSink : public av::AudioSink
{
public:
    void write(const int16_t *s, size_t frames, int, int channels) override
    {
        std::lock_guard lock(mutex);
        samples += frames * size_t(channels);
        for (size_t i = 0; i < frames * size_t(channels); ++i)
            positive += s[i] > 0;
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return samples;
    }
    size_t positives()
    {
        std::lock_guard lock(mutex);
        return positive;
    }
    std::mutex mutex;
    size_t samples = 0;
    size_t positive = 0;   // samples above zero: A-law 0xD5 gives +8, 0x55 gives -8
};

struct FailRecord
{
    std::atomic<int> calls{0};
    std::atomic<int> code{0};
    CLiveStream *who = nullptr;
};

int onFail(int code, CLiveStream *s, void *user)
{
    auto *r = static_cast<FailRecord *>(user);
    r->code = code;
    r->who = s;
    r->calls.fetch_add(1);
    return 0;
}

// A window that notes whether the thread presenting to it has the crash
// handler's stack.
struct ThreadProbeSink : av::VideoSink
{
    std::atomic<int> presents{0};
    std::atomic<int> withoutCrashStack{0};
    int present(const uint8_t *, int, const uint8_t *, int, const uint8_t *, int, int, int) override
    {
        if (!CrashHandlerOnThisThread())
            withoutCrashStack.fetch_add(1);
        presents.fetch_add(1);
        return 0;
    }
    QSize targetSize() const override { return QSize(64, 36); }
};

// A window that notes each picture: key or not, and whether its lowest rows
// are a quarter zero bytes (the simulator draws no luma 0): what a lower
// slice left unwritten, shown green. Held, it holds the decode thread at
// the picture, so that the queue in front of it fills.
struct PictureProbe : av::VideoSink
{
    std::mutex mutex;
    std::condition_variable released;
    bool hold = false;
    std::vector<std::pair<bool, bool>> shown; // key, lacking its lower slice
    int present(const uint8_t *, int, const uint8_t *, int, const uint8_t *, int, int, int) override { return 0; }
    int presentPicture(const av::DecodedPicture &p) override
    {
        ptrdiff_t zeros = 0;
        for (int row = p.height - 16; row < p.height; ++row)
            zeros += std::count(p.y + ptrdiff_t(row) * p.yStride, p.y + ptrdiff_t(row) * p.yStride + p.width, 0);
        std::unique_lock lock(mutex);
        shown.emplace_back(p.keyFrame, zeros > 16 * p.width / 4);
        released.wait(lock, [this] { return !hold; });
        return 0;
    }
    void setHold(bool on)
    {
        std::lock_guard lock(mutex);
        hold = on;
        released.notify_all();
    }
    std::vector<std::pair<bool, bool>> pictures()
    {
        std::lock_guard lock(mutex);
        return shown;
    }
    QSize targetSize() const override { return QSize(160, 120); }
};

} // namespace

class TestCLiveStream : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        if (m_probe)
            m_probe->setHold(false); // a failed case may leave the decode thread held
        m_live.reset();
        m_probe.reset();
        av::setAudioSinkOverride(nullptr);
    }

    void decodeThreadReportsStackOverflows()
    {
        auto sink = std::make_shared<ThreadProbeSink>();
        const int32_t handle = av::registerVideoSink(sink);
        const auto stream = encoded(3);
        {
            CLiveStream s(handle, 1, kAudio);
            for (const auto &f : stream)
                feed(s, f.data);
            QTRY_VERIFY(sink->presents.load() >= 1);
        }
        av::unregisterVideoSink(handle);
        QCOMPARE(sink->withoutCrashStack.load(), 0);
    }

    void frameCounterStartsAtTheFirstIdrAndWraps()
    {
        const auto stream = encoded(6, 3);
        CLiveStream s(0, 1, kAudio);
        // Frames before the first IDR picture do not count.
        feed(s, stream[1].data);
        feed(s, stream[2].data);
        feed(s, std::vector<uint8_t>{0, 0, 0, 1, 0x65}, 1); // audio that looks like an IDR
        QCOMPARE(s.GetFrameCounter(), 0);
        // The first frame holds SPS, PPS (and SEI) before its IDR slice: the
        // IDR is found by its NAL type, wherever it is in the frame.
        QVERIFY(test::nalType(test::splitNals(stream[0].data)[0], 1) != 5);
        feed(s, stream[0].data);
        QCOMPARE(s.GetFrameCounter(), 1);
        feed(s, stream[1].data);
        feed(s, stream[2].data);
        QCOMPARE(s.GetFrameCounter(), 3);
        feed(s, std::vector<uint8_t>{0, 0, 0, 1, 0x68, 0xce}, 1);
        QCOMPARE(s.GetFrameCounter(), 3);
        // A bare IDR slice with a 3-byte start code and another nal_ref_idc.
        CLiveStream t(0, 1, kAudio);
        feed(t, std::vector<uint8_t>{0, 0, 1, 0x25, 0x88, 0x80});
        QCOMPARE(t.GetFrameCounter(), 1);
        // The wrap: 2,147,483,647 is followed by 1.
        s.SetFrameCounterForTest(2147483646);
        feed(s, stream[3].data);
        QCOMPARE(s.GetFrameCounter(), 2147483647);
        feed(s, stream[4].data);
        QCOMPARE(s.GetFrameCounter(), 1);
        feed(s, stream[5].data);
        QCOMPARE(s.GetFrameCounter(), 2);
    }

    void frameCounterForH265()
    {
        if (!test::haveEncoder(2))
            QSKIP("no H.265 encoder");
        const auto stream = encoded(3, 25, QSize(320, 240), 2);
        CLiveStream s(0, 2, kAudio);
        feed(s, stream[1].data);
        QCOMPARE(s.GetFrameCounter(), 0);
        feed(s, stream[0].data);
        QCOMPARE(s.GetFrameCounter(), 1);
        QTRY_VERIFY(s.decodedPictures() >= 1);
    }

    void decodesOntoTheWindowAndTakesASnapshot()
    {
        live::VideoSurface w;
        QVERIFY(livetest::shown(w, QSize(320, 180)));
        const auto stream = encoded(10, 5, QSize(1280, 720));
        CLiveStream s(w.nativeHandle(), 1, kAudio);
        QStringList tips;
        s.SetSnapshotHook([&](const QString &title, const QString &text) { tips << title + QLatin1Char('|') + text; });
        for (const auto &f : stream)
            feed(s, f.data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(10));
        QTRY_VERIFY(w.paintedPictures() > 0);
        QCOMPARE(w.currentImage().size(), QSize(320, 180) * w.devicePixelRatioF());

        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("snaps/deeper"));
        QCOMPARE(s.CapturePicture(folder, QStringLiteral("urn:uuid:cam-0001"), 3), 0);
        const QString file = s.lastSnapshotFile();
        QVERIFY(QRegularExpression(QStringLiteral("/snaps/deeper/cam-0001-\\d{8}-\\d{6}-3\\.bmp$")).match(file).hasMatch());
        QCOMPARE(QFileInfo(file).size(), qint64(2764854));
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0], QStringLiteral("Capture|Snapshot OK.It is saved to:") + file);

        // Read back by Qt: the encoded picture, upright.
        const QImage img(file);
        QCOMPARE(img.size(), QSize(1280, 720));
        QVERIFY(test::psnr(img, test::referenceRgb(test::testPicture(1280, 720, 9))) > 30);

        // An ID with only "urn:" loses those 4 characters; path characters
        // cannot leave the folder.
        QCOMPARE(s.CapturePicture(folder, QStringLiteral("urn:abc/../x"), 0), 0);
        QVERIFY(QFileInfo(s.lastSnapshotFile()).fileName().startsWith(QStringLiteral("abc_.._x-")));
        QCOMPARE(QFileInfo(s.lastSnapshotFile()).absolutePath(), QDir(folder).absolutePath());
    }

    // A stream switch (a cleared queue) on a decoder that played another
    // stream: the new stream's pictures before its key picture would be
    // decoded against the old stream's pictures (smeared). They are decoded
    // and not shown; the pictures show from the key picture on. Joined in
    // the middle of a picture group at the start, nothing shows either.
    void picturesShowFromTheFirstKeyPictureOn()
    {
        const auto stream = encoded(10, 5, QSize(320, 180));
        std::vector<uint8_t> params;
        for (const std::vector<uint8_t> &nal : test::splitNals(stream[0].data))
            if (test::nalType(nal, 1) == 7 || test::nalType(nal, 1) == 8)
                params.insert(params.end(), nal.begin(), nal.end());
        QVERIFY(!params.empty());
        CLiveStream s(0, 1, kAudio);
        feed(s, params);
        for (int i = 1; i < 10; ++i)
            feed(s, stream[size_t(i)].data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(5));
        QVERIFY(s.hasPicture());

        s.ClearQueue();
        for (int i = 1; i < 5; ++i)
            feed(s, stream[size_t(i)].data);
        // libavcodec puts out some of them (concealed): none is shown.
        QTRY_VERIFY(s.skippedPictures() > 0);
        QCOMPARE(s.decodedPictures(), uint64_t(5));
        for (int i = 5; i < 10; ++i)
            feed(s, stream[size_t(i)].data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(10));
    }

    void snapshotWithoutPictureFails()
    {
        CLiveStream s(0, 1, kAudio);
        QStringList tips;
        s.SetSnapshotHook([&](const QString &title, const QString &text) { tips << title + QLatin1Char('|') + text; });
        QTemporaryDir dir;
        QCOMPARE(s.CapturePicture(dir.path(), QStringLiteral("cam"), 0), -1);
        QCOMPARE(tips, QStringList{QStringLiteral("Capture|Failed to save image!")});
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
        QCOMPARE(s.CapturePicture(QString(), QStringLiteral("cam"), 0), -1);
    }

    void saveBitmapFileTakes24BitsOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.bmp"));
        const uint8_t px[4 * 2 * 4] = {};
        QCOMPARE(CLiveStream::SaveBitmapFile(32, 4, 2, px, path), -1);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(CLiveStream::SaveBitmapFile(24, 4, 2, px, path), 0);
        QCOMPARE(QFileInfo(path).size(), qint64(4 * 2 * 3 + 54));
        QCOMPARE(CLiveStream::SaveBitmapFile(24, 4, 2, px, dir.filePath(QStringLiteral("no/dir/x.bmp"))), -1);
    }

    void queueIsBoundedAndResumesAtAKeyFrame()
    {
        // Frames arrive far faster than they can be decoded.
        const auto stream = encoded(400, 25, QSize(640, 360));
        CLiveStream s(0, 1, kAudio);
        size_t worstFrames = 0, worstBytes = 0;
        for (const auto &f : stream) {
            feed(s, f.data);
            feed(s, std::vector<uint8_t>(320, 0xD5), 1);
            worstFrames = std::max(worstFrames, s.queuedFrames());
            worstBytes = std::max(worstBytes, s.queuedBytes());
        }
        QVERIFY(s.droppedFrames() > 0);
        // Video frames are held to 2 s worth; audio of that time rides along.
        QVERIFY2(worstFrames <= size_t(2 * CLiveStream::kMaxQueuedVideoFrames) + 1, qPrintable(QString::number(worstFrames)));
        QVERIFY(worstBytes <= CLiveStream::kMaxQueuedBytes);
        QTRY_COMPARE_WITH_TIMEOUT(s.queuedFrames(), size_t(0), 60000);
        // Every picture shown was decoded from whole references: the last
        // one is clean.
        QVERIFY(s.decodedPictures() < 400);
        QVERIFY(s.decodedPictures() >= 50);
        QTemporaryDir dir;
        QCOMPARE(s.CapturePicture(dir.path(), QStringLiteral("cam"), 1), 0);
        const QImage img(s.lastSnapshotFile());
        double best = 0;
        for (int i = 399; i >= 0 && best < 30; --i)
            best = std::max(best, test::psnr(img, test::referenceRgb(test::testPicture(640, 360, i))));
        QVERIFY2(best > 30, qPrintable(QString::number(best)));
    }

    void displayFailureIsReportedOnce()
    {
        auto *w = new live::VideoSurface;
        QVERIFY(livetest::shown(*w, QSize(64, 48), true));
        const auto stream = encoded(20);
        FailRecord rec;
        CLiveStream s(w->nativeHandle(), 1, kAudio);
        s.SetFailCallback(onFail, &rec);
        feed(s, stream[0].data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(1));
        QCOMPARE(rec.calls.load(), 0);
        delete w;
        for (size_t i = 1; i < stream.size(); ++i)
            feed(s, stream[i].data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(20));
        QCOMPARE(rec.calls.load(), 1);
        QCOMPARE(rec.code.load(), -1539);
        QCOMPARE(rec.who, &s);
        // An unknown window fails at the first picture.
        FailRecord rec2;
        CLiveStream t(77777777, 1, kAudio);
        t.SetFailCallback(onFail, &rec2);
        feed(t, stream[0].data);
        QTRY_COMPARE(rec2.calls.load(), 1);
    }

    void framesCarryTheirArrivalTimeToThePaint()
    {
        // Every picture painted carries the time its frame was handed over
        // (the stamp belongs to the decode thread: another thread's does not
        // leak in); the pictures are painted in the order their frames
        // arrived; repaints of a picture are no new pictures.
        std::thread([] { av::setPresentStamp(123); }).join();
        QCOMPARE(av::presentStamp(), int64_t(0));
        std::vector<std::pair<int64_t, int64_t>> seen;
        live::VideoSurface::setPaintProbe([&](const live::VideoSurface *, int64_t arrival, int64_t paint) {
            seen.emplace_back(arrival, paint);
        });
        struct Reset
        {
            ~Reset() { live::VideoSurface::setPaintProbe(nullptr); }
        } reset;
        live::VideoSurface w;
        QVERIFY(livetest::shown(w, QSize(160, 90)));
        const auto stream = encoded(6, 3);
        CLiveStream s(w.nativeHandle(), 1, kAudio);
        const int64_t before = av::steadyMicros();
        std::vector<int64_t> fedAt;
        for (const auto &f : stream) {
            feed(s, f.data);
            fedAt.push_back(av::steadyMicros());
            // One picture at a time, so that none is coalesced away.
            QTRY_COMPARE(w.newPicturesPainted(), uint64_t(fedAt.size()));
        }
        QCOMPARE(seen.size(), stream.size());
        int64_t previous = before;
        for (size_t i = 0; i < seen.size(); ++i) {
            QVERIFY(seen[i].first >= previous);
            QVERIFY(seen[i].first <= fedAt[i]);
            QVERIFY(seen[i].second >= seen[i].first);
            previous = seen[i].first;
        }
        const int paints = w.paintedPictures();
        w.repaint();
        QVERIFY(w.paintedPictures() > paints);
        QCOMPARE(w.newPicturesPainted(), uint64_t(stream.size()));
        QCOMPARE(seen.size(), stream.size());
    }

    void stalledStreamKeepsThePictureAtTheWindowsSize()
    {
        live::VideoSurface w;
        QVERIFY(livetest::shown(w, QSize(100, 80), true));
        const auto stream = encoded(2);
        CLiveStream s(w.nativeHandle(), 1, kAudio);
        for (const auto &f : stream)
            feed(s, f.data);
        QTRY_COMPARE(s.decodedPictures(), uint64_t(2));
        w.resize(50, 40);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(w.currentImage().size(), QSize(100, 80) * w.devicePixelRatioF()); // not stalled: waits
        s.SetStalled(true);
        QTRY_COMPARE(w.currentImage().size(), QSize(50, 40) * w.devicePixelRatioF());
    }

    void soundFollowsTheFlagsAndBadAudioOnlyMutes()
    {
        auto sink = std::make_shared<RecordingSink>();
        av::setAudioSinkOverride(sink);
        CLiveStream s(0, 1, kAudio);
        // Blocks that must stay silent are positive, the ones that play
        // negative. A picture fed after a block is decoded after it: the
        // flags change only once the block before has been dealt with.
        const std::vector<uint8_t> silent(320, 0xD5), alaw(320, 0x55);
        const auto pictures = encoded(3);
        auto settle = [&](uint64_t n) {
            feed(s, pictures[n - 1].data);
            return QTest::qWaitFor([&] { return s.decodedPictures() == n; }, 5000);
        };
        feed(s, silent, 1); // sound starts off
        QVERIFY(settle(1));
        s.SetSoundOn(true);
        feed(s, alaw, 1);
        QVERIFY(settle(2));
        s.SetPaused(true);
        feed(s, silent, 1);
        QVERIFY(settle(3));
        s.SetPaused(false);
        feed(s, alaw, 1);
        QTRY_VERIFY(sink->count() >= 640);
        QCOMPARE(sink->count(), size_t(640));
        QCOMPARE(sink->positives(), size_t(0));

        // Audio that cannot be decoded: sound off, pictures go on.
        const int bad[4] = {999, 1, 16, 8000};
        CLiveStream t(0, 1, bad);
        t.SetSoundOn(true);
        const auto stream = encoded(4);
        feed(t, alaw, 1);
        for (const auto &f : stream) {
            feed(t, f.data);
            feed(t, alaw, 1);
        }
        QTRY_COMPARE(t.decodedPictures(), uint64_t(4));
    }

    void queueFullInsideAPictureShowsNoPartOfIt_data()
    {
        QTest::addColumn<bool>("keyStartLost");
        QTest::newRow("resumes at the key picture") << false;
        // Its units up to the first slice were dropped too: the second
        // slice alone is no place to start.
        QTest::newRow("key picture's start lost") << true;
    }

    void queueFullInsideAPictureShowsNoPartOfIt()
    {
        // H.265 in two slices, one NAL unit per call as the P2P library hands
        // them over (the first key picture's lower slice comes in a call of
        // its own: shown whole): delimiter, 2 slices and SEI per picture, a
        // key picture every 50. The decode thread is held at the first picture; the
        // queue takes 50 units, the 51st (dropped) is picture 13's second slice.
        QFETCH(bool, keyStartLost);
        camsim::VideoLoop loop;
        QVERIFY(loop.encode({.width = 160, .height = 120, .kbps = 150, .h265 = true}, 7));
        auto feedNals = [&](size_t frame, size_t from = 0, size_t to = SIZE_MAX) {
            const auto nals = test::splitNals(loop.frames()[frame % 100].data);
            for (size_t k = from; k < std::min(to, nals.size()); ++k)
                feed(*m_live, nals[k]);
        };
        const auto fullBefore = test::logText().count("frame queue is full");
        m_probe = std::make_shared<PictureProbe>();
        m_probe->setHold(true);
        const int32_t window = av::registerVideoSink(m_probe);
        m_live = std::make_unique<CLiveStream>(window, AV_VIDEO_H265, kAudio);
        feedNals(0);
        QTRY_COMPARE(m_probe->pictures().size(), size_t(1)); // held there
        for (size_t f = 1; f <= 12; ++f)
            feedNals(f);
        QCOMPARE(m_live->queuedFrames(), size_t(48));
        feedNals(13, 0, 3);
        QCOMPARE(m_live->droppedFrames(), uint64_t(1));
        for (size_t f = 14; f < 50; ++f)
            feedNals(f);
        // The key picture's units up to its first slice, dropped as well.
        const size_t firstSlice = test::splitNals(loop.frames()[50].data).size() - 3;
        if (keyStartLost)
            feedNals(50, 0, firstSlice + 1);
        m_probe->setHold(false);
        for (size_t f = 50; f < 110; ++f) {
            // No faster than the decoder takes them. Without its start the
            // key picture is no place to begin: the next one (100) is.
            QVERIFY(QTest::qWaitFor([&] { return m_live->queuedFrames() < 40; }, 10000));
            feedNals(f, f == 50 && keyStartLost ? firstSlice + 1 : 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_probe->pictures().size() >= 13 + 9, 10000);
        // The first key picture, the 12 whole pictures after it, then the
        // key picture the stream starts again at.
        const auto shown = m_probe->pictures();
        for (size_t i = 0; i < 14; ++i)
            QCOMPARE(shown[i], std::make_pair(i == 0 || i == 13, false));
        QCOMPARE(test::logText().count("frame queue is full"), fullBefore + 1);
        m_live.reset();
        av::unregisterVideoSink(window);
    }

    void destructionWithAFullQueueIsPrompt()
    {
        const auto stream = encoded(60, 25, QSize(640, 360));
        // Three streams built, filled and destroyed on a thread of their own:
        // destruction drops the queue rather than decoding it to the end.
        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int k = 0; k < 3; ++k) {
                CLiveStream s(0, 1, kAudio);
                for (const auto &f : stream)
                    feed(s, f.data);
            }
            done = true;
        });
        const bool prompt = QTest::qWaitFor([&] { return done.load(); }, 20000);
        worker.join();
        QVERIFY(prompt);
    }

private:
    std::unique_ptr<CLiveStream> m_live;
    std::shared_ptr<PictureProbe> m_probe;
};

QTEST_MAIN(TestCLiveStream)
#include "tst_clivestream.moc"
