// The stream controller without widgets: opening never holds the caller,
// and a second start, a pause of every window, a close or the controller's
// end while an open runs are safe. An ONVIF camera in this process answers
// its SOAP requests late; its RTSP server sends real H.264. The stream watch
// beside it: keys and the state machine, driven by a clock the test sets; and
// the stream a live window shows by its size: the sub stream below about 60 %
// of the main picture in either direction, the main stream above, the current
// one kept in between; one stream only (or a "sub" stream that is not
// smaller) always gives the main stream.
#include "live/livecontroller.h"

#include "live/clivestream.h"
#include "live/livemonitor.h"
#include "live/streamchoice.h"

#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/rtsp/rtsp_client.h"
#include "tests/live/livefixture.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

using namespace varno::test;
using namespace livetest;
using namespace varno::live;

namespace {

// Long enough that a start returns well before the camera answers.
constexpr int kSlowReplyMs = 2000;

using Camera = LiveOnvifCamera<160, 96, 64, 48>;

// A grid that records what the controller asked of it. Handle 0: the
// decoders decode without a display.
class FakeWindows final : public varno::live::LiveWindows
{
public:
    int takeWindow(const QString &key, const QString &, int *index) override
    {
        if (taken.size() >= 25)
            return -1;
        *index = int(taken.size());
        taken << key;
        return 0;
    }
    void showConnecting(const QString &key, int, int32_t) override { connecting << key; }
    void selectWindow(int32_t) override { ++selected; }
    void freeWindow(const QString &key) override { freed << key; }
    void setWaitingLook(int32_t, bool) override {}
    void feedRecorder(const QString &, const char *, int, int, uint64_t) override {}

    QStringList taken;
    QStringList connecting;
    QStringList freed;
    int selected = 0;
};

// Decoders that note the thread they are deleted on.
class DecoderWatch
{
public:
    varno::live::LiveController::DecoderFactory factory()
    {
        return [this](int32_t winHandle, int decoderType, const int audio[4]) -> CLiveStream * {
            std::lock_guard lock(m_mutex);
            ++m_made;
            return new Watched(winHandle, decoderType, audio, this);
        };
    }
    int made() const
    {
        std::lock_guard lock(m_mutex);
        return m_made;
    }
    int deleted() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_deletedOn.size());
    }
    int deletedOn(std::thread::id thread) const
    {
        std::lock_guard lock(m_mutex);
        return int(std::count(m_deletedOn.cbegin(), m_deletedOn.cend(), thread));
    }

private:
    class Watched final : public CLiveStream
    {
    public:
        Watched(int32_t winHandle, int decoderType, const int audio[4], DecoderWatch *watch)
            : CLiveStream(winHandle, decoderType, audio), m_watch(watch)
        {
        }
        ~Watched() override
        {
            std::lock_guard lock(m_watch->m_mutex);
            m_watch->m_deletedOn.push_back(std::this_thread::get_id());
        }

    private:
        DecoderWatch *m_watch;
    };

    mutable std::mutex m_mutex;
    int m_made = 0;
    std::vector<std::thread::id> m_deletedOn;
};

int countOf(const QSignalSpy &started, const QString &key)
{
    int n = 0;
    for (const QList<QVariant> &args : started)
        n += args.at(0).toString() == key ? 1 : 0;
    return n;
}


class ManualClock final : public MonitorClock
{
public:
    uint32_t nowMs() const override { return m_now; }
    void advance(uint32_t ms) { m_now += ms; }
    void set(uint32_t ms) { m_now = ms; }

private:
    uint32_t m_now = 0;
};

// One stream as the monitor keeps it, stepped pass by pass.
struct WatchedStream
{
    int32_t state = kStateOpened;
    uint32_t startTick = 0;
    int last = 0;
    bool winUsed = true;
    bool reconnectAllowed = true;
    bool reopen = false;
    int reopenAsked = 0;

    MonitorStep pass(const MonitorClock &clock, int current)
    {
        MonitorInput in;
        in.state = state;
        in.current = current;
        in.last = last;
        in.now = clock.nowMs();
        in.startTick = startTick;
        in.winUsed = winUsed;
        in.reconnectAllowed = reconnectAllowed;
        in.reopenWanted = [this] { ++reopenAsked; return reopen; };
        const MonitorStep s = monitorStep(in);
        if (s.has(MonitorStep::RestartWait))
            startTick = in.now;
        if (s.has(MonitorStep::TakeCurrent))
            last = current;
        state = s.state;
        return s;
    }
};

} // namespace

