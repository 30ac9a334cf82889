#include "commandline.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

const char programId[] = "IPTVNovaline";
const char windowTitle[] = "Novaline TV";

QString friendlyName()
{
    return QStringLiteral("Novaline IPTV проигрыватель");
}

QString associationCommand()
{
    return QLatin1Char('"') + QCoreApplication::applicationFilePath() + QStringLiteral("\" --assoc \"%1\"");
}

QList<QUrl> urlsFromArguments(const QStringList &arguments)
{
    QList<QUrl> urls;
    for (const QString &argument : arguments) {
        QUrl url;
        url.setUrl(argument, QUrl::TolerantMode);
        const QString scheme = url.scheme();
        // Desktop launchers hand local files over as file: URLs (Exec=... %U).
        if (scheme != QLatin1String("iptvurl") && scheme != QLatin1String("iptvvideo")
            && scheme != QLatin1String("http") && !(scheme == QLatin1String("file") && url.isLocalFile())) {
            // A plain relative path is made absolute: the running copy that may receive
            // it works in another folder.
            const bool plainRelative = scheme.isEmpty() && QDir::isRelativePath(argument);
            url = QUrl::fromLocalFile(plainRelative ? QFileInfo(argument).absoluteFilePath() : argument);
        }
        qDebug().noquote() << QStringLiteral("Opening url: ") + url.toString();
        urls.append(url);
    }
    return urls;
}
