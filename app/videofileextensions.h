#pragma once

#include <QStringList>

// Lower-case video suffixes (without the dot) used for file associations and to accept
// local files. The association commands walk it in this order.
extern const QStringList videoFileExtensions;
