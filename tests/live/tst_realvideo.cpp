// The live view controller against real cameras on loopback: P2P cameras of
// the simulator program on a private broker, ONVIF cameras (SOAP services and
// an RTSP server) in this process, real decoding into the windows' surfaces.
// The monitor's first-picture time-out runs on a clock the test drives.
#include "live/realvideo.h"

#include "common/logfile.h"
#include "common/p2precords.h"
#include "common/ui/promptscript.h"
#include "live/videosurface.h"
#include "live/clivestream.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qtipwidget.h"
#include "live/qvideoonly.h"
#include "live/qvideoplay.h"
#include "live/liverecorder.h"
#include "platform/onvif/onvif_event_sdk.h"
#include "platform/rtsp/rtsp_client.h"
#include "tests/device/devicefixture.h"
#include "tests/live/livefixture.h"
#include "tests/support/onviftestconf.h"
#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace varno::test;
using namespace livetest;
using varno::ui::PromptKind;
using varno::ui::PromptScript;

namespace {

constexpr int kP2pCameras = 18;
// Pictures of the simulated cameras: small, so that many streams stay cheap.
constexpr int kHdW = 128, kHdH = 72, kSdW = 64, kSdH = 48;
constexpr int kOnvifW = 160, kOnvifH = 96;
const char *const kLongGopDevice = "B100099";
const char *const kLongGopCamera = "VRNB-100099-KXPQT";

QByteArray p2pDeviceId(int n)
{
    return "B1000" + QByteArray::number(n).rightJustified(2, '0');
}

QByteArray p2pCameraId(int n)
{
    return "VRNB-1000" + QByteArray::number(n).rightJustified(2, '0') + "-KXPQT";
}

QString keyOf(int n)
{
    return QString::fromLatin1(p2pDeviceId(n));
}

QByteArray camerasConfig(quint16 brokerPort)
{
    auto camera = [](const QByteArray &device, const QByteArray &p2pId, const QString &name, int loopSeconds) {
        return simP2pCamera(QString::fromLatin1(device), QString::fromLatin1(p2pId), name, QStringLiteral("abc123"),
                            QSize(kHdW, kHdH), QSize(kSdW, kSdH), 25, 150, 60, loopSeconds);
    };
    QStringList cams;
    for (int n = 1; n <= kP2pCameras; ++n)
        cams << camera(p2pDeviceId(n), p2pCameraId(n), QStringLiteral("Cam %1").arg(n), 2);
    // One camera with a key frame only every 30 s.
    cams << camera(kLongGopDevice, kLongGopCamera, QStringLiteral("Long GOP"), 30)
                .replace(QStringLiteral("\"loopSeconds\""), QStringLiteral("\"keySeconds\": 30, \"loopSeconds\""));
    return simConfig(brokerPort, tempRoot() + QStringLiteral("/camera-storage"), cams);
}

DeviceInfo_s p2pCamera(int n, const QByteArray &password = "abc123", int streamType = 0)
{
    DeviceInfo_s d = devicetest::listed(p2pDeviceId(n), "Cam " + QByteArray::number(n), password, p2pCameraId(n)).dev;
    d.streamType = streamType;
    return d;
}

// The monitor's clock: ticks the test sets, or the steady clock's. Counts
// the monitor's reads, so that a test can wait for its passes.
class ManualClock final : public varno::live::MonitorClock
{
public:
    explicit ManualClock(bool steady = false) : m_steady(steady) {}
    uint32_t nowMs() const override
    {
        ++m_reads;
        return m_steady ? m_real.nowMs() : m_now.load();
    }
    void set(uint32_t ms) { m_now = ms; }
    // Waits for n more monitor passes of one stream (each reads twice).
    bool passes(int n) const
    {
        const int until = m_reads.load() + 2 * n + 2;
        return QTest::qWaitFor([&] { return m_reads.load() >= until; }, 10000);
    }
    // One try of "value() stands still over n passes" (for QTRY_VERIFY):
    // compares with the reading of the try before, kept in `last`.
    template <typename T, typename Fn>
    bool settled(int n, T &last, Fn value) const
    {
        const T now = value();
        const bool same = now == last;
        last = now;
        return passes(n) && same;
    }

private:
    const bool m_steady;
    const varno::live::SteadyMonitorClock m_real;
    std::atomic<uint32_t> m_now{1000};
    mutable std::atomic<int> m_reads{0};
};

using OnvifCam = varno::test::LiveOnvifCamera<kOnvifW, kOnvifH, kSdW, kSdH>;

// Camera messages of the P2P library go to the page under test, queued,
// as the main window relays them.
devicetest::MessageRelay &hub()
{
    static devicetest::MessageRelay relay{P2P_MSG_STREAM_BREAK, P2P_MSG_STREAM_PASSWORD};
    return relay;
}

int usedWindows(const realvideo &page)
{
    int n = 0;
    for (int i = 0; i < QVideoOnly::kWinCount; ++i)
        n += page.videoOnly()->winState(i).used ? 1 : 0;
    return n;
}

// A picture with something in it: not one flat colour.
bool hasContent(const QImage &image)
{
    if (image.isNull())
        return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (qAbs(qGray(image.pixel(x, y)) - qGray(first)) > 24)
                return true;
    return false;
}

QVideoPlay *playOf(const realvideo &page, const QString &key)
{
    LiveWinInfo w{};
    return page.windowInfo(key, &w) ? page.videoOnly()->videoWin(w.winIndex)->play() : nullptr;
}

// Summed brightness of an image outside its middle band of rows, where the
// notice's text is written.
qint64 brightnessBesideText(const QImage &image)
{
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y)
        if (qAbs(y - image.height() / 2) > 16)
            for (int x = 0; x < image.width(); ++x)
                sum += qGray(image.pixel(x, y));
    return sum;
}

// A page shown at a size that gives each window a real surface.
std::unique_ptr<realvideo> makePage(std::shared_ptr<varno::live::MonitorClock> clock = nullptr)
{
    auto page = std::make_unique<realvideo>(nullptr, std::move(clock));
    page->resize(640, 520);
    page->show();
    hub().setDialog(page.get());
    return page;
}

// Starts a stream and waits for the end of its open: the open's result, or
// StartStream's own when it failed at once.
template <typename... Args>
int openAndWait(realvideo &page, const DeviceInfo_s &dev, Args... args)
{
    QSignalSpy started(&page, &realvideo::streamStarted);
    const int ret = page.StartStream(dev, args...);
    return ret != 0 ? ret : resultOf(started, varno::fieldText(dev.devId));
}

void dropPage(std::unique_ptr<realvideo> &page)
{
    hub().setDialog(nullptr);
    page.reset();
}

