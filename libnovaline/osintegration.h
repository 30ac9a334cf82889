#pragma once

#include <QString>
#include <QUrl>

// Static operating-system services. On Linux the registrations follow freedesktop
// conventions (desktop entry, MIME default applications, x-scheme-handler).
class OsIntegration
{
public:
    OsIntegration() = delete;

    static bool registerApplication(const QString &progId, const QString &executable,
                                    const QString &openCommand, const QString &friendlyName);
    static bool registerFileAssociation(const QString &progId, const QString &suffix, bool makeDefault);
    static bool unregisterFileAssociation(const QString &progId, const QString &suffix);
    static bool setupProtocol(const QString &scheme, const QString &executable, const QString &openCommand);

    // Starts a local executable detached, or opens anything else with the desktop's
    // handler; true only when it was started / opened.
    static bool openUrl(const QUrl &url);

    // Stable per machine, not revealing the machine's own identifier.
    static QString hddId();
    static QString platform();
    // True when a compositing manager runs on the display.
    static bool compositionEnabled();
};
