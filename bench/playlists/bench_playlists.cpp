// Times the readers of the user's own lists on files made by run-bench.py:
//   bench_playlists m3u FILE        parse + channel model
//   bench_playlists xmltv FILE KEYS  XMLTV to the guide document for KEYS channels
// Prints "seconds <s> peak_rss_growth_mb <n>".
#include "m3u.h"
#include "playlistmodel.h"
#include "xmltv.h"
#include "../common/procstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString kind = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const qint64 base = procStatusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    int count = 0;
    QString phases;
    // Kept past the clock: freeing 100,000 channels is not part of reading them.
    M3u::Playlist list;
    PlaylistModel model;
    if (kind == QLatin1String("m3u")) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        list = M3u::parse(f.readAll());
        const qint64 parsed = clock.elapsed();
        QList<PlaylistModelItem *> items;
        items.reserve(list.channels.size());
        int id = 0;
        for (const M3u::Channel &c : list.channels)
            items.append(new PlaylistModelItem(id++, c.title, c.url, c.group, c.guideKey(), 0, false));
        const qint64 made = clock.elapsed();
        model.append(items);
        count = model.rowCount();
        phases = QStringLiteral(" parse_s %1 items_s %2 model_s %3")
                     .arg(parsed / 1000.0, 0, 'f', 3)
                     .arg((made - parsed) / 1000.0, 0, 'f', 3)
                     .arg((clock.elapsed() - made) / 1000.0, 0, 'f', 3);
    } else {
        const int keys = argc > 3 ? std::atoi(argv[3]) : 2000;
        QList<Xmltv::Wanted> wanted;
        for (int i = 0; i < keys; ++i)
            wanted.append({QStringLiteral("ch%1.example").arg(i), 0});
        QTemporaryDir dir;
        const Xmltv::Result result = Xmltv::convert(path, wanted, Xmltv::Options(), dir.filePath(QStringLiteral("g.json")));
        if (!result.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(result.error));
            return 1;
        }
        count = result.kept;
    }
    std::printf("seconds %.3f peak_rss_growth_mb %lld items %d%s\n", clock.elapsed() / 1000.0,
                (procStatusKb("VmHWM:") - base) / 1024, count, qPrintable(phases));
    return 0;
}
