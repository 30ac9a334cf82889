#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

// The player as the desktop's media controls and media keys see it: the MPRIS 2
// interfaces on the session bus. It knows nothing of the window or the player; the
// composition root feeds it the state through the setters and carries its requests
// (the signals) to the components.
// The bus delivers calls in the service's context (it answers a refused OpenUri with an
// error).
class MprisService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    enum class Status { Stopped, Playing, Paused };

    // What plays. Empty title and url: nothing.
    struct Track
    {
        QString title;
        QString album;      // the channel group
        QString programme;  // the guide's current programme
        QUrl url;
        qint64 lengthUs = 0; // 0: unknown or live
        bool operator==(const Track &o) const
        {
            return title == o.title && album == o.album && programme == o.programme && url == o.url
                   && lengthUs == o.lengthUs;
        }
        bool operator!=(const Track &o) const { return !(*this == o); }
    };

    struct Identity
    {
        QString name;         // Identity
        QString desktopEntry; // desktop entry id without ".desktop"
        QStringList uriSchemes;
        QStringList mimeTypes;
    };

    static constexpr const char *ObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *RootInterface = "org.mpris.MediaPlayer2";
    static constexpr const char *PlayerInterface = "org.mpris.MediaPlayer2.Player";

    explicit MprisService(const Identity &identity, QObject *parent = nullptr);
    ~MprisService() override;

    // Exports the object and takes "org.mpris.MediaPlayer2.<suffix>" on the bus; false
    // (and nothing exported) when another owner holds the name.
    bool publish(const QDBusConnection &bus, const QString &nameSuffix);
    QString serviceName() const { return m_serviceName; }

    // State from the player. A new track (a different title or url) gets a new track id.
    void setStatus(Status status);
    void setTrack(const Track &track);
    void setVolume(double volume);
    // Position moves all the time: no change signal, as the interface wants.
    void setPositionUs(qint64 position) { m_positionUs = position; }
    void setCanSeek(bool can);
    void setCanGoNext(bool can);

    // Read by the D-Bus adaptors.
    const Identity &identity() const { return m_identity; }
    Status status() const { return m_status; }
    QString statusText() const;
    QVariantMap metadata() const;
    double volume() const { return m_volume; }
    qint64 positionUs() const { return m_positionUs; }
    bool canSeek() const { return m_canSeek && hasTrack(); }
    bool canGoNext() const { return m_canGoNext && hasTrack(); }
    bool hasTrack() const { return !m_track.title.isEmpty() || !m_track.url.isEmpty(); }
    QDBusObjectPath trackId() const;

    // Called by the adaptors for the interface's methods; they turn into the requests.
    void seekBy(qint64 offsetUs);
    void seekTo(const QDBusObjectPath &track, qint64 positionUs);
    // False for a scheme the player cannot open; a caller on the bus gets an error.
    bool openUri(const QString &uri);
    void askVolume(double volume);

signals:
    void raiseRequested();
    void quitRequested();
    void playRequested();
    void pauseRequested();
    void playPauseRequested();
    void stopRequested();
    void nextRequested();
    void previousRequested();
    void openRequested(const QUrl &url);
    // 0.0-2.0, 1.0 the unamplified level.
    void volumeRequested(double volume);
    void seekRequested(qint64 positionUs);
    // Position jumped (the interface's Seeked signal).
    void seeked(qint64 positionUs);

private:
    void announce(const char *interface, const QVariantMap &changed);

    Identity m_identity;
    QDBusConnection m_bus;
    QString m_serviceName;
    Status m_status = Status::Stopped;
    Track m_track;
    quint64 m_trackSerial = 0;
    double m_volume = 1.0;
    qint64 m_positionUs = 0;
    bool m_canSeek = false;
    bool m_canGoNext = false;
};
