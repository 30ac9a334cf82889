// The Kernel in this process with a real Config, window and operator test server:
// URL dispatch, the window's requests and quitting.
#include "kernel.h"
#include "operatorserver.h"
#include "singleinstance.h"

#include <config.h>
#include <playlistmodel.h>
#include <playlistmodelitem.h>
#include <settingskeys.h>
#include <videoform.h>

#include <QApplication>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSettings>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestKernel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.4"));
        QVERIFY(m_root.isValid());
        QVERIFY(m_files.isValid());
        writeFile(m_root.filePath(QStringLiteral("config.json")),
                  "{\"iptv\":[{\"title\":\"One\",\"stream\":\"http://127.0.0.1:9/one.ts\",\"groupTitle\":\"News\"},"
                  "{\"title\":\"Two\",\"stream\":\"http://127.0.0.1:9/two.ts\",\"groupTitle\":\"News\"},"
                  "{\"title\":\"Three\",\"stream\":\"http://127.0.0.1:9/three.ts\",\"groupTitle\":\"Films\"}]}");
        writeFile(m_root.filePath(QStringLiteral("ajax/files/7")),
                  "{\"data\":[{\"title\":\"Season\",\"files\":["
                  "{\"filetype\":1,\"title\":\"Pilot\",\"url\":\"http://127.0.0.1:9/p1.mp4\",\"id\":41},"
                  "{\"filetype\":1,\"title\":\"Second\",\"url\":\"http://127.0.0.1:9/p2.mp4\",\"id\":42}]}]}");
        for (const char *name : {"a.avi", "b.txt", "c.avi", "d.mkv", "e.avi", "clip.MKV"})
            writeFile(m_files.filePath(QLatin1String(name)), QByteArray());
        QVERIFY(m_server.start(m_root.path()));
        qputenv("NOVALINE_CONFIG_SERVER", m_server.base().toUtf8());
        // Lies from an older build: the first start clears them.
        {
            QSettings settings;
            settings.setValue(QLatin1String(SettingsKeys::updateState), QStringLiteral("extracted"));
            settings.setValue(QLatin1String(SettingsKeys::updatePath), m_files.filePath(QStringLiteral("a.avi")));
            settings.setValue(QLatin1String(SettingsKeys::lastUpdate), QDateTime::currentDateTime());
        }
        m_staleUpdate = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/update/update.exe");
        writeFile(m_staleUpdate, "#!/bin/sh\n");

        m_segment.reset(new QSharedMemory(QLatin1String(singleInstanceKey)));
        QVERIFY(checkLaunch(*m_segment).firstInstance);
        m_kernel = new Kernel(m_segment.data(), {}, nullptr);
        m_config = m_kernel->configuration();
        m_window = m_kernel->window();
        QVERIFY(m_config && m_window);
        QVERIFY(m_window->isVisible());
        m_loaded.reset(new QSignalSpy(m_config, &Config::configLoaded));
    }

    void cleanupTestCase()
    {
        if (m_kernel)
            m_kernel->closeApp();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void startWithoutArgumentsFetchesOnce()
    {
        // The constructor's own dispatch started the only fetch.
        QTRY_COMPARE_WITH_TIMEOUT(m_loaded->count(), 1, 10000);
        QCOMPARE(m_config->mode(), Config::Iptv);
        QCOMPARE(m_server.configRequests(true), 1);
        QCOMPARE(playlist(), (QStringList{QStringLiteral("http://127.0.0.1:9/one.ts"), QStringLiteral("http://127.0.0.1:9/two.ts"),
                                          QStringLiteral("http://127.0.0.1:9/three.ts")}));
        QTRY_VERIFY(!m_window->currentItem().empty());

        // Fresh install: the old update records went, the build is recorded.
        QSettings *settings = m_config->settings();
        QCOMPARE(settings->value(QLatin1String(SettingsKeys::version)).toInt(), 33555600);
        QVERIFY(!settings->contains(QLatin1String(SettingsKeys::updateState)));
        QVERIFY(!settings->contains(QLatin1String(SettingsKeys::updatePath)));
        QVERIFY(!QFile::exists(m_staleUpdate));
    }

    void emptyListReturnsToTelevision()
    {
        openLocal({QStringLiteral("a.avi")}, false);
        QSignalSpy current(m_window, &VideoForm::currentItemChanged);
        QVERIFY(m_kernel->openUrls({}, false));
        QVERIFY(current.count() >= 1);
        QCOMPARE(m_config->mode(), Config::Iptv);
        QVERIFY(m_config->trackingUrl().isEmpty());
        waitForFetches(1);
        QCOMPARE(playlist().size(), 3);
    }

    void channelLink()
    {
        QSignalSpy played(m_config, &Config::playlistLoaded);
        QVERIFY(m_kernel->openUrls({QUrl(QStringLiteral("iptvurl://127.0.0.1:9/two.ts"))}, false));
        QCOMPARE(m_config->mode(), Config::Iptv);
        waitForFetches(1);
        QTRY_VERIFY(!played.isEmpty());
        const PlaylistModelItem *two = m_config->playlistModel()->itemById(played.constLast().at(0).toInt());
        QVERIFY(two);
        QCOMPARE(two->url(), QUrl(QStringLiteral("http://127.0.0.1:9/two.ts")));
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(QStringLiteral("http://127.0.0.1:9/two.ts")));
    }

    void portalLink()
    {
        const QString link = m_server.base().replace(QLatin1String("http:"), QLatin1String("iptvvideo:"))
                             + QStringLiteral("/ajax/files/7?back=ajax/files");
        QVERIFY(!m_kernel->openUrls({QUrl(link)}, false));
        QCOMPARE(m_config->mode(), Config::VideoTarvonaPro);
        QCOMPARE(m_config->trackingUrl(),
                 m_server.base() + QStringLiteral("/ajax/track/save/7?back=ajax/track/save/%1/%2"));
        QTRY_COMPARE(playlist(), (QStringList{QStringLiteral("http://127.0.0.1:9/p1.mp4"), QStringLiteral("http://127.0.0.1:9/p2.mp4")}));
        QCOMPARE(m_server.configRequests(), 0);

        // The next dispatch forgets the template.
        openLocal({QStringLiteral("a.avi")}, false);
        QVERIFY(m_config->trackingUrl().isEmpty());
    }

    void localFilesReplaceAndSkipUnknownSuffixes()
    {
        openLocal({QStringLiteral("a.avi"), QStringLiteral("b.txt")}, false);
        QCOMPARE(m_config->mode(), Config::LocalFile);
        QCOMPARE(playlist(), QStringList{fileUrl(QStringLiteral("a.avi"))});
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(fileUrl(QStringLiteral("a.avi"))));

        // Suffixes compare case-sensitively; other schemes are skipped. Nothing is left
        // and the playlist empties.
        QVERIFY(!m_kernel->openUrls({QUrl::fromLocalFile(m_files.filePath(QStringLiteral("clip.MKV"))),
                                     QUrl(QStringLiteral("https://host/x.avi"))}, false));
        QCOMPARE(m_config->mode(), Config::LocalFile);
        QVERIFY(playlist().isEmpty());
        QVERIFY(m_window->currentItem().empty());
        QCOMPARE(m_server.configRequests(), 0);
    }

    void droppedWhileLocalFilesPlayIsAdded()
    {
        openLocal({QStringLiteral("a.avi")}, false);
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(fileUrl(QStringLiteral("a.avi"))));
        emit m_window->dropped({QUrl::fromLocalFile(m_files.filePath(QStringLiteral("c.avi")))});
        QCOMPARE(m_config->mode(), Config::LocalFile);
        QCOMPARE(playlist(), (QStringList{fileUrl(QStringLiteral("a.avi")), fileUrl(QStringLiteral("c.avi"))}));
        QCOMPARE(m_window->currentItem().url(), QUrl(fileUrl(QStringLiteral("a.avi"))));
        QCOMPARE(m_server.configRequests(), 0);
    }

    void droppedWhileTelevisionPlaysReplaces()
    {
        emit m_window->iptvModeRequested();
        QCOMPARE(m_config->mode(), Config::Iptv);
        waitForFetches(1);
        QTRY_VERIFY(!m_window->currentItem().empty());
        emit m_window->dropped({QUrl::fromLocalFile(m_files.filePath(QStringLiteral("d.mkv")))});
        QCOMPARE(m_config->mode(), Config::LocalFile);
        QCOMPARE(playlist(), QStringList{fileUrl(QStringLiteral("d.mkv"))});
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(fileUrl(QStringLiteral("d.mkv"))));
    }

    void fileFollowedByLinkOnlyLinkCounts()
    {
        QVERIFY(m_kernel->openUrls({QUrl::fromLocalFile(m_files.filePath(QStringLiteral("e.avi"))),
                                    QUrl(QStringLiteral("iptvurl://127.0.0.1:9/three.ts"))}, false));
        QCOMPARE(m_config->mode(), Config::Iptv);
        waitForFetches(1);
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(QStringLiteral("http://127.0.0.1:9/three.ts")));
        QCOMPARE(playlist().size(), 3);
        QVERIFY(!playlist().contains(fileUrl(QStringLiteral("e.avi"))));
    }

    void instanceHandedOverForARestart()
    {
        // Right before the dialog starts a new copy: segment and server let go, so the
        // new copy becomes the first one.
        emit m_window->releaseInstanceRequested();
        QVERIFY(!m_segment->isAttached());
        QVERIFY(!serverAnswers());
        {
            QSharedMemory newCopy{QLatin1String(singleInstanceKey)};
            QVERIFY(checkLaunch(newCopy).firstInstance);
        }
        // The start failed: both are taken back and launch messages arrive again.
        emit m_window->instanceRestoreRequested();
        QVERIFY(m_segment->isAttached());
        {
            QSharedMemory laterCopy{QLatin1String(singleInstanceKey)};
            QVERIFY(!checkLaunch(laterCopy).firstInstance);
        }
        QVERIFY(sendLaunchMessage({QUrl::fromLocalFile(m_files.filePath(QStringLiteral("c.avi")))}, false, 1, 0));
        QTRY_COMPARE(playlist(), QStringList{fileUrl(QStringLiteral("c.avi"))});
        QCOMPARE(m_config->mode(), Config::LocalFile);
    }

    // Late: the opened list stays the channel list for the rest of the run.
    void openedChannelListsShowInTelevision()
    {
        const QString list = m_files.filePath(QStringLiteral("mine.m3u"));
        writeFile(list, "#EXTM3U\n#EXTINF:-1,Mine\nhttp://127.0.0.1:9/mine.ts\n#EXTINF:-1,Also\nhttp://127.0.0.1:9/also.ts\n");
        const int before = m_server.configRequests();
        QVERIFY(m_kernel->openUrls({QUrl::fromLocalFile(list)}, false));
        QCOMPARE(m_config->mode(), Config::Iptv);
        QTRY_COMPARE(playlist(), (QStringList{"http://127.0.0.1:9/mine.ts", "http://127.0.0.1:9/also.ts"}));
        QTRY_COMPARE(m_window->currentItem().url(), QUrl(QStringLiteral("http://127.0.0.1:9/mine.ts")));
        // The TV button shows it again for the rest of the run; the operator is not asked.
        openLocal({QStringLiteral("a.avi")}, false);
        emit m_window->iptvModeRequested();
        QTRY_COMPARE(playlist().size(), 2);
        QCOMPARE(m_server.configRequests(), before);

        // A stream's own playlist plays like a file.
        const QString hls = m_files.filePath(QStringLiteral("stream.m3u8"));
        writeFile(hls, "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.ts\n");
        QVERIFY(!m_kernel->openUrls({QUrl::fromLocalFile(hls)}, false));
        QCOMPARE(m_config->mode(), Config::LocalFile);
        QCOMPARE(playlist(), QStringList{QUrl::fromLocalFile(hls).toString()});
    }

    void quittingStoresTheWindowAndReleasesTheServer()
    {
        // Quitting from full screen keeps the window's normal place for the next start.
        const QRect normal = m_window->geometry();
        m_window->toggleFullscreen();
        QTRY_VERIFY(m_window->isFullscreen());
        QSignalSpy destroyed(m_kernel, &QObject::destroyed);
        m_kernel->closeApp();
        QTRY_COMPARE(destroyed.count(), 1);
        m_kernel = nullptr;
        QSettings settings;
        QCOMPARE(settings.value(QLatin1String(SettingsKeys::iptvWindow)).toRect(), normal);
        QVERIFY(!serverAnswers());
        QVERIFY(!m_segment->isAttached());
        QSharedMemory next{QLatin1String(singleInstanceKey)};
        QVERIFY(checkLaunch(next).firstInstance);
    }

