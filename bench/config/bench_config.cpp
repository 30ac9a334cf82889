// Guide lookup at a channel start and the channel playlist of a large document.
//
// The guide: 2000 channels, a week of programmes each (about 30 MB, Cyrillic titles),
// generated into a private cache folder. "Naive" is the reading without an index
// (the whole file parsed into a variant map at every call); "Indexed" is Config::loadJtv.
#include "config.h"
#include "guideindex.h"
#include "jtvmodel.h"
#include "playlistmodel.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QVariantMap>

#include <ctime>
#include <memory>

namespace {

constexpr int GuideChannels = 2000;
constexpr int PlaylistChannels = 10000;

const char *const titles[] = {
    "Новости", "Утреннее шоу «Доброе утро»", "Документальный фильм «Северное сияние»",
    "Погода на неделю", "Сериал «Дом у реки». 12-я серия", "Спорт сегодня: футбол, хоккей",
    "Вечерний выпуск новостей", "Художественный фильм «Большое путешествие»", "Музыкальный час",
    "Мультфильмы для всей семьи", "Ток-шоу «Мнение». Прямой эфир", "Час истории: Древний Рим",
};

Config *g_config = nullptr;

QString guideKey(int channel)
{
    return QStringLiteral("канал_%1").arg(channel);
}

// Writes the guide once; returns its size in bytes.
qint64 writeGuide(const QString &path)
{
    const qint64 week = 7 * 86400;
    const qint64 start = 1796601600;  // a Monday, 00:00 UTC
    QByteArray out;
    out.reserve(36 * 1024 * 1024);
    out += "{\n";
    quint32 seed = 7;
    for (int c = 0; c < GuideChannels; ++c) {
        out += '"' + guideKey(c).toUtf8() + "\": [";
        qint64 t = start;
        bool first = true;
        while (t < start + week) {
            seed = seed * 1664525u + 1013904223u;
            if (!first)
                out += ", ";
            first = false;
            out += "{\"title\": \"";
            out += titles[(seed >> 8) % (sizeof titles / sizeof *titles)];
            out += "\", \"time\": ";
            out += QByteArray::number(t);
            out += '}';
            t += 1800 + ((seed >> 4) % 4) * 900;  // 30 to 75 minutes
        }
        out += c + 1 < GuideChannels ? "],\n" : "]\n";
    }
    out += "}\n";
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size())
        qFatal("cannot write the guide");
    return out.size();
}

// loadJtv as it reads without an index: the whole file into a variant map each time.
void loadJtvNaive(JtvModel *model, const QString &key)
{
    model->clear();
    QFile file(Config::jtvFilePath());
    QByteArray data;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        data = file.readAll();
    file.close();
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    const QVariantList list = doc.object().toVariantMap().value(key).toList();
    for (int i = 0; i < list.size(); ++i) {
        const QVariantMap p = list.at(i).toMap();
        QDateTime end;
        if (i + 1 < list.size())
            end = QDateTime::fromSecsSinceEpoch(uint(list.at(i + 1).toMap().value(QStringLiteral("time")).toLongLong()));
        model->append(new JtvModelItem(QDateTime::fromSecsSinceEpoch(uint(p.value(QStringLiteral("time")).toLongLong())),
                                       end, p.value(QStringLiteral("title")).toString(), nullptr));
    }
    model->finishModelUpdate();
}

void BM_LoadJtvNaive(benchmark::State &state)
{
    int channel = 0;
    for (auto _ : state) {
        loadJtvNaive(g_config->jtvModel(), guideKey(channel));
        channel = (channel + 397) % GuideChannels;
    }
    state.counters["programmes"] = g_config->jtvModel()->rowCount();
}
BENCHMARK(BM_LoadJtvNaive)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LoadJtvIndexed(benchmark::State &state)
{
    g_config->loadJtv(guideKey(0));  // the first call after a change indexes the file
    int channel = 1;
    for (auto _ : state) {
        g_config->loadJtv(guideKey(channel));
        channel = (channel + 397) % GuideChannels;
    }
    state.counters["programmes"] = g_config->jtvModel()->rowCount();
    state.counters["indexings"] = g_config->guideIndexCount();
}
BENCHMARK(BM_LoadJtvIndexed)->Unit(benchmark::kMillisecond);

