#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

#include "xmltv.h"

namespace M3u {
struct Playlist;
}

class GuideIndex;
class HttpDownload;
class JtvModel;
class PlaylistModelItem;
class PlaylistModel;
class QSettings;
class UpdateArchive;

// Owns the content state: the settings store, the playlist and TV guide models, the
// content mode and the watch-time report template. Fills the playlist from the
// operator's configuration document, a video-portal listing or local files.
class Config : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Mode mode READ mode NOTIFY modeChanged)
    Q_PROPERTY(Content content READ content NOTIFY contentChanged)
    Q_PROPERTY(bool holdsChannels READ holdsChannels NOTIFY contentChanged)

public:
    enum Mode {
        Iptv = 0,             // channels of the configuration document
        VideoTarvonaPro = 1,  // files of one video-portal entry
        LocalFile = 2,        // local files
    };
    Q_ENUM(Mode)

    // What the playlist holds right now. The mode changes before the new list
    // arrives, so favourites and "lastUrl" go by this, never by the mode.
    enum Content {
        NoContent = 0,
        Channels = 1,     // a configuration document's channel list
        LocalFiles = 2,
        PortalFiles = 3,
    };
    Q_ENUM(Content)

    // Packed 2.0.4 with build byte 0x90: sent to the configuration server and the
    // bound of the update check.
    static constexpr int buildVersion = 33555600;
    static constexpr int releaseLineMask = int(0xFFFFFF00u);

    // Limits of the downloads this object starts (the guide may be large).
    static constexpr qint64 ConfigMaxBytes = 32LL * 1024 * 1024;
    static constexpr qint64 GuideMaxBytes = 512LL * 1024 * 1024;
    static constexpr qint64 PortalMaxBytes = 32LL * 1024 * 1024;
    static constexpr qint64 PlaylistMaxBytes = 64LL * 1024 * 1024;
    static constexpr int StallTimeoutMs = 30000;
    static constexpr int ConfigDeadlineMs = 120000;
    static constexpr int GuideDeadlineMs = 600000;
    // Without an answer by then, the cached configuration is shown meanwhile.
    static constexpr int CacheFallbackMs = 3000;

    explicit Config(QObject *parent = nullptr);
    ~Config() override;

    Mode mode() const { return m_mode; }
    // Emits modeChanged() every time, also when the mode stays the same.
    void setMode(Mode mode);

    Content content() const { return m_content; }
    // TV mode with the channel list in the playlist: only then may favourites and the
    // start channel be written from it.
    bool holdsChannels() const { return m_mode == Iptv && m_content == Channels; }
    // The loaders set it; a caller that fills the playlist model itself says so here.
    void setContent(Content content);

    PlaylistModel *playlistModel() const { return m_playlistModel; }
    JtvModel *jtvModel() const { return m_jtvModel; }
    QSettings *settings() const { return m_settings; }

    QString trackingUrl() const { return m_trackingUrl; }
    void setTrackingUrl(const QString &url);

    // Replaces (append false) or extends the playlist with local files.
    void loadLocalFiles(const QList<QUrl> &urls, bool append);
    // Downloads a video-portal listing and shows its files.
    void loadVideoPortal(const QUrl &url);
    // Fills the guide model with the programmes of one guide key from the cached guide.
    void loadJtv(const QString &key);
    // Rewrites the favourites file from the favourite flags of the playlist.
    void saveFavourites();

    // The guide address of the last applied configuration document.
    QUrl jtvUrl() const { return m_jtvUrl; }

    // Scheme, host and port of the configuration server: NOVALINE_CONFIG_SERVER from
    // the environment, else the compiled-in address.
    static QString configServer();
    // The configuration request for the current settings.
    QUrl configRequestUrl() const;

    // "operator" or "playlist" (the user's own M3U list and XMLTV guide).
    QString channelSource() const;
    // The user's list: its address from the settings, and where its last good copy is.
    QUrl playlistAddress() const;
    static QString userPlaylistCachePath();  // cache folder + "/playlist.m3u"
    // An address as typed in the settings: a URL, or a local path.
    static QUrl addressFromSetting(const QString &text);
    // Shows the channels of an M3U list (a URL or a local file) in place of the
    // operator's; channelUrl is the channel to start with. A list that cannot be had,
    // or is no channel list, leaves the cached one.
    void loadUserPlaylist(const QUrl &address, const QUrl &channelUrl);
    // A channel list the user opened (command line, drop, another copy): TV mode shows
    // it for the rest of this run, whatever the stored source says.
    void openChannelListForThisRun(const QUrl &file);
    // Back to the stored source (the user chose one in the settings).
    void forgetChannelListOfThisRun() { m_runChannelList.clear(); }

    static QString cacheFolder();
    static QString dataFolder();
    static QString configFilePath();      // cache folder + "/config.json"
    static QString jtvFilePath();         // cache folder + "/jtv.json"
    static QString guideStampPath();      // what the cached guide was converted from
    static QString favouritesFilePath();  // data folder + "/ilovealotoftv.json"

    // Removes downloads a killed run left half-written in the cache folder. Called at
    // start, before this run's first download.
    static void sweepPartialDownloads();

    // The favourites set as read from the favourites file (duplicates kept).
    static QList<QUrl> readFavourites();

    // Longest text taken from an operator document; the rest is cut.
    static constexpr int MaxTextLength = 1000;
    // True for the network schemes a channel or portal file may use (http, https, udp,
    // rtp, rtsp, rtmp, mms, srt ...); local files come only from the user.
    static bool isNetworkStream(const QUrl &url);

    // Aspect text of a channel ("16:9" ...) to the stored ratio value; 0 when unknown.
    static int aspectValue(const QString &text);

    // Display title of one portal file object.
    static QString composePortalTitle(const QJsonObject &file);

    // Tighter limits for every later download (tests); 0 keeps a value as it is.
    void setDownloadLimits(int stallTimeoutMs, qint64 maxBytes, int deadlineMs = 0);

    // Writes one key and flushes the store.
    void writeSetting(const QString &key, const QVariant &value);

