#pragma once

// Internals of VlcPlayer, shared by its two halves: the player's state on the GUI
// thread (vlcplayer.cpp) and the bridge to libVLC (vlcplayerbackend.cpp).

#include "vlccore_p.h"
#include "vlcplayer.h"
#include "vlctrackmodel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QLoggingCategory>
#include <QTimer>

#include <atomic>
#include <climits>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcVlcPlayer)

struct libvlc_instance_t;
struct libvlc_media_player_t;
class VlcFrameSink;
class VlcVideoPort;
class VlcPlayerPrivate;

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

// What the worker's jobs work on. Each media gets a media player of its own: the
// previous one is stopped and released on the core's retiring thread, so the next
// media starts at once. mp is null when libVLC could not make a player.
struct VlcBackend
{
    libvlc_instance_t *instance = nullptr;
    libvlc_media_player_t *mp = nullptr;
    bool used = false; // mp has been given a media
    std::shared_ptr<VlcVideoPort> port; // mp's video callbacks
    VlcCore::Retirer retire;
    // One stopped player kept for the next media: a new one opens an audio output,
    // which takes a while. Filled by the retiring thread.
    struct Spare
    {
        std::mutex mutex;
        libvlc_media_player_t *mp = nullptr;
        std::shared_ptr<VlcVideoPort> port; // its callbacks' target until it is reused
        bool closed = false;
    };
    std::shared_ptr<Spare> spare = std::make_shared<Spare>();
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

class VlcPlayerPrivate
{
public:
    explicit VlcPlayerPrivate(VlcPlayer *q);
    static VlcPlayerPrivate *of(QObject *player) { return static_cast<VlcPlayer *>(player)->d.get(); }

    // GUI side (vlcplayer.cpp).
    void open();
    void setState(int state);
    void resetMediaValues();
    void handleEvent(quint64 generation, int type, qint64 value, float fvalue);
    void handleProgress(quint64 generation);
    void applyTracks(quint64 generation, const TrackInfo &info);
    void failPlayback(const char *why);
    void setHasPicture(bool has);
    void setStalled(bool stalled);
    void checkStall();

    // libVLC side (vlcplayerbackend.cpp): each posts a job to the worker.
    // Opens url with the preferences and volume of the moment, as media generation.
    void startBackend(quint64 generation);
    void stopBackend();
    // On quit: stops playback and waits for it at most timeoutMs.
    void stopAndWait(int timeoutMs);
    void releaseBackend();
    void scheduleTrackRefresh();
    void sendTrack(int kind, int id);
    void sendDeinterlacing();
    void sendVolume(int volume);
    void sendPause(bool pause);
    void sendPosition(float position);
    void sendDiagnosticsRequest();
    bool hasBackend() const { return core && backendCreated; }

    // Runs job(backend) on the worker; nothing without a libVLC player.
    template <typename F>
    void run(F &&job)
    {
        if (hasBackend())
            core->post([b = backend, job = std::forward<F>(job)] {
                if (b->mp)
                    job(*b);
            });
    }

    VlcPlayer *q;
    std::shared_ptr<VlcCore> core;
    std::shared_ptr<VlcBackend> backend;
    bool backendCreated = false; // libVLC is there to make media players
    VlcTrackModel *audioModel;
    VlcTrackModel *videoModel;
    VlcTrackModel *subtitleModel;
    QTimer openTimer;
    QTimer stallTimer;
    QElapsedTimer sinceProgress;
    quint64 lastShown = 0;
    qint64 lastTime = -1;
    int stallTimeout = 8000;
    bool hasPicture = false;
    bool stalled = false;

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
    QString httpUserAgent;
    QString httpReferrer;
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
