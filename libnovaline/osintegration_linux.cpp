// GIO first: its headers use "signals" as a member name, which Qt defines as a macro.
#include <gio/gio.h>
#include <gio/gdesktopappinfo.h>

#include "osintegration.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

// Xlib last: it defines macros (Bool, Status, None) that Qt's headers must not see.
#include <X11/Xlib.h>

namespace {

template <class T>
struct GPtr
{
    T *p = nullptr;
    GPtr() = default;
    explicit GPtr(T *ptr) : p(ptr) {}
    ~GPtr() { if (p) g_object_unref(p); }
    GPtr(const GPtr &) = delete;
    GPtr &operator=(const GPtr &) = delete;
    T *get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct GErrorHolder
{
    GError *e = nullptr;
    ~GErrorHolder() { if (e) g_error_free(e); }
    QString text() const { return e ? QString::fromUtf8(e->message) : QStringLiteral("unknown error"); }
};

QString gstr(gchar *s)
{
    const QString out = s ? QString::fromUtf8(s) : QString();
    g_free(s);
    return out;
}

QString applicationsFolder()
{
    return QFile::decodeName(g_get_user_data_dir()) + QStringLiteral("/applications");
}

// The desktop-entry id of a name: only the characters ids may hold.
QString sanitizeId(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.'))
            out += c;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            out += c.toLower();
        else
            out += QLatin1Char('-');
    }
    return out.isEmpty() ? QStringLiteral("application") : out;
}

// Looks the entry up through GIO. A file written just now becomes visible once GIO's
// folder monitor has seen it, so wait a little for it.
GDesktopAppInfo *findApp(const QString &desktopId, int waitMs)
{
    const QByteArray id = desktopId.toUtf8();
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (GDesktopAppInfo *info = g_desktop_app_info_new(id.constData()))
            return info;
        if (timer.elapsed() >= waitMs)
            return nullptr;
        QThread::msleep(20);
    }
}

// Writes the entry atomically (GKeyFile saves through a temporary file and a rename).
bool writeDesktopEntry(const QString &desktopId, const QString &name, const QString &exec,
                       const QStringList &mimeTypes, const QStringList &categories, bool noDisplay)
{
    const QString folder = applicationsFolder();
    if (!QDir().mkpath(folder)) {
        qWarning() << "Cannot create" << folder;
        return false;
    }
    GKeyFile *kf = g_key_file_new();
    const char *group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_VERSION, "1.0");
    g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_NAME, name.toUtf8().constData());
    g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_EXEC, exec.toUtf8().constData());
    g_key_file_set_boolean(kf, group, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
    if (noDisplay)
        g_key_file_set_boolean(kf, group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
    if (!categories.isEmpty())
        g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_CATEGORIES,
                              (categories.join(QLatin1Char(';')) + QLatin1Char(';')).toUtf8().constData());
    if (!mimeTypes.isEmpty())
        g_key_file_set_string(kf, group, G_KEY_FILE_DESKTOP_KEY_MIME_TYPE,
                              (mimeTypes.join(QLatin1Char(';')) + QLatin1Char(';')).toUtf8().constData());
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + desktopId);
    GErrorHolder err;
    const bool ok = g_key_file_save_to_file(kf, path.constData(), &err.e);
    g_key_file_free(kf);
    if (!ok)
        qWarning().noquote() << "Cannot write the desktop entry" << QString::fromLocal8Bit(path) << ":" << err.text();
    return ok;
}

// Splits a command line the way the Windows shell does for our commands: blanks separate,
// double quotes group.
QStringList splitWindowsCommand(const QString &command)
{
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool hasArg = false;
    for (const QChar c : command) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            hasArg = true;
        } else if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (hasArg)
                args.append(current);
            current.clear();
            hasArg = false;
        } else {
            current += c;
            hasArg = true;
        }
    }
    if (hasArg)
        args.append(current);
    return args;
}

// One argument of an Exec value: "%" doubled, quoted when it holds a reserved character.
QString quoteExecArgument(const QString &arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString escaped = arg;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool needsQuotes = escaped.isEmpty();
    for (const QChar c : escaped)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return escaped;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : escaped) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

