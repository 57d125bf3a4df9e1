// The live view controller against real cameras on loopback: P2P cameras of
// the simulator program on a private broker, ONVIF cameras (SOAP services and
// an RTSP server) in this process, real decoding into the windows' surfaces.
// The monitor's first-picture time-out runs on a clock the test drives.
#include "live/realvideo.h"

#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/promptscript.h"
#include "live/videosurface.h"
#include "live/clivestream.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qtipwidget.h"
#include "live/qvideoonly.h"
#include "live/qvideoplay.h"
#include "live/liverecorder.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_event_sdk.h"
#include "platform/rtsp/rtsp_client.h"
#include "tests/live/liveonvifcamera.h"
#include "tests/support/camsimprocess.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/onviftestconf.h"
#include "tests/support/testenv.h"
#include "tools/camsim/onvifcamera.h"
#include "tools/camsim/rtspserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

using namespace varno::test;
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

QByteArray simConfig(const MqttBroker &broker, const QString &storage)
{
    auto camera = [](const QByteArray &device, const QByteArray &p2pId, const QString &name, int keySeconds) {
        const QString keys = keySeconds ? QStringLiteral(", \"keySeconds\": %1, \"loopSeconds\": %1").arg(keySeconds)
                                        : QStringLiteral(", \"loopSeconds\": 2");
        return QStringLiteral(R"({ "kind": "p2p", "deviceId": "%1", "p2pId": "%2", "name": "%3", "password": "abc123",
      "hd": { "width": %4, "height": %5, "fps": 25, "kbps": 150%8 },
      "sd": { "width": %6, "height": %7, "fps": 25, "kbps": 60%8 } })")
            .arg(QString::fromLatin1(device), QString::fromLatin1(p2pId), name)
            .arg(kHdW).arg(kHdH).arg(kSdW).arg(kSdH)
            .arg(keys);
    };
    QStringList cams;
    for (int n = 1; n <= kP2pCameras; ++n)
        cams << camera(p2pDeviceId(n), p2pCameraId(n), QStringLiteral("Cam %1").arg(n), 0);
    // One camera with a key frame only every 30 s.
    cams << camera(kLongGopDevice, kLongGopCamera, QStringLiteral("Long GOP"), 30);
    return QStringLiteral(R"({ "broker": { "host": "127.0.0.1", "port": %1 }, "storage": "%2", "cameras": [ %3 ] })")
        .arg(broker.port())
        .arg(storage, cams.join(QStringLiteral(",\n")))
        .toUtf8();
}

