#include "playlistmodel.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

namespace {

PlaylistModelItem *channel(int id, const QString &title = QString(), bool favourite = false)
{
    return new PlaylistModelItem(id, title.isEmpty() ? QStringLiteral("Channel %1").arg(id) : title,
                                 QUrl(QStringLiteral("http://127.0.0.1/ch/%1").arg(id)),
                                 QStringLiteral("News"), QStringLiteral("jtv%1").arg(id), 2, favourite);
}

void fill(PlaylistModel &model, int from, int to)
{
    QList<PlaylistModelItem *> items;
    for (int id = from; id <= to; ++id)
        items.append(channel(id));
    QCOMPARE(model.append(items), to - from + 1);
}

} // namespace

class TestPlaylistModel : public QObject
{
    Q_OBJECT

private slots:
    void itemCopyAndAssignment();
    void appendRolesAndSignals();
    void favouritesAndSearchProxies();
    void lookupsFollowEveryChange();
    void lookupsAtTenThousandRows();
    void neighbours();
    void uniqueCheckRejectsKnownUrls();
    void selection();
    void setDataByRow();
};

void TestPlaylistModel::itemCopyAndAssignment()
{
    PlaylistModelItem empty;
    QVERIFY(empty.empty());
    QCOMPARE(empty.id(), 0);

    PlaylistModelItem source(7, QStringLiteral("Seven"), QUrl(QStringLiteral("http://h/7")),
                             QStringLiteral("Sport"), QStringLiteral("j7"), 3, true);
    source.setFileId(42);
    QVERIFY(!source.empty());

    PlaylistModelItem current;
    QSignalSpy changed(&current, &PlaylistModelItem::itemChanged);
    current = source;
    QCOMPARE(changed.count(), 1);
    QCOMPARE(current.id(), 7);
    QCOMPARE(current.title(), QStringLiteral("Seven"));
    QCOMPARE(current.url(), QUrl(QStringLiteral("http://h/7")));
    QCOMPARE(current.group(), QStringLiteral("Sport"));
    QCOMPARE(current.jtv(), QStringLiteral("j7"));
    QCOMPARE(current.aspect(), 3);
    QVERIFY(current.favourite());
    QVERIFY(!current.empty());
    QCOMPARE(current.fileId(), 42);

    PlaylistModelItem copy(source);
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(copy.url(), source.url());

    // Setters notify only on change.
    QSignalSpy copyChanged(&copy, &PlaylistModelItem::itemChanged);
    copy.setFavourite(true);
    QCOMPARE(copyChanged.count(), 0);
    copy.setEmpty(true);
    QCOMPARE(copyChanged.count(), 1);
    QCOMPARE(copy.property("empty").toBool(), true);
}

void TestPlaylistModel::appendRolesAndSignals()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy count(&model, &PlaylistModel::countChanged);

    QVERIFY(model.append(channel(10, QStringLiteral("First"), true)));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 0);
    QCOMPARE(count.count(), 1);

    QCOMPARE(model.append({channel(11), channel(12)}), 2);
    QCOMPARE(inserted.count(), 2);  // one insertion for the whole list
    QCOMPARE(inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(inserted.at(1).at(2).toInt(), 2);
    QCOMPARE(count.count(), 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.property("count").toInt(), 3);

    const QModelIndex first = model.index(0);
    QCOMPARE(model.data(first, Qt::UserRole + 1).toInt(), 10);
    QCOMPARE(model.data(first, 258).toString(), QStringLiteral("First"));
    QCOMPARE(model.data(first, 261).type(), QVariant::Bool);
    QCOMPARE(model.data(first, 261).toBool(), true);
    QCOMPARE(model.data(model.index(1), 261).toString(), QStringLiteral("false"));
    QCOMPARE(model.data(first, PlaylistModel::UrlRole).toUrl(), QUrl(QStringLiteral("http://127.0.0.1/ch/10")));
    QCOMPARE(model.data(first, PlaylistModel::GroupRole).toString(), QStringLiteral("News"));

    const QHash<int, QByteArray> names = model.roleNames();
    QCOMPARE(names.value(Qt::UserRole + 1), QByteArray("id"));
    QCOMPARE(names.value(258), QByteArray("title"));
    QCOMPARE(names.value(261), QByteArray("favourite"));
    for (const QByteArray &name : {QByteArray("url"), QByteArray("group"), QByteArray("selected")})
        QVERIFY2(names.values().contains(name), name.constData());

    // Items belong to the model: removing one deletes it.
    QPointer<PlaylistModelItem> middle = model.item(1);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QVERIFY(model.removeAt(1));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);
    QVERIFY(middle.isNull());
    QVERIFY(!model.removeAt(5));
    QCOMPARE(count.count(), 3);

    QPointer<PlaylistModelItem> last = model.item(1);
    model.clear();
    QVERIFY(last.isNull());
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(count.count(), 4);
    model.clear();
    QCOMPARE(count.count(), 4);  // nothing changed, no notification
}

