#include "updatearchive.h"
#include "testserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

namespace {

struct Entry
{
    enum Type { File, Dir, Symlink, Hardlink, CharDevice, Fifo };
    QString name;
    Type type = File;
    QByteArray data;
    QString link;
    int perm = 0644;
};

Entry file(const QString &name, const QByteArray &data, int perm = 0644)
{
    Entry e;
    e.name = name;
    e.data = data;
    e.perm = perm;
    return e;
}

Entry special(const QString &name, Entry::Type type, const QString &link = QString())
{
    Entry e;
    e.name = name;
    e.type = type;
    e.link = link;
    e.perm = type == Entry::Dir ? 0755 : 0644;
    return e;
}

// Builds a sample with libarchive's writer: "zip" or "tar.gz".
bool writeArchive(const QString &path, const QString &format, const QList<Entry> &entries)
{
    archive *a = archive_write_new();
    if (format == QLatin1String("zip")) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    }
    bool ok = archive_write_open_filename(a, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const Entry &e : entries) {
        if (!ok)
            break;
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.toUtf8().constData());
        archive_entry_set_perm(entry, mode_t(e.perm));
        switch (e.type) {
        case Entry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
            break;
        case Entry::Dir:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case Entry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.link.toUtf8().constData());
            break;
        case Entry::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.link.toUtf8().constData());
            archive_entry_set_size(entry, 0);
            break;
        case Entry::CharDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_rdevmajor(entry, 1);
            archive_entry_set_rdevminor(entry, 3);
            break;
        case Entry::Fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
            break;
        }
        ok = archive_write_header(a, entry) == ARCHIVE_OK;
        if (ok && e.type == Entry::File && !e.data.isEmpty())
            ok = archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size();
        if (!ok)
            qWarning() << "sample writer:" << archive_error_string(a);
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString cacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QStringList cacheLeftovers()
{
    return QDir(cacheFolder()).entryList({QStringLiteral("update"), QStringLiteral("update.*")}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QByteArray bigData(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((qint64(i) * 7919) % 251);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

class TestUpdateArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void goodArchives_data();
    void goodArchives();
    void newUpdateReplacesTheOldOneWhole();
    void refusedArchivesLeaveTheOldUpdate_data();
    void refusedArchivesLeaveTheOldUpdate();
    void defaultEntryLimit();
    void limitsOfTheArchiveAndTheDisk_data();
    void limitsOfTheArchiveAndTheDisk();
    void clearUpdateCacheRemovesOnlyUpdates();
    void downloadAndUnpack();
    void checksum_data();
    void checksum();
    void downloadFailure();

private:
    QString sample(const QString &name) const { return m_samples.path() + QLatin1Char('/') + name; }
    void installV1();

    TestServer m_server;
    QTemporaryDir m_samples;
};

void TestUpdateArchive::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
    QVERIFY(m_samples.isValid());
    QVERIFY(m_server.start());
}

void TestUpdateArchive::init()
{
    QDir(cacheFolder()).removeRecursively();
    QVERIFY(QDir().mkpath(cacheFolder()));
}

void TestUpdateArchive::installV1()
{
    const QString v1 = sample(QStringLiteral("v1.zip"));
    QVERIFY(writeArchive(v1, QStringLiteral("zip"),
                         {file(QStringLiteral("update.exe"), "v1", 0755), file(QStringLiteral("old/only-in-v1.txt"), "old")}));
    QVERIFY(UpdateArchive::unpack(v1));
    QCOMPARE(readAll(UpdateArchive::updateFolder() + QStringLiteral("/update.exe")), QByteArray("v1"));
}

void TestUpdateArchive::goodArchives_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("zip") << QStringLiteral("zip");
    QTest::newRow("tar.gz") << QStringLiteral("tar.gz");
}

void TestUpdateArchive::goodArchives()
{
    QFETCH(QString, format);
    const QByteArray deep = bigData(300000);
    const QString path = sample(QStringLiteral("good.") + format);
    QVERIFY(writeArchive(path, format,
                         {special(QStringLiteral("app/"), Entry::Dir), file(QStringLiteral("update.exe"), "MZ installer", 0755),
                          file(QStringLiteral("app/readme.txt"), "read me"), file(QStringLiteral("app/sub/deep.bin"), deep),
                          file(QStringLiteral("./app/dotted.txt"), "dot"), file(QStringLiteral("Приложение/файл.txt"), "utf-8 name")}));
    QString error;
    QVERIFY2(UpdateArchive::unpack(path, &error), qPrintable(error));
    const QString folder = UpdateArchive::updateFolder();
    QCOMPARE(folder, cacheFolder() + QStringLiteral("/update"));
    QCOMPARE(readAll(folder + QStringLiteral("/update.exe")), QByteArray("MZ installer"));
    QVERIFY(QFileInfo(folder + QStringLiteral("/update.exe")).isExecutable());
    QVERIFY(!QFileInfo(folder + QStringLiteral("/app/readme.txt")).isExecutable());
    QCOMPARE(readAll(folder + QStringLiteral("/app/readme.txt")), QByteArray("read me"));
    QCOMPARE(readAll(folder + QStringLiteral("/app/sub/deep.bin")), deep);
    QCOMPARE(readAll(folder + QStringLiteral("/app/dotted.txt")), QByteArray("dot"));
    QCOMPARE(readAll(folder + QStringLiteral("/Приложение/файл.txt")), QByteArray("utf-8 name"));
    QCOMPARE(cacheLeftovers(), QStringList{QStringLiteral("update")});
}

