#include "qmltypes.h"

#include "config.h"
#include "playlistmodelitem.h"
#include "scenetypes.h"
#include "vlcqml.h"

#include <QtQml>

void registerQmlTypes()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;

    qmlRegisterType<PlaylistModelItem>("MyTools", 1, 0, "TvItem");
    // The scenes only name its Mode enumerators; the one Config comes from the
    // context property "config", a second one would open a second settings store.
    qmlRegisterUncreatableType<Config>("MyTools", 1, 0, "Config",
                                       QStringLiteral("Config is provided by the application"));
    VlcQml::registerTypes();
    // The scenes' own helpers and their files in the resources.
    registerSceneTypes();
}
