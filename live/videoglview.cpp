#include "live/videoglview.h"

#include "common/logfile.h"
#include "common/uithread.h"
#include "platform/av/videosink.h"

#include <atomic>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QPainter>

// Not in every set of OpenGL ES 2 headers.
#ifndef GL_RED
#define GL_RED 0x1903
#endif
#ifndef GL_R8
#define GL_R8 0x8229
#endif
#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace varno::live {

namespace {

std::atomic<bool> g_glFailed{false};
std::atomic<bool> g_breakShaders{false};

bool softwareRenderer(const QString &renderer)
{
    const QString r = renderer.toLower();
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "swiftshader", "software"}) {
        if (r.contains(QLatin1String(name)))
            return true;
    }
    return false;
}

// The renderer of a context made for the purpose; empty (and why) when
// none can be made.
QString probeRenderer(QString *why)
{
    QOpenGLContext context;
    if (!context.create()) {
        *why = QStringLiteral("no OpenGL context");
        return QString();
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        *why = QStringLiteral("OpenGL context not usable");
        return QString();
    }
    const auto *name = context.functions()->glGetString(GL_RENDERER);
    const QString renderer = name ? QString::fromLatin1(reinterpret_cast<const char *>(name)).simplified() : QString();
    context.doneCurrent();
    if (renderer.isEmpty())
        *why = QStringLiteral("OpenGL renderer unknown");
    return renderer;
}

bool decide()
{
    const QByteArray env = qgetenv("VARNO_VIDEO_GL");
    QString why;
    bool on = false;
    if (env == "0") {
        why = QStringLiteral("VARNO_VIDEO_GL=0");
    } else {
        const bool forced = env == "1";
        const QString platform = QGuiApplication::platformName();
        if (!forced && (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))) {
            why = QStringLiteral("no display");
        } else {
            const QString renderer = probeRenderer(&why);
            if (!renderer.isEmpty() && !forced && softwareRenderer(renderer)) {
                why = QStringLiteral("software renderer ") + renderer;
            } else if (!renderer.isEmpty()) {
                on = true;
                why = forced ? renderer + QStringLiteral(", forced by VARNO_VIDEO_GL=1") : renderer;
            }
        }
    }
    if (on)
        WriteLog(0, "[PREVIEW]Video by OpenGL(%s)!!!", why.toUtf8().constData());
    else
        WriteLog(0, "[PREVIEW]Video by CPU(%s)!!!", why.toUtf8().constData());
    return on;
}

const char *const kVertexShader = R"(
attribute highp vec2 position;
attribute highp vec2 texCoord;
varying highp vec2 vTex;
void main()
{
    vTex = texCoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

// The CPU path's colours (platform/av/picturescaler.cpp, yuvrgb.h): ITU-R
// BT.601, studio range; each chroma sample covers 2 x 2 pixels (nearest).
const char *const kFragmentShader = R"(
varying highp vec2 vTex;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
void main()
{
    highp float y = texture2D(texY, vTex).r * 255.0 - 16.0;
    highp float u = texture2D(texU, vTex).r * 255.0 - 128.0;
    highp float v = texture2D(texV, vTex).r * 255.0 - 128.0;
    highp float l = 1.164383 * y;
    highp vec3 rgb = vec3(l + 1.596027 * v, l - 0.391762 * u - 0.812968 * v, l + 2.017232 * u);
    gl_FragColor = vec4(clamp(rgb / 255.0, 0.0, 1.0), 1.0);
}
)";

} // namespace

bool videoByOpenGL()
{
    VARNO_ASSERT_UI_THREAD();
    static const bool decided = decide();
    return decided && !g_glFailed.load();
}

void reportVideoGlFailure(const QString &why)
{
    if (!g_glFailed.exchange(true))
        WriteLog(0, "[PREVIEW]Video by OpenGL failed(%s), by CPU from now on!!!", why.toUtf8().constData());
}

void VideoGlView::breakShadersForTests(bool on)
{
    g_breakShaders = on;
}

VideoGlView::VideoGlView(QWidget *parent) : QOpenGLWidget(parent)
{
    // Mouse and keys go to the video window beneath, as with the CPU path.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // A paint counts once the window has shown it.
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (!m_paintPending)
            return;
        m_paintPending = false;
        if (!m_paintedByCpu)
            ++m_glPaints;
        if (m_painted)
            m_painted(m_paintedSequence, m_paintedArrivalUs);
    });
}

