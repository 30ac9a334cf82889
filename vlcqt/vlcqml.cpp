#include "vlcqml.h"

#include "vlccore_p.h"
#include "vlcenums.h"
#include "vlcplayer.h"
#include "vlctrackmodel.h"
#include "vlcvideooutput.h"

#include <QtQml>

void VlcQml::registerTypes()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    const char *uri = "VLCQt";
    qmlRegisterType<VlcPlayer>(uri, 1, 1, "VlcPlayer");
    qmlRegisterType<VlcVideoOutput>(uri, 1, 1, "VlcVideoOutput");
    qmlRegisterUncreatableType<VlcTrackModel>(uri, 1, 1, "VlcTrackModel",
                                              QStringLiteral("Track models belong to a VlcPlayer"));
    qmlRegisterUncreatableMetaObject(Vlc::staticMetaObject, uri, 1, 1, "Vlc",
                                     QStringLiteral("Vlc only holds enumerations"));
    // Versions 1.0 too, for scenes written against the older import.
    qmlRegisterType<VlcPlayer>(uri, 1, 0, "VlcPlayer");
    qmlRegisterType<VlcVideoOutput>(uri, 1, 0, "VlcVideoOutput");
    qmlRegisterUncreatableMetaObject(Vlc::staticMetaObject, uri, 1, 0, "Vlc",
                                     QStringLiteral("Vlc only holds enumerations"));
}

void VlcQml::prepare()
{
    VlcCore::prepare();
}
