// The stream watch of the live view: keys and the state machine, driven by a
// clock the test sets; and the stream a live window shows by its size: the
// sub stream below about 60 % of the main picture in either direction, the
// main stream above, the current one kept in between; one stream only (or a
// "sub" stream that is not smaller) always gives the main stream.

#include "live/livemonitor.h"
#include "live/streamchoice.h"

#include <QtTest>

#include <cstring>

using namespace varno::live;

namespace {

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
struct Watched
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

class TestLiveMonitor : public QObject
{
    Q_OBJECT

private slots:
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
        Watched w;
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

    void firstKeyFrameStartsPlaying()
    {
        ManualClock clock;
        Watched w;
        w.pass(clock, 0);
        clock.advance(9000);
        MonitorStep s = w.pass(clock, 3);
        QVERIFY(s.has(MonitorStep::PaintOff));
        QVERIFY(s.has(MonitorStep::StallClear));
        QCOMPARE(w.state, int(kStatePlaying));
        // Already counting at the first pass: straight to playing.
        Watched quick;
        s = quick.pass(clock, 7);
        QVERIFY(s.has(MonitorStep::PaintOff));
        QCOMPARE(quick.state, int(kStatePlaying));
    }

    void stallOnlyReopensWhenWanted()
    {
        ManualClock clock;
        Watched w;
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
        Watched w;
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
        QTest::newRow("just below 55 %") << QSize(1055, 593) << fullHd << sub << 0 << 1;
        QTest::newRow("at 55 %") << QSize(1056, 594) << fullHd << sub << 0 << 0;
        QTest::newRow("just below 65 %") << QSize(1247, 701) << fullHd << sub << 1 << 1;
        QTest::newRow("at 65 %") << QSize(1248, 702) << fullHd << sub << 1 << 0;
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
};

QTEST_GUILESS_MAIN(TestLiveMonitor)
#include "tst_livemonitor.moc"
