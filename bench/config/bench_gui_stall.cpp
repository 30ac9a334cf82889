// How long the GUI thread stops answering while a large guide arrives and while a large
// update archive is verified and unpacked: the same work done on the GUI thread (as
// the player did it before) and the way the player does it now. A 5 ms timer probes
// the event loop; its worst lateness is the longest stall. Peak RSS growth per case
// from /proc (VmHWM, reset before each case).
//
//   bench_gui_stall [guide MB, default 30] [archive MB, default 200]
// STALL_TRACE=1 prints each new worst stall with its time.
#include "atomicfile.h"
#include "config.h"
#include "guideindex.h"
#include "updatearchive.h"
#include "../common/procstatus.h"
#include "../../tests/config/testsupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <cstdio>

namespace {

struct Probe
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    Probe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (now - last - 5000000 > worst) {
                worst = now - last - 5000000;
                if (qEnvironmentVariableIsSet("STALL_TRACE"))
                    std::fprintf(stderr, "stall %.1f ms ending at %.3f s\n", worst / 1e6, now / 1e9);
            }
            last = now;
        });
    }
    void start()
    {
        worst = 0;
        clock.start();
        last = 0;
        timer.start();
    }
    // Includes a stall still going on (work done synchronously right after start()).
    double stopMs()
    {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last - 5000000);
        timer.stop();
        return worst / 1e6;
    }
};

void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

struct Row
{
    QString name;
    double stallMs;
    double seconds;
    qint64 peakGrowthMb;
};

template<typename Work>
Row measure(const QString &name, Work work)
{
    Probe probe;
    resetPeak();
    const qint64 base = procStatusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    probe.start();
    work();
    const double stall = probe.stopMs();
    return Row{name, stall, clock.elapsed() / 1000.0, (procStatusKb("VmHWM:") - base) / 1024};
}

void waitFor(QObject *sender, const char *signal, int ms)
{
    QSignalSpy spy(sender, signal);
    spy.wait(ms);
}

QByteArray makeGuide(int megabytes)
{
    QByteArray out("{");
    int channel = 0;
    while (out.size() < megabytes * 1024 * 1024) {
        if (channel)
            out += ',';
        out += "\n\"channel " + QByteArray::number(channel++) + "\": [";
        for (int i = 0; i < 280; ++i) {
            if (i)
                out += ',';
            out += "{\"title\": \"\xD0\x9F\xD0\xB5\xD1\x80\xD0\xB5\xD0\xB4\xD0\xB0\xD1\x87\xD0\xB0 " + QByteArray::number(i)
                + "\", \"time\": " + QByteArray::number(1700000000 + i * 1800) + "}";
        }
        out += ']';
    }
    return out + "}\n";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV-bench"));
    const int guideMb = argc > 1 ? std::atoi(argv[1]) : 30;
    const int archiveMb = argc > 2 ? std::atoi(argv[2]) : 200;
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));

    OperatorServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start the operator test server\n");
        return 1;
    }
    const QByteArray guide = makeGuide(guideMb);
    server.put(QStringLiteral("jtv.json"), guide);
    // An archive of incompressible data: hashing and writing cost what they cost.
    {
        QTemporaryDir stage;
        QFile payload(stage.path() + QStringLiteral("/payload.bin"));
        payload.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < archiveMb; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            payload.write(block);
        }
        payload.close();
        writeFile(stage.path() + QStringLiteral("/update.exe"), "#!/bin/sh\n");
        QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-C"), stage.path(), QStringLiteral("-cf"),
                                                  server.root() + QStringLiteral("/update.tar"),
                                                  QStringLiteral("update.exe"), QStringLiteral("payload.bin")});
    }
    const QString archivePath = server.root() + QStringLiteral("/update.tar");
    const QString sha = QString::fromLatin1([&] {
        QFile f(archivePath);
        f.open(QIODevice::ReadOnly);
        QCryptographicHash h(QCryptographicHash::Sha256);
        h.addData(&f);
        return h.result().toHex();
    }());

    QList<Row> rows;
    rows << measure(QStringLiteral("guide %1 MB, on the GUI thread (before)").arg(guideMb), [&] {
        // What arrival did before: read whole, parse whole, write a copy, index.
        QFile staged(server.root() + QStringLiteral("/jtv.json"));
        staged.open(QIODevice::ReadOnly);
        const QByteArray data = staged.readAll();
        const QJsonDocument doc = QJsonDocument::fromJson(data);
        AtomicFile::write(Config::jtvFilePath(), data);
        GuideIndex::scan(Config::jtvFilePath());
        Q_UNUSED(doc)
    });
    {
        Config config;
        QJsonObject document;
        document.insert(QStringLiteral("iptvJtvWeek"), server.base() + QStringLiteral("/media/jtv.json"));
        QFile::remove(Config::jtvFilePath());
        rows << measure(QStringLiteral("guide %1 MB, download and worker (now)").arg(guideMb), [&] {
            config.applyConfig(document, QUrl());
            waitFor(&config, SIGNAL(jtvDownloaded()), 120000);
        });
    }
    rows << measure(QStringLiteral("archive %1 MB, on the GUI thread (before)").arg(archiveMb), [&] {
        QFile f(archivePath);
        f.open(QIODevice::ReadOnly);
        QCryptographicHash h(QCryptographicHash::Sha256);
        h.addData(&f);
        UpdateArchive::unpack(archivePath);
    });
    {
        UpdateArchive::clearUpdateCache();
        UpdateArchive update(33555601, QUrl(server.base() + QStringLiteral("/media/update.tar")), nullptr);
        update.setExpectedSha256(sha);
        rows << measure(QStringLiteral("archive %1 MB, download and worker (now)").arg(archiveMb), [&] {
            update.download();
            waitFor(&update, SIGNAL(extracted()), 300000);
        });
    }

    std::printf("%-46s %14s %10s %16s\n", "case", "longest stall", "time", "peak RSS growth");
    for (const Row &row : rows)
        std::printf("%-46s %11.1f ms %8.2f s %13lld MB\n", qPrintable(row.name), row.stallMs, row.seconds,
                    row.peakGrowthMb);
    UpdateArchive::clearUpdateCache();
    return 0;
}