DeviceInfo_s p2pCamera(int n, const QByteArray &password = "abc123", int streamType = 0)
{
    DeviceInfo_s d;
    std::memset(&d, 0, sizeof d);
    varno::setText(d.devId, p2pDeviceId(n));
    varno::setText(d.devName, "Cam " + QByteArray::number(n));
    varno::setText(d.password, password);
    varno::setText(d.p2pId, p2pCameraId(n));
    d.p2pFlag = 1;
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
std::mutex g_pageMutex;
realvideo *g_page = nullptr;

int onMessage(int32_t type, const char *, int32_t, const char *cameraId, void *)
{
    P2pMessage_S msg;
    std::memset(&msg, 0, sizeof msg);
    varno::setText(msg.devId, cameraId ? cameraId : "");
    msg.type = type;
    std::lock_guard lock(g_pageMutex);
    if (g_page) {
        realvideo *page = g_page;
        QMetaObject::invokeMethod(page, [page, msg] { page->recvP2pMessage(msg); }, Qt::QueuedConnection);
    }
    return 0;
}

void setPage(realvideo *page)
{
    std::lock_guard lock(g_pageMutex);
    g_page = page;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
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

QImage windowImage(const realvideo &page, const QString &key)
{
    LiveWinInfo w{};
    if (!page.windowInfo(key, &w))
        return QImage();
    return page.videoOnly()->videoWin(w.winIndex)->play()->surface()->currentImage();
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

int stateOf(const realvideo &page, const QString &key)
{
    LiveStreamInfo rec{};
    return page.streamInfo(key, &rec) ? rec.state : -1;
}

// A page shown at a size that gives each window a real surface.
std::unique_ptr<realvideo> makePage(std::shared_ptr<varno::live::MonitorClock> clock = nullptr)
{
    auto page = std::make_unique<realvideo>(nullptr, std::move(clock));
    page->resize(640, 520);
    page->show();
    setPage(page.get());
    return page;
}

// Starts a stream and waits for the end of its open: the open's result, or
// StartStream's own when it failed at once.
template <typename... Args>
int openAndWait(realvideo &page, const DeviceInfo_s &dev, Args... args)
{
    const QString key = varno::fieldText(dev.devId);
    QSignalSpy started(&page, &realvideo::streamStarted);
    const int ret = page.StartStream(dev, args...);
    if (ret != 0)
        return ret;
    for (int seen = 0;;) {
        for (; seen < started.size(); ++seen)
            if (started.at(seen).at(0).toString() == key)
                return started.at(seen).at(1).toInt();
        if (!started.wait(20000))
            return INT_MIN; // no answer
    }
}

// Switches a shown camera to its HD (0) or SD (1) stream and waits for the
// end of the new stream's open.
int switchAndWait(realvideo &page, const QString &key, int type)
{
    QSignalSpy started(&page, &realvideo::streamStarted);
    page.RecvChangeStream(key, type);
    for (int seen = 0;;) {
        for (; seen < started.size(); ++seen)
            if (started.at(seen).at(0).toString() == key)
                return started.at(seen).at(1).toInt();
        if (!started.wait(20000))
            return INT_MIN;
    }
}

void dropPage(std::unique_ptr<realvideo> &page)
{
    setPage(nullptr);
    page.reset();
}

} // namespace

class TestRealVideo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void p2pAndOnvifStreamsShowPictures();
    void descriptionRetryAndNoStream();
    void firstPictureTimeOutOnTheMonitorClock();
    void stallReopensOnlyAfterNotice();
    void rtspServerKilledAndBack();
    void closedWhileReopening();
    void stalledWindowShowsReconnectingAfterTwoSeconds();
    void reconnectingLookWhileTheRtspServerIsAway();
    void hdSdSwitchKeepsOnlyTheSelectedStream();
    void windowSizeChoosesTheStreamWithoutABlankPaint();
    void recordingTakesTheMainStreamAcrossSwitches();
    void hiddenWindowsDecodeNothing();
    void firstKeyFrameOfAStreamIsNeverLost();
    void passwordNoticeAsksAndRestarts();
    void secondPasswordNoticeWhileAskingAsksNothing();
    void soundFollowsSelectionAndMute();
    void gridPagesSnapshotAndClosing();
    void fullScreenTipAndAlarmTable();
    void alarmsRecordAsSetAndSelectTheirWindow();
    void eventSubscriptions();
    void onvifHdSdByHand();

private:
    MqttBroker m_broker;
    CamSimProcess m_sim;
    P2P_HANDLE m_handle = 0;
    OnvifCam m_onvif[2];
    int m_baseThreads = 0;
};

void TestRealVideo::initTestCase()
{
    QVERIFY2(QFile::exists(CamSimProcess::programPath()), "varno-camsim not built");
    QVERIFY(writeOnvifConf({QStringLiteral("connect_timeout_ms = 1000"), QStringLiteral("request_timeout_ms = 3000"),
                            QStringLiteral("event_pull_timeout_s = 1"), QStringLiteral("event_retry_ms = 300")}));
    QVERIFY(m_broker.start());
    QVERIFY(m_broker.writeClientConfig());
    QVERIFY2(m_sim.start(simConfig(m_broker, tempRoot() + QStringLiteral("/camera-storage"))),
             qPrintable(m_sim.error()));
    P2P_INIT_INFO_S info;
    std::memset(&info, 0, sizeof info);
    info.version = P2P_INIT_VERSION;
    std::strcpy(info.account, "varno-client");
    std::strcpy(info.appKey, "5D0E2A91C47B38F6A1E09C7D2B64F853");
    QCOMPARE(P2P_Client_SDK_Init(&info, "127.0.0.1", "log", &m_handle), 0);
    QCOMPARE(P2P_Client_SDK_Set_MsgCB(m_handle, onMessage, nullptr), 0);
    QCOMPARE(P2P_Client_SDK_Register(m_handle, 0, 0), 0);
    varno::setP2pHandle(m_handle);

    QVERIFY(m_onvif[0].start("6a1c0de2-3b4f-4a5e-9c8d-000000000001", 0));
    QVERIFY(m_onvif[1].start("6a1c0de2-3b4f-4a5e-9c8d-000000000002", 1));
    QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(m_onvif[0].cam->serviceAddr().c_str(), "admin"), 0);
    QCOMPARE(SDK_DVRMGR_SetOnvifCredentials(m_onvif[1].cam->serviceAddr().c_str(), "admin"), 0);
    QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    QCOMPARE(RTSP_Stream_SDKInit(), 0);
    m_baseThreads = threadCount();
}

void TestRealVideo::cleanupTestCase()
{
    varno::setP2pHandle(0);
    if (m_handle) {
        P2P_Client_SDK_UnRegister(m_handle);
        P2P_Client_SDK_UnInit(m_handle);
    }
    for (OnvifCam &c : m_onvif)
        c.stop();
    m_sim.stop();
    m_broker.stop();
}

void TestRealVideo::cleanup()
{
    setPage(nullptr);
    // Faults a failing case may have left behind.
    m_sim.command(QStringLiteral("all stall all off"));
    m_sim.command(QStringLiteral("all no-key off"));
    m_sim.command(QStringLiteral("all descr-count 2"));
    m_sim.command(QStringLiteral("all fail-descr 0"));
}

