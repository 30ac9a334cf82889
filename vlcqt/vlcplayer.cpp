#include "vlcplayer.h"

#include "vlccore_p.h"
#include "vlcframesink_p.h"
#include "vlctrackmodel.h"

#include <QCoreApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

#include <vlc/vlc.h>

#include <atomic>
#include <future>
#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcVlcCore)
Q_LOGGING_CATEGORY(lcVlcPlayer, "vlcqt.player")

namespace {

constexpr int DefaultOpenTimeoutMs = 15000;
constexpr int MaxVolume = 200;

const libvlc_event_type_t WatchedEvents[] = {
    libvlc_MediaPlayerOpening,        libvlc_MediaPlayerBuffering,
    libvlc_MediaPlayerPlaying,        libvlc_MediaPlayerPaused,
    libvlc_MediaPlayerStopped,        libvlc_MediaPlayerEndReached,
    libvlc_MediaPlayerEncounteredError, libvlc_MediaPlayerTimeChanged,
    libvlc_MediaPlayerPositionChanged, libvlc_MediaPlayerLengthChanged,
    libvlc_MediaPlayerSeekableChanged, libvlc_MediaPlayerESAdded,
    libvlc_MediaPlayerESDeleted,      libvlc_MediaPlayerESSelected,
    libvlc_MediaPlayerVout,
};

// Shared by the GUI thread, the worker's jobs and libVLC's callbacks. Whatever
// VLC reports is posted, queued, to the receiver (the player object on the GUI
// thread) under the mutex, so the receiver cannot go away in between.
struct VlcBridge
{
    std::mutex mutex;
    QObject *receiver = nullptr;
    // Media the worker has started; events of anything else are dropped.
    std::atomic<quint64> generation{0};
    // Time and position are coalesced into one pending update.
    bool progressPending = false;
    qint64 time = -1;
    double position = -1;

    // f(VlcPlayerPrivate *) runs on the GUI thread, unless the player is gone.
    template <typename F>
    void post(F f);
};

struct VlcBackend
{
    libvlc_instance_t *instance = nullptr;
    libvlc_media_player_t *mp = nullptr;
    std::shared_ptr<VlcFrameSink> sink;
    std::shared_ptr<VlcBridge> bridge;
    QByteArray deinterlace; // last mode sent, for diagnostics
    int acceptedVolume = -1; // last volume libVLC took
};

struct TrackInfo
{
    QVector<VlcTrackModel::Track> audio, video, subtitle;
    int audioCurrent = -1, videoCurrent = -1, subtitleCurrent = -1;
    QHash<int, QString> language; // track id -> ISO code
};

QVector<VlcTrackModel::Track> readTracks(libvlc_track_description_t *list)
{
    QVector<VlcTrackModel::Track> tracks;
    for (auto *t = list; t; t = t->p_next)
        tracks.append({t->i_id, QString::fromUtf8(t->psz_name ? t->psz_name : "")});
    libvlc_track_description_list_release(list);
    return tracks;
}

QByteArray mrlFor(const QUrl &url)
{
    if (url.isLocalFile() || url.scheme().isEmpty())
        return QUrl::fromLocalFile(url.isLocalFile() ? url.toLocalFile() : url.path())
            .toEncoded(QUrl::FullyEncoded);
    return url.toEncoded(QUrl::FullyEncoded);
}

// VLC takes ISO codes and English names, comma separated: keep only plain words.
QByteArray languageOption(const QStringList &languages)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z]{2,20}$"));
    QStringList kept;
    for (const QString &l : languages) {
        const QString t = l.trimmed();
        if (plain.match(t).hasMatch())
            kept << t.toLower();
    }
    return kept.join(QLatin1Char(',')).toLatin1();
}

