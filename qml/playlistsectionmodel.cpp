#include "playlistsectionmodel.h"

#include "scenelogic.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

const QString kUngrouped = QStringLiteral("ungrouped");

// Identity of a row across rebuilds: an entry by its id, a header by its group and run.
struct Key {
    bool header;
    int id;
    QString group;
    int occurrence;
    bool operator==(const Key &o) const
    {
        return header == o.header && (header ? group == o.group && occurrence == o.occurrence
                                             : id == o.id);
    }
};
uint qHash(const Key &k, uint seed = 0)
{
    return k.header ? ::qHash(k.group, seed) ^ uint(k.occurrence) : ::qHash(k.id, seed) ^ 0x5bd1e995u;
}

}  // namespace

bool PlaylistSectionModel::Row::sameKey(const Row &o) const
{
    return header == o.header
        && (header ? group == o.group && occurrence == o.occurrence : id == o.id);
}

bool PlaylistSectionModel::Row::sameValues(const Row &o) const
{
    return title == o.title && url == o.url && group == o.group && favourite == o.favourite
        && selected == o.selected;
}

PlaylistSectionModel::PlaylistSectionModel(QObject *parent)
    : QAbstractListModel(parent), m_batchTimer(new QTimer(this))
{
    // One batch per frame interval, so that the view draws between batches.
    m_batchTimer->setSingleShot(true);
    m_batchTimer->setInterval(16);
    connect(m_batchTimer, &QTimer::timeout, this, &PlaylistSectionModel::continueInsertion);
}

void PlaylistSectionModel::setInsertBatch(int rows)
{
    rows = std::max(1, rows);
    if (rows == m_insertBatch)
        return;
    m_insertBatch = rows;
    emit insertBatchChanged();
}

void PlaylistSectionModel::setPendingState(bool syncScheduled, bool hasTarget)
{
    const bool before = pending();
    m_pending = syncScheduled;
    m_hasTarget = hasTarget;
    if (!m_hasTarget)
        m_target.clear();
    if (pending() != before)
        emit pendingChanged();
}

QString PlaylistSectionModel::normalizedGroup(const QString &group)
{
    return scenes::groupKey(group);
}

void PlaylistSectionModel::setSourceModel(QAbstractItemModel *model)
{
    if (m_source == model)
        return;
    for (const auto &c : qAsConst(m_connections))
        disconnect(c);
    m_connections.clear();
    m_source = model;
    if (model) {
        auto structural = [this] { scheduleSync(); };
        m_connections << connect(model, &QAbstractItemModel::rowsInserted, this, structural)
                      << connect(model, &QAbstractItemModel::rowsRemoved, this, structural)
                      << connect(model, &QAbstractItemModel::rowsMoved, this, structural)
                      << connect(model, &QAbstractItemModel::layoutChanged, this, structural)
                      << connect(model, &QAbstractItemModel::modelReset, this,
                                 [this] {
                                     resolveRoles();
                                     scheduleSync();
                                 })
                      << connect(model, &QAbstractItemModel::dataChanged, this,
                                 &PlaylistSectionModel::onSourceDataChanged)
                      << connect(model, &QObject::destroyed, this, [this] {
                             m_batchTimer->stop();
                             setPendingState(false, false);
                             beginResetModel();
                             m_rows.clear();
                             endResetModel();
                             emit countChanged();
                         });
    }
    resolveRoles();
    sync();
    emit sourceModelChanged();
}

void PlaylistSectionModel::setCurrentGroup(const QString &group)
{
    if (m_currentGroup == group)
        return;
    m_currentGroup = group;
    emit currentGroupChanged();
    sync();
}

void PlaylistSectionModel::resolveRoles()
{
    m_idRole = m_titleRole = m_urlRole = m_groupRole = m_favouriteRole = m_selectedRole = -1;
    if (!m_source)
        return;
    const QHash<int, QByteArray> names = m_source->roleNames();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        if (it.value() == "id")
            m_idRole = it.key();
        else if (it.value() == "title")
            m_titleRole = it.key();
        else if (it.value() == "url")
            m_urlRole = it.key();
        else if (it.value() == "group")
            m_groupRole = it.key();
        else if (it.value() == "favourite")
            m_favouriteRole = it.key();
        else if (it.value() == "selected")
            m_selectedRole = it.key();
    }
}

