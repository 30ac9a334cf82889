#include "kernel.h"

#include "singleinstance.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QTimer>

namespace {

// A later copy writes its message right after connecting; a peer that stays silent
// this long is dropped.
constexpr int launchPeerTimeoutMs = 10000;

QString describeUrls(const QList<QUrl> &urls)
{
    QStringList texts;
    for (const QUrl &url : urls)
        texts << url.toString(QUrl::FullyEncoded);
    return texts.join(QLatin1Char(' '));
}

} // namespace

Kernel::Kernel(QSharedMemory *sharedMemory, const QList<QUrl> &urls, QObject *parent)
    : QObject(parent)
    , sharedMemory(sharedMemory)
{
    startServer();
    openUrls(urls, false);
}

Kernel::~Kernel()
{
    if (server) {
        server->close();
        server->deleteLater();
    }
}

void Kernel::startServer()
{
    server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(QLatin1String(launchServerName));
    if (!server->listen(QLatin1String(launchServerName)))
        qCritical().noquote() << QStringLiteral("Cannot create local server: ") + server->errorString();
    connect(server, &QLocalServer::newConnection, this, &Kernel::acceptConnection);
}

void Kernel::acceptConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readLaunchMessages(socket); });
        auto *timer = new QTimer(socket);
        timer->setObjectName(QStringLiteral("launchPeerTimer"));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] {
            qWarning("Launch message connection timed out");
            socket->abort();
            socket->deleteLater();
        });
        timer->start(launchPeerTimeoutMs);
        if (socket->bytesAvailable() > 0)
            readLaunchMessages(socket);
    }
}

void Kernel::readLaunchMessages(QLocalSocket *socket)
{
    for (;;) {
        // Only the length field is judged until the whole message has arrived.
        QByteArray head = socket->peek(4);
        qint32 length = 0;
        if (!readLaunchMessageLength(head, &length))
            return;
        LaunchMessage message;
        QString error;
        if (takeLaunchMessage(head, message, &error) != LaunchMessageStatus::Invalid) {
            if (socket->bytesAvailable() - 4 < length)
                return;
            QByteArray bytes = socket->read(4 + qint64(length));
            if (takeLaunchMessage(bytes, message, &error) == LaunchMessageStatus::Complete) {
                if (auto *timer = socket->findChild<QTimer *>(QStringLiteral("launchPeerTimer")))
                    timer->start(launchPeerTimeoutMs);
                openUrls(message.urls, message.append);
                continue;
            }
        }
        qWarning().noquote() << error;
        socket->abort();
        socket->deleteLater();
        return;
    }
}

bool Kernel::openUrls(const QList<QUrl> &urls, bool append)
{
    qDebug().noquote() << QStringLiteral("Open urls, append ") + (append ? QStringLiteral("true") : QStringLiteral("false"))
                              + QStringLiteral(": ") + describeUrls(urls);
    return false;
}

void Kernel::closeApp()
{
    qDebug("Closing iptv player");
    if (sharedMemory)
        sharedMemory->detach();
    deleteLater();
}
