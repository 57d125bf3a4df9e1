#include "live/livecontroller.h"

#include "common/crashhandler.h"
#include "common/logfile.h"
#include "common/p2phandle.h"
#include "common/p2precords.h"
#include "common/secretmask.h"
#include "common/textfield.h"
#include "common/uithread.h"
#include "live/clivestream.h"
#include "live/streamchoice.h"
#include "platform/av/videosink.h"
#include "platform/devmgr/sdk_dvrmgr.h"
#include "platform/p2p/p2psession.h"
#include "platform/rtsp/rtsp_client.h"

#include <QUrl>

#include <chrono>
#include <cstring>
#include <set>
#include <shared_mutex>
#include <system_error>

// A line of an open that may be a repeated reopen failure: written for the
// first failure of a run only.
#define OPEN_LOG(req, ...)                                                                                         \
    do {                                                                                                           \
        if (!(req).quiet)                                                                                          \
            WriteLog(__VA_ARGS__);                                                                                 \
    } while (0)

namespace varno::live {

namespace {

// The clock of the stream address asks (the monitor's clock counts its own
// passes; a job thread does not read it).
uint64_t uriClockMs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

constexpr int kDescrSize = P2P_STREAM_DESCR_SIZE;
constexpr int kDescrBuffer = P2P_STREAM_DESCR_BUFFER;

// Controllers alive, for the library callbacks: a callback runs only while
// its controller is registered, and a controller leaves the set only when no
// callback of it runs any more (a P2P stream may hand over one more frame
// after it was closed).
std::shared_mutex &controllersLock()
{
    static auto *lock = new std::shared_mutex;
    return *lock;
}

std::set<const void *> &controllers()
{
    static auto *set = new std::set<const void *>;
    return *set;
}

template <size_t N>
QString fieldString(const char (&field)[N])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(::strnlen(field, N)));
}

QByteArray text8(const QString &s)
{
    return s.toUtf8();
}

// An RTSP address as it may go into the log: the password is not written.
QByteArray loggableUrl(const char *url)
{
    return QByteArray::fromStdString(varno::maskCredentials(url));
}

// After a switch by window size failed, the next try waits this long.
constexpr uint32_t kSwapRetryMs = 5000;

QSize pictureSize(const char *entry)
{
    P2P_STREAM_DESCR_S d;
    std::memcpy(&d, entry, sizeof d);
    return d.width > 0 && d.height > 0 ? QSize(d.width, d.height) : QSize();
}

// The picture area of a window now: empty while it is not shown.
QSize areaOf(int32_t winHandle)
{
    if (winHandle == 0)
        return QSize();
    const auto sink = varno::av::findVideoSink(winHandle);
    return sink ? sink->targetSize() : QSize();
}

OnvifAccessInfo_s accessOf(const LiveStreamInfo &rec)
{
    OnvifAccessInfo_s access{};
    std::memcpy(access.devId, rec.deviceId, sizeof access.devId);
    std::memcpy(access.configText3, rec.onvifText3, sizeof access.configText3);
    std::memcpy(access.mainToken, rec.onvifText1, sizeof access.mainToken);
    access.rtspPort = 554;
    access.reserved = rec.onvifField;
    std::memcpy(access.serviceAddr, rec.serviceAddr, sizeof access.serviceAddr);
    return access;
}

// The stream address request of a camera's access record (its service
// address, configuration and profile token, each cut to its field).
OnvifStreamUriReq_s streamUriRequest(const OnvifAccessInfo_s &access)
{
    OnvifStreamUriReq_s uriReq;
    std::memset(&uriReq, 0, sizeof uriReq);
    std::memcpy(uriReq.serviceAddr, access.serviceAddr, sizeof uriReq.serviceAddr);
    uriReq.serviceAddr[sizeof uriReq.serviceAddr - 1] = 0;
    std::memcpy(uriReq.configText3, access.configText3, sizeof uriReq.configText3);
    uriReq.configText3[sizeof uriReq.configText3 - 1] = 0;
    std::memcpy(uriReq.mainToken, access.mainToken, sizeof uriReq.mainToken);
    uriReq.mainToken[sizeof uriReq.mainToken - 1] = 0;
    return uriReq;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

LiveController::LiveController(LiveWindows *windows, std::shared_ptr<MonitorClock> clock, QObject *parent)
    : QObject(parent), m_windows(windows), m_clock(clock ? std::move(clock) : std::make_shared<SteadyMonitorClock>())
{
    {
        std::unique_lock lock(controllersLock());
        controllers().insert(this);
    }
    const int rtspRet = RTSP_Stream_SDKInit();
    if (rtspRet != 0)
        WriteLog(2, "%s(%d):Init failed, ret(%d)!!!", "realvideo::realvideo", __LINE__, rtspRet);
    try {
        m_monitor = std::thread(&LiveController::monitorLoop, this);
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "realvideo::realvideo", __LINE__);
    }
    for (int i = 0; i < kOpenerThreads; ++i) {
        try {
            m_openers.emplace_back(&LiveController::openerLoop, this);
        } catch (const std::system_error &) {
            WriteLog(2, "%s(%d):Create thread failed!!!", "LiveController::LiveController", __LINE__);
            break;
        }
    }
    try {
        m_reaper = std::thread(&LiveController::reaperLoop, this);
    } catch (const std::system_error &) {
        WriteLog(2, "%s(%d):Create thread failed!!!", "LiveController::LiveController", __LINE__);
    }
}

LiveController::~LiveController()
{
    m_stop = true;
    {
        std::lock_guard lock(m_jobMutex);
        m_jobSignal.notify_all();
    }
    if (m_monitor.joinable())
        m_monitor.join();
    // An opener in a library call finishes it first (each call is bounded);
    // it then closes what it opened itself, since the stop flag is set.
    for (std::thread &t : m_openers)
        t.join();
    m_jobs.clear();

    QList<LiveStreamInfo> records;
    std::vector<SwapLeftovers> swaps;
    {
        QMutexLocker lock(&m_mutex);
        for (auto t = m_tracks.begin(); t != m_tracks.end(); ++t)
            if (t->swapId != 0)
                swaps.push_back(takeSwap(t.value(), m_streams.value(t.key())));
        records = m_streams.values();
        m_streams.clear();
        m_winList.clear();
        m_tracks.clear();
    }
    // Closed outside the table mutex: stopping an RTSP stream waits for its
    // reader thread, which may be waiting for that mutex in a frame callback.
    for (SwapLeftovers &left : swaps)
        dropSwap(left);
    for (LiveStreamInfo &rec : records) {
        closeStreamRecord(rec);
        delete rec.liveStream;
    }
    // The reaper deletes what it was given before it ends.
    {
        std::lock_guard lock(m_reapMutex);
        m_reapSignal.notify_all();
    }
    if (m_reaper.joinable())
        m_reaper.join();
    // Waits for a callback of this controller that still runs.
    std::unique_lock lock(controllersLock());
    controllers().erase(this);
}

// ---------------------------------------------------------------------------
// Opener threads

void LiveController::submit(std::function<void()> job)
{
    if (m_openers.empty()) {
        job(); // no thread could be started: the caller waits
        return;
    }
    std::lock_guard lock(m_jobMutex);
    m_jobs.push_back(std::move(job));
    m_jobSignal.notify_all();
}

void LiveController::openerLoop()
{
    InstallCrashHandlerOnThread();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_jobMutex);
            m_jobSignal.wait(lock, [this] { return m_stop.load() || !m_jobs.empty(); });
            if (m_stop.load())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

