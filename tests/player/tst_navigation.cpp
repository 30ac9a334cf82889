// Channel navigation of the player window: what plays, what is announced to the scene,
// "lastUrl", favourites, the guide model and the video portal's watch report.
#include "config.h"
#include "httpdownload.h"
#include "jtvmodel.h"
#include "playlistmodel.h"
#include "renderbackend.h"
#include "settingskeys.h"
#include "videoform.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QQmlContext>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QUrl urlA(QStringLiteral("http://streams.test/a.ts"));
const QUrl urlB(QStringLiteral("http://streams.test/b.ts"));
const QUrl urlShared(QStringLiteral("http://streams.test/shared.ts"));
const QUrl urlD(QStringLiteral("http://streams.test/d.ts"));
}

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void softwareRasterizers_data();
    void softwareRasterizers();
    void init();
    void cleanup();

    void announcedOnceTheSceneIsLoaded();
    void lastUrlOnlyInTvMode();
    void unknownIdEmptiesCurrentItem();
    void nextAndPrev();
    void nextAtTheEndEmpties();
    void prevAtTheStartChangesNothing();
    void nothingCurrentNothingMoves();
    void clearCurrentItem();
    void playlistLoadedStartsTheChannel();
    void loveChannelTogglesEveryEntryWithTheUrl();
    void loveChannelUnknownUrlStillSaves();
    void channelWithoutGuideKeyEmptiesTheGuide();
    void guideFollowsTheChannel();
    void watchReportOncePerStartedFile();
    void noWatchReportWithoutFileIdOrTemplate();

private:
    void fillChannels();
    PlaylistModelItem *entry(int id) const { return config->playlistModel()->itemById(id); }
    QSettings *settings() const { return config->settings(); }
    QStringList serverRequests();
    bool waitForMarker(const QString &name);

    std::unique_ptr<Config> config;
    std::unique_ptr<VideoForm> window;
    std::unique_ptr<QAbstractItemModelTester> favouritesTester;

    QTemporaryDir serverRoot;
    QProcess server;
    QString serverBase;
    QByteArray serverOutput;
};

// Operator test server --------------------------------------------------------------

void TestNavigation::initTestCase()
{
    QVERIFY(serverRoot.isValid());
    const QString source = qEnvironmentVariable("NOVALINE_SOURCE_DIR");
    QVERIFY2(!source.isEmpty(), "NOVALINE_SOURCE_DIR is not set");
    const QString portFile = serverRoot.filePath(QStringLiteral("port"));
    server.setProgram(source + QStringLiteral("/tools/operator-server"));
    server.setArguments({QStringLiteral("--root"), serverRoot.filePath(QStringLiteral("www")),
                         QStringLiteral("--port"), QStringLiteral("0"),
                         QStringLiteral("--port-file"), portFile, QStringLiteral("--quiet")});
    QDir().mkpath(serverRoot.filePath(QStringLiteral("www")));
    QFile marker(serverRoot.filePath(QStringLiteral("www/marker")));
    QVERIFY(marker.open(QIODevice::WriteOnly) && marker.write("ok\n") == 3);
    marker.close();
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start();
    QVERIFY2(server.waitForStarted(5000), qPrintable(server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(serverOutput.append(server.readAllStandardOutput()).contains('\n'), 60000);
    const QByteArray first = serverOutput.left(serverOutput.indexOf('\n')).trimmed();
    QVERIFY2(first.startsWith("PORT "), first.constData());
    serverBase = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(first.mid(5));
}

void TestNavigation::cleanupTestCase()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();
    }
}

// Every request path the server has seen that starts with prefix, in arrival order.
QStringList TestNavigation::serverRequests()
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(serverBase + QStringLiteral("/_requests"))));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(30000)) {
        reply->abort();
        reply->deleteLater();
        return {QStringLiteral("<no answer>")};
    }
    const QJsonArray list = QJsonDocument::fromJson(reply->readAll()).array();
    reply->deleteLater();
    QStringList paths;
    for (const QJsonValue &value : list)
        paths << value.toObject().value(QStringLiteral("path")).toString();
    return paths;
}