bool setDefault(GAppInfo *app, const QString &mime)
{
    GErrorHolder err;
    if (!g_app_info_set_as_default_for_type(app, mime.toUtf8().constData(), &err.e)) {
        qWarning().noquote() << "Cannot make" << g_app_info_get_id(app) << "the default for" << mime << ":" << err.text();
        return false;
    }
    return true;
}

// Types the shared MIME database lists for "*.<suffix>", with their weights.
QList<QPair<int, QString>> globTypes(const QString &suffix)
{
    QList<QPair<int, QString>> found;
    QStringList dirs{QFile::decodeName(g_get_user_data_dir())};
    for (const gchar *const *d = g_get_system_data_dirs(); d && *d; ++d)
        dirs.append(QFile::decodeName(*d));
    const QString wanted = QStringLiteral("*.") + suffix;
    for (const QString &dir : qAsConst(dirs)) {
        QFile file(dir + QStringLiteral("/mime/globs2"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const QStringList f = line.split(QLatin1Char(':'));
            if (f.size() < 3)
                continue;
            const bool caseSensitive = f.size() > 3 && f.at(3).split(QLatin1Char(',')).contains(QLatin1String("cs"));
            if (f.at(2).compare(wanted, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0)
                found.append(qMakePair(f.at(0).toInt(), f.at(1)));
        }
        if (!found.isEmpty())
            break;  // the first folder that knows the suffix decides, as for the database itself
    }
    return found;
}

bool isMediaType(const QString &mime)
{
    return mime.startsWith(QLatin1String("video/")) || mime.startsWith(QLatin1String("audio/"));
}

QString normalizedSuffix(const QString &suffix)
{
    QString s = suffix.trimmed().toLower();
    while (s.startsWith(QLatin1Char('.')))
        s.remove(0, 1);
    return s;
}

QString defaultAppId(const QByteArray &type)
{
    GAppInfo *app = g_app_info_get_default_for_type(type.constData(), FALSE);
    const QString id = app && g_app_info_get_id(app) ? QString::fromUtf8(g_app_info_get_id(app)) : QString();
    if (app)
        g_object_unref(app);
    return id;
}

// The programs the user's mimeapps.list adds for a type.
QStringList userAddedAssociations(const QByteArray &type)
{
    QStringList ids;
    GKeyFile *kf = g_key_file_new();
    const QByteArray path = QFile::encodeName(QFile::decodeName(g_get_user_config_dir()) + QStringLiteral("/mimeapps.list"));
    if (g_key_file_load_from_file(kf, path.constData(), G_KEY_FILE_NONE, nullptr)) {
        gchar **list = g_key_file_get_string_list(kf, "Added Associations", type.constData(), nullptr, nullptr);
        for (gchar **p = list; p && *p; ++p)
            ids.append(QString::fromUtf8(*p));
        g_strfreev(list);
    }
    g_key_file_free(kf);
    return ids;
}

} // namespace

QString OsIntegration::desktopFileId(const QString &progId)
{
    // Split camel case: "IPTVNovaline" -> "iptv-novaline".
    QString words;
    for (int i = 0; i < progId.size(); ++i) {
        const QChar c = progId.at(i);
        if (i > 0 && c.isUpper()) {
            const QChar prev = progId.at(i - 1);
            const bool nextLower = i + 1 < progId.size() && progId.at(i + 1).isLower();
            if (prev.isLower() || prev.isDigit() || (prev.isUpper() && nextLower))
                words += QLatin1Char('-');
        }
        words += c;
    }
    return sanitizeId(words) + QStringLiteral(".desktop");
}

QString OsIntegration::schemeDesktopFileId(const QString &executable, const QString &scheme)
{
    return sanitizeId(QFileInfo(executable).completeBaseName()) + QLatin1Char('-')
        + sanitizeId(scheme) + QStringLiteral("-handler.desktop");
}

QString OsIntegration::mimeTypeForSuffix(const QString &rawSuffix)
{
    const QString suffix = normalizedSuffix(rawSuffix);
    if (suffix.isEmpty() || suffix.contains(QLatin1Char('/')))
        return QString();
    gboolean uncertain = FALSE;
    const QString contentType = gstr(g_content_type_guess(("x." + suffix).toUtf8().constData(),
                                                          nullptr, 0, &uncertain));
    QString mime = gstr(g_content_type_get_mime_type(contentType.toUtf8().constData()));
    if (isMediaType(mime))
        return mime;
    // Suffixes with several meanings (".ts": translation source or MPEG transport stream):
    // a media player wants the media meaning.
    int bestWeight = -1;
    QString best;
    for (const auto &entry : globTypes(suffix)) {
        if (isMediaType(entry.second) && entry.first > bestWeight) {
            bestWeight = entry.first;
            best = entry.second;
        }
    }
    if (!best.isEmpty())
        return best;
    if (mime.isEmpty() || g_content_type_is_unknown(contentType.toUtf8().constData()))
        return QString();
    return mime;
}

QString OsIntegration::execFromOpenCommand(const QString &openCommand, const QString &executable,
                                           const QString &fieldCode)
{
    QStringList args = splitWindowsCommand(openCommand);
    if (args.isEmpty())
        args = QStringList{executable, QStringLiteral("%1")};
    QStringList out;
    bool hasField = false;
    for (const QString &arg : qAsConst(args)) {
        if (arg == QLatin1String("%1") || arg == QLatin1String("%L") || arg == QLatin1String("%*")) {
            if (!hasField)
                out.append(fieldCode);
            hasField = true;
        } else if (arg.contains(QLatin1String("%1"))) {
            // A field code may only stand as a whole argument.
            qWarning().noquote() << "Open command argument" << arg << "replaced by" << fieldCode;
            if (!hasField)
                out.append(fieldCode);
            hasField = true;
        } else {
            out.append(quoteExecArgument(arg));
        }
    }
    if (!hasField)
        out.append(fieldCode);
    return out.join(QLatin1Char(' '));
}

bool OsIntegration::registerApplication(const QString &progId, const QString &executable,
                                        const QString &openCommand, const QString &friendlyName)
{
    if (progId.isEmpty() || executable.isEmpty()) {
        qWarning() << "registerApplication: program identifier or executable missing";
        return false;
    }
    const QString id = desktopFileId(progId);
    const QString exec = execFromOpenCommand(openCommand, executable, QStringLiteral("%f"));
    const QString name = friendlyName.isEmpty() ? progId : friendlyName;
    if (!writeDesktopEntry(id, name, exec, {}, {QStringLiteral("AudioVideo"), QStringLiteral("Video"),
                                                  QStringLiteral("Player"), QStringLiteral("TV")},
                           false))
        return false;
    GPtr<GDesktopAppInfo> app(findApp(id, 2000));
    if (!app) {
        qWarning().noquote() << "The desktop entry" << id << "is not usable (is the program"
                             << executable << "executable?)";
        return false;
    }
    return true;
}

bool OsIntegration::registerFileAssociation(const QString &progId, const QString &rawSuffix, bool makeDefault)
{
    const QString suffix = normalizedSuffix(rawSuffix);
    if (suffix.isEmpty())
        return false;
    const QString id = desktopFileId(progId);
    GPtr<GDesktopAppInfo> app(findApp(id, 500));
    if (!app) {
        qWarning().noquote() << "Cannot associate" << suffix << ": the application" << id << "is not registered";
        return false;
    }
    GAppInfo *info = G_APP_INFO(app.get());
    const QString mime = mimeTypeForSuffix(suffix);
    GErrorHolder err;
    if (mime.isEmpty()) {
        // Unknown to the MIME database: GIO defines a type for the suffix itself.
        if (!g_app_info_set_as_default_for_extension(info, suffix.toUtf8().constData(), &err.e)) {
            qWarning().noquote() << "Cannot associate" << suffix << ":" << err.text();
            return false;
        }
        return true;
    }
    if (makeDefault)
        return setDefault(info, mime);
    if (!g_app_info_add_supports_type(info, mime.toUtf8().constData(), &err.e)) {
        qWarning().noquote() << "Cannot associate" << mime << ":" << err.text();
        return false;
    }
    return true;
}

bool OsIntegration::unregisterFileAssociation(const QString &progId, const QString &rawSuffix)
{
    const QString suffix = normalizedSuffix(rawSuffix);
    if (suffix.isEmpty())
        return false;
    QString mime = mimeTypeForSuffix(suffix);
    // A suffix unknown to the MIME database got a type of GIO's making when it was
    // registered; the database may not know that type yet (GIO updates it in the
    // background), but the association under it exists.
    if (mime.isEmpty())
        mime = QStringLiteral("application/x-extension-") + suffix;
    const QString id = desktopFileId(progId);
    GPtr<GDesktopAppInfo> app(findApp(id, 0));
    if (!app)
        return true;  // without the entry no association can point at us
    const QByteArray type = mime.toUtf8();
    GErrorHolder err;
    if (!g_app_info_remove_supports_type(G_APP_INFO(app.get()), type.constData(), &err.e)) {
        qWarning().noquote() << "Cannot remove the association of" << mime << ":" << err.text();
        return false;
    }
    // Removing the support leaves a default choice in place: when it still names us, undo
    // the user associations of the type and give back those of other programs.
    if (defaultAppId(type) == id) {
        const QStringList others = userAddedAssociations(type).filter(QRegularExpression(
            QStringLiteral("^(?!") + QRegularExpression::escape(id) + QStringLiteral("$)")));
        g_app_info_reset_type_associations(type.constData());
        for (const QString &other : others) {
            GPtr<GDesktopAppInfo> otherApp(g_desktop_app_info_new(other.toUtf8().constData()));
            if (otherApp)
                g_app_info_add_supports_type(G_APP_INFO(otherApp.get()), type.constData(), nullptr);
        }
        if (defaultAppId(type) == id) {
            qWarning().noquote() << "Cannot remove" << id << "as the default for" << mime;
            return false;
        }
    }
    return true;
}

bool OsIntegration::setupProtocol(const QString &rawScheme, const QString &executable, const QString &openCommand)
{
    const QString scheme = rawScheme.trimmed().toLower();
    if (scheme.isEmpty() || executable.isEmpty()) {
        qWarning() << "setupProtocol: scheme or executable missing";
        return false;
    }
    const QString mime = QStringLiteral("x-scheme-handler/") + scheme;
    const QString id = schemeDesktopFileId(executable, scheme);
    const QString exec = execFromOpenCommand(openCommand, executable, QStringLiteral("%u"));
    if (!writeDesktopEntry(id, QFileInfo(executable).completeBaseName() + QStringLiteral(" (") + scheme + QLatin1Char(')'),
                           exec, {mime}, {}, true))
        return false;
    GPtr<GDesktopAppInfo> app(findApp(id, 2000));
    if (!app) {
        qWarning().noquote() << "The desktop entry" << id << "is not usable";
        return false;
    }
    return setDefault(G_APP_INFO(app.get()), mime);
}

bool OsIntegration::openUrl(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid()) {
        qWarning() << "openUrl: invalid URL" << url;
        return false;
    }
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.exists()) {
            qWarning() << "openUrl: no such file" << file.filePath();
            return false;
        }
        if (file.isFile() && file.isExecutable()) {
            qint64 pid = 0;
            const bool started = QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath(), &pid);
            if (!started)
                qWarning() << "openUrl: cannot start" << file.absoluteFilePath();
            return started;
        }
    }
    GErrorHolder err;
    if (!g_app_info_launch_default_for_uri(url.toEncoded().constData(), nullptr, &err.e)) {
        qWarning().noquote() << "openUrl: cannot open" << url.toDisplayString() << ":" << err.text();
        return false;
    }
    return true;
}

QString OsIntegration::hddId()
{
    QByteArray machineId;
    for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            machineId = file.readAll().trimmed();
            if (!machineId.isEmpty())
                break;
        }
    }
    if (machineId.isEmpty())
        machineId = QSysInfo::machineUniqueId();
    if (machineId.isEmpty())
        machineId = QSysInfo::machineHostName().toUtf8();
    // Salted and hashed: the identifier must not reveal the machine's own id.
    const QByteArray digest = QCryptographicHash::hash("novaline-hdd-id:" + machineId,
                                                       QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(32));
}

QString OsIntegration::platform()
{
    return QStringLiteral("linux");
}

bool OsIntegration::compositionEnabled()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        // Without X, a Wayland session is always composed by its compositor.
        return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    const bool composited = selection != None && XGetSelectionOwner(display, selection) != None;
    XCloseDisplay(display);
    return composited;
}
