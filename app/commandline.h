#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Shell identity of the program.
extern const char programId[];          // "IPTVNovaline"
extern const char windowTitle[];        // "Novaline TV"
QString friendlyName();                 // "Novaline IPTV проигрыватель"
// "\"<executable>\" --assoc \"%1\"" for the running executable.
QString associationCommand();

// Positional arguments in order: http and the two link schemes stay links, anything
// else is a local file.
QList<QUrl> urlsFromArguments(const QStringList &arguments);
