#include "fileversion.h"

#include <QFile>

#include <sys/stat.h>

FileVersion fileVersion(const QString &path)
{
    FileVersion v;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return v;
    v.exists = true;
    v.device = quint64(st.st_dev);
    v.inode = quint64(st.st_ino);
    v.size = qint64(st.st_size);
    v.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    v.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return v;
}
