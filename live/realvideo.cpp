#include "live/realvideo.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/metatypes.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/textfield.h"
#include "common/ui/infobox.h"
#include "live/clivestream.h"
#include "live/qmultivideo.h"
#include "live/qvideohand.h"
#include "live/qvideoonly.h"
#include "platform/av/videosink.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/onvif/onvif_event_sdk.h"
#include "platform/rtsp/rtsp_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstring>
#include <set>
#include <shared_mutex>

using namespace varno::live;

namespace {

constexpr int kDescrSize = P2P_STREAM_DESCR_SIZE;
constexpr int kDescrBuffer = P2P_STREAM_DESCR_BUFFER;
constexpr int kAlarmTableHeight = 160;
constexpr int kTableButtonHeight = 14;

// Pages alive, for the library callbacks: a callback runs only while its
// page is registered, and a page leaves the set only when no callback of it
// runs any more (a P2P stream may hand over one more frame after it was
// closed).
std::shared_mutex &pagesLock()
{
    static auto *lock = new std::shared_mutex;
    return *lock;
}

std::set<const void *> &pages()
{
    static auto *set = new std::set<const void *>;
    return *set;
}

QString fieldString(const char *field, size_t size)
{
    return QString::fromUtf8(field, static_cast<qsizetype>(::strnlen(field, size)));
}

template <size_t N>
QString fieldString(const char (&field)[N])
{
    return fieldString(field, N);
}

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

// An RTSP address as it may go into the log: the password is not written.
QByteArray loggableUrl(const char *url)
{
    QUrl u(QString::fromUtf8(url));
    if (u.isValid() && !u.password().isEmpty()) {
        u.setPassword(QStringLiteral("***"));
        return u.toString().toUtf8();
    }
    return QByteArray(url);
}

bool onUiThread(const QObject *o)
{
    return QThread::currentThread() == o->thread();
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

realvideo::realvideo(QWidget *parent, std::shared_ptr<MonitorClock> clock)
    : QWidget(parent), m_clock(clock ? std::move(clock) : std::make_shared<SteadyMonitorClock>())
{
    varno::registerMetaTypes();

    m_alarmTable = new QTableWidget(0, 4, this);
    m_alarmTable->setObjectName(QStringLiteral("alarmTable"));
    m_alarmTable->setHorizontalHeaderLabels({tr("No."), tr("Time"), tr("Alarm type"), tr("Device UUID")});
    const int widths[4] = {80, 200, 160, 250};
    for (int c = 0; c < 4; ++c)
        m_alarmTable->setColumnWidth(c, widths[c]);
    m_alarmTable->horizontalHeader()->setStretchLastSection(true);
    m_alarmTable->horizontalHeader()->setFixedHeight(30);
    m_alarmTable->verticalHeader()->setDefaultSectionSize(18);
    m_alarmTable->verticalHeader()->hide();
    m_alarmTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_alarmTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_alarmTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_alarmTable->hide();

    m_showBtn = new QPushButton(this);
    m_showBtn->setObjectName(QStringLiteral("showTabBtn"));
    m_showBtn->setToolTip(tr("Show"));
    m_showBtn->setText(QStringLiteral("\u25B2"));
    m_hideBtn = new QPushButton(this);
    m_hideBtn->setObjectName(QStringLiteral("hideTabBtn"));
    m_hideBtn->setToolTip(tr("Hide"));
    m_hideBtn->setText(QStringLiteral("\u25BC"));
    m_hideBtn->hide();

    m_tipLabel = new QLabel(this);
    m_tipLabel->setObjectName(QStringLiteral("tipLabel"));
    // The tip's text comes from the translation files; without one loaded
    // the English text stands in for the key.
    QString quit = tr("quit_trip");
    if (quit == QLatin1String("quit_trip"))
        quit = QStringLiteral("Press Esc to exit full screen");
    m_tipLabel->setText(quit);
    QFont f = m_tipLabel->font();
    f.setPixelSize(20);
    m_tipLabel->setFont(f);
    m_tipLabel->setAlignment(Qt::AlignCenter);
    m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:white; background-color:rgba(0,0,0,160);}"));
    m_tipLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tipLabel->hide();
    m_tipTimer = new QTimer(this);

    const int rtspRet = RTSP_Stream_SDKInit();
    if (rtspRet != 0)
        WriteLog(2, "%s(%d):Init failed, ret(%d)!!!", "realvideo::realvideo", __LINE__, rtspRet);

    m_videoOnly = new QVideoOnly(4, this);
    m_videoOnly->setObjectName(QStringLiteral("videoOnly"));

    {
        std::unique_lock lock(pagesLock());
        pages().insert(this);
    }
    ONVIF_EVENT_SDK_SetAlarmCB(&realvideo::onAlarm, this);

    try {
        m_monitor = std::thread(&realvideo::monitorLoop, this);
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "realvideo::realvideo", __LINE__);
    }

    connect(m_videoOnly, &QVideoOnly::SendVideoWinNum, this, &realvideo::RecvVideoWinNum);
    connect(m_videoOnly, &QVideoOnly::CloseVideoWinToVWin, this, &realvideo::CloseVideoWinFromVOnly);
    connect(this, &realvideo::timeOutClose, this, &realvideo::CloseVideoWinFromVOnly);
    connect(m_videoOnly, &QVideoOnly::CapturePicWinToVWin, this, &realvideo::CapturePicWinFromVOnly);
    connect(this, &realvideo::sendUpdate, m_videoOnly, &QVideoOnly::recvUpdate);
    connect(m_alarmTable, &QTableWidget::doubleClicked, this, &realvideo::StopAlarmRecord);
    connect(m_videoOnly, &QVideoOnly::sendRecordCount, this, &realvideo::recvRecordCount);
    connect(m_hideBtn, &QPushButton::clicked, this, &realvideo::hideTabBtn_clicked);
    connect(m_showBtn, &QPushButton::clicked, this, &realvideo::showTabBtn_clicked);
    connect(this, &realvideo::sendCloseVideoToVOnly, m_videoOnly, &QVideoOnly::RecvCloseVideoFromReal);
    connect(this, &realvideo::sendAlarmInfor, this, &realvideo::recvAlarmInfo);
    connect(this, &realvideo::sendStopRecord, m_videoOnly, &QVideoOnly::RecvStopRecord);
    connect(m_videoOnly, &QVideoOnly::SendChangeStream, this, &realvideo::RecvChangeStream);
    connect(m_tipTimer, &QTimer::timeout, this, &realvideo::timeOutStay);
    m_fade = 1.0;
    layoutPage();
}

