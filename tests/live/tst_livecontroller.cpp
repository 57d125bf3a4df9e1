// The stream controller without widgets: opening never holds the caller,
// and a second start, a pause of every window, a close or the controller's
// end while an open runs are safe. An ONVIF camera in this process answers
// its SOAP requests late; its RTSP server sends real H.264.
#include "live/livecontroller.h"

#include "live/clivestream.h"

#include "common/textfield.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/rtsp/rtsp_client.h"
#include "tests/live/liveonvifcamera.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <mutex>
#include <thread>

using namespace varno::test;
using varno::live::LiveController;

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

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The result streamStarted gives for key (INT_MIN: none within 20 s).
int resultOf(QSignalSpy &started, const QString &key)
{
    for (int seen = 0;;) {
        for (; seen < started.size(); ++seen)
            if (started.at(seen).at(0).toString() == key)
                return started.at(seen).at(1).toInt();
        if (!started.wait(20000))
            return INT_MIN;
    }
}

int stateOf(const LiveController &ctl, const QString &key)
{
    LiveStreamInfo rec{};
    return ctl.streamInfo(key, &rec) ? rec.state : -1;
}

int countOf(const QSignalSpy &started, const QString &key)
{
    int n = 0;
    for (const QList<QVariant> &args : started)
        n += args.at(0).toString() == key ? 1 : 0;
    return n;
}

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
        QVERIFY(logText().contains("Device(" + m_key.toUtf8() + ") is being opened!!!"));

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
        QVERIFY(logText().contains("Get device(dead-camera-0) stream url failed"));
        // Each ONVIF window had its decoder; none of them was deleted (its
        // decode thread joined) on the caller's thread.
        QCOMPARE(decoders.made(), 16);
        QTRY_COMPARE(decoders.deleted(), 16);
        QCOMPARE(decoders.deletedOn(std::this_thread::get_id()), 0);
    }

private:
    Camera m_cam;
    QString m_key;
};

QTEST_GUILESS_MAIN(TestLiveController)
#include "tst_livecontroller.moc"