bool LiveController::waitOrStop(int ms)
{
    std::unique_lock lock(m_jobMutex);
    return m_jobSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

bool LiveController::pausedNow() const
{
    QMutexLocker lock(&m_mutex);
    return m_paused;
}

bool LiveController::current(const QString &key, uint64_t gen) const
{
    auto it = m_tracks.constFind(key);
    return it != m_tracks.cend() && it->gen == gen && !m_stop.load();
}

CLiveStream *LiveController::newDecoder(int32_t winHandle, int decoderType, const int audio[4])
{
    CLiveStream *live =
        m_decoderFactory ? m_decoderFactory(winHandle, decoderType, audio) : new CLiveStream(winHandle, decoderType, audio);
    live->SetFailCallback(&LiveController::onDecoderFailure, this);
    live->SetPaused(false);
    return live;
}

void LiveController::retireDecoder(CLiveStream *live)
{
    if (!live)
        return;
    // Out of the table: it reports nothing more.
    live->SetFailCallback(nullptr, nullptr);
    if (!m_reaper.joinable()) {
        delete live; // no reaper could be started: the caller waits
        return;
    }
    std::lock_guard lock(m_reapMutex);
    m_retired.push_back(live);
    m_reapSignal.notify_all();
}

void LiveController::reaperLoop()
{
    InstallCrashHandlerOnThread();
    for (;;) {
        std::vector<CLiveStream *> batch;
        bool stop = false;
        {
            std::unique_lock lock(m_reapMutex);
            m_reapSignal.wait(lock, [this] { return m_stop.load() || !m_retired.empty(); });
            batch.swap(m_retired);
            stop = m_stop.load();
        }
        for (CLiveStream *live : batch)
            delete live;
        if (stop) {
            std::lock_guard lock(m_reapMutex);
            if (m_retired.empty())
                return;
        }
    }
}

// ---------------------------------------------------------------------------
// Starting a stream (user-interface thread)

int LiveController::StartStream(const DeviceInfo_s &dev, bool selectIfOpen)
{
    return startCommon(dev, nullptr, selectIfOpen);
}

int LiveController::StartStream(const DeviceInfo_s &dev, const OnvifAccessInfo_s &access, bool selectIfOpen)
{
    return startCommon(dev, &access, selectIfOpen);
}

int LiveController::startCommon(const DeviceInfo_s &dev, const OnvifAccessInfo_s *access, bool selectIfOpen)
{
    VARNO_ASSERT_UI_THREAD();
    const QString key = fieldString(dev.devId);
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request start device(%s) stream!!!", id.constData());

    OpenRequest req;
    req.key = key;
    req.dev = dev;
    req.onvif = access != nullptr;
    if (access)
        req.access = *access;

    LiveWinInfo win{};
    bool found = false;
    bool opening = false;
    {
        QMutexLocker lock(&m_mutex);
        for (const LiveWinInfo &w : m_winList) {
            if (fieldString(w.deviceId) == key) {
                win = w;
                found = true;
                break;
            }
        }
        auto t = m_tracks.constFind(key);
        opening = t != m_tracks.cend() && t->opening;
    }
    if (found && win.used == 1) {
        if (win.reconnecting == 0 || opening) {
            if (selectIfOpen) {
                m_windows->selectWindow(win.winHandle);
                WriteLog(3, "%s(%d):Win(%d) is using!!!", "realvideo::StartStream", __LINE__, win.winHandle);
                // Reported like an open, after the caller has returned; an
                // open that still runs reports itself.
                if (!opening)
                    QMetaObject::invokeMethod(this, [this, key] { emit streamStarted(key, 0); },
                                              Qt::QueuedConnection);
                return 0;
            }
            WriteLog(3, "%s(%d):This device(%s) switch stream!!!", "realvideo::StartStream", __LINE__, id.constData());
        } else {
            WriteLog(3, "%s(%d):This device(%s) need to reconnect!!!", "realvideo::StartStream", __LINE__,
                     id.constData());
        }
        if (opening) {
            WriteLog(3, "%s(%d):Device(%s) is being opened!!!", "realvideo::StartStream", __LINE__, id.constData());
            return 0;
        }
        // A switch: the old library stream ends first, the window and its
        // decoder stay.
        LiveStreamInfo old{};
        SwapLeftovers swap;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            auto t = m_tracks.find(key);
            if (it == m_streams.end() || t == m_tracks.end())
                return -1;
            swap = takeSwap(t.value(), it.value());
            old = it.value();
            it->streamDescr = nullptr;
            it->rtspHandle = 0;
            t->opening = true;
            req.gen = t->gen;
            m_lastDevice.insert(key, dev);
        }
        dropSwap(swap);
        closeStreamRecord(old);
        req.job = Job::Switch;
        req.winHandle = win.winHandle;
        submit([this, req] { req.onvif ? openOnvif(req) : openP2p(req); });
        return 0;
    }

    int index = -1;
    const int handle = m_windows->takeWindow(key, fieldString(dev.devName), &index);
    if (handle < 0) {
        WriteLog(2, "%s(%d):Get available win failed, ret(%d)!!!", "realvideo::StartStream", __LINE__, handle);
        return handle;
    }
    WriteLog(3, "%s(%d):Select window(%d)!!!", "realvideo::StartStream", __LINE__, handle);

    LiveWinInfo w{};
    varno::setText(w.deviceId, id);
    std::memcpy(w.name, dev.devName, sizeof dev.devName);
    w.winHandle = handle;
    w.used = 1;
    w.winIndex = index;

    LiveStreamInfo rec{};
    rec.winHandle = handle;
    rec.reconnectAllowed = 1;
    rec.state = kStateOpened;
    std::memcpy(rec.deviceId, w.deviceId, sizeof rec.deviceId);
    rec.p2pFlag = access ? 0 : uint8_t(dev.p2pFlag);
    std::memcpy(rec.password, dev.password, sizeof rec.password);
    std::memcpy(rec.p2pId, dev.p2pId, sizeof rec.p2pId);
    if (access) {
        // The ONVIF decoder does not depend on the stream: it is ready
        // before the first frame can arrive.
        const int audio[4] = {102, 1, 16, 8000};
        rec.liveStream = newDecoder(handle, 1, audio);
        rec.liveStream->SetPaused(pausedNow());
        rec.streamType = dev.streamType == 1 ? 1 : 0;
        rec.onvifFlag = 3;
        rec.onvifField = access->reserved;
        std::memcpy(rec.onvifText1, access->mainToken, sizeof rec.onvifText1);
        std::memcpy(rec.onvifText3, access->configText3, sizeof rec.onvifText3);
        std::memcpy(rec.serviceAddr, access->serviceAddr, sizeof rec.serviceAddr);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_winList.append(w);
        m_streams.insert(key, rec);
        Track t;
        t.gen = m_nextGen++;
        t.opening = true;
        t.audioBefore = m_audioDevice;
        m_tracks.insert(key, t);
        req.gen = t.gen;
        m_lastDevice.insert(key, dev);
    }
    m_windows->showConnecting(key, index, handle);
    req.job = Job::New;
    req.winHandle = handle;
    submit([this, req] { req.onvif ? openOnvif(req) : openP2p(req); });
    return 0;
}

// ---------------------------------------------------------------------------
// The network part of an open (opener threads)

