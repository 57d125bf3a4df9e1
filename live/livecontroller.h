#pragma once

#include "common/devicerecords.h"
#include "common/liverecords.h"
#include "common/metatypes.h"
#include "common/onvifrecords.h"
#include "common/p2pmessage.h"
#include "live/livemonitor.h"
#include "record/streamuriask.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CLiveStream;

namespace varno::live {

// What the stream controller asks of the window grid. The live page answers
// with its grid of video windows; tests answer without widgets.
class LiveWindows
{
public:
    virtual ~LiveWindows() = default;

    // User-interface thread.
    // A free window for the camera: its native handle (>= 0, *index set), or
    // a negative result when none is free.
    virtual int takeWindow(const QString &key, const QString &name, int *index) = 0;
    // The window shows the camera (title, buttons) and waits for its picture.
    virtual void showConnecting(const QString &key, int index, int32_t winHandle) = 0;
    virtual void selectWindow(int32_t winHandle) = 0;
    // The camera's window goes back to the grid (its open failed).
    virtual void freeWindow(const QString &key) = 0;

    // Any thread.
    // On: the window paints its waiting look; off: the pictures show.
    virtual void setWaitingLook(int32_t winHandle, bool on) = 0;
    // A frame of a P2P stream for the camera's recording (library thread).
    virtual void feedRecorder(const QString &key, const char *data, int size, int type, uint64_t timeStampMs) = 0;
    // The camera records or its recording starts (any thread): a P2P
    // camera's window then shows the main stream, the recording's.
    virtual bool isRecording(const QString &key) const
    {
        (void)key;
        return false;
    }
};

// Per stream: video frames counted since the first key frame, pictures
// decoded, pictures handed to the window's surface, and whether its sound is
// on. -1 / false when the key has no stream.
struct StreamStats
{
    int frameCounter = -1;
    int64_t decodedPictures = -1;
    int64_t presentedPictures = -1;
    bool soundOn = false;
    bool paused = false;
    int32_t winHandle = 0;
    int pictureWidth = 0; // source size of the picture the surface shows last
    int pictureHeight = 0;
};

// The live streams without their widgets: the stream table, the opening of
// P2P and ONVIF / RTSP streams, the routing of the libraries' frames to the
// windows' decoders, the monitor thread (first-picture time-out, stall,
// reopening with back-off), HD / SD switches and which stream plays sound.
//
// The monitor also follows each window's picture area (the size its video
// surface has now; empty while the window is not shown): a window that is
// not shown decodes nothing (its stream stays open, see CLiveStream::SetIdle),
// and, while the choice by window size is on and the window has no stream
// chosen by hand, a camera with a main and a smaller sub stream shows the one
// that fits the area (StreamChoice). Such a switch keeps the old stream
// painting: the new stream gets a decoder of its own in the same window, and
// at its first picture the old decoder stops showing, before that picture
// is shown; the old stream is closed afterwards.
//
// Opening never waits on the user-interface thread: StartStream takes a
// window, shows it waiting and hands the network part (session, stream
// descriptions, stream address, RTSP session) to the opener threads; the
// result comes back as streamStarted. Closing the window, switching pages or
// destroying the controller while an open runs are safe: an open whose
// stream was closed meanwhile closes what it opened and reports nothing.
//
// Threads: the user-interface thread (every non-const public function not
// marked otherwise; asserted in debug builds), the opener threads, the
// monitor thread and the reaper thread (owned, stopped by a flag and
// joined), the libraries' threads (frame callbacks) and the decoders'
// threads (failure callback). The table mutex guards the stream table and
// the window list; it is never held across a library call that may wait.
// Decoders leave the table on the user-interface thread only, so the
// snapshot's pointer stays valid while it runs there; they are deleted there
// too, except a failed open's (by the reaper, which joins its decode thread
// so that the window does not wait for it) and one an opener made that the
// table never saw.
class LiveController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveController)