void TestPlaylistModel::favouritesAndSearchProxies()
{
    // The scenes filter favourites by the text of role 261 and search on role 258.
    PlaylistModel model;
    model.append({channel(1, QStringLiteral("Alpha"), true), channel(2, QStringLiteral("Beta")),
                  channel(3, QStringLiteral("Alphabet"), true)});
    QSortFilterProxyModel favourites;
    favourites.setSourceModel(&model);
    favourites.setFilterRole(261);
    favourites.setFilterFixedString(QStringLiteral("true"));
    QCOMPARE(favourites.rowCount(), 2);

    QVERIFY(model.setData(1, true, 261));
    QCOMPARE(favourites.rowCount(), 3);
    QVERIFY(model.setData(model.index(0), QStringLiteral("false"), 261));
    QCOMPARE(favourites.rowCount(), 2);
    QVERIFY(!model.item(0)->favourite());

    QSortFilterProxyModel search;
    search.setSourceModel(&model);
    search.setFilterRole(258);
    search.setFilterCaseSensitivity(Qt::CaseInsensitive);
    search.setFilterFixedString(QStringLiteral("alpha"));
    QCOMPARE(search.rowCount(), 2);
}

void TestPlaylistModel::lookupsFollowEveryChange()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model, 1, 5);
    QCOMPARE(model.itemById(3)->title(), QStringLiteral("Channel 3"));
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://127.0.0.1/ch/4")))->id(), 4);
    QCOMPARE(model.itemById(99), nullptr);
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://127.0.0.1/ch/99"))), nullptr);

    // Rows after a removed one move up; the index must follow.
    QVERIFY(model.removeAt(1));
    QCOMPARE(model.itemById(2), nullptr);
    QCOMPARE(model.rowById(5), 3);
    QCOMPARE(model.itemById(5), model.item(3));
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://127.0.0.1/ch/3"))), model.item(1));

    // An entry assigned other values behind the model's back is found under the new ones.
    PlaylistModelItem replacement(50, QStringLiteral("Fifty"), QUrl(QStringLiteral("http://h/50")),
                                  QString(), QString(), 0, false);
    QSignalSpy dataChanged(&model, &QAbstractItemModel::dataChanged);
    *model.item(0) = replacement;
    QCOMPARE(dataChanged.count(), 1);
    QCOMPARE(dataChanged.at(0).at(0).toModelIndex().row(), 0);
    QCOMPARE(model.itemById(1), nullptr);
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://127.0.0.1/ch/1"))), nullptr);
    QCOMPARE(model.itemById(50), model.item(0));
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://h/50"))), model.item(0));
    QCOMPARE(model.data(model.index(0), 258).toString(), QStringLiteral("Fifty"));

    // Duplicates (unique check off): the first row answers, the second takes over when it goes.
    PlaylistModelItem *dup = channel(3);
    QVERIFY(model.append(dup));
    QCOMPARE(model.itemById(3), model.item(1));
    QVERIFY(model.removeAt(1));
    QCOMPARE(model.itemById(3), dup);
    QCOMPARE(model.itemByUrl(dup->url()), dup);

    model.clear();
    QCOMPARE(model.itemById(4), nullptr);
    QCOMPARE(model.itemByUrl(QUrl(QStringLiteral("http://127.0.0.1/ch/4"))), nullptr);
}

void TestPlaylistModel::lookupsAtTenThousandRows()
{
    PlaylistModel model;
    fill(model, 1, 10000);
    QCOMPARE(model.rowCount(), 10000);
    // Remove rows spread over the list, then every remaining entry must still be found.
    for (int row = 9500; row >= 0; row -= 500)
        QVERIFY(model.removeAt(row));
    QCOMPARE(model.rowCount(), 9980);
    for (int row = 0; row < model.rowCount(); ++row) {
        PlaylistModelItem *it = model.item(row);
        if (model.itemById(it->id()) != it || model.itemByUrl(it->url()) != it)
            QFAIL(qPrintable(QStringLiteral("lookup wrong at row %1").arg(row)));
    }
    QCOMPARE(model.itemById(1), nullptr);  // row 0 was removed
    QCOMPARE(model.itemById(10000)->title(), QStringLiteral("Channel 10000"));
}

void TestPlaylistModel::neighbours()
{
    PlaylistModel model;
    QCOMPARE(model.nextItem(1, false), nullptr);
    fill(model, 1, 3);
    QCOMPARE(model.nextItem(1, false)->id(), 2);
    QCOMPARE(model.nextItem(2, false)->id(), 3);
    QCOMPARE(model.nextItem(3, false)->id(), 3);  // the end: the entry itself
    QCOMPARE(model.prevItem(3, false)->id(), 2);
    QCOMPARE(model.prevItem(1, false)->id(), 1);  // the start: the entry itself
    QCOMPARE(model.nextItem(3, true)->id(), 1);
    QCOMPARE(model.prevItem(1, true)->id(), 3);
    QCOMPARE(model.nextItem(42, false), nullptr);
    QCOMPARE(model.prevItem(42, false), nullptr);

    // After removing the middle row the neighbours close up.
    QVERIFY(model.removeAt(1));
    QCOMPARE(model.nextItem(1, false)->id(), 3);
    QCOMPARE(model.prevItem(3, false)->id(), 1);
}