void TestUpdateArchive::newUpdateReplacesTheOldOneWhole()
{
    installV1();
    const QString v2 = sample(QStringLiteral("v2.tar.gz"));
    QVERIFY(writeArchive(v2, QStringLiteral("tar.gz"), {file(QStringLiteral("update.exe"), "v2", 0755)}));
    QVERIFY(UpdateArchive::unpack(v2));
    const QString folder = UpdateArchive::updateFolder();
    QCOMPARE(readAll(folder + QStringLiteral("/update.exe")), QByteArray("v2"));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/old")));
    QCOMPARE(cacheLeftovers(), QStringList{QStringLiteral("update")});
}

void TestUpdateArchive::refusedArchivesLeaveTheOldUpdate_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<int>("maxEntries");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QString>("reason");

    const int entries = UpdateArchive::MaxEntries;
    const qint64 bytes = UpdateArchive::MaxUnpackedBytes;
    const Entry installer = file(QStringLiteral("update.exe"), "evil", 0755);
    const QString absolute = QDir::tempPath() + QStringLiteral("/novaline-evil-absolute.txt");

    for (const QString &format : {QStringLiteral("zip"), QStringLiteral("tar.gz")}) {
        const QByteArray f = format.toLatin1();
        QTest::newRow(f + " traversal") << format << QList<Entry>{installer, file(QStringLiteral("../evil.txt"), "x")}
                                        << entries << bytes << QStringLiteral("leaving the update folder");
        QTest::newRow(f + " nested traversal")
            << format << QList<Entry>{file(QStringLiteral("app/../../evil.txt"), "x"), installer} << entries << bytes
            << QStringLiteral("leaving the update folder");
        QTest::newRow(f + " symlink") << format
                                      << QList<Entry>{installer, special(QStringLiteral("link"), Entry::Symlink, QStringLiteral("/etc/passwd"))}
                                      << entries << bytes << QStringLiteral("symbolic link");
        QTest::newRow(f + " too many entries")
            << format << QList<Entry>{installer, file(QStringLiteral("a"), "1"), file(QStringLiteral("b"), "2"), file(QStringLiteral("c"), "3")}
            << 3 << bytes << QStringLiteral("more than 3 entries");
        QTest::newRow(f + " bomb") << format << QList<Entry>{installer, file(QStringLiteral("zeros.bin"), QByteArray(1 << 20, '\0'))}
                                   << entries << qint64(64 * 1024) << QStringLiteral("more than 65536 bytes");
        QTest::newRow(f + " bomb in parts")
            << format
            << QList<Entry>{file(QStringLiteral("p1"), QByteArray(30000, 'a')), file(QStringLiteral("p2"), QByteArray(30000, 'b')),
                            file(QStringLiteral("p3"), QByteArray(30000, 'c')), installer}
            << entries << qint64(64 * 1024) << QStringLiteral("more than 65536 bytes");
    }
    QTest::newRow("zip backslash traversal") << QStringLiteral("zip") << QList<Entry>{installer, file(QStringLiteral("..\\evil.txt"), "x")}
                                             << entries << bytes << QStringLiteral("leaving the update folder");
    QTest::newRow("tar.gz absolute path") << QStringLiteral("tar.gz") << QList<Entry>{installer, file(absolute, "x")} << entries
                                          << bytes << QStringLiteral("absolute path");
    QTest::newRow("tar.gz hard link") << QStringLiteral("tar.gz")
                                      << QList<Entry>{installer, special(QStringLiteral("hard"), Entry::Hardlink, QStringLiteral("/etc/passwd"))}
                                      << entries << bytes << QStringLiteral("hard link");
    QTest::newRow("tar.gz device") << QStringLiteral("tar.gz") << QList<Entry>{installer, special(QStringLiteral("null"), Entry::CharDevice)}
                                   << entries << bytes << QStringLiteral("special file");
    QTest::newRow("tar.gz fifo") << QStringLiteral("tar.gz") << QList<Entry>{installer, special(QStringLiteral("pipe"), Entry::Fifo)}
                                 << entries << bytes << QStringLiteral("special file");
    QTest::newRow("symlink then a file through it")
        << QStringLiteral("tar.gz")
        << QList<Entry>{special(QStringLiteral("up"), Entry::Symlink, QStringLiteral("..")), file(QStringLiteral("up/evil.txt"), "x")}
        << entries << bytes << QStringLiteral("symbolic link");
}

