// The update check: which offered build is taken, the record of an unpacked update,
// no second download of one build, the optional checksum.
#include "config.h"
#include "osintegration.h"
#include "settingskeys.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QSettings>

#include <memory>

namespace {

QJsonObject entry(int version, const QString &os, const QString &url, const QString &sha256 = QString())
{
    QJsonObject o;
    o.insert(QStringLiteral("version"), version);
    o.insert(QStringLiteral("os"), os);
    o.insert(QStringLiteral("url"), url);
    if (!sha256.isEmpty())
        o.insert(QStringLiteral("sha256"), sha256);
    return o;
}

QJsonObject offer(const QJsonArray &entries)
{
    QJsonObject o;
    o.insert(QStringLiteral("iptv_updates"), entries);
    return o;
}

constexpr int packed(int major, int minor, int patch, int build)
{
    return (major << 24) | (minor << 16) | (patch << 8) | build;
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private:
    OperatorServer server;
    std::unique_ptr<Config> config;
    QByteArray archiveSha256;

    QString archiveUrl(const QString &name = QStringLiteral("update.tar.gz")) const
    {
        return server.base() + QStringLiteral("/media/") + name;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
        // An archive that carries the installer.
        QTemporaryDir stage;
        QVERIFY(writeFile(stage.path() + QStringLiteral("/update.exe"), "#!/bin/sh\necho updated\n"));
        QProcess tar;
        tar.start(QStringLiteral("tar"), {QStringLiteral("-C"), stage.path(), QStringLiteral("-czf"),
                                          server.root() + QStringLiteral("/update.tar.gz"), QStringLiteral("update.exe")});
        QVERIFY(tar.waitForFinished(10000));
        QCOMPARE(tar.exitCode(), 0);
        archiveSha256 = QCryptographicHash::hash(readAll(server.root() + QStringLiteral("/update.tar.gz")),
                                                 QCryptographicHash::Sha256).toHex();
    }
    void init()
    {
        server.get(QStringLiteral("/_control?reset=1"));
        QDir(Config::cacheFolder()).removeRecursively();
        QSettings settings;
        settings.clear();
        settings.sync();
        config.reset(new Config);
        config->setDownloadLimits(1000, 0, 5000);
    }
    void cleanup()
    {
        config.reset();
    }

    void acceptance_data()
    {
        QTest::addColumn<QJsonArray>("entries");
        QTest::addColumn<bool>("beta");
        QTest::addColumn<int>("expected");  // 0: nothing is taken
        QTest::addColumn<QString>("url");
        const QString u1 = QStringLiteral("http://127.0.0.1:9/one.tar.gz");
        const QString u2 = QStringLiteral("http://127.0.0.1:9/two.tar.gz");
        // The running platform's builds only: Windows builds cannot install here.
        const QString win = OsIntegration::platform();
        QTest::newRow("2.0.4 build 0x91") << QJsonArray{entry(packed(2, 0, 4, 0x91), win, u1)} << false << packed(2, 0, 4, 0x91) << u1;
        QTest::newRow("2.0.5 build 0x80") << QJsonArray{entry(packed(2, 0, 5, 0x80), win, u1)} << false << 0 << QString();
        QTest::newRow("2.0.5 build 0x80 beta") << QJsonArray{entry(packed(2, 0, 5, 0x80), win, u1)} << true << packed(2, 0, 5, 0x80) << u1;
        QTest::newRow("2.1.0 build 0") << QJsonArray{entry(packed(2, 1, 0, 0), win, u1)} << false << 0 << QString();
        QTest::newRow("2.1.0 build 0 beta") << QJsonArray{entry(packed(2, 1, 0, 0), win, u1)} << true << packed(2, 1, 0, 0) << u1;
        QTest::newRow("2.0.5 build 0xA0") << QJsonArray{entry(packed(2, 0, 5, 0xA0), win, u1)} << false << packed(2, 0, 5, 0xA0) << u1;
        QTest::newRow("os in other case") << QJsonArray{entry(packed(2, 0, 5, 0xA0), win.toUpper(), u1)} << true << 0 << QString();
        QTest::newRow("os with blank") << QJsonArray{entry(packed(2, 0, 5, 0xA0), win + QLatin1Char(' '), u1)} << true << 0 << QString();
        QTest::newRow("another platform's build")
            << QJsonArray{entry(packed(2, 0, 5, 0xA0), QStringLiteral("win32"), u1), entry(packed(2, 0, 5, 0xA0), QStringLiteral("linux"), u2)}
            << true << packed(2, 0, 5, 0xA0) << (win == QLatin1String("linux") ? u2 : u1);
        QTest::newRow("equal to this build") << QJsonArray{entry(33555600, win, u1)} << true << 0 << QString();
        QTest::newRow("lower") << QJsonArray{entry(packed(2, 0, 3, 0xF0), win, u1)} << true << 0 << QString();
        QTest::newRow("first of equal versions")
            << QJsonArray{entry(packed(2, 0, 5, 0xA0), win, u1), entry(packed(2, 0, 5, 0xA0), win, u2)} << false << packed(2, 0, 5, 0xA0) << u1;
        QTest::newRow("rejected does not hide a lower accepted one")
            << QJsonArray{entry(packed(2, 0, 6, 0x10), win, u1), entry(packed(2, 0, 5, 0x90), win, u2)} << false << packed(2, 0, 5, 0x90) << u2;
        QTest::newRow("newest accepted wins")
            << QJsonArray{entry(packed(2, 0, 5, 0x90), win, u1), entry(packed(2, 0, 7, 0x95), win, u2)} << false << packed(2, 0, 7, 0x95) << u2;
        QTest::newRow("no entries") << QJsonArray() << true << 0 << QString();
        QTest::newRow("entry not an object") << QJsonArray{QJsonValue(5)} << true << 0 << QString();
    }
    void acceptance()
    {
        QFETCH(QJsonArray, entries);
        QFETCH(bool, beta);
        QFETCH(int, expected);
        QFETCH(QString, url);
        if (beta)
            config->writeSetting(QStringLiteral("betaUpdate"), true);
        LogRecorder log;
        config->checkForUpdate(offer(entries));
        QCOMPARE(config->updateDownloadsStarted(), expected ? 1 : 0);
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("Update available:")), expected ? 1 : 0);
        if (expected) {
            const QString line = log.lines().filter(QStringLiteral("Update available:")).value(0);
            QVERIFY2(line.contains(QString::number(expected)) && line.contains(url), qPrintable(line));
        }
    }

    void noUpdateKey()
    {
        LogRecorder log;
        config->checkForUpdate(QJsonObject());
        QJsonObject notArray;
        notArray.insert(QStringLiteral("iptv_updates"), QStringLiteral("x"));
        config->checkForUpdate(notArray);
        QCOMPARE(config->updateDownloadsStarted(), 0);
        QVERIFY(log.lines().isEmpty());
    }

    void extractedIsRecordedOnce()
    {
        const int before = server.hits(QStringLiteral("/media/update.tar.gz"));
        const QJsonObject doc = offer({entry(packed(2, 0, 5, 0xA0), OsIntegration::platform(), archiveUrl())});
        config->applyConfig(doc, QUrl());
        QTRY_COMPARE_WITH_TIMEOUT(config->settings()->value(QStringLiteral("updateState")).toString(),
                                  QStringLiteral("extracted"), 10000);
        const QString installer = Config::cacheFolder() + QStringLiteral("/update/update.exe");
        QCOMPARE(config->settings()->value(QStringLiteral("updatePath")).toString(), installer);
        QVERIFY(QFileInfo::exists(installer));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(config->settings()->fileName()).contains("updatePath"), 5000);
        QCOMPARE(server.hits(QStringLiteral("/media/update.tar.gz")), before + 1);

        // The same offer again in this run: nothing is fetched a second time.
        config->applyConfig(doc, QUrl());
        config->applyConfig(doc, QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 1);
        QCOMPARE(server.hits(QStringLiteral("/media/update.tar.gz")), before + 1);

        // Nor in the next run, which finds it unpacked on disk.
        config->settings()->sync();
        config.reset(new Config);
        config->applyConfig(doc, QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 0);
        // A newer build is fetched, and one given up never again.
        config->writeSetting(QStringLiteral("updateRefusedVersion"), packed(2, 0, 6, 0xA0));
        config->applyConfig(offer({entry(packed(2, 0, 6, 0xA0), OsIntegration::platform(), archiveUrl())}), QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 0);
        config->applyConfig(offer({entry(packed(2, 0, 7, 0xA0), OsIntegration::platform(), archiveUrl())}), QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(config->settings()->value(QStringLiteral("updateVersion")).toInt(), packed(2, 0, 7, 0xA0), 10000);
        QCOMPARE(server.hits(QStringLiteral("/media/update.tar.gz")), before + 2);
    }

    void noSecondDownloadWhileFetching()
    {
        const int before = server.hits(QStringLiteral("/media/update.tar.gz"));
        QVERIFY(server.setFault(QStringLiteral("/media/update.tar.gz"), QStringLiteral("delay:400")));
        const QJsonObject doc = offer({entry(packed(2, 0, 5, 0xA0), OsIntegration::platform(), archiveUrl())});
        config->applyConfig(doc, QUrl());
        config->applyConfig(doc, QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(config->settings()->value(QStringLiteral("updateState")).toString(),
                                  QStringLiteral("extracted"), 10000);
        QCOMPARE(server.hits(QStringLiteral("/media/update.tar.gz")), before + 1);
    }

    void failedDownloadRecordsNothingAndMayBeRetried()
    {
        LogRecorder log;
        QVERIFY(server.setFault(QStringLiteral("/media/update.tar.gz"), QStringLiteral("http500"), 1));
        const QJsonObject doc = offer({entry(packed(2, 0, 5, 0xA0), OsIntegration::platform(), archiveUrl())});
        config->applyConfig(doc, QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(log.has(QtWarningMsg, QStringLiteral("Update download failed")), 10000);
        QVERIFY(!config->settings()->contains(QStringLiteral("updateState")));
        config->applyConfig(doc, QUrl());
        QCOMPARE(config->updateDownloadsStarted(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(config->settings()->value(QStringLiteral("updateState")).toString(),
                                  QStringLiteral("extracted"), 10000);
    }

    void checksum_data()
    {
        QTest::addColumn<bool>("matches");
        QTest::newRow("right") << true;
        QTest::newRow("wrong") << false;
    }
    void checksum()
    {
        QFETCH(bool, matches);
        LogRecorder log;
        const QString sha = matches ? QString::fromLatin1(archiveSha256).toUpper() : QString(64, QLatin1Char('0'));
        config->applyConfig(offer({entry(packed(2, 0, 5, 0xA0), OsIntegration::platform(), archiveUrl(), sha)}), QUrl());
        if (matches) {
            QTRY_COMPARE_WITH_TIMEOUT(config->settings()->value(QStringLiteral("updateState")).toString(),
                                      QStringLiteral("extracted"), 10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(log.has(QtCriticalMsg, QStringLiteral("checksum")), 10000);
            QTest::qWait(100);
            QVERIFY(!config->settings()->contains(QStringLiteral("updateState")));
            QVERIFY(!config->settings()->contains(QStringLiteral("updatePath")));
        }
    }
};

int runUpdateTests(const QStringList &args)
{
    TestUpdate t;
    return QTest::qExec(&t, args);
}

#include "tst_update.moc"
