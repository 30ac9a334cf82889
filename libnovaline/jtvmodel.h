#pragma once

#include "abstractlistmodel.h"
#include "jtvmodelitem.h"

#include <QDateTime>
#include <QTimer>

// The current channel's programmes. The current programme is the row whose
// start <= now < end; the last row (no end) is current from its start to the end of
// that day. The model follows the clock by itself (a timer at the next boundary).
class JtvModel : public AbstractListModel<JtvModelItem>
{
    Q_OBJECT
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY currentChanged)
    Q_PROPERTY(QString currentTitle READ currentTitle NOTIFY currentChanged)
    Q_PROPERTY(QDateTime currentTime READ currentTime NOTIFY currentChanged)
    Q_PROPERTY(QDateTime currentEndTime READ currentEndTime NOTIFY currentChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Roles {
        StartTimeRole = Qt::UserRole + 1,  // jtvStartTime: QDateTime
        TitleRole,                         // jtvTitle: QString
        StartDateRole,                     // jtvStartDate: QDate, the section key
        EndTimeRole,                       // jtvEndTime: QDateTime
    };
    Q_ENUM(Roles)

    explicit JtvModel(bool uniqueCheck = false, QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return m_items.size(); }

    void clear();
    // Takes ownership; the row shows at the next finishModelUpdate.
    void append(JtvModelItem *item);
    // After a fill: publish the rows (one insertion) and re-determine the current
    // programme.
    void finishModelUpdate();

    int currentIndex() const { return m_currentIndex; }
    // Plain reads of the current programme.
    QString currentTitle() const;
    QDateTime currentTime() const;
    QDateTime currentEndTime() const;

    // The clock the model follows; tests may replace it.
    using Clock = QDateTime (*)();
    void setClock(Clock clock);
    // When the model next re-determines the current programme by itself (invalid when
    // no programme starts or ends after now).
    QDateTime nextBoundary() const { return m_nextBoundary; }
    // The end used for a row: its own end, else the end of its start's day.
    static QDateTime effectiveEnd(const JtvModelItem *item);

public slots:
    // Re-determines the current programme; emits currentChanged only on change.
    void updateCurrent();

signals:
    void currentChanged();
    void countChanged();

private:
    int findCurrent(const QDateTime &now) const;
    void scheduleBoundary(const QDateTime &now);

    int m_currentIndex = -1;
    QDateTime m_nextBoundary;
    Clock m_clock;
    QTimer m_boundaryTimer;
    QList<JtvModelItem *> m_pending;  // appended, not yet published
};
