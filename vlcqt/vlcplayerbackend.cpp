// The player's bridge to libVLC: creating the media player, its event callback, and
// every libVLC call, each run as a job on the core's worker thread.
#include "vlcframesink_p.h"
#include "vlclanguages_p.h"
#include "vlcplayer_p.h"

#include <vlc/vlc.h>

#include <dlfcn.h>

namespace {

// libVLC 3's API turns deinterlacing on or off; its automatic mode (the filter only
// for pictures flagged interlaced) is a variable of the media player and of its
// video outputs, reached through the core library libVLC itself loaded.
class CoreVariables
{
public:
    static const CoreVariables &get()
    {
        static const CoreVariables vars;
        return vars;
    }
    bool usable() const { return set && children && release && type; }

    // mode empty: off; else mode on interlaced pictures only. Players and outputs.
    void deinterlace(libvlc_media_player_t *mp, const QByteArray &mode) const
    {
        if (mode.isEmpty() || !usable()) {
            if (!mode.isEmpty())
                qCWarning(lcVlcPlayer, "libVLC's automatic deinterlacing is not reachable; always on");
            libvlc_video_set_deinterlace(mp, mode.isEmpty() ? nullptr : mode.constData());
            return;
        }
        apply(mp, mode);
        // The outputs made so far took their values when they were made.
        List *list = children(mp);
        if (!list)
            return;
        for (int i = 0; i < list->count; ++i) {
            void *object = list->values[i].address;
            if (object && type(object, "deinterlace-needed"))
                apply(object, mode);
        }
        release(list);
    }

private:
    union Value
    {
        int64_t integer;
        char *text;
        void *address;
    };
    struct List
    {
        int type;
        int count;
        Value *values;
    };
    enum { Integer = 0x0030, String = 0x0040 };

    CoreVariables()
    {
        set = reinterpret_cast<decltype(set)>(dlsym(RTLD_DEFAULT, "var_SetChecked"));
        children = reinterpret_cast<decltype(children)>(dlsym(RTLD_DEFAULT, "vlc_list_children"));
        release = reinterpret_cast<decltype(release)>(dlsym(RTLD_DEFAULT, "vlc_list_release"));
        type = reinterpret_cast<decltype(type)>(dlsym(RTLD_DEFAULT, "var_Type"));
    }

    void apply(void *object, const QByteArray &mode) const
    {
        Value v;
        QByteArray text = mode;
        v.text = text.data();
        set(object, "deinterlace-mode", String, v);
        v.integer = -1; // automatic
        set(object, "deinterlace", Integer, v);
    }

