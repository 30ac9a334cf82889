#include "singleinstance.h"

#include <QFile>
#include <QSharedMemory>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
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
    // Qt's System V backend names the segment by ftok() of its key file with 'Q'.
    const key_t key = ::ftok(QFile::encodeName(attached.nativeKey()).constData(), 'Q');
    if (key == -1)
        return false;
    const int id = ::shmget(key, 0, 0);
    if (id == -1)
        return false;
    struct shmid_ds info;
    if (::shmctl(id, IPC_STAT, &info) != 0)
        return false;
    return info.shm_nattch == 1;
}

} // namespace SingleInstancePlatform