void PlaylistSectionModel::scheduleSync()
{
    if (m_pending)
        return;
    // A rebuild from the source replaces any batches still to come.
    m_batchTimer->stop();
    setPendingState(true, false);
    QMetaObject::invokeMethod(this, &PlaylistSectionModel::sync, Qt::QueuedConnection);
}

void PlaylistSectionModel::readValues(Row &row) const
{
    const QModelIndex idx = m_source->index(row.sourceRow, 0);
    auto get = [&idx](int role) { return role >= 0 ? idx.data(role) : QVariant(); };
    row.id = get(m_idRole).toInt();
    row.title = get(m_titleRole).toString();
    row.url = get(m_urlRole).toUrl();
    row.favourite = get(m_favouriteRole).toBool();
    row.selected = get(m_selectedRole).toBool();
}

QVector<PlaylistSectionModel::Row> PlaylistSectionModel::buildRows() const
{
    QVector<Row> rows;
    if (!m_source || m_groupRole < 0)
        return rows;
    const int n = m_source->rowCount();
    QHash<QString, int> runs;
    QString previous;
    bool first = true;
    for (int r = 0; r < n; ++r) {
        const QString group = normalizedGroup(m_source->index(r, 0).data(m_groupRole).toString());
        if (first || group != previous) {
            int &occurrence = runs[group];
            if (group != kUngrouped) {
                Row h;
                h.header = true;
                h.sourceRow = r;
                h.group = group;
                h.occurrence = occurrence;
                rows.append(h);
            }
            ++occurrence;
            previous = group;
            first = false;
        }
        if (group == m_currentGroup) {
            Row e;
            e.sourceRow = r;
            e.group = group;
            readValues(e);
            rows.append(e);
        }
    }
    return rows;
}

void PlaylistSectionModel::sync()
{
    m_batchTimer->stop();
    const QVector<Row> target = buildRows();
    applyStep(target);
}

void PlaylistSectionModel::continueInsertion()
{
    if (m_pending || !m_hasTarget)
        return;
    const QVector<Row> target = m_target;
    applyStep(target);
}

void PlaylistSectionModel::applyStep(const QVector<Row> &target)
{
    // Rows of the target that are not listed yet; beyond the batch they wait.
    QSet<Key> listed;
    listed.reserve(m_rows.size());
    for (const Row &r : qAsConst(m_rows))
        listed.insert(Key{r.header, r.id, r.group, r.occurrence});
    QVector<Row> step;
    step.reserve(target.size());
    int inserted = 0;
    bool complete = true;
    for (const Row &r : target) {
        if (!listed.contains(Key{r.header, r.id, r.group, r.occurrence})) {
            if (inserted >= m_insertBatch) {
                complete = false;
                continue;
            }
            ++inserted;
        }
        step.append(r);
    }
    if (complete) {
        setPendingState(false, false);
        applyRows(target);
        return;
    }
    m_target = target;
    setPendingState(false, true);
    applyRows(step);
    m_batchTimer->start();
}

