#include "updatearchive.h"

#include "httpdownload.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

namespace {

QString cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

// Downloaded archives wait here until they are unpacked.
QString downloadFolder()
{
    return cacheFolder() + QStringLiteral("/update-download");
}

const QString StagingPrefix = QStringLiteral("update.staging-");
const QString OldPrefix = QStringLiteral("update.old-");

struct ArchiveReader
{
    archive *a = archive_read_new();
    ~ArchiveReader() { archive_read_free(a); }
    QString error() const
    {
        const char *text = archive_error_string(a);
        return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown archive error");
    }
};

// Splits an entry name into safe components below the target folder. Backslashes count
// as separators too: archives made on Windows use them.
bool safeComponents(QString name, QStringList *parts, QString *why)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty()) {
        *why = QStringLiteral("entry without a name");
        return false;
    }
    if (name.startsWith(QLatin1Char('/'))
        || (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter())) {
        *why = QStringLiteral("absolute path \"%1\"").arg(name);
        return false;
    }
    parts->clear();
    const QStringList raw = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : raw) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            *why = QStringLiteral("path leaving the update folder \"%1\"").arg(name);
            return false;
        }
        parts->append(part);
    }
    return true;
}

QString entryName(archive_entry *entry)
{
    if (const char *utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    if (const char *local = archive_entry_pathname(entry))
        return QFile::decodeName(local);
    return QString();
}

// Extracts every entry into folder (which must exist and be empty). Any entry that is
// not a plain file or folder inside it, or a limit crossed, refuses the whole archive.
bool extractInto(const QString &archiveFile, const QString &folder, const UpdateArchive::Limits &limits,
                 QString *why)
{
    const int maxEntries = limits.maxEntries;
    const qint64 archiveSize = QFileInfo(archiveFile).size();
    const qint64 ratioBound = limits.maxRatio > 0 && archiveSize < limits.maxUnpackedBytes / limits.maxRatio
        ? std::max(limits.ratioFloorBytes, archiveSize * limits.maxRatio)
        : limits.maxUnpackedBytes;
    const qint64 maxBytes = std::min(limits.maxUnpackedBytes, ratioBound);
    const QString limitText = maxBytes < limits.maxUnpackedBytes
        ? QStringLiteral("%1 bytes for a %2-byte archive").arg(maxBytes).arg(archiveSize)
        : QStringLiteral("%1 bytes").arg(maxBytes);
    QStorageInfo disk(folder);
    qint64 sinceSpaceCheck = 0;
    auto spaceLeft = [&](qint64 coming) {
        disk.refresh();
        return !disk.isValid() || disk.bytesAvailable() - coming >= limits.freeSpaceMargin;
    };
    ArchiveReader reader;
    archive *a = reader.a;
    // Only formats and filters that never touch other files or run external programs.
    archive_read_support_format_zip(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_gnutar(a);
    archive_read_support_format_7zip(a);
    archive_read_support_filter_gzip(a);
    archive_read_support_filter_bzip2(a);
    archive_read_support_filter_xz(a);
    archive_read_support_filter_zstd(a);
    if (archive_read_open_filename(a, QFile::encodeName(archiveFile).constData(), 64 * 1024)
        != ARCHIVE_OK) {
        *why = QStringLiteral("cannot open %1: %2").arg(archiveFile, reader.error());
        return false;
    }

    const QDir root(folder);
    int entries = 0;
    qint64 total = 0;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r == ARCHIVE_WARN)
            qWarning().noquote() << "Update archive:" << reader.error();
        else if (r != ARCHIVE_OK) {
            *why = QStringLiteral("broken archive: %1").arg(reader.error());
            return false;
        }
        if (++entries > maxEntries) {
            *why = QStringLiteral("more than %1 entries").arg(maxEntries);
            return false;
        }
        const QString name = entryName(entry);
        QStringList parts;
        if (!safeComponents(name, &parts, why))
            return false;
        if (archive_entry_hardlink(entry)) {
            *why = QStringLiteral("hard link \"%1\"").arg(name);
            return false;
        }
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFLNK || archive_entry_symlink(entry)) {
            *why = QStringLiteral("symbolic link \"%1\"").arg(name);
            return false;
        }
        const QString relative = parts.join(QLatin1Char('/'));
        if (type == AE_IFDIR) {
            if (!relative.isEmpty() && !root.mkpath(relative)) {
                *why = QStringLiteral("cannot create folder \"%1\"").arg(relative);
                return false;
            }
            continue;
        }
        if (type != AE_IFREG) {
            *why = QStringLiteral("special file \"%1\"").arg(name);
            return false;
        }
        if (parts.isEmpty()) {
            *why = QStringLiteral("file entry without a name \"%1\"").arg(name);
            return false;
        }
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > maxBytes - total) {
            *why = QStringLiteral("more than %1 unpacked (\"%2\" declares %3)")
                       .arg(limitText, name)
                       .arg(archive_entry_size(entry));
            return false;
        }
        if (!spaceLeft(archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0)) {
            *why = QStringLiteral("the disk is nearly full (at \"%1\")").arg(name);
            return false;
        }
        if (parts.size() > 1 && !root.mkpath(QStringList(parts.mid(0, parts.size() - 1)).join(QLatin1Char('/')))) {
            *why = QStringLiteral("cannot create the folder of \"%1\"").arg(name);
            return false;
        }
        const QString target = root.filePath(relative);
        if (QFileInfo(target).isDir()) {
            *why = QStringLiteral("file \"%1\" collides with a folder").arg(name);
            return false;
        }
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *why = QStringLiteral("cannot write \"%1\": %2").arg(relative, out.errorString());
            return false;
        }
        for (;;) {
            const la_ssize_t n = archive_read_data(a, buffer.data(), size_t(buffer.size()));
            if (n == 0)
                break;
            if (n < 0) {
                *why = QStringLiteral("broken entry \"%1\": %2").arg(name, reader.error());
                return false;
            }
            total += n;
            if (total > maxBytes) {
                *why = QStringLiteral("more than %1 unpacked (at \"%2\")").arg(limitText, name);
                return false;
            }
            sinceSpaceCheck += n;
            if (sinceSpaceCheck >= 4 * 1024 * 1024) {
                sinceSpaceCheck = 0;
                if (!spaceLeft(0)) {
                    *why = QStringLiteral("the disk is nearly full (at \"%1\")").arg(name);
                    return false;
                }
            }
            if (out.write(buffer.constData(), n) != n) {
                *why = QStringLiteral("cannot write \"%1\": %2").arg(relative, out.errorString());
                return false;
            }
        }
        if (!out.flush()) {
            *why = QStringLiteral("cannot write \"%1\": %2").arg(relative, out.errorString());
            return false;
        }
        // Keep an executable bit (the installer), never set-id bits.
        if (archive_entry_perm(entry) & 0111) {
            out.setPermissions(out.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser
                               | QFileDevice::ExeGroup | QFileDevice::ExeOther);
        }
        out.close();
    }
    if (entries == 0) {
        *why = QStringLiteral("empty archive");
        return false;
    }
    return true;
}

