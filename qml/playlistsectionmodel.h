#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVector>

// The playlist as the panel lists it: one header row per run of a group (none for
// "ungrouped") and the entry rows of the open group only. Leaving out the rows of closed
// groups keeps the list view's delegates to what is in view.
//
// The source (the search proxy) may announce a filter change as thousands of row
// ranges. The rows here carry their own values, so this model stays consistent on its
// own while a change is pending, and catches up once per batch: it rebuilds the row list
// in one pass and announces only the difference (removed, inserted and changed rows).
// A list view builds a delegate at once for every inserted row within its cache
// buffer, so large insertions (opening a group of hundreds of channels) arrive in
// batches of insertBatch rows, one batch per frame interval: the first batch fills the
// view, the rest follows below it.
class PlaylistSectionModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QAbstractItemModel *sourceModel READ sourceModel WRITE setSourceModel NOTIFY sourceModelChanged)
    Q_PROPERTY(QString currentGroup READ currentGroup WRITE setCurrentGroup NOTIFY currentGroupChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // True while the rows lag behind the source (a change not yet taken in, or rows still
    // to be inserted).
    Q_PROPERTY(bool pending READ pending NOTIFY pendingChanged)
    Q_PROPERTY(int insertBatch READ insertBatch WRITE setInsertBatch NOTIFY insertBatchChanged)

public:
    enum Roles {
        IsHeaderRole = Qt::UserRole + 100,
        IdRole,
        TitleRole,
        UrlRole,
        GroupRole,
        FavouriteRole,
        SelectedRole,
    };
    Q_ENUM(Roles)

    explicit PlaylistSectionModel(QObject *parent = nullptr);

    QAbstractItemModel *sourceModel() const { return m_source; }
    void setSourceModel(QAbstractItemModel *model);
    QString currentGroup() const { return m_currentGroup; }
    void setCurrentGroup(const QString &group);
    int count() const { return m_rows.size(); }
    bool pending() const { return m_pending || m_hasTarget; }
    int insertBatch() const { return m_insertBatch; }
    void setInsertBatch(int rows);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Row of the entry with this id, of the first header of a group; -1 when not listed.
    Q_INVOKABLE int rowOfId(int id) const;
    Q_INVOKABLE int rowOfHeader(const QString &group) const;

    static QString normalizedGroup(const QString &group);

public slots:
    // Brings the rows up to date with the source now (normally done once per batch of
    // source changes).
    void sync();

signals:
    void sourceModelChanged();
    void currentGroupChanged();
    void countChanged();
    void pendingChanged();
    void insertBatchChanged();

private:
    struct Row {
        bool header = false;
        int sourceRow = -1;
        int occurrence = 0;  // headers: how many earlier runs of the same group
        int id = 0;
        QString title;
        QUrl url;
        QString group;
        bool favourite = false;
        bool selected = false;
        bool sameKey(const Row &o) const;
        bool sameValues(const Row &o) const;
    };

    void scheduleSync();
    void resolveRoles();
    void readValues(Row &row) const;
    void onSourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                             const QVector<int> &roles);
    QVector<Row> buildRows() const;
    void applyStep(const QVector<Row> &target);
    void continueInsertion();
    void setPendingState(bool syncScheduled, bool hasTarget);
    void applyRows(QVector<Row> rows);
    int entryRowOfSource(int sourceRow) const;

    QPointer<QAbstractItemModel> m_source;
    QVector<QMetaObject::Connection> m_connections;
    QString m_currentGroup = QStringLiteral("ungrouped");
    QVector<Row> m_rows;
    bool m_pending = false;     // a sync is scheduled
    bool m_hasTarget = false;   // rows of m_target still to be inserted
    QVector<Row> m_target;
    int m_insertBatch = 48;
    QTimer *m_batchTimer;
    int m_idRole = -1;
    int m_titleRole = -1;
    int m_urlRole = -1;
    int m_groupRole = -1;
    int m_favouriteRole = -1;
    int m_selectedRole = -1;
};
