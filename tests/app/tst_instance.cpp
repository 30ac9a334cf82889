// The real executable in several processes: single instance, launch messages, quitting.
#include "processhelpers.h"
#include "videofileextensions.h"

#include <osintegration.h>

#include <QDataStream>
#include <QDateTime>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char anotherCopy[] = "Warning: Another copy launched. Exiting...";

// Sections of a freedesktop mimeapps.list: section -> (MIME type -> desktop ids).
QHash<QString, QHash<QString, QString>> readMimeApps()
{
    QHash<QString, QHash<QString, QString>> sections;
    QFile file(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/mimeapps.list"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return sections;
    QString section;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(QLatin1Char('=')))
            sections[section].insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return sections;
}

QString fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(m_players.executable()), "NOVALINE_EXECUTABLE is not built");
        QVERIFY(m_work.isValid());
    }

    void cleanup()
    {
        m_players.stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!PlayerProcesses::segmentExists(), 10000);
    }

    void parseErrorReleasesTheSegment()
    {
        int code = -1;
        QByteArray err;
        QVERIFY(m_players.run({QStringLiteral("--bogus")}, &code, &err));
        QVERIFY(code != 0);
        QVERIFY(err.contains("bogus"));
        QCOMPARE(PlayerProcesses::attachCount(), -1);
    }

    void associationCommands()
    {
        // The type each suffix has on this desktop; suffixes it does not know get a
        // type of their own.
        const QString app = OsIntegration::desktopFileId(QStringLiteral("IPTVNovaline"));
        QStringList types;
        for (const QString &suffix : videoFileExtensions) {
            const QString mime = OsIntegration::mimeTypeForSuffix(suffix);
            types << (mime.isEmpty() ? QStringLiteral("application/x-extension-") + suffix : mime);
        }
        QCOMPARE(types.size(), 55);

        int code = -1;
        QByteArray err;
        QVERIFY(m_players.run({QStringLiteral("--registerFileAssociations")}, &code, &err));
        QCOMPARE(code, 0);
        // No Kernel, so no window and no list dispatched.
        QCOMPARE(m_players.opened().size(), 0);
        QVERIFY(!err.contains("Another copy launched"));
        auto sections = readMimeApps();
        for (int i = 0; i < types.size(); ++i)
            QVERIFY2(sections.value(QStringLiteral("Default Applications")).value(types.at(i)) == app,
                     qPrintable(videoFileExtensions.at(i) + QLatin1Char(' ') + types.at(i)));

        QVERIFY(m_players.run({QStringLiteral("--unregisterFileAssociations")}, &code));
        QCOMPARE(code, 0);
        // Withdrawn: no longer the default, or explicitly removed for the type.
        sections = readMimeApps();
        for (const QString &type : qAsConst(types))
            QVERIFY2(sections.value(QStringLiteral("Default Applications")).value(type) != app
                         || sections.value(QStringLiteral("Removed Associations")).value(type).contains(app),
                     qPrintable(type));

        // With a copy running, and with both options: only the registration, no forwarding.
        QVERIFY(startFirstCopy({}));
        const int before = m_players.opened().size();
        QVERIFY(m_players.run({QStringLiteral("--unregisterFileAssociations"), QStringLiteral("--registerFileAssociations"),
                               QStringLiteral("x.avi")}, &code));
        QCOMPARE(code, 0);
        sections = readMimeApps();
        for (const QString &type : qAsConst(types)) {
            QCOMPARE(sections.value(QStringLiteral("Default Applications")).value(type), app);
            QVERIFY(!sections.value(QStringLiteral("Removed Associations")).value(type).contains(app));
        }
        QCOMPARE(m_players.opened().size(), before);

        // An unknown option ends the process through the parser, before any Kernel.
        QVERIFY(m_players.run({QStringLiteral("--noSuchOption")}, &code, &err));
        QVERIFY(code != 0);
        QVERIFY(err.contains("noSuchOption"));
    }

    void laterCopyForwardsAndEnds()
    {
        QProcess *first = startFirstCopy({});
        QVERIFY(first);
        const int before = m_players.opened().size();

        // Started long after the last launch: the running copy replaces its playlist.
        QVERIFY(PlayerProcesses::ageLaunchStamp(100));
        int code = -1;
        QByteArray err;
        QVERIFY(m_players.run({QStringLiteral("clip.avi")}, &code, &err, m_work.path()));
        QCOMPARE(code, 0);
        QVERIFY2(err.contains(anotherCopy), err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 1, 10000);
        OpenedUrls last = m_players.opened().constLast();
        QCOMPARE(last.append, false);
        QCOMPARE(last.urls, QStringList{fileUrl(m_work.filePath(QStringLiteral("clip.avi")))});

        // Without arguments a later copy sends nothing and still ends normally.
        QVERIFY(m_players.run({}, &code, &err));
        QCOMPARE(code, 0);
        QVERIFY(err.contains(anotherCopy));
        // A link right after asks to add when it came within a second of the stamp,
        // which it then leaves alone (on a busy machine it may come later: it then
        // moves the stamp and asks to replace).
        const quint32 stamp = PlayerProcesses::launchStamp();
        QVERIFY(m_players.run({QStringLiteral("iptvurl://host/ch?id=1")}, &code));
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 2, 10000);
        last = m_players.opened().constLast();
        QCOMPARE(last.urls, QStringList{QStringLiteral("iptvurl://host/ch?id=1")});
        QCOMPARE(last.append, PlayerProcesses::launchStamp() == stamp);
        QVERIFY(first->state() == QProcess::Running);
    }

    void burstKeepsLaunchOrder()
    {
        QVERIFY(startFirstCopy({}));
        QVERIFY(PlayerProcesses::ageLaunchStamp(100));
        const quint32 aged = PlayerProcesses::launchStamp();
        QStringList expected;
        for (const char *name : {"a.avi", "b.avi", "c.avi"})
            expected << fileUrl(m_work.filePath(QLatin1String(name)));
        // Early in a second, so that the whole burst falls within it.
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime().time().msec() < 200, 2000);
        // The copy that starts the burst is held up right after its launch check, so
        // the two behind it arrive first.
        QProcess *first = m_players.start({m_work.filePath(QStringLiteral("a.avi"))});
        QElapsedTimer timer;
        timer.start();
        while (PlayerProcesses::launchStamp() == aged && timer.elapsed() < 20000) {
        }
        PlayerProcesses::kill(first, SIGSTOP);
        QVERIFY(PlayerProcesses::launchStamp() != aged);
        for (const char *name : {"b.avi", "c.avi"}) {
            int code = -1;
            QVERIFY(m_players.run({m_work.filePath(QLatin1String(name))}, &code));
            QCOMPARE(code, 0);
        }
        PlayerProcesses::kill(first, SIGCONT);
        QVERIFY(first->waitForFinished(30000));
        QCOMPARE(first->exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_players.playlist(), expected, 15000);
    }

    void longListArrivesWhole()
    {
        QVERIFY(startFirstCopy({}));
        const int before = m_players.opened().size();
        QVERIFY(PlayerProcesses::ageLaunchStamp(100));
        // Short names relative to a deep folder: over 2 MiB of URLs from a short command
        // line, and few enough files for the playlist to take them quickly.
        QString folder = m_work.path();
        while (folder.size() < 2800)
            folder += QLatin1Char('/') + QString(200, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(folder));
        QStringList names;
        QStringList expected;
        for (int i = 0; i < 800; ++i) {
            names << QStringLiteral("f%1.avi").arg(i, 3, 10, QLatin1Char('0'));
            expected << fileUrl(folder + QLatin1Char('/') + names.constLast());
        }
        int code = -1;
        QVERIFY(m_players.run(names, &code, nullptr, folder, 60000));
        QCOMPARE(code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_players.playlist().size() == expected.size(), 30000);
        QCOMPARE(m_players.playlist(), expected);
        QVERIFY(m_players.opened().size() >= before + 2);
        QCOMPARE(m_players.opened().at(before).append, false);
    }

    void quitLeavesTheNameToTheNextCopy()
    {
        QProcess *old = startFirstCopy({});
        QVERIFY(old);
        // Stop the quitting copy as soon as its segment is gone: a new copy may start
        // from that moment on.
        PlayerProcesses::kill(old, SIGTERM);
        QElapsedTimer timer;
        timer.start();
        while (!PlayerProcesses::segmentAndKeyGone() && timer.elapsed() < 20000) {
        }
        PlayerProcesses::kill(old, SIGSTOP);
        QVERIFY(PlayerProcesses::segmentAndKeyGone());
        QProcess *next = startFirstCopy({});
        QVERIFY(next);
        PlayerProcesses::kill(old, SIGCONT);
        QVERIFY(old->waitForFinished(20000));
        QCOMPARE(old->exitCode(), 0);

        // The old copy's last steps left the new copy's name alone.
        const int before = m_players.opened().size();
        int code = -1;
        QVERIFY(m_players.run({QStringLiteral("http://host/after.ts")}, &code));
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 1, 10000);
        QCOMPARE(m_players.opened().constLast().urls, QStringList{QStringLiteral("http://host/after.ts")});
    }

    void eachUserHasAPlayer_data()
    {
        QTest::addColumn<bool>("otherFirst");
        QTest::addColumn<bool>("runtimeFolders");
        QTest::newRow("this user first, runtime folders") << false << true;
        QTest::newRow("other user first, no runtime folders") << true << false;
    }
    void eachUserHasAPlayer()
    {
        QFETCH(bool, otherFirst);
        QFETCH(bool, runtimeFolders);
        if (::getuid() != 0)
            QSKIP("a second user id needs root");
        const passwd *account = ::getpwnam("nobody");
        if (!account)
            QSKIP("no unprivileged account to run as");
        const uint uid = account->pw_uid;
        const uint gid = account->pw_gid;

        // Both users share one temporary folder; the other one's own folders are its.
        QVERIFY(::chmod(qgetenv("NOVALINE_TEST_ROOT").constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_work.path()).constData(), 0711) == 0);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).left(5);
        const QString shared = m_work.filePath(tag + QStringLiteral("-tmp"));
        const QString home = m_work.filePath(tag + QStringLiteral("-other"));
        QVERIFY(QDir().mkpath(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        PlayerProcesses mine;
        PlayerProcesses other;
        other.runAs(uid, gid);
        QProcessEnvironment &env = other.environment();
        for (const char *name : {"home", "config", "cache", "data", "state", "runtime"}) {
            const QString folder = home + QLatin1Char('/') + QLatin1String(name);
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(::chown(QFile::encodeName(folder).constData(), uid, gid) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        }
        env.insert(QStringLiteral("HOME"), home + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home + QStringLiteral("/no-bus"));
        other.setCacheHome(home + QStringLiteral("/cache"));
        if (env.contains(QStringLiteral("XAUTHORITY"))) {
            const QString authority = home + QStringLiteral("/home/Xauthority");
            QVERIFY(QFile::copy(env.value(QStringLiteral("XAUTHORITY")), authority));
            QVERIFY(::chown(QFile::encodeName(authority).constData(), uid, gid) == 0);
            env.insert(QStringLiteral("XAUTHORITY"), authority);
        }
        mine.setCacheHome(m_work.filePath(tag + QStringLiteral("-cache")));
        for (PlayerProcesses *players : {&mine, &other}) {
            players->environment().insert(QStringLiteral("TMPDIR"), shared);
            if (!runtimeFolders)
                players->environment().remove(QStringLiteral("XDG_RUNTIME_DIR"));
        }

        PlayerProcesses &first = otherFirst ? other : mine;
        PlayerProcesses &second = otherFirst ? mine : other;
        const auto started = [this](PlayerProcesses &players, const QString &name) {
            QProcess *process = players.start({m_work.filePath(name)});
            QTRY_COMPARE_WITH_TIMEOUT(players.opened().size(), 1, 30000);
            QCOMPARE(players.opened().constFirst().urls, QStringList{fileUrl(m_work.filePath(name))});
            QVERIFY(process->state() == QProcess::Running);
        };
        started(first, QStringLiteral("one.avi"));
        if (QTest::currentTestFailed())
            return;
        // The second user's start is a first copy of its own.
        started(second, QStringLiteral("two.avi"));
        if (QTest::currentTestFailed())
            return;

        // Later copies reach their own user's player, and only that.
        int code = -1;
        QVERIFY(first.run({m_work.filePath(QStringLiteral("three.avi"))}, &code));
        QCOMPARE(code, 0);
        QVERIFY(second.run({m_work.filePath(QStringLiteral("four.avi"))}, &code));
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.opened().size(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(second.opened().size(), 2, 10000);
        QCOMPARE(first.opened().constLast().urls, QStringList{fileUrl(m_work.filePath(QStringLiteral("three.avi")))});
        QCOMPARE(second.opened().constLast().urls, QStringList{fileUrl(m_work.filePath(QStringLiteral("four.avi")))});
        mine.stopAll();
        other.stopAll();
    }

    void badMessagesChangeNothing()
    {
        QVERIFY(startFirstCopy({}));
        const int before = m_players.opened().size();
        const int warnings = m_players.logCount("Warning: Launch message");

        // Over 1 MiB: refused from the length field alone, the connection is dropped.
        QVERIFY(sendRaw(QByteArray::fromHex("00100001") + QByteArray(64, 'x'), true));
        // Negative length.
        QVERIFY(sendRaw(QByteArray::fromHex("ffffff00") + QByteArray(8, 'x'), true));
        // A URL count far beyond the message.
        QVERIFY(sendRaw(QByteArray::fromHex("00000006" "00" "01" "7fffffff"), true));
        // A URL running past the end of the message.
        QVERIFY(sendRaw(QByteArray::fromHex("0000000e" "00" "01" "00000001" "000003e8" "00000000"), true));
        QTRY_COMPARE_WITH_TIMEOUT(m_players.logCount("Warning: Launch message"), warnings + 4, 10000);

        // A silent peer does not hold up the others; a message arriving in pieces is
        // read once it is whole.
        QLocalSocket silent;
        silent.connectToServer(QLatin1String(launchServerName));
        QVERIFY(silent.waitForConnected(5000));
        silent.write(QByteArray::fromHex("0000"));
        QVERIFY(silent.waitForBytesWritten(5000));

        const QByteArray message = encode({QUrl(QStringLiteral("http://host/slow.ts"))}, false);
        QLocalSocket slow;
        slow.connectToServer(QLatin1String(launchServerName));
        QVERIFY(slow.waitForConnected(5000));
        slow.write(message.left(9));
        QVERIFY(slow.waitForBytesWritten(5000));
        int code = -1;
        QVERIFY(m_players.run({QStringLiteral("http://host/other.ts")}, &code));
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 1, 10000);
        QCOMPARE(m_players.opened().constLast().urls, QStringList{QStringLiteral("http://host/other.ts")});
        slow.write(message.mid(9));
        QVERIFY(slow.waitForBytesWritten(5000));
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 2, 10000);
        QCOMPARE(m_players.opened().constLast().urls, QStringList{QStringLiteral("http://host/slow.ts")});
        QCOMPARE(m_players.opened().constLast().append, false);
        QCOMPARE(m_players.opened().size(), before + 2);
    }

    void copyAfterKilledFirstBecomesFirst()
    {
        QProcess *first = startFirstCopy({});
        QVERIFY(first);
        PlayerProcesses::kill(first, SIGKILL);
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(PlayerProcesses::attachCount(), 0); // left behind by the killed copy

        const int before = m_players.opened().size();
        QProcess *next = m_players.start({m_work.filePath(QStringLiteral("next.mkv"))});
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 1, 20000);
        QCOMPARE(m_players.opened().constLast().urls, QStringList{fileUrl(m_work.filePath(QStringLiteral("next.mkv")))});
        QCOMPARE(m_players.opened().constLast().append, false);
        QVERIFY(next->state() == QProcess::Running);
        QCOMPARE(m_players.logCount("Warning: Removed the single-instance segment of a copy that ended without "
                                    "releasing it\n"), 1);

        // It also serves later copies.
        int code = -1;
        QVERIFY(m_players.run({QStringLiteral("http://host/x.ts")}, &code));
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_players.opened().size(), before + 2, 10000);

        // Quitting releases the segment: the next launch is a first copy again.
        PlayerProcesses::kill(next, SIGTERM);
        QVERIFY(next->waitForFinished(20000));
        QCOMPARE(next->exitStatus(), QProcess::NormalExit);
        QCOMPARE(next->exitCode(), 0);
        QVERIFY(m_players.log().contains("Closing iptv player\n"));
        QVERIFY(!PlayerProcesses::segmentExists());
    }

