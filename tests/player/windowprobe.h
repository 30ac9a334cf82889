#pragma once

// What the player window shows, read through its objects and its pixels.

#include <QColor>
#include <QQuickItem>
#include <QQuickWindow>

inline QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (!root || root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// The test pattern's red corner at the top left of the painted picture.
inline bool showsTestPattern(QQuickWindow *form)
{
    QQuickItem *out = findItem(form->contentItem(), QStringLiteral("videoOutput"));
    const QRectF r = out ? out->property("paintedRect").toRectF() : QRectF();
    if (r.width() <= 0)
        return false;
    const QPoint p = out->mapToScene(QPointF(r.x() + r.width() * 0.15, r.y() + r.height() * 0.3)).toPoint();
    const QColor c = form->grabWindow().pixelColor(p * form->devicePixelRatio());
    return c.red() > 150 && c.green() < 90 && c.blue() < 90;
}
