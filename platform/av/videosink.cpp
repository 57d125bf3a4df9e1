#include "platform/av/videosink.h"

#include <algorithm>
#include <chrono>
#include <map>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}


namespace varno::av {

namespace {

struct Registry
{
    std::mutex mutex;
    int32_t next = 1;
    std::map<int32_t, std::shared_ptr<VideoSink>> sinks;
};

Registry &registry()
{
    static Registry *r = new Registry; // process-wide, never destroyed
    return *r;
}

thread_local int64_t t_presentStamp = 0;

// An image for the scaler to write into: rows of scaleWidth pixels (64-byte
// aligned) of which the image shows size.width().
QImage makeScaleTarget(QSize size, int scaleWidth)
{
    const qsizetype stride = (qsizetype(scaleWidth) * 4 + 63) & ~qsizetype(63);
    auto *data = static_cast<uchar *>(av_malloc(size_t(stride) * size_t(size.height())));
    if (!data)
        return QImage();
    return QImage(data, size.width(), size.height(), stride, QImage::Format_RGB32,
                  [](void *p) { av_free(p); }, data);
}

} // namespace

void setPresentStamp(int64_t arrivalUs)
{
    t_presentStamp = arrivalUs;
}

int64_t presentStamp()
{
    return t_presentStamp;
}

int64_t steadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int32_t registerVideoSink(std::shared_ptr<VideoSink> sink)
{
    if (!sink)
        return 0;
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    if (r.next == INT32_MAX)
        return 0;
    const int32_t handle = r.next++;
    r.sinks.emplace(handle, std::move(sink));
    return handle;
}

void unregisterVideoSink(int32_t handle)
{
    std::shared_ptr<VideoSink> released;
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.sinks.find(handle);
    if (it != r.sinks.end()) {
        released = std::move(it->second);
        r.sinks.erase(it);
    }
}

std::shared_ptr<VideoSink> findVideoSink(int32_t handle)
{
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.sinks.find(handle);
    return it == r.sinks.end() ? nullptr : it->second;
}

void VideoSink::setSampleAspect(int, int) {}

int VideoSink::presentPicture(const DecodedPicture &picture)
{
    return present(picture.y, picture.yStride, picture.u, picture.uStride, picture.v, picture.vStride, picture.width,
                   picture.height);
}

QSize fullSizeOf(const DecodedPicture &picture)
{
    return QSize(picture.width & ~1, picture.height & ~1);
}

bool convertFullSize(const DecodedPicture &picture, PictureScaler &scaler, uint8_t *dst, int dstStride)
{
    const QSize size = fullSizeOf(picture);
    if (picture.isNull() || size.isEmpty())
        return false;
    return scaler.scale(picture.y, picture.yStride, picture.u, picture.uStride, picture.v, picture.vStride,
                        size.width(), size.height(), dst, dstStride, size.width(), size.height());
}

QImage fullSizeImage(const DecodedPicture &picture)
{
    const QSize size = fullSizeOf(picture);
    if (size.isEmpty())
        return QImage();
    QImage image = makeScaleTarget(size, size.width());
    PictureScaler scaler;
    if (image.isNull() || !convertFullSize(picture, scaler, image.bits(), int(image.bytesPerLine())))
        return QImage();
    return image;
}

QSize displaySize(int width, int height, int num, int den)
{
    // Ratios beyond 8:1 either way are no pixel shape a camera sends.
    if (num <= 0 || den <= 0 || num == den || num > 8 * den || den > 8 * num || width <= 0 || height <= 0)
        return QSize(width, height);
    const int64_t w = (int64_t(width) * num + den / 2) / den;
    return QSize(int(std::clamp<int64_t>(w, 1, 1 << 20)), height);
}

QRect fitRect(QSize source, QRect area)
{
    if (source.isEmpty() || area.isEmpty())
        return area;
    // Width from the full height; when that is too wide, height from the
    // full width. 64-bit products: sides of any size, no overflow.
    int w = int((int64_t(area.height()) * source.width() + source.height() / 2) / source.height());
    int h = area.height();
    if (w > area.width()) {
        w = area.width();
        h = int((int64_t(area.width()) * source.height() + source.width() / 2) / source.width());
    }
    w = std::clamp(w, 1, area.width());
    h = std::clamp(h, 1, area.height());
    return QRect(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);
}

FrameSurface::FrameSurface() = default;

FrameSurface::~FrameSurface()
{
    sws_freeContext(m_sws);
}

QSize FrameSurface::targetSize() const
{
    std::lock_guard lock(m_mutex);
    return m_target;
}

void FrameSurface::setTargetSize(QSize size)
{
    std::lock_guard lock(m_mutex);
    m_target = size.isValid() && !size.isEmpty() ? size : QSize();
}

void FrameSurface::setKeepAspect(bool on)
{
    std::lock_guard lock(m_mutex);
    m_keepAspect = on;
}

bool FrameSurface::keepAspect() const
{
    std::lock_guard lock(m_mutex);
    return m_keepAspect;
}

void FrameSurface::setNotifier(std::function<void()> notifier)
{
    std::lock_guard lock(m_mutex);
    m_notifier = std::move(notifier);
}

FrameSurface::Latest FrameSurface::latest() const
{
    std::lock_guard lock(m_mutex);
    Latest l;
    l.image = m_front;
    l.picture = m_frontPicture;
    l.sequence = m_frontSequence;
    l.arrivalUs = m_frontStamp;
    return l;
}

QImage FrameSurface::latestImage() const
{
    return latestImage(nullptr, nullptr);
}

QImage FrameSurface::latestImage(uint64_t *sequence, int64_t *arrivalUs) const
{
    const Latest l = latest();
    if (sequence)
        *sequence = l.sequence;
    if (arrivalUs)
        *arrivalUs = l.arrivalUs;
    // Converted outside the lock: the picture is held by reference.
    return l.picture.isNull() ? l.image : fullSizeImage(l.picture);
}

QSize FrameSurface::latestSourceSize() const
{
    std::lock_guard lock(m_mutex);
    return m_frontSource;
}

QSize FrameSurface::latestDisplaySize() const
{
    std::lock_guard lock(m_mutex);
    return m_frontDisplay;
}

void FrameSurface::setSampleAspect(int num, int den)
{
    std::lock_guard lock(m_mutex);
    m_sarNum = num;
    m_sarDen = den;
}

void FrameSurface::detach()
{
    std::lock_guard lock(m_mutex);
    m_detached = true;
    m_notifier = nullptr;
}

int FrameSurface::present(const uint8_t *y, int yStride, const uint8_t *u, int uStride,
                          const uint8_t *v, int vStride, int width, int height)
{
    QSize target;
    QSize display;
    bool keepAspect = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return 1;
        target = m_target;
        keepAspect = m_keepAspect;
        display = displaySize(width, height, m_sarNum, m_sarDen);
    }
    if (!y || !u || !v || width <= 0 || height <= 0)
        return 1;
    // Chroma holds width / 2 x height / 2 samples (rounded down): scale only
    // the even part of an odd-sized picture so no chroma row is read past.
    const int srcW = width & ~1;
    const int srcH = height & ~1;
    if (target.isEmpty() || srcW == 0 || srcH == 0)
        return 0;
    // Letter-boxed: only the picture's own rectangle is scaled (fewer
    // pixels than the whole window); the owner paints the bars.
    if (keepAspect)
        target = fitRect(display, QRect(QPoint(), target)).size();

