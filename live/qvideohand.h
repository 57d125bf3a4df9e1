#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class QVideoHand;
}
class QToolButton;

// Title bar of one live window: the window's title and the buttons
// "Record", "Snapshot" and "Close" (shown only while a camera is open).
class QVideoHand : public QWidget
{
    Q_OBJECT

public:
    // Waiting: a recording (by hand or alarm) whose camera sends no stream;
    // it goes on when the stream comes back.
    enum class RecordLook { Reset, Normal, Alarm, Waiting };

    explicit QVideoHand(QWidget *parent = nullptr);
    ~QVideoHand() override;

    void setTitle(const QString &title);
    QString title() const { return m_title; }
    void setButtonsShown(bool shown);
    bool buttonsShown() const { return m_buttonsShown; }

    bool recording() const { return m_recording; }
    bool alarmRecording() const { return m_alarmRecording; }
    bool recordWaiting() const { return m_waiting; }
    RecordLook recordLook() const { return m_look; }

    QToolButton *recordButton() const;
    QToolButton *snapshotButton() const;
    QToolButton *closeButton() const;

signals:
    void CloseVideoWinToMul();
    void CapturePicWinToMul();
    void RecordVideoToMul(bool record);
    void SendResetRecord();
    void SendNormalRecord();
    void SendAlarmRecord();

public slots:
    void CloseVideoWin();
    void RecordVideo();
    void CapturePic();
    // Looks of the record button: not recording, recording by hand, alarm
    // recording. They also set the recording flags.
    void RecvResetRecord();
    void RecvNormalRecord();
    void RecvAlarmRecord();
    // The running recording has no stream (waiting), or has it again.
    void RecvRecordWaiting(bool waiting);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showTitle();
    void applyRecordLook();

    std::unique_ptr<Ui::QVideoHand> m_ui;
    QString m_title;
    bool m_buttonsShown = false;
    bool m_recording = false;
    bool m_alarmRecording = false;
    bool m_waiting = false;
    RecordLook m_look = RecordLook::Reset;
};