void LiveController::openP2p(const OpenRequest &req)
{
    const QString &key = req.key;
    const QByteArray id = text8(key);
    const DeviceInfo_s &dev = req.dev;
    const P2P_HANDLE h = varno::p2pHandle();
    const QByteArray p2pId(dev.p2pId, int(::strnlen(dev.p2pId, sizeof dev.p2pId)));
    std::unique_ptr<char[]> descr(new char[kDescrBuffer]());

    int32_t status = 0;
    if (const int ret = varno::p2p::ensureSession(h, p2pId.constData(), &status); ret < 0) {
        OPEN_LOG(req, 2, "%s(%d):Connect device(%s) failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        openFailed(req, ret);
        return;
    }
    OPEN_LOG(req, 4, "%s(%d):Get_Session_Status p2pStatu(%d)!!!", "realvideo::StartStream", __LINE__, status);

    int32_t count = 0;
    int ret = P2P_Client_SDK_Get_StreamDescr(h, p2pId.constData(), &count, descr.get());
    if (ret < 0) {
        if (waitOrStop(100))
            return;
        ret = P2P_Client_SDK_Get_StreamDescr(h, p2pId.constData(), &count, descr.get());
        if (ret < 0) {
            OPEN_LOG(req, 2, "%s(%d):Get device(%s) stream descr failed, ret(%d)!!!", "realvideo::StartStream",
                     __LINE__, id.constData(), ret);
            openFailed(req, ret);
            return;
        }
    }
    OPEN_LOG(req, 4, "%s(%d):P2P_Client_SDK_Get_StreamDescr ret(%d)!!!", "realvideo::StartStream", __LINE__, ret);
    if (count <= 0) {
        OPEN_LOG(req, 3, "%s(%d):nStreamNum(%d)!!!", "realvideo::StartStream", __LINE__, count);
        openFailed(req, -1);
        return;
    }
    OPEN_LOG(req, 4, "%s(%d):nStreamNum(%d)!!!", "realvideo::StartStream", __LINE__, count);

    // A camera with one stream only has no second entry: it plays its first.
    int streamType = (dev.streamType == 1 && count >= 2) ? 1 : 0;
    const QSize sizes[2] = {pictureSize(descr.get()), count >= 2 ? pictureSize(descr.get() + kDescrSize) : QSize()};
    // A new window shows the stream that fits its size (no choice by hand
    // yet), the main one while the camera records.
    if (req.job == Job::New && m_autoStream.load() && count >= 2)
        streamType = m_windows->isRecording(key) ? 0
                                                 : StreamChoice::pick(areaOf(req.winHandle), sizes[0], sizes[1],
                                                                      streamType);
    char *entry = descr.get() + streamType * kDescrSize;
    const int32_t one = 1;
    std::memcpy(entry + offsetof(P2P_STREAM_DESCR_S, enabled), &one, sizeof one);
    const int32_t params[3] = {1, 5, 0};
    const QByteArray password(dev.password, int(::strnlen(dev.password, sizeof dev.password)));
    P2P_FRAME_CB cb = &LiveController::StreamCallback;

    // The decoder is in the table before the stream is opened: the camera
    // sends the key frame first, often before the open call has returned,
    // and a frame the callback cannot place is lost, leaving the window
    // black until the next key frame (seconds on most cameras).
    CLiveStream *live = nullptr;
    if (req.job == Job::New) {
        P2P_STREAM_DESCR_S d;
        std::memcpy(&d, entry, sizeof d);
        const int decoderType = (d.videoCodec == 10 || d.videoCodec == 11) ? 2 : 1;
        const int audio[4] = {d.audioCodec == P2P_AUDIO_AAC ? 100 : 102, 1,
                              d.audioSampleRate > 0 ? d.audioBitRate / d.audioSampleRate : 8, d.audioSampleRate};
        live = newDecoder(req.winHandle, decoderType, audio);
    }
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (!current(key, req.gen) || it == m_streams.end()) {
            lock.unlock();
            delete live; // the table never saw it
            return;
        }
        it->streamType = streamType;
        it->discard = 0;
        auto t = m_tracks.find(key);
        t->sizes[0] = sizes[0];
        t->sizes[1] = sizes[1];
        if (live) {
            it->liveStream = live;
            live->SetPaused(m_paused);
            applyMute();
        } else if (it->liveStream)
            it->liveStream->ClearQueue(); // a switch: frames of the new stream only
    }

    ret = P2P_Client_SDK_Open_Stream(h, p2pId.constData(), entry, cb, this, params, password.constData(), 0);
    if (ret < 0) {
        OPEN_LOG(req, 2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        openFailed(req, ret);
        return;
    }

    bool kept = false;
    char *old = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (current(key, req.gen) && it != m_streams.end()) {
            old = it->streamDescr;
            it->streamDescr = descr.release();
            it->streamType = streamType;
            it->state = kStateOpened;
            it->reopenOnStall = 0;
            std::memcpy(it->password, dev.password, sizeof it->password);
            for (LiveWinInfo &w : m_winList)
                if (fieldString(w.deviceId) == key)
                    w.reconnecting = 0;
            kept = true;
        }
    }
    delete[] old;
    if (!kept) {
        // Closed meanwhile (the window, a decoder failure, the page): the
        // stream has no window any more.
        P2P_Client_SDK_Close_Stream(h, p2pId.constData(), entry);
        WriteLog(3, "%s(%d):Device(%s) has no stream to switch!!!", "realvideo::StartStream", __LINE__,
                 id.constData());
        return;
    }
    finishOpened(req);
}

void LiveController::openOnvif(const OpenRequest &req)
{
    const QString &key = req.key;
    const QByteArray id = text8(key);
    const DeviceInfo_s &dev = req.dev;
    const OnvifAccessInfo_s &access = req.access;

    OnvifStreamUriReq_s uriReq = streamUriRequest(access);
    uriReq.channel = dev.streamType == 1 ? 1 : 0;
    uriReq.transport = 1;
    uriReq.reserved = 0;

    // What the stream address depends on. A reopen uses the address it was
    // given last while none of these changed; while the reopens fail it asks
    // again by the recorder's rule (StreamUriAsk: the camera may have moved
    // its stream).
    const QByteArray password(dev.password, int(::strnlen(dev.password, sizeof dev.password)));
    const QByteArray askedWith = QByteArray(uriReq.serviceAddr) + '\n' + QByteArray(uriReq.configText3) + '\n'
        + QByteArray(uriReq.mainToken) + '\n' + QByteArray::number(uriReq.channel) + '\n' + password;
    QByteArray url;
    {
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.constFind(key);
        if (!current(key, req.gen) || t == m_tracks.cend())
            return;
        if (req.job == Job::Reopen && !t->uri.isEmpty() && t->uriAskedWith == askedWith
            && (t->backoff.failures() == 0 || !t->uriAsk.due(uriClockMs())))
            url = t->uri;
    }
    OPEN_LOG(req, 4, "%s(%d):streaminfo.channel(%d)!!!", "realvideo::StartStream", __LINE__, uriReq.channel);
    if (url.isEmpty()) {
        if (!password.isEmpty())
            SDK_DVRMGR_SetOnvifCredentials(uriReq.serviceAddr, password.constData());
        char given[kOnvifUriSize] = {};
        const int ret = SDK_DVRMGR_GetStreamUri(uriReq, nullptr, given);
        OPEN_LOG(req, 4, "%s(%d):url(%s)!!!", "realvideo::StartStream", __LINE__, loggableUrl(given).constData());
        {
            QMutexLocker lock(&m_mutex);
            auto t = m_tracks.find(key);
            if (t != m_tracks.end() && t->gen == req.gen) {
                ++t->uriRequests;
                t->uriAsk.asked(uriClockMs());
                if (ret == 0) {
                    t->uri = QByteArray(given, int(::strnlen(given, sizeof given)));
                    t->uriAskedWith = askedWith;
                }
            }
        }
        if (ret != 0) {
            OPEN_LOG(req, 2, "%s(%d):Get device(%s) stream url failed, ret(%d)!!!", "realvideo::StartStream",
                     __LINE__, id.constData(), ret);
            openFailed(req, ret);
            return;
        }
        url = QByteArray(given, int(::strnlen(given, sizeof given)));
    }
    if (m_stop.load())
        return;

    int32_t handle = 0;
    RTSP_FRAME_CB cb = &LiveController::StreamCallback;
    int ret = RTSP_OpenLiveSteam(url.constData(), cb, this, &handle);
    if (ret != 0) {
        OPEN_LOG(req, 2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        openFailed(req, ret);
        return;
    }
    OPEN_LOG(req, 4, "%s(%d):streamhdl(%d)!!!", "realvideo::StartStream", __LINE__, handle);
    RTSP_SetSteamDeviceId(handle, id.constData());
    // The decoder is in the table already: the first key frame may arrive
    // before the start call has returned.
    ret = RTSP_StartLiveSteam(handle);
    if (ret != 0) {
        RTSP_CloseLiveSteam(handle, cb);
        OPEN_LOG(req, 2, "%s(%d):Start  device(%s) stream failed, ret(%d)!!!", "realvideo::StartStream", __LINE__,
                 id.constData(), ret);
        openFailed(req, ret);
        return;
    }

    bool kept = false;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (current(key, req.gen) && it != m_streams.end()) {
            it->rtspHandle = handle;
            it->state = kStateOpened;
            it->reopenOnStall = 0;
            it->streamType = uriReq.channel;
            std::memcpy(it->password, dev.password, sizeof it->password);
            for (LiveWinInfo &w : m_winList) {
                if (fieldString(w.deviceId) == key) {
                    w.rtspHandle = handle;
                    w.reconnecting = 0;
                }
            }
            kept = true;
        }
    }
    if (!kept) {
        RTSP_StopLiveSteam(handle);
        RTSP_CloseLiveSteam(handle, cb);
        WriteLog(3, "%s(%d):Device(%s) has no stream to switch!!!", "realvideo::StartStream", __LINE__,
                 id.constData());
        return;
    }
    finishOpened(req);
}

