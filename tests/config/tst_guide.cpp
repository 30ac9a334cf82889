// loadJtv: the programme list of one guide key from the cached guide, through the index.
#include "config.h"
#include "guideindex.h"
#include "jtvmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSettings>

#include <cstdio>
#include <memory>

class TestGuide : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Config> config;
    std::unique_ptr<QAbstractItemModelTester> tester;

    JtvModel *model() const { return config->jtvModel(); }
    static QDateTime at(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs); }

private slots:
    void init()
    {
        QDir(Config::cacheFolder()).removeRecursively();
        QDir().mkpath(Config::cacheFolder());
        config.reset(new Config);
        tester.reset(new QAbstractItemModelTester(config->jtvModel(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    void cleanup()
    {
        tester.reset();
        config.reset();
    }

    void programmeEnds()
    {
        const QByteArray programmes = R"({
            "k": [{"title": "A", "time": 1000}, {"title": "B", "time": 2000}],
            "one": [{"title": "Only", "time": 3000}],
            "unordered": [{"title": "Late", "time": 9000}, {"title": "Early", "time": 1000}, {"title": "Last", "time": 5000}],
            "empty": [],
            "types": [{"title": 42, "time": "1500"}, {"title": "bad time", "time": "soon"}, {"time": 7}]
        })";
        QVERIFY(writeFile(Config::jtvFilePath(), programmes));
        LogRecorder log;

        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(model()->rowCount(), 2);
        QCOMPARE(model()->item(0)->title(), QStringLiteral("A"));
        QCOMPARE(model()->item(0)->start(), at(1000));
        QCOMPARE(model()->item(0)->end(), at(2000));
        QCOMPARE(model()->item(1)->start(), at(2000));
        QVERIFY(!model()->item(1)->end().isValid());

        config->loadJtv(QStringLiteral("one"));
        QCOMPARE(model()->rowCount(), 1);
        QVERIFY(!model()->item(0)->end().isValid());

        config->loadJtv(QStringLiteral("unordered"));
        QCOMPARE(model()->rowCount(), 3);
        QCOMPARE(model()->item(0)->title(), QStringLiteral("Late"));
        QCOMPARE(model()->item(0)->end(), at(1000));
        QCOMPARE(model()->item(1)->end(), at(5000));

        config->loadJtv(QStringLiteral("types"));
        QCOMPARE(model()->rowCount(), 3);
        QCOMPARE(model()->item(0)->title(), QStringLiteral("42"));
        QCOMPARE(model()->item(0)->start(), at(1500));
        QCOMPARE(model()->item(1)->start(), at(0));
        QVERIFY(model()->item(2)->title().isEmpty());

        config->loadJtv(QStringLiteral("empty"));
        QCOMPARE(model()->rowCount(), 0);
        QCOMPARE(model()->currentIndex(), -1);
        config->loadJtv(QStringLiteral("absent"));
        QCOMPARE(model()->rowCount(), 0);
        config->loadJtv(QString());
        QCOMPARE(model()->rowCount(), 0);

        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));
        QCOMPARE(config->guideIndexCount(), 1);  // one file version, one index
    }

    void missingAndBrokenFilesWarnEveryTime()
    {
        LogRecorder log;
        config->loadJtv(QStringLiteral("k"));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Could not open jtv file")), 2);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Jtv file is empty")), 2);
        QCOMPARE(model()->rowCount(), 0);

        log.clear();
        const QByteArray brokenGuide = R"({"k": [{"title": "A", "time": 1000}], )";
        QVERIFY(writeFile(Config::jtvFilePath(), brokenGuide));
        config->loadJtv(QStringLiteral("k"));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Jtv file is empty")), 2);
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Could not open jtv file")), 0);
        QCOMPARE(model()->rowCount(), 0);

        log.clear();
        QVERIFY(writeFile(Config::jtvFilePath(), QByteArray()));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(log.count(QtWarningMsg, QStringLiteral("Jtv file is empty")), 1);

        // A top-level array is a document, just without keys.
        log.clear();
        QVERIFY(writeFile(Config::jtvFilePath(), "[1, 2]"));
        config->loadJtv(QStringLiteral("k"));
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(model()->rowCount(), 0);
    }

    void changedFileIsAlwaysHonoured()
    {
        // Same size, written right after: still read afresh.
        const QByteArray guideA = R"({"k": [{"title": "AAAA", "time": 1000}]})";
        QVERIFY(writeFile(Config::jtvFilePath(), guideA));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(model()->item(0)->title(), QStringLiteral("AAAA"));
        const QByteArray guideB = R"({"k": [{"title": "BBBB", "time": 2000}]})";
        QVERIFY(writeFile(Config::jtvFilePath(), guideB));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(model()->item(0)->title(), QStringLiteral("BBBB"));
        QCOMPARE(model()->item(0)->start(), at(2000));
        // Replaced by another file in one step.
        const QString other = Config::cacheFolder() + QStringLiteral("/other.json");
        const QByteArray guideC = R"({"k": [{"title": "CCCC", "time": 3000}]})";
        QVERIFY(writeFile(other, guideC));
        QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(Config::jtvFilePath()).constData()) == 0);
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(model()->item(0)->title(), QStringLiteral("CCCC"));
        // Removed.
        LogRecorder log;
        QVERIFY(QFile::remove(Config::jtvFilePath()));
        config->loadJtv(QStringLiteral("k"));
        QCOMPARE(model()->rowCount(), 0);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("Could not open jtv file")));
        QCOMPARE(config->guideIndexCount(), 3);
    }

    // The index reads exactly what a full parse into a variant map reads.
    void indexMatchesFullParse()
    {
        const QByteArray doc = "\xEF\xBB\xBF\r\n{ \"plain\" : [ {\"title\":\"x\",\"time\":1} ] ,\r\n"
                               "\"\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE\": [{\"title\": \"\xD0\xA3\xD1\x82\xD1\x80\xD0\xBE\", \"time\": 10}],\n"
                               "\"esc\\\"aped\\\\key\": [{\"title\": \"q\\\"]}[{\", \"time\": 11}],\n"
                               "\"\\u0416\\u0443\": [{\"title\": \"unicode key\", \"time\": 12}],\n"
                               "\"string\": \"not a list\", \"number\": 12.5, \"object\": {\"a\": [1]},\n"
                               "\"nested\": [[1, 2], {\"title\": {\"deep\": [\"]\"]}, \"time\": \"99\"}, null, true],\n"
                               "\"\": [{\"title\": \"empty key\"}]\n}\n";
        const QString path = Config::jtvFilePath();
        QVERIFY(writeFile(path, doc));
        const QStringList keys{QStringLiteral("plain"), QStringLiteral("Кино"), QStringLiteral("esc\"aped\\key"),
                               QStringLiteral("Жу"), QStringLiteral("string"),
                               QStringLiteral("number"), QStringLiteral("object"), QStringLiteral("nested"),
                               QString(), QStringLiteral("absent")};
        GuideIndex index;
        for (const QString &key : keys) {
            QVariantList indexed, direct;
            QCOMPARE(index.programmes(path, key, &indexed), GuideIndex::Ok);
            QCOMPARE(GuideIndex::programmesDirect(path, key, &direct), GuideIndex::Ok);
            QCOMPARE(indexed, direct);
        }
        QVariantList list;
        index.programmes(path, QStringLiteral("Кино"), &list);
        QCOMPARE(list.value(0).toMap().value(QStringLiteral("title")).toString(), QStringLiteral("Утро"));
        index.programmes(path, QStringLiteral("nested"), &list);
        QCOMPARE(list.size(), 4);
        QCOMPARE(index.indexCount(), 1);

        QHash<QString, GuideIndex::Span> spans;
        QVERIFY(GuideIndex::scanTopLevel(doc, &spans));
        QCOMPARE(spans.size(), 9);
        QVERIFY(!GuideIndex::scanTopLevel("[1]", &spans));
    }

    void duplicateKeysKeepTheLast()
    {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("Qt 5.15's JSON parser leaks the value it drops for a repeated key");
#endif
        const QByteArray doc = "{\"dup\": [{\"title\": \"first\", \"time\": 1}], \"x\": [],"
                               " \"dup\": [{\"title\": \"second\", \"time\": 2}]}";
        QVERIFY(writeFile(Config::jtvFilePath(), doc));
        GuideIndex index;
        QVariantList indexed, direct;
        QCOMPARE(index.programmes(Config::jtvFilePath(), QStringLiteral("dup"), &indexed), GuideIndex::Ok);
        GuideIndex::programmesDirect(Config::jtvFilePath(), QStringLiteral("dup"), &direct);
        QCOMPARE(indexed, direct);
        QCOMPARE(indexed.value(0).toMap().value(QStringLiteral("title")).toString(), QStringLiteral("second"));
    }

    void generatedGuideMatches()
    {
        // Many keys, random shapes: every key reads the same both ways.
        QJsonObject object;
        quint32 seed = 12345;
        auto next = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 8; };
        for (int c = 0; c < 200; ++c) {
            QJsonArray programmes;
            const int n = int(next() % 20);
            for (int i = 0; i < n; ++i) {
                QJsonObject p;
                p.insert(QStringLiteral("title"), QStringLiteral("Передача \"%1\" \\ %2").arg(next() % 1000).arg(QChar(0x2603)));
                p.insert(QStringLiteral("time"), qint64(1700000000) + i * 1800);
                programmes.append(p);
            }
            object.insert(QStringLiteral("канал %1 \u00e9").arg(c), programmes);
        }
        const QString path = Config::jtvFilePath();
        QVERIFY(writeFile(path, QJsonDocument(object).toJson(QJsonDocument::Indented)));
        GuideIndex index;
        // The full reading once, as a map (what programmesDirect does for each key).
        const QVariantMap all = QJsonDocument::fromJson(readAll(path)).object().toVariantMap();
        for (auto it = object.begin(); it != object.end(); ++it) {
            QVariantList indexed;
            index.programmes(path, it.key(), &indexed);
            QCOMPARE(indexed, all.value(it.key()).toList());
        }
        QCOMPARE(index.indexCount(), 1);
    }
};

int runGuideTests(const QStringList &args)
{
    TestGuide t;
    return QTest::qExec(&t, args);
}

#include "tst_guide.moc"
