#include "live/videosurface.h"

#include "platform/av/videosink.h"

#include <QEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>

namespace varno::live {

namespace {
VideoSurface::PaintProbe &paintProbe()
{
    static VideoSurface::PaintProbe probe;
    return probe;
}
} // namespace

void VideoSurface::setPaintProbe(PaintProbe probe)
{
    paintProbe() = std::move(probe);
}

VideoSurface::VideoSurface(QWidget *parent)
    : QWidget(parent), m_surface(std::make_shared<av::FrameSurface>()), m_idleColor(Qt::black)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_handle = av::registerVideoSink(m_surface);
    // The notifier runs on a decoding thread: it only posts one update at a time.
    m_surface->setNotifier([this] {
        if (!m_updatePosted.exchange(true))
            QMetaObject::invokeMethod(this, &VideoSurface::pictureArrived, Qt::QueuedConnection);
    });
}

VideoSurface::~VideoSurface()
{
    // After detach() no decoding thread calls back into this widget.
    m_surface->detach();
    av::unregisterVideoSink(m_handle);
}

void VideoSurface::setPainting(bool on)
{
    if (m_painting == on)
        return;
    m_painting = on;
    update();
}

void VideoSurface::setIdleText(const QString &text)
{
    m_idleText = text;
    if (m_painting)
        update();
}

void VideoSurface::setIdleColor(const QColor &color)
{
    m_idleColor = color;
    if (m_painting)
        update();
}

void VideoSurface::setNotice(const QString &text)
{
    if (m_notice == text)
        return;
    m_notice = text;
    update();
}

void VideoSurface::setKeepAspect(bool on)
{
    if (m_keepAspect == on)
        return;
    m_keepAspect = on;
    m_surface->setKeepAspect(on);
    if (!m_painting)
        update();
}

QRectF VideoSurface::pictureRect() const
{
    if (!m_keepAspect)
        return rect();
    // Placed in device pixels, the grid the decoders scale for, so that the
    // picture lands on whole pixels at any scale factor.
    const qreal ratio = devicePixelRatioF();
    const QRect area(QPoint(), (QSizeF(size()) * ratio).toSize());
    const QRect fit = av::fitRect(m_surface->latestDisplaySize(), area);
    return QRectF(QPointF(fit.topLeft()) / ratio, QSizeF(fit.size()) / ratio);
}

QImage VideoSurface::currentImage() const
{
    return m_surface->latestImage();
}

void VideoSurface::pictureArrived()
{
    m_updatePosted = false;
    if (!m_painting)
        update();
}

void VideoSurface::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_painting) {
        p.fillRect(rect(), m_idleColor);
        if (!m_idleText.isEmpty()) {
            p.setPen(Qt::white);
            p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_idleText);
        }
        return;
    }
    uint64_t sequence = 0;
    int64_t arrivalUs = 0;
    QImage image = m_surface->latestImage(&sequence, &arrivalUs);
    if (image.isNull()) {
        p.fillRect(rect(), m_idleColor);
        if (!m_notice.isEmpty())
            paintNotice(p);
        return;
    }
    // Normally already at the size of its place; between a resize (or a
    // switch of the shape) and the next picture the last one is scaled.
    image.setDevicePixelRatio(devicePixelRatioF());
    const QRectF place = pictureRect();
    if (place != QRectF(rect())) {
        // Only the bars beside the picture: the picture covers the rest.
        const QRegion bars = QRegion(rect()).subtracted(QRegion(place.toAlignedRect()));
        for (const QRect &bar : bars)
            p.fillRect(bar, m_idleColor);
    }
    p.drawImage(place, image);
    if (!m_notice.isEmpty())
        paintNotice(p);
    ++m_paintedPictures;
    if (sequence != m_lastSequence) {
        m_lastSequence = sequence;
        ++m_newPictures;
        if (const PaintProbe &probe = paintProbe())
            probe(this, arrivalUs, av::steadyMicros());
    }
}

void VideoSurface::paintNotice(QPainter &p)
{
    // The last picture stays recognisable at a third of its brightness.
    p.fillRect(rect(), QColor(0, 0, 0, 170));
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_notice);
}

void VideoSurface::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateTarget();
}

void VideoSurface::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_watchedWindow != window()) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        if (m_watchedWindow != this)
            m_watchedWindow->installEventFilter(this);
        else
            m_watchedWindow = nullptr;
    }
    updateTarget();
}

void VideoSurface::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTarget();
}

bool VideoSurface::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowStateChange)
        updateTarget();
    return QWidget::eventFilter(watched, event);
}

void VideoSurface::updateTarget()
{
    const bool shown = isVisible() && !window()->isMinimized();
    const QSize size = shown ? (QSizeF(this->size()) * devicePixelRatioF()).toSize() : QSize();
    m_surface->setTargetSize(size);
}

} // namespace varno::live
