#include "vlcvideonode_p.h"

#include <QOpenGLContext>
#include <QPainter>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGMaterialShader>
#include <QSGTexture>

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif
#ifndef GL_LUMINANCE
#define GL_LUMINANCE 0x1909
#endif
#ifndef GL_RED
#define GL_RED 0x1903
#endif
#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif
#ifndef GL_RGBA8
#define GL_RGBA8 0x8058
#endif

namespace {

// Limited-range Y'CbCr to R'G'B' for (Y, U, V, 1) vectors.
QMatrix4x4 yuvToRgb(bool bt709)
{
    const float y = 255.f / 219.f;
    const float c = 255.f / 224.f;
    float rv, gu, gv, bu;
    if (bt709) {
        rv = 1.5748f * c;
        gu = -0.1873f * c;
        gv = -0.4681f * c;
        bu = 1.8556f * c;
    } else {
        rv = 1.402f * c;
        gu = -0.3441f * c;
        gv = -0.7141f * c;
        bu = 1.772f * c;
    }
    const float y0 = 16.f / 255.f;
    const float c0 = 128.f / 255.f;
    return QMatrix4x4(y, 0, rv, -y * y0 - rv * c0,
                      y, gu, gv, -y * y0 - (gu + gv) * c0,
                      y, bu, 0, -y * y0 - bu * c0,
                      0, 0, 0, 1);
}

class VlcYuvShader : public QSGMaterialShader
{
public:
    // A core-profile context takes only versioned GLSL with in/out and texture();
    // other contexts get the GLSL ES 1.0 compatible text.
    static bool coreProfile()
    {
        QOpenGLContext *ctx = QOpenGLContext::currentContext();
        return ctx && ctx->format().profile() == QSurfaceFormat::CoreProfile;
    }
    const char *vertexShader() const override
    {
        if (coreProfile())
            return "#version 150 core\n"
                   "in vec4 vertex;\n"
                   "in vec2 texCoord;\n"
                   "uniform mat4 matrix;\n"
                   "out vec2 tc;\n"
                   "void main() { tc = texCoord; gl_Position = matrix * vertex; }\n";
        return "attribute highp vec4 vertex;\n"
               "attribute highp vec2 texCoord;\n"
               "uniform highp mat4 matrix;\n"
               "varying highp vec2 tc;\n"
               "void main() { tc = texCoord; gl_Position = matrix * vertex; }\n";
    }
    const char *fragmentShader() const override
    {
        if (coreProfile())
            return "#version 150 core\n"
                   "uniform sampler2D yTex;\n"
                   "uniform sampler2D uTex;\n"
                   "uniform sampler2D vTex;\n"
                   "uniform mat4 colorMatrix;\n"
                   "uniform float opacity;\n"
                   "in vec2 tc;\n"
                   "out vec4 fragColor;\n"
                   "void main() {\n"
                   "  vec4 yuv = vec4(texture(yTex, tc).r, texture(uTex, tc).r, texture(vTex, tc).r, 1.0);\n"
                   "  fragColor = clamp(colorMatrix * yuv, 0.0, 1.0) * opacity;\n"
                   "}\n";
        return "uniform sampler2D yTex;\n"
               "uniform sampler2D uTex;\n"
               "uniform sampler2D vTex;\n"
               "uniform mediump mat4 colorMatrix;\n"
               "uniform lowp float opacity;\n"
               "varying highp vec2 tc;\n"
               "void main() {\n"
               "  mediump vec4 yuv = vec4(texture2D(yTex, tc).r, texture2D(uTex, tc).r,\n"
               "                          texture2D(vTex, tc).r, 1.0);\n"
               "  gl_FragColor = clamp(colorMatrix * yuv, 0.0, 1.0) * opacity;\n"
               "}\n";
    }
    char const *const *attributeNames() const override
    {
        static const char *const names[] = {"vertex", "texCoord", nullptr};
        return names;
    }
    void initialize() override
    {
        m_matrix = program()->uniformLocation("matrix");
        m_opacity = program()->uniformLocation("opacity");
        m_colorMatrix = program()->uniformLocation("colorMatrix");
        m_samplers[0] = program()->uniformLocation("yTex");
        m_samplers[1] = program()->uniformLocation("uTex");
        m_samplers[2] = program()->uniformLocation("vTex");
    }
    void updateState(const RenderState &state, QSGMaterial *newMaterial, QSGMaterial *) override
    {
        auto *m = static_cast<VlcYuvMaterial *>(newMaterial);
        if (state.isMatrixDirty())
            program()->setUniformValue(m_matrix, state.combinedMatrix());
        if (state.isOpacityDirty())
            program()->setUniformValue(m_opacity, state.opacity());
        program()->setUniformValue(m_colorMatrix, m->colorMatrix);
        QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
        for (int i = 2; i >= 0; --i) {
            program()->setUniformValue(m_samplers[i], i);
            f->glActiveTexture(GL_TEXTURE0 + GLenum(i));
            f->glBindTexture(GL_TEXTURE_2D, m->textures[i]);
        }
        // Unit 0 stays active, as the renderer expects.
    }

private:
    int m_matrix = -1;
    int m_opacity = -1;
    int m_colorMatrix = -1;
    int m_samplers[3] = {-1, -1, -1};
};

} // namespace