realvideo::~realvideo()
{
    m_stop = true;
    {
        std::lock_guard lock(m_sleepMutex);
        m_sleep.notify_all();
    }
    if (m_monitor.joinable())
        m_monitor.join();
    m_tipTimer->stop();
    delete m_tipTimer;
    m_tipTimer = nullptr;

    std::lock_guard op(m_opMutex);
    QList<LiveStreamInfo> records;
    {
        QMutexLocker lock(&m_mutex);
        records = m_streams.values();
        m_streams.clear();
        m_winList.clear();
    }
    // Closed outside the table mutex: stopping an RTSP stream waits for its
    // reader thread, which may be waiting for that mutex in a frame callback.
    for (LiveStreamInfo &rec : records) {
        closeStreamRecord(rec);
        delete rec.liveStream;
    }
    ONVIF_EVENT_SDK_SetAlarmCB(nullptr, nullptr);
    for (auto it = m_subscriptions.cbegin(); it != m_subscriptions.cend(); ++it) {
        QByteArray addr = it.value().toUtf8();
        int ret = ONVIF_EVENT_SDK_Unsubscribe(addr.constData());
        if (ret != 0) {
            addr.replace("2000", "8899");
            ret = ONVIF_EVENT_SDK_Unsubscribe(addr.constData());
            if (ret != 0)
                WriteLog(2, "%s(%d):Unsubscribe(%s) failed, ret(%d)!!!", "realvideo::~realvideo", __LINE__,
                         addr.constData(), ret);
        }
    }
    m_subscriptions.clear();
    ONVIF_EVENT_SDK_Cleanup();
    // Waits for a callback of this page that still runs.
    std::unique_lock lock(pagesLock());
    pages().erase(this);
}

// ---------------------------------------------------------------------------
// Layout and the page's own controls

void realvideo::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPage();
}

void realvideo::layoutPage()
{
    const int w = width();
    const int h = height();
    if (m_fullScreen) {
        m_videoOnly->setGeometry(0, 0, w, h);
        m_tipLabel->setGeometry(0, h / 2 - 20, w, 40);
        m_tipLabel->raise();
        return;
    }
    const int tableH = m_tableShown ? std::min(kAlarmTableHeight, h / 3) : 0;
    const int gridH = std::max(0, h - tableH - kTableButtonHeight);
    m_videoOnly->setGeometry(0, 0, w, gridH);
    const int bx = (w - 40) / 2;
    m_showBtn->setGeometry(bx, gridH, 40, kTableButtonHeight);
    m_hideBtn->setGeometry(bx, gridH, 40, kTableButtonHeight);
    m_alarmTable->setGeometry(0, gridH + kTableButtonHeight, w, tableH);
}

void realvideo::hideTabBtn_clicked()
{
    m_tableShown = false;
    m_alarmTable->hide();
    m_hideBtn->hide();
    m_showBtn->show();
    layoutPage();
}

void realvideo::showTabBtn_clicked()
{
    m_tableShown = true;
    m_alarmTable->show();
    m_showBtn->hide();
    m_hideBtn->show();
    layoutPage();
}

void realvideo::setFullScreen(bool on)
{
    m_fullScreen = on;
    if (on) {
        m_alarmTable->hide();
        m_showBtn->hide();
        m_hideBtn->hide();
        m_tipLabel->show();
        m_fade = 1.0;
        m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:rgba(255,255,255,255); background-color:rgba(0,0,0,160);}"));
        m_tipTimer->start(300);
    } else {
        m_tipLabel->hide();
        m_tipTimer->stop();
        m_tableShown = false;
        m_showBtn->show();
    }
    layoutPage();
}

void realvideo::timeOutStay()
{
    m_fade -= 0.1;
    if (m_fade <= 1e-9) { // ten steps from 1.0, whatever the rounding
        m_tipTimer->stop();
        m_tipLabel->hide();
        return;
    }
    const int a = int(m_fade * 255);
    m_tipLabel->setStyleSheet(QStringLiteral("QLabel{color:rgba(255,255,255,%1); background-color:rgba(0,0,0,%2);}")
                                  .arg(a)
                                  .arg(int(m_fade * 160)));
}

void realvideo::btnCount4Clicked() { m_videoOnly->ShowVideoCount(4); }
void realvideo::btnCount8Clicked() { m_videoOnly->ShowVideoCount(8); }
void realvideo::btnCount16Clicked() { m_videoOnly->ShowVideoCount(16); }
void realvideo::btnCount25Clicked() { m_videoOnly->ShowVideoCount(25); }
void realvideo::btnPagePrevClicked() { m_videoOnly->PageBack(); }
void realvideo::btnPageNextClicked() { m_videoOnly->PageForward(); }

void realvideo::RecvCapPathFromConfig(QString path)
{
    m_capPath = path;
}

void realvideo::recvRecordCount(int count)
{
    emit sendRecordCount(count);
}

void realvideo::recvRecordAlarmType(int type)
{
    m_recordAlarmType = type;
}

// ---------------------------------------------------------------------------
// Observation

QString realvideo::audioDevice() const
{
    QMutexLocker lock(&m_mutex);
    return m_audioDevice;
}

QStringList realvideo::streamKeys() const
{
    QMutexLocker lock(&m_mutex);
    return m_streams.keys();
}

QStringList realvideo::subscriptions() const
{
    return m_subscriptions.keys();
}

bool realvideo::streamInfo(const QString &key, LiveStreamInfo *out) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    if (it == m_streams.cend())
        return false;
    if (out)
        *out = it.value();
    return true;
}

bool realvideo::windowInfo(const QString &key, LiveWinInfo *out) const
{
    QMutexLocker lock(&m_mutex);
    for (const LiveWinInfo &w : m_winList) {
        if (fieldString(w.deviceId) == key) {
            if (out)
                *out = w;
            return true;
        }
    }
    return false;
}

realvideo::StreamStats realvideo::streamStats(const QString &key) const
{
    StreamStats s;
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    if (it == m_streams.cend() || !it->liveStream)
        return s;
    const CLiveStream *ls = it->liveStream;
    s.frameCounter = ls->GetFrameCounter();
    s.decodedPictures = int64_t(ls->decodedPictures());
    s.soundOn = ls->soundOn();
    s.paused = ls->paused();
    s.winHandle = it->winHandle;
    const auto sink = varno::av::findVideoSink(it->winHandle);
    if (auto *surface = dynamic_cast<varno::av::FrameSurface *>(sink.get())) {
        s.presentedPictures = int64_t(surface->presentedCount());
        const QSize size = surface->latestSourceSize();
        s.pictureWidth = size.width();
        s.pictureHeight = size.height();
    }
    return s;
}

CLiveStream *realvideo::liveStreamOf(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    return it == m_streams.cend() ? nullptr : it->liveStream;
}

bool realvideo::winUsed(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    for (const LiveWinInfo &w : m_winList)
        if (fieldString(w.deviceId) == key)
            return w.used == 1;
    return false;
}

// ---------------------------------------------------------------------------
// Starting a stream

