#include "live/qvideoplay.h"

#include "live/videosurface.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>

namespace {
// Background of a window without video: the dark grey of the label, so that
// the label reads as part of the window rather than a patch on it.
const QColor kIdleColor(44, 48, 54);
} // namespace

QVideoPlay::QVideoPlay(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_surface = new varno::live::VideoSurface(this);
    m_surface->setIdleColor(kIdleColor);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("videoLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setStyleSheet(QStringLiteral("QLabel{background-color:rgb(77, 82, 86);color:white;}"));
    m_label->setFixedSize(kLabelWidth, kLabelHeight);
    // Clicks go through to the window (selection, double-click, menu).
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_surface->setAttribute(Qt::WA_TransparentForMouseEvents);
    retranslate();
    placeLabel();
}

QVideoPlay::~QVideoPlay() = default;

int32_t QVideoPlay::nativeHandle() const
{
    return m_surface->nativeHandle();
}

void QVideoPlay::setPainting(bool on)
{
    m_surface->setPainting(on);
}

bool QVideoPlay::painting() const
{
    return m_surface->painting();
}

void QVideoPlay::setLabelShown(bool shown)
{
    m_labelShown = shown;
    m_label->setVisible(shown);
}

bool QVideoPlay::labelShown() const
{
    return m_labelShown;
}

void QVideoPlay::setWaitingText(const QString &text)
{
    m_surface->setIdleText(text);
}

void QVideoPlay::setReconnecting(bool on)
{
    m_reconnecting = on;
    m_surface->setNotice(on ? tr("Reconnecting...") : QString());
}

void QVideoPlay::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Pictures are scaled to the surface's size on the decode threads; an
    // odd width or height takes libswscale's slow path (about three times
    // the cost), so the surface keeps even sides and the spare line at most
    // shows the background.
    m_surface->setGeometry(0, 0, width() & ~1, height() & ~1);
    placeLabel();
}

void QVideoPlay::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), kIdleColor);
}

void QVideoPlay::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void QVideoPlay::placeLabel()
{
    m_label->move((width() - kLabelWidth) / 2, (height() - kLabelHeight) / 2);
    m_label->raise();
}

void QVideoPlay::retranslate()
{
    m_label->setText(tr("No video"));
    if (m_reconnecting)
        m_surface->setNotice(tr("Reconnecting..."));
}