VideoGlView::~VideoGlView()
{
    // The context goes after this part of the view: no call back into it.
    if (QOpenGLContext *ctx = context())
        disconnect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, &VideoGlView::releaseGl);
    if (m_program || m_textures[0])
        releaseGl();
}

void VideoGlView::setPaintedCallback(std::function<void(uint64_t, int64_t)> callback)
{
    m_painted = std::move(callback);
}

void VideoGlView::setPicture(const av::DecodedPicture &picture, uint64_t sequence, int64_t arrivalUs)
{
    m_picture = picture;
    m_sequence = sequence;
    m_arrivalUs = arrivalUs;
    update();
}

void VideoGlView::setLook(const QRectF &place, const QColor &idle, const QString &notice)
{
    if (m_place == place && m_idle == idle && m_notice == notice)
        return;
    m_place = place;
    m_idle = idle;
    m_notice = notice;
    update();
}

void VideoGlView::clearPicture()
{
    m_picture = av::DecodedPicture();
    m_sequence = 0;
}

void VideoGlView::fail(const QString &why)
{
    if (m_broken)
        return;
    m_broken = true;
    m_failure = why;
    // Not during the paint: the owner hides this view, which a paint must
    // not do.
    QMetaObject::invokeMethod(this, [this, why] { emit failed(why); }, Qt::QueuedConnection);
}

void VideoGlView::initializeGL()
{
    // A new context (the first, or after the view moved to another window):
    // everything of the old one is gone with it.
    delete m_program;
    m_program = nullptr;
    m_textures[0] = m_textures[1] = m_textures[2] = 0;
    m_textureWidth = m_textureHeight = 0;
    m_uploadedSequence = 0;
    QOpenGLContext *ctx = context();
    if (!ctx || !ctx->isValid()) {
        fail(QStringLiteral("no OpenGL context"));
        return;
    }
    connect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, &VideoGlView::releaseGl, Qt::UniqueConnection);
    initializeOpenGLFunctions();
    const QSurfaceFormat format = ctx->format();
    const int major = format.majorVersion();
    if (ctx->isOpenGLES()) {
        m_redTextures = major >= 3 || ctx->hasExtension("GL_EXT_texture_rg");
        m_rowLength = major >= 3 || ctx->hasExtension("GL_EXT_unpack_subimage");
    } else {
        m_redTextures = major >= 3 || ctx->hasExtension("GL_ARB_texture_rg");
        m_rowLength = true;
    }
    m_program = new QOpenGLShaderProgram;
    QByteArray fragment(kFragmentShader);
    if (g_breakShaders.load())
        fragment.replace("gl_FragColor", "gl_FragColour");
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        || !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment)) {
        fail(QStringLiteral("shader does not compile: ") + m_program->log().simplified().left(200));
        return;
    }
    m_program->bindAttributeLocation("position", 0);
    m_program->bindAttributeLocation("texCoord", 1);
    if (!m_program->link()) {
        fail(QStringLiteral("shader does not link: ") + m_program->log().simplified().left(200));
        return;
    }
    glGenTextures(3, m_textures);
    for (unsigned texture : m_textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        // Luma: exact at the picture's own size, smooth while a resize waits
        // for the next picture; chroma as the CPU path samples it.
        const GLint filter = texture == m_textures[0] ? GL_LINEAR : GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
        fail(QStringLiteral("texture set-up failed (GL error 0x%1)").arg(error, 0, 16));
}

void VideoGlView::releaseGl()
{
    makeCurrent();
    delete m_program;
    m_program = nullptr;
    if (m_textures[0])
        glDeleteTextures(3, m_textures);
    m_textures[0] = m_textures[1] = m_textures[2] = 0;
    m_textureWidth = m_textureHeight = 0;
    m_uploadedSequence = 0;
    doneCurrent();
}

void VideoGlView::uploadPlane(int index, const uint8_t *data, int stride, int width, int height)
{
    glBindTexture(GL_TEXTURE_2D, m_textures[index]);
    const GLenum format = m_redTextures ? GL_RED : GL_LUMINANCE;
    if (stride == width) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, data);
    } else if (m_rowLength) {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, data);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        // No row length in this context: the rows packed first.
        m_packed.resize(size_t(width) * size_t(height));
        for (int row = 0; row < height; ++row)
            std::copy_n(data + qsizetype(row) * stride, width, m_packed.data() + qsizetype(row) * width);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, m_packed.data());
    }
}

