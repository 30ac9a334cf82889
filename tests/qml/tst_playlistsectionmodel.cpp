// The playlist panel's section model over a real list model and a real search proxy:
// headers of every group, entries of the open group only, and minimal change signals.
#include "playlistsectionmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QtTest>

namespace {

enum SourceRoles { Id = Qt::UserRole + 1, Title, Url, Group, Favourite, Selected };

QStandardItem *entry(int id, const QString &title, const QString &group, bool fav = false)
{
    auto *item = new QStandardItem;
    item->setData(id, Id);
    item->setData(title, Title);
    item->setData(QUrl(QString("http://127.0.0.1/live/%1").arg(id)), Url);
    item->setData(group, Group);
    item->setData(fav, Favourite);
    item->setData(false, Selected);
    return item;
}

struct Fixture {
    QStandardItemModel source;
    QSortFilterProxyModel search;
    PlaylistSectionModel model;
    Fixture()
    {
        source.setItemRoleNames({{Id, "id"}, {Title, "title"}, {Url, "url"}, {Group, "group"},
                                 {Favourite, "favourite"}, {Selected, "selected"}});
        search.setSourceModel(&source);
        search.setFilterRole(Title);
        search.setFilterCaseSensitivity(Qt::CaseInsensitive);
    }
    void fill(const QList<QStringList> &rows)
    {
        int id = 1;
        for (const QStringList &r : rows)
            source.appendRow(entry(id++, r.at(0), r.at(1)));
    }
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < model.rowCount(); ++i) {
            const QModelIndex idx = model.index(i);
            out << (idx.data(PlaylistSectionModel::IsHeaderRole).toBool()
                        ? "[" + idx.data(PlaylistSectionModel::GroupRole).toString() + "]"
                        : idx.data(PlaylistSectionModel::TitleRole).toString());
        }
        return out;
    }
};

}  // namespace