void LiveController::finishOpened(const OpenRequest &req)
{
    const QByteArray id = text8(req.key);
    int failures = 0;
    int lastFailure = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.find(req.key);
        if (t != m_tracks.end() && t->gen == req.gen) {
            failures = t->backoff.failures();
            lastFailure = t->lastFailure;
            t->backoff.opened();
            t->opening = false;
        }
    }
    if (failures > 1)
        WriteLog(2, "%s(%d):Reopen device(%s) failed %d times in a row, last ret(%d)!!!",
                 "LiveController::finishOpened", __LINE__, id.constData(), failures, lastFailure);
    WriteLog(0, "[PREVIEW]Start device(%s) stream finished!!!", id.constData());
    if (req.job != Job::Reopen)
        reportStarted(req.key, req.gen, 0);
    if (req.onvif) {
        // What the choice by window size needs to know of the camera's
        // profiles, asked once per window.
        bool ask = false;
        {
            QMutexLocker lock(&m_mutex);
            auto t = m_tracks.find(req.key);
            if (t != m_tracks.end() && t->gen == req.gen && !t->sizesAsked)
                ask = t->sizesAsked = true;
        }
        if (ask)
            submit([this, req] { askOnvifSizes(req); });
    }
}

// Reported on the user-interface thread, and only while the stream is still
// the one that open made: a result that arrives after its window closed (or
// after a new open of the camera began) would be taken for the new one's.
void LiveController::reportStarted(const QString &key, uint64_t gen, int result)
{
    QMetaObject::invokeMethod(
        this,
        [this, key, gen, result] {
            {
                QMutexLocker lock(&m_mutex);
                if (!current(key, gen))
                    return;
            }
            emit streamStarted(key, result);
        },
        Qt::QueuedConnection);
}

void LiveController::openFailed(const OpenRequest &req, int result)
{
    if (req.job == Job::New) {
        {
            QMutexLocker lock(&m_mutex);
            if (!current(req.key, req.gen))
                return;
        }
        // The decoder and the window belong to the user-interface thread.
        QMetaObject::invokeMethod(
            this, [this, key = req.key, gen = req.gen, result] { dropFailedStream(key, gen, result); },
            Qt::QueuedConnection);
        return;
    }
    // A switch or a reopen: the window stays and waits; the monitor tries
    // again, later each time.
    int failures = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(req.key);
        auto t = m_tracks.find(req.key);
        if (!current(req.key, req.gen) || it == m_streams.end() || t == m_tracks.end())
            return;
        t->opening = false;
        t->lastFailure = result;
        failures = t->backoff.failed();
        it->state = kStateReopening;
        for (LiveWinInfo &w : m_winList)
            if (fieldString(w.deviceId) == req.key)
                w.reconnecting = 1;
    }
    if (failures == 1)
        WriteLog(2, "%s(%d):Reopen device(%s) failed, ret(%d), its next failures are counted!!!",
                 "LiveController::openFailed", __LINE__, text8(req.key).constData(), result);
    if (req.job == Job::Switch)
        reportStarted(req.key, req.gen, result);
}

void LiveController::dropFailedStream(const QString &key, uint64_t gen, int result)
{
    VARNO_ASSERT_UI_THREAD();
    LiveStreamInfo rec{};
    {
        QMutexLocker lock(&m_mutex);
        if (!current(key, gen))
            return;
        rec = m_streams.take(key);
        const QString audioBefore = m_tracks.take(key).audioBefore;
        for (int i = 0; i < m_winList.size(); ++i)
            if (fieldString(m_winList[i].deviceId) == key) {
                m_winList.removeAt(i);
                break;
            }
        // The window took the sound when it was shown: it goes back.
        if (m_audioDevice == key) {
            m_audioDevice = m_streams.contains(audioBefore) ? audioBefore : QString();
            applyMute();
        }
    }
    closeStreamRecord(rec);
    retireDecoder(rec.liveStream); // out of the table: no callback reaches it
    m_windows->freeWindow(key);
    emit streamStarted(key, result);
}

// ---------------------------------------------------------------------------
// Frames

namespace {

// What both libraries' frame callbacks do before a frame reaches its
// controller: refuse an empty frame, and hand it over only while the
// controller is alive (the shared lock is held during the hand-over).
template <class Deliver>
int routeFrame(const char *descr, int32_t size, void *user, Deliver deliver)
{
    if (size <= 0) {
        WriteLog(2, "%s(%d):Size(%d) failed!!!", "realvideo::StreamCallback", __LINE__, size);
        return -1;
    }
    if (!descr || !user)
        return 0;
    std::shared_lock lock(controllersLock());
    if (!controllers().count(user))
        return 0;
    return deliver(static_cast<LiveController *>(user));
}

} // namespace

int LiveController::StreamCallback(P2P_HANDLE, const char *descr, const int32_t *frameInfo, int32_t type,
                                   const char *data, int32_t size, void *user)
{
    return routeFrame(descr, size, user, [&](LiveController *c) {
        int32_t index = 0;
        std::memcpy(&index, descr + 64, sizeof index);
        return c->frameArrived(streamKeyFromDescr(descr), true, index, type - 1, data, size,
                               frameInfo ? frameInfo[0] : 0, frameInfo ? frameInfo[1] : 0);
    });
}

int LiveController::StreamCallback(int32_t handle, const char *descr, const int32_t *frameInfo, int32_t type,
                                   const char *data, int32_t size, void *user)
{
    return routeFrame(descr, size, user, [&](LiveController *c) {
        RTSP_STREAM_DESCR_S d {};
        std::memcpy(&d, descr, sizeof d);
        return c->frameArrived(streamKeyFromDescr(descr), false, 0, type, data, size,
                               frameInfo ? frameInfo[0] : 0, frameInfo ? frameInfo[1] : 0,
                               d.videoCodec == 2 ? AV_VIDEO_H265 : AV_VIDEO_H264, handle);
    });
}

int LiveController::frameArrived(const QString &key, bool p2p, int streamIndex, int type, const char *data,
                                 int size, int info0, int info1, int videoDecoder, int32_t rtspHandle)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.find(key);
    if (it == m_streams.end() || !it->liveStream)
        return 0;
    // The new stream of a switch by window size feeds its own decoder.
    auto t = m_tracks.constFind(key);
    CLiveStream *swap = t != m_tracks.cend() ? t->swapLive : nullptr;
    if (!p2p) {
        // The last frames of a stream a switch replaced (its close is on the
        // way) must not reach the new stream's decoder.
        if (rtspHandle != 0 && t != m_tracks.cend() && rtspHandle == t->retiredRtsp)
            return 0;
        CLiveStream *target = swap && rtspHandle != 0 && rtspHandle == t->swapRtsp ? swap : it->liveStream;
        if (type == 0) // an ONVIF camera's decoder follows the codec its stream names
            target->SetVideoCodec(videoDecoder);
        target->SetCurrentFrame(data, size, type, info0, info1);
        return 0;
    }
    if (swap && streamIndex == t->swapType && streamIndex != it->streamType) {
        swap->SetCurrentFrame(data, size, type, info0, info1);
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
    // Recordings take the main stream only (its description made the
    // recording's header); the window shows it while the camera records.
    if (streamIndex == 0)
        m_windows->feedRecorder(key, data, size, type, uint64_t(uint32_t(info1)));
    return 0;
}

// ---------------------------------------------------------------------------
// Closing, switching

// Ends the library side of a stream taken out of (or about to leave) the
// table. Called with the table mutex free.
void LiveController::closeStreamRecord(LiveStreamInfo &rec)
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
        RTSP_FRAME_CB cb = &LiveController::StreamCallback;
        RTSP_StopLiveSteam(rec.rtspHandle);
        RTSP_CloseLiveSteam(rec.rtspHandle, cb);
        WriteLog(0, "[PREVIEW]Close stream handle(%d) finished!!!", rec.rtspHandle);
        rec.rtspHandle = 0;
    }
}

