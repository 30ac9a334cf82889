#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

class QSharedMemory;

// Key of the single-instance segment and name of the launch-message server.
extern const char singleInstanceKey[];   // "iptv_novaline"
extern const char launchServerName[];    // "Pelorin_iptv"

// Largest launch message accepted (bytes after the length field).
constexpr qint32 maxLaunchMessageSize = 1024 * 1024;

struct LaunchCheck
{
    bool firstInstance = false;
    // Seconds since the last recorded launch; 0 when attaching failed.
    quint32 launchGap = 0;
    // True when a segment left behind by a copy that died without detaching was
    // removed, so that this process could become the first copy.
    bool recoveredStale = false;
};

// Decides whether this process is the first running copy (creating and stamping the
// segment) or a later one (reading and possibly moving the launch stamp).
LaunchCheck checkLaunch(QSharedMemory &segment);

// Creates and stamps the segment again after this copy let it go; false when another
// process holds it meanwhile.
bool reacquireFirstInstance(QSharedMemory &segment);

// Launch message: qint32 length of the rest, qint8 reserved (0), bool append,
// QList<QUrl> urls, in QDataStream's default version and byte order.
QByteArray encodeLaunchMessage(const QList<QUrl> &urls, bool append);

struct LaunchMessage
{
    bool append = false;
    QList<QUrl> urls;
};

enum class LaunchMessageStatus { Incomplete, Complete, Invalid };

// Takes one whole message off the front of buffer. Incomplete leaves the buffer as it
// is; Invalid (oversized, negative length or a decoding error) fills error.
LaunchMessageStatus takeLaunchMessage(QByteArray &buffer, LaunchMessage &message, QString *error);

// Reads the length field from the first four bytes; false when fewer are there.
bool readLaunchMessageLength(const QByteArray &head, qint32 *length);

// Forwards urls to the running copy: up to `attempts` connections, pausing pauseMs after
// each failure. Blocking; used before any event loop runs. True when written.
bool sendLaunchMessage(const QList<QUrl> &urls, bool append, int attempts = 10, int pauseMs = 1000);

namespace SingleInstancePlatform {
// Serialises the launch check between processes; released when the object (or the
// process) goes away.
class LaunchGuard
{
public:
    explicit LaunchGuard(const QString &nativeKey);
    ~LaunchGuard();
    LaunchGuard(const LaunchGuard &) = delete;
    LaunchGuard &operator=(const LaunchGuard &) = delete;

private:
    int m_fd = -1;
};

// True when the segment `attached` is attached to is held by this process alone: the
// copy that created it is gone without detaching.
bool heldByThisProcessOnly(const QSharedMemory &attached);
}
