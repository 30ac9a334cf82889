// The dialog's buttons with the real player executable: the association buttons run
// a copy that registers or removes the file associations (under the private XDG
// folders of the test), and the update button hands the single instance over to a
// new copy, which then finds the unpacked update and starts its installer.
#include "settingsform.h"
#include "singleinstance.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

namespace {

const int buildVersion = 33555600;

QString executable()
{
    return qEnvironmentVariable("NOVALINE_EXECUTABLE");
}

// Starts the given program the way the dialog starts its own executable.
class ExecutableForm : public SettingsForm
{
public:
    ExecutableForm(QSettings *settings, const QString &program)
        : SettingsForm(settings)
        , program(program)
    {
    }

    QString program;
    QList<qint64> pids;

protected:
    bool startProgram(const QStringList &arguments) override
    {
        qint64 pid = 0;
        const bool started =
            QProcess::startDetached(program, arguments, QFileInfo(program).absolutePath(), &pid);
        if (started)
            pids << pid;
        return started;
    }
};

// A detached copy is not our child; it has ended once it is gone or a zombie.
bool ended(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z";
}

void killIfRunning(qint64 pid)
{
    if (!ended(pid))
        ::kill(pid_t(pid), SIGKILL);
}

// The desktop entries that mimeapps.list names for a type in one section.
QStringList handlers(const QString &section, const QString &mime)
{
    QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
               + QStringLiteral("/mimeapps.list"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString current;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            current = line.mid(1, line.size() - 2);
        } else if (current == section && line.startsWith(mime + QLatin1Char('='))) {
            return line.mid(mime.size() + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        }
    }
    return {};
}

QMessageBox *onlyMessageBox(QWidget *form)
{
    const auto boxes = form->findChildren<QMessageBox *>();
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

QString logText()
{
    QFile log(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/log.txt"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

} // namespace

class TestSettingsFormExecutable : public QObject
{
    Q_OBJECT

private:
    QList<qint64> started;

    // Plays the running copy: holds the segment and listens on the launch server.
    struct RunningCopy
    {
        QSharedMemory segment{QLatin1String(singleInstanceKey)};
        QLocalServer server;

        bool acquire()
        {
            if (!checkLaunch(segment).firstInstance)
                return false;
            QLocalServer::removeServer(QLatin1String(launchServerName));
            return server.listen(QLatin1String(launchServerName));
        }
        void release()
        {
            segment.detach();
            server.close();
        }
        void restore()
        {
            if (reacquireFirstInstance(segment)) {
                QLocalServer::removeServer(QLatin1String(launchServerName));
                server.listen(QLatin1String(launchServerName));
            }
        }
    };

    static bool segmentFree()
    {
        QSharedMemory probe{QLatin1String(singleInstanceKey)};
        if (!probe.create(4))
            return false;
        probe.detach();
        return true;
    }

    // An unpacked update whose installer leaves a mark when it runs.
    static QString prepareUpdate(QSettings &settings)
    {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/update");
        QDir().mkpath(dir);
        const QString installer = dir + QStringLiteral("/update.sh");
        const QString mark = dir + QStringLiteral("/installer-ran");
        QFile file(installer);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\necho ran > '" + QFile::encodeName(mark) + "'\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        settings.setValue("version", buildVersion);
        settings.setValue("updateState", "extracted");
        settings.setValue("updatePath", installer);
        settings.sync();
        return mark;
    }

    // Clicks the update button inside the application's event loop; true when the
    // dialog quit the application.
    static bool clickUpdateAndRun(SettingsForm &form)
    {
        auto *button = form.findChild<QPushButton *>(QStringLiteral("updateButton"));
        if (!button || button->isHidden())
            return false;
        QTimer::singleShot(0, &form, [button] {
            QTest::mouseClick(button, Qt::LeftButton);
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); });
        });
        return QApplication::exec() == 0;
    }

private slots:
    void initTestCase()
    {
        if (executable().isEmpty() || !QFileInfo(executable()).isExecutable())
            QSKIP("NOVALINE_EXECUTABLE does not name the built player");
        // The same store and folders the player uses.
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.4"));
        QVERIFY(QDir::homePath().startsWith(qEnvironmentVariable("NOVALINE_TEST_ROOT")));
    }

    void init()
    {
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/log.txt");
    }

    void cleanup()
    {
        for (qint64 pid : qAsConst(started))
            killIfRunning(pid);
        started.clear();
        QSettings().clear();
    }

