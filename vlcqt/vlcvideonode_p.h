#pragma once

#include "vlcframesink_p.h"

#include <QMatrix4x4>
#include <QSGGeometryNode>
#include <QSGMaterial>
#include <QSGNode>

class QQuickWindow;
class QSGImageNode;
class QSGTexture;

// Three single-channel textures of an I420 picture, converted in the fragment
// shader with BT.709 above 576 lines and BT.601 up to it (the pictures carry no
// colour space).
class VlcYuvMaterial : public QSGMaterial
{
public:
    VlcYuvMaterial();
    ~VlcYuvMaterial() override;

    QSGMaterialType *type() const override;
    QSGMaterialShader *createShader() const override;
    int compare(const QSGMaterial *other) const override;

    // Render thread with the GL context current.
    void upload(const VlcFrame &frame);

    unsigned textures[3] = {0, 0, 0};
    QMatrix4x4 colorMatrix;

private:
    int m_widths[3] = {0, 0, 0};
    int m_heights[3] = {0, 0, 0};
};

// The item's node: holds either a YUV geometry node or an image node (RGB
// pictures), and the texture of the latter.
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

    QSGGeometryNode *m_yuvNode = nullptr;
    VlcYuvMaterial *m_yuvMaterial = nullptr;
    QSGImageNode *m_imageNode = nullptr;
    QSGTexture *m_texture = nullptr;
    QSize m_frameSize;
};
