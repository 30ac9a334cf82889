#include "httpdownload.h"
#include "testserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records the downloader's signals in order.
struct Recorder
{
    QStringList events;
    QString url;
    QString data;
    QString error;

    explicit Recorder(HttpDownload *dl)
    {
        QObject::connect(dl, &HttpDownload::fileDownloaded, dl, [this](const QString &u, const QString &d) {
            events << QStringLiteral("downloaded");
            url = u;
            data = d;
        });
        QObject::connect(dl, &HttpDownload::downloadError, dl, [this](const QString &e) {
            events << QStringLiteral("error");
            error = e;
        });
        QObject::connect(dl, &HttpDownload::downloadFinished, dl, [this] { events << QStringLiteral("finished"); });
    }

    // Waits for downloadFinished, then a moment more so that a second one would show.
    bool waitFinished(int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!events.contains(QStringLiteral("finished")) && timer.elapsed() < timeoutMs)
            QTest::qWait(10);
        QTest::qWait(50);
        return events.contains(QStringLiteral("finished"));
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestHttpDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }
    void memoryText();
    void fileIntoNewFolder();
    void fileChunked();
    void redirectChain();
    void httpsNeverRedirectsToHttp();
    void redirectLoopAndUnsafeTarget_data();
    void redirectLoopAndUnsafeTarget();
    void failuresKeepTheEarlierFile_data();
    void failuresKeepTheEarlierFile();
    void stallTimeout_data();
    void stallTimeout();
    void slowButSteadyIsNoStall();
    void oversizeInMemory();
    void badRequestsFailLater_data();
    void badRequestsFailLater();
    void deletionInsideAndDuringTransfer();
    void secondDownloadCallIgnored();

private:
    QString target() const { return m_dir->path() + QStringLiteral("/cache"); }
    void writeEarlierFile()
    {
        QDir().mkpath(target());
        QFile f(target() + QStringLiteral("/config.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"earlier\": true}");
    }

    TestServer m_server;
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestHttpDownload::memoryText()
{
    HttpDownload dl(1);
    QCOMPARE(dl.mode(), HttpDownload::Memory);
    const QUrl url = m_server.url(QStringLiteral("/text"));
    dl.setUrl(url);
    Recorder rec(&dl);
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
    QCOMPARE(rec.url, url.toString());
    QCOMPARE(rec.data, QStringLiteral("Привет, мир: guide ✓"));
}

void TestHttpDownload::fileIntoNewFolder()
{
    HttpDownload dl(HttpDownload::File);
    const QString folder = m_dir->path() + QStringLiteral("/new/nested");
    dl.setUrl(m_server.url(QStringLiteral("/ok?size=300000")));
    dl.setSavePath(folder);
    dl.setFileName(QStringLiteral("jtv.json"));
    QCOMPARE(dl.filePath(), folder + QStringLiteral("/jtv.json"));
    Recorder rec(&dl);
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
    QCOMPARE(rec.data, folder + QStringLiteral("/jtv.json"));
    QCOMPARE(readAll(rec.data), serverPattern(300000));
    // No temporary file stays behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("jtv.json")});
}

void TestHttpDownload::fileChunked()
{
    HttpDownload dl(HttpDownload::File);
    dl.setUrl(m_server.url(QStringLiteral("/chunked?size=200000")));
    dl.setSavePath(target());
    dl.setFileName(QStringLiteral("chunked.bin"));
    Recorder rec(&dl);
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events.first(), QStringLiteral("downloaded"));
    QCOMPARE(readAll(target() + QStringLiteral("/chunked.bin")), serverPattern(200000));
}

void TestHttpDownload::redirectChain()
{
    HttpDownload dl(HttpDownload::File);
    const QUrl url = m_server.url(QStringLiteral("/redirect/5?size=1234"));
    dl.setUrl(url);
    dl.setSavePath(target());
    dl.setFileName(QStringLiteral("redirected.bin"));
    Recorder rec(&dl);
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
    QCOMPARE(rec.url, url.toString());  // the address asked for, not the last hop
    QCOMPARE(readAll(target() + QStringLiteral("/redirected.bin")), serverPattern(1234));
}

