// The player's state on the GUI thread and its properties; the libVLC side is in
// vlcplayerbackend.cpp, the language ranking in vlclanguages.cpp.
#include "vlcplayer_p.h"

#include "vlcframesink_p.h"
#include "vlclanguages_p.h"

#include <QCoreApplication>

#include <vlc/vlc.h>

#include <cmath>

Q_LOGGING_CATEGORY(lcVlcPlayer, "vlcqt.player")

namespace {

constexpr int DefaultOpenTimeoutMs = 15000;
constexpr int MaxVolume = 200;
// How long quitting waits for libVLC to stop; the settings are saved by then.
constexpr int QuitWaitMs = 3000;

} // namespace

void VlcPlayerPrivate::setState(int s)
{
    if (state == s)
        return;
    state = s;
    backend->sink->setPaused(s == Vlc::Paused);
    if (s != Vlc::Opening && s != Vlc::Buffering)
        openTimer.stop();
    // Only a playing stream can stall; the watch starts afresh each time it plays.
    if (s == Vlc::Playing) {
        lastShown = backend->sink->shownCount();
        lastTime = time;
        sinceProgress.start();
        stallTimer.start();
    } else {
        stallTimer.stop();
        setStalled(false);
    }
    emit q->stateChanged();
}

void VlcPlayerPrivate::setHasPicture(bool has)
{
    if (has == hasPicture)
        return;
    hasPicture = has;
    emit q->hasPictureChanged();
}

void VlcPlayerPrivate::setStalled(bool s)
{
    if (s == stalled)
        return;
    stalled = s;
    emit q->stalledChanged();
}

void VlcPlayerPrivate::checkStall()
{
    const quint64 shown = backend->sink->shownCount();
    if (shown != lastShown || time != lastTime) {
        lastShown = shown;
        lastTime = time;
        sinceProgress.start();
        setStalled(false);
        return;
    }
    if (!stalled && sinceProgress.elapsed() >= stallTimeout) {
        qCWarning(lcVlcPlayer, "\"%s\" stalled: nothing new for %lld ms",
                  qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)), sinceProgress.elapsed());
        setStalled(true);
    }
}

void VlcPlayerPrivate::resetMediaValues()
{
    if (time != 0) {
        time = 0;
        emit q->timeChanged();
    }
    if (!qFuzzyIsNull(position)) {
        position = 0;
        emit q->positionChanged();
    }
    if (length != 0) {
        length = 0;
        emit q->lengthChanged();
    }
    if (seekable) {
        seekable = false;
        emit q->seekableChanged();
    }
    audioModel->setTracks({});
    videoModel->setTracks({});
    subtitleModel->setTracks({});
    for (auto [value, signal] : {std::make_pair(&audioTrack, &VlcPlayer::audioTrackChanged),
                                 std::make_pair(&videoTrack, &VlcPlayer::videoTrackChanged),
                                 std::make_pair(&subtitleTrack, &VlcPlayer::subtitleTrackChanged)}) {
        if (*value != -1) {
            *value = -1;
            emit(q->*signal)();
        }
    }
    audioRank = subtitleRank = INT_MAX;
    audioChosenByUser = subtitleChosenByUser = subtitleDefaultApplied = false;
    setHasPicture(false);
}

void VlcPlayerPrivate::open()
{
    const quint64 gen = ++generation;
    resetMediaValues();
    if (!VlcPlayer::isAllowedUrl(url)) {
        qCWarning(lcVlcPlayer, "refusing to open \"%s\": scheme not allowed",
                  qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)));
        stopBackend();
        setState(Vlc::Error);
        return;
    }
    if (!hasBackend()) {
        qCWarning(lcVlcPlayer, "cannot open \"%s\": libVLC is not available",
                  qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)));
        setState(Vlc::Error);
        return;
    }
    setState(Vlc::Opening);
    openTimer.start();
    startBackend(gen);
}

void VlcPlayerPrivate::failPlayback(const char *why)
{
    qCWarning(lcVlcPlayer, "cannot play \"%s\": %s", qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)), why);
    stopBackend();
    setState(Vlc::Error);
}

