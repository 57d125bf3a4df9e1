#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "platform/av/decodedpicture.h"
#include "platform/av/picturescaler.h"

#include "platform/av/videosink.h"

class QPainter;

namespace varno::live {

class VideoGlView;

// The widget a video window shows its stream in. It registers a surface under
// a native window handle; decoders draw into that handle from their own
// threads (the pictures are scaled to this widget's size there), and the
// widget paints the latest picture on the user-interface thread. A picture
// of the widget's own size comes by reference and is converted once, while
// painting, straight into the window's backing store, or, where the process
// shows video by OpenGL (videoByOpenGL()), uploaded as planes into a child
// view that converts them in a shader (VideoGlView), shown only while such
// pictures come.
// "Painting on" shows the idle background with its label; "off" shows the
// pictures.
class VideoSurface : public QWidget
{
    Q_OBJECT

public:
    explicit VideoSurface(QWidget *parent = nullptr);
    ~VideoSurface() override;

    // The native window handle decoders draw into (never 0).
    int32_t nativeHandle() const { return m_handle; }

    void setPainting(bool on);
    bool painting() const { return m_painting; }
    void setIdleText(const QString &text);
    QString idleText() const { return m_idleText; }
    void setIdleColor(const QColor &color);
    // A notice over the picture: not empty, the picture is dimmed and the
    // text written across it (a stream that is reconnecting).
    void setNotice(const QString &text);
    QString notice() const { return m_notice; }
    // On: pictures keep their shape, centred, the rest of the widget in the
    // idle colour (letter-boxed). Off (the default): stretched to the widget.
    void setKeepAspect(bool on);
    bool keepAspect() const { return m_keepAspect; }
    // Where the current picture is painted (the whole widget when stretched
    // or when there is none), in widget coordinates.
    QRectF pictureRect() const;

    // The picture the widget shows now (null when none arrived).
    QImage currentImage() const;
    // Pictures painted so far (tests).
    int paintedPictures() const { return m_paintedPictures; }
    // Paints that showed a picture not painted before (repaints of the same
    // picture are not counted): frames actually shown.
    uint64_t newPicturesPainted() const { return m_newPictures; }
    // Paints that converted a full-size picture straight into the painted
    // pixels (tests, measurements).
    uint64_t paintsInPlace() const { return m_paintsInPlace; }
    // Paints of full-size pictures by OpenGL (tests, measurements).
    uint64_t paintsByOpenGL() const { return m_paintsByOpenGL; }
    // Whether full-size pictures are shown by OpenGL now.
    bool showsByOpenGL() const;
    // Off keeps this surface on the CPU path even where the process shows
    // video by OpenGL (measurements of the two side by side); on (the
    // default) takes OpenGL where the process shows video by it.
    void setOpenGLAllowed(bool on);

    // Measurement probe, called on the user-interface thread for every new
    // picture painted with the arrival stamp of its frame (see
    // varno::av::setPresentStamp; 0 when unknown) and the paint time, both
    // steady-clock microseconds. Empty (the default) costs nothing.
    using PaintProbe = std::function<void(const VideoSurface *surface, int64_t arrivalUs, int64_t paintUs)>;
    static void setPaintProbe(PaintProbe probe);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTarget();
    void pictureArrived();
    // Shows the latest picture and look, by the OpenGL view or by a paint
    // of this widget.
    void refresh();
    // Shows or hides the OpenGL view for this picture and look; false when
    // this widget paints (the view hidden, or there is none).
    bool syncGlView(const av::FrameSurface::Latest &latest);
    void glFailed(const QString &why);
    void countPaint(uint64_t sequence, int64_t arrivalUs);
    void paintNotice(QPainter &p);
    bool paintFullSize(QPainter &p, const av::DecodedPicture &picture, const QRectF &place);
    QImage paintImage(const av::DecodedPicture &picture);

    std::shared_ptr<av::FrameSurface> m_surface;
    int32_t m_handle = 0;
    bool m_painting = true;
    bool m_keepAspect = false;
    QString m_idleText;
    QString m_notice;
    QColor m_idleColor;
    std::atomic<bool> m_updatePosted{false};
    int m_paintedPictures = 0;
    uint64_t m_lastSequence = 0;
    uint64_t m_newPictures = 0;
    uint64_t m_paintsInPlace = 0;
    uint64_t m_paintsByOpenGL = 0;
    VideoGlView *m_gl = nullptr; // where the process shows video by OpenGL
    QPointer<QObject> m_watchedWindow;
    av::PictureScaler m_paintScaler; // full-size pictures, converted where they are painted
    QImage m_paintImage;             // ... or into this when they cannot be
};

} // namespace varno::live