void TestHttpDownload::httpsNeverRedirectsToHttp()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    // A certificate for 127.0.0.1, trusted by this process only.
    const QString cert = m_dir->path() + QStringLiteral("/cert.pem");
    const QString key = m_dir->path() + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromPath(cert));
    QSslConfiguration::setDefaultConfiguration(config);
    TestServer tls;
    QVERIFY(tls.start(cert, key));

    // Control: https to https works, so a failure below is the refused redirect.
    {
        HttpDownload dl(HttpDownload::Memory);
        dl.setUrl(tls.url(QStringLiteral("/redirect/2?size=10")));
        Recorder rec(&dl);
        dl.download();
        QVERIFY(rec.waitFinished());
        QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
    }
    {
        HttpDownload dl(HttpDownload::Memory);
        const QString plain = m_server.url(QStringLiteral("/text")).toString();
        dl.setUrl(tls.url(QStringLiteral("/redirect-to?url=") + QString::fromLatin1(QUrl::toPercentEncoding(plain))));
        Recorder rec(&dl);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
        dl.download();
        QVERIFY(rec.waitFinished());
        QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
        QVERIFY(rec.data.isEmpty());
    }
}

void TestHttpDownload::redirectLoopAndUnsafeTarget_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("endless loop") << QStringLiteral("/redirect-loop");
    QTest::newRow("to a local file") << QStringLiteral("/redirect-to?url=file:///etc/hostname");
    QTest::newRow("to ftp") << QStringLiteral("/redirect-to?url=ftp://127.0.0.1/x");
}

void TestHttpDownload::redirectLoopAndUnsafeTarget()
{
    QFETCH(QString, path);
    HttpDownload dl(HttpDownload::Memory);
    dl.setUrl(m_server.url(path));
    Recorder rec(&dl);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
    QVERIFY(!rec.error.isEmpty());
}

void TestHttpDownload::failuresKeepTheEarlierFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("maxSize");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("404") << QStringLiteral("/status/404") << qint64(0) << QStringLiteral("Not Found");
    QTest::newRow("500") << QStringLiteral("/status/500") << qint64(0) << QStringLiteral("Internal Server Error");
    QTest::newRow("cut-off body") << QStringLiteral("/cut") << qint64(0) << QString();
    QTest::newRow("announced oversize") << QStringLiteral("/ok?size=5000") << qint64(1000) << QStringLiteral("too large");
    QTest::newRow("streamed oversize") << QStringLiteral("/chunked?size=300000") << qint64(100000) << QStringLiteral("exceeds");
}

void TestHttpDownload::failuresKeepTheEarlierFile()
{
    QFETCH(QString, path);
    QFETCH(qint64, maxSize);
    QFETCH(QString, errorPart);
    writeEarlierFile();
    HttpDownload dl(HttpDownload::File);
    dl.setUrl(m_server.url(path));
    dl.setSavePath(target());
    dl.setFileName(QStringLiteral("config.json"));
    if (maxSize > 0)
        dl.setMaxSize(maxSize);
    Recorder rec(&dl);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
    QVERIFY2(rec.error.contains(errorPart), qPrintable(rec.error));
    QCOMPARE(readAll(target() + QStringLiteral("/config.json")), QByteArray("{\"earlier\": true}"));
    QCOMPARE(QDir(target()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("config.json")});
}

void TestHttpDownload::stallTimeout_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("silent after some bytes") << QStringLiteral("/stall?bytes=10");
    QTest::newRow("never answers") << QStringLiteral("/stall-headers");
}

void TestHttpDownload::stallTimeout()
{
    QFETCH(QString, path);
    writeEarlierFile();
    HttpDownload dl(HttpDownload::File);
    dl.setUrl(m_server.url(path));
    dl.setSavePath(target());
    dl.setFileName(QStringLiteral("config.json"));
    dl.setStallTimeout(300);
    Recorder rec(&dl);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload: No data received")));
    QElapsedTimer timer;
    timer.start();
    dl.download();
    QVERIFY(rec.waitFinished(10000));
    QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
    QVERIFY(timer.elapsed() >= 300);
    QCOMPARE(readAll(target() + QStringLiteral("/config.json")), QByteArray("{\"earlier\": true}"));
}