private:
    QProcess *startFirstCopy(const QStringList &arguments)
    {
        const int before = m_players.opened().size();
        QProcess *process = m_players.start(arguments);
        if (!process->waitForStarted(10000))
            return nullptr;
        // The server listens before the first list is dispatched.
        QElapsedTimer timer;
        timer.start();
        while (m_players.opened().size() <= before && timer.elapsed() < 30000
               && process->state() == QProcess::Running)
            QTest::qWait(20);
        return m_players.opened().size() > before ? process : nullptr;
    }

    static QByteArray encode(const QList<QUrl> &urls, bool append)
    {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << qint32(0) << qint8(0) << append << urls;
        stream.device()->seek(0);
        stream << qint32(bytes.size() - 4);
        return bytes;
    }

    // Writes bytes on a fresh connection; with expectDrop, true once the copy hung up.
    static bool sendRaw(const QByteArray &bytes, bool expectDrop)
    {
        QLocalSocket socket;
        socket.connectToServer(QLatin1String(launchServerName));
        if (!socket.waitForConnected(5000))
            return false;
        socket.write(bytes);
        if (!socket.waitForBytesWritten(5000))
            return false;
        if (!expectDrop)
            return true;
        return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(5000);
    }

    PlayerProcesses m_players;
    QTemporaryDir m_work;
};

QTEST_MAIN(TestInstance)
#include "tst_instance.moc"