void VlcPlayerPrivate::handleEvent(quint64 gen, int type, qint64 value, float fvalue)
{
    if (gen != generation)
        return;
    switch (type) {
    case libvlc_MediaPlayerOpening:
        if (state != Vlc::Opening && state != Vlc::Buffering)
            setState(Vlc::Opening);
        break;
    case libvlc_MediaPlayerBuffering:
        // Network streams report buffering all the time; it only counts as a
        // state before the picture starts.
        if (state == Vlc::Opening && fvalue < 100.f)
            setState(Vlc::Buffering);
        break;
    case libvlc_MediaPlayerPlaying:
        setState(Vlc::Playing);
        scheduleTrackRefresh();
        break;
    case libvlc_MediaPlayerPaused:
        setState(Vlc::Paused);
        break;
    case libvlc_MediaPlayerStopped:
        // VLC follows the end and errors with Stopped; the end or error is kept.
        if (state != Vlc::Ended && state != Vlc::Error)
            setState(Vlc::Stopped);
        break;
    case libvlc_MediaPlayerEndReached:
        setState(Vlc::Ended);
        break;
    case libvlc_MediaPlayerEncounteredError:
        qCWarning(lcVlcPlayer, "playback error on \"%s\"",
                  qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)));
        setState(Vlc::Error);
        break;
    case libvlc_MediaPlayerLengthChanged:
        if (length != value) {
            length = value;
            emit q->lengthChanged();
        }
        break;
    case libvlc_MediaPlayerSeekableChanged:
        if (seekable != (value != 0)) {
            seekable = value != 0;
            emit q->seekableChanged();
        }
        break;
    case libvlc_MediaPlayerVout:
        // A mode changed while the picture chain was being built can miss the
        // new chain: give it again.
        sendDeinterlacing();
        scheduleTrackRefresh();
        break;
    case libvlc_MediaPlayerESAdded:
    case libvlc_MediaPlayerESDeleted:
    case libvlc_MediaPlayerESSelected:
        scheduleTrackRefresh();
        break;
    default:
        break;
    }
}

void VlcPlayerPrivate::handleProgress(quint64 gen)
{
    qint64 t;
    double p;
    {
        std::lock_guard<std::mutex> lock(backend->bridge->mutex);
        backend->bridge->progressPending = false;
        t = backend->bridge->time;
        p = backend->bridge->position;
    }
    if (gen != generation || (state != Vlc::Playing && state != Vlc::Paused && state != Vlc::Buffering))
        return;
    if (t >= 0 && t != time) {
        time = t;
        emit q->timeChanged();
    }
    if (p >= 0 && p != position) {
        position = p;
        emit q->positionChanged();
    }
}

void VlcPlayerPrivate::applyTracks(quint64 gen, const TrackInfo &info)
{
    if (gen != generation)
        return;
    audioModel->setTracks(info.audio);
    videoModel->setTracks(info.video);
    subtitleModel->setTracks(info.subtitle);
    auto update = [this](int *value, int current, void (VlcPlayer::*signal)()) {
        if (*value != current) {
            *value = current;
            emit(q->*signal)();
        }
    };
    update(&audioTrack, info.audioCurrent, &VlcPlayer::audioTrackChanged);
    update(&videoTrack, info.videoCurrent, &VlcPlayer::videoTrackChanged);
    update(&subtitleTrack, info.subtitleCurrent, &VlcPlayer::subtitleTrackChanged);

    // Preferred languages, while the user has not chosen; a better-ranked track
    // that shows up later still wins.
    int rank = INT_MAX;
    if (!audioChosenByUser) {
        const int id = VlcLanguages::bestTrack(info.audio, info.language, audioLanguages, &rank);
        if (id != -2 && rank < audioRank) {
            audioRank = rank;
            if (id != audioTrack) {
                audioTrack = id;
                sendTrack(libvlc_track_audio, id);
                emit q->audioTrackChanged();
            }
        }
    }
    if (!subtitleChosenByUser) {
        if (!VlcLanguages::hasPreference(subtitleLanguages)) {
            // No preferred subtitle language: no subtitles.
            if (!subtitleDefaultApplied && subtitleTrack != -1 && info.subtitle.size() > 1) {
                subtitleDefaultApplied = true;
                subtitleTrack = -1;
                sendTrack(libvlc_track_text, -1);
                emit q->subtitleTrackChanged();
            }
        } else {
            const int id = VlcLanguages::bestTrack(info.subtitle, info.language, subtitleLanguages, &rank);
            if (id != -2 && rank < subtitleRank) {
                subtitleRank = rank;
                if (id != subtitleTrack) {
                    subtitleTrack = id;
                    sendTrack(libvlc_track_text, id);
                    emit q->subtitleTrackChanged();
                }
            }
        }
    }
}