int realvideo::takeWindow(const DeviceInfo_s &dev, bool selectIfOpen, StartMode mode, int *winIndex,
                          int32_t *winHandle)
{
    const QString key = fieldString(dev.devId);
    const QByteArray id = text8(key);
    bool found = false;
    LiveWinInfo win{};
    {
        QMutexLocker lock(&m_mutex);
        for (const LiveWinInfo &w : m_winList) {
            if (fieldString(w.deviceId) == key) {
                win = w;
                found = true;
                break;
            }
        }
    }
    if (found && win.used == 1) {
        *winIndex = win.winIndex;
        *winHandle = win.winHandle;
        if (win.reconnecting == 0) {
            if (mode == StartMode::Reopen)
                return 2; // opened again meanwhile (a stream switch): nothing to do
            if (selectIfOpen) {
                if (onUiThread(this))
                    m_videoOnly->SelectVideoWin(win.winHandle);
                else
                    QMetaObject::invokeMethod(m_videoOnly, [this, h = win.winHandle] { m_videoOnly->SelectVideoWin(h); },
                                              Qt::QueuedConnection);
                WriteLog(3, "%s(%d):Win(%d) is using!!!", "realvideo::StartStream", __LINE__, win.winHandle);
                return 2;
            }
            WriteLog(3, "%s(%d):This device(%s) switch stream!!!", "realvideo::StartStream", __LINE__, id.constData());
            return 1;
        }
        WriteLog(3, "%s(%d):This device(%s) need to reconnect!!!", "realvideo::StartStream", __LINE__, id.constData());
        return 1;
    }
    if (mode == StartMode::Reopen) {
        // The window was closed while the monitor reopened its stream:
        // nothing to reopen (a window is never taken off the UI thread).
        WriteLog(3, "%s(%d):This device(%s) has no window any more!!!", "realvideo::StartStream", __LINE__,
                 id.constData());
        return -1;
    }
    int index = -1;
    const int ret = m_videoOnly->GetVideoWidget(&index, key, fieldString(dev.devName), 0);
    if (ret < 0) {
        WriteLog(2, "%s(%d):Get available win failed, ret(%d)!!!", "realvideo::StartStream", __LINE__, ret);
        return ret;
    }
    WriteLog(3, "%s(%d):Select window(%d)!!!", "realvideo::StartStream", __LINE__, ret);
    *winIndex = index;
    *winHandle = ret;
    return 0;
}

void realvideo::giveWindowBack(bool switching, int winIndex)
{
    if (!switching)
        m_videoOnly->SetWinUsed(winIndex, false);
}

void realvideo::finishNewWindow(const QString &key, int winIndex)
{
    auto work = [this, key, winIndex] {
        m_videoOnly->OpenVideoWin(winIndex);
        if (m_videoOnly->isAlarmRecording(key))
            if (qmultivideo *w = m_videoOnly->videoWin(winIndex))
                w->hand()->RecvAlarmRecord();
    };
    if (onUiThread(this))
        work();
    else
        QMetaObject::invokeMethod(this, work, Qt::QueuedConnection);
}

int realvideo::StartStream(DeviceInfo_s dev, bool selectIfOpen)
{
    return startP2p(dev, selectIfOpen, StartMode::Ui);
}

int realvideo::StartStream(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen)
{
    return startOnvif(dev, access, selectIfOpen, StartMode::Ui);
}

int realvideo::startP2p(DeviceInfo_s dev, bool selectIfOpen, StartMode mode)
{
    std::lock_guard op(m_opMutex);
    const QString key = fieldString(dev.devId);
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request start device(%s) stream!!!", id.constData());
    int winIndex = -1;
    int32_t winHandle = 0;
    const int taken = takeWindow(dev, selectIfOpen, mode, &winIndex, &winHandle);
    if (taken == 2)
        return 0;
    if (taken < 0)
        return taken;
    const bool switching = taken == 1;
    {
        QMutexLocker lock(&m_mutex);
        m_lastDevice.insert(key, dev);
    }

    const P2P_HANDLE h = varno::p2pHandle();
    const QByteArray p2pId(dev.p2pId, int(::strnlen(dev.p2pId, sizeof dev.p2pId)));
    std::unique_ptr<char[]> descr(new char[kDescrBuffer]);
    std::memset(descr.get(), 0, kDescrBuffer);

    int32_t status = 0;
    P2P_Client_SDK_Get_Session_Status(h, p2pId.constData(), &status);
    if (status != P2P_SESSION_CONNECTED) {
        const int ret = P2P_Client_SDK_Connect_Peer(h, p2pId.constData());
        if (ret < 0) {
            WriteLog(2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                     id.constData(), ret);
            giveWindowBack(switching, winIndex);
            return ret;
        }
    }
    WriteLog(4, "%s(%d):Get_Session_Status p2pStatu(%d)!!!", "realvideo::StartStream", __LINE__, status);

    int32_t count = 0;
    int ret = P2P_Client_SDK_Get_StreamDescr(h, p2pId.constData(), &count, descr.get());
    if (ret < 0) {
        QThread::msleep(100);
        ret = P2P_Client_SDK_Get_StreamDescr(h, p2pId.constData(), &count, descr.get());
        if (ret < 0) {
            WriteLog(2, "%s(%d):Get device(%s) stream descr failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                     id.constData(), ret);
            giveWindowBack(switching, winIndex);
            return ret;
        }
    }
    WriteLog(4, "%s(%d):P2P_Client_SDK_Get_StreamDescr ret(%d)!!!", "realvideo::StartStream", __LINE__, ret);
    if (count <= 0) {
        WriteLog(3, "%s(%d):nStreamNum(%d)!!!", "realvideo::StartStream", __LINE__, count);
        giveWindowBack(switching, winIndex);
        return -1;
    }
    WriteLog(4, "%s(%d):nStreamNum(%d)!!!", "realvideo::StartStream", __LINE__, count);

    // A camera with one stream only has no second entry: it plays its first.
    const int streamType = (dev.streamType == 1 && count >= 2) ? 1 : 0;
    char *entry = descr.get() + streamType * kDescrSize;
    const int32_t one = 1;
    std::memcpy(entry + offsetof(P2P_STREAM_DESCR_S, enabled), &one, sizeof one);
    const int32_t params[3] = {1, 5, 0};
    const QByteArray password(dev.password, int(::strnlen(dev.password, sizeof dev.password)));
    P2P_FRAME_CB cb = &realvideo::StreamCallback;

    // The stream's record (and, for a new window, its decoder) is in the
    // table before the stream is opened: the camera sends the key frame
    // first, often before the open call has returned, and a frame the
    // callback cannot place is lost, leaving the window black until the
    // next key frame (seconds on most cameras).
    CLiveStream *live = nullptr;
    if (!switching) {
        P2P_STREAM_DESCR_S d;
        std::memcpy(&d, entry, sizeof d);
        const int decoderType = (d.videoCodec == 10 || d.videoCodec == 11) ? 2 : 1;
        const int audio[4] = {d.audioCodec == P2P_AUDIO_AAC ? 100 : 102, 1,
                              d.audioSampleRate > 0 ? d.audioBitRate / d.audioSampleRate : 8,
                              d.audioSampleRate};
        live = new CLiveStream(winHandle, decoderType, audio);
        live->SetFailCallback(&realvideo::onDecoderFailure, this);
        live->SetPaused(false);

        LiveWinInfo w{};
        varno::setText(w.deviceId, id);
        std::memcpy(w.name, dev.devName, sizeof dev.devName);
        w.rtspHandle = 0;
        w.reconnecting = 0;
        w.winHandle = winHandle;
        w.used = 1;
        w.winIndex = winIndex;

        LiveStreamInfo rec{};
        rec.discard = 0;
        rec.streamType = streamType;
        rec.winHandle = winHandle;
        rec.reconnectAllowed = 1;
        rec.state = kStateOpened;
        rec.reopenOnStall = 0;
        std::memcpy(rec.deviceId, w.deviceId, sizeof rec.deviceId);
        rec.liveStream = live;
        rec.p2pFlag = uint8_t(dev.p2pFlag);
        std::memcpy(rec.password, dev.password, sizeof rec.password);
        std::memcpy(rec.p2pId, dev.p2pId, sizeof rec.p2pId);
        rec.streamDescr = nullptr; // set once the stream is open (closing needs it)
        QMutexLocker lock(&m_mutex);
        m_winList.append(w);
        m_streams.insert(key, rec);
    } else {
        // A switch or a reopen: the old stream is closed already, so the
        // new stream's frames are taken from its first one on.
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end()) {
            it->streamType = streamType;
            it->discard = 0;
            if (it->liveStream)
                it->liveStream->ClearQueue();
        }
    }

    ret = P2P_Client_SDK_Open_Stream(h, p2pId.constData(), entry, cb, this, params, password.constData(), 0);
    if (ret < 0) {
        WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        if (!switching) {
            {
                QMutexLocker lock(&m_mutex);
                m_streams.remove(key);
                for (int i = 0; i < m_winList.size(); ++i)
                    if (fieldString(m_winList[i].deviceId) == key) {
                        m_winList.removeAt(i);
                        break;
                    }
            }
            delete live; // no callback holds it: the stream never opened
        }
        giveWindowBack(switching, winIndex);
        return ret;
    }

    if (!switching) {
        bool kept = false;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            if (it != m_streams.end() && it->liveStream == live) {
                it->streamDescr = descr.release();
                kept = true;
            }
        }
        if (!kept) {
            // Closed meanwhile (a decoder failure reported at once): the
            // stream has no window any more.
            P2P_Client_SDK_Close_Stream(h, p2pId.constData(), entry);
            return -1;
        }
        finishNewWindow(key, winIndex);
    } else {
        char *old = nullptr;
        bool attached = false;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            if (it != m_streams.end()) {
                old = it->streamDescr;
                it->streamType = streamType;
                it->state = kStateOpened;
                it->reopenOnStall = 0;
                it->streamDescr = descr.release();
                std::memcpy(it->password, dev.password, sizeof it->password);
                attached = true;
            }
            for (LiveWinInfo &w : m_winList)
                if (fieldString(w.deviceId) == key)
                    w.reconnecting = 0;
        }
        delete[] old;
        if (!attached) {
            // The stream was closed meanwhile: the new one has no window.
            P2P_Client_SDK_Close_Stream(h, p2pId.constData(), entry);
            WriteLog(3, "%s(%d):Device(%s) has no stream to switch!!!", "realvideo::StartStream", __LINE__,
                     id.constData());
            return -1;
        }
    }
    WriteLog(0, "[PREVIEW]Start device(%s) stream finished!!!", id.constData());
    return 0;
}