void TestUpdateArchive::refusedArchivesLeaveTheOldUpdate()
{
    QFETCH(QString, format);
    QFETCH(QList<Entry>, entries);
    QFETCH(int, maxEntries);
    QFETCH(qint64, maxBytes);
    QFETCH(QString, reason);

    installV1();
    const QString path = sample(QStringLiteral("refused.") + format);
    QFile::remove(path);
    QVERIFY(writeArchive(path, format, entries));

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("refused: .*") + QRegularExpression::escape(reason)));
    QString error;
    QVERIFY(!UpdateArchive::unpack(path, maxEntries, maxBytes, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));

    // The old update is untouched and nothing landed anywhere else.
    const QString folder = UpdateArchive::updateFolder();
    QCOMPARE(readAll(folder + QStringLiteral("/update.exe")), QByteArray("v1"));
    QCOMPARE(readAll(folder + QStringLiteral("/old/only-in-v1.txt")), QByteArray("old"));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{QStringLiteral("old"), QStringLiteral("update.exe")}));
    QCOMPARE(cacheLeftovers(), QStringList{QStringLiteral("update")});
    QDir up(cacheFolder());
    for (int level = 0; level < 3 && up.cdUp(); ++level)
        QVERIFY2(!QFileInfo::exists(up.filePath(QStringLiteral("evil.txt"))), qPrintable(up.path()));
    QVERIFY(!QFileInfo::exists(QDir::tempPath() + QStringLiteral("/novaline-evil-absolute.txt")));
}

void TestUpdateArchive::defaultEntryLimit()
{
    // 10,000 entries pass, one more refuses the archive (the same folder, over and over).
    QList<Entry> entries;
    for (int i = 0; i < UpdateArchive::MaxEntries; ++i)
        entries.append(special(QStringLiteral("same/"), Entry::Dir));
    const QString ok = sample(QStringLiteral("limit.tar.gz"));
    QVERIFY(writeArchive(ok, QStringLiteral("tar.gz"), entries));
    QString error;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("carries no update.exe")));
    QVERIFY2(UpdateArchive::unpack(ok, &error), qPrintable(error));

    entries.append(special(QStringLiteral("same/"), Entry::Dir));
    const QString over = sample(QStringLiteral("over.tar.gz"));
    QVERIFY(writeArchive(over, QStringLiteral("tar.gz"), entries));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("refused: more than 10000 entries")));
    QVERIFY(!UpdateArchive::unpack(over, &error));

    // Garbage, an empty file and a cut archive are refused too.
    const QByteArray whole = readAll(over);
    for (const QByteArray &bytes : {QByteArray("this is no archive at all"), QByteArray(), whole.left(whole.size() / 2)}) {
        const QString broken = sample(QStringLiteral("broken.bin"));
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("refused")));
        QVERIFY(!UpdateArchive::unpack(broken, &error));
    }
    QCOMPARE(cacheLeftovers(), QStringList{QStringLiteral("update")});
}

void TestUpdateArchive::limitsOfTheArchiveAndTheDisk_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<qint64>("margin");  // -1: more than the disk has free
    QTest::addColumn<QString>("reason"); // empty: accepted
    QTest::newRow("2 MiB of zeros from a tiny archive") << QByteArray(2 << 20, '\0') << qint64(0)
                                                        << QStringLiteral("-byte archive");
    QTest::newRow("incompressible 300 KiB") << bigData(300 * 1024) << qint64(0) << QString();
    QTest::newRow("no room left on the disk") << bigData(1024) << qint64(-1) << QStringLiteral("the disk is nearly full");
}

