#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

// One playlist entry. Registered to the scenes as TvItem (module MyTools 1.0).
// Copyable by assignment (the QObject identity and parent stay).
class PlaylistModelItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int id READ id NOTIFY itemChanged)
    Q_PROPERTY(QString title READ title NOTIFY itemChanged)
    Q_PROPERTY(QUrl url READ url NOTIFY itemChanged)
    Q_PROPERTY(QString group READ group NOTIFY itemChanged)
    Q_PROPERTY(int aspect READ aspect NOTIFY itemChanged)
    Q_PROPERTY(bool empty READ empty NOTIFY itemChanged)
    Q_PROPERTY(bool favourite READ favourite NOTIFY itemChanged)
    Q_PROPERTY(int fileId READ fileId NOTIFY itemChanged)
    // HTTP headers a channel list asks for when its stream is opened.
    Q_PROPERTY(QString userAgent READ userAgent NOTIFY itemChanged)
    Q_PROPERTY(QString referrer READ referrer NOTIFY itemChanged)

public:
    // An empty item (empty() is true).
    explicit PlaylistModelItem(QObject *parent = nullptr);
    PlaylistModelItem(int id, const QString &title, const QUrl &url, const QString &group,
                      const QString &jtv, int aspect, bool favourite, QObject *parent = nullptr);
    PlaylistModelItem(const PlaylistModelItem &other);  // copies the values, no parent
    PlaylistModelItem &operator=(const PlaylistModelItem &other);  // emits itemChanged once

    int id() const { return m_id; }
    QString title() const { return m_title; }
    QUrl url() const { return m_url; }
    QString group() const { return m_group; }
    QString jtv() const { return m_jtv; }
    int aspect() const { return m_aspect; }
    bool favourite() const { return m_favourite; }
    bool empty() const { return m_empty; }
    int fileId() const { return m_fileId; }
    int trackingTime() const { return m_trackingTime; }
    QString userAgent() const { return m_userAgent; }
    QString referrer() const { return m_referrer; }

    void setTitle(const QString &title);
    void setFavourite(bool favourite);
    void setEmpty(bool empty);
    void setFileId(int fileId);
    void setTrackingTime(int seconds);
    void setHttpHeaders(const QString &userAgent, const QString &referrer);

signals:
    void itemChanged();

private:
    int m_id = 0;
    QString m_title;
    QUrl m_url;
    QString m_group;
    QString m_jtv;
    int m_aspect = 0;
    bool m_favourite = false;
    bool m_empty = true;
    int m_fileId = 0;
    int m_trackingTime = 0;
    QString m_userAgent;
    QString m_referrer;
};