// The same without TZ: glibc's mktime() then re-reads the zone file at every call, which
// the guide model's local-time comparisons pay for (the program sets TZ at start-up).
void BM_LoadJtvIndexedTzUnset(benchmark::State &state)
{
    const QByteArray saved = qgetenv("TZ");
    qunsetenv("TZ");
    tzset();
    int channel = 1;
    for (auto _ : state) {
        g_config->loadJtv(guideKey(channel));
        channel = (channel + 397) % GuideChannels;
    }
    qputenv("TZ", saved);
    tzset();
}
BENCHMARK(BM_LoadJtvIndexedTzUnset)->Unit(benchmark::kMillisecond);

// The lookup alone, without building the model's items.
void BM_GuideLookup(benchmark::State &state)
{
    GuideIndex index;
    QVariantList list;
    index.programmes(Config::jtvFilePath(), guideKey(0), &list);
    int channel = 1;
    for (auto _ : state) {
        index.programmes(Config::jtvFilePath(), guideKey(channel), &list);
        channel = (channel + 397) % GuideChannels;
    }
}
BENCHMARK(BM_GuideLookup)->Unit(benchmark::kMillisecond);

// The one-off cost of indexing a new file version.
void BM_GuideIndexBuild(benchmark::State &state)
{
    QVariantList list;
    for (auto _ : state) {
        GuideIndex index;
        index.programmes(Config::jtvFilePath(), guideKey(5), &list);
    }
}
BENCHMARK(BM_GuideIndexBuild)->Unit(benchmark::kMillisecond)->Iterations(5);

QJsonObject playlistDocument()
{
    QJsonArray channels;
    const char *const groups[] = {"Общероссийские", "Новости", "Кино и сериалы", "Спорт", "Детские"};
    const char *const aspects[] = {"16:9", "4:3", "", "16:10", "bogus"};
    for (int i = 0; i < PlaylistChannels; ++i) {
        QJsonObject c;
        c.insert(QStringLiteral("title"), QStringLiteral("Канал номер %1").arg(i));
        c.insert(QStringLiteral("stream"), QStringLiteral("http://stream.example.net/live/%1/index.m3u8").arg(i));
        c.insert(QStringLiteral("groupTitle"), QString::fromUtf8(groups[i % 5]));
        c.insert(QStringLiteral("jtv"), guideKey(i));
        c.insert(QStringLiteral("aspect"), QString::fromUtf8(aspects[i % 5]));
        c.insert(QStringLiteral("groupId"), i % 5);
        channels.append(c);
    }
    QJsonObject doc;
    doc.insert(QStringLiteral("iptv"), channels);
    return doc;
}

void writeFavourites(int count)
{
    QJsonArray favourites;
    for (int i = 0; i < count; ++i)
        favourites.append(QStringLiteral("http://stream.example.net/live/%1/index.m3u8").arg(i * 97));
    QJsonObject o;
    o.insert(QStringLiteral("favourites"), favourites);
    QDir().mkpath(Config::dataFolder());
    QFile f(Config::favouritesFilePath());
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write favourites");
    f.write(QJsonDocument(o).toJson());
}

void BM_LoadPlaylist10k(benchmark::State &state)
{
    const QJsonObject doc = playlistDocument();
    writeFavourites(100);
    g_config->setMode(Config::Iptv);
    for (auto _ : state)
        g_config->loadPlaylist(doc, QUrl());
    state.counters["channels"] = g_config->playlistModel()->rowCount();
}
BENCHMARK(BM_LoadPlaylist10k)->Unit(benchmark::kMillisecond);

// The same with reading and parsing the cached document.
void BM_LoadConfigFile10k(benchmark::State &state)
{
    const QString path = Config::configFilePath();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write config");
        f.write(QJsonDocument(playlistDocument()).toJson());
    }
    writeFavourites(100);
    for (auto _ : state)
        g_config->loadConfigFile(path, QUrl());
    state.counters["channels"] = g_config->playlistModel()->rowCount();
}
BENCHMARK(BM_LoadConfigFile10k)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // As the program does at start-up (app/startup.cpp).
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    // A private world: the benchmark never touches the user's cache or settings.
    QTemporaryDir world;
    for (const char *var : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        qputenv(var, (world.path() + QLatin1Char('/') + QString::fromLatin1(var)).toUtf8());
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Novaline"));
    QCoreApplication::setApplicationName(QStringLiteral("IPTV"));
    QDir().mkpath(Config::cacheFolder());

    const qint64 size = writeGuide(Config::jtvFilePath());
    benchmark::AddCustomContext("guide", QStringLiteral("%1 channels, %2 MB").arg(GuideChannels).arg(size / 1e6, 0, 'f', 1).toStdString());

    auto config = std::make_unique<Config>();
    g_config = config.get();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_config = nullptr;
    return 0;
}