void TestPlaylistModel::uniqueCheckRejectsKnownUrls()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.append(channel(1)));
    QVERIFY(model.append(channel(1)));  // off: duplicates accepted
    QCOMPARE(model.rowCount(), 2);
    // An item the model owns already is never taken a second time.
    PlaylistModelItem *owned = model.item(0);
    QCOMPARE(model.append(QList<PlaylistModelItem *>{owned, owned}), 0);
    QVERIFY(!model.append(owned));
    QCOMPARE(model.rowCount(), 2);

    model.setUniqueCheck(true);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy count(&model, &PlaylistModel::countChanged);
    QPointer<PlaylistModelItem> rejected = channel(1);
    QVERIFY(!model.append(rejected.data()));
    QVERIFY(rejected.isNull());  // the model took it and deleted it
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(count.count(), 0);

    // Same URL, other id: still a duplicate. Inside one list as well.
    auto *sameUrl = new PlaylistModelItem(77, QStringLiteral("x"), QUrl(QStringLiteral("http://127.0.0.1/ch/1")),
                                          QString(), QString(), 0, false);
    QCOMPARE(model.append({channel(5), sameUrl, channel(5), channel(6)}), 2);
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.item(2)->id(), 5);
    QCOMPARE(model.item(3)->id(), 6);
    QCOMPARE(model.itemById(77), nullptr);

    model.setUniqueCheck(false);
    QVERIFY(model.append(channel(6)));
    QCOMPARE(model.rowCount(), 5);
}

void TestPlaylistModel::selection()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model, 1, 4);
    QCOMPARE(model.selectedItemId(), -1);
    QVERIFY(!model.deleteSelectedItem());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.selectItem(2);
    QCOMPARE(model.selectedItemId(), 2);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{PlaylistModel::SelectedRole});
    QVERIFY(model.data(model.index(1), PlaylistModel::SelectedRole).toBool());

    changed.clear();
    model.selectItem(3);  // the old row loses the mark, the new one gets it
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(changed.at(1).at(0).toModelIndex().row(), 2);
    QVERIFY(!model.data(model.index(1), PlaylistModel::SelectedRole).toBool());
    QVERIFY(model.data(model.index(2), PlaylistModel::SelectedRole).toBool());

    changed.clear();
    model.selectItem(99);  // unknown: nothing changes
    QCOMPARE(model.selectedItemId(), 3);
    QCOMPARE(changed.count(), 0);

    // The scenes call these through the meta-object system.
    int selected = -2;
    QVERIFY(QMetaObject::invokeMethod(&model, "selectedItemId", Q_RETURN_ARG(int, selected)));
    QCOMPARE(selected, 3);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    bool deleted = false;
    QVERIFY(QMetaObject::invokeMethod(&model, "deleteSelectedItem", Q_RETURN_ARG(bool, deleted)));
    QVERIFY(deleted);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 2);
    QCOMPARE(model.selectedItemId(), -1);
    QCOMPARE(model.itemById(3), nullptr);
    QCOMPARE(model.rowCount(), 3);
    QVERIFY(!model.deleteSelectedItem());

    model.selectItem(4);
    changed.clear();
    QVERIFY(QMetaObject::invokeMethod(&model, "unselectAll"));
    QCOMPARE(model.selectedItemId(), -1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 2);

    model.selectItem(1);
    model.clear();
    QCOMPARE(model.selectedItemId(), -1);
}

void TestPlaylistModel::setDataByRow()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model, 1, 3);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(model.setData(2, true, 261));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 2);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 2);
    QCOMPARE(changed.at(0).at(2).value<QVector<int>>(), QVector<int>{261});
    QVERIFY(model.item(2)->favourite());

    QVERIFY(model.setData(2, true, 261));  // same value: no notification
    QCOMPARE(changed.count(), 1);

    QVERIFY(model.setData(0, QStringLiteral("Renamed"), 258));
    QCOMPARE(model.item(0)->title(), QStringLiteral("Renamed"));
    QCOMPARE(changed.count(), 2);

    QVERIFY(!model.setData(3, true, 261));
    QVERIFY(!model.setData(-1, true, 261));
    QVERIFY(!model.setData(0, 5, PlaylistModel::UrlRole));  // read-only role

    // A change made on the item itself reaches the views too.
    changed.clear();
    model.item(1)->setFileId(9);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(model.data(model.index(1), PlaylistModel::FileIdRole).toInt(), 9);
}

QTEST_GUILESS_MAIN(TestPlaylistModel)
#include "tst_playlistmodel.moc"
