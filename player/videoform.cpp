#include "videoform.h"

#include "channelmemory.h"
#include "config.h"
#include "settingskeys.h"
#include "displaykeeper.h"
#include "httpdownload.h"
#include "jtvmodel.h"
#include "osintegration.h"
#include "picturewait.h"
#include "playlistmodel.h"
#include "qmltypes.h"
#include "reconnector.h"
#include "renderbackend.h"
#include "settingsform.h"
#include "vlcqml.h"
#include "vlctrackmodel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlError>
#include <QScreen>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSurfaceFormat>

namespace {
const char *const ShortVersion = "2.0.4";
const char *const VlcArgsPrefix =
        "--intf=dummy --no-media-library --no-stats --no-osd --no-loop "
        "--no-video-title-show --drop-late-frames --network-caching=";
const QLatin1String TrackingSuffix("/%1/%2");

// The scene graph backend has to be chosen before the first Qt Quick window exists,
// which is this window's base.
QWindow *afterChoosingBackend(QWindow *parent)
{
    RenderBackend::choose();
    return parent;
}
}

VideoForm::VideoForm(Config *config, QWindow *parent)
    : QQuickView(afterChoosingBackend(parent)), config(config)
{
    displayKeeper = new DisplayKeeper(this);

    // A translucent surface only where a compositor can blend it; otherwise the
    // transparent parts would show garbage.
    const bool composition = OsIntegration::compositionEnabled();
    if (composition) {
        if (!RenderBackend::choose())
            setSurfaceType(QSurface::OpenGLSurface);
        QSurfaceFormat surfaceFormat = format();
        surfaceFormat.setAlphaBufferSize(8);
        surfaceFormat.setRenderableType(QSurfaceFormat::DefaultRenderableType);
        setFormat(surfaceFormat);
        setColor(Qt::transparent);
    }

    QSettings *settings = config->settings();
    // The video module reads this once, when it creates its libVLC instance, which
    // happens only when the first scene with a player is built: set it before.
    const uint caching = settings->value(QLatin1String(SettingsKeys::networkCaching),
                                         SettingsKeys::networkCachingDefault).toUInt();
    qputenv("VLC_ARGS", QByteArray(VlcArgsPrefix) + QByteArray::number(caching));

    // A cache file cut short by a full disk crashes Qt's type loader at every later
    // start; the scenes must not depend on a writable, intact cache.
    if (!qEnvironmentVariableIsSet("QML_DISABLE_DISK_CACHE"))
        qputenv("QML_DISABLE_DISK_CACHE", "1");

    registerQmlTypes();

    connect(this, &QWindow::windowStateChanged, this, &VideoForm::windowStateChanged);
    setTitle(QStringLiteral("Novaline TV"));
    connect(config, &Config::jtvDownloaded, this, &VideoForm::jtvDownloaded);

    // Children of the window, so they go after the scenes that show them.
    searchModel = new QSortFilterProxyModel(this);
    searchModel->setSourceModel(config->playlistModel());
    searchModel->setFilterRole(PlaylistModel::TitleRole);
    searchModel->setFilterCaseSensitivity(Qt::CaseInsensitive);

    favouritesModel = new QSortFilterProxyModel(this);
    favouritesModel->setSourceModel(config->playlistModel());
    favouritesModel->setFilterRole(PlaylistModel::FavouriteRole);
    favouritesModel->setFilterFixedString(QStringLiteral("true"));

    m_reconnector = new Reconnector(nullptr, this);
    m_pictureWait = new PictureWait(nullptr, this);
    m_channelMemory = new ChannelMemory(channelMemoryPath(), this);
    connect(m_reconnector, &Reconnector::retryRequested, this, [this] {
        if (m_player)
            m_player->reopen();
    });
    connect(m_reconnector, &Reconnector::endReached, this, &VideoForm::playNext);

    QQmlContext *context = rootContext();
    context->setContextProperty(QStringLiteral("viewer"), this);
    context->setContextProperty(QStringLiteral("config"), config);
    context->setContextProperty(QStringLiteral("shortVersion"), QString::fromLatin1(ShortVersion));
    context->setContextProperty(QStringLiteral("platform"), OsIntegration::platform());
    context->setContextProperty(QStringLiteral("compositionEnabled"), composition);
    context->setContextProperty(QStringLiteral("jtvModel"), config->jtvModel());
    context->setContextProperty(QStringLiteral("playlistModel"), config->playlistModel());
    context->setContextProperty(QStringLiteral("playlistSearchModel"), searchModel);
    context->setContextProperty(QStringLiteral("playlistFavouritesModel"), favouritesModel);
    context->setContextProperty(QStringLiteral("initialPlaylistState"),
                                SettingsKeys::readBool(settings, QLatin1String(SettingsKeys::playerPlaylistState),
                                                       SettingsKeys::playerPlaylistStateDefault));
    context->setContextProperty(QStringLiteral("currentItem"), &m_currentItem);
    context->setContextProperty(QStringLiteral("reconnect"), m_reconnector);
    context->setContextProperty(QStringLiteral("pictureWait"), m_pictureWait);
    context->setContextProperty(QStringLiteral("channelMemory"), m_channelMemory);

    updateSettings();

    setResizeMode(QQuickView::SizeRootObjectToView);

    connect(config, &Config::playlistLoaded, this, [this](int id) { playTv(id); },
            Qt::DirectConnection);
    connect(this, &QQuickView::statusChanged, this, [this](QQuickView::Status s) {
        if (s == QQuickView::Error)
            logSceneErrors();
    });
}