bool VideoGlView::upload(const av::DecodedPicture &picture)
{
    if (m_uploadedSequence == m_sequence && m_uploadedSequence != 0)
        return true;
    // Shown is the even part (chroma covers two columns and rows a sample).
    const QSize size = av::fullSizeOf(picture);
    const int cw = size.width() / 2, ch = size.height() / 2;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (size.width() != m_textureWidth || size.height() != m_textureHeight) {
        // Storage only when the size changes; every picture after that
        // replaces the pixels.
        const GLint internal = m_redTextures ? (context()->isOpenGLES() && context()->format().majorVersion() < 3
                                                    ? GL_RED
                                                    : GL_R8)
                                             : GL_LUMINANCE;
        const GLenum format = m_redTextures ? GL_RED : GL_LUMINANCE;
        for (int i = 0; i < 3; ++i) {
            glBindTexture(GL_TEXTURE_2D, m_textures[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, internal, i ? cw : size.width(), i ? ch : size.height(), 0, format,
                         GL_UNSIGNED_BYTE, nullptr);
        }
        m_textureWidth = size.width();
        m_textureHeight = size.height();
    }
    uploadPlane(0, picture.y, picture.yStride, size.width(), size.height());
    uploadPlane(1, picture.u, picture.uStride, cw, ch);
    uploadPlane(2, picture.v, picture.vStride, cw, ch);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
        m_textureWidth = m_textureHeight = 0;
        fail(QStringLiteral("texture upload failed (GL error 0x%1)").arg(error, 0, 16));
        return false;
    }
    m_uploadedSequence = m_sequence;
    return true;
}

void VideoGlView::paintGL()
{
    QOpenGLContext *ctx = context();
    if (!m_broken && (!ctx || !ctx->isValid()))
        fail(QStringLiteral("OpenGL context lost"));
    // Errors left by others are not this paint's (bounded: a lost context
    // may report one for ever).
    for (int i = 0; !m_broken && i < 8 && glGetError() != GL_NO_ERROR; ++i) {
    }
    const av::DecodedPicture picture = m_picture;
    const QSize full = av::fullSizeOf(picture);
    if (m_broken || picture.isNull() || full.isEmpty() || !m_program || !upload(picture)) {
        // This one paint by the CPU: never a black window while the owner
        // switches back to its own painting.
        paintWithoutShaders();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const int fbWidth = qRound(width() * ratio), fbHeight = qRound(height() * ratio);
    glViewport(0, 0, fbWidth, fbHeight);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glClearColor(float(m_idle.redF()), float(m_idle.greenF()), float(m_idle.blueF()), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    // The place on the device pixels' grid (the surface places pictures on
    // whole pixels); GL counts rows from the bottom.
    const QRectF device(m_place.topLeft() * ratio, m_place.size() * ratio);
    const int x0 = qRound(device.left()), y0 = qRound(device.top());
    const int x1 = qRound(device.right()), y1 = qRound(device.bottom());
    glViewport(x0, fbHeight - y1, x1 - x0, y1 - y0);
    static const GLfloat vertices[] = {-1, 1, 0, 0, -1, -1, 0, 1, 1, 1, 1, 0, 1, -1, 1, 1};
    m_program->bind();
    for (int i = 0; i < 3; ++i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, m_textures[i]);
    }
    m_program->setUniformValue("texY", 0);
    m_program->setUniformValue("texU", 1);
    m_program->setUniformValue("texV", 2);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), vertices);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), vertices + 2);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
    for (int i = 2; i >= 0; --i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    m_program->release();
    glViewport(0, 0, fbWidth, fbHeight);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
        fail(QStringLiteral("drawing failed (GL error 0x%1)").arg(error, 0, 16));
        paintWithoutShaders();
        return;
    }
    if (!m_notice.isEmpty()) {
        QPainter p(this);
        paintNotice(p);
    }
    notePaint(false);
}

void VideoGlView::notePaint(bool byCpu)
{
    m_paintPending = true;
    m_paintedByCpu = byCpu;
    m_paintedSequence = m_sequence;
    m_paintedArrivalUs = m_arrivalUs;
}

void VideoGlView::paintWithoutShaders()
{
    QPainter p(this);
    p.fillRect(rect(), m_idle);
    if (!m_picture.isNull()) {
        QImage image = av::fullSizeImage(m_picture);
        image.setDevicePixelRatio(devicePixelRatioF());
        p.drawImage(m_place, image);
    }
    paintNotice(p);
    if (!m_picture.isNull())
        notePaint(true);
}

void VideoGlView::paintNotice(QPainter &p)
{
    if (m_notice.isEmpty())
        return;
    // As the surface paints it: the picture at a third of its brightness.
    p.fillRect(rect(), QColor(0, 0, 0, 170));
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_notice);
}

} // namespace varno::live
