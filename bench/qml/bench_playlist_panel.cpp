// Playlist panel at 10,000 channels in 50 groups: how many list delegates exist, and how
// long opening the panel, switching the open group and one keystroke of search take
// (until the next frame is on screen). Runs the real panel scene against the real
// Config models and the search and favourites proxies set up as the window sets them up.
// For comparison it runs the same list built the plain way (every entry a row, closed
// groups at zero height) with --literal.
//
//   xvfb-run -a build/bench/bench_playlist_panel [--channels N] [--groups G] [--literal]

#include "config.h"
#include "playlistmodel.h"
#include "playlistmodelitem.h"
#include "qmltypes.h"
#include "renderbackend.h"
#include "scenetypes.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

const char *kHarness = R"(
import QtQuick 2.12
Item {
    id: root
    width: 600; height: 800
    function resetFocus() { root.forceActiveFocus() }
    MouseArea {
        id: globalMouseArea
        anchors.fill: parent
        hoverEnabled: true
        Playlist {
            id: playlist
            objectName: "playlist"
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            width: 250
        }
    }
}
)";

// The plain design: every entry a row of the search proxy, closed groups 0 high.
const char *kLiteral = R"(
import QtQuick 2.12
Item {
    id: root
    width: 600; height: 800
    function resetFocus() { root.forceActiveFocus() }
    TextInput {
        id: searchInput; objectName: "searchInput"
        width: 200; height: 20
        onTextChanged: playlistSearchModel.setFilterFixedString(text)
    }
    ListView {
        id: tvListView; objectName: "tvListView"
        property string currentGroup: "ungrouped"
        x: 10; y: 52; width: 225; height: 738
        model: playlistSearchModel
        clip: true; cacheBuffer: 5000; boundsBehavior: Flickable.StopAtBounds
        section.property: "group"
        section.criteria: ViewSection.FullString
        section.delegate: PlaylistSection {
            width: tvListView.width
            height: section === "ungrouped" ? 0 : 20
            title: section
            onClicked: tvListView.currentGroup = section
        }
        delegate: PlaylistElement {
            width: tvListView.width
            height: model.group === tvListView.currentGroup ? 20 : 0
            visible: height > 0
            title: model.title; url: model.url; group: model.group
            favourite: model.favourite; selected: model.selected
            enableFavourites: true
        }
    }
}
)";

// Wall time is what the user sees; process CPU time stays meaningful on a busy machine.
struct Clock {
    QElapsedTimer wall;
    double cpu0 = 0;
    static double cpuNow()
    {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
    void start()
    {
        wall.start();
        cpu0 = cpuNow();
    }
    void restart() { start(); }
    double wallMs() const { return wall.nsecsElapsed() / 1e6; }
    double cpuMs() const { return cpuNow() - cpu0; }
};

bool waitFrame(QQuickWindow *w, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(w, &QQuickWindow::frameSwapped, &loop, &QEventLoop::quit);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    w->update();
    loop.exec();
    return timeout.isActive();
}

int delegateCount(QQuickItem *list)
{
    auto *content = list->property("contentItem").value<QQuickItem *>();
    int n = 0;
    for (QQuickItem *child : content->childItems()) {
        if (child->objectName() != QLatin1String("favouritesSection"))
            ++n;
    }
    return n;
}

// Frames until the delegate count stops changing (buffer delegates are built over
// several frames); returns the time it took.
double settle(QQuickWindow *w, QQuickItem *list, const Clock &since)
{
    int last = -1;
    int stable = 0;
    double at = since.wallMs();
    for (int i = 0; i < 200 && stable < 3; ++i) {
        waitFrame(w, 200);
        const int n = delegateCount(list);
        if (n == last) {
            ++stable;
        } else {
            stable = 0;
            at = since.wallMs();
        }
        last = n;
    }
    return at;
}

struct Stats {
    QVector<double> v;
    double median() const
    {
        QVector<double> s = v;
        std::sort(s.begin(), s.end());
        return s.isEmpty() ? 0 : s.at(s.size() / 2);
    }
    double max() const { return v.isEmpty() ? 0 : *std::max_element(v.cbegin(), v.cend()); }
};

}  // namespace

