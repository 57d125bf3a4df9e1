#include "live/videosurface.h"

#include "common/uithread.h"
#include "platform/av/videosink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QTimer>

namespace varno::live {

namespace {
VideoSurface::PaintProbe &paintProbe()
{
    static VideoSurface::PaintProbe probe;
    return probe;
}

// Period of the presentation tick: about a display's refresh, well below a
// camera's frame interval.
constexpr int kTickMs = 16;
} // namespace

// One presentation clock for every video surface of the process, on the
// user-interface thread. Decoding threads only mark their surface and wake
// the clock if it rests; while pictures come it ticks every kTickMs and
// repaints all surfaces with a new picture at once, so that the user-interface
// thread wakes once per tick instead of once per picture and window, and the
// window system gets one flush of all of them. The first picture after a
// rest is shown at once. It rests again after a tick without pictures.
class PresentClock final : public QObject
{
public:
    static PresentClock *instance()
    {
        VARNO_ASSERT_UI_THREAD();
        static QPointer<PresentClock> clock;
        if (!clock)
            clock = new PresentClock(QCoreApplication::instance());
        return clock;
    }
    void add(VideoSurface *surface) { m_surfaces.append(surface); }
    void remove(VideoSurface *surface) { m_surfaces.removeOne(surface); }
    // Any thread, after the surface was marked.
    void wake()
    {
        if (!m_running.exchange(true))
            QMetaObject::invokeMethod(this, &PresentClock::start, Qt::QueuedConnection);
    }

private:
    explicit PresentClock(QObject *parent) : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        connect(&m_timer, &QTimer::timeout, this, &PresentClock::tick);
    }
    void start()
    {
        if (m_timer.isActive())
            return;
        m_timer.start();
        tick();
    }
    void tick()
    {
        bool any = false;
        for (VideoSurface *surface : std::as_const(m_surfaces))
            any = surface->presentTick() || any;
        if (any)
            return;
        m_timer.stop();
        m_running = false;
        // A picture marked after its surface was looked at, whose wake()
        // still saw the clock running.
        for (VideoSurface *surface : std::as_const(m_surfaces)) {
            if (surface->m_newPicture.load()) {
                m_running = true;
                m_timer.start();
                return;
            }
        }
    }

    QTimer m_timer;
    std::atomic<bool> m_running{false};
    QList<VideoSurface *> m_surfaces;
};

void VideoSurface::setPaintProbe(PaintProbe probe)
{
    paintProbe() = std::move(probe);
}

VideoSurface::VideoSurface(QWidget *parent)
    : QWidget(parent), m_surface(std::make_shared<av::FrameSurface>()), m_idleColor(Qt::black)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_handle = av::registerVideoSink(m_surface);
    m_clock = PresentClock::instance();
    m_clock->add(this);
    // The notifier runs on a decoding thread: it marks the surface and wakes
    // the clock when it rests, nothing more.
    m_surface->setNotifier([this, clock = m_clock.data()] {
        m_newPicture = true;
        clock->wake();
    });
}

VideoSurface::~VideoSurface()
{
    // After detach() no decoding thread calls back into this widget.
    m_surface->detach();
    av::unregisterVideoSink(m_handle);
    if (m_clock)
        m_clock->remove(this);
}

void VideoSurface::setPainting(bool on)
{
    if (m_painting == on)
        return;
    m_painting = on;
    updatePacing();
    update();
}

void VideoSurface::updatePacing()
{
    // Pictures wait for the clock's ticks only while they are shown: a
    // hidden window or one with its idle look keeps the newest at once.
    m_surface->setPaced(!m_painting && isVisible());
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

bool VideoSurface::presentTick()
{
    if (!m_newPicture.exchange(false))
        return false;
    // The picture shown at the last tick makes way for the next one waiting.
    m_surface->advance();
    if (m_painting)
        return true;
    update();
    if (m_surface->hasQueued())
        m_newPicture = true; // the next one at the next tick
    return true;
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
    const av::FrameSurface::Latest latest = m_surface->latest();
    const uint64_t sequence = latest.sequence;
    const int64_t arrivalUs = latest.arrivalUs;
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
    if (latest.picture.isNull() || !paintInPlace(p, latest.picture, place)) {
        QImage image = latest.image;
        if (image.isNull()) {
            // A picture by reference where the pixels cannot be written in
            // place (a grab, a covered window): converted here, then drawn.
            image = paintImage(latest.picture, latest.size);
        }
        // Normally already at the size of its place; between a resize (or a
        // switch of the shape) and the next picture the last one is scaled.
        image.setDevicePixelRatio(devicePixelRatioF());
        p.drawImage(place, image);
    }
    if (!m_notice.isEmpty())
        paintNotice(p);
    ++m_paintedPictures;
    m_surface->markShown(sequence);
    if (sequence != m_lastSequence) {
        m_lastSequence = sequence;
        ++m_newPictures;
        if (const PaintProbe &probe = paintProbe())
            probe(this, arrivalUs, av::steadyMicros());
    }
}

bool VideoSurface::paintInPlace(QPainter &p, const av::DecodedPicture &picture, const QRectF &place)
{
    // The picture is converted (and shrunk) once, from the decoder's planes
    // straight into the pixels the window system shows (the backing store),
    // when they are a 32-bit image this paint may write all of the place
    // into. The place may have changed size since the picture came (a
    // resize): it is converted to the place's size.
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
    if (QRectF(area) != mapped || !av::convertsInOnePass(picture, m_paintScaler, area.size())
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
    if (!av::convertToSize(picture, m_paintScaler, area.size(), pixels, int(target->bytesPerLine())))
        return false;
    ++m_paintsInPlace;
    return true;
}

QImage VideoSurface::paintImage(const av::DecodedPicture &picture, QSize size)
{
    if (!av::convertsInOnePass(picture, m_paintScaler, size))
        size = av::fullSizeOf(picture);
    if (m_paintImage.size() != size || !m_paintImage.isDetached())
        m_paintImage = QImage(size, QImage::Format_RGB32);
    m_paintImage.setDevicePixelRatio(devicePixelRatioF());
    if (m_paintImage.isNull()
        || !av::convertToSize(picture, m_paintScaler, size, m_paintImage.bits(), int(m_paintImage.bytesPerLine())))
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
    updatePacing();
}

} // namespace varno::live