int realvideo::startOnvif(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen, StartMode mode)
{
    std::lock_guard op(m_opMutex);
    const QString key = fieldString(dev.devId);
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request start device(%s) stream!!!", id.constData());
    int winIndex = -1;
    int32_t winHandle = 0;
    const int taken = takeWindow(dev, selectIfOpen, mode, &winIndex, &winHandle);
    if (taken == 2)
        return 0;
    if (taken < 0)
        return taken;
    const bool switching = taken == 1;

    OnvifStreamUriReq_s req;
    std::memset(&req, 0, sizeof req);
    std::memcpy(req.serviceAddr, access.serviceAddr, sizeof req.serviceAddr);
    req.serviceAddr[sizeof req.serviceAddr - 1] = 0;
    std::memcpy(req.configText3, access.configText3, sizeof req.configText3);
    req.configText3[sizeof req.configText3 - 1] = 0;
    std::memcpy(req.mainToken, access.mainToken, sizeof req.mainToken);
    req.mainToken[sizeof req.mainToken - 1] = 0;
    req.channel = dev.streamType == 1 ? 1 : 0;
    WriteLog(4, "%s(%d):streaminfo.channel(%d)!!!", "realvideo::StartStream", __LINE__, req.channel);
    req.transport = 1;
    req.reserved = 0;
    if (dev.password[0] != 0) {
        char password[65] = {};
        std::memcpy(password, dev.password, sizeof dev.password);
        SDK_DVRMGR_SetOnvifCredentials(req.serviceAddr, password);
    }
    char url[kOnvifUriSize] = {};
    int ret = SDK_DVRMGR_GetStreamUri(req, nullptr, url);
    WriteLog(4, "%s(%d):url(%s)!!!", "realvideo::StartStream", __LINE__, loggableUrl(url).constData());
    if (ret != 0) {
        WriteLog(2, "%s(%d):Get device(%s) stream url failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        giveWindowBack(switching, winIndex);
        return ret;
    }
    int32_t handle = 0;
    RTSP_FRAME_CB cb = &realvideo::StreamCallback;
    ret = RTSP_OpenLiveSteam(url, cb, this, &handle);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        giveWindowBack(switching, winIndex);
        return ret;
    }
    WriteLog(4, "%s(%d):streamhdl(%d)!!!", "realvideo::StartStream", __LINE__, handle);
    RTSP_SetSteamDeviceId(handle, id.constData());
    // A new stream's record and decoder are in the table before the stream
    // starts: the camera's first key frame may arrive before the start call
    // has returned, and a frame the callback cannot place is lost.
    CLiveStream *live = nullptr;
    if (!switching) {
        const int audio[4] = {102, 1, 16, 8000};
        live = new CLiveStream(winHandle, 1, audio);
        live->SetFailCallback(&realvideo::onDecoderFailure, this);

        LiveWinInfo w{};
        varno::setText(w.deviceId, id);
        std::memcpy(w.name, dev.devName, sizeof dev.devName);
        w.rtspHandle = handle;
        w.winHandle = winHandle;
        w.used = 1;
        w.winIndex = winIndex;

        LiveStreamInfo rec{};
        rec.streamType = req.channel;
        rec.rtspHandle = handle;
        rec.winHandle = winHandle;
        rec.onvifFlag = 3;
        rec.onvifField = access.reserved;
        rec.reconnectAllowed = 1;
        rec.state = kStateOpened;
        std::memcpy(rec.deviceId, w.deviceId, sizeof rec.deviceId);
        std::memcpy(rec.onvifText1, access.mainToken, sizeof rec.onvifText1);
        std::memcpy(rec.onvifText3, access.configText3, sizeof rec.onvifText3);
        std::memcpy(rec.serviceAddr, access.serviceAddr, sizeof rec.serviceAddr);
        rec.liveStream = live;
        rec.p2pFlag = 0;
        std::memcpy(rec.password, dev.password, sizeof rec.password);
        std::memcpy(rec.p2pId, dev.p2pId, sizeof rec.p2pId);
        QMutexLocker lock(&m_mutex);
        m_winList.append(w);
        m_streams.insert(key, rec);
    }
    ret = RTSP_StartLiveSteam(handle);
    if (ret != 0) {
        bool mine = false;   // the record is still ours to take back (not closed meanwhile)
        if (live) {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            mine = it != m_streams.end() && it->liveStream == live;
            if (mine) {
                m_streams.erase(it);
                for (int i = 0; i < m_winList.size(); ++i)
                    if (fieldString(m_winList[i].deviceId) == key) {
                        m_winList.removeAt(i);
                        break;
                    }
            }
        }
        RTSP_CloseLiveSteam(handle, cb);
        if (mine)
            delete live; // out of the table and the stream closed: no callback holds it
        WriteLog(2, "%s(%d):Start  device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        giveWindowBack(switching, winIndex);
        return ret;
    }

    if (!switching) {
        bool kept = false;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            kept = it != m_streams.end() && it->liveStream == live;
            if (kept)
                m_lastDevice.insert(key, dev);
        }
        if (!kept) {
            // Closed meanwhile (a decoder failure reported at once): the
            // stream has no window any more.
            RTSP_StopLiveSteam(handle);
            RTSP_CloseLiveSteam(handle, cb);
            return -1;
        }
        finishNewWindow(key, winIndex);
    } else {
        int32_t old = 0;
        bool attached = false;
        {
            QMutexLocker lock(&m_mutex);
            m_lastDevice.insert(key, dev);
            for (LiveWinInfo &w : m_winList) {
                if (fieldString(w.deviceId) == key) {
                    w.rtspHandle = handle;
                    w.reconnecting = 0;
                }
            }
            auto it = m_streams.find(key);
            if (it != m_streams.end()) {
                if (it->rtspHandle != handle)
                    old = it->rtspHandle;
                it->state = kStateOpened;
                it->reopenOnStall = 0;
                it->rtspHandle = handle;
                it->streamType = req.channel;
                attached = true;
            }
        }
        // A stream still open under the old handle would feed the same
        // window twice.
        if (old > 0) {
            RTSP_StopLiveSteam(old);
            RTSP_CloseLiveSteam(old, cb);
            WriteLog(0, "[PREVIEW]Close stream handle(%d) finished!!!", old);
        }
        if (!attached) {
            RTSP_StopLiveSteam(handle);
            RTSP_CloseLiveSteam(handle, cb);
            WriteLog(3, "%s(%d):Device(%s) has no stream to switch!!!", "realvideo::StartStream", __LINE__,
                     id.constData());
            return -1;
        }
    }
    WriteLog(0, "[PREVIEW]Start device(%s) stream finished!!!", id.constData());
    return 0;
}

