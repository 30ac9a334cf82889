#pragma once

// Shared pieces of the config tests: the operator test server as a child process, a
// log recorder and small file helpers.

#include "config.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

// Forgets everything a Config left behind: cache, data folder and settings.
inline void wipeState()
{
    QDir(Config::cacheFolder()).removeRecursively();
    QDir(Config::dataFolder()).removeRecursively();
    QSettings settings;
    settings.clear();
    settings.sync();
}

// A small tmpfs that the cache and data folders move onto, filled to the brim on
// request. Mounting needs root; active() is false elsewhere and the test skips.
class FullDisk
{
public:
    FullDisk()
    {
        if (!m_dir.isValid())
            return;
        m_active = QProcess::execute(QStringLiteral("mount"),
                                     {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                      QStringLiteral("size=1m"), QStringLiteral("tmpfs"), m_dir.path()})
            == 0;
        if (!m_active)
            return;
        for (const char *name : {"XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
            m_saved.append(qgetenv(name));
            qputenv(name, QFile::encodeName(m_dir.path() + QLatin1Char('/') + QLatin1String(name)));
        }
    }
    ~FullDisk()
    {
        if (!m_active)
            return;
        qputenv("XDG_CACHE_HOME", m_saved.at(0));
        qputenv("XDG_DATA_HOME", m_saved.at(1));
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir.path()});
    }
    bool active() const { return m_active; }
    // Takes every free byte.
    void fill()
    {
        QFile filler(m_dir.path() + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1) {
        }
    }

private:
    QTemporaryDir m_dir;
    QList<QByteArray> m_saved;
    bool m_active = false;
};

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Records every log message (and passes it on to the previous handler).
class LogRecorder
{
public:
    LogRecorder()
    {
        s_self = this;
        m_previous = qInstallMessageHandler(&LogRecorder::handler);
    }
    ~LogRecorder()
    {
        qInstallMessageHandler(m_previous);
        s_self = nullptr;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }
    // Messages of that type that contain text.
    int count(QtMsgType type, const QString &text) const
    {
        QMutexLocker lock(&m_mutex);
        int n = 0;
        for (const auto &line : m_lines)
            if (line.first == type && line.second.contains(text))
                ++n;
        return n;
    }
    bool has(QtMsgType type, const QString &text) const { return count(type, text) > 0; }
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        QStringList out;
        for (const auto &line : m_lines)
            out << line.second;
        return out;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (LogRecorder *self = s_self) {
            {
                QMutexLocker lock(&self->m_mutex);
                self->m_lines.append({type, message});
            }
            if (self->m_previous)
                self->m_previous(type, context, message);
        }
    }
    static inline LogRecorder *s_self = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_lines;
};

// tools/operator-server on a free loopback port, serving a temporary folder.
class OperatorServer
{
public:
    ~OperatorServer() { stop(); }

    bool start(const QStringList &extra = {})
    {
        if (!m_root.isValid())
            return false;
        const QString source = qEnvironmentVariable("NOVALINE_SOURCE_DIR", QStringLiteral(NOVALINE_SOURCE_DIR_FALLBACK));
        // The system interpreter: a version-manager shim on PATH can take seconds to start.
        const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
            ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
        m_process.setProgram(python);
        m_process.setArguments(QStringList{source + QStringLiteral("/tools/operator-server"),
                                           QStringLiteral("--root"), m_root.path(),
                                           QStringLiteral("--port"), QStringLiteral("0"),
                                           QStringLiteral("--quiet")}
                               + extra);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setReadChannel(QProcess::StandardOutput);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray line;
        while (!line.contains('\n')) {
            if (!m_process.waitForReadyRead(10000))
                return false;
            line += m_process.readAll();
        }
        const QByteArray first = line.left(line.indexOf('\n')).trimmed();
        if (!first.startsWith("PORT "))
            return false;
        m_port = first.mid(5).toInt();
        return m_port > 0;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    QString root() const { return m_root.path(); }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QUrl url(const QString &path) const { return QUrl(base() + path); }

    // Puts a file into the served folder (atomically: the server may be reading).
    bool put(const QString &name, const QByteArray &data) const
    {
        QSaveFile f(m_root.path() + QLatin1Char('/') + name);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit();
    }

    QByteArray get(const QString &pathAndQuery) const
    {
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(base() + pathAndQuery)));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->readAll();
        delete reply;
        return body;
    }

    bool setFault(const QString &path, const QString &fault, int count = 0) const
    {
        QUrlQuery q;
        q.addQueryItem(QStringLiteral("path"), path);
        q.addQueryItem(QStringLiteral("fault"), fault);
        if (count > 0)
            q.addQueryItem(QStringLiteral("count"), QString::number(count));
        const QJsonDocument doc = QJsonDocument::fromJson(get(QStringLiteral("/_control?") + q.toString(QUrl::FullyEncoded)));
        return doc.isObject() && (fault == QLatin1String("none") || doc.object().contains(path));
    }

    QJsonArray queries() const { return QJsonDocument::fromJson(get(QStringLiteral("/_queries"))).array(); }

    // Requests the server got for one path.
    int hits(const QString &path) const
    {
        int n = 0;
        const QJsonArray all = QJsonDocument::fromJson(get(QStringLiteral("/_requests"))).array();
        for (const QJsonValue &v : all)
            if (v.toObject().value(QStringLiteral("path")).toString() == path)
                ++n;
        return n;
    }

private:
    QTemporaryDir m_root;
    QProcess m_process;
    int m_port = 0;
};
