#include "singleinstance.h"

#include <QFile>
#include <QSharedMemory>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace SingleInstancePlatform {

LaunchGuard::LaunchGuard(const QString &nativeKey)
{
    if (nativeKey.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(nativeKey + QStringLiteral(".launch"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

LaunchGuard::~LaunchGuard()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock
}

bool heldByThisProcessOnly(const QSharedMemory &attached)
{
    return attachCount(attached.nativeKey()) == 1;
}

int attachCount(const QString &nativeKey)
{
    // Qt's System V backend names the segment by ftok() of its key file with 'Q'.
    const key_t key = ::ftok(QFile::encodeName(nativeKey).constData(), 'Q');
    if (key == -1)
        return -1;
    const int id = ::shmget(key, 0, 0);
    if (id == -1)
        return -1;
    struct shmid_ds info;
    if (::shmctl(id, IPC_STAT, &info) != 0)
        return -1;
    return int(info.shm_nattch);
}

QByteArray userSegmentKey()
{
    return "user-" + QByteArray::number(uint(::getuid())) + "/iptv_novaline";
}

QByteArray userServerName()
{
    // $XDG_RUNTIME_DIR only when it is this user's private folder: after su or sudo it
    // may still name the previous user's one.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray inRuntime = runtime + "/Pelorin_iptv";
    struct stat info;
    if (runtime.startsWith('/') && size_t(inRuntime.size()) < sizeof(sockaddr_un::sun_path)
        && ::stat(runtime.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & 077) == 0)
        return inRuntime;
    // A plain name lives in the temporary folder, shared between users.
    return "user-" + QByteArray::number(uint(::getuid())) + "-Pelorin_iptv";
}

} // namespace SingleInstancePlatform