    int (*set)(void *, const char *, int, Value) = nullptr;
    List *(*children)(void *) = nullptr;
    void (*release)(List *) = nullptr;
    int (*type)(void *, const char *) = nullptr;
};

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

void postError(VlcBridge &bridge, quint64 gen)
{
    bridge.post([gen](VlcPlayerPrivate *d) { d->handleEvent(gen, libvlc_MediaPlayerEncounteredError, 0, 0); });
}

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

// A media player for b (the spare, else a new one), with its callbacks; the current
// one must be retired.
bool attachPlayer(VlcBackend &b)
{
    libvlc_media_player_t *mp = nullptr;
    std::shared_ptr<VlcVideoPort> oldPort;
    {
        std::lock_guard<std::mutex> lock(b.spare->mutex);
        std::swap(mp, b.spare->mp);
        oldPort.swap(b.spare->port);
    }
    if (!mp)
        mp = libvlc_media_player_new(b.instance);
    if (!mp) {
        qCCritical(lcVlcPlayer, "libVLC could not create a media player");
        return false;
    }
    b.mp = mp;
    b.used = false;
    libvlc_event_manager_t *events = libvlc_media_player_event_manager(mp);
    for (libvlc_event_type_t type : WatchedEvents)
        libvlc_event_attach(events, type, onVlcEvent, b.bridge.get());
    b.port = std::make_shared<VlcVideoPort>(
        b.sink, [mp](unsigned *w, unsigned *h) { return libvlc_video_get_size(mp, 0, w, h) == 0; });
    libvlc_video_set_callbacks(mp, VlcVideoPort::lockCallback, VlcVideoPort::unlockCallback,
                               VlcVideoPort::displayCallback, b.port.get());
    libvlc_video_set_format_callbacks(mp, VlcVideoPort::formatCallback, VlcVideoPort::cleanupCallback);
    // Keys and mouse belong to the scenes.
    libvlc_video_set_key_input(mp, 0);
    libvlc_video_set_mouse_input(mp, 0);
    // Off unless asked for (VLC's own default is automatic with its own algorithm).
    CoreVariables::get().deinterlace(mp, b.deinterlace);
    if (b.acceptedVolume >= 0)
        libvlc_audio_set_volume(mp, b.acceptedVolume);
    return true;
}

// Lets go of b's media player: no more events or pictures from it; libVLC stops and
// releases it on the retiring thread, however long that takes.
void retirePlayer(VlcBackend &b)
{
    if (!b.mp)
        return;
    // The event manager holds its lock while it calls us: once detached, no event
    // of this player is under way or still to come.
    libvlc_event_manager_t *events = libvlc_media_player_event_manager(b.mp);
    for (libvlc_event_type_t type : WatchedEvents)
        libvlc_event_detach(events, type, onVlcEvent, b.bridge.get());
    b.port->retire();
    b.retire([mp = b.mp, port = b.port, spare = b.spare] {
        libvlc_media_player_stop(mp);
        VlcCore::returnFreedMemory();
        {
            std::lock_guard<std::mutex> lock(spare->mutex);
            if (!spare->closed && !spare->mp) {
                spare->mp = mp;
                spare->port = port;
                return;
            }
        }
        libvlc_media_player_release(mp);
    });
    b.mp = nullptr;
    b.port.reset();
    b.used = false;
}

// Opens mrl in b's (new) media player as media generation gen.
void openMedia(VlcBackend &b, quint64 gen, const QByteArray &mrl, const QList<QByteArray> &options, int vol)
{
    libvlc_media_t *media = libvlc_media_new_location(b.instance, mrl.constData());
    if (!media) {
        postError(*b.bridge, gen);
        return;
    }
    for (const QByteArray &o : options)
        libvlc_media_add_option(media, o.constData());
    // libVLC reads a network stream up to 16 MiB ahead, all of it held while playing
    // from a source that sends faster than real time; a few seconds of a channel do.
    // Ours, not the address's: given as trusted, which this setting needs.
    libvlc_media_add_option_flag(media, ":prefetch-buffer-size=4096", libvlc_media_option_trusted);
    libvlc_media_add_option_flag(media, ":prefetch-read-size=1048576", libvlc_media_option_trusted);
    libvlc_media_player_set_media(b.mp, media);
    libvlc_media_release(media);
    b.bridge->generation = gen;
    if (libvlc_media_player_play(b.mp) != 0) {
        postError(*b.bridge, gen);
        return;
    }
    if (libvlc_audio_set_volume(b.mp, vol) == 0)
        b.acceptedVolume = vol;
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
    backend->sink = std::make_shared<VlcFrameSink>();
    backend->bridge = std::make_shared<VlcBridge>();
    backend->bridge->receiver = q;
    if (!core)
        return;
    backend->instance = core->instance();
    backend->retire = core->retirer();

    VlcFrameSink *sink = backend->sink.get();
    // A refused picture format leaves the media without a picture: an error.
    std::weak_ptr<VlcBridge> weakBridge = backend->bridge;
    sink->setRefusalHandler([weakBridge](const char *why) {
        auto bridge = weakBridge.lock();
        const quint64 gen = bridge ? bridge->generation.load() : 0;
        if (!gen)
            return;
        const QByteArray text(why);
        bridge->post([gen, text](VlcPlayerPrivate *d) {
            if (gen == d->generation)
                d->failPlayback(text.constData());
        });
    });
    sink->setFirstPictureHandler([weakBridge] {
        auto bridge = weakBridge.lock();
        const quint64 gen = bridge ? bridge->generation.load() : 0;
        if (!gen)
            return;
        bridge->post([gen](VlcPlayerPrivate *d) {
            if (gen == d->generation)
                d->setHasPicture(true);
        });
    });
    // Made on the worker: opening an audio output takes a while.
    backendCreated = true;
    core->post([b = backend] { attachPlayer(*b); });
}

void VlcPlayerPrivate::startBackend(quint64 gen)
{
    const QByteArray mrl = mrlFor(url);
    // Options come from the user's preferences only, never from the URL.
    QList<QByteArray> options;
    const QByteArray audioLang = VlcLanguages::optionValue(audioLanguages);
    if (!audioLang.isEmpty())
        options << ":audio-language=" + audioLang;
    const QByteArray subLang = VlcLanguages::optionValue(subtitleLanguages);
    if (!subLang.isEmpty())
        options << ":sub-language=" + subLang;
    // The two headers a channel list may ask for, and only for the web schemes; one
    // line each, whatever the list held.
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        auto oneLine = [](QString text) {
            for (QChar &c : text) {
                if (c.unicode() < 0x20)
                    c = QLatin1Char(' ');
            }
            return text.trimmed().toUtf8();
        };
        if (!httpUserAgent.trimmed().isEmpty())
            options << ":http-user-agent=" + oneLine(httpUserAgent);
        if (!httpReferrer.trimmed().isEmpty())
            options << ":http-referrer=" + oneLine(httpReferrer);
    }
    const int vol = volume;
    qCDebug(lcVlcPlayer, "opening %s", mrl.constData());
    if (!hasBackend())
        return;
    core->post([b = backend, gen, mrl, options, vol] {
        b->bridge->generation = 0;
        // The previous media stops in the background; this one starts now.
        if (b->used)
            retirePlayer(*b);
        b->sink->clear();
        b->sink->resetSource();
        VlcCore::newMediaForLog();
        if (!b->mp && !attachPlayer(*b)) {
            postError(*b->bridge, gen);
            return;
        }
        b->used = true;
        openMedia(*b, gen, mrl, options, vol);
    });
}