void LiveController::closeStream(const QString &key)
{
    VARNO_ASSERT_UI_THREAD();
    const QByteArray id = text8(key);
    WriteLog(0, "[PREVIEW]Request close device(%s) win!!!", id.constData());
    bool hasStream = false;
    LiveStreamInfo rec{};
    SwapLeftovers swap;
    int failures = 0;
    int lastFailure = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        if (it != m_streams.end()) {
            hasStream = true;
            rec = it.value();
            m_streams.erase(it);
        }
        // An open that runs for it finds its generation gone.
        auto t = m_tracks.find(key);
        if (t != m_tracks.end()) {
            swap = takeSwap(t.value(), rec);
            failures = t->backoff.failures();
            lastFailure = t->lastFailure;
            m_tracks.erase(t);
        }
    }
    if (failures > 1)
        WriteLog(2, "%s(%d):Reopen device(%s) failed %d times in a row, last ret(%d)!!!",
                 "LiveController::closeStream", __LINE__, id.constData(), failures, lastFailure);
    dropSwap(swap);
    if (hasStream) {
        WriteLog(0, "[PREVIEW]Finded device(%s) from wndList!!!", id.constData());
        // No frame callback can reach the decoder any more: the record is
        // gone and a callback that had found it held the mutex.
        closeStreamRecord(rec);
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

void LiveController::changeStream(const QString &key, int type)
{
    VARNO_ASSERT_UI_THREAD();
    LiveStreamInfo rec{};
    OpenRequest req;
    SwapLeftovers swap;
    bool used = false;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        auto t = m_tracks.find(key);
        if (it == m_streams.end() || t == m_tracks.end())
            return;
        // A choice by hand wins over the window's size until it is cleared.
        t->manual = type == 1 ? 1 : 0;
        if (!it->p2pFlag) {
            // An ONVIF camera goes over to its other profile as for its
            // window's size: a second RTSP session whose first picture
            // replaces the old stream's in one paint. While an open or a
            // switch runs, the monitor's next pass after it switches.
            if (t->opening || t->swapJobs > 0 || it->state != kStatePlaying || !it->liveStream)
                return;
            if (t->swapId != 0 && t->swapType == t->manual)
                return; // on its way already
            swap = takeSwap(t.value(), it.value());
            if ((it->streamType == 1 ? 1 : 0) != t->manual)
                beginSwap(key, t->manual, true);
            lock.unlock();
            dropSwap(swap);
            return;
        }
        if (t->opening || t->swapJobs > 0) {
            WriteLog(3, "%s(%d):Device(%s) is being opened!!!", "realvideo::RecvChangeStream", __LINE__,
                     text8(key).constData());
            return;
        }
        swap = takeSwap(t.value(), it.value());
        if (it->p2pFlag)
            it->discard = 1;
        rec = it.value();
        it->streamDescr = nullptr; // closed below
        it->rtspHandle = 0;
        req.dev = m_lastDevice.value(key);
        for (LiveWinInfo &w : m_winList) {
            if (fieldString(w.deviceId) == key) {
                w.rtspHandle = 0;
                used = w.used == 1;
                std::memcpy(req.dev.devName, w.name, sizeof req.dev.devName);
                req.winHandle = w.winHandle;
            }
        }
        if (used) {
            t->opening = true;
            req.gen = t->gen;
        }
    }
    dropSwap(swap);
    closeStreamRecord(rec);
    if (!used)
        return;
    // The record rebuilt from what the stream keeps.
    DeviceInfo_s &dev = req.dev;
    varno::setText(dev.devId, text8(key));
    std::memcpy(dev.p2pId, rec.p2pId, sizeof dev.p2pId);
    std::memcpy(dev.password, rec.password, sizeof dev.password);
    dev.p2pFlag = char(rec.p2pFlag);
    dev.streamType = type == 1 ? 1 : 0;
    {
        QMutexLocker lock(&m_mutex);
        m_lastDevice.insert(key, dev);
    }
    req.key = key;
    req.job = Job::Switch;
    req.onvif = !rec.p2pFlag;
    if (rec.p2pFlag)
        emit devicePropertyChanged(dev);
    else
        req.access = accessOf(rec);
    submit([this, req] { req.onvif ? openOnvif(req) : openP2p(req); });
}

// ---------------------------------------------------------------------------
// Pause, sound, online state, notices

void LiveController::setPaused(bool pause)
{
    QMutexLocker lock(&m_mutex);
    m_paused = pause;
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it)
        if (it->liveStream)
            it->liveStream->SetPaused(pause);
}

void LiveController::applyMute()
{
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

void LiveController::setMute(bool mute)
{
    const bool old = m_mute.exchange(mute);
    WriteLog(0, "[PREVIEW]Request mute[%d->%d]!!!", int(old), int(mute));
    {
        QMutexLocker lock(&m_mutex);
        applyMute();
    }
    WriteLog(0, "[PREVIEW]Request mute[%d] finished!!!", int(mute));
}

void LiveController::setAudioDevice(const QString &key)
{
    {
        QMutexLocker lock(&m_mutex);
        m_audioDevice = key;
    }
    setMute(m_mute.load());
}

void LiveController::setOnline(const QString &key, bool online)
{
    QMutexLocker lock(&m_mutex);
    bool used = false;
    for (const LiveWinInfo &w : m_winList)
        if (w.used == 1 && fieldString(w.deviceId) == key)
            used = true;
    if (!used)
        return;
    auto it = m_streams.find(key);
    if (it != m_streams.end())
        it->reconnectAllowed = online ? 1 : 0;
}

void LiveController::renameCamera(const QString &key, const QString &name)
{
    if (key.isEmpty())
        return;
    const QByteArray text = name.toUtf8();
    QMutexLocker lock(&m_mutex);
    for (LiveWinInfo &w : m_winList)
        if (fieldString(w.deviceId) == key)
            varno::setText(w.name, text);
    auto it = m_lastDevice.find(key);
    if (it != m_lastDevice.end())
        varno::setText(it->devName, text);
}

void LiveController::changePassword(const QString &key, const char (&password)[64])
{
    if (key.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    auto last = m_lastDevice.find(key);
    if (last != m_lastDevice.end())
        std::memcpy(last->password, password, sizeof last->password);
    auto it = m_streams.find(key);
    if (it != m_streams.end())
        std::memcpy(it->password, password, sizeof it->password);
}

void LiveController::streamInterrupted(const QString &key)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.find(key);
    if (it != m_streams.end())
        it->reopenOnStall = 1;
}

int LiveController::onDecoderFailure(int code, CLiveStream *stream, void *user)
{
    static_cast<LiveController *>(user)->decoderFailed(code, stream);
    return 0;
}

void LiveController::decoderFailed(int code, CLiveStream *stream)
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
    if (code != -1042)
        emit closeWindow(key);
}

// ---------------------------------------------------------------------------
// Observation

QString LiveController::audioDevice() const
{
    QMutexLocker lock(&m_mutex);
    return m_audioDevice;
}

QStringList LiveController::streamKeys() const
{
    QMutexLocker lock(&m_mutex);
    return m_streams.keys();
}

bool LiveController::streamInfo(const QString &key, LiveStreamInfo *out) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    if (it == m_streams.cend())
        return false;
    if (out)
        *out = it.value();
    return true;
}

bool LiveController::windowInfo(const QString &key, LiveWinInfo *out) const
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

bool LiveController::windowUsed(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    for (const LiveWinInfo &w : m_winList)
        if (fieldString(w.deviceId) == key)
            return w.used == 1;
    return false;
}

bool LiveController::isOpening(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t != m_tracks.cend() && t->opening;
}

bool LiveController::isReconnecting(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t != m_tracks.cend() && t->reconnecting;
}

int LiveController::reopenFailures(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() ? 0 : t->backoff.failures();
}

uint32_t LiveController::reopenDelay(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() ? 0 : t->backoff.delay();
}

int LiveController::streamUriRequests(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() ? 0 : t->uriRequests;
}

bool LiveController::lastDevice(const QString &key, DeviceInfo_s *out) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_lastDevice.constFind(key);
    if (it == m_lastDevice.cend())
        return false;
    if (out)
        *out = it.value();
    return true;
}

CLiveStream *LiveController::liveStreamOf(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    return it == m_streams.cend() ? nullptr : it->liveStream;
}

CLiveStream *LiveController::decoderOf(const QString &key, int32_t winHandle) const
{
    VARNO_ASSERT_UI_THREAD();
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.constFind(key);
    return it != m_streams.cend() && it->winHandle == winHandle ? it->liveStream : nullptr;
}

StreamStats LiveController::streamStats(const QString &key) const
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

// ---------------------------------------------------------------------------
// Monitor thread

void LiveController::monitorLoop()
{
    InstallCrashHandlerOnThread();
    WriteLog(0, "[PREVIEW]Start run thread!!!");
    QHash<QString, int> last;
    while (!m_stop.load()) {
        monitorPass(last);
        std::unique_lock lock(m_jobMutex);
        m_jobSignal.wait_for(lock, std::chrono::milliseconds(kMonitorCycleMs), [this] { return m_stop.load(); });
    }
    WriteLog(0, "[PREVIEW]Stop run thread!!!");
}

