// Config without the network: modes, local files, the channel playlist built from a
// document, favourites and the settings store.
#include "config.h"
#include "playlistmodel.h"
#include "settingskeys.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

QJsonObject channel(const QString &title, const QString &stream, const QString &group = QString(),
                    const QString &jtv = QString(), const QString &aspect = QString())
{
    QJsonObject o;
    o.insert(QStringLiteral("title"), title);
    if (!stream.isNull())
        o.insert(QStringLiteral("stream"), stream);
    if (!group.isEmpty())
        o.insert(QStringLiteral("groupTitle"), group);
    if (!jtv.isEmpty())
        o.insert(QStringLiteral("jtv"), jtv);
    if (!aspect.isNull())
        o.insert(QStringLiteral("aspect"), aspect);
    return o;
}

QJsonObject document(const QJsonArray &channels)
{
    QJsonObject o;
    o.insert(QStringLiteral("iptv"), channels);
    return o;
}

QStringList favouritesInFile()
{
    const QJsonArray array = QJsonDocument::fromJson(readAll(Config::favouritesFilePath()))
                                 .object().value(QStringLiteral("favourites")).toArray();
    QStringList out;
    for (const QJsonValue &v : array)
        out << v.toString();
    return out;
}

} // namespace

class TestContent : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Config> config;
    std::unique_ptr<QAbstractItemModelTester> tester;

    void makeConfig()
    {
        tester.reset();
        config.reset(new Config);
        tester.reset(new QAbstractItemModelTester(config->playlistModel(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    int idOfUrl(const QString &url) const
    {
        const PlaylistModelItem *item = config->playlistModel()->itemByUrl(QUrl(url));
        return item ? item->id() : -1;
    }

private slots:
    void init()
    {
        wipeState();
        makeConfig();
    }
    void cleanup()
    {
        tester.reset();
        config.reset();
    }

    void settingsReachTheDiskCoalesced()
    {
        // Counted as files written in the store's folder.
        const QString file = config->settings()->fileName();
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                                  IN_CLOSE_WRITE) >= 0);
        const QByteArray name = QFile::encodeName(QFileInfo(file).fileName());
        int writes = 0;
        auto countWrites = [&] {
            alignas(inotify_event) char buffer[4096];
            ssize_t n;
            while ((n = read(watch, buffer, sizeof buffer)) > 0) {
                for (char *p = buffer; p < buffer + n;) {
                    const auto *event = reinterpret_cast<const inotify_event *>(p);
                    // The store writes a temporary file, then moves it over its own.
                    if (event->len && !QByteArray(event->name).endsWith(".lock")
                        && ((event->mask & IN_CLOSE_WRITE) || name == event->name))
                        ++writes;
                    p += sizeof(inotify_event) + event->len;
                }
            }
        };

        // A wheel turn: a hundred volume steps as fast as the events come.
        for (int volume = 1; volume <= 100; ++volume) {
            SettingsKeys::store(config->settings(), QStringLiteral("playerVolume"), volume);
            QCoreApplication::processEvents();
            QTest::qWait(3);
        }
        QTRY_VERIFY_WITH_TIMEOUT(readAll(file).contains("playerVolume=100"), 5000);
        QTest::qWait(1500);
        countWrites();
        QVERIFY2(writes >= 1 && writes <= 2, qPrintable(QString::number(writes)));
        QVERIFY(readAll(file).contains("installDir"));
        close(watch);

        // sync() writes at once: what the ways out of the program call.
        SettingsKeys::store(config->settings(), QStringLiteral("playerVolume"), 7);
        config->settings()->sync();
        QVERIFY(readAll(file).contains("playerVolume=7"));
    }

    void metaObjectInterface()
    {
        const QMetaObject &mo = Config::staticMetaObject;
        const int offset = mo.methodOffset();
        const QStringList expected{QStringLiteral("configLoaded()"), QStringLiteral("jtvDownloaded()"),
                                   QStringLiteral("modeChanged()"), QStringLiteral("playlistLoaded(int)"),
                                   QStringLiteral("contentChanged()"), QStringLiteral("updateConfig(QUrl)")};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(QString::fromLatin1(mo.method(offset + i).methodSignature()), expected.at(i));
        const QMetaProperty mode = mo.property(mo.indexOfProperty("mode"));
        QVERIFY(mode.isReadable());
        QVERIFY(!mode.isWritable());
        QCOMPARE(QString::fromLatin1(mode.notifySignal().methodSignature()), QStringLiteral("modeChanged()"));
        const QMetaEnum modes = QMetaEnum::fromType<Config::Mode>();
        QCOMPARE(modes.keyToValue("Iptv"), 0);
        QCOMPARE(modes.keyToValue("VideoTarvonaPro"), 1);
        QCOMPARE(modes.keyToValue("LocalFile"), 2);
    }

    void settingsDefaults()
    {
        QSettings *s = config->settings();
        using namespace SettingsKeys;
        QCOMPARE(readInt(s, QString::fromLatin1(playerVolume), playerVolumeDefault), 50);
        QCOMPARE(readBool(s, QString::fromLatin1(playerPlaylistState), playerPlaylistStateDefault), true);
        QCOMPARE(readInt(s, QString::fromLatin1(deinterlacing), deinterlacingDefault), 6);
        QCOMPARE(readInt(s, QString::fromLatin1(aspectRatio), aspectRatioDefault), 0);
        QCOMPARE(readInt(s, QString::fromLatin1(cropRatio), cropRatioDefault), 0);
        QCOMPARE(int(networkCachingDefault), 1000);
        QVERIFY(readStringList(s, QString::fromLatin1(preferredAudioLanguage)).isEmpty());
        store(s, QString::fromLatin1(preferredAudioLanguage), QStringLiteral("rus"));
        QCOMPARE(readStringList(s, QString::fromLatin1(preferredAudioLanguage)), QStringList{QStringLiteral("rus")});
    }

    void setModeEmitsEveryTime()
    {
        QSignalSpy spy(config.get(), &Config::modeChanged);
        config->setMode(Config::Iptv);
        QCOMPARE(spy.count(), 1);
        config->setMode(Config::LocalFile);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(config->mode(), Config::LocalFile);
        QCOMPARE(config->property("mode").toInt(), int(Config::LocalFile));
        config->setTrackingUrl(QStringLiteral("http://t/%1/%2"));
        QCOMPARE(config->trackingUrl(), QStringLiteral("http://t/%1/%2"));
    }

    void localFiles()
    {
        PlaylistModel *model = config->playlistModel();
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);

        config->loadLocalFiles({}, false);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(loaded.count(), 0);

        const QList<QUrl> three{QUrl::fromLocalFile(QStringLiteral("/v/one.mkv")),
                                QUrl::fromLocalFile(QStringLiteral("/v/Фильм два.mp4")),
                                QUrl::fromLocalFile(QStringLiteral("/v/three%20x.avi"))};
        config->loadLocalFiles(three, false);
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), 0);
        for (int row = 0; row < 3; ++row) {
            const PlaylistModelItem *item = model->item(row);
            QCOMPARE(item->id(), row);
            QCOMPARE(item->url(), three.at(row));
            QCOMPARE(item->group(), QStringLiteral("ungrouped"));
            QVERIFY(item->jtv().isEmpty());
            QCOMPARE(item->aspect(), 0);
            QVERIFY(!item->favourite());
        }
        QCOMPARE(model->item(1)->title(), QStringLiteral("Фильм два.mp4"));
        QCOMPARE(model->item(2)->title(), QStringLiteral("three%20x.avi"));

        // Appending continues after the last id; a duplicate is refused but uses an id.
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/v/one.mkv")),
                                QUrl::fromLocalFile(QStringLiteral("/v/four.ts"))},
                               true);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(model->rowCount(), 4);
        QCOMPARE(model->item(3)->id(), 4);
        QVERIFY(!model->uniqueCheck());

        // Replacing starts at 0 again.
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/v/z.mkv"))}, false);
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->item(0)->id(), 0);
        QCOMPARE(loaded.count(), 2);
    }

    void appendAfterId7()
    {
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/a.mkv"))}, false);
        // A playlist whose last id is 7 (built from a document) then gets two files.
        QJsonArray channels;
        for (int i = 0; i < 8; ++i)
            channels.append(channel(QStringLiteral("c%1").arg(i), QStringLiteral("http://s/%1").arg(i)));
        config->loadPlaylist(document(channels), QUrl());
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/b.mkv")),
                                QUrl::fromLocalFile(QStringLiteral("/c.mkv"))},
                               true);
        QCOMPARE(config->playlistModel()->item(8)->id(), 8);
        QCOMPARE(config->playlistModel()->item(9)->id(), 9);
        QCOMPARE(loaded.count(), 0);
    }

    void aspectTable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("16:9") << "16:9" << 2;
        QTest::newRow("16:10") << "16:10" << 3;
        QTest::newRow("185:100") << "185:100" << 4;
        QTest::newRow("221:100") << "221:100" << 5;
        QTest::newRow("235:100") << "235:100" << 6;
        QTest::newRow("239:100") << "239:100" << 7;
        QTest::newRow("4:3") << "4:3" << 8;
        QTest::newRow("5:4") << "5:4" << 9;
        QTest::newRow("5:3") << "5:3" << 10;
        QTest::newRow("1:1") << "1:1" << 11;
        QTest::newRow("trailing blank") << "16:9 " << 0;
        QTest::newRow("16X9") << "16X9" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("absent") << QString() << 0;
    }
    void aspectTable()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a"), {}, {}, text)}), QUrl());
        QCOMPARE(config->playlistModel()->item(0)->aspect(), value);
        QCOMPARE(Config::aspectValue(text), value);
    }

    void documentFields()
    {
        QJsonArray channels{channel(QStringLiteral("Первый"), QStringLiteral("http://s/1"), QStringLiteral("Группа"),
                                    QStringLiteral("k1"), QStringLiteral("4:3")),
                            QJsonValue(42),  // not an object: every field takes its default
                            channel(QStringLiteral("Third"), QStringLiteral("http://s/3"))};
        QJsonObject extra = channels.at(2).toObject();
        extra.insert(QStringLiteral("groupId"), 5);
        extra.insert(QStringLiteral("title"), 17);  // another type reads as the default
        channels[2] = extra;
        config->loadPlaylist(document(channels), QUrl());
        PlaylistModel *model = config->playlistModel();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->item(0)->title(), QStringLiteral("Первый"));
        QCOMPARE(model->item(0)->group(), QStringLiteral("Группа"));
        QCOMPARE(model->item(0)->jtv(), QStringLiteral("k1"));
        QCOMPARE(model->item(0)->aspect(), 8);
        QCOMPARE(model->item(1)->id(), 1);
        QVERIFY(model->item(1)->url().isEmpty());
        QVERIFY(model->item(1)->title().isEmpty());
        QCOMPARE(model->item(2)->id(), 2);
        QVERIFY(model->item(2)->title().isEmpty());
    }

    void startChannel_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("lastUrl");
        QTest::addColumn<int>("expected");
        QTest::newRow("asked wins over lastUrl") << "http://s/b" << "http://s/c" << 1;
        QTest::newRow("asked absent, lastUrl") << "http://s/zz" << "http://s/c" << 2;
        QTest::newRow("lastUrl") << "" << "http://s/b" << 1;
        QTest::newRow("lastUrl gone") << "" << "http://s/gone" << -1;
        QTest::newRow("row 0") << "" << "" << 0;
    }
    void startChannel()
    {
        QFETCH(QString, asked);
        QFETCH(QString, lastUrl);
        QFETCH(int, expected);
        if (!lastUrl.isEmpty())
            config->writeSetting(QStringLiteral("lastUrl"), QUrl(lastUrl));
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a")),
                                       channel(QStringLiteral("B"), QStringLiteral("http://s/b")),
                                       channel(QStringLiteral("C"), QStringLiteral("http://s/c")),
                                       channel(QStringLiteral("No stream"), QString())}),
                             asked.isEmpty() ? QUrl() : QUrl(asked));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toInt(), expected);
    }

    void emptyDocumentsGiveMinusOne()
    {
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        config->loadPlaylist(QJsonObject(), QUrl());
        QJsonObject notArray;
        notArray.insert(QStringLiteral("iptv"), QStringLiteral("x"));
        config->loadPlaylist(notArray, QUrl());
        config->loadPlaylist(document({}), QUrl());
        QCOMPARE(loaded.count(), 3);
        for (const auto &args : loaded)
            QCOMPARE(args.at(0).toInt(), -1);
        QCOMPARE(config->playlistModel()->rowCount(), 0);
    }

    void documentFileReading()
    {
        LogRecorder log;
        QStringList order;
        connect(config.get(), &Config::playlistLoaded, this, [&](int id) { order << QStringLiteral("playlistLoaded %1").arg(id); });
        connect(config.get(), &Config::configLoaded, this, [&] { order << QStringLiteral("configLoaded"); });

        const QString path = Config::cacheFolder() + QStringLiteral("/doc.json");
        QVERIFY(writeFile(path, json(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a"))}))));
        config->loadConfigFile(path, QUrl());
        QCOMPARE(order, (QStringList{QStringLiteral("playlistLoaded 0"), QStringLiteral("configLoaded")}));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Config file is empty")), 0);

        order.clear();
        config->loadConfigFile(path + QStringLiteral(".missing"), QUrl());
        QCOMPARE(order, (QStringList{QStringLiteral("playlistLoaded -1"), QStringLiteral("configLoaded")}));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Could not open config file")), 1);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Config file is empty")), 1);

        order.clear();
        QVERIFY(writeFile(path, "<html><body>Bad gateway</body></html>"));
        config->loadConfigFile(path, QUrl());
        QCOMPARE(order, (QStringList{QStringLiteral("playlistLoaded -1"), QStringLiteral("configLoaded")}));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Config file is empty")), 2);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Could not open config file")), 1);
    }

    void otherModesKeepTheirPlaylist()
    {
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/a.mkv")), QUrl::fromLocalFile(QStringLiteral("/b.mkv"))}, false);
        QSignalSpy loaded(config.get(), &Config::playlistLoaded);
        QSignalSpy applied(config.get(), &Config::configLoaded);
        config->applyConfig(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a"))}), QUrl());
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(applied.count(), 1);
        QCOMPARE(config->playlistModel()->rowCount(), 2);
        QCOMPARE(config->playlistModel()->item(0)->url(), QUrl::fromLocalFile(QStringLiteral("/a.mkv")));
    }

    void documentStreamsAreNetworkOnly_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<bool>("kept");
        QTest::newRow("http") << "http://tv.example/live.ts" << true;
        QTest::newRow("https with port") << "https://tv.example:8443/a.m3u8" << true;
        QTest::newRow("udp multicast") << "udp://@239.0.0.1:1234" << true;
        QTest::newRow("rtsp") << "rtsp://cam.example/stream" << true;
        QTest::newRow("local device") << "file:///dev/urandom" << false;
        QTest::newRow("bare path") << "/etc/passwd" << false;
        QTest::newRow("other scheme") << "smb://host/share/film.mkv" << false;
        QTest::newRow("http without host") << "http:///x" << false;
    }
    void documentStreamsAreNetworkOnly()
    {
        QFETCH(QString, stream);
        QFETCH(bool, kept);
        LogRecorder log;
        config->loadPlaylist(document({channel(QStringLiteral("A"), stream)}), QUrl());
        QCOMPARE(config->playlistModel()->rowCount(), 1);
        QCOMPARE(config->playlistModel()->item(0)->url().isEmpty(), !kept);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("name no network stream")), kept ? 0 : 1);
    }

    void longTextsAreCut()
    {
        LogRecorder log;
        const QString huge(10 * 1024 * 1024, QLatin1Char('x'));
        config->loadPlaylist(document({channel(huge, QStringLiteral("http://s/a"), huge),
                                       channel(QStringLiteral("B"), QStringLiteral("http://s/b"))}),
                             QUrl());
        const PlaylistModelItem *item = config->playlistModel()->item(0);
        QCOMPARE(item->title().size(), Config::MaxTextLength);
        QCOMPARE(item->group().size(), Config::MaxTextLength);
        QCOMPARE(config->playlistModel()->item(1)->title(), QStringLiteral("B"));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("2 texts of the configuration document were longer than 1000")), 1);
    }

    void favouritesRoundTrip()
    {
        PlaylistModel *model = config->playlistModel();
        const QJsonArray channels{channel(QStringLiteral("A"), QStringLiteral("http://s/a"), QStringLiteral("G1")),
                                  channel(QStringLiteral("B"), QStringLiteral("http://s/b"), QStringLiteral("G1")),
                                  channel(QStringLiteral("C"), QStringLiteral("http://s/c"), QStringLiteral("G2"))};
        config->loadPlaylist(document(channels), QUrl());
        for (int row = 0; row < 3; ++row)
            QVERIFY(!model->item(row)->favourite());
        QVERIFY(!QFileInfo::exists(Config::dataFolder()));

        // The data folder does not exist yet: the save creates it.
        QVERIFY(model->setData(1, true, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QCOMPARE(favouritesInFile(), QStringList{QStringLiteral("http://s/b")});
        QCOMPARE(Config::readFavourites(), QList<QUrl>{QUrl(QStringLiteral("http://s/b"))});

        // The mark follows the URL into another position and group; a trailing slash
        // is another channel; two channels with one URL are both marked.
        makeConfig();
        model = config->playlistModel();
        config->loadPlaylist(document({channel(QStringLiteral("C"), QStringLiteral("http://s/c")),
                                       channel(QStringLiteral("B moved"), QStringLiteral("http://s/b"), QStringLiteral("Other")),
                                       channel(QStringLiteral("B slash"), QStringLiteral("http://s/b/")),
                                       channel(QStringLiteral("B again"), QStringLiteral("http://s/b"))}),
                             QUrl());
        QVERIFY(!model->item(0)->favourite());
        QVERIFY(model->item(1)->favourite());
        QVERIFY(!model->item(2)->favourite());
        QVERIFY(model->item(3)->favourite());
        QCOMPARE(model->data(model->index(1), PlaylistModel::FavouriteRole).toString(), QStringLiteral("true"));

        config->saveFavourites();
        QCOMPARE(favouritesInFile(), (QStringList{QStringLiteral("http://s/b"), QStringLiteral("http://s/b")}));

        // A favourite missing from the list is dropped at the next save.
        const QByteArray withGoneChannel = R"({"favourites":["http://s/b","http://s/gone"]})";
        QVERIFY(writeFile(Config::favouritesFilePath(), withGoneChannel));
        config->loadPlaylist(document({channel(QStringLiteral("B"), QStringLiteral("http://s/b"))}), QUrl());
        config->saveFavourites();
        QCOMPARE(favouritesInFile(), QStringList{QStringLiteral("http://s/b")});

        // Unmarking the last one writes an empty array.
        QVERIFY(model->setData(0, false, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QVERIFY(QFileInfo::exists(Config::favouritesFilePath()));
        QCOMPARE(favouritesInFile(), QStringList());
        const QJsonDocument doc = QJsonDocument::fromJson(readAll(Config::favouritesFilePath()));
        QVERIFY(doc.object().value(QStringLiteral("favourites")).isArray());
        QVERIFY(readAll(Config::favouritesFilePath()).contains('\n'));  // indented text
    }

    void favouritesFailures_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("not JSON") << QByteArray("{\"favourites\": [\"http://s/a\"") << true;
        const QByteArray notAnArray = R"({"favourites":"http://s/a"})";
        QTest::newRow("favourites not an array") << notAnArray << false;
        const QByteArray noFavouritesKey = R"({"other":["http://s/a"]})";
        QTest::newRow("no favourites key") << noFavouritesKey << false;
    }
    void favouritesFailures()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, keptAside);
        LogRecorder log;
        QVERIFY(writeFile(Config::favouritesFilePath(), content));
        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a")),
                                       channel(QStringLiteral("B"), QStringLiteral("http://s/b"))}),
                             QUrl());
        QVERIFY(!config->playlistModel()->item(0)->favourite());
        QVERIFY(!config->playlistModel()->item(1)->favourite());
        QCOMPARE(log.lines().filter(QStringLiteral("avourite")).size(), 0);  // reading reports nothing
        // Building the playlist never rewrites the file.
        QCOMPARE(readAll(Config::favouritesFilePath()), content);

        QVERIFY(config->playlistModel()->setData(1, true, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QCOMPARE(favouritesInFile(), QStringList{QStringLiteral("http://s/b")});
        const QString aside = Config::favouritesFilePath() + QStringLiteral(".unreadable");
        QCOMPARE(QFileInfo::exists(aside), keptAside);
        if (keptAside)
            QCOMPARE(readAll(aside), content);
    }

    void favouritesAreChannelsOnly()
    {
        const QByteArray old = R"({"favourites":["http://s/a"]})";
        QVERIFY(writeFile(Config::favouritesFilePath(), old));
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(QStringLiteral("/a.mkv"))}, false);
        LogRecorder log;
        config->saveFavourites();
        QCOMPARE(readAll(Config::favouritesFilePath()), old);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("Favourites not saved")));

        // TV mode before its channel list arrives: the rows are still local files.
        QSignalSpy content(config.get(), &Config::contentChanged);
        config->setMode(Config::Iptv);
        QVERIFY(!config->holdsChannels());
        QVERIFY(config->playlistModel()->setData(0, true, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QCOMPARE(readAll(Config::favouritesFilePath()), old);
        QCOMPARE(content.count(), 0);

        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a"))}), QUrl());
        QVERIFY(config->holdsChannels());
        QCOMPARE(content.count(), 1);
        config->setMode(Config::LocalFile);
        QVERIFY(!config->holdsChannels());
        QCOMPARE(content.count(), 2);
    }

    void favouritesSurviveAFullDisk()
    {
        FullDisk disk;
        if (!disk.active())
            QSKIP("mounting a tmpfs needs root");
        makeConfig();
        const QByteArray old = R"({"favourites":["http://s/a"]})";
        QVERIFY(writeFile(Config::favouritesFilePath(), old));
        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a")),
                                       channel(QStringLiteral("B"), QStringLiteral("http://s/b"))}),
                             QUrl());
        disk.fill();
        LogRecorder log;
        QVERIFY(config->playlistModel()->setData(1, true, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QCOMPARE(readAll(Config::favouritesFilePath()), old);
        QVERIFY(log.has(QtCriticalMsg, QStringLiteral("Could not write tv favourites file")));
        const QStringList left = QDir(Config::dataFolder()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, QStringList{QFileInfo(Config::favouritesFilePath()).fileName()});
        config.reset();
    }

    void favouritesFileCannotBeWritten()
    {
        LogRecorder log;
        const QByteArray old = R"({"favourites":["http://s/a"]})";
        QVERIFY(writeFile(Config::favouritesFilePath(), old));
        config->loadPlaylist(document({channel(QStringLiteral("A"), QStringLiteral("http://s/a"))}), QUrl());
        QVERIFY(config->playlistModel()->item(0)->favourite());
        // The folder refuses new files: the save fails and the old file stays whole.
        QFile::setPermissions(Config::dataFolder(), QFile::ReadOwner | QFile::ExeOwner);
        const bool enforced = !QFile(Config::dataFolder() + QStringLiteral("/probe")).open(QIODevice::WriteOnly);
        if (!enforced) {
            // Running as root: make the file's place unusable instead.
            QFile::setPermissions(Config::dataFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::remove(Config::dataFolder() + QStringLiteral("/probe"));
            QFile::remove(Config::favouritesFilePath());
            QVERIFY(QDir().mkpath(Config::favouritesFilePath()));
        }
        QVERIFY(config->playlistModel()->setData(0, false, PlaylistModel::FavouriteRole));
        config->saveFavourites();
        QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("Could not open tv favourites file")), 1);
        QVERIFY(!config->playlistModel()->item(0)->favourite());  // the user's change stays
        if (enforced) {
            QCOMPARE(readAll(Config::favouritesFilePath()), old);
            QFile::setPermissions(Config::dataFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
};

int runContentTests(const QStringList &args)
{
    TestContent t;
    return QTest::qExec(&t, args);
}

#include "tst_content.moc"