// Rank of the best track for the preferences (lower is better): a preference
// matches a track whose language code equals it or starts with it ("ru", "rus"),
// or whose title holds it as a word ("English", "Русский").
int bestTrack(const QVector<VlcTrackModel::Track> &tracks, const QHash<int, QString> &language,
              const QStringList &preferences, int *rank)
{
    static const QRegularExpression nonWord(QStringLiteral("[^\\w]+"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    for (int p = 0; p < preferences.size(); ++p) {
        const QString pref = preferences.at(p).trimmed().toCaseFolded();
        if (pref.isEmpty())
            continue;
        for (const VlcTrackModel::Track &t : tracks) {
            if (t.id == -1)
                continue;
            const QString code = language.value(t.id).toCaseFolded();
            bool match = !code.isEmpty() && (code == pref || (pref.size() >= 2 && code.startsWith(pref)));
            if (!match) {
                const QStringList words = t.title.toCaseFolded().split(nonWord, Qt::SkipEmptyParts);
                match = words.contains(pref);
            }
            if (match) {
                *rank = p;
                return t.id;
            }
        }
    }
    *rank = INT_MAX;
    return -2;
}

bool hasPreference(const QStringList &list)
{
    for (const QString &s : list) {
        if (!s.trimmed().isEmpty())
            return true;
    }
    return false;
}

} // namespace

class VlcPlayerPrivate
{
public:
    explicit VlcPlayerPrivate(VlcPlayer *q);
    static VlcPlayerPrivate *of(QObject *player) { return static_cast<VlcPlayer *>(player)->d.get(); }

    void open();
    void stopBackend();
    void setState(int state);
    void resetMediaValues();
    void handleEvent(quint64 generation, int type, qint64 value, float fvalue);
    void handleProgress(quint64 generation);
    void scheduleTrackRefresh();
    void applyTracks(quint64 generation, const TrackInfo &info);
    void sendTrack(int kind, int id);
    void sendDeinterlacing();
    template <typename F>
    void run(F &&job)
    {
        if (core)
            core->post([b = backend, job = std::forward<F>(job)] { job(*b); });
    }

    VlcPlayer *q;
    std::shared_ptr<VlcCore> core;
    std::shared_ptr<VlcBackend> backend;
    VlcTrackModel *audioModel;
    VlcTrackModel *videoModel;
    VlcTrackModel *subtitleModel;
    QTimer openTimer;

    QUrl url;
    bool autoplay = true;
    int volume = 50;
    qreal position = 0;
    qint64 time = 0;
    qint64 length = 0;
    bool seekable = false;
    int state = Vlc::Idle;
    int deinterlacing = Vlc::Disabled;
    int audioTrack = -1;
    int videoTrack = -1;
    int subtitleTrack = -1;
    QStringList audioLanguages;
    QStringList subtitleLanguages;
    quint64 generation = 0;     // the media the GUI thread considers current
    bool refreshPending = false;
    // Preferred-language choice for the running media; stops once the user picks.
    int audioRank = INT_MAX;
    int subtitleRank = INT_MAX;
    bool audioChosenByUser = false;
    bool subtitleChosenByUser = false;
    bool subtitleDefaultApplied = false;
};

template <typename F>
void VlcBridge::post(F f)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!receiver)
        return;
    QObject *r = receiver;
    QMetaObject::invokeMethod(
        r, [r, f = std::move(f)] { f(VlcPlayerPrivate::of(r)); }, Qt::QueuedConnection);
}

namespace {

void onVlcEvent(const libvlc_event_t *event, void *opaque)
{
    auto *bridge = static_cast<VlcBridge *>(opaque);
    const quint64 generation = bridge->generation.load();
    if (!generation)
        return; // stopping or switching: whatever comes belongs to the old media

    if (event->type == libvlc_MediaPlayerTimeChanged || event->type == libvlc_MediaPlayerPositionChanged) {
        std::lock_guard<std::mutex> lock(bridge->mutex);
        if (event->type == libvlc_MediaPlayerTimeChanged)
            bridge->time = event->u.media_player_time_changed.new_time;
        else
            bridge->position = double(event->u.media_player_position_changed.new_position);
        if (bridge->progressPending || !bridge->receiver)
            return;
        bridge->progressPending = true;
        QObject *r = bridge->receiver;
        QMetaObject::invokeMethod(
            r, [r, generation] { VlcPlayerPrivate::of(r)->handleProgress(generation); },
            Qt::QueuedConnection);
        return;
    }

    qint64 value = 0;
    float fvalue = 0;
    switch (event->type) {
    case libvlc_MediaPlayerLengthChanged:
        value = event->u.media_player_length_changed.new_length;
        break;
    case libvlc_MediaPlayerSeekableChanged:
        value = event->u.media_player_seekable_changed.new_seekable;
        break;
    case libvlc_MediaPlayerBuffering:
        fvalue = event->u.media_player_buffering.new_cache;
        break;
    default:
        break;
    }
    const int type = event->type;
    bridge->post([generation, type, value, fvalue](VlcPlayerPrivate *d) {
        d->handleEvent(generation, type, value, fvalue);
    });
}

} // namespace

