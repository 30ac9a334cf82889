// GIO first: its headers use "signals" as a member name, which Qt defines as a macro.
#include <gio/gio.h>
#include <gio/gdesktopappinfo.h>

#include "osintegration.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString dataHome() { return QFile::decodeName(g_get_user_data_dir()); }
QString configHome() { return QFile::decodeName(g_get_user_config_dir()); }

// The entries of one group of $XDG_CONFIG_HOME/mimeapps.list.
QMap<QString, QString> mimeappsGroup(const QString &group)
{
    QMap<QString, QString> out;
    GKeyFile *kf = g_key_file_new();
    const QByteArray path = QFile::encodeName(configHome() + QStringLiteral("/mimeapps.list"));
    if (g_key_file_load_from_file(kf, path.constData(), G_KEY_FILE_NONE, nullptr)) {
        gsize n = 0;
        gchar **keys = g_key_file_get_keys(kf, group.toUtf8().constData(), &n, nullptr);
        for (gsize i = 0; keys && i < n; ++i) {
            gchar *value = g_key_file_get_value(kf, group.toUtf8().constData(), keys[i], nullptr);
            out.insert(QString::fromUtf8(keys[i]), QString::fromUtf8(value));
            g_free(value);
        }
        g_strfreev(keys);
    }
    g_key_file_free(kf);
    return out;
}

QString defaultFor(const QString &mime)
{
    GAppInfo *app = g_app_info_get_default_for_type(mime.toUtf8().constData(), FALSE);
    const QString id = app && g_app_info_get_id(app) ? QString::fromUtf8(g_app_info_get_id(app)) : QString();
    if (app)
        g_object_unref(app);
    return id;
}

QString desktopValue(const QString &desktopId, const char *key)
{
    GKeyFile *kf = g_key_file_new();
    const QByteArray path = QFile::encodeName(dataHome() + QStringLiteral("/applications/") + desktopId);
    QString value;
    if (g_key_file_load_from_file(kf, path.constData(), G_KEY_FILE_NONE, nullptr)) {
        gchar *v = g_key_file_get_locale_string(kf, G_KEY_FILE_DESKTOP_GROUP, key, nullptr, nullptr);
        value = QString::fromUtf8(v);
        g_free(v);
    }
    g_key_file_free(kf);
    return value;
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<missing>")};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const QString ProgId = QStringLiteral("IPTVNovaline");
const QString FriendlyName = QStringLiteral("Novaline IPTV проигрыватель");

} // namespace

class TestOsIntegration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void execFromWindowsCommand();
    void mimeTypes();
    void registerApplicationWritesALaunchableEntry();
    void fileAssociations();
    void associationNeedsTheApplication();
    void protocolHandler();
    void openUrl();
    void machineIdentifier();
    void platformAndComposition();

private:
    QString output() const { return m_dir.path() + QStringLiteral("/args.txt"); }
    QString command(const QString &marker) const
    {
        return QLatin1Char('"') + m_script + QLatin1Char('"') + marker;
    }

    QTemporaryDir m_dir;
    QString m_script;
};

void TestOsIntegration::initTestCase()
{
    // The XDG folders are the test's own (tests/isolate.sh); never register into a real home.
    QVERIFY2(dataHome().startsWith(qEnvironmentVariable("NOVALINE_TEST_ROOT", QStringLiteral("<unset>"))),
             "run through tests/isolate.sh");
    QVERIFY(m_dir.isValid());
    // A player stand-in in a folder whose name needs quoting in a desktop entry.
    const QString folder = m_dir.path() + QStringLiteral("/bin dir $x");
    QVERIFY(QDir().mkpath(folder));
    m_script = folder + QStringLiteral("/novaline-iptv");
    QFile script(m_script);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nout='" + QFile::encodeName(output()) + "'\n"
                 "printf 'ran\\n' > \"$out.tmp\"\n"
                 "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out.tmp\"; done\n"
                 "mv \"$out.tmp\" \"$out\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser));
}

void TestOsIntegration::execFromWindowsCommand()
{
    QCOMPARE(OsIntegration::execFromOpenCommand(QStringLiteral("\"/opt/novaline/novaline-iptv\" --assoc \"%1\""),
                                                QString(), QStringLiteral("%f")),
             QStringLiteral("/opt/novaline/novaline-iptv --assoc %f"));
    QCOMPARE(OsIntegration::execFromOpenCommand(QStringLiteral("\"/opt/a b/100%/run\" %1"), QString(), QStringLiteral("%u")),
             QStringLiteral("\"/opt/a b/100%%/run\" %u"));
    // No marker: the file goes last; no command at all: the executable and the file.
    QCOMPARE(OsIntegration::execFromOpenCommand(QStringLiteral("/usr/bin/player"), QString(), QStringLiteral("%f")),
             QStringLiteral("/usr/bin/player %f"));
    QCOMPARE(OsIntegration::execFromOpenCommand(QString(), QStringLiteral("/usr/bin/player"), QStringLiteral("%u")),
             QStringLiteral("/usr/bin/player %u"));
    QCOMPARE(OsIntegration::desktopFileId(ProgId), QStringLiteral("iptv-novaline.desktop"));
}

