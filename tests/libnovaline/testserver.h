#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QtTest>

// The loopback HTTP server of these tests (httpserver.py) in its own process.
class TestServer
{
public:
    ~TestServer() { stop(); }

    // With a certificate and key the server speaks HTTPS.
    bool start(const QString &cert = QString(), const QString &key = QString())
    {
        m_scheme = cert.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
        QStringList args{QStringLiteral(NOVALINE_TEST_HTTPSERVER)};
        if (!cert.isEmpty())
            args << QStringLiteral("--tls") << cert << key;
        // The system interpreter: a version-manager shim in PATH can take seconds to start.
        const QString system = QStringLiteral("/usr/bin/python3");
        m_process.setProgram(QFileInfo(system).isExecutable() ? system : QStringLiteral("python3"));
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(30000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < 30000)
            m_process.waitForReadyRead(200);
        bool ok = false;
        m_port = m_process.readLine().trimmed().toInt(&ok);
        return ok && m_port > 0;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QUrl url(const QString &pathAndQuery) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(m_scheme).arg(m_port).arg(pathAndQuery));
    }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_scheme = QStringLiteral("http");
};

// The bytes /ok?size=N sends.
inline QByteArray serverPattern(int size)
{
    QByteArray out;
    out.reserve(size);
    for (int i = 0; i < size; ++i)
        out.append(char(i % 256));
    return out;
}