public:
    // Number of streams opened at the same time.
    static constexpr int kOpenerThreads = 4;

    // windows: the grid (outlives the controller); clock: the monitor's
    // clock, nullptr for the monotonic one.
    explicit LiveController(LiveWindows *windows, std::shared_ptr<MonitorClock> clock = nullptr,
                            QObject *parent = nullptr);
    ~LiveController() override;

    // Opens a P2P camera's stream (the record's stream choice) in a free
    // window, or an ONVIF camera's over RTSP. Returns at once: 0 when the
    // open runs (streamStarted follows) or the camera is shown already
    // (selectIfOpen: its window is selected); a negative result when no
    // window is free.
    int StartStream(const DeviceInfo_s &dev, bool selectIfOpen);
    int StartStream(const DeviceInfo_s &dev, const OnvifAccessInfo_s &access, bool selectIfOpen);

    // Closes the camera's stream and forgets its window.
    void closeStream(const QString &key);
    // HD / SD by hand, kept by the window until clearManualStream: a P2P
    // stream is closed and opened again with the other choice; an ONVIF
    // camera with two profiles switches as for its window's size (the old
    // stream shows until the new one's first picture).
    void changeStream(const QString &key, int type);
    // The stream follows the window's size again (see setAutoStream).
    void clearManualStream(const QString &key);
    // The choice by window size, for every window without a choice by hand
    // (on by default). Any thread.
    void setAutoStream(bool on);
    bool autoStream() const { return m_autoStream.load(); }
    void setPaused(bool pause);
    void setMute(bool mute);
    void setAudioDevice(const QString &key);
    // Online state of a camera shown in a window: may its stream be reopened.
    void setOnline(const QString &key, bool online);
    // Camera notice 87: the camera announced an interruption (any thread).
    void streamInterrupted(const QString &key);
    // The camera's display name changed: its window and the record a reopen
    // uses take the new one.
    void renameCamera(const QString &key, const QString &name);
    // The camera's password changed (in the camera or typed anew): every
    // later reopen of its stream uses the new one.
    void changePassword(const QString &key, const char (&password)[64]);
    // The camera record of the key's last start (false when none).
    bool lastDevice(const QString &key, DeviceInfo_s *out) const;
    // The decoder drawing into winHandle for key; valid until control
    // returns to the event loop (user-interface thread only).
    CLiveStream *decoderOf(const QString &key, int32_t winHandle) const;

    // Frame callbacks of the P2P and RTSP libraries (user value: the controller).
    static int StreamCallback(P2P_HANDLE stream, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user);
    static int StreamCallback(int32_t stream, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user);

    // --- Observation (any thread) ----------------------------------------
    bool isMuted() const { return m_mute.load(); }
    QString audioDevice() const;
    bool monitorRunning() const { return m_monitor.joinable(); }
    QStringList streamKeys() const;
    bool streamInfo(const QString &key, LiveStreamInfo *out) const;
    bool windowInfo(const QString &key, LiveWinInfo *out) const;
    bool windowUsed(const QString &key) const;
    // An open, switch or reopen of the key runs on an opener thread.
    bool isOpening(const QString &key) const;
    // The camera's window shows its reconnecting look.
    bool isReconnecting(const QString &key) const;
    // Reopen attempts that failed in a row, and the wait before the next.
    int reopenFailures(const QString &key) const;
    uint32_t reopenDelay(const QString &key) const;
    // How often the camera's stream address was asked for (ONVIF).
    int streamUriRequests(const QString &key) const;
    CLiveStream *liveStreamOf(const QString &key) const;
    StreamStats streamStats(const QString &key) const;
    // The stream chosen by hand for the camera's window (0 / 1), -1 when none.
    int manualStream(const QString &key) const;
    // The picture size of the camera's main (0) or sub (1) stream as the
    // camera describes it; empty when unknown or when it has no such stream.
    QSize streamSize(const QString &key, int type) const;
    // A switch by window size runs: the new stream is opened or waits for
    // its first picture while the old one still shows.
    bool isSwitching(const QString &key) const;
    // Switches by window size that ended with the new stream shown.
    int switchesDone(const QString &key) const;

    // Failure report of a decoder (any thread): -1539, its display failed.
    void decoderFailed(int code, CLiveStream *stream);

    // Tests: how the decoders are made (a subclass that watches them); set
    // before the first start. The default makes a CLiveStream.
    using DecoderFactory = std::function<CLiveStream *(int32_t winHandle, int decoderType, const int audio[4])>;
    void setDecoderFactory(DecoderFactory factory) { m_decoderFactory = std::move(factory); }

