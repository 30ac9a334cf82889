#include "playlistmodel.h"

#include <QSet>

PlaylistModel::PlaylistModel(bool uniqueCheck, QObject *parent)
    : AbstractListModel<PlaylistModelItem>(uniqueCheck, parent)
{
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || index.column() != 0)
        return QVariant();
    const PlaylistModelItem *it = item(index.row());
    if (!it)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return it->title();
    case IdRole:
        return it->id();
    case UrlRole:
        return it->url();
    case GroupRole:
        return it->group();
    case FavouriteRole:
        return it->favourite();
    case SelectedRole:
        return m_selectedId != -1 && it->id() == m_selectedId;
    case JtvRole:
        return it->jtv();
    case AspectRole:
        return it->aspect();
    case FileIdRole:
        return it->fileId();
    default:
        return QVariant();
    }
}

bool PlaylistModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    return setData(index.row(), value, role);
}

bool PlaylistModel::setData(int row, const QVariant &value, int role)
{
    PlaylistModelItem *it = item(row);
    if (!it)
        return false;
    const QModelIndex idx = index(row);
    switch (role) {
    case Qt::EditRole:
    case Qt::DisplayRole:
    case TitleRole: {
        const QString title = value.toString();
        if (title == it->title())
            return true;
        m_settingData = true;
        it->setTitle(title);
        m_settingData = false;
        emit dataChanged(idx, idx, {Qt::DisplayRole, TitleRole});
        return true;
    }
    case FavouriteRole: {
        // The scenes may write the flag as text; QVariant reads "false" and "" as false.
        const bool favourite = value.toBool();
        if (favourite == it->favourite())
            return true;
        m_settingData = true;
        it->setFavourite(favourite);
        m_settingData = false;
        emit dataChanged(idx, idx, {FavouriteRole});
        return true;
    }
    case FileIdRole: {
        bool ok = false;
        const int fileId = value.toInt(&ok);
        if (!ok)
            return false;
        if (fileId == it->fileId())
            return true;
        m_settingData = true;
        it->setFileId(fileId);
        m_settingData = false;
        emit dataChanged(idx, idx, {FileIdRole});
        return true;
    }
    case SelectedRole:
        if (value.toBool())
            selectItem(it->id());
        else if (m_selectedId == it->id())
            unselectAll();
        return true;
    default:
        return false;
    }
}

QHash<int, QByteArray> PlaylistModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(IdRole, "id");
    names.insert(TitleRole, "title");
    names.insert(UrlRole, "url");
    names.insert(GroupRole, "group");
    names.insert(FavouriteRole, "favourite");
    names.insert(SelectedRole, "selected");
    names.insert(JtvRole, "jtv");
    names.insert(AspectRole, "aspect");
    names.insert(FileIdRole, "fileId");
    return names;
}

void PlaylistModel::clear()
{
    const int before = m_items.size();
    beginResetModel();
    const QList<PlaylistModelItem *> old = m_items;
    m_items.clear();
    m_rowById.clear();
    m_rowByUrl.clear();
    m_keys.clear();
    m_indexDirty = false;
    m_selectedId = -1;
    endResetModel();
    qDeleteAll(old);
    setCount(before);
}

void PlaylistModel::adopt(PlaylistModelItem *it)
{
    it->setParent(this);  // no-op for the items of a batch, parented when taken
    connect(it, &PlaylistModelItem::itemChanged, this, &PlaylistModel::onItemChanged);
}

bool PlaylistModel::append(PlaylistModelItem *it)
{
    if (!it)
        return false;
    return append(QList<PlaylistModelItem *>{it}) == 1;
}

int PlaylistModel::append(const QList<PlaylistModelItem *> &items)
{
    ensureIndex();
    QList<PlaylistModelItem *> taken;
    taken.reserve(items.size());
    QSet<QUrl> batchUrls;
    QSet<PlaylistModelItem *> rejected;
    for (PlaylistModelItem *it : items) {
        // A null or an item handed over twice is never owned twice; an owned item has
        // this model as its parent (a lookup in the list would cost the list's length),
        // and so has one taken earlier in this batch.
        if (!it || rejected.contains(it) || it->parent() == this)
            continue;
        if (m_uniqueCheck && (m_rowByUrl.contains(it->url()) || batchUrls.contains(it->url()))) {
            rejected.insert(it);
            delete it;
            continue;
        }
        if (m_uniqueCheck)
            batchUrls.insert(it->url());
        it->setParent(this);
        taken.append(it);
    }
    if (taken.isEmpty())
        return 0;

    const int before = m_items.size();
    beginInsertRows(QModelIndex(), before, before + taken.size() - 1);
    m_items.reserve(before + taken.size());
    m_keys.reserve(before + taken.size());
    m_rowById.reserve(before + taken.size());
    m_rowByUrl.reserve(before + taken.size());
    for (PlaylistModelItem *it : taken) {
        m_items.append(it);
        m_keys.append(qMakePair(it->id(), it->url()));
        adopt(it);
    }
    indexRows(before);
    endInsertRows();
    setCount(before);
    return taken.size();
}