VideoForm::~VideoForm() = default;

void VideoForm::restoreAndShow()
{
    restoreAndShow(QUrl(QString::fromLatin1(RootScene)));
}

void VideoForm::restoreAndShow(const QUrl &rootScene)
{
    QRect rect(position(), QSize(SettingsKeys::windowDefaultWidth, SettingsKeys::windowDefaultHeight));

    QSettings *settings = config->settings();
    if (settings->contains(QLatin1String(SettingsKeys::iptvWindow))) {
        const QRect stored = settings->value(QLatin1String(SettingsKeys::iptvWindow)).toRect();
        // An unreadable or empty value would leave a window of no size.
        if (stored.isValid())
            rect = stored;
        else
            qWarning() << "Stored window geometry is not usable, using the default size:"
                       << settings->value(QLatin1String(SettingsKeys::iptvWindow));
    }

    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize available = screen->availableSize();
        if (rect.right() >= available.width())
            rect.moveRight(available.width() - 1);
        if (rect.bottom() >= available.height())
            rect.moveBottom(available.height() - 1);
    }
    if (rect.left() < 0)
        rect.moveLeft(0);
    if (rect.top() < 0)
        rect.moveTop(0);

    setGeometry(rect);
    m_normalGeometry = rect;

    // libVLC starts while the scenes load, not when the first player is built.
    VlcQml::prepare();
    setSource(rootScene);
    show();
}

QString VideoForm::channelMemoryPath()
{
    return Config::dataFolder() + QLatin1String("/channels.json");
}

void VideoForm::setPlayer(VlcPlayer *player)
{
    if (m_player == player)
        return;
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    if (player) {
        // What the player does decides on retries and moving on; an end used to move
        // on from the scene, now it goes through the retry series.
        connect(player, &VlcPlayer::stateChanged, this, &VideoForm::playerStateChanged);
        connect(player, &VlcPlayer::stalledChanged, this, [this] {
            if (m_player->stalled())
                m_reconnector->fail(Reconnector::Stalled);
        });
        connect(player, &VlcPlayer::hasPictureChanged, this, [this] {
            playerPictureChanged();
            // Only a new picture counts: an ended stream keeps showing its last one.
            if (m_player->hasPicture())
                m_reconnector->recovered();
        });
        for (auto [model, field] : {std::make_pair(player->audioTrackModel(), int(ChannelMemory::AudioTrack)),
                                    std::make_pair(player->subtitleTrackModel(), int(ChannelMemory::SubtitleTrack))}) {
            auto restore = [this, model = model, field = field] { restoreTrack(model, field); };
            connect(model, &QAbstractItemModel::rowsInserted, this, restore, Qt::QueuedConnection);
            connect(model, &QAbstractItemModel::rowsRemoved, this, restore, Qt::QueuedConnection);
        }
    }
    emit playerChanged();
}

