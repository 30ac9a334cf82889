#pragma once

#include <QStringList>

// The MIME types the player opens: those the MIME database gives the video suffixes
// (each once, in suffix order) followed by the two link schemes' handler types. The
// desktop entry is generated from it at build time and the media controls announce it.
QStringList playerMimeTypes();