// A request of our own that the server sees after everything started before it.
bool TestNavigation::waitForMarker(const QString &name)
{
    HttpDownload marker(HttpDownload::Memory);
    marker.setUrl(QUrl(serverBase + QStringLiteral("/marker?n=") + name));
    QSignalSpy finished(&marker, &HttpDownload::downloadFinished);
    marker.download();
    return finished.count() > 0 || finished.wait(30000);
}

static QStringList trackRequests(const QStringList &paths, const QString &prefix)
{
    QStringList out;
    for (const QString &path : paths)
        if (path.startsWith(prefix))
            out << path;
    return out;
}

// Fixture ----------------------------------------------------------------------------

void TestNavigation::init()
{
    config.reset(new Config);
    settings()->clear();
    QFile::remove(Config::favouritesFilePath());
    window.reset(new VideoForm(config.get()));
    auto *favourites = window->rootContext()
            ->contextProperty(QStringLiteral("playlistFavouritesModel")).value<QAbstractItemModel *>();
    QVERIFY(favourites);
    favouritesTester.reset(new QAbstractItemModelTester(
            favourites, QAbstractItemModelTester::FailureReportingMode::QtTest));
    fillChannels();
}

void TestNavigation::cleanup()
{
    favouritesTester.reset();
    window.reset();
    config.reset();
}

void TestNavigation::fillChannels()
{
    // Ids deliberately not equal to rows; the shared URL is the same channel in two groups.
    config->playlistModel()->append(QList<PlaylistModelItem *>{
            new PlaylistModelItem(10, QStringLiteral("Alpha"), urlA, QStringLiteral("One"),
                                  QStringLiteral("alpha"), 1, false),
            new PlaylistModelItem(20, QStringLiteral("Beta"), urlB, QStringLiteral("One"),
                                  QString(), 2, false),
            new PlaylistModelItem(30, QStringLiteral("Shared"), urlShared, QStringLiteral("One"),
                                  QStringLiteral("shared"), 0, false),
            new PlaylistModelItem(40, QStringLiteral("Shared again"), urlShared, QStringLiteral("Two"),
                                  QStringLiteral("shared"), 0, true),
            new PlaylistModelItem(50, QStringLiteral("Delta"), urlD, QStringLiteral("Two"),
                                  QString(), 0, false),
    });
    QCOMPARE(config->playlistModel()->rowCount(), 5);
    config->setContent(Config::Channels);
}

// Cases ------------------------------------------------------------------------------

void TestNavigation::announcedOnceTheSceneIsLoaded()
{
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->playTv(20);
    // Held, not announced: the scene does not exist yet.
    QCOMPARE(changed.count(), 0);
    QCOMPARE(window->currentItem().id(), 20);
    QCOMPARE(window->currentItem().url(), urlB);
    QVERIFY(!window->currentItem().empty());

    QSignalSpy loaded(window.get(), &VideoForm::formLoadedChanged);
    QVERIFY(window->setProperty("formLoaded", true));
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(changed.count(), 1);
    // Writing the same value again neither notifies nor announces again.
    window->setFormLoaded(true);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(changed.count(), 1);

    // The context property is the very object the window holds, a copy of the entry.
    QObject *inScene = window->rootContext()->contextProperty(QStringLiteral("currentItem")).value<QObject *>();
    QCOMPARE(inScene, static_cast<const QObject *>(&window->currentItem()));
    QCOMPARE(inScene->property("title").toString(), QStringLiteral("Beta"));
    QCOMPARE(inScene->property("aspect").toInt(), 2);
    QCOMPARE(inScene->property("group").toString(), QStringLiteral("One"));
    entry(20)->setTitle(QStringLiteral("Renamed"));
    QCOMPARE(inScene->property("title").toString(), QStringLiteral("Beta"));

    window->playTv(10);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(window->currentItem().id(), 10);
}

