#include "live/cddrawdisplay.h"

#include "common/logfile.h"
#include "platform/av/decodedpicture.h"
#include "platform/av/videosink.h"

CDDrawDisplay::CDDrawDisplay() = default;
CDDrawDisplay::~CDDrawDisplay() = default;

int CDDrawDisplay::InitDDraw(int32_t window, int width, int height)
{
    m_window = window;
    std::shared_ptr<varno::av::VideoSink> sink = varno::av::findVideoSink(window);
    if (!sink) {
        WriteLog(2, "%s(%d):SetHWnd(%d) failed!!!", "CDDrawDisplay::InitDDraw", __LINE__, window);
        return 1;
    }
    if (width <= 0 || height <= 0) {
        WriteLog(2, "%s(%d):CreateSurface failed!!!", "CDDrawDisplay::InitDDraw", __LINE__);
        return 1;
    }
    m_sink = std::move(sink);
    m_width = width;
    m_height = height;
    if (m_yuvUnsupported) { // first initialisation: the surface takes planar YUV
        m_yuvUnsupported = false;
        WriteLog(3, "AV - display card support YUV!!!");
    }
    return 0;
}

int CDDrawDisplay::PlayYuv420(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width,
                              int height)
{
    varno::av::DecodedPicture picture;
    picture.y = y;
    picture.u = u;
    picture.v = v;
    picture.yStride = width;
    picture.uStride = picture.vStride = width / 2;
    picture.width = width;
    picture.height = height;
    return play(picture, false);
}

int CDDrawDisplay::PlayPicture(const varno::av::DecodedPicture &picture)
{
    return play(picture, true);
}

int CDDrawDisplay::play(const varno::av::DecodedPicture &picture, bool held)
{
    const int width = picture.width;
    const int height = picture.height;
    if (!picture.y) {
        WriteLog(2, "%s(%d):lum is NULL!!!", "CDDrawDisplay::PlayYuv420", __LINE__);
        return 1;
    }
    if (!m_sink || !picture.u || !picture.v || width <= 0 || height <= 0)
        return 1;
    if (m_sink->targetSize().isEmpty()) {
        // Hidden, minimised or zero-size: nothing to draw. Logged once per spell.
        if (!m_hiddenLogged) {
            m_hiddenLogged = true;
            WriteLog(4, "%s(%d):GetWindowRect failed!!!", "CDDrawDisplay::PlayYuv420", __LINE__);
        }
        return 0;
    }
    m_hiddenLogged = false;
    if (width != m_width || height != m_height) {
        WriteLog(3, "%s(%d):Param(%d,%d) is error, need to reinit!!!", "CDDrawDisplay::PlayYuv420",
                 __LINE__, width, height);
        const int32_t window = m_window;
        Release();
        ++m_rebuilds;
        if (InitDDraw(window, width, height) != 0)
            return 1;
    }
    // Only a picture that owns its planes may be kept by the surface; the
    // caller's packed planes change after this call.
    const int ret = held ? m_sink->presentPicture(picture)
                         : m_sink->present(picture.y, picture.yStride, picture.u, picture.uStride, picture.v,
                                           picture.vStride, width, height);
    if (ret != 0) {
        WriteLog(2, "%s(%d):Blt failed, ret(%d)", "CDDrawDisplay::PlayYuv420", __LINE__, ret);
        m_yuvUnsupported = true;
        return 1;
    }
    return 0;
}

int CDDrawDisplay::Release()
{
    m_sink.reset();
    m_width = 0;
    m_height = 0;
    return 0;
}