void PlaylistSectionModel::applyRows(QVector<Row> rows)
{
    const int oldCount = m_rows.size();
    // Each row's place by its key; a key that stands twice makes the lists not unique.
    bool unique = true;
    auto indexRows = [&unique](const QVector<Row> &list) {
        QHash<Key, int> index;
        index.reserve(list.size());
        for (int i = 0; i < list.size(); ++i) {
            const Row &r = list.at(i);
            const Key k{r.header, r.id, r.group, r.occurrence};
            if (index.contains(k))
                unique = false;
            index.insert(k, i);
        }
        return index;
    };
    const QHash<Key, int> newIndex = indexRows(rows);
    const QHash<Key, int> oldIndex = indexRows(m_rows);

    // Rows kept on both sides must keep their order; otherwise announce a reset.
    bool ordered = unique;
    if (ordered) {
        int last = -1;
        for (const Row &r : qAsConst(m_rows)) {
            const int at = newIndex.value(Key{r.header, r.id, r.group, r.occurrence}, -1);
            if (at < 0)
                continue;
            if (at < last) {
                ordered = false;
                break;
            }
            last = at;
        }
    }
    if (!ordered) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        if (m_rows.size() != oldCount)
            emit countChanged();
        return;
    }

    // Removals, bottom up, in contiguous ranges.
    for (int i = m_rows.size() - 1; i >= 0;) {
        const Row &r = m_rows.at(i);
        if (newIndex.contains(Key{r.header, r.id, r.group, r.occurrence})) {
            --i;
            continue;
        }
        int j = i;
        while (j > 0) {
            const Row &p = m_rows.at(j - 1);
            if (newIndex.contains(Key{p.header, p.id, p.group, p.occurrence}))
                break;
            --j;
        }
        beginRemoveRows(QModelIndex(), j, i);
        m_rows.remove(j, i - j + 1);
        endRemoveRows();
        i = j - 1;
    }

    // Now m_rows is the kept subsequence of rows. Insertions, top down, and value updates.
    int changedFirst = -1;
    int changedLast = -1;
    auto flushChanged = [&] {
        if (changedFirst >= 0)
            emit dataChanged(index(changedFirst), index(changedLast));
        changedFirst = changedLast = -1;
    };
    for (int i = 0; i < rows.size();) {
        const Row &r = rows.at(i);
        const bool kept = oldIndex.contains(Key{r.header, r.id, r.group, r.occurrence});
        if (kept) {
            Row &mine = m_rows[i];
            const bool changed = !mine.sameValues(r);
            mine = r;  // also takes the new source row
            if (changed) {
                if (changedFirst >= 0 && changedLast == i - 1) {
                    changedLast = i;
                } else {
                    flushChanged();
                    changedFirst = changedLast = i;
                }
            }
            ++i;
            continue;
        }
        flushChanged();
        int j = i;
        while (j + 1 < rows.size()) {
            const Row &n = rows.at(j + 1);
            if (oldIndex.contains(Key{n.header, n.id, n.group, n.occurrence}))
                break;
            ++j;
        }
        beginInsertRows(QModelIndex(), i, j);
        m_rows.insert(i, j - i + 1, Row());
        for (int k = i; k <= j; ++k)
            m_rows[k] = rows.at(k);
        endInsertRows();
        i = j + 1;
    }
    flushChanged();
    if (m_rows.size() != oldCount)
        emit countChanged();
}

int PlaylistSectionModel::entryRowOfSource(int sourceRow) const
{
    // Rows are in source order; headers and entries share the order of their source row.
    auto it = std::lower_bound(m_rows.cbegin(), m_rows.cend(), sourceRow,
                               [](const Row &r, int s) { return r.sourceRow < s; });
    for (; it != m_rows.cend() && it->sourceRow == sourceRow; ++it) {
        if (!it->header)
            return int(it - m_rows.cbegin());
    }
    return -1;
}

void PlaylistSectionModel::onSourceDataChanged(const QModelIndex &topLeft,
                                               const QModelIndex &bottomRight,
                                               const QVector<int> &roles)
{
    if (!topLeft.isValid() || m_pending)
        return;
    if (m_hasTarget) {
        // Batches still to come carry the old values: rebuild instead.
        scheduleSync();
        return;
    }
    if (roles.isEmpty() || roles.contains(m_groupRole)) {
        // A group change moves rows between sections.
        scheduleSync();
        return;
    }
    for (int s = topLeft.row(); s <= bottomRight.row(); ++s) {
        const int row = entryRowOfSource(s);
        if (row < 0)
            continue;
        Row updated = m_rows.at(row);
        readValues(updated);
        if (updated.id != m_rows.at(row).id) {
            scheduleSync();
            return;
        }
        if (!updated.sameValues(m_rows.at(row))) {
            m_rows[row] = updated;
            emit dataChanged(index(row), index(row));
        }
    }
}

int PlaylistSectionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant PlaylistSectionModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Row &r = m_rows.at(index.row());
    switch (role) {
    case IsHeaderRole:
        return r.header;
    case IdRole:
        return r.header ? QVariant(-1) : QVariant(r.id);
    case Qt::DisplayRole:
    case TitleRole:
        return r.header ? r.group : r.title;
    case UrlRole:
        return r.url;
    case GroupRole:
        return r.group;
    case FavouriteRole:
        return r.favourite;
    case SelectedRole:
        return r.selected;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> PlaylistSectionModel::roleNames() const
{
    return {{IsHeaderRole, "isHeader"}, {IdRole, "id"},       {TitleRole, "title"},
            {UrlRole, "url"},           {GroupRole, "group"}, {FavouriteRole, "favourite"},
            {SelectedRole, "selected"}};
}

int PlaylistSectionModel::rowOfId(int id) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (!m_rows.at(i).header && m_rows.at(i).id == id)
            return i;
    }
    return -1;
}

int PlaylistSectionModel::rowOfHeader(const QString &group) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).header && m_rows.at(i).group == group)
            return i;
    }
    return -1;
}
