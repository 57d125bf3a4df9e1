#include "live/videosurface.h"

#include "live/videoglview.h"
#include "common/uithread.h"
#include "platform/av/videosink.h"

#include <QEvent>
#include <QPaintEngine>
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
    setOpenGLAllowed(true);
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
    refresh();
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
    refresh();
}

void VideoSurface::setNotice(const QString &text)
{
    if (m_notice == text)
        return;
    m_notice = text;
    refresh();
}

void VideoSurface::setKeepAspect(bool on)
{
    if (m_keepAspect == on)
        return;
    m_keepAspect = on;
    m_surface->setKeepAspect(on);
    if (!m_painting)
        refresh();
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
        refresh();
}

bool VideoSurface::showsByOpenGL() const
{
    return m_gl && m_gl->isVisible();
}

void VideoSurface::setOpenGLAllowed(bool on)
{
    if (on && !m_gl && videoByOpenGL()) {
        // Made hidden, with the widget where it can be, so that its window
        // is made for OpenGL from the start (a window that gains such a
        // child later is made anew).
        m_gl = new VideoGlView(this);
        m_gl->hide();
        m_gl->setGeometry(rect());
        m_gl->setPaintedCallback([this](uint64_t sequence, int64_t arrivalUs) {
            m_paintsByOpenGL = m_gl->glPaints();
            countPaint(sequence, arrivalUs);
        });
        connect(m_gl, &VideoGlView::failed, this, &VideoSurface::glFailed, Qt::QueuedConnection);
        refresh();
    } else if (!on && m_gl) {
        delete m_gl;
        m_gl = nullptr;
        update();
    }
}

void VideoSurface::refresh()
{
    if (!syncGlView(m_surface->latest()))
        update();
}

bool VideoSurface::syncGlView(const av::FrameSurface::Latest &latest)
{
    VARNO_ASSERT_UI_THREAD();
    if (!m_gl)
        return false;
    if (!m_painting && !latest.picture.isNull() && !m_gl->broken() && videoByOpenGL()) {
        // The view's first paint happens before the window next shows, with
        // this picture: no blank paint in between.
        m_gl->setLook(pictureRect(), m_idleColor, m_notice);
        m_gl->setPicture(latest.picture, latest.sequence, latest.arrivalUs);
        const bool showing = m_gl->isHidden();
        if (showing) {
            m_gl->setGeometry(rect());
            m_gl->show();
        }
        // A shown view has made its context and shaders (at once, when its
        // window is shown): without them it would stay black.
        if (m_gl->broken() || (m_gl->isVisible() && !m_gl->isValid())) {
            glFailed(m_gl->broken() ? m_gl->failure() : QStringLiteral("no OpenGL context for the view"));
            return false;
        }
        if (showing)
            update(); // lets the view through (see paintEvent)
        return true;
    }
    if (!m_gl->isHidden()) {
        // Scaled pictures, the idle look, a failure: this widget paints, in
        // the same update that uncovers it.
        m_gl->hide();
        m_gl->clearPicture();
    }
    return false;
}

void VideoSurface::glFailed(const QString &why)
{
    reportVideoGlFailure(why);
    if (m_gl && !m_gl->isHidden()) {
        m_gl->hide();
        m_gl->clearPicture();
    }
    update();
}

void VideoSurface::countPaint(uint64_t sequence, int64_t arrivalUs)
{
    ++m_paintedPictures;
    if (sequence != m_lastSequence) {
        m_lastSequence = sequence;
        ++m_newPictures;
        if (const PaintProbe &probe = paintProbe())
            probe(this, arrivalUs, av::steadyMicros());
    }
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
    if (m_gl && m_gl->isVisible()) {
        // Covered by the view that shows the picture: its texture is
        // composed beneath this widget's pixels, which must let it through.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        return;
    }
    const av::FrameSurface::Latest latest = m_surface->latest();
    if (latest.isNull()) {
        p.fillRect(rect(), m_idleColor);
        if (!m_notice.isEmpty())
            paintNotice(p);
        return;
    }
    const QRectF place = pictureRect();
    if (place != QRectF(rect())) {
        // Only the bars beside the picture: the picture covers the rest.
        const QRegion bars = QRegion(rect()).subtracted(QRegion(place.toAlignedRect()));
        for (const QRect &bar : bars)
            p.fillRect(bar, m_idleColor);
    }
    if (latest.picture.isNull() || !paintFullSize(p, latest.picture, place)) {
        QImage image = latest.image;
        if (image.isNull()) {
            // A full-size picture where the pixels cannot be written in
            // place (a grab, a covered window): converted here, then drawn.
            image = paintImage(latest.picture);
        }
        // Normally already at the size of its place; between a resize (or a
        // switch of the shape) and the next picture the last one is scaled.
        image.setDevicePixelRatio(devicePixelRatioF());
        p.drawImage(place, image);
    }
    if (!m_notice.isEmpty())
        paintNotice(p);
    countPaint(latest.sequence, latest.arrivalUs);
}

bool VideoSurface::paintFullSize(QPainter &p, const av::DecodedPicture &picture, const QRectF &place)
{
    // The picture is converted once, from the decoder's planes straight
    // into the pixels the window system shows (the backing store), when
    // they are a 32-bit image this paint may write all of the place into.
    QPaintEngine *engine = p.paintEngine();
    QPaintDevice *device = engine ? engine->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || p.hasClipping() || p.opacity() < 1.0
        || p.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    auto *target = static_cast<QImage *>(device);
    const QImage::Format format = target->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied
        && format != QImage::Format_ARGB32)
        return false;
    const QTransform transform = p.deviceTransform();
    if (transform.type() > QTransform::TxScale)
        return false;
    const QRectF mapped = transform.mapRect(place);
    const QRect area = mapped.toRect();
    if (QRectF(area) != mapped || area.size() != av::fullSizeOf(picture)
        || !QRect(QPoint(), target->size()).contains(area))
        return false;
    // Only pixels this paint owns: all of the place must be inside the
    // region being painted (siblings or children over the window keep theirs).
    const QRegion clip = engine->systemClip();
    if (!clip.isEmpty() && !QRegion(area).subtracted(clip).isEmpty())
        return false;
    // Written in place, without detaching (a shared image is not ours).
    if (!target->isDetached())
        return false;
    uchar *pixels = const_cast<uchar *>(target->constBits()) + qsizetype(area.y()) * target->bytesPerLine()
        + qsizetype(area.x()) * 4;
    if (!av::convertFullSize(picture, m_paintScaler, pixels, int(target->bytesPerLine())))
        return false;
    ++m_paintsInPlace;
    return true;
}

QImage VideoSurface::paintImage(const av::DecodedPicture &picture)
{
    const QSize size = av::fullSizeOf(picture);
    if (m_paintImage.size() != size || !m_paintImage.isDetached())
        m_paintImage = QImage(size, QImage::Format_RGB32);
    m_paintImage.setDevicePixelRatio(devicePixelRatioF());
    if (m_paintImage.isNull()
        || !av::convertFullSize(picture, m_paintScaler, m_paintImage.bits(), int(m_paintImage.bytesPerLine())))
        return QImage();
    return m_paintImage;
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
    if (m_gl) {
        m_gl->setGeometry(rect());
        if (!m_gl->isHidden())
            m_gl->setLook(pictureRect(), m_idleColor, m_notice);
    }
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