VlcYuvMaterial::VlcYuvMaterial(const VlcYuvMaterial *sharing)
    : m_sharing(sharing)
{
    colorMatrix = yuvToRgb(true);
    // The renderer picks the opaque twin while the item is fully opaque; below that
    // the shader's output has to be blended.
    setFlag(Blending, sharing == nullptr);
}

VlcYuvMaterial::~VlcYuvMaterial()
{
    if (m_sharing)
        return;
    if (QOpenGLContext *ctx = QOpenGLContext::currentContext()) {
        if (textures[0])
            ctx->functions()->glDeleteTextures(3, textures);
    }
}

void VlcYuvMaterial::follow()
{
    if (!m_sharing)
        return;
    std::copy(std::begin(m_sharing->textures), std::end(m_sharing->textures), std::begin(textures));
    colorMatrix = m_sharing->colorMatrix;
}

QSGMaterialType *VlcYuvMaterial::type() const
{
    static QSGMaterialType type;
    return &type;
}

QSGMaterialShader *VlcYuvMaterial::createShader() const
{
    return new VlcYuvShader;
}

int VlcYuvMaterial::compare(const QSGMaterial *other) const
{
    const auto *o = static_cast<const VlcYuvMaterial *>(other);
    return int(textures[0]) - int(o->textures[0]);
}

void VlcYuvMaterial::upload(const VlcFrame &frame)
{
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    QOpenGLFunctions *f = ctx->functions();
    const bool core = ctx->format().profile() == QSurfaceFormat::CoreProfile;
    const GLenum format = core ? GL_RED : GL_LUMINANCE;
    const bool rowLength = !ctx->isOpenGLES() || ctx->format().majorVersion() >= 3;
    if (!textures[0]) {
        f->glGenTextures(3, textures);
        for (unsigned t : textures) {
            f->glBindTexture(GL_TEXTURE_2D, t);
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
    }
    const VlcFrameFormat &fmt = frame.format;
    colorMatrix = yuvToRgb(fmt.height > 576);
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
        const int w = i ? (fmt.width + 1) / 2 : fmt.width;
        const int h = i ? (fmt.height + 1) / 2 : fmt.height;
        f->glBindTexture(GL_TEXTURE_2D, textures[i]);
        const uint8_t *data = frame.buffer->planes[i];
        if (rowLength)
            f->glPixelStorei(GL_UNPACK_ROW_LENGTH, fmt.pitches[i]);
        if (w != m_widths[i] || h != m_heights[i]) {
            f->glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), w, h, 0, format, GL_UNSIGNED_BYTE,
                            rowLength || fmt.pitches[i] == w ? data : nullptr);
            m_widths[i] = w;
            m_heights[i] = h;
            if (rowLength || fmt.pitches[i] == w)
                continue;
        }
        if (rowLength || fmt.pitches[i] == w) {
            f->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, format, GL_UNSIGNED_BYTE, data);
        } else {
            for (int row = 0; row < h; ++row)
                f->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, w, 1, format, GL_UNSIGNED_BYTE,
                                   data + size_t(row) * size_t(fmt.pitches[i]));
        }
    }
    if (rowLength)
        f->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    f->glBindTexture(GL_TEXTURE_2D, 0);
}