// Both kinds of camera put decoded pictures on their windows; opening an
// open camera again only selects its window; the delete check sees it.
void TestRealVideo::p2pAndOnvifStreamsShowPictures()
{
    auto page = makePage();
    QVERIFY(page->monitorRunning());
    const QString p2pKey = QString::fromLatin1(p2pDeviceId(1));
    const QString onvifKey = QString::fromStdString(m_onvif[0].uuid);

    QCOMPARE(openAndWait(*page, p2pCamera(1), true), 0);
    QCOMPARE(openAndWait(*page, m_onvif[0].device(), m_onvif[0].access(), true), 0);
    QCOMPARE(usedWindows(*page), 2);

    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(p2pKey).presentedPictures > 5, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).presentedPictures > 5, 15000);
    QCOMPARE(page->streamStats(p2pKey).pictureWidth, kHdW);
    QCOMPARE(page->streamStats(p2pKey).pictureHeight, kHdH);
    QCOMPARE(page->streamStats(onvifKey).pictureWidth, kOnvifW);
    QTRY_VERIFY_WITH_TIMEOUT(hasContent(windowImage(*page, p2pKey)), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(hasContent(windowImage(*page, onvifKey)), 5000);
    // Playing: the monitor turned the waiting look off.
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, p2pKey), int(varno::live::kStatePlaying), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, onvifKey), int(varno::live::kStatePlaying), 5000);
    LiveWinInfo w1{}, w2{};
    QVERIFY(page->windowInfo(p2pKey, &w1));
    QVERIFY(page->windowInfo(onvifKey, &w2));
    QTRY_VERIFY(!page->videoOnly()->videoWin(w1.winIndex)->play()->painting());
    LiveStreamInfo rec{};
    QVERIFY(page->streamInfo(onvifKey, &rec));
    QCOMPARE(rec.onvifFlag, 3);
    QCOMPARE(int(rec.p2pFlag), 0);
    QVERIFY(rec.rtspHandle > 0);
    QCOMPARE(w2.rtspHandle, rec.rtspHandle);

    // The ONVIF window was opened last and is current; opening the P2P
    // camera again selects its window and opens nothing.
    QCOMPARE(page->videoOnly()->current(), w2.winIndex);
    QCOMPARE(openAndWait(*page, p2pCamera(1), true), 0);
    QCOMPARE(page->videoOnly()->current(), w1.winIndex);
    QCOMPARE(usedWindows(*page), 2);
    QVERIFY(logText().contains(QStringLiteral("Win(%1) is using!!!").arg(w1.winHandle).toUtf8()));

    QSignalSpy state(page.get(), &realvideo::sendDevStateReslut);
    page->recvDevStateRequest(p2pKey);
    page->recvDevStateRequest(QStringLiteral("B999999"));
    QCOMPARE(state.size(), 2);
    QCOMPARE(state.at(0).at(0).toBool(), true);
    QCOMPARE(state.at(1).at(0).toBool(), false);

    // Offline and online reach the stream of a shown camera.
    DvrListInfo_s listed{};
    listed.dev = p2pCamera(1);
    page->recvOnLineState(STATE_OFFLINE, listed);
    QVERIFY(page->streamInfo(p2pKey, &rec));
    QCOMPARE(rec.reconnectAllowed, 0);
    page->recvOnLineState(STATE_ONLINE, listed);
    QVERIFY(page->streamInfo(p2pKey, &rec));
    QCOMPARE(rec.reconnectAllowed, 1);

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

// A refused description request is asked once more; two refusals and a
// camera without streams give the window back.
void TestRealVideo::descriptionRetryAndNoStream()
{
    auto page = makePage();
    const QString key = QString::fromLatin1(p2pDeviceId(2));
    QCOMPARE(m_sim.command(QStringLiteral("%1 fail-descr 1").arg(key)), QStringLiteral("OK fail-descr"));
    QCOMPARE(openAndWait(*page, p2pCamera(2), true), 0);
    QVERIFY(page->streamKeys().contains(key));
    LiveWinInfo w{};
    QVERIFY(page->windowInfo(key, &w));
    page->videoOnly()->CloseVideoWinFromMul(w.winHandle);
    QCOMPARE(usedWindows(*page), 0);
    QVERIFY(page->streamKeys().isEmpty());

    m_sim.command(QStringLiteral("%1 fail-descr 2").arg(key));
    QCOMPARE(openAndWait(*page, p2pCamera(2), true), int(P2P_ERR_REFUSED));
    QCOMPARE(usedWindows(*page), 0);
    QVERIFY(logText().contains("Get device(B100002) stream descr failed, ret(-207)!!!"));

    m_sim.command(QStringLiteral("%1 descr-count 0").arg(key));
    QCOMPARE(openAndWait(*page, p2pCamera(2), true), -1);
    QCOMPARE(usedWindows(*page), 0);
    QVERIFY(page->streamKeys().isEmpty());
    QVERIFY(logText().contains("nStreamNum(0)!!!"));

    // A camera with one stream plays it even when the second was chosen.
    m_sim.command(QStringLiteral("%1 descr-count 1").arg(key));
    QCOMPARE(openAndWait(*page, p2pCamera(2, "abc123", 1), true), 0);
    LiveStreamInfo rec{};
    QVERIFY(page->streamInfo(key, &rec));
    QCOMPARE(rec.streamType, 0);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).presentedPictures > 0, 10000);
    m_sim.command(QStringLiteral("%1 descr-count 2").arg(key));
    dropPage(page);
}

// Frames that never start with a key frame: the window is closed at 10,000
// ms of the monitor's clock and not at 9,999.
void TestRealVideo::firstPictureTimeOutOnTheMonitorClock()
{
    auto clock = std::make_shared<ManualClock>();
    clock->set(50000);
    auto page = makePage(clock);
    const QString key = QString::fromLatin1(p2pDeviceId(3));
    QSignalSpy closed(page.get(), &realvideo::timeOutClose);
    QSignalSpy stopRecord(page.get(), &realvideo::sendStopRecord);
    m_sim.command(QStringLiteral("%1 no-key on").arg(key));
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
        const QString s = m_sim.command(QStringLiteral("%1 stats").arg(key));
        return s.mid(s.indexOf(QStringLiteral("frames=")) + 7).toLongLong();
    };
    const qlonglong sent = framesSent();
    QTRY_VERIFY(framesSent() > sent + 5);
    QCOMPARE(page->streamStats(key).frameCounter, 0);

    clock->set(50000 + 9999);
    QVERIFY(clock->passes(4));
    QCoreApplication::processEvents();
    QCOMPARE(stateOf(*page, key), int(varno::live::kStateWaiting));
    QCOMPARE(closed.size(), 0);

    clock->set(50000 + 10000);
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
    QCOMPARE(stopRecord.size(), 1);
    QCOMPARE(closed.at(0).at(0).toString(), key);
    QTRY_VERIFY(!page->streamKeys().contains(key));
    QTRY_COMPARE(usedWindows(*page), 0);
    QVERIFY(logText().contains("Init device(B100003) timeout!!!"));
    QTRY_VERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=0")));
    m_sim.command(QStringLiteral("%1 no-key off").arg(key));
    dropPage(page);
}