    std::lock_guard scaleLock(m_scaleMutex);
    // A window no larger than the picture (the usual case: many windows on
    // one screen) goes through the one-pass shrinking; a larger one through
    // libswscale's bilinear enlarging, as does every window on processors
    // without the shrinking's vector kernels (its portable code is a
    // reference, not a fast path).
    const bool shrink = m_scaler.simd() && PictureScaler::handles(srcW, srcH, target.width(), target.height());
    // libswscale is asked for an even width because it leaves its fast paths
    // for odd ones (about three times slower); an odd window then loses its
    // picture's last column, which nobody can see.
    const int scaleWidth = shrink ? target.width() : (target.width() + 1) & ~1;
    if (!shrink) {
        m_sws = sws_getCachedContext(m_sws, srcW, srcH, AV_PIX_FMT_YUV420P, scaleWidth, target.height(),
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_sws)
            return 1;
    }
    // A buffer nobody else holds: the picture painted last may still be in
    // the user-interface thread's hands, and copying its pixels only to
    // overwrite them would be waste.
    if (m_back.size() != target || m_backScaleWidth != scaleWidth || !m_back.isDetached()) {
        m_back = makeScaleTarget(target, scaleWidth);
        m_backScaleWidth = scaleWidth;
    }
    if (m_back.isNull())
        return 1;
    if (shrink) {
        if (!m_scaler.scale(y, yStride, u, uStride, v, vStride, srcW, srcH, m_back.bits(),
                            int(m_back.bytesPerLine()), target.width(), target.height()))
            return 1;
    } else {
        const uint8_t *src[4] = {y, u, v, nullptr};
        const int srcStride[4] = {yStride, uStride, vStride, 0};
        uint8_t *dst[4] = {m_back.bits(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {static_cast<int>(m_back.bytesPerLine()), 0, 0, 0};
        sws_scale(m_sws, src, srcStride, 0, srcH, dst, dstStride);
    }

    std::lock_guard lock(m_mutex);
    if (m_detached)
        return 1;
    std::swap(m_front, m_back);
    m_frontPicture = DecodedPicture();
    publishFront(QSize(width, height), display);
    return 0;
}

void FrameSurface::publishFront(QSize source, QSize display)
{
    m_frontSource = source;
    m_frontDisplay = display;
    m_frontSequence = m_presented.fetch_add(1) + 1;
    m_frontStamp = t_presentStamp;
    // Under the lock, so that detach() never returns while a notifier that
    // refers to the owner still runs. The notifier only posts.
    if (m_notifier)
        m_notifier();
}

int FrameSurface::presentPicture(const DecodedPicture &picture)
{
    const QSize full = fullSizeOf(picture);
    QSize target;
    QSize display;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return 1;
        target = m_target;
        display = displaySize(picture.width, picture.height, m_sarNum, m_sarDen);
        if (m_keepAspect && !target.isEmpty())
            target = fitRect(display, QRect(QPoint(), target)).size();
        if (picture.isNull() || full.isEmpty() || target != full) {
            // Scaled (or nothing to show): the usual way.
        } else {
            m_front = QImage();
            m_frontPicture = picture;
            publishFront(QSize(picture.width, picture.height), display);
            return 0;
        }
    }
    return present(picture.y, picture.yStride, picture.u, picture.uStride, picture.v, picture.vStride, picture.width,
                   picture.height);
}

} // namespace varno::av
