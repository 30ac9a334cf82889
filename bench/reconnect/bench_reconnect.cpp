// Time from a server cutting a live stream to its picture being back, with the
// player's own pauses between tries: the real window, libVLC and the operator test
// server on loopback. Each run plays a channel whose stream the server closes after
// 3 s; the cut is the server's moment of closing, "picture back" the first picture of
// the reopened stream. Prints every run and the median.
#include "config.h"
#include "playlistmodel.h"
#include "reconnector.h"
#include "testsupport.h"
#include "videoform.h"
#include "vlcplayer.h"

#include <QApplication>
#include <QDateTime>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int CutAfterMs = 3000;

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    wipeState();
    OperatorServer server;
    QProcess media;
    media.start(qEnvironmentVariable("NOVALINE_SOURCE_DIR", QStringLiteral(NOVALINE_SOURCE_DIR_FALLBACK))
                    + "/tools/make-media",
                {"--only", "live", "--duration", "4", server.root()});
    if (!media.waitForFinished(120000) || media.exitCode() != 0)
        qFatal("make-media failed");
    QJsonArray iptv;
    for (const char *name : {"a.ts", "b.ts"}) {
        QFile::link(server.root() + "/live.ts", server.root() + "/" + name);
        iptv.append(QJsonObject{{"title", QString::fromLatin1(name)}, {"stream", QString("{{BASE}}/live/") + name}});
    }
    server.put("config.json", json({{"iptv", iptv}, {"iptv_updates", QJsonArray()}}));
    if (!server.start())
        qFatal("operator test server did not start");
    qputenv("NOVALINE_CONFIG_SERVER", server.base().toUtf8());

    Config config;
    VideoForm form(&config);
    qputenv("VLC_ARGS", qgetenv("VLC_ARGS") + " --aout=adummy");
    form.restoreAndShow();
    config.updateConfig(QUrl());
    if (!waitFor([&] { return form.formLoaded() && form.player() && config.playlistModel()->rowCount() == 2; }, 30000))
        qFatal("the window did not load");
    VlcPlayer *player = form.player();
    const QString path = QStringLiteral("/live/a.ts");

    QVector<double> results, fromEnd;
    for (int run = 0; run < runs; ++run) {
        form.playTv(1);
        if (!waitFor([&] { return player->state() == 3 && player->hasPicture(); }, 20000))
            qFatal("channel b did not play");
        server.setFault(path, QStringLiteral("cut:%1").arg(CutAfterMs), 1);
        form.playTv(0);
        // Its first picture, then the end of the cut stream, then the picture again.
        if (!waitFor([&] { return player->hasPicture(); }, 20000))
            qFatal("channel a did not play");
        if (!waitFor([&] { return !player->hasPicture() || form.reconnector()->attempt() > 0; }, 60000))
            qFatal("the cut was not noticed");
        const double noticed = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        if (!waitFor([&] { return player->hasPicture() && form.reconnector()->attempt() == 0; }, 60000))
            qFatal("the picture did not come back");
        const double back = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        // The reopened stream is the last request; the cut one the one before it.
        const QJsonArray all = QJsonDocument::fromJson(server.get(QStringLiteral("/_requests"))).array();
        QVector<double> times;
        for (const QJsonValue &v : all)
            if (v.toObject().value(QStringLiteral("path")).toString() == path)
                times << v.toObject().value(QStringLiteral("time")).toDouble();
        if (times.size() < 2)
            qFatal("no reconnect request");
        const double cutAt = times.at(times.size() - 2) + CutAfterMs / 1000.0;
        const double ms = (back - cutAt) * 1000.0;
        results << ms;
        fromEnd << (back - noticed) * 1000.0;
        std::printf("run %d: cut -> picture back %.0f ms (stream end seen -> picture back %.0f ms)\n",
                    run + 1, ms, fromEnd.last());
        std::fflush(stdout);
    }
    std::sort(results.begin(), results.end());
    std::sort(fromEnd.begin(), fromEnd.end());
    std::printf("median of %d: cut -> picture back %.0f ms; stream end seen -> picture back %.0f ms "
                "(first retry after %d ms)\n",
                runs, results.at(results.size() / 2), fromEnd.at(fromEnd.size() / 2),
                form.reconnector()->delays().value(0));
    return 0;
}
