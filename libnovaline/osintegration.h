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

    // Where the registrations are written: the desktop entry of a program identifier
    // ("IPTVNovaline" -> "iptv-novaline.desktop") and of a link scheme's handler.
    static QString desktopFileId(const QString &progId);
    static QString schemeDesktopFileId(const QString &executable, const QString &scheme);
    // The MIME type the desktop uses for files with this suffix; empty when unknown.
    static QString mimeTypeForSuffix(const QString &suffix);
    // Turns a Windows open command ("exe" --assoc "%1") into a desktop-entry Exec value,
    // the marker %1 becoming fieldCode (%f for files, %u for links).
    static QString execFromOpenCommand(const QString &openCommand, const QString &executable,
                                       const QString &fieldCode);
};
