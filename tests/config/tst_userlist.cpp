// The user's own channel list and guide in place of the operator's: an M3U list and an
// XMLTV guide served by the operator test server, or read from local files; the cache
// that keeps the last good list; favourites and the start channel as for the operator.
#include "config.h"
#include "jtvmodel.h"
#include "playlistmodel.h"
#include "settingskeys.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>

namespace {

const QByteArray list = "#EXTM3U url-tvg=\"{{BASE}}/media/guide.xml.gz\"\n"
                        "#EXTINF:-1 tvg-id=\"one.tv\" group-title=\"Новости\",Первый\n{{BASE}}/live/one.ts\n"
                        "#EXTINF:-1 tvg-name=\"Deux\" group-title=\"Кино\",Second\n{{BASE}}/live/two.ts\n"
                        "#EXTINF:-1,No guide\nrtsp://cam.example/s\n";

QByteArray guideXml()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    auto stamp = [](const QDateTime &t) { return t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + " +0000"; };
    return "<?xml version=\"1.0\"?>\n<tv><channel id=\"one.tv\"><display-name>One</display-name></channel>"
           "<channel id=\"c2\"><display-name>Deux</display-name></channel>"
           "<programme start=\"" + stamp(now.addSecs(-1800)) + "\" channel=\"one.tv\"><title>Утро</title></programme>"
           "<programme start=\"" + stamp(now.addSecs(1800)) + "\" channel=\"one.tv\"><title>День</title></programme>"
           "<programme start=\"" + stamp(now.addSecs(-600)) + "\" channel=\"c2\"><title>Film</title></programme></tv>\n";
}

} // namespace

class TestUserList : public QObject
{
    Q_OBJECT

    OperatorServer server;
    std::unique_ptr<Config> config;
    std::unique_ptr<QAbstractItemModelTester> tester;

    QStringList titles() const
    {
        QStringList out;
        for (int row = 0; row < config->playlistModel()->rowCount(); ++row)
            out << config->playlistModel()->item(row)->title();
        return out;
    }
    void useList(const QString &address)
    {
        config->writeSetting(QString::fromLatin1(SettingsKeys::channelSource),
                             QString::fromLatin1(SettingsKeys::channelSourcePlaylist));
        config->writeSetting(QString::fromLatin1(SettingsKeys::playlistUrl), address);
    }
    bool load()
    {
        QSignalSpy applied(config.get(), &Config::configLoaded);
        config->updateConfig(QUrl());
        return applied.count() > 0 || applied.wait(10000);  // a local file answers at once
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
        QVERIFY(server.put(QStringLiteral("list.m3u"), list));
        QVERIFY(server.put(QStringLiteral("guide.xml"), guideXml()));
        QVERIFY(QProcess::execute(QStringLiteral("gzip"), {QStringLiteral("-kf"), server.root() + QStringLiteral("/guide.xml")}) == 0);
        QVERIFY(server.put(QStringLiteral("login.m3u"), "<html><body>Please log in</body></html>"));
    }
    void init()
    {
        server.get(QStringLiteral("/_control?reset=1"));
        wipeState();
        config.reset(new Config);
        tester.reset(new QAbstractItemModelTester(config->playlistModel(), QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    void cleanup()
    {
        tester.reset();
        config.reset();
    }

    void listAndGuideFromTheNetwork()
    {
        useList(server.base() + QStringLiteral("/media/list.m3u"));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QSignalSpy guide(config.get(), &Config::jtvDownloaded);
        QVERIFY(load());
        QCOMPARE(titles(), (QStringList{"Первый", "Second", "No guide"}));
        QVERIFY(config->holdsChannels());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 0);
        const PlaylistModelItem *second = config->playlistModel()->item(1);
        QCOMPARE(second->group(), QStringLiteral("Кино"));
        QCOMPARE(second->jtv(), QStringLiteral("Deux"));
        QCOMPARE(server.hits(QStringLiteral("/config.php")), 0);  // the operator is not asked

        // The guide named by the list (gzip), matched by id and by display name.
        QVERIFY(guide.count() > 0 || guide.wait(10000));
        config->loadJtv(QStringLiteral("one.tv"));
        QCOMPARE(config->jtvModel()->rowCount(), 2);
        QCOMPARE(config->jtvModel()->currentTitle(), QStringLiteral("Утро"));
        config->loadJtv(QStringLiteral("Deux"));
        QCOMPARE(config->jtvModel()->currentTitle(), QStringLiteral("Film"));
    }

    void favouritesAndTheStartChannelAsForTheOperator()
    {
        useList(server.base() + QStringLiteral("/media/list.m3u"));
        QVERIFY(load());
        QVERIFY(config->playlistModel()->setData(1, true, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        config->writeSetting(QString::fromLatin1(SettingsKeys::lastUrl), QUrl(server.base() + QStringLiteral("/live/two.ts")));
        config.reset(new Config);
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QVERIFY(load());
        QCOMPARE(loaded.at(0).at(0).toInt(), 1);
        QVERIFY(config->playlistModel()->item(1)->favourite());
    }

    void badAnswersKeepTheLastGoodList_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fault");
        QTest::newRow("a login page") << "/media/login.m3u" << QString();
        QTest::newRow("server error") << "/media/list.m3u" << "http500";
        QTest::newRow("nobody there") << "" << QString();
    }
    void badAnswersKeepTheLastGoodList()
    {
        QFETCH(QString, path);
        QFETCH(QString, fault);
        useList(server.base() + QStringLiteral("/media/list.m3u"));
        QVERIFY(load());
        const QStringList good = titles();
        LogRecorder log;
        config.reset(new Config);
        if (!fault.isEmpty())
            QVERIFY(server.setFault(path, fault));
        useList(path.isEmpty() ? QStringLiteral("http://127.0.0.1:9/list.m3u") : server.base() + path);
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QVERIFY(load());
        QCOMPARE(titles(), good);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("channel list")), 1);
    }

    void aLocalFileAndAGuideOfItsOwn()
    {
        QTemporaryDir dir;
        QByteArray local = list;
        local.replace("{{BASE}}", server.base().toUtf8());
        local.replace("url-tvg=", "x-other=");
        QVERIFY(writeFile(dir.filePath(QStringLiteral("my list.m3u")), local));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("guide.xml")), guideXml()));
        useList(dir.filePath(QStringLiteral("my list.m3u")));
        config->writeSetting(QString::fromLatin1(SettingsKeys::guideUrl), dir.filePath(QStringLiteral("guide.xml")));
        config->writeSetting(QString::fromLatin1(SettingsKeys::guideOffsetMinutes), 60);
        QSignalSpy guide(config.get(), &Config::jtvDownloaded);
        QVERIFY(load());
        QCOMPARE(titles().size(), 3);
        QVERIFY(guide.count() > 0 || guide.wait(10000));
        // Shifted by an hour: the programme that began half an hour ago has not begun.
        config->loadJtv(QStringLiteral("one.tv"));
        QCOMPARE(config->jtvModel()->rowCount(), 2);
        QCOMPARE(config->jtvModel()->currentIndex(), -1);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("guide.xml"))));  // the user's file stays
    }
};

int runUserListTests(const QStringList &args)
{
    TestUserList t;
    return QTest::qExec(&t, args);
}

#include "tst_userlist.moc"
