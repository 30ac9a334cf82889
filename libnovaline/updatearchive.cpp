#include "updatearchive.h"

#include <QDebug>
#include <QDir>
#include <QStandardPaths>

UpdateArchive::UpdateArchive(int version, const QUrl &archive, QSettings *settings, QObject *parent)
    : QObject(parent), m_version(version), m_archive(archive), m_settings(settings)
{
}

UpdateArchive::~UpdateArchive() = default;

void UpdateArchive::setExpectedSha256(const QString &hex) { m_sha256 = hex.trimmed().toLower(); }

QString UpdateArchive::updateFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/update");
}

void UpdateArchive::clearUpdateCache() { QDir(updateFolder()).removeRecursively(); }

bool UpdateArchive::unpack(const QString &, QString *error)
{
    if (error)
        *error = QStringLiteral("not implemented");
    return false;
}

void UpdateArchive::download() { emit failed(QStringLiteral("not implemented")); }

void UpdateArchive::onDownloaded(const QString &) {}
