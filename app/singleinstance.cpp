#include "singleinstance.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QThread>
#include <QTimer>

#include <cstring>

namespace {

const QByteArray segmentKeyText = SingleInstancePlatform::userSegmentKey();
const QByteArray serverNameText = SingleInstancePlatform::userServerName();

// Segment: launch stamp, then (beyond what older versions read) the burst count and
// the place of the latest launch in its burst, all native 32-bit.
constexpr int stampOffset = 0;
constexpr int burstOffset = 4;
constexpr int placeOffset = 8;
constexpr int segmentSize = 12;

// Once a burst has been quiet this long, a message with its number starts afresh
// (the number repeats every four bursts).
constexpr qint64 burstLifeMs = 60000;

quint32 currentStamp()
{
    return quint32(QDateTime::currentDateTimeUtc().toSecsSinceEpoch());
}

quint32 readField(const QSharedMemory &segment, int offset)
{
    quint32 value = 0;
    std::memcpy(&value, static_cast<const char *>(segment.constData()) + offset, sizeof value);
    return value;
}

void writeField(QSharedMemory &segment, int offset, quint32 value)
{
    std::memcpy(static_cast<char *>(segment.data()) + offset, &value, sizeof value);
}

bool createAndStamp(QSharedMemory &segment)
{
    if (!segment.create(segmentSize, QSharedMemory::ReadWrite))
        return false;
    segment.lock();
    writeField(segment, stampOffset, currentStamp());
    // The creating copy is the first place of burst 0: its own command line.
    writeField(segment, burstOffset, 0);
    writeField(segment, placeOffset, 1);
    segment.unlock();
    return true;
}

} // namespace

const char *const singleInstanceKey = segmentKeyText.constData();
const char *const launchServerName = serverNameText.constData();

quint8 launchOrder(quint32 burst, quint32 place)
{
    return quint8(((burst & 3u) << 6) | qBound(1u, place, 63u));
}

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
    const quint32 now = currentStamp();
    result.launchGap = now - readField(segment, stampOffset);
    if (segment.size() >= segmentSize) {
        quint32 burst = readField(segment, burstOffset);
        quint32 place = readField(segment, placeOffset);
        if (result.launchGap > 1) {
            ++burst;
            place = 1;
        } else if (place < 63) {
            ++place;
        }
        writeField(segment, burstOffset, burst);
        writeField(segment, placeOffset, place);
        result.order = launchOrder(burst, place);
    }
    if (result.launchGap > 1)
        writeField(segment, stampOffset, now);
    segment.unlock();
    return result;
}

bool reacquireFirstInstance(QSharedMemory &segment)
{
    SingleInstancePlatform::LaunchGuard guard(segment.nativeKey());
    return createAndStamp(segment);
}

QByteArray encodeLaunchMessage(const QList<QUrl> &urls, bool append, quint8 order)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint32(0) << qint8(order) << append << urls;
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
    message.order = quint8(reserved);
    message.append = append;
    message.urls = urls;
    return LaunchMessageStatus::Complete;
}

QList<QByteArray> encodeLaunchMessages(const QList<QUrl> &urls, bool append, quint8 order)
{
    // reserved, append and the URL count; each URL is its length and its bytes.
    constexpr qint64 header = 1 + 1 + 4;
    QList<QByteArray> messages;
    QList<QUrl> part;
    qint64 size = header;
    for (const QUrl &url : urls) {
        const qint64 cost = 4 + (url.isValid() ? url.toEncoded().size() : 0);
        if (header + cost > maxLaunchMessageSize) {
            qWarning("Launch URL too long to forward");
            continue;
        }
        if (size + cost > maxLaunchMessageSize) {
            messages << encodeLaunchMessage(part, messages.isEmpty() ? append : true, order);
            part.clear();
            size = header;
        }
        part << url;
        size += cost;
    }
    if (!part.isEmpty())
        messages << encodeLaunchMessage(part, messages.isEmpty() ? append : true, order);
    return messages;
}

