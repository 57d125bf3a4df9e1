#pragma once

#include "common/alarmrecords.h"
#include "common/devicerecords.h"
#include "common/liverecords.h"
#include "common/metatypes.h"
#include "common/onvifrecords.h"
#include "common/p2pmessage.h"
#include "live/livemonitor.h"
#include "platform/p2p/p2p_client_sdk.h"

#include <QHash>
#include <QSet>
#include <QList>
#include <QModelIndex>
#include <QMutex>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class CLiveStream;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;
class QVideoOnly;

// The live preview page. It owns every live stream the program has open: it
// opens a camera's stream by camera ID (P2P library) or over ONVIF and RTSP,
// gives each stream a window of the grid and a decoder, routes the frames
// the libraries deliver on their own threads, watches every stream from a
// monitor thread (first-picture time-out, stalls, reopening), switches a
// camera between its HD and SD stream, decides which window plays sound,
// asks for a new password when a camera refuses the stored one, subscribes
// to the cameras' ONVIF events and shows the alarm table.
//
// Threads: the user-interface thread (slots, StartStream), the libraries'
// threads (frame callbacks, which take the stream table's mutex), the
// decoders' threads (failure callback) and the monitor thread, which this
// page owns and joins. Signals to widgets cross threads queued.
//
// Locks, in this order when nested: the operation lock (one start, close,
// switch or reopen at a time), the stream table mutex (stream table and
// window list; never held across a blocking library call).
class realvideo : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(realvideo)

public:
    // clock: the monitor's millisecond clock (tests drive their own);
    // nullptr for the monotonic clock.
    explicit realvideo(QWidget *parent = nullptr, std::shared_ptr<varno::live::MonitorClock> clock = nullptr);
    ~realvideo() override;

    // Opens a P2P camera's stream (the record's stream choice at byte 228)
    // in a free window. 0 on success or when the camera is shown already
    // (selectIfOpen: its window is selected); else the failing call's result
    // (negative), -1 when the camera offers no stream.
    int StartStream(DeviceInfo_s dev, bool selectIfOpen);
    // The same for an ONVIF camera reached over RTSP.
    int StartStream(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen);

    void setMute(bool mute);
    // Subscribes to the camera's ONVIF events, then hands the record to the grid.
    void setDevInfo(DvrListInfo_s dev);
    // Failure report of a decoder (code -1539: its display failed).
    void setPlay(int code, CLiveStream *stream);
    // Full screen on: the grid takes the page, the alarm table and its
    // buttons hide and a tip fades out; off: back to the page layout.
    void setFullScreen(bool on);

    // Frame callbacks of the P2P and RTSP libraries (user value: the page).
    static int StreamCallback(P2P_HANDLE stream, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user);
    static int StreamCallback(int32_t stream, const char *descr, const int32_t *frameInfo, int32_t type,
                              const char *data, int32_t size, void *user);

    // --- Observation (any thread unless noted) ---------------------------
    QVideoOnly *videoOnly() const { return m_videoOnly; }
    QTableWidget *alarmTable() const { return m_alarmTable; }
    QLabel *tipLabel() const { return m_tipLabel; }
    QPushButton *showTableButton() const { return m_showBtn; }
    QPushButton *hideTableButton() const { return m_hideBtn; }
    double fadeValue() const { return m_fade; }
    bool isMuted() const { return m_mute; }
    QString audioDevice() const;
    QString snapshotFolder() const { return m_capPath; }
    int recordAlarmType() const { return m_recordAlarmType; }
    bool monitorRunning() const { return m_monitor.joinable(); }
    QStringList streamKeys() const;
    QStringList subscriptions() const;
    // A copy of a stream's record (false when the key has no stream).
    bool streamInfo(const QString &key, LiveStreamInfo *out) const;
    bool windowInfo(const QString &key, LiveWinInfo *out) const;
    // Per stream: video frames counted since the first key frame, pictures
    // decoded, pictures handed to the window's surface, and whether its
    // sound is on. -1 / false when the key has no stream.
    struct StreamStats
    {
        int frameCounter = -1;
        int64_t decodedPictures = -1;
        int64_t presentedPictures = -1;
        bool soundOn = false;
        bool paused = false;
        int32_t winHandle = 0;
        int pictureWidth = 0;  // source size of the picture the surface shows last
        int pictureHeight = 0;
    };
    StreamStats streamStats(const QString &key) const;
    // The decoder of a stream, for tests that look inside; valid only while
    // the stream stays open and only on the user-interface thread.
    CLiveStream *liveStreamOf(const QString &key) const;

