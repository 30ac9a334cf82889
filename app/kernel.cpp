#include "kernel.h"

#include "mediacontrols.h"
#include "singleinstance.h"
#include "videofileextensions.h"

#include <config.h>
#include <interfacelanguage.h>
#include <m3u.h>
#include <osintegration.h>
#include <settingskeys.h>
#include <updatearchive.h>
#include <videoform.h>

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QTimer>
#include <QtConcurrent>

#include <cstdlib>

namespace {

// A later copy writes its message right after connecting; a peer that stays silent
// this long is dropped.
constexpr int launchPeerTimeoutMs = 10000;

QString describeUrls(const QList<QUrl> &urls)
{
    QStringList texts;
    for (const QUrl &url : urls)
        texts << url.toString(QUrl::FullyEncoded);
    return texts.join(QLatin1Char(' '));
}

} // namespace

Kernel::Kernel(QSharedMemory *sharedMemory, const QList<QUrl> &urls, QObject *parent)
    : QObject(parent)
    , sharedMemory(sharedMemory)
{
    config = new Config;
    // Every text of the window, the scenes and the dialog is looked up as it is built.
    InterfaceLanguage::install(config->settings()->value(QLatin1String(SettingsKeys::uiLanguage),
                                                         QLatin1String(SettingsKeys::uiLanguageDefault)).toString());
    playerWindow = new VideoForm(config, nullptr);

    const QString executable = QCoreApplication::applicationFilePath();
    const QString openCommand = QLatin1Char('"') + executable + QStringLiteral("\" %1");
    // A handler entry written just now becomes visible to the desktop database only
    // after its folder monitor has run, which can take a second or two: wait for it on
    // a worker, never on the start path.
    QtConcurrent::run([executable, openCommand] {
        OsIntegration::setupProtocol(QStringLiteral("iptvurl"), executable, openCommand);
        OsIntegration::setupProtocol(QStringLiteral("iptvvideo"), executable, openCommand);
    });

    checkPendingUpdate();
    // A run killed in the middle of a download or an unpack leaves its files behind.
    Config::sweepPartialDownloads();
    UpdateArchive::sweepLeftovers();

    startServer();

    connect(playerWindow, &VideoForm::iptvModeRequested, playerWindow, [this] { openUrls({}, false); });
    connect(playerWindow, &VideoForm::channelsChanged, playerWindow, [this] {
        config->forgetChannelListOfThisRun();
        if (config->mode() == Config::Iptv)
            openUrls({}, false);
    });
    connect(playerWindow, &VideoForm::dropped, playerWindow, [this](const QList<QUrl> &dropped) {
        openUrls(dropped, config->mode() == Config::LocalFile);
    });
    connect(playerWindow, &VideoForm::releaseInstanceRequested, playerWindow, [this] { releaseInstance(); });
    connect(playerWindow, &VideoForm::instanceRestoreRequested, playerWindow, [this] { restoreInstance(); });

    attachMediaControls(this, NOVALINE_APP_ID);

    playerWindow->restoreAndShow();

    if (!openUrls(urls, false))
        config->updateConfig(QUrl());
}

Kernel::~Kernel()
{
    // closeApp has closed it already; close() of a closed server leaves the name
    // alone, which a successor may have taken meanwhile.
    if (server) {
        server->close();
        server->deleteLater();
    }
}

void Kernel::startServer()
{
    server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Copies of a burst arrive in any order; the sequencer restores launch order.
    auto *sequencer = new LaunchSequencer(server);
    connect(sequencer, &LaunchSequencer::open, this, [this](const QList<QUrl> &urls, bool append) {
        openUrls(urls, append);
    });
    QLocalServer::removeServer(QLatin1String(launchServerName));
    if (!server->listen(QLatin1String(launchServerName)))
        qCritical().noquote() << QStringLiteral("Cannot create local server: ") + server->errorString();
    connect(server, &QLocalServer::newConnection, this, &Kernel::acceptConnection);
}

void Kernel::acceptConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readLaunchMessages(socket); });
        auto *timer = new QTimer(socket);
        timer->setObjectName(QStringLiteral("launchPeerTimer"));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] {
            qWarning("Launch message connection timed out");
            socket->abort();
            socket->deleteLater();
        });
        timer->start(launchPeerTimeoutMs);
        if (socket->bytesAvailable() > 0)
            readLaunchMessages(socket);
    }
}

void Kernel::readLaunchMessages(QLocalSocket *socket)
{
    for (;;) {
        // Only the length field is judged until the whole message has arrived.
        QByteArray head = socket->peek(4);
        qint32 length = 0;
        if (!readLaunchMessageLength(head, &length))
            return;
        LaunchMessage message;
        QString error;
        if (takeLaunchMessage(head, message, &error) != LaunchMessageStatus::Invalid) {
            if (socket->bytesAvailable() - 4 < length)
                return;
            QByteArray bytes = socket->read(4 + qint64(length));
            if (takeLaunchMessage(bytes, message, &error) == LaunchMessageStatus::Complete) {
                server->findChild<LaunchSequencer *>()->receive(message);
                // Counted from now: opening a long list may take longer than the limit.
                if (auto *timer = socket->findChild<QTimer *>(QStringLiteral("launchPeerTimer")))
                    timer->start(launchPeerTimeoutMs);
                continue;
            }
        }
        qWarning().noquote() << error;
        socket->abort();
        socket->deleteLater();
        return;
    }
}

