#include "httpdownload.h"

#include "atomicfile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QFile>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int MaxRedirects = 10;
constexpr qint64 ReadBufferBytes = 1024 * 1024;

// One manager per thread: each would keep its own connections, cookies and caches. The
// GUI thread's belongs to the application object, so it goes (with its TLS state) when
// the application does; a worker's goes with its thread.
QNetworkAccessManager *threadManager()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        static QPointer<QNetworkAccessManager> main;
        if (!main)
            main = new QNetworkAccessManager(app);
        return main;
    }
    static QThreadStorage<QNetworkAccessManager *> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new QNetworkAccessManager);
    return managers.localData();
}

// Transfers under way on this thread's manager. When the last one ends its idle
// connections are closed: downloads here are minutes apart, and a connection kept open
// would hold its TLS state until the process ends.
thread_local int transfersUnderWay = 0;

void transferEnded(QNetworkAccessManager *manager)
{
    if (--transfersUnderWay == 0 && manager)
        manager->clearConnectionCache();
}
}

struct HttpDownload::Private
{
    QPointer<QNetworkReply> reply;
    // The body goes to a side file that is renamed over the target when complete.
    // Not a QSaveFile: its commit syncs to disk, which for hundreds of megabytes stops
    // the GUI thread; whoever takes a large file syncs it on a worker.
    QFile *file = nullptr;
    void dropFile()
    {
        if (!file)
            return;
        file->close();
        file->remove();
        delete file;
        file = nullptr;
    }
    QByteArray body;
    QTimer stallTimer;
    QTimer deadlineTimer;
    QString savePath;
    QString fileName;
    qint64 maxSize = 0;
    qint64 received = 0;
    int stallTimeoutMs = HttpDownload::DefaultStallTimeoutMs;
    bool started = false;
    bool done = false;
};

HttpDownload::HttpDownload(Mode mode, QObject *parent)
    : QObject(parent)
    , d(new Private)
    , m_mode(mode)
{
    d->maxSize = mode == File ? DefaultFileLimit : DefaultMemoryLimit;
    d->stallTimer.setSingleShot(true);
    connect(&d->stallTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("No data received for %1 s from %2")
                 .arg(d->stallTimeoutMs / 1000.0)
                 .arg(m_url.toDisplayString()));
    });
    d->deadlineTimer.setSingleShot(true);
    connect(&d->deadlineTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("Download of %1 took longer than %2 s (%3 bytes received)")
                 .arg(m_url.toDisplayString())
                 .arg(d->deadlineTimer.interval() / 1000.0)
                 .arg(d->received));
    });
}

HttpDownload::HttpDownload(int mode, QObject *parent)
    : HttpDownload(mode == File ? File : Memory, parent)
{
    if (mode != File && mode != Memory)
        qWarning() << "HttpDownload: unknown mode" << mode << "- keeping the body in memory";
}

HttpDownload::~HttpDownload()
{
    if (d->reply) {
        QNetworkAccessManager *manager = d->reply->manager();
        d->reply->disconnect(this);
        d->reply->abort();
        delete d->reply;
        transferEnded(manager);
    }
    d->dropFile();
    delete d;
}

void HttpDownload::setUrl(const QUrl &url)
{
    m_url = url;
}

void HttpDownload::setSavePath(const QString &path)
{
    d->savePath = path;
}

void HttpDownload::setFileName(const QString &name)
{
    d->fileName = name;
}

QString HttpDownload::filePath() const
{
    return d->savePath + QLatin1Char('/') + d->fileName;
}

void HttpDownload::setStallTimeout(int ms)
{
    d->stallTimeoutMs = ms > 0 ? ms : DefaultStallTimeoutMs;
    if (d->stallTimer.isActive())
        d->stallTimer.start(d->stallTimeoutMs);
}

void HttpDownload::setMaxSize(qint64 bytes)
{
    d->maxSize = bytes > 0 ? bytes : (m_mode == File ? DefaultFileLimit : DefaultMemoryLimit);
}

void HttpDownload::setDeadline(int ms)
{
    d->deadlineTimer.setInterval(std::max(ms, 0));
}

void HttpDownload::download()
{
    if (d->started) {
        qWarning() << "HttpDownload: download() called again for" << m_url.toDisplayString();
        return;
    }
    d->started = true;

    QString problem;
    const QString scheme = m_url.scheme().toLower();
    if (m_url.isEmpty())
        problem = QStringLiteral("Empty download URL");
    else if (!m_url.isValid())
        problem = QStringLiteral("Invalid download URL: %1").arg(m_url.errorString());
    else if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        problem = QStringLiteral("Unsupported URL scheme: %1").arg(m_url.toDisplayString());
    else if (m_mode == File)
        openTarget(&problem);
    if (!problem.isEmpty()) {
        // Reported from the event loop, never from inside download().
        QTimer::singleShot(0, this, [this, problem] { fail(problem); });
        return;
    }

    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    const QString agent = QCoreApplication::applicationName().isEmpty()
        ? QStringLiteral("libnovaline")
        : QCoreApplication::applicationName() + QLatin1Char('/') + QCoreApplication::applicationVersion();
    request.setHeader(QNetworkRequest::UserAgentHeader, agent);

    d->reply = threadManager()->get(request);
    ++transfersUnderWay;
    // A bounded buffer holds the network back while the GUI thread is busy: no huge
    // chunk to write in one go, no body piling up in memory.
    d->reply->setReadBufferSize(ReadBufferBytes);
    connect(d->reply, &QNetworkReply::metaDataChanged, this, [this] { onMetaData(); });
    connect(d->reply, &QNetworkReply::readyRead, this, [this] { onReadyRead(); });
    connect(d->reply, &QNetworkReply::redirected, this, [this] { d->stallTimer.start(d->stallTimeoutMs); });
    connect(d->reply, &QNetworkReply::finished, this, [this] { onFinished(); });
    d->stallTimer.start(d->stallTimeoutMs);
    if (d->deadlineTimer.interval() > 0)
        d->deadlineTimer.start();
}