void TestHttpDownload::slowButSteadyIsNoStall()
{
    // Eight chunks 200 ms apart take longer than the stall timeout, but bytes keep coming.
    HttpDownload dl(HttpDownload::Memory);
    dl.setUrl(m_server.url(QStringLiteral("/slow?chunks=8&ms=200")));
    dl.setStallTimeout(1000);
    Recorder rec(&dl);
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
}

void TestHttpDownload::oversizeInMemory()
{
    HttpDownload dl(HttpDownload::Memory);
    dl.setUrl(m_server.url(QStringLiteral("/chunked?size=400000")));
    dl.setMaxSize(50000);
    Recorder rec(&dl);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("exceeds the limit of 50000")));
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
}

void TestHttpDownload::badRequestsFailLater_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("savePath");
    QTest::newRow("empty URL") << 1 << QUrl() << QString();
    QTest::newRow("invalid URL") << 1 << QUrl(QStringLiteral("http://[::1")) << QString();
    QTest::newRow("unsupported scheme") << 1 << QUrl(QStringLiteral("ftp://127.0.0.1/x")) << QString();
    QTest::newRow("file mode without folder") << 0 << QUrl(QStringLiteral("http://127.0.0.1:1/x")) << QString();
    QTest::newRow("folder not creatable") << 0 << QUrl(QStringLiteral("http://127.0.0.1:1/x"))
                                          << QStringLiteral("/proc/novaline/cache");
}

void TestHttpDownload::badRequestsFailLater()
{
    QFETCH(int, mode);
    QFETCH(QUrl, url);
    QFETCH(QString, savePath);
    HttpDownload dl(mode);
    dl.setUrl(url);
    if (!savePath.isEmpty()) {
        dl.setSavePath(savePath);
        dl.setFileName(QStringLiteral("x.json"));
    }
    Recorder rec(&dl);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
    dl.download();
    // Nothing from inside download(): callers connect and then start.
    QVERIFY(rec.events.isEmpty());
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("error"), QStringLiteral("finished")}));
}

void TestHttpDownload::deletionInsideAndDuringTransfer()
{
    // A receiver may delete the downloader from its error handler.
    {
        auto *dl = new HttpDownload(HttpDownload::Memory);
        dl->setUrl(m_server.url(QStringLiteral("/status/404")));
        QPointer<HttpDownload> guard(dl);
        int finished = 0;
        connect(dl, &HttpDownload::downloadError, dl, [dl] { delete dl; });
        connect(dl, &HttpDownload::downloadFinished, this, [&finished] { ++finished; });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^HttpDownload:")));
        dl->download();
        QTRY_VERIFY(guard.isNull());
        QTest::qWait(50);
        QCOMPARE(finished, 0);
    }
    // Deleting a running file download leaves neither signals nor temporary files.
    {
        writeEarlierFile();
        auto *dl = new HttpDownload(HttpDownload::File);
        dl->setUrl(m_server.url(QStringLiteral("/stall?bytes=100")));
        dl->setSavePath(target());
        dl->setFileName(QStringLiteral("config.json"));
        int signalsSeen = 0;
        connect(dl, &HttpDownload::downloadFinished, this, [&signalsSeen] { ++signalsSeen; });
        connect(dl, &HttpDownload::downloadError, this, [&signalsSeen] { ++signalsSeen; });
        dl->download();
        QTest::qWait(200);
        delete dl;
        QTest::qWait(50);
        QCOMPARE(signalsSeen, 0);
        QCOMPARE(QDir(target()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("config.json")});
        QCOMPARE(readAll(target() + QStringLiteral("/config.json")), QByteArray("{\"earlier\": true}"));
    }
}

void TestHttpDownload::secondDownloadCallIgnored()
{
    HttpDownload dl(HttpDownload::Memory);
    dl.setUrl(m_server.url(QStringLiteral("/text")));
    Recorder rec(&dl);
    dl.download();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("called again")));
    dl.download();
    QVERIFY(rec.waitFinished());
    QCOMPARE(rec.events, (QStringList{QStringLiteral("downloaded"), QStringLiteral("finished")}));
}

QTEST_GUILESS_MAIN(TestHttpDownload)
#include "tst_httpdownload.moc"
