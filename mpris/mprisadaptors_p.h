#pragma once

#include "mprisservice.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

// org.mpris.MediaPlayer2: the application.
class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), s(service) {}

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return s->identity().name; }
    QString desktopEntry() const { return s->identity().desktopEntry; }
    QStringList supportedUriSchemes() const { return s->identity().uriSchemes; }
    QStringList supportedMimeTypes() const { return s->identity().mimeTypes; }

public slots:
    void Raise() { emit s->raiseRequested(); }
    void Quit() { emit s->quitRequested(); }

private:
    MprisService *s;
};

// org.mpris.MediaPlayer2.Player: playback.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoNext)
    Q_PROPERTY(bool CanPlay READ hasTrack)
    Q_PROPERTY(bool CanPause READ hasTrack)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    explicit MprisPlayerAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), s(service)
    {
        connect(service, &MprisService::seeked, this, &MprisPlayerAdaptor::Seeked);
    }

    QString playbackStatus() const { return s->statusText(); }
    double rate() const { return 1.0; }
    void setRate(double) {} // one speed only
    QVariantMap metadata() const { return s->metadata(); }
    double volume() const { return s->volume(); }
    void setVolume(double volume) { s->askVolume(volume); }
    qlonglong position() const { return s->positionUs(); }
    bool canGoNext() const { return s->canGoNext(); }
    bool hasTrack() const { return s->hasTrack(); }
    bool canSeek() const { return s->canSeek(); }
    bool canControl() const { return true; }

public slots:
    void Next() { emit s->nextRequested(); }
    void Previous() { emit s->previousRequested(); }
    void Pause() { emit s->pauseRequested(); }
    void PlayPause() { emit s->playPauseRequested(); }
    void Stop() { emit s->stopRequested(); }
    void Play() { emit s->playRequested(); }
    void Seek(qlonglong offset) { s->seekBy(offset); }
    void SetPosition(const QDBusObjectPath &trackId, qlonglong position) { s->seekTo(trackId, position); }
    void OpenUri(const QString &uri) { s->openUri(uri); }

signals:
    void Seeked(qlonglong position);

private:
    MprisService *s;
};