bool HttpDownload::openTarget(QString *problem)
{
    if (d->savePath.isEmpty() || d->fileName.isEmpty()) {
        *problem = QStringLiteral("No save path or file name for %1").arg(m_url.toDisplayString());
        return false;
    }
    if (d->fileName.contains(QLatin1Char('/')) || d->fileName == QLatin1String(".")
        || d->fileName == QLatin1String("..")) {
        *problem = QStringLiteral("Bad file name for a download: %1").arg(d->fileName);
        return false;
    }
    if (!QDir().mkpath(d->savePath)) {
        *problem = QStringLiteral("Cannot create folder %1").arg(d->savePath);
        return false;
    }
    d->file = new QFile(filePath() + QStringLiteral(".incomplete"));
    if (!d->file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *problem = QStringLiteral("Cannot write %1: %2").arg(filePath(), d->file->errorString());
        delete d->file;
        d->file = nullptr;
        return false;
    }
    return true;
}

void HttpDownload::onMetaData()
{
    if (d->done || !d->reply)
        return;
    d->stallTimer.start(d->stallTimeoutMs);
    const QVariant length = d->reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > d->maxSize)
        fail(QStringLiteral("Download of %1 is too large: %2 bytes (limit %3)")
                 .arg(m_url.toDisplayString())
                 .arg(length.toLongLong())
                 .arg(d->maxSize));
}

void HttpDownload::onReadyRead()
{
    if (d->done || !d->reply)
        return;
    const QByteArray chunk = d->reply->readAll();
    if (chunk.isEmpty())
        return;
    d->stallTimer.start(d->stallTimeoutMs);
    d->received += chunk.size();
    if (d->received > d->maxSize) {
        fail(QStringLiteral("Download of %1 exceeds the limit of %2 bytes")
                 .arg(m_url.toDisplayString())
                 .arg(d->maxSize));
        return;
    }
    if (m_mode == File) {
        if (d->file->write(chunk) != chunk.size())
            fail(QStringLiteral("Cannot write %1: %2").arg(filePath(), d->file->errorString()));
    } else {
        d->body.append(chunk);
    }
}

void HttpDownload::onFinished()
{
    if (d->done || !d->reply)
        return;
    onReadyRead();
    if (d->done)
        return;
    QNetworkReply *reply = d->reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("Download of %1 failed: %2")
                 .arg(m_url.toDisplayString(), reply->errorString()));
        return;
    }
    if (status < 200 || status >= 300) {
        fail(QStringLiteral("Download of %1 failed: HTTP status %2")
                 .arg(m_url.toDisplayString())
                 .arg(status));
        return;
    }
    // A body shorter than announced is a cut transfer (unless it was decoded on the way).
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && reply->rawHeader("Content-Encoding").isEmpty()
        && length.toLongLong() != d->received) {
        fail(QStringLiteral("Download of %1 is incomplete: %2 of %3 bytes")
                 .arg(m_url.toDisplayString())
                 .arg(d->received)
                 .arg(length.toLongLong()));
        return;
    }

    QString result;
    if (m_mode == File) {
        const bool flushed = d->file->flush() && d->file->error() == QFileDevice::NoError;
        const QString why = d->file->errorString();
        d->file->close();
        QString renameError;
        if (!flushed || !AtomicFile::replace(d->file->fileName(), filePath(), &renameError)) {
            fail(QStringLiteral("Cannot save %1: %2").arg(filePath(), flushed ? renameError : why));
            return;
        }
        delete d->file;
        d->file = nullptr;
        result = filePath();
    } else {
        result = QString::fromUtf8(d->body);
        d->body.clear();
    }
    finish(true, result);
}

void HttpDownload::fail(const QString &error)
{
    if (d->done)
        return;
    qWarning().noquote() << "HttpDownload:" << error;
    finish(false, error);
}

void HttpDownload::finish(bool ok, const QString &text)
{
    d->done = true;
    d->stallTimer.stop();
    d->deadlineTimer.stop();
    if (d->reply) {
        QNetworkReply *reply = d->reply;
        d->reply = nullptr;
        reply->disconnect(this);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
        transferEnded(reply->manager());
    }
    d->dropFile();
    QPointer<HttpDownload> self(this);
    if (ok)
        emit fileDownloaded(m_url.toString(), text);
    else
        emit downloadError(text);
    if (self)
        emit downloadFinished();
}