void LiveController::monitorPass(QHash<QString, int> &last)
{
    struct Item
    {
        QString key;
        LiveStreamInfo rec;
        int current;
        uint64_t pictures;
        bool winUsed;
    };
    std::vector<Item> items;
    {
        // The frame counters are read here, under the mutex: outside it a
        // window closed meanwhile would leave a dangling decoder. A stream
        // being opened is not watched until the open ends.
        QMutexLocker lock(&m_mutex);
        items.reserve(size_t(m_streams.size()));
        for (auto it = m_streams.cbegin(); it != m_streams.cend(); ++it) {
            auto t = m_tracks.constFind(it.key());
            if (t == m_tracks.cend() || t->opening)
                continue;
            bool used = false;
            for (const LiveWinInfo &w : m_winList)
                if (fieldString(w.deviceId) == it.key())
                    used = w.used == 1;
            CLiveStream *live = it->liveStream;
            items.push_back({it.key(), it.value(), live ? live->GetFrameCounter() : 0,
                             live ? live->decodedPictures() : 0, used});
        }
    }
    QHash<QString, int> seen;
    for (const Item &item : items) {
        if (m_stop.load())
            break;
        auto lit = last.find(item.key);
        if (lit == last.end())
            lit = last.insert(item.key, item.current);
        int lastValue = lit.value();
        const LiveStreamInfo &rec = item.rec;
        MonitorInput in;
        in.state = rec.state;
        in.current = item.current;
        in.last = lastValue;
        in.now = m_clock->nowMs();
        in.startTick = rec.startTick;
        in.winUsed = item.winUsed;
        in.reconnectAllowed = rec.reconnectAllowed == 1;
        if (rec.p2pFlag) {
            in.reopenWanted = [&rec] { return rec.reopenOnStall == 1; };
        } else {
            in.reopenWanted = [&rec] {
                int32_t status = 0;
                if (rec.rtspHandle <= 0 || RTSP_GetSteamStatus(rec.rtspHandle, &status, 0) != 0)
                    return false;
                return status == RTSP_STATUS_BROKEN;
            };
        }
        applyStep(item.key, item.current, lastValue, rec, monitorStep(in));
        followWindow(item.key, rec.winHandle);
        watchReconnecting(item.key, rec, item.pictures);
        seen.insert(item.key, lastValue);
    }
    last = seen;
}

void LiveController::applyStep(const QString &key, int current, int &last, const LiveStreamInfo &rec,
                               const MonitorStep &step)
{
    const uint32_t now = m_clock->nowMs();
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        auto t = m_tracks.find(key);
        // The stream was closed, replaced, restarted or is being opened
        // since the snapshot: the next pass looks at it again.
        if (it == m_streams.end() || t == m_tracks.end() || t->opening || it->liveStream != rec.liveStream
            || it->state != rec.state)
            return;
        it->state = step.state;
        if (step.has(MonitorStep::RestartWait))
            it->startTick = now;
        if (step.has(MonitorStep::StallSet) && it->liveStream)
            it->liveStream->SetStalled(true);
        if (step.has(MonitorStep::StallClear) && it->liveStream)
            it->liveStream->SetStalled(false);
        if (step.state == kStatePlaying && step.has(MonitorStep::PaintOff))
            t->backoff.reset(); // pictures again: the next break reopens at once
    }
    if (step.has(MonitorStep::PaintOn))
        m_windows->setWaitingLook(rec.winHandle, true);
    if (step.has(MonitorStep::PaintOff))
        m_windows->setWaitingLook(rec.winHandle, false);
    if (step.has(MonitorStep::TakeCurrent))
        last = current;
    if (step.has(MonitorStep::CloseTimedOut)) {
        WriteLog(2, "%s(%d):Init device(%s) timeout!!!",
                 rec.p2pFlag ? "realvideo::updateP2pWin" : "realvideo::updateOnvifWin", __LINE__,
                 text8(key).constData());
        emit stopRecord(key);
        emit closeWindow(key);
    }
    if (step.has(MonitorStep::CloseForReopen)) {
        LiveStreamInfo closing{};
        SwapLeftovers swap;
        bool found = false;
        {
            QMutexLocker lock(&m_mutex);
            auto it = m_streams.find(key);
            auto t = m_tracks.find(key);
            // A switch that began meanwhile owns the stream now.
            if (it != m_streams.end() && t != m_tracks.end() && !t->opening && it->liveStream == rec.liveStream
                && it->state == kStateReopening) {
                swap = takeSwap(t.value(), it.value());
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
        dropSwap(swap);
        if (found)
            closeStreamRecord(closing);
    }
    if (step.has(MonitorStep::Reopen))
        scheduleReopen(key, rec);
}

// After the pass's step: a window whose stream is being reopened, or that
// has shown no new picture for a while, keeps its last picture marked as
// reconnecting; the next decoded picture clears the mark.
void LiveController::watchReconnecting(const QString &key, const LiveStreamInfo &rec, uint64_t pictures)
{
    const uint32_t now = m_clock->nowMs();
    bool changed = false;
    bool on = false;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.constFind(key);
        auto t = m_tracks.find(key);
        if (it == m_streams.cend() || t == m_tracks.end() || t->opening || it->liveStream != rec.liveStream)
            return;
        // A window at rest (not shown), or back from rest and waiting for
        // the next key frame, waits for no picture.
        const bool newPicture = !t->watched || pictures != t->pictures || t->idle;
        if (t->idle && pictures != t->pictures && it->liveStream && !it->liveStream->idle())
            t->idle = false;
        if (newPicture) {
            t->watched = true;
            t->pictures = pictures;
            t->pictureTick = now;
        }
        if (t->reconnecting) {
            changed = newPicture;
        } else if (!newPicture) {
            changed = it->state == kStateReopening
                      || (it->state == kStatePlaying
                          && static_cast<uint32_t>(now - t->pictureTick) >= kReconnectingAfterMs);
        }
        if (changed)
            on = t->reconnecting = !t->reconnecting;
    }
    if (changed) {
        WriteLog(0, "[PREVIEW]Device(%s) %s!!!", text8(key).constData(),
                 on ? "shows no new picture, reconnecting" : "shows pictures again");
        emit reconnectingChanged(key, rec.winHandle, on);
    }
}

void LiveController::scheduleReopen(const QString &key, const LiveStreamInfo &rec)
{
    OpenRequest req;
    req.key = key;
    req.job = Job::Reopen;
    req.onvif = !rec.p2pFlag;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.constFind(key);
        auto t = m_tracks.find(key);
        if (it == m_streams.cend() || t == m_tracks.end() || t->opening || it->liveStream != rec.liveStream
            || it->state != kStateReopening)
            return;
        const uint32_t now = m_clock->nowMs();
        if (!t->backoff.due(now))
            return;
        t->backoff.tried(now);
        t->opening = true;
        req.gen = t->gen;
        req.quiet = t->backoff.failures() > 0;
        req.dev = m_lastDevice.value(key);
        for (const LiveWinInfo &w : m_winList) {
            if (fieldString(w.deviceId) == key) {
                std::memcpy(req.dev.devName, w.name, sizeof req.dev.devName);
                req.winHandle = w.winHandle;
            }
        }
    }
    DeviceInfo_s &dev = req.dev;
    varno::setText(dev.devId, text8(key));
    std::memcpy(dev.p2pId, rec.p2pId, sizeof dev.p2pId);
    std::memcpy(dev.password, rec.password, sizeof dev.password);
    dev.p2pFlag = char(rec.p2pFlag);
    dev.streamType = rec.streamType;
    if (rec.p2pFlag) {
        OPEN_LOG(req, 3, "%s(%d):reconnection device(%s), status(%d)!!!", "realvideo::updateP2pWin", __LINE__,
                 text8(key).constData(), rec.state);
    } else {
        OPEN_LOG(req, 3, "%s(%d):reconnect device(%s)!!!", "realvideo::updateOnvifWin", __LINE__,
                 text8(key).constData());
        req.access = accessOf(rec);
    }
    submit([this, req] { req.onvif ? openOnvif(req) : openP2p(req); });
}

// ---------------------------------------------------------------------------
// The stream that fits the window

void LiveController::setAutoStream(bool on)
{
    m_autoStream = on;
}

void LiveController::clearManualStream(const QString &key)
{
    VARNO_ASSERT_UI_THREAD();
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.find(key);
    if (t != m_tracks.end())
        t->manual = -1; // the monitor's next pass chooses
}