signals:
    // The end of an open that StartStream began: 0, or the failing call's
    // result (-1: the camera offers no stream). Emitted on the user-interface
    // thread; not for an open whose window was closed meanwhile, nor for
    // reopens.
    void streamStarted(QString key, int result);
    // The stream must close with its window (first-picture time-out, display
    // failure); emitted on any thread.
    void closeWindow(QString key);
    void stopRecord(QString key);
    // A new camera record to store (the stream choice of a switch).
    void devicePropertyChanged(DeviceInfo_s dev);
    // The camera's window shows its last picture while the stream is
    // reopened or stalled (on), or a new picture came (off). Emitted on the
    // monitor thread; the window may have been closed when it arrives.
    void reconnectingChanged(QString key, int32_t winHandle, bool on);

private:
    enum class Job { New, Switch, Reopen, Swap };
    // What the controller keeps beside each stream record.
    struct Track
    {
        uint64_t gen = 0;          // a new value whenever the record is replaced or closed
        bool opening = false;      // an open, switch or reopen job runs
        ReopenBackoff backoff;
        int lastFailure = 0;       // result of the last failed reopen
        QByteArray uri;            // ONVIF: the stream address last given ...
        QByteArray uriAskedWith;   // ... for this service address, profile, channel and password
        varno::record::StreamUriAsk uriAsk; // when to ask again while reopens fail
        int uriRequests = 0;
        QString audioBefore;       // the sound's window before this one was shown waiting
        bool watched = false;      // the monitor saw the stream once
        uint64_t pictures = 0;     // pictures decoded at the monitor's last look
        uint32_t pictureTick = 0;  // monitor time of the last new picture
        bool reconnecting = false; // the window shows its reconnecting look
        int manual = -1;           // stream chosen by hand for the window, -1 none
        QSize sizes[2];            // pictures of the main and sub stream (empty: unknown / none)
        bool sizesAsked = false;   // ONVIF: the profiles' sizes were asked for
        bool idle = false;         // the window is not shown: its decoder rests
        // A switch by window size (swapId 0: none). Its decoder and stream
        // are the track's until the new picture shows; then they replace
        // the record's.
        uint64_t swapId = 0;
        int swapType = 0;
        int swapJobs = 0;          // swap jobs on the opener threads
        CLiveStream *swapLive = nullptr;
        char *swapDescr = nullptr; // P2P: the new stream's description buffer
        int32_t swapRtsp = 0;      // ONVIF: the new stream's handle
        int32_t retiredRtsp = 0;   // ONVIF: the handle a switch replaced, closing
        bool swapOpened = false;
        bool swapShown = false;
        uint32_t swapStartTick = 0;  // monitor clock at its start
        bool swapBlocked = false;    // a switch failed at swapBlockedAt: the next waits
        uint32_t swapBlockedAt = 0;
        int swapsDone = 0;
    };
    // What a cancelled switch leaves to close (with the table mutex free).
    struct SwapLeftovers
    {
        CLiveStream *live = nullptr;
        char *descr = nullptr;
        int type = 0;
        int32_t rtsp = 0;
        QByteArray p2pId;
    };
    struct OpenRequest
    {
        Job job = Job::New;
        QString key;
        uint64_t gen = 0;
        DeviceInfo_s dev{};
        OnvifAccessInfo_s access{};
        bool onvif = false;
        int32_t winHandle = 0;
        bool quiet = false;        // a repeated reopen failure: its lines were written once
        uint64_t swapId = 0;       // Job::Swap: the switch, and the stream it opens
        int swapType = 0;
    };

    int startCommon(const DeviceInfo_s &dev, const OnvifAccessInfo_s *access, bool selectIfOpen);
    void submit(std::function<void()> job);
    void openerLoop();
    void openP2p(const OpenRequest &req);
    void openOnvif(const OpenRequest &req);
    // Opener thread: the open ended without a stream.
    void openFailed(const OpenRequest &req, int result);
    // User-interface thread: a failed new stream leaves the table.
    void dropFailedStream(const QString &key, uint64_t gen, int result);
    bool current(const QString &key, uint64_t gen) const; // table mutex held
    bool waitOrStop(int ms);
    bool pausedNow() const;
    CLiveStream *newDecoder(int32_t winHandle, int decoderType, const int audio[4]);
    // A decoder out of the table goes to the reaper thread: deleting it
    // joins its decode thread, which the user-interface thread must not
    // wait for (on a busy machine that thread may wait long for a CPU).
    void retireDecoder(CLiveStream *live);
    void reaperLoop();

    void closeStreamRecord(LiveStreamInfo &rec);
    void applyMute(); // table mutex held
    int frameArrived(const QString &key, bool p2p, int streamIndex, int type, const char *data, int size,
                     int info0, int info1, int videoDecoder = 0, int32_t rtspHandle = 0);
    static int onDecoderFailure(int code, CLiveStream *stream, void *user);
    void finishOpened(const OpenRequest &req);
    void reportStarted(const QString &key, uint64_t gen, int result);

    // Switches by window size.
    void followWindow(const QString &key, int32_t winHandle);
    void beginSwap(const QString &key, int type, bool byHand = false); // table mutex held
    void openSwapP2p(const OpenRequest &req);
    void openSwapOnvif(const OpenRequest &req);
    void askOnvifSizes(const OpenRequest &req);
    bool attachSwapDecoder(const OpenRequest &req, CLiveStream *live, const std::function<void(Track &)> &also);
    void swapReady(const QString &key, uint64_t swapId, CLiveStream *stream);
    void finishSwap(const QString &key, uint64_t swapId);
    void swapJobEnded(const QString &key, uint64_t gen, uint64_t swapId, bool failed);
    // Takes a switch out of its track (table mutex held); its decoder shows
    // nothing from then on.
    static SwapLeftovers takeSwap(Track &t, const LiveStreamInfo &rec);
    void dropSwap(SwapLeftovers &left);

    void monitorLoop();
    void monitorPass(QHash<QString, int> &last);
    void applyStep(const QString &key, int current, int &last, const LiveStreamInfo &rec, const MonitorStep &step);
    void scheduleReopen(const QString &key, const LiveStreamInfo &rec);
    void watchReconnecting(const QString &key, const LiveStreamInfo &rec, uint64_t pictures);

    LiveWindows *m_windows;
    std::shared_ptr<MonitorClock> m_clock;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_mute{false};
    std::atomic<bool> m_autoStream{true};

    std::thread m_monitor;
    std::vector<std::thread> m_openers;
    std::mutex m_jobMutex; // job queue and the threads' sleep
    std::condition_variable m_jobSignal;
    std::deque<std::function<void()>> m_jobs;
    DecoderFactory m_decoderFactory;

    std::thread m_reaper;
    std::mutex m_reapMutex; // the two below
    std::condition_variable m_reapSignal;
    std::vector<CLiveStream *> m_retired;

    mutable QMutex m_mutex; // everything below
    QHash<QString, LiveStreamInfo> m_streams;
    QList<LiveWinInfo> m_winList;
    QHash<QString, Track> m_tracks; // beside each stream record
    QHash<QString, DeviceInfo_s> m_lastDevice;
    QString m_audioDevice;
    bool m_paused = false; // every window paused (the live page is not shown)
    uint64_t m_nextGen = 1;
    uint64_t m_nextSwap = 1;
};

} // namespace varno::live