void TestNavigation::lastUrlOnlyInTvMode()
{
    window->setFormLoaded(true);
    QCOMPARE(config->mode(), Config::Iptv);
    window->playTv(10);
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlA);
    window->playTv(20);
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlB);

    config->setMode(Config::LocalFile);
    window->playTv(50);
    QCOMPARE(window->currentItem().id(), 50);
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlB);
    config->setMode(Config::VideoTarvonaPro);
    window->playTv(10);
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlB);

    // TV mode asked for while local files fill the list: none of them may become the
    // start channel before the channel list arrives.
    config->setMode(Config::LocalFile);
    config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/films/a.mkv"))}, false);
    config->setMode(Config::Iptv);
    window->playTv(config->playlistModel()->item(0)->id());
    QCOMPARE(window->currentItem().url(), QUrl::fromLocalFile(QStringLiteral("/films/a.mkv")));
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlB);
}

void TestNavigation::unknownIdEmptiesCurrentItem()
{
    window->playTv(30);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    // Announced even before the scene has loaded: it has to stop playback.
    window->playTv(999);
    QCOMPARE(changed.count(), 1);
    QVERIFY(window->currentItem().empty());
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlShared);

    window->setFormLoaded(true);
    QCOMPARE(changed.count(), 1);  // nothing to announce
}

void TestNavigation::nextAndPrev()
{
    window->setFormLoaded(true);
    window->playTv(20);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->playNext();
    QCOMPARE(window->currentItem().id(), 30);
    window->playNext();
    QCOMPARE(window->currentItem().id(), 40);
    window->playPrev();
    window->playPrev();
    window->playPrev();
    QCOMPARE(window->currentItem().id(), 10);
    QCOMPARE(changed.count(), 5);
    QCOMPARE(settings()->value(QLatin1String(SettingsKeys::lastUrl)).toUrl(), urlA);
}

void TestNavigation::nextAtTheEndEmpties()
{
    window->setFormLoaded(true);
    window->playTv(50);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->playNext();
    QCOMPARE(changed.count(), 1);
    QVERIFY(window->currentItem().empty());
    // And from empty, nothing moves.
    window->playNext();
    QCOMPARE(changed.count(), 1);
}

void TestNavigation::prevAtTheStartChangesNothing()
{
    window->setFormLoaded(true);
    window->playTv(10);
    settings()->remove(QLatin1String(SettingsKeys::lastUrl));
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->playPrev();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(window->currentItem().id(), 10);
    QVERIFY(!window->currentItem().empty());
    QVERIFY(!settings()->contains(QLatin1String(SettingsKeys::lastUrl)));
}

void TestNavigation::nothingCurrentNothingMoves()
{
    window->setFormLoaded(true);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->playNext();
    window->playPrev();
    QCOMPARE(changed.count(), 0);
    QVERIFY(window->currentItem().empty());
}

void TestNavigation::clearCurrentItem()
{
    window->setFormLoaded(true);
    window->playTv(40);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    window->clearCurrentItem();
    QCOMPARE(changed.count(), 1);
    QVERIFY(window->currentItem().empty());
    QVERIFY(!window->currentItem().url().isValid());
}

void TestNavigation::playlistLoadedStartsTheChannel()
{
    window->setFormLoaded(true);
    QSignalSpy changed(window.get(), &VideoForm::currentItemChanged);
    emit config->playlistLoaded(30);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(window->currentItem().id(), 30);
    emit config->playlistLoaded(-1);
    QCOMPARE(changed.count(), 2);
    QVERIFY(window->currentItem().empty());
}

void TestNavigation::loveChannelTogglesEveryEntryWithTheUrl()
{
    auto *favourites = window->rootContext()
            ->contextProperty(QStringLiteral("playlistFavouritesModel")).value<QAbstractItemModel *>();
    QCOMPARE(favourites->rowCount(), 1);  // "Shared again" only

    // One of the two is marked, the other not: each is toggled on its own.
    QVERIFY(QMetaObject::invokeMethod(window.get(), "loveChannel", Q_ARG(QUrl, urlShared)));
    QVERIFY(entry(30)->favourite());
    QVERIFY(!entry(40)->favourite());
    QCOMPARE(favourites->rowCount(), 1);
    QCOMPARE(favourites->data(favourites->index(0, 0), PlaylistModel::IdRole).toInt(), 30);

    window->loveChannel(urlA);
    QVERIFY(entry(10)->favourite());
    QVERIFY(!entry(20)->favourite());
    QCOMPARE(favourites->rowCount(), 2);
    QVERIFY(QFile::exists(Config::favouritesFilePath()));
    QVERIFY(Config::readFavourites().contains(urlA));

    window->loveChannel(urlA);
    QVERIFY(!entry(10)->favourite());
    QCOMPARE(favourites->rowCount(), 1);
    QVERIFY(!Config::readFavourites().contains(urlA));
    QVERIFY(Config::readFavourites().contains(urlShared));
}

