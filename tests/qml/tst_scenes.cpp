// The player scenes driven like a user would: the real window (VideoForm) and Config
// against the operator test server, real streams through the video module, mouse and
// keys sent to the window, objects found by objectName.
#include "config.h"
#include "jtvmodel.h"
#include "playlistmodel.h"
#include "videoform.h"
#include "../player/windowprobe.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlListReference>
#include <QQmlProperty>
#include <QQuickItem>
#include <QSGRendererInterface>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum { VlcPlaying = 3, VlcPaused = 4 };
enum { RatioOriginal = 0, Ratio16x9 = 2, Ratio4x3 = 8, Ratio5x4 = 9 };

struct Channel {
    QString title;
    QString group;
    QString stream;
    QString jtv;
};

// Ids follow document order: 0..6.
const QList<Channel> kChannels = {
    {"Первый тестовый", "Эфир", "live-a.ts", "ch0"},
    {"Второй канал", "Эфир", "live-b.ts", "ch1"},
    {"Третий", "Эфир", "live-c.ts", ""},
    {"World News", "News", "live-d.ts", "ch3"},
    {"Euro NEWS", "News", "live-e.ts", ""},
    {"Loose One", "", "live-f.ts", ""},
    {"Loose Two", "", "live-g.ts", ""},
};


void findAll(QQuickItem *root, const QString &name, QList<QQuickItem *> &out)
{
    if (!root)
        return;
    if (root->objectName() == name)
        out << root;
    for (QQuickItem *child : root->childItems())
        findAll(child, name, out);
}

// Warnings of the scene files (a binding that fails, a missing property): each fails the
// test it comes in.
QStringList sceneWarnings;
QtMessageHandler previousHandler = nullptr;

void recordSceneWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.contains(QLatin1String("qrc:/qml/")))
        sceneWarnings << text;
    previousHandler(type, context, text);
}

}  // namespace

class TstScenes : public QObject
{
    Q_OBJECT

public:
    QTemporaryDir dir;
    QProcess server;
    QString base;
    Config *config = nullptr;
    VideoForm *form = nullptr;

