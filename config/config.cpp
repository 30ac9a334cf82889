#include "config.h"

#include "atomicfile.h"
#include "guideindex.h"
#include "m3u.h"
#include "xmltv.h"
#include "httpdownload.h"
#include "jtvmodel.h"
#include "osintegration.h"
#include "playlistmodel.h"
#include "settingskeys.h"
#include "settingsstore.h"
#include "updatearchive.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QtConcurrent>
#include <QUrlQuery>
#include <QtDebug>

#include <algorithm>
#include <memory>

namespace {

const QString configFileName = QStringLiteral("config.json");
const QString jtvFileName = QStringLiteral("jtv.json");
const QString favouritesFileName = QStringLiteral("/ilovealotoftv.json");
const QString userListFileName = QStringLiteral("playlist.m3u");
const QString userGuideFileName = QStringLiteral("guide.xmltv");
const QString ungrouped = QStringLiteral("ungrouped");

QByteArray readFile(const QString &path, bool *opened)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *opened = false;
        return QByteArray();
    }
    *opened = true;
    return file.readAll();
}

bool isEmptyDocument(const QJsonDocument &doc)
{
    return doc.isNull() || doc.isEmpty();
}

// Texts from operator documents end up in crawling labels and lists: a title of
// megabytes would eat memory without bound. Counts what it cuts.
struct TextCap
{
    static constexpr int MaxLength = Config::MaxTextLength;
    int cut = 0;
    QString operator()(QString text)
    {
        if (text.size() > MaxLength) {
            text.truncate(MaxLength);
            ++cut;
        }
        return text;
    }
    void report(const char *document) const
    {
        if (cut > 0)
            qWarning().noquote() << QStringLiteral("%1 texts of the %2 were longer than %3 characters and were cut")
                                        .arg(cut)
                                        .arg(QLatin1String(document))
                                        .arg(MaxLength);
    }
};

bool isChannelDocument(const QJsonObject &document)
{
    return document.value(QStringLiteral("iptv")).isArray();
}

bool hasChannels(const QJsonObject &document)
{
    return !document.value(QStringLiteral("iptv")).toArray().isEmpty();
}

QDateTime programmeTime(const QVariant &value)
{
    return QDateTime::fromSecsSinceEpoch(qint64(uint(value.toLongLong())));
}

} // namespace

Config::Config(QObject *parent)
    : QObject(parent)
    , m_settings(new SettingsStore(QCoreApplication::organizationName(),
                                   QCoreApplication::applicationName()))
    , m_playlistModel(new PlaylistModel(false, nullptr))
    , m_jtvModel(new JtvModel(false, nullptr))
    , m_jtvUrl()
    , m_mode(Iptv)
    , m_trackingUrl()
    , m_guideIndex(new GuideIndex)
{
    writeSetting(QString::fromLatin1(SettingsKeys::installDir),
                 QCoreApplication::applicationFilePath());
    // An update unpacked in an earlier run is not fetched again.
    if (m_settings->value(QString::fromLatin1(SettingsKeys::updateState)).toString()
            == QLatin1String(SettingsKeys::updateStateExtracted)
        && QFile::exists(m_settings->value(QString::fromLatin1(SettingsKeys::updatePath)).toString()))
        m_extractedVersion = SettingsKeys::readInt(m_settings, QString::fromLatin1(SettingsKeys::updateVersion), 0);
    // The guide of an earlier run is indexed in the background, not at the first
    // channel start.
    if (QFileInfo::exists(jtvFilePath()))
        ingestGuide(jtvFilePath(), false, m_guideSerial);
    // Belt and braces: whatever was written lands on disk before the process ends.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QSettings *settings = m_settings;
        connect(app, &QCoreApplication::aboutToQuit, this, [settings] { settings->sync(); });
    }
}

Config::~Config()
{
    // Downloads still running report to nobody.
    const auto downloads = m_downloads;
    for (HttpDownload *download : downloads) {
        download->disconnect();
        delete download;
    }
    m_settings->sync();
    delete m_jtvModel;
    delete m_playlistModel;
    delete m_settings;
}

void Config::setMode(Mode mode)
{
    const bool held = holdsChannels();
    m_mode = mode;
    ++m_portalSerial;  // a listing still on its way belongs to the old mode
    emit modeChanged();
    if (held != holdsChannels())
        emit contentChanged();
}

void Config::setContent(Content content)
{
    if (m_content == content)
        return;
    m_content = content;
    emit contentChanged();
}

void Config::setTrackingUrl(const QString &url)
{
    m_trackingUrl = url;
}

void Config::writeSetting(const QString &key, const QVariant &value)
{
    SettingsKeys::store(m_settings, key, value);
}

// ---------------------------------------------------------------------------------
// Folders and addresses

QString Config::cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QString Config::dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

QString Config::configFilePath()
{
    return cacheFolder() + QLatin1Char('/') + configFileName;
}

QString Config::jtvFilePath()
{
    return cacheFolder() + QLatin1Char('/') + jtvFileName;
}

QString Config::favouritesFilePath()
{
    return dataFolder() + favouritesFileName;
}

void Config::sweepPartialDownloads()
{
    QDir cache(cacheFolder());
    const QStringList partial = cache.entryList({configFileName + QStringLiteral(".*.part*"),
                                                 jtvFileName + QStringLiteral(".*.part*"),
                                                 userListFileName + QStringLiteral(".*.part*"),
                                                 userGuideFileName + QStringLiteral(".*.part*")},
                                                QDir::Files | QDir::Hidden);
    for (const QString &name : partial) {
        if (!cache.remove(name))
            qWarning() << "Cannot remove the partial download" << cache.filePath(name);
    }
    if (!partial.isEmpty())
        qDebug() << "Removed" << partial.size() << "partial downloads from" << cache.path();
}