void TestUpdateArchive::limitsOfTheArchiveAndTheDisk()
{
    QFETCH(QByteArray, payload);
    QFETCH(qint64, margin);
    QFETCH(QString, reason);
    const QString path = sample(QStringLiteral("limits.tar.gz"));
    QFile::remove(path);
    QVERIFY(writeArchive(path, QStringLiteral("tar.gz"), {file(QStringLiteral("update.exe"), "x", 0755),
                                                          file(QStringLiteral("payload.bin"), payload)}));
    UpdateArchive::Limits limits;
    limits.ratioFloorBytes = 512 * 1024;
    limits.freeSpaceMargin = margin >= 0 ? margin : QStorageInfo(cacheFolder()).bytesAvailable() + (qint64(1) << 30);
    if (!reason.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("refused: .*") + QRegularExpression::escape(reason)));
    QString error;
    QCOMPARE(UpdateArchive::unpack(path, limits, &error), reason.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(cacheLeftovers(), reason.isEmpty() ? QStringList{QStringLiteral("update")} : QStringList());
}

void TestUpdateArchive::clearUpdateCacheRemovesOnlyUpdates()
{
    installV1();
    const QString cache = cacheFolder();
    QVERIFY(QDir().mkpath(cache + QStringLiteral("/update-download")));
    QVERIFY(QDir().mkpath(cache + QStringLiteral("/update.staging-abc123/x")));
    for (const QString &name : {QStringLiteral("update-download/update-1.archive"), QStringLiteral("config.json"),
                                QStringLiteral("jtv.json"), QStringLiteral("log.txt")}) {
        QFile f(cache + QLatin1Char('/') + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    UpdateArchive::clearUpdateCache();
    QCOMPARE(QDir(cache).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{QStringLiteral("config.json"), QStringLiteral("jtv.json"), QStringLiteral("log.txt")}));
    UpdateArchive::clearUpdateCache();  // nothing to remove: fine
}

void TestUpdateArchive::downloadAndUnpack()
{
    const QString zip = sample(QStringLiteral("served.zip"));
    QVERIFY(writeArchive(zip, QStringLiteral("zip"), {file(QStringLiteral("update.exe"), "served", 0755)}));
    UpdateArchive update(33555856, m_server.url(QStringLiteral("/file?path=") + QString::fromLatin1(QUrl::toPercentEncoding(zip))),
                         nullptr);
    QCOMPARE(update.version(), 33555856);
    QSignalSpy extracted(&update, &UpdateArchive::extracted);
    QSignalSpy failed(&update, &UpdateArchive::failed);
    update.download();
    QTRY_COMPARE_WITH_TIMEOUT(extracted.count(), 1, 10000);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(readAll(UpdateArchive::updateFolder() + QStringLiteral("/update.exe")), QByteArray("served"));
    // The downloaded archive itself is not kept.
    QCOMPARE(QDir(cacheFolder() + QStringLiteral("/update-download")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestUpdateArchive::checksum_data()
{
    QTest::addColumn<bool>("match");
    QTest::newRow("match") << true;
    QTest::newRow("mismatch") << false;
}

void TestUpdateArchive::checksum()
{
    QFETCH(bool, match);
    installV1();
    const QString zip = sample(QStringLiteral("signed.zip"));
    QVERIFY(writeArchive(zip, QStringLiteral("zip"), {file(QStringLiteral("update.exe"), "v3", 0755)}));
    QByteArray digest = QCryptographicHash::hash(readAll(zip), QCryptographicHash::Sha256).toHex();
    if (!match)
        digest[0] = digest[0] == '0' ? '1' : '0';
    UpdateArchive update(3, m_server.url(QStringLiteral("/file?path=") + QString::fromLatin1(QUrl::toPercentEncoding(zip))),
                         nullptr);
    update.setExpectedSha256(QString::fromLatin1(digest).toUpper());
    QSignalSpy extracted(&update, &UpdateArchive::extracted);
    QSignalSpy failed(&update, &UpdateArchive::failed);
    if (!match)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("checksum mismatch")));
    update.download();
    QTRY_COMPARE_WITH_TIMEOUT(extracted.count() + failed.count(), 1, 10000);
    QCOMPARE(extracted.count(), match ? 1 : 0);
    QCOMPARE(readAll(UpdateArchive::updateFolder() + QStringLiteral("/update.exe")), match ? QByteArray("v3") : QByteArray("v1"));
    QCOMPARE(QDir(cacheFolder() + QStringLiteral("/update-download")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestUpdateArchive::downloadFailure()
{
    installV1();
    UpdateArchive update(4, m_server.url(QStringLiteral("/status/404")), nullptr);
    QSignalSpy extracted(&update, &UpdateArchive::extracted);
    QSignalSpy failed(&update, &UpdateArchive::failed);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Update download failed")));
    update.download();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
    QTest::qWait(50);
    QCOMPARE(extracted.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(readAll(UpdateArchive::updateFolder() + QStringLiteral("/update.exe")), QByteArray("v1"));
}

QTEST_GUILESS_MAIN(TestUpdateArchive)
#include "tst_updatearchive.moc"
