#pragma once

#include "vlcenums.h"

#include <QPointer>
#include <QQuickItem>

#include <memory>

class VlcPlayer;
class VlcFrameSink;

// Draws the pictures of a VlcPlayer into the item, letterboxed by default. The
// aspect ratio, the crop and the source's pixel aspect are applied here, in the
// scene-graph geometry (libVLC's own settings do nothing to callback pictures).
class VlcVideoOutput : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(VlcPlayer *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(int aspectRatio READ aspectRatio WRITE setAspectRatio NOTIFY aspectRatioChanged)
    Q_PROPERTY(int cropRatio READ cropRatio WRITE setCropRatio NOTIFY cropRatioChanged)
    Q_PROPERTY(int fillMode READ fillMode WRITE setFillMode NOTIFY fillModeChanged)
    // Where the picture is drawn, in item coordinates; empty without a picture.
    Q_PROPERTY(QRectF paintedRect READ paintedRect NOTIFY paintedRectChanged)
    // Pixel size of the pictures coming from the player.
    Q_PROPERTY(QSize sourceSize READ sourceSize NOTIFY sourceSizeChanged)
    // How pictures reach the screen: "yuv" (planar, shader), "rgb" (converted by
    // libVLC, plain texture) or "" before the first frame.
    Q_PROPERTY(QString renderPath READ renderPath NOTIFY renderPathChanged)

public:
    explicit VlcVideoOutput(QQuickItem *parent = nullptr);
    ~VlcVideoOutput() override;

    VlcPlayer *source() const;
    void setSource(VlcPlayer *source);
    int aspectRatio() const { return m_aspectRatio; }
    void setAspectRatio(int ratio);
    int cropRatio() const { return m_cropRatio; }
    void setCropRatio(int ratio);
    int fillMode() const { return m_fillMode; }
    void setFillMode(int mode);
    QRectF paintedRect() const { return m_paintedRect; }
    QSize sourceSize() const { return m_sourceSize; }
    QString renderPath() const { return m_renderPath; }

    // Called queued by the player's frame sink when a picture is ready.
    Q_INVOKABLE void frameAvailable();

signals:
    void sourceChanged();
    void aspectRatioChanged();
    void cropRatioChanged();
    void fillModeChanged();
    void paintedRectChanged();
    void sourceSizeChanged();
    void renderPathChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void releaseResources() override;

private:
    void updateGeometry();
    void detachSink();

    QPointer<VlcPlayer> m_source;
    std::shared_ptr<VlcFrameSink> m_sink;
    int m_aspectRatio = Vlc::Original;
    int m_cropRatio = Vlc::Original;
    int m_fillMode = Vlc::PreserveAspectFit;
    QSize m_sourceSize;
    unsigned m_sarNum = 1;
    unsigned m_sarDen = 1;
    QRectF m_paintedRect;
    QRectF m_sourceRect{0, 0, 1, 1}; // part of the picture shown, normalised
    QString m_renderPath;
    bool m_pathChosen = false; // render thread decided between yuv and rgb
};
