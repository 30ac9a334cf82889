#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class QSharedMemory;
class QTimer;

// Key of the single-instance segment and name of the launch-message server, both in
// this user's namespace so that every user runs a player of their own: the key is
// "iptv_novaline" under the user id; the server is "Pelorin_iptv" in $XDG_RUNTIME_DIR
// (or, without a usable one, in the temporary folder under the user id). Fixed when
// the process starts.
extern const char *const singleInstanceKey;
extern const char *const launchServerName;

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
    // Launch order within a burst, sent in the message's reserved byte; 0 when the
    // running copy's segment keeps no order (an older version created it).
    quint8 order = 0;
};

// The reserved byte of a launch message: bits 6-7 count bursts (modulo 4), bits 0-5
// give the copy's place in its burst (1 for the copy that started it, 63 for every
// place from 63 on). 0 means no order is known.
quint8 launchOrder(quint32 burst, quint32 place);
inline int launchOrderBurst(quint8 order) { return order >> 6; }
inline int launchOrderPlace(quint8 order) { return order & 0x3f; }

// Decides whether this process is the first running copy (creating and stamping the
// segment) or a later one (reading and possibly moving the launch stamp).
LaunchCheck checkLaunch(QSharedMemory &segment);

// Creates and stamps the segment again after this copy let it go; false when another
// process holds it meanwhile.
bool reacquireFirstInstance(QSharedMemory &segment);

// Launch message: qint32 length of the rest, qint8 reserved (0), bool append,
// QList<QUrl> urls, in QDataStream's default version and byte order.
QByteArray encodeLaunchMessage(const QList<QUrl> &urls, bool append, quint8 order = 0);

struct LaunchMessage
{
    quint8 order = 0;
    bool append = false;
    QList<QUrl> urls;
};

enum class LaunchMessageStatus { Incomplete, Complete, Invalid };

// Takes one whole message off the front of buffer. Incomplete leaves the buffer as it
// is; Invalid (oversized, negative length or a decoding error) fills error.
LaunchMessageStatus takeLaunchMessage(QByteArray &buffer, LaunchMessage &message, QString *error);

// Reads the length field from the first four bytes; false when fewer are there.
bool readLaunchMessageLength(const QByteArray &head, qint32 *length);

// Splits urls into messages the receiver accepts: the first carries `append`, the
// others add. A URL too long for any message is left out.
QList<QByteArray> encodeLaunchMessages(const QList<QUrl> &urls, bool append, quint8 order = 0);

// Forwards urls to the running copy: up to `attempts` connections, pausing pauseMs after
// each failure. Blocking; used before any event loop runs. True when written.
bool sendLaunchMessage(const QList<QUrl> &urls, bool append, int attempts = 10, int pauseMs = 1000,
                       quint8 order = 0);

// Puts the launch messages of a burst back into launch order. Copies of a burst may
// reach the running copy in any order: an adding copy that arrives before the copy it
// follows is held back for a while; a copy that arrives after the ones behind it makes
// the whole burst open again in order. Emits what to open.
class LaunchSequencer : public QObject
{
    Q_OBJECT
public:
    explicit LaunchSequencer(QObject *parent = nullptr, int holdMs = 3000);

    void receive(const LaunchMessage &message);
    // Back to the state of a copy that has just created the segment.
    void reset();

signals:
    void open(const QList<QUrl> &urls, bool append);

private:
    void apply(int place, const QList<QUrl> &urls, bool append);
    void hold(int burst, int place, const QList<QUrl> &urls);
    void releaseHeld();
    void reopenBurst();

    int m_burst = 0;
    int m_next = 2;                      // place expected next in m_burst
    bool m_haveFirst = false;            // place 1 of m_burst has been opened
    QMap<int, QList<QUrl>> m_opened;     // what m_burst has opened, by place
    int m_heldBurst = -1;
    QMap<int, QList<QUrl>> m_held;       // places waiting for the ones before them
    QTimer *m_holdTimer = nullptr;
    QElapsedTimer m_activity;
};

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

// Number of processes attached to the segment of nativeKey, -1 when there is none.
// Looks without attaching (attaching and detaching would remove an orphaned segment).
int attachCount(const QString &nativeKey);

// Per-user names; see singleInstanceKey and launchServerName.
QByteArray userSegmentKey();
QByteArray userServerName();
}