void VideoForm::playerStateChanged()
{
    switch (m_player->state()) {
    case Vlc::Ended:
        m_reconnector->fail(Reconnector::Ended);
        break;
    case Vlc::Error:
        m_reconnector->fail(Reconnector::Error);
        break;
    case Vlc::Paused:
        m_reconnector->cancel();
        break;
    default:
        break;
    }
    playerPictureChanged();
}

void VideoForm::playerPictureChanged()
{
    const int state = m_player->state();
    const bool active = state == Vlc::Opening || state == Vlc::Buffering || state == Vlc::Playing;
    m_pictureWait->setWaiting(active && !m_player->hasPicture());
}

void VideoForm::restoreTrack(VlcTrackModel *model, int field)
{
    bool &restored = field == ChannelMemory::AudioTrack ? m_audioRestored : m_subtitleRestored;
    if (!m_player || model->count() == 0) {
        restored = false; // a new media reports its tracks afresh
        return;
    }
    const QVariant id = m_channelMemory->value(m_channelMemory->currentUrl(), ChannelMemory::Field(field));
    if (restored || !id.isValid() || model->rowOf(id.toInt()) < 0)
        return;
    restored = true;
    if (field == ChannelMemory::AudioTrack)
        m_player->setAudioTrack(id.toInt());
    else
        m_player->setSubtitleTrack(id.toInt());
}

void VideoForm::logSceneErrors()
{
    qCritical() << "The player scene could not be loaded:" << source().toString();
    const QList<QQmlError> list = errors();
    for (const QQmlError &error : list)
        qCritical().noquote() << error.toString();
}

// Navigation ---------------------------------------------------------------------

void VideoForm::setCurrentEmpty()
{
    m_reconnector->cancel();
    m_currentItem = PlaylistModelItem();
    m_currentItem.setEmpty(true);
    emit currentItemChanged();
}

void VideoForm::clearCurrentItem()
{
    setCurrentEmpty();
}

void VideoForm::playTv(int id)
{
    const PlaylistModelItem *entry = config->playlistModel()->itemById(id);
    if (!entry) {
        setCurrentEmpty();
        return;
    }
    m_currentItem = *entry;
    // Only a channel of the channel list may become the start channel; the mode turns to
    // TV before that list arrives.
    if (config->holdsChannels()) {
        SettingsKeys::store(config->settings(), QLatin1String(SettingsKeys::lastUrl), entry->url());
        if (entry->url() != m_currentChannel) {
            const bool had = hasPreviousChannel();
            m_previousChannel = m_currentChannel;
            m_currentChannel = entry->url();
            if (had != hasPreviousChannel())
                emit hasPreviousChannelChanged();
        }
    }
    applyCurrentItem();
}

void VideoForm::applyCurrentItem()
{
    if (!m_formLoaded || m_currentItem.empty())
        return;
    if (config->mode() == Config::VideoTarvonaPro)
        sendTrackingReport();
    // Channels and portal files are retried when they break; local files are not.
    m_reconnector->begin(config->mode() != Config::LocalFile);
    m_channelMemory->setCurrentUrl(config->holdsChannels() ? m_currentItem.url() : QUrl());
    emit currentItemChanged();

    const QString key = m_currentItem.jtv();
    if (!key.isEmpty()) {
        config->loadJtv(key);
    } else {
        JtvModel *guide = config->jtvModel();
        guide->clear();
        guide->finishModelUpdate();
    }
}

void VideoForm::sendTrackingReport()
{
    const QString pattern = config->trackingUrl();
    if (pattern.isEmpty() || m_currentItem.empty() || m_currentItem.fileId() <= 0)
        return;

    const QString fileId = QString::number(m_currentItem.fileId());
    const QString seconds = QString::number(0);
    QString address;
    // The template is the portal address followed by "/%1/%2". Only those two markers
    // are filled in: the address itself may hold percent-escapes such as %2F, which
    // QString::arg would take for markers.
    if (pattern.endsWith(TrackingSuffix))
        address = pattern.left(pattern.size() - TrackingSuffix.size()) + QLatin1Char('/')
                + fileId + QLatin1Char('/') + seconds;
    else
        address = pattern.arg(fileId, seconds);

    auto *download = new HttpDownload(HttpDownload::Memory);
    download->setUrl(QUrl(address));
    connect(download, &HttpDownload::downloadFinished, download, &QObject::deleteLater);
    download->download();
}