bool fail(const QString &archiveFile, const QString &why, QString *error)
{
    qCritical().noquote() << "Update archive" << archiveFile << "refused:" << why;
    if (error)
        *error = why;
    return false;
}

int downloadCounter = 0;

} // namespace

UpdateArchive::UpdateArchive(int version, const QUrl &archive, QSettings *settings, QObject *parent)
    : QObject(parent)
    , m_version(version)
    , m_archive(archive)
    , m_settings(settings)
{
}

UpdateArchive::~UpdateArchive()
{
    if (m_download) {
        m_download->disconnect(this);
        delete m_download;
    }
}

void UpdateArchive::setExpectedSha256(const QString &hex)
{
    m_sha256 = hex.trimmed().toLower();
}

QString UpdateArchive::updateFolder()
{
    return cacheFolder() + QStringLiteral("/update");
}

void UpdateArchive::clearUpdateCache()
{
    if (!QDir(updateFolder()).removeRecursively())
        qWarning() << "Cannot remove every update from" << cacheFolder();
    sweepLeftovers();
}

bool UpdateArchive::unpack(const QString &archiveFile, QString *error)
{
    return unpack(archiveFile, MaxEntries, MaxUnpackedBytes, error);
}

bool UpdateArchive::unpack(const QString &archiveFile, int maxEntries, qint64 maxUnpackedBytes,
                           QString *error)
{
    Limits limits;
    limits.maxEntries = maxEntries;
    limits.maxUnpackedBytes = maxUnpackedBytes;
    return unpack(archiveFile, limits, error);
}

void UpdateArchive::sweepLeftovers()
{
    const QString cache = cacheFolder();
    bool ok = QDir(downloadFolder()).removeRecursively();
    const QStringList leftovers = QDir(cache).entryList(
        {StagingPrefix + QLatin1Char('*'), OldPrefix + QLatin1Char('*')},
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : leftovers)
        ok = QDir(cache + QLatin1Char('/') + name).removeRecursively() && ok;
    if (!leftovers.isEmpty())
        qWarning().noquote() << "Removed" << leftovers.size() << "unfinished update folders from" << cache;
    if (!ok)
        qWarning() << "Cannot remove every unfinished update from" << cache;
}

