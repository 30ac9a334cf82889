#pragma once

#include <QString>
#include <QtGlobal>

// What identifies one version of a file on disk: a replaced or rewritten file gives a
// different value (new inode, size or change time), an untouched file the same one.
struct FileVersion
{
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileVersion &o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size
            && modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
    bool operator!=(const FileVersion &o) const { return !(*this == o); }
};

FileVersion fileVersion(const QString &path);
