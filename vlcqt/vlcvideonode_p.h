#pragma once

#include "vlcframesink_p.h"

#include <QImage>
#include <QMatrix4x4>
#include <QSGGeometryNode>
#include <QSGMaterial>
#include <QSGNode>
#include <QSGRenderNode>

class QOpenGLContext;
class QQuickWindow;
class QSGImageNode;
class QSGTexture;

// Three single-channel textures of an I420 picture, converted in the fragment
// shader with BT.709 above 576 lines and BT.601 up to it (the pictures carry no
// colour space). The material owning the textures blends; an opaque twin made with
// sharing draws the same textures without blending.
class VlcYuvMaterial : public QSGMaterial
{
public:
    explicit VlcYuvMaterial(const VlcYuvMaterial *sharing = nullptr);
    ~VlcYuvMaterial() override;
    // The twin takes the owner's textures and colour matrix after an upload.
    void follow();

    QSGMaterialType *type() const override;
    QSGMaterialShader *createShader() const override;
    int compare(const QSGMaterial *other) const override;

    // Render thread with the GL context current.
    void upload(const VlcFrame &frame);

    unsigned textures[3] = {0, 0, 0};
    QMatrix4x4 colorMatrix;

private:
    const VlcYuvMaterial *m_sharing;
    int m_widths[3] = {0, 0, 0};
    int m_heights[3] = {0, 0, 0};
};

// Software scene graph: paints the RV32 picture straight from the frame buffer with
// the renderer's painter, without making a texture (a pixmap copy) of every picture.
class VlcSoftwareVideoNode : public QSGRenderNode
{
public:
    explicit VlcSoftwareVideoNode(QQuickWindow *window) : m_window(window) {}

    void setFrame(const VlcFrame &frame);
    // target in item coordinates, source in picture pixels.
    void setRects(const QRectF &target, const QRectF &source);

    void render(const RenderState *state) override;
    void releaseResources() override {}
    StateFlags changedStates() const override { return {}; }
    RenderingFlags flags() const override { return BoundedRectRendering; }
    QRectF rect() const override { return m_target; }

private:
    QQuickWindow *m_window;
    std::shared_ptr<VlcFrameBuffer> m_buffer; // reserved by the sink while shown
    QImage m_image;                           // wraps m_buffer, no copy
    QRectF m_target;
    QRectF m_source;
};

// The item's node: holds a YUV geometry node, an image node (RGB pictures on GL)
// with its texture, or a software node (RGB pictures on the software scene graph).
class VlcVideoNode : public QSGNode
{
public:
    ~VlcVideoNode() override;

    // Shows frame (or keeps the current picture when frame has no buffer) in
    // target, cropped to source (normalised). Returns false when nothing is shown.
    bool update(QQuickWindow *window, const VlcFrame &frame, const QRectF &target,
                const QRectF &source, bool software);
    void clear();

private:
    void removeYuv();
    void removeImage();
    void removeSoftware();
    // GL (not ES) pictures in RGB: fills the reused texture, or a new one on a new size.
    QSGTexture *uploadRgb(QQuickWindow *window, QOpenGLContext *ctx, const VlcFrame &frame);

    QSGGeometryNode *m_yuvNode = nullptr;
    VlcYuvMaterial *m_yuvMaterial = nullptr;
    VlcYuvMaterial *m_yuvOpaqueMaterial = nullptr;
    QSGImageNode *m_imageNode = nullptr;
    VlcSoftwareVideoNode *m_softwareNode = nullptr;
    QSGTexture *m_texture = nullptr;
    bool m_rgbTexture = false; // m_texture is ours to fill (uploadRgb)
    QSize m_frameSize;
};