void VlcPlayerPrivate::stopBackend()
{
    ++generation;
    openTimer.stop();
    setHasPicture(false); // the sink is cleared below
    run([](VlcBackend &b) {
        b.bridge->generation = 0;
        if (b.used) {
            retirePlayer(b);
            attachPlayer(b);
        }
        b.sink->clear();
    });
}

void VlcPlayerPrivate::stopAndWait(int timeoutMs)
{
    if (!hasBackend())
        return;
    ++generation;
    openTimer.stop();
    QElapsedTimer clock;
    clock.start();
    bool stopped = core->postAndWait(
        [b = backend] {
            b->bridge->generation = 0;
            retirePlayer(*b);
            b->sink->clear();
        },
        timeoutMs);
    // Players retired before, too: the process must not end while they still play.
    if (stopped)
        stopped = core->waitRetired(int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
    // A stream stuck in libVLC (a silent server mid-open) must not keep the process
    // alive: the caller goes on, the worker is left to it.
    if (!stopped)
        qCWarning(lcVlcPlayer, "libVLC did not stop within %d ms; not waiting for it", timeoutMs);
}

void VlcPlayerPrivate::releaseBackend()
{
    if (!core)
        return;
    // Also without a current player (stopped for quitting): the spare is released.
    core->post([backend = backend] {
        VlcBackend &b = *backend;
        b.bridge->generation = 0;
        retirePlayer(b);
        // The spare goes after the players retired before it.
        b.retire([spare = b.spare] {
            libvlc_media_player_t *mp = nullptr;
            {
                std::lock_guard<std::mutex> lock(spare->mutex);
                spare->closed = true;
                std::swap(mp, spare->mp);
            }
            if (mp)
                libvlc_media_player_release(mp);
            spare->port.reset();
        });
        b.sink->setRefusalHandler(nullptr);
        b.sink->setFirstPictureHandler(nullptr);
        b.sink->clear();
    });
}

void VlcPlayerPrivate::scheduleTrackRefresh()
{
    if (refreshPending || !hasBackend())
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
    if (!hasBackend())
        return;
    // Kept for the players made later.
    core->post([b = backend, name] {
        if (b->mp)
            CoreVariables::get().deinterlace(b->mp, name);
        b->deinterlace = name;
    });
}

void VlcPlayerPrivate::sendVolume(int vol)
{
    run([vol](VlcBackend &b) {
        if (libvlc_audio_set_volume(b.mp, vol) == 0)
            b.acceptedVolume = vol;
    });
}

void VlcPlayerPrivate::sendPause(bool pause)
{
    run([pause](VlcBackend &b) {
        if (b.bridge->generation.load())
            libvlc_media_player_set_pause(b.mp, pause ? 1 : 0);
    });
}

void VlcPlayerPrivate::sendPosition(float pos)
{
    run([pos](VlcBackend &b) {
        if (b.bridge->generation.load())
            libvlc_media_player_set_position(b.mp, pos);
    });
}

void VlcPlayerPrivate::sendDiagnosticsRequest()
{
    if (!hasBackend()) {
        // Nothing to ask: an empty answer, so that nobody waits for one.
        QMetaObject::invokeMethod(q, [q = q] { emit q->diagnostics({}); }, Qt::QueuedConnection);
        return;
    }
    run([](VlcBackend &b) {
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
