#include "vlctrackmodel.h"

VlcTrackModel::VlcTrackModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int VlcTrackModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_tracks.size();
}

QVariant VlcTrackModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Track &t = m_tracks.at(index.row());
    switch (role) {
    case IdRole:
        return t.id;
    case TitleRole:
    case Qt::DisplayRole:
        return t.title;
    default:
        return {};
    }
}

QHash<int, QByteArray> VlcTrackModel::roleNames() const
{
    return {{IdRole, "id"}, {TitleRole, "title"}};
}

int VlcTrackModel::idAt(int row) const
{
    return row >= 0 && row < m_tracks.size() ? m_tracks.at(row).id : -1;
}

QString VlcTrackModel::titleAt(int row) const
{
    return row >= 0 && row < m_tracks.size() ? m_tracks.at(row).title : QString();
}

int VlcTrackModel::rowOf(int id) const
{
    for (int i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks.at(i).id == id)
            return i;
    }
    return -1;
}

void VlcTrackModel::setTracks(const QVector<Track> &tracks)
{
    if (tracks == m_tracks)
        return;
    const int before = m_tracks.size();
    // Rows are added and removed at the end where possible, so menus built from the
    // model keep their entries (streams add tracks one by one).
    int common = 0;
    while (common < before && common < tracks.size() && m_tracks.at(common) == tracks.at(common))
        ++common;
    if (common < before) {
        beginRemoveRows(QModelIndex(), common, before - 1);
        m_tracks.resize(common);
        endRemoveRows();
    }
    if (common < tracks.size()) {
        beginInsertRows(QModelIndex(), common, tracks.size() - 1);
        m_tracks = tracks;
        endInsertRows();
    }
    if (m_tracks.size() != before)
        emit countChanged();
}
