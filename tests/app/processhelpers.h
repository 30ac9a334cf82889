#pragma once
// Starting the real player executable and reading what it logged.

#include "singleinstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstring>

struct OpenedUrls
{
    bool append = false;
    QStringList urls;
};

class PlayerProcesses
{
public:
    PlayerProcesses()
    {
        m_executable = QString::fromLocal8Bit(qgetenv("NOVALINE_EXECUTABLE"));
        m_environment = QProcessEnvironment::systemEnvironment();
        // Nothing listens there: a configuration fetch fails at once.
        if (!m_environment.contains(QStringLiteral("NOVALINE_CONFIG_SERVER")))
            m_environment.insert(QStringLiteral("NOVALINE_CONFIG_SERVER"), QStringLiteral("http://127.0.0.1:9"));
        m_cache = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME")) + QStringLiteral("/Novaline/IPTV");
    }

    QString executable() const { return m_executable; }
    QString cacheFolder() const { return m_cache; }

    // Copies started from now on run under another user id.
    void runAs(uint uid, uint gid)
    {
        m_wrapper = QStringList{QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                                QStringLiteral("--clear-groups"), QStringLiteral("--"), m_executable};
    }

    void setCacheHome(const QString &cacheHome)
    {
        m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
        m_cache = cacheHome + QStringLiteral("/Novaline/IPTV");
    }
    QString logPath() const { return m_cache + QStringLiteral("/log.txt"); }
    QProcessEnvironment &environment() { return m_environment; }

    QByteArray log() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The lists the running copy dispatched, in order.
    QList<OpenedUrls> opened() const
    {
        static const QRegularExpression line(QStringLiteral("^\\[ [^\\]]* \\] Open urls, append (true|false): ?(.*)$"),
                                             QRegularExpression::MultilineOption);
        QList<OpenedUrls> result;
        auto it = line.globalMatch(QString::fromUtf8(log()));
        while (it.hasNext()) {
            const auto match = it.next();
            OpenedUrls entry;
            entry.append = match.captured(1) == QLatin1String("true");
            entry.urls = match.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            result << entry;
        }
        return result;
    }

    int logCount(const QByteArray &text) const { return log().count(text); }

    // The local-file playlist the dispatched lists leave behind.
    QStringList playlist() const
    {
        QStringList files;
        QSet<QString> seen;
        for (const OpenedUrls &entry : opened()) {
            if (!entry.append) {
                files.clear();
                seen.clear();
            }
            for (const QString &url : entry.urls) {
                if (!seen.contains(url)) {
                    seen.insert(url);
                    files << url;
                }
            }
        }
        return files;
    }

    QProcess *start(const QStringList &arguments, const QString &workingDirectory = QString())
    {
        auto *process = new QProcess;
        process->setProcessEnvironment(m_environment);
        if (!workingDirectory.isEmpty())
            process->setWorkingDirectory(workingDirectory);
        if (m_wrapper.isEmpty())
            process->start(m_executable, arguments);
        else
            process->start(QStringLiteral("setpriv"), m_wrapper + arguments);
        m_processes << process;
        return process;
    }

    // Runs a copy to its end; false when it did not end in time.
    bool run(const QStringList &arguments, int *exitCode, QByteArray *stderrText = nullptr,
             const QString &workingDirectory = QString(), int timeoutMs = 30000)
    {
        QProcess *process = start(arguments, workingDirectory);
        // Waiting in the event loop keeps reading every copy's output: a running copy
        // that logs a long list would otherwise block on a full pipe.
        QElapsedTimer timer;
        timer.start();
        while (process->state() != QProcess::NotRunning && timer.elapsed() < timeoutMs)
            QTest::qWait(10);
        if (process->state() != QProcess::NotRunning)
            return false;
        *exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        if (stderrText)
            *stderrText = process->readAllStandardError();
        return true;
    }

    static void kill(QProcess *process, int signal)
    {
        ::kill(pid_t(process->processId()), signal);
    }

    // Makes the last recorded launch lie in the past, as after a quiet period.
    static bool ageLaunchStamp(quint32 seconds)
    {
        QSharedMemory segment{QLatin1String(singleInstanceKey)};
        if (!segment.attach())
            return false;
        segment.lock();
        quint32 stamp = 0;
        std::memcpy(&stamp, segment.constData(), sizeof stamp);
        stamp -= seconds;
        std::memcpy(segment.data(), &stamp, sizeof stamp);
        segment.unlock();
        return segment.detach();
    }

    // The launch stamp in the segment, 0 when there is none.
    static quint32 launchStamp()
    {
        QSharedMemory segment{QLatin1String(singleInstanceKey)};
        if (!segment.attach())
            return 0;
        segment.lock();
        quint32 stamp = 0;
        std::memcpy(&stamp, segment.constData(), sizeof stamp);
        segment.unlock();
        segment.detach();
        return stamp;
    }

    // Processes attached to the segment, -1 when there is none. Never attaches: that
    // would make Qt remove a segment nobody holds any more.
    static int attachCount()
    {
        return SingleInstancePlatform::attachCount(QSharedMemory(QLatin1String(singleInstanceKey)).nativeKey());
    }

    static bool segmentExists() { return attachCount() >= 0; }

    // Neither the segment nor the key file it is named by is left: Qt removes the
    // file right after the segment, and a copy stopped in between would take a
    // successor's file with it.
    static bool segmentAndKeyGone()
    {
        return !segmentExists() && !QFile::exists(QSharedMemory(QLatin1String(singleInstanceKey)).nativeKey());
    }

    void stopAll()
    {
        for (QProcess *process : qAsConst(m_processes)) {
            if (process->state() != QProcess::NotRunning) {
                kill(process, SIGTERM);
                if (!process->waitForFinished(10000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
            delete process;
        }
        m_processes.clear();
    }

    ~PlayerProcesses() { stopAll(); }

private:
    QString m_executable;
    QStringList m_wrapper;
    QString m_cache;
    QProcessEnvironment m_environment;
    QList<QProcess *> m_processes;
};