    void associationButtonsRunTheProgram()
    {
        QSettings settings;
        ExecutableForm form(&settings, executable());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QMimeDatabase mimes;
        const QStringList types = {mimes.mimeTypeForFile("a.mkv", QMimeDatabase::MatchExtension).name(),
                                   mimes.mimeTypeForFile("a.avi", QMimeDatabase::MatchExtension).name(),
                                   mimes.mimeTypeForFile("a.webm", QMimeDatabase::MatchExtension).name()};
        const QString entry = QStringLiteral("iptv-novaline.desktop");

        QTest::mouseClick(form.findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        QCOMPARE(form.pids.size(), 1);
        started << form.pids;
        QMessageBox *box = onlyMessageBox(&form);
        QVERIFY(box);
        QCOMPARE(box->icon(), QMessageBox::Information);
        QCOMPARE(box->text(), QStringLiteral("Ассоциации видеофайлов созданы"));
        box->close();
        QTRY_VERIFY_WITH_TIMEOUT(ended(form.pids.last()), 20000);
        for (const QString &type : types)
            QVERIFY2(handlers("Default Applications", type).contains(entry), qPrintable(type));
        QVERIFY(QFile::exists(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + '/' + entry));
        // The copy did its work and ended without opening a player.
        QVERIFY(!logText().contains("Another copy launched"));

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::mouseClick(form.findChild<QPushButton *>("pushButton_2"), Qt::LeftButton);
        QCOMPARE(form.pids.size(), 2);
        started << form.pids.last();
        box = onlyMessageBox(&form);
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Ассоциации видеофайлов отменены"));
        box->close();
        QTRY_VERIFY_WITH_TIMEOUT(ended(form.pids.last()), 20000);
        for (const QString &type : types) {
            QVERIFY2(!handlers("Added Associations", type).contains(entry), qPrintable(type));
            // The copy withdrew the association: either the default no longer names
            // the player, or the desktop hides it as a removed association.
            const bool stillDefault = handlers("Default Applications", type).contains(entry);
            if (stillDefault)
                qWarning("%s: still the default, withdrawn only as a removed association", qPrintable(type));
            QVERIFY2(!stillDefault || handlers("Removed Associations", type).contains(entry), qPrintable(type));
        }
    }

    void associationButtonWhenTheProgramCannotStart()
    {
        QSettings settings;
        ExecutableForm form(&settings, QDir::temp().filePath("no-such-program"));
        const QString list = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             + QStringLiteral("/mimeapps.list");
        const QDateTime before = QFileInfo(list).lastModified();
        QTest::ignoreMessage(QtWarningMsg, "Could not start the program to change the file associations");
        QTest::mouseClick(form.findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        QMessageBox *box = onlyMessageBox(&form);
        QVERIFY(box);
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->windowTitle(), QStringLiteral("Создание ассоциаций файлов"));
        QCOMPARE(box->text(), QStringLiteral("Не удалось изменить ассоциации видеофайлов"));
        QCOMPARE(QFileInfo(list).lastModified(), before);
        QVERIFY(form.pids.isEmpty());
    }

    void failedRestartKeepsTheInstance()
    {
        QSettings settings;
        prepareUpdate(settings);
        RunningCopy running;
        QVERIFY(running.acquire());
        ExecutableForm form(&settings, QDir::temp().filePath("no-such-program"));
        connect(&form, &SettingsForm::releaseInstanceRequested, this, [&] { running.release(); });
        connect(&form, &SettingsForm::instanceRestoreRequested, this, [&] { running.restore(); });
        QTest::ignoreMessage(QtCriticalMsg,
                             "Could not start the program to install the update, keeping this copy running");
        QVERIFY(!clickUpdateAndRun(form));
        QVERIFY(running.segment.isAttached());
        QVERIFY(running.server.isListening());
        QVERIFY(!segmentFree());
    }

    // Without letting go first, the new copy meets the old one and just ends.
    void restartWithoutReleaseEndsTheNewCopy()
    {
        QSettings settings;
        const QString mark = prepareUpdate(settings);
        RunningCopy running;
        QVERIFY(running.acquire());
        ExecutableForm form(&settings, executable());
        QVERIFY(clickUpdateAndRun(form));
        QCOMPARE(form.pids.size(), 1);
        started << form.pids;
        QTRY_VERIFY_WITH_TIMEOUT(ended(form.pids.first()), 20000);
        QVERIFY(logText().contains("Another copy launched. Exiting..."));
        QVERIFY(!QFile::exists(mark));
    }

    void restartHandsOverToTheNewCopy()
    {
        QSettings settings;
        const QString mark = prepareUpdate(settings);
        RunningCopy running;
        QVERIFY(running.acquire());
        ExecutableForm form(&settings, executable());
        QStringList events;
        connect(&form, &SettingsForm::releaseInstanceRequested, this, [&] {
            running.release();
            events << "released";
        });
        connect(&form, &SettingsForm::instanceRestoreRequested, this, [&] { events << "restored"; });
        QVERIFY(clickUpdateAndRun(form));
        QCOMPARE(events, QStringList{"released"});
        QCOMPARE(form.pids.size(), 1);
        started << form.pids;

        // The new copy is the first copy: it finds the update, starts the installer,
        // lets the segment go and ends before showing anything.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(ended(form.pids.first()), 20000);
        const QString log = logText();
        QVERIFY2(log.contains("Exiting for update"), qPrintable(log));
        QVERIFY(!log.contains("Another copy launched"));
        QVERIFY(segmentFree());
    }
};

QTEST_MAIN(TestSettingsFormExecutable)
#include "tst_settingsform_exe.moc"