void VideoForm::playNext()
{
    m_reconnector->cancel();
    if (m_currentItem.empty())
        return;
    const PlaylistModelItem *next = config->playlistModel()->nextItem(m_currentItem.id(), false);
    if (!next)
        return;
    if (next->id() == m_currentItem.id()) {
        setCurrentEmpty();
        return;
    }
    playTv(next->id());
}

void VideoForm::playPrev()
{
    m_reconnector->cancel();
    if (m_currentItem.empty())
        return;
    const PlaylistModelItem *prev = config->playlistModel()->prevItem(m_currentItem.id(), false);
    // The first entry answers with itself: playing it again would only repeat the
    // announcement (and a portal file's watch report).
    if (!prev || prev->id() == m_currentItem.id())
        return;
    playTv(prev->id());
}

void VideoForm::playPreviousChannel()
{
    if (!config->holdsChannels() || m_previousChannel.isEmpty())
        return;
    const PlaylistModelItem *entry = config->playlistModel()->itemByUrl(m_previousChannel);
    if (!entry)
        return;
    playTv(entry->id());
}

void VideoForm::loveChannel(const QUrl &url)
{
    if (!config->holdsChannels())
        return;
    PlaylistModel *model = config->playlistModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        const PlaylistModelItem *entry = model->item(row);
        if (entry && entry->url() == url)
            model->setData(row, !entry->favourite(), PlaylistModel::FavouriteRole);
    }
    config->saveFavourites();
}

void VideoForm::jtvDownloaded()
{
    if (!m_currentItem.empty())
        config->loadJtv(m_currentItem.jtv());
}

void VideoForm::setFormLoaded(bool loaded)
{
    const bool becameLoaded = loaded && !m_formLoaded;
    if (loaded == m_formLoaded)
        return;
    m_formLoaded = loaded;
    emit formLoadedChanged();
    // Announce the channel chosen while the scene was still loading.
    if (becameLoaded)
        applyCurrentItem();
}

// Persisted state ----------------------------------------------------------------

void VideoForm::updateSettings()
{
    QSettings *settings = config->settings();
    QQmlContext *context = rootContext();
    context->setContextProperty(QStringLiteral("initialVolume"),
                                SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::playerVolume),
                                                      SettingsKeys::playerVolumeDefault));
    context->setContextProperty(QStringLiteral("preferredAudioLanguages"),
                                SettingsKeys::readStringList(settings, QLatin1String(SettingsKeys::preferredAudioLanguage)));
    context->setContextProperty(QStringLiteral("preferredSubtitlesLanguages"),
                                SettingsKeys::readStringList(settings, QLatin1String(SettingsKeys::preferredSubtitlesLanguage)));
    context->setContextProperty(QStringLiteral("initialDeinterlacing"),
                                SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::deinterlacing),
                                                      SettingsKeys::deinterlacingDefault));
    context->setContextProperty(QStringLiteral("initialAspectRatio"),
                                SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::aspectRatio),
                                                      SettingsKeys::aspectRatioDefault));
    context->setContextProperty(QStringLiteral("initialCropRatio"),
                                SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::cropRatio),
                                                      SettingsKeys::cropRatioDefault));
    m_reconnector->setEnabled(SettingsKeys::readBool(settings, QLatin1String(SettingsKeys::reconnect),
                                                     SettingsKeys::reconnectDefault));
}

void VideoForm::saveVolume(double volume)
{
    // The slider moves in fractions; the player plays the rounded value.
    SettingsKeys::store(config->settings(), QLatin1String(SettingsKeys::playerVolume), qRound(volume));
}

void VideoForm::savePlaylistState(bool open)
{
    SettingsKeys::store(config->settings(), QLatin1String(SettingsKeys::playerPlaylistState), open);
}

