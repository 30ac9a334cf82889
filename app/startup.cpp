#include "startup.h"

#include "commandline.h"
#include "iptvapplication.h"
#include "kernel.h"
#include "logging.h"
#include "quitonsignal.h"
#include "singleinstance.h"
#include "videofileextensions.h"
#include "windowactivation.h"

#include <osintegration.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTextCodec>

#include <cstdio>
#include <cstdlib>
#include <memory>

int iptvMain(int &argc, char **argv)
{
    // Without TZ glibc checks /etc/localtime again at every local-time conversion, which
    // the guide does by the hundred; naming the same file lets it keep the parsed zone.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");

    int status = 0;
    std::unique_ptr<QSharedMemory> sharedMemory(new QSharedMemory(QLatin1String(singleInstanceKey)));
    const LaunchCheck launch = checkLaunch(*sharedMemory);
    {
        IptvApplication app(argc, argv);
        QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath());
        QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
        QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.4"));
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));

        qInstallMessageHandler(logMessageHandler);
        qDebug("Starting IPTV");
        if (launch.recoveredStale)
            qWarning("Removed the single-instance segment of a copy that ended without releasing it");
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

        OsIntegration::registerApplication(QLatin1String(programId), QCoreApplication::applicationFilePath(),
                                           associationCommand(), friendlyName());

        std::unique_ptr<QCommandLineParser> parser(new QCommandLineParser);
        parser->setApplicationDescription(QStringLiteral("Novaline IPTV application version: 2.0.4"));
        const QCommandLineOption afterUpdate(QStringLiteral("afterUpdate"));
        const QCommandLineOption assoc(QStringLiteral("assoc"));
        const QCommandLineOption registerAssociations(QStringLiteral("registerFileAssociations"));
        const QCommandLineOption unregisterAssociations(QStringLiteral("unregisterFileAssociations"));
        parser->addOption(afterUpdate);
        parser->addOption(assoc);
        parser->addOption(registerAssociations);
        parser->addOption(unregisterAssociations);
        parser->addPositionalArgument(QStringLiteral("url"), QStringLiteral("Url to open."), QString());
        // Not process(): it would exit() past the segment, leaving it to the next start.
        const bool parsed = parser->parse(QCoreApplication::arguments());
        if (!parsed) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(parser->errorText()));
            status = EXIT_FAILURE;
        } else if (parser->isSet(registerAssociations)) {
            for (const QString &suffix : videoFileExtensions)
                OsIntegration::registerFileAssociation(QLatin1String(programId), suffix, true);
        } else if (parser->isSet(unregisterAssociations)) {
            for (const QString &suffix : videoFileExtensions)
                OsIntegration::unregisterFileAssociation(QLatin1String(programId), suffix);
        } else {
            const QList<QUrl> urls = urlsFromArguments(parser->positionalArguments());
            std::wstring title = QString::fromLatin1(windowTitle).toStdWString();
            activateWindow(title);
            if (launch.firstInstance) {
                quitOnTerminationSignals();
                Kernel *kernel = new Kernel(sharedMemory.get(), urls, nullptr);
                app.setKernel(kernel);
                QObject::connect(&app, &QCoreApplication::aboutToQuit, kernel, &Kernel::closeApp);
                status = QApplication::exec();
                // The window, and with it libVLC's threads, lives to the end of the
                // process; tearing Qt down underneath those threads can crash on the
                // way out. closeApp has released the segment and synced the settings,
                // and every log line is already in its file: end here.
                std::fflush(stdout);
                std::fflush(stderr);
                std::_Exit(status);
            } else {
                if (!urls.isEmpty())
                    sendLaunchMessage(urls, launch.launchGap <= 1, 10, 1000, launch.order);
                qWarning("Another copy launched. Exiting...");
                status = 0;
            }
        }
        parser.reset();
    }
    sharedMemory.reset();
    return status;
}
