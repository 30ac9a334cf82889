#include "vlcvideooutput.h"

#include "vlcframesink_p.h"
#include "vlcplayer.h"
#include "vlcvideonode_p.h"

#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

Q_DECLARE_LOGGING_CATEGORY(lcVlcCore)

namespace {

// Planar upload with the shader is the cheap path on a GPU; a software
// rasteriser runs the shader on the CPU, where libVLC's RGB conversion is
// cheaper. VLCQT_VIDEO_PATH ("yuv" or "rgb") overrides the choice.
bool preferYuvFor(const QByteArray &renderer)
{
    const QByteArray forced = qgetenv("VLCQT_VIDEO_PATH");
    if (forced == "yuv")
        return true;
    if (forced == "rgb")
        return false;
    const QByteArray r = renderer.toLower();
    return !(r.contains("llvmpipe") || r.contains("softpipe") || r.contains("software")
             || r.contains("swrast"));
}

} // namespace

VlcVideoOutput::VlcVideoOutput(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
}

VlcVideoOutput::~VlcVideoOutput()
{
    detachSink();
}

VlcPlayer *VlcVideoOutput::source() const
{
    return m_source;
}

void VlcVideoOutput::detachSink()
{
    if (m_sink)
        m_sink->setReceiver(nullptr);
    m_sink.reset();
}

void VlcVideoOutput::setSource(VlcPlayer *source)
{
    if (source == m_source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    detachSink();
    m_source = source;
    if (source) {
        m_sink = source->frameSink();
        connect(source, &QObject::destroyed, this, [this] {
            detachSink();
            m_source = nullptr;
            emit sourceChanged();
            update();
        });
        if (m_pathChosen)
            m_sink->setWantYuv(m_renderPath == QLatin1String("yuv"));
        m_sink->setReceiver(this);
    }
    emit sourceChanged();
    update();
}

void VlcVideoOutput::setAspectRatio(int ratio)
{
    if (ratio == m_aspectRatio)
        return;
    m_aspectRatio = ratio;
    emit aspectRatioChanged();
    updateGeometry();
}

void VlcVideoOutput::setCropRatio(int ratio)
{
    if (ratio == m_cropRatio)
        return;
    m_cropRatio = ratio;
    emit cropRatioChanged();
    updateGeometry();
}

void VlcVideoOutput::setFillMode(int mode)
{
    if (mode == m_fillMode)
        return;
    m_fillMode = mode;
    emit fillModeChanged();
    updateGeometry();
}

void VlcVideoOutput::frameAvailable()
{
    if (!m_sink)
        return;
    int w = 0, h = 0;
    unsigned sarNum = 1, sarDen = 1;
    m_sink->acknowledge(&w, &h, &sarNum, &sarDen);
    const QSize size(w, h);
    const bool sizeChanged = size != m_sourceSize;
    if (sizeChanged || sarNum != m_sarNum || sarDen != m_sarDen) {
        m_sourceSize = size;
        m_sarNum = sarNum;
        m_sarDen = sarDen;
        if (sizeChanged)
            emit sourceSizeChanged();
        updateGeometry();
    }
    update();
}

void VlcVideoOutput::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChanged(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        updateGeometry();
}

void VlcVideoOutput::updateGeometry()
{
    QRectF painted;
    QRectF src(0, 0, 1, 1);
    const qreal w = width();
    const qreal h = height();
    if (!m_sourceSize.isEmpty() && w > 0 && h > 0) {
        // Display aspect of the source, then the forced ratio, then the crop.
        qreal dar = qreal(m_sourceSize.width()) * m_sarNum / (m_sarDen ? m_sarDen : 1) / m_sourceSize.height();
        const qreal forced = Vlc::ratioValue(m_aspectRatio);
        if (forced > 0)
            dar = forced;
        const qreal crop = Vlc::ratioValue(m_cropRatio);
        if (crop > 0) {
            if (dar > crop) {
                src.setWidth(crop / dar);
                src.moveLeft((1 - src.width()) / 2);
            } else {
                src.setHeight(dar / crop);
                src.moveTop((1 - src.height()) / 2);
            }
            dar = crop;
        }
        const qreal itemAr = w / h;
        if (m_fillMode == Vlc::Stretch || m_aspectRatio == Vlc::Ignore) {
            painted = QRectF(0, 0, w, h);
        } else if (m_fillMode == Vlc::PreserveAspectCrop) {
            painted = QRectF(0, 0, w, h);
            if (dar > itemAr) {
                const qreal keep = itemAr / dar;
                src = QRectF(src.x() + src.width() * (1 - keep) / 2, src.y(), src.width() * keep, src.height());
            } else {
                const qreal keep = dar / itemAr;
                src = QRectF(src.x(), src.y() + src.height() * (1 - keep) / 2, src.width(), src.height() * keep);
            }
        } else {
            if (dar > itemAr) {
                const qreal ph = w / dar;
                painted = QRectF(0, (h - ph) / 2, w, ph);
            } else {
                const qreal pw = h * dar;
                painted = QRectF((w - pw) / 2, 0, pw, h);
            }
        }
    }
    m_sourceRect = src;
    if (painted != m_paintedRect) {
        m_paintedRect = painted;
        emit paintedRectChanged();
    }
    update();
}

QSGNode *VlcVideoOutput::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    auto *node = static_cast<VlcVideoNode *>(oldNode);
    QQuickWindow *win = window();
    const bool software = win->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    if (!m_pathChosen) {
        bool yuv = false;
        if (!software) {
            QOpenGLContext *ctx = QOpenGLContext::currentContext();
            const QByteArray renderer =
                ctx ? QByteArray(reinterpret_cast<const char *>(ctx->functions()->glGetString(GL_RENDERER)))
                    : QByteArray();
            yuv = ctx && preferYuvFor(renderer);
            qCDebug(lcVlcCore, "GL renderer \"%s\": %s pictures", renderer.constData(), yuv ? "planar" : "RGB");
        }
        m_pathChosen = true;
        m_renderPath = yuv ? QStringLiteral("yuv") : QStringLiteral("rgb");
        if (m_sink)
            m_sink->setWantYuv(yuv);
        QMetaObject::invokeMethod(this, "renderPathChanged", Qt::QueuedConnection);
    }

    VlcFrame frame;
    if (m_sink)
        frame = m_sink->takeLatest();
    if (!m_sink || frame.cleared) {
        if (node)
            node->clear();
        return node;
    }
    if (!node)
        node = new VlcVideoNode;
    node->update(win, frame, m_paintedRect, m_sourceRect, software);
    return node;
}

void VlcVideoOutput::releaseResources()
{
    // The scene graph is going away (window closed); pictures start over.
    m_pathChosen = false;
}
