#include "playlistmodelitem.h"

PlaylistModelItem::PlaylistModelItem(QObject *parent)
    : QObject(parent)
{
}

PlaylistModelItem::PlaylistModelItem(int id, const QString &title, const QUrl &url,
                                     const QString &group, const QString &jtv, int aspect,
                                     bool favourite, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_title(title)
    , m_url(url)
    , m_group(group)
    , m_jtv(jtv)
    , m_aspect(aspect)
    , m_favourite(favourite)
    , m_empty(false)
{
}

PlaylistModelItem::PlaylistModelItem(const PlaylistModelItem &other)
    : QObject(nullptr)
    , m_id(other.m_id)
    , m_title(other.m_title)
    , m_url(other.m_url)
    , m_group(other.m_group)
    , m_jtv(other.m_jtv)
    , m_aspect(other.m_aspect)
    , m_favourite(other.m_favourite)
    , m_empty(other.m_empty)
    , m_fileId(other.m_fileId)
    , m_trackingTime(other.m_trackingTime)
    , m_userAgent(other.m_userAgent)
    , m_referrer(other.m_referrer)
{
}

PlaylistModelItem &PlaylistModelItem::operator=(const PlaylistModelItem &other)
{
    if (this == &other)
        return *this;
    m_id = other.m_id;
    m_title = other.m_title;
    m_url = other.m_url;
    m_group = other.m_group;
    m_jtv = other.m_jtv;
    m_aspect = other.m_aspect;
    m_favourite = other.m_favourite;
    m_empty = other.m_empty;
    m_fileId = other.m_fileId;
    m_trackingTime = other.m_trackingTime;
    m_userAgent = other.m_userAgent;
    m_referrer = other.m_referrer;
    emit itemChanged();
    return *this;
}

void PlaylistModelItem::setTitle(const QString &title)
{
    if (m_title == title)
        return;
    m_title = title;
    emit itemChanged();
}

void PlaylistModelItem::setFavourite(bool favourite)
{
    if (m_favourite == favourite)
        return;
    m_favourite = favourite;
    emit itemChanged();
}

void PlaylistModelItem::setEmpty(bool empty)
{
    if (m_empty == empty)
        return;
    m_empty = empty;
    emit itemChanged();
}

void PlaylistModelItem::setFileId(int fileId)
{
    if (m_fileId == fileId)
        return;
    m_fileId = fileId;
    emit itemChanged();
}

void PlaylistModelItem::setTrackingTime(int seconds)
{
    // Not a displayed property: no notification.
    m_trackingTime = seconds;
}

void PlaylistModelItem::setHttpHeaders(const QString &userAgent, const QString &referrer)
{
    if (m_userAgent == userAgent && m_referrer == referrer)
        return;
    m_userAgent = userAgent;
    m_referrer = referrer;
    emit itemChanged();
}
