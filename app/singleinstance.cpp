#include "singleinstance.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QThread>

#include <cstring>

const char singleInstanceKey[] = "iptv_novaline";
const char launchServerName[] = "Pelorin_iptv";

namespace {

quint32 currentStamp()
{
    return quint32(QDateTime::currentDateTimeUtc().toSecsSinceEpoch());
}

bool createAndStamp(QSharedMemory &segment)
{
    if (!segment.create(4, QSharedMemory::ReadWrite))
        return false;
    segment.lock();
    const quint32 stamp = currentStamp();
    std::memcpy(segment.data(), &stamp, sizeof stamp);
    segment.unlock();
    return true;
}

} // namespace

LaunchCheck checkLaunch(QSharedMemory &segment)
{
    SingleInstancePlatform::LaunchGuard guard(segment.nativeKey());
    LaunchCheck result;
    if (createAndStamp(segment)) {
        result.firstInstance = true;
        return result;
    }
    if (!segment.attach(QSharedMemory::ReadWrite))
        return result;

    if (SingleInstancePlatform::heldByThisProcessOnly(segment)) {
        // The copy that created the segment died without detaching (the segment
        // outlives it). Our detach is the last one and removes it.
        segment.detach();
        QLocalServer::removeServer(QLatin1String(launchServerName));
        if (createAndStamp(segment)) {
            result.firstInstance = true;
            result.recoveredStale = true;
            return result;
        }
        if (!segment.attach(QSharedMemory::ReadWrite))
            return result;
    }

    segment.lock();
    quint32 stored = 0;
    std::memcpy(&stored, segment.constData(), sizeof stored);
    const quint32 now = currentStamp();
    result.launchGap = now - stored;
    if (result.launchGap > 1)
        std::memcpy(segment.data(), &now, sizeof now);
    segment.unlock();
    return result;
}

bool reacquireFirstInstance(QSharedMemory &segment)
{
    SingleInstancePlatform::LaunchGuard guard(segment.nativeKey());
    return createAndStamp(segment);
}

QByteArray encodeLaunchMessage(const QList<QUrl> &urls, bool append)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint32(0) << qint8(0) << append << urls;
    stream.device()->seek(0);
    stream << qint32(bytes.size() - 4);
    return bytes;
}

bool readLaunchMessageLength(const QByteArray &head, qint32 *length)
{
    if (head.size() < 4)
        return false;
    QDataStream stream(head);
    stream >> *length;
    return true;
}

LaunchMessageStatus takeLaunchMessage(QByteArray &buffer, LaunchMessage &message, QString *error)
{
    qint32 length = 0;
    if (!readLaunchMessageLength(buffer, &length))
        return LaunchMessageStatus::Incomplete;
    if (length < 0 || length > maxLaunchMessageSize) {
        if (error)
            *error = QStringLiteral("Launch message of invalid size %1").arg(length);
        return LaunchMessageStatus::Invalid;
    }
    if (buffer.size() - 4 < length)
        return LaunchMessageStatus::Incomplete;

    const QByteArray body = buffer.mid(4, length);
    buffer.remove(0, 4 + length);

    QDataStream stream(body);
    qint8 reserved = 0;
    bool append = false;
    qint32 count = 0;
    stream >> reserved >> append >> count;
    // Every URL takes at least its four-byte length, so a count beyond that is garbage
    // (and must not drive an allocation).
    bool ok = stream.status() == QDataStream::Ok && count >= 0
              && qint64(count) <= (length - stream.device()->pos()) / 4;
    QList<QUrl> urls;
    for (qint32 i = 0; ok && i < count; ++i) {
        QUrl url;
        stream >> url;
        ok = stream.status() == QDataStream::Ok;
        urls.append(url);
    }
    if (ok && !stream.atEnd())
        ok = false;
    if (!ok) {
        if (error)
            *error = QStringLiteral("Launch message cannot be decoded");
        return LaunchMessageStatus::Invalid;
    }
    message.append = append;
    message.urls = urls;
    return LaunchMessageStatus::Complete;
}

bool sendLaunchMessage(const QList<QUrl> &urls, bool append, int attempts, int pauseMs)
{
    if (urls.isEmpty())
        return false;
    const QByteArray message = encodeLaunchMessage(urls, append);
    QLocalSocket socket;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        socket.connectToServer(QLatin1String(launchServerName), QIODevice::ReadWrite);
        if (socket.waitForConnected(60000)) {
            socket.write(message);
            socket.flush();
            socket.waitForBytesWritten(-1);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(60000);
            return true;
        }
        socket.abort();
        QThread::msleep(ulong(pauseMs));
    }
    return false;
}