public slots:
    // Fetches the configuration document, caches it and applies it. channelUrl is the
    // channel to start with, empty when none was asked for.
    void updateConfig(QUrl url);

signals:
    void configLoaded();
    void jtvDownloaded();
    void modeChanged();
    // A playlist was built; the id of the entry to play, or -1.
    void playlistLoaded(int id);
    // content or holdsChannels changed.
    void contentChanged();

public:
    // Steps of applying documents, public for the tests and the benchmarks.
    void loadConfigFile(const QString &path, const QUrl &channelUrl);
    void applyConfig(const QJsonObject &object, const QUrl &channelUrl);
    void loadPlaylist(const QJsonObject &object, const QUrl &channelUrl);
    void checkForUpdate(const QJsonObject &object);
    void parseVideoPortal(const QString &text, const QUrl &url);
    void downloadJtv();

    // Update archives started in this run (one at a time; see checkForUpdate).
    int updateDownloadsStarted() const { return m_updateDownloadsStarted; }
    // How many times the cached guide was indexed (tests and benchmarks).
    int guideIndexCount() const;
    // Downloads started by this object, and guides being checked, not finished yet.
    int activeDownloads() const { return m_downloads.size() + m_workerJobs; }

private:
    HttpDownload *newDownload(int mode, qint64 maxBytes, int deadlineMs);
    void releaseDownload(HttpDownload *download);
    void onConfigDownloaded(const QString &stagedPath, const QUrl &channelUrl, bool cacheShown);
    void onConfigDownloadFailed(const QString &stagedPath, const QUrl &channelUrl, bool cacheShown);
    // Checks and indexes a guide file on a worker; a staged download is then renamed
    // over the cached guide. serial tells a superseded download apart.
    void ingestGuide(const QString &path, bool staged, int serial, bool announce = false);
    QString stagingName(const QString &fileName);
    // A local file as it is, anything else downloaded into the cache folder; done gets
    // the file's path, or an empty path and the reason.
    void fetchFile(const QUrl &address, const QString &name, qint64 maxBytes,
                   const std::function<void(const QString &path, const QString &error)> &done);
    void showChannels(const QList<PlaylistModelItem *> &items, const QUrl &askedChannel);
    void showCachedUserPlaylist(const QUrl &channelUrl);
    struct UserListRead;
    // Reads and parses a channel list on a worker, keeping a good one as the cache;
    // staged files are removed once read.
    void readUserPlaylist(const QString &path, const QUrl &base, bool staged,
                          const std::function<void(const UserListRead &)> &done);
    void showUserPlaylist(const M3u::Playlist &list, const QUrl &channelUrl);
    void loadUserGuide(const QUrl &address, int offsetMinutes);
    void recordExtracted(int version);

    QSettings *m_settings;
    PlaylistModel *m_playlistModel;
    JtvModel *m_jtvModel;
    QUrl m_jtvUrl;
    Mode m_mode;
    Content m_content = NoContent;
    QString m_trackingUrl;

    std::unique_ptr<GuideIndex> m_guideIndex;
    QSet<HttpDownload *> m_downloads;
    int m_stallTimeoutMs = StallTimeoutMs;
    qint64 m_maxBytesCap = 0;
    int m_deadlineCapMs = 0;
    int m_downloadSerial = 0;
    int m_guideSerial = 0;
    int m_userPlaylistSerial = 0;
    QUrl m_runChannelList;
    QList<Xmltv::Wanted> m_guideChannels;
    QString m_userGuideState;
    QString m_pendingGuideStamp;       // of the converted guide being ingested
    int m_pendingGuideStampSerial = -1;
    int m_workerJobs = 0;  // guides and channel lists being read on workers
    int m_portalSerial = 0;

    UpdateArchive *m_updateInFlight = nullptr;
    int m_updateInFlightVersion = 0;
    int m_extractedVersion = 0;
    int m_updateDownloadsStarted = 0;
};
