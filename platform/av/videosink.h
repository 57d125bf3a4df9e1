#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QImage>
#include <QRect>
#include <QSize>

#include "platform/av/decodedpicture.h"
#include "platform/av/picturescaler.h"

struct SwsContext;

namespace varno::av {

// Something that shows planar YUV 4:2:0 pictures: the surface behind a
// "native window handle". present() may be called from any thread.
class VideoSink
{
public:
    virtual ~VideoSink() = default;
    // Takes one picture. 0: shown, or nothing to do because the window is
    // hidden or has no size; 1: failure (the window is gone).
    virtual int present(const uint8_t *y, int yStride, const uint8_t *u, int uStride,
                        const uint8_t *v, int vStride, int width, int height) = 0;
    // The same for a picture held by reference, which a sink may keep
    // instead of converting it at once. The default presents its planes.
    virtual int presentPicture(const DecodedPicture &picture);
    // Size the pictures are shown at; empty while hidden or zero-size.
    virtual QSize targetSize() const = 0;
    // Shape of the pixels of the pictures presented from now on (the
    // stream's sample aspect ratio, e.g. 12:11 for 704x576 shown at 4:3);
    // 0:0 or 1:1 for square pixels. Sinks that only stretch may ignore it.
    virtual void setSampleAspect(int num, int den);
};

// The size a picture of width x height with pixels of shape num:den is
// shown at when its shape is kept: the width scaled by num/den (square
// pixels, or an unusable ratio, leave it as it is).
QSize displaySize(int width, int height, int num, int den);

// Latency probe: the arrival time (steady clock, microseconds) of the frame
// whose picture the calling thread presents next; 0 when unknown. A decode
// thread sets it before it presents; FrameSurface keeps it with the picture.
void setPresentStamp(int64_t arrivalUs);
int64_t presentStamp();
int64_t steadyMicros();

// The largest rectangle of the source picture's shape (aspect ratio) that
// fits into area, centred in it: where a picture is shown letter-boxed.
// area itself when either size is empty.
QRect fitRect(QSize source, QRect area);

// The size a picture kept by reference is shown at in full: its even part
// (chroma covers two columns and rows per sample).
QSize fullSizeOf(const DecodedPicture &picture);
// Converts such a picture at that size into dst (RGB32 rows of dstStride
// bytes). False for a null picture or one smaller than 2 x 2.
bool convertFullSize(const DecodedPicture &picture, PictureScaler &scaler, uint8_t *dst, int dstStride);
// The same into a new image.
QImage fullSizeImage(const DecodedPicture &picture);

// Process-wide registry of native window handles. Handles start at 1 and are
// never handed out twice; 0 is "no window".
int32_t registerVideoSink(std::shared_ptr<VideoSink> sink);
void unregisterVideoSink(int32_t handle);
std::shared_ptr<VideoSink> findVideoSink(int32_t handle);

// A sink that scales each picture straight to the target size (so the cost
// follows the window, not the source) into a latest-frame slot, and tells its owner through the notifier. It never waits for the
// thread that shows the pictures.
class FrameSurface final : public VideoSink
{
public:
    FrameSurface();
    ~FrameSurface() override;
    FrameSurface(const FrameSurface &) = delete;
    FrameSurface &operator=(const FrameSurface &) = delete;

    int present(const uint8_t *y, int yStride, const uint8_t *u, int uStride, const uint8_t *v,
                int vStride, int width, int height) override;
    // A picture at the target size (a window the size of the stream: a
    // maximised window or a wall of one) is kept by reference, not
    // converted: the owner converts it once, straight into what it paints
    // (see latest()). Other sizes are scaled as present() does.
    int presentPicture(const DecodedPicture &picture) override;
    QSize targetSize() const override;

    // Owner side (user-interface thread).
    void setTargetSize(QSize size);
    // On: each picture is scaled to the largest size of its own shape (its
    // pixels' shape included)
    // within the target size (fitRect) instead of being stretched to it;
    // the owner shows it centred. Off (the default): stretched.
    void setKeepAspect(bool on);
    bool keepAspect() const;
    // Called on the presenting thread after a new picture is in the slot;
    // it must only post work (no waiting). Cleared with an empty function.
    void setNotifier(std::function<void()> notifier);
    // The latest picture as the owner paints it: either scaled already
    // (image, RGB32 at the target size it was scaled to) or kept at full size
    // by reference (picture, its even part to be shown; image null).
    struct Latest
    {
        QImage image;
        DecodedPicture picture;
        uint64_t sequence = 0; // 1 for the first picture presented, 0 for none
        int64_t arrivalUs = 0; // see setPresentStamp
        bool isNull() const { return image.isNull() && picture.isNull(); }
    };
    Latest latest() const;
    // The latest picture (RGB32, at the target size it was scaled to; a
    // picture kept by reference is converted for the call), and the size of
    // the source picture it came from.
    QImage latestImage() const;
    // The same with the picture's sequence number (1 for the first picture
    // presented, 0 for none) and its arrival stamp (see setPresentStamp).
    QImage latestImage(uint64_t *sequence, int64_t *arrivalUs) const;
    QSize latestSourceSize() const;
    // The latest picture's shape on screen (its size with square pixels).
    QSize latestDisplaySize() const;
    void setSampleAspect(int num, int den) override;
    // After detach() every present() fails: the window is gone.
    void detach();

    uint64_t presentedCount() const { return m_presented.load(); }

private:
    // Makes the picture just put in front the one to paint and tells the
    // owner; m_mutex held.
    void publishFront(QSize source, QSize display);

    mutable std::mutex m_mutex; // guards everything below but m_sws / m_back
    QSize m_target;
    bool m_keepAspect = false;
    QImage m_front;
    DecodedPicture m_frontPicture; // instead of m_front: a full-size picture by reference
    QSize m_frontSource;
    QSize m_frontDisplay;
    int m_sarNum = 0; // pixel shape of the pictures presented next
    int m_sarDen = 0;
    uint64_t m_frontSequence = 0;
    int64_t m_frontStamp = 0;
    std::function<void()> m_notifier;
    bool m_detached = false;
    std::atomic<uint64_t> m_presented{0};

    std::mutex m_scaleMutex; // one presenter at a time: guards the members below
    SwsContext *m_sws = nullptr;
    QImage m_back;
    int m_backScaleWidth = 0;
    PictureScaler m_scaler;
};

} // namespace varno::av