// Looks at the picture a window's surface paints at every paint: a paint
// of the idle look, or of no picture or a uniform one, is a blank paint.
class PaintWatch final : public QObject
{
public:
    explicit PaintWatch(QVideoPlay *play) : m_play(play) { play->surface()->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (m_play->painting() || !hasContent(m_play->surface()->currentImage()))
                ++blank;
        }
        return false;
    }
    int paints = 0;
    int blank = 0;

private:
    QPointer<QVideoPlay> m_play;
};

// The centre of the camera's window in the grid's coordinates.
QPoint windowCentre(const realvideo &page, const QString &key)
{
    LiveWinInfo w{};
    page.windowInfo(key, &w);
    return page.videoOnly()->videoWin(w.winIndex)->geometry().center();
}

} // namespace

class TestRealVideo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 3000"),
                                QStringLiteral("event_pull_timeout_s = 1"), QStringLiteral("event_retry_ms = 300")}));
        const QString failed = m_rig.start(&hub(), 0, camerasConfig(m_rig.broker.port()));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        for (int i = 0; i < 2; ++i) {
            QVERIFY(m_onvif[i].start("6a1c0de2-3b4f-4a5e-9c8d-00000000000" + std::to_string(i + 1), i));
            QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(m_onvif[i].cam->serviceAddr().c_str(), "admin"), 0);
        }
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
        QCOMPARE(RTSP_Stream_SDKInit(), 0);
    }

    void cleanupTestCase()
    {
        hub().setDialog(nullptr);
        m_rig.stop();
        for (OnvifCam &c : m_onvif)
            c.stop();
    }

    void cleanup()
    {
        hub().setDialog(nullptr);
        // Faults a failing case may have left behind.
        for (const char *line : {"all stall all off", "all no-key off", "all descr-count 2", "all fail-descr 0"})
            m_rig.sim.command(QLatin1String(line));
    }

    // Both kinds of camera put decoded pictures on their windows; opening an
    // open camera again only selects its window; the delete check sees it.
    void p2pAndOnvifStreamsShowPictures()
    {
        auto page = makePage();
        QVERIFY(page->monitorRunning());
        const QString p2pKey = keyOf(1);
        const QString onvifKey = QString::fromStdString(m_onvif[0].uuid);

        QCOMPARE(openAndWait(*page, p2pCamera(1), true), 0);
        QCOMPARE(openAndWait(*page, m_onvif[0].device(), m_onvif[0].access(), true), 0);
        QCOMPARE(usedWindows(*page), 2);

        for (const QString &key : {p2pKey, onvifKey}) {
            QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).presentedPictures > 5, 15000);
            QTRY_VERIFY_WITH_TIMEOUT(hasContent(playOf(*page, key)->surface()->currentImage()), 5000);
            // Playing: the monitor turned the waiting look off.
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 5000);
        }
        QCOMPARE(page->streamStats(p2pKey).pictureWidth, kHdW);
        QCOMPARE(page->streamStats(p2pKey).pictureHeight, kHdH);
        QCOMPARE(page->streamStats(onvifKey).pictureWidth, kOnvifW);
        LiveWinInfo w1{}, w2{};
        QVERIFY(page->windowInfo(p2pKey, &w1));
        QVERIFY(page->windowInfo(onvifKey, &w2));
        QTRY_VERIFY(!page->videoOnly()->videoWin(w1.winIndex)->play()->painting());
        LiveStreamInfo rec{};
        QVERIFY(page->streamInfo(onvifKey, &rec));
        QVERIFY(rec.rtspHandle > 0);
        QCOMPARE(w2.rtspHandle, rec.rtspHandle);

        // The ONVIF window was opened last and is current; opening the P2P
        // camera again selects its window and opens nothing.
        QCOMPARE(page->videoOnly()->current(), w2.winIndex);
        QCOMPARE(openAndWait(*page, p2pCamera(1), true), 0);
        QCOMPARE(page->videoOnly()->current(), w1.winIndex);
        QCOMPARE(usedWindows(*page), 2);
        const QByteArray inUse = QStringLiteral("Win(%1) is using!!!").arg(w1.winHandle).toUtf8();
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains(inUse), 5000);

        QSignalSpy state(page.get(), &realvideo::sendDevStateReslut);
        page->recvDevStateRequest(p2pKey);
        page->recvDevStateRequest(QStringLiteral("B999999"));
        QCOMPARE(state.size(), 2);
        QCOMPARE(state.at(0).at(0).toBool(), true);
        QCOMPARE(state.at(1).at(0).toBool(), false);

        // A decoder that reports a failure closes its window; other codes and
        // unknown decoders do not.
        CLiveStream *live = page->liveStreamOf(onvifKey);
        QVERIFY(live);
        page->setPlay(-1042, live);
        QCoreApplication::processEvents();
        QVERIFY(page->streamKeys().contains(onvifKey));
        page->setPlay(-1539, reinterpret_cast<CLiveStream *>(&rec));
        QVERIFY(logText().contains("Hash has not contained handle!!!"));
        page->setPlay(-1539, live);
        QTRY_VERIFY(!page->streamKeys().contains(onvifKey));
        QTRY_COMPARE(usedWindows(*page), 1);
        dropPage(page);
    }

    // A refused description request is asked once more; two refusals give the
    // window back (a camera without streams: tst_clientlive).
    void descriptionRetryAndNoStream()
    {
        auto page = makePage();
        const QString key = keyOf(2);
        QCOMPARE(sim(key, QStringLiteral("fail-descr 1")), QStringLiteral("OK fail-descr"));
        QCOMPARE(openAndWait(*page, p2pCamera(2), true), 0);
        QVERIFY(page->streamKeys().contains(key));
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        page->videoOnly()->CloseVideoWinFromMul(w.winHandle);
        QCOMPARE(usedWindows(*page), 0);
        QVERIFY(page->streamKeys().isEmpty());

        sim(key, QStringLiteral("fail-descr 2"));
        QCOMPARE(openAndWait(*page, p2pCamera(2), true), int(P2P_ERR_REFUSED));
        QCOMPARE(usedWindows(*page), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Get device(B100002) stream descr failed, ret(-207)!!!"), 5000);

        // A camera with one stream plays it even when the second was chosen.
        sim(key, QStringLiteral("descr-count 1"));
        QCOMPARE(openAndWait(*page, p2pCamera(2, "abc123", 1), true), 0);
        LiveStreamInfo rec{};
        QVERIFY(page->streamInfo(key, &rec));
        QCOMPARE(rec.streamType, 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).presentedPictures > 0, 10000);
        dropPage(page);
    }

    // Frames that never start with a key frame: the window is closed 10,000 ms
    // of the monitor's clock after its first pass (not before: tst_livecontroller).
    void firstPictureTimeOutOnTheMonitorClock()
    {
        auto clock = std::make_shared<ManualClock>();
        clock->set(50000);
        auto page = makePage(clock);
        const QString key = keyOf(3);
        QSignalSpy closed(page.get(), &realvideo::timeOutClose);
        QSignalSpy stopRecord(page.get(), &realvideo::sendStopRecord);
        sim(key, QStringLiteral("no-key on"));
        QCOMPARE(openAndWait(*page, p2pCamera(3), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStateWaiting), 3000);
        LiveStreamInfo rec{};
        QVERIFY(page->streamInfo(key, &rec));
        QCOMPARE(rec.startTick, 50000u);
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        // Waiting: the window shows its idle look.
        QTRY_VERIFY(page->videoOnly()->videoWin(w.winIndex)->play()->painting());
        // Frames do arrive, but none counts before a key frame.
        auto framesSent = [&] {
            const QString s = sim(key, QStringLiteral("stats"));
            return s.mid(s.indexOf(QStringLiteral("frames=")) + 7).toLongLong();
        };
        const qlonglong sent = framesSent();
        QTRY_VERIFY(framesSent() > sent + 5);
        QCOMPARE(page->streamStats(key).frameCounter, 0);

        QCOMPARE(closed.size(), 0);
        clock->set(50000 + 10000);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        QCOMPARE(stopRecord.size(), 1);
        QCOMPARE(closed.at(0).at(0).toString(), key);
        QTRY_VERIFY(!page->streamKeys().contains(key));
        QTRY_COMPARE(usedWindows(*page), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Init device(B100003) timeout!!!"), 5000);
        QTRY_VERIFY(streams(key, 0));
        dropPage(page);
    }

    // A stall alone only freezes the picture; after the camera's interruption
    // notice (87) a stall closes and reopens the stream.
    void stallReopensOnlyAfterNotice()
    {
        auto clock = std::make_shared<ManualClock>(true);
        auto page = makePage(clock);
        const QString key = keyOf(4);
        QCOMPARE(openAndWait(*page, p2pCamera(4), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
        CLiveStream *live = page->liveStreamOf(key);

        sim(key, QStringLiteral("stall 0 on"));
        // The monitor sees no new frame for a few passes.
        int frames = -1;
        QTRY_VERIFY_WITH_TIMEOUT(clock->settled(2, frames, [&] { return page->streamStats(key).frameCounter; }), 10000);
        QVERIFY(clock->passes(4));
        QCoreApplication::processEvents();
        QCOMPARE(stateOf(*page, key), int(varno::live::kStatePlaying));
        QVERIFY(!logText().contains("reconnection device(B100004)"));
        sim(key, QStringLiteral("stall 0 off"));
        const int64_t before = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > before + 5, 5000);

        QVERIFY(sim(key, QStringLiteral("notice 87 0")).startsWith(QStringLiteral("OK notice")));
        LiveStreamInfo rec{};
        QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &rec) && rec.reopenOnStall == 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("[PREVIEW]Stop device(B100004) preview!!!"), 5000);
        sim(key, QStringLiteral("stall 0 on"));
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("reconnection device(B100004), status(3)!!!"), 5000);
        // Reopened: a new description and the flag cleared, same decoder and window.
        QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &rec) && rec.reopenOnStall == 0 && rec.streamDescr != nullptr,
                                 5000);
        QCOMPARE(page->liveStreamOf(key), live);
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        QCOMPARE(w.reconnecting, 0);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Close stream VRNB-100004-KXPQT finished!!!"), 5000);
        sim(key, QStringLiteral("stall 0 off"));
        const int64_t mark = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 5, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 5000);
        QVERIFY(streams(key, 1));
        dropPage(page);
    }

    // The RTSP server goes away: the broken connection is seen, the stream is
    // closed and reopened, each attempt later than the one before, with the
    // stream address asked again while they fail, and the failures logged once,
    // until the server is back (on another port); a picture starts the spacing
    // afresh. Meanwhile the window keeps its last picture, dimmed, with
    // "Reconnecting...", and shows bright pictures again once they come.
    void rtspServerKilledAndBack()
    {
        auto page = makePage();
        OnvifCam &cam = m_onvif[1]; // a ball on a green background: light everywhere
        const QString key = QString::fromStdString(cam.uuid);
        QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
        QVideoPlay *play = playOf(*page, key);
        varno::live::VideoSurface *surface = play->surface();
        QTRY_VERIFY_WITH_TIMEOUT(hasContent(surface->grab().toImage()), 5000);
        QVERIFY(!play->reconnecting());
        LiveStreamInfo rec{};
        QVERIFY(page->streamInfo(key, &rec));
        const int32_t firstHandle = rec.rtspHandle;

        varno::live::LiveController *ctl = page->controller();
        const QByteArray reconnect = QStringLiteral("reconnect device(%1)!!!").arg(key).toUtf8();
        const QByteArray counted = QStringLiteral("Reopen device(%1) failed").arg(key).toUtf8();
        const qsizetype reconnectBefore = logText().count(reconnect);
        const qsizetype openFailedBefore = logText().count("Open device(" + key.toUtf8() + ") stream failed");
        QCOMPARE(ctl->streamUriRequests(key), 1);
        // The picture as it is shown before the outage.
        const qint64 lit = brightnessBesideText(surface->grab().toImage().scaled(surface->size()));
        cam.rtsp->stop();
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStateReopening), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains(reconnect), 3000);
        const QByteArray closed = QStringLiteral("Close stream handle(%1) finished!!!").arg(firstHandle).toUtf8();
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains(closed), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(play->reconnecting(), 10000);
        QVERIFY(ctl->isReconnecting(key));
        // The last picture stays, at a third of its brightness.
        const QImage shown = surface->grab().toImage().scaled(surface->size());
        QVERIFY2(lit > 0 && brightnessBesideText(shown) * 2 < lit,
                 qPrintable(QStringLiteral("%1 %2").arg(lit).arg(brightnessBesideText(shown))));
        QVERIFY(hasContent(shown));
        // Three attempts failed: waits of 1 and 2 s lay between them, the next
        // waits 4 s. The first reopen took the address it had; after a failure
        // the address is asked again, at most every StreamUriAsk::kSpacingMs.
        QTRY_VERIFY_WITH_TIMEOUT(ctl->reopenFailures(key) >= 3, 15000);
        QCOMPARE(ctl->reopenDelay(key), varno::live::kReopenFirstDelayMs * (1u << (ctl->reopenFailures(key) - 1)));
        const int asks = ctl->streamUriRequests(key);
        QVERIFY2(asks >= 2 && asks <= ctl->reopenFailures(key), qPrintable(QString::number(asks)));
        QCOMPARE(stateOf(*page, key), int(varno::live::kStateReopening));
        QVERIFY(page->streamKeys().contains(key));
        // Logged for the first failure only.
        QCOMPARE(logText().count(reconnect), reconnectBefore + 1);
        QCOMPARE(logText().count("Open device(" + key.toUtf8() + ") stream failed"), openFailedBefore + 1);
        QCOMPARE(logText().count(counted + ", ret("), qsizetype(1));

        // The server comes back on another port, which the camera hands out
        // from now on: the address asked during the failures is stale.
        QVERIFY(cam.rtsp->start(0));
        cam.cam->setRtspPort(cam.rtsp->port());
        const int64_t mark = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 5, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 5000);
        QVERIFY(page->streamInfo(key, &rec));
        QVERIFY(rec.rtspHandle > 0);
        QVERIFY(rec.rtspHandle != firstHandle);
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        QCOMPARE(w.rtspHandle, rec.rtspHandle);
        QCOMPARE(w.reconnecting, 0);
        QTRY_VERIFY(!play->reconnecting() && !ctl->isReconnecting(key));
        const QImage again = surface->grab().toImage().scaled(surface->size());
        QVERIFY(brightnessBesideText(again) * 2 > brightnessBesideText(surface->currentImage().scaled(surface->size())));
        // The run of failures in one line with its count; pictures again: the
        // next break starts with an attempt at once.
        QVERIFY(logText().contains(counted + ' ') && logText().contains("times in a row"));
        QTRY_COMPARE(ctl->reopenDelay(key), 0u);
        QCOMPARE(ctl->reopenFailures(key), 0);
        dropPage(page);
    }

    // The page goes while its monitor keeps trying to reopen a stream whose
    // server is gone, and while frames of other streams arrive: the monitor
    // and every stream end, nothing is left running.
    void closedWhileReopening()
    {
        const int base = threadCount();
        auto page = makePage();
        OnvifCam &cam = m_onvif[1];
        const QString key = QString::fromStdString(cam.uuid);
        QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
        QCOMPARE(openAndWait(*page, p2pCamera(9), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
        const QByteArray line = QStringLiteral("reconnect device(%1)!!!").arg(key).toUtf8();
        const qsizetype tried = logText().count(line);
        cam.rtsp->stop();
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStateReopening), 10000);
        // A burst of attempts is running.
        QTRY_VERIFY_WITH_TIMEOUT(logText().count(line) > tried, 3000);
        dropPage(page);
        QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= base, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(streams(keyOf(9), 0), 5000);
        QVERIFY(cam.rtsp->restart());
    }

    // A P2P stream that stops without a notice keeps playing for the monitor;
    // its window shows "reconnecting" once no picture came for 2,000 ms of the
    // monitor's clock (1,999 ms are not enough), and the next picture clears it.
    void stalledWindowShowsReconnectingAfterTwoSeconds()
    {
        auto clock = std::make_shared<ManualClock>();
        auto page = makePage(clock);
        const QString key = keyOf(6);
        QSignalSpy looks(page.get(), &realvideo::sendLiveReconnecting);
        QCOMPARE(openAndWait(*page, p2pCamera(6), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
        QVideoPlay *play = playOf(*page, key);
        QVERIFY(play);

        sim(key, QStringLiteral("stall 0 on"));
        // Settled: no picture over several passes, all of them at the clock's 1,000.
        int64_t pictures = -1;
        QTRY_VERIFY_WITH_TIMEOUT(clock->settled(3, pictures, [&] { return page->streamStats(key).decodedPictures; }), 10000);
        clock->set(1000 + varno::live::kReconnectingAfterMs - 1);
        QVERIFY(clock->passes(3));
        QCoreApplication::processEvents();
        QVERIFY(!page->controller()->isReconnecting(key));
        QVERIFY(!play->reconnecting());
        clock->set(1000 + varno::live::kReconnectingAfterMs);
        QTRY_VERIFY_WITH_TIMEOUT(play->reconnecting(), 5000);
        QCOMPARE(play->surface()->notice(), QStringLiteral("Reconnecting..."));
        QCOMPARE(page->streamStats(key).decodedPictures, pictures);
        QCOMPARE(looks.size(), 1);
        QCOMPARE(looks.at(0).at(0).toString(), key);
        QCOMPARE(looks.at(0).at(1).toBool(), true);

        sim(key, QStringLiteral("stall 0 off"));
        QTRY_VERIFY_WITH_TIMEOUT(!play->reconnecting(), 10000);
        QVERIFY(page->streamStats(key).decodedPictures > pictures);
        QVERIFY(play->surface()->notice().isEmpty());
        QCOMPARE(looks.size(), 2);
        QCOMPARE(looks.at(1).at(1).toBool(), false);

        // Closed while reconnecting: the window is free of the look, the tree hears of it.
        sim(key, QStringLiteral("stall 0 on"));
        QTRY_VERIFY_WITH_TIMEOUT(clock->settled(3, pictures, [&] { return page->streamStats(key).decodedPictures; }), 10000);
        clock->set(1000 + 3 * varno::live::kReconnectingAfterMs);
        QTRY_VERIFY_WITH_TIMEOUT(play->reconnecting(), 5000);
        page->videoOnly()->CloseVideoWinFromMul(play->nativeHandle()); // its Close button
        QVERIFY(!play->reconnecting());
        QCOMPARE(looks.size(), 4);
        QCOMPARE(looks.at(3).at(1).toBool(), false);
        dropPage(page);
    }

    // Switching to SD: the main window hears of the new choice, the pictures
    // change size, and frames of the HD stream are dropped from then on.
    void hdSdSwitchKeepsOnlyTheSelectedStream()
    {
        auto clock = std::make_shared<ManualClock>(true);
        auto page = makePage(clock);
        const QString key = keyOf(5);
        QSignalSpy property(page.get(), &realvideo::sendDevProperty);
        QCOMPARE(openAndWait(*page, p2pCamera(5), true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
        // An interruption notice just before: the monitor must not take the
        // frames dropped during the switch for a stall and close the new stream.
        sim(key, QStringLiteral("notice 87 0"));
        LiveStreamInfo noticed{};
        QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &noticed) && noticed.reopenOnStall == 1, 5000);

        QSignalSpy started(page.get(), &realvideo::streamStarted);
        page->RecvChangeStream(key, 1);
        QCOMPARE(resultOf(started, key), 0);
        QCOMPARE(property.size(), 1);
        const DeviceInfo_s sent = property.at(0).at(0).value<DeviceInfo_s>();
        QCOMPARE(sent.streamType, 1);
        QCOMPARE(QByteArray(sent.p2pId), p2pCameraId(5));
        QCOMPARE(QByteArray(sent.password), QByteArray("abc123"));
        LiveStreamInfo rec{};
        QVERIFY(page->streamInfo(key, &rec));
        QCOMPARE(rec.streamType, 1);
        QCOMPARE(int(rec.discard), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        QCOMPARE(page->streamStats(key).pictureHeight, kSdH);

        // With the camera's SD stream held, a frame of stream 0 is not taken
        // and one of stream 1 is.
        sim(key, QStringLiteral("stall all on"));
        // Frames on their way have come once the counter stands over two passes.
        int counter = -1;
        QTRY_VERIFY_WITH_TIMEOUT(clock->settled(2, counter, [&] { return page->streamStats(key).frameCounter; }), 10000);
        QVERIFY(counter > 0);
        char descr[68] = {};
        std::memcpy(descr, p2pDeviceId(5).constData(), 7);
        const char slice[] = {0, 0, 0, 1, 0x41, (char)0x9a, 0x10, 0x22};
        const int32_t info[2] = {1, 0};
        int32_t index = 0;
        std::memcpy(descr + 64, &index, 4);
        QCOMPARE(varno::live::LiveController::StreamCallback(P2P_HANDLE(1), descr, info, 1, slice, int(sizeof slice), page->controller()), 0);
        QCOMPARE(page->streamStats(key).frameCounter, counter);
        index = 1;
        std::memcpy(descr + 64, &index, 4);
        varno::live::LiveController::StreamCallback(P2P_HANDLE(1), descr, info, 1, slice, int(sizeof slice), page->controller());
        QCOMPARE(page->streamStats(key).frameCounter, counter + 1);
        // An empty frame is refused.
        QCOMPARE(varno::live::LiveController::StreamCallback(P2P_HANDLE(1), descr, info, 1, slice, 0, page->controller()), -1);
        sim(key, QStringLiteral("stall all off"));

        // And back to HD.
        page->RecvChangeStream(key, 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
        QTRY_VERIFY(streams(key, 1));

        // An ONVIF camera switches over RTSP.
        OnvifCam &cam = m_onvif[0];
        const QString onvifKey = QString::fromStdString(cam.uuid);
        QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).pictureWidth == kOnvifW, 10000);
        QVERIFY(page->streamInfo(onvifKey, &rec));
        const int32_t hdHandle = rec.rtspHandle;
        page->RecvChangeStream(onvifKey, 1);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).pictureWidth == kSdW, 10000);
        // The record takes the new stream once its first picture is painted.
        QTRY_VERIFY(page->streamInfo(onvifKey, &rec) && rec.rtspHandle != hdHandle);
        QCOMPARE(rec.streamType, 1);
        dropPage(page);
    }

    // A wall of 25 small windows shows the camera's sub stream; maximised, the
    // window shows its main stream, and restored the sub stream again. The old
    // stream paints until the new one's first picture: no paint across the
    // switches shows the idle look or an empty picture. A choice by hand wins
    // until "Choose stream by window size" clears it.
    void windowSizeChoosesTheStreamWithoutABlankPaint()
    {
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        grid->ShowVideoCount(25);
        page->resize(320, 240); // windows of about 59 x 19 pixels: below 55 % of 128 x 72
        const QString key = keyOf(11);
        DvrListInfo_s listed{};
        listed.dev = p2pCamera(11);
        page->setDevInfo(listed);
        QCOMPARE(openAndWait(*page, p2pCamera(11), true), 0);
        // A new window opens the stream that fits it.
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        QCOMPARE(page->controller()->streamSize(key, 0), QSize(kHdW, kHdH));
        QCOMPARE(page->controller()->streamSize(key, 1), QSize(kSdW, kSdH));
        QVideoPlay *play = playOf(*page, key);
        QTRY_VERIFY_WITH_TIMEOUT(!play->painting() && hasContent(play->surface()->currentImage()), 10000);
        PaintWatch watch(play);
        auto *ctl = page->controller();

        for (int round = 0; round < 2; ++round) {
            const int done = ctl->switchesDone(key);
            QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
            QVERIFY(grid->isMaximised());
            QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), done + 1, 10000);
            QTRY_VERIFY(streams(key, 1));
            QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
            QVERIFY(!grid->isMaximised());
            QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), done + 2, 10000);
        }
        QVERIFY(watch.paints > 0);
        QCOMPARE(watch.blank, 0);
        QTRY_VERIFY(streams(key, 1));

        // HD by hand: the small window shows the main stream and keeps it.
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        QCOMPARE(grid->current(), w.winIndex);
        grid->prepareContextMenu(); // its marks: tst_qvideoonly
        QSignalSpy started(page.get(), &realvideo::streamStarted);
        const int byHand = ctl->switchesDone(key);
        grid->SelectHdAction();
        QCOMPARE(ctl->manualStream(key), 0);
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, 10000);
        QCOMPARE(started.at(0).at(1).toInt(), 0);
        QVERIFY(grid->hasManualStream(key));
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
        const int64_t mark = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 25, 10000);
        QCOMPARE(page->streamStats(key).pictureWidth, kHdW);
        // Cleared: the window follows its size again.
        grid->SelectAutoStreamAction();
        QCOMPARE(ctl->manualStream(key), -1);
        QVERIFY(grid->autoStream());
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        // The switch back ended (a choice by hand reopens the stream; the
        // count moves at a switch's end, after the new stream's first pictures).
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), byHand + 1, 10000);

        // Off for the user: the windows keep what they show.
        grid->SelectAutoStreamAction();
        QVERIFY(!grid->autoStream());
        QVERIFY(!ctl->autoStream());
        const int done = ctl->switchesDone(key);
        QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
        const int64_t before = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > before + 25, 10000);
        QCOMPARE(ctl->switchesDone(key), done);
        QCOMPARE(page->streamStats(key).pictureWidth, kSdW);
        grid->setAutoStream(true);
        dropPage(page);
    }

    // A recording takes the camera's main stream: a small window that showed
    // its sub stream shows the main one while the camera records, the recorder
    // gets the main stream's frames only, and the window goes back to the sub
    // stream when the recording ends.
    void recordingTakesTheMainStreamAcrossSwitches()
    {
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        grid->ShowVideoCount(25);
        page->resize(320, 240);
        auto log = installRecorder(*grid);
        const QString key = keyOf(12);
        DvrListInfo_s listed{};
        listed.dev = p2pCamera(12);
        page->setDevInfo(listed);
        QCOMPARE(openAndWait(*page, p2pCamera(12), true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        auto *ctl = page->controller();
        const int done = ctl->switchesDone(key);

        QVERIFY(grid->beginToRecord(key, 0));
        QTRY_VERIFY_WITH_TIMEOUT(grid->isRecording(key), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(log->frames.load() > 50, 10000);
        // Maximised and back while recording: the main stream stays.
        QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
        QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
        const int frames = log->frames.load();
        QTRY_VERIFY_WITH_TIMEOUT(log->frames.load() > frames + 50, 10000);
        QCOMPARE(page->streamStats(key).pictureWidth, kHdW);

        grid->RecvStopRecord(key);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), done + 2, 10000);
        {
            std::lock_guard lock(log->mutex);
            QCOMPARE(log->sps.size(), 1); // one stream's parameter sets only
        }
        dropPage(page);
    }

    // Windows on a page of the grid that is not shown decode nothing; their
    // streams stay open, and back on their page they show pictures again from
    // the next key frame, without the reconnecting look.
    void hiddenWindowsDecodeNothing()
    {
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        const QString key = keyOf(13);
        QCOMPARE(openAndWait(*page, p2pCamera(13), true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > 0, 10000);
        CLiveStream *live = page->liveStreamOf(key);
        grid->PageForward();
        // Pictures of frames queued before the rest may still come until the
        // decode thread has seen it.
        QTRY_VERIFY_WITH_TIMEOUT(live->idle() && live->idleSettled(), 5000);
        const int64_t decoded = page->streamStats(key).decodedPictures;
        const int frames = page->streamStats(key).frameCounter;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).frameCounter > frames + 50, 10000);
        QCOMPARE(page->streamStats(key).decodedPictures, decoded);
        QVERIFY(streams(key, 1));

        grid->PageBack();
        QTRY_VERIFY_WITH_TIMEOUT(!live->idle(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > decoded + 10, 10000);
        QCOMPARE(page->liveStreamOf(key), live);
        QVERIFY(!playOf(*page, key)->reconnecting());
        QVERIFY(!page->controller()->isReconnecting(key));
        dropPage(page);
    }

    // A camera that sends its key frame only when a stream starts (and then
    // every 30 s): every open and every HD/SD switch shows a picture from that
    // first key frame, not after the next one. Frames that reach the page
    // before its stream record exists would be lost.
    void firstKeyFrameOfAStreamIsNeverLost()
    {
        auto page = makePage();
        const QString key = QString::fromLatin1(kLongGopDevice);
        DeviceInfo_s dev = p2pCamera(1);
        varno::setText(dev.devId, QByteArray(kLongGopDevice));
        varno::setText(dev.p2pId, QByteArray(kLongGopCamera));
        for (int round = 0; round < 4; ++round) {
            QCOMPARE(openAndWait(*page, dev, true), 0);
            QTRY_VERIFY2_WITH_TIMEOUT(page->streamStats(key).decodedPictures > 0, qPrintable(QString::number(round)),
                                      15000);
            LiveWinInfo win{};
            QVERIFY(page->windowInfo(key, &win));
            // Closed as by the window's close button; the session stays up.
            page->videoOnly()->CloseVideoWinFromMul(win.winHandle);
            QTRY_VERIFY(!page->windowInfo(key, &win));
        }
        QCOMPARE(openAndWait(*page, dev, true), 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 15000);
        page->RecvChangeStream(key, 1);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 15000);
        page->RecvChangeStream(key, 0);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 15000);
        dropPage(page);
    }

    // Message 88 (wrong password): the user is told, asked for a new password,
    // the main window hears of it and the stream starts with it. A real prompt
    // runs its own event loop: a second notice for the same camera delivered
    // meanwhile asks nothing more (no second pair of boxes); once answered, a
    // new notice asks again.
    void passwordNoticeAsksAndRestarts()
    {
        PromptScript prompts;
        auto page = makePage();
        const QString key = keyOf(6);
        QSignalSpy property(page.get(), &realvideo::sendDevProperty);
        P2pMessage_S again{};
        varno::setText(again.devId, p2pCameraId(6));
        again.type = P2P_MSG_STREAM_PASSWORD;
        const varno::ui::PromptHandler script = varno::ui::setPromptHandler({});
        const auto restore = qScopeGuard([&] { varno::ui::setPromptHandler(script); });
        int passwordPrompts = 0;
        varno::ui::setPromptHandler([&](const varno::ui::PromptRequest &r) {
            if (r.kind == PromptKind::Password && passwordPrompts++ == 0)
                page->recvP2pMessage(again);
            return script(r);
        });

        prompts.answer(QMessageBox::Ok);
        prompts.answer(QMessageBox::Ok, QStringLiteral("abc123"));
        // The refused open and the camera's notice reach the page in either
        // order; the prompt follows both.
        QCOMPARE(page->StartStream(p2pCamera(6, "wrong"), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(prompts.count(), 2, 10000);
        QVERIFY(logText().contains("Device(B100006) password is being asked already!!!"));
        QCOMPARE(passwordPrompts, 1);
        QTRY_VERIFY_WITH_TIMEOUT(page->streamKeys().contains(key), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Open device(B100006) stream failed, ret(-207)!!!"), 5000);
        const QList<varno::ui::PromptRequest> asked = prompts.requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(0).kind, PromptKind::Information);
        QCOMPARE(asked.at(0).title, QStringLiteral("Client"));
        QCOMPARE(asked.at(0).text, QStringLiteral("Password is error, please enter again!"));
        QCOMPARE(asked.at(1).kind, PromptKind::Password);
        QCOMPARE(asked.at(1).text, QStringLiteral("Cam 6"));
        QCOMPARE(property.size(), 1);
        QCOMPARE(QByteArray(property.at(0).at(0).value<DeviceInfo_s>().password), QByteArray("abc123"));
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).presentedPictures > 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Password error, device(B100006)!!!"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("[PREVIEW]Restart device(B100006) preview finished!!!"), 5000);
        LiveWinInfo w{};
        QVERIFY(page->windowInfo(key, &w));
        page->videoOnly()->CloseVideoWinFromMul(w.winHandle);
        QCOMPARE(usedWindows(*page), 0);

        // Asked again and cancelled: nothing is started.
        prompts.take();
        QCOMPARE(page->StartStream(p2pCamera(6, "wrong again"), true), 0);
        QTRY_COMPARE_WITH_TIMEOUT(prompts.count(), 2, 10000);
        QCOMPARE(passwordPrompts, 2);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Password is null!!!"), 5000);
        QTRY_VERIFY(page->streamKeys().isEmpty());
        QTRY_COMPARE(usedWindows(*page), 0);

        // The notice for a camera this page never opened asks nothing.
        P2pMessage_S other{};
        varno::setText(other.devId, p2pCameraId(17));
        other.type = P2P_MSG_STREAM_PASSWORD;
        const int promptsBefore = prompts.count();
        page->recvP2pMessage(other);
        QCOMPARE(prompts.count(), promptsBefore);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Device(B100017) is not known!!!"), 5000);
        dropPage(page);
    }

    // Sound plays in the selected window only, and nowhere while muted.
    void soundFollowsSelectionAndMute()
    {
        auto page = makePage();
        const QString a = keyOf(7);
        const QString b = keyOf(8);
        QCOMPARE(openAndWait(*page, p2pCamera(7), true), 0);
        QCOMPARE(openAndWait(*page, p2pCamera(8), true), 0);
        // The window opened last is selected.
        QCOMPARE(page->audioDevice(), b);
        QVERIFY(!page->streamStats(a).soundOn);
        QVERIFY(page->streamStats(b).soundOn);

        page->setMute(true);
        QVERIFY(!page->streamStats(a).soundOn);
        QVERIFY(!page->streamStats(b).soundOn);
        // Selecting while muted (a click on the first window) keeps everything
        // silent.
        LiveWinInfo wa{};
        QVERIFY(page->windowInfo(a, &wa));
        page->videoOnly()->SelectVideoWin(wa.winHandle);
        QCOMPARE(page->audioDevice(), a);
        QVERIFY(!page->streamStats(a).soundOn);
        page->setMute(false);
        QVERIFY(page->streamStats(a).soundOn);
        QVERIFY(!page->streamStats(b).soundOn);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("[PREVIEW]Request mute[1->0]!!!"), 5000);

        // A click on the other window.
        LiveWinInfo wb{};
        QVERIFY(page->windowInfo(b, &wb));
        page->videoOnly()->SelectVideoWin(wb.winHandle);
        QCOMPARE(page->audioDevice(), b);
        QVERIFY(!page->streamStats(a).soundOn);
        QVERIFY(page->streamStats(b).soundOn);

        // The audio window closed: nobody plays.
        page->videoOnly()->CloseVideoWinFromMul(wb.winHandle);
        QVERIFY(!page->streamKeys().contains(b));
        page->setMute(false);
        QVERIFY(!page->streamStats(a).soundOn);
        // Unmuting with no window selected leaves every stream silent.
        page->RecvVideoWinNum(QString());
        page->setMute(true);
        page->setMute(false);
        QVERIFY(!page->streamStats(a).soundOn);

        // Renamed in the camera list: the open window's title follows at once,
        // and so does the record a reopen uses.
        DvrListInfo_s renamed{};
        renamed.dev = p2pCamera(7);
        varno::setText(renamed.dev.devName, QByteArray("Front door"));
        page->setDevInfo(renamed);
        QCOMPARE(page->videoOnly()->videoWin(wa.winIndex)->hand()->title(), QStringLiteral("Front door-1"));
        QVERIFY(page->windowInfo(a, &wa));
        QCOMPARE(QByteArray(wa.name), QByteArray("Front door"));
        dropPage(page);
    }

    // Sixteen streams (the grid's paging: tst_qvideoonly, the page's buttons:
    // tst_clientlive); a snapshot; closing one window ends its stream and
    // decoder, closing the page leaves no thread behind.
    void gridPagesSnapshotAndClosing()
    {
        const int base = threadCount();
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        for (int n = 1; n <= 16; ++n)
            QCOMPARE(openAndWait(*page, p2pCamera(n), true), 0);
        QCOMPARE(usedWindows(*page), 16);
        LiveWinInfo fifth{};
        QVERIFY(page->windowInfo(keyOf(5), &fifth));
        grid->ShowVideoCount(16); // windows on a hidden page decode nothing
        for (int n = 1; n <= 16; ++n)
            QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(keyOf(n)).presentedPictures > 0, 20000);

        // Snapshot of window 5.
        const QString folder = tempRoot() + QStringLiteral("/snaps");
        page->RecvCapPathFromConfig(folder);
        grid->CapturePicWinFromMul(fifth.winHandle);
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.bmp")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^B100005-\\d{8}-\\d{6}-0\\.bmp$")).match(files.at(0)).hasMatch(),
                 qPrintable(files.at(0)));
        const int w = page->streamStats(keyOf(5)).pictureWidth;
        const int h = page->streamStats(keyOf(5)).pictureHeight;
        QCOMPARE(QFileInfo(folder + QLatin1Char('/') + files.at(0)).size(), qint64(w) * h * 3 + 54);
        QVERIFY(grid->tipOfWindow(fifth.winIndex));

        // Closing window 5 from its title bar: stream and decoder end.
        const int withSixteen = threadCount();
        grid->CloseVideoWinFromMul(fifth.winHandle);
        QVERIFY(!page->streamKeys().contains(keyOf(5)));
        QCOMPARE(usedWindows(*page), 15);
        QTRY_VERIFY(threadCount() < withSixteen);
        QTRY_VERIFY_WITH_TIMEOUT(streams(keyOf(5), 0), 5000);

        dropPage(page);
        QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= base, 5000);
        for (int n = 1; n <= 16; ++n)
            QTRY_VERIFY_WITH_TIMEOUT(streams(keyOf(n), 0), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("[PREVIEW]Stop run thread!!!"), 5000);
    }

    void fullScreenTipAndAlarmTable()
    {
        auto page = makePage();
        QVERIFY(page->showTableButton()->isVisible());
        QVERIFY(!page->alarmTable()->isVisible());
        page->showTabBtn_clicked();
        QVERIFY(page->alarmTable()->isVisible());
        QVERIFY(page->hideTableButton()->isVisible());
        QVERIFY(!page->showTableButton()->isVisible());

        page->setFullScreen(true);
        QVERIFY(!page->alarmTable()->isVisible());
        QVERIFY(!page->showTableButton()->isVisible());
        QVERIFY(!page->hideTableButton()->isVisible());
        QVERIFY(page->tipLabel()->isVisible()); // fading away on its timer: tst_clientlive
        QCOMPARE(page->videoOnly()->geometry(), page->rect());
        page->setFullScreen(false);
        QVERIFY(page->showTableButton()->isVisible());
        QVERIFY(!page->tipLabel()->isVisible());

        // Alarm rows (newest first, renumbered, the camera without "urn:uuid:")
        // are checked with the alarm recordings and the event subscriptions.
        page->StopAlarmRecord(QModelIndex());
        QVERIFY(logText().contains("Index is invalid!!!"));
        dropPage(page);
    }

    // An alarm records only when the storage setting asks for it (1: every
    // alarm, else that type), a disarm ends the alarm recording, and a double
    // click on an alarm row selects the window of that ONVIF camera.
    void alarmsRecordAsSetAndSelectTheirWindow()
    {
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        auto log = installRecorder(*grid);
        OnvifCam &cam = m_onvif[0];
        DvrListInfo_s rec = cam.listed();
        std::memset(rec.config.eventAddr, 0, sizeof rec.config.eventAddr); // no subscription here
        page->setDevInfo(rec);
        QVERIFY(page->subscriptions().isEmpty());
        const QString key = QString::fromStdString(cam.uuid);
        QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
        QCOMPARE(openAndWait(*page, p2pCamera(10), true), 0);

        EVENT_alarm_info a{};
        varno::setText(a.source, "urn:uuid:" + cam.uuid);
        varno::setText(a.time, "2026-12-06 11:00:00");
        QSignalSpy stopRecord(grid, &QVideoOnly::SendStopRecord);

        page->recvRecordAlarmType(0);
        a.alarmType = EVENT_ALARM_MOTION;
        emit page->sendAlarmInfor(a);
        QCOMPARE(log->created.load(), 0);
        page->recvRecordAlarmType(3);
        a.alarmType = EVENT_ALARM_IO;
        emit page->sendAlarmInfor(a);
        QCOMPARE(log->created.load(), 0);
        QCOMPARE(page->alarmTable()->rowCount(), 2);
        page->recvRecordAlarmType(1);
        emit page->sendAlarmInfor(a);
        QTRY_COMPARE(log->created.load(), 1); // started on the recording controller's job thread
        QCOMPARE(log->alarmType.load(), 3); // an IO alarm's file type
        QTRY_VERIFY(grid->isAlarmRecording(key));
        a.alarmType = EVENT_ALARM_DISARM;
        emit page->sendAlarmInfor(a);
        QCOMPARE(stopRecord.size(), 1);
        QCOMPARE(stopRecord.at(0).at(0).toString(), key);
        QCOMPARE(page->alarmTable()->item(0, 2)->text(), QStringLiteral("Disarm"));
        QCOMPARE(page->alarmTable()->item(1, 2)->text(), QStringLiteral("IO Alarm"));
        QCOMPARE(page->alarmTable()->item(3, 0)->text(), QStringLiteral("4"));
        // The camera's name, not its ID; an alarm of a camera not listed shows the ID.
        QCOMPARE(page->alarmTable()->item(0, 3)->text(), QString::fromUtf8(rec.dev.devName));
        QVERIFY(page->alarmTable()->item(0, 3)->text() != key);

        // The P2P camera's window is current; the alarm row selects the ONVIF one.
        LiveWinInfo onvifWin{};
        QVERIFY(page->windowInfo(key, &onvifWin));
        QVERIFY(grid->current() != onvifWin.winIndex);
        page->StopAlarmRecord(page->alarmTable()->model()->index(0, 0));
        QCOMPARE(grid->current(), onvifWin.winIndex);
        // Nothing is stopped by it.
        QCOMPARE(stopRecord.size(), 1);
        page->recvRecordAlarmType(0);
        EVENT_alarm_info stranger = a;
        varno::setText(stranger.source, "urn:uuid:0000-unknown");
        emit page->sendAlarmInfor(stranger);
        QCOMPARE(page->alarmTable()->item(0, 3)->text(), QStringLiteral("0000-unknown"));
        dropPage(page);
    }

    // setDevInfo subscribes to the camera's events once (off the window's
    // thread; its alarms in the table: tst_clientrecord); an address on port
    // 8090 that does not answer is tried again on 8899; the page unsubscribes
    // when it goes.
    void eventSubscriptions()
    {
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
        OnvifCam &cam = m_onvif[0];
        auto page = makePage();
        page->setDevInfo(cam.listed());
        page->setDevInfo(cam.listed());
        QTRY_COMPARE_WITH_TIMEOUT(page->subscriptions(), QStringList{QString::fromStdString(cam.uuid)}, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(cam.cam->activeSubscriptions(), 1, 5000);

        // Nobody answers on the given address: no subscription is kept.
        DvrListInfo_s dead = cam.listed();
        varno::setText(dead.dev.devId, "dead-camera");
        varno::setText(dead.config.eventAddr,
                       QStringLiteral("http://127.0.0.1:%1/onvif/event_service").arg(freeLoopbackPort()).toUtf8());
        page->setDevInfo(dead);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("Subscribe  device(dead-camera) failed"), 20000);
        QVERIFY(!page->subscriptions().contains(QStringLiteral("dead-camera")));

        // Port 8090 refused, 8899 answers (when both are free here).
        QTcpServer probe8090, probe8899;
        const bool portsFree = probe8090.listen(QHostAddress::LocalHost, 8090) && probe8899.listen(QHostAddress::LocalHost, 8899);
        probe8090.close();
        probe8899.close();
        if (portsFree) {
            COnvifCamera::Settings st = cam.cam->settings();
            st.uuid = "6a1c0de2-3b4f-4a5e-9c8d-00000000a001";
            COnvifCamera on8899(st);
            QVERIFY(on8899.start(8899));
            DvrListInfo_s moved = cam.listed();
            varno::setText(moved.dev.devId, st.uuid);
            QByteArray addr = QByteArray::fromStdString(on8899.eventAddr());
            addr.replace("8899", "8090");
            varno::setText(moved.config.eventAddr, addr);
            page->setDevInfo(moved);
            QTRY_VERIFY_WITH_TIMEOUT(page->subscriptions().contains(QString::fromStdString(st.uuid)), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(on8899.activeSubscriptions(), 1, 5000);
            dropPage(page);
            QCOMPARE(on8899.unsubscribeCount(), 1);
        } else {
            dropPage(page);
        }
        QCOMPARE(cam.cam->unsubscribeCount(), 1);
        QTRY_COMPARE(cam.cam->activeSubscriptions(), 0);
        // Startup again for later users of the library in this process.
        QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    }

    // ONVIF: a small window goes over to the smaller profile through a second
    // RTSP session; HD by hand: main profile without a blank paint, kept
    // against the window's size until cleared. With one profile, neither HD
    // nor SD.
    void onvifHdSdByHand()
    {
        auto page = makePage();
        QVideoOnly *grid = page->videoOnly();
        grid->ShowVideoCount(25);
        page->resize(320, 240);
        OnvifCam &cam = m_onvif[1];
        const QString key = QString::fromStdString(cam.uuid);
        DvrListInfo_s one = cam.listed();
        one.config.profileCount = 1;
        page->setDevInfo(one);
        QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
        auto *ctl = page->controller();
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), 1, 15000);
        grid->prepareContextMenu();
        QVERIFY(!grid->hdAction()->isEnabled() && !grid->sdAction()->isEnabled());
        page->setDevInfo(cam.listed());
        grid->prepareContextMenu();
        PaintWatch watch(playOf(*page, key));
        grid->hdAction()->trigger(); // nothing while disabled
        QCOMPARE(ctl->manualStream(key), 0);
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), 2, 10000);
        const int64_t mark = page->streamStats(key).decodedPictures;
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 25, 10000);
        QCOMPARE(page->streamStats(key).pictureWidth, kOnvifW);
        grid->SelectAutoStreamAction();
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), 3, 10000);
        QCOMPARE(page->streamStats(key).pictureWidth, kSdW);
        QCOMPARE(watch.blank, 0);
        dropPage(page);
    }

private:
    // A control line of the simulator for one camera, and whether it sends n streams.
    QString sim(const QString &key, const QString &line) { return m_rig.sim.command(key + QLatin1Char(' ') + line); }
    bool streams(const QString &key, int n) { return sim(key, QStringLiteral("stats")).contains(QStringLiteral("streams=%1").arg(n)); }

    devicetest::P2pRig m_rig;
    OnvifCam m_onvif[2];
};

QTEST_MAIN(TestRealVideo)
#include "tst_realvideo.moc"