bool UpdateArchive::unpack(const QString &archiveFile, const Limits &limits, QString *error)
{
    const QString cache = cacheFolder();
    if (!QDir().mkpath(cache))
        return fail(archiveFile, QStringLiteral("cannot create the cache folder %1").arg(cache), error);

    // A fresh staging folder next to the update folder: the final renames stay on one
    // file system, and a refused or broken archive never touches the current update.
    QTemporaryDir staging(cache + QLatin1Char('/') + StagingPrefix + QStringLiteral("XXXXXX"));
    if (!staging.isValid())
        return fail(archiveFile, QStringLiteral("cannot create a staging folder: %1").arg(staging.errorString()), error);
    QString why;
    if (!extractInto(archiveFile, staging.path(), limits, &why))
        return fail(archiveFile, why, error);

    const QString target = updateFolder();
    QString old;
    if (QFileInfo::exists(target)) {
        QTemporaryDir parking(cache + QLatin1Char('/') + OldPrefix + QStringLiteral("XXXXXX"));
        parking.setAutoRemove(false);
        old = parking.path();
        if (!parking.isValid() || !QDir().rmdir(old) || !QDir().rename(target, old))
            return fail(archiveFile, QStringLiteral("cannot move the previous update aside"), error);
    }
    if (!QDir().rename(staging.path(), target)) {
        if (!old.isEmpty())
            QDir().rename(old, target);
        return fail(archiveFile, QStringLiteral("cannot move the unpacked update into %1").arg(target), error);
    }
    staging.setAutoRemove(false);
    if (!old.isEmpty())
        QDir(old).removeRecursively();
    if (!QFileInfo::exists(target + QStringLiteral("/update.exe")))
        qWarning() << "Update archive" << archiveFile << "carries no update.exe";
    return true;
}

void UpdateArchive::download()
{
    if (m_download) {
        qWarning() << "Update download already running for" << m_archive.toDisplayString();
        return;
    }
    const QString name = QStringLiteral("update-%1-%2-%3.archive")
                             .arg(m_version)
                             .arg(QCoreApplication::applicationPid())
                             .arg(++downloadCounter);
    m_download = new HttpDownload(HttpDownload::File);
    m_download->setUrl(m_archive);
    m_download->setSavePath(downloadFolder());
    m_download->setFileName(name);
    connect(m_download, &HttpDownload::fileDownloaded, this,
            [this](const QString &, const QString &path) { onDownloaded(path); });
    connect(m_download, &HttpDownload::downloadError, this, [this](const QString &error) {
        qWarning().noquote() << "Update download failed:" << error;
        emit failed(error);
    });
    connect(m_download, &HttpDownload::downloadFinished, this, [this] {
        m_download->disconnect(this);
        m_download->deleteLater();
        m_download = nullptr;
    });
    m_download->download();
}

namespace {

// Checks the checksum and unpacks; runs on a worker thread.
QString verifyAndUnpack(const QString &filePath, const QString &sha256, const QString &source)
{
    QString error;
    if (!sha256.isEmpty()) {
        QFile file(filePath);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            QFile::remove(filePath);
            qCritical() << "Cannot read the downloaded update" << filePath;
            return QStringLiteral("cannot read the downloaded update");
        }
        file.close();
        const QString actual = QString::fromLatin1(hash.result().toHex());
        if (actual != sha256) {
            QFile::remove(filePath);
            qCritical().noquote() << "Update archive checksum mismatch for" << source << "expected" << sha256
                                  << "got" << actual;
            return QStringLiteral("checksum mismatch");
        }
    }
    const bool ok = UpdateArchive::unpack(filePath, &error);
    QFile::remove(filePath);
    return ok ? QString() : (error.isEmpty() ? QStringLiteral("unpacking failed") : error);
}

} // namespace

void UpdateArchive::onDownloaded(const QString &filePath)
{
    // Hashing and unpacking hundreds of megabytes takes seconds: off the GUI thread.
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QString error = watcher->result();
        if (error.isEmpty())
            emit extracted();
        else
            emit failed(error);
    });
    watcher->setFuture(QtConcurrent::run(verifyAndUnpack, filePath, m_sha256, m_archive.toDisplayString()));
}