void TestOsIntegration::mimeTypes()
{
    QCOMPARE(OsIntegration::mimeTypeForSuffix(QStringLiteral("mkv")), QStringLiteral("video/x-matroska"));
    QCOMPARE(OsIntegration::mimeTypeForSuffix(QStringLiteral(".MP4")), QStringLiteral("video/mp4"));
    // ".ts" is also a translation source; a player wants the transport stream.
    QCOMPARE(OsIntegration::mimeTypeForSuffix(QStringLiteral("ts")), QStringLiteral("video/mp2t"));
    QCOMPARE(OsIntegration::mimeTypeForSuffix(QStringLiteral("zzqnovaline")), QString());
    QCOMPARE(OsIntegration::mimeTypeForSuffix(QString()), QString());
}

void TestOsIntegration::registerApplicationWritesALaunchableEntry()
{
    QVERIFY(OsIntegration::registerApplication(ProgId, m_script, command(QStringLiteral(" --assoc \"%1\"")), FriendlyName));
    const QString id = OsIntegration::desktopFileId(ProgId);
    QVERIFY(QFileInfo::exists(dataHome() + QStringLiteral("/applications/") + id));
    QCOMPARE(desktopValue(id, "Name"), FriendlyName);
    QCOMPARE(desktopValue(id, "Type"), QStringLiteral("Application"));
    // No temporary files left next to it.
    QCOMPARE(QDir(dataHome() + QStringLiteral("/applications")).entryList(QDir::Files | QDir::Hidden), QStringList{id});

    // Launched the way a file manager does, the file arrives after --assoc, intact.
    GDesktopAppInfo *app = g_desktop_app_info_new(id.toUtf8().constData());
    QVERIFY(app);
    const QString film = m_dir.path() + QStringLiteral("/my films/фильм 1.mkv");
    GFile *gfile = g_file_new_for_path(QFile::encodeName(film).constData());
    GList *files = g_list_append(nullptr, gfile);
    QFile::remove(output());
    GError *error = nullptr;
    const bool launched = g_app_info_launch(G_APP_INFO(app), files, nullptr, &error);
    QVERIFY2(launched, error ? error->message : "");
    g_list_free(files);
    g_object_unref(gfile);
    g_object_unref(app);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(output()), 10000);
    QCOMPARE(readLines(output()), (QStringList{QStringLiteral("ran"), QStringLiteral("--assoc"), film}));

    // Registering again (every start does) rewrites the entry in place.
    QVERIFY(OsIntegration::registerApplication(ProgId, m_script, command(QStringLiteral(" --assoc \"%1\"")), FriendlyName));
}

void TestOsIntegration::fileAssociations()
{
    QVERIFY(OsIntegration::registerApplication(ProgId, m_script, command(QStringLiteral(" --assoc \"%1\"")), FriendlyName));
    const QString id = OsIntegration::desktopFileId(ProgId);
    // Another program the user added for the type keeps its place through our removal.
    QVERIFY(OsIntegration::registerApplication(QStringLiteral("OtherPlayer"), m_script, QString(), QStringLiteral("Other")));
    QVERIFY(OsIntegration::registerFileAssociation(QStringLiteral("OtherPlayer"), QStringLiteral("mkv"), false));
    QVERIFY(OsIntegration::registerFileAssociation(ProgId, QStringLiteral("mkv"), true));
    QVERIFY(OsIntegration::registerFileAssociation(ProgId, QStringLiteral("ts"), true));
    QMap<QString, QString> defaults = mimeappsGroup(QStringLiteral("Default Applications"));
    QCOMPARE(defaults.value(QStringLiteral("video/x-matroska")), id);
    QCOMPARE(defaults.value(QStringLiteral("video/mp2t")), id);
    QCOMPARE(defaultFor(QStringLiteral("video/x-matroska")), id);

    QVERIFY(OsIntegration::unregisterFileAssociation(ProgId, QStringLiteral("mkv")));
    defaults = mimeappsGroup(QStringLiteral("Default Applications"));
    QVERIFY(!defaults.value(QStringLiteral("video/x-matroska")).contains(id));
    QVERIFY(!mimeappsGroup(QStringLiteral("Added Associations")).value(QStringLiteral("video/x-matroska")).contains(id));
    QVERIFY(defaultFor(QStringLiteral("video/x-matroska")) != id);
    QVERIFY(mimeappsGroup(QStringLiteral("Added Associations")).value(QStringLiteral("video/x-matroska"))
                .contains(QStringLiteral("other-player.desktop")));
    QCOMPARE(defaults.value(QStringLiteral("video/mp2t")), id);  // the other suffix stays

    // The settings dialog may create the associations again later.
    QVERIFY(OsIntegration::registerFileAssociation(ProgId, QStringLiteral("mkv"), true));
    QCOMPARE(defaultFor(QStringLiteral("video/x-matroska")), id);
    QVERIFY(OsIntegration::unregisterFileAssociation(ProgId, QStringLiteral("mkv")));
    QVERIFY(OsIntegration::unregisterFileAssociation(ProgId, QStringLiteral("ts")));
    QVERIFY(defaultFor(QStringLiteral("video/mp2t")) != id);
}

