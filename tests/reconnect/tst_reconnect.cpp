// The retry series and the picture wait, driven step by step on a hand-moved clock.
#include "oneshotclock.h"
#include "picturewait.h"
#include "reconnector.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// Fires only when the test says so; remembers what it was asked for.
class ManualClock : public OneShotClock
{
public:
    QList<int> starts;
    bool running = false;
    void start(int ms) override
    {
        starts << ms;
        running = true;
    }
    void stop() override { running = false; }
    bool isRunning() const override { return running; }
    void fire()
    {
        QVERIFY(running);
        running = false;
        emit fired();
    }
};

using F = Reconnector::Failure;

} // namespace

class TstReconnect : public QObject
{
    Q_OBJECT

private slots:
    // Each failure waits longer; every due try asks for the address again.
    void backoffAndTexts()
    {
        auto *clock = new ManualClock;
        Reconnector r(clock);
        QSignalSpy retry(&r, &Reconnector::retryRequested);
        QSignalSpy text(&r, &Reconnector::textChanged);
        QSignalSpy attempt(&r, &Reconnector::attemptChanged);
        r.begin(true);
        for (int i = 1; i <= 5; ++i) {
            r.fail(i % 2 ? F::Ended : F::Stalled);
            QCOMPARE(r.attempt(), i);
            QCOMPARE(r.text(), QStringLiteral("Переподключение\u2026 %1/5").arg(i));
            QCOMPARE(text.count(), i);
            QCOMPARE(attempt.count(), i);
            // A second report of the same break before the try changes nothing.
            r.fail(F::Error);
            QCOMPARE(r.attempt(), i);
            QCOMPARE(retry.count(), i - 1);
            clock->fire();
            QCOMPARE(retry.count(), i);
        }
        QCOMPARE(clock->starts, QList<int>({1000, 2000, 4000, 8000, 15000}));
    }

    // After the last try: an end moves on, an error or a stall leaves the line.
    void lastTry_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("moveOn");
        QTest::addColumn<QString>("text");
        QTest::newRow("ended") << int(F::Ended) << true << QString();
        QTest::newRow("error") << int(F::Error) << false << QStringLiteral("Канал недоступен");
        QTest::newRow("stalled") << int(F::Stalled) << false << QStringLiteral("Канал недоступен");
    }
    void lastTry()
    {
        QFETCH(int, failure);
        QFETCH(bool, moveOn);
        QFETCH(QString, text);
        auto *clock = new ManualClock;
        Reconnector r(clock);
        r.setDelays({10, 20});
        QSignalSpy end(&r, &Reconnector::endReached);
        QSignalSpy unavailable(&r, &Reconnector::unavailableChanged);
        r.begin(true);
        for (int i = 0; i < 2; ++i) {
            r.fail(F(failure));
            clock->fire();
        }
        QCOMPARE(end.count(), 0);
        r.fail(F(failure));
        QCOMPARE(end.count(), moveOn ? 1 : 0);
        QCOMPARE(r.unavailable(), !moveOn);
        QCOMPARE(unavailable.count(), moveOn ? 0 : 1);
        QCOMPARE(r.text(), text);
        QCOMPARE(r.attempt(), 0);
        QVERIFY(!clock->running);
        if (moveOn)
            return; // the window goes to the next entry, which begins afresh
        // The line stays, whatever else the stream reports, until the user acts.
        r.fail(F::Error);
        QCOMPARE(r.text(), text);
        r.cancel();
        QCOMPARE(r.text(), QString());
        QVERIFY(!r.unavailable());
    }

    // Without retries: an end moves on at once, anything else stays silent.
    void noRetries_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("ends");
        QTest::newRow("local file ends") << true << false << int(F::Ended) << 1;
        QTest::newRow("local file error") << true << false << int(F::Error) << 0;
        QTest::newRow("disabled, live ends") << false << true << int(F::Ended) << 1;
        QTest::newRow("disabled, live error") << false << true << int(F::Error) << 0;
        QTest::newRow("disabled, live stalled") << false << true << int(F::Stalled) << 0;
    }
    void noRetries()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, live);
        QFETCH(int, failure);
        QFETCH(int, ends);
        auto *clock = new ManualClock;
        Reconnector r(clock);
        r.setEnabled(enabled);
        QSignalSpy end(&r, &Reconnector::endReached);
        QSignalSpy text(&r, &Reconnector::textChanged);
        r.begin(live);
        r.fail(F(failure));
        QCOMPARE(end.count(), ends);
        QCOMPARE(text.count(), 0);
        QVERIFY(clock->starts.isEmpty());
    }

    // A picture, the user, another channel or switching retries off end the series.
    void seriesEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("picture") << "picture";
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("another channel") << "begin";
        QTest::newRow("disabled") << "disable";
    }
    void seriesEnds()
    {
        QFETCH(QString, how);
        auto *clock = new ManualClock;
        Reconnector r(clock);
        QSignalSpy retry(&r, &Reconnector::retryRequested);
        r.begin(true);
        r.fail(F::Ended);
        clock->fire();
        r.fail(F::Error);
        QCOMPARE(r.attempt(), 2);
        QSignalSpy text(&r, &Reconnector::textChanged);
        if (how == "picture")
            r.recovered();
        else if (how == "cancel")
            r.cancel();
        else if (how == "begin")
            r.begin(true);
        else
            r.setEnabled(false);
        QCOMPARE(r.attempt(), 0);
        QCOMPARE(r.text(), QString());
        QCOMPARE(text.count(), 1);
        QVERIFY(!clock->running);
        QCOMPARE(retry.count(), 1);
        // A new break starts from the first try again (unless retries are off).
        if (how != "disable") {
            r.fail(F::Ended);
            QCOMPARE(r.attempt(), 1);
            QCOMPARE(clock->starts.last(), 1000);
        }
    }

    // The spinner comes only after the delay without a picture, and goes with it.
    void pictureWait()
    {
        auto *clock = new ManualClock;
        PictureWait w(clock);
        QSignalSpy spy(&w, &PictureWait::spinningChanged);
        w.setWaiting(true);
        QCOMPARE(clock->starts, QList<int>{PictureWait::DefaultDelayMs});
        QVERIFY(!w.spinning());
        clock->fire();
        QVERIFY(w.spinning());
        QCOMPARE(spy.count(), 1);
        w.setWaiting(true); // still waiting: no restart, no change
        QCOMPARE(clock->starts.size(), 1);
        w.setWaiting(false);
        QVERIFY(!w.spinning());
        QCOMPARE(spy.count(), 2);
        // A picture inside the delay: no spinner at all.
        w.setWaiting(true);
        w.setWaiting(false);
        QVERIFY(!clock->running);
        QCOMPARE(spy.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TstReconnect)
#include "tst_reconnect.moc"
