// The video-portal listing: title composition, file selection, failures.
#include "config.h"
#include "playlistmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSettings>

#include <memory>

namespace {

QJsonObject file(int id, const QString &title, int filetype = 1, QVariant trackingTime = QVariant())
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), id);
    o.insert(QStringLiteral("title"), title);
    o.insert(QStringLiteral("filetype"), filetype);
    o.insert(QStringLiteral("url"), QStringLiteral("{{BASE}}/media/f%1.ts").arg(id));
    o.insert(QStringLiteral("qualityType"), 1);
    if (trackingTime.isValid())
        o.insert(QStringLiteral("trackingTime"), trackingTime.toInt());
    return o;
}

QByteArray listing(const QList<QPair<QString, QJsonArray>> &groups)
{
    QJsonArray data;
    for (const auto &g : groups) {
        QJsonObject group;
        group.insert(QStringLiteral("title"), g.first);
        group.insert(QStringLiteral("files"), g.second);
        data.append(group);
    }
    QJsonObject o;
    o.insert(QStringLiteral("data"), data);
    return json(o);
}

} // namespace

class TestPortal : public QObject
{
    Q_OBJECT

private:
    OperatorServer server;
    std::unique_ptr<Config> config;
    std::unique_ptr<QAbstractItemModelTester> tester;

    // Loads a listing and returns the id playlistLoaded carried (-2: none came).
    int load(const QString &pathAndQuery)
    {
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadVideoPortal(server.url(pathAndQuery));
        if (!loaded.wait(10000))
            return -2;
        return loaded.at(0).at(0).toInt();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
    }
    void init()
    {
        server.get(QStringLiteral("/_control?reset=1"));
        config.reset(new Config);
        config->setDownloadLimits(1000, 1024 * 1024, 5000);
        config->setMode(Config::VideoTarvonaPro);
        tester.reset(new QAbstractItemModelTester(config->playlistModel(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    void cleanup()
    {
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        tester.reset();
        config.reset();
    }

    void titles_data()
    {
        QTest::addColumn<QByteArray>("object");
        QTest::addColumn<QString>("title");
        QTest::newRow("worked example 1")
            << QByteArray(R"({"title":"Pilot","season":1,"episode":3,"version":{"title":"HD"},"qualityType":2,"qualityTypeString":"720p","translation":"Dub"})")
            << "3. Pilot HD 720p [Dub]";
        QTest::newRow("worked example 2")
            << QByteArray(R"({"title":"Film","version":{"title":"Extended","special":true},"versionText":"Cut","qualityType":1})")
            << "Film Cut(Extended)";
        QTest::newRow("no qualityType, empty label: trimmed")
            << QByteArray(R"({"title":"Film"})") << "Film";
        QTest::newRow("no qualityType with label")
            << QByteArray(R"({"title":"Film","qualityTypeString":"1080p"})") << "Film 1080p";
        QTest::newRow("season 0 episode 5")
            << QByteArray(R"({"title":"T","season":0,"episode":5,"qualityType":1})") << "T";
        QTest::newRow("season 2 episode 0")
            << QByteArray(R"({"title":"T","season":2,"episode":0,"qualityType":1})") << "T";
        QTest::newRow("special as a string")
            << QByteArray(R"({"title":"F","version":{"title":"Ext","special":"true"},"versionText":"Cut","qualityType":1})")
            << "F Ext";
        QTest::newRow("special without version text")
            << QByteArray(R"({"title":"F","version":{"title":"Ext","special":true},"versionText":"","qualityType":1})")
            << "F Ext";
        QTest::newRow("version not an object")
            << QByteArray(R"({"title":"F","version":"HD","qualityType":1})") << "F";
        QTest::newRow("3D")
            << QByteArray(R"({"title":"F","d3":true,"qualityType":1,"translation":"Многоголосый"})")
            << "F 3D [Многоголосый]";
        QTest::newRow("translation not a string")
            << QByteArray(R"({"title":"F","qualityType":1,"translation":5})") << "F";
        QTest::newRow("season as a string")
            << QByteArray(R"({"title":"F","season":"1","episode":2,"qualityType":1})") << "F";
    }
    void titles()
    {
        QFETCH(QByteArray, object);
        QFETCH(QString, title);
        QCOMPARE(Config::composePortalTitle(QJsonDocument::fromJson(object).object()), title);
    }

    void listingBuildsThePlaylist()
    {
        QJsonObject first = QJsonDocument::fromJson(
            R"({"title":"Pilot","season":1,"episode":3,"version":{"title":"HD"},"qualityType":2,"qualityTypeString":"720p","translation":"Dub","filetype":1,"id":5,"trackingTime":-1,"url":"{{BASE}}/media/p.ts"})").object();
        QVERIFY(server.put(QStringLiteral("portal.json"),
                           listing({{QString(), {first, file(6, QStringLiteral("Trailer"), 2, 0), file(7, QStringLiteral("Second"), 1, 30)}},
                                    {QStringLiteral("Сезон 2"), {file(8, QStringLiteral("Third"))}}})));
        QCOMPARE(load(QStringLiteral("/portal.php?id=1")), 7);
        PlaylistModel *model = config->playlistModel();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->item(0)->title(), QStringLiteral("3. Pilot HD 720p [Dub]"));
        QCOMPARE(model->item(0)->id(), 5);
        QCOMPARE(model->item(0)->fileId(), 5);
        QCOMPARE(model->item(0)->trackingTime(), -1);
        QCOMPARE(model->item(0)->group(), QStringLiteral("ungrouped"));
        QCOMPARE(model->item(0)->url(), QUrl(server.base() + QStringLiteral("/media/p.ts")));
        QCOMPARE(model->item(1)->id(), 7);
        QCOMPARE(model->item(1)->trackingTime(), 30);
        QCOMPARE(model->item(1)->group(), QStringLiteral("ungrouped"));
        QCOMPARE(model->item(2)->group(), QStringLiteral("Сезон 2"));
        QCOMPARE(model->item(2)->trackingTime(), 0);
        QVERIFY(model->item(2)->jtv().isEmpty());
    }

    void selection_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("selected");
        const QByteArray mixed = listing({{QStringLiteral("G"), {file(10, QStringLiteral("a"), 1, -5), file(11, QStringLiteral("b"), 1, 0),
                                                                 file(12, QStringLiteral("c"), 1, 50)}}});
        QTest::newRow("file query wins") << "?file=17" << mixed << 17;
        QTest::newRow("file query not numeric") << "?file=abc" << mixed << 0;
        QTest::newRow("first tracking time >= 0") << "" << mixed << 11;
        QTest::newRow("missing tracking time reads 0")
            << "" << listing({{QStringLiteral("G"), {file(20, QStringLiteral("a"), 1, -1), file(21, QStringLiteral("b"))}}}) << 21;
        QTest::newRow("all below 0: row 0")
            << "" << listing({{QStringLiteral("G"), {file(30, QStringLiteral("a"), 1, -1), file(31, QStringLiteral("b"), 1, -2)}}}) << 30;
        QTest::newRow("other filetypes take no part")
            << "" << listing({{QStringLiteral("G"), {file(40, QStringLiteral("a"), 3, 0), file(41, QStringLiteral("b"), 1, -1)}}}) << 41;
        QTest::newRow("id -1 is passed over")
            << "" << listing({{QStringLiteral("G"), {file(-1, QStringLiteral("a"), 1, 0), file(51, QStringLiteral("b"), 1, 0)}}}) << 51;
        QTest::newRow("nothing listed") << "" << listing({{QStringLiteral("G"), {file(60, QStringLiteral("a"), 0, 0)}}}) << -1;
    }
    void selection()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, document);
        QFETCH(int, selected);
        QVERIFY(server.put(QStringLiteral("portal.json"), document));
        QCOMPARE(load(QStringLiteral("/portal.php") + query), selected);
    }

