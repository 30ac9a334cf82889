// Keeping the display awake through the session bus's screen-saver service: a stand-in
// service on its own bus connection records the requests.
#include "displaykeeper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QtTest>

#include <memory>

class ScreenSaverService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList applications;
    QStringList reasons;
    QList<uint> released;
    uint nextCookie = 4711;

public slots:
    uint Inhibit(const QString &application, const QString &reason)
    {
        applications << application;
        reasons << reason;
        return nextCookie++;
    }
    void UnInhibit(uint cookie) { released << cookie; }
};

class TestDisplayKeeper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void withoutService();
    void inhibitWhileAlive();
    void serviceRefuses();

private:
    bool registerService(ScreenSaverService *service, const QString &connectionName);
};

void TestDisplayKeeper::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus in this environment");
}

bool TestDisplayKeeper::registerService(ScreenSaverService *service, const QString &connectionName)
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), service,
                            QDBusConnection::ExportAllSlots))
        return false;
    return bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
}

void TestDisplayKeeper::withoutService()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()
                     ->isServiceRegistered(QStringLiteral("org.freedesktop.ScreenSaver")).value());
    DisplayKeeper keeper;
    QSignalSpy activated(&keeper, &DisplayKeeper::activated);
    // Nothing is asked, so nothing can come back.
    QCoreApplication::processEvents();
    QVERIFY(!keeper.isActive());
    QCOMPARE(activated.count(), 0);
}

void TestDisplayKeeper::inhibitWhileAlive()
{
    ScreenSaverService service;
    QVERIFY(registerService(&service, QStringLiteral("screensaver")));

    auto keeper = std::make_unique<DisplayKeeper>();
    QSignalSpy activated(keeper.get(), &DisplayKeeper::activated);
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, 20000);
    QVERIFY(keeper->isActive());
    QCOMPARE(service.applications.size(), 1);
    QVERIFY(!service.applications.first().isEmpty());
    QVERIFY(!service.reasons.first().isEmpty());
    QVERIFY(service.released.isEmpty());

    keeper.reset();
    QTRY_COMPARE_WITH_TIMEOUT(service.released, QList<uint>{4711u}, 20000);
    QCOMPARE(service.applications.size(), 1);

    QDBusConnection bus(QStringLiteral("screensaver"));
    bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
    QDBusConnection::disconnectFromBus(QStringLiteral("screensaver"));
}

void TestDisplayKeeper::serviceRefuses()
{
    // A service name without the object: the call fails and nothing is held.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                        QStringLiteral("empty"));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    {
        DisplayKeeper keeper;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("keep-awake request refused")));
        // Wait for the error reply to come back.
        QTRY_VERIFY_WITH_TIMEOUT(keeper.findChildren<QObject *>().isEmpty(), 20000);
        QVERIFY(!keeper.isActive());
    }
    bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
    QDBusConnection::disconnectFromBus(QStringLiteral("empty"));
}

QTEST_GUILESS_MAIN(TestDisplayKeeper)
#include "tst_displaykeeper.moc"
