#include "platform/av/videosink.h"

#include <chrono>
#include <map>

extern "C" {
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

void FrameSurface::setNotifier(std::function<void()> notifier)
{
    std::lock_guard lock(m_mutex);
    m_notifier = std::move(notifier);
}

QImage FrameSurface::latestImage() const
{
    std::lock_guard lock(m_mutex);
    return m_front;
}

QImage FrameSurface::latestImage(uint64_t *sequence, int64_t *arrivalUs) const
{
    std::lock_guard lock(m_mutex);
    if (sequence)
        *sequence = m_frontSequence;
    if (arrivalUs)
        *arrivalUs = m_frontStamp;
    return m_front;
}

QSize FrameSurface::latestSourceSize() const
{
    std::lock_guard lock(m_mutex);
    return m_frontSource;
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
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return 1;
        target = m_target;
    }
    if (!y || !u || !v || width <= 0 || height <= 0)
        return 1;
    // Chroma holds width / 2 x height / 2 samples (rounded down): scale only
    // the even part of an odd-sized picture so no chroma row is read past.
    const int srcW = width & ~1;
    const int srcH = height & ~1;
    if (target.isEmpty() || srcW == 0 || srcH == 0)
        return 0;

    std::lock_guard scaleLock(m_scaleMutex);
    m_sws = sws_getCachedContext(m_sws, srcW, srcH, AV_PIX_FMT_YUV420P, target.width(),
                                 target.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                 nullptr, nullptr);
    if (!m_sws)
        return 1;
    if (m_back.size() != target || m_back.format() != QImage::Format_RGB32)
        m_back = QImage(target, QImage::Format_RGB32);
    if (m_back.isNull())
        return 1;
    // bits() detaches when the user-interface thread still holds this image.
    uint8_t *dst[4] = {m_back.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(m_back.bytesPerLine()), 0, 0, 0};
    const uint8_t *src[4] = {y, u, v, nullptr};
    const int srcStride[4] = {yStride, uStride, vStride, 0};
    sws_scale(m_sws, src, srcStride, 0, srcH, dst, dstStride);

    std::lock_guard lock(m_mutex);
    if (m_detached)
        return 1;
    std::swap(m_front, m_back);
    m_frontSource = QSize(width, height);
    m_frontSequence = m_presented.fetch_add(1) + 1;
    m_frontStamp = t_presentStamp;
    // Under the lock, so that detach() never returns while a notifier that
    // refers to the owner still runs. The notifier only posts.
    if (m_notifier)
        m_notifier();
    return 0;
}

} // namespace varno::av
