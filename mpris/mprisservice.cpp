#include "mprisservice.h"

#include "mprisadaptors_p.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>

#include <cmath>

Q_LOGGING_CATEGORY(lcMpris, "novaline.mpris")

namespace {
// Track ids must not lie under /org/mpris, which the interface keeps for itself.
const QLatin1String TrackPathPrefix("/tv/novaline/iptv/track/");
const QLatin1String NoTrackPath("/org/mpris/MediaPlayer2/TrackList/NoTrack");
constexpr double MaxVolume = 2.0;
}

MprisService::MprisService(const Identity &identity, QObject *parent)
    : QObject(parent)
    , m_identity(identity)
    , m_bus(QString())
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisService::~MprisService()
{
    if (!m_serviceName.isEmpty()) {
        m_bus.unregisterService(m_serviceName);
        m_bus.unregisterObject(QLatin1String(ObjectPath));
    }
}

bool MprisService::publish(const QDBusConnection &bus, const QString &nameSuffix)
{
    if (!bus.isConnected()) {
        qCWarning(lcMpris) << "No session bus; media controls are off";
        return false;
    }
    QDBusConnection connection(bus);
    if (!connection.registerObject(QLatin1String(ObjectPath), this, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcMpris) << "Cannot export the media-control object:" << connection.lastError().message();
        return false;
    }
    const QString name = QStringLiteral("org.mpris.MediaPlayer2.") + nameSuffix;
    // Never queued, never replacing: the name belongs to whoever holds it.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            connection.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                    QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qCWarning(lcMpris).noquote() << "Media controls off: the bus name" << name << "is taken";
        connection.unregisterObject(QLatin1String(ObjectPath));
        return false;
    }
    m_bus = connection;
    m_serviceName = name;
    qCDebug(lcMpris).noquote() << "Media controls on the session bus as" << name;
    return true;
}

QString MprisService::statusText() const
{
    switch (m_status) {
    case Status::Playing:
        return QStringLiteral("Playing");
    case Status::Paused:
        return QStringLiteral("Paused");
    case Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QDBusObjectPath MprisService::trackId() const
{
    if (!hasTrack())
        return QDBusObjectPath(NoTrackPath);
    return QDBusObjectPath(TrackPathPrefix + QString::number(m_trackSerial));
}

QVariantMap MprisService::metadata() const
{
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
    if (!hasTrack())
        return map;
    if (!m_track.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), m_track.title);
    if (!m_track.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), m_track.album);
    if (!m_track.programme.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{m_track.programme});
    if (!m_track.url.isEmpty())
        map.insert(QStringLiteral("xesam:url"), m_track.url.toString(QUrl::FullyEncoded));
    if (m_track.lengthUs > 0)
        map.insert(QStringLiteral("mpris:length"), qlonglong(m_track.lengthUs));
    return map;
}

void MprisService::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    announce(PlayerInterface, {{QStringLiteral("PlaybackStatus"), statusText()}});
}

void MprisService::setTrack(const Track &track)
{
    if (track == m_track)
        return;
    // The same entry with a new programme or a length found later keeps its id.
    if (track.title != m_track.title || track.url != m_track.url)
        ++m_trackSerial;
    m_track = track;
    const bool has = hasTrack();
    announce(PlayerInterface, {{QStringLiteral("Metadata"), metadata()},
                               {QStringLiteral("CanPlay"), has},
                               {QStringLiteral("CanPause"), has},
                               {QStringLiteral("CanGoNext"), canGoNext()},
                               {QStringLiteral("CanGoPrevious"), canGoNext()},
                               {QStringLiteral("CanSeek"), canSeek()}});
}

void MprisService::setVolume(double volume)
{
    if (qFuzzyCompare(volume + 1.0, m_volume + 1.0))
        return;
    m_volume = volume;
    announce(PlayerInterface, {{QStringLiteral("Volume"), m_volume}});
}

void MprisService::setCanSeek(bool can)
{
    if (can == m_canSeek)
        return;
    m_canSeek = can;
    announce(PlayerInterface, {{QStringLiteral("CanSeek"), canSeek()}});
}

void MprisService::setCanGoNext(bool can)
{
    if (can == m_canGoNext)
        return;
    m_canGoNext = can;
    announce(PlayerInterface, {{QStringLiteral("CanGoNext"), canGoNext()},
                               {QStringLiteral("CanGoPrevious"), canGoNext()}});
}

void MprisService::seekBy(qint64 offsetUs)
{
    if (!canSeek())
        return;
    const qint64 target = m_positionUs + offsetUs;
    // Past the end means the next entry, as the interface says.
    if (m_track.lengthUs > 0 && target > m_track.lengthUs) {
        emit nextRequested();
        return;
    }
    const qint64 position = qMax<qint64>(0, target);
    emit seekRequested(position);
    m_positionUs = position;
    emit seeked(position);
}

void MprisService::seekTo(const QDBusObjectPath &track, qint64 positionUs)
{
    // A request for an entry that no longer plays, or outside it, is ignored.
    if (!canSeek() || track != trackId() || positionUs < 0
        || (m_track.lengthUs > 0 && positionUs > m_track.lengthUs))
        return;
    emit seekRequested(positionUs);
    m_positionUs = positionUs;
    emit seeked(positionUs);
}

bool MprisService::openUri(const QString &uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || !m_identity.uriSchemes.contains(url.scheme())) {
        qCWarning(lcMpris).noquote() << "Media controls: cannot open" << uri;
        if (calledFromDBus())
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("Cannot open ") + uri);
        return false;
    }
    emit openRequested(url);
    return true;
}

void MprisService::askVolume(double volume)
{
    if (std::isnan(volume))
        return;
    emit volumeRequested(qBound(0.0, volume, MaxVolume));
}

void MprisService::announce(const char *interface, const QVariantMap &changed)
{
    if (m_serviceName.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(ObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(interface) << changed << QStringList();
    m_bus.send(signal);
}