bool Kernel::openUrls(const QList<QUrl> &urls, bool append)
{
    qDebug().noquote() << QStringLiteral("Open urls, append ") + (append ? QStringLiteral("true") : QStringLiteral("false"))
                              + QStringLiteral(": ") + describeUrls(urls);

    config->setTrackingUrl(QString());
    if (!append)
        playerWindow->clearCurrentItem();

    if (urls.isEmpty()) {
        config->setMode(Config::Iptv);
        config->updateConfig(QUrl());
        return true;
    }

    config->setMode(Config::LocalFile);
    QList<QUrl> accepted;
    bool fetching = false;
    for (const QUrl &url : urls) {
        const QString scheme = url.scheme();
        if (scheme == QLatin1String("iptvurl")) {
            config->setMode(Config::Iptv);
            QUrl channel = url;
            channel.setScheme(QStringLiteral("http"));
            config->updateConfig(channel);
            fetching = true;
            break;
        }
        if (scheme == QLatin1String("iptvvideo")) {
            config->setMode(Config::VideoTarvonaPro);
            QUrl listing = url;
            listing.setScheme(QStringLiteral("http"));
            QString tracking = listing.toString();
            tracking.replace(QLatin1String("ajax/files"), QLatin1String("ajax/track/save"));
            tracking += QLatin1String("/%1/%2");
            config->setTrackingUrl(tracking);
            config->loadVideoPortal(listing);
            break;
        }
        if (url.isLocalFile()) {
            const QString suffix = QFileInfo(url.toString()).suffix();
            if (videoFileExtensions.contains(suffix)) {
                accepted.append(url);
            } else if (suffix.compare(QLatin1String("m3u"), Qt::CaseInsensitive) == 0
                       || suffix.compare(QLatin1String("m3u8"), Qt::CaseInsensitive) == 0) {
                // A channel list shows its channels in TV mode; a stream's own playlist
                // plays like a file.
                QFile list(url.toLocalFile());
                const QByteArray head = list.open(QIODevice::ReadOnly) ? list.read(1 << 20) : QByteArray();
                if (M3u::looksLikeChannelList(head)) {
                    config->setMode(Config::Iptv);
                    config->openChannelListForThisRun(url);
                    fetching = true;
                    break;
                }
                accepted.append(url);
            }
        }
    }
    if (config->mode() == Config::LocalFile)
        config->loadLocalFiles(accepted, append);
    return fetching;
}

void Kernel::checkPendingUpdate()
{
    QSettings *settings = config->settings();
    const int version = settings->value(QLatin1String(SettingsKeys::version), SettingsKeys::versionDefault).toInt();
    if (version != Config::buildVersion) {
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updatePath));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateState));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::lastUpdate));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateVersion));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateHandoffs));
        SettingsKeys::store(settings, QLatin1String(SettingsKeys::version), Config::buildVersion);
        UpdateArchive::clearUpdateCache();
        return;
    }

    const QString state = settings->value(QLatin1String(SettingsKeys::updateState),
                                          QLatin1String(SettingsKeys::updateStateDefault)).toString();
    const QString installer = settings->value(QLatin1String(SettingsKeys::updatePath)).toString();
    if (state != QLatin1String(SettingsKeys::updateStateExtracted) || !QFile::exists(installer))
        return;

    // An installer that leaves the version as it was would get every start, and the
    // player could never be used again: two tries per update, then it is given up.
    const int handoffs = SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::updateHandoffs), 0);
    const int updateVersion = SettingsKeys::readInt(settings, QLatin1String(SettingsKeys::updateVersion), 0);
    if (handoffs >= SettingsKeys::updateHandoffsMax) {
        qCritical().noquote() << QStringLiteral("The update %1 was handed to its installer %2 times without effect; giving it up")
                                     .arg(updateVersion)
                                     .arg(handoffs);
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updatePath));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateState));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateVersion));
        SettingsKeys::remove(settings, QLatin1String(SettingsKeys::updateHandoffs));
        if (updateVersion > 0)
            SettingsKeys::store(settings, QLatin1String(SettingsKeys::updateRefusedVersion), updateVersion);
        settings->sync();
        UpdateArchive::clearUpdateCache();
        return;
    }
    SettingsKeys::store(settings, QLatin1String(SettingsKeys::updateHandoffs), handoffs + 1);
    settings->sync();

    if (OsIntegration::openUrl(QUrl::fromLocalFile(installer))) {
        qDebug("Exiting for update");
        if (sharedMemory)
            sharedMemory->detach();
        settings->sync();
        exit(0);
    }
    // Once per update; the next start tries once more and then gives it up.
    if (handoffs == 0)
        qCritical("Error to start update process!");
    else
        qDebug("The update installer could not be started again");
}

void Kernel::releaseInstance()
{
    // A new copy is about to start for the update: it must find neither the segment
    // nor the server, so that it becomes the first copy.
    qDebug("Releasing the single instance");
    // The server first: a copy that finds the segment gone binds the name at once.
    if (server)
        server->close();
    if (sharedMemory && sharedMemory->isAttached())
        sharedMemory->detach();
}

void Kernel::restoreInstance()
{
    qDebug("Taking the single instance back");
    if (sharedMemory && !sharedMemory->isAttached()) {
        if (!reacquireFirstInstance(*sharedMemory))
            qWarning("Cannot take the single-instance segment back");
        else if (server)
            // The segment counts launches from the start again.
            server->findChild<LaunchSequencer *>()->reset();
    }
    if (server && !server->isListening()) {
        QLocalServer::removeServer(QLatin1String(launchServerName));
        if (!server->listen(QLatin1String(launchServerName)))
            qCritical().noquote() << QStringLiteral("Cannot create local server: ") + server->errorString();
    }
}

void Kernel::closeApp()
{
    qDebug("Closing iptv player");
    // The server goes before the segment: once the segment is gone a new copy may bind
    // the name, and closing after that would remove the new copy's socket.
    if (server)
        server->close();
    if (sharedMemory)
        sharedMemory->detach();
    playerWindow->storeGeometry();
    config->settings()->sync();
    deleteLater();
}
