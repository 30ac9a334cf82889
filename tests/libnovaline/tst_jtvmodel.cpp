#include "jtvmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

// The clock the model reads: a fixed instant, or the real time shifted (for the timer).
QDateTime fakeNow;
qint64 realOffsetMs = 0;
bool followRealTime = false;

QDateTime testClock()
{
    if (followRealTime)
        return QDateTime::currentDateTime().addMSecs(realOffsetMs);
    return fakeNow;
}

QDateTime at(int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second));
}

// A typical guide day: three programmes, the last without an end.
void fillDay(JtvModel &model)
{
    model.clear();
    model.append(new JtvModelItem(at(10, 10), at(10, 11), QStringLiteral("News")));
    model.append(new JtvModelItem(at(10, 11), at(10, 12), QStringLiteral("Film")));
    model.append(new JtvModelItem(at(10, 12), QDateTime(), QStringLiteral("Night show")));
    model.finishModelUpdate();
}

} // namespace

class TestJtvModel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        followRealTime = false;
        fakeNow = at(10, 10, 30);
    }
    void rolesAndRows();
    void currentAfterFill();
    void updatesFollowTheClock();
    void lastProgrammeLastsToTheEndOfItsDay();
    void nothingCurrent();
    void clearResetsCurrent();
    void timerFollowsTheClockWithoutReads();
};

void TestJtvModel::rolesAndRows()
{
    JtvModel model;
    model.setClock(&testClock);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy count(&model, &JtvModel::countChanged);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    fillDay(model);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.property("count").toInt(), 3);
    // One insertion and one count change for the whole fill.
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(count.count(), 1);

    const QHash<int, QByteArray> names = model.roleNames();
    const int startRole = names.key("jtvStartTime");
    const int titleRole = names.key("jtvTitle");
    const int dateRole = names.key("jtvStartDate");
    QVERIFY(startRole && titleRole && dateRole);
    QCOMPARE(model.data(model.index(1), titleRole).toString(), QStringLiteral("Film"));
    QCOMPARE(model.data(model.index(1), startRole).toDateTime(), at(10, 11));
    QCOMPARE(model.data(model.index(2), dateRole).toDate(), QDate(2024, 3, 10));
}

void TestJtvModel::currentAfterFill()
{
    JtvModel model;
    model.setClock(&testClock);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &JtvModel::currentChanged);
    QCOMPARE(model.currentIndex(), -1);

    model.append(new JtvModelItem(at(10, 10), at(10, 11), QStringLiteral("News")));
    model.append(new JtvModelItem(at(10, 11), QDateTime(), QStringLiteral("Film")));
    model.finishModelUpdate();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.currentIndex(), 0);
    QCOMPARE(model.property("currentTitle").toString(), QStringLiteral("News"));
    QCOMPARE(model.property("currentTime").toDateTime(), at(10, 10));
    QCOMPARE(model.property("currentEndTime").toDateTime(), at(10, 11));
    QCOMPARE(changed.count(), 1);  // reads without a change notify nothing
    QCOMPARE(model.nextBoundary(), at(10, 11));

    model.finishModelUpdate();
    QCOMPARE(changed.count(), 1);
}

void TestJtvModel::updatesFollowTheClock()
{
    JtvModel model;
    model.setClock(&testClock);
    fillDay(model);
    QSignalSpy changed(&model, &JtvModel::currentChanged);
    QCOMPARE(model.currentIndex(), 0);

    fakeNow = at(10, 10, 59, 59);
    QCOMPARE(model.currentTitle(), QStringLiteral("News"));
    QCOMPARE(changed.count(), 0);

    fakeNow = at(10, 11);  // start <= now: the next programme begins exactly here
    // Reading never moves the current programme (a binding reading it must not change
    // it); the boundary timer's updateCurrent does, announcing it once.
    QCOMPARE(model.currentTitle(), QStringLiteral("News"));
    QCOMPARE(changed.count(), 0);
    model.updateCurrent();
    QCOMPARE(model.currentTitle(), QStringLiteral("Film"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.currentIndex(), 1);
    QCOMPARE(model.currentTitle(), QStringLiteral("Film"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.nextBoundary(), at(10, 12));
}

void TestJtvModel::lastProgrammeLastsToTheEndOfItsDay()
{
    JtvModel model;
    model.setClock(&testClock);
    fakeNow = at(10, 23, 59, 59);
    fillDay(model);
    QCOMPARE(model.currentIndex(), 2);
    QCOMPARE(model.currentTitle(), QStringLiteral("Night show"));
    QCOMPARE(model.currentEndTime(), at(11, 0));
    QCOMPARE(model.nextBoundary(), at(11, 0));

    QSignalSpy changed(&model, &JtvModel::currentChanged);
    fakeNow = at(11, 0);
    model.updateCurrent();
    QCOMPARE(model.currentTitle(), QString());
    QCOMPARE(model.currentIndex(), -1);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!model.currentTime().isValid());
    QVERIFY(!model.nextBoundary().isValid());
}

void TestJtvModel::nothingCurrent()
{
    JtvModel model;
    model.setClock(&testClock);
    QSignalSpy changed(&model, &JtvModel::currentChanged);
    fakeNow = at(10, 9);
    fillDay(model);
    QCOMPARE(model.currentIndex(), -1);
    QCOMPARE(model.currentTitle(), QString());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model.nextBoundary(), at(10, 10));

    // A gap between two programmes.
    model.clear();
    model.append(new JtvModelItem(at(10, 10), at(10, 11), QStringLiteral("A")));
    model.append(new JtvModelItem(at(10, 12), QDateTime(), QStringLiteral("B")));
    fakeNow = at(10, 11, 30);
    model.finishModelUpdate();
    QCOMPARE(model.currentIndex(), -1);
    fakeNow = at(10, 12, 0, 1);
    model.updateCurrent();
    QCOMPARE(model.currentTitle(), QStringLiteral("B"));
    QCOMPARE(changed.count(), 1);
}

void TestJtvModel::clearResetsCurrent()
{
    JtvModel model;
    model.setClock(&testClock);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fillDay(model);
    QCOMPARE(model.currentIndex(), 0);
    QSignalSpy changed(&model, &JtvModel::currentChanged);
    QSignalSpy count(&model, &JtvModel::countChanged);
    model.clear();
    QCOMPARE(model.currentIndex(), -1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(count.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.currentTitle(), QString());
    QCOMPARE(changed.count(), 1);
}

void TestJtvModel::timerFollowsTheClockWithoutReads()
{
    // The guide's clock is a fixed day; the boundary is 300 ms of real time away.
    followRealTime = true;
    const QDateTime realNow = QDateTime::currentDateTime();
    const QDateTime guideNow = at(10, 10, 59, 59);
    realOffsetMs = realNow.msecsTo(guideNow);
    const QDateTime boundary = guideNow.addMSecs(300);

    JtvModel model;
    model.setClock(&testClock);
    model.append(new JtvModelItem(at(10, 10), boundary, QStringLiteral("Before")));
    model.append(new JtvModelItem(boundary, boundary.addSecs(3600), QStringLiteral("After")));
    model.finishModelUpdate();
    QCOMPARE(model.currentIndex(), 0);
    QSignalSpy changed(&model, &JtvModel::currentChanged);
    // currentIndex() only reads the stored value: a change must come from the model's timer.
    QTRY_COMPARE_WITH_TIMEOUT(model.currentIndex(), 1, 5000);
    QCOMPARE(changed.count(), 1);
}

QTEST_GUILESS_MAIN(TestJtvModel)
#include "tst_jtvmodel.moc"