// A stall alone only freezes the picture; after the camera's interruption
// notice (87) a stall closes and reopens the stream.
void TestRealVideo::stallReopensOnlyAfterNotice()
{
    auto clock = std::make_shared<ManualClock>(true);
    auto page = makePage(clock);
    const QString key = QString::fromLatin1(p2pDeviceId(4));
    QCOMPARE(openAndWait(*page, p2pCamera(4), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
    CLiveStream *live = page->liveStreamOf(key);

    m_sim.command(QStringLiteral("%1 stall 0 on").arg(key));
    // The monitor sees no new frame for a few passes.
    int frames = -1;
    QTRY_VERIFY_WITH_TIMEOUT(clock->settled(2, frames, [&] { return page->streamStats(key).frameCounter; }), 10000);
    QVERIFY(clock->passes(4));
    QCoreApplication::processEvents();
    QCOMPARE(stateOf(*page, key), int(varno::live::kStatePlaying));
    QVERIFY(!logText().contains("reconnection device(B100004)"));
    m_sim.command(QStringLiteral("%1 stall 0 off").arg(key));
    const int64_t before = page->streamStats(key).decodedPictures;
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > before + 5, 5000);

    QVERIFY(m_sim.command(QStringLiteral("%1 notice 87 0").arg(key)).startsWith(QStringLiteral("OK notice")));
    LiveStreamInfo rec{};
    QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &rec) && rec.reopenOnStall == 1, 5000);
    QVERIFY(logText().contains("[PREVIEW]Stop device(B100004) preview!!!"));
    m_sim.command(QStringLiteral("%1 stall 0 on").arg(key));
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("reconnection device(B100004), status(3)!!!"), 5000);
    // Reopened: a new description and the flag cleared, same decoder and window.
    QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &rec) && rec.reopenOnStall == 0 && rec.streamDescr != nullptr,
                             5000);
    QCOMPARE(page->liveStreamOf(key), live);
    LiveWinInfo w{};
    QVERIFY(page->windowInfo(key, &w));
    QCOMPARE(w.reconnecting, 0);
    QVERIFY(logText().contains("Close stream VRNB-100004-KXPQT finished!!!"));
    m_sim.command(QStringLiteral("%1 stall 0 off").arg(key));
    const int64_t mark = page->streamStats(key).decodedPictures;
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 5, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 5000);
    QVERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=1")));
    dropPage(page);
}

// The RTSP server goes away: the broken connection is seen, the stream is
// closed and reopened, each attempt later than the one before, with the
// stream address asked again while they fail, and the failures logged once,
// until the server is back (on another port); a picture starts the spacing
// afresh.
void TestRealVideo::rtspServerKilledAndBack()
{
    auto page = makePage();
    OnvifCam &cam = m_onvif[1];
    const QString key = QString::fromStdString(cam.uuid);
    QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
    LiveStreamInfo rec{};
    QVERIFY(page->streamInfo(key, &rec));
    const int32_t firstHandle = rec.rtspHandle;

    varno::live::LiveController *ctl = page->controller();
    const QByteArray reconnect = QStringLiteral("reconnect device(%1)!!!").arg(key).toUtf8();
    const QByteArray counted = QStringLiteral("Reopen device(%1) failed").arg(key).toUtf8();
    const qsizetype reconnectBefore = logText().count(reconnect);
    const qsizetype openFailedBefore = logText().count("Open device(" + key.toUtf8() + ") stream failed");
    QCOMPARE(ctl->streamUriRequests(key), 1);
    cam.rtsp->stop();
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStateReopening), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains(reconnect), 3000);
    QVERIFY(logText().contains(QStringLiteral("Close stream handle(%1) finished!!!").arg(firstHandle).toUtf8()));
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
void TestRealVideo::closedWhileReopening()
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
    QTRY_VERIFY_WITH_TIMEOUT(
        m_sim.command(QStringLiteral("%1 stats").arg(QLatin1String(p2pDeviceId(9)))).contains(QStringLiteral("streams=0")),
        5000);
    QVERIFY(cam.rtsp->restart());
}

