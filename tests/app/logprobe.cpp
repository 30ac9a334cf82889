// Emits one message through the log handler: logprobe <debug|info|warning|critical|fatal> <text>
#include "logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    qInstallMessageHandler(logMessageHandler);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    const QByteArray text = args.at(2).toUtf8();
    const QString type = args.at(1);
    if (type == QLatin1String("debug"))
        qDebug("%s", text.constData());
    else if (type == QLatin1String("info"))
        qInfo("%s", text.constData());
    else if (type == QLatin1String("warning"))
        qWarning("%s", text.constData());
    else if (type == QLatin1String("critical"))
        qCritical("%s", text.constData());
    else if (type == QLatin1String("fatal"))
        qFatal("%s", text.constData());
    return 0;
}
