#pragma once

#include <QObject>
#include <QUrl>

class QSettings;
class HttpDownload;

// Downloads an update archive and unpacks it into the cache folder + "/update/"
// (staged: the folder is replaced only by a complete, safe unpack). Emits extracted()
// after a completed unpack; a refused or failed archive is logged and emits nothing
// but failed().
class UpdateArchive : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 10000;
    static constexpr qint64 MaxUnpackedBytes = 2LL * 1024 * 1024 * 1024;

    struct Limits
    {
        int maxEntries = MaxEntries;
        qint64 maxUnpackedBytes = MaxUnpackedBytes;
        // Unpacked bytes per archive byte beyond ratioFloorBytes: a tiny archive that
        // unpacks to gigabytes is a bomb, not an update.
        qint64 maxRatio = 100;
        qint64 ratioFloorBytes = 64LL * 1024 * 1024;
        // Unpacking stops before the disk's free space drops below this.
        qint64 freeSpaceMargin = 256LL * 1024 * 1024;
    };

    UpdateArchive(int version, const QUrl &archive, QSettings *settings, QObject *parent = nullptr);
    ~UpdateArchive() override;

    int version() const { return m_version; }
    QUrl archiveUrl() const { return m_archive; }

    // Optional integrity check: hex SHA-256 of the archive; empty means none.
    void setExpectedSha256(const QString &hex);

    // The folder the update is unpacked into: cache folder + "/update".
    static QString updateFolder();
    // Removes every downloaded or unpacked update.
    static void clearUpdateCache();

    // Unpacks a local archive file into updateFolder(); the download step calls it.
    // Returns false (and logs why) when the archive is refused or broken.
    static bool unpack(const QString &archiveFile, QString *error = nullptr);
    // The same with other limits (tests use small ones).
    static bool unpack(const QString &archiveFile, int maxEntries, qint64 maxUnpackedBytes,
                       QString *error = nullptr);
    static bool unpack(const QString &archiveFile, const Limits &limits, QString *error = nullptr);

    // Removes what an interrupted run left: staging folders and partial downloads.
    // Called at start, before any update work begins.
    static void sweepLeftovers();

public slots:
    void download();

signals:
    void extracted();
    void failed(const QString &error);

private:
    void onDownloaded(const QString &filePath);

    int m_version;
    QUrl m_archive;
    QSettings *m_settings;
    QString m_sha256;
    HttpDownload *m_download = nullptr;
};