signals:
    void sendUpdate();
    void timeOutClose(QString key);
    void sendDevStateReslut(bool used);
    void sendRecordCount(int count);
    void sendDevProperty(DeviceInfo_s dev);
    void sendCloseVideoToVOnly(QString key);
    void sendAlarmInfor(EVENT_alarm_info info);
    void sendStopRecord(QString key);

public slots:
    void btnCount4Clicked();
    void btnCount8Clicked();
    void btnCount16Clicked();
    void btnCount25Clicked();
    void btnPagePrevClicked();
    void btnPageNextClicked();
    void CapturePicWinFromVOnly(QString key, int channel, int winHandle);
    void RecvVideoWinNum(QString key);
    void RecvVideoWinPause(bool pause);
    void CloseVideoWinFromVOnly(QString key);
    void RecvCapPathFromConfig(QString path);
    void StopAlarmRecord(QModelIndex index);
    void hideTabBtn_clicked();
    void showTabBtn_clicked();
    void recvDevStateRequest(QString key);
    void recvOnLineState(STATE_E state, DvrListInfo_s dev);
    void recvRecordCount(int count);
    void recvRecordAlarmType(int type);
    void recvP2pMessage(P2pMessage_S msg);
    void recvAlarmInfo(EVENT_alarm_info info);
    void RecvChangeStream(QString key, int type);
    void timeOutStay();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class StartMode { Ui, Reopen };

    int startP2p(DeviceInfo_s dev, bool selectIfOpen, StartMode mode);
    int startOnvif(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen, StartMode mode);
    // Window part of a start: 0 continue as a new stream (*win set), 1
    // continue as a switch, 2 done (selected), negative: failure.
    int takeWindow(const DeviceInfo_s &dev, bool selectIfOpen, StartMode mode, int *winIndex, int32_t *winHandle);
    void giveWindowBack(bool switching, int winIndex);
    void finishNewWindow(const QString &key, int winIndex);
    void closeStreamRecord(LiveStreamInfo &rec);
    void RestartStream(const QString &key);
    void applyMute();
    void layoutPage();
    int frameArrived(const QString &key, bool p2p, int streamIndex, int type, const char *data, int size,
                     int info0, int info1);

    void monitorLoop();
    void updateP2pWin(const QString &key, int current, int &last, const LiveStreamInfo &rec);
    void updateOnvifWin(const QString &key, int current, int &last, const LiveStreamInfo &rec);
    void applyStep(const QString &key, int current, int &last, const LiveStreamInfo &rec,
                   const varno::live::MonitorStep &step);
    void reopen(const QString &key, const LiveStreamInfo &rec);
    bool winUsed(const QString &key) const;

    static int onDecoderFailure(int code, CLiveStream *stream, void *user);
    static int onAlarm(const EVENT_alarm_info *info, void *user);

    QVideoOnly *m_videoOnly = nullptr;
    QTableWidget *m_alarmTable = nullptr;
    QPushButton *m_showBtn = nullptr;
    QPushButton *m_hideBtn = nullptr;
    QLabel *m_tipLabel = nullptr;
    QTimer *m_tipTimer = nullptr;
    double m_fade = 1.0;
    bool m_fullScreen = false;
    bool m_tableShown = false;

    std::atomic<bool> m_mute{false};
    QString m_audioDevice;            // guarded by m_mutex
    QString m_capPath;
    int m_recordAlarmType = 0;
    QHash<QString, QString> m_subscriptions; // device ID -> event service address
    // The camera record of each stream key's last start (password restart).
    QHash<QString, DeviceInfo_s> m_lastDevice; // guarded by m_mutex
    QSet<QString> m_askingPassword;            // cameras whose password prompt is open (UI thread)

    std::shared_ptr<varno::live::MonitorClock> m_clock;
    std::atomic<bool> m_stop{false};
    std::thread m_monitor;
    std::mutex m_sleepMutex;
    std::condition_variable m_sleep;

    std::recursive_mutex m_opMutex;   // one start / close / switch / reopen at a time
    mutable QMutex m_mutex;           // stream table and window list
    QHash<QString, LiveStreamInfo> m_streams;
    QList<LiveWinInfo> m_winList;
};