QString Config::configServer()
{
    QString server = qEnvironmentVariable("NOVALINE_CONFIG_SERVER").trimmed();
    if (server.isEmpty())
        server = QStringLiteral(NOVALINE_CONFIG_SERVER_DEFAULT);
    if (!server.contains(QLatin1String("://")))
        server.prepend(QLatin1String("http://"));
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server;
}

QUrl Config::configRequestUrl() const
{
    const int fallbackCount = SettingsKeys::readInt(m_settings, QString::fromLatin1(SettingsKeys::fallbackCount),
                                                    SettingsKeys::fallbackCountDefault);
    const bool manual = SettingsKeys::readBool(m_settings, QString::fromLatin1(SettingsKeys::isManualFallback),
                                               SettingsKeys::isManualFallbackDefault);
    const QString o = (fallbackCount > 0 || manual) ? QStringLiteral("1") : QStringLiteral("0");
    const QString ov = manual ? QStringLiteral("1") : QStringLiteral("0");
    // The multi-argument arg() does not look for placeholders inside inserted values.
    const QString query = QStringLiteral("/config.php?app=%1&ver=%2&id=%3&o=%4&ov=%5")
                              .arg(QStringLiteral("iptv"), QString::number(buildVersion),
                                   OsIntegration::hddId(), o, ov);
    return QUrl(configServer() + query, QUrl::TolerantMode);
}

void Config::setDownloadLimits(int stallTimeoutMs, qint64 maxBytes, int deadlineMs)
{
    if (stallTimeoutMs > 0)
        m_stallTimeoutMs = stallTimeoutMs;
    if (maxBytes > 0)
        m_maxBytesCap = maxBytes;
    if (deadlineMs > 0)
        m_deadlineCapMs = deadlineMs;
}

// ---------------------------------------------------------------------------------
// Downloads

HttpDownload *Config::newDownload(int mode, qint64 maxBytes, int deadlineMs)
{
    auto *download = new HttpDownload(mode, nullptr);
    download->setStallTimeout(m_stallTimeoutMs);
    download->setMaxSize(m_maxBytesCap > 0 ? std::min(maxBytes, m_maxBytesCap) : maxBytes);
    m_downloads.insert(download);
    download->setDeadline(m_deadlineCapMs > 0 ? std::min(deadlineMs, m_deadlineCapMs) : deadlineMs);
    return download;
}

void Config::releaseDownload(HttpDownload *download)
{
    download->disconnect();
    m_downloads.remove(download);
    download->deleteLater();
}

QString Config::stagingName(const QString &fileName)
{
    return QStringLiteral("%1.%2.part").arg(fileName).arg(++m_downloadSerial);
}

// ---------------------------------------------------------------------------------
// Configuration fetch

void Config::updateConfig(QUrl url)
{
    if (!m_runChannelList.isEmpty()) {
        loadUserPlaylist(m_runChannelList, url);
        return;
    }
    if (channelSource() == QLatin1String(SettingsKeys::channelSourcePlaylist)) {
        loadUserPlaylist(playlistAddress(), url);
        return;
    }
    const QUrl channelUrl = url;
    const QUrl request = configRequestUrl();
    const QString folder = cacheFolder();
    QDir().mkpath(folder);
    // The answer lands next to the cache and replaces it only when it is a document.
    const QString staged = stagingName(configFileName);

    HttpDownload *download = newDownload(HttpDownload::File, ConfigMaxBytes, ConfigDeadlineMs);
    download->setSavePath(folder);
    download->setUrl(request);
    download->setFileName(staged);
    const QString stagedPath = folder + QLatin1Char('/') + staged;

    // A slow or stalled server must not keep a cached list off the screen: after a few
    // seconds the cache is shown, and a later answer that differs replaces it.
    auto cacheShown = std::make_shared<bool>(false);
    if (QFileInfo::exists(configFilePath())) {
        QTimer::singleShot(CacheFallbackMs, download, [this, cacheShown, channelUrl] {
            qWarning("Config server has not answered within 3 s, loading old config meanwhile");
            *cacheShown = true;
            loadConfigFile(configFilePath(), channelUrl);
        });
    }

    connect(download, &HttpDownload::downloadFinished, download, [this, download] {
        releaseDownload(download);
    });
    connect(download, &HttpDownload::fileDownloaded, download,
            [this, download, stagedPath, channelUrl, cacheShown](const QString &, const QString &) {
                download->disconnect();  // one outcome per request
                connect(download, &HttpDownload::downloadFinished, download,
                        [this, download] { releaseDownload(download); });
                onConfigDownloaded(stagedPath, channelUrl, *cacheShown);
            });
    connect(download, &HttpDownload::downloadError, download,
            [this, download, stagedPath, channelUrl, cacheShown](const QString &) {
                download->disconnect();
                connect(download, &HttpDownload::downloadFinished, download,
                        [this, download] { releaseDownload(download); });
                onConfigDownloadFailed(stagedPath, channelUrl, *cacheShown);
            });
    download->download();
}

