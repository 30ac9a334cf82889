#include "mediakeys.h"

#include "mprisservice.h"

#include <QEvent>
#include <QKeyEvent>

MediaKeys::MediaKeys(MprisService *service)
    : QObject(service)
    , service(service)
{
}

bool MediaKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    switch (static_cast<QKeyEvent *>(event)->key()) {
    // Most keyboards have one play key and mean it as a toggle.
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaTogglePlayPause:
        emit service->playPauseRequested();
        return true;
    case Qt::Key_MediaPause:
        emit service->pauseRequested();
        return true;
    case Qt::Key_MediaStop:
        emit service->stopRequested();
        return true;
    case Qt::Key_MediaNext:
        emit service->nextRequested();
        return true;
    case Qt::Key_MediaPrevious:
        emit service->previousRequested();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}