// ---------------------------------------------------------------------------
// Frames

int realvideo::StreamCallback(P2P_HANDLE, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user)
{
    if (size <= 0) {
        WriteLog(2, "%s(%d):Size(%d) failed!!!", "realvideo::StreamCallback", __LINE__, size);
        return -1;
    }
    if (!descr || !user)
        return 0;
    std::shared_lock lock(pagesLock());
    if (!pages().count(user))
        return 0;
    int32_t index = 0;
    std::memcpy(&index, descr + 64, sizeof index);
    return static_cast<realvideo *>(user)->frameArrived(streamKeyFromDescr(descr), true, index, type - 1, data,
                                                        size, frameInfo ? frameInfo[0] : 0,
                                                        frameInfo ? frameInfo[1] : 0);
}

int realvideo::StreamCallback(int32_t, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user)
{
    if (size <= 0) {
        WriteLog(2, "%s(%d):Size(%d) failed!!!", "realvideo::StreamCallback", __LINE__, size);
        return -1;
    }
    if (!descr || !user)
        return 0;
    std::shared_lock lock(pagesLock());
    if (!pages().count(user))
        return 0;
    return static_cast<realvideo *>(user)->frameArrived(streamKeyFromDescr(descr), false, 0, type, data, size,
                                                        frameInfo ? frameInfo[0] : 0,
                                                        frameInfo ? frameInfo[1] : 0);
}

int realvideo::frameArrived(const QString &key, bool p2p, int streamIndex, int type, const char *data, int size,
                            int info0, int info1)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.find(key);
    if (it == m_streams.end() || !it->liveStream)
        return 0;
    if (!p2p) {
        it->liveStream->SetCurrentFrame(data, size, type, info0, info1);
        return 0;
    }
    if (it->discard) {
        it->liveStream->ClearQueue();
        return 0;
    }
    const bool selected = (streamIndex == 0 && it->streamType != 1) || (streamIndex == 1 && it->streamType == 1);
    if (!selected)
        return 0;
    it->liveStream->SetCurrentFrame(data, size, type, info0, info1);
    m_videoOnly->feedLiveFrame(key, data, size, type, uint64_t(uint32_t(info1)));
    return 0;
}

// ---------------------------------------------------------------------------
// Closing

// Ends the library side of a stream taken out of (or about to leave) the
// table. Called with the operation lock held and the table mutex free.
void realvideo::closeStreamRecord(LiveStreamInfo &rec)
{
    if (rec.p2pFlag) {
        if (rec.streamDescr) {
            const int type = rec.streamType == 1 ? 1 : 0;
            P2P_Client_SDK_Close_Stream(varno::p2pHandle(), rec.p2pId, rec.streamDescr + type * kDescrSize);
            delete[] rec.streamDescr;
            rec.streamDescr = nullptr;
            WriteLog(0, "[PREVIEW]Close stream %s finished!!!", text8(fieldString(rec.p2pId)).constData());
        }
    } else if (rec.rtspHandle > 0) {
        RTSP_FRAME_CB cb = &realvideo::StreamCallback;
        RTSP_StopLiveSteam(rec.rtspHandle);
        RTSP_CloseLiveSteam(rec.rtspHandle, cb);
        WriteLog(0, "[PREVIEW]Close stream handle(%d) finished!!!", rec.rtspHandle);
        rec.rtspHandle = 0;
    }
}