bool sendLaunchMessage(const QList<QUrl> &urls, bool append, int attempts, int pauseMs, quint8 order)
{
    if (urls.isEmpty())
        return false;
    const QList<QByteArray> messages = encodeLaunchMessages(urls, append, order);
    if (messages.isEmpty())
        return false;
    QLocalSocket socket;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        socket.connectToServer(QLatin1String(launchServerName), QIODevice::ReadWrite);
        if (socket.waitForConnected(60000)) {
            for (const QByteArray &message : messages)
                socket.write(message);
            socket.flush();
            while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(-1)) {
            }
            const bool written = socket.bytesToWrite() == 0;
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(60000);
            return written;
        }
        socket.abort();
        QThread::msleep(ulong(pauseMs));
    }
    return false;
}

LaunchSequencer::LaunchSequencer(QObject *parent, int holdMs)
    : QObject(parent)
    , m_holdTimer(new QTimer(this))
{
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setInterval(holdMs);
    connect(m_holdTimer, &QTimer::timeout, this, &LaunchSequencer::releaseHeld);
    m_activity.start();
}

void LaunchSequencer::reset()
{
    m_burst = 0;
    m_next = 2;
    m_haveFirst = false;
    m_opened.clear();
    m_heldBurst = -1;
    m_held.clear();
    m_holdTimer->stop();
    m_activity.start();
}

void LaunchSequencer::receive(const LaunchMessage &message)
{
    const int burst = launchOrderBurst(message.order);
    const int place = launchOrderPlace(message.order);
    if (place == 0) {
        // An older copy: no order to keep.
        emit open(message.urls, message.append);
        return;
    }
    if (m_activity.elapsed() > burstLifeMs)
        m_burst = -1;
    m_activity.start();

    if (burst != m_burst) {
        if (place > 1) {
            hold(burst, place, message.urls);
            return;
        }
        if (m_heldBurst != burst)
            releaseHeld();
        m_burst = burst;
        m_next = 1;
        m_haveFirst = false;
        m_opened.clear();
        apply(place, message.urls, message.append);
        return;
    }
    if (place > m_next) {
        hold(burst, place, message.urls);
    } else if (place >= m_next - 1) {
        // The next copy, or the rest of the last one's list.
        apply(place, message.urls, message.append);
    } else {
        // Its turn has passed: the ones after it are open already.
        m_opened[place] += message.urls;
        if (place == 1)
            m_haveFirst = true;
        if (m_haveFirst)
            reopenBurst();
        else
            emit open(message.urls, true);
    }
}

void LaunchSequencer::apply(int place, const QList<QUrl> &urls, bool append)
{
    if (place == 1 && !append)
        m_opened[1] = urls;
    else
        m_opened[place] += urls;
    if (place == 1)
        m_haveFirst = true;
    m_next = qMax(m_next, place + 1);
    emit open(urls, append);
    if (m_heldBurst != m_burst)
        return;
    while (!m_held.isEmpty() && m_held.firstKey() == m_next) {
        const int heldPlace = m_held.firstKey();
        const QList<QUrl> heldUrls = m_held.take(heldPlace);
        m_opened[heldPlace] += heldUrls;
        m_next = heldPlace + 1;
        emit open(heldUrls, true);
    }
    if (m_held.isEmpty()) {
        m_heldBurst = -1;
        m_holdTimer->stop();
    }
}

void LaunchSequencer::hold(int burst, int place, const QList<QUrl> &urls)
{
    if (m_heldBurst >= 0 && m_heldBurst != burst)
        releaseHeld();
    m_heldBurst = burst;
    m_held[place] += urls;
    if (!m_holdTimer->isActive())
        m_holdTimer->start();
}

void LaunchSequencer::releaseHeld()
{
    // The copies before them sent nothing (no URLs) or are late: add in order.
    m_holdTimer->stop();
    if (m_held.isEmpty())
        return;
    if (m_heldBurst != m_burst) {
        m_burst = m_heldBurst;
        m_next = 1;
        m_haveFirst = false;
        m_opened.clear();
    }
    const QMap<int, QList<QUrl>> held = m_held;
    m_held.clear();
    m_heldBurst = -1;
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        m_opened[it.key()] += it.value();
        m_next = qMax(m_next, it.key() + 1);
        emit open(it.value(), true);
    }
}

void LaunchSequencer::reopenBurst()
{
    QList<QUrl> all;
    for (const QList<QUrl> &urls : qAsConst(m_opened))
        all += urls;
    emit open(all, false);
}
