// Plays one file to its end and prints the CPU time the process used.
//   vlcqt_bench_play view FILE     through VlcPlayer + VlcVideoOutput in a QQuickView
//   vlcqt_bench_play decode FILE   libVLC alone, pictures thrown away (--vout=dummy)
// Output, one line: "cpu <seconds> wall <seconds> frames <n>".
#include "vlcplayer.h"
#include "vlcqml.h"
#include "vlcvideooutput.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QTimer>

#include <vlc/vlc.h>

#include <sys/resource.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int decodeOnly(const char *file)
{
    QElapsedTimer wall;
    wall.start();
    const char *args[] = {"--intf=dummy", "--vout=dummy", "--aout=adummy", "--no-video-title-show"};
    libvlc_instance_t *vlc = libvlc_new(4, args);
    libvlc_media_t *media = libvlc_media_new_path(vlc, file);
    libvlc_media_player_t *mp = libvlc_media_player_new_from_media(media);
    struct Done { std::mutex m; std::condition_variable c; bool done = false; } done;
    auto onEnd = [](const libvlc_event_t *, void *p) {
        auto *d = static_cast<Done *>(p);
        std::lock_guard<std::mutex> lock(d->m);
        d->done = true;
        d->c.notify_all();
    };
    libvlc_event_manager_t *events = libvlc_media_player_event_manager(mp);
    libvlc_event_attach(events, libvlc_MediaPlayerEndReached, onEnd, &done);
    libvlc_event_attach(events, libvlc_MediaPlayerEncounteredError, onEnd, &done);
    libvlc_media_player_play(mp);
    {
        std::unique_lock<std::mutex> lock(done.m);
        done.c.wait_for(lock, std::chrono::seconds(120), [&] { return done.done; });
    }
    const double cpu = cpuSeconds();
    const double secs = wall.elapsed() / 1000.0;
    libvlc_media_player_stop(mp);
    libvlc_media_player_release(mp);
    libvlc_media_release(media);
    libvlc_release(vlc);
    std::printf("cpu %.2f wall %.2f frames 0\n", cpu, secs);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s view|decode FILE\n", argv[0]);
        return 2;
    }
    if (qstrcmp(argv[1], "decode") == 0)
        return decodeOnly(argv[2]);

    QGuiApplication app(argc, argv);
    qputenv("VLC_ARGS", "--intf=dummy --no-video-title-show --no-osd --aout=adummy");
    VlcQml::registerTypes();
    QElapsedTimer wall;
    wall.start();
    QQuickView view;
    view.setColor(Qt::black);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    auto *output = new VlcVideoOutput(view.contentItem());
    VlcPlayer player;
    output->setSource(&player);
    int frames = 0;
    QObject::connect(&view, &QQuickWindow::frameSwapped, [&frames] { ++frames; });
    QObject::connect(output, &VlcVideoOutput::sourceSizeChanged, [&] {
        if (!output->sourceSize().isEmpty())
            view.resize(output->sourceSize());
    });
    QObject::connect(&view, &QWindow::widthChanged, [&] { output->setSize(view.size()); });
    QObject::connect(&view, &QWindow::heightChanged, [&] { output->setSize(view.size()); });
    view.resize(640, 360);
    output->setSize(view.size());
    view.show();
    QObject::connect(&player, &VlcPlayer::stateChanged, [&] {
        if (player.state() == Vlc::Ended || player.state() == Vlc::Error)
            app.quit();
    });
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    player.setUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])));
    app.exec();
    const double cpu = cpuSeconds();
    std::printf("cpu %.2f wall %.2f frames %d path %s\n", cpu, wall.elapsed() / 1000.0, frames,
                qPrintable(output->renderPath()));
    return player.state() == Vlc::Ended ? 0 : 1;
}