    QQuickItem *item(const QString &name)
    {
        return findItem(form->contentItem(), name);
    }
    QObject *object(const QString &name)
    {
        return form->rootObject() ? form->rootObject()->findChild<QObject *>(name) : nullptr;
    }
    QVariant prop(const QString &name, const char *property)
    {
        QObject *o = item(name);
        if (!o)
            o = object(name);
        return o ? o->property(property) : QVariant();
    }
    QPoint centre(QQuickItem *i)
    {
        return i->mapToScene(QPointF(i->width() / 2, i->height() / 2)).toPoint();
    }
    QPoint picturePoint() { return QPoint(form->width() / 3, form->height() / 2); }
    void hover(const QPoint &p)
    {
        QTest::mouseMove(form, p);
        QCoreApplication::processEvents();
    }
    // Lets pending list updates and layout reach the screen before a position is taken.
    void settle()
    {
        QSignalSpy frame(form, &QQuickWindow::frameSwapped);
        form->update();
        frame.wait(1000);
        QObject *sections = object("playlistSectionModel");
        if (sections)
            QTRY_VERIFY(!sections->property("pending").toBool());
    }
    void click(QQuickItem *i, Qt::MouseButton b = Qt::LeftButton)
    {
        settle();
        QVERIFY(i);
        const QPoint p = centre(i);
        hover(p);
        QTest::mouseClick(form, b, Qt::NoModifier, p);
    }
    void key(Qt::Key k) { QTest::keyClick(form, k); }
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(form, c.toLatin1());
    }
    int playerState() { return prop("videoPlayer", "state").toInt(); }
    QVariant setting(const QString &key) { return config->settings()->value(key); }
    QList<QQuickItem *> entries(const QString &name = "playlistEntry")
    {
        QList<QQuickItem *> out;
        findAll(item("tvListView"), name, out);
        return out;
    }
    QQuickItem *entry(const QString &title)
    {
        for (QQuickItem *e : entries()) {
            if (e->property("title").toString() == title && e->height() > 0)
                return e;
        }
        return nullptr;
    }
    QQuickItem *header(const QString &group)
    {
        QList<QQuickItem *> out;
        findAll(item("tvListView"), "sectionHeader", out);
        for (QQuickItem *h : out) {
            if (h->property("title").toString() == group)
                return h;
        }
        return nullptr;
    }
    QStringList visibleTitles()
    {
        QStringList out;
        for (QQuickItem *e : entries())
            out << e->property("title").toString();
        out.sort();
        return out;
    }
    bool waitPlaying(const QString &url)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 15000) {
            if (playerState() == VlcPlaying && prop("videoPlayer", "url").toUrl().toString() == url)
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    // The entries of a menu, without the helper objects it also holds.
    QList<QObject *> menuItems(QObject *menu)
    {
        QList<QObject *> out;
        QQmlListReference items(menu, "items");
        for (int i = 0; i < items.count(); ++i) {
            QObject *o = items.at(i);
            if (o && o->metaObject()->indexOfProperty("checkable") >= 0)
                out << o;
        }
        return out;
    }
    QStringList entryTexts(const QList<QObject *> &items)
    {
        QStringList out;
        for (QObject *o : items)
            out << o->property("text").toString();
        return out;
    }
    // Pictures of the player for a person to look at, when NOVALINE_SCREENSHOT_DIR is set.
    void screenshot(const QString &name)
    {
        const QString folder = qEnvironmentVariable("NOVALINE_SCREENSHOT_DIR");
        if (!folder.isEmpty()) {
            QTest::qWait(300);
            QDir().mkpath(folder);
            form->grabWindow().save(folder + "/" + name + ".png");
        }
    }
    QString streamUrl(int id) { return base + "/live/" + kChannels.at(id).stream; }

private slots:
    void cleanup() { QVERIFY2(sceneWarnings.isEmpty(), qPrintable(sceneWarnings.join('\n'))); }

    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(recordSceneWarnings);
        QVERIFY(dir.isValid());
        const QString src = qEnvironmentVariable("NOVALINE_SOURCE_DIR");
        QVERIFY2(!src.isEmpty(), "NOVALINE_SOURCE_DIR is not set");
        QProcess media;
        media.start(src + "/tools/make-media", {"--only", "live,clip-720p", "--duration", "6", dir.path()});
        QVERIFY(media.waitForFinished(120000));
        QCOMPARE(media.exitCode(), 0);
        for (const Channel &c : kChannels)
            QVERIFY(QFile::link(dir.path() + "/live.ts", dir.path() + "/" + c.stream));

        // The configuration document and a guide around now for three channels.
        QJsonArray iptv;
        QJsonObject guide;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 today = QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
        for (const Channel &c : kChannels) {
            QJsonObject o{{"title", c.title}, {"stream", "{{BASE}}/live/" + c.stream},
                          {"groupTitle", c.group}, {"jtv", c.jtv}};
            if (c.title == "Второй канал")
                o["aspect"] = "16:9";
            iptv.append(o);
            if (!c.jtv.isEmpty()) {
                // Every 30 minutes before today and after the next hour; in between the
                // running programme, which for the first channel is the first of its day
                // and for the others is not, whatever the time of day.
                QJsonArray progs;
                auto add = [&](qint64 t) {
                    progs.append(QJsonObject{{"title", QString("%1 %2").arg(c.title).arg(t)}, {"time", t}});
                };
                for (qint64 t = today - 2 * 86400; t < today; t += 1800)
                    add(t);
                add(today);
                if (c.jtv != "ch0")
                    add(std::min(today + 1, now));
                for (qint64 t = now + 3600; t < now + 2 * 86400; t += 1800)
                    add(t);
                guide[c.jtv] = progs;
            }
        }
        QJsonObject doc{{"iptv", iptv}, {"iptvJtvWeek", "{{BASE}}/media/jtv.json"},
                        {"iptv_updates", QJsonArray()}};
        QFile f(dir.path() + "/config.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(doc).toJson());
        f.close();
        QFile g(dir.path() + "/jtv.json");
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(QJsonDocument(guide).toJson(QJsonDocument::Compact));
        g.close();

        server.setProgram(src + "/tools/operator-server");
        server.setArguments({"--root", dir.path(), "--port", "0", "--port-file",
                             dir.path() + "/port", "--quiet"});
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start();
        QVERIFY(server.waitForStarted());
        QVERIFY(server.waitForReadyRead(20000));
        const QString line = QString::fromUtf8(server.readLine()).trimmed();
        QVERIFY2(line.startsWith("PORT "), qPrintable(line));
        base = "http://127.0.0.1:" + line.mid(5);
        qputenv("NOVALINE_CONFIG_SERVER", base.toUtf8());

        config = new Config;
        form = new VideoForm(config);
        // No sound device on the test machine: keep libVLC from retrying one per stream.
        qputenv("VLC_ARGS", qgetenv("VLC_ARGS") + " --aout=adummy");
        form->restoreAndShow();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        config->updateConfig(QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(form->formLoaded(), 20000);
        form->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }

    // Every case starts from the same scene, whatever ran before it: channel 0 of the
    // channel list playing in a window, overlays shown, the panel open on the
    // ungrouped channels, volume 50, nothing typed, the pointer over the picture.
    void init()
    {
        sceneWarnings.clear();
        if (config->mode() != Config::Iptv || !config->holdsChannels()) {
            QSignalSpy loaded(config, &Config::playlistLoaded);
            config->setMode(Config::Iptv);
            config->updateConfig(QUrl());
            QVERIFY(loaded.wait(10000));
        }
        if (form->isFullscreen())
            form->toggleFullscreen();
        QTRY_VERIFY(!form->isFullscreen());
        form->requestActivate();
        item("videoForm")->forceActiveFocus();
        if (prop("controls", "state").toString() == QLatin1String("jtv"))
            key(Qt::Key_T);
        if (!prop("playlist", "isActive").toBool())
            key(Qt::Key_P);
        QObject *slider = item("volumeSlider");
        slider->metaObject()->invokeMethod(slider, "setValue", Q_ARG(QVariant, 50));
        if (prop("videoPlayer", "url").toUrl().toString() != streamUrl(0) || playerState() != VlcPlaying)
            form->playTv(0);
        QVERIFY(waitPlaying(streamUrl(0)));
        hover(picturePoint());
        settle();
    }

    void cleanupTestCase()
    {
        delete form;
        delete config;
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(3000))
                server.kill();
        }
    }

    void loaderChrome()
    {
        QVERIFY(!prop("spinner", "visible").toBool());
        const bool composition = prop("loaderRoot", "compositionEnabled").toBool();
        const int m = composition ? 10 : 1;
        QCOMPARE(form->minimumWidth(), 368 + 2 * m);
        QCOMPARE(form->minimumHeight(), 276 + 2 * m);
        QQuickItem *area = item("videoArea");
        QCOMPARE(area->x(), qreal(m));
        QCOMPARE(area->width(), form->width() - 2.0 * m);
    }

    void firstChannelPlaysAndShows()
    {
        // No "lastUrl": the first row plays.
        QVERIFY2(waitPlaying(streamUrl(0)), qPrintable(prop("videoPlayer", "url").toString()));
        QCOMPARE(prop("channelTitle", "text").toString(), kChannels.at(0).title);
        QCOMPARE(prop("channelGroup", "text").toString(), QString("Эфир|"));
        // Its group is open in the playlist and its row carries the bullet.
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("Эфир"));
        QTRY_VERIFY(entry(kChannels.at(0).title));
        QQuickItem *row = entry(kChannels.at(0).title);
        QVERIFY(row->property("current").toBool());
        QVERIFY(findItem(row, "bullet")->isVisible());
        QVERIFY(!findItem(entry("Второй канал"), "bullet")->isVisible());

        // The picture shows: the pattern's red corner at the top left of the painted rect.
        QQuickItem *out = item("videoOutput");
        QTRY_VERIFY_WITH_TIMEOUT(out->property("paintedRect").toRectF().width() > 0, 10000);
        const QRectF r = out->property("paintedRect").toRectF();
        const QPoint p = out->mapToScene(QPointF(r.x() + r.width() * 0.15, r.y() + r.height() * 0.3)).toPoint();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QColor c = form->grabWindow().pixelColor(p * form->devicePixelRatio());
                return c.red() > 150 && c.green() < 90 && c.blue() < 90;
            }(),
            10000);
        // On the scene graph the run asked for (the suite runs once per backend).
        const QByteArray wanted = qgetenv("NOVALINE_RENDERER");
        if (!wanted.isEmpty())
            QCOMPARE(form->rendererInterface()->graphicsApi() == QSGRendererInterface::Software,
                     wanted == "software");
    }

    void arrowKeysSwitchChannels()
    {
        hover(picturePoint());
        screenshot("normal");
        key(Qt::Key_Right);
        QCOMPARE(form->currentItem().id(), 1);
        QVERIFY(waitPlaying(streamUrl(1)));
        QCOMPARE(prop("channelTitle", "text").toString(), QString("Второй канал"));
        // The channel's own aspect rules the output.
        QCOMPARE(prop("videoOutput", "aspectRatio").toInt(), int(Ratio16x9));
        QCOMPARE(setting("lastUrl").toUrl().toString(), streamUrl(1));
        key(Qt::Key_Left);
        QCOMPARE(form->currentItem().id(), 0);
        QVERIFY(waitPlaying(streamUrl(0)));
        QCOMPARE(prop("videoOutput", "aspectRatio").toInt(), int(RatioOriginal));
    }

    void volumeKeysAndWheel()
    {
        QObject *slider = item("volumeSlider");
        const double start = slider->property("value").toDouble();
        QCOMPARE(qRound(start), 50);  // fresh store
        key(Qt::Key_Up);
        QCOMPARE(qRound(slider->property("value").toDouble()), 60);
        QCOMPARE(setting("playerVolume").toInt(), 60);
        QCOMPARE(prop("videoPlayer", "volume").toInt(), 60);
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        QCOMPARE(qRound(slider->property("value").toDouble()), 40);
        QCOMPARE(setting("playerVolume").toInt(), 40);
        // One wheel notch over the picture adds 15.
        const QPoint p = picturePoint();
        hover(p);
        QWheelEvent wheel(p, form->mapToGlobal(p), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(form, &wheel);
        QCOMPARE(qRound(slider->property("value").toDouble()), 55);
        QCOMPARE(setting("playerVolume").toInt(), 55);
        // Over the playlist panel the wheel scrolls the list, never the volume.
        const QPoint overList = centre(item("tvListView"));
        hover(overList);
        QWheelEvent wheel2(overList, form->mapToGlobal(overList), QPoint(), QPoint(0, 120),
                           Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(form, &wheel2);
        QCOMPARE(qRound(slider->property("value").toDouble()), 55);
        // The volume never leaves 0..200.
        for (int i = 0; i < 20; ++i)
            key(Qt::Key_Up);
        QCOMPARE(qRound(slider->property("value").toDouble()), 200);
        for (int i = 0; i < 20; ++i)
            key(Qt::Key_Down);
        QCOMPARE(qRound(slider->property("value").toDouble()), 0);
        slider->metaObject()->invokeMethod(slider, "setValue", Q_ARG(QVariant, 50));
    }

    void muteRestoresVolume()
    {
        QQuickItem *mute = item("muteButton");
        QObject *slider = item("volumeSlider");
        const QVariant stored = setting("playerVolume");
        click(mute);
        QCOMPARE(qRound(slider->property("value").toDouble()), 0);
        QCOMPARE(prop("videoPlayer", "volume").toInt(), 0);
        QCOMPARE(prop("bubbleText", "text").toString(), QString("Вкл. звук"));
        QCOMPARE(mute->property("image").toString(), QString("../images/volOff.png"));
        click(mute);
        QCOMPARE(qRound(slider->property("value").toDouble()), 50);
        QCOMPARE(prop("bubbleText", "text").toString(), QString("Выкл. звук"));
        // Muting never writes the stored volume.
        QCOMPARE(setting("playerVolume"), stored);
    }

    void volumeSliderClicks()
    {
        QQuickItem *slider = item("volumeSlider");
        // The last pixel of the track gives 200, never more.
        QPoint end = slider->mapToScene(QPointF(slider->width() - 1, slider->height() / 2)).toPoint();
        hover(end);
        QTest::mouseClick(form, Qt::LeftButton, Qt::NoModifier, end);
        QCOMPARE(slider->property("value").toDouble(), 200.0);
        QCOMPARE(setting("playerVolume").toInt(), 200);
        QPoint mid = slider->mapToScene(QPointF(30, slider->height() / 2)).toPoint();
        QTest::mouseClick(form, Qt::LeftButton, Qt::NoModifier, mid);
        QCOMPARE(qRound(slider->property("value").toDouble()), 100);
        QCOMPARE(setting("playerVolume").toInt(), 100);
        // Between whole values: what is stored is what plays, rounded, not cut off.
        for (int x : {3, 17, 29, 44, 58}) {
            const QPoint at = slider->mapToScene(QPointF(x, slider->height() / 2)).toPoint();
            QTest::mouseClick(form, Qt::LeftButton, Qt::NoModifier, at);
            const int rounded = qRound(slider->property("value").toDouble());
            QCOMPARE(setting("playerVolume").toInt(), rounded);
            QCOMPARE(prop("videoPlayer", "volume").toInt(), rounded);
        }
    }

    void spacePauses()
    {
        QVERIFY(waitPlaying(streamUrl(0)));
        key(Qt::Key_Space);
        QTRY_COMPARE(playerState(), int(VlcPaused));
        QCOMPARE(item("playPauseButton")->property("image").toString(), QString("../images/playButton.png"));
        // The guide does not open while paused.
        key(Qt::Key_T);
        QVERIFY(prop("controls", "state").toString() != QString("jtv"));
        key(Qt::Key_Space);
        QTRY_COMPARE(playerState(), int(VlcPlaying));
    }

    void liveStreamHasNoSeekBarOrTimes()
    {
        QCOMPARE(prop("videoPlayer", "seekable").toBool(), false);
        QVERIFY(!item("seekbar")->isVisible());
        QVERIFY(!item("currentTimeText")->isVisible());
    }

    void pictureSizeCycles()
    {
        QQuickItem *button = item("aspectButton");
        QStringList names{button->property("stateName").toString()};
        QStringList tips;
        for (int i = 0; i < 3; ++i) {
            click(button);
            names << button->property("stateName").toString();
            tips << prop("bubbleText", "text").toString();
        }
        QCOMPARE(names, QStringList({"Оригинал", "4:3", "16:9", "Оригинал"}));
        QCOMPARE(tips.first(), QString("Размер изображения (4:3)"));
        // A ratio from the menu shows as other; the next click returns to the source ratio.
        item("videoOutput")->setProperty("aspectRatio", int(Ratio5x4));
        QCOMPARE(button->property("stateName").toString(), QString("Другое"));
        click(button);
        QCOMPARE(prop("videoOutput", "aspectRatio").toInt(), int(RatioOriginal));
    }

    void bubbleStaysInsideAtTheRightEdge()
    {
        QQuickItem *button = item("fullscreenButton");
        hover(centre(button));
        QQuickItem *bubble = item("bubble");
        QTRY_VERIFY(bubble->isVisible());
        QCOMPARE(prop("bubbleText", "text").toString(), QString("Полноэкранный режим"));
        const qreal sceneWidth = item("videoForm")->width();
        QCOMPARE(bubble->x() + bubble->width(), sceneWidth - 5);
        // Its pointer stays under the button's centre.
        const qreal pointerCentre = bubble->x() + bubble->property("pointerX").toDouble() + 5;
        const qreal buttonCentre = button->mapToItem(item("videoForm"), QPointF(button->width() / 2, 0)).x();
        QCOMPARE(pointerCentre, buttonCentre);
        QVERIFY(bubble->y() + bubble->height() < button->mapToItem(item("videoForm"), QPointF()).y());
        hover(picturePoint());
        QVERIFY(!bubble->isVisible());
    }

    void overlaysFollowThePointerInAWindow()
    {
        hover(picturePoint());
        QTRY_COMPARE(prop("controls", "state").toString(), QString("normal"));
        // Leaving the window hides them at once.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(form, &leave);
        QTRY_COMPARE(prop("controls", "state").toString(), QString("hidden"));
        QTRY_COMPARE(item("controls")->opacity(), 0.0);
        screenshot("hidden");
        hover(picturePoint() + QPoint(3, 3));
        QTRY_COMPARE(prop("controls", "state").toString(), QString("normal"));
        QTRY_COMPARE(item("controls")->opacity(), 0.8);
    }

    void playlistGroups()
    {
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("Эфир"));
        QCOMPARE(visibleTitles(), QStringList({"Второй канал", "Первый тестовый", "Третий"}));
        // Opening another section hides the rows of the playing channel's group.
        click(header("News"));
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("News"));
        QTRY_COMPARE(visibleTitles(), QStringList({"Euro NEWS", "World News"}));
        // Clicking the open section's header shows the entries without a group.
        click(header("News"));
        QTRY_COMPARE(visibleTitles(), QStringList({"Loose One", "Loose Two"}));
        // The entries without a group have no header.
        QVERIFY(!header("ungrouped"));
        // A click selects, a double click plays.
        QTRY_VERIFY(entry("Loose Two"));
        click(entry("Loose Two"));
        QCOMPARE(config->playlistModel()->selectedItemId(), 6);
        QTRY_VERIFY(entry("Loose Two") && entry("Loose Two")->property("selected").toBool());
        const QPoint p = centre(entry("Loose Two"));
        QTest::mouseDClick(form, Qt::LeftButton, Qt::NoModifier, p);
        QCOMPARE(form->currentItem().id(), 6);
        QVERIFY(waitPlaying(streamUrl(6)));
        QCOMPARE(prop("channelGroup", "text").toString(), QString());
        QTRY_VERIFY2(entry("Loose Two") && entry("Loose Two")->property("current").toBool(),
                     qPrintable(visibleTitles().join(',') + " group " + prop("tvListView", "currentGroup").toString()
                                + " count " + QString::number(prop("playlistSectionModel", "count").toInt())
                                + " src " + QString::number(config->playlistModel()->rowCount())
                                + " url " + prop("videoPlayer", "url").toString()
                                + " state " + QString::number(playerState())));
        form->playTv(0);
        QVERIFY(waitPlaying(streamUrl(0)));
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("Эфир"));
    }

    void favouritesSection()
    {
        QQuickItem *favHeader = item("favouritesHeader");
        QVERIFY(favHeader && favHeader->isVisible());
        click(favHeader);
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("Я люблю"));
        QTRY_VERIFY(item("favouritesEmptyText")->isVisible());
        QCOMPARE(prop("favouritesEmptyText", "text").toString(), QString("Здесь пока пусто"));
        // Switching channels keeps the favourites section open.
        key(Qt::Key_Right);
        QVERIFY(waitPlaying(streamUrl(1)));
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("Я люблю"));
        key(Qt::Key_Left);
        QVERIFY(waitPlaying(streamUrl(0)));

        // Love a channel from its group: the heart shows under the pointer, a click adds it.
        click(header("Эфир"));
        QTRY_VERIFY(entry("Третий"));
        QQuickItem *row = entry("Третий");
        QQuickItem *heart = findItem(row, "heartButton");
        hover(centre(row));
        QCOMPARE(row->property("heartState").toString(), QString("channelHover"));
        const double dim = row->property("heartLightness").toDouble();
        click(heart);
        QCOMPARE(row->property("heartState").toString(), QString("infavhover"));
        // A loved channel's heart under the pointer stands out from a plain row's.
        QVERIFY(row->property("heartLightness").toDouble() > dim);
        QVERIFY(dim > 0);
        QTRY_VERIFY(row->property("favourite").toBool());
        QVERIFY(config->playlistModel()->item(2)->favourite());
        click(item("favouritesHeader"));
        QTRY_VERIFY(!item("favouritesEmptyText")->isVisible());
        screenshot("favourites");
        QList<QQuickItem *> favs;
        findAll(item("tvListView"), "favouriteEntry", favs);
        QCOMPARE(favs.size(), 1);
        QCOMPARE(favs.first()->property("title").toString(), QString("Третий"));
        // Its heart removes it from the favourites and from the channel in its group.
        click(findItem(favs.first(), "heartButton"));
        QTRY_VERIFY(item("favouritesEmptyText")->isVisible());
        QVERIFY(!config->playlistModel()->item(2)->favourite());
        click(item("favouritesHeader"));
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("ungrouped"));

        // A channel without a group stands as far in as in the main list.
        QTRY_VERIFY(entry("Loose One"));
        const qreal mainX = findItem(entry("Loose One"), "titleText")->x();
        QVERIFY(config->playlistModel()->setData(5, true, PlaylistModel::FavouriteRole));
        click(item("favouritesHeader"));
        favs.clear();
        QTRY_VERIFY(!item("favouritesEmptyText")->isVisible());
        findAll(item("tvListView"), "favouriteEntry", favs);
        QStringList favTitles;
        for (QQuickItem *f : favs)
            favTitles << f->property("title").toString() + QString::number(f->height());
        QVERIFY2(favs.size() == 1, qPrintable(favTitles.join(',')));
        QCOMPARE(findItem(favs.first(), "titleText")->x(), mainX);
        QVERIFY(config->playlistModel()->setData(5, false, PlaylistModel::FavouriteRole));
        click(item("favouritesHeader"));
        form->playTv(0);
    }

    void searchFiltersByTitle()
    {
        settle();
        click(header("News"));
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("News"));
        QQuickItem *input = item("searchInput");
        QCOMPARE(input->property("text").toString(), QString("Поиск..."));
        click(input);
        QVERIFY(input->hasActiveFocus());
        QCOMPARE(input->property("text").toString(), QString());
        type("NEWS");
        QCOMPARE(input->property("text").toString(), QString("NEWS"));
        QTRY_COMPARE(visibleTitles(), QStringList({"Euro NEWS", "World News"}));
        QTest::keyClick(form, Qt::Key_Backspace);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(form, Qt::Key_Backspace);
        type("wORLD n");
        // Any letter case; only matching titles remain, the other groups lose their headers.
        QTRY_COMPARE(visibleTitles(), QStringList({"World News"}));
        QTRY_VERIFY(!header("Эфир"));
        QVERIFY(item("clearSearchButton")->isVisible());
        // Keys go to the field, not to the player.
        QCOMPARE(form->currentItem().id(), 0);
        // Clicking the video restores the placeholder and the full list.
        hover(picturePoint());
        QTest::mouseClick(form, Qt::LeftButton, Qt::NoModifier, picturePoint());
        QCOMPARE(input->property("text").toString(), QString("Поиск..."));
        QTRY_COMPARE(visibleTitles(), QStringList({"Euro NEWS", "World News"}));
        QTRY_VERIFY(header("Эфир"));
        QVERIFY(!item("clearSearchButton")->isVisible());
        // Focus brings the typed text and its filter back; the clear button empties it.
        click(input);
        QCOMPARE(input->property("text").toString(), QString("wORLD n"));
        QTRY_COMPARE(visibleTitles(), QStringList({"World News"}));
        click(item("clearSearchButton"));
        QCOMPARE(input->property("text").toString(), QString("Поиск..."));
        QVERIFY(!input->hasActiveFocus());
        QTRY_COMPARE(visibleTitles(), QStringList({"Euro NEWS", "World News"}));
    }

    void guidePanel_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("firstOfDay");
        QTest::newRow("a later programme of the day") << 1 << false;
        QTest::newRow("the programme opens its day") << 0 << true;
    }
    void guidePanel()
    {
        QFETCH(int, channel);
        QFETCH(bool, firstOfDay);
        form->playTv(channel);
        QVERIFY(waitPlaying(streamUrl(channel)));
        auto *jtv = config->jtvModel();
        QTRY_VERIFY_WITH_TIMEOUT(jtv->currentIndex() > -1, 10000);
        QVERIFY(item("programmTitleText")->isVisible());
        QCOMPARE(prop("programmTitleText", "text").toString(), jtv->currentTitle());
        QVERIFY(prop("startTimeText", "text").toString().contains(" - "));
        // Closed, the panel builds no rows for the new guide: a channel change stays cheap.
        QList<QQuickItem *> built;
        findAll(item("jtvList"), "programmeRow", built);
        QVERIFY2(built.size() < 5, qPrintable(QString::number(built.size())));
        form->requestActivate();
        item("videoForm")->forceActiveFocus();
        key(Qt::Key_T);
        QCOMPARE(prop("controls", "state").toString(), QString("jtv"));
        QQuickItem *panel = item("jtvItem");
        QTRY_COMPARE(panel->y(), 0.0);
        QQuickItem *list = item("jtvList");
        QTRY_VERIFY(list->height() > 200);
        // The current programme right under its day header at the top, highlighted.
        QList<QQuickItem *> rows;
        findAll(list, "programmeRow", rows);
        QQuickItem *current = nullptr;
        for (QQuickItem *r : rows) {
            if (r->property("isCurrent").toBool())
                current = r;
        }
        QVERIFY(current);
        QCOMPARE(current->mapToItem(list, QPointF()).y(), 45.0);
        screenshot("guide");
        const int index = jtv->currentIndex();
        QCOMPARE(index == 0 || jtv->item(index - 1)->start().date() != jtv->item(index)->start().date(), firstOfDay);
        QCOMPARE(current->property("textColor").value<QColor>(), QColor("#afe2ff"));
        if (!firstOfDay) {
            key(Qt::Key_T);
            QTRY_COMPARE(panel->height(), 0.0);
            return;
        }
        // Playlist and texts fade out; the guide button is drawn selected.
        QTRY_COMPARE(item("playlist")->opacity(), 0.0);
        QVERIFY(item("jtvButton")->property("selected").toBool());
        // The wheel over the panel scrolls it and leaves the volume alone.
        const double volume = prop("volumeSlider", "value").toDouble();
        const qreal y0 = list->property("contentY").toReal();
        const QPoint p = centre(list);
        hover(p);
        QWheelEvent wheel(p, form->mapToGlobal(p), QPoint(), QPoint(0, -360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(form, &wheel);
        QTRY_VERIFY(list->property("contentY").toReal() > y0);
        QCOMPARE(prop("volumeSlider", "value").toDouble(), volume);
        // Mouse movement does not hide anything while the guide is open.
        hover(picturePoint() + QPoint(7, 7));
        QCOMPARE(prop("controls", "state").toString(), QString("jtv"));
        key(Qt::Key_T);
        QCOMPARE(prop("controls", "state").toString(), QString("normal"));
        QTRY_COMPARE(panel->height(), 0.0);
    }

    void contextMenuEntries()
    {
        // A right click opens the menu, also while it is still unbuilt.
        QObject *loader = object("contextMenuLoader");
        for (const bool built : {true, false}) {
            loader->setProperty("active", built);
            QTRY_COMPARE(object("contextMenu") != nullptr, built);
            QTest::mouseClick(form, Qt::RightButton, Qt::NoModifier, picturePoint());
            QTRY_VERIFY(object("contextMenu") && object("contextMenu")->property("__popupVisible").toBool());
            QMetaObject::invokeMethod(object("contextMenu"), "__dismissMenu");
            QTRY_VERIFY(!object("contextMenu")->property("__popupVisible").toBool());
        }
        QObject *menu = object("contextMenu");
        auto byName = [&](const char *name) { return menu->findChild<QObject *>(name); };
        QVERIFY(byName("pauseItem")->property("visible").toBool());
        QVERIFY(!byName("playItem")->property("visible").toBool());
        QVERIFY(byName("jtvItem")->property("visible").toBool());
        QVERIFY(byName("jtvSeparator")->property("visible").toBool());
        // A live stream with one audio track: the audio list has "отключить" and the track.
        QObject *audio = byName("audioTrackMenu");
        QTRY_VERIFY(audio->property("enabled").toBool());
        QVERIFY(!byName("subtitleTrackMenu")->property("enabled").toBool());
        QStringList texts;
        QObject *checked = nullptr;
        const QList<QObject *> items = menuItems(audio);
        for (QObject *mi : items) {
            texts << mi->property("text").toString();
            if (mi->property("checked").toBool())
                checked = mi;
        }
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts.first(), QString("отключить"));
        QVERIFY(checked && checked != items.first());
        // Choosing "отключить" switches the audio off.
        QMetaObject::invokeMethod(items.first(), "trigger");
        QTRY_COMPARE(prop("videoPlayer", "audioTrack").toInt(), -1);
        QVERIFY(items.first()->property("checked").toBool());

        // "Поверх всех окон" follows the window.
        QObject *top = byName("stayOnTopItem");
        QVERIFY(!top->property("checked").toBool());
        QMetaObject::invokeMethod(top, "trigger");
        QVERIFY(form->flags() & Qt::WindowStaysOnTopHint);
        QVERIFY(top->property("checked").toBool());
        form->setStayOnTop(false);
        QVERIFY(!top->property("checked").toBool());
        // Ratio lists check the current value; a choice replaces it.
        QObject *crop = byName("cropMenu");
        const QList<QObject *> crops = menuItems(crop);
        // In the model's order, although the scene loads in the background.
        QCOMPARE(entryTexts(crops), QStringList({"по умолчанию", "16:9", "16:10", "185:100", "221:100", "235:100",
                                            "239:100", "4:3", "5:4", "5:3", "1:1"}));
        QCOMPARE(entryTexts(menuItems(byName("aspectMenu"))), entryTexts(crops));
        QVERIFY(crops.at(0)->property("checked").toBool());
        QCOMPARE(QQmlProperty::read(item("videoOutput"), "anchors.topMargin").toReal(), -10.0);
        QMetaObject::invokeMethod(crops.at(7), "trigger");  // 4:3
        QCOMPARE(prop("videoOutput", "cropRatio").toInt(), int(Ratio4x3));
        QVERIFY(crops.at(7)->property("checked").toBool());
        QVERIFY(!crops.at(0)->property("checked").toBool());
        QCOMPARE(QQmlProperty::read(item("videoOutput"), "anchors.topMargin").toReal(), 0.0);
        QMetaObject::invokeMethod(crops.at(0), "trigger");
        QCOMPARE(QQmlProperty::read(item("videoOutput"), "anchors.topMargin").toReal(), -10.0);
        QObject *deint = byName("deinterlacingMenu");
        const QList<QObject *> modes = menuItems(deint);
        QCOMPARE(modes.size(), 11);
        QCOMPARE(entryTexts(modes), QStringList({"отключено", "Отбрасывание", "Смешивание", "Среднее", "Удвоение",
                                            "Линейное", "X", "Yadif", "Yadif(2x)", "Фоспор", "NTSC(IVTC)"}));
        QVERIFY(modes.at(6)->property("checked").toBool());  // X, the default
        QMetaObject::invokeMethod(modes.at(7), "trigger");
        QCOMPARE(prop("videoPlayer", "deinterlacing").toInt(), 7);
        // Pause from the menu swaps the entries.
        QMetaObject::invokeMethod(byName("pauseItem"), "trigger");
        QTRY_COMPARE(playerState(), int(VlcPaused));
        QVERIFY(byName("playItem")->property("visible").toBool());
        QMetaObject::invokeMethod(byName("playItem"), "trigger");
        QTRY_COMPARE(playerState(), int(VlcPlaying));
    }

    void fullScreenHidesControlsAfterTwoSeconds()
    {
        form->requestActivate();
        item("videoForm")->forceActiveFocus();
        key(Qt::Key_F);
        QTRY_VERIFY(form->isFullscreen());
        QVERIFY(!item("cornerButton")->isVisible());
        QCOMPARE(item("videoArea")->x(), 0.0);
        QTRY_COMPARE(item("fullscreenButton")->property("image").toString(), QString("../images/screenFull.png"));
        QTest::qWait(100);
        hover(picturePoint());
        // The clock starts before the movement that restarts the timer: on a busy machine
        // handling that movement takes a while, and a coarse 2 s timer may end at 1.9 s.
        QElapsedTimer t;
        t.start();
        hover(picturePoint() + QPoint(5, 5));
        QCOMPARE(prop("controls", "state").toString(), QString("normal"));
        QTRY_COMPARE_WITH_TIMEOUT(prop("controls", "state").toString(), QString("hidden"), 5000);
        QVERIFY(t.elapsed() >= 1900);
        QCOMPARE(prop("globalMouseArea", "cursorShape").toInt(), int(Qt::BlankCursor));
        screenshot("fullscreen-hidden");
        // Movement brings them and the arrow back.
        hover(picturePoint() + QPoint(9, 9));
        screenshot("fullscreen");
        QCOMPARE(prop("controls", "state").toString(), QString("normal"));
        QCOMPARE(prop("globalMouseArea", "cursorShape").toInt(), int(Qt::ArrowCursor));
        // Resting on the control bar keeps them after the timer.
        hover(centre(item("playlistButton")) + QPoint(40, 0));
        QTest::qWait(2300);
        QCOMPARE(prop("controls", "state").toString(), QString("normal"));
        key(Qt::Key_Escape);
        QTRY_VERIFY(!form->isFullscreen());
    }

    void doubleClickTogglesFullScreenAndStoresGeometry()
    {
        config->settings()->remove("iptvWindow");
        const QPoint p = picturePoint();
        hover(p);
        QTest::mouseDClick(form, Qt::LeftButton, Qt::NoModifier, p);
        QTRY_VERIFY(form->isFullscreen());
        QVERIFY(config->settings()->contains("iptvWindow"));
        QTest::mouseDClick(form, Qt::LeftButton, Qt::NoModifier, picturePoint());
        QTRY_VERIFY(!form->isFullscreen());
    }

    void playlistKeyAndButton()
    {
        QVERIFY(prop("playlist", "isActive").toBool());
        key(Qt::Key_P);
        QVERIFY(!prop("playlist", "isActive").toBool());
        QCOMPARE(setting("playerPlaylistState").toBool(), false);
        QVERIFY(!item("playlistButton")->property("selected").toBool());
        click(item("playlistButton"));
        QVERIFY(prop("playlist", "isActive").toBool());
        QCOMPARE(setting("playerPlaylistState").toBool(), true);
        QCOMPARE(prop("bubbleText", "text").toString(), QString("Список каналов"));
    }

    void unknownIdStopsAndClears()
    {
        form->playTv(999);
        QTRY_VERIFY(playerState() != VlcPlaying);
        QCOMPARE(prop("channelTitle", "text").toString(), QString());
        QCOMPARE(prop("playlist", "currentId").toInt(), -1);
        QCOMPARE(prop("tvListView", "currentGroup").toString(), QString("ungrouped"));
        // The same channel again starts afresh.
        form->playTv(0);
        QVERIFY(waitPlaying(streamUrl(0)));
    }

    void seekBarForFiles()
    {
        form->clearCurrentItem();
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(dir.path() + "/clip-720p.ts")}, false);
        QTRY_VERIFY_WITH_TIMEOUT(playerState() == VlcPlaying, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(prop("videoPlayer", "seekable").toBool(), 10000);
        QTRY_VERIFY(prop("videoPlayer", "length").toLongLong() > 0);
        hover(picturePoint());
        QQuickItem *bar = item("seekbar");
        QVERIFY(bar->isVisible());
        QVERIFY(item("currentTimeText")->isVisible());
        QVERIFY(prop("durationText", "text").toString().startsWith("/ 0:00:0"));
        QVERIFY(prop("currentTimeText", "text").toString().startsWith("0:00:0"));
        // The played part follows playback without touching the chosen value.
        QTRY_VERIFY(item("activeBar")->width() > 0);
        QCOMPARE(bar->property("value").toDouble(), 0.0);
        screenshot("file");
        // A click at three quarters seeks there.
        const QPoint p = bar->mapToScene(QPointF(bar->width() * 0.75, bar->height() / 2)).toPoint();
        hover(p);
        QTRY_COMPARE(bar->height(), 10.0);
        QTest::mouseClick(form, Qt::LeftButton, Qt::NoModifier, p);
        QVERIFY(qAbs(bar->property("value").toDouble() - 0.75) < 0.02);
        QTRY_VERIFY(prop("videoPlayer", "position").toDouble() > 0.7);
        QTRY_VERIFY(prop("videoPlayer", "time").toLongLong() > 4000);
        // In local-file mode the TV button replaces the guide button.
        QVERIFY(!item("jtvButton")->isVisible());
        QCOMPARE(item("jtvButton")->width(), 0.0);
        QVERIFY(item("tvButton")->isVisible());
        hover(centre(item("tvButton")));
        QCOMPARE(prop("bubbleText", "text").toString(), QString("Переключиться в режим ТВ"));
    }

    void deleteOnlyInLocalFileMode()
    {
        // TV mode: Delete does nothing.
        config->setMode(Config::Iptv);
        config->updateConfig(QUrl());
        QTRY_VERIFY_WITH_TIMEOUT(config->playlistModel()->rowCount() == kChannels.size(), 10000);
        config->playlistModel()->selectItem(1);
        const int rows = config->playlistModel()->rowCount();
        item("videoForm")->forceActiveFocus();
        key(Qt::Key_Delete);
        QCOMPARE(config->playlistModel()->rowCount(), rows);
        // Local files: deleting the playing entry moves on first.
        QFile::copy(dir.path() + "/live.ts", dir.path() + "/one.ts");
        QFile::copy(dir.path() + "/live.ts", dir.path() + "/two.ts");
        form->clearCurrentItem();
        config->setMode(Config::LocalFile);
        config->loadLocalFiles({QUrl::fromLocalFile(dir.path() + "/one.ts"),
                                QUrl::fromLocalFile(dir.path() + "/two.ts")}, false);
        QTRY_VERIFY_WITH_TIMEOUT(!form->currentItem().empty(), 10000);
        const int first = form->currentItem().id();
        QVERIFY(!item("favouritesHeader")->isVisible() || item("favouritesHeader")->height() == 0);
        QVERIFY(!item("jtvButton")->isVisible());
        QVERIFY(item("tvButton")->isVisible());
        QVERIFY(!object("contextMenu")->findChild<QObject *>("jtvItem")->property("visible").toBool());
        config->playlistModel()->selectItem(first);
        item("videoForm")->forceActiveFocus();
        key(Qt::Key_Delete);
        QCOMPARE(config->playlistModel()->rowCount(), 1);
        QVERIFY(form->currentItem().id() != first);
        QVERIFY(!form->currentItem().empty());
    }
};

QTEST_MAIN(TstScenes)
#include "tst_scenes.moc"