void Config::onConfigDownloaded(const QString &stagedPath, const QUrl &channelUrl, bool cacheShown)
{
    writeSetting(QString::fromLatin1(SettingsKeys::lastUpdate), QDateTime::currentDateTime());
    bool opened = false;
    const QByteArray data = readFile(stagedPath, &opened);
    QFile::remove(stagedPath);
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!opened || isEmptyDocument(doc) || !doc.isObject()) {
        qWarning() << "Config download is not a configuration document, loading old config";
        if (cacheShown)
            return;
        if (QFileInfo::exists(configFilePath())) {
            loadConfigFile(configFilePath(), channelUrl);
        } else {
            qWarning("Config file is empty");
            applyConfig(QJsonObject(), channelUrl);
        }
        return;
    }
    bool cachedOpened = false;
    const QByteArray cachedData = readFile(configFilePath(), &cachedOpened);
    // A document without channels must not replace one that has them: every offline
    // start would show an empty list from then on.
    if (!isChannelDocument(doc.object()) && cachedOpened) {
        const QJsonDocument cached = QJsonDocument::fromJson(cachedData);
        if (hasChannels(cached.object())) {
            qCritical("Config download has no channel list, keeping and loading the cached config");
            if (!cacheShown)
                applyConfig(cached.object(), channelUrl);
            return;
        }
    }
    if (cacheShown && cachedOpened && cachedData == data) {
        qDebug("Config download arrived late and matches the cached config");
        return;
    }
    QString error;
    if (!AtomicFile::write(configFilePath(), data, &error))
        qCritical().noquote() << "Could not store config file:" << error;
    // Applied from what was received, whether or not the cache could take it. Arriving
    // after the cache was shown, it keeps the channel that plays now ("lastUrl").
    if (cacheShown)
        qDebug("Config download arrived late and differs from the cached config, applying it");
    applyConfig(doc.object(), cacheShown ? QUrl() : channelUrl);
}

void Config::onConfigDownloadFailed(const QString &stagedPath, const QUrl &channelUrl, bool cacheShown)
{
    qCritical("Config download error, loading old config");
    QFile::remove(stagedPath);
    if (cacheShown)
        return;
    if (QFileInfo::exists(configFilePath()))
        loadConfigFile(configFilePath(), channelUrl);
    else
        qWarning("No cached config to load");
}

void Config::loadConfigFile(const QString &path, const QUrl &channelUrl)
{
    bool opened = false;
    const QByteArray data = readFile(path, &opened);
    if (!opened)
        qWarning("Could not open config file");
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (isEmptyDocument(doc))
        qWarning("Config file is empty");
    applyConfig(doc.object(), channelUrl);
}

void Config::applyConfig(const QJsonObject &object, const QUrl &channelUrl)
{
    if (m_mode == Iptv)
        loadPlaylist(object, channelUrl);
    checkForUpdate(object);
    const QUrl jtv(object.value(QStringLiteral("iptvJtvWeek")).toString(), QUrl::TolerantMode);
    if (jtv != m_jtvUrl) {
        m_jtvUrl = jtv;
        downloadJtv();
    }
    emit configLoaded();
}

// ---------------------------------------------------------------------------------
// Channel playlist

bool Config::isNetworkStream(const QUrl &url)
{
    static const QSet<QString> schemes{
        QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("udp"),  QStringLiteral("rtp"),
        QStringLiteral("rtsp"), QStringLiteral("rtmp"),  QStringLiteral("mms"),  QStringLiteral("mmsh"),
        QStringLiteral("mmst"), QStringLiteral("srt"),   QStringLiteral("ftp"),
    };
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || !schemes.contains(scheme))
        return false;
    // Multicast addresses may leave the host out ("udp://@:1234").
    return !url.host().isEmpty() || scheme == QLatin1String("udp") || scheme == QLatin1String("rtp");
}

int Config::aspectValue(const QString &text)
{
    static const QHash<QString, int> table{
        {QStringLiteral("16:9"), 2},    {QStringLiteral("16:10"), 3},
        {QStringLiteral("185:100"), 4}, {QStringLiteral("221:100"), 5},
        {QStringLiteral("235:100"), 6}, {QStringLiteral("239:100"), 7},
        {QStringLiteral("4:3"), 8},     {QStringLiteral("5:4"), 9},
        {QStringLiteral("5:3"), 10},    {QStringLiteral("1:1"), 11},
    };
    return table.value(text, 0);
}

void Config::loadPlaylist(const QJsonObject &object, const QUrl &channelUrl)
{
    const QList<QUrl> favouriteList = readFavourites();
    const QSet<QUrl> favourites(favouriteList.cbegin(), favouriteList.cend());

    m_playlistModel->clear();

    const QJsonArray channels = object.value(QStringLiteral("iptv")).toArray();
    const QString titleKey = QStringLiteral("title");
    const QString streamKey = QStringLiteral("stream");
    const QString groupKey = QStringLiteral("groupTitle");
    const QString jtvKey = QStringLiteral("jtv");
    const QString aspectKey = QStringLiteral("aspect");

    QList<PlaylistModelItem *> items;
    items.reserve(channels.size());
    bool askedPresent = false;
    TextCap cap;
    int refused = 0;
    int i = 0;
    for (const QJsonValue &value : channels) {
        const QJsonObject channel = value.toObject();
        QUrl stream(channel.value(streamKey).toString(), QUrl::TolerantMode);
        // The operator names network streams; a local file or device is never opened
        // on a document's word.
        if (!stream.isEmpty() && !isNetworkStream(stream)) {
            ++refused;
            stream = QUrl();
        }
        const bool favourite = favourites.contains(stream);
        // An empty address asks for no channel, so a channel without a stream is no match.
        if (!channelUrl.isEmpty() && stream == channelUrl)
            askedPresent = true;
        items.append(new PlaylistModelItem(i, cap(channel.value(titleKey).toString()), stream,
                                           cap(channel.value(groupKey).toString()),
                                           cap(channel.value(jtvKey).toString()),
                                           aspectValue(channel.value(aspectKey).toString()),
                                           favourite, nullptr));
        ++i;
    }
    cap.report("configuration document");
    if (refused > 0)
        qWarning().noquote() << QStringLiteral("%1 channels of the configuration document name no network stream; they will not play")
                                    .arg(refused);
    showChannels(items, askedPresent ? channelUrl : QUrl());
}

