#include "live/qvideohand.h"

#include "ui_qvideohand.h"

#include "common/ui/infobox.h"
#include "resources/resourcepath.h"

#include <QEvent>
#include <QIcon>

QVideoHand::QVideoHand(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::QVideoHand>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    m_ui->titleLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_ui->btnSnapshot->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/snapshot.png"))));
    m_ui->btnClose->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/win_close.png"))));
    connect(m_ui->btnClose, &QToolButton::clicked, this, &QVideoHand::CloseVideoWin);
    connect(m_ui->btnRecord, &QToolButton::clicked, this, &QVideoHand::RecordVideo);
    connect(m_ui->btnSnapshot, &QToolButton::clicked, this, &QVideoHand::CapturePic);
    connect(this, &QVideoHand::SendResetRecord, this, &QVideoHand::RecvResetRecord);
    connect(this, &QVideoHand::SendNormalRecord, this, &QVideoHand::RecvNormalRecord);
    connect(this, &QVideoHand::SendAlarmRecord, this, &QVideoHand::RecvAlarmRecord);
    applyRecordLook();
    setButtonsShown(false);
}

QVideoHand::~QVideoHand() = default;

QToolButton *QVideoHand::recordButton() const
{
    return m_ui->btnRecord;
}

QToolButton *QVideoHand::snapshotButton() const
{
    return m_ui->btnSnapshot;
}

QToolButton *QVideoHand::closeButton() const
{
    return m_ui->btnClose;
}

void QVideoHand::setTitle(const QString &title)
{
    m_title = title;
    showTitle();
}

void QVideoHand::setButtonsShown(bool shown)
{
    m_buttonsShown = shown;
    m_ui->btnRecord->setVisible(shown);
    m_ui->btnSnapshot->setVisible(shown);
    m_ui->btnClose->setVisible(shown);
    showTitle();
}

void QVideoHand::CloseVideoWin()
{
    emit CloseVideoWinToMul();
}

void QVideoHand::CapturePic()
{
    emit CapturePicWinToMul();
}

void QVideoHand::RecordVideo()
{
    if (m_alarmRecording) {
        varno::ui::InfoBox(window(), tr("Recording"),
                           tr("Manual recording can not be executed , as there is an alarm vieo "
                              "recording under going."));
        return;
    }
    m_recording = !m_recording;
    emit RecordVideoToMul(m_recording);
}

void QVideoHand::RecvResetRecord()
{
    m_recording = false;
    m_alarmRecording = false;
    m_waiting = false;
    applyRecordLook();
}

void QVideoHand::RecvNormalRecord()
{
    m_recording = true;
    m_alarmRecording = false;
    applyRecordLook();
}

void QVideoHand::RecvAlarmRecord()
{
    m_recording = true;
    m_alarmRecording = true;
    applyRecordLook();
}

void QVideoHand::RecvRecordWaiting(bool waiting)
{
    m_waiting = waiting;
    applyRecordLook();
}

void QVideoHand::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    showTitle();
}

void QVideoHand::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        m_ui->retranslateUi(this);
        applyRecordLook();
        showTitle();
    }
    QWidget::changeEvent(event);
}

// A long camera name is cut with an ellipsis instead of running under the
// buttons; the whole title stays in the tool tip.
void QVideoHand::showTitle()
{
    QLabel *label = m_ui->titleLabel;
    int room = width() - 8;
    if (m_buttonsShown)
        room -= 3 * (17 + 2) + 2;
    const QString shown = label->fontMetrics().elidedText(m_title, Qt::ElideRight, qMax(room, 0));
    label->setText(shown);
    label->setToolTip(shown == m_title ? QString() : m_title);
}

void QVideoHand::applyRecordLook()
{
    QToolButton *button = m_ui->btnRecord;
    m_look = !m_recording ? RecordLook::Reset
        : m_waiting      ? RecordLook::Waiting
        : m_alarmRecording ? RecordLook::Alarm
                           : RecordLook::Normal;
    switch (m_look) {
    case RecordLook::Reset:
        button->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/record_stop.ico"))));
        button->setToolTip(tr("Record"));
        break;
    case RecordLook::Normal:
        button->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/record_normal.ico"))));
        button->setToolTip(tr("Stop recording"));
        break;
    case RecordLook::Alarm:
        button->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/record_alarm.ico"))));
        button->setToolTip(tr("Alarm recording"));
        break;
    case RecordLook::Waiting:
        button->setIcon(QIcon(varno::resourcePath(QStringLiteral("./images/record_waiting.ico"))));
        button->setToolTip(tr("waiting for the camera"));
        break;
    }
}
