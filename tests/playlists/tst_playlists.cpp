// Channel lists and guides of the user's own: the M3U variants met in the wild and
// XMLTV guides, plain and compressed, turned into the player's guide document.
#include "m3u.h"
#include "m3uvariants.h"
#include "xmltv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestPlaylists : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &data)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return QString();
        return path;
    }
    QJsonObject convert(const QString &path, const QList<Xmltv::Wanted> &wanted, Xmltv::Result *result,
                        const Xmltv::Options &options = Xmltv::Options())
    {
        const QString json = m_dir.filePath(QStringLiteral("guide.json"));
        QFile::remove(json);
        *result = Xmltv::convert(path, wanted, options, json);
        QFile f(json);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }

private slots:
    void m3uEntries_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("expected");
        for (M3uVariant v : m3uVariants())
            QTest::newRow(v.name) << v.text
                                  << v.channels.replaceInStrings(QStringLiteral("%BASE%"), QStringLiteral("http://base.example/lists/"));
    }
    void m3uEntries()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, expected);
        const M3u::Playlist list = M3u::parse(text, QUrl(QStringLiteral("http://base.example/lists/all.m3u")));
        QStringList got;
        for (const M3u::Channel &c : list.channels)
            got << QStringList{c.title, c.url.toString(), c.group, c.guideKey(), c.userAgent, c.referrer}.join('|');
        QCOMPARE(got, expected);
        QVERIFY(list.isChannelList());
    }

    void m3uHeaderAndKinds()
    {
        const M3u::Playlist list = M3u::parse("#EXTM3U url-tvg=\"http://g/a.xml,http://g/b.xml.gz\" x-tvg-url=\"http://g/a.xml\""
                                              " tvg-shift=2\n#EXTINF:-1 tvg-shift=-1.5,X\nhttp://h/x\n#EXTINF:-1,Y\nhttp://h/y\n");
        QCOMPARE(list.guideUrls, (QStringList{"http://g/a.xml", "http://g/b.xml.gz"}));
        QCOMPARE(list.channels.at(0).tvgShiftHours, -1.5);
        QCOMPARE(list.channels.at(1).tvgShiftHours, 2.0);
        // A stream's own playlist is no channel list; neither is a login page.
        QVERIFY(!M3u::parse("#EXTM3U\n#EXT-X-VERSION:3\n#EXTINF:10,\nseg1.ts\n").isChannelList());
        QVERIFY(!M3u::parse("<html><body>Login</body></html>").isChannelList());
        QVERIFY(!M3u::parse("{\"iptv\": []}").isChannelList());
        // Long texts are cut; huge junk ends.
        const M3u::Playlist huge = M3u::parse("#EXTINF:-1 tvg-name=\"" + QByteArray(5 << 20, 'q'));
        QCOMPARE(huge.channels.size(), 0);
        QCOMPARE(huge.skipped, 1);
        const M3u::Playlist longTitle = M3u::parse("#EXTINF:-1," + QByteArray(5000, 't') + "\nhttp://h/t\n");
        QCOMPARE(longTitle.channels.at(0).title.size(), M3u::MaxTextLength);
    }

    void largeListsAreReadLikeSmallOnes()
    {
        // Large enough to be read in two halves: the halves must join into what one
        // reading gives, whatever the second half holds.
        QByteArray text = "#EXTM3U url-tvg=\"http://g/a.xml\" tvg-shift=2\n";
        const int n = 60000;
        for (int i = 0; i < n; ++i) {
            if (i == n * 3 / 4)
                text += "#EXTM3U x-tvg-url=\"http://g/b.xml\" tvg-shift=-1\n";
            if (i % 1000 == 7)
                text += "#EXTINF:-1,Lost\n";  // no address: skipped
            text += "#EXTINF:-1 tvg-id=\"c" + QByteArray::number(i) + "\" group-title=\"G" + QByteArray::number(i % 7)
                + "\"" + (i % 500 == 3 ? " tvg-shift=5" : "") + ",Channel " + QByteArray::number(i)
                + "\nhttp://stream.example/live/" + QByteArray::number(i) + ".ts\n";
        }
        QVERIFY(text.size() > 4 << 20);
        const M3u::Playlist list = M3u::parse(text);
        QCOMPARE(list.channels.size(), n);
        QCOMPARE(list.skipped, 60);
        QCOMPARE(list.guideUrls, (QStringList{"http://g/a.xml", "http://g/b.xml"}));
        for (int i = 0; i < n; ++i) {
            const M3u::Channel &c = list.channels.at(i);
            const double shift = i % 500 == 3 ? 5 : i < n * 3 / 4 ? 2 : -1;
            if (c.title != QStringLiteral("Channel %1").arg(i) || c.tvgShiftHours != shift
                || c.group != QStringLiteral("G%1").arg(i % 7))
                QFAIL(qPrintable(QStringLiteral("channel %1: %2, shift %3, group %4").arg(i).arg(c.title).arg(c.tvgShiftHours).arg(c.group)));
        }
    }

    void xmltvTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");  // -1: refused
        QTest::newRow("UTC offset") << "20261208120000 +0000" << qint64(1796731200);
        QTest::newRow("+0300") << "20261208150000 +0300" << qint64(1796731200);
        QTest::newRow("-0500") << "20261208070000 -0500" << qint64(1796731200);
        QTest::newRow("no offset is UTC") << "20261208120000" << qint64(1796731200);
        QTest::newRow("no seconds") << "202612081200 +0000" << qint64(1796731200);
        QTest::newRow("leap day") << "20280229000000 +0000" << qint64(1835395200);
        QTest::newRow("garbage") << "tomorrow" << qint64(-1);
        QTest::newRow("bad month") << "20261308120000" << qint64(-1);
        QTest::newRow("trailing junk") << "20261208120000 +0000x" << qint64(-1);
    }
    void xmltvTimes()
    {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        qint64 got = -1;
        const bool ok = Xmltv::parseTime(text, &got);
        QCOMPARE(ok, seconds >= 0);
        if (ok)
            QCOMPARE(got, seconds);
    }

    void xmltvGuides_data()
    {
        QTest::addColumn<QString>("packing");
        QTest::newRow("plain") << "";
        QTest::newRow("gzip") << "gzip";
        QTest::newRow("xz") << "xz";
    }
    void xmltvGuides()
    {
        QFETCH(QString, packing);
        const QByteArray xml =
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<tv>\n"
            "<channel id=\"one.ru\"><display-name>Channel One</display-name></channel>\n"
            "<channel id=\"c2\"><display-name lang=\"en\">Deux TV</display-name><icon src=\"x\"/></channel>\n"
            "<programme start=\"20261208100000 +0000\" stop=\"20261208110000 +0000\" channel=\"one.ru\">"
            "<title lang=\"en\">News</title><title lang=\"ru\">&#1053;&#1086;&#1074;&#1086;&#1089;&#1090;&#1080;</title><date/></programme>\n"
            "<programme start=\"20261208090000 +0000\" channel=\"one.ru\"><title>Caf\xe9</title></programme>\n"
            "<programme start=\"20261208120000 +0200\" channel=\"c2\"><title>Film</title></programme>\n"
            "<programme start=\"20261208120000\" channel=\"unknown\"><title>Nobody</title></programme>\n"
            "</tv>\n";
        QString path = write(QStringLiteral("guide.xml"), xml);
        if (!packing.isEmpty()) {
            QVERIFY(QProcess::execute(packing, {QStringLiteral("-f"), path}) == 0);
            path += packing == QLatin1String("gzip") ? QStringLiteral(".gz") : QStringLiteral(".xz");
            // Told by its first bytes, not by its name.
            QFile::remove(m_dir.filePath(QStringLiteral("guide.data")));
            QVERIFY(QFile::rename(path, m_dir.filePath(QStringLiteral("guide.data"))));
            path = m_dir.filePath(QStringLiteral("guide.data"));
        }
        Xmltv::Result result;
        Xmltv::Options options;
        options.offsetMinutes = 30;
        // Matched by id ("ONE.RU" ignoring case), by display name ("deuxtv" ignoring blanks).
        const QJsonObject guide = convert(path, {{QStringLiteral("ONE.RU"), 0}, {QStringLiteral("deuxtv"), 1},
                                                 {QStringLiteral("absent"), 0}},
                                          &result, options);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.channels, 2);
        QCOMPARE(result.programmes, 4);
        QCOMPARE(result.matchedKeys, 2);
        const QJsonArray one = guide.value(QStringLiteral("ONE.RU")).toArray();
        QCOMPARE(one.size(), 2);
        QCOMPARE(one.at(0).toObject().value(QStringLiteral("title")).toString(), QStringLiteral("Café"));  // sorted, Latin-1
        QCOMPARE(one.at(0).toObject().value(QStringLiteral("time")).toDouble(), 1796720400.0 + 1800);
        QCOMPARE(one.at(1).toObject().value(QStringLiteral("title")).toString(), QStringLiteral("News"));
        const QJsonArray two = guide.value(QStringLiteral("deuxtv")).toArray();
        QCOMPARE(two.at(0).toObject().value(QStringLiteral("time")).toDouble(), 1796724000.0 + 3600 + 1800);
        QVERIFY(!guide.contains(QStringLiteral("absent")));

        // The interface language picks among several titles.
        options.language = QStringLiteral("ru");
        const QJsonObject russian = convert(path, {{QStringLiteral("one.ru"), 0}}, &result, options);
        QCOMPARE(russian.value(QStringLiteral("one.ru")).toArray().at(1).toObject().value(QStringLiteral("title")).toString(),
                 QStringLiteral("Новости"));
    }

    void largeGuidesAreReadLikeSmallOnes_data()
    {
        QTest::addColumn<QByteArray>("declaration");
        QTest::addColumn<QByteArray>("middle");  // put among the programmes, halfway
        QTest::newRow("plain") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") << QByteArray();
        QTest::newRow("Latin-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>") << QByteArray();
        QTest::newRow("a late channel") << QByteArray("<?xml version=\"1.0\"?>")
                                        << QByteArray("<channel id=\"late\"><display-name>Wanted 3</display-name></channel>");
        QTest::newRow("a programme in a comment")
            << QByteArray("<?xml version=\"1.0\"?>")
            << QByteArray("<!-- <programme start=\"20261208000000\" channel=\"c1\"><title>Hidden</title></programme> -->");
    }
    void largeGuidesAreReadLikeSmallOnes()
    {
        QFETCH(QByteArray, declaration);
        QFETCH(QByteArray, middle);
        QByteArray xml = declaration + "\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n<tv source-info-name=\"test\">\n";
        for (int c = 0; c < 3; ++c)
            xml += "<channel id=\"c" + QByteArray::number(c) + "\"><display-name>Wanted " + QByteArray::number(c)
                + "</display-name></channel>\n";
        const int n = 3000;
        for (int i = 0; i < n; ++i) {
            if (i == n / 2)
                xml += middle;
            const QByteArray channel = i % 5 == 4 ? "late" : "c" + QByteArray::number(i % 3);
            xml += "<programme start=\"202612" + QByteArray::number(10 + i % 20) + QByteArray::number(100000 + i % 90000)
                + " +0100\" channel=\"" + channel + "\"><title>Caf\xc3\xa9 " + QByteArray::number(i)
                + "</title><desc>&lt;b&gt;</desc></programme>\n";
        }
        xml += "</tv>\n";
        if (declaration.contains("ISO-8859-1"))
            xml.replace("Caf\xc3\xa9", "Caf\xe9");
        const QString path = write(QStringLiteral("large.xml"), xml);
        const QList<Xmltv::Wanted> wanted{{QStringLiteral("wanted 0"), 0}, {QStringLiteral("C1"), 1}, {QStringLiteral("wanted3"), 0}};
        Xmltv::Options whole;
        whole.readInHalvesAbove = std::numeric_limits<qint64>::max();
        Xmltv::Options halves;
        halves.readInHalvesAbove = 0;
        Xmltv::Result one, two;
        const QJsonObject expected = convert(path, wanted, &one, whole);
        const QJsonObject got = convert(path, wanted, &two, halves);
        QVERIFY2(one.ok && two.ok, qPrintable(one.error + two.error));
        QCOMPARE(got, expected);
        QCOMPARE(two.programmes, one.programmes);
        QCOMPARE(two.kept, one.kept);
        QVERIFY(expected.value(QStringLiteral("C1")).toArray().size() > n / 10);
        QVERIFY(expected.value(QStringLiteral("C1")).toArray().at(0).toObject().value(QStringLiteral("title")).toString().startsWith(QStringLiteral("Café")));
    }

    void brokenGuidesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("not XML") << QByteArray("<html><body>502</body>");
        QTest::newRow("cut gzip") << QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xb3\x29", 12);
        QTest::newRow("empty") << QByteArray();
    }
    void brokenGuidesAreRefused()
    {
        QFETCH(QByteArray, data);
        Xmltv::Result result;
        convert(write(QStringLiteral("broken.xml"), data), {{QStringLiteral("x"), 0}}, &result);
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("guide.json"))));
    }

    void unpackingStopsAtTheCap()
    {
        const QString path = write(QStringLiteral("bomb.xml"), "<tv>" + QByteArray(4 << 20, ' ') + "</tv>");
        QVERIFY(QProcess::execute(QStringLiteral("gzip"), {QStringLiteral("-f"), path}) == 0);
        Xmltv::Options options;
        options.maxUnpackedBytes = 1 << 20;
        Xmltv::Result result;
        convert(path + QStringLiteral(".gz"), {{QStringLiteral("x"), 0}}, &result, options);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QStringLiteral("limit")), qPrintable(result.error));
    }
};

QTEST_GUILESS_MAIN(TestPlaylists)
#include "tst_playlists.moc"