void realvideo::CloseVideoWinFromVOnly(QString key)
{
    std::lock_guard op(m_opMutex);
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request close device(%s) win!!!", id.constData());
    bool hasStream = false;
    LiveStreamInfo rec{};
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end()) {
            hasStream = true;
            rec = it.value();
            m_streams.erase(it);
        }
    }
    if (hasStream) {
        WriteLog(0, "[PREVIEW]Finded device(%s) from wndList!!!", id.constData());
        // No frame callback can reach the decoder any more: the record is
        // gone and a callback that had found it held the mutex.
        closeStreamRecord(rec);
        emit sendUpdate();
        delete rec.liveStream;
    }
    {
        QMutexLocker lock(&m_mutex);
        for (int i = 0; i < m_winList.size(); ++i) {
            if (fieldString(m_winList[i].deviceId) == key) {
                m_winList.removeAt(i);
                break;
            }
        }
        if (m_audioDevice == key)
            m_audioDevice.clear();
    }
    WriteLog(0, "[PREVIEW]Close device(%s) win finished!!!", id.constData());
}

// ---------------------------------------------------------------------------
// Snapshot, pause, sound

void realvideo::CapturePicWinFromVOnly(QString key, int channel, int winHandle)
{
    // The snapshot waits for a picture (up to a second): it runs outside the
    // table mutex, with the operation lock keeping the decoder alive.
    std::lock_guard op(m_opMutex);
    CLiveStream *live = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end() && it->winHandle == winHandle)
            live = it->liveStream;
    }
    if (!live)
        return;
    QString title;
    QString text;
    live->SetSnapshotHook([&title, &text](const QString &t, const QString &m) {
        title = t;
        text = m;
    });
    const int ret = live->CapturePicture(m_capPath, key, channel);
    live->SetSnapshotHook(nullptr);
    if (!title.isEmpty())
        m_videoOnly->showSnapshotTip(winHandle, title, text, ret == 0 ? live->lastSnapshotFile() : QString());
}

void realvideo::RecvVideoWinPause(bool pause)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it)
        if (it->liveStream)
            it->liveStream->SetPaused(pause);
}

void realvideo::applyMute()
{
    // m_mutex held.
    if (m_mute.load()) {
        for (auto it = m_streams.begin(); it != m_streams.end(); ++it)
            if (it->liveStream)
                it->liveStream->SetSoundOn(false);
        return;
    }
    bool hasWindow = false;
    for (const LiveWinInfo &w : m_winList)
        if (w.used == 1 && fieldString(w.deviceId) == m_audioDevice)
            hasWindow = true;
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it) {
        if (!it->liveStream)
            continue;
        const bool on = hasWindow && !m_audioDevice.isEmpty() && it.key() == m_audioDevice;
        if (on)
            WriteLog(0, "[PREVIEW]Finded device(%s) from streamHash!!!", text8(it.key()).constData());
        it->liveStream->SetSoundOn(on);
    }
}

void realvideo::setMute(bool mute)
{
    const bool old = m_mute.exchange(mute);
    WriteLog(0, "[PREVIEW]Request mute[%d->%d]!!!", int(old), int(mute));
    {
        QMutexLocker lock(&m_mutex);
        applyMute();
    }
    WriteLog(0, "[PREVIEW]Request mute[%d] finished!!!", int(mute));
}

void realvideo::RecvVideoWinNum(QString key)
{
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request control device(%s) audio!!!", id.constData());
    {
        QMutexLocker lock(&m_mutex);
        m_audioDevice = key;
    }
    setMute(m_mute.load());
    WriteLog(0, "[PREVIEW]Control device(%s) audio finished!!!", id.constData());
}

// ---------------------------------------------------------------------------
// Requests of the main window

void realvideo::recvDevStateRequest(QString key)
{
    emit sendDevStateReslut(winUsed(key));
}

void realvideo::recvOnLineState(STATE_E state, DvrListInfo_s dev)
{
    const QString key = fieldString(dev.dev.devId);
    QMutexLocker lock(&m_mutex);
    bool used = false;
    for (const LiveWinInfo &w : m_winList)
        if (w.used == 1 && fieldString(w.deviceId) == key)
            used = true;
    if (!used)
        return;
    auto it = m_streams.find(key);
    if (it != m_streams.end())
        it->reconnectAllowed = state == STATE_ONLINE ? 1 : 0;
}

void realvideo::setDevInfo(DvrListInfo_s dev)
{
    const QString key = fieldString(dev.dev.devId);
    const QString addr = fieldString(dev.config.eventAddr);
    if (!key.isEmpty() && !addr.isEmpty() && !m_subscriptions.contains(key)) {
        m_subscriptions.insert(key, addr);
        const QByteArray source = "urn:uuid:" + text8(key);
        QByteArray a = addr.toUtf8();
        int ret = ONVIF_EVENT_SDK_Subscribe(a.constData(), source.constData(), ONVIF_EVENT_MODE_PULLPOINT);
        if (ret != 0) {
            a.replace("8090", "8899");
            ret = ONVIF_EVENT_SDK_Subscribe(a.constData(), source.constData(), ONVIF_EVENT_MODE_PULLPOINT);
            if (ret != 0) {
                m_subscriptions.remove(key);
                WriteLog(2, "%s(%d):Subscribe  device(%s) failed, ret(%d)!!!", "realvideo::setDevInfo", __LINE__,
                         text8(key).constData(), ret);
            } else {
                m_subscriptions.insert(key, QString::fromUtf8(a));
            }
        }
    }
    m_videoOnly->setDevInfo(dev);
}

// ---------------------------------------------------------------------------
// Camera messages and the password restart

void realvideo::recvP2pMessage(P2pMessage_S msg)
{
    const QString camera = fieldString(msg.devId);
    const QString key = streamKeyFromCameraId(camera);
    if (key.isEmpty())
        return;
    if (msg.type == P2P_MSG_STREAM_BREAK) {
        WriteLog(0, "[PREVIEW]Stop device(%s) preview!!!", text8(key).constData());
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end())
            it->reopenOnStall = 1;
    } else if (msg.type == P2P_MSG_STREAM_PASSWORD) {
        RestartStream(key);
    }
}

