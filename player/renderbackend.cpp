#include "renderbackend.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

Q_LOGGING_CATEGORY(lcRender, "novaline.player.render")

namespace {

// The renderer string of a throw-away context; empty when there is no usable GL.
QByteArray probeGlRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return QByteArray();
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return QByteArray();
    const auto *text = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    QByteArray renderer(text ? text : "");
    context.doneCurrent();
    return renderer;
}

} // namespace

bool RenderBackend::isSoftwareRasterizer(const QByteArray &glRenderer)
{
    const QByteArray r = glRenderer.toLower();
    return r.isEmpty() || r.contains("llvmpipe") || r.contains("softpipe") || r.contains("swrast")
        || r.contains("software rasterizer") || r.contains("software renderer");
}

bool RenderBackend::choose()
{
    static bool decided = false;
    static bool software = false;
    if (decided)
        return software;
    decided = true;
    const QByteArray forced = qgetenv("NOVALINE_RENDERER");
    const QByteArray qtChoice = qgetenv("QT_QUICK_BACKEND");
    if (forced == "software") {
        software = true;
    } else if (forced == "gl") {
        software = false;
    } else if (!qtChoice.isEmpty()) {
        // Qt's own switch wins over the guess.
        qCDebug(lcRender, "scene graph backend \"%s\" from QT_QUICK_BACKEND", qtChoice.constData());
        return qtChoice == "software";
    } else if (QGuiApplication::platformName() == QLatin1String("xcb") && displayDrawsGlOnCpu()) {
        software = true;
        qCDebug(lcRender, "the X server offers no direct rendering");
    } else {
        const QByteArray renderer = probeGlRenderer();
        software = isSoftwareRasterizer(renderer);
        qCDebug(lcRender, "GL renderer \"%s\"", renderer.constData());
    }
    if (software)
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    else
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::OpenGL);
    qCInfo(lcRender, "%s scene graph", software ? "software" : "OpenGL");
    return software;
}