private:
    QString fileUrl(const QString &name) const { return QUrl::fromLocalFile(m_files.filePath(name)).toString(); }

    void openLocal(const QStringList &names, bool append)
    {
        QList<QUrl> urls;
        for (const QString &name : names)
            urls << QUrl::fromLocalFile(m_files.filePath(name));
        QVERIFY(!m_kernel->openUrls(urls, append));
    }

    static bool serverAnswers()
    {
        QLocalSocket socket;
        socket.connectToServer(QString::fromLocal8Bit(launchServerName));
        return socket.waitForConnected(1000);
    }

    QStringList playlist() const
    {
        QStringList urls;
        PlaylistModel *model = m_config->playlistModel();
        for (int row = 0; row < model->rowCount(); ++row)
            urls << model->item(row)->url().toString();
        return urls;
    }

    // Waits for `count` more configuration documents to be applied and checks that the
    // server was asked exactly that often.
    void waitForFetches(int count)
    {
        const int target = m_loaded->count() + count;
        QTRY_COMPARE_WITH_TIMEOUT(m_loaded->count(), target, 10000);
        QCOMPARE(m_server.configRequests(true), count);
    }

    QString m_staleUpdate;
    QTemporaryDir m_root;
    QTemporaryDir m_files;
    OperatorServer m_server;
    Kernel *m_kernel = nullptr;
    Config *m_config = nullptr;
    VideoForm *m_window = nullptr;
    QScopedPointer<QSignalSpy> m_loaded;
    QScopedPointer<QSharedMemory> m_segment;
};

QTEST_MAIN(TestKernel)
#include "tst_kernel.moc"