VlcPlayerPrivate::VlcPlayerPrivate(VlcPlayer *q)
    : q(q)
    , core(VlcCore::acquire())
    , backend(std::make_shared<VlcBackend>())
    , audioModel(new VlcTrackModel(q))
    , videoModel(new VlcTrackModel(q))
    , subtitleModel(new VlcTrackModel(q))
{
    openTimer.setSingleShot(true);
    openTimer.setInterval(DefaultOpenTimeoutMs);
    backend->sink = std::make_shared<VlcFrameSink>();
    backend->bridge = std::make_shared<VlcBridge>();
    backend->bridge->receiver = q;
    if (!core)
        return;
    backend->instance = core->instance();
    backend->mp = libvlc_media_player_new(backend->instance);
    if (!backend->mp) {
        qCCritical(lcVlcPlayer, "libVLC could not create a media player");
        return;
    }
    libvlc_event_manager_t *events = libvlc_media_player_event_manager(backend->mp);
    for (libvlc_event_type_t type : WatchedEvents)
        libvlc_event_attach(events, type, onVlcEvent, backend->bridge.get());

    VlcFrameSink *sink = backend->sink.get();
    libvlc_media_player_t *mp = backend->mp;
    sink->setRealSizeProbe([mp](unsigned *w, unsigned *h) { return libvlc_video_get_size(mp, 0, w, h) == 0; });
    libvlc_video_set_callbacks(mp, VlcFrameSink::lockCallback, VlcFrameSink::unlockCallback,
                               VlcFrameSink::displayCallback, sink);
    libvlc_video_set_format_callbacks(mp, VlcFrameSink::formatCallback, VlcFrameSink::cleanupCallback);
    // Keys and mouse belong to the scenes.
    libvlc_video_set_key_input(mp, 0);
    libvlc_video_set_mouse_input(mp, 0);
    // Off unless asked for (VLC's own default is automatic).
    libvlc_video_set_deinterlace(mp, nullptr);
}

void VlcPlayerPrivate::setState(int s)
{
    if (state == s)
        return;
    state = s;
    if (s != Vlc::Opening && s != Vlc::Buffering)
        openTimer.stop();
    emit q->stateChanged();
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
    if (!backend->mp) {
        qCWarning(lcVlcPlayer, "cannot open \"%s\": libVLC is not available",
                  qPrintable(url.toDisplayString(QUrl::RemoveUserInfo)));
        setState(Vlc::Error);
        return;
    }
    const QByteArray mrl = mrlFor(url);
    // Options come from the user's preferences only, never from the URL.
    QList<QByteArray> options;
    const QByteArray audioLang = languageOption(audioLanguages);
    if (!audioLang.isEmpty())
        options << ":audio-language=" + audioLang;
    const QByteArray subLang = languageOption(subtitleLanguages);
    if (!subLang.isEmpty())
        options << ":sub-language=" + subLang;
    const int vol = volume;
    qCDebug(lcVlcPlayer, "opening %s", mrl.constData());
    setState(Vlc::Opening);
    openTimer.start();
    run([gen, mrl, options, vol](VlcBackend &b) {
        b.bridge->generation = 0;
        libvlc_media_player_stop(b.mp);
        b.sink->clear();
        b.sink->resetSource();
        libvlc_media_t *media = libvlc_media_new_location(b.instance, mrl.constData());
        if (!media) {
            b.bridge->post([gen](VlcPlayerPrivate *d) {
                d->handleEvent(gen, libvlc_MediaPlayerEncounteredError, 0, 0);
            });
            return;
        }
        for (const QByteArray &o : options)
            libvlc_media_add_option(media, o.constData());
        libvlc_media_player_set_media(b.mp, media);
        libvlc_media_release(media);
        b.bridge->generation = gen;
        if (libvlc_media_player_play(b.mp) != 0) {
            b.bridge->post([gen](VlcPlayerPrivate *d) {
                d->handleEvent(gen, libvlc_MediaPlayerEncounteredError, 0, 0);
            });
            return;
        }
        if (libvlc_audio_set_volume(b.mp, vol) == 0)
            b.acceptedVolume = vol;
    });
}