VlcPlayer::VlcPlayer(QObject *parent)
    : QObject(parent)
    , d(new VlcPlayerPrivate(this))
{
    d->openTimer.setSingleShot(true);
    d->openTimer.setInterval(DefaultOpenTimeoutMs);
    connect(&d->openTimer, &QTimer::timeout, this, [this] {
        if (d->state != Vlc::Opening && d->state != Vlc::Buffering)
            return;
        qCWarning(lcVlcPlayer, "opening \"%s\" timed out after %d ms",
                  qPrintable(d->url.toDisplayString(QUrl::RemoveUserInfo)), d->openTimer.interval());
        d->stopBackend();
        d->setState(Vlc::Error);
    });
    connect(&d->stallTimer, &QTimer::timeout, this, [this] { d->checkStall(); });
    d->stallTimer.setInterval(qBound(50, d->stallTimeout / 8, 1000));
    // A player that lives until the process ends would leave libVLC's decoder and
    // output threads running (and logging) while the exit handlers tear Qt down:
    // stop playback, and wait for it, while the application still exists.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { d->stopAndWait(QuitWaitMs); });
}

VlcPlayer::~VlcPlayer()
{
    {
        std::lock_guard<std::mutex> lock(d->backend->bridge->mutex);
        d->backend->bridge->receiver = nullptr;
    }
    d->releaseBackend();
}

QUrl VlcPlayer::url() const { return d->url; }

void VlcPlayer::setUrl(const QUrl &url)
{
    if (url == d->url)
        return;
    d->url = url;
    emit urlChanged();
    if (url.isEmpty()) {
        if (d->state != Vlc::Idle) {
            d->stopBackend();
            d->resetMediaValues();
            d->setState(Vlc::Stopped);
        }
        return;
    }
    if (d->autoplay)
        d->open();
}

bool VlcPlayer::autoplay() const { return d->autoplay; }

void VlcPlayer::setAutoplay(bool autoplay)
{
    if (autoplay == d->autoplay)
        return;
    d->autoplay = autoplay;
    emit autoplayChanged();
}

int VlcPlayer::volume() const { return d->volume; }

void VlcPlayer::setVolume(int volume)
{
    // libVLC takes anything above 100 as is; more than 200 only distorts.
    volume = qBound(0, volume, MaxVolume);
    if (volume == d->volume)
        return;
    d->volume = volume;
    d->sendVolume(volume);
    emit volumeChanged();
}

qreal VlcPlayer::position() const { return d->position; }

void VlcPlayer::setPosition(qreal position)
{
    if (!std::isfinite(position))
        return;
    position = qBound<qreal>(0, position, 1);
    if (position == d->position)
        return;
    if (d->seekable && (d->state == Vlc::Playing || d->state == Vlc::Paused)) {
        d->sendPosition(float(position));
    }
    d->position = position;
    emit positionChanged();
}

qint64 VlcPlayer::time() const { return d->time; }
qint64 VlcPlayer::length() const { return d->length; }
bool VlcPlayer::seekable() const { return d->seekable; }
int VlcPlayer::state() const { return d->state; }
int VlcPlayer::deinterlacing() const { return d->deinterlacing; }

void VlcPlayer::setDeinterlacing(int mode)
{
    if (mode < Vlc::Disabled || mode > Vlc::IVTC) {
        qCWarning(lcVlcPlayer, "unknown deinterlacing mode %d ignored", mode);
        return;
    }
    if (mode == d->deinterlacing)
        return;
    d->deinterlacing = mode;
    d->sendDeinterlacing();
    emit deinterlacingChanged();
}

int VlcPlayer::audioTrack() const { return d->audioTrack; }

void VlcPlayer::setAudioTrack(int id)
{
    d->audioChosenByUser = true;
    if (id == d->audioTrack)
        return;
    d->audioTrack = id;
    d->sendTrack(libvlc_track_audio, id);
    emit audioTrackChanged();
}

int VlcPlayer::videoTrack() const { return d->videoTrack; }

void VlcPlayer::setVideoTrack(int id)
{
    if (id == d->videoTrack)
        return;
    d->videoTrack = id;
    d->sendTrack(libvlc_track_video, id);
    emit videoTrackChanged();
}

int VlcPlayer::subtitleTrack() const { return d->subtitleTrack; }

void VlcPlayer::setSubtitleTrack(int id)
{
    d->subtitleChosenByUser = true;
    if (id == d->subtitleTrack)
        return;
    d->subtitleTrack = id;
    d->sendTrack(libvlc_track_text, id);
    emit subtitleTrackChanged();
}

