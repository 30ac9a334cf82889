#pragma once

#include "vlcenums.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <memory>

class VlcTrackModel;
class VlcFrameSink;
class VlcPlayerPrivate;

// The media player of the "VLCQt" module. All signals arrive on the GUI thread;
// libVLC's blocking calls (open, stop, switch) run on a worker thread, so the
// caller never waits on a stream.
class VlcPlayer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(bool autoplay READ autoplay WRITE setAutoplay NOTIFY autoplayChanged)
    Q_PROPERTY(int volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(qreal position READ position WRITE setPosition NOTIFY positionChanged)
    Q_PROPERTY(qint64 time READ time NOTIFY timeChanged)
    Q_PROPERTY(qint64 length READ length NOTIFY lengthChanged)
    Q_PROPERTY(bool seekable READ seekable NOTIFY seekableChanged)
    Q_PROPERTY(int state READ state NOTIFY stateChanged)
    Q_PROPERTY(int deinterlacing READ deinterlacing WRITE setDeinterlacing NOTIFY deinterlacingChanged)
    Q_PROPERTY(int audioTrack READ audioTrack WRITE setAudioTrack NOTIFY audioTrackChanged)
    Q_PROPERTY(int videoTrack READ videoTrack WRITE setVideoTrack NOTIFY videoTrackChanged)
    Q_PROPERTY(int subtitleTrack READ subtitleTrack WRITE setSubtitleTrack NOTIFY subtitleTrackChanged)
    Q_PROPERTY(VlcTrackModel *audioTrackModel READ audioTrackModel CONSTANT)
    Q_PROPERTY(VlcTrackModel *videoTrackModel READ videoTrackModel CONSTANT)
    Q_PROPERTY(VlcTrackModel *subtitleTrackModel READ subtitleTrackModel CONSTANT)
    Q_PROPERTY(QStringList audioPreferredLanguages READ audioPreferredLanguages
                   WRITE setAudioPreferredLanguages NOTIFY audioPreferredLanguagesChanged)
    Q_PROPERTY(QStringList subtitlePreferredLanguages READ subtitlePreferredLanguages
                   WRITE setSubtitlePreferredLanguages NOTIFY subtitlePreferredLanguagesChanged)
    // Sent with http(s) streams; empty: libVLC's own.
    Q_PROPERTY(QString httpUserAgent READ httpUserAgent WRITE setHttpUserAgent NOTIFY httpUserAgentChanged)
    Q_PROPERTY(QString httpReferrer READ httpReferrer WRITE setHttpReferrer NOTIFY httpReferrerChanged)
    Q_PROPERTY(int openTimeout READ openTimeout WRITE setOpenTimeout NOTIFY openTimeoutChanged)
    // The current media has shown a picture (false again when another one opens).
    Q_PROPERTY(bool hasPicture READ hasPicture NOTIFY hasPictureChanged)
    // Playing, yet neither a new picture nor a move of the playback clock (the sound)
    // for stallTimeout milliseconds. Never while paused.
    Q_PROPERTY(bool stalled READ stalled NOTIFY stalledChanged)
    Q_PROPERTY(int stallTimeout READ stallTimeout WRITE setStallTimeout NOTIFY stallTimeoutChanged)

public:
    explicit VlcPlayer(QObject *parent = nullptr);
    ~VlcPlayer() override;

    QUrl url() const;
    void setUrl(const QUrl &url);
    bool autoplay() const;
    void setAutoplay(bool autoplay);
    int volume() const;
    void setVolume(int volume);
    qreal position() const;
    void setPosition(qreal position);
    qint64 time() const;
    qint64 length() const;
    bool seekable() const;
    int state() const;
    int deinterlacing() const;
    void setDeinterlacing(int mode);
    int audioTrack() const;
    void setAudioTrack(int id);
    int videoTrack() const;
    void setVideoTrack(int id);
    int subtitleTrack() const;
    void setSubtitleTrack(int id);
    VlcTrackModel *audioTrackModel() const;
    VlcTrackModel *videoTrackModel() const;
    VlcTrackModel *subtitleTrackModel() const;
    QString httpUserAgent() const;
    void setHttpUserAgent(const QString &agent);
    QString httpReferrer() const;
    void setHttpReferrer(const QString &referrer);
    QStringList audioPreferredLanguages() const;
    void setAudioPreferredLanguages(const QStringList &languages);
    QStringList subtitlePreferredLanguages() const;
    void setSubtitlePreferredLanguages(const QStringList &languages);
    // Milliseconds a media may stay opening before it counts as an error.
    int openTimeout() const;
    void setOpenTimeout(int ms);
    bool hasPicture() const;
    bool stalled() const;
    int stallTimeout() const;
    void setStallTimeout(int ms);

    // Schemes the player opens; anything else goes to Error.
    static QStringList allowedSchemes();
    static bool isAllowedUrl(const QUrl &url);

    // For the video output: where the pictures go.
    std::shared_ptr<VlcFrameSink> frameSink() const;

public slots:
    void play();
    void pause();
    void stop();
    // Opens the current address again, whatever the state (a broken live stream).
    void reopen();
    // Asks libVLC for its view of the player; answered by diagnostics().
    void requestDiagnostics();

signals:
    void urlChanged();
    void autoplayChanged();
    void volumeChanged();
    void positionChanged();
    void timeChanged();
    void lengthChanged();
    void seekableChanged();
    void stateChanged();
    void deinterlacingChanged();
    void audioTrackChanged();
    void videoTrackChanged();
    void subtitleTrackChanged();
    void audioPreferredLanguagesChanged();
    void httpUserAgentChanged();
    void httpReferrerChanged();
    void subtitlePreferredLanguagesChanged();
    void openTimeoutChanged();
    void hasPictureChanged();
    void stalledChanged();
    void stallTimeoutChanged();
    // Keys "volume" (as the audio output reports it), "acceptedVolume" (the last
    // value libVLC took), "deinterlace" (the last mode sent), "audioTrack",
    // "subtitleTrack", "videoTrack", "state" (libVLC's), "time".
    void diagnostics(const QVariantMap &values);

private:
    friend class VlcPlayerPrivate;
    std::unique_ptr<VlcPlayerPrivate> d;
};