bool PlaylistModel::removeAt(int row)
{
    if (row < 0 || row >= m_items.size())
        return false;
    ensureIndex();
    const int before = m_items.size();
    beginRemoveRows(QModelIndex(), row, row);
    PlaylistModelItem *it = m_items.takeAt(row);
    const QPair<int, QUrl> key = m_keys.takeAt(row);
    if (it->id() == m_selectedId)
        m_selectedId = -1;
    // Shift the rows below instead of rehashing every key; a duplicate further down
    // takes over the removed entry's keys.
    const bool idIndexed = m_rowById.value(key.first, -1) == row;
    const bool urlIndexed = m_rowByUrl.value(key.second, -1) == row;
    if (idIndexed)
        m_rowById.remove(key.first);
    if (urlIndexed)
        m_rowByUrl.remove(key.second);
    for (auto i = m_rowById.begin(); i != m_rowById.end(); ++i) {
        if (i.value() > row)
            --i.value();
    }
    for (auto i = m_rowByUrl.begin(); i != m_rowByUrl.end(); ++i) {
        if (i.value() > row)
            --i.value();
    }
    bool idFound = !idIndexed;
    bool urlFound = !urlIndexed;
    for (int r = row; r < m_keys.size() && !(idFound && urlFound); ++r) {
        if (!idFound && m_keys.at(r).first == key.first) {
            m_rowById.insert(key.first, r);
            idFound = true;
        }
        if (!urlFound && m_keys.at(r).second == key.second) {
            m_rowByUrl.insert(key.second, r);
            urlFound = true;
        }
    }
    endRemoveRows();
    it->disconnect(this);
    delete it;
    setCount(before);
    return true;
}

PlaylistModelItem *PlaylistModel::itemById(int id) const
{
    return item(rowById(id));
}

PlaylistModelItem *PlaylistModel::itemByUrl(const QUrl &url) const
{
    ensureIndex();
    return item(m_rowByUrl.value(url, -1));
}

int PlaylistModel::rowById(int id) const
{
    ensureIndex();
    return m_rowById.value(id, -1);
}

PlaylistModelItem *PlaylistModel::nextItem(int id, bool cycle) const
{
    const int row = rowById(id);
    if (row < 0)
        return nullptr;
    if (row + 1 < m_items.size())
        return m_items.at(row + 1);
    return cycle ? m_items.first() : m_items.at(row);
}

PlaylistModelItem *PlaylistModel::prevItem(int id, bool cycle) const
{
    const int row = rowById(id);
    if (row < 0)
        return nullptr;
    if (row > 0)
        return m_items.at(row - 1);
    return cycle ? m_items.last() : m_items.at(row);
}

void PlaylistModel::selectItem(int id)
{
    const int newRow = rowById(id);
    if (newRow < 0 || id == m_selectedId)
        return;
    const int oldRow = m_selectedId == -1 ? -1 : rowById(m_selectedId);
    m_selectedId = id;
    if (oldRow >= 0)
        emit dataChanged(index(oldRow), index(oldRow), {SelectedRole});
    emit dataChanged(index(newRow), index(newRow), {SelectedRole});
}

void PlaylistModel::unselectAll()
{
    if (m_selectedId == -1)
        return;
    const int oldRow = rowById(m_selectedId);
    m_selectedId = -1;
    if (oldRow >= 0)
        emit dataChanged(index(oldRow), index(oldRow), {SelectedRole});
}

int PlaylistModel::selectedItemId() const
{
    return m_selectedId;
}

bool PlaylistModel::deleteSelectedItem()
{
    if (m_selectedId == -1)
        return false;
    const int row = rowById(m_selectedId);
    m_selectedId = -1;
    return removeAt(row);
}

void PlaylistModel::rebuildIndex() const
{
    m_rowById.clear();
    m_rowByUrl.clear();
    m_keys.clear();
    m_rowById.reserve(m_items.size());
    m_rowByUrl.reserve(m_items.size());
    m_keys.reserve(m_items.size());
    for (const PlaylistModelItem *it : qAsConst(m_items))
        m_keys.append(qMakePair(it->id(), it->url()));
    indexRows(0);
    m_indexDirty = false;
}

void PlaylistModel::indexRows(int from) const
{
    // The first row with a key wins. Rows of an empty index go in from the last, each
    // key once: one lookup a row instead of two.
    if (from == 0 || (m_rowById.isEmpty() && m_rowByUrl.isEmpty())) {
        for (int row = m_keys.size() - 1; row >= from; --row) {
            m_rowById.insert(m_keys.at(row).first, row);
            m_rowByUrl.insert(m_keys.at(row).second, row);
        }
        return;
    }
    for (int row = from; row < m_keys.size(); ++row) {
        if (!m_rowById.contains(m_keys.at(row).first))
            m_rowById.insert(m_keys.at(row).first, row);
        if (!m_rowByUrl.contains(m_keys.at(row).second))
            m_rowByUrl.insert(m_keys.at(row).second, row);
    }
}

void PlaylistModel::ensureIndex() const
{
    if (m_indexDirty)
        rebuildIndex();
}

void PlaylistModel::onItemChanged()
{
    auto *it = qobject_cast<PlaylistModelItem *>(sender());
    if (!it || m_settingData)
        return;
    const int row = m_items.indexOf(it);
    if (row < 0)
        return;
    // An item assigned a new value may carry another id or URL than the index knows.
    if (!m_indexDirty && m_keys.value(row) != qMakePair(it->id(), it->url()))
        m_indexDirty = true;
    if (m_indexDirty && m_selectedId != -1) {
        ensureIndex();
        if (!m_rowById.contains(m_selectedId))
            m_selectedId = -1;
    }
    emit dataChanged(index(row), index(row));
}

void PlaylistModel::setCount(int before)
{
    if (before != m_items.size())
        emit countChanged();
}
