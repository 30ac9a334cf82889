#pragma once

// Shared pieces of the vlcqt tests: generated media, a scene with a player and
// its output, and colour checks on grabbed pictures.

#include "vlcenums.h"
#include "vlcplayer.h"
#include "vlcqml.h"
#include "vlcvideooutput.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QSGRendererInterface>
#include <QQuickView>
#include <QtTest>

#include <memory>

namespace vlctest {

// Generates the named media (tools/make-media --only) into the test root once.
inline QString media(const QString &names, int seconds = 3)
{
    const QString root = qEnvironmentVariable("NOVALINE_TEST_ROOT", QDir::tempPath());
    const QString dir = root + QStringLiteral("/media");
    const QString tool = qEnvironmentVariable("NOVALINE_SOURCE_DIR") + QStringLiteral("/tools/make-media");
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(tool, {QStringLiteral("--duration"), QString::number(seconds), QStringLiteral("--only"), names, dir});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("make-media failed for %s", qPrintable(names));
    return dir;
}

// Quiet libVLC that needs no sound card; the scenes' window sets its own.
inline void setTestVlcArgs()
{
    qputenv("VLC_ARGS", "--intf=dummy --no-video-title-show --no-osd --aout=adummy --no-media-library --no-stats");
}

inline bool near(QColor a, QColor b, int tolerance = 48)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// The four solid corners of make-media's pattern, sampled inside the painted
// rectangle r of image.
inline bool showsPattern(const QImage &image, const QRectF &r, QString *why = nullptr)
{
    struct Probe { qreal x, y; QColor expected; const char *name; };
    const Probe probes[] = {{0.15, 0.15, QColor(255, 0, 0), "top-left red"},
                            {0.85, 0.15, QColor(0, 255, 0), "top-right green"},
                            {0.15, 0.85, QColor(0, 0, 255), "bottom-left blue"},
                            {0.85, 0.85, QColor(255, 255, 255), "bottom-right white"}};
    for (const Probe &p : probes) {
        const QPoint at(int(r.x() + p.x * r.width()), int(r.y() + p.y * r.height()));
        const QColor c = image.pixelColor(at);
        if (!near(c, p.expected)) {
            if (why)
                *why = QStringLiteral("%1 at (%2,%3) is %4").arg(QLatin1String(p.name)).arg(at.x()).arg(at.y()).arg(c.name());
            return false;
        }
    }
    return true;
}

// Columns of row y that are not black: [first, last], or (-1, -1).
inline QPair<int, int> litSpan(const QImage &image, int y)
{
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() + c.green() + c.blue() > 90) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    return {first, last};
}

inline QPair<int, int> litRows(const QImage &image, int x)
{
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() + c.green() + c.blue() > 90) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    return {first, last};
}

// A black scene with a player and its output filling it, as the player window has.
class Scene
{
public:
    explicit Scene(const QSize &size = QSize(640, 360))
    {
        VlcQml::registerTypes();
        view.reset(new QQuickView);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setColor(Qt::black);
        const QString file = QDir::tempPath() + QStringLiteral("/vlcscene.qml");
        QFile qml(file);
        if (!qml.exists()) {
            if (!qml.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(file));
            qml.write("import QtQuick 2.12\nimport VLCQt 1.1\n"
                      "Rectangle { color: 'black'\n"
                      "  VlcPlayer { id: player; objectName: 'player' }\n"
                      "  VlcVideoOutput { objectName: 'output'; source: player; anchors.fill: parent }\n"
                      "}\n");
            qml.close();
        }
        view->setSource(QUrl::fromLocalFile(file));
        if (view->status() != QQuickView::Ready)
            qFatal("scene did not load: %s", qPrintable(view->errors().value(0).toString()));
        view->resize(size);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("scene window not exposed");
        player = view->rootObject()->findChild<VlcPlayer *>(QStringLiteral("player"));
        output = view->rootObject()->findChild<VlcVideoOutput *>(QStringLiteral("output"));
    }

    QImage grab()
    {
        if (view->rendererInterface()->graphicsApi() != QSGRendererInterface::Software)
            return view->grabWindow().convertToFormat(QImage::Format_RGB32);
        // The software scene graph on the offscreen platform cannot grab the
        // window; the item's own grab works.
        QSharedPointer<QQuickItemGrabResult> result = view->rootObject()->grabToImage();
        if (!result)
            return QImage();
        QSignalSpy ready(result.data(), &QQuickItemGrabResult::ready);
        if (!ready.wait(20000))
            return QImage();
        return result->image().convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<QQuickView> view;
    VlcPlayer *player = nullptr;
    VlcVideoOutput *output = nullptr;
};

} // namespace vlctest