int main(int argc, char **argv)
{
    // One thread renders and builds, so CPU time covers both.
    qputenv("QSG_RENDER_LOOP", "basic");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"channels", "channels in the playlist", "n", "10000"});
    parser.addOption({"groups", "groups", "n", "50"});
    parser.addOption({"literal", "the plain design, for comparison"});
    parser.process(app);
    const int channels = parser.value("channels").toInt();
    const int groups = std::max(1, parser.value("groups").toInt());
    const bool literal = parser.isSet("literal");

    // The scene graph the player would pick here (NOVALINE_RENDERER=gl|software forces one).
    const bool software = RenderBackend::choose();
    registerQmlTypes();
    registerSceneTypes();

    Config config;
    PlaylistModel *model = config.playlistModel();
    QList<PlaylistModelItem *> items;
    const int perGroup = std::max(1, channels / groups);
    const QStringList words{"Новости", "News", "Кино", "Sport", "Музыка", "Kids", "Наука", "Travel"};
    for (int i = 0; i < channels; ++i) {
        const int g = std::min(groups - 1, i / perGroup);
        items << new PlaylistModelItem(i + 1,
                                       QString("%1 %2 канал %3").arg(words.at(i % words.size())).arg(i + 1).arg(g),
                                       QUrl(QString("http://127.0.0.1:9/live/%1.ts").arg(i + 1)),
                                       QString("Группа %1").arg(g, 2, 10, QLatin1Char('0')), QString(), 0,
                                       i % 97 == 0, nullptr);
    }
    model->append(items);

    // As the window builds them.
    QSortFilterProxyModel search;
    search.setSourceModel(model);
    search.setFilterRole(Qt::UserRole + 2);
    search.setFilterCaseSensitivity(Qt::CaseInsensitive);
    QSortFilterProxyModel favourites;
    favourites.setSourceModel(model);
    favourites.setFilterRole(Qt::UserRole + 5);
    favourites.setFilterFixedString("true");

    QQmlEngine engine;
    QObject viewer;
    QQmlContext *ctx = engine.rootContext();
    ctx->setContextProperty("viewer", &viewer);
    ctx->setContextProperty("config", &config);
    ctx->setContextProperty("playlistModel", model);
    ctx->setContextProperty("playlistSearchModel", &search);
    ctx->setContextProperty("playlistFavouritesModel", &favourites);
    ctx->setContextProperty("initialPlaylistState", true);

    QQuickWindow window;
    window.resize(600, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    waitFrame(&window);

    // Open: build the panel with a group in the middle open, until its first frame.
    const QString middle = QString("Группа %1").arg(groups / 2, 2, 10, QLatin1Char('0'));
    Clock t;
    t.start();
    QQmlComponent component(&engine);
    component.setData(literal ? kLiteral : kHarness, QUrl("qrc:/qml/BenchHarness.qml"));
    QObject *root = component.create();
    if (!root) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    auto *rootItem = qobject_cast<QQuickItem *>(root);
    auto *list = root->findChild<QQuickItem *>("tvListView");
    list->setProperty("currentGroup", middle);
    rootItem->setParentItem(window.contentItem());
    waitFrame(&window);
    const double openFirst = t.wallMs();
    const double openFirstCpu = t.cpuMs();
    const double openSettled = settle(&window, list, t);
    const int delegatesOpen = delegateCount(list);

    auto *sections = root->findChild<QObject *>("playlistSectionModel");

    // Switch the open group (to far-apart groups and back).
    Stats switchFirst, switchSettled, switchCpu;
    int delegatesMax = delegatesOpen;
    for (int k = 0; k < 6; ++k) {
        const int g = (k * 17 + 3) % groups;
        t.restart();
        list->setProperty("currentGroup", QString("Группа %1").arg(g, 2, 10, QLatin1Char('0')));
        waitFrame(&window);
        switchFirst.v << t.wallMs();
        switchCpu.v << t.cpuMs();
        while (sections && sections->property("pending").toBool())
            waitFrame(&window, 100);
        switchSettled.v << settle(&window, list, t);
        delegatesMax = std::max(delegatesMax, delegateCount(list));
    }

    // Type into the search field, one key per frame, then erase it again.
    auto *input = root->findChild<QQuickItem *>("searchInput");
    input->forceActiveFocus();
    waitFrame(&window);
    Stats keys, keysCpu, keysSettled;
    auto keystroke = [&](Qt::Key key, const QString &text) {
        t.restart();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&window, &press);
        QCoreApplication::sendEvent(&window, &release);
        // The first frame shows the filtered list's first rows; then it settles.
        waitFrame(&window);
        keys.v << t.wallMs();
        keysCpu.v << t.cpuMs();
        while (sections && sections->property("pending").toBool())
            waitFrame(&window, 100);
        keysSettled.v << t.wallMs();
        delegatesMax = std::max(delegatesMax, delegateCount(list));
    };
    const QString typed = QStringLiteral("канал 1");
    for (const QChar c : typed)
        keystroke(Qt::Key_unknown, QString(c));
    for (int i = 0; i < typed.size(); ++i)
        keystroke(Qt::Key_Backspace, QString());

    std::printf("playlist panel, %d channels in %d groups%s, %s scene graph\n", channels, groups,
                literal ? " (plain list, for comparison)" : "", software ? "software" : "OpenGL");
    std::printf("  delegates after opening        %6d\n", delegatesOpen);
    std::printf("  delegates at most              %6d\n", delegatesMax);
    std::printf("  open, first frame              %8.1f ms (cpu %.1f ms)\n", openFirst, openFirstCpu);
    std::printf("  open, settled                  %8.1f ms\n", openSettled);
    std::printf("  switch group, first frame      %8.1f ms median, %8.1f ms max\n",
                switchFirst.median(), switchFirst.max());
    std::printf("  switch group, first frame cpu  %8.1f ms median, %8.1f ms max\n",
                switchCpu.median(), switchCpu.max());
    std::printf("  switch group, settled          %8.1f ms median, %8.1f ms max\n",
                switchSettled.median(), switchSettled.max());
    std::printf("  search keystroke to frame      %8.1f ms median, %8.1f ms max (%d keys)\n",
                keys.median(), keys.max(), int(keys.v.size()));
    std::printf("  search keystroke, settled      %8.1f ms median, %8.1f ms max\n",
                keysSettled.median(), keysSettled.max());
    std::printf("  search keystroke cpu           %8.1f ms median, %8.1f ms max\n",
                keysCpu.median(), keysCpu.max());
    delete root;
    return 0;
}
