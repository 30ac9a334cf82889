#include "fileversion.h"

#include <QDateTime>
#include <QFileInfo>

// Without stat(): size and the times Qt reports (milliseconds).
FileVersion fileVersion(const QString &path)
{
    FileVersion v;
    const QFileInfo info(path);
    if (!info.exists())
        return v;
    v.exists = true;
    v.size = info.size();
    v.modifiedNs = info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch() * 1000000;
    v.changedNs = info.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch() * 1000000;
    return v;
}