// A P2P stream that stops without a notice keeps playing for the monitor;
// its window shows "reconnecting" once no picture came for 2,000 ms of the
// monitor's clock (1,999 ms are not enough), and the next picture clears it.
void TestRealVideo::stalledWindowShowsReconnectingAfterTwoSeconds()
{
    auto clock = std::make_shared<ManualClock>();
    auto page = makePage(clock);
    const QString key = QString::fromLatin1(p2pDeviceId(6));
    QSignalSpy looks(page.get(), &realvideo::sendLiveReconnecting);
    QCOMPARE(openAndWait(*page, p2pCamera(6), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
    QVideoPlay *play = playOf(*page, key);
    QVERIFY(play);

    m_sim.command(QStringLiteral("%1 stall 0 on").arg(key));
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

    m_sim.command(QStringLiteral("%1 stall 0 off").arg(key));
    QTRY_VERIFY_WITH_TIMEOUT(!play->reconnecting(), 10000);
    QVERIFY(page->streamStats(key).decodedPictures > pictures);
    QVERIFY(play->surface()->notice().isEmpty());
    QCOMPARE(looks.size(), 2);
    QCOMPARE(looks.at(1).at(1).toBool(), false);

    // Closed while reconnecting: the window is free of the look, the tree hears of it.
    m_sim.command(QStringLiteral("%1 stall 0 on").arg(key));
    QTRY_VERIFY_WITH_TIMEOUT(clock->settled(3, pictures, [&] { return page->streamStats(key).decodedPictures; }), 10000);
    clock->set(1000 + 3 * varno::live::kReconnectingAfterMs);
    QTRY_VERIFY_WITH_TIMEOUT(play->reconnecting(), 5000);
    page->videoOnly()->CloseVideoWinFromMul(play->nativeHandle()); // its Close button
    QVERIFY(!play->reconnecting());
    QCOMPARE(looks.size(), 4);
    QCOMPARE(looks.at(3).at(1).toBool(), false);
    m_sim.command(QStringLiteral("%1 stall 0 off").arg(key));
    dropPage(page);
}

// The RTSP server goes away: the window keeps its last picture, dimmed,
// with "Reconnecting..." while the stream is reopened, and shows bright
// pictures again from the first one after the server is back.
void TestRealVideo::reconnectingLookWhileTheRtspServerIsAway()
{
    auto page = makePage();
    OnvifCam &cam = m_onvif[1]; // a ball on a green background: light everywhere
    const QString key = QString::fromStdString(cam.uuid);
    QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*page, key), int(varno::live::kStatePlaying), 10000);
    QVideoPlay *play = playOf(*page, key);
    QVERIFY(play);
    varno::live::VideoSurface *surface = play->surface();
    QTRY_VERIFY_WITH_TIMEOUT(hasContent(surface->grab().toImage()), 5000);
    QVERIFY(!play->reconnecting());

    cam.rtsp->stop();
    QTRY_VERIFY_WITH_TIMEOUT(play->reconnecting(), 10000);
    QVERIFY(page->controller()->isReconnecting(key));
    // The last picture stays, at a third of its brightness.
    const QImage last = surface->currentImage().scaled(surface->size());
    const QImage shown = surface->grab().toImage().scaled(surface->size());
    const qint64 lit = brightnessBesideText(last);
    QVERIFY(lit > 0);
    QVERIFY2(brightnessBesideText(shown) * 2 < lit, qPrintable(QStringLiteral("%1 of %2").arg(brightnessBesideText(shown)).arg(lit)));
    QVERIFY(hasContent(shown));
    const int64_t mark = page->streamStats(key).decodedPictures;

    QVERIFY(cam.rtsp->restart());
    QTRY_VERIFY_WITH_TIMEOUT(!play->reconnecting(), 20000);
    QVERIFY(page->streamStats(key).decodedPictures > mark);
    QVERIFY(!page->controller()->isReconnecting(key));
    const QImage again = surface->grab().toImage().scaled(surface->size());
    QVERIFY(brightnessBesideText(again) * 2 > brightnessBesideText(surface->currentImage().scaled(surface->size())));
    dropPage(page);
}

// Switching to SD: the main window hears of the new choice, the pictures
// change size, and frames of the HD stream are dropped from then on.
void TestRealVideo::hdSdSwitchKeepsOnlyTheSelectedStream()
{
    auto clock = std::make_shared<ManualClock>(true);
    auto page = makePage(clock);
    const QString key = QString::fromLatin1(p2pDeviceId(5));
    QSignalSpy property(page.get(), &realvideo::sendDevProperty);
    QCOMPARE(openAndWait(*page, p2pCamera(5), true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
    // An interruption notice just before: the monitor must not take the
    // frames dropped during the switch for a stall and close the new stream.
    m_sim.command(QStringLiteral("%1 notice 87 0").arg(key));
    LiveStreamInfo noticed{};
    QTRY_VERIFY_WITH_TIMEOUT(page->streamInfo(key, &noticed) && noticed.reopenOnStall == 1, 5000);

    QCOMPARE(switchAndWait(*page, key, 1), 0);
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
    m_sim.command(QStringLiteral("%1 stall all on").arg(key));
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
    // "urn:" and "urn:uuid:" in front of the ID are not part of the key.
    char urn[68] = {};
    std::memcpy(urn, "urn:uuid:B100005", 16);
    std::memcpy(urn + 64, &index, 4);
    varno::live::LiveController::StreamCallback(P2P_HANDLE(1), urn, info, 1, slice, int(sizeof slice), page->controller());
    QCOMPARE(page->streamStats(key).frameCounter, counter + 2);
    std::memcpy(urn, "urn:B100005\0\0\0\0\0", 16);
    varno::live::LiveController::StreamCallback(P2P_HANDLE(1), urn, info, 1, slice, int(sizeof slice), page->controller());
    QCOMPARE(page->streamStats(key).frameCounter, counter + 3);
    // An empty frame is refused.
    QCOMPARE(varno::live::LiveController::StreamCallback(P2P_HANDLE(1), descr, info, 1, slice, 0, page->controller()), -1);
    m_sim.command(QStringLiteral("%1 stall all off").arg(key));

    // And back to HD.
    page->RecvChangeStream(key, 0);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
    QTRY_VERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=1")));

    // An ONVIF camera switches over RTSP.
    OnvifCam &cam = m_onvif[0];
    const QString onvifKey = QString::fromStdString(cam.uuid);
    QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).pictureWidth == kOnvifW, 10000);
    QVERIFY(page->streamInfo(onvifKey, &rec));
    const int32_t hdHandle = rec.rtspHandle;
    page->RecvChangeStream(onvifKey, 1);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).pictureWidth == kSdW, 10000);
    QVERIFY(page->streamInfo(onvifKey, &rec));
    QVERIFY(rec.rtspHandle != hdHandle);
    QCOMPARE(rec.streamType, 1);
    dropPage(page);
}

