#include "live/qmultivideo.h"

#include "live/qvideohand.h"
#include "live/qvideoplay.h"

qmultivideo::qmultivideo(int number, QWidget *parent)
    : QWidget(parent)
    , m_number(number)
{
    // The one-pixel line between title bar and video area.
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("multiVideo"));
    setStyleSheet(QStringLiteral("qmultivideo#multiVideo { background-color: rgb(24, 27, 32); }"));
    m_hand = new QVideoHand(this);
    m_hand->setTitle(QString::number(number));
    m_play = new QVideoPlay(this);
    connect(m_hand, &QVideoHand::CloseVideoWinToMul, this, &qmultivideo::CloseVideoWinFromHand);
    connect(m_hand, &QVideoHand::CapturePicWinToMul, this, &qmultivideo::CapturePicWinFromHand);
    connect(m_hand, &QVideoHand::RecordVideoToMul, this, &qmultivideo::RecordVideoFromHand);
}

qmultivideo::~qmultivideo() = default;

int32_t qmultivideo::nativeHandle() const
{
    return m_play->nativeHandle();
}

void qmultivideo::CloseVideoWinFromHand()
{
    emit CloseVideoWinToVOnly(nativeHandle());
}

void qmultivideo::CapturePicWinFromHand()
{
    emit CapturePicWinToVOnly(nativeHandle());
}

void qmultivideo::RecordVideoFromHand(bool record)
{
    emit RecordVideoToVideo(nativeHandle(), record);
}

void qmultivideo::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_hand->setGeometry(0, 0, width(), kHandHeight);
    m_play->setGeometry(0, kPlayTop, width(), qMax(height() - kPlayTop, 0));
}