    void failedDownloadKeepsTheListEmpty()
    {
        LogRecorder log;
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/a.mkv"))}, false);
        QVERIFY(server.setFault(QStringLiteral("/portal.php"), QStringLiteral("http500")));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadVideoPortal(server.url(QStringLiteral("/portal.php")));
        QCOMPARE(config->playlistModel()->rowCount(), 0);  // emptied at once
        QTRY_VERIFY_WITH_TIMEOUT(log.has(QtCriticalMsg, QStringLiteral("Playlist download error, loading old config")), 10000);
        QTRY_COMPARE(config->activeDownloads(), 0);
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(config->playlistModel()->rowCount(), 0);
    }

    void notJsonAnswer()
    {
        LogRecorder log;
        QVERIFY(server.setFault(QStringLiteral("/portal.php"), QStringLiteral("html")));
        QCOMPARE(load(QStringLiteral("/portal.php?file=9")), 9);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Config file is empty")), 1);
        QVERIFY(server.setFault(QStringLiteral("/portal.php"), QStringLiteral("html")));
        QCOMPARE(load(QStringLiteral("/portal.php")), -1);
        QCOMPARE(config->playlistModel()->rowCount(), 0);
    }

    void staleListingIsDropped()
    {
        QVERIFY(server.put(QStringLiteral("portal.json"), listing({{QStringLiteral("G"), {file(1, QStringLiteral("a"))}}})));
        QVERIFY(server.setFault(QStringLiteral("/portal.php"), QStringLiteral("delay:300")));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadVideoPortal(server.url(QStringLiteral("/portal.php")));
        // The user drops files on the window before the listing arrives.
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/a.mkv"))}, false);
        QTRY_COMPARE_WITH_TIMEOUT(config->activeDownloads(), 0, 10000);
        QCOMPARE(loaded.count(), 1);  // only the local playlist
        QCOMPARE(config->playlistModel()->rowCount(), 1);
        QCOMPARE(config->playlistModel()->item(0)->url(), QUrl::fromLocalFile(QStringLiteral("/a.mkv")));
    }
};

int runPortalTests(const QStringList &args)
{
    TestPortal t;
    return QTest::qExec(&t, args);
}

#include "tst_portal.moc"
