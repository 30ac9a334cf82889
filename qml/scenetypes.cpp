#include "scenetypes.h"

#include "playlistsectionmodel.h"
#include "scenelogic.h"

#include <QQmlEngine>
#include <QtQml>

// The resource initialisers live in static libraries; calling them here links them in.
static void initSceneResources()
{
    Q_INIT_RESOURCE(qml);
    Q_INIT_RESOURCE(images);
}

void registerSceneTypes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    initSceneResources();
    qmlRegisterSingletonType<SceneLogic>("NovalineScenes", 1, 0, "SceneLogic",
                                         [](QQmlEngine *engine, QJSEngine *) -> QObject * {
                                             return new SceneLogic(engine);
                                         });
    qmlRegisterType<PlaylistSectionModel>("NovalineScenes", 1, 0, "PlaylistSectionModel");
}