QSGTexture *VlcVideoNode::uploadRgb(QQuickWindow *window, QOpenGLContext *ctx, const VlcFrame &frame)
{
    // One texture per picture size, filled anew for every picture: creating a texture
    // per frame costs an allocation and a full upload path each time.
    QOpenGLFunctions *f = ctx->functions();
    const VlcFrameFormat &fmt = frame.format;
    const QSize size(fmt.width, fmt.height);
    QSGTexture *texture = m_texture;
    if (!m_texture || !m_rgbTexture || m_texture->textureSize() != size) {
        GLuint id = 0;
        f->glGenTextures(1, &id);
        f->glBindTexture(GL_TEXTURE_2D, id);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, fmt.width, fmt.height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        texture = window->createTextureFromNativeObject(QQuickWindow::NativeObjectTexture, &id, 0, size,
                                                        QQuickWindow::TextureOwnsGLTexture);
        texture->setFiltering(QSGTexture::Linear);
    } else {
        f->glBindTexture(GL_TEXTURE_2D, GLuint(texture->textureId()));
    }
    m_rgbTexture = true;
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    f->glPixelStorei(GL_UNPACK_ROW_LENGTH, fmt.pitches[0] / 4);
    f->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, fmt.width, fmt.height, GL_BGRA, GL_UNSIGNED_BYTE,
                       frame.buffer->planes[0]);
    f->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    f->glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

void VlcSoftwareVideoNode::setFrame(const VlcFrame &frame)
{
    const VlcFrameFormat &fmt = frame.format;
    m_buffer = frame.buffer;
    m_image = QImage(m_buffer->planes[0], fmt.width, fmt.height, fmt.pitches[0], QImage::Format_RGB32);
    markDirty(QSGNode::DirtyMaterial);
}

void VlcSoftwareVideoNode::setRects(const QRectF &target, const QRectF &source)
{
    if (target == m_target && source == m_source)
        return;
    m_target = target;
    m_source = source;
    markDirty(QSGNode::DirtyGeometry);
}

void VlcSoftwareVideoNode::render(const RenderState *state)
{
    if (m_image.isNull() || m_target.isEmpty())
        return;
    auto *painter = static_cast<QPainter *>(
        m_window->rendererInterface()->getResource(m_window, QSGRendererInterface::PainterResource));
    if (!painter)
        return;
    const QRegion *clip = state->clipRegion();
    if (clip && !clip->isEmpty())
        painter->setClipRegion(*clip, Qt::ReplaceClip); // before the transform, in device pixels
    painter->setTransform(matrix()->toTransform());
    painter->setOpacity(inheritedOpacity());
    // Picture pixels drawn one to one need no filtering.
    const bool scaled = qAbs(m_target.width() - m_source.width()) > 0.5
        || qAbs(m_target.height() - m_source.height()) > 0.5 || painter->transform().isScaling();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, scaled);
    // Opaque pictures replace what is below: no blending per pixel.
    painter->setCompositionMode(inheritedOpacity() < 1 ? QPainter::CompositionMode_SourceOver
                                                        : QPainter::CompositionMode_Source);
    painter->drawImage(m_target, m_image, m_source);
}

VlcVideoNode::~VlcVideoNode()
{
    delete m_texture;
}

void VlcVideoNode::removeYuv()
{
    if (!m_yuvNode)
        return;
    removeChildNode(m_yuvNode);
    delete m_yuvNode; // owns geometry and materials
    m_yuvNode = nullptr;
    m_yuvMaterial = nullptr;
    m_yuvOpaqueMaterial = nullptr;
}

void VlcVideoNode::removeImage()
{
    if (!m_imageNode)
        return;
    removeChildNode(m_imageNode);
    delete m_imageNode;
    m_imageNode = nullptr;
    delete m_texture;
    m_texture = nullptr;
    m_rgbTexture = false;
}

void VlcVideoNode::removeSoftware()
{
    if (!m_softwareNode)
        return;
    removeChildNode(m_softwareNode);
    delete m_softwareNode;
    m_softwareNode = nullptr;
}

