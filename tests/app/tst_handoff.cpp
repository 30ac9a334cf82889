// Start-up with the real executable: the update hand-off, what an interrupted run left
// behind, the settings on the way out and a damaged scene cache.
#include "processhelpers.h"

#include <QSettings>
#include <QDirIterator>
#include <QTemporaryDir>

class TestHandoff : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        QVERIFY2(QFile::exists(m_players.executable()), "NOVALINE_EXECUTABLE is not built");
        m_installer = m_players.cacheFolder() + QStringLiteral("/update/update.exe");
        m_marker = m_work.filePath(QStringLiteral("installer-ran"));
    }

    void cleanup()
    {
        m_players.stopAll();
        QFile::remove(m_marker);
        QFile::remove(m_players.logPath());
    }

    void readyInstallerTakesOver()
    {
        writeInstaller(QStringLiteral("#!/bin/sh\necho ran > '%1'\n").arg(m_marker), true);
        record(QStringLiteral("extracted"), m_installer);
        int code = -1;
        QVERIFY(m_players.run({}, &code));
        QCOMPARE(code, 0);
        QVERIFY2(m_players.log().endsWith(" Exiting for update\n"), m_players.log().constData());
        // Gone before the server and the window: no list was dispatched.
        QCOMPARE(m_players.opened().size(), 0);
        QVERIFY(!PlayerProcesses::segmentExists());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_marker), 10000);
        // The records stay for the installer.
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("updateState")).toString(), QStringLiteral("extracted"));
    }

    void onlyTheExactStateCounts()
    {
        writeInstaller(QStringLiteral("#!/bin/sh\necho ran > '%1'\n").arg(m_marker), true);
        record(QStringLiteral("Extracted"), m_installer);
        QVERIFY(startsNormally());
        QVERIFY(!m_players.log().contains("Exiting for update"));
        QVERIFY(!m_players.log().contains("Critical: Error to start update process!"));
        m_players.stopAll();

        // "extracted" but the installer is gone: nothing happens, nothing is logged.
        QVERIFY(QFile::remove(m_installer));
        record(QStringLiteral("extracted"), m_installer);
        QVERIFY(startsNormally());
        QVERIFY(!m_players.log().contains("update"));
        QVERIFY(!QFile::exists(m_marker));
    }

    void installerThatCannotStart()
    {
        writeInstaller(QStringLiteral("#!/nonexistent/interpreter\n"), true);
        record(QStringLiteral("extracted"), m_installer);
        QVERIFY(startsNormally());
        QVERIFY2(m_players.logCount("Critical: Error to start update process!\n") == 1, m_players.log().constData());
        QVERIFY(!m_players.log().contains("Exiting for update"));
        m_players.stopAll();
        // The records stay: the next start tries once more, without a second critical line.
        QVERIFY(startsNormally());
        QCOMPARE(m_players.logCount("Critical: Error to start update process!\n"), 1);
        m_players.stopAll();
        // Two tries were all it gets: the third start gives the update up.
        QVERIFY(startsNormally());
        QCOMPARE(m_players.logCount("giving it up"), 1);
        QSettings settings;
        QVERIFY(!settings.contains(QStringLiteral("updateState")));
        QCOMPARE(settings.value(QStringLiteral("updateRefusedVersion")).toInt(), 33555601);
        QVERIFY(!QFile::exists(m_installer));
    }

    void leftoversOfAnInterruptedRunAreSwept()
    {
        const QString cache = m_players.cacheFolder();
        const QStringList planted{QStringLiteral("update.staging-Ab12Cd/update.exe"), QStringLiteral("update.old-Xy34Zw/f"),
                                  QStringLiteral("update-download/update-33555601-77-1.archive.q1W2e3"),
                                  QStringLiteral("config.json.3.part.AbCdEf"), QStringLiteral("jtv.json.4.part")};
        for (const QString &name : planted)
            writeFile(cache + QLatin1Char('/') + name, QByteArray(4096, 'x'));
        writeFile(cache + QStringLiteral("/config.json"), "{}");
        QVERIFY(startsNormally());
        for (const QString &name : planted)
            QVERIFY2(!QFileInfo::exists(cache + QLatin1Char('/') + name.section(QLatin1Char('/'), 0, 0)), qPrintable(name));
        QVERIFY(QFileInfo::exists(cache + QStringLiteral("/config.json")));
    }

    void settingsWrittenJustBeforeATerminationSignalAreKept()
    {
        QSettings().clear();
        QSettings().sync();
        QProcess *process = m_players.start({});
        QTRY_VERIFY_WITH_TIMEOUT(m_players.log().contains("Open urls"), 30000);
        PlayerProcesses::kill(process, SIGTERM);
        QVERIFY(process->waitForFinished(20000));
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("version")).toInt(), 33555600);
        QCOMPARE(settings.value(QStringLiteral("installDir")).toString(), m_players.executable());
    }

    void aDamagedSceneCacheDoesNotStopTheStart()
    {
        // A run that keeps Qt's scene cache, cut short as a full disk leaves it.
        m_players.environment().insert(QStringLiteral("QML_DISABLE_DISK_CACHE"), QStringLiteral("0"));
        QVERIFY(startsNormally());
        m_players.stopAll();
        m_players.environment().remove(QStringLiteral("QML_DISABLE_DISK_CACHE"));
        QDirIterator files(m_players.cacheFolder() + QStringLiteral("/qmlcache"), QDir::Files);
        int cut = 0;
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.resize(file.size() / 3));
            ++cut;
        }
        QVERIFY(cut > 0);
        QVERIFY(startsNormally());
        // Still running once the scenes are up, not only at the first list.
        QTRY_VERIFY_WITH_TIMEOUT(m_players.log().contains("libVLC"), 30000);
        QTest::qWait(500);
        QVERIFY(startsNormallyStillRunning());
    }

private:
    static void writeFile(const QString &path, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }

    void writeInstaller(const QString &text, bool executable)
    {
        QDir().mkpath(QFileInfo(m_installer).absolutePath());
        QFile file(m_installer);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        file.close();
        QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        if (executable)
            permissions |= QFileDevice::ExeOwner;
        QVERIFY(file.setPermissions(permissions));
    }

    static void record(const QString &state, const QString &installer)
    {
        QSettings settings;
        settings.setValue(QStringLiteral("version"), 33555600);
        settings.setValue(QStringLiteral("updateState"), state);
        settings.setValue(QStringLiteral("updatePath"), installer);
        settings.setValue(QStringLiteral("updateVersion"), 33555601);
        settings.remove(QStringLiteral("updateHandoffs"));
        settings.sync();
    }

    bool startsNormallyStillRunning() const { return m_last && m_last->state() == QProcess::Running; }

    bool startsNormally()
    {
        const int before = m_players.opened().size();
        QProcess *process = m_players.start({});
        m_last = process;
        QElapsedTimer timer;
        timer.start();
        while (m_players.opened().size() == before && timer.elapsed() < 30000 && process->state() != QProcess::NotRunning)
            QTest::qWait(20);
        return m_players.opened().size() > before && process->state() == QProcess::Running;
    }

    PlayerProcesses m_players;
    QProcess *m_last = nullptr;
    QTemporaryDir m_work;
    QString m_installer;
    QString m_marker;
};

QTEST_GUILESS_MAIN(TestHandoff)
#include "tst_handoff.moc"