VlcTrackModel *VlcPlayer::audioTrackModel() const { return d->audioModel; }
VlcTrackModel *VlcPlayer::videoTrackModel() const { return d->videoModel; }
VlcTrackModel *VlcPlayer::subtitleTrackModel() const { return d->subtitleModel; }

QString VlcPlayer::httpUserAgent() const { return d->httpUserAgent; }

void VlcPlayer::setHttpUserAgent(const QString &agent)
{
    if (agent == d->httpUserAgent)
        return;
    d->httpUserAgent = agent;
    emit httpUserAgentChanged();
}

QString VlcPlayer::httpReferrer() const { return d->httpReferrer; }

void VlcPlayer::setHttpReferrer(const QString &referrer)
{
    if (referrer == d->httpReferrer)
        return;
    d->httpReferrer = referrer;
    emit httpReferrerChanged();
}

QStringList VlcPlayer::audioPreferredLanguages() const { return d->audioLanguages; }

void VlcPlayer::setAudioPreferredLanguages(const QStringList &languages)
{
    if (languages == d->audioLanguages)
        return;
    d->audioLanguages = languages;
    emit audioPreferredLanguagesChanged();
}

QStringList VlcPlayer::subtitlePreferredLanguages() const { return d->subtitleLanguages; }

void VlcPlayer::setSubtitlePreferredLanguages(const QStringList &languages)
{
    if (languages == d->subtitleLanguages)
        return;
    d->subtitleLanguages = languages;
    emit subtitlePreferredLanguagesChanged();
}

int VlcPlayer::openTimeout() const { return d->openTimer.interval(); }

void VlcPlayer::setOpenTimeout(int ms)
{
    ms = qMax(100, ms);
    if (ms == d->openTimer.interval())
        return;
    d->openTimer.setInterval(ms);
    emit openTimeoutChanged();
}

bool VlcPlayer::hasPicture() const { return d->hasPicture; }
bool VlcPlayer::stalled() const { return d->stalled; }
int VlcPlayer::stallTimeout() const { return d->stallTimeout; }

void VlcPlayer::setStallTimeout(int ms)
{
    ms = qMax(100, ms);
    if (ms == d->stallTimeout)
        return;
    d->stallTimeout = ms;
    d->stallTimer.setInterval(qBound(50, ms / 8, 1000));
    emit stallTimeoutChanged();
}

QStringList VlcPlayer::allowedSchemes()
{
    return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https"),
            QStringLiteral("udp"),  QStringLiteral("rtp"),  QStringLiteral("rtsp"),
            QStringLiteral("rtmp"), QStringLiteral("mms"),  QStringLiteral("mmsh")};
}

bool VlcPlayer::isAllowedUrl(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty()) // a bare absolute path is a local file
        return url.path().startsWith(QLatin1Char('/')) && url.host().isEmpty();
    if (!allowedSchemes().contains(scheme))
        return false;
    if (scheme == QLatin1String("file")) // a host would make it a network share
        return url.isLocalFile() && !url.toLocalFile().isEmpty()
            && (url.host().isEmpty() || url.host() == QLatin1String("localhost"));
    // udp and rtp may listen on any address ("udp://@:1234"); the others need a host.
    return !url.host().isEmpty() || scheme == QLatin1String("udp") || scheme == QLatin1String("rtp");
}

std::shared_ptr<VlcFrameSink> VlcPlayer::frameSink() const { return d->backend->sink; }

void VlcPlayer::play()
{
    switch (d->state) {
    case Vlc::Paused:
        d->sendPause(false);
        break;
    case Vlc::Playing:
    case Vlc::Opening:
    case Vlc::Buffering:
        break;
    default:
        // After the end or an error libVLC needs a stop before it plays again;
        // opening anew does that.
        if (!d->url.isEmpty())
            d->open();
        break;
    }
}

void VlcPlayer::pause()
{
    if (d->state != Vlc::Playing)
        return;
    d->sendPause(true);
}

void VlcPlayer::stop()
{
    if (d->state == Vlc::Idle || d->state == Vlc::Stopped)
        return;
    d->stopBackend();
    d->setState(Vlc::Stopped);
}

void VlcPlayer::reopen()
{
    if (!d->url.isEmpty())
        d->open();
}

void VlcPlayer::requestDiagnostics()
{
    d->sendDiagnosticsRequest();
}
