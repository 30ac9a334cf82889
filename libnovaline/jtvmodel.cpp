#include "jtvmodel.h"


namespace {

QDateTime systemNow()
{
    return QDateTime::currentDateTime();
}

// Boundaries further away are re-checked after this long, which also covers clock jumps
// (suspend, time zone changes).
constexpr qint64 MaxTimerMs = 15 * 60 * 1000;

} // namespace

JtvModel::JtvModel(bool uniqueCheck, QObject *parent)
    : AbstractListModel<JtvModelItem>(uniqueCheck, parent)
    , m_clock(&systemNow)
{
    m_boundaryTimer.setSingleShot(true);
    m_boundaryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_boundaryTimer, &QTimer::timeout, this, &JtvModel::updateCurrent);
}

QVariant JtvModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || index.column() != 0)
        return QVariant();
    const JtvModelItem *it = item(index.row());
    if (!it)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return it->title();
    case StartTimeRole:
        return it->start();
    case StartDateRole:
        return it->start().date();
    case EndTimeRole:
        return it->end();
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> JtvModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(StartTimeRole, "jtvStartTime");
    names.insert(TitleRole, "jtvTitle");
    names.insert(StartDateRole, "jtvStartDate");
    names.insert(EndTimeRole, "jtvEndTime");
    return names;
}

void JtvModel::clear()
{
    const int before = m_items.size();
    beginResetModel();
    const QList<JtvModelItem *> old = m_items + m_pending;
    m_items.clear();
    m_pending.clear();
    endResetModel();
    qDeleteAll(old);
    if (before != 0)
        emit countChanged();
    m_boundaryTimer.stop();
    m_nextBoundary = QDateTime();
    if (m_currentIndex != -1) {
        m_currentIndex = -1;
        emit currentChanged();
    }
}

void JtvModel::append(JtvModelItem *it)
{
    if (!it)
        return;
    if (m_uniqueCheck) {
        for (const QList<JtvModelItem *> *list : {&m_items, &m_pending}) {
            for (const JtvModelItem *other : *list) {
                if (other->start() == it->start() && other->title() == it->title()) {
                    delete it;
                    return;
                }
            }
        }
    }
    // Held until finishModelUpdate: a week of programmes is one insertion for the views,
    // not hundreds.
    it->setParent(this);
    m_pending.append(it);
}

void JtvModel::finishModelUpdate()
{
    if (!m_pending.isEmpty()) {
        const int first = m_items.size();
        beginInsertRows(QModelIndex(), first, first + m_pending.size() - 1);
        m_items += m_pending;
        m_pending.clear();
        endInsertRows();
        emit countChanged();
    }
    updateCurrent();
}

// The getters only read: the current programme moves with the boundary timer, at
// finishModelUpdate and through updateCurrent, never while a binding reads it.
QString JtvModel::currentTitle() const
{
    const JtvModelItem *it = item(m_currentIndex);
    return it ? it->title() : QString();
}

QDateTime JtvModel::currentTime() const
{
    const JtvModelItem *it = item(m_currentIndex);
    return it ? it->start() : QDateTime();
}

QDateTime JtvModel::currentEndTime() const
{
    const JtvModelItem *it = item(m_currentIndex);
    return it ? effectiveEnd(it) : QDateTime();
}

void JtvModel::setClock(Clock clock)
{
    m_clock = clock ? clock : &systemNow;
    updateCurrent();
}

void JtvModel::updateCurrent()
{
    const QDateTime now = m_clock();
    const int current = findCurrent(now);
    scheduleBoundary(now);
    if (current != m_currentIndex) {
        m_currentIndex = current;
        emit currentChanged();
    }
}

QDateTime JtvModel::effectiveEnd(const JtvModelItem *it)
{
    if (!it)
        return QDateTime();
    if (it->end().isValid())
        return it->end();
    const QDateTime start = it->start();
    if (!start.isValid())
        return QDateTime();
    // The rest of that day, in the day of the start's own time zone.
    QDateTime end = start;
    end.setTime(QTime(0, 0));
    return end.addDays(1);
}

int JtvModel::findCurrent(const QDateTime &now) const
{
    if (!now.isValid())
        return -1;
    // A later-starting programme wins when entries overlap: it is the newer one.
    int best = -1;
    for (int row = 0; row < m_items.size(); ++row) {
        const JtvModelItem *it = m_items.at(row);
        if (!it->start().isValid() || it->start() > now)
            continue;
        const QDateTime end = effectiveEnd(it);
        if (!(now < end))
            continue;
        if (best < 0 || it->start() >= m_items.at(best)->start())
            best = row;
    }
    return best;
}

void JtvModel::scheduleBoundary(const QDateTime &now)
{
    QDateTime next;
    if (now.isValid()) {
        for (const JtvModelItem *it : qAsConst(m_items)) {
            const QDateTime start = it->start();
            if (start.isValid() && start > now && (!next.isValid() || start < next))
                next = start;
            const QDateTime end = effectiveEnd(it);
            if (end.isValid() && end > now && (!next.isValid() || end < next))
                next = end;
        }
    }
    m_nextBoundary = next;
    if (!next.isValid()) {
        m_boundaryTimer.stop();
        return;
    }
    const qint64 ms = qBound<qint64>(1, now.msecsTo(next), MaxTimerMs);
    m_boundaryTimer.start(static_cast<int>(ms));
}
