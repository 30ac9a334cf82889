#include "displaykeeper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

// The freedesktop screen-saver service: Inhibit hands out a cookie that UnInhibit
// takes back. The service also drops the request when our bus connection goes away.
namespace {
const char *const Service = "org.freedesktop.ScreenSaver";
const char *const Path = "/org/freedesktop/ScreenSaver";
const char *const Interface = "org.freedesktop.ScreenSaver";
}

struct DisplayKeeper::Private
{
    bool granted = false;
    uint cookie = 0;
};

DisplayKeeper::DisplayKeeper(QObject *parent)
    : QObject(parent), d(new Private)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return;
    // Asking the bus first avoids a pending call (and a timeout) when nobody offers
    // the service, and service activation of something we do not need.
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(Service)).value())
        return;

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Service),
                                                       QString::fromLatin1(Path),
                                                       QString::fromLatin1(Interface),
                                                       QStringLiteral("Inhibit"));
    const QString name = QCoreApplication::applicationName().isEmpty()
            ? QStringLiteral("Novaline TV") : QCoreApplication::applicationName();
    call << name << QStringLiteral("Playing video");
    // Asynchronous: a slow service must not hold up the window.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        if (reply.isError()) {
            qDebug() << "Display keep-awake request refused:" << reply.error().message();
            return;
        }
        d->cookie = reply.value();
        d->granted = true;
        emit activated();
    });
}

DisplayKeeper::~DisplayKeeper()
{
    if (d->granted) {
        QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(Service),
                                                           QString::fromLatin1(Path),
                                                           QString::fromLatin1(Interface),
                                                           QStringLiteral("UnInhibit"));
        call << d->cookie;
        QDBusConnection::sessionBus().send(call);
    }
    delete d;
}

bool DisplayKeeper::isActive() const
{
    return d->granted;
}
