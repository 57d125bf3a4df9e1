#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QColor>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QRectF>
#include <QString>

#include "platform/av/decodedpicture.h"

class QOpenGLShaderProgram;
class QPainter;

namespace varno::live {

// Whether this process shows full-size pictures through OpenGL. Decided once,
// on the user-interface thread, at the first call: an OpenGL context can be
// made and its renderer is graphics hardware (not a software rasteriser such
// as llvmpipe). The environment variable VARNO_VIDEO_GL=1 forces it on (a
// context is still needed), =0 off. The decision is logged once. False for
// good after reportVideoGlFailure().
bool videoByOpenGL();
// A failure of the OpenGL path (no context, a shader that does not compile,
// an upload that fails, a lost context): full-size pictures go through the
// CPU from now on, in every window of the process. Logged once.
void reportVideoGlFailure(const QString &why);

// The view a video surface shows full-size pictures in when the process
// shows video by OpenGL: the decoder's Y, U and V planes go into three
// single-channel textures (kept while the picture's size stays), a fragment
// shader converts them with the CPU path's colours (ITU-R BT.601, studio
// range), drawn at its place in the view with the idle colour around it;
// a notice dims the picture and writes its text over it. A child of the
// surface, covering it, shown only while such pictures come.
class VideoGlView final : public QOpenGLWidget, protected QOpenGLFunctions
{
    Q_OBJECT

public:
    explicit VideoGlView(QWidget *parent);
    ~VideoGlView() override;

    // What the next paint shows: a full-size picture held by reference, its
    // place in view coordinates, the colour around it and a notice (empty:
    // none). Schedules a paint.
    void setPicture(const av::DecodedPicture &picture, uint64_t sequence, int64_t arrivalUs);
    void setLook(const QRectF &place, const QColor &idle, const QString &notice);
    // Lets go of the picture (the decoder's buffer).
    void clearPicture();

    // True once the view could not draw (its context, shaders or textures):
    // the owner stops using it. Set during show() when the context or the
    // shaders fail, during a paint when an upload fails.
    bool broken() const { return m_broken; }
    QString failure() const { return m_failure; }
    // Called once the window has shown a paint with a picture (frameSwapped),
    // with its sequence and arrival stamp (the owner's counters and paint
    // probe).
    void setPaintedCallback(std::function<void(uint64_t sequence, int64_t arrivalUs)> callback);
    // Paints that drew a picture by OpenGL and were shown.
    uint64_t glPaints() const { return m_glPaints; }

    // Tests: the fragment shader of every view initialised from now on does
    // not compile.
    static void breakShadersForTests(bool on);

signals:
    // Emitted (once) when the view finds itself broken during a paint.
    void failed(const QString &why);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releaseGl();
    void notePaint(bool byCpu);
    bool upload(const av::DecodedPicture &picture);
    void uploadPlane(int index, const uint8_t *data, int stride, int width, int height);
    void fail(const QString &why);
    void paintWithoutShaders();
    void paintNotice(QPainter &p);

    av::DecodedPicture m_picture;
    uint64_t m_sequence = 0;
    int64_t m_arrivalUs = 0;
    QRectF m_place;
    QColor m_idle = Qt::black;
    QString m_notice;
    std::function<void(uint64_t, int64_t)> m_painted;

    QOpenGLShaderProgram *m_program = nullptr;
    unsigned m_textures[3] = {0, 0, 0};
    int m_textureWidth = 0; // luma size the textures were made for
    int m_textureHeight = 0;
    bool m_redTextures = false; // GL_RED (or GL_LUMINANCE where only that exists)
    bool m_rowLength = false;   // GL_UNPACK_ROW_LENGTH: rows of any stride in one upload
    std::vector<uint8_t> m_packed; // rows packed for contexts without it
    uint64_t m_uploadedSequence = 0; // the picture in the textures
    bool m_broken = false;
    QString m_failure;
    uint64_t m_glPaints = 0;
    bool m_paintPending = false; // painted, not yet shown
    bool m_paintedByCpu = false;
    uint64_t m_paintedSequence = 0;
    int64_t m_paintedArrivalUs = 0;
};

} // namespace varno::live