class TstPlaylistSectionModel : public QObject
{
    Q_OBJECT

private slots:
    void headersAndOpenGroup()
    {
        Fixture f;
        f.fill({{"Loose", "ungrouped"}, {"Первый", "Эфир"}, {"Второй", "Эфир"},
                {"News 24", "News"}, {"Кино", "Фильмы"}});
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setSourceModel(&f.search);
        // "ungrouped" open at start: its entries, and every other group's header only.
        QCOMPARE(f.rows(), QStringList({"Loose", "[Эфир]", "[News]", "[Фильмы]"}));

        QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&f.model, &QAbstractItemModel::modelReset);
        QSignalSpy count(&f.model, &PlaylistSectionModel::countChanged);
        f.model.setCurrentGroup("Эфир");
        QCOMPARE(f.rows(), QStringList({"[Эфир]", "Первый", "Второй", "[News]", "[Фильмы]"}));
        // Only the changed rows are announced: the loose entry out, two entries in.
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 0);
        QCOMPARE(removed.at(0).at(2).toInt(), 0);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 1);
        QCOMPARE(inserted.at(0).at(2).toInt(), 2);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(count.count(), 1);

        QCOMPARE(f.model.rowOfId(3), 2);
        QCOMPARE(f.model.rowOfHeader("News"), 3);
        QCOMPARE(f.model.index(2).data(PlaylistSectionModel::IdRole).toInt(), 3);
        QCOMPARE(f.model.index(0).data(PlaylistSectionModel::IdRole).toInt(), -1);

        // The favourites section: no group's entries are listed.
        f.model.setCurrentGroup("Я люблю");
        QCOMPARE(f.rows(), QStringList({"[Эфир]", "[News]", "[Фильмы]"}));
        QCOMPARE(f.model.count(), 3);
    }

    void emptyGroupTitleIsUngrouped()
    {
        Fixture f;
        f.fill({{"A", ""}, {"B", "G"}});
        f.model.setSourceModel(&f.search);
        QCOMPARE(f.rows(), QStringList({"A", "[G]"}));
    }

    void splitGroupGetsTwoHeaders()
    {
        Fixture f;
        f.fill({{"A1", "A"}, {"B1", "B"}, {"A2", "A"}});
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setSourceModel(&f.search);
        f.model.setCurrentGroup("A");
        QCOMPARE(f.rows(), QStringList({"[A]", "A1", "[B]", "[A]", "A2"}));
        f.model.setCurrentGroup("B");
        QCOMPARE(f.rows(), QStringList({"[A]", "[B]", "B1", "[A]"}));
    }

    void filteringIsBatchedAndMinimal()
    {
        Fixture f;
        QList<QStringList> rows;
        for (int g = 0; g < 5; ++g)
            for (int i = 0; i < 20; ++i)
                rows << QStringList{QString("Канал %1-%2 %3").arg(g).arg(i).arg(i % 2 ? "odd" : "EVEN"),
                                    QString("Группа %1").arg(g)};
        f.fill(rows);
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setSourceModel(&f.search);
        f.model.setCurrentGroup("Группа 2");
        QCOMPARE(f.model.count(), 5 + 20);

        QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&f.model, &QAbstractItemModel::modelReset);
        f.search.setFilterFixedString("even");
        // The proxy announces many ranges; the section model catches up once.
        QVERIFY(f.model.pending());
        QCOMPARE(removed.count(), 0);
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.model.count(), 5 + 10);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(removed.count(), 10);  // every odd entry of the open group, one range each
        for (int i = 0; i < f.model.rowCount(); ++i) {
            const QModelIndex idx = f.model.index(i);
            if (!idx.data(PlaylistSectionModel::IsHeaderRole).toBool())
                QVERIFY(idx.data(PlaylistSectionModel::TitleRole).toString().endsWith("EVEN"));
        }

        // A filter that leaves one group empty drops its header too.
        f.search.setFilterFixedString("канал 3-");
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.rows(), QStringList({"[Группа 3]"}));
        f.search.setFilterFixedString("");
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.model.count(), 5 + 20);
    }

    void largeInsertionsArriveInBatches()
    {
        Fixture f;
        QList<QStringList> rows;
        for (int i = 0; i < 100; ++i)
            rows << QStringList{QString("Big %1").arg(i), "Big"};
        rows << QStringList{"Small", "Small"};
        f.fill(rows);
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setInsertBatch(30);
        f.model.setSourceModel(&f.search);
        QCOMPARE(f.model.count(), 2);
        QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
        QSignalSpy pending(&f.model, &PlaylistSectionModel::pendingChanged);
        f.model.setCurrentGroup("Big");
        // The first batch is there at once, right under the header.
        QCOMPARE(f.model.count(), 2 + 30);
        QVERIFY(f.model.pending());
        QCOMPARE(f.rows().mid(0, 3), QStringList({"[Big]", "Big 0", "Big 1"}));
        QCOMPARE(f.rows().last(), QString("[Small]"));
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.model.count(), 2 + 100);
        QCOMPARE(inserted.count(), 4);
        QCOMPARE(pending.count(), 2);
        QCOMPARE(f.rows().at(100), QString("Big 99"));

        // A source change in the middle of the batches: the model rebuilds and ends right.
        f.model.setCurrentGroup("Small");
        f.model.setCurrentGroup("Big");
        QVERIFY(f.model.pending());
        f.source.item(99)->setData("Big 99 renamed", Title);
        f.source.removeRows(0, 10);
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.model.count(), 2 + 90);
        QCOMPARE(f.rows().at(90), QString("Big 99 renamed"));
    }

    void dataChangesFollowTheSource()
    {
        Fixture f;
        f.fill({{"A1", "A"}, {"A2", "A"}, {"B1", "B"}});
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setSourceModel(&f.search);
        f.model.setCurrentGroup("A");
        QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);

        f.source.item(1)->setData(true, Favourite);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 2);
        QVERIFY(f.model.index(2).data(PlaylistSectionModel::FavouriteRole).toBool());

        // A change in a closed group is not announced.
        f.source.item(2)->setData(true, Selected);
        QCOMPARE(changed.count(), 1);

        // Moving an entry to another group moves it between sections.
        f.source.item(0)->setData("B", Group);
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.rows(), QStringList({"[B]", "[A]", "A2", "[B]"}));
    }

    void sourceInsertRemoveAndReset()
    {
        Fixture f;
        f.fill({{"A1", "A"}, {"B1", "B"}});
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.model.setSourceModel(&f.search);
        f.model.setCurrentGroup("B");
        f.source.appendRow(entry(10, "B2", "B"));
        f.source.appendRow(entry(11, "C1", "C"));
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.rows(), QStringList({"[A]", "[B]", "B1", "B2", "[C]"}));
        f.source.removeRows(0, 2);
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.rows(), QStringList({"[B]", "B2", "[C]"}));
        f.source.clear();
        QTRY_VERIFY(!f.model.pending());
        QCOMPARE(f.model.count(), 0);
        f.model.setSourceModel(nullptr);
        QCOMPARE(f.model.count(), 0);
    }

    void sourceDestroyed()
    {
        PlaylistSectionModel model;
        {
            QStandardItemModel source;
            source.setItemRoleNames({{Id, "id"}, {Title, "title"}, {Group, "group"}});
            source.appendRow(entry(1, "A", "G"));
            model.setSourceModel(&source);
            QCOMPARE(model.count(), 1);
        }
        QCOMPARE(model.count(), 0);
        QVERIFY(!model.sourceModel());
    }
};

QTEST_MAIN(TstPlaylistSectionModel)
#include "tst_playlistsectionmodel.moc"