void TestNavigation::loveChannelUnknownUrlStillSaves()
{
    QVERIFY(!QFile::exists(Config::favouritesFilePath()));
    window->loveChannel(QUrl(QStringLiteral("http://streams.test/nobody.ts")));
    QVERIFY(QFile::exists(Config::favouritesFilePath()));
    for (int row = 0; row < config->playlistModel()->rowCount(); ++row)
        QCOMPARE(config->playlistModel()->item(row)->favourite(), row == 3);
}

void TestNavigation::channelWithoutGuideKeyEmptiesTheGuide()
{
    JtvModel *guide = config->jtvModel();
    const QDateTime now = QDateTime::currentDateTime();
    guide->append(new JtvModelItem(now.addSecs(-600), now.addSecs(600), QStringLiteral("News")));
    guide->append(new JtvModelItem(now.addSecs(600), QDateTime(), QStringLiteral("Film")));
    guide->finishModelUpdate();
    QCOMPARE(guide->rowCount(), 2);
    QCOMPARE(guide->currentIndex(), 0);

    window->setFormLoaded(true);
    QSignalSpy current(guide, &JtvModel::currentChanged);
    window->playTv(20);
    QCOMPARE(guide->rowCount(), 0);
    QCOMPARE(guide->currentIndex(), -1);
    QVERIFY(guide->currentTitle().isEmpty());
    QVERIFY(current.count() >= 1);
}

void TestNavigation::guideFollowsTheChannel()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QJsonObject doc;
    doc.insert(QStringLiteral("alpha"), QJsonArray{
            QJsonObject{{QStringLiteral("title"), QStringLiteral("Alpha news")}, {QStringLiteral("time"), now - 600}},
            QJsonObject{{QStringLiteral("title"), QStringLiteral("Alpha film")}, {QStringLiteral("time"), now + 600}}});
    doc.insert(QStringLiteral("shared"), QJsonArray{
            QJsonObject{{QStringLiteral("title"), QStringLiteral("Shared show")}, {QStringLiteral("time"), now - 60}}});
    QVERIFY(QDir().mkpath(Config::cacheFolder()));
    QFile file(Config::jtvFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(QJsonDocument(doc).toJson()) > 0);
    file.close();

    JtvModel *guide = config->jtvModel();
    const auto titles = [guide] {
        QStringList out;
        for (int row = 0; row < guide->rowCount(); ++row)
            out << guide->data(guide->index(row), JtvModel::TitleRole).toString();
        return out;
    };

    window->setFormLoaded(true);
    window->playTv(10);
    QCOMPARE(titles(), (QStringList{QStringLiteral("Alpha news"), QStringLiteral("Alpha film")}));
    QCOMPARE(guide->currentTitle(), QStringLiteral("Alpha news"));
    window->playTv(20);
    QCOMPARE(titles(), QStringList());
    window->playTv(30);
    QCOMPARE(titles(), QStringList{QStringLiteral("Shared show")});

    // A finished guide download reloads the playing channel's list...
    guide->clear();
    guide->finishModelUpdate();
    emit config->jtvDownloaded();
    QCOMPARE(titles(), QStringList{QStringLiteral("Shared show")});
    // ...and leaves the guide alone when nothing plays.
    window->clearCurrentItem();
    emit config->jtvDownloaded();
    QCOMPARE(titles(), QStringList{QStringLiteral("Shared show")});
}