class TestLiveController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Requests wait long for the camera's late answers: on a loaded machine a
        // 2 s answer can take more than 5 s, and a time-out would end the open the
        // cases follow (closeWhileOpeningEndsTheLateStream waits for its end).
        QVERIFY(writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 20000")}));
        QVERIFY(m_cam.start("6a1c0de2-3b4f-4a5e-9c8d-0000000000c1", 0));
        QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(m_cam.cam->serviceAddr().c_str(), "admin"), 0);
        QCOMPARE(RTSP_Stream_SDKInit(), 0);
        m_key = QString::fromStdString(m_cam.uuid);
    }

    void cleanupTestCase()
    {
        m_cam.stop();
    }

    void init()
    {
        m_cam.cam->setReplyDelayMs(kSlowReplyMs);
    }

    void startReturnsAtOnceAndThePictureFollows()
    {
        FakeWindows win;
        LiveController ctl(&win);
        QSignalSpy started(&ctl, &LiveController::streamStarted);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        // The window shows the camera and waits; the camera has not answered.
        QCOMPARE(win.connecting, QStringList{m_key});
        QVERIFY(ctl.isOpening(m_key));
        QCOMPARE(started.size(), 0);
        QVERIFY(ctl.streamKeys().contains(m_key));

        QCOMPARE(resultOf(started, m_key), 0);
        QVERIFY(!ctl.isOpening(m_key));
        QTRY_VERIFY_WITH_TIMEOUT(ctl.streamStats(m_key).decodedPictures > 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(ctl, m_key), int(varno::live::kStatePlaying), 10000);
        LiveWinInfo w{};
        QVERIFY(ctl.windowInfo(m_key, &w));
        QVERIFY(w.rtspHandle > 0);
        QVERIFY(win.freed.isEmpty());
    }

    void secondStartWhileOpeningOnlySelects()
    {
        FakeWindows win;
        LiveController ctl(&win);
        QSignalSpy started(&ctl, &LiveController::streamStarted);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        // Without selecting: a switch cannot begin while the open runs.
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), false), 0);
        QCOMPARE(win.taken.size(), 1);
        QCOMPARE(win.selected, 1);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Device(" + m_key.toUtf8() + ") is being opened!!!"), 5000);

        QCOMPARE(resultOf(started, m_key), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ctl.streamStats(m_key).decodedPictures > 0, 10000);
        // One open, reported once.
        QCOMPARE(countOf(started, m_key), 1);
        QCOMPARE(ctl.streamKeys(), QStringList{m_key});

        // Shown already and not opening: a start selects it and says so.
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        QCOMPARE(win.selected, 2);
        QTRY_COMPARE(countOf(started, m_key), 2);
        QCOMPARE(started.last().at(1).toInt(), 0);
    }

    // The main window leaves the live page (every window paused) while an open
    // runs: the stream comes up paused, and plays once the page is back.
    void pauseWhileOpeningReachesTheNewStream()
    {
        FakeWindows win;
        LiveController ctl(&win);
        QSignalSpy started(&ctl, &LiveController::streamStarted);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        ctl.setPaused(true);
        QCOMPARE(resultOf(started, m_key), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ctl.streamStats(m_key).decodedPictures > 0, 10000);
        QVERIFY(ctl.streamStats(m_key).paused);
        ctl.setPaused(false);
        QVERIFY(!ctl.streamStats(m_key).paused);
    }

    // Closed while the camera has not answered yet: the open goes on, finds its
    // window gone, closes the RTSP session it made and reports nothing.
    void closeWhileOpeningEndsTheLateStream()
    {
        FakeWindows win;
        LiveController ctl(&win);
        const int base = threadCount();
        QSignalSpy started(&ctl, &LiveController::streamStarted);
        const QByteArray late = "Device(" + m_key.toUtf8() + ") has no stream to switch!!!";
        const qsizetype before = logText().count(late);
        const QByteArray asking = "streaminfo.channel(0)!!!";
        const qsizetype asked = logText().count(asking);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        // The opener asks the camera (which answers late) for the address.
        QTRY_VERIFY_WITH_TIMEOUT(logText().count(asking) > asked, 5000);
        QVERIFY(ctl.isOpening(m_key));
        ctl.closeStream(m_key);
        QVERIFY(ctl.streamKeys().isEmpty());
        QVERIFY(!ctl.windowInfo(m_key, nullptr));

        QTRY_VERIFY_WITH_TIMEOUT(logText().count(late) > before, 40000);
        // The late stream's reader thread is gone again, and nothing was
        // reported or given back a second time.
        QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= base, 5000);
        QCOMPARE(started.size(), 0);
        QVERIFY(win.freed.isEmpty());
        QVERIFY(ctl.streamKeys().isEmpty());

        // The camera opens again normally afterwards.
        m_cam.cam->setReplyDelayMs(0);
        QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
        QCOMPARE(resultOf(started, m_key), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ctl.streamStats(m_key).decodedPictures > 0, 10000);
    }

    // The program ends while an open waits for the camera: the controller waits
    // for its opener, nothing runs on afterwards.
    void destroyedWhileOpening()
    {
        const int base = threadCount();
        FakeWindows win;
        {
            LiveController ctl(&win);
            QSignalSpy started(&ctl, &LiveController::streamStarted);
            QCOMPARE(ctl.StartStream(m_cam.device(), m_cam.access(), true), 0);
            QVERIFY(ctl.isOpening(m_key));
        }
        QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= base, 5000);
        // No queued report reaches anything after the end.
        QCoreApplication::processEvents();
        QVERIFY(win.freed.isEmpty());
    }

    // Sixteen cameras that cannot be reached, started one after the other as
    // "Connect all" does: every window shows at once, every open fails on its
    // own and gives its window back; a P2P camera without the P2P library too.
    // The caller's thread never waits for a decode thread to end.
    void failedOpensGiveTheirWindowsBack()
    {
        FakeWindows win;
        DecoderWatch decoders;
        LiveController ctl(&win);
        ctl.setDecoderFactory(decoders.factory());
        QSignalSpy started(&ctl, &LiveController::streamStarted);
        const QByteArray deadService =
            "http://127.0.0.1:" + QByteArray::number(freeLoopbackPort()) + "/onvif/device_service";
        QStringList keys;
        for (int i = 0; i < 16; ++i) {
            DeviceInfo_s dev = m_cam.device();
            OnvifAccessInfo_s access = m_cam.access();
            const QByteArray id = "dead-camera-" + QByteArray::number(i);
            varno::setText(dev.devId, id);
            varno::setText(access.devId, id);
            varno::setText(dev.serviceAddr, deadService);
            varno::setText(access.serviceAddr, deadService);
            QCOMPARE(ctl.StartStream(dev, access, true), 0);
            keys << QString::fromLatin1(id);
        }
        DeviceInfo_s p2p{};
        varno::setText(p2p.devId, QByteArray("B900001"));
        varno::setText(p2p.p2pId, QByteArray("VRNB-900001-KXPQT"));
        p2p.p2pFlag = 1;
        QCOMPARE(ctl.StartStream(p2p, true), 0);
        keys << QStringLiteral("B900001");
        QCOMPARE(win.connecting, keys);

        for (const QString &key : keys)
            QVERIFY2(resultOf(started, key) < 0, qPrintable(key));
        QCOMPARE(started.size(), keys.size());
        QTRY_COMPARE(win.freed.size(), keys.size());
        QVERIFY(ctl.streamKeys().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Get device(dead-camera-0) stream url failed"), 5000);
        // Each ONVIF window had its decoder; none of them was deleted (its
        // decode thread joined) on the caller's thread.
        QCOMPARE(decoders.made(), 16);
        QTRY_COMPARE(decoders.deleted(), 16);
        QCOMPARE(decoders.deletedOn(std::this_thread::get_id()), 0);
    }

    void descrKeys_data()
    {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QString>("key");
        QTest::newRow("plain") << QByteArray("B100001") << QStringLiteral("B100001");
        QTest::newRow("urn:uuid") << QByteArray("urn:uuid:5a5a-01") << QStringLiteral("5a5a-01");
        QTest::newRow("urn only") << QByteArray("urn:abc") << QStringLiteral("abc");
        QTest::newRow("urn:uui is urn") << QByteArray("urn:uui:x") << QStringLiteral("uui:x");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void descrKeys()
    {
        QFETCH(QByteArray, id);
        QFETCH(QString, key);
        char descr[68] = {};
        std::memcpy(descr, id.constData(), static_cast<size_t>(id.size()));
        QCOMPARE(streamKeyFromDescr(descr), key);
        QCOMPARE(streamKeyFromDescr(nullptr), QString());
    }

    void descrKeyNeverReadsPast64Bytes()
    {
        // 64 bytes without a terminator, then bytes that are not part of the ID.
        char descr[80];
        std::memset(descr, 'a', 64);
        std::memset(descr + 64, 'Z', 16);
        QCOMPARE(streamKeyFromDescr(descr), QString(64, QLatin1Char('a')));
        std::memcpy(descr, "urn:uuid:", 9);
        QCOMPARE(streamKeyFromDescr(descr), QString(55, QLatin1Char('a')));
    }

    void cameraIdKeys()
    {
        QCOMPARE(streamKeyFromCameraId(QStringLiteral("VRNB-100001-DEMOA")), QStringLiteral("B100001"));
        QCOMPARE(streamKeyFromCameraId(QStringLiteral("X-12")), QStringLiteral("X12"));
        // No character before the dash, or no dash: no key (never an index of -1).
        QCOMPARE(streamKeyFromCameraId(QStringLiteral("-100001")), QString());
        QCOMPARE(streamKeyFromCameraId(QStringLiteral("B100001")), QString());
        QCOMPARE(streamKeyFromCameraId(QString()), QString());
    }

    void firstFrameTimeoutAtTenSecondsNotBefore()
    {
        // Started just before the millisecond tick wraps past zero (the page's
        // own test checks the close with the real monitor).
        ManualClock clock;
        clock.set(0xFFFFFFFFu - 3000);
        WatchedStream w;
        MonitorStep s = w.pass(clock, 0);
        QVERIFY(s.has(MonitorStep::PaintOn));
        QCOMPARE(w.state, int(kStateWaiting));
        QCOMPARE(w.startTick, 0xFFFFFFFFu - 3000);
        clock.advance(kFirstFrameTimeoutMs - 1);
        QVERIFY(!w.pass(clock, 0).has(MonitorStep::CloseTimedOut));
        QCOMPARE(w.state, int(kStateWaiting));
        clock.advance(1);
        QVERIFY(w.pass(clock, 0).has(MonitorStep::CloseTimedOut));
        QCOMPARE(w.state, int(kStateTimedOut));

        // A closed stream stays closed, whatever arrives.
        clock.advance(60000);
        s = w.pass(clock, 5);
        QCOMPARE(s.actions, 0u);
        QCOMPARE(w.state, int(kStateTimedOut));
    }

    void stallOnlyReopensWhenWanted()
    {
        ManualClock clock;
        WatchedStream w;
        w.pass(clock, 1);
        QCOMPARE(w.state, int(kStatePlaying));
        // New frames: take the count, no stall.
        MonitorStep s = w.pass(clock, 4);
        QVERIFY(s.has(MonitorStep::TakeCurrent) && s.has(MonitorStep::StallClear));
        QCOMPARE(w.last, 4);
        QCOMPARE(w.reopenAsked, 0);
        // No new frame, no interruption notice: stall shown, stream kept.
        s = w.pass(clock, 4);
        QVERIFY(s.has(MonitorStep::StallSet));
        QVERIFY(!s.has(MonitorStep::CloseForReopen));
        QCOMPARE(w.state, int(kStatePlaying));
        QCOMPARE(w.reopenAsked, 1);
        // A window no longer used is never reopened and the peer is not asked.
        w.winUsed = false;
        w.reopen = true;
        s = w.pass(clock, 4);
        QVERIFY(!s.has(MonitorStep::CloseForReopen));
        QCOMPARE(w.reopenAsked, 1);
        // Interruption announced (notice 87 / broken RTSP): close and reopen.
        w.winUsed = true;
        clock.set(777);
        s = w.pass(clock, 4);
        QVERIFY(s.has(MonitorStep::StallSet) && s.has(MonitorStep::CloseForReopen));
        QCOMPARE(w.state, int(kStateReopening));
        QCOMPARE(w.startTick, 777u);
    }

    void reopeningWaitsForAnOnlineCamera()
    {
        ManualClock clock;
        WatchedStream w;
        w.state = kStateReopening;
        w.reconnectAllowed = false;
        QCOMPARE(w.pass(clock, 0).actions, 0u);
        w.reconnectAllowed = true;
        w.winUsed = false;
        QCOMPARE(w.pass(clock, 0).actions, 0u);
        w.winUsed = true;
        const MonitorStep s = w.pass(clock, 0);
        QVERIFY(s.has(MonitorStep::Reopen));
        // The state moves on only when StartStream succeeds (it resets to 0).
        QCOMPARE(w.state, int(kStateReopening));
    }

    // At once, then 1 s, 2 s, 4 s, 8 s and 10 s from then on between attempts,
    // right across the wrap of the tick count; an open keeps the wait, a
    // picture starts afresh.
    void reopenAttemptsBackOff()
    {
        ReopenBackoff b;
        uint32_t now = 0xFFFFF000u;
        QVERIFY(b.due(now));
        const uint32_t waits[] = {1000, 2000, 4000, 8000, 10000, 10000};
        for (uint32_t wait : waits) {
            b.tried(now);
            b.failed();
            QCOMPARE(b.delay(), wait);
            QVERIFY(!b.due(now + wait - 1));
            QVERIFY(b.due(now + wait));
            now += wait;
        }
        QCOMPARE(b.failures(), 6);
        b.tried(now);
        b.opened();
        QCOMPARE(b.failures(), 0);
        QCOMPARE(b.delay(), 10000u);
        QVERIFY(!b.due(now + 1));
        b.reset();
        QVERIFY(b.due(now + 1));
        b.tried(now);
        QCOMPARE(b.failed(), 1);
        QCOMPARE(b.delay(), kReopenFirstDelayMs);
    }

    void streamChoice_data()
    {
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QSize>("mainSize");
        QTest::addColumn<QSize>("subSize");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("expected");

        const QSize fullHd(1920, 1080), sub(640, 360);
        // A 4 x 4 wall on a 1920 x 1080 screen: 474 x 244 windows.
        QTest::newRow("wall of 16, main shown") << QSize(474, 244) << fullHd << sub << 0 << 1;
        QTest::newRow("wall of 16, sub shown") << QSize(474, 244) << fullHd << sub << 1 << 1;
        // Maximised on that screen.
        QTest::newRow("maximised, sub shown") << QSize(1912, 1000) << fullHd << sub << 1 << 0;
        // A wall of 4 on a 3840 x 2160 screen, and on a 1920 x 1080 one.
        QTest::newRow("wall of 4, large screen") << QSize(1900, 1040) << fullHd << sub << 1 << 0;
        QTest::newRow("wall of 4, 1080p screen") << QSize(950, 520) << fullHd << sub << 0 << 1;
        // Either direction decides: wide but low windows take the sub stream.
        QTest::newRow("wide and low") << QSize(1900, 500) << fullHd << sub << 0 << 1;
        QTest::newRow("narrow and high") << QSize(900, 1080) << fullHd << sub << 0 << 1;
        // The band between the thresholds keeps what is shown.
        QTest::newRow("band, main kept") << QSize(1152, 648) << fullHd << sub << 0 << 0;
        QTest::newRow("band, sub kept") << QSize(1152, 648) << fullHd << sub << 1 << 1;
        // One stream, or a second that is not smaller: the main stream.
        QTest::newRow("one stream, small window") << QSize(200, 100) << fullHd << QSize() << 1 << 0;
        QTest::newRow("second not smaller") << QSize(200, 100) << QSize(640, 360) << QSize(1280, 720) << 0 << 0;
        QTest::newRow("second as large") << QSize(200, 100) << sub << sub << 1 << 0;
        // Nothing known yet, or the window is not shown: no change.
        QTest::newRow("sizes unknown, sub") << QSize(1900, 1000) << QSize() << QSize() << 1 << 1;
        QTest::newRow("sizes unknown, main") << QSize(200, 100) << QSize() << sub << 0 << 0;
        QTest::newRow("hidden, main") << QSize() << fullHd << sub << 0 << 0;
        QTest::newRow("hidden, sub") << QSize(0, 0) << fullHd << sub << 1 << 1;
        // Anything but 1 counts as the main stream.
        QTest::newRow("odd current value") << QSize(1152, 648) << fullHd << sub << 7 << 0;
    }

    void streamChoice()
    {
        QFETCH(QSize, area);
        QFETCH(QSize, mainSize);
        QFETCH(QSize, subSize);
        QFETCH(int, current);
        QFETCH(int, expected);
        QCOMPARE(StreamChoice::pick(area, mainSize, subSize, current), expected);
    }

    // A resize drag from a small window to a large one and back, one pixel of
    // width (and the height of a 16:9 picture) at a time: exactly one switch
    // each way, at the two thresholds.
    void dragAcrossTheLineSwitchesOnceEachWay()
    {
        const QSize main(1280, 720), sub(640, 360);
        int shown = 1;
        QList<int> switchedAt;
        for (int step = 0; step <= 2 * 880; ++step) {
            const int w = step <= 880 ? 400 + step : 1280 - (step - 880);
            const int next = StreamChoice::pick(QSize(w, w * 9 / 16), main, sub, shown);
            if (next != shown)
                switchedAt << w;
            shown = next;
        }
        // Up at 65 % of 1280, down below 55 % of it (704).
        QCOMPARE(switchedAt, (QList<int>{832, 703}));
        QCOMPARE(shown, 1);
    }

private:
    Camera m_cam;
    QString m_key;
};

QTEST_GUILESS_MAIN(TestLiveController)
#include "tst_livecontroller.moc"
