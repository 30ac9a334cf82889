#include "mediacontrols.h"

#include "commandline.h"
#include "kernel.h"
#include "playermimetypes.h"
#include "windowactivation.h"

#include <config.h>
#include <jtvmodel.h>
#include <mediakeys.h>
#include <mprisservice.h>
#include <videoform.h>
#include <vlcenums.h>
#include <vlcplayer.h>

#include <QDBusConnection>
#include <QFileInfo>

namespace {

MprisService::Status statusOf(const VlcPlayer *player)
{
    switch (player ? player->state() : int(Vlc::Idle)) {
    case Vlc::Opening:
    case Vlc::Buffering:
    case Vlc::Playing:
        return MprisService::Status::Playing;
    case Vlc::Paused:
        return MprisService::Status::Paused;
    default:
        return MprisService::Status::Stopped;
    }
}

} // namespace

MprisService *attachMediaControls(Kernel *kernel, const char *desktopEntry)
{
    VideoForm *window = kernel->window();
    Config *config = kernel->configuration();

    MprisService::Identity identity;
    identity.name = QStringLiteral("Novaline IPTV");
    identity.desktopEntry = QString::fromLatin1(desktopEntry);
    identity.uriSchemes = QStringList{QStringLiteral("file"), QStringLiteral("iptvurl"), QStringLiteral("iptvvideo")};
    identity.mimeTypes = playerMimeTypes();
    auto *service = new MprisService(identity, kernel);
    service->publish(QDBusConnection::sessionBus(), QStringLiteral("novaline_iptv"));
    window->installEventFilter(new MediaKeys(service));

    // Channels are live: no length, no seeking.
    auto live = [config] { return config->mode() == Config::Iptv; };
    auto updateTrack = [=] {
        const PlaylistModelItem &item = window->currentItem();
        MprisService::Track track;
        if (!item.empty()) {
            track.title = item.title().isEmpty() ? QFileInfo(item.url().path()).fileName() : item.title();
            track.album = item.group();
            track.url = item.url();
            if (live())
                track.programme = config->jtvModel()->currentTitle();
            else if (const VlcPlayer *player = window->player())
                track.lengthUs = player->length() * 1000;
        }
        service->setTrack(track);
        const VlcPlayer *player = window->player();
        service->setCanSeek(!live() && player && player->seekable());
    };
    auto followPlayer = [=] {
        VlcPlayer *player = window->player();
        if (!player)
            return;
        QObject::connect(player, &VlcPlayer::stateChanged, service,
                         [service, player] { service->setStatus(statusOf(player)); });
        QObject::connect(player, &VlcPlayer::volumeChanged, service,
                         [service, player] { service->setVolume(player->volume() / 100.0); });
        QObject::connect(player, &VlcPlayer::timeChanged, service,
                         [service, player] { service->setPositionUs(player->time() * 1000); });
        QObject::connect(player, &VlcPlayer::lengthChanged, service, updateTrack);
        QObject::connect(player, &VlcPlayer::seekableChanged, service, updateTrack);
        service->setStatus(statusOf(player));
        service->setVolume(player->volume() / 100.0);
        updateTrack();
    };
    QObject::connect(window, &VideoForm::playerChanged, service, followPlayer);
    QObject::connect(window, &VideoForm::currentItemChanged, service, updateTrack);
    QObject::connect(config, &Config::modeChanged, service, updateTrack);
    QObject::connect(config->jtvModel(), &JtvModel::currentChanged, service, updateTrack);
    QObject::connect(config->jtvModel(), &QAbstractItemModel::modelReset, service, updateTrack);
    service->setCanGoNext(true);
    followPlayer();

    // Requests, the same ways the scenes and later copies take.
    QObject::connect(service, &MprisService::raiseRequested, window, [window] {
        std::wstring title = QString::fromLatin1(windowTitle).toStdWString();
        if (!activateWindow(title))
            window->requestActivate();
    });
    QObject::connect(service, &MprisService::quitRequested, window, &VideoForm::quit);
    QObject::connect(service, &MprisService::nextRequested, window, &VideoForm::playNext);
    QObject::connect(service, &MprisService::previousRequested, window, &VideoForm::playPrev);
    QObject::connect(service, &MprisService::openRequested, kernel,
                     [kernel](const QUrl &url) { kernel->openUrls({url}, false); });
    QObject::connect(service, &MprisService::volumeRequested, window,
                     [window](double volume) { window->requestVolume(qRound(volume * 100)); });
    auto withPlayer = [window](void (*action)(VlcPlayer *)) {
        return [window, action] {
            if (VlcPlayer *player = window->player(); player && !window->currentItem().empty())
                action(player);
        };
    };
    QObject::connect(service, &MprisService::playRequested, window, withPlayer([](VlcPlayer *p) { p->play(); }));
    QObject::connect(service, &MprisService::pauseRequested, window, withPlayer([](VlcPlayer *p) { p->pause(); }));
    QObject::connect(service, &MprisService::stopRequested, window, withPlayer([](VlcPlayer *p) { p->stop(); }));
    QObject::connect(service, &MprisService::playPauseRequested, window, withPlayer([](VlcPlayer *p) {
        if (statusOf(p) == MprisService::Status::Playing)
            p->pause();
        else
            p->play();
    }));
    // The player takes the position as a share of the length.
    QObject::connect(service, &MprisService::seekRequested, window, [window](qint64 positionUs) {
        VlcPlayer *player = window->player();
        if (player && player->length() > 0)
            player->setPosition(qreal(positionUs) / 1000.0 / qreal(player->length()));
    });
    return service;
}