void Config::showChannels(const QList<PlaylistModelItem *> &items, const QUrl &askedChannel)
{
    m_playlistModel->append(items);
    setContent(Channels);

    // The channel asked for, else the last one watched, else the first.
    QUrl chosen = askedChannel;
    if (chosen.isEmpty()) {
        chosen = m_settings->value(QString::fromLatin1(SettingsKeys::lastUrl)).toUrl();
        if (chosen.isEmpty() && m_playlistModel->rowCount() > 0)
            chosen = m_playlistModel->item(0)->url();
    }
    const PlaylistModelItem *item = m_playlistModel->itemByUrl(chosen);
    emit playlistLoaded(item ? item->id() : -1);
}

// ---------------------------------------------------------------------------------
// The user's own channel list and guide

QString Config::channelSource() const
{
    return m_settings->value(QString::fromLatin1(SettingsKeys::channelSource),
                             QString::fromLatin1(SettingsKeys::channelSourceOperator)).toString();
}

QUrl Config::playlistAddress() const
{
    return addressFromSetting(m_settings->value(QString::fromLatin1(SettingsKeys::playlistUrl)).toString());
}

QUrl Config::addressFromSetting(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QUrl();
    const QUrl url(trimmed, QUrl::TolerantMode);
    return url.scheme().isEmpty() ? QUrl::fromLocalFile(trimmed) : url;
}

QString Config::userPlaylistCachePath()
{
    return cacheFolder() + QLatin1Char('/') + userListFileName;
}

void Config::fetchFile(const QUrl &address, const QString &name, qint64 maxBytes,
                       const std::function<void(const QString &path, const QString &error)> &done)
{
    const QString folder = cacheFolder();
    QDir().mkpath(folder);  // what comes of the file is kept there
    if (address.isLocalFile()) {
        // The user's own file: read where it is, never copied first.
        const QString path = address.toLocalFile();
        const QFileInfo info(path);
        if (!info.isFile())
            done(QString(), QStringLiteral("no such file: %1").arg(path));
        else if (info.size() > maxBytes)
            done(QString(), QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maxBytes));
        else
            done(path, QString());
        return;
    }
    const QString staged = stagingName(name);
    HttpDownload *download = newDownload(HttpDownload::File, maxBytes, GuideDeadlineMs);
    download->setUrl(address);
    download->setSavePath(folder);
    download->setFileName(staged);
    connect(download, &HttpDownload::downloadFinished, download, [this, download] { releaseDownload(download); });
    connect(download, &HttpDownload::fileDownloaded, download,
            [done](const QString &, const QString &path) { done(path, QString()); });
    connect(download, &HttpDownload::downloadError, download,
            [done](const QString &error) { done(QString(), error); });
    download->download();
}

struct Config::UserListRead
{
    bool opened = false;
    M3u::Playlist list;
    QString storeError;
};

void Config::loadUserPlaylist(const QUrl &address, const QUrl &channelUrl)
{
    if (address.isEmpty()) {
        qWarning("No channel list address is set");
        showCachedUserPlaylist(channelUrl);
        return;
    }
    const int serial = ++m_userPlaylistSerial;
    fetchFile(address, userListFileName, PlaylistMaxBytes,
              [this, address, channelUrl, serial](const QString &path, const QString &error) {
                  const bool staged = !path.isEmpty() && !address.isLocalFile();
                  if (serial != m_userPlaylistSerial) {
                      if (staged)
                          QFile::remove(path);
                      return;  // a newer list was asked for meanwhile
                  }
                  if (path.isEmpty()) {
                      qCritical().noquote() << "Could not get the channel list, loading the cached one:" << error;
                      showCachedUserPlaylist(channelUrl);
                      return;
                  }
                  readUserPlaylist(path, address, staged, [this, channelUrl, serial](const UserListRead &read) {
                      if (serial != m_userPlaylistSerial)
                          return;
                      if (!read.list.isChannelList()) {
                          qCritical("The channel list is not an M3U channel list, keeping the previous one");
                          showCachedUserPlaylist(channelUrl);
                          return;
                      }
                      if (!read.storeError.isEmpty())
                          qCritical().noquote() << "Could not store the channel list:" << read.storeError;
                      showUserPlaylist(read.list, channelUrl);
                  });
              });
}