// Monitor thread, after the pass's step: the window's decoder rests while
// the window is not shown, and a switch begins when the window's size asks
// for the camera's other stream.
void LiveController::followWindow(const QString &key, int32_t winHandle)
{
    const QSize area = areaOf(winHandle);
    // A recording takes the main stream (asked outside the table mutex).
    const bool recording = m_windows->isRecording(key);
    QMutexLocker lock(&m_mutex);
    auto it = m_streams.find(key);
    auto t = m_tracks.find(key);
    if (it == m_streams.end() || t == m_tracks.end() || !it->liveStream || winHandle == 0)
        return;
    const bool rest = area.isEmpty();
    if (rest != it->liveStream->idle()) {
        it->liveStream->SetIdle(rest);
        if (t->swapLive)
            t->swapLive->SetIdle(rest);
        if (rest)
            t->idle = true;
        WriteLog(0, "[PREVIEW]Device(%s) window %s!!!", text8(key).constData(),
                 rest ? "is not shown, decoding rests" : "is shown again, decoding from the next key frame");
    }
    const uint32_t now = m_clock->nowMs();
    if (t->swapId != 0 && !t->swapShown && uint32_t(now - t->swapStartTick) >= kFirstFrameTimeoutMs) {
        // The new stream showed no picture: the old one stays.
        WriteLog(2, "%s(%d):Device(%s) stream %d showed no picture, the window keeps stream %d!!!",
                 "LiveController::followWindow", __LINE__, text8(key).constData(), t->swapType, it->streamType);
        SwapLeftovers left = takeSwap(t.value(), it.value());
        t->swapBlockedAt = now;
        t->swapBlocked = true;
        lock.unlock();
        dropSwap(left);
        return;
    }
    if (t->swapBlocked && uint32_t(now - t->swapBlockedAt) < kSwapRetryMs && !recording)
        return;
    t->swapBlocked = false;
    if (t->opening || t->swapId != 0 || t->swapJobs > 0 || it->state != kStatePlaying)
        return;
    const int current = it->streamType == 1 ? 1 : 0;
    // A P2P camera that records shows its main stream (the recording's).
    const bool recordMain = recording && it->p2pFlag;
    // A choice by hand is kept too: one made while an open or a switch ran
    // is carried out here.
    if (!recordMain && (rest || t->sizes[1].isEmpty() || (t->manual < 0 && !m_autoStream.load())))
        return;
    const int wanted = recordMain ? 0
        : t->manual >= 0          ? t->manual
                                  : StreamChoice::pick(area, t->sizes[0], t->sizes[1], current);
    if (wanted != current)
        beginSwap(key, wanted, !recordMain && t->manual >= 0);
}

void LiveController::beginSwap(const QString &key, int type, bool byHand)
{
    auto it = m_streams.find(key);
    auto t = m_tracks.find(key);
    OpenRequest req;
    req.key = key;
    req.job = Job::Swap;
    req.gen = t->gen;
    req.onvif = !it->p2pFlag;
    req.swapId = m_nextSwap++;
    req.swapType = type;
    req.winHandle = it->winHandle;
    req.dev = m_lastDevice.value(key);
    DeviceInfo_s &dev = req.dev;
    varno::setText(dev.devId, text8(key));
    std::memcpy(dev.p2pId, it->p2pId, sizeof dev.p2pId);
    std::memcpy(dev.password, it->password, sizeof dev.password);
    dev.p2pFlag = char(it->p2pFlag);
    dev.streamType = type;
    if (req.onvif)
        req.access = accessOf(it.value());
    t->swapId = req.swapId;
    t->swapType = type;
    t->swapOpened = false;
    t->swapShown = false;
    t->swapStartTick = m_clock->nowMs();
    ++t->swapJobs;
    if (byHand)
        WriteLog(0, "[PREVIEW]Device(%s) switches to stream %d chosen by hand!!!", text8(key).constData(), type);
    else
        WriteLog(0, "[PREVIEW]Device(%s) switches to stream %d for its window size!!!", text8(key).constData(),
                 type);
    submit([this, req] { req.onvif ? openSwapOnvif(req) : openSwapP2p(req); });
}

// Opener thread: the end of a swap job. A failed switch leaves the old
// stream showing; the monitor may try again at a later pass.
void LiveController::swapJobEnded(const QString &key, uint64_t gen, uint64_t swapId, bool failed)
{
    SwapLeftovers left;
    {
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.find(key);
        if (t == m_tracks.end() || t->gen != gen)
            return;
        --t->swapJobs;
        if (failed && t->swapId == swapId) {
            left = takeSwap(t.value(), m_streams.value(key));
            t->swapBlockedAt = m_clock->nowMs();
            t->swapBlocked = true;
        }
    }
    dropSwap(left);
}

void LiveController::openSwapP2p(const OpenRequest &req)
{
    const QString &key = req.key;
    const QByteArray id = text8(key);
    const P2P_HANDLE h = varno::p2pHandle();
    const QByteArray p2pId(req.dev.p2pId, int(::strnlen(req.dev.p2pId, sizeof req.dev.p2pId)));
    std::unique_ptr<char[]> descr(new char[kDescrBuffer]());
    int32_t count = 0;
    int ret = P2P_Client_SDK_Get_StreamDescr(h, p2pId.constData(), &count, descr.get());
    if (ret < 0 || count <= req.swapType) {
        WriteLog(2, "%s(%d):Get device(%s) stream descr failed, ret(%d)!!!", "LiveController::openSwapP2p", __LINE__,
                 id.constData(), ret < 0 ? ret : -1);
        swapJobEnded(key, req.gen, req.swapId, true);
        return;
    }
    char *entry = descr.get() + req.swapType * kDescrSize;
    const int32_t one = 1;
    std::memcpy(entry + offsetof(P2P_STREAM_DESCR_S, enabled), &one, sizeof one);
    P2P_STREAM_DESCR_S d;
    std::memcpy(&d, entry, sizeof d);
    const int decoderType = (d.videoCodec == 10 || d.videoCodec == 11) ? 2 : 1;
    const int audio[4] = {d.audioCodec == P2P_AUDIO_AAC ? 100 : 102, 1,
                          d.audioSampleRate > 0 ? d.audioBitRate / d.audioSampleRate : 8, d.audioSampleRate};
    const bool attached = attachSwapDecoder(req, newDecoder(req.winHandle, decoderType, audio), [&](Track &t) {
        t.sizes[0] = pictureSize(descr.get());
        t.sizes[1] = count >= 2 ? pictureSize(descr.get() + kDescrSize) : QSize();
    });
    if (!attached)
        return;
    const int32_t params[3] = {1, 5, 0};
    const QByteArray password(req.dev.password, int(::strnlen(req.dev.password, sizeof req.dev.password)));
    ret = P2P_Client_SDK_Open_Stream(h, p2pId.constData(), entry, &LiveController::StreamCallback, this, params,
                                     password.constData(), 0);
    if (ret < 0) {
        WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "LiveController::openSwapP2p", __LINE__,
                 id.constData(), ret);
        swapJobEnded(key, req.gen, req.swapId, true);
        return;
    }
    bool kept = false;
    bool shown = false;
    {
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.find(key);
        if (current(key, req.gen) && t->swapId == req.swapId) {
            t->swapDescr = descr.release();
            t->swapOpened = true;
            shown = t->swapShown;
            kept = true;
        }
    }
    if (!kept)
        P2P_Client_SDK_Close_Stream(h, p2pId.constData(), entry); // cancelled meanwhile
    else if (shown)
        QMetaObject::invokeMethod(this, [this, key, swapId = req.swapId] { finishSwap(key, swapId); },
                                  Qt::QueuedConnection);
    swapJobEnded(key, req.gen, req.swapId, false);
}

// Opener thread: a switch's new decoder joins its track, paused and resting
// as the window's current decoder is (`also` fills in more of the track under
// the same lock). False when the switch ended meanwhile: the decoder, which
// the table never saw, is deleted and the job ends.
bool LiveController::attachSwapDecoder(const OpenRequest &req, CLiveStream *live,
                                       const std::function<void(Track &)> &also)
{
    const QString &key = req.key;
    live->SetFirstPictureHook([this, key, swapId = req.swapId](CLiveStream *s) { swapReady(key, swapId, s); });
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        auto t = m_tracks.find(key);
        if (current(key, req.gen) && it != m_streams.end() && t->swapId == req.swapId) {
            live->SetPaused(m_paused);
            live->SetIdle(it->liveStream && it->liveStream->idle());
            t->swapLive = live;
            if (also)
                also(*t);
            return true;
        }
    }
    delete live;
    swapJobEnded(key, req.gen, req.swapId, false);
    return false;
}

