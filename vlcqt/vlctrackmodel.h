#pragma once

#include <QAbstractListModel>
#include <QVector>

// The tracks of one kind (audio, video or subtitles) of the playing media, with the
// roles "id" and "title". When the stream reports tracks the first row is
// {-1, "Disable"}; the list is empty while nothing is known.
class VlcTrackModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Roles { IdRole = Qt::UserRole + 1, TitleRole };

    struct Track
    {
        int id = -1;
        QString title;
        bool operator==(const Track &o) const { return id == o.id && title == o.title; }
    };

    explicit VlcTrackModel(QObject *parent = nullptr);

    int count() const { return m_tracks.size(); }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE int idAt(int row) const;
    Q_INVOKABLE QString titleAt(int row) const;
    Q_INVOKABLE int rowOf(int id) const;

    const QVector<Track> &tracks() const { return m_tracks; }
    // Replaces the rows; does nothing when they are the same.
    void setTracks(const QVector<Track> &tracks);

signals:
    void countChanged();

private:
    QVector<Track> m_tracks;
};