namespace {

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

// Picture rows of a stream's sequence parameter sets, as a recorder saw them.
struct SpsLog
{
    std::mutex mutex;
    QSet<QByteArray> sps;
    std::atomic<int> frames{0};
};

class SpsRecorder final : public LiveRecorder
{
public:
    explicit SpsRecorder(std::shared_ptr<SpsLog> log) : m_log(std::move(log)) {}
    void pushFrame(int type, const char *data, int size, uint64_t) override
    {
        ++m_log->frames;
        if (type == 104) {
            std::lock_guard lock(m_log->mutex);
            m_log->sps.insert(QByteArray(data, size));
        }
    }
    int setAlarmType(int) override { return 0; }
    void stop() override {}

private:
    std::shared_ptr<SpsLog> m_log;
};

} // namespace

// A wall of 25 small windows shows the camera's sub stream; maximised, the
// window shows its main stream, and restored the sub stream again. The old
// stream paints until the new one's first picture: no paint across the
// switches shows the idle look or an empty picture. A choice by hand wins
// until "Choose stream by window size" clears it.
void TestRealVideo::windowSizeChoosesTheStreamWithoutABlankPaint()
{
    auto page = makePage();
    QVideoOnly *grid = page->videoOnly();
    grid->ShowVideoCount(25);
    page->resize(320, 240); // windows of about 59 x 19 pixels: below 55 % of 128 x 72
    const QString key = QString::fromLatin1(p2pDeviceId(11));
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
        QTRY_VERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=1")));
        QTest::mouseDClick(grid, Qt::LeftButton, {}, windowCentre(*page, key));
        QVERIFY(!grid->isMaximised());
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(key), done + 2, 10000);
    }
    QVERIFY(watch.paints > 0);
    QCOMPARE(watch.blank, 0);
    QTRY_VERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=1")));

    // HD by hand: the small window shows the main stream and keeps it.
    LiveWinInfo w{};
    QVERIFY(page->windowInfo(key, &w));
    QCOMPARE(grid->current(), w.winIndex);
    grid->prepareContextMenu();
    QVERIFY(grid->autoStreamAction()->property("marked").toBool());
    QVERIFY(grid->hdAction()->isEnabled());
    QSignalSpy started(page.get(), &realvideo::streamStarted);
    grid->SelectHdAction();
    QCOMPARE(ctl->manualStream(key), 0);
    QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, 10000);
    QCOMPARE(started.at(0).at(1).toInt(), 0);
    QVERIFY(grid->hasManualStream(key));
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kHdW, 10000);
    const int64_t mark = page->streamStats(key).decodedPictures;
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).decodedPictures > mark + 25, 10000);
    QCOMPARE(page->streamStats(key).pictureWidth, kHdW);
    grid->prepareContextMenu();
    QVERIFY(!grid->autoStreamAction()->property("marked").toBool());
    // Cleared: the window follows its size again.
    grid->SelectAutoStreamAction();
    QCOMPARE(ctl->manualStream(key), -1);
    QVERIFY(grid->autoStream());
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(key).pictureWidth == kSdW, 10000);

    // An ONVIF camera: its profiles' sizes are asked once, then the small
    // window goes over to the smaller profile through a second RTSP session.
    OnvifCam &cam = m_onvif[0];
    const QString onvifKey = QString::fromStdString(cam.uuid);
    QCOMPARE(openAndWait(*page, cam.device(), cam.access(), true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(onvifKey).pictureWidth == kSdW, 15000);
    QCOMPARE(ctl->streamSize(onvifKey, 0), QSize(kOnvifW, kOnvifH));
    QTRY_COMPARE_WITH_TIMEOUT(ctl->switchesDone(onvifKey), 1, 10000);
    LiveStreamInfo onvifRec{};
    QVERIFY(page->streamInfo(onvifKey, &onvifRec));
    QCOMPARE(onvifRec.streamType, 1);

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
void TestRealVideo::recordingTakesTheMainStreamAcrossSwitches()
{
    auto page = makePage();
    QVideoOnly *grid = page->videoOnly();
    grid->ShowVideoCount(25);
    page->resize(320, 240);
    auto log = std::make_shared<SpsLog>();
    grid->setRecorderFactory([log](const DvrListInfo_s &, int) -> std::unique_ptr<LiveRecorder> {
        return std::make_unique<SpsRecorder>(log);
    });
    const QString key = QString::fromLatin1(p2pDeviceId(12));
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
void TestRealVideo::hiddenWindowsDecodeNothing()
{
    auto page = makePage();
    QVideoOnly *grid = page->videoOnly();
    const QString key = QString::fromLatin1(p2pDeviceId(13));
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
    QVERIFY(m_sim.command(QStringLiteral("%1 stats").arg(key)).contains(QStringLiteral("streams=1")));

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
void TestRealVideo::firstKeyFrameOfAStreamIsNeverLost()
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
// the main window hears of it and the stream starts with it.
void TestRealVideo::passwordNoticeAsksAndRestarts()
{
    PromptScript prompts;
    auto page = makePage();
    const QString key = QString::fromLatin1(p2pDeviceId(6));
    QSignalSpy property(page.get(), &realvideo::sendDevProperty);

    prompts.answer(QMessageBox::Ok);
    prompts.answer(QMessageBox::Ok, QStringLiteral("abc123"));
    // The refused open and the camera's notice reach the page in either
    // order; the prompt follows both.
    QCOMPARE(page->StartStream(p2pCamera(6, "wrong"), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(prompts.count(), 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(page->streamKeys().contains(key), 10000);
    QVERIFY(logText().contains("Open device(B100006) stream failed, ret(-207)!!!"));
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
    QVERIFY(logText().contains("Password error, device(B100006)!!!"));
    QVERIFY(logText().contains("[PREVIEW]Restart device(B100006) preview finished!!!"));
    LiveWinInfo w{};
    QVERIFY(page->windowInfo(key, &w));
    page->videoOnly()->CloseVideoWinFromMul(w.winHandle);
    QCOMPARE(usedWindows(*page), 0);

    // Cancelled: nothing is started.
    prompts.take();
    QCOMPARE(page->StartStream(p2pCamera(6, "wrong again"), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(prompts.count(), 2, 10000);
    QVERIFY(logText().contains("Password is null!!!"));
    QTRY_VERIFY(page->streamKeys().isEmpty());
    QTRY_COMPARE(usedWindows(*page), 0);

    // The notice for a camera this page never opened asks nothing.
    P2pMessage_S other{};
    varno::setText(other.devId, p2pCameraId(17));
    other.type = P2P_MSG_STREAM_PASSWORD;
    const int promptsBefore = prompts.count();
    page->recvP2pMessage(other);
    QCOMPARE(prompts.count(), promptsBefore);
    QVERIFY(logText().contains("Device(B100017) is not known!!!"));
    dropPage(page);
}

// A real prompt runs its own event loop: a second notice for the same camera
// delivered meanwhile asks nothing more (no second pair of boxes).
void TestRealVideo::secondPasswordNoticeWhileAskingAsksNothing()
{
    PromptScript prompts;
    auto page = makePage();
    P2pMessage_S again{};
    varno::setText(again.devId, p2pCameraId(6));
    again.type = P2P_MSG_STREAM_PASSWORD;
    const varno::ui::PromptHandler script = varno::ui::setPromptHandler({});
    int passwordPrompts = 0;
    varno::ui::setPromptHandler([&](const varno::ui::PromptRequest &r) {
        if (r.kind == PromptKind::Password && passwordPrompts++ == 0)
            page->recvP2pMessage(again);
        return script(r);
    });
    QCOMPARE(page->StartStream(p2pCamera(6, "wrong"), true), 0);
    QTRY_COMPARE_WITH_TIMEOUT(passwordPrompts, 1, 10000);
    // The second notice has been handled (its log line) without a prompt.
    QTRY_VERIFY(logText().contains("Device(B100006) password is being asked already!!!"));
    QCOMPARE(passwordPrompts, 1);
    QCOMPARE(prompts.count(), 2); // the information box and the password prompt, once
    // Once answered, a new notice asks again.
    page->recvP2pMessage(again);
    QCOMPARE(passwordPrompts, 2);
    varno::ui::setPromptHandler(script);
    dropPage(page);
}

// Sound plays in the selected window only, and nowhere while muted.
void TestRealVideo::soundFollowsSelectionAndMute()
{
    auto page = makePage();
    const QString a = QString::fromLatin1(p2pDeviceId(7));
    const QString b = QString::fromLatin1(p2pDeviceId(8));
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
    QVERIFY(logText().contains("[PREVIEW]Request mute[1->0]!!!"));

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

    page->RecvVideoWinPause(true);
    QVERIFY(page->streamStats(a).paused);
    page->RecvVideoWinPause(false);
    QVERIFY(!page->streamStats(a).paused);
    dropPage(page);
}

// Sixteen streams: the fifth lands on window 5 (next page of 4), pages
// move, 25 per page makes paging do nothing, a channel of 25 is refused;
// a snapshot; closing one window ends its stream and decoder, closing the
// page leaves no thread behind.
void TestRealVideo::gridPagesSnapshotAndClosing()
{
    const int base = threadCount();
    auto page = makePage();
    QVideoOnly *grid = page->videoOnly();
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(openAndWait(*page, p2pCamera(n), true), 0);
    QCOMPARE(usedWindows(*page), 16);
    LiveWinInfo fifth{};
    QVERIFY(page->windowInfo(QString::fromLatin1(p2pDeviceId(5)), &fifth));
    QCOMPARE(fifth.winIndex, 4);
    QCOMPARE(grid->count(), 4);
    QCOMPARE(grid->first(), 0);
    page->btnPageNextClicked();
    QCOMPARE(grid->first(), 4);
    page->btnPagePrevClicked();
    QCOMPARE(grid->first(), 0);
    page->btnCount25Clicked();
    QCOMPARE(grid->count(), 25);
    page->btnPageNextClicked();
    QCOMPARE(grid->first(), 0);
    page->btnPagePrevClicked();
    QCOMPARE(grid->first(), 0);
    page->btnCount16Clicked();
    QCOMPARE(grid->count(), 16);
    int index = -1;
    QCOMPARE(grid->GetVideoWidget(&index, QStringLiteral("B999999"), QStringLiteral("x"), 25), -3);
    QCOMPARE(usedWindows(*page), 16);

    for (int n = 1; n <= 16; ++n)
        QTRY_VERIFY_WITH_TIMEOUT(page->streamStats(QString::fromLatin1(p2pDeviceId(n))).presentedPictures > 0, 20000);

    // Snapshot of window 5.
    const QString folder = tempRoot() + QStringLiteral("/snaps");
    page->RecvCapPathFromConfig(folder);
    grid->CapturePicWinFromMul(fifth.winHandle);
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^B100005-\\d{8}-\\d{6}-0\\.bmp$")).match(files.at(0)).hasMatch(),
             qPrintable(files.at(0)));
    const int w = page->streamStats(QString::fromLatin1(p2pDeviceId(5))).pictureWidth;
    const int h = page->streamStats(QString::fromLatin1(p2pDeviceId(5))).pictureHeight;
    QCOMPARE(QFileInfo(folder + QLatin1Char('/') + files.at(0)).size(), qint64(w) * h * 3 + 54);
    QVERIFY(grid->tipOfWindow(4));

    // Closing window 5 from its title bar: stream and decoder end.
    const int withSixteen = threadCount();
    grid->CloseVideoWinFromMul(fifth.winHandle);
    QVERIFY(!page->streamKeys().contains(QString::fromLatin1(p2pDeviceId(5))));
    QCOMPARE(usedWindows(*page), 15);
    QTRY_VERIFY(threadCount() < withSixteen);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_sim.command(QStringLiteral("%1 stats").arg(QLatin1String(p2pDeviceId(5)))).contains(QStringLiteral("streams=0")),
        5000);

    dropPage(page);
    QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= base, 5000);
    for (int n = 1; n <= 16; ++n)
        QTRY_VERIFY_WITH_TIMEOUT(
            m_sim.command(QStringLiteral("%1 stats").arg(QLatin1String(p2pDeviceId(n)))).contains(QStringLiteral("streams=0")),
            5000);
    QVERIFY(logText().contains("[PREVIEW]Stop run thread!!!"));
}

void TestRealVideo::fullScreenTipAndAlarmTable()
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
    QVERIFY(page->tipLabel()->isVisible());
    QCOMPARE(page->fadeValue(), 1.0);
    QCOMPARE(page->videoOnly()->geometry(), page->rect());
    for (int i = 0; i < 9; ++i)
        page->timeOutStay();
    QVERIFY(page->tipLabel()->isVisible());
    page->timeOutStay();
    QVERIFY(!page->tipLabel()->isVisible());
    page->setFullScreen(false);
    QVERIFY(page->showTableButton()->isVisible());
    QVERIFY(!page->tipLabel()->isVisible());

    // Alarm rows (newest first, renumbered, the camera without "urn:uuid:")
    // are checked with the alarm recordings and the event subscriptions.
    page->StopAlarmRecord(QModelIndex());
    QVERIFY(logText().contains("Index is invalid!!!"));
    dropPage(page);
}

namespace {

struct AlarmRecorderLog
{
    std::atomic<int> created{0};
    std::atomic<int> lastAlarmType{-1};
    std::atomic<int> stops{0};
};

class NotingRecorder final : public LiveRecorder
{
public:
    explicit NotingRecorder(std::shared_ptr<AlarmRecorderLog> log)
        : m_log(std::move(log))
    {
    }
    void pushFrame(int, const char *, int, uint64_t) override {}
    int setAlarmType(int type) override
    {
        m_log->lastAlarmType = type;
        return 0;
    }
    void stop() override { ++m_log->stops; }

private:
    std::shared_ptr<AlarmRecorderLog> m_log;
};

} // namespace

// An alarm records only when the storage setting asks for it (1: every
// alarm, else that type), a disarm ends the alarm recording, and a double
// click on an alarm row selects the window of that ONVIF camera.
void TestRealVideo::alarmsRecordAsSetAndSelectTheirWindow()
{
    auto page = makePage();
    QVideoOnly *grid = page->videoOnly();
    auto log = std::make_shared<AlarmRecorderLog>();
    grid->setRecorderFactory([log](const DvrListInfo_s &, int alarmType) -> std::unique_ptr<LiveRecorder> {
        ++log->created;
        log->lastAlarmType = alarmType;
        return std::make_unique<NotingRecorder>(log);
    });
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
    QCOMPARE(log->lastAlarmType.load(), 3); // an IO alarm's file type
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
// thread); an address on port 8090 that does not answer is tried again on
// 8899; the page unsubscribes when it goes.
void TestRealVideo::eventSubscriptions()
{
    QCOMPARE(ONVIF_EVENT_SDK_Startup("127.0.0.1"), 0);
    OnvifCam &cam = m_onvif[0];
    auto page = makePage();
    QSignalSpy alarms(page.get(), &realvideo::sendAlarmInfor);
    page->setDevInfo(cam.listed());
    page->setDevInfo(cam.listed());
    QTRY_COMPARE_WITH_TIMEOUT(page->subscriptions(), QStringList{QString::fromStdString(cam.uuid)}, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cam.cam->activeSubscriptions(), 1, 5000);
    cam.cam->raiseEvent(COnvifCamera::Event::Motion, true);
    QTRY_VERIFY_WITH_TIMEOUT(page->alarmTable()->rowCount() >= 1, 10000);
    QCOMPARE(page->alarmTable()->item(0, 3)->text(), QString::fromUtf8(cam.listed().dev.devName));
    QCOMPARE(page->alarmTable()->item(0, 3)->data(Qt::UserRole).toString(), QString::fromStdString(cam.uuid));
    QCOMPARE(page->alarmTable()->item(0, 2)->text(), QStringLiteral("Motion Detection alarm"));
    cam.cam->raiseEvent(COnvifCamera::Event::Motion, false);

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

// ONVIF, HD by hand: main profile without a blank paint, kept against the
// window's size until cleared. With one profile, neither HD nor SD.
void TestRealVideo::onvifHdSdByHand()
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

QTEST_MAIN(TestRealVideo)
#include "tst_realvideo.moc"
