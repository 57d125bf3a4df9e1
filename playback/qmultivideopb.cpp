#include "playback/qmultivideopb.h"

#include "live/videosurface.h"
#include "playback/qvideohandpb.h"
#include "playback/qvideoslide.h"

#include <QEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

qmultivideopb::qmultivideopb(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("multiVideoPb"));
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    m_hand = new QVideoHandPb(this);
    m_video = new varno::live::VideoSurface(this);
    m_video->setIdleText(tr("Double-click a recording to play it"));
    m_slide = new QVideoSlide(this);
    layout->addWidget(m_hand);
    layout->addWidget(m_video, 1);
    layout->addWidget(m_slide);
    m_slide->setVisible(false);
    m_video->installEventFilter(this);

    connect(m_slide, &QVideoSlide::SendValueToMul, this, &qmultivideopb::RecvValueFromSlide);
    connect(m_slide, &QVideoSlide::SendSeekToMul, this, &qmultivideopb::RecvSeekFromSlide);
    connect(m_hand, &QVideoHandPb::SendCloseToMul, this, &qmultivideopb::RecvCloseFromHand);
    connect(m_hand, &QVideoHandPb::SendPauseToMul, this, &qmultivideopb::RecvPauseFromHand);
    connect(m_hand, &QVideoHandPb::SendSpeedToMul, this, &qmultivideopb::RecvSpeedFromHand);
    connect(m_hand, &QVideoHandPb::SendSnapToMul, this, &qmultivideopb::RecvSnapFromHand);
    connect(m_hand, &QVideoHandPb::SendStepToMul, this, &qmultivideopb::RecvStepFromHand);
    setCurrent(false);
}

int qmultivideopb::winId() const
{
    return int(m_video->nativeHandle());
}

void qmultivideopb::setTitle(const QString &name)
{
    m_hand->setFileName(name);
}

void qmultivideopb::setCurrent(bool current)
{
    m_current = current;
    setStyleSheet(current ? QStringLiteral("#multiVideoPb{border:1px solid rgb(0,160,230);}")
                          : QStringLiteral("#multiVideoPb{border:1px solid rgb(60,60,60);}"));
}

bool qmultivideopb::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_video) {
        if (event->type() == QEvent::MouseButtonPress)
            emit clickedWin(winId());
        else if (event->type() == QEvent::MouseButtonDblClick
                 && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            emit doubleClickedWin(winId());
    }
    return QWidget::eventFilter(watched, event);
}

void qmultivideopb::RecvValueFromSlide(int value) { emit SendValueToVideo(winId(), value); }
void qmultivideopb::RecvSeekFromSlide(bool bSeek) { emit SendSeekToVideo(winId(), bSeek); }
void qmultivideopb::RecvCloseFromHand() { emit SendCloseToVideo(winId()); }
void qmultivideopb::RecvPauseFromHand(bool pause) { emit SendPauseToVideo(winId(), pause); }
void qmultivideopb::RecvSpeedFromHand(float speed) { emit SendSpeedToVideo(winId(), speed); }
void qmultivideopb::RecvSnapFromHand() { emit SendSnapToVideo(winId()); }
void qmultivideopb::RecvStepFromHand() { emit SendStepToVideo(winId()); }