void TestOsIntegration::associationNeedsTheApplication()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("is not registered")));
    QVERIFY(!OsIntegration::registerFileAssociation(QStringLiteral("NeverRegistered"), QStringLiteral("avi"), true));
    QVERIFY(defaultFor(QStringLiteral("video/x-msvideo")).isEmpty()
            || defaultFor(QStringLiteral("video/x-msvideo")) != QStringLiteral("never-registered.desktop"));
    // Removing what was never there is not an error.
    QVERIFY(OsIntegration::unregisterFileAssociation(QStringLiteral("NeverRegistered"), QStringLiteral("avi")));
}

void TestOsIntegration::protocolHandler()
{
    QVERIFY(OsIntegration::setupProtocol(QStringLiteral("iptvurl"), m_script, command(QStringLiteral(" %1"))));
    const QString id = OsIntegration::schemeDesktopFileId(m_script, QStringLiteral("iptvurl"));
    QCOMPARE(mimeappsGroup(QStringLiteral("Default Applications")).value(QStringLiteral("x-scheme-handler/iptvurl")), id);
    QCOMPARE(defaultFor(QStringLiteral("x-scheme-handler/iptvurl")), id);

    // The desktop's handler passes the link through unchanged.
    QFile::remove(output());
    const QUrl link(QStringLiteral("iptvurl://play/42?channel=7&x=%20y"));
    QVERIFY(OsIntegration::openUrl(link));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(output()), 10000);
    QCOMPARE(readLines(output()), (QStringList{QStringLiteral("ran"), QString::fromUtf8(link.toEncoded())}));
}

void TestOsIntegration::openUrl()
{
    // A local executable is started, and true means it really ran.
    QFile::remove(output());
    QVERIFY(OsIntegration::openUrl(QUrl::fromLocalFile(m_script)));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(output()), 10000);
    QCOMPARE(readLines(output()), QStringList{QStringLiteral("ran")});

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no such file")));
    QVERIFY(!OsIntegration::openUrl(QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/missing/update.exe"))));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("invalid URL")));
    QVERIFY(!OsIntegration::openUrl(QUrl()));
    // A link scheme nobody handles cannot be opened.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot open")));
    QVERIFY(!OsIntegration::openUrl(QUrl(QStringLiteral("novalinenobody://x"))));
}

void TestOsIntegration::machineIdentifier()
{
    const QString id = OsIntegration::hddId();
    QCOMPARE(OsIntegration::hddId(), id);
    QCOMPARE(id.size(), 32);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());
    QFile machineIdFile(QStringLiteral("/etc/machine-id"));
    if (machineIdFile.open(QIODevice::ReadOnly)) {
        const QString machineId = QString::fromLatin1(machineIdFile.readAll().trimmed());
        QVERIFY(!machineId.isEmpty());
        QVERIFY(!id.contains(machineId.left(8)));
        QVERIFY(!id.contains(machineId.right(8)));
    }
}

void TestOsIntegration::platformAndComposition()
{
    QCOMPARE(OsIntegration::platform(), QStringLiteral("linux"));
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    QVERIFY(!OsIntegration::compositionEnabled());
    // A Wayland session without X composes.
    qputenv("WAYLAND_DISPLAY", "wayland-novaline-test");
    QVERIFY(OsIntegration::compositionEnabled());
    qunsetenv("WAYLAND_DISPLAY");
    if (!display.isEmpty())
        qputenv("DISPLAY", display);
    if (!wayland.isEmpty())
        qputenv("WAYLAND_DISPLAY", wayland);
}

QTEST_GUILESS_MAIN(TestOsIntegration)
#include "tst_osintegration.moc"
