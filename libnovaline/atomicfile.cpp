#include "atomicfile.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace AtomicFile {

bool commit(QSaveFile &file, QString *error)
{
    auto failed = [&](const QString &why) {
        if (error)
            *error = why;
        file.cancelWriting();
        return false;
    };
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return failed(file.errorString());
    // Delayed allocation reports a full disk only here; EINVAL means no sync to do.
    if (::fsync(file.handle()) != 0 && errno != EINVAL)
        return failed(QString::fromLocal8Bit(strerror(errno)));
    if (!file.commit())
        return failed(file.errorString());
    return true;
}

bool write(const QString &path, const QByteArray &data, QString *error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.write(data) != data.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return commit(file, error);
}

bool sync(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (::fsync(file.handle()) != 0 && errno != EINVAL) {
        if (error)
            *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    return true;
}

bool replace(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(strerror(errno));
    return false;
}

} // namespace AtomicFile