void realvideo::RestartStream(const QString &key)
{
    const QByteArray id = text8(key);
    DeviceInfo_s dev{};
    bool known = false;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_lastDevice.constFind(key);
        if (it != m_lastDevice.cend()) {
            dev = it.value();
            known = true;
        }
    }
    // Only a camera this page asked for a stream is asked about: a notice
    // for any other camera is not this page's to answer.
    if (!known || !dev.p2pFlag) {
        WriteLog(3, "%s(%d):Device(%s) is not known!!!", "realvideo::RestartStream", __LINE__, id.constData());
        return;
    }
    // The boxes below run their own event loops: a second notice for the
    // same camera meanwhile would stack a second pair of boxes on the first.
    if (m_askingPassword.contains(key)) {
        WriteLog(3, "%s(%d):Device(%s) password is being asked already!!!", "realvideo::RestartStream",
                 __LINE__, id.constData());
        return;
    }
    m_askingPassword.insert(key);
    const auto asked = qScopeGuard([this, key] { m_askingPassword.remove(key); });
    WriteLog(2, "%s(%d):Password error, device(%s)!!!", "realvideo::RestartStream", __LINE__, id.constData());
    varno::ui::InfoBox(this, tr("Client"), tr("Password is error, please enter again!"));
    if (winUsed(key)) {
        emit timeOutClose(key);
        emit sendCloseVideoToVOnly(key);
    }
    varno::ui::PromptRequest request;
    request.kind = varno::ui::PromptKind::Password;
    request.title = tr("Client");
    request.text = fieldString(dev.devName);
    request.parent = this;
    const varno::ui::PromptAnswer answer = varno::ui::prompt(request);
    const QByteArray password = answer.button == QMessageBox::Ok ? answer.text.toUtf8().left(63) : QByteArray();
    if (password.isEmpty()) {
        WriteLog(3, "%s(%d):Password is null!!!", "realvideo::RestartStream", __LINE__);
        return;
    }
    varno::setText(dev.password, password);
    emit sendDevProperty(dev);
    const int ret = StartStream(dev, false);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Start device(%s) stream failed, ret(%d)!!!", "realvideo::RestartStream", __LINE__,
                 id.constData(), ret);
        varno::ui::InfoBox(this, tr("Client"), tr("Preview(%1) failed !").arg(key));
    }
    WriteLog(0, "[PREVIEW]Restart device(%s) preview finished!!!", id.constData());
}

// ---------------------------------------------------------------------------
// HD / SD

void realvideo::RecvChangeStream(QString key, int type)
{
    std::lock_guard op(m_opMutex);
    LiveStreamInfo rec{};
    DeviceInfo_s dev{};
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it == m_streams.end())
            return;
        if (it->p2pFlag) {
            it->discard = 1;
            rec = it.value();
            it->streamDescr = nullptr; // closed below
        } else {
            rec = it.value();
            it->rtspHandle = 0;        // closed below
        }
        dev = m_lastDevice.value(key);
    }
    closeStreamRecord(rec);
    {
        QMutexLocker lock(&m_mutex);
        for (LiveWinInfo &w : m_winList)
            if (fieldString(w.deviceId) == key)
                w.rtspHandle = 0;
    }
    if (!winUsed(key))
        return;
    // The record rebuilt from what the stream keeps.
    varno::setText(dev.devId, text8(key));
    LiveWinInfo win{};
    if (windowInfo(key, &win))
        std::memcpy(dev.devName, win.name, sizeof dev.devName);
    std::memcpy(dev.p2pId, rec.p2pId, sizeof dev.p2pId);
    std::memcpy(dev.password, rec.password, sizeof dev.password);
    dev.p2pFlag = char(rec.p2pFlag);
    dev.streamType = type == 1 ? 1 : 0;
    if (rec.p2pFlag) {
        emit sendDevProperty(dev);
        startP2p(dev, false, StartMode::Ui);
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end())
            it->discard = 0;
    } else {
        OnvifAccessInfo_s access{};
        std::memcpy(access.devId, dev.devId, sizeof access.devId);
        std::memcpy(access.configText3, rec.onvifText3, sizeof access.configText3);
        std::memcpy(access.mainToken, rec.onvifText1, sizeof access.mainToken);
        access.rtspPort = 554;
        access.reserved = rec.onvifField;
        std::memcpy(access.serviceAddr, rec.serviceAddr, sizeof access.serviceAddr);
        startOnvif(dev, access, false, StartMode::Ui);
    }
}

// ---------------------------------------------------------------------------
// Failure report of a decoder, alarms

int realvideo::onDecoderFailure(int code, CLiveStream *stream, void *user)
{
    static_cast<realvideo *>(user)->setPlay(code, stream);
    return 0;
}

void realvideo::setPlay(int code, CLiveStream *stream)
{
    QString key;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_streams.cbegin(); it != m_streams.cend(); ++it) {
            if (it->liveStream == stream) {
                key = it.key();
                break;
            }
        }
    }
    if (key.isEmpty()) {
        WriteLog(3, "%s(%d):Hash has not contained handle!!!", "realvideo::setPlay", __LINE__);
        return;
    }
    if (code != -1042) {
        emit timeOutClose(key);
        emit sendCloseVideoToVOnly(key);
    }
}

int realvideo::onAlarm(const EVENT_alarm_info *info, void *user)
{
    if (!info || !user)
        return 0;
    std::shared_lock lock(pagesLock());
    if (!pages().count(user))
        return 0;
    emit static_cast<realvideo *>(user)->sendAlarmInfor(*info);
    return 0;
}

void realvideo::recvAlarmInfo(EVENT_alarm_info info)
{
    for (int r = 0; r < m_alarmTable->rowCount(); ++r) {
        if (QTableWidgetItem *item = m_alarmTable->item(r, 0))
            item->setText(QString::number(item->text().toInt() + 1));
    }
    m_alarmTable->insertRow(0);
    QString typeName;
    switch (info.alarmType) {
    case EVENT_ALARM_VIDEO_BLOCK:
        typeName = tr("Video block alarm");
        break;
    case EVENT_ALARM_IO:
        typeName = tr("IO Alarm");
        break;
    case EVENT_ALARM_MOTION:
        typeName = tr("Motion Detection alarm");
        break;
    default:
        typeName = tr("Disarm");
        break;
    }
    const QString source = fieldString(info.source);
    const QString uuid = source.mid(9);
    const QString cells[4] = {QStringLiteral("1"), fieldString(info.time), typeName, uuid};
    for (int c = 0; c < 4; ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(Qt::AlignCenter);
        m_alarmTable->setItem(0, c, item);
    }
    if (m_recordAlarmType == 1 || (m_recordAlarmType != 0 && m_recordAlarmType == info.alarmType))
        m_videoOnly->RecordAlarmStream(uuid, info.alarmType);
}

void realvideo::StopAlarmRecord(QModelIndex index)
{
    if (!index.isValid()) {
        WriteLog(3, "%s(%d):Index is invalid!!!", "realvideo::StopAlarmRecord", __LINE__);
        return;
    }
    const QTableWidgetItem *item = m_alarmTable->item(index.row(), 3);
    if (!item)
        return;
    const QString key = item->text();
    int32_t handle = 0;
    {
        QMutexLocker lock(&m_mutex);
        bool used = false;
        for (const LiveWinInfo &w : m_winList)
            if (w.used == 1 && fieldString(w.deviceId) == key) {
                used = true;
                handle = w.winHandle;
            }
        auto it = m_streams.constFind(key);
        if (!used || it == m_streams.cend() || it->onvifFlag != 3)
            return;
    }
    m_videoOnly->SelectVideoWin(handle);
}

// ---------------------------------------------------------------------------
// Monitor thread

