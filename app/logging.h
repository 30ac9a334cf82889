#pragma once

#include <QString>
#include <QtGlobal>

// Above this size the log file starts over with the next message.
constexpr qint64 logFileSizeLimit = 100000000;

// "log.txt" in the writable cache folder; worked out again for every message.
QString logFilePath();

// text with the user info ("user:password@") of every address in it removed.
QString withoutUserInfo(const QString &text);

// Message handler installed by main: every message goes to standard error and is
// appended to the log file, addresses without their user info. Info messages are
// written nowhere.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