void TestNavigation::watchReportOncePerStartedFile()
{
    PlaylistModel *model = config->playlistModel();
    model->clear();
    const auto file = [](int id, int fileId) {
        auto *item = new PlaylistModelItem(id, QStringLiteral("Part %1").arg(id),
                                           QUrl(QStringLiteral("http://portal.test/v/%1.mp4").arg(id)),
                                           QStringLiteral("Film"), QString(), 0, false);
        item->setFileId(fileId);
        return item;
    };
    model->append(QList<PlaylistModelItem *>{file(0, 1234), file(1, 0), file(2, 99)});
    config->setMode(Config::VideoTarvonaPro);
    // As the dispatcher builds it; the escaped slash must survive the filling-in.
    config->setTrackingUrl(serverBase + QStringLiteral("/ajax/track/save/77%2Fx/%1/%2"));
    const QString prefix = QStringLiteral("/ajax/track/save/77/x/");

    window->playTv(0);  // chosen before the scene exists: not started yet
    QVERIFY(waitForMarker(QStringLiteral("before-scene")));
    QCOMPARE(trackRequests(serverRequests(), prefix), QStringList());

    window->setFormLoaded(true);
    QTRY_COMPARE_WITH_TIMEOUT(trackRequests(serverRequests(), prefix), QStringList{prefix + QStringLiteral("1234/0")}, 30000);

    window->setFormLoaded(true);  // the scene reporting again starts nothing
    window->playPrev();           // the first file: nothing changes
    window->playNext();           // file id 0: no report
    QCOMPARE(window->currentItem().id(), 1);
    QVERIFY(waitForMarker(QStringLiteral("no-report")));
    QCOMPARE(trackRequests(serverRequests(), prefix), QStringList{prefix + QStringLiteral("1234/0")});

    window->playNext();
    QCOMPARE(window->currentItem().id(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(trackRequests(serverRequests(), prefix),
                 (QStringList{prefix + QStringLiteral("1234/0"), prefix + QStringLiteral("99/0")}), 30000);
    QVERIFY(waitForMarker(QStringLiteral("after")));
    QCOMPARE(trackRequests(serverRequests(), prefix).size(), 2);
    // The portal file is not a TV channel.
    QVERIFY(!settings()->contains(QLatin1String(SettingsKeys::lastUrl)));
}

void TestNavigation::noWatchReportWithoutFileIdOrTemplate()
{
    PlaylistModel *model = config->playlistModel();
    entry(10)->setFileId(555);
    window->setFormLoaded(true);

    // Template but not in the portal mode.
    config->setTrackingUrl(serverBase + QStringLiteral("/ajax/track/save/none/%1/%2"));
    window->playTv(10);
    // Portal mode with an empty template.
    config->setMode(Config::VideoTarvonaPro);
    config->setTrackingUrl(QString());
    window->playTv(20);
    window->playTv(10);
    QCOMPARE(model->itemById(10)->fileId(), 555);
    QVERIFY(waitForMarker(QStringLiteral("none")));
    QCOMPARE(trackRequests(serverRequests(), QStringLiteral("/ajax/track/save/none/")), QStringList());
}

void TestNavigation::softwareRasterizers_data()
{
    QTest::addColumn<QByteArray>("renderer");
    QTest::addColumn<bool>("software");
    QTest::newRow("llvmpipe") << QByteArray("llvmpipe (LLVM 15.0.6, 256 bits)") << true;
    QTest::newRow("softpipe") << QByteArray("softpipe") << true;
    QTest::newRow("swrast") << QByteArray("Mesa DRI swrast") << true;
    QTest::newRow("no GL") << QByteArray() << true;
    QTest::newRow("Intel") << QByteArray("Mesa Intel(R) UHD Graphics 620 (KBL GT2)") << false;
    QTest::newRow("AMD") << QByteArray("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)") << false;
}

void TestNavigation::softwareRasterizers()
{
    QFETCH(QByteArray, renderer);
    QFETCH(bool, software);
    QCOMPARE(RenderBackend::isSoftwareRasterizer(renderer), software);
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
