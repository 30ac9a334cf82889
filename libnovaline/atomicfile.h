#pragma once

#include <QByteArray>
#include <QString>

class QSaveFile;

// Replacing files so that a full disk or a crash never leaves a short one behind.
namespace AtomicFile {

// Writes data to path in one step: the old file stays unless every byte reached the
// new one. error gets the reason on failure.
bool write(const QString &path, const QByteArray &data, QString *error = nullptr);

// Flushes, syncs and commits an open QSaveFile, checking each step. QSaveFile::commit
// alone ignores a failed flush of its write buffer and renames a short file into
// place. Cancels the file on failure.
bool commit(QSaveFile &file, QString *error = nullptr);

// Waits until path's content is on the disk.
bool sync(const QString &path, QString *error = nullptr);

// Renames from over to in one step, replacing what was there (both on one file
// system). from must be complete and synced.
bool replace(const QString &from, const QString &to, QString *error = nullptr);

} // namespace AtomicFile