void LiveController::openSwapOnvif(const OpenRequest &req)
{
    const QString &key = req.key;
    const QByteArray id = text8(key);
    OnvifStreamUriReq_s uriReq = streamUriRequest(req.access);
    uriReq.channel = req.swapType;
    uriReq.transport = 1;
    char given[kOnvifUriSize] = {};
    int ret = SDK_DVRMGR_GetStreamUri(uriReq, nullptr, given);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Get device(%s) stream url failed, ret(%d)!!!", "LiveController::openSwapOnvif",
                 __LINE__, id.constData(), ret);
        swapJobEnded(key, req.gen, req.swapId, true);
        return;
    }
    const int audio[4] = {102, 1, 16, 8000};
    if (!attachSwapDecoder(req, newDecoder(req.winHandle, 1, audio), {}))
        return;
    int32_t handle = 0;
    RTSP_FRAME_CB cb = &LiveController::StreamCallback;
    ret = RTSP_OpenLiveSteam(given, cb, this, &handle);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Open device(%s) stream failed, ret(%d)!!!", "LiveController::openSwapOnvif", __LINE__,
                 id.constData(), ret);
        swapJobEnded(key, req.gen, req.swapId, true);
        return;
    }
    RTSP_SetSteamDeviceId(handle, id.constData());
    bool handed = false;
    {
        // Frames of this handle go to the new decoder from the start; from
        // here on the handle is the track's (a cancel closes it).
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.find(key);
        if (current(key, req.gen) && t->swapId == req.swapId) {
            t->swapRtsp = handle;
            handed = true;
        }
    }
    if (!handed) {
        RTSP_CloseLiveSteam(handle, cb);
        swapJobEnded(key, req.gen, req.swapId, false);
        return;
    }
    ret = RTSP_StartLiveSteam(handle);
    bool kept = false;
    bool shown = false;
    bool giveBack = false;
    {
        QMutexLocker lock(&m_mutex);
        auto t = m_tracks.find(key);
        if (current(key, req.gen) && t->swapId == req.swapId && t->swapRtsp == handle) {
            if (ret == 0) {
                t->swapOpened = true;
                shown = t->swapShown;
                kept = true;
            } else {
                t->swapRtsp = 0;
                giveBack = true;
            }
        }
    }
    if (!kept) {
        if (giveBack) {
            RTSP_StopLiveSteam(handle);
            RTSP_CloseLiveSteam(handle, cb);
        }
        swapJobEnded(key, req.gen, req.swapId, ret != 0);
        return;
    }
    if (shown)
        QMetaObject::invokeMethod(this, [this, key, swapId = req.swapId] { finishSwap(key, swapId); },
                                  Qt::QueuedConnection);
    swapJobEnded(key, req.gen, req.swapId, false);
}

// Opener thread: the picture sizes of the camera's first two profiles (the
// second is the sub stream when it is smaller). A camera with one profile
// gives the same one twice: it has no sub stream.
void LiveController::askOnvifSizes(const OpenRequest &req)
{
    OnvifStreamUriReq_s uriReq = streamUriRequest(req.access);
    uriReq.transport = 1;
    OnvifStreamUriInfo_s info[2]{};
    for (int channel = 0; channel < 2; ++channel) {
        if (m_stop.load())
            return;
        uriReq.channel = channel;
        char given[kOnvifUriSize] = {};
        if (SDK_DVRMGR_GetStreamUri(uriReq, &info[channel], given) != 0)
            return; // the window keeps its stream
    }
    const bool two = ::strncmp(info[0].profileToken, info[1].profileToken, sizeof info[0].profileToken) != 0;
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.find(req.key);
    if (!current(req.key, req.gen))
        return;
    t->sizes[0] = info[0].width > 0 && info[0].height > 0 ? QSize(info[0].width, info[0].height) : QSize();
    t->sizes[1] = two && info[1].width > 0 && info[1].height > 0 ? QSize(info[1].width, info[1].height) : QSize();
}

// Decode thread of the new decoder, right before its first picture shows:
// the old decoder shows nothing more (a picture of it being shown now ends
// first), so the window goes from the old stream's last picture to the new
// stream's first in one paint.
void LiveController::swapReady(const QString &key, uint64_t swapId, CLiveStream *stream)
{
    bool opened = false;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        auto t = m_tracks.find(key);
        if (it == m_streams.end() || t == m_tracks.end() || t->swapId != swapId || t->swapLive != stream)
            return; // cancelled: this decoder shows nothing (takeSwap)
        if (it->liveStream)
            it->liveStream->SetDisplayOff();
        t->swapShown = true;
        opened = t->swapOpened;
    }
    if (opened)
        QMetaObject::invokeMethod(this, [this, key, swapId] { finishSwap(key, swapId); }, Qt::QueuedConnection);
}

// User-interface thread: the new stream and its decoder take the record's
// place; the old stream is closed and its decoder goes to the reaper.
void LiveController::finishSwap(const QString &key, uint64_t swapId)
{
    VARNO_ASSERT_UI_THREAD();
    LiveStreamInfo old{};
    CLiveStream *oldLive = nullptr;
    int type = 0;
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_streams.find(key);
        auto t = m_tracks.find(key);
        if (it == m_streams.end() || t == m_tracks.end() || t->swapId != swapId || !t->swapLive || !t->swapShown
            || !t->swapOpened)
            return;
        old = it.value();
        oldLive = it->liveStream;
        type = t->swapType;
        it->liveStream = t->swapLive;
        it->streamType = type;
        if (it->p2pFlag) {
            it->streamDescr = t->swapDescr;
        } else {
            t->retiredRtsp = it->rtspHandle;
            it->rtspHandle = t->swapRtsp;
            for (LiveWinInfo &w : m_winList)
                if (fieldString(w.deviceId) == key)
                    w.rtspHandle = t->swapRtsp;
        }
        t->swapLive = nullptr;
        t->swapDescr = nullptr;
        t->swapRtsp = 0;
        t->swapId = 0;
        t->watched = false;
        ++t->swapsDone;
        auto last = m_lastDevice.find(key);
        if (last != m_lastDevice.end())
            last->streamType = type; // a reopen opens what the window shows
        applyMute();
    }
    closeStreamRecord(old);
    retireDecoder(oldLive);
    WriteLog(0, "[PREVIEW]Device(%s) shows stream %d!!!", text8(key).constData(), type);
}

LiveController::SwapLeftovers LiveController::takeSwap(Track &t, const LiveStreamInfo &rec)
{
    SwapLeftovers left;
    if (t.swapId == 0)
        return left;
    left.live = t.swapLive;
    left.descr = t.swapDescr;
    left.type = t.swapType;
    left.rtsp = t.swapRtsp;
    left.p2pId = QByteArray(rec.p2pId, int(::strnlen(rec.p2pId, sizeof rec.p2pId)));
    // Under the table mutex: a first picture on its way is not shown, and
    // the old decoder, if it was told to stop showing, shows again.
    if (left.live)
        left.live->SetDisplayOff();
    if (t.swapShown && rec.liveStream)
        rec.liveStream->SetDisplayOn();
    t.swapLive = nullptr;
    t.swapDescr = nullptr;
    t.swapRtsp = 0;
    t.swapId = 0;
    t.swapOpened = false;
    t.swapShown = false;
    return left;
}

void LiveController::dropSwap(SwapLeftovers &left)
{
    if (left.descr) {
        P2P_Client_SDK_Close_Stream(varno::p2pHandle(), left.p2pId.constData(), left.descr + left.type * kDescrSize);
        delete[] left.descr;
    }
    if (left.rtsp > 0) {
        RTSP_FRAME_CB cb = &LiveController::StreamCallback;
        RTSP_StopLiveSteam(left.rtsp);
        RTSP_CloseLiveSteam(left.rtsp, cb);
    }
    retireDecoder(left.live);
    left = SwapLeftovers{};
}

int LiveController::manualStream(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() ? -1 : t->manual;
}

QSize LiveController::streamSize(const QString &key, int type) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() || type < 0 || type > 1 ? QSize() : t->sizes[type];
}

bool LiveController::isSwitching(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t != m_tracks.cend() && (t->swapId != 0 || t->swapJobs > 0);
}

int LiveController::switchesDone(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    auto t = m_tracks.constFind(key);
    return t == m_tracks.cend() ? 0 : t->swapsDone;
}

} // namespace varno::live
