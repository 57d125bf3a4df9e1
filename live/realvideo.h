#pragma once

#include "common/alarmrecords.h"
#include "common/devicerecords.h"
#include "common/liverecords.h"
#include "common/metatypes.h"
#include "common/onvifrecords.h"
#include "common/p2pmessage.h"
#include "live/cameraevents.h"
#include "live/livecontroller.h"
#include "live/livemonitor.h"

#include <QHash>
#include <QDeadlineTimer>
#include <QSet>
#include <QList>
#include <QModelIndex>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class CLiveStream;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;
class QVideoOnly;

// The live preview page: the window grid, the alarm table with its show and
// hide buttons and the full-screen tip. Its streams belong to a
// LiveController (live/livecontroller.h) that the page drives and answers
// for the grid; the page keeps what needs widgets or the user: the windows,
// the snapshot, the password prompt of a camera that refuses the stored
// one and the alarm table; the ONVIF event subscriptions belong to a
// CameraEvents (live/cameraevents.h).
//
// Threads: the user-interface thread (slots, StartStream); the controller's
// threads reach the page through queued signals only.
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
    // in a free window. Returns at once: 0 when the open runs (the window
    // waits for the picture, streamStarted follows) or the camera is shown
    // already (selectIfOpen: its window is selected); a negative result when
    // no window is free. The open's own result comes with streamStarted:
    // 0, or the failing call's result (-1 when the camera offers no stream).
    int StartStream(DeviceInfo_s dev, bool selectIfOpen);
    // The same for an ONVIF camera reached over RTSP.
    int StartStream(DeviceInfo_s dev, OnvifAccessInfo_s access, bool selectIfOpen);

    void setMute(bool mute);
    // Takes a changed camera password into the streams it has open, subscribes
    // to the camera's ONVIF events, then hands the record to the grid.
    void setDevInfo(DvrListInfo_s dev);
    // Failure report of a decoder (code -1539: its display failed).
    void setPlay(int code, CLiveStream *stream);
    // Full screen on: the grid takes the page, the alarm table and its
    // buttons hide and a tip fades out; off: back to the page layout.
    void setFullScreen(bool on);

    // --- Observation (any thread unless noted) ---------------------------
    QVideoOnly *videoOnly() const { return m_videoOnly; }
    QTableWidget *alarmTable() const { return m_alarmTable; }
    QLabel *tipLabel() const { return m_tipLabel; }
    QPushButton *showTableButton() const { return m_showBtn; }
    QPushButton *hideTableButton() const { return m_hideBtn; }
    double fadeValue() const { return m_fade; }
    bool isMuted() const { return m_ctl->isMuted(); }
    QString audioDevice() const { return m_ctl->audioDevice(); }
    varno::live::LiveController *controller() const { return m_ctl.get(); }
    QString snapshotFolder() const { return m_capPath; }
    int recordAlarmType() const { return m_recordAlarmType; }
    bool monitorRunning() const { return m_ctl->monitorRunning(); }
    QStringList streamKeys() const { return m_ctl->streamKeys(); }
    QStringList subscriptions() const;
    // A copy of a stream's record (false when the key has no stream).
    bool streamInfo(const QString &key, LiveStreamInfo *out) const { return m_ctl->streamInfo(key, out); }
    bool windowInfo(const QString &key, LiveWinInfo *out) const { return m_ctl->windowInfo(key, out); }
    using StreamStats = varno::live::StreamStats;
    StreamStats streamStats(const QString &key) const { return m_ctl->streamStats(key); }
    // The decoder of a stream, for tests that look inside; valid only while
    // the stream stays open and only on the user-interface thread.
    CLiveStream *liveStreamOf(const QString &key) const { return m_ctl->liveStreamOf(key); }

signals:
    void sendUpdate();
    void timeOutClose(QString key);
    void sendDevStateReslut(bool used);
    void sendRecordCount(int count);
    void sendDevProperty(DeviceInfo_s dev);
    void sendCloseVideoToVOnly(QString key);
    void sendAlarmInfor(EVENT_alarm_info info);
    void sendStopRecord(QString key);
    // A recording lost its stream (true) or has it again (false), for the
    // operation log.
    void sendRecordStream(QString key, bool lost);
    // The end of an open StartStream began (see there).
    void streamStarted(QString key, int result);
    // The camera's live window shows that its stream is reconnecting (on),
    // or shows pictures again or was closed (off).
    void sendLiveReconnecting(QString key, bool on);

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
    class Windows;

    void RestartStream(const QString &key);
    void onStreamStarted(const QString &key, int result);
    void onReconnecting(const QString &key, int32_t winHandle, bool on);
    void captureWhenReady(const QString &key, int channel, int winHandle, QDeadlineTimer deadline);
    void layoutPage();

    QVideoOnly *m_videoOnly = nullptr;
    QTableWidget *m_alarmTable = nullptr;
    QPushButton *m_showBtn = nullptr;
    QPushButton *m_hideBtn = nullptr;
    QLabel *m_tipLabel = nullptr;
    QTimer *m_tipTimer = nullptr;
    double m_fade = 1.0;
    bool m_fullScreen = false;
    bool m_tableShown = false;

    QString m_capPath;
    int m_recordAlarmType = 0;
    QHash<QString, QString> m_names;         // device ID -> the camera's name (alarm table)
    QSet<QString> m_askingPassword;          // cameras whose password prompt is open
    QSet<QString> m_restarting;              // cameras started again with a new password
    QSet<QString> m_reconnecting;            // cameras whose window shows the reconnecting look

    std::unique_ptr<Windows> m_windows;
    std::unique_ptr<varno::live::LiveController> m_ctl;
    std::unique_ptr<varno::live::CameraEvents> m_events;
};
