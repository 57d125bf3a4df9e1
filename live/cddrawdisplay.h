#pragma once

#include <cstdint>
#include <memory>

namespace varno::av {
class VideoSink;
struct DecodedPicture;
}

// The display surface of one video window: takes decoded planar YUV 4:2:0
// pictures and puts them into the window registered under a native window
// handle, scaled to the window's current size. Used only by the decode
// thread of the window.
class CDDrawDisplay
{
public:
    CDDrawDisplay();
    ~CDDrawDisplay();
    CDDrawDisplay(const CDDrawDisplay &) = delete;
    CDDrawDisplay &operator=(const CDDrawDisplay &) = delete;

    // 0 = ready, 1 = failure (unknown window, no size).
    int InitDDraw(int32_t window, int width, int height);
    // 0 = shown or nothing to do (hidden or zero-size window), 1 = failure.
    // A picture of another size rebuilds the surface first. Chroma planes
    // are width / 2 x height / 2 (rounded down), rows packed.
    int PlayYuv420(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height);
    // The same for a picture held by reference: the surface may keep it
    // instead of converting it at once (a window of the picture's size).
    int PlayPicture(const varno::av::DecodedPicture &picture);
    // Always 0.
    int Release();

    bool isReady() const { return m_sink != nullptr; }
    int surfaceWidth() const { return m_width; }
    int surfaceHeight() const { return m_height; }
    int rebuildCount() const { return m_rebuilds; }

private:
    int play(const varno::av::DecodedPicture &picture, bool held);

    std::shared_ptr<varno::av::VideoSink> m_sink;
    int32_t m_window = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_yuvUnsupported = true;
    bool m_hiddenLogged = false;
    int m_rebuilds = 0;
};