void realvideo::monitorLoop()
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[PREVIEW]Start run thread!!!");
    QHash<QString, int> last;
    while (!m_stop.load()) {
        struct Item
        {
            QString key;
            LiveStreamInfo rec;
            int current;
        };
        std::vector<Item> items;
        {
            // The frame counters are read here, under the mutex: outside it
            // a window closed meanwhile would leave a dangling decoder.
            QMutexLocker lock(&m_mutex);
            items.reserve(size_t(m_streams.size()));
            for (auto it = m_streams.cbegin(); it != m_streams.cend(); ++it)
                items.push_back({it.key(), it.value(), it->liveStream ? it->liveStream->GetFrameCounter() : 0});
        }
        QHash<QString, int> seen;
        for (const Item &item : items) {
            if (m_stop.load())
                break;
            auto lit = last.find(item.key);
            if (lit == last.end())
                lit = last.insert(item.key, item.current);
            int lastValue = lit.value();
            if (item.rec.p2pFlag)
                updateP2pWin(item.key, item.current, lastValue, item.rec);
            else
                updateOnvifWin(item.key, item.current, lastValue, item.rec);
            seen.insert(item.key, lastValue);
        }
        last = seen;
        std::unique_lock lock(m_sleepMutex);
        m_sleep.wait_for(lock, std::chrono::milliseconds(kMonitorCycleMs), [this] { return m_stop.load(); });
    }
    WriteLog(0, "[PREVIEW]Stop run thread!!!");
}

void realvideo::updateP2pWin(const QString &key, int current, int &last, const LiveStreamInfo &rec)
{
    MonitorInput in;
    in.state = rec.state;
    in.current = current;
    in.last = last;
    in.now = m_clock->nowMs();
    in.startTick = rec.startTick;
    in.winUsed = winUsed(key);
    in.reconnectAllowed = rec.reconnectAllowed == 1;
    in.reopenWanted = [&rec] { return rec.reopenOnStall == 1; };
    applyStep(key, current, last, rec, monitorStep(in));
}

void realvideo::updateOnvifWin(const QString &key, int current, int &last, const LiveStreamInfo &rec)
{
    MonitorInput in;
    in.state = rec.state;
    in.current = current;
    in.last = last;
    in.now = m_clock->nowMs();
    in.startTick = rec.startTick;
    in.winUsed = winUsed(key);
    in.reconnectAllowed = rec.reconnectAllowed == 1;
    in.reopenWanted = [&rec] {
        int32_t status = 0;
        if (rec.rtspHandle <= 0 || RTSP_GetSteamStatus(rec.rtspHandle, &status, 0) != 0)
            return false;
        return status == RTSP_STATUS_BROKEN;
    };
    applyStep(key, current, last, rec, monitorStep(in));
}

void realvideo::applyStep(const QString &key, int current, int &last, const LiveStreamInfo &rec,
                          const MonitorStep &step)
{
    const uint32_t now = m_clock->nowMs();
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        // The stream was closed, replaced or restarted since the snapshot:
        // the next pass looks at it again.
        if (it == m_streams.end() || it->liveStream != rec.liveStream || it->state != rec.state)
            return;
        it->state = step.state;
        if (step.has(MonitorStep::RestartWait))
            it->startTick = now;
        if (step.has(MonitorStep::StallSet))
            it->liveStream->SetStalled(true);
        if (step.has(MonitorStep::StallClear))
            it->liveStream->SetStalled(false);
    }
    if (step.has(MonitorStep::PaintOn))
        m_videoOnly->SetVideoPaint(rec.winHandle, true);
    if (step.has(MonitorStep::PaintOff))
        m_videoOnly->SetVideoPaint(rec.winHandle, false);
    if (step.has(MonitorStep::TakeCurrent))
        last = current;
    if (step.has(MonitorStep::CloseTimedOut)) {
        WriteLog(2, "%s(%d):Init device(%s) timeout!!!", rec.p2pFlag ? "realvideo::updateP2pWin"
                                                                       : "realvideo::updateOnvifWin",
                 __LINE__, text8(key).constData());
        emit sendStopRecord(key);
        emit timeOutClose(key);
        emit sendCloseVideoToVOnly(key);
    }
    if (step.has(MonitorStep::CloseForReopen)) {
        std::lock_guard op(m_opMutex);
        LiveStreamInfo closing{};
        bool found = false;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            // A switch that ran while this waited for the operation lock
            // opened a new stream (state 0): that one stays.
            if (it != m_streams.end() && it->liveStream == rec.liveStream && it->state == kStateReopening) {
                closing = it.value();
                it->streamDescr = nullptr;
                it->rtspHandle = 0;
                found = true;
                for (LiveWinInfo &w : m_winList) {
                    if (fieldString(w.deviceId) == key) {
                        w.reconnecting = 1;
                        if (!rec.p2pFlag)
                            w.rtspHandle = 0;
                    }
                }
            }
        }
        if (found)
            closeStreamRecord(closing);
    }
    if (step.has(MonitorStep::Reopen))
        reopen(key, rec);
}

void realvideo::reopen(const QString &key, const LiveStreamInfo &rec)
{
    DeviceInfo_s dev{};
    {
        QMutexLocker lock(&m_mutex);
        dev = m_lastDevice.value(key);
        for (const LiveWinInfo &w : m_winList)
            if (fieldString(w.deviceId) == key)
                std::memcpy(dev.devName, w.name, sizeof dev.devName);
    }
    varno::setText(dev.devId, text8(key));
    std::memcpy(dev.p2pId, rec.p2pId, sizeof dev.p2pId);
    std::memcpy(dev.password, rec.password, sizeof dev.password);
    dev.p2pFlag = char(rec.p2pFlag);
    dev.streamType = rec.streamType;
    const QByteArray id = text8(key);
    QElapsedTimer burst;
    burst.start();
    if (rec.p2pFlag) {
        WriteLog(3, "%s(%d):reconnection device(%s), status(%d)!!!", "realvideo::updateP2pWin", __LINE__,
                 id.constData(), rec.state);
        while (!m_stop.load() && startP2p(dev, true, StartMode::Reopen) != 0
               && burst.elapsed() < kReopenBurstMs) {
            QThread::msleep(20);
        }
    } else {
        WriteLog(3, "%s(%d):reconnect device(%s)!!!", "realvideo::updateOnvifWin", __LINE__, id.constData());
        OnvifAccessInfo_s access{};
        std::memcpy(access.devId, dev.devId, sizeof access.devId);
        std::memcpy(access.configText3, rec.onvifText3, sizeof access.configText3);
        std::memcpy(access.mainToken, rec.onvifText1, sizeof access.mainToken);
        access.rtspPort = 554;
        access.reserved = rec.onvifField;
        std::memcpy(access.serviceAddr, rec.serviceAddr, sizeof access.serviceAddr);
        while (!m_stop.load() && startOnvif(dev, access, true, StartMode::Reopen) != 0
               && burst.elapsed() < kReopenBurstMs) {
            QThread::msleep(20);
        }
    }
}
