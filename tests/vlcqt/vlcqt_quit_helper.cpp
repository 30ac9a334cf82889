// Opens the URL given as argument in a VlcPlayer and quits the application one second
// later, while the stream still opens. Prints "QUIT <ms>" (steady clock, shared by processes) as it
// quits; the test measures from there to the process's end.
#include "vlcplayer.h"

#include <QGuiApplication>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("VLC_ARGS", "--intf=dummy --aout=adummy --vout=dummy --no-media-library --no-stats");
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    VlcPlayer player;
    player.setOpenTimeout(600000);
    player.setUrl(QUrl(QString::fromLocal8Bit(argv[1])));
    QTimer::singleShot(1000, &app, [&app] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("QUIT %lld\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}
