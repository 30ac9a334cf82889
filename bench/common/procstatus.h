#pragma once

#include <QByteArray>
#include <QFile>

// A memory figure of /proc/self/status in kB ("VmHWM:", "VmRSS:"); 0 when unknown.
inline qint64 procStatusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}