void VlcVideoNode::clear()
{
    removeYuv();
    removeImage();
    removeSoftware();
    m_frameSize = QSize();
}

bool VlcVideoNode::update(QQuickWindow *window, const VlcFrame &frame, const QRectF &target,
                          const QRectF &source, bool software)
{
    if (frame.buffer) {
        const VlcFrameFormat &fmt = frame.format;
        m_frameSize = QSize(fmt.width, fmt.height);
        if (fmt.yuv) {
            if (software)
                return m_yuvNode || m_softwareNode; // cannot draw planar pictures here
            removeImage();
            removeSoftware();
            if (!m_yuvNode) {
                m_yuvNode = new QSGGeometryNode;
                auto *geometry = new QSGGeometry(QSGGeometry::defaultAttributes_TexturedPoint2D(), 4);
                m_yuvNode->setGeometry(geometry);
                m_yuvNode->setFlag(QSGNode::OwnsGeometry);
                m_yuvMaterial = new VlcYuvMaterial;
                m_yuvOpaqueMaterial = new VlcYuvMaterial(m_yuvMaterial);
                m_yuvNode->setMaterial(m_yuvMaterial);
                m_yuvNode->setOpaqueMaterial(m_yuvOpaqueMaterial);
                m_yuvNode->setFlags(QSGNode::OwnsMaterial | QSGNode::OwnsOpaqueMaterial);
                appendChildNode(m_yuvNode);
            }
            m_yuvMaterial->upload(frame);
            m_yuvOpaqueMaterial->follow();
            m_yuvNode->markDirty(QSGNode::DirtyMaterial);
        } else if (software) {
            removeYuv();
            removeImage();
            if (!m_softwareNode) {
                m_softwareNode = new VlcSoftwareVideoNode(window);
                m_softwareNode->setFrame(frame);
                appendChildNode(m_softwareNode);
            } else {
                m_softwareNode->setFrame(frame);
            }
        } else {
            removeYuv();
            removeSoftware();
            QOpenGLContext *ctx = software ? nullptr : QOpenGLContext::currentContext();
            QSGTexture *texture = nullptr;
            if (ctx && !ctx->isOpenGLES()) {
                texture = uploadRgb(window, ctx, frame);
            } else {
                // The image keeps the picture reserved until the texture lets it go.
                auto *keep = new std::shared_ptr<VlcFrameBuffer>(frame.buffer);
                QImage image(frame.buffer->planes[0], fmt.width, fmt.height, fmt.pitches[0],
                             QImage::Format_RGB32,
                             [](void *p) { delete static_cast<std::shared_ptr<VlcFrameBuffer> *>(p); }, keep);
                texture = window->createTextureFromImage(image);
                texture->setFiltering(QSGTexture::Linear);
            }
            if (!m_imageNode) {
                // The software renderer looks at a node as soon as it is added:
                // it must have its texture by then.
                m_imageNode = window->createImageNode();
                m_imageNode->setFiltering(QSGTexture::Linear);
                m_imageNode->setTexture(texture);
                appendChildNode(m_imageNode);
            } else if (texture != m_texture) {
                m_imageNode->setTexture(texture);
            } else {
                m_imageNode->markDirty(QSGNode::DirtyMaterial);
            }
            if (texture != m_texture) {
                delete m_texture;
                m_texture = texture;
            }
        }
    }
    if (m_frameSize.isEmpty() || target.isEmpty())
        return m_yuvNode || m_imageNode || m_softwareNode;
    if (m_yuvNode) {
        QSGGeometry::updateTexturedRectGeometry(m_yuvNode->geometry(), target, source);
        m_yuvNode->markDirty(QSGNode::DirtyGeometry);
    } else {
        const QRectF pixels(source.x() * m_frameSize.width(), source.y() * m_frameSize.height(),
                            source.width() * m_frameSize.width(), source.height() * m_frameSize.height());
        if (m_imageNode) {
            m_imageNode->setRect(target);
            m_imageNode->setSourceRect(pixels);
        } else if (m_softwareNode) {
            m_softwareNode->setRects(target, pixels);
        }
    }
    return m_yuvNode || m_imageNode || m_softwareNode;
}
