#pragma once

#include "common/devicerecords.h"
#include "live/liverecorder.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTipWidget;
class qmultivideo;
namespace varno::record {
class RecordingController;
}

// One window of the grid as the live view sees it.
struct WinState
{
    QString deviceId;
    QString name;
    int32_t winHandle = 0; // native handle of the window's video area
    int channel = 0;
    bool used = false;
};

// The live page's grid of 25 video windows, 4, 8, 16 or 25 of them shown per
// page, with the selected window framed in blue. It keeps which window shows
// which camera, asks before closing windows that record, offers the context
// menu of the windows, and holds the recording control of every camera.
//
// Everything runs on the user-interface thread except GetVideoWidget,
// SetWinUsed and SetVideoPaint, which the live view's monitor thread may
// call: they change the window table under its mutex and hand the widget
// work to the user-interface thread.
class QVideoOnly : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWinCount = 25;
    static constexpr int kGap = 4;
    static constexpr int kFrameWidth = 2;

    // Creates and starts a recorder for a camera (alarm type 0: by hand);
    // nullptr when it cannot start. Runs on a job thread of the recording
    // controller. The recorder reports through recvRecord.
    using RecorderFactory =
        std::function<std::unique_ptr<LiveRecorder>(const DvrListInfo_s &dev, int alarmType)>;

    explicit QVideoOnly(int count = 4, QWidget *parent = nullptr);
    ~QVideoOnly() override;

    // --- Calls of the live view -------------------------------------------
    // A free window for a camera's channel: its native handle (> 0) with
    // *index set; -3 channel out of range, -2 the channel already has a used
    // window (*index set to it), -1 no window free.
    int GetVideoWidget(int *index, const QString &deviceId, const QString &name, int channel);
    void SetWinUsed(int index, bool used);
    // The stream of window index started: title, buttons, video on.
    void OpenVideoWin(int index);
    // Qt painting of a window's video area (on: waiting picture, off: video).
    void SetVideoPaint(int winHandle, bool on);
    // The window's stream is reconnecting: its last picture dimmed, with a
    // text (user-interface thread; an unknown handle is ignored).
    void setReconnecting(int winHandle, bool on);
    void SelectVideoWin(int winHandle);
    void ShowVideoCount(int count);
    void PageBack();
    void PageForward();
    void setDevInfo(const DvrListInfo_s &dev);
    // The logged-in user: their choices of the live view (see
    // varno::live::LiveViewSettings) are taken up and stored under this name.
    void setUserName(const QString &user);
    QString userName() const { return m_user; }
    // The snapshot report of a window: replaces that window's previous
    // pop-up; imageFile (may be empty) is shown as the picture.
    void showSnapshotTip(int winHandle, const QString &title, const QString &text,
                         const QString &imageFile = QString());

    // --- Recording control -------------------------------------------------
    // The recordings themselves are the recording controller's
    // (varno::record::RecordingController): the grid wires the windows'
    // record buttons to it and shows what it reports.
    void setRecorderFactory(RecorderFactory factory);
    // Asks the controller to start the camera's recording: true when it
    // starts (the record buttons wait, disabled, until it reports), false
    // when it cannot (unknown camera, no recorder, recording already).
    bool beginToRecord(const QString &deviceId, int alarmType);
    void RecordAlarmStream(const QString &deviceId, int alarmKind);
    // Recorder callback (any thread): -1043 a file was created; -1045 /
    // -1046 the recording lost its stream / has it again (it goes on, the
    // record buttons follow); -1050 its disk went away (it goes on on the
    // next disk); any other code ends the camera's recording and tells the
    // user its cause (-259 alone is a full disk).
    void recvRecord(const QString &deviceId, const QString &filePath, int code,
                    LiveRecorder *recorder);
    // Live frame feed of a P2P stream (stream library thread).
    void feedLiveFrame(const QString &streamKey, const char *data, int size, int type,
                       uint64_t timeStampMs);

    // --- State --------------------------------------------------------------
    int count() const { return m_count; }
    int first() const { return m_first; }
    int last() const { return m_last; }
    int current() const { return m_current; }
    bool isMaximised() const { return m_maximised; }
    int maximisedIndex() const { return m_maxIndex; }
    qmultivideo *videoWin(int index) const;
    WinState winState(int index) const;
    int indexOfHandle(int32_t winHandle) const;
    bool isRecording(const QString &deviceId) const;
    // The camera's recording is being started.
    bool isRecordStarting(const QString &deviceId) const;
    varno::record::RecordingController *recordingController() const { return m_recording; }
    bool isAlarmRecording(const QString &deviceId) const;
    // The camera's recording waits for its stream.
    bool isRecordWaiting(const QString &deviceId) const;
    QMenu *contextMenu() const { return m_menu; }
    QAction *closeAction() const { return m_closeAction; }
    QAction *closeAllAction() const { return m_closeAllAction; }
    QAction *snapAction() const { return m_snapAction; }
    QAction *recordAction() const { return m_recordAction; }
    QAction *hdAction() const { return m_hdAction; }
    QAction *sdAction() const { return m_sdAction; }
    QAction *autoStreamAction() const { return m_autoStreamAction; }
    // The user's choice "Choose stream by window size" (see
    // varno::live::LiveViewSettings::autoStream).
    bool autoStream() const { return m_autoStream; }
    // The camera's window shows the stream chosen by hand (HD or SD) until
    // the choice by window size is taken again for it.
    bool hasManualStream(const QString &deviceId) const { return m_manualStream.contains(deviceId); }
    QAction *aspectAction() const { return m_aspectAction; }
    // Pictures of every window letter-boxed to their own shape (on) or
    // stretched to their windows (off).
    bool keepAspect() const { return m_keepAspect; }
    // Check marks and enabled states of the menu for the current window.
    void prepareContextMenu();
    static bool hasTwoStreams(const DvrListInfo_s &info);
    QTipWidget *tipOfWindow(int index) const;
    QList<QLabel *> frameLabels() const;

    // Geometry of the page layout: place 0 .. count-1 within an area.
    static QRect cellRect(QSize area, int count, int place);
    static QRect maximisedRect(QSize area);