void Config::readUserPlaylist(const QString &path, const QUrl &base, bool staged,
                              const std::function<void(const UserListRead &)> &done)
{
    // Reading, parsing and caching a list of a hundred thousand channels takes a good
    // part of a second: a worker's job.
    ++m_workerJobs;
    const bool fromCache = path == userPlaylistCachePath();
    const QString cachePath = userPlaylistCachePath();
    auto *watcher = new QFutureWatcher<UserListRead>(this);
    connect(watcher, &QFutureWatcher<UserListRead>::finished, this, [this, watcher, done] {
        watcher->deleteLater();
        --m_workerJobs;
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([path, base, staged, fromCache, cachePath] {
        UserListRead read;
        const QByteArray data = readFile(path, &read.opened);
        if (staged)
            QFile::remove(path);
        read.list = M3u::parse(data, base);
        // The last good list is kept for the starts that cannot fetch it.
        if (!fromCache && read.list.isChannelList()
            && !AtomicFile::write(cachePath, data, &read.storeError) && read.storeError.isEmpty())
            read.storeError = QStringLiteral("unknown error");
        return read;
    }));
}

void Config::openChannelListForThisRun(const QUrl &file)
{
    m_runChannelList = file;
    loadUserPlaylist(file, QUrl());
}

void Config::showCachedUserPlaylist(const QUrl &channelUrl)
{
    if (!QFileInfo::exists(userPlaylistCachePath())) {
        qWarning("No cached channel list to load");
        return;
    }
    readUserPlaylist(userPlaylistCachePath(), QUrl(), false,
                     [this, channelUrl](const UserListRead &read) { showUserPlaylist(read.list, channelUrl); });
}

void Config::showUserPlaylist(const M3u::Playlist &list, const QUrl &channelUrl)
{
    if (list.skipped > 0)
        qWarning().noquote() << QStringLiteral("%1 entries of the channel list have no address the player can open; left out")
                                    .arg(list.skipped);
    const QList<QUrl> favouriteList = readFavourites();
    const QSet<QUrl> favourites(favouriteList.cbegin(), favouriteList.cend());
    m_playlistModel->clear();
    QList<PlaylistModelItem *> items;
    items.reserve(list.channels.size());
    bool askedPresent = false;
    QList<Xmltv::Wanted> wanted;
    QSet<QString> keys;
    int id = 0;
    for (const M3u::Channel &channel : list.channels) {
        askedPresent = askedPresent || (!channelUrl.isEmpty() && channel.url == channelUrl);
        const QString key = channel.guideKey();
        auto *item = new PlaylistModelItem(id++, channel.title, channel.url, channel.group, key, 0,
                                           favourites.contains(channel.url), nullptr);
        item->setHttpHeaders(channel.userAgent, channel.referrer);
        items.append(item);
        if (!keys.contains(key)) {
            keys.insert(key);
            wanted.append({key, channel.tvgShiftHours});
        }
    }
    m_guideChannels = wanted;
    // A list of the user's may be new: a start channel it does not have gives way to
    // its first channel instead of nothing.
    QUrl start = askedPresent ? channelUrl : m_settings->value(QString::fromLatin1(SettingsKeys::lastUrl)).toUrl();
    const bool known = std::any_of(list.channels.cbegin(), list.channels.cend(),
                                   [&start](const M3u::Channel &c) { return c.url == start; });
    if (!known && !list.channels.isEmpty())
        start = list.channels.first().url;
    showChannels(items, start);

    const QUrl guide = addressFromSetting(m_settings->value(QString::fromLatin1(SettingsKeys::guideUrl)).toString());
    const QUrl wantedGuide = guide.isEmpty() ? addressFromSetting(list.guideUrls.value(0)) : guide;
    const int offset = SettingsKeys::readInt(m_settings, QString::fromLatin1(SettingsKeys::guideOffsetMinutes),
                                             SettingsKeys::guideOffsetMinutesDefault);
    // The guide is converted again when its address, its offset or the channels change.
    const QString guideState = wantedGuide.toString() + QLatin1Char('|') + QString::number(offset) + QLatin1Char('|')
        + QString::number(qHash(keys.values().join(QLatin1Char('\n'))));
    if (!wantedGuide.isEmpty() && guideState != m_userGuideState) {
        m_userGuideState = guideState;
        m_jtvUrl = wantedGuide;
        loadUserGuide(wantedGuide, offset);
    }
    emit configLoaded();
}

namespace {

// What a converted guide was made from: the file's bytes and everything that shapes
// the document. The same stamp twice means the guide document in the cache is current.
QString guideStamp(const QString &path, const QList<Xmltv::Wanted> &wanted, const Xmltv::Options &options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);  // tells changes apart, no more
    if (!hash.addData(&file))
        return QString();
    for (const Xmltv::Wanted &w : wanted)
        hash.addData((w.key + QLatin1Char('\n') + QString::number(w.shiftHours) + QLatin1Char('\n')).toUtf8());
    hash.addData(QStringLiteral("%1|%2").arg(options.offsetMinutes).arg(options.language).toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

QString Config::guideStampPath()
{
    return cacheFolder() + QStringLiteral("/guide.stamp");
}

void Config::loadUserGuide(const QUrl &address, int offsetMinutes)
{
    const int serial = ++m_guideSerial;
    const QList<Xmltv::Wanted> wanted = m_guideChannels;
    fetchFile(address, userGuideFileName, GuideMaxBytes,
              [this, address, offsetMinutes, serial, wanted](const QString &path, const QString &error) {
                  if (path.isEmpty()) {
                      qWarning().noquote() << QStringLiteral("Error to download jtv: ") + error;
                      return;
                  }
                  if (serial != m_guideSerial) {
                      if (!address.isLocalFile())
                          QFile::remove(path);
                      return;
                  }
                  // Converted on a worker into a staged guide document, which then takes
                  // the same road as the operator's guide; a guide converted before from
                  // the same bytes for the same channels is not converted again.
                  ++m_workerJobs;
                  const QString staged = cacheFolder() + QLatin1Char('/') + stagingName(jtvFileName);
                  Xmltv::Options options;
                  options.offsetMinutes = offsetMinutes;
                  // Titles in the language the interface speaks (the default locale follows it).
                  options.language = QLocale().name().left(2);
                  const bool removeSource = !address.isLocalFile();
                  const QString stampPath = guideStampPath();
                  const QString cached = jtvFilePath();
                  struct Converted
                  {
                      Xmltv::Result result;
                      QString stamp;
                      bool unchanged = false;
                  };
                  auto *watcher = new QFutureWatcher<Converted>(this);
                  connect(watcher, &QFutureWatcher<Converted>::finished, this, [this, watcher, staged, serial] {
                      watcher->deleteLater();
                      --m_workerJobs;
                      const Converted converted = watcher->result();
                      if (converted.unchanged) {
                          qDebug("The guide has not changed since it was read; the cached one stays");
                          ingestGuide(jtvFilePath(), false, serial, true);
                          return;
                      }
                      const Xmltv::Result &result = converted.result;
                      if (!result.ok) {
                          QFile::remove(staged);
                          qWarning().noquote() << QStringLiteral("Error to download jtv: ") + result.error;
                          return;
                      }
                      qDebug().noquote() << QStringLiteral("Guide read: %1 channels, %2 programmes, %3 of our channels found")
                                                .arg(result.channels)
                                                .arg(result.programmes)
                                                .arg(result.matchedKeys);
                      m_pendingGuideStamp = converted.stamp;
                      m_pendingGuideStampSerial = serial;
                      ingestGuide(staged, true, serial);
                  });
                  watcher->setFuture(QtConcurrent::run([path, wanted, options, staged, removeSource, stampPath, cached] {
                      Converted out;
                      bool opened = false;
                      out.stamp = guideStamp(path, wanted, options);
                      if (!out.stamp.isEmpty() && QFileInfo::exists(cached)
                          && readFile(stampPath, &opened) == out.stamp.toLatin1()) {
                          out.unchanged = true;
                      } else {
                          QFile::remove(stampPath);  // the cached document is about to change
                          out.result = Xmltv::convert(path, wanted, options, staged);
                      }
                      if (removeSource)
                          QFile::remove(path);
                      return out;
                  }));
              });
}

// ---------------------------------------------------------------------------------
// Local files

void Config::loadLocalFiles(const QList<QUrl> &urls, bool append)
{
    if (!append) {
        m_playlistModel->clear();
        ++m_portalSerial;
    }
    m_playlistModel->setUniqueCheck(true);
    int next = 0;
    if (m_playlistModel->rowCount() > 0)
        next = m_playlistModel->item(m_playlistModel->rowCount() - 1)->id() + 1;
    QList<PlaylistModelItem *> items;
    items.reserve(urls.size());
    for (const QUrl &url : urls)
        items.append(new PlaylistModelItem(next++, url.fileName(QUrl::FullyDecoded), url, ungrouped,
                                           QString(), 0, false, nullptr));
    m_playlistModel->append(items);
    m_playlistModel->setUniqueCheck(false);
    if (!append || !urls.isEmpty())
        setContent(m_playlistModel->rowCount() > 0 ? LocalFiles : NoContent);
    if (!append && !urls.isEmpty())
        emit playlistLoaded(0);
}

// ---------------------------------------------------------------------------------
// Favourites

QList<QUrl> Config::readFavourites()
{
    bool opened = false;
    const QByteArray data = readFile(favouritesFilePath(), &opened);
    QList<QUrl> set;
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (isEmptyDocument(doc))
        return set;
    const QJsonArray array = doc.object().value(QStringLiteral("favourites")).toArray();
    set.reserve(array.size());
    for (const QJsonValue &value : array)
        set.append(QUrl(value.toString(), QUrl::TolerantMode));
    return set;
}

void Config::saveFavourites()
{
    // Favourites are channels: a list of local or portal files would replace them all.
    if (!holdsChannels()) {
        qWarning("Favourites not saved: the playlist holds no channels");
        return;
    }
    const QString path = favouritesFilePath();
    QDir().mkpath(dataFolder());

    // A file that cannot be read back is kept aside rather than lost to this save.
    QFile existing(path);
    if (existing.size() > 0 && existing.open(QIODevice::ReadOnly)) {
        const QByteArray old = existing.readAll();
        existing.close();
        if (isEmptyDocument(QJsonDocument::fromJson(old))) {
            const QString keep = path + QStringLiteral(".unreadable");
            if (AtomicFile::write(keep, old))
                qWarning() << "Favourites file could not be read; its content is kept in" << keep;
        }
    }

    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical("Could not open tv favourites file");
        return;
    }
    QJsonArray array;
    for (int row = 0; row < m_playlistModel->rowCount(); ++row) {
        const PlaylistModelItem *item = m_playlistModel->item(row);
        if (item && item->favourite())
            array.append(item->url().toString());
    }
    QJsonObject object;
    object.insert(QStringLiteral("favourites"), array);
    const QByteArray text = QJsonDocument(object).toJson();
    QString error;
    if (file.write(text) != text.size() || !AtomicFile::commit(file, &error)) {
        file.cancelWriting();
        qCritical().noquote() << "Could not write tv favourites file:" << (error.isEmpty() ? file.errorString() : error);
    }
}

// ---------------------------------------------------------------------------------
// TV guide

void Config::downloadJtv()
{
    const QString folder = cacheFolder();
    QDir().mkpath(folder);
    const QString staged = stagingName(jtvFileName);
    const QString stagedPath = folder + QLatin1Char('/') + staged;

    HttpDownload *download = newDownload(HttpDownload::File, GuideMaxBytes, GuideDeadlineMs);
    download->setUrl(m_jtvUrl);
    download->setSavePath(folder);
    download->setFileName(staged);

    const int serial = ++m_guideSerial;
    connect(download, &HttpDownload::downloadFinished, download, [this, download] { releaseDownload(download); });
    connect(download, &HttpDownload::downloadError, download, [this, download, stagedPath](const QString &error) {
        qWarning().noquote() << QStringLiteral("Error to download jtv: ") + error;
        QFile::remove(stagedPath);
        releaseDownload(download);
    });
    connect(download, &HttpDownload::fileDownloaded, download,
            [this, download, stagedPath, serial](const QString &, const QString &) {
                releaseDownload(download);
                ingestGuide(stagedPath, true, serial);
            });
    download->download();
}

void Config::ingestGuide(const QString &path, bool staged, int serial, bool announce)
{
    // Checking and indexing a large guide takes seconds: never on the GUI thread.
    ++m_workerJobs;
    auto *watcher = new QFutureWatcher<GuideIndex::Scan>(this);
    connect(watcher, &QFutureWatcher<GuideIndex::Scan>::finished, this, [this, watcher, path, staged, serial, announce] {
        watcher->deleteLater();
        --m_workerJobs;
        const GuideIndex::Scan scan = watcher->result();
        if (serial != m_guideSerial) {
            // An older address finishing after a newer one: the newer guide stays.
            qDebug().noquote() << "Dropped a guide that is no longer wanted:" << path;
            if (staged)
                QFile::remove(path);
            return;
        }
        if (!staged) {
            if (scan.status != GuideIndex::CannotOpen && !m_guideIndex->isCurrent(path))
                m_guideIndex->adopt(path, scan);
            if (announce && scan.status == GuideIndex::Ok)
                emit jtvDownloaded();
            return;
        }
        if (scan.status != GuideIndex::Ok || scan.spans.isEmpty()) {
            QFile::remove(path);
            qWarning().noquote() << QStringLiteral("Error to download jtv: ")
                                        + QStringLiteral("the answer is not a guide document");
            return;
        }
        QString error;
        if (!AtomicFile::replace(path, jtvFilePath(), &error)) {
            QFile::remove(path);
            qCritical().noquote() << QStringLiteral("Error to download jtv: ")
                                         + QStringLiteral("could not store it: ") + error;
            return;
        }
        m_guideIndex->adopt(jtvFilePath(), scan);
        // The stamp says which converted guide the cache holds; any other guide voids it.
        if (serial == m_pendingGuideStampSerial && !m_pendingGuideStamp.isEmpty()) {
            QString stampError;
            if (!AtomicFile::write(guideStampPath(), m_pendingGuideStamp.toLatin1(), &stampError))
                qWarning().noquote() << "Could not store the guide's stamp:" << stampError;
        } else {
            QFile::remove(guideStampPath());
        }
        m_pendingGuideStamp.clear();
        emit jtvDownloaded();
    });
    watcher->setFuture(QtConcurrent::run([path, staged] {
        GuideIndex::Scan scan = GuideIndex::scan(path);
        QString error;
        if (staged && scan.status == GuideIndex::Ok && !AtomicFile::sync(path, &error)) {
            qCritical().noquote() << "Cannot write the guide to the disk:" << error;
            scan.status = GuideIndex::CannotOpen;
        }
        return scan;
    }));
}

void Config::loadJtv(const QString &key)
{
    m_jtvModel->clear();
    QVariantList list;
    switch (m_guideIndex->programmes(jtvFilePath(), key, &list)) {
    case GuideIndex::CannotOpen:
        qWarning("Could not open jtv file");
        qWarning("Jtv file is empty");
        break;
    case GuideIndex::Empty:
        qWarning("Jtv file is empty");
        break;
    case GuideIndex::Ok:
        break;
    }
    const QString titleKey = QStringLiteral("title");
    const QString timeKey = QStringLiteral("time");
    TextCap cap;
    const int count = list.size();
    QDateTime start = count > 0 ? programmeTime(list.at(0).toMap().value(timeKey)) : QDateTime();
    for (int i = 0; i < count; ++i) {
        const QVariantMap programme = list.at(i).toMap();
        QDateTime end;
        if (i + 1 < count)
            end = programmeTime(list.at(i + 1).toMap().value(timeKey));
        m_jtvModel->append(new JtvModelItem(start, end, cap(programme.value(titleKey).toString()), nullptr));
        start = end;
    }
    cap.report("guide");
    m_jtvModel->finishModelUpdate();
}

int Config::guideIndexCount() const
{
    return m_guideIndex->indexCount();
}

// ---------------------------------------------------------------------------------
// Video portal

void Config::loadVideoPortal(const QUrl &url)
{
    m_playlistModel->clear();
    setContent(NoContent);
    const int serial = ++m_portalSerial;
    HttpDownload *download = newDownload(HttpDownload::Memory, PortalMaxBytes, ConfigDeadlineMs);
    download->setUrl(url);
    connect(download, &HttpDownload::downloadFinished, download, [this, download] {
        releaseDownload(download);
    });
    connect(download, &HttpDownload::fileDownloaded, download,
            [this, download, url, serial](const QString &, const QString &data) {
                download->disconnect();
                connect(download, &HttpDownload::downloadFinished, download,
                        [this, download] { releaseDownload(download); });
                if (serial != m_portalSerial) {
                    qDebug() << "Dropped a portal listing that is no longer wanted:" << url;
                    return;
                }
                parseVideoPortal(data, url);
            });
    connect(download, &HttpDownload::downloadError, download, [download, this](const QString &) {
        download->disconnect();
        connect(download, &HttpDownload::downloadFinished, download,
                [this, download] { releaseDownload(download); });
        qCritical("Playlist download error, loading old config");
    });
    download->download();
}

QString Config::composePortalTitle(const QJsonObject &file)
{
    QString title = file.value(QStringLiteral("title")).toString();
    const int season = file.value(QStringLiteral("season")).toInt();
    const int episode = file.value(QStringLiteral("episode")).toInt();
    if (season > 0 && episode > 0)
        title.prepend(QString::number(episode) + QStringLiteral(". "));

    const QJsonValue version = file.value(QStringLiteral("version"));
    if (version.isObject()) {
        const QJsonObject v = version.toObject();
        const QJsonValue special = v.value(QStringLiteral("special"));
        const QJsonValue versionText = file.value(QStringLiteral("versionText"));
        const bool isSpecial = special.isBool() && special.toBool() && versionText.isString()
            && !versionText.toString().isEmpty();
        const QString versionTitle = v.value(QStringLiteral("title")).toString();
        if (isSpecial)
            title += QLatin1Char(' ') + versionText.toString() + QLatin1Char('(') + versionTitle
                + QLatin1Char(')');
        else
            title += QLatin1Char(' ') + versionTitle;
    }
    if (file.value(QStringLiteral("d3")).toBool())
        title += QStringLiteral(" 3D");
    if (file.value(QStringLiteral("qualityType")).toInt() != 1)
        title += QLatin1Char(' ') + file.value(QStringLiteral("qualityTypeString")).toString();
    const QJsonValue translation = file.value(QStringLiteral("translation"));
    if (translation.isString() && !translation.toString().isEmpty())
        title += QStringLiteral(" [") + translation.toString() + QLatin1Char(']');
    return title.trimmed();
}

void Config::parseVideoPortal(const QString &text, const QUrl &url)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (isEmptyDocument(doc))
        qWarning("Config file is empty");
    const QJsonObject object = doc.object();

    int selected = -1;
    const QString fileQuery = QUrlQuery(url).queryItemValue(QStringLiteral("file"));
    if (!fileQuery.isEmpty())
        selected = fileQuery.toInt();

    m_playlistModel->clear();
    TextCap cap;
    int refused = 0;
    const QJsonArray groups = object.value(QStringLiteral("data")).toArray();
    for (const QJsonValue &groupValue : groups) {
        const QJsonObject group = groupValue.toObject();
        QString groupTitle = cap(group.value(QStringLiteral("title")).toString());
        if (groupTitle.isEmpty())
            groupTitle = ungrouped;
        const QJsonArray files = group.value(QStringLiteral("files")).toArray();
        for (const QJsonValue &fileValue : files) {
            const QJsonObject file = fileValue.toObject();
            if (file.value(QStringLiteral("filetype")).toInt() != 1)
                continue;
            const QString title = cap(composePortalTitle(file));
            QUrl fileUrl(file.value(QStringLiteral("url")).toString(), QUrl::TolerantMode);
            if (!fileUrl.isEmpty() && !isNetworkStream(fileUrl)) {
                ++refused;
                fileUrl = QUrl();
            }
            const int id = file.value(QStringLiteral("id")).toInt();
            const int trackingTime = file.value(QStringLiteral("trackingTime")).toInt();
            if (selected == -1 && id != -1 && trackingTime > -1)
                selected = id;
            auto *item = new PlaylistModelItem(id, title, fileUrl, groupTitle, QString(), 0, false, nullptr);
            item->setFileId(id);
            item->setTrackingTime(trackingTime);
            m_playlistModel->append(item);
        }
    }
    cap.report("portal listing");
    if (refused > 0)
        qWarning().noquote() << QStringLiteral("%1 files of the portal listing name no network address; they will not play")
                                    .arg(refused);
    setContent(PortalFiles);
    if (selected == -1 && m_playlistModel->rowCount() > 0)
        selected = m_playlistModel->item(0)->id();
    emit playlistLoaded(selected);
}

// ---------------------------------------------------------------------------------
// Update check

void Config::checkForUpdate(const QJsonObject &object)
{
    int best = buildVersion;
    QUrl bestUrl;
    QString bestSha256;
    const bool beta = SettingsKeys::readBool(m_settings, QString::fromLatin1(SettingsKeys::betaUpdate),
                                             SettingsKeys::betaUpdateDefault);
    const QString platform = OsIntegration::platform();
    // A build whose installer was handed over without effect is never taken again.
    const int refused = SettingsKeys::readInt(m_settings, QString::fromLatin1(SettingsKeys::updateRefusedVersion), 0);
    const QJsonArray updates = object.value(QStringLiteral("iptv_updates")).toArray();
    for (const QJsonValue &value : updates) {
        const QJsonObject entry = value.toObject();
        const int v = entry.value(QStringLiteral("version")).toInt();
        if (v <= best || v == refused || entry.value(QStringLiteral("os")).toString() != platform)
            continue;
        const bool accepted = (v & 0xF0) >= 0x90 || beta
            || (v & releaseLineMask) == (buildVersion & releaseLineMask);
        if (!accepted)
            continue;
        best = v;
        bestUrl = QUrl(entry.value(QStringLiteral("url")).toString(), QUrl::TolerantMode);
        bestSha256 = entry.value(QStringLiteral("sha256")).toString();
    }
    if (best <= buildVersion)
        return;

    qDebug() << "Update available:" << best << bestUrl;
    // A distribution package is updated by the distribution, never by a fetched installer.
    constexpr bool selfUpdate = NOVALINE_SELF_UPDATE;
    if (!selfUpdate) {
        qDebug() << "Self-update is off in this build; update" << best << "not fetched";
        return;
    }
    // One archive at a time into the one update folder, and never one already unpacked.
    if (best <= m_extractedVersion) {
        qDebug() << "Update" << best << "is already unpacked";
        return;
    }
    if (m_updateInFlight) {
        qDebug() << "Update" << m_updateInFlightVersion << "is still being fetched; not starting" << best;
        return;
    }
    auto *archive = new UpdateArchive(best, bestUrl, m_settings, this);
    if (!bestSha256.isEmpty())
        archive->setExpectedSha256(bestSha256);
    m_updateInFlight = archive;
    m_updateInFlightVersion = best;
    ++m_updateDownloadsStarted;
    connect(archive, &UpdateArchive::extracted, this, [this, archive, best] {
        if (m_updateInFlight == archive)
            m_updateInFlight = nullptr;
        recordExtracted(best);
    });
    connect(archive, &UpdateArchive::failed, this, [this, archive](const QString &) {
        if (m_updateInFlight == archive)
            m_updateInFlight = nullptr;
        archive->deleteLater();
    });
    archive->download();
}

void Config::recordExtracted(int version)
{
    m_extractedVersion = std::max(m_extractedVersion, version);
    writeSetting(QString::fromLatin1(SettingsKeys::updateState),
                 QString::fromLatin1(SettingsKeys::updateStateExtracted));
    writeSetting(QString::fromLatin1(SettingsKeys::updatePath),
                 cacheFolder() + QStringLiteral("/update/") + QStringLiteral("update.exe"));
    writeSetting(QString::fromLatin1(SettingsKeys::updateVersion), version);
    writeSetting(QString::fromLatin1(SettingsKeys::updateHandoffs), 0);
}