void VideoForm::storeGeometry()
{
    // In full screen (or maximised) the geometry is the screen's; the window has to
    // come back in its normal size at the next start.
    const bool normal = !(windowStates() & (Qt::WindowFullScreen | Qt::WindowMaximized
                                            | Qt::WindowMinimized));
    const QRect rect = normal || !m_normalGeometry.isValid() ? geometry() : m_normalGeometry;
    SettingsKeys::store(config->settings(), QLatin1String(SettingsKeys::iptvWindow), rect);
}

void VideoForm::windowMoveFinished()
{
    storeGeometry();
}

void VideoForm::windowResizeFinished()
{
    storeGeometry();
}

// Window operations --------------------------------------------------------------

void VideoForm::trackNormalGeometry()
{
    if (!(windowStates() & (Qt::WindowFullScreen | Qt::WindowMaximized | Qt::WindowMinimized)))
        m_normalGeometry = geometry();
}

void VideoForm::moveEvent(QMoveEvent *event)
{
    QQuickView::moveEvent(event);
    trackNormalGeometry();
}

void VideoForm::resizeEvent(QResizeEvent *event)
{
    QQuickView::resizeEvent(event);
    trackNormalGeometry();
}

void VideoForm::windowMoved(int x, int y, int offset)
{
    Q_UNUSED(offset)
    setGeometry(geometry().translated(x, y));
    trackNormalGeometry();
}

void VideoForm::windowResized(int width, int height)
{
    const QRect current = geometry();
    const int w = qMax(current.width() + width, minimumWidth());
    const int h = qMax(current.height() + height, minimumHeight());
    setGeometry(QRect(current.topLeft(), QSize(w, h)));
    trackNormalGeometry();
}

void VideoForm::setMinimumWidth(int w)
{
    QQuickView::setMinimumWidth(w);
}

void VideoForm::setMinimumHeight(int h)
{
    QQuickView::setMinimumHeight(h);
}

bool VideoForm::stayOnTop() const
{
    return flags().testFlag(Qt::WindowStaysOnTopHint);
}

void VideoForm::setStayOnTop(bool on)
{
    // On X11 the hint alone moves the window in or out of the window manager's
    // "above" layer.
    setFlag(Qt::WindowStaysOnTopHint, on);
    emit stayOnTopChanged();
}

bool VideoForm::isFullscreen() const
{
    return windowStates().testFlag(Qt::WindowFullScreen);
}

void VideoForm::toggleFullscreen()
{
    const Qt::WindowStates states = windowStates();
    const bool leaving = states.testFlag(Qt::WindowFullScreen);
    if (!leaving)
        trackNormalGeometry();
    stateSignalled = false;
    setWindowStates(states ^ Qt::WindowFullScreen);
    // Without a window manager that restores it, the window would stay screen-sized.
    if (leaving && m_normalGeometry.isValid() && !windowStates().testFlag(Qt::WindowMaximized))
        setGeometry(m_normalGeometry);
    // The window's state notification has announced the change already, unless the
    // visible state stayed the same (a minimised window).
    if (!stateSignalled)
        emit isFullscreenChanged();
}

void VideoForm::windowStateChanged()
{
    stateSignalled = true;
    emit isFullscreenChanged();
}

void VideoForm::minimize()
{
    showMinimized();
}

void VideoForm::quit()
{
    QCoreApplication::quit();
}

void VideoForm::open(const QList<QUrl> &urls)
{
    emit dropped(urls);
}

void VideoForm::loadIptv()
{
    emit iptvModeRequested();
}

void VideoForm::showSettingsForm()
{
    if (!settingsForm) {
        settingsForm = new SettingsForm(config->settings());
        connect(settingsForm, &SettingsForm::settingsUpdated, this, &VideoForm::updateSettings);
        connect(settingsForm, &SettingsForm::releaseInstanceRequested,
                this, &VideoForm::releaseInstanceRequested, Qt::DirectConnection);
        connect(settingsForm, &SettingsForm::instanceRestoreRequested,
                this, &VideoForm::instanceRestoreRequested, Qt::DirectConnection);
        connect(settingsForm, &SettingsForm::channelsChanged, this, &VideoForm::channelsChanged);
    }
    settingsForm->show();
    settingsForm->raise();
}
