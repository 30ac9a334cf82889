// The configuration fetch and the guide download against the operator test server.
#include "config.h"
#include "jtvmodel.h"
#include "osintegration.h"
#include "playlistmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSettings>
#include <QTcpServer>

#include <memory>

namespace {

const QByteArray serverDocument = R"({
 "iptv": [
  {"title": "Первый", "stream": "{{BASE}}/live/one.ts", "groupTitle": "Основные", "jtv": "one", "aspect": "16:9"},
  {"title": "Second", "stream": "{{BASE}}/live/two.ts", "groupTitle": "News", "jtv": "two", "aspect": "4:3"},
  {"title": "Third", "stream": "{{BASE}}/live/three.ts", "groupTitle": "News", "groupId": 3}
 ],
 "iptvJtvWeek": "{{BASE}}/media/jtv.json"
})";

// What an earlier run left in the cache.
const QByteArray cachedDocument = R"({"iptv": [
  {"title": "Old A", "stream": "http://old/a"}, {"title": "Old B", "stream": "http://old/b"}]})";

const QByteArray guide = R"({"one": [{"title": "Утро", "time": 1000}, {"title": "День", "time": 2000}],
 "two": [{"title": "News", "time": 1500}]})";

QStringList partFiles()
{
    return QDir(Config::cacheFolder()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}

int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestFetch : public QObject
{
    Q_OBJECT

private:
    OperatorServer server;
    std::unique_ptr<Config> config;
    std::unique_ptr<QAbstractItemModelTester> tester;

    void makeConfig()
    {
        tester.reset();
        config.reset(new Config);
        // Faults end in about a second instead of half a minute.
        config->setDownloadLimits(1000, 1024 * 1024, 5000);
        tester.reset(new QAbstractItemModelTester(config->playlistModel(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    bool fetch()
    {
        QSignalSpy applied(config.get(), &Config::configLoaded);
        config->updateConfig(QUrl());
        return applied.wait(10000);
    }
    static QStringList titlesOf(const QByteArray &document)
    {
        QStringList out;
        for (const QJsonValue &c : QJsonDocument::fromJson(document).object().value(QStringLiteral("iptv")).toArray())
            out << c.toObject().value(QStringLiteral("title")).toString();
        return out;
    }
    QStringList titles() const
    {
        QStringList out;
        for (int row = 0; row < config->playlistModel()->rowCount(); ++row)
            out << config->playlistModel()->item(row)->title();
        return out;
    }
    QByteArray served() const
    {
        QByteArray doc = serverDocument;
        return doc.replace("{{BASE}}", server.base().toUtf8());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
        QVERIFY(server.put(QStringLiteral("config.json"), serverDocument));
        QVERIFY(server.put(QStringLiteral("jtv.json"), guide));
        qputenv("NOVALINE_CONFIG_SERVER", server.base().toUtf8());
    }
    void init()
    {
        server.get(QStringLiteral("/_control?reset=1"));
        QVERIFY(server.put(QStringLiteral("config.json"), serverDocument));
        qputenv("NOVALINE_CONFIG_SERVER", server.base().toUtf8());
        wipeState();
        makeConfig();
    }
    void cleanup()
    {
        if (config)
            QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        tester.reset();
        config.reset();
    }

    void serverAddress()
    {
        qputenv("NOVALINE_CONFIG_SERVER", "http://127.0.0.1:8765/");
        QCOMPARE(Config::configServer(), QStringLiteral("http://127.0.0.1:8765"));
        qputenv("NOVALINE_CONFIG_SERVER", "127.0.0.1:9");
        QCOMPARE(Config::configServer(), QStringLiteral("http://127.0.0.1:9"));
        qunsetenv("NOVALINE_CONFIG_SERVER");
        QVERIFY(Config::configServer().startsWith(QStringLiteral("http://")));
        QCOMPARE(Config::buildVersion, 33555600);
    }

    void requestQuery_data()
    {
        QTest::addColumn<QVariant>("fallbackCount");
        QTest::addColumn<QVariant>("manual");
        QTest::addColumn<QString>("o");
        QTest::addColumn<QString>("ov");
        QTest::newRow("neither key") << QVariant() << QVariant() << "0" << "0";
        QTest::newRow("fallbackCount 2") << QVariant(2) << QVariant() << "1" << "0";
        QTest::newRow("fallbackCount 0") << QVariant(0) << QVariant(false) << "0" << "0";
        QTest::newRow("manual") << QVariant() << QVariant(true) << "1" << "1";
        QTest::newRow("manual and count") << QVariant(5) << QVariant(true) << "1" << "1";
    }
    void requestQuery()
    {
        QFETCH(QVariant, fallbackCount);
        QFETCH(QVariant, manual);
        QFETCH(QString, o);
        QFETCH(QString, ov);
        if (fallbackCount.isValid())
            config->writeSetting(QStringLiteral("fallbackCount"), fallbackCount);
        if (manual.isValid())
            config->writeSetting(QStringLiteral("isManualFallback"), manual);
        const int before = server.queries().size();
        QVERIFY(fetch());
        const QJsonArray queries = server.queries();
        QCOMPARE(queries.size(), before + 1);
        const QJsonObject params = queries.last().toObject().value(QStringLiteral("params")).toObject();
        QCOMPARE(params.value(QStringLiteral("app")).toString(), QStringLiteral("iptv"));
        QCOMPARE(params.value(QStringLiteral("ver")).toString(), QStringLiteral("33555600"));
        QCOMPARE(params.value(QStringLiteral("id")).toString(), OsIntegration::hddId());
        QCOMPARE(params.value(QStringLiteral("o")).toString(), o);
        QCOMPARE(params.value(QStringLiteral("ov")).toString(), ov);
        QCOMPARE(queries.last().toObject().value(QStringLiteral("query")).toString(),
                 QStringLiteral("app=iptv&ver=33555600&id=%1&o=%2&ov=%3").arg(OsIntegration::hddId(), o, ov));
    }

    void downloadIsCachedAndApplied()
    {
        QStringList order;
        connect(config.get(), &Config::playlistLoaded, this, [&](int id) { order << QStringLiteral("playlistLoaded %1").arg(id); });
        connect(config.get(), &Config::configLoaded, this, [&] { order << QStringLiteral("configLoaded"); });
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(fetch());
        QCOMPARE(order, (QStringList{QStringLiteral("playlistLoaded 0"), QStringLiteral("configLoaded")}));
        QCOMPARE(titles(), (QStringList{QStringLiteral("Первый"), QStringLiteral("Second"), QStringLiteral("Third")}));
        PlaylistModel *model = config->playlistModel();
        QCOMPARE(model->item(0)->url(), QUrl(server.base() + QStringLiteral("/live/one.ts")));
        QCOMPARE(model->item(0)->group(), QStringLiteral("Основные"));
        QCOMPARE(model->item(0)->aspect(), 2);
        QCOMPARE(model->item(1)->aspect(), 8);
        QCOMPARE(model->item(2)->aspect(), 0);
        QCOMPARE(model->item(2)->id(), 2);
        QCOMPARE(readAll(Config::configFilePath()), served());
        QVERIFY(partFiles().isEmpty());
        const QDateTime stamp = config->settings()->value(QStringLiteral("lastUpdate")).toDateTime();
        QVERIFY(stamp >= before);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(config->settings()->fileName()).contains("lastUpdate"), 5000);
        QCOMPARE(config->jtvUrl(), QUrl(server.base() + QStringLiteral("/media/jtv.json")));
    }

    void askedChannelOverTheNetwork()
    {
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->writeSetting(QStringLiteral("lastUrl"), QUrl(server.base() + QStringLiteral("/live/three.ts")));
        QSignalSpy applied(config.get(), &Config::configLoaded);
        config->updateConfig(QUrl(server.base() + QStringLiteral("/live/two.ts")));
        QVERIFY(applied.wait(10000));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 1);
        QVERIFY(fetch());
        QCOMPARE(loaded.count(), 2);
        QCOMPARE(loaded.at(1).at(0).toInt(), 2);  // lastUrl
    }

    void offlineWithCache()
    {
        LogRecorder log;
        QVERIFY(writeFile(Config::configFilePath(), cachedDocument));
        qputenv("NOVALINE_CONFIG_SERVER", QByteArray("http://127.0.0.1:") + QByteArray::number(closedPort()));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QVERIFY(fetch());
        QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("Config download error, loading old config")), 1);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 0);
        QCOMPARE(titles(), (QStringList{QStringLiteral("Old A"), QStringLiteral("Old B")}));
        QCOMPARE(readAll(Config::configFilePath()), cachedDocument);
        QVERIFY(!config->settings()->contains(QStringLiteral("lastUpdate")));
    }

    void offlineWithoutCache()
    {
        LogRecorder log;
        qputenv("NOVALINE_CONFIG_SERVER", QByteArray("http://127.0.0.1:") + QByteArray::number(closedPort()));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QSignalSpy applied(config.get(), &Config::configLoaded);
        config->updateConfig(QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(log.has(QtCriticalMsg, QStringLiteral("Config download error, loading old config")), 10000);
        QTRY_COMPARE(config->activeDownloads(), 0);
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(applied.count(), 0);
        QCOMPARE(config->playlistModel()->rowCount(), 0);
        QVERIFY(!QFileInfo::exists(Config::configFilePath()));
    }

    void offlineWithBrokenCache()
    {
        LogRecorder log;
        QVERIFY(writeFile(Config::configFilePath(), "{\"iptv\": [ {\"title\": \"cut"));
        qputenv("NOVALINE_CONFIG_SERVER", QByteArray("http://127.0.0.1:") + QByteArray::number(closedPort()));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QVERIFY(fetch());
        QVERIFY(log.has(QtCriticalMsg, QStringLiteral("Config download error, loading old config")));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Config file is empty")), 1);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), -1);
        QCOMPARE(config->playlistModel()->rowCount(), 0);
    }

    // Every fault of the server: no crash, the cached document is neither lost nor
    // damaged, and the log says what happened.
    void documentsWithoutAChannelListKeepTheCache_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("replaces");
        QTest::newRow("empty object") << QByteArray("{}") << false;
        QTest::newRow("iptv not an array") << QByteArray("{\"iptv\": {\"title\": \"x\"}}") << false;
        QTest::newRow("iptv missing, guide only") << QByteArray("{\"iptvJtvWeek\": \"http://127.0.0.1:9/j\"}") << false;
        QTest::newRow("an empty channel list is a list") << QByteArray("{\"iptv\": []}") << true;
    }
    void documentsWithoutAChannelListKeepTheCache()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, replaces);
        LogRecorder log;
        QVERIFY(writeFile(Config::configFilePath(), cachedDocument));
        QVERIFY(server.put(QStringLiteral("config.json"), body));
        QVERIFY(fetch());
        QCOMPARE(readAll(Config::configFilePath()), replaces ? body : cachedDocument);
        QCOMPARE(titles(), replaces ? QStringList() : (QStringList{QStringLiteral("Old A"), QStringLiteral("Old B")}));
        QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("no channel list, keeping and loading the cached config")),
                 replaces ? 0 : 1);
    }

    void slowServerShowsTheCacheMeanwhile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("cacheIsServed");  // the cache holds what the server sends
        QTest::addColumn<bool>("answers");        // the server answers in the end
        QTest::addColumn<int>("lists");           // playlists built
        QTest::newRow("late and different") << "delay:4000" << false << true << 2;
        QTest::newRow("late and the same") << "delay:4000" << true << true << 1;
        QTest::newRow("stalls, then fails") << "stall" << false << false << 1;
    }
    void slowServerShowsTheCacheMeanwhile()
    {
        QFETCH(QString, fault);
        QFETCH(bool, cacheIsServed);
        QFETCH(bool, answers);
        QFETCH(int, lists);
        LogRecorder log;
        config->setDownloadLimits(5000, 0, 8000);
        const QByteArray cache = cacheIsServed ? served() : cachedDocument;
        QVERIFY(writeFile(Config::configFilePath(), cache));
        QVERIFY(server.setFault(QStringLiteral("/config.php"), fault));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QElapsedTimer clock;
        clock.start();
        config->updateConfig(QUrl());
        QVERIFY(loaded.wait(3500));
        QVERIFY2(clock.elapsed() >= 2500, "the cache was shown before the server had its time");
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("has not answered within 3 s")));
        QCOMPARE(titles(), titlesOf(cache));
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        QCOMPARE(titles(), titlesOf(answers ? served() : cache));
        QCOMPARE(loaded.count(), lists);
    }

    void serverFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("newDocument");
        QTest::addColumn<QString>("logLine");
        const QString downloadError = QStringLiteral("Config download error, loading old config");
        QTest::newRow("stall") << "stall" << false << downloadError;
        QTest::newRow("stall-body") << "stall-body" << false << downloadError;
        QTest::newRow("http500") << "http500" << false << downloadError;
        QTest::newRow("status 404") << "status:404" << false << downloadError;
        QTest::newRow("cut") << "cut" << false << downloadError;
        QTest::newRow("endless") << "endless" << false << downloadError;
        QTest::newRow("html") << "html" << false
                              << QStringLiteral("Config download is not a configuration document, loading old config");
        QTest::newRow("trickle") << "trickle:8000" << true << QString();
        QTest::newRow("delay") << "delay:300" << true << QString();
    }
    void serverFaults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, newDocument);
        QFETCH(QString, logLine);
        LogRecorder log;
        QVERIFY(writeFile(Config::configFilePath(), cachedDocument));
        QVERIFY(server.setFault(QStringLiteral("/config.php"), fault));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QVERIFY(fetch());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 0);
        if (newDocument) {
            QCOMPARE(titles().size(), 3);
            QCOMPARE(readAll(Config::configFilePath()), served());
        } else {
            QCOMPARE(titles(), (QStringList{QStringLiteral("Old A"), QStringLiteral("Old B")}));
            QCOMPARE(readAll(Config::configFilePath()), cachedDocument);
            QVERIFY2(log.count(QtCriticalMsg, logLine) + log.count(QtWarningMsg, logLine) == 1,
                     qPrintable(log.lines().join(QLatin1Char('\n'))));
        }
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        QVERIFY(partFiles().isEmpty());
    }

    void guideDownloadOnlyOnChangedAddress()
    {
        QSignalSpy downloaded(config.get(), &Config::jtvDownloaded);
        const int hitsBefore = server.hits(QStringLiteral("/media/jtv.json"));
        QVERIFY(fetch());
        QVERIFY(downloaded.wait(10000));
        QCOMPARE(server.hits(QStringLiteral("/media/jtv.json")), hitsBefore + 1);
        QCOMPARE(readAll(Config::jtvFilePath()), guide);

        config->loadJtv(QStringLiteral("one"));
        QCOMPARE(config->jtvModel()->rowCount(), 2);
        QCOMPARE(config->jtvModel()->item(0)->title(), QStringLiteral("Утро"));
        QCOMPARE(config->guideIndexCount(), 1);  // indexed when it arrived

        // The same document again: no second download.
        QVERIFY(fetch());
        QTRY_COMPARE(config->activeDownloads(), 0);
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(server.hits(QStringLiteral("/media/jtv.json")), hitsBefore + 1);

        // A new address: downloaded again.
        const QByteArray secondGuide = R"({"one": [{"title": "Вечер", "time": 5000}]})";
        QVERIFY(server.put(QStringLiteral("jtv2.json"), secondGuide));
        QByteArray changed = serverDocument;
        QVERIFY(server.put(QStringLiteral("config.json"), changed.replace("/media/jtv.json", "/media/jtv2.json")));
        QVERIFY(fetch());
        QVERIFY(downloaded.wait(10000));
        QCOMPARE(downloaded.count(), 2);
        config->loadJtv(QStringLiteral("one"));
        QCOMPARE(config->jtvModel()->rowCount(), 1);
        QCOMPARE(config->jtvModel()->item(0)->title(), QStringLiteral("Вечер"));

        // No guide address any more: the empty address is tried and reported.
        LogRecorder log;
        const QByteArray withoutGuide = R"({"iptv": []})";
        QVERIFY(server.put(QStringLiteral("config.json"), withoutGuide));
        QVERIFY(fetch());
        QTRY_COMPARE(config->activeDownloads(), 0);
        QVERIFY(config->jtvUrl().isEmpty());
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Error to download jtv: ")), 1);
        QCOMPARE(downloaded.count(), 2);
        config->loadJtv(QStringLiteral("one"));
        QCOMPARE(config->jtvModel()->rowCount(), 1);  // the cached guide stays in use
    }

    void guideFaultsKeepTheCachedGuide_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("html") << "html";
        QTest::newRow("cut") << "cut";
        QTest::newRow("http500") << "http500";
        QTest::newRow("stall") << "stall";
        QTest::newRow("endless") << "endless";
    }
    void guideFaultsKeepTheCachedGuide()
    {
        QFETCH(QString, fault);
        LogRecorder log;
        QVERIFY(writeFile(Config::jtvFilePath(), guide));
        QVERIFY(server.setFault(QStringLiteral("/media/jtv.json"), fault));
        QSignalSpy downloaded(config.get(), &Config::jtvDownloaded);
        QVERIFY(fetch());
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        QCOMPARE(downloaded.count(), 0);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Error to download jtv: ")), 1);
        QCOMPARE(readAll(Config::jtvFilePath()), guide);
        QVERIFY(partFiles().isEmpty());
        config->loadJtv(QStringLiteral("two"));
        QCOMPARE(config->jtvModel()->rowCount(), 1);
    }

    void anOlderGuideFinishingLateNeverReplacesANewerOne()
    {
        const QByteArray older = "{\"one\": [{\"title\": \"older\", \"time\": 1000}]}";
        const QByteArray newer = "{\"one\": [{\"title\": \"newer\", \"time\": 1000}]}";
        QVERIFY(server.put(QStringLiteral("old-jtv.json"), older));
        QVERIFY(server.put(QStringLiteral("new-jtv.json"), newer));
        QVERIFY(server.setFault(QStringLiteral("/media/old-jtv.json"), QStringLiteral("delay:1500")));
        QSignalSpy downloaded(config.get(), &Config::jtvDownloaded);
        QJsonObject document;
        document.insert(QStringLiteral("iptvJtvWeek"), server.base() + QStringLiteral("/media/old-jtv.json"));
        config->applyConfig(document, QUrl());
        document.insert(QStringLiteral("iptvJtvWeek"), server.base() + QStringLiteral("/media/new-jtv.json"));
        config->applyConfig(document, QUrl());
        QVERIFY(downloaded.wait(10000));
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(readAll(Config::jtvFilePath()), newer);
        config->loadJtv(QStringLiteral("one"));
        QCOMPARE(config->jtvModel()->item(0)->title(), QStringLiteral("newer"));
        QVERIFY(partFiles().isEmpty());
    }

    void destroyedWhileDownloading()
    {
        QVERIFY(server.setFault(QStringLiteral("/config.php"), QStringLiteral("stall")));
        config->updateConfig(QUrl());
        QCOMPARE(config->activeDownloads(), 1);
        tester.reset();
        config.reset();  // must not crash now or when the event loop runs on
        QTest::qWait(50);
    }
};

int runFetchTests(const QStringList &args)
{
    TestFetch t;
    return QTest::qExec(&t, args);
}

#include "tst_fetch.moc"
