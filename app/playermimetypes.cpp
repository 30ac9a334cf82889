#include "playermimetypes.h"

#include "videofileextensions.h"

#include <osintegration.h>

QStringList playerMimeTypes()
{
    QStringList types;
    for (const QString &suffix : videoFileExtensions) {
        const QString mime = OsIntegration::mimeTypeForSuffix(suffix);
        if (!mime.isEmpty() && !types.contains(mime))
            types.append(mime);
    }
    types << QStringLiteral("x-scheme-handler/iptvurl") << QStringLiteral("x-scheme-handler/iptvvideo");
    return types;
}
