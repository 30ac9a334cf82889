// Emits one message through the log handler: logprobe <debug|info|warning|critical|fatal> <text>
// logprobe busy: handles termination signals like the player, then keeps its GUI
// thread busy for ever.
#include "logging.h"
#include "quitonsignal.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTextCodec>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    qInstallMessageHandler(logMessageHandler);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("busy")) {
        quitOnTerminationSignals();
        QMetaObject::invokeMethod(&app, [] {
            std::fprintf(stdout, "busy\n");
            std::fflush(stdout);
            for (volatile unsigned long spin = 0;; spin = spin + 1) {
            }
        }, Qt::QueuedConnection);
        return app.exec();
    }
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