void VlcPlayerPrivate::stopBackend()
{
    ++generation;
    openTimer.stop();
    run([](VlcBackend &b) {
        b.bridge->generation = 0;
        libvlc_media_player_stop(b.mp);
        b.sink->clear();
    });
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

void VlcPlayerPrivate::scheduleTrackRefresh()
{
    if (refreshPending)
        return;
    refreshPending = true;
    const quint64 gen = generation;
    run([gen](VlcBackend &b) {
        if (b.bridge->generation.load() != gen) {
            b.bridge->post([](VlcPlayerPrivate *d) { d->refreshPending = false; });
            return;
        }
        TrackInfo info;
        info.audio = readTracks(libvlc_audio_get_track_description(b.mp));
        info.video = readTracks(libvlc_video_get_track_description(b.mp));
        info.subtitle = readTracks(libvlc_video_get_spu_description(b.mp));
        info.audioCurrent = libvlc_audio_get_track(b.mp);
        info.videoCurrent = libvlc_video_get_track(b.mp);
        info.subtitleCurrent = libvlc_video_get_spu(b.mp);
        int width = 0, height = 0;
        unsigned sarNum = 0, sarDen = 0;
        if (libvlc_media_t *media = libvlc_media_player_get_media(b.mp)) {
            libvlc_media_track_t **tracks = nullptr;
            const unsigned n = libvlc_media_tracks_get(media, &tracks);
            for (unsigned i = 0; i < n; ++i) {
                const libvlc_media_track_t *t = tracks[i];
                if (t->psz_language)
                    info.language.insert(t->i_id, QString::fromUtf8(t->psz_language));
                if (t->i_type == libvlc_track_video && (t->i_id == info.videoCurrent || !width)) {
                    width = int(t->video->i_width);
                    height = int(t->video->i_height);
                    sarNum = t->video->i_sar_num;
                    sarDen = t->video->i_sar_den;
                }
            }
            libvlc_media_tracks_release(tracks, n);
            libvlc_media_release(media);
        }
        unsigned realW = 0, realH = 0;
        if (libvlc_video_get_size(b.mp, 0, &realW, &realH) == 0 && realW && realH) {
            width = int(realW);
            height = int(realH);
        }
        b.sink->setSourceInfo(width, height, sarNum, sarDen);
        b.bridge->post([gen, info](VlcPlayerPrivate *d) {
            d->refreshPending = false;
            d->applyTracks(gen, info);
        });
    });
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
        const int id = bestTrack(info.audio, info.language, audioLanguages, &rank);
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
        if (!hasPreference(subtitleLanguages)) {
            // No preferred subtitle language: no subtitles.
            if (!subtitleDefaultApplied && subtitleTrack != -1 && info.subtitle.size() > 1) {
                subtitleDefaultApplied = true;
                subtitleTrack = -1;
                sendTrack(libvlc_track_text, -1);
                emit q->subtitleTrackChanged();
            }
        } else {
            const int id = bestTrack(info.subtitle, info.language, subtitleLanguages, &rank);
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

void VlcPlayerPrivate::sendTrack(int kind, int id)
{
    run([kind, id](VlcBackend &b) {
        if (!b.bridge->generation.load())
            return;
        int rc = 0;
        if (kind == libvlc_track_audio)
            rc = libvlc_audio_set_track(b.mp, id);
        else if (kind == libvlc_track_video)
            rc = libvlc_video_set_track(b.mp, id);
        else
            rc = libvlc_video_set_spu(b.mp, id);
        if (rc != 0)
            qCWarning(lcVlcPlayer, "libVLC refused track %d", id);
    });
}

void VlcPlayerPrivate::sendDeinterlacing()
{
    const QByteArray name = Vlc::deinterlacingName(deinterlacing);
    run([name](VlcBackend &b) {
        // A null mode switches the filter off; VLC's own default would be automatic.
        libvlc_video_set_deinterlace(b.mp, name.isEmpty() ? nullptr : name.constData());
        b.deinterlace = name;
    });
}

VlcPlayer::VlcPlayer(QObject *parent)
    : QObject(parent)
    , d(new VlcPlayerPrivate(this))
{
    connect(&d->openTimer, &QTimer::timeout, this, [this] {
        if (d->state != Vlc::Opening && d->state != Vlc::Buffering)
            return;
        qCWarning(lcVlcPlayer, "opening \"%s\" timed out after %d ms",
                  qPrintable(d->url.toDisplayString(QUrl::RemoveUserInfo)), d->openTimer.interval());
        d->stopBackend();
        d->setState(Vlc::Error);
    });
    // A player that lives until the process ends would leave libVLC's decoder and
    // output threads running (and logging) while the exit handlers tear Qt down:
    // stop playback, and wait for it, while the application still exists.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (!d->core || !d->backend->mp)
                return;
            ++d->generation;
            d->openTimer.stop();
            std::promise<void> stopped;
            std::future<void> done = stopped.get_future();
            d->core->post([b = d->backend, &stopped] {
                b->bridge->generation = 0;
                libvlc_media_player_stop(b->mp);
                b->sink->clear();
                stopped.set_value();
            });
            done.wait();
        });
    }
}

