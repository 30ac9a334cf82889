#pragma once
// The operator test server (tools/operator-server) on loopback, and what it was asked.

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

class OperatorServer
{
public:
    bool start(const QString &root)
    {
        const QString script = QString::fromLocal8Bit(qgetenv("NOVALINE_SOURCE_DIR")) + QStringLiteral("/tools/operator-server");
        m_process.start(QStringLiteral("python3"), {script, QStringLiteral("--root"), root, QStringLiteral("--port"),
                                                    QStringLiteral("0"), QStringLiteral("--quiet")});
        if (!m_process.waitForStarted(10000))
            return false;
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(10000))
            line += m_process.readAllStandardOutput();
        if (!line.startsWith("PORT "))
            return false;
        m_base = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(line.mid(5, line.indexOf('\n') - 5).trimmed());
        return true;
    }

    ~OperatorServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString base() const { return m_base; }

    // The configuration requests received so far; clear empties the record.
    int configRequests(bool clear = false) { return get(clear ? "/_queries?clear=1" : "/_queries").size(); }

    QJsonArray get(const char *path)
    {
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(m_base + QLatin1String(path))));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const QJsonArray result = QJsonDocument::fromJson(reply->readAll()).array();
        delete reply;
        return result;
    }

private:
    QProcess m_process;
    QString m_base;
};
