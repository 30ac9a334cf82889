#include "playlistmodel.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int Rows = 10000;

QUrl urlOf(int id)
{
    return QUrl(QStringLiteral("http://iptv.example/stream/%1/index.m3u8").arg(id));
}

void fill(PlaylistModel &model, int rows)
{
    QList<PlaylistModelItem *> items;
    items.reserve(rows);
    for (int id = 1; id <= rows; ++id)
        items.append(new PlaylistModelItem(id, QStringLiteral("Channel %1").arg(id), urlOf(id),
                                           QStringLiteral("Group"), QString(), 0, false));
    model.append(items);
}

void itemById(benchmark::State &state)
{
    PlaylistModel model;
    fill(model, Rows);
    int id = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.itemById(id));
        id = id % Rows + 1;
    }
}
BENCHMARK(itemById);

void itemByUrl(benchmark::State &state)
{
    PlaylistModel model;
    fill(model, Rows);
    QVector<QUrl> urls;
    for (int id = 1; id <= Rows; ++id)
        urls.append(urlOf(id));
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.itemByUrl(urls.at(i)));
        i = (i + 1) % Rows;
    }
}
BENCHMARK(itemByUrl);

void nextItem(benchmark::State &state)
{
    PlaylistModel model;
    fill(model, Rows);
    int id = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.nextItem(id, false));
        id = id % Rows + 1;
    }
}
BENCHMARK(nextItem);

// Filling 10,000 rows in one append (what a configuration document does).
void appendList(benchmark::State &state)
{
    for (auto _ : state) {
        PlaylistModel model;
        fill(model, Rows);
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(appendList)->Unit(benchmark::kMillisecond);

// Removing one row keeps the index in step (the scenes delete one entry at a time).
void removeOneRow(benchmark::State &state)
{
    PlaylistModel model;
    fill(model, Rows);
    int next = Rows + 1;
    for (auto _ : state) {
        model.removeAt(Rows / 2);
        state.PauseTiming();
        model.append(new PlaylistModelItem(next, QString(), urlOf(next), QString(), QString(), 0, false));
        ++next;
        state.ResumeTiming();
    }
}
BENCHMARK(removeOneRow)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
