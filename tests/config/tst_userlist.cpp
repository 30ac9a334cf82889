// The user's own channel list and guide in place of the operator's: an M3U list and an
// XMLTV guide served by the operator test server, or read from local files; the cache
// that keeps the last good list; favourites and the start channel as for the operator.
#include "config.h"
#include "jtvmodel.h"
#include "playlistmodel.h"
#include "settingskeys.h"
#include "testsupport.h"
#include "../playlists/m3uvariants.h"

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
    // The programmes of a channel as the guide panel lists them: "HHmm-HHmm title" in UTC.
    QStringList programmes(const QString &key) const
    {
        config->loadJtv(key);
        const JtvModel *jtv = config->jtvModel();
        QStringList out;
        for (int row = 0; row < jtv->rowCount(); ++row) {
            const QModelIndex index = jtv->index(row);
            auto hhmm = [&index](int role) { return index.data(role).toDateTime().toUTC().toString(QStringLiteral("HHmm")); };
            out << hhmm(JtvModel::StartTimeRole) + QLatin1Char('-') + hhmm(JtvModel::EndTimeRole) + QLatin1Char(' ')
                    + index.data(JtvModel::TitleRole).toString();
        }
        return out;
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

    void listsServedByTheServer_data()
    {
        QTest::addColumn<int>("variant");
        const QVector<M3uVariant> variants = m3uVariants();
        for (int i = 0; i < variants.size(); ++i)
            QTest::newRow(variants.at(i).name) << i;
    }
    void listsServedByTheServer()
    {
        QFETCH(int, variant);
        const M3uVariant v = m3uVariants().at(variant);
        const QString name = QStringLiteral("variant%1.m3u").arg(variant);
        QVERIFY(server.put(name, v.text));
        useList(server.base() + QStringLiteral("/media/") + name);
        QVERIFY(load());
        QStringList got;
        for (int row = 0; row < config->playlistModel()->rowCount(); ++row) {
            const PlaylistModelItem *it = config->playlistModel()->item(row);
            got << QStringList{it->title(), it->url().toString(), it->group(), it->jtv(), it->userAgent(), it->referrer()}.join('|');
        }
        QCOMPARE(got, QStringList(v.channels).replaceInStrings(QStringLiteral("%BASE%"), server.base() + QStringLiteral("/media/")));
    }

    void guidesServedByTheServer_data()
    {
        QTest::addColumn<QString>("packing");
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("one");   // programmes of tvg-id "one.ru"
        QTest::addColumn<QStringList>("deux");  // of the channel named "Deux TV"
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>"
                                "<channel id=\"ONE.RU\"><display-name>One</display-name></channel>"
                                "<channel id=\"c2\"><display-name lang=\"fr\">DEUX  tv</display-name></channel>\n";
        const QByteArray offsets = head
            + "<programme start=\"20261208150000 +0300\" channel=\"ONE.RU\"><title>A</title></programme>\n"
              "<programme start=\"20261208080000 -0500\" channel=\"ONE.RU\"><title>B</title><date/></programme>\n"
              "<programme start=\"20261208140000\" stop=\"20261208150000\" channel=\"ONE.RU\"><title>C</title></programme>\n"
              "<programme start=\"20261208120000 +0000\" stop=\"20261208123000 +0000\" channel=\"c2\">"
              "<title lang=\"de\">Erster</title><title lang=\"it\">Primo</title></programme>\n</tv>\n";
        // A missing stop is the next start; like the operator's guide, the guide keeps no
        // ends, so a channel's last programme has none.
        const QStringList one{"1200-1300 A", "1300-1400 B", "1400- C"};
        const QStringList deux{"1200- Erster"};
        QTest::newRow("offsets, no stop, several titles") << "" << offsets << one << deux;
        QTest::newRow("gzip") << "gzip" << offsets << one << deux;
        QTest::newRow("xz") << "xz" << offsets << one << deux;
        QByteArray latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<tv><channel id=\"one.ru\"/>"
                           "<programme start=\"20261208120000 +0000\" stop=\"20261208130000 +0000\" channel=\"one.ru\">"
                           "<title>Caf\xe9</title><date/></programme></tv>\n";
        QTest::newRow("Latin-1") << "" << latin << QStringList{"1200- Café"} << QStringList();
    }
    void guidesServedByTheServer()
    {
        QFETCH(QString, packing);
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, one);
        QFETCH(QStringList, deux);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(2) + packing;
        QVERIFY(server.put(QStringLiteral("guided.m3u"), "#EXTM3U\n#EXTINF:-1 tvg-id=\"one.ru\",One\n{{BASE}}/live/one.ts\n"
                                                          "#EXTINF:-1,Deux TV\n{{BASE}}/live/two.ts\n"));
        QVERIFY(server.put(QStringLiteral("g.xml"), xml));
        QString guide = QStringLiteral("g.xml");
        if (!packing.isEmpty()) {
            QVERIFY(QProcess::execute(packing, {QStringLiteral("-kf"), server.root() + QStringLiteral("/g.xml")}) == 0);
            // Told by its first bytes: the name says nothing.
            guide = QStringLiteral("guide-%1.dat").arg(tag);
            QVERIFY(QFile::rename(server.root() + QStringLiteral("/g.xml") + (packing == QLatin1String("gzip") ? ".gz" : ".xz"),
                                  server.root() + QLatin1Char('/') + guide));
        }
        useList(server.base() + QStringLiteral("/media/guided.m3u"));
        config->writeSetting(QString::fromLatin1(SettingsKeys::guideUrl), server.base() + QStringLiteral("/media/") + guide);
        QSignalSpy ready(config.get(), &Config::jtvDownloaded);
        QVERIFY(load());
        QVERIFY(ready.count() > 0 || ready.wait(10000));
        QCOMPARE(programmes(QStringLiteral("one.ru")), one);
        QCOMPARE(programmes(QStringLiteral("Deux TV")), deux);
    }

    void aGuideIsConvertedOnlyWhenItChanges()
    {
        useList(server.base() + QStringLiteral("/media/list.m3u"));
        LogRecorder log;
        auto start = [this] {
            config.reset(new Config);
            QSignalSpy ready(config.get(), &Config::jtvDownloaded);
            return load() && (ready.count() > 0 || ready.wait(10000));
        };
        QVERIFY(start());
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("Guide read:")), 1);
        // The next start finds the same bytes: the cached guide serves.
        QVERIFY(start());
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("Guide read:")), 1);
        config->loadJtv(QStringLiteral("one.tv"));
        QCOMPARE(config->jtvModel()->currentTitle(), QStringLiteral("Утро"));
        // Another offset shapes another document.
        config->writeSetting(QString::fromLatin1(SettingsKeys::guideOffsetMinutes), 60);
        QVERIFY(start());
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("Guide read:")), 2);
        // Without its stamp the cached document is not trusted.
        QVERIFY(QFile::remove(Config::guideStampPath()) || !QFile::exists(Config::guideStampPath()));
        QVERIFY(start());
        QCOMPARE(log.count(QtDebugMsg, QStringLiteral("Guide read:")), 3);
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
