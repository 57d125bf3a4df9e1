// The real-time recorder with a sink that notes every call and a clock the
// test drives: waiting for an SPS or a key frame, gap filling, splitting, silence, the alarm limit,
// audio conversion, the bounded queue, and a stop that joins a thread held
// in a write. The recording controller: starts and stops off its thread,
// cancelled starts, and closing while a job runs. The recording's reopen
// spacing.
#include "common/reopenbackoff.h"
#include "record/cstorage.h"
#include "record/recordingcontroller.h"
#include "tests/record/recorderfixture.h"
#include "tests/support/media/testmedia.h"
#include "tests/support/testenv.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace rectest;

namespace {

struct Rig
{
    std::shared_ptr<FakeSink> sink = std::make_shared<FakeSink>();
    Clock clock;
    Reports reports;
    std::atomic<bool> haveDisk{true};
    std::atomic<int> saveResult{0};
    std::atomic<int> fault{int(varno::record::FolderFault::None)}; // what the folder says after a failure
    std::unique_ptr<qmediarealrecord> rec;

    Rig()
    {
        RecorderEnv env;
        env.sink = sink;
        env.clock = clock.fn();
        env.savePath = [this](char out[256]) {
            std::strcpy(out, "/rec");
            return saveResult.load();
        };
        env.haveRecordDisk = [this] { return haveDisk.load(); };
        env.diagnose = [this](const std::string &, dev_t) { return varno::record::FolderFault(fault.load()); };
        rec = std::make_unique<qmediarealrecord>(env);
        rec->setCallback(reports.fn());
    }
    void start(const RECORD_INFO_S &i, RECORD_PARAM_SETS_S params = {}) { QCOMPARE(rec->startRecord(i, params), 0); }
};

RECORD_PARAM_SETS_S paramsOf(const std::vector<Unit> &firstPicture)
{
    RECORD_PARAM_SETS_S p{};
    for (const Unit &u : firstPicture) {
        const size_t n = u.data.size() - 4;
        if (u.type == MEDIA_FRAME_SPS && n <= sizeof p.sps) {
            p.spsLen = uint8_t(n);
            std::memcpy(p.sps, u.data.data() + 4, n);
        } else if (u.type == MEDIA_FRAME_PPS && n <= sizeof p.pps) {
            p.ppsLen = uint8_t(n);
            std::memcpy(p.pps, u.data.data() + 4, n);
        }
    }
    return p;
}

std::vector<Unit> without(const std::vector<Unit> &picture, std::initializer_list<int> types)
{
    std::vector<Unit> out;
    for (const Unit &u : picture)
        if (std::find(types.begin(), types.end(), u.type) == types.end())
            out.push_back(u);
    return out;
}

} // namespace

namespace {

// A recorder of the controller tests: its stop may be held, and it notes
// that it stopped and went away.
struct GateLog
{
    std::mutex mutex;
    std::condition_variable cv;
    bool factoryHeld = false, stopHeld = false; // hold the factory / stop() until opened
    bool inFactory = false, inStop = false;
    std::atomic<int> made{0}, stops{0}, gone{0};
    void open()
    {
        std::lock_guard lock(mutex);
        factoryHeld = stopHeld = false;
        cv.notify_all();
    }
    void pass(bool &held, bool &in)
    {
        std::unique_lock lock(mutex);
        in = true;
        cv.notify_all();
        cv.wait(lock, [&] { return !held; });
    }
    bool waitIn(bool &in)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return in; });
    }
};

class GateRecorder final : public LiveRecorder
{
public:
    explicit GateRecorder(std::shared_ptr<GateLog> log) : m_log(std::move(log)) {}
    ~GateRecorder() override { ++m_log->gone; }
    void pushFrame(int, const char *, int, uint64_t) override {}
    int setAlarmType(int) override { return 0; }
    void stop() override
    {
        m_log->pass(m_log->stopHeld, m_log->inStop);
        ++m_log->stops;
    }

private:
    std::shared_ptr<GateLog> m_log;
};

} // namespace

class TestQMediaRealRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(varno::test::haveEncoder(1)); }

    void pSlicesBeforeSpsWriteNothing()
    {
        Rig r;
        r.start(info("CAMP001"));
        const auto pics = pictures(30, 10);
        // Pictures 1 ... 9 are P pictures: nothing is created.
        for (int i = 1; i < 10; ++i)
            push(*r.rec, pics[size_t(i)], uint64_t(i) * 40);
        push(*r.rec, pics[10], 400); // SPS, PPS, IDR
        QVERIFY(r.sink->waitCount('w', 3));
        const auto ev = r.sink->events();
        QCOMPARE(std::pair(ev[0].kind, ev[1].type), std::pair('c', uint32_t(MEDIA_FRAME_SPS)));
        QVERIFY(r.reports.waitFor(qmediarealrecord::kFileCreated));
        r.rec->stop();
        QCOMPARE(FakeSink::count(r.sink->events(), 'x'), 1);
    }

    void keyFrameWithKnownParameterSetsStartsAFile()
    {
        Rig r;
        const auto pics = pictures(3);
        r.start(info("CAMP002"), paramsOf(pics[0]));
        push(*r.rec, without(pics[0], {MEDIA_FRAME_SPS, MEDIA_FRAME_PPS}), 0);
        QVERIFY(r.sink->waitCount('w', 2));
        const auto ev = r.sink->events();
        // The header block (SPS and PPS) goes in front of the key frame.
        QCOMPARE(ev[1].type, uint32_t(MEDIA_FRAME_IDR));
        QVERIFY(ev[1].data.startsWith(QByteArray("\0\0\0\1", 4)));
        QCOMPARE(ev[1].data.at(4) & 0x1f, 7);
        QVERIFY(ev[1].data.indexOf(QByteArray("\0\0\0\1", 4), 4) > 4);

        // Without parameter sets a lone key frame is dropped.
        Rig bare;
        bare.start(info("CAMP003"));
        push(*bare.rec, without(pics[0], {MEDIA_FRAME_SPS, MEDIA_FRAME_PPS}), 0);
        push(*bare.rec, pics[1], 40);
        push(*bare.rec, pics[0], 80); // now with its SPS
        QVERIFY(bare.sink->waitCount('w', 1));
        bare.rec->stop();
        QCOMPARE(bare.sink->events()[1].type, uint32_t(MEDIA_FRAME_SPS));
    }

    void lowFrameRateUsesTheMeasuredRate()
    {
        for (int fps : {0, 1, 2}) {
            Rig r;
            r.start(info("CAMP005", fps));
            const auto pics = pictures(12, 6, 10);
            // Five P pictures at 10 per second, then a key picture, then a gap
            // of three intervals.
            for (int i = 1; i < 6; ++i)
                push(*r.rec, pics[size_t(i)], uint64_t(i) * 100);
            push(*r.rec, pics[6], 600);
            push(*r.rec, pics[7], 700);
            push(*r.rec, pics[8], 1000);
            QVERIFY(r.sink->waitFor([](const auto &ev) { return FakeSink::fillers(ev) >= 2; }));
            r.rec->stop();
            QCOMPARE(std::pair(FakeSink::fillers(r.sink->events()), r.sink->lastInfo.frameRate), std::pair(2, 10));
        }
    }

    void splitsAfter1800Seconds()
    {
        Rig r;
        r.start(info("CAMP006"));
        const auto pics = pictures(30, 25);
        push(*r.rec, pics[0], 0);
        QVERIFY(r.sink->waitCount('w', 3)); // the file's start time is taken
        r.clock.ms += 1800 * 1000;
        push(*r.rec, pics[1], 40);
        QVERIFY(r.sink->waitCount('x', 1));
        QVERIFY(varno::test::logText().contains("over!!!"));
        // The next file starts at the next SPS.
        push(*r.rec, pics[2], 80);
        push(*r.rec, pics[25], 1000);
        QVERIFY(QTest::qWaitFor([&] { return r.reports.all().size() >= 2; }, 20000));
        r.rec->stop();
        QCOMPARE(r.reports.all(), (std::vector<int>{qmediarealrecord::kFileCreated, qmediarealrecord::kFileCreated}));
    }

    void silenceClosesWithoutFailure()
    {
        Rig r;
        r.start(info("CAMP007"));
        push(*r.rec, pictures(1)[0], 0);
        QVERIFY(r.sink->waitCount('w', 3));
        // A frame still queued may be taken after a clock step and count as the
        // last one: step again (a few times at most) until 10 s of silence end the file.
        bool closed = false;
        for (int step = 0; step < 5 && !closed; ++step) {
            r.clock.ms += 10000;
            closed = r.sink->waitFor([](const auto &ev) { return FakeSink::count(ev, 'x') >= 1; }, 4000);
        }
        QVERIFY(closed);
        QVERIFY(varno::test::logText().contains("No stream come, write("));
        r.rec->stop();
        // The recording lost its stream; nothing failed.
        QCOMPARE(r.reports.all(), (std::vector<int>{qmediarealrecord::kFileCreated, qmediarealrecord::kStreamLost}));
    }

    // An alarm recording ends on its limit, also when its camera is gone
    // and no file is open any more.
    void alarmRecordingLimit_data()
    {
        QTest::addColumn<bool>("cameraGone");
        QTest::newRow("file open") << false;
        QTest::newRow("camera gone") << true;
    }
    void alarmRecordingLimit()
    {
        QFETCH(bool, cameraGone);
        Rig r;
        RECORD_INFO_S i = info("CAMP008");
        i.alarmType = 2;
        r.start(i);
        push(*r.rec, pictures(1)[0], 0);
        QVERIFY(r.sink->waitCount('c', 1));
        QCOMPARE(r.sink->lastInfo.alarmType, uint16_t(2));
        if (cameraGone) {
            QVERIFY(QTest::qWaitFor([&] { return r.rec->idle(); }, 20000)); // every frame taken
            r.clock.ms += 10000;
            QVERIFY(r.sink->waitCount('x', 1));
            QVERIFY(r.reports.waitFor(qmediarealrecord::kStreamLost));
        }
        r.clock.ms += 6000 * 1000;
        QVERIFY(r.reports.waitFor(qmediarealrecord::kAlarmLimit));
        QVERIFY(r.sink->waitCount('x', 1));
    }

    void alarmTypeOfARunningRecording()
    {
        Rig r;
        r.start(info("CAMP009"));
        // Before a file exists the type waits for the first file.
        QCOMPARE(r.rec->setAlarmType(3), 0);
        push(*r.rec, pictures(1)[0], 0);
        QVERIFY(r.sink->waitCount('c', 1));
        QCOMPARE(r.sink->lastInfo.alarmType, uint16_t(3));
        QCOMPARE(r.rec->setAlarmType(1), 0);
        QVERIFY(r.sink->waitCount('a', 1));
        push(*r.rec, pictures(2)[1], 40);
        QVERIFY(r.sink->waitCount('w', 4));
        // The limit counts from the change: 7,999 s after the start but 2,000 s after
        // the change the file ends on the split or on silence, never on the limit.
        r.clock.ms += 5999 * 1000;
        QCOMPARE(r.rec->setAlarmType(2), 0);
        r.clock.ms += 2000 * 1000;
        QVERIFY(r.sink->waitCount('x', 1));
        r.rec->stop();
        std::vector<int> codes = r.reports.all(); // a lost stream may be reported too: no failure
        codes.erase(std::remove(codes.begin(), codes.end(), int(qmediarealrecord::kStreamLost)), codes.end());
        QCOMPARE(codes, std::vector<int>{qmediarealrecord::kFileCreated});
    }

    void lostStreamWaitsAndGoesOn_data()
    {
        QTest::addColumn<bool>("marker");    // the owner says the stream broke (else 3 s of silence)
        QTest::addColumn<int>("outageMs");
        QTest::addColumn<bool>("restartTs"); // the returned stream's time stamps start at 0 again
        QTest::newRow("silence, 5 s") << false << 5000 << false;
        QTest::newRow("broken, 5 s, stamps from 0") << true << 5000 << true;
        QTest::newRow("broken, 30 s, stamps from 0") << true << 30000 << true;
        QTest::newRow("silence, 30 s") << false << 30000 << false;
        QTest::newRow("restart within a second") << false << 0 << true;
    }

    void lostStreamWaitsAndGoesOn()
    {
        QFETCH(bool, marker);
        QFETCH(int, outageMs);
        QFETCH(bool, restartTs);
        Rig r;
        r.start(info("CAMP020", 25)); // interval 1000 / 23 = 43 ms
        const auto pics = pictures(31, 25); // key pictures 0 and 25
        for (int i = 0; i < 10; ++i)
            push(*r.rec, pics[size_t(i)], 100000 + uint64_t(i) * 40);
        QVERIFY(QTest::qWaitFor([&] { return r.rec->idle(); }, 20000));
        const size_t before = r.sink->events().size();
        if (outageMs > 0) {
            if (marker)
                r.rec->noteStreamLost();
            else
                r.clock.ms += qmediarealrecord::kStreamLostMs;
            QVERIFY(r.reports.waitFor(qmediarealrecord::kStreamLost));
            QVERIFY(r.rec->waitingForStream());
            r.clock.ms += uint64_t(outageMs) - (marker ? 0 : qmediarealrecord::kStreamLostMs);
        }
        if (outageMs > 10000) // the silence rule closes the file
            QVERIFY(r.sink->waitCount('x', 1));
        // The stream comes back between key pictures: its P pictures refer to
        // pictures the file never got and wait for the key picture 25.
        const uint64_t base = restartTs ? 0 : 100000 + 10 * 40;
        for (int i = 10; i < 31; ++i)
            push(*r.rec, pics[size_t(i)], base + uint64_t(i - 10) * 40);
        QVERIFY(QTest::qWaitFor([&] { return r.rec->idle(); }, 20000));
        QVERIFY(!r.rec->waitingForStream());
        r.rec->stop();
        const auto ev = r.sink->events();
        const std::vector<Event> after(ev.begin() + long(before), ev.end());
        std::vector<Event> written;
        for (const Event &e : after)
            if (e.kind == 'w' && !FakeSink::isFiller(e))
                written.push_back(e);
        QVERIFY(!written.empty());
        QCOMPARE(written.front().type, uint32_t(MEDIA_FRAME_SPS));
        if (outageMs > 10000) {
            QCOMPARE(FakeSink::count(ev, 'c'), 2);
            QCOMPARE(FakeSink::fillers(after), 0); // the gap lies between the files
        } else {
            // One file; the gap (the outage and the P pictures left out) lies in
            // its time stamps as filler frames, n - 1 for n intervals.
            QCOMPARE(FakeSink::count(ev, 'c'), 1);
            QCOMPARE(FakeSink::fillers(after), (outageMs + 15 * 40) / 43 - 1);
        }
        const std::vector<int> lostAndBack{qmediarealrecord::kStreamLost, qmediarealrecord::kStreamBack};
        std::vector<int> seen;
        for (int code : r.reports.all())
            if (code == qmediarealrecord::kStreamLost || code == qmediarealrecord::kStreamBack)
                seen.push_back(code);
        QCOMPARE(seen, outageMs > 0 ? lostAndBack : std::vector<int>{});
    }

    void failuresNameTheirCause_data()
    {
        QTest::addColumn<int>("saveResult");
        QTest::addColumn<int>("createResult");
        QTest::addColumn<int>("writeResult");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        using F = varno::record::FolderFault;
        QTest::newRow("no save path") << -1 << 0 << 0 << int(F::None) << int(qmediarealrecord::kNoSavePath);
        // A failure the folder does not explain: its own code, or "write failed".
        QTest::newRow("create fails") << 0 << -1283 << 0 << int(F::None) << -1283;
        QTest::newRow("write fails") << 0 << 0 << -1284 << int(F::None) << int(qmediarealrecord::kWriteFailed);
        QTest::newRow("cover freed nothing") << int(CStorage::kSavePathCoverFailed) << 0 << 0 << int(F::None)
                                             << int(qmediarealrecord::kCoverFailed);
        QTest::newRow("every disk gone") << int(CStorage::kSavePathDiskGone) << 0 << 0 << int(F::None)
                                         << int(qmediarealrecord::kNoDiskLeft);
        QTest::newRow("create: read-only") << 0 << -1283 << 0 << int(F::NotWritable)
                                           << int(qmediarealrecord::kNotWritable);
        QTest::newRow("create: disk gone") << 0 << -1283 << 0 << int(F::Gone) << int(qmediarealrecord::kNoDiskLeft);
        QTest::newRow("create: disk full") << 0 << -1283 << 0 << int(F::Full) << int(qmediarealrecord::kNoSavePath);
        QTest::newRow("write: read-only") << 0 << 0 << -1284 << int(F::NotWritable)
                                          << int(qmediarealrecord::kNotWritable);
        QTest::newRow("write: disk gone") << 0 << 0 << -1284 << int(F::Gone) << int(qmediarealrecord::kDiskGone);
    }

    void failuresNameTheirCause()
    {
        QFETCH(int, saveResult);
        QFETCH(int, createResult);
        QFETCH(int, writeResult);
        QFETCH(int, fault);
        QFETCH(int, code);
        Rig r;
        r.saveResult = saveResult;
        r.sink->createResult = createResult;
        r.sink->writeResult = writeResult;
        r.fault = fault;
        r.start(info("CAMP013"));
        push(*r.rec, pictures(1)[0], 0);
        QVERIFY(r.reports.waitFor(code));
        if (writeResult != 0) // the file that failed is closed
            QVERIFY(r.sink->waitCount('x', 1));
        r.rec->stop();
        if (saveResult != 0) // no place to record: no file
            QCOMPARE(FakeSink::count(r.sink->events(), 'c'), 0);
        if (saveResult == -1) {
            QVERIFY(varno::test::logText().contains("Disk is full!!!"));
            QVERIFY(varno::test::logText().contains("[RECORD]Stop CAMP013 record thread!!!"));
        }
        for (int c : r.reports.all())
            QVERIFY(c == code || c == qmediarealrecord::kFileCreated);
    }

    void fullDiskGoesOnInANewFile()
    {
        // Writes fail for lack of space: each key frame starts a new file (the
        // storage manager overwrites meanwhile); nothing is reported until
        // several files in a row held nothing.
        Rig r;
        r.sink->writeResult = -1284;
        r.fault = int(varno::record::FolderFault::Full);
        r.start(info("CAMP014"));
        const auto pics = pictures(30, 1); // every picture a key frame
        uint64_t ts = 0;
        for (int i = 0; i < qmediarealrecord::kMaxFullRetries; ++i) {
            push(*r.rec, pics[size_t(i)], ts += 40);
            QVERIFY(r.sink->waitCount('x', i + 1));
        }
        QCOMPARE(r.reports.all(), std::vector<int>(size_t(qmediarealrecord::kMaxFullRetries), qmediarealrecord::kFileCreated));
        // Space again: the next file is written on.
        r.sink->writeResult = 0;
        push(*r.rec, pics[10], ts += 40);
        push(*r.rec, pics[11], ts += 40);
        QVERIFY(r.sink->waitFor([](const auto &ev) { return FakeSink::count(ev, 'c') == 4 && FakeSink::count(ev, 'w') >= 6; }));
        // Full for good: after the retries recording stops as "disk full".
        r.sink->writeResult = -1284;
        for (int i = 0; i <= qmediarealrecord::kMaxFullRetries + 1; ++i)
            push(*r.rec, pics[size_t(12 + i)], ts += 40);
        QVERIFY(r.reports.waitFor(qmediarealrecord::kNoSavePath));
    }

    void audioIsExpandedWhole()
    {
        // 3,000-byte frames: far beyond half of a 1,024-byte buffer.
        std::vector<unsigned char> g711(3000);
        for (size_t i = 0; i < g711.size(); ++i)
            g711[i] = uint8_t(i * 7);
        for (int format : {int(MEDIA_AUDIO_G711A), int(MEDIA_AUDIO_G711U), int(MEDIA_AUDIO_AAC)}) {
            Rig r;
            r.start(info("CAMP013", 25, format));
            push(*r.rec, pictures(1)[0], 0);
            r.rec->pushFrame(MEDIA_FRAME_AUDIO, reinterpret_cast<const char *>(g711.data()), int(g711.size()), 10);
            push(*r.rec, pictures(2)[1], 40);
            QVERIFY(r.sink->waitFor([](const auto &ev) {
                return !ev.empty() && ev.back().kind == 'w' && ev.back().type == MEDIA_FRAME_SLICE;
            }));
            r.rec->stop();
            QByteArray audio;
            for (const Event &e : r.sink->events())
                if (e.kind == 'w' && e.type == MEDIA_FRAME_AUDIO)
                    audio += e.data;
            if (format == int(MEDIA_AUDIO_AAC)) {
                // AAC goes to the file's AAC track as it came, never "expanded" as if it were G.711.
                QCOMPARE(audio, QByteArray(reinterpret_cast<const char *>(g711.data()), int(g711.size())));
                continue;
            }
            QCOMPARE(audio.size(), 6000);
            const auto *pcm = reinterpret_cast<const int16_t *>(audio.constData());
            for (size_t i = 0; i < g711.size(); ++i) {
                const int16_t want = format == int(MEDIA_AUDIO_G711A) ? varno::test::alawToLinear(g711[i])
                                                                     : varno::test::mulawToLinear(g711[i]);
                QCOMPARE(pcm[i], want);
            }
        }
    }

    void queueIsBoundedWhileWaiting()
    {
        Rig r;
        r.haveDisk = false;
        r.start(info("CAMP014"));
        const std::vector<char> slice(64 * 1024, 1);
        std::vector<char> p = slice;
        p[0] = 0, p[1] = 0, p[2] = 0, p[3] = 1, p[4] = 0x41; // a P slice
        for (int i = 0; i < 400; ++i) {
            r.rec->pushFrame(MEDIA_FRAME_SLICE, p.data(), int(p.size()), uint64_t(i) * 40);
            QVERIFY(r.rec->queuedBytes() <= qmediarealrecord::kMaxQueueBytes);
        }
        QVERIFY(varno::test::logText().contains("Record queue of device(CAMP014) is full, dropped"));
        // Dropping lasts until the next key frame.
        QCOMPARE(r.rec->queuedBytes(), size_t(0));
        const auto pics = pictures(1);
        push(*r.rec, pics[0], 20000);
        QVERIFY(r.rec->queuedBytes() > 0);
        r.haveDisk = true;
        QVERIFY(r.sink->waitCount('w', 1));
        r.rec->stop();
        // The file's first block is the key frame's parameter set, not a dropped slice.
        const auto events = r.sink->events();
        const auto firstWrite = std::find_if(events.begin(), events.end(), [](const Event &e) { return e.kind == 'w'; });
        QVERIFY(firstWrite != events.end());
        QCOMPARE(firstWrite->type, uint32_t(MEDIA_FRAME_SPS));
    }

    void stopJoinsAThreadHeldInAWrite()
    {
        Rig r;
        r.start(info("CAMP015"));
        r.sink->holdWrites = true;
        push(*r.rec, pictures(1)[0], 0);
        QVERIFY(r.sink->waitHeld());
        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            r.rec->stop();
            stopped = true;
        });
        // stop() cannot return while the write is held: it joins the thread.
        QVERIFY(!stopped);
        r.sink->release();
        stopper.join();
        // Joined: the file is closed and the thread ended before stop() returned.
        QCOMPARE(FakeSink::count(r.sink->events(), 'x'), 1);
        QVERIFY(varno::test::logText().contains("[RECORD]Stop CAMP015 record thread!!!"));
        QCOMPARE(r.reports.all().size(), size_t(1)); // file created; nothing after the stop
    }

    void controllerStartsAndStopsOffItsThread_data()
    {
        QTest::addColumn<QString>("held"); // what is held when the controller closes
        QTest::newRow("close while starting") << "factory";
        QTest::newRow("close while stopping") << "stop";
        QTest::newRow("stop while starting, then close") << "cancel";
    }

    void controllerStartsAndStopsOffItsThread()
    {
        QFETCH(QString, held);
        auto log = std::make_shared<GateLog>();
        auto ctl = std::make_unique<varno::record::RecordingController>();
        ctl->setFactory([log](const DvrListInfo_s &, int) -> std::unique_ptr<LiveRecorder> {
            log->pass(log->factoryHeld, log->inFactory);
            ++log->made;
            return std::make_unique<GateRecorder>(log);
        });
        DvrListInfo_s dev{};
        ctl->setDevice(QStringLiteral("CAM"), dev);
        QSignalSpy started(ctl.get(), &varno::record::RecordingController::sendStarted);
        QSignalSpy stopped(ctl.get(), &varno::record::RecordingController::sendStopped);
        QVERIFY(!ctl->start(QStringLiteral("OTHER"), 0)); // unknown camera

        // A start and a stop return at once; their work runs on job threads,
        // which are joined when done.
        log->factoryHeld = held != QLatin1String("stop");
        log->stopHeld = held == QLatin1String("stop");
        QVERIFY(ctl->start(QStringLiteral("CAM"), 0));
        QVERIFY(!ctl->start(QStringLiteral("CAM"), 0)); // one at a time
        if (held == QLatin1String("stop")) {
            QTRY_COMPARE(ctl->jobCount(), 0); // the start's job is joined
            QCOMPARE(started.count(), 1);
            QCOMPARE(started[0][2].toBool(), true);
            QVERIFY(ctl->isRecording(QStringLiteral("CAM")));
            QVERIFY(ctl->stop(QStringLiteral("CAM")));
            QVERIFY(log->waitIn(log->inStop));
        } else {
            QVERIFY(log->waitIn(log->inFactory));
            QVERIFY(ctl->isStarting(QStringLiteral("CAM")));
            if (held == QLatin1String("cancel")) {
                QVERIFY(ctl->stop(QStringLiteral("CAM"))); // cancels the start
                QVERIFY(!ctl->isStarting(QStringLiteral("CAM")));
            }
        }
        QCOMPARE(ctl->jobCount(), 1);
        QVERIFY(!ctl->isRecording(QStringLiteral("CAM")));

        // Closing waits for the job, which must end: the gate opens once the
        // controller is closing. The recorder then made or stopping is stopped
        // and destroyed, and nothing reaches the controller afterwards (ASan).
        auto *raw = ctl.get();
        std::thread opener([raw, log] {
            const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!raw->closing() && std::chrono::steady_clock::now() < bound)
                std::this_thread::yield();
            log->open();
        });
        ctl.reset();
        opener.join();
        QCOMPARE(log->made.load(), 1);
        QCOMPARE(log->stops.load(), 1);
        QCOMPARE(log->gone.load(), 1);
        QCOMPARE(started.count(), held == QLatin1String("stop") ? 1 : 0); // a cancelled start says nothing
        QCOMPARE(stopped.count(), 0);
    }

    // After a break the recording's stream is tried every 250 ms for 30 s, then
    // the spacing doubles up to the live view's longest; a picture starts afresh.
    void recordingReopensSteadilyThenSpacesOut()
    {
        varno::ReopenBackoff b = varno::ReopenBackoff::forRecording();
        uint32_t now = 0xFFFF0000u; // across the wrap of the tick
        QVERIFY(b.due(now));
        const uint32_t start = now;
        while (uint32_t(now - start) < varno::kRecordReopenSteadyMs) {
            b.tried(now);
            b.failed();
            QCOMPARE(b.delay(), varno::kRecordReopenDelayMs);
            QVERIFY(!b.due(now + varno::kRecordReopenDelayMs - 1));
            now += varno::kRecordReopenDelayMs;
        }
        for (uint32_t wait : {500u, 1000u, 2000u, 4000u, 8000u, 10000u, 10000u}) {
            b.tried(now);
            b.failed();
            QCOMPARE(b.delay(), wait);
            now += wait;
        }
        b.reset();
        QVERIFY(b.due(now));
        b.tried(now);
        b.failed();
        QCOMPARE(b.delay(), varno::kRecordReopenDelayMs);
    }
};

QTEST_GUILESS_MAIN(TestQMediaRealRecord)
#include "tst_qmediarealrecord.moc"