signals:
    void SendVideoWinNum(QString deviceId);
    void CloseVideoWinToVWin(QString deviceId);
    void SendStopRecord(QString deviceId);
    void CapturePicWinToVWin(QString deviceId, int channel, int winHandle);
    void sendRecordCount(int delta);
    void SendDiskIsFull();
    void SendRecordWaiting(QString deviceId, bool waiting);
    // For the operation log: a recording lost its stream (true) or has it
    // again (false).
    void sendRecordStream(QString deviceId, bool lost);
    // A recorder's report (code, file or folder), queued to this thread.
    void SendRecordFault(int code, QString path);
    void SendChangeStream(QString deviceId, int streamType);
    // The window of the camera follows its size again (its choice by hand is cleared).
    void SendStreamByWindowSize(QString deviceId);
    // The choice by window size was turned on or off (also when the user's
    // stored choice is taken up).
    void autoStreamChanged(bool on);


public slots:
    void CloseVideoWinFromMul(int winHandle);
    void CapturePicWinFromMul(int winHandle);
    void CloseVideo();
    void CloseAllVideo();
    void SnapPicture();
    void RecordVideo();
    void SelectHdAction();
    void SelectSdAction();
    // The menu entry "Choose stream by window size" on the current window.
    void SelectAutoStreamAction();
    void setAutoStream(bool on);
    // The user's choice from the menu: applied to every window and stored.
    void setKeepAspect(bool on);
    void RecordVideoFromMul(int winHandle, bool record);
    void RecvStopRecord(QString deviceId);
    void recvUpdate();
    void RecvCloseVideoFromReal(QString deviceId);
    void RecvDiskIsFull();
    void RecvRecordWaiting(QString deviceId, bool waiting);
    // The controller's answers: a start ended (ok: recording), a report of
    // a running recording.
    void RecvRecordStarted(QString deviceId, int alarmType, bool ok);
    void RecvRecordReport(QString deviceId, int code, QString path);
    // Tells the user what a recorder met, once per cause and folder until a
    // recording file is created again.
    void RecvRecordFault(int code, QString path);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct DevEntry
    {
        DvrListInfo_s info{};
    };

    void layoutWins();
    void PaintBlue();
    void selectIndex(int index);
    void freeWin(int index);
    void setMaximised(int index);
    void restoreLayout();
    void switchStream(int streamType);
    int windowAt(const QPoint &pos) const;
    bool onPage(int index) const;
    void runOnUi(std::function<void()> work);
    void retranslate();
    void setCheck(QAction *action, bool checked);
    void applyKeepAspect(bool on);
    void applyAutoStream(bool on);

    std::array<qmultivideo *, kWinCount> m_wins{};
    std::array<WinState, kWinCount> m_table{};
    mutable QMutex m_tableMutex;

    int m_count = 4;
    int m_first = 0;
    int m_last = 3;
    int m_current = 0;
    bool m_maximised = false;
    int m_maxIndex = -1;
    std::array<QLabel *, 4> m_frame{};

    mutable QMutex m_recordMutex; // guards m_devices
    QSet<QString> m_faultsShown;   // recorder causes told since the last file created (UI thread)
    QHash<QString, DevEntry> m_devices;
    varno::record::RecordingController *m_recording = nullptr; // owned, deleted first

    std::array<QPointer<QTipWidget>, kWinCount> m_tips{};

    QMenu *m_menu = nullptr;
    QAction *m_closeAction = nullptr;
    QAction *m_closeAllAction = nullptr;
    QAction *m_snapAction = nullptr;
    QAction *m_recordAction = nullptr;
    QAction *m_hdAction = nullptr;
    QAction *m_sdAction = nullptr;
    QAction *m_autoStreamAction = nullptr;
    QAction *m_aspectAction = nullptr;
    bool m_autoStream = true;
    QSet<QString> m_manualStream; // cameras whose window shows the stream chosen by hand
    QString m_user;
    bool m_keepAspect = true;
};
