// Scene logic: formatting, picture-size cycle, overlay decision, tool-tip placement,
// slider and scroll-bar arithmetic, guide texts in the default locale, and the
// compiled-in resources.
#include "scenelogic.h"
#include "scenetypes.h"

#include <QFile>
#include <QImage>
#include <QLocale>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtTest>

class TstSceneLogic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        registerSceneTypes();
    }

    void timeToString_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00:00";
        QTest::newRow("unknown") << qint64(-1) << "0:00:00";
        QTest::newRow("h m s") << qint64(3723000) << "1:02:03";
        QTest::newRow("rounds down") << qint64(1499) << "0:00:01";
        QTest::newRow("rounds up") << qint64(1500) << "0:00:02";
        QTest::newRow("65 s") << qint64(65000) << "0:01:05";
        QTest::newRow("90 min") << qint64(5400000) << "1:30:00";
        QTest::newRow("rounds into minute") << qint64(59999) << "0:01:00";
        QTest::newRow("long") << qint64(360000000) << "100:00:00";
    }
    void timeToString()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(scenes::timeToString(ms), text);
    }

    void groupLabel()
    {
        QCOMPARE(scenes::groupLabel("Новости"), QString("Новости|"));
        QCOMPARE(scenes::groupLabel("ungrouped"), QString());
        QCOMPARE(scenes::groupLabel(QString()), QString());
        QCOMPARE(scenes::groupKey(QString()), QString("ungrouped"));
        QCOMPARE(scenes::groupKey("News"), QString("News"));
    }

    void pictureSizeCycle()
    {
        int ratio = scenes::RatioOriginal;
        QStringList names{scenes::aspectStateName(ratio)};
        for (int i = 0; i < 3; ++i) {
            ratio = scenes::nextAspectRatio(ratio);
            names << scenes::aspectStateName(ratio);
        }
        QCOMPARE(names, QStringList({"Оригинал", "4:3", "16:9", "Оригинал"}));
        // 5:4 (Vlc.R_5_4 = 9) from the menu is "other"; the next click returns to the source.
        QCOMPARE(scenes::aspectStateName(9), QString("Другое"));
        QCOMPARE(scenes::nextAspectRatio(9), int(scenes::RatioOriginal));
        QCOMPARE(scenes::aspectStateName(1), QString("Другое"));
    }

    void overlayState_data()
    {
        QTest::addColumn<bool>("fullscreen");
        QTest::addColumn<bool>("inWindow");
        QTest::addColumn<bool>("timer");
        QTest::addColumn<bool>("overControls");
        QTest::addColumn<bool>("overPlaylist");
        QTest::addColumn<QString>("state");
        QTest::newRow("window, pointer in") << false << true << false << false << false << "normal";
        QTest::newRow("window, pointer out") << false << false << true << true << false << "hidden";
        QTest::newRow("full, moving") << true << true << true << false << false << "normal";
        QTest::newRow("full, still on picture") << true << true << false << false << false << "hidden";
        QTest::newRow("full, still on bar") << true << true << false << true << false << "normal";
        QTest::newRow("full, still on playlist") << true << true << false << false << true << "normal";
        QTest::newRow("full, pointer out, timer") << true << false << true << false << false << "normal";
    }
    void overlayState()
    {
        QFETCH(bool, fullscreen);
        QFETCH(bool, inWindow);
        QFETCH(bool, timer);
        QFETCH(bool, overControls);
        QFETCH(bool, overPlaylist);
        QFETCH(QString, state);
        QCOMPARE(scenes::overlayState(fullscreen, inWindow, timer, overControls, overPlaylist), state);
    }

    void bubblePlacement()
    {
        // Centred over a target in the middle.
        auto p = scenes::bubblePlacement(100, 400, 600, 60, 18, 30);
        QCOMPARE(p.x, 100 - 30 + 9.0);
        QCOMPARE(p.pointerX, 25.0);
        QCOMPARE(p.y, 400 - 30 - 5.0);
        // At the right edge: ends 5 pixels inside, pointer under the target's centre.
        p = scenes::bubblePlacement(566, 400, 600, 120, 18, 30);
        QCOMPARE(p.x + 120, 595.0);
        QCOMPARE(p.x + p.pointerX + 5, 566 + 9.0);
        // At the left edge: starts at 5, pointer still under the target's centre.
        p = scenes::bubblePlacement(2, 400, 600, 60, 10, 30);
        QCOMPARE(p.x, 5.0);
        QCOMPARE(p.x + p.pointerX + 5, 2 + 5.0);
    }

    void sliderArithmetic()
    {
        // Volume: 70 wide, knob 10, range 0..200 over 60 pixels.
        QCOMPARE(scenes::barPosition(100, 0, 200, 60), 30.0);
        QCOMPARE(scenes::valueAt(30, 0, 200, 60), 100.0);
        // An empty range never divides by zero.
        QCOMPARE(scenes::barPosition(1, 1, 1, 60), 0.0);
        QCOMPARE(scenes::valueAt(5, 0, 1, 0), 0.0);
        // Round trip with a non-zero minimum.
        QCOMPARE(scenes::valueAt(scenes::barPosition(15, 10, 20, 100), 10, 20, 100), 15.0);
    }

    void scrollArithmetic()
    {
        // Content 1000, view 200: range 800; groove 200, handle 40: track 160.
        QCOMPARE(scenes::handleForContent(400, 800, 160), 80.0);
        QCOMPARE(scenes::contentForHandle(80, 800, 160), 400.0);
        QCOMPARE(scenes::contentForGrooveClick(50, 200, 800), 200.0);
        QCOMPARE(scenes::handleForContent(900, 800, 160), 160.0);
        QCOMPARE(scenes::contentForHandle(-5, 800, 160), 0.0);
        QCOMPARE(scenes::handleForContent(10, 0, 160), 0.0);
        QCOMPARE(scenes::contentForGrooveClick(10, 0, 800), 0.0);
    }

    void heartLook()
    {
        // First match wins: hovering the row dims even a favourite's heart.
        QCOMPARE(scenes::heartState(true, false, true), QString("channelHover"));
        QCOMPARE(scenes::heartState(true, true, false), QString("hover"));
        QCOMPARE(scenes::heartState(false, false, true), QString("infav"));
        QCOMPARE(scenes::heartState(true, true, true), QString("infavhover"));
        QCOMPARE(scenes::heartState(false, false, false), QString());
    }

    void searchField()
    {
        QCOMPARE(scenes::searchFilter(""), QString());
        QCOMPARE(scenes::searchFilter("Поиск..."), QString());
        QCOMPARE(scenes::searchFilter("пер"), QString("пер"));
    }

    void guideTexts()
    {
        const QDateTime start(QDate(2026, 12, 7), QTime(9, 5));
        const QDateTime end(QDate(2026, 12, 7), QTime(10, 30));
        QCOMPARE(scenes::timeRange(start, end), QString("09:05 - 10:30"));
        QCOMPARE(scenes::timeRange(start, QDateTime()), QString("09:05 - "));
        QCOMPARE(scenes::clockTime(start), QString("09:05"));
        QCOMPARE(scenes::sectionDate(QString("2026-12-07")), QDate(2026, 12, 7));
        QCOMPARE(scenes::sectionDate(QVariant(QDate(2026, 12, 7))), QDate(2026, 12, 7));
        QVERIFY(!scenes::sectionDate(QString("garbage")).isValid());
        QCOMPARE(scenes::capitalizeWords("понедельник"), QString("Понедельник"));
        QCOMPARE(scenes::capitalizeWords("( 07 дек. )"), QString("( 07 Дек. )"));
        const QString weekday = scenes::weekdayTitle(QString("2026-12-07"));
        QCOMPARE(weekday, QString("Понедельник"));
        QVERIFY(weekday.at(0).isUpper());
        QVERIFY(scenes::dayTitle(QString("2026-12-07")).startsWith("( 07 "));
        QCOMPARE(scenes::weekdayTitle(QString()), QString());
        // Pinned header: full; inline below: shrinking; far below: none.
        QCOMPARE(scenes::dayHeaderBackground(0, 45), 45.0);
        QCOMPARE(scenes::dayHeaderBackground(20, 45), 25.0);
        QCOMPARE(scenes::dayHeaderBackground(300, 45), 0.0);
        QCOMPARE(scenes::dayHeaderBackground(-10, 45), 45.0);
    }

    void singletonFromQml()
    {
        QQmlEngine engine;
        engine.rootContext()->setContextProperty("compositionEnabled", true);
        QQmlComponent c(&engine);
        c.setData("import QtQuick 2.12\nimport NovalineScenes 1.0\nQtObject {\n"
                  " property string t: SceneLogic.timeToString(3723000)\n"
                  " property var c: SceneLogic.rootContextProperty('compositionEnabled')\n"
                  " property real x: SceneLogic.bubblePlacement(566, 400, 600, 120, 18, 30).x\n}",
                  QUrl("qrc:/test.qml"));
        QScopedPointer<QObject> o(c.create());
        QVERIFY2(o, qPrintable(c.errorString()));
        QCOMPARE(o->property("t").toString(), QString("1:02:03"));
        QCOMPARE(o->property("c").toBool(), true);
        QCOMPARE(o->property("x").toDouble(), 475.0);
    }

    void resources_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        const QList<QPair<QString, QSize>> images = {
            {"loader", {50, 50}},      {"playButton", {13, 17}},  {"pauseButton", {13, 17}},
            {"prevButton", {13, 11}},  {"nextButton", {13, 11}},  {"volOn", {18, 13}},
            {"volOff", {18, 13}},      {"tvProgram", {18, 13}},   {"tvButton", {18, 13}},
            {"playlist", {18, 13}},    {"aspectRatio", {18, 13}}, {"screenFull", {18, 13}},
            {"screenSmall", {18, 13}}, {"corner", {11, 11}},      {"heart", {9, 8}},
            {"deleteText", {18, 12}}};
        for (const auto &i : images)
            QTest::newRow(qPrintable(i.first)) << ":/images/" + i.first + ".png" << i.second;
    }
    void resources()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
    }

    void scenesAndLogoCompiledIn()
    {
        for (const char *name : {"videoFormLoader", "videoForm", "Controls", "MyButton",
                                 "MySlider", "SeekBar", "Bubble", "Playlist", "PlaylistElement",
                                 "PlaylistSection", "ScrollBar", "RollCrawl", "Jtv", "ContextMenu"})
            QVERIFY2(QFile::exists(QString(":/qml/%1.qml").arg(name)), name);
        // Registered at static initialisation, without any call.
        QVERIFY(!QImage(":/resources/logo.png").isNull());
    }
};

QTEST_MAIN(TstSceneLogic)
#include "tst_scenelogic.moc"