VlcPlayer::~VlcPlayer()
{
    {
        std::lock_guard<std::mutex> lock(d->backend->bridge->mutex);
        d->backend->bridge->receiver = nullptr;
    }
    if (d->backend->mp) {
        d->run([](VlcBackend &b) {
            b.bridge->generation = 0;
            libvlc_event_manager_t *events = libvlc_media_player_event_manager(b.mp);
            for (libvlc_event_type_t type : WatchedEvents)
                libvlc_event_detach(events, type, onVlcEvent, b.bridge.get());
            libvlc_media_player_stop(b.mp);
            libvlc_media_player_release(b.mp);
            b.mp = nullptr;
            b.sink->setRealSizeProbe(nullptr);
            b.sink->clear();
        });
    }
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
    d->run([volume](VlcBackend &b) {
        if (libvlc_audio_set_volume(b.mp, volume) == 0)
            b.acceptedVolume = volume;
    });
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
        d->run([position](VlcBackend &b) {
            if (b.bridge->generation.load())
                libvlc_media_player_set_position(b.mp, float(position));
        });
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
        d->run([](VlcBackend &b) {
            if (b.bridge->generation.load())
                libvlc_media_player_set_pause(b.mp, 0);
        });
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
    d->run([](VlcBackend &b) {
        if (b.bridge->generation.load())
            libvlc_media_player_set_pause(b.mp, 1);
    });
}

void VlcPlayer::stop()
{
    if (d->state == Vlc::Idle || d->state == Vlc::Stopped)
        return;
    d->stopBackend();
    d->setState(Vlc::Stopped);
}

void VlcPlayer::requestDiagnostics()
{
    d->run([](VlcBackend &b) {
        QVariantMap m;
        m.insert(QStringLiteral("volume"), libvlc_audio_get_volume(b.mp));
        m.insert(QStringLiteral("acceptedVolume"), b.acceptedVolume);
        m.insert(QStringLiteral("deinterlace"), QString::fromLatin1(b.deinterlace));
        m.insert(QStringLiteral("audioTrack"), libvlc_audio_get_track(b.mp));
        m.insert(QStringLiteral("videoTrack"), libvlc_video_get_track(b.mp));
        m.insert(QStringLiteral("subtitleTrack"), libvlc_video_get_spu(b.mp));
        m.insert(QStringLiteral("state"), int(libvlc_media_player_get_state(b.mp)));
        m.insert(QStringLiteral("time"), qint64(libvlc_media_player_get_time(b.mp)));
        b.bridge->post([m](VlcPlayerPrivate *d) { emit d->q->diagnostics(m); });
    });
}
